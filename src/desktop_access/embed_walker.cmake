# cmake -DINPUT=atspi_walker.py -DOUTPUT=atspi_walker.hpp -P embed_walker.cmake
file(READ ${INPUT} body)
if(body MATCHES "\\)atspi_walker\"")
  message(FATAL_ERROR "${INPUT} contains the raw string delimiter )atspi_walker\"")
endif()
file(WRITE ${OUTPUT}
  "// Generated from atspi_walker.py at build time; edit that file instead.\n"
  "#pragma once\n\n"
  "namespace desktop_access {\n\n"
  "inline constexpr char kAtspiWalkerBody[] = R\"atspi_walker(${body})atspi_walker\";\n\n"
  "}  // namespace desktop_access\n")
