#!/usr/bin/env bash
# Builds and runs every benchmark program (never run by the tests). Each one
# measures an outside baseline in the same run and prints the ratio.
#   scripts/bench.sh [filter]     run the programs whose name matches filter
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DMOSAL_BENCH=ON -DMOSAL_TESTS=OFF >/dev/null
cmake --build build-bench -j "$(nproc)"
export MOSAL_TRACE=0
for b in build-bench/bench/*Bench; do
  [ -x "$b" ] || continue
  case "$(basename "$b")" in *${1:-}*) ;; *) continue ;; esac
  echo "=== $(basename "$b") ==="
  "$b" --benchmark_min_time=0.2
done
