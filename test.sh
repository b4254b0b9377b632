#!/usr/bin/env bash
# Instala o que faltar, compila e executa todos os testes (ctest). O código de saída diz se
# todos passaram.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/runtime-dir.sh
./scripts/install-deps.sh
./scripts/build.sh
cd build
ctest --output-on-failure -j "$(nproc)" --timeout 900
