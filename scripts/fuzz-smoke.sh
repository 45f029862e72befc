#!/usr/bin/env bash
# Gives every libFuzzer target of a fuzz build a short run over its seed corpus.
#   scripts/fuzz-smoke.sh <fuzz build dir> [seconds per target]
set -euo pipefail
dir=$1
secs=${2:-5}
list="$dir/fuzz-targets.txt"
if [ ! -s "$list" ]; then
  echo "fuzz-smoke: no fuzz targets"
  exit 0
fi
export MOSAL_TRACE=0
failed=0
count=0
while IFS='|' read -r name corpus; do
  [ -z "$name" ] && continue
  bin=$(find "$dir" -type f -name "$name" -perm -u+x | head -n 1)
  if [ -z "$bin" ]; then echo "fuzz-smoke: $name not built"; failed=1; continue; fi
  work=$(mktemp -d)
  [ -d "$corpus" ] && cp -r "$corpus"/. "$work"/ 2>/dev/null || true
  echo "fuzz-smoke: $name for ${secs}s"
  if ! "$bin" -max_total_time="$secs" -rss_limit_mb=2048 -timeout=10 "$work" >"$work.log" 2>&1; then
    echo "fuzz-smoke: $name FAILED"; tail -n 40 "$work.log"; failed=1
  else
    grep -E "^(#[0-9]+ *DONE|Done )" "$work.log" | tail -n 1 || true
  fi
  count=$((count + 1))
  rm -rf "$work" "$work.log"
done <"$list"
echo "fuzz-smoke: $count targets run"
exit $failed
