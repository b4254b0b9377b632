#!/usr/bin/env bash
# Instala o que faltar, compila, prepara (ou atualiza) a instalação de demonstração e inicia o
# Miral sobre ela. Com --prepare, faz tudo menos iniciar o programa e diz onde está a instalação.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
./scripts/build.sh
export NORVIX_ROOT="${NORVIX_ROOT:-$HOME/NORVIX}"
# O banco embarcado guarda seus arquivos de trava por usuário, para que um usuário comum não
# dependa de uma pasta criada por outro.
export FIREBIRD_LOCK="${FIREBIRD_LOCK:-${XDG_RUNTIME_DIR:-/tmp}/firebird-$(id -u)}"
mkdir -p "$FIREBIRD_LOCK"
root="$(./scripts/prepare-demo.sh build)"
if [ "${1:-}" = "--prepare" ]; then
  echo "Instalação de demonstração pronta em: $root"
  exit 0
fi
exec ./build/bin/Miral
