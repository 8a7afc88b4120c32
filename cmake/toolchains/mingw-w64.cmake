# Cross build of the 64-bit Windows DLL and its tests with Debian's mingw-w64 (posix threads).
# Tests run under Wine: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64.cmake ...
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TAMLIB_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TAMLIB_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TAMLIB_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TAMLIB_MINGW_TRIPLE}-windres)
set(CMAKE_OBJDUMP ${TAMLIB_MINGW_TRIPLE}-objdump)

# A prefix given as -DCMAKE_FIND_ROOT_PATH (an installed Windows tree, say) is searched too.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${TAMLIB_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C++ runtime, libgcc and winpthread go into every DLL and executable, so that the DLL
# imports nothing but system DLLs and needs no runtime shipped beside it.
set(CMAKE_SHARED_LINKER_FLAGS_INIT -static)
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

# Windows finds a DLL beside the executable that loads it, so everything lands in one folder.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

find_program(TAMLIB_WINE wine)
if(TAMLIB_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TAMLIB_WINE})
endif()
