#!/usr/bin/env bash
# Instala o que faltar, compila, prepara (ou atualiza) a instalação de demonstração, põe o
# programa no menu de aplicativos do usuário e inicia o Miral sobre a instalação. Com
# --prepare, faz tudo menos iniciar o programa e diz onde estão a instalação e o atalho.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/runtime-dir.sh
./scripts/install-deps.sh
./scripts/build.sh
export NORVIX_ROOT="${NORVIX_ROOT:-$HOME/NORVIX}"
root="$(./scripts/prepare-demo.sh build)"
entry="$(./scripts/install-desktop-entry.sh "$root")"
if [ "${1:-}" = "--prepare" ]; then
  echo "Instalação de demonstração pronta em: $root"
  echo "Atalho no menu de aplicativos: $entry"
  exit 0
fi
exec ./scripts/miral.sh
