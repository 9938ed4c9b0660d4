#!/usr/bin/env bash
# Installs what is missing, builds the programs, and runs the main window on the built-in
# simulated ECU. Without a display, shows the command-line program on the simulated ECU
# instead. The tests and benchmarks are built by scripts/test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."

echo "Installing packages (only those missing)..."
scripts/setup.sh
# build.sh prints its steps and the build's own progress on stderr, the folder last on stdout.
# The simulated ECU on a pseudo-terminal and the man pages too, so that what the README shows
# next (klinediag-sim, cmake --install) works on this folder.
programs=(klinediag klinediag-cli klinediag-sim)
if command -v help2man >/dev/null; then programs+=(klinediag-manpages); fi
dir=$(scripts/build.sh --only "${programs[@]}" | tail -n 1)
echo "Built in $dir/."
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  # The simulated bike's visits go to a file of the demonstration's own, not a workshop's records.
  echo "Running $dir/klinediag on the simulated ECU (port sim): close its window, or press" \
    "Ctrl+C here, to stop it. Its bike records go to $dir/demo-records.sqlite."
  exec "$dir/klinediag" --port sim --records "$dir/demo-records.sqlite" "$@"
fi

cli="$dir/klinediag-cli"
# The demonstration leaves the settings and the bike records of a real workshop alone.
settings=$(mktemp -d)
trap 'rm -rf "$settings"' EXIT
records=(--records "$settings/records.sqlite")
run() { "$cli" "$@" --port sim --ecu 15m --settings "$settings/demo.ini" "${records[@]}"; }

echo
echo "No display: a tour of $cli on the simulated ECU (port sim, type 15m), in real time."
echo
echo "1/4  What the ECU says it is: klinediag-cli info"
run info
echo
echo "2/4  Ten cycles of live values, each as it arrives: klinediag-cli live --count 10"
run live --count 10
echo
echo "3/4  The stored faults and the immobiliser: klinediag-cli faults"
# It ends with a status of its own when a fault is stored, as on the simulated ECU.
run faults || true
echo
echo "4/4  The three sessions were kept as one visit of this bike (a stay in the workshop): klinediag-cli records, records show 1"
"$cli" records "${records[@]}"
"$cli" records show 1 "${records[@]}"
echo
echo "Next: \"$cli --help\" lists what it can do (tests, recordings, JSON); with an adapter," \
  "\"$cli ports\" finds its port and \"$cli info --port PORT --ecu TYPE\" talks to the bike." \
  "On a desktop, scripts/demo.sh opens the window."
