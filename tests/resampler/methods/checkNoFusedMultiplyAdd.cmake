# Disassembles the built library and fails on any fused multiply-add: the filter sums are fixed
# to the bit as separate multiplies and adds. On x86-64 the widest kernel must be there too, so
# that the check looks at the code it is meant for.
find_program(OBJDUMP NAMES objdump REQUIRED)
execute_process(COMMAND ${OBJDUMP} -d --no-show-raw-insn ${LIBRARY}
  OUTPUT_VARIABLE disassembly RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${LIBRARY}")
endif()

string(REGEX MATCHALL "[ \t]v?fn?m(add|sub)[0-9a-z]*[ \t][^\n]*" fused "${disassembly}")
list(LENGTH fused fusedCount)
if(fusedCount GREATER 0)
  list(SUBLIST fused 0 5 firstFew)
  message(FATAL_ERROR "${fusedCount} fused multiply-add instructions, e.g.\n${firstFew}")
endif()

if(EXPECT_WIDE_KERNELS)
  string(REGEX MATCHALL "vmulpd[ \t]+[^\n]*%zmm" wideMultiplies "${disassembly}")
  string(REGEX MATCHALL "vaddpd[ \t]+[^\n]*%zmm" wideAdds "${disassembly}")
  list(LENGTH wideMultiplies multiplyCount)
  list(LENGTH wideAdds addCount)
  if(multiplyCount EQUAL 0 OR addCount EQUAL 0)
    message(FATAL_ERROR "no AVX-512 multiplies and adds: the wide kernel is missing")
  endif()
  message(STATUS "${multiplyCount} AVX-512 multiplies, ${addCount} adds, no fused multiply-add")
else()
  message(STATUS "no fused multiply-add")
endif()
