#!/usr/bin/env bash
# Rebuild the expected files of the regression cases (tests/regress/<case>/)
# from the current build and check them against the truth of each case.
#   tools/regress_rebuild.sh [-B BUILD_DIR] [CASE ...]      (default: build/, every case)
# The expected exit code, stdout and stderr are recorded as the program gives
# them, whatever they are, so a deliberate change of exit codes or messages
# only shows up as a change of those files. The result is a diff under
# tests/regress/ that is reviewed like code before it is committed:
#   git diff --stat tests/regress; git diff tests/regress
# Exit status: 0 when every case was rebuilt and its truth checks hold, 1 otherwise.
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build"
if [ "${1:-}" = "-B" ]; then
  build="$(cd "$2" && pwd)"
  shift 2
fi
shared="$root/../shared/data"

cmake --build "$build" -j2 --target talon_regress talonhost scenario_sim talon_target >/dev/null || {
  echo "regress_rebuild: build failed in $build" >&2
  exit 1
}
runner="$build/tests/regress/talon_regress"
host="$build/talonhost"
sim="$build/tools/scenario_sim/scenario_sim"
target="$build/tools/talon_target/talon_target"

cases=("$@")
if [ ${#cases[@]} -eq 0 ]; then
  for d in "$root"/tests/regress/*/; do
    [ -f "$d/README.md" ] && cases+=("$(basename "$d")")
  done
fi

failed=()
skipped=()
for c in "${cases[@]}"; do
  dir="$root/tests/regress/$c"
  [ -f "$dir/README.md" ] || { echo "regress_rebuild: no case $c" >&2; failed+=("$c"); continue; }
  "$runner" --rebuild "$dir" "$host" "$sim" "$target" "$root/data" "$shared"
  case $? in
    0) ;;
    77) skipped+=("$c") ;;  # an input set under ../shared/data is missing: expected files left as they were
    *) failed+=("$c") ;;
  esac
done

echo
echo "== files changed by the rebuild (review them like code):"
git -C "$root" status --short -- tests/regress
[ ${#skipped[@]} -eq 0 ] || echo "== skipped (input set missing, expected files kept): ${skipped[*]}"
if [ ${#failed[@]} -ne 0 ]; then
  echo "== FAILED (run or truth check): ${failed[*]}"
  exit 1
fi
exit 0
