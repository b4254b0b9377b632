#!/usr/bin/env bash
# Runs scripts/screenshots.sh on the tree just built, as a person would to look at every
# window, and fails when it does not end in time (a window waiting for an answer), when it
# reports a failure, or when a picture listed in telas-esperadas.txt is missing.
#   telas.sh PASTA_DO_CODIGO PASTA_DA_COMPILACAO
set -uo pipefail
src="$1"
export NORVIX_BUILD_DIR="$2"
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
export NORVIX_SCREENSHOTS_LIMITE_S="${NORVIX_SCREENSHOTS_LIMITE_S:-600}"
unset NORVIX_ROOT
# The run's own limit ends the program; timeout only guards the preparation around it.
timeout -k 10 $((NORVIX_SCREENSHOTS_LIMITE_S + 240)) "$src/scripts/screenshots.sh" "$out" >"$out/saida.txt" 2>"$out/erros.txt"
status=$?
passed=0 failed=0
while IFS= read -r name; do
  [ -z "$name" ] && continue
  if [ -s "$out/$name.png" ]; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "faltou: $name"; fi
done <"$src/tests/shell/telas-esperadas.txt"
if [ "$status" -ne 0 ]; then
  echo "screenshots.sh terminou com $status"
  tail -n 30 "$out/erros.txt"
  failed=$((failed + 1))
fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
