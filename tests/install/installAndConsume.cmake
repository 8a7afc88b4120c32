# Installs the build tree into a fresh prefix, then builds and runs the C host twice against
# that prefix alone: once through find_package, once through pkg-config.
# Inputs: BUILD_DIR, WORK_DIR, SOURCE_DIR, LIBDIR, VERSION, SOVERSION, C_COMPILER, C_FLAGS,
# LINK_FLAGS, CONFIG, HAS_TOOL (whether tamresample was built).
set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL 0)
    string(REPLACE ";" " " cmd "${ARGN}")
    message(FATAL_ERROR "failed (${result}): ${cmd}\n${out}\n${err}")
  endif()
  set(runOutput "${out}" PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} --config ${CONFIG})

set(lib ${prefix}/${LIBDIR}/libtamresampler.so)
foreach(file ${prefix}/include/tamlib/resampler.h ${lib} ${lib}.${SOVERSION} ${lib}.${VERSION}
    ${prefix}/${LIBDIR}/cmake/TamlibResampler/TamlibResamplerConfig.cmake
    ${prefix}/${LIBDIR}/cmake/TamlibResampler/TamlibResamplerConfigVersion.cmake
    ${prefix}/${LIBDIR}/pkgconfig/tamresampler.pc)
  if(NOT EXISTS ${file})
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()

# A host records the SONAME, so a later 1.x library replaces this one without relinking.
run(readelf -d ${lib}.${VERSION})
if(NOT runOutput MATCHES "Library soname: \\[libtamresampler\\.so\\.${SOVERSION}\\]")
  message(FATAL_ERROR "SONAME is not libtamresampler.so.${SOVERSION}:\n${runOutput}")
endif()

if(HAS_TOOL)
  run(${prefix}/bin/tamresample --version)
  if(NOT runOutput MATCHES "${VERSION}")
    message(FATAL_ERROR "tamresample --version does not report ${VERSION}: ${runOutput}")
  endif()
endif()

# Host 1: CMake's find_package, with the prefix as the only place to look.
set(fpBuild ${WORK_DIR}/findPackageHost)
run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/findPackageHost -B ${fpBuild}
  -DCMAKE_C_COMPILER=${C_COMPILER} -DCMAKE_BUILD_TYPE=${CONFIG}
  "-DCMAKE_C_FLAGS=${C_FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${LINK_FLAGS}"
  -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
  -DHOST_SOURCE=${SOURCE_DIR}/host.c
  -DEXPECTED_PACKAGE_DIR=${prefix}/${LIBDIR}/cmake/TamlibResampler)
run(${CMAKE_COMMAND} --build ${fpBuild} --config ${CONFIG})
run(${fpBuild}/findPackageHost)
message(STATUS "find_package host: ${runOutput}")

# Host 2: a plain compiler call with the flags pkg-config reads from the installed .pc file.
set(ENV{PKG_CONFIG_LIBDIR} ${prefix}/${LIBDIR}/pkgconfig)
unset(ENV{PKG_CONFIG_PATH})
run(pkg-config --modversion tamresampler)
string(STRIP "${runOutput}" pcVersion)
if(NOT pcVersion STREQUAL VERSION)
  message(FATAL_ERROR "tamresampler.pc says version ${pcVersion}, not ${VERSION}")
endif()
run(pkg-config --cflags --libs tamresampler)
separate_arguments(pcFlags UNIX_COMMAND "${runOutput}")
separate_arguments(buildFlags UNIX_COMMAND "${C_FLAGS} ${LINK_FLAGS}")
set(pcHost ${WORK_DIR}/pkgConfigHost)
run(${C_COMPILER} ${buildFlags} -std=c11 -Wall -Wextra -pedantic -Werror ${SOURCE_DIR}/host.c
  ${pcFlags} -o ${pcHost})
run(readelf -d ${pcHost})
if(NOT runOutput MATCHES "Shared library: \\[libtamresampler\\.so\\.${SOVERSION}\\]")
  message(FATAL_ERROR "the pkg-config host does not depend on the SONAME:\n${runOutput}")
endif()
set(ENV{LD_LIBRARY_PATH} ${prefix}/${LIBDIR})
run(${pcHost})
message(STATUS "pkg-config host: ${runOutput}")
