#!/usr/bin/env bash
# Builds and runs every benchmark; each prints its figure against a baseline of the same run.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/runtime-dir.sh
./scripts/build.sh >/dev/null
BIN="$PWD/build/bin"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
export QT_QPA_PLATFORM=offscreen
NORVIX_ROOT="$tmp/demo" ./scripts/prepare-demo.sh build >/dev/null
XDG_CONFIG_HOME="$tmp/config" "$BIN/bench_startup" "$BIN" "$tmp/demo"
for b in "$BIN"/bench_*; do
  [ "$(basename "$b")" = bench_startup ] && continue
  echo "== $(basename "$b")"
  "$b"
done
