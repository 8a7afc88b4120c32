# Reads the names a version script exports into the sorted list `expected` and checks that it
# lists the 38 functions of the C interface. Input: EXPECTED (the version script).
file(READ ${EXPECTED} script)
string(REGEX REPLACE "local:.*" "" script "${script}")
string(REGEX REPLACE "global:" "" script "${script}")
string(REGEX MATCHALL "[A-Za-z_][A-Za-z0-9_]*" expected "${script}")
list(SORT expected)
list(LENGTH expected expectedCount)
if(NOT expectedCount EQUAL 38)
  message(FATAL_ERROR "the version script lists ${expectedCount} names, not 38")
endif()
