# Cross build for 64-bit Windows with the posix-thread mingw-w64 toolchain.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Cross-built programs run under Wine, so ctest can run them directly. They
# use a Wine prefix of their own inside the build tree (created on first use
# by wine-run), so that tests never depend on, or change, the user's ~/.wine.
# Point SYSMON_WINEPREFIX at an existing prefix to share it between builds.
set(SYSMON_WINEPREFIX "${CMAKE_BINARY_DIR}/wine-prefix" CACHE PATH
    "Wine prefix used to run cross-built programs")
set(SYSMON_WINE_RUN ${CMAKE_CURRENT_LIST_DIR}/wine-run)
set(CMAKE_CROSSCOMPILING_EMULATOR ${SYSMON_WINE_RUN} --prefix ${SYSMON_WINEPREFIX})
