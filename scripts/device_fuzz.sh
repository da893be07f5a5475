#!/usr/bin/env bash
# Fuzzes the whole program through its network ports: the zemR47N of the
# given build (build-asan: AddressSanitizer + UndefinedBehaviorSanitizer;
# build-tsan: ThreadSanitizer), started in simulation in a private network
# namespace and fed the link fuzzer's structured frames over TCP and UDP for
# the given number of seconds (default 60) by fuzz/device_fuzz.cpp.
#
# It fails on a crash, on any sanitizer report, on a request left unanswered
# for 5 s (60 s for the flash commands, a file transfer's end and the register
# listing, which take long by nature), or on resident memory above the
# bound below. The seed is printed; a failing run prints the
# sanitizer reports and keeps the inputs it sent (frames) and the program's
# output (zem.out) in <build>/device-fuzz/. Run it again with the same inputs:
#   ./scripts/device_fuzz.sh <build> 0 --replay <build>/device-fuzz/frames
# or with the same seed: ./scripts/device_fuzz.sh <build> 60 --seed N
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:?usage: $0 <build dir> [seconds] [device_fuzz options]}
seconds=${2:-60}
shift $(($# < 2 ? $# : 2))

keep="$PWD/$dir/device-fuzz"
cmake --build "$dir" -j "$(nproc)" --target device_fuzz zemR47N

# Peak resident memory allowed: a plain build of the program peaks near
# 150 MiB under this load, much of it the simulated chip's memory (up to
# 2 GiB, kept in pages as they are first written, so it grows with the run);
# the sanitizers keep shadow memory and freed blocks besides, so that a 60 s
# run has peaked at up to 550 MiB with AddressSanitizer (its quarantine cut
# to 32 MiB, below) and 880 MiB with ThreadSanitizer, whose shadow is the
# larger (1.4 GiB in a 120 s run). The bounds: 1 GiB and 2 GiB.
run=()
bound=1024
if grep -q '^ZEM_TSAN:BOOL=ON' "$dir/CMakeCache.txt"; then
  export TSAN_OPTIONS="second_deadlock_stack=1 suppressions=$PWD/scripts/tsan.supp"
  run=(setarch "$(uname -m)" -R)   # as the ThreadSanitizer suite runs
  bound=2048
else
  # Freed blocks are held back 32 MiB deep rather than the default 256 MiB:
  # with the default some inputs took the peak close to the bound, and
  # 32 MiB still holds what many requests freed.
  export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:quarantine_size_mb=32
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
fi
export QT_QPA_PLATFORM=offscreen

exec "${run[@]}" "$dir/fuzz/device_fuzz" --seconds "$seconds" --keep "$keep" --max-rss-mib "$bound" "$@"
