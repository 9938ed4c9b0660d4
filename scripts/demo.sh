#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main window on the built-in simulated ECU.
# Without a display, runs the command-line program on the simulated ECU instead.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
dir=$(scripts/build.sh | tail -n 1)
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec "$dir/klinediag" --port sim "$@"
fi
echo "No display: running klinediag-cli on the simulated ECU for 20 s (Ctrl+C stops it)."
exec "$dir/klinediag-cli" --port sim --ecu 15m --duration 20000 "$@"
