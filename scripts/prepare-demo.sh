#!/usr/bin/env bash
# Prepares or refreshes the demonstration installation under $NORVIX_ROOT (default ~/NORVIX).
# Never overwrites an existing database, exam file or report; refreshes only what belongs to
# the build (module paths, map module links, help pages, missing pictures).
#   scripts/prepare-demo.sh [build-dir]
# NORVIX_DEMO_EXAMPLES=0: without example exams; NORVIX_DEMO_CLINICA=0: a new database stays
# empty instead of holding the demonstration clinic (doctors, patients, exams).
set -euo pipefail
SRC="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="$(cd "${1:-$SRC/build}" && pwd)"
BIN="$BUILD/bin"
ROOT="${NORVIX_ROOT:-$HOME/NORVIX}"
DIRQV="$ROOT/OrventDuo"
INI="$DIRQV/Orvent.ini"
INITOOL="$BIN/norvix-ini"
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"

for d in "Banco de Dados" Exames Exemplos Laudos Mapas "Calibração" imgs ajuda/AjudaPrincipal; do
  mkdir -p "$DIRQV/$d"
done

# Settings file: written whole once (Windows-1252, CR LF), afterwards only the paths that
# depend on where the build lives are brought up to date.
if [ ! -f "$INI" ]; then
  tmp="$INI.tmp.$$"
  cat <<INI | sed 's/$/\r/' | iconv -f UTF-8 -t WINDOWS-1252 > "$tmp"
[QV]
Versao=4.2
Data=09/12/2026
TIPO=3
TipoCone=4
FatorCorrecao=1.0
Z0=70.0
[DIRETORIOS]
DIRQV=$DIRQV
EXAMES=$DIRQV/Exames
BANCODADOS=$DIRQV/Banco de Dados
EXEMPLOS=$DIRQV/Exemplos
LAUDOS=$DIRQV/Laudos
[MODULOS]
DIGITALIZACAO=$BIN/Grabmod.so
DIGITALIZACAO_ORTO=$BIN/GrabmodOrto.so
PROCESSAMENTO=$BIN/Processamento.so
PROCESSAMENTO_ORTO=$BIN/ProcessamentoOrto.so
DIRMAPAS=$DIRQV/Mapas
ULTIMACALIB=
AUTO=0
[BACKUP]
MODULO=$BIN/Backup.so
AUTO=0
AUTO_OP1_1=7
AUTO_OP1_2=0
AUTO_OP2=20
[OPCOES]
DICAS=1
SalvarImagemCaptura=1
sImagemCentral=1
sImagemLateral=0
MapaPadraoNovoExame=Axial
TreeViewNodes=
AUTOINCMAP=0
INCMAP=0.50
AUTOANEIS=1
AUTOMINIMAPA=1
AUTOEXAME=0
INDICECONF=70
TIPOCERATOMETRIA=Simulada
QualidadeImagem=75
IDIOMA=Português
TVLCENTRAL=1
TINCREMENTO=2
AUTOPCAPTURA=0
DELAYAUTOPCAPTURA=500
PASSOMOTORX=0
PASSOMOTORY=0
TIPOCALIBRADOR=1
EXIBIRINDICEMAPA=0
[CLINICA]
NOME=Clínica de Demonstração
ENDERECO=Rua das Acácias, 100
CidadeEst=São Paulo - SP
TELEFONE=(11) 3000-0000
OPT1=1
OPT2=1
OPT3=0
MEDICOATIVO=
PACIENTEATIVO=
[CAMERA]
BRILHO=128
CONTRASTE=64
CAMERACENTRAL=0
CAMERALATERAL=1
CONECTORCENTRAL=Composto
CONECTORLATERALD=
CONECTORLATERALS=
[SERIAL]
COM=COM1
[MAPA]
EXIBEGRADE=1
EXIBECERATOMETRIAPONTUAL=0
CORCERATOMETRIAPONTUAL=Preta
INI
  mv "$tmp" "$INI"
else
  "$INITOOL" "$INI" MODULOS DIGITALIZACAO "$BIN/Grabmod.so"
  "$INITOOL" "$INI" MODULOS DIGITALIZACAO_ORTO "$BIN/GrabmodOrto.so"
  "$INITOOL" "$INI" MODULOS PROCESSAMENTO "$BIN/Processamento.so"
  "$INITOOL" "$INI" MODULOS PROCESSAMENTO_ORTO "$BIN/ProcessamentoOrto.so"
  "$INITOOL" "$INI" BACKUP MODULO "$BIN/Backup.so"
fi
# The clinic's settings are no business of the computer's other accounts (an older
# installation's file, made 0644, is closed too); the owner and the group keep their rights.
chmod o= "$INI"

# The capture module looks for the settings of its own model folder (Orvent/Orvent.ini); a
# link makes both readers use the one file, so the camera values it writes reach the program.
mkdir -p "$ROOT/Orvent"
if [ ! -e "$ROOT/Orvent/Orvent.ini" ] || [ -L "$ROOT/Orvent/Orvent.ini" ]; then
  ln -sfn ../OrventDuo/Orvent.ini "$ROOT/Orvent/Orvent.ini"
fi

# Database: a copy of the database the build made from the schema, only when there is none.
# A new one gets the demonstration clinic before it takes its name, so the database appears
# whole or not at all; when the clinic cannot be made (an exam file of an earlier installation
# in the way, ...) the database stays empty and the script says why.
DB="$DIRQV/Banco de Dados/DATABASE.GDB"
if [ ! -e "$DB" ]; then
  cp "$BUILD/data/template.gdb" "$DB.tmp.$$"
  if [ "${NORVIX_DEMO_CLINICA:-1}" != 0 ] && [ -x "$BIN/mkclinica" ]; then
    "$BIN/mkclinica" "$ROOT" "$DB.tmp.$$" >/dev/null ||
      echo "Aviso: a clínica de demonstração não foi criada; o banco de dados fica vazio." >&2
  fi
  mv "$DB.tmp.$$" "$DB"
fi

# Backup bookkeeping, in the installation and beside the program. The backup medium of the
# demonstration is a folder of its own (drive E:), so a backup and a restore need no disk; a
# bookkeeping file that names no folder for E: gets this one.
MIDIA="$ROOT/Disco de Backup"
mkdir -p "$MIDIA"
chmod o= "$MIDIA"
for f in "$DIRQV/BackUp.ini" "$BIN/BackUp.ini"; do
  if [ ! -f "$f" ]; then
    printf '[BACKUP]\r\nTipoBkp=ZIP\r\nDirectCD=\r\nDiscoAtual=1\r\nArquivoAtual=1\r\nNumArquivos=0\r\nNumArquivosLau=0\r\nNumExamDisco=0\r\nNumLauDisco=0\r\nArquivosGeral=0\r\nNumExamGeral=0\r\nUltDsk=01/01/2007 00:00:00\r\nUltBkp=01/01/2007 00:00:00\r\nBackupZerado=0\r\nDrive=E\r\n[UNIDADES]\r\nE=%s\r\n' "$MIDIA" > "$f.tmp.$$"
    mv "$f.tmp.$$" "$f"
  elif ! "$INITOOL" "$f" UNIDADES E >/dev/null; then
    "$INITOOL" "$f" UNIDADES E "$MIDIA"
  fi
  chmod o= "$f"
done

# Pictures of the main window (existing ones kept) and the help pages.
"$BIN/mkskin" "$DIRQV/imgs"
cp -f "$SRC"/data/ajuda/AjudaPrincipal/* "$DIRQV/ajuda/AjudaPrincipal/"

# Map modules: links to what the build produced, with their button pictures.
for m in "$BIN"/Halden.so "$BIN"/Sorvik.so "$BIN"/Ambrel.so "$BIN"/Truvan.so "$BIN"/Quessel.so "$BIN"/Fennic.so; do
  [ -f "$m" ] || continue
  ln -sfn "$m" "$DIRQV/Mapas/$(basename "$m")"
  bmp="${m%.so}.bmp"
  [ -f "$bmp" ] && ln -sfn "$bmp" "$DIRQV/Mapas/$(basename "$bmp")"
done
# The elevation and refractive maps, and the aberrometry module (a single-map button whose
# click the browser turns into its aberrometry call).
for m in "$BIN"/Brennor.so "$BIN"/Lumeva.so "$BIN"/Wendle.so; do
  [ -f "$m" ] || continue
  ln -sfn "$m" "$DIRQV/Mapas/$(basename "$m")"
done
# The contact-lens module: its button's click becomes the browser's lens-fitting call.
if [ -f "$BIN/Cadro.so" ]; then
  ln -sfn "$BIN/Cadro.so" "$DIRQV/Mapas/Cadro.so"
fi

# Example exams (the tool never overwrites an existing file). NORVIX_DEMO_EXAMPLES=0 leaves
# them out, for tests that need an installation but not its examples.
if [ "${NORVIX_DEMO_EXAMPLES:-1}" != 0 ] && [ -x "$BIN/mkexemplos" ]; then
  "$BIN/mkexemplos" "$DIRQV/Exemplos" >/dev/null
fi

# A calibration of the simulated instrument (cone 4, 32 rings, as the settings above), made
# with its four spheres: exporting and measuring then work as on a calibrated instrument. The
# tool never replaces an existing calibration.
if [ -x "$BIN/mkcalibracao" ] && [ ! -e "$DIRQV/Calibração/Coef.txt" ]; then
  if "$BIN/mkcalibracao" "$DIRQV/Calibração" 4 32 >/dev/null; then
    # The calibration window shows when the instrument was last calibrated.
    "$INITOOL" "$INI" MODULOS ULTIMACALIB "$(date '+%d/%m/%Y %H:%M:%S')"
  fi
fi

echo "$ROOT"
