#!/usr/bin/env bash
# Installs what is missing, then builds and runs the test suite in rounds:
#   plain      every test, as the programs are built (build/)
#   windows    the core's tests cross-built for 64-bit Windows and run under Wine (build-windows/)
#   sanitize   every test under AddressSanitizer and UndefinedBehaviorSanitizer (build-sanitize/)
#   tsan       the tests labelled "threads" under ThreadSanitizer (build-tsan/)
#   fuzz       each fuzz target for a short while from its seeds (build-fuzz/; scripts/fuzz.sh
#              runs them longer)
# Each round says how long it built and how long it tested. A failed round does not stop the
# others; the run ends with one line, "N passed, N failed", summed over the rounds, and exits
# non-zero when anything failed (a build that fails counts as one failed test).
#
#   scripts/test.sh                          every round
#   scripts/test.sh --plain [CTEST ARGS...]  one round (--plain, --windows, --sanitize, --tsan,
#                                            --fuzz); what follows goes to ctest, e.g.
#                                            scripts/test.sh --plain -R Conversions
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/setup.sh || exit 1
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# die_after_fork=0: a test program that started a child (QProcess, which executes another program
# at once) and then a thread of its own (the records keeper of a session run in the test) is
# otherwise ended by the detector, which gives up on any program that forked with threads.
export TSAN_OPTIONS="suppressions=$root/tests/tsan.supp second_deadlock_stack=1 die_after_fork=0"
# Seconds each fuzz target runs in this command.
fuzz_seconds=15
# Tests at once: most of them wait on the line's clock or on another program, not on a core.
test_jobs=$(( $(nproc 2>/dev/null || echo 2) * 2 ))

passed=0
failed=0
summary=()
started=$SECONDS

duration() {
  local s=$1
  if [ "$s" -ge 60 ]; then printf '%d min %02d s' $((s / 60)) $((s % 60)); else printf '%d s' "$s"; fi
}

# round NAME BUILD-ARGS... -- CTEST-ARGS...: builds with scripts/build.sh, runs ctest, counts.
round() {
  local name=$1
  shift
  local build_args=() ctest_args=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do build_args+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  ctest_args=("$@")
  echo
  echo "== $name: building"
  local t0=$SECONDS dir
  dir=$(scripts/build.sh "${build_args[@]+"${build_args[@]}"}" | tail -n 1)
  local build_status=$?
  local built=$((SECONDS - t0))
  if [ $build_status -ne 0 ] || [ -z "$dir" ]; then
    echo "== $name: the build FAILED after $(duration $built)"
    failed=$((failed + 1))
    summary+=("$(printf '%-10s build %-12s FAILED' "$name" "$(duration $built)")")
    return
  fi
  echo "== $name: built in $(duration $built); testing"
  t0=$SECONDS
  local log
  log=$(mktemp)
  (cd "$dir" && ctest --output-on-failure --timeout 300 "${ctest_args[@]+"${ctest_args[@]}"}") \
    2>&1 | tee "$log"
  local tested=$((SECONDS - t0))
  # "100% tests passed, 0 tests failed out of 244"
  local line n_failed n_total
  line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  rm -f "$log"
  if [ -z "$line" ]; then
    echo "== $name: ctest gave no result"
    n_failed=1 n_total=1
  else
    n_failed=$(sed -E 's/.* ([0-9]+) tests? failed out of.*/\1/' <<<"$line")
    n_total=$(sed -E 's/.*failed out of ([0-9]+).*/\1/' <<<"$line")
  fi
  passed=$((passed + n_total - n_failed))
  failed=$((failed + n_failed))
  echo "== $name: built in $(duration $built), tested in $(duration $tested):" \
    "$((n_total - n_failed)) passed, $n_failed failed"
  summary+=("$(printf '%-10s build %-12s tests %-12s %4d passed, %d failed' "$name" \
    "$(duration $built)" "$(duration $tested)" $((n_total - n_failed)) "$n_failed")")
}

fuzz_round() {
  echo
  echo "== fuzz: building"
  local t0=$SECONDS
  if ! scripts/fuzz.sh --build-only >&2; then
    local built=$((SECONDS - t0))
    echo "== fuzz: the build FAILED after $(duration $built)"
    failed=$((failed + 1))
    summary+=("$(printf '%-10s build %-12s FAILED' fuzz "$(duration $built)")")
    return
  fi
  local built=$((SECONDS - t0))
  echo "== fuzz: built in $(duration $built); each target for $fuzz_seconds s"
  t0=$SECONDS
  local log
  log=$(mktemp)
  scripts/fuzz.sh "$fuzz_seconds" 2>&1 | tee "$log"
  local tested=$((SECONDS - t0)) line n_passed n_failed
  line=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$log" | tail -n 1)
  rm -f "$log"
  if [ -z "$line" ]; then n_passed=0 n_failed=1; else
    n_passed=${line%% passed*}
    n_failed=$(sed -E 's/.*, ([0-9]+) failed/\1/' <<<"$line")
  fi
  passed=$((passed + n_passed))
  failed=$((failed + n_failed))
  summary+=("$(printf '%-10s build %-12s tests %-12s %4d passed, %d failed' fuzz \
    "$(duration $built)" "$(duration $tested)" "$n_passed" "$n_failed")")
}

part=${1:-all}
[ $# -gt 0 ] && shift
case $part in
  all)
    round plain -- -j "$test_jobs"
    round windows --windows -- -j "$test_jobs"
    round sanitize --sanitize -- -j "$test_jobs"
    round tsan --tsan --only threaded_tests -- -j "$test_jobs" -L threads
    fuzz_round
    ;;
  --plain) round plain -- -j "$test_jobs" "$@" ;;
  --windows) round windows --windows -- -j "$test_jobs" "$@" ;;
  --sanitize) round sanitize --sanitize -- -j "$test_jobs" "$@" ;;
  --tsan) round tsan --tsan --only threaded_tests -- -j "$test_jobs" -L threads "$@" ;;
  --fuzz) fuzz_round ;;
  *)
    echo "usage: scripts/test.sh [--plain|--windows|--sanitize|--tsan|--fuzz] [CTEST ARGS...]" >&2
    exit 2
    ;;
esac

echo
echo "== $(duration $((SECONDS - started))) in all"
printf '%s\n' "${summary[@]}"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
