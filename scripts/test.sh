#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite: as built, then the core's tests
# built for Windows and run under Wine, then under AddressSanitizer and UndefinedBehaviorSanitizer,
# then under ThreadSanitizer, then each fuzz target for a minute from its seed corpus.
#   --plain | --windows | --sanitize | --tsan | --fuzz   run only that part
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/setup.sh
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# die_after_fork=0: a test program that started a child (QProcess, which executes another program
# at once) and then a thread of its own (the records keeper of a session run in the test) is
# otherwise ended by the detector, which gives up on any program that forked with threads.
export TSAN_OPTIONS="suppressions=$root/tests/tsan.supp second_deadlock_stack=1 die_after_fork=0"

suite() {
  local dir
  dir=$(scripts/build.sh "$@" | tail -n 1)
  (cd "$dir" && ctest --output-on-failure --timeout 300)
}


part=${1:-all}
case $part in
  all)
    echo "== the suite"; suite
    echo "== the core on Windows (MinGW-w64, under Wine)"; suite --windows
    echo "== under AddressSanitizer and UndefinedBehaviorSanitizer"; suite --sanitize
    echo "== under ThreadSanitizer"; suite --tsan
    if [ -x scripts/fuzz.sh ]; then echo "== fuzzing, 60 s a target"; scripts/fuzz.sh 60; fi
    ;;
  --plain) suite ;;
  --sanitize | --tsan | --windows) suite "$part" ;;
  --fuzz) scripts/fuzz.sh 60 ;;
  *) echo "usage: scripts/test.sh [--plain|--windows|--sanitize|--tsan|--fuzz]" >&2; exit 2 ;;
esac
