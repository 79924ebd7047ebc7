#!/usr/bin/env bash
# Builds VelkRun and shows it on a demo product folder with the German demo settings.
# With a display, the reminder window (long form) opens and stays until you close it.
# Without one, a typical registration is walked through under Xvfb inside a Wine virtual
# desktop, and its screenshots (reminder, form, notice, mail explanation, Print dialog and the
# printed page) are saved in build/demo/screenshots. Installs what is missing.
#   VELK_BUILD  build root (default: <repo>/build)
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"
bash scripts/install-deps.sh

: "${VELK_BUILD:=$repo/build}"
export VELK_BUILD
jobs=${VELK_JOBS:-2}
cmake -S . -B "$VELK_BUILD/win" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null

headless=0
if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then headless=1; unset DISPLAY; fi
# On a real display the reminder window opens among the user's own windows; headless, the
# prefix's virtual desktop gives the windows Wine-drawn frames and titles for the screenshots.
if [ "$headless" = 0 ]; then VELK_WINE_DESKTOP=""; fi
# shellcheck source=wine-env.sh
. scripts/wine-env.sh
trap velk_wine_stop EXIT
velk_wine_start

if [ "$headless" = 0 ]; then
    cmake --build "$VELK_BUILD/win" -j "$jobs" --target VelkRun product_standin
    product="$VELK_BUILD/demo/product"
    rm -rf "$product"
    mkdir -p "$product"
    cp "$VELK_BUILD/win/bin/VelkRun.exe" "$product/"
    cp "$VELK_BUILD/win/bin/product_standin.exe" "$product/Atlas.exe"
    cp scripts/demo/VelkRun.ini "$product/"
    # What the product's own launcher passes: opt-out key and value, online target, article
    # number, title, product program and its parameters.
    key='Software\VELK Media\Atlas 2027'
    wine reg delete "HKLM\\$key" /v NichtErinnern /f >/dev/null 2>&1 || true
    cd "$product"
    wine VelkRun.exe "$key" NichtErinnern "https://www.velk-media.de/registrierung" VM-2027-ATL \
        "VELK Media Atlas 2027" "$(winepath -w "$product/Atlas.exe")" /start
    exit 0
fi

cmake --build "$VELK_BUILD/win" -j "$jobs" --target e2e_tour_test
bash scripts/printer-setup.sh

shots="$VELK_BUILD/win/screenshots"
rm -f "$shots"/tour_*
(cd "$VELK_BUILD/win" && wine bin/e2e_tour_test.exe >"$VELK_BUILD/demo-tour.log" 2>&1) ||
    { cat "$VELK_BUILD/demo-tour.log"; exit 1; }

out="$VELK_BUILD/demo/screenshots"
rm -rf "$out"
mkdir -p "$out"
for f in "$shots"/tour_*; do
    name=$(basename "${f%.*}")
    convert "$f" "$out/${name#tour_}.png"
done
echo "No display: a typical registration ran under Xvfb. Screenshots in $out:"
ls "$out"
