#!/usr/bin/env bash
# Idle CPU of the whole zemR47N process in simulation with every command link
# open: RS-485 and 4G on pseudo-terminals, a client connected to each TCP
# port, the UDP ports bound. Measured from /proc/<pid>/stat over 10 s after a
# settling pause; target: at most 2 % of one core.
# With ZEM_IDLE_SOURCES=1 a source is plugged into each of the six inputs and
# the simulated buses cost no time (ZEM_SIM_BUS_TIMING=0), so that the input
# monitoring shows with its own processor time.
# Runs in a private network namespace so the fixed ports collide with nothing.
# Usage: [ZEM_IDLE_SOURCES=1] bench/idle_cpu.sh [path of zemR47N] [seconds, default 10]
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
binary="${1:-$here/../build/zemR47N}"
seconds="${2:-10}"
limit=2.0

if [ ! -x "$binary" ]; then
  echo "zemR47N not found at $binary (build the program first)" >&2
  exit 1
fi
command -v socat >/dev/null || { echo "socat is needed (scripts/deps.sh)" >&2; exit 1; }

if [ -z "${ZEM_IDLE_IN_NETNS:-}" ]; then
  exec unshare -n env ZEM_IDLE_IN_NETNS=1 "$0" "$binary" "$seconds"
fi
ip link set lo up

root="$(mktemp -d)"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$root"
}
trap cleanup EXIT

mkdir -p "$root/dev"
for n in 1 2; do
  socat pty,raw,echo=0,link="$root/dev/ttyS$n" pty,raw,echo=0,link="$root/dev/pc-ttyS$n" &
  pids+=($!)
done
for _ in $(seq 50); do
  [ -e "$root/dev/pc-ttyS1" ] && [ -e "$root/dev/pc-ttyS2" ] && break
  sleep 0.1
done

bus_timing=1
if [ "${ZEM_IDLE_SOURCES:-0}" = 1 ]; then
  mkdir -p "$root/sim"
  printf '%s\n' "0 1920x1080@60" "1 1280x720@50" "2 1920x1080i@50" "3 1024x768@60" \
    "4 3840x2160@30" "5 1920x1080@60" >"$root/sim/inputs"
  bus_timing=0
fi

ZEM_MODE=sim ZEM_ROOT="$root" ZEM_SIM_BUS_TIMING="$bus_timing" QT_QPA_PLATFORM=offscreen \
  "$binary" -platform offscreen >"$root/zem.out" 2>&1 &
pid=$!
pids+=("$pid")

# Wait for both TCP ports, then hold a client on each.
for port in 5005 10002; do
  for _ in $(seq 200); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then break; fi
    kill -0 "$pid" 2>/dev/null || { echo "zemR47N ended early:" >&2; cat "$root/zem.out" >&2; exit 1; }
    sleep 0.1
  done
done
exec 7<>/dev/tcp/127.0.0.1/5005
exec 8<>/dev/tcp/127.0.0.1/10002
sleep 3   # start-up work settles

ticks() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
# Per thread: id and user + system ticks (to name a thread that spins).
thread_ticks() {
  for t in /proc/"$pid"/task/*; do
    awk -v id="$(basename "$t")" '{print id, $14 + $15}' "$t/stat" 2>/dev/null || true
  done | sort
}
hz="$(getconf CLK_TCK)"
thread_ticks >"$root/threads.0"
t0="$(ticks)"
sleep "$seconds"
t1="$(ticks)"
thread_ticks >"$root/threads.1"
kill -0 "$pid" 2>/dev/null || { echo "zemR47N ended during the measurement" >&2; exit 1; }

pct="$(awk -v d="$((t1 - t0))" -v hz="$hz" -v s="$seconds" 'BEGIN { printf "%.2f", 100 * d / (hz * s) }')"
threads="$(ls "/proc/$pid/task" | wc -l)"
sources=""
[ "$bus_timing" = 0 ] && sources=" with six sources plugged, no bus time"
echo "idle CPU of zemR47N${sources} over ${seconds} s: ${pct} % of one core ($((t1 - t0)) ticks at ${hz} Hz, ${threads} threads)"
if ! awk -v p="$pct" -v l="$limit" 'BEGIN { exit !(p <= l) }'; then
  echo "above the ${limit} % target; busiest threads (id, ticks over the window):" >&2
  join "$root/threads.0" "$root/threads.1" | awk '{print $1, $3 - $2}' | sort -k2 -n -r | head -3 >&2
  exit 1
fi
