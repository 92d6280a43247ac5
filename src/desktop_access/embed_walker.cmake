# cmake -DTREE=atspi_tree.py -DINPUT=atspi_walker.py -DOUTPUT=atspi_walker.hpp -P embed_walker.cmake
# The walker's body is the tree reader's definitions followed by the walker's own.
file(READ ${TREE} tree)
file(READ ${INPUT} walker)
set(body "${tree}\n${walker}")
if(body MATCHES "\\)atspi_walker\"")
  message(FATAL_ERROR "${TREE} or ${INPUT} contains the raw string delimiter )atspi_walker\"")
endif()
file(WRITE ${OUTPUT}
  "// Generated from atspi_tree.py and atspi_walker.py at build time; edit those files instead.\n"
  "#pragma once\n\n"
  "namespace desktop_access {\n\n"
  "inline constexpr char kAtspiWalkerBody[] = R\"atspi_walker(${body})atspi_walker\";\n\n"
  "}  // namespace desktop_access\n")
