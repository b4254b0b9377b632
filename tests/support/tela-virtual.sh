#!/usr/bin/env bash
# Runs a test program on a virtual X screen of its own (Xvfb), with a window manager when the
# first argument is "--gerenciador", so that windows are placed as on a clinic's screen.
#   tela-virtual.sh [--gerenciador] LARGURAxALTURA PROGRAMA [ARGUMENTOS...]
set -euo pipefail
gerenciador=0
if [ "${1:-}" = "--gerenciador" ]; then gerenciador=1; shift; fi
tamanho="$1"; shift
command -v Xvfb >/dev/null || { echo "Xvfb ausente (pacote xvfb): scripts/install-deps.sh o instala" >&2; exit 1; }
tmp=$(mktemp -d)
xvfb="" wm=""
cleanup() {
  [ -n "$wm" ] && kill "$wm" 2>/dev/null || true
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT
# A display number nobody uses: Xvfb picks it and writes it to the descriptor given.
Xvfb -displayfd 3 -screen 0 "${tamanho}x24" -nolisten tcp 3>"$tmp/display" 2>"$tmp/xvfb.log" &
xvfb=$!
for _ in $(seq 2400); do
  [ -s "$tmp/display" ] && break
  kill -0 "$xvfb" 2>/dev/null || break
  sleep 0.05
done
[ -s "$tmp/display" ] || { echo "o Xvfb não iniciou: $(cat "$tmp/xvfb.log")" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$tmp/display")" QT_QPA_PLATFORM=xcb
if [ "$gerenciador" = 1 ]; then
  command -v openbox >/dev/null || { echo "openbox ausente: scripts/install-deps.sh o instala" >&2; exit 1; }
  openbox --sm-disable >/dev/null 2>&1 &
  wm=$!
  # Until the manager has taken the screen (it says so on the root window): a window mapped
  # before that is reparented under the test's feet. A fixed pause was too short under load.
  # Waited for as long as the manager runs (a loaded machine can take many seconds), bounded
  # only so that a manager that never says so cannot hang the run.
  for _ in $(seq 2400); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
    kill -0 "$wm" 2>/dev/null || { echo "o openbox terminou sem tomar a tela" >&2; exit 1; }
    sleep 0.05
  done
fi
"$@"
