#!/usr/bin/env bash
# Cria um banco de dados novo (DATABASE.GDB) a partir de data/schema.sql no caminho dado.
# Nunca sobrescreve um arquivo existente. O banco é montado num nome temporário ao lado do
# destino e só então renomeado, de modo que uma falha não deixa um banco pela metade.
# Uso: scripts/create-database.sh <caminho> [schema.sql]
set -euo pipefail

if [ $# -lt 1 ] || [ -z "$1" ]; then
  echo "Uso: $0 <caminho do banco> [schema.sql]" >&2
  exit 2
fi
target=$1
schema=${2:-"$(cd "$(dirname "$0")/.." && pwd)/data/schema.sql"}

if [ -e "$target" ]; then
  echo "O arquivo $target já existe; nada foi alterado." >&2
  exit 1
fi
if [ ! -r "$schema" ]; then
  echo "Script do banco não encontrado: $schema" >&2
  exit 1
fi
dir=$(dirname "$target")
if [ ! -d "$dir" ]; then
  echo "A pasta $dir não existe." >&2
  exit 1
fi
ISQL=${ISQL:-$(command -v isql-fb || command -v isql || true)}
if [ -z "$ISQL" ]; then
  echo "isql-fb não encontrado (pacote firebird3.0-utils)." >&2
  exit 1
fi

dir=$(cd "$dir" && pwd)
schema=$(cd "$(dirname "$schema")" && pwd)/$(basename "$schema")
tmp="$dir/.$(basename "$target").$$.tmp"
driver=$(mktemp)
cleanup() { rm -f "$driver" "$tmp"; }
trap cleanup EXIT

# The engine's lock files live here; the embedded engine needs the folder to exist.
mkdir -p /tmp/firebird 2>/dev/null || true

# Inside the SQL literals a quote is written twice.
q="'"
tmp_sql=${tmp//$q/$q$q}
schema_sql=${schema//$q/$q$q}
cat >"$driver" <<SQL
CREATE DATABASE '$tmp_sql' USER 'SYSDBA' PASSWORD 'rqmz71' PAGE_SIZE 8192 DEFAULT CHARACTER SET WIN1252;
INPUT '$schema_sql';
COMMIT;
QUIT;
SQL

if ! out=$("$ISQL" -q -bail -ch UTF8 -i "$driver" 2>&1); then
  echo "Falha ao criar o banco de dados:" >&2
  echo "$out" >&2
  exit 1
fi
if [ -n "$out" ]; then echo "$out" >&2; fi
if [ -e "$target" ]; then
  echo "O arquivo $target apareceu durante a criação; nada foi alterado." >&2
  exit 1
fi
mv "$tmp" "$target"
