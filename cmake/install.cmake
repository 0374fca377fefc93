# cmake --install puts in a prefix what a host needs: the server and the
# tool (bin), the client library (lib) with its public headers (include),
# a CMake package (lib/cmake/Orvanta), and the docs.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS scanserver orvanta-scan RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The 32-bit server, built by the build's 32-bit part (cmake/x86.cmake).
if(ORVANTA_X86)
  install(PROGRAMS ${OUT_DIR}/scanserver32.exe DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(TARGETS orvanta_client EXPORT OrvantaTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/orvanta DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT OrvantaTargets NAMESPACE Orvanta::
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Orvanta)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/OrvantaConfig.cmake.in
  ${PROJECT_BINARY_DIR}/OrvantaConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Orvanta
  PATH_VARS CMAKE_INSTALL_BINDIR)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/OrvantaConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/OrvantaConfig.cmake ${PROJECT_BINARY_DIR}/OrvantaConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Orvanta)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR} OPTIONAL)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
