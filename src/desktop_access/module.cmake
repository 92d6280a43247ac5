# The AT-SPI2 programs run in a child python3; their text is kept in .py files and
# compiled into the module as string constants:
#   embed_python(<generated header> <constant> <source>...)
# joins the sources' text in order.
function(embed_python header constant)
  set(output ${PROJECT_BINARY_DIR}/generated/desktop_access/desktop_access/${header})
  list(JOIN ARGN "," inputs)
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -DINPUTS=${inputs} -DOUTPUT=${output} -DNAME=${constant}
            -P ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/embed_program.cmake
    DEPENDS ${ARGN} ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/embed_program.cmake
    COMMENT "Embedding ${header}"
    VERBATIM)
  target_sources(desktop_access PRIVATE ${output})
endfunction()

# The walker: the tree reader's definitions followed by the walker's own.
embed_python(atspi_walker.hpp kAtspiWalkerBody
             ${CMAKE_CURRENT_LIST_DIR}/atspi_tree.py ${CMAKE_CURRENT_LIST_DIR}/atspi_walker.py)
# The program that acts on one element by ref.
embed_python(atspi_acting.hpp kAtspiActingProgram ${CMAKE_CURRENT_LIST_DIR}/atspi_acting.py)
