#!/usr/bin/env bash
# Builds the program and runs every test three times: a plain build, one with
# AddressSanitizer + UndefinedBehaviorSanitizer and one with ThreadSanitizer;
# then fuzzes the command links.
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

# --- ThreadSanitizer ---------------------------------------------------------
# The whole suite once more, the program and the tests built with
# -fsanitize=thread. Every process writes its reports to build-tsan/reports
# (the test programs and the device program the end-to-end tests start); a
# single report fails the run. scripts/tsan.supp suppresses Qt-internal
# reports only, each with its reason. ASLR is switched off for the run:
# ThreadSanitizer's fixed memory layout does not fit every kernel's
# randomised mappings.
run_tsan_suite() {
  local dir=build-tsan status=0
  local reports="$PWD/$dir/reports" supp="$PWD/scripts/tsan.supp"
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEM_TSAN=ON -DZEM_BUILD_BENCH=OFF
  cmake --build "$dir" -j "$jobs"
  rm -rf "$reports" && mkdir -p "$reports"
  (cd "$dir" &&
   TSAN_OPTIONS="exitcode=66 second_deadlock_stack=1 suppressions=$supp log_path=$reports/report" \
     setarch "$(uname -m)" -R ctest --output-on-failure -j "$jobs" --timeout 600) || status=$?
  if compgen -G "$reports/report.*" >/dev/null; then
    cat "$reports"/report.*
    echo "ThreadSanitizer: $(ls "$reports" | wc -l) process(es) reported, see $reports" >&2
    return 1
  fi
  return "$status"
}

run_tsan_suite

# --- Fuzzing ------------------------------------------------------------------
# The command links under libFuzzer (clang, with AddressSanitizer and
# UndefinedBehaviorSanitizer) for 60 s from the seed corpus; any finding fails.
./scripts/fuzz.sh 60
