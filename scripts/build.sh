#!/usr/bin/env bash
# Configures (once) and builds everything into build/; programs and libraries in build/bin/.
set -euo pipefail
cd "$(dirname "$0")/.."
# ccache keeps compiled objects between checkouts of the tree (paths taken relative to the
# checkout), so a fresh clone or a second working tree rebuilds in a fraction of the time.
if [ ! -f build/build.ninja ]; then
  launcher=()
  if command -v ccache >/dev/null 2>&1; then
    cc="env;CCACHE_BASEDIR=$PWD;CCACHE_NOHASHDIR=1;ccache"
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER="$cc" -DCMAKE_C_COMPILER_LAUNCHER="$cc")
  fi
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}"
fi
cmake --build build -j "$(nproc)"
