// Reading and parsing a source file with the runtime's pathlib, io and ast modules.
#pragma once

#include "support/python.hpp"

namespace source_inspector {

struct ParsedFile {
  py::object tree;    // ast.Module, or None on failure
  py::object source;  // the text, "" on failure
  py::object error;   // None, or the failure's text
};

// Never raises for file or syntax problems (nor for any other ordinary error); `path`
// must be a str.
ParsedFile parse_file(const py::str& path);

// The text of an ordinary error for a response: str(error), or its type's name where
// that is empty (a bare MemoryError) or str() fails.
py::str error_text(const py::error_already_set& error);

}  // namespace source_inspector
