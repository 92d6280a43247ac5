# cmake -DINPUT=program.py -DOUTPUT=program.hpp -DNAME=kConstantName -P embed_program.cmake
# Writes a header holding the text of a Python program as a string constant.
file(READ ${INPUT} body)
if(body MATCHES "\\)python_program\"")
  message(FATAL_ERROR "${INPUT} contains the raw string delimiter )python_program\"")
endif()
get_filename_component(source_name ${INPUT} NAME)
file(WRITE ${OUTPUT}
  "// Generated from ${source_name} at build time; edit that file instead.\n"
  "#pragma once\n\n"
  "namespace desktop_access {\n\n"
  "inline constexpr char ${NAME}[] = R\"python_program(${body})python_program\";\n\n"
  "}  // namespace desktop_access\n")
