#!/usr/bin/env bash
# Builds and runs every benchmark; each prints its figures next to its target.
#   bench_livecycle  live cycle against the simulated ECU in-process, real clock (about 20 s)
#   bench_pty        live cycle over a pseudo-terminal with klinediag-sim, and the CPU of
#                    klinediag-cli while polling (about 45 s)
#   bench_gui        longest stall of the GUI thread during a session, log pane scaling
#                    (about 55 s)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
dir=$(scripts/build.sh | tail -n 1)
export QT_QPA_PLATFORM=offscreen
for b in bench_livecycle bench_pty bench_gui; do
  echo "== $b"
  "$dir/$b"
done
