#!/usr/bin/env bash
# Installs the Debian packages that building and running the program need
# ("./scripts/deps.sh run") or, without an argument, also those the tests,
# benchmarks and the fuzz target need. Other arguments are packages to install
# instead, without the extras they recommend (the board's cross toolchain and
# armhf libraries). Only missing packages are fetched, so a second run costs
# nothing.
set -euo pipefail

PACKAGES=(
  g++ cmake ninja-build pkg-config
  qtbase5-dev libqt5gui5
  libboost-dev libhidapi-dev libudev-dev
  socat
  # The front panel's Chinese texts.
  fonts-wqy-microhei
)
if [ "${1:-all}" != run ]; then
  PACKAGES+=(googletest libgtest-dev libgmock-dev libbenchmark-dev iproute2 util-linux procps net-tools)
  # The fuzz target: clang and its libFuzzer and sanitizer runtimes.
  PACKAGES+=(clang libclang-rt-dev)
fi
APT_OPTIONS=()
if [ $# -gt 0 ] && [ "$1" != run ]; then
  PACKAGES=("$@")
  APT_OPTIONS=(--no-install-recommends)
fi

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${APT_OPTIONS[@]}" "${missing[@]}"
fi
