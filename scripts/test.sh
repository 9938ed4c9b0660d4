#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite.
# --sanitize: the same under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
dir=$(scripts/build.sh "$@" | tail -n 1)
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1
cd "$dir"
ctest --output-on-failure --timeout 300
