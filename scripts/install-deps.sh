#!/usr/bin/env bash
# Installs the Debian packages the build, the demo and the tests need.
# Safe to run again: it only installs what is missing. Needs root (or sudo).
set -euo pipefail

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

for p in cmake make g++ mingw-w64 wine wine32:i386 xvfb cups printer-driver-cups-pdf \
         poppler-utils imagemagick googletest libgtest-dev python3 x11-utils \
         clang libclang-rt-14-dev libcups2:i386; do
    have "$p" || need+=("$p")
done

if [ ${#need[@]} -eq 0 ]; then
    exit 0
fi

echo "Installing: ${need[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" wine64 >/dev/null
