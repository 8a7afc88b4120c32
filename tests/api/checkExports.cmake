# Compares the dynamic symbol table of the built library with the names of the version script.
execute_process(COMMAND nm -D --defined-only ${LIBRARY}
  OUTPUT_VARIABLE nmOutput RESULT_VARIABLE nmResult)
if(NOT nmResult EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${nmOutput}")
set(actual "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^.* " "" name "${line}")
  list(APPEND actual "${name}")
endforeach()
list(SORT actual)

include(${CMAKE_CURRENT_LIST_DIR}/exportNames.cmake)
if(NOT "${actual}" STREQUAL "${expected}")
  message(FATAL_ERROR "exported symbols differ\n expected: ${expected}\n actual:   ${actual}")
endif()
message(STATUS "exports: ${expectedCount} names, as expected")
