#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ in build-fuzz/ and runs each for SECONDS (default 300;
# scripts/test.sh runs each for a few seconds).
#   scripts/fuzz.sh [SECONDS] [TARGET...]     targets: fuzz_session fuzz_inifile fuzz_inputs
#   scripts/fuzz.sh --build-only              builds them and runs none
# Each target starts from a scratch copy of its seeds (fuzz/corpus/TARGET/ is only read). Ends
# with "N passed, N failed" (one per target) and exits non-zero when a target finds a crash; the
# input is kept in build-fuzz/crashes/TARGET/.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build_only=0
if [ "${1:-}" = "--build-only" ]; then build_only=1; shift; fi
seconds="${1:-300}"
if [ $# -gt 0 ]; then shift; fi
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then targets=(fuzz_session fuzz_inifile fuzz_inputs); fi
case "$seconds" in
  '' | *[!0-9]*) echo "usage: scripts/fuzz.sh [SECONDS] [TARGET...]" >&2; exit 2 ;;
esac

"$root/scripts/setup.sh"
build="$root/build-fuzz"
generator=()
if [ ! -f "$build/CMakeCache.txt" ] && command -v ninja >/dev/null; then generator=(-G Ninja); fi
cmake -S "$root" -B "$build" "${generator[@]+"${generator[@]}"}" -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKLINE_DEBUG_INFO=lines -DKLINE_UNITY=ON \
  -DKLINE_FUZZ=ON -DKLINE_GUI=OFF -DBUILD_TESTING=OFF -DKLINE_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target "${targets[@]}"
if [ "$build_only" -eq 1 ]; then exit 0; fi

failed=0
passed=0
for t in "${targets[@]}"; do
  scratch="$build/corpus/$t"
  crashes="$build/crashes/$t"
  log="$build/$t.log"
  mkdir -p "$scratch" "$crashes"
  rm -f "$crashes"/crash-* "$crashes"/leak-* "$crashes"/timeout-* "$crashes"/oom-*
  echo "== $t: ${seconds} s"
  status=0
  # New inputs go to the scratch folder; the committed seeds are read only.
  (cd "$crashes" && "$build/fuzz/$t" -max_total_time="$seconds" -print_final_stats=1 -timeout=30 \
    -artifact_prefix="$crashes/" "$scratch" "$root/fuzz/corpus/$t") >"$log" 2>&1 || status=$?
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)"
  echo "$t: ${runs:-?} executions (log: $log)"
  if [ "$status" -eq 0 ]; then passed=$((passed + 1)); else
    failed=$((failed + 1))
    echo "$t FAILED (exit $status):"
    grep -E "^==[0-9]+==ERROR|runtime error|unknown log line|handler ran|deadly signal|ALARM|Test unit written" \
      "$log" | head -20 || true
    for f in "$crashes"/*; do [ -e "$f" ] && echo "  crash input: $f"; done
  fi
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
