#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main window on the built-in simulated ECU.
# Without a display, runs the command-line program on the simulated ECU instead.
set -euo pipefail
cd "$(dirname "$0")/.."

echo "Installing packages (only those missing)..."
scripts/setup.sh
# build.sh prints its steps and the build's own progress on stderr, the folder last on stdout.
dir=$(scripts/build.sh | tail -n 1)
echo "Built in $dir/."
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "Running $dir/klinediag on the simulated ECU (port sim): close its window, or press" \
    "Ctrl+C here, to stop it."
  exec "$dir/klinediag" --port sim "$@"
fi
echo "No display: running $dir/klinediag-cli on the simulated ECU for 20 s (Ctrl+C stops it)."
exec "$dir/klinediag-cli" --port sim --ecu 15m --duration 20000 "$@"
