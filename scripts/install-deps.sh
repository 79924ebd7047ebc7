#!/usr/bin/env bash
# Installs the Debian packages the build, the demo and the tests need.
# Safe to run again: it only installs what is missing. Needs root (or sudo).
set -euo pipefail

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

# Windows build and the Wine test bed. fonts-wine gives Wine its MS Sans Serif and Tahoma
# (scripts/wine-env.sh copies them into the prefix), fonts-liberation Arial's metrics: without
# them dialogs and the printed sheet change size. x11-utils has xdpyinfo, cups-client (with cups)
# lpstat and lpadmin, poppler-utils pdftotext for the printed pages, imagemagick convert for the
# screenshots, python3-pefile reads the built programs' headers and resources.
# Then the registration desk's libraries (mail, storage, page reading, command line);
# fonts-dejavu-core draws the fax header line on the sheet benchmark's pages. libxlsxwriter-dev
# writes velkdesk's XLSX export, python3-openpyxl reads it back in the tests; libtiff-dev
# writes and reads the stored page images in strips, so a field's rows decode on their own.
# The review station (velkdesk serve): libsodium hashes the clerks' passwords, libmicrohttpd
# serves the station, kainjow mustache renders its pages, nlohmann json answers its script;
# chromium, its driver and selenium run the station's browser test headless. libxml2-dev's HTML
# parser reads the online form's page where it is held against VelkRun's form.
for p in cmake make g++ pkgconf mingw-w64 wine wine32:i386 wine64 xvfb x11-utils \
         fonts-wine fonts-liberation cups printer-driver-cups-pdf libcups2:i386 \
         poppler-utils imagemagick libtiff-tools googletest libgtest-dev python3 python3-pefile \
         clang libclang-rt-14-dev \
         libgmime-3.0-dev libsqlite3-dev sqlite3 libcli11-dev \
         libtesseract-dev libleptonica-dev libtiff-dev tesseract-ocr-deu libpoppler-cpp-dev libfreetype-dev \
         fonts-dejavu-core libxlsxwriter-dev python3-openpyxl \
         libsodium-dev libmicrohttpd-dev libkainjow-mustache-dev nlohmann-json3-dev \
         chromium chromium-driver python3-selenium libxml2-dev; do
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
$SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
