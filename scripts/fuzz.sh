#!/usr/bin/env bash
# Fuzzes the command links: builds the libFuzzer target with clang
# (AddressSanitizer and UndefinedBehaviorSanitizer on the program's code),
# writes its seed corpus (valid requests of each command family) and runs it
# for the given number of seconds (default 60) under a temporary root.
# Any finding - a crash, a sanitizer report, a hang, a leak - fails the run;
# the input that caused it is kept in build-fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
./scripts/deps.sh

cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
      -DZEM_FUZZ=ON -DZEM_BUILD_TESTS=OFF -DZEM_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz -j "$(nproc)" --target link_fuzz link_fuzz_seeds

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/corpus" build-fuzz/findings
build-fuzz/fuzz/link_fuzz_seeds "$work/corpus"

export ASAN_OPTIONS=abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
log=build-fuzz/fuzz.log
echo "Fuzzing the command links for ${seconds} s (log: $log)"
# The target's temporary root goes under $work as well.
if ! TMPDIR="$work" build-fuzz/fuzz/link_fuzz -max_total_time="$seconds" -timeout=10 -max_len=8192 \
    -close_fd_mask=1 -print_final_stats=1 -artifact_prefix=build-fuzz/findings/ "$work/corpus" >"$log" 2>&1; then
  tail -n 80 "$log" >&2
  echo "Fuzzing found a fault; the input is in build-fuzz/findings/" >&2
  exit 1
fi
grep -E '^(Done|stat::)' "$log"
