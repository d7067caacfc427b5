#!/usr/bin/env bash
# Idle processor use of talonhost in its real-time modes, measured from
# /proc/<pid>/stat (utime + stime, clock ticks) over a quiet window.
#
#   tools/idle_cpu.sh [build-dir] [seconds]
#
# build-dir: the build tree holding talonhost and tools/talon_target/talon_target
# (default: build next to this script's parent); seconds: length of the window
# (default 10). Two runs, each against scripted targets on pseudo-terminals:
#   logging      navigation logging (--rtk-mode 0 --mode 0): the target answers
#                the start-up handshake, then sends nothing more;
#   rtk          real-time RTK (--mode 0) with rover, base and output ports that
#                stay silent (targets started with --silent).
# Prints one line per mode: the processor time used in the window and its
# share of the window, in percent of one core.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
secs="${2:-10}"
host="${TALONHOST:-$build/talonhost}"
target="$build/tools/talon_target/talon_target"
[ -x "$host" ] || { echo "idle_cpu: no program $host" >&2; exit 1; }
[ -x "$target" ] || { echo "idle_cpu: no scripted target $target" >&2; exit 1; }

work="$(mktemp -d /tmp/idle_cpu.XXXXXX)"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
hz="$(getconf CLK_TCK)"

# Start a scripted target in directory $1 with the extra arguments; its pty
# slave path is left in $port.
start_target() {
  local dir="$1"
  shift
  mkdir -p "$dir"
  (cd "$dir" && exec "$target" --pty-file pty.txt --timeout-s $((secs + 30)) "$@" >target.out 2>&1) &
  pids+=($!)
  for _ in $(seq 200); do
    [ -s "$dir/pty.txt" ] && break
    sleep 0.05
  done
  port="$(cat "$dir/pty.txt")"
}

# Measure the program (pid $2) for the window; prints "<mode>: <ticks> ticks in <s> s = <pct> %".
measure() {
  local mode="$1" pid="$2"
  local t0 t1
  t0="$(ticks "$pid")"
  sleep "$secs"
  t1="$(ticks "$pid")"
  awk -v m="$mode" -v d="$((t1 - t0))" -v hz="$hz" -v s="$secs" \
    'BEGIN { printf "%-8s %4d ticks (%.2f s cpu) in %d s = %.2f %% of one core\n", m, d, d / hz, s, 100 * d / hz / s }'
}

# Navigation logging against a target that goes quiet after its RTC report.
start_target "$work/t1" --epochs 0
mkdir -p "$work/log"
(cd "$work/log" && exec "$host" --rtk-mode 0 --mode 0 --port "$port" --do-kml-output 0 >out 2>err) &
hpid=$!
sleep 2  # handshake and start-up done
measure logging "$hpid"
kill -INT "$hpid"
wait "$hpid" || true

# Real-time RTK with three quiet ports.
start_target "$work/t2" --silent
p1="$port"
start_target "$work/t3" --silent
p2="$port"
start_target "$work/t4" --silent
p3="$port"
mkdir -p "$work/rtk"
(cd "$work/rtk" && exec "$host" --mode 0 --port "$p1" --base-port "$p2" --out-port "$p3" >out 2>err) &
hpid=$!
sleep 1
measure rtk "$hpid"
kill -INT "$hpid"
wait "$hpid" || true
