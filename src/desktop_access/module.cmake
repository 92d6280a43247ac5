# The AT-SPI2 walker runs in a child python3; its program text is kept as a .py file
# and compiled into the module as a string constant.
set(desktop_access_walker_source ${CMAKE_CURRENT_LIST_DIR}/atspi_walker.py)
set(desktop_access_tree_source ${CMAKE_CURRENT_LIST_DIR}/atspi_tree.py)
set(desktop_access_walker_header ${PROJECT_BINARY_DIR}/generated/desktop_access/desktop_access/atspi_walker.hpp)
add_custom_command(
  OUTPUT ${desktop_access_walker_header}
  COMMAND ${CMAKE_COMMAND} -DTREE=${desktop_access_tree_source} -DINPUT=${desktop_access_walker_source}
          -DOUTPUT=${desktop_access_walker_header} -P ${CMAKE_CURRENT_LIST_DIR}/embed_walker.cmake
  DEPENDS ${desktop_access_tree_source} ${desktop_access_walker_source} ${CMAKE_CURRENT_LIST_DIR}/embed_walker.cmake
  COMMENT "Embedding the AT-SPI2 walker program"
  VERBATIM)
target_sources(desktop_access PRIVATE ${desktop_access_walker_header})

# The program that acts on one element by ref, embedded the same way.
set(desktop_access_acting_source ${CMAKE_CURRENT_LIST_DIR}/atspi_acting.py)
set(desktop_access_acting_header ${PROJECT_BINARY_DIR}/generated/desktop_access/desktop_access/atspi_acting.hpp)
add_custom_command(
  OUTPUT ${desktop_access_acting_header}
  COMMAND ${CMAKE_COMMAND} -DINPUT=${desktop_access_acting_source} -DOUTPUT=${desktop_access_acting_header}
          -DNAME=kAtspiActingProgram -P ${CMAKE_CURRENT_LIST_DIR}/embed_program.cmake
  DEPENDS ${desktop_access_acting_source} ${CMAKE_CURRENT_LIST_DIR}/embed_program.cmake
  COMMENT "Embedding the AT-SPI2 acting program"
  VERBATIM)
target_sources(desktop_access PRIVATE ${desktop_access_acting_header})
