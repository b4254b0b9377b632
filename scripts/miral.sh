#!/usr/bin/env bash
# Starts the built program on the installation under $NORVIX_ROOT (default ~/NORVIX), without
# building anything: what run.sh ends with and what the desktop's menu entry runs.
set -euo pipefail
SRC="$(cd "$(dirname "$0")/.." && pwd)"
. "$SRC/scripts/runtime-dir.sh"
export NORVIX_ROOT="${NORVIX_ROOT:-$HOME/NORVIX}"
# The embedded database keeps its lock files per user, so that an ordinary user does not
# depend on a folder created by another.
export FIREBIRD_LOCK="${FIREBIRD_LOCK:-${XDG_RUNTIME_DIR:-/tmp}/firebird-$(id -u)}"
mkdir -p "$FIREBIRD_LOCK"
# Without a capture board the simulated instrument stands in; it shows an eye as a real capture
# does (iris, lids, lashes), like the demonstration's stored exams, unless told otherwise.
export NORVIX_SIM_TARGET="${NORVIX_SIM_TARGET:-cornea olho}"
exec "$SRC/build/bin/Miral" "$@"
