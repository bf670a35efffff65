# Installation: the public header, the library (the DLL with its import
# library, or the shared object with its SONAME links), a CMake package giving
# the imported target vantorel::sysmon, a pkg-config file, the field reference,
# the JSON Schemas and the licence.
# Documentation goes to share/doc/vantorel-sysmon, the package's own name.
set(CMAKE_INSTALL_DOCDIR share/doc/vantorel-sysmon CACHE PATH "")
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(SYSMON_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/vantorel-sysmon)

target_include_directories(vantorel-sysmon INTERFACE
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
set_target_properties(vantorel-sysmon PROPERTIES EXPORT_NAME sysmon)

install(TARGETS vantorel-sysmon EXPORT vantorel-sysmon-targets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/vantorel
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT vantorel-sysmon-targets NAMESPACE vantorel::
  FILE vantorel-sysmon-targets.cmake DESTINATION ${SYSMON_PACKAGE_DIR})

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/vantorel-sysmon-config.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/vantorel-sysmon-config.cmake
  INSTALL_DESTINATION ${SYSMON_PACKAGE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/vantorel-sysmon-config-version.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/vantorel-sysmon-config.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/vantorel-sysmon-config-version.cmake
  DESTINATION ${SYSMON_PACKAGE_DIR})

# The .pc file finds the prefix relative to its own folder.
file(RELATIVE_PATH SYSMON_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(${CMAKE_CURRENT_LIST_DIR}/vantorel-sysmon.pc.in
  ${CMAKE_CURRENT_BINARY_DIR}/vantorel-sysmon.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/vantorel-sysmon.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(FILES ${PROJECT_SOURCE_DIR}/docs/documents.md ${PROJECT_SOURCE_DIR}/README.md
              ${PROJECT_SOURCE_DIR}/CHANGELOG.md
  DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/schemas/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/schemas
  FILES_MATCHING PATTERN "*.schema.json")
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
