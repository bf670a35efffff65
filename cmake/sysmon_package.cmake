# Packages made by cpack from a build tree:
#   Linux: three .deb packages (cpack -G DEB, or the `package` target)
#     libvantorel-sysmon1     the shared library with its SONAME, the licence
#                             and the changelog
#     libvantorel-sysmon-dev  the header, the development link, the CMake
#                             package, the pkg-config file, the field reference
#                             and the JSON Schemas
#     vantorel-sysmon         the sysmon command and the systemd unit of
#                             `sysmon serve` (loopback by default)
#   Windows: one zip with the DLL, its import library, the header, the CMake
#   and pkg-config files, sysmon.exe and the documents.
set(CPACK_PACKAGE_NAME vantorel-sysmon)
set(CPACK_PACKAGE_VENDOR vantorel)
set(CPACK_PACKAGE_CONTACT "vantorel-sysmon maintainers <sysmon@vantorel.invalid>")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_CHECKSUM SHA256)

if(WIN32)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
      "System monitoring with a plain C interface returning JSON documents")
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  # Each package's description below starts with its own summary line.
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL runtime dev command)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION libs)
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://vantorel.invalid/sysmon")
  # Dependencies on system libraries come from dpkg-shlibdeps (dpkg-dev).
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The command's own library is found in the build tree, where no package
  # states its dependency: the component dependency below does.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/src)

  set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libvantorel-sysmon${PROJECT_VERSION_MAJOR})
  # The library's package states what it provides (shlibs) for others'
  # dpkg-shlibdeps; the packages depend on each other at the same version.
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
  set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
  set(CPACK_DEBIAN_RUNTIME_DESCRIPTION
      "vantorel-sysmon shared library\nNineteen sysmon_* functions that return processor, memory, disk,\nnetwork, process, GPU, battery and system figures as JSON text.")

  set(CPACK_DEBIAN_DEV_PACKAGE_NAME libvantorel-sysmon-dev)
  set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
  set(CPACK_COMPONENT_DEV_DEPENDS runtime)
  set(CPACK_DEBIAN_DEV_DESCRIPTION
      "vantorel-sysmon development files\nThe C header, the CMake package (vantorel::sysmon), the pkg-config\nfile, the field reference of the documents and their JSON Schemas.")

  set(CPACK_DEBIAN_COMMAND_PACKAGE_NAME vantorel-sysmon)
  set(CPACK_DEBIAN_COMMAND_PACKAGE_SECTION admin)
  set(CPACK_COMPONENT_COMMAND_DEPENDS runtime)
  set(CPACK_DEBIAN_COMMAND_DESCRIPTION
      "sysmon: queries, a live terminal view and a Prometheus exporter\nThe sysmon command of vantorel-sysmon, and a systemd unit\n(vantorel-sysmon.service) running its exporter on the loopback address.")
endif()
include(CPack)
