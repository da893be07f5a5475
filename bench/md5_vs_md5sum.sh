#!/usr/bin/env bash
# Compares the program's MD5 with md5sum on the same data in the same run.
# Usage: bench/md5_vs_md5sum.sh [path of md5_bench] [MiB of data, default 5]
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
bench="${1:-$here/../build/bench/md5_bench}"
mib="${2:-5}"
rounds=20

if [ ! -x "$bench" ]; then
  echo "md5_bench not found at $bench (build with benchmarks on)" >&2
  exit 1
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
data="$work/data.bin"
head -c "$((mib * 1024 * 1024))" /dev/urandom > "$data"

# The program's MD5, whole buffer: CSV columns name, ..., bytes_per_second (6), label (8).
csv="$(ZEM_MD5_FILE="$data" "$bench" --benchmark_filter='^BM_MD5_Whole$' \
        --benchmark_format=csv --benchmark_min_time=0.5 2>/dev/null | grep '^"BM_MD5_Whole"')"
own_bps="$(echo "$csv" | awk -F, '{print $6}')"
own_digest="$(echo "$csv" | awk -F, '{gsub(/"/, "", $8); print $8}')"

# md5sum over the same file, read from the page cache, in one process.
cat "$data" > /dev/null
files=()
for _ in $(seq "$rounds"); do files+=("$data"); done
start="$(date +%s%N)"
sums="$(md5sum "${files[@]}")"
end="$(date +%s%N)"
ref_digest="$(echo "$sums" | head -n1 | cut -d' ' -f1)"
ref_bps="$(awk -v b="$((mib * 1024 * 1024 * rounds))" -v ns="$((end - start))" 'BEGIN { printf "%.0f", b / (ns / 1e9) }')"

awk -v o="$own_bps" -v r="$ref_bps" -v m="$mib" 'BEGIN {
  printf "data:    %d MiB\n", m
  printf "MD5:     %8.1f MiB/s\n", o / 1048576
  printf "md5sum:  %8.1f MiB/s\n", r / 1048576
  printf "ratio:   %8.2f\n", o / r
}'
if [ "$own_digest" != "$ref_digest" ]; then
  echo "digests differ: $own_digest (MD5) vs $ref_digest (md5sum)" >&2
  exit 1
fi
echo "digest:  $own_digest (both)"
