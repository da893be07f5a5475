#!/usr/bin/env bash
# Builds zemR47N (only the program: no tests, no benchmarks, in build-run/)
# and runs it in simulation with its root in ./var.
# The front panel is served by Qt's VNC platform plugin on port 5900
# (any other arguments replace that choice, e.g. "-platform offscreen").
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh run
BUILD=build-run
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEM_BUILD_TESTS=OFF -DZEM_BUILD_BENCH=OFF >/dev/null
cmake --build "$BUILD" -j "$(nproc)" --target zemR47N
if [ ! -x "$BUILD/zemR47N" ]; then
  echo "zemR47N is not built: app/main.cpp is missing." >&2
  exit 1
fi
export ZEM_MODE=sim
export ZEM_ROOT="${ZEM_ROOT:-$PWD/var}"
mkdir -p "$ZEM_ROOT/dev"

# Serial ports 2 (RS-485) and 1 (4G module): a pseudo-terminal pair each, one
# end linked where the program opens its port, the other end for the user.
PIDS=()
cleanup() { for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done; }
trap cleanup EXIT
for n in 2 1; do
  rm -f "$ZEM_ROOT/dev/ttyS$n" "$ZEM_ROOT/dev/pc-ttyS$n"
  socat pty,raw,echo=0,link="$ZEM_ROOT/dev/ttyS$n" pty,raw,echo=0,link="$ZEM_ROOT/dev/pc-ttyS$n" &
  PIDS+=($!)
done
for _ in $(seq 50); do
  [ -e "$ZEM_ROOT/dev/pc-ttyS2" ] && [ -e "$ZEM_ROOT/dev/pc-ttyS1" ] && break
  sleep 0.1
done
echo "RS-485 link: open $ZEM_ROOT/dev/pc-ttyS2 (115200 8N1) with the PC tool."
echo "4G module link: open $ZEM_ROOT/dev/pc-ttyS1 (115200 8N1)."
if [ $# -eq 0 ]; then
  # The physical size (a 320 x 240 LCD of 85 x 64 mm) keeps the panel at its
  # natural size in a viewer.
  set -- -platform vnc:size=320x240:port=5900:mmsize=85x64
  echo "Front panel: connect a VNC viewer to localhost:5900 (e.g. 'vncviewer localhost:5900')."
fi
"$BUILD/zemR47N" "$@"
