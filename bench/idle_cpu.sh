#!/usr/bin/env bash
# Idle cost of the whole zemR47N process in simulation with every command link
# open (RS-485 and 4G on pseudo-terminals, a client connected to each TCP
# port, the UDP ports bound) and a source plugged into each of the six inputs,
# against the polling design (bench/polling_design: nine threads looping on a
# 1 us select and a 1 us sleep). Each is measured alone, one after the other,
# pinned to the same processors, so that neither takes processor time from the
# other. Prints the processor time of each as a share of one core, the
# wake-ups a second (voluntary context switches of all threads), the ratio of
# the two, and the split per thread. Targets: at most 0.5 % of one core and at
# most 200 wake-ups a second.
# Runs in a private network namespace so the fixed ports collide with nothing;
# ends every process it started.
# Usage: bench/idle_cpu.sh [path of zemR47N] [seconds, default 10]
#   ZEM_SIM_BUS_TIMING=0 runs the simulated buses without their bus time.
#   ZEM_IDLE_CPUS=list pins both to these processors (taskset -c form,
#   default 0,1).
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
binary="${1:-$here/../build/zemR47N}"
seconds="${2:-10}"
standin="$(dirname "$binary")/bench/polling_design"
cpus="${ZEM_IDLE_CPUS:-0,1}"
cpu_limit=0.5
wake_limit=200

for program in "$binary" "$standin"; do
  if [ ! -x "$program" ]; then
    echo "$program not found (build with -DZEM_BUILD_BENCH=ON first)" >&2
    exit 1
  fi
done
command -v socat >/dev/null || { echo "socat is needed (scripts/deps.sh)" >&2; exit 1; }
taskset -c "$cpus" true || { echo "cannot pin to processors $cpus (set ZEM_IDLE_CPUS)" >&2; exit 1; }

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

mkdir -p "$root/dev" "$root/sim"
for n in 1 2; do
  socat pty,raw,echo=0,link="$root/dev/ttyS$n" pty,raw,echo=0,link="$root/dev/pc-ttyS$n" &
  pids+=($!)
done
for _ in $(seq 50); do
  [ -e "$root/dev/pc-ttyS1" ] && [ -e "$root/dev/pc-ttyS2" ] && break
  sleep 0.1
done
printf '%s\n' "0 1920x1080@60" "1 1280x720@50" "2 1920x1080i@50" "3 1024x768@60" \
  "4 3840x2160@30" "5 1920x1080@60" >"$root/sim/inputs"

ZEM_MODE=sim ZEM_ROOT="$root" ZEM_SIM_BUS_TIMING="${ZEM_SIM_BUS_TIMING:-1}" QT_QPA_PLATFORM=offscreen \
  taskset -c "$cpus" "$binary" -platform offscreen >"$root/zem.out" 2>&1 &
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
sleep 12  # start-up work settles (the USB listener is released 1000 ticks after the event loop starts)

# One line per thread: id, name, nanoseconds on a processor, voluntary
# context switches (each one a sleep that a wake-up ends).
snapshot() {
  for t in /proc/"$1"/task/*; do
    local name cpu switches
    name="$(tr ' ' '_' <"$t/comm" 2>/dev/null)" || continue
    cpu="$(cut -d' ' -f1 "$t/schedstat" 2>/dev/null)" || continue
    switches="$(awk '/^voluntary_ctxt_switches/ {print $2}' "$t/status" 2>/dev/null)" || continue
    echo "$(basename "$t") $name $cpu $switches"
  done | sort
}

snapshot "$pid" >"$root/zem.0"
sleep "$seconds"
snapshot "$pid" >"$root/zem.1"
kill -0 "$pid" 2>/dev/null || { echo "zemR47N ended during the measurement" >&2; exit 1; }
exec 7>&- 8>&-
kill "$pid"
wait "$pid" 2>/dev/null || true

# Then the polling design alone on the same processors.
taskset -c "$cpus" "$standin" $((seconds + 30)) &
standin_pid=$!
pids+=("$standin_pid")
sleep 1  # its threads are running
snapshot "$standin_pid" >"$root/standin.0"
sleep "$seconds"
snapshot "$standin_pid" >"$root/standin.1"
kill "$standin_pid"
wait "$standin_pid" 2>/dev/null || true

# Per thread over the window: name, id, % of one core, wake-ups a second.
per_thread() {
  join "$root/$1.0" "$root/$1.1" |
    awk -v s="$seconds" '{ printf "%s %s %.4f %.1f\n", $2, $1, ($6 - $3) / (s * 1e7), ($7 - $4) / s }'
}
per_thread zem >"$root/zem.threads"
per_thread standin >"$root/standin.threads"
sum() { awk -v c="$2" '{ t += $c } END { printf "%.3f", t }' "$root/$1.threads"; }

zem_cpu="$(sum zem 3)"
zem_wakes="$(sum zem 4)"
standin_cpu="$(sum standin 3)"
standin_wakes="$(sum standin 4)"
ratio="$(awk -v a="$zem_cpu" -v b="$standin_cpu" 'BEGIN { printf "%.5f", (b > 0 ? a / b : 0) }')"

echo "idle cost over ${seconds} s each, alone, one after the other, pinned to processors ${cpus}; every link open, six sources plugged, bus timing ${ZEM_SIM_BUS_TIMING:-1}:"
echo "  zemR47N:        ${zem_cpu} % of one core, ${zem_wakes} wake-ups/s ($(wc -l <"$root/zem.threads") threads)"
echo "  polling design: ${standin_cpu} % of one core, ${standin_wakes} wake-ups/s"
echo "  ratio of processor time: ${ratio}"
echo "  per thread (name, id, % of one core, wake-ups/s):"
sort -k4 -n -r "$root/zem.threads" | awk '{ printf "    %-16s %7s %8.4f %8.1f\n", $1, $2, $3, $4 }'
echo "  machine load: $(cut -d' ' -f1-3 /proc/loadavg)"

status=0
if ! awk -v p="$zem_cpu" -v l="$cpu_limit" 'BEGIN { exit !(p <= l) }'; then
  echo "above the ${cpu_limit} % target" >&2
  status=1
fi
if ! awk -v w="$zem_wakes" -v l="$wake_limit" 'BEGIN { exit !(w <= l) }'; then
  echo "above the ${wake_limit} wake-ups a second target" >&2
  status=1
fi
exit "$status"
