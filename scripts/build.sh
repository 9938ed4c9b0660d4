#!/usr/bin/env bash
# Configures and builds into build/ (build-sanitize/ with --sanitize: AddressSanitizer and
# UndefinedBehaviorSanitizer; build-tsan/ with --tsan: ThreadSanitizer; build-windows/ with
# --windows: the core and its tests for 64-bit Windows, cross-built with MinGW-w64 and run
# under Wine). `--only TARGET...` last builds those programs alone (scripts/demo.sh: the window
# and the command line, not every test and benchmark).
set -euo pipefail
cd "$(dirname "$0")/.."

dir=build
flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
targets=()
args=()
while [ $# -gt 0 ]; do
  if [ "$1" = "--only" ]; then
    shift
    targets=("$@")
    break
  fi
  args+=("$1")
  shift
done
set -- "${args[@]+"${args[@]}"}"
if [ "${1:-}" = "--sanitize" ]; then
  dir=build-sanitize
  flags=(-DCMAKE_BUILD_TYPE=Debug -DKLINE_SANITIZE=ON -DKLINE_BENCH=OFF)
elif [ "${1:-}" = "--tsan" ]; then
  dir=build-tsan
  flags=(-DCMAKE_BUILD_TYPE=Debug -DKLINE_TSAN=ON -DKLINE_BENCH=OFF)
elif [ "${1:-}" = "--windows" ]; then
  dir=build-windows
  flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake)
fi
# Line tables only: backtraces and the sanitizers' reports keep their file and line, the build is
# a quarter quicker; unity builds (eight files compiled as one) halve the time again. Ninja where
# it is installed (a folder made by another generator keeps it).
flags+=(-DKLINE_DEBUG_INFO=lines -DKLINE_UNITY=ON)
if [ ! -f "$dir/CMakeCache.txt" ] && command -v ninja >/dev/null; then
  flags+=(-G Ninja)
fi
jobs=$(nproc 2>/dev/null || echo 2)
# Progress goes to stderr; stdout's last line is the build folder (scripts/test.sh reads it).
first=""
if [ ! -f "$dir/CMakeCache.txt" ]; then first=" (first build: several minutes on two cores)"; fi
echo "Configuring $dir/..." >&2
cmake -S . -B "$dir" "${flags[@]}" >/dev/null
echo "Building$first..." >&2
if [ ${#targets[@]} -gt 0 ]; then
  cmake --build "$dir" -j "$jobs" --target "${targets[@]}" >&2
else
  cmake --build "$dir" -j "$jobs" >&2
fi
echo "$dir"
