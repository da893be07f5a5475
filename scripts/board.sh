#!/usr/bin/env bash
# Builds zemR47N and its tests for the board (armhf) with Debian's cross
# toolchain and runs the tests under user-mode emulation (qemu-arm) in
# simulation; the end-to-end tests start the cross-built program under
# qemu-arm in private network namespaces. The stripped program for the board
# lands in build-armhf/board/zemR47N.
set -euo pipefail
cd "$(dirname "$0")/.."

BOARD_PACKAGES=(
  crossbuild-essential-armhf qemu-user
  qtbase5-dev:armhf libboost-dev:armhf libhidapi-dev:armhf libudev-dev:armhf
  libgtest-dev:armhf libgmock-dev:armhf
)

# The host's tools (cmake, moc, ip) come first; the armhf libraries install
# beside the host's once dpkg knows the architecture.
./scripts/deps.sh
if ! dpkg --print-foreign-architectures | grep -qx armhf; then
  dpkg --add-architecture armhf
fi
./scripts/deps.sh "${BOARD_PACKAGES[@]}"

jobs=$(nproc)
build=build-armhf
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-armhf.cmake \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEM_BUILD_BENCH=OFF
cmake --build "$build" -j "$jobs"

mkdir -p "$build/board"
arm-linux-gnueabihf-strip -o "$build/board/zemR47N" "$build/zemR47N"
echo "Board binary: $build/board/zemR47N ($(stat -c %s "$build/board/zemR47N") bytes, stripped)"

export ZEM_MODE=sim QT_QPA_PLATFORM=offscreen
(cd "$build" && ctest --output-on-failure -j "$jobs" --timeout 600)
