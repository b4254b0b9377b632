#!/usr/bin/env bash
# Pictures of every window of the program, offscreen, on a temporary demonstration installation
# (with its example exams and clinic): one PNG per window and state, named after the window.
#   scripts/screenshots.sh <pasta>
set -euo pipefail
SRC="$(cd "$(dirname "$0")/.." && pwd)"
OUT="$(mkdir -p "${1:?uso: scripts/screenshots.sh <pasta>}" && cd "$1" && pwd)"
cd "$SRC"
. scripts/runtime-dir.sh
# The test suite runs this on the build it has just made (NORVIX_BUILD_DIR, without building).
BUILD="${NORVIX_BUILD_DIR:-$SRC/build}"
[ -n "${NORVIX_BUILD_DIR:-}" ] || ./scripts/build.sh >/dev/null
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
# A virtual screen of 1366 x 768, the smallest common clinic screen, so that maximised
# windows take the size they would there.
printf '{"screens":[{"name":"tela","x":0,"y":0,"width":%s,"height":%s,"logicalDpiX":96,"logicalDpiY":96,"dpr":1}]}\n' \
  "${NORVIX_SCREEN_WIDTH:-1366}" "${NORVIX_SCREEN_HEIGHT:-768}" >"$tmp/tela.json"
export QT_QPA_PLATFORM="offscreen:configfile=$tmp/tela.json" NORVIX_ROOT="$tmp/demo" XDG_CONFIG_HOME="$tmp/config"
# The backup pictures copy to the temporary installation's medium, with its bookkeeping.
export NORVIX_BACKUP_DIR="$tmp/demo/OrventDuo"
export FIREBIRD_LOCK="$tmp/lock" NORVIX_SIM_TARGET="${NORVIX_SIM_TARGET:-cornea 7.70 7.90 90 0 olho}"
mkdir -p "$FIREBIRD_LOCK"
./scripts/prepare-demo.sh "$BUILD" >/dev/null
"$BUILD/bin/norvix-screenshots" "$OUT"
