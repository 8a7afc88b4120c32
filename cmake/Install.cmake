# Install rules: the shared library with its SONAME links, the public header, a CMake package
# exporting Tamlib::resampler, a pkg-config file, and the tamresample command when it is built.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(TAMLIB_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/TamlibResampler)

set_target_properties(tamresampler PROPERTIES EXPORT_NAME resampler)
install(TARGETS tamresampler EXPORT TamlibResamplerTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/tamlib/resampler.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tamlib)

install(EXPORT TamlibResamplerTargets NAMESPACE Tamlib::
  DESTINATION ${TAMLIB_PACKAGE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/TamlibResamplerConfig.cmake.in
  ${PROJECT_BINARY_DIR}/TamlibResamplerConfig.cmake
  INSTALL_DESTINATION ${TAMLIB_PACKAGE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/TamlibResamplerConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/TamlibResamplerConfig.cmake
  ${PROJECT_BINARY_DIR}/TamlibResamplerConfigVersion.cmake
  DESTINATION ${TAMLIB_PACKAGE_DIR})

# The .pc file is written at install time, so that `cmake --install --prefix` and a staged
# DESTDIR install both record the prefix the files are meant to live under.
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(TAMLIB_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(TAMLIB_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
set(TAMLIB_PC_PREFIX "@TAMLIB_PC_PREFIX@")
configure_file(${CMAKE_CURRENT_LIST_DIR}/tamresampler.pc.in
  ${PROJECT_BINARY_DIR}/tamresampler.pc.in @ONLY)
install(CODE "
  set(TAMLIB_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  configure_file(\"${PROJECT_BINARY_DIR}/tamresampler.pc.in\"
    \"${PROJECT_BINARY_DIR}/tamresampler.pc\" @ONLY)")
install(FILES ${PROJECT_BINARY_DIR}/tamresampler.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

if(TARGET tamresample)
  if(NOT WIN32)
    # The installed command finds the library of its own prefix, wherever that prefix lies.
    file(RELATIVE_PATH libFromBin ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
    set_target_properties(tamresample PROPERTIES INSTALL_RPATH "$ORIGIN/${libFromBin}")
  endif()
  install(TARGETS tamresample RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
