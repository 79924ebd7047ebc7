#!/usr/bin/env bash
# Builds VelkRun and shows it on a demo product folder with the German demo settings, then takes
# what it sent to the registration desk.
# With a display, the reminder window (long form) opens and stays until you close it; then a
# typical registration runs under Xvfb as below, and the review station stays open on the demo
# database, its address printed, until Ctrl+C.
# Without one, a typical registration is walked through under Xvfb inside a Wine virtual
# desktop, and its screenshots (reminder, form, notice, mail explanation, Print dialog and the
# printed page) are saved in build/demo/screenshots. Then, natively, at the desk: a fresh
# database in build/demo/desk imports the mail VelkRun handed to the (test) mail program and its
# printed sheet as a fine fax (same answers: one registration, the other its further source); a
# third customer registers through `velkdesk form` in a headless Chromium; the export must hold
# that one exactly as typed beside what came by mail and fax (scripts/demo/desk_demo.py fails
# loudly otherwise); and screenshots of the review station's queue and of a registration with
# its doubts join VelkRun's. Installs what is missing.
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

out="$VELK_BUILD/demo/screenshots"
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
    # However VelkRun was left, the demo goes on to the desk.
    (cd "$product" && wine VelkRun.exe "$key" NichtErinnern "https://www.velk-media.de/registrierung" VM-2027-ATL \
        "VELK Media Atlas 2027" "$(winepath -w "$product/Atlas.exe")" /start) || true
    # The registration the desk receives is typed in by the tour, out of sight on Xvfb.
    echo "Next: a typical registration under Xvfb, then the registration desk."
    velk_wine_stop
    unset DISPLAY
    VELK_WINE_DESKTOP=1280x1024
    velk_wine_start
fi

cmake --build "$VELK_BUILD/win" -j "$jobs" --target e2e_tour_test
bash scripts/printer-setup.sh

shots="$VELK_BUILD/win/screenshots"
drop="$VELK_BUILD/win/bin/tour-desk"
rm -f "$shots"/tour_*
rm -rf "$drop"
(cd "$VELK_BUILD/win" && wine bin/e2e_tour_test.exe >"$VELK_BUILD/demo-tour.log" 2>&1) ||
    { cat "$VELK_BUILD/demo-tour.log"; exit 1; }
velk_wine_stop

rm -rf "$out"
mkdir -p "$out"
for f in "$shots"/tour_*; do
    name=$(basename "${f%.*}")
    convert "$f" "$out/${name#tour_}.png"
done
if [ "$headless" = 1 ]; then
    echo "No display: a typical registration ran under Xvfb. Screenshots in $out:"
    ls "$out"
fi

# The registration desk, natively: the mail as it arrived, the printed sheet as a fine fax.
echo "== the registration desk"
cmake -S . -B "$VELK_BUILD/desk-release" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$VELK_BUILD/desk-release" -j "$jobs" --target velkdesk >/dev/null
velkdesk="$VELK_BUILD/desk-release/bin/velkdesk"
desk="$VELK_BUILD/demo/desk"
rm -rf "$desk"
mkdir -p "$desk/inbox"
cp "$drop/registration.eml" "$desk/inbox/"
pdftoppm -r 300 -gray -png -singlefile "$drop/sheet.pdf" "$desk/sheet"
rand_state=2027  # the same seed degrades the same page alike
# shellcheck source=../bench/sheets/degrade.sh
. bench/sheets/degrade.sh
degrade "$desk/sheet.png" "$desk/inbox/fax-fine.tif" 204 196
rm -f "$desk/sheet.png"
db="$desk/velkdesk.db"
# Mail and sheet carry the same answers, so the desk keeps them as one registration. The fax is
# taken first: the registration then shows the sheet's doubts, and the mail is its further source.
# Imported from the desk's folder, so the registrations name their sources as inbox/...
(cd "$desk" && "$velkdesk" --db "$db" import inbox/fax-fine.tif && "$velkdesk" --db "$db" import inbox/registration.eml)

if [ "$headless" = 1 ]; then
    /usr/bin/python3 scripts/demo/desk_demo.py --velkdesk "$velkdesk" --db "$db" --expect mail,fax --screenshots "$out"
    echo "Registration desk: database $db; the station's screenshots in $out:"
    ls "$out"/*desk*
else
    /usr/bin/python3 scripts/demo/desk_demo.py --velkdesk "$velkdesk" --db "$db" --expect mail,fax --serve
fi
