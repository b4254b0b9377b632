#!/usr/bin/env bash
# Fuzzes the readers of the exam data files, the report markup filter, the bitmap reader and the
# ring tables through the map and surface code
# with libFuzzer and AddressSanitizer (clang-14), each for SECONDS seconds (default 60).
#   scripts/fuzz.sh [SECONDS] [target ...]      targets: leitores marcas bitmap superficie
# Builds in build-fuzz/; the corpus grows in build-fuzz/corpus/<target>/ from the targets' own
# seeds; a crashing input is saved as build-fuzz/crash-<target>-* and the script fails.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH=${1:-60}
shift || true
TARGETS=("$@")
if [ ${#TARGETS[@]} -eq 0 ]; then TARGETS=(leitores marcas bitmap superficie); fi
BUILD=build-fuzz
if [ ! -f "$BUILD/build.ninja" ]; then
  cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 -DNORVIX_FUZZ=ON \
    -DCMAKE_C_FLAGS="-fsanitize=fuzzer-no-link,address" \
    -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address"
fi
for t in "${TARGETS[@]}"; do
  cmake --build "$BUILD" --target "fuzz_$t" "fuzz_sementes_$t" -j 2
done
status=0
for t in "${TARGETS[@]}"; do
  corpus="$BUILD/corpus/$t"
  "$BUILD/bin/fuzz_sementes_$t" "$corpus"
  echo "== fuzz_$t: ${SECONDS_EACH}s"
  if ! ASAN_OPTIONS=detect_leaks=0 "$BUILD/bin/fuzz_$t" "$corpus" \
      -max_total_time="$SECONDS_EACH" -max_len=200000 -rss_limit_mb=2048 -malloc_limit_mb=100 \
      -artifact_prefix="$BUILD/crash-$t-" -print_final_stats=1; then
    echo "fuzz_$t: falha encontrada (veja $BUILD/crash-$t-*)" >&2
    status=1
  fi
done
exit $status
