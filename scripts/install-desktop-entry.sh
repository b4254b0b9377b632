#!/usr/bin/env bash
# Puts the program into the desktop's application menu for this user (freedesktop.org desktop
# entry and icon under $XDG_DATA_HOME, default ~/.local/share) and prints the entry's path.
#   scripts/install-desktop-entry.sh <NORVIX_ROOT>
set -euo pipefail
SRC="$(cd "$(dirname "$0")/.." && pwd)"
ROOT="$1"
DATA="${XDG_DATA_HOME:-$HOME/.local/share}"
APPS="$DATA/applications"
ICONS="$DATA/icons/hicolor/scalable/apps"
mkdir -p "$APPS" "$ICONS"
install -m 0644 "$SRC/data/desktop/norvix-miral.svg" "$ICONS/norvix-miral.svg"

# An Exec argument in double quotes, escaped as the desktop entry rules ask; then the value's
# own backslashes doubled.
quote() {
  local s="$1"
  s="${s//\\/\\\\}"; s="${s//\"/\\\"}"; s="${s//\`/\\\`}"; s="${s//\$/\\\$}"
  s="\"$s\""
  printf '%s' "${s//\\/\\\\}"
}

entry="$APPS/norvix-miral.desktop"
tmp="$entry.tmp.$$"
cat > "$tmp" <<DESKTOP
[Desktop Entry]
Type=Application
Version=1.4
Name=Topógrafo de Córnea
GenericName=Topografia de córnea
Comment=Exames, mapas e laudos do topógrafo de córnea
Exec=env $(quote "NORVIX_ROOT=$ROOT") $(quote "$SRC/scripts/miral.sh")
Icon=norvix-miral
Terminal=false
Categories=Science;MedicalSoftware;
Keywords=córnea;topografia;oftalmologia;exame;
StartupNotify=true
DESKTOP
mv -f "$tmp" "$entry"
command -v update-desktop-database >/dev/null 2>&1 && update-desktop-database -q "$APPS" 2>/dev/null || true
echo "$entry"
