#!/usr/bin/env bash
# Sets everything up and passes every test: installs the packages, builds and
# runs the whole suite plainly, again under AddressSanitizer+UBSan, then builds
# the libFuzzer targets with clang and gives each a short smoke run.
#   scripts/test.sh            everything
#   SKIP_SANITIZE=1 / SKIP_FUZZ=1 leave a stage out (for quick local runs)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
JOBS=${JOBS:-$(nproc)}

bash scripts/install-deps.sh

stage() { echo; echo "=== $* ==="; }

run_suite() {  # <build dir> <cmake args...>
  local dir=$1; shift
  cmake -S "$ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j "$JOBS"
  (cd "$dir" && ctest --output-on-failure -j "$JOBS" --timeout 300)
}

stage "plain build and tests"
run_suite build

if [ "${SKIP_SANITIZE:-0}" != 1 ]; then
  stage "AddressSanitizer + UndefinedBehaviorSanitizer build and tests"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    run_suite build-asan -DMOSAL_SANITIZE=ON
fi

if [ "${SKIP_FUZZ:-0}" != 1 ]; then
  stage "libFuzzer targets: smoke runs"
  cmake -S "$ROOT" -B build-fuzz -DMOSAL_FUZZ=ON \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
  cmake --build build-fuzz -j "$JOBS"
  bash scripts/fuzz-smoke.sh build-fuzz "${FUZZ_SECONDS:-5}"
fi

echo
echo "test.sh: all stages passed"
