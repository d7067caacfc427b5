#!/usr/bin/env bash
# Build and run every test: the format and lint gates, the normal build, the
# ASan+UBSan build, and a fixed number of iterations of every libFuzzer target
# (clang). Every build treats a compiler warning as an error.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
jobs="$(nproc)"
fuzz_runs="${TALON_FUZZ_RUNS:-200000}"
"$root/tools/setup.sh"

# The program's own sources (the lint gate) and every C++ file (the format gate).
cd "$root"
if [ -d .git ] || git rev-parse --git-dir >/dev/null 2>&1; then
  all_cxx=$(git ls-files '*.cpp' '*.h')
else
  all_cxx=$(find host misc kernel rtk timing tools tests bench -name '*.cpp' -o -name '*.h')
fi
prog_cpp=$(printf '%s\n' $all_cxx | grep -E '^(host|misc|kernel|rtk|timing|tools)/.*\.cpp$')

echo "== format gate (clang-format --dry-run -Werror)"
# shellcheck disable=SC2086
clang-format --dry-run -Werror $all_cxx
echo "format clean: $(printf '%s\n' $all_cxx | wc -l) files"

echo "== build and test (RelWithDebInfo, -Werror)"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS=-Werror >/dev/null
cmake --build "$root/build" -j"$jobs"
ctest_log="$(mktemp)"
(cd "$root/build" && ctest --output-on-failure -j"$jobs") | tee "$ctest_log"

echo "== lint gate (clang-tidy: bugprone, performance, cognitive complexity)"
# shellcheck disable=SC2086
printf '%s\n' $prog_cpp | xargs -P"$jobs" -n4 clang-tidy -p "$root/build" --quiet --extra-arg=-Wno-error 2>/dev/null
echo "lint clean: $(printf '%s\n' $prog_cpp | wc -l) files"

echo "== build and test under AddressSanitizer + UndefinedBehaviorSanitizer (-Werror)"
cmake -S "$root" -B "$root/build-asan" -DCMAKE_BUILD_TYPE=Debug -DTALON_SANITIZE=ON -DTALON_BENCH=OFF \
  -DCMAKE_CXX_FLAGS=-Werror >/dev/null
cmake --build "$root/build-asan" -j"$jobs"
(cd "$root/build-asan" && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j"$jobs")

echo "== fuzz targets ($fuzz_runs runs each, -Werror)"
cmake -S "$root" -B "$root/build-fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DTALON_FUZZ=ON -DCMAKE_CXX_FLAGS=-Werror >/dev/null
cmake --build "$root/build-fuzz" -j"$jobs"
for fz in "$root"/build-fuzz/tests/fuzz/*_fuzz; do
  name="$(basename "$fz" _fuzz)"
  work="$(mktemp -d)"
  [ -d "$root/tests/fuzz/corpus/$name" ] && cp -r "$root/tests/fuzz/corpus/$name/." "$work/"
  echo "-- $name"
  "$fz" -runs="$fuzz_runs" -seed=1 -max_len=4096 "$work" >/dev/null 2>"$work.log" || { tail -50 "$work.log"; exit 1; }
  grep -E '^Done' "$work.log" || true
  rm -rf "$work" "$work.log"
done

# Tests on recorded data skip when ../shared/data is not beside the project.
skipped=$(grep -c '(Skipped)' "$ctest_log" || true)
total=$(grep -oE 'out of [0-9]+' "$ctest_log" | tail -1 | grep -oE '[0-9]+' || echo 0)
rm -f "$ctest_log"
echo "Tests: $total run in the normal build, $skipped skipped (recorded data in ../shared/data absent)."
echo "All tests passed."
