# Installation: the public header, the library (the DLL with its import
# library, or the shared object with its SONAME links), a CMake package giving
# the imported target vantorel::sysmon, a pkg-config file, the field reference,
# the JSON Schemas and the licence. Each rule names its component, the .deb
# package it goes to (cmake/sysmon_package.cmake): runtime (the library, the
# licence, the readme and the changelog), dev (everything to build against
# it) and command (cli/).
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
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/vantorel
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)
install(EXPORT vantorel-sysmon-targets NAMESPACE vantorel::
  FILE vantorel-sysmon-targets.cmake DESTINATION ${SYSMON_PACKAGE_DIR} COMPONENT dev)

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/vantorel-sysmon-config.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/vantorel-sysmon-config.cmake
  INSTALL_DESTINATION ${SYSMON_PACKAGE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/vantorel-sysmon-config-version.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/vantorel-sysmon-config.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/vantorel-sysmon-config-version.cmake
  DESTINATION ${SYSMON_PACKAGE_DIR} COMPONENT dev)

# The .pc file finds the prefix relative to its own folder.
file(RELATIVE_PATH SYSMON_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(${CMAKE_CURRENT_LIST_DIR}/vantorel-sysmon.pc.in
  ${CMAKE_CURRENT_BINARY_DIR}/vantorel-sysmon.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/vantorel-sysmon.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/CHANGELOG.md
              ${PROJECT_SOURCE_DIR}/LICENSE
  DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT runtime)
install(FILES ${PROJECT_SOURCE_DIR}/docs/documents.md
  DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT dev)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/schemas/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/schemas
  COMPONENT dev FILES_MATCHING PATTERN "*.schema.json")
