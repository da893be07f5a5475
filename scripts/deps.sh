#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need.
# Only missing packages are fetched, so a second run costs nothing.
set -euo pipefail

PACKAGES=(
  g++ cmake ninja-build pkg-config
  qtbase5-dev libqt5gui5
  libboost-dev libhidapi-dev libudev-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  socat iproute2 util-linux procps net-tools
  clang libclang-rt-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}"
fi
