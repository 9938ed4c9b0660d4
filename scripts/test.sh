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
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The tests of one round run while the next round builds (most of them wait rather than compute;
# the build yields the processor to them): at most one round's tests are pending at a time.
pending=""

duration() {
  local s=$1
  if [ "$s" -ge 60 ]; then printf '%d min %02d s' $((s / 60)) $((s % 60)); else printf '%d s' "$s"; fi
}

# count NAME BUILT TESTED PASSED FAILED: adds a round to the sums and the summary.
count() {
  passed=$((passed + $4))
  failed=$((failed + $5))
  echo "== $1: built in $(duration "$2"), tested in $(duration "$3"): $4 passed, $5 failed"
  summary+=("$(printf '%-10s build %-12s tests %-12s %4d passed, %d failed' "$1" "$(duration "$2")" \
    "$(duration "$3")" "$4" "$5")")
}

build_failed() {
  echo "== $1: the build FAILED after $(duration "$2")"
  failed=$((failed + 1))
  summary+=("$(printf '%-10s build %-12s FAILED' "$1" "$(duration "$2")")")
}

# Waits for the pending round's tests, prints what ctest said and counts it.
finish_tests() {
  [ -n "$pending" ] || return 0
  local name dir built pid
  read -r name dir built pid <<<"$pending"
  pending=""
  wait "$pid"
  echo
  echo "== $name: the tests in $dir/"
  cat "$work/$name.log"
  local tested line n_failed n_total
  tested=$(cat "$work/$name.time" 2>/dev/null || echo 0)
  # "100% tests passed, 0 tests failed out of 244"
  line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$work/$name.log" |
    tail -n 1)
  if [ -z "$line" ]; then
    echo "== $name: ctest gave no result"
    n_failed=1 n_total=1
  else
    n_failed=$(sed -E 's/.* ([0-9]+) tests? failed out of.*/\1/' <<<"$line")
    n_total=$(sed -E 's/.*failed out of ([0-9]+).*/\1/' <<<"$line")
  fi
  count "$name" "$built" "$tested" $((n_total - n_failed)) "$n_failed"
}

# round NAME BUILD-ARGS... -- CTEST-ARGS...: builds with scripts/build.sh, then starts ctest in
# the background once the round before has finished its tests.
round() {
  local name=$1
  shift
  local build_args=() ctest_args=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do build_args+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  ctest_args=("$@")
  echo
  echo "== $name: building"
  local t0=$SECONDS dir status
  dir=$(nice -n 10 scripts/build.sh "${build_args[@]+"${build_args[@]}"}" | tail -n 1)
  status=$?
  local built=$((SECONDS - t0))
  finish_tests
  if [ $status -ne 0 ] || [ -z "$dir" ]; then
    build_failed "$name" "$built"
    return
  fi
  echo
  echo "== $name: built in $(duration $built); its tests run while what follows builds"
  (
    t0=$SECONDS
    cd "$dir" && ctest --output-on-failure --timeout 300 "${ctest_args[@]+"${ctest_args[@]}"}"
    echo $((SECONDS - t0)) >"$work/$name.time"
  ) >"$work/$name.log" 2>&1 &
  pending="$name $dir $built $!"
}

fuzz_round() {
  echo
  echo "== fuzz: building"
  local t0=$SECONDS status=0
  nice -n 10 scripts/fuzz.sh --build-only >&2 || status=$?
  local built=$((SECONDS - t0))
  finish_tests
  if [ $status -ne 0 ]; then
    build_failed fuzz "$built"
    return
  fi
  echo
  echo "== fuzz: built in $(duration $built); each target for $fuzz_seconds s"
  t0=$SECONDS
  scripts/fuzz.sh "$fuzz_seconds" 2>&1 | tee "$work/fuzz.log"
  local tested=$((SECONDS - t0)) line n_passed n_failed
  line=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$work/fuzz.log" | tail -n 1)
  if [ -z "$line" ]; then n_passed=0 n_failed=1; else
    n_passed=${line%% passed*}
    n_failed=$(sed -E 's/.*, ([0-9]+) failed/\1/' <<<"$line")
  fi
  count fuzz "$built" "$tested" "$n_passed" "$n_failed"
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

finish_tests
echo
echo "== $(duration $((SECONDS - started))) in all"
printf '%s\n' "${summary[@]}"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
