# Installation: the two libraries, the public headers, a CMake package
# (find_package(StatRelay) -> StatRelay::statrelay) and a pkg-config file.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS statrelay log EXPORT StatRelayTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/statrelay/statrelay.h
  ${SR_GENERATED_INCLUDE_DIR}/statrelay/version.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/statrelay)
install(EXPORT StatRelayTargets NAMESPACE StatRelay:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/StatRelay)

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/StatRelayConfig.cmake.in
  ${PROJECT_BINARY_DIR}/StatRelayConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/StatRelay)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/StatRelayConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/StatRelayConfig.cmake ${PROJECT_BINARY_DIR}/StatRelayConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/StatRelay)

configure_file(${PROJECT_SOURCE_DIR}/cmake/statrelay.pc.in ${PROJECT_BINARY_DIR}/statrelay.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/statrelay.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
