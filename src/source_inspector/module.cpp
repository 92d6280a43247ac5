#include "support/python.hpp"

PYBIND11_MODULE(source_inspector, m) {
  m.doc() = "Source-inspection worker: analyses Python files and answers JSON commands line by line.";
}
