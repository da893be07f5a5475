#!/usr/bin/env bash
# Builds zemR47N and runs it in simulation with its root in ./var.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"
if [ ! -x build/zemR47N ]; then
  echo "zemR47N is not built yet: the program's start-up is still missing." >&2
  exit 1
fi
export ZEM_MODE=sim
export ZEM_ROOT="${ZEM_ROOT:-$PWD/var}"
# RS-485 port 2: a pseudo-terminal pair, one end linked where the program
# opens its port, the other end for the PC tool.
mkdir -p "$ZEM_ROOT/dev"
rm -f "$ZEM_ROOT/dev/ttyS2" "$ZEM_ROOT/dev/pc-ttyS2"
socat pty,raw,echo=0,link="$ZEM_ROOT/dev/ttyS2" pty,raw,echo=0,link="$ZEM_ROOT/dev/pc-ttyS2" &
SOCAT_PID=$!
trap 'kill $SOCAT_PID 2>/dev/null' EXIT
for _ in $(seq 50); do [ -e "$ZEM_ROOT/dev/pc-ttyS2" ] && break; sleep 0.1; done
echo "RS-485 link: open $ZEM_ROOT/dev/pc-ttyS2 (115200 8N1) with the PC tool."
build/zemR47N "$@"
