#!/usr/bin/env bash
# Builds the program and runs every test twice: a plain build and one with
# AddressSanitizer + UndefinedBehaviorSanitizer; then fuzzes the command links.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@" -DZEM_BUILD_BENCH=ON
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && ctest --output-on-failure -j "$jobs" --timeout 300)
}

run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo
run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DZEM_SANITIZE=ON -DZEM_BUILD_BENCH=OFF

# --- Fuzzing ------------------------------------------------------------------
# The command links under libFuzzer (clang, with AddressSanitizer and
# UndefinedBehaviorSanitizer) for 60 s from the seed corpus; any finding fails.
./scripts/fuzz.sh 60
