#!/usr/bin/env bash
# Sets everything up, builds, and runs the main job: the most complete
# program of the system so far (see README). Extra arguments go to it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"
if [ -x build/tools/morconsole ]; then
  exec build/tools/morconsole "$@"
fi
# Until the first program lands, the main job is the runtime's own suite.
cd build && exec ctest --output-on-failure
