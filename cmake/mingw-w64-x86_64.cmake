# Cross-builds for 64-bit Windows with Debian's MinGW-w64 compilers (posix threads, for
# std::thread), and runs what it builds under Wine: ctest and gtest_discover_tests then work as
# on the build machine.
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KLINE_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KLINE_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KLINE_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KLINE_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KLINE_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The runtime libraries are linked in, so the programs run without any DLL beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Wine keeps its Windows folders in a prefix of the build's own (made at the first run, some
# seconds), unless WINEPREFIX names one; its own diagnostics are left out of the tests' output.
find_program(KLINE_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(KLINE_WINE)
  if(DEFINED ENV{WINEPREFIX})
    set(KLINE_WINEPREFIX $ENV{WINEPREFIX})
  else()
    set(KLINE_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  endif()
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_COMMAND} -E env WINEPREFIX=${KLINE_WINEPREFIX}
    WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= ${KLINE_WINE})
endif()
