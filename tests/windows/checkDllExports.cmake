# Reads the PE export and import tables of the DLL with objdump -p and checks that it exports
# exactly the names of the version script, undecorated, and imports from system DLLs only.
# Inputs: OBJDUMP, DLL, EXPECTED (the version script).
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p failed on ${DLL}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${dump}")

# Export rows look like "\t[   0] +base[   1] 0000 createResamplerHold" and follow the
# "[Ordinal/Name Pointer] Table" heading; import rows are "\tDLL Name: KERNEL32.dll" and the
# hint/name rows under each.
set(exported "")
set(importedDlls "")
set(importedNames "")
set(inNameTable OFF)
foreach(line IN LISTS lines)
  if(line MATCHES "^\\[Ordinal/Name Pointer\\] Table")
    set(inNameTable ON)
  elseif(inNameTable AND line MATCHES "^[ \t]+\\[ *[0-9]+\\] ([^ ]+)$")
    list(APPEND exported "${CMAKE_MATCH_1}")
  elseif(inNameTable AND line MATCHES "^[ \t]+\\[ *[0-9]+\\] \\+base\\[ *[0-9]+\\] +[0-9a-f]+ +([^ ]+)$")
    list(APPEND exported "${CMAKE_MATCH_1}")
  else()
    if(inNameTable AND NOT line MATCHES "^[ \t]")
      set(inNameTable OFF)
    endif()
    if(line MATCHES "DLL Name: (.+)$")
      string(TOLOWER "${CMAKE_MATCH_1}" dllName)
      list(APPEND importedDlls "${dllName}")
    elseif(line MATCHES "^[ \t]+[0-9a-f]+[ \t]+[0-9]+[ \t]+([A-Za-z_][A-Za-z0-9_]*)$")
      list(APPEND importedNames "${CMAKE_MATCH_1}")
    endif()
  endif()
endforeach()
list(SORT exported)

include(${CMAKE_CURRENT_LIST_DIR}/../api/exportNames.cmake)
if(NOT "${exported}" STREQUAL "${expected}")
  message(FATAL_ERROR "DLL exports differ\n expected: ${expected}\n actual:   ${exported}")
endif()

# The C runtime and the Win32 core: whatever else appears is a runtime the host would have to
# ship beside the DLL (libstdc++-6.dll, libgcc_s_seh-1.dll, libwinpthread-1.dll).
set(systemDlls kernel32.dll msvcrt.dll)
foreach(dll IN LISTS importedDlls)
  if(NOT dll IN_LIST systemDlls)
    message(FATAL_ERROR "the DLL imports ${dll}; only ${systemDlls} are allowed")
  endif()
endforeach()

# The platform entry disables thread notifications; the stock entry of the C runtime does not
# call DisableThreadLibraryCalls, so the import shows that our DllMain was linked in.
if(NOT "DisableThreadLibraryCalls" IN_LIST importedNames)
  message(FATAL_ERROR "the DLL does not import DisableThreadLibraryCalls: DllMain is not ours")
endif()
list(JOIN importedDlls ", " importList)
message(STATUS "exports: ${expectedCount} undecorated names, as expected; imports: ${importList}")
