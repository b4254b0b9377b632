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
# The exam browser's and the patient picker's figures need a large clinic (about 20 s to make).
NORVIX_ROOT="$tmp/grande" NORVIX_DEMO_CLINICA=0 NORVIX_DEMO_EXAMPLES=0 ./scripts/prepare-demo.sh build >/dev/null
"$BIN/mkclinica_grande" "$tmp/grande" >/dev/null
for b in "$BIN"/bench_*; do
  case "$(basename "$b")" in
    bench_startup) continue ;;
    bench_exams_browser | bench_registration_picker)
      echo "== $(basename "$b")"; "$b" "$tmp/grande/OrventDuo/Banco de Dados/DATABASE.GDB" ;;
    *) echo "== $(basename "$b")"; "$b" ;;
  esac
done
