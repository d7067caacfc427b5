#!/usr/bin/env bash
# Build and run every test: the normal build, the ASan+UBSan build, and a
# fixed number of iterations of every libFuzzer target (clang).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
jobs="$(nproc)"
fuzz_runs="${TALON_FUZZ_RUNS:-200000}"
"$root/tools/setup.sh"

echo "== build and test (RelWithDebInfo)"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build" -j"$jobs"
(cd "$root/build" && ctest --output-on-failure -j"$jobs")

echo "== build and test under AddressSanitizer + UndefinedBehaviorSanitizer"
cmake -S "$root" -B "$root/build-asan" -DCMAKE_BUILD_TYPE=Debug -DTALON_SANITIZE=ON -DTALON_BENCH=OFF >/dev/null
cmake --build "$root/build-asan" -j"$jobs"
(cd "$root/build-asan" && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j"$jobs")

echo "== fuzz targets ($fuzz_runs runs each)"
cmake -S "$root" -B "$root/build-fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DTALON_FUZZ=ON >/dev/null
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
echo "All tests passed."
