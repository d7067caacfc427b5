#!/usr/bin/env bash
# Runs file RTK over one RINEX rover/base pair for every combination of C/N0
# mask and elevation mask given, and prints one line per run: solution shares,
# time to first FIX and the quality of the FIX rows.
#
#   tools/cn0_mask_sweep.sh [-b TALONHOST] [-m "30 33 35"] [-e "15"] [-t X,Y,Z] [-o DIR] [-p NAME]
#                           ROVER.obs BASE.obs NAV [NAV...]
#
# -b  talonhost binary (default build/talonhost of this tree)
# -m  C/N0 masks, dB-Hz (default "30 33 35 38")
# -e  elevation masks, degrees (default "15")
# -t  rover truth, ECEF m: FIX error rms / max (3D, cm) and FIX rows more
#     than 10 cm off are printed. Without it (a moving rover) the FIX baseline
#     range (m) and the consistency of the runs: at every epoch where at least
#     3 runs of the sweep have a FIX, the median of their FIX positions is the
#     reference; printed are the FIX rows compared, the largest distance from
#     the reference (cm) and the rows more than 10 cm from it
# -o  directory for the runs (default a new one under /tmp, kept)
# -p  name prefix of this sweep's run directories in DIR (default none): sweeps
#     with different binaries or environments can share DIR, and the
#     consistency reference then takes the FIX rows of every run in DIR
# Every other variable of the environment goes to talonhost unchanged.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bin="$root/build/talonhost"
masks="30 33 35 38"
elvs="15"
truth=""
out=""
prefix=""
while getopts "b:m:e:t:o:p:" opt; do
  case "$opt" in
    b) bin="$OPTARG" ;;
    m) masks="$OPTARG" ;;
    e) elvs="$OPTARG" ;;
    t) truth="$OPTARG" ;;
    o) out="$OPTARG" ;;
    p) prefix="$OPTARG" ;;
    *) exit 2 ;;
  esac
done
shift $((OPTIND - 1))
if [ $# -lt 3 ]; then
  echo "usage: $0 [-b TALONHOST] [-m MASKS] [-e ELVS] [-t X,Y,Z] [-o DIR] [-p NAME] ROVER.obs BASE.obs NAV [NAV...]" >&2
  exit 2
fi
bin="$(realpath "$bin")"
rover="$(realpath "$1")"
base="$(realpath "$2")"
shift 2
navs=()
for n in "$@"; do navs+=(--nav "$(realpath "$n")"); done
[ -n "$out" ] || out="$(mktemp -d /tmp/cn0_sweep.XXXXXX)"
mkdir -p "$out"

printf '%-5s %-5s %6s %6s %6s %6s %6s %7s  %s\n' elv mask epochs FIX% FLOAT% SINGLE% NONE% TTFF_s \
  "$([ -n "$truth" ] && echo 'FIX_rms_cm FIX_max_cm n>10cm' || echo 'baseline_min..max_m  n_cmp  d_max_cm n>10cm')"
for e in $elvs; do
  for m in $masks; do
    d="$out/${prefix}e${e}_m${m}"
    mkdir -p "$d"
    (cd "$d" && "$bin" --rover-rinex "$rover" --base-rinex "$base" "${navs[@]}" --snr-mask "$m" --evl-mask "$e" \
      >/dev/null 2>err.txt) || true
    if [ ! -f "$d/Normal_sol.txt" ]; then
      echo "$0: run $d gave no Normal_sol.txt (see $d/err.txt)" >&2
      exit 1
    fi
    awk 'NR > 1 && $4 == "FIX" { print $1, $3, $10, $11, $12, $13 }' "$d/Normal_sol.txt" >"$d/fix.txt"
  done
done

# Per epoch with a FIX in at least 3 runs: the median FIX position of the runs
# (coordinate by coordinate), the reference of the consistency columns.
awk 'function med(a, k,   i, j, t) {
       for (i = 2; i <= k; i++) { t = a[i]; for (j = i - 1; j >= 1 && a[j] > t; j--) a[j + 1] = a[j]; a[j + 1] = t }
       return k % 2 ? a[(k + 1) / 2] : (a[k / 2] + a[k / 2 + 1]) / 2 }
     { c = ++n[$1]; X[$1, c] = $3; Y[$1, c] = $4; Z[$1, c] = $5 }
     END { for (e in n) if (n[e] >= 3) {
             for (i = 1; i <= n[e]; i++) a[i] = X[e, i]; x = med(a, n[e])
             for (i = 1; i <= n[e]; i++) a[i] = Y[e, i]; y = med(a, n[e])
             for (i = 1; i <= n[e]; i++) a[i] = Z[e, i]; z = med(a, n[e])
             printf "%s %.4f %.4f %.4f\n", e, x, y, z } }' "$out"/*/fix.txt >"$out/median.txt"

for e in $elvs; do
  for m in $masks; do
    d="$out/${prefix}e${e}_m${m}"
    ttff="$(sed -n 's/.*time to first FIX: \([0-9.]*\) s.*/\1/p' "$d/err.txt")"
    shares="$(awk 'NR > 1 { n++; c[$4]++ }
      END { printf "%6d %6.1f %6.1f %6.1f %6.1f", n, 100 * c["FIX"] / n, 100 * c["FLOAT"] / n,
            100 * c["SINGLE"] / n, 100 * (n - c["FIX"] - c["FLOAT"] - c["SINGLE"]) / n }' "$d/Normal_sol.txt")"
    if [ -n "$truth" ]; then
      qual="$(awk -v t="$truth" 'BEGIN { split(t, r, ",") }
        { dx = $3 - r[1]; dy = $4 - r[2]; dz = $5 - r[3]; e = sqrt(dx * dx + dy * dy + dz * dz) * 100
          s += e * e; n++; if (e > mx) mx = e; if (e > 10) bad++ }
        END { if (n) printf "%10.1f %10.1f %6d", sqrt(s / n), mx, bad; else printf "%10s %10s %6s", "-", "-", "-" }' \
        "$d/fix.txt")"
    else
      qual="$(awk 'NR == FNR { mx[$1] = $2; my[$1] = $3; mz[$1] = $4; next }
        { n++; if (n == 1 || $6 < bmin) bmin = $6; if (n == 1 || $6 > bmax) bmax = $6
          if ($1 in mx) { dx = $3 - mx[$1]; dy = $4 - my[$1]; dz = $5 - mz[$1]
                          d = sqrt(dx * dx + dy * dy + dz * dz) * 100; nc++; if (d > dmax) dmax = d; if (d > 10) bad++ } }
        END { if (n) printf "%8.2f..%-8.2f %8d %10.1f %6d", bmin, bmax, nc, dmax, bad
              else printf "%18s %8s %10s %6s", "-", "-", "-", "-" }' "$out/median.txt" "$d/fix.txt")"
    fi
    printf '%-5s %-5s %s %7s  %s\n' "$e" "$m" "$shares" "${ttff:--}" "$qual"
  done
done
echo "runs in $out" >&2
