#!/usr/bin/env bash
# Builds the program and runs every test three times: a plain build, one with
# AddressSanitizer + UndefinedBehaviorSanitizer and one with ThreadSanitizer;
# then fuzzes the command links, and the whole program through its network
# ports in both sanitizer builds. Every stage runs, whatever an earlier one
# found; the failed stages are listed at the end and fail the run.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

failed=()
# Runs one stage in a subshell of its own with errexit in force (a function
# called in a condition would run without it); a failure is recorded.
stage() {
  local name=$1 status
  shift
  echo "=== $name"
  set +e
  (set -e; "$@")
  status=$?
  set -e
  if [ "$status" -ne 0 ]; then
    echo "=== $name: FAILED (exit $status)" >&2
    failed+=("$name (exit $status)")
  fi
}

run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DZEM_BUILD_BENCH=ON "$@"
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && ctest --output-on-failure -j "$jobs" --timeout 300)
}

stage "plain build and tests" run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo
stage "AddressSanitizer + UndefinedBehaviorSanitizer build and tests" \
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

stage "ThreadSanitizer build and tests" run_tsan_suite

# --- Fuzzing ------------------------------------------------------------------
# The command links under libFuzzer (clang, with AddressSanitizer and
# UndefinedBehaviorSanitizer) for 60 s from the seed corpus; any finding fails.
stage "link fuzzing" ./scripts/fuzz.sh 60
# The whole program, started in simulation in a private network namespace,
# fed the link fuzzer's structured frames over TCP and UDP for 60 s in each
# sanitizer build (see scripts/device_fuzz.sh).
stage "whole-program fuzzing, AddressSanitizer + UndefinedBehaviorSanitizer" ./scripts/device_fuzz.sh build-asan 60
stage "whole-program fuzzing, ThreadSanitizer" ./scripts/device_fuzz.sh build-tsan 60

if [ ${#failed[@]} -gt 0 ]; then
  echo >&2
  echo "FAILED stages:" >&2
  printf '  %s\n' "${failed[@]}" >&2
  exit 1
fi
echo "All stages passed."
