#!/usr/bin/env bash
# Installs every Debian package that the build, the tests, the benchmarks and
# the programs need. Idempotent and quick when everything is present.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config git ccache
  clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libssl-dev libhttp-parser-dev libfftw3-dev
  libevent-dev
  python3
  libjpeg62-turbo-dev
  sip-tester
  pulseaudio pulseaudio-utils
  xvfb xauth x11-utils
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#PACKAGES[@]} packages present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
