#!/usr/bin/env bash
# Builds and runs every benchmark; each prints its figures next to its target.
#   bench_livecycle  live cycle against the simulated ECU in-process, real clock (about 20 s)
#   bench_pty        live cycle over a pseudo-terminal with klinediag-sim, and the CPU of
#                    klinediag-cli while polling (about 45 s)
#   bench_gui        longest stall of the GUI thread during a session, log pane scaling
#                    (about 55 s)
#   bench_chart      the GUI thread's longest stall with the chart fed an hour, and the first
#                    frame of a one-hour recording
#   bench_recording  reading a one-hour recording
#   bench_records    the records file: listing 500 bikes of 10,000 visits, the keeper's batch
#                    (about 10 s; built where SQLite is)
#   bench_keeper     the session thread's cost per live cycle with the records kept (about 6 s;
#                    built where SQLite is)
# bench_soak (a week of session on virtual time, a few minutes) runs on its own.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
dir=$(scripts/build.sh | tail -n 1)
export QT_QPA_PLATFORM=offscreen
for b in bench_livecycle bench_pty bench_gui bench_chart bench_recording bench_records \
  bench_keeper; do
  [ -x "$dir/$b" ] || continue
  echo "== $b"
  "$dir/$b"
done
