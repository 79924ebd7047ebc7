#!/usr/bin/env bash
# Builds VelkRun and shows it on a demo product folder (long form: the reminder window).
# With a display, the window stays until you close it; without one, it runs under Xvfb and
# a screenshot is saved. Installs what is missing.
#   VELK_BUILD  build root (default: <repo>/build)
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"
bash scripts/install-deps.sh

: "${VELK_BUILD:=$repo/build}"
export VELK_BUILD
cmake -S . -B "$VELK_BUILD/win" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$VELK_BUILD/win" -j "${VELK_JOBS:-2}" --target VelkRun product_standin

demo="$VELK_BUILD/demo"
product="$demo/product"
rm -rf "$product"
mkdir -p "$product"
cp "$VELK_BUILD/win/bin/VelkRun.exe" "$product/"
cp "$VELK_BUILD/win/bin/product_standin.exe" "$product/Atlas.exe"
cp scripts/demo/VelkRun.ini "$product/"

headless=0
if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then headless=1; unset DISPLAY; fi
# shellcheck source=wine-env.sh
. scripts/wine-env.sh
trap velk_wine_stop EXIT
velk_wine_start

# The product's own launcher would pass these: opt-out key and value, online target,
# article number, title, product program and its parameters.
args=("Software\\VELK Media\\Atlas 2027" "NichtErinnern" "https://www.velk-media.de/registrierung"
      "VM-2027-ATL" "VELK Media Atlas 2027" "$(winepath -w "$product/Atlas.exe")" "/start")
# A demo should show the reminder: clear an opt-out left from an earlier run.
wine reg delete "HKLM\\Software\\VELK Media\\Atlas 2027" /v NichtErinnern /f >/dev/null 2>&1 || true

cd "$product"
if [ "$headless" = 0 ]; then
    wine VelkRun.exe "${args[@]}"
    exit 0
fi

# A Wine virtual desktop draws window frames and titles, which a bare Xvfb has no manager for.
wine explorer /desktop=velkdemo,1024x700 VelkRun.exe "${args[@]}" >/dev/null 2>&1 &
for _ in $(seq 1 150); do
    xwininfo -root -tree 2>/dev/null | grep -q "velkdemo" && break
    sleep 0.2
done
sleep 3  # let the dialog paint inside the desktop
shot="$demo/runner.png"
import -window root -crop 1024x700+0+0 "$shot"
echo "No display: VelkRun ran under Xvfb. Screenshot: $shot"
