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

# A deterministic random stream for the degradations, one value per call. The value goes into
# a variable, not to standard output: in a command substitution the stream would not advance,
# and every page would be degraded alike.
rand_state=$seed
rnd() {  # rnd VAR MIN MAX -> VAR = a decimal between them
    rand_state=$(( (rand_state * 1103515245 + 12345) % 2147483648 ))
    printf -v "$1" '%s' "$(awk -v r="$rand_state" -v a="$2" -v b="$3" 'BEGIN { printf "%.3f", a + (b - a) * r / 2147483648 }')"
}

degrade() {  # degrade PNG OUT.tif XDPI YDPI
    local png=$1 tif=$2 xdpi=$3 ydpi=$4
    local angle sx sy dx dy noise nseed turn flip=() header=() squash=()
    rnd angle -2 2
    rnd sx 98.5 101.5
    rnd sy 98.5 101.5
    rnd dx -30 30
    rnd dy -30 30
    dx=${dx%%.*} dy=${dy%%.*}
    rnd noise 0.03 0.15
    # ImageMagick seeds its noise from the clock unless told: the same set must come out alike.
    rnd nseed 1 1000000
    nseed=${nseed%%.*}
    rnd turn 0 1
    [ "$turn" \< "0.100" ] && flip=(-rotate 180)
    if [ "$xdpi" != 300 ]; then
        header=(-font DejaVu-Sans-Mono -pointsize 20
                -draw "text 40,30 '07-DEZ-2026 14:32   FAX +49 40 1234567   VELK-KUNDE   S. 01/01'")
    fi
    # The paper is skewed and scaled as a whole (square pixels: at fine resolution for faxes),
    # and only then sampled at the fax's own line pitch.
    local sq=$xdpi
    [ "$ydpi" = 98 ] && squash=(-resize "100%x50%!")
    [ "$ydpi" = 98 ] && sq=196
    local w h
    w=$(awk -v x="$xdpi" 'BEGIN{printf "%d", 2480*x/300}')
    h=$(awk -v y="$sq" 'BEGIN{printf "%d", 3508*y/300}')
    convert "$png" -resize "$(awk -v x="$xdpi" -v s="$sx" 'BEGIN{print x/300*s}')%x$(awk -v y="$sq" -v s="$sy" 'BEGIN{print y/300*s}')%!" \
        -background white -rotate "$angle" +repage -gravity center -extent "${w}x${h}" +gravity \
        -roll "$(printf '%+d%+d' "$dx" "$dy")" "${header[@]}" "${squash[@]}" \
        -seed "$nseed" -attenuate "$noise" +noise Impulse -threshold 55% "${flip[@]}" \
        -units PixelsPerInch -density "${xdpi}x${ydpi}" -monochrome -compress Group4 "$tif"
}

scan() {  # scan PNG OUT.jpg: a flatbed scan of the letter, grey or colour, at 200 dpi
    local png=$1 jpg=$2
    local angle s dx dy blur noise nseed turn colour quality flip=() tint=() grey=(-colorspace Gray)
    rnd angle -2 2
    rnd s 98.5 101.5
    rnd dx -30 30
    rnd dy -30 30
    dx=${dx%%.*} dy=${dy%%.*}
    rnd blur 0.3 0.8
    rnd noise 0.1 0.4
    rnd nseed 1 1000000
    nseed=${nseed%%.*}
    rnd turn 0 1
    [ "$turn" \< "0.100" ] && flip=(-rotate 180)
    rnd colour 0 1
    [ "$colour" \< "0.500" ] && tint=(-type TrueColor -fill '#f2e8c8' -colorize 30) && grey=()
    rnd quality 60 90
    quality=${quality%%.*}
    convert "$png" -resize "$(awk -v s="$s" 'BEGIN{print 200/300*s}')%" \
        -background white -rotate "$angle" +repage -gravity center -extent 1654x2339 +gravity \
        -roll "$(printf '%+d%+d' "$dx" "$dy")" -blur "0x$blur" "${tint[@]}" \
        -seed "$nseed" -attenuate "$noise" +noise Gaussian "${grey[@]}" "${flip[@]}" \
        -units PixelsPerInch -density 200 -quality "$quality" "$jpg"
}

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
