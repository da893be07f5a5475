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
exec build/zemR47N "$@"
