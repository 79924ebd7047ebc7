# Sourced: turns a printed reply sheet, rasterised at 300 dpi, into what a desk receives.
#   degrade PNG OUT.tif XDPI YDPI   a fax (204 x 196 fine, 204 x 98 standard) or a 300 dpi scan:
#                                   skewed, shifted, scaled, noised, one bit, Group 4 TIFF
#   scan PNG OUT.jpg                a letter's flatbed scan at 200 dpi, grey or colour, JPEG
# Both draw from the deterministic stream in rand_state (set it to a seed first), so the same
# seed degrades the same pages alike. Needs ImageMagick's convert and awk.
: "${rand_state:=1}"

# A deterministic random stream for the degradations, one value per call. The value goes into
# a variable, not to standard output: in a command substitution the stream would not advance,
# and every page would be degraded alike.
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
