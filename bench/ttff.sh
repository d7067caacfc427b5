#!/usr/bin/env bash
# Time to first fix over seeds, against the simulated sky played as a closed
# loop on a pty (talon_target --scenario --closed-loop), paced faster than
# real time.
#
#   bench/ttff.sh BUILD_DIR [SEEDS] [PERIOD_MS]
#
# For each seed 1..SEEDS (20 by default): a cold logging run of talonhost
# (--rtk-mode 0 --mode 0 --port PTY --fix-csv) in an empty directory, then a
# second run of the same sky TTFF_LATER_S seconds later (300 by default) in
# the same directory, so that the program starts from the files the first run
# saved (log_save.dat becomes log_init.dat, flash_save.alm ...): 300 s is a
# hot start (stored ephemerides valid, fast hot search), 14400 s a warm start
# (the sky's 2-hour data sets have changed; position, time and almanac known).
# TTFF_NSAT sets the constellation (12 by default, all placed in view at the
# first run's start; use 32 for a second run hours later, when most of the 12
# have set). TTFF = GPS time of the first fix-csv row
# with a 2-D or 3-D fix minus the scenario's start (the GPS time of the run's
# first epoch). The target's record of the second run's hot-start time
# message (tools/sky/sky_hot.h) gives the error of the host's predicted GPS time
# at its start's RTC reading. Each seed starts 3607 s later than the one before (another
# place in the navigation message's frames). Prints one line per seed and the mean and maximum of each
# kind. A run without a fix counts as "none" and is left out of the figures.
# Benchmark figures only: nothing here is asserted.
set -u
BUILD=$(cd "${1:?usage: bench/ttff.sh BUILD_DIR [SEEDS] [PERIOD_MS]}" && pwd)
SEEDS=${2:-20}
PERIOD=${3:-10}
HOST=$BUILD/talonhost
TARGET=$BUILD/tools/talon_target/talon_target
[ -x "$HOST" ] && [ -x "$TARGET" ] || { echo "ttff.sh: talonhost or talon_target missing in $BUILD" >&2; exit 1; }
WORK=$(mktemp -d /tmp/ttff.XXXXXX)
trap 'rm -rf "$WORK"' EXIT

START_WEEK=2400
START_TOW=345600
LATER=${TTFF_LATER_S:-300}  # the second run starts this long after the cold one, s (environment TTFF_LATER_S)
DURATION=120     # s of sky per run

scenario() {  # seed start_tow sky_epoch_tow
  cat <<EOF
start_week = $START_WEEK
start_tow = $2
duration = $DURATION
sky_epoch = $START_WEEK $3
nsat = ${TTFF_NSAT:-12}
seed = $1
lat = 35.68
lon = 139.77
height = 40
clk_bias = 0.0004
clk_drift = 1.2e-7
EOF
}

# One logging run in dir $1 of scenario $2 with fix log $3; prints the TTFF in s or "none".
run() {
  local d=$1 sc=$2 csv=$3 start_tow=$4
  rm -f "$d/pty.txt" "$d/sent.bin" "$d/finish.txt"
  (cd "$d" && exec "$TARGET" --scenario "$sc" --closed-loop --pty-file pty.txt --sent sent.bin \
      --period-ms "$PERIOD" --timeout-s 120 >target.out 2>&1) &
  local tpid=$!
  for _ in $(seq 1 500); do [ -s "$d/pty.txt" ] && break; sleep 0.02; done
  (cd "$d" && exec "$HOST" --rtk-mode 0 --mode 0 --port "$(cat pty.txt)" --do-kml-output 0 \
      --fix-csv "$csv" >host.out 2>&1) &
  local hpid=$!
  for _ in $(seq 1 3000); do [ -f "$d/sent.bin" ] && break; sleep 0.05; done
  local want
  want=$(stat -c %s "$d/sent.bin" 2>/dev/null || echo 0)
  for _ in $(seq 1 200); do
    [ "$(stat -c %s "$d/log_data.dat" 2>/dev/null || echo -1)" -ge "$want" ] && break
    sleep 0.05
  done
  : >"$d/finish.txt"
  wait "$hpid" 2>/dev/null
  wait "$tpid" 2>/dev/null
  awk -F, -v w=$START_WEEK -v t="$start_tow" 'NR > 1 && $5 >= 2 && $2 != "" {
      printf "%.1f\n", ($2 - w) * 604800 + $3 - t; found = 1; exit }
      END { if (!found) print "none" }' "$d/$csv"
}

stats() {  # label values...
  local label=$1
  shift
  printf '%s\n' "$@" | awk -v l="$label" '$1 != "none" { s += $1; n++; if ($1 > m) m = $1 }
      $1 == "none" { miss++ }
      END { if (n) printf "%s TTFF: mean %.1f s, max %.1f s over %d runs (%d without a fix)\n", l, s / n, m, n, miss + 0;
            else printf "%s TTFF: no fix in any run\n", l }'
}

cold=()
warm=()
perr=()
for seed in $(seq 1 "$SEEDS"); do
  d=$WORK/seed$seed
  mkdir -p "$d"
  # Each seed starts at another point of the broadcast's 30-s frame and 12.5-min cycle.
  t0=$((START_TOW + 3607 * seed))
  scenario "$seed" $t0 $t0 >"$d/cold.txt"
  scenario "$seed" $((t0 + LATER)) $t0 >"$d/warm.txt"
  c=$(run "$d" cold.txt cold.csv $t0)
  w=$(run "$d" warm.txt warm.csv $((t0 + LATER)))
  # The target's record of the second run's hot-start time message: the
  # predicted time of its start's RTC reading against the truth.
  e=$(sed -n 's/.*hot start:.*error \([-+0-9.]*\) ms.*/\1/p' "$d/target.out")
  echo "seed $seed: cold $c s, warm $w s, hot-start time error ${e:-none} ms"
  perr+=("${e:-none}")
  cold+=("$c")
  warm+=("$w")
done
stats cold "${cold[@]}"
stats warm "${warm[@]}"
printf '%s\n' "${perr[@]}" | awk '$1 != "none" { a = $1 < 0 ? -$1 : $1; s += a; n++; if (a > m) m = a }
    END { if (n) printf "hot-start time error (prediction - truth at the RTC reading): mean |%.3f| ms, max |%.3f| ms over %d runs\n", s / n, m, n;
          else print "hot-start time error: no prediction in any run" }'
