# What makes a build of this tree quicker without changing the code it builds:
#   ccache        every build folder compiles through one cache, when ccache is installed
#   mold or lld   a faster linker than the system's, when the compiler takes it (not for a
#                 cross build: its toolchain links as it always has)
#   KLINE_DEBUG_INFO=lines   line tables only (-g1): enough for backtraces, gdb's "where" and the
#                 sanitizers' reports, a quarter less to compile and a fourth of the object files
#   KLINE_UNITY   unity builds: eight source files compiled as one, so the headers of Qt,
#                 GoogleTest and the JSON library are read once for eight files, not eight times.
#                 Helpers in an anonymous namespace must therefore have names of their own
#                 across the files of a target.
# Include it before the first target is made.

option(KLINE_CCACHE "Compile through ccache when it is installed" ON)
if(KLINE_CCACHE AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
  find_program(KLINE_CCACHE_PROGRAM ccache)
  if(KLINE_CCACHE_PROGRAM)
    # base_dir and no hashed working folder: a fresh clone elsewhere finds what another built.
    # The sloppiness lets precompiled headers be cached (GCC's .gch and the files that use it).
    set(CMAKE_CXX_COMPILER_LAUNCHER ${CMAKE_COMMAND} -E env
      CCACHE_BASEDIR=${PROJECT_SOURCE_DIR} CCACHE_NOHASHDIR=1
      CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime
      ${KLINE_CCACHE_PROGRAM})
    message(STATUS "Compiling through ${KLINE_CCACHE_PROGRAM}")
  endif()
endif()

option(KLINE_FAST_LINKER "Link with mold or lld when the compiler takes it" ON)
if(KLINE_FAST_LINKER AND NOT MSVC AND NOT CMAKE_CROSSCOMPILING)
  include(CheckLinkerFlag)
  foreach(linker mold lld)
    check_linker_flag(CXX -fuse-ld=${linker} KLINE_LINKER_${linker})
    if(KLINE_LINKER_${linker})
      add_link_options(-fuse-ld=${linker})
      message(STATUS "Linking with ${linker}")
      break()
    endif()
  endforeach()
endif()

set(KLINE_DEBUG_INFO "full" CACHE STRING
  "Debug information of the builds that have some: full (-g) or lines (-g1)")
set_property(CACHE KLINE_DEBUG_INFO PROPERTY STRINGS full lines)
if(KLINE_DEBUG_INFO STREQUAL "lines" AND NOT MSVC)
  # After the build type's -g on the command line, so it wins; a build type without debug
  # information (Release) stays without.
  string(TOUPPER "${CMAKE_BUILD_TYPE}" kline_build_type)
  if(kline_build_type MATCHES "^(DEBUG|RELWITHDEBINFO)$")
    add_compile_options(-g1)
  endif()
elseif(NOT KLINE_DEBUG_INFO STREQUAL "full")
  message(FATAL_ERROR "KLINE_DEBUG_INFO is full or lines, not ${KLINE_DEBUG_INFO}")
endif()

option(KLINE_UNITY "Compile eight source files of a target as one" OFF)
if(KLINE_UNITY)
  set(CMAKE_UNITY_BUILD ON)
  set(CMAKE_UNITY_BUILD_BATCH_SIZE 8)
  # GCC takes every file of a batch for a header and warns about each of its types that use an
  # anonymous namespace, which a source file may.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    add_compile_options(-Wno-subobject-linkage)
  endif()
endif()
