# cmake -DINPUTS=a.py,b.py -DOUTPUT=program.hpp -DNAME=kConstantName -P embed_program.cmake
# Writes a header holding the text of a Python program (the inputs' text joined by line
# breaks, in order) as a string constant.
string(REPLACE "," ";" inputs "${INPUTS}")
set(body "")
set(names "")
set(separator "")
foreach(input IN LISTS inputs)
  file(READ ${input} text)
  string(APPEND body "${separator}${text}")
  set(separator "\n")
  get_filename_component(name ${input} NAME)
  list(APPEND names ${name})
endforeach()
if(body MATCHES "\\)python_program\"")
  message(FATAL_ERROR "${INPUTS} contain the raw string delimiter )python_program\"")
endif()
list(JOIN names " and " sources)
file(WRITE ${OUTPUT}
  "// Generated from ${sources} at build time; edit those files instead.\n"
  "#pragma once\n\n"
  "namespace desktop_access {\n\n"
  "inline constexpr char ${NAME}[] = R\"python_program(${body})python_program\";\n\n"
  "}  // namespace desktop_access\n")
