#!/usr/bin/env bash
# Sets everything up, builds, and runs the main job: the most complete
# program of the system so far, the text console morconsole, fed a graph
# script (see README).
#   scripts/run.sh                 runs tools/examples/demo.dgs
#   scripts/run.sh my.dgs          runs another script
#   scripts/run.sh -               reads the script from standard input
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"
script=${1:-tools/examples/demo.dgs}
# Keep the demo's data directory apart from the user's own.
export MORVANE_HOME=${MORVANE_HOME:-$(pwd)/build/run-home}
export MOSAL_TRACE=${MOSAL_TRACE:-0}
if [ "$script" = "-" ]; then
  exec build/tools/morconsole
fi
exec build/tools/morconsole <"$script"
