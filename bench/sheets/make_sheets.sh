#!/usr/bin/env bash
# Makes faxed and scanned reply sheets the honest way: random records, printed by VelkRun's own
# print route under Wine to the CUPS PDF printer, rasterised at 300 dpi, then turned into what
# a desk receives: a 300 dpi scan, fax fine (204 x 196) and fax standard (204 x 98), each
# skewed up to 2 degrees, shifted, slightly scaled, noised, thresholded to one bit, some with a
# fax header line and some upside down, stored as Group 4 TIFF; and a letter's scan at the low end
# of what post brings: 200 dpi, grey or colour on tinted paper, blurred a little, JPEG.
#   make_sheets.sh COUNT SEED OUTDIR
# OUTDIR gets records.tsv (the truth, Windows code page), pdf/, and 300/, fine/, standard/, post/.
# A kind of page already made for every sheet is not made again.
# Needs the Windows build (sheet_print.exe) in $VELK_BUILD/win.
set -euo pipefail
count=$1 seed=$2 out=$3
repo=$(cd "$(dirname "$0")/../.." && pwd)
: "${VELK_BUILD:=$repo/build}"
export VELK_BUILD
mkdir -p "$out/pdf" "$out/300" "$out/fine" "$out/standard" "$out/post"
out=$(cd "$out" && pwd)

python3 "$repo/bench/sheets/make_records.py" "$count" "$seed" "$out/records.tsv"

# shellcheck source=../../scripts/wine-env.sh
. "$repo/scripts/wine-env.sh"
trap velk_wine_stop EXIT
velk_wine_start
bash "$repo/scripts/printer-setup.sh" 2>/dev/null || true
# Printing is skipped when an earlier run already printed this set.
[ "$(ls "$out/pdf" | wc -l)" -ge "$count" ] ||
    wine "$VELK_BUILD/win/bin/sheet_print.exe" "$(winepath -w "$out/records.tsv")" "$(winepath -w "$out/pdf")"

# The degradations and their random stream (rand_state), shared with the demo.
rand_state=$seed
# shellcheck source=degrade.sh
. "$repo/bench/sheets/degrade.sh"

# The faxes' random stream is the one the sets were first made with; the scans have their own,
# so that adding them left every fax page as it was.
if [ "$(ls "$out/standard" | wc -l)" -lt "$count" ]; then
    for pdf in "$out"/pdf/*.pdf; do
        n=$(basename "$pdf" .pdf)
        pdftoppm -r 300 -gray -png -singlefile "$pdf" "$out/page"
        degrade "$out/page.png" "$out/300/$n.tif" 300 300
        degrade "$out/page.png" "$out/fine/$n.tif" 204 196
        degrade "$out/page.png" "$out/standard/$n.tif" 204 98
    done
fi
if [ "$(ls "$out/post" | wc -l)" -lt "$count" ]; then
    rand_state=$(( (seed + 7919) % 2147483648 ))
    for pdf in "$out"/pdf/*.pdf; do
        n=$(basename "$pdf" .pdf)
        pdftoppm -r 300 -gray -png -singlefile "$pdf" "$out/page"
        scan "$out/page.png" "$out/post/$n.jpg"
    done
fi
rm -f "$out/page.png"
echo "make_sheets: $(ls "$out"/pdf | wc -l) sheets in $out"
