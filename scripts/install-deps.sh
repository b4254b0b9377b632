#!/usr/bin/env bash
# Installs the Debian packages the build, the demonstration installation and the tests need.
# Quick when everything is present: dpkg is asked first, apt only for what is missing.
set -euo pipefail

PACKAGES=(
  cmake ninja-build ccache g++ clang desktop-file-utils libclang-rt-14-dev pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  firebird-dev libfbclient2 firebird3.0-server-core firebird3.0-server firebird3.0-utils
  libjpeg62-turbo-dev libgif-dev libv4l-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  poppler-utils fonts-liberation qt6-translations-l10n xvfb openbox x11-utils
  dosfstools libssl-dev
  libdcmtk-dev dcmtk dicom3tools orthanc
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Instalando pacotes: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then SUDO=sudo; else
    echo "É preciso ser root (ou ter sudo) para instalar: ${missing[*]}" >&2; exit 1
  fi
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q >/dev/null || true
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
