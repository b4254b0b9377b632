#!/usr/bin/env bash
# Builds the whole tree with AddressSanitizer and UndefinedBehaviorSanitizer into
# build-sanitize/ and runs every ctest test there. Any report fails: the process that made it
# stops at once with a failing exit code, and the report is also kept in
# build-sanitize/relatorios/ (so that one made by a child process, such as a tool that a test
# or prepare-demo.sh starts, is not lost); the script fails when that folder is not empty.
#   scripts/sanitize.sh [ctest arguments]      e.g. scripts/sanitize.sh -R store_
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
SRC=$PWD
BUILD=build-sanitize

# clang, not g++: g++ links the two sanitizers as separate runtimes, and its UBSan then writes
# to standard error whatever log_path says; clang's single runtime puts every report in the
# folder. Debug keeps Qt's own bounds assertions in its inline containers; _GLIBCXX_ASSERTIONS
# adds the standard library's, which catch an index out of range inside a struct where ASan
# sees valid memory. -O1 keeps the tests fast enough.
FLAGS="-O1 -fno-omit-frame-pointer -fsanitize=address,undefined -fno-sanitize-recover=all -D_GLIBCXX_ASSERTIONS"
# The runtime as a shared library: Grabmod is linked with --no-undefined, and the program and
# every module it dlopens must share one runtime anyway. It is found through the RPATH.
RUNTIME=$(clang-14 -print-file-name=libclang_rt.asan-x86_64.so)
LINK="-fsanitize=address,undefined -shared-libasan -Wl,-rpath,$(dirname "$RUNTIME")"
launcher=()
if command -v ccache >/dev/null 2>&1; then
  cc="env;CCACHE_BASEDIR=$PWD;CCACHE_NOHASHDIR=1;ccache"
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER="$cc" -DCMAKE_C_COMPILER_LAUNCHER="$cc")
fi
# Configured every time (a few seconds), so the folder is always built with the flags above.
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug "${launcher[@]}" \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DCMAKE_C_FLAGS="$FLAGS" -DCMAKE_CXX_FLAGS="$FLAGS" \
  -DCMAKE_EXE_LINKER_FLAGS="$LINK" -DCMAKE_SHARED_LINKER_FLAGS="$LINK" \
  -DCMAKE_MODULE_LINKER_FLAGS="$LINK" >/dev/null
cmake --build "$BUILD" -j "$(nproc)"

REPORTS="$SRC/$BUILD/relatorios"
rm -rf "$REPORTS"
mkdir -p "$REPORTS"
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:log_path=$REPORTS/relatorio"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:log_path=$REPORTS/relatorio"
# Leak checking stays on; the suppressions name the Firebird client library only (see there).
# Qt and the Firebird engine (which the client dlopens) need nothing: every program here is
# linked with the runtime first, so verify_asan_link_order has nothing to complain about.
export LSAN_OPTIONS="suppressions=$SRC/scripts/sanitize.supp:print_suppressions=0"

# Reports go to the folder, not to the test's output: they are printed here at the end.
status=0
(cd "$BUILD" && ctest --output-on-failure -j "$(nproc)" --timeout 900 "$@") || status=1
if [ -n "$(ls -A "$REPORTS")" ]; then
  for f in "$REPORTS"/*; do
    echo "== $f"
    cat "$f"
  done
  echo "Relatórios dos sanitizadores em $REPORTS" >&2
  status=1
fi
exit $status
