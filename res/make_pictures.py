#!/usr/bin/python3
"""Draws VelkRun's pictures and writes the files that windres takes:

  background.bmp  runner background, 528 x 326, 24 bit, uncompressed
  logo.bmp        logo of the printed reply sheet, 128 x 62, 24 bit BI_RGB, 72 dpi,
                  a complete BMP file of 23,864 bytes (stored whole as a "USER" resource)
  VelkRun.ico     32 x 32 and 16 x 16 at 256 colours, BMP images with AND masks

Needs Debian's python3-pil and the fonts-liberation TrueType files. Nothing random is used, so
the same packages give the same bytes. Run it from anywhere; it writes next to itself.
"""

import os
import struct
import sys

from PIL import Image, ImageChops, ImageDraw, ImageFilter, ImageFont

HERE = os.path.dirname(os.path.abspath(__file__))
FONT_DIR = "/usr/share/fonts/truetype/liberation"
FONT_BOLD = os.path.join(FONT_DIR, "LiberationSans-Bold.ttf")
FONT_REGULAR = os.path.join(FONT_DIR, "LiberationSans-Regular.ttf")

# Brand colours.
NAVY = (15, 45, 92)
BLUE_LIGHT = (52, 128, 220)
BLUE_DARK = (14, 58, 128)
ORANGE = (246, 150, 30)
GREY_TEXT = (78, 88, 104)
WHITE = (255, 255, 255)

SS = 4  # supersampling factor for smooth edges


def font(path, size):
    return ImageFont.truetype(path, size)


def lerp(a, b, t):
    return tuple(int(round(x + (y - x) * t)) for x, y in zip(a, b))


def vertical_gradient(size, top, bottom):
    w, h = size
    img = Image.new("RGB", size)
    px = img.load()
    for y in range(h):
        c = lerp(top, bottom, y / max(h - 1, 1))
        for x in range(w):
            px[x, y] = c
    return img


def brand_mark(size):
    """The mark: a rounded blue square with a white V whose right arm is orange. Returned as an
    RGBA image of size x size; the strokes stay thick enough to read at 16 x 16."""
    s = size * SS
    tile = vertical_gradient((s, s), BLUE_LIGHT, BLUE_DARK).convert("RGBA")
    mask = Image.new("L", (s, s), 0)
    ImageDraw.Draw(mask).rounded_rectangle((0, 0, s - 1, s - 1), radius=int(s * 0.22), fill=255)
    tile.putalpha(mask)

    d = ImageDraw.Draw(tile)
    stroke = s * 0.19
    top = s * 0.22
    bottom = s * 0.80
    left = s * 0.17
    right = s * 0.83
    mid = s / 2
    # Each arm is a parallelogram; the two meet in a pointed foot.
    left_arm = [(left, top), (left + stroke, top), (mid + stroke * 0.5, bottom), (mid - stroke * 0.5, bottom)]
    right_arm = [(right - stroke, top), (right, top), (mid + stroke * 0.5, bottom), (mid, bottom - stroke * 0.9)]
    d.polygon(left_arm, fill=WHITE + (255,))
    d.polygon(right_arm, fill=ORANGE + (255,))
    # A soft highlight across the upper half gives the tile some depth.
    gloss = Image.new("L", (s, s), 0)
    ImageDraw.Draw(gloss).ellipse((-s * 0.5, -s * 1.05, s * 1.5, s * 0.42), fill=38)
    gloss = ImageChops.multiply(gloss, mask)
    tile = Image.composite(Image.new("RGBA", (s, s), WHITE + (255,)), tile, gloss)
    tile.putalpha(mask)
    return tile.resize((size, size), Image.LANCZOS)


def write_bmp24(path, img, ppm, pad_file_to=1):
    """Writes a bottom-up 24-bit BI_RGB BMP without colour table. pad_file_to rounds the file
    size up with zero bytes after the pixels, counted in biSizeImage as image editors do."""
    img = img.convert("RGB")
    w, h = img.size
    row_bytes = (w * 3 + 3) & ~3
    px = img.load()
    rows = []
    for y in range(h - 1, -1, -1):
        row = bytearray()
        for x in range(w):
            r, g, b = px[x, y]
            row += bytes((b, g, r))
        row += b"\0" * (row_bytes - len(row))
        rows.append(bytes(row))
    pixels = b"".join(rows)
    total = 14 + 40 + len(pixels)
    tail = (-total) % pad_file_to
    pixels += b"\0" * tail
    total += tail
    file_header = struct.pack("<2sIHHI", b"BM", total, 0, 0, 54)
    info_header = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(pixels), ppm, ppm, 0, 0)
    with open(path, "wb") as f:
        f.write(file_header + info_header + pixels)


def write_ico(path, images):
    """Writes classic icon images: 8 bpp with a 256-entry palette, the XOR bitmap bottom-up and
    a 1-bit AND mask (1 = transparent). Transparent pixels point at black so that the XOR
    leaves the screen as it was."""
    blobs = []
    for rgba in images:
        w, h = rgba.size
        alpha = rgba.getchannel("A").point(lambda a: 255 if a >= 128 else 0)
        opaque = Image.new("RGB", rgba.size, (0, 0, 0))
        opaque.paste(rgba.convert("RGB"), (0, 0), alpha)
        # 255 colours for the picture, entry 0 stays black for the transparent pixels.
        quant = opaque.quantize(colors=255, method=Image.MEDIANCUT, dither=Image.NONE)
        pal = quant.getpalette()[: 255 * 3]
        pal += [0] * (255 * 3 - len(pal))
        palette = [(0, 0, 0)] + [tuple(pal[i:i + 3]) for i in range(0, 255 * 3, 3)]
        qpx = quant.load()
        apx = alpha.load()
        xor_row = (w + 3) & ~3
        and_row = ((w + 31) // 32) * 4
        xor = bytearray()
        andm = bytearray()
        for y in range(h - 1, -1, -1):
            row = bytearray(xor_row)
            bits = bytearray(and_row)
            for x in range(w):
                if apx[x, y]:
                    row[x] = qpx[x, y] + 1
                else:
                    bits[x // 8] |= 0x80 >> (x % 8)
            xor += row
            andm += bits
        header = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 8, 0, len(xor) + len(andm), 0, 0, 256, 0)
        pal_bytes = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
        blobs.append((w, h, header + pal_bytes + bytes(xor) + bytes(andm)))

    out = struct.pack("<HHH", 0, 1, len(blobs))
    offset = 6 + 16 * len(blobs)
    for w, h, blob in blobs:
        out += struct.pack("<BBBBHHII", w & 0xFF, h & 0xFF, 0, 0, 1, 8, len(blob), offset)
        offset += len(blob)
    for _, _, blob in blobs:
        out += blob
    with open(path, "wb") as f:
        f.write(out)


def make_logo():
    """Brand logo for the top right corner of the reply sheet: dark on white, so it survives
    a black-and-white fax."""
    w, h = 128, 62
    s = SS
    img = Image.new("RGBA", (w * s, h * s), WHITE + (255,))
    mark_size = 40
    mark = brand_mark(mark_size).resize((mark_size * s, mark_size * s), Image.LANCZOS)
    img.alpha_composite(mark, (2 * s, (h - mark_size) // 2 * s))

    d = ImageDraw.Draw(img)
    x0 = 47 * s
    x1 = (w - 3) * s
    # "VELK" as large as fits between the mark and the right edge.
    size = 40
    while True:
        velk = font(FONT_BOLD, size * s)
        bbox = d.textbbox((0, 0), "VELK", font=velk)
        if bbox[2] - bbox[0] <= x1 - x0:
            break
        size -= 1
    top = 12 * s
    d.text((x0 - bbox[0], top - bbox[1]), "VELK", font=velk, fill=NAVY + (255,))
    cap_bottom = top + bbox[3] - bbox[1]
    # A thin orange rule under the name ties the word mark to the symbol.
    rule_y = cap_bottom + 3 * s
    d.rectangle((x0, rule_y, x1, rule_y + s), fill=ORANGE + (255,))
    # "Media" spread over the same width, letter by letter.
    media = font(FONT_BOLD, 14 * s)
    letters = "Media"
    boxes = [d.textbbox((0, 0), ch, font=media) for ch in letters]
    inked = sum(b[2] - b[0] for b in boxes)
    gap = ((x1 - x0) - inked) / (len(letters) - 1)
    y_media = rule_y + 4 * s
    mb = d.textbbox((0, 0), "M", font=media)
    x = x0
    for ch, b in zip(letters, boxes):
        d.text((x - b[0], y_media - mb[1]), ch, font=media, fill=GREY_TEXT + (255,))
        x += (b[2] - b[0]) + gap
    return img.resize((w, h), Image.LANCZOS).convert("RGB")


def make_background():
    """Runner background: a deep blue field with soft rings and light on the right, a dark
    calm area top left for the white reminder text, and a quiet footer strip behind the
    buttons with the brand in its right corner."""
    w, h = 528, 326
    s = SS
    top_left = (6, 20, 48)
    bottom_right = (16, 52, 110)
    base = Image.new("RGB", (w, h))
    px = base.load()
    for y in range(h):
        for x in range(w):
            # Mostly diagonal, weighted so that the left stays darkest.
            t = min(1.0, (0.75 * x / w + 0.45 * y / h) ** 1.6)
            px[x, y] = lerp(top_left, bottom_right, t)
    img = base.convert("RGBA")

    # Soft glow to the upper right.
    glow = Image.new("L", (w, h), 0)
    ImageDraw.Draw(glow).ellipse((360, -120, 700, 200), fill=90)
    glow = glow.filter(ImageFilter.GaussianBlur(60))
    img = Image.composite(Image.new("RGBA", (w, h), (70, 140, 230, 255)), img, glow)

    # Concentric rings around a centre beyond the right edge, fading out to the left.
    rings = Image.new("RGBA", (w * s, h * s), (0, 0, 0, 0))
    rd = ImageDraw.Draw(rings)
    cx, cy = 600 * s, 40 * s
    for i, r in enumerate(range(90, 520, 34)):
        alpha = max(0, 46 - i * 3)
        rd.ellipse((cx - r * s, cy - r * s, cx + r * s, cy + r * s), outline=(150, 200, 255, alpha), width=int(1.2 * s))
    rings = rings.resize((w, h), Image.LANCZOS)
    fade = Image.linear_gradient("L").rotate(90).resize((w, h))  # 255 at the left, 0 at the right
    fade = ImageChops.invert(fade).point(lambda v: min(255, int(v * 1.6)))
    rings.putalpha(ImageChops.multiply(rings.getchannel("A"), fade))
    img.alpha_composite(rings)

    # A large, faint V of the brand on the right, half hidden by the glow.
    wm = Image.new("RGBA", (w * s, h * s), (0, 0, 0, 0))
    wd = ImageDraw.Draw(wm)
    vx, vy, vw, vh, st = 340 * s, 40 * s, 200 * s, 190 * s, 44 * s
    mid = vx + vw / 2
    wd.polygon([(vx, vy), (vx + st, vy), (mid + st / 2, vy + vh), (mid - st / 2, vy + vh)], fill=(120, 180, 255, 15))
    wd.polygon([(vx + vw - st, vy), (vx + vw, vy), (mid + st / 2, vy + vh), (mid, vy + vh - st * 0.9)], fill=(255, 170, 60, 16))
    img.alpha_composite(wm.resize((w, h), Image.LANCZOS).filter(ImageFilter.GaussianBlur(1.2)))

    # Footer strip behind the buttons: flat, slightly darker, with a fine highlight line.
    strip_top = 254
    footer = vertical_gradient((w, h - strip_top), (9, 28, 62), (5, 17, 40)).convert("RGBA")
    footer.putalpha(235)
    img.alpha_composite(footer, (0, strip_top))
    line = Image.new("RGBA", (w, 1), (0, 0, 0, 0))
    lp = line.load()
    for x in range(w):
        # Brightest in the middle, fading to nothing at both ends.
        t = 1 - abs(x - w / 2) / (w / 2)
        lp[x, 0] = (110, 165, 235, int(150 * t ** 0.7))
    img.alpha_composite(line, (0, strip_top))
    accent = Image.new("RGBA", (w, 1), (0, 0, 0, 0))
    ap = accent.load()
    for x in range(w):
        t = max(0.0, 1 - abs(x - w / 2) / 90)
        ap[x, 0] = ORANGE + (int(170 * t),)
    img.alpha_composite(accent, (0, strip_top + 1))

    # Brand in the lower right corner, clear of both button rows.
    mark = brand_mark(18)
    img.alpha_composite(mark, (430, 300))
    tl = Image.new("RGBA", (100 * s, 24 * s), (0, 0, 0, 0))
    td = ImageDraw.Draw(tl)
    fb = font(FONT_BOLD, 12 * s)
    fr = font(FONT_REGULAR, 12 * s)
    bb = td.textbbox((0, 0), "VELK", font=fb)
    td.text((0, 6 * s - bb[1]), "VELK", font=fb, fill=(235, 242, 252, 255))
    td.text((bb[2] + 3 * s, 6 * s - bb[1]), "Media", font=fr, fill=(160, 190, 230, 255))
    img.alpha_composite(tl.resize((100, 24), Image.LANCZOS), (452, 297))
    return img.convert("RGB")


def make_icon_images():
    return [brand_mark(32), brand_mark(16)]


def main():
    for path in (FONT_BOLD, FONT_REGULAR):
        if not os.path.exists(path):
            sys.exit("missing font %s (apt-get install fonts-liberation)" % path)
    # 3780 px/m is 96 dpi, the screen; the logo is laid out in points, 2834 px/m is 72 dpi.
    write_bmp24(os.path.join(HERE, "background.bmp"), make_background(), 3780)
    # Pixel rows of 384 bytes give 23,862 bytes; the file is padded to a multiple of four.
    write_bmp24(os.path.join(HERE, "logo.bmp"), make_logo(), 2834, pad_file_to=4)
    write_ico(os.path.join(HERE, "VelkRun.ico"), make_icon_images())


if __name__ == "__main__":
    main()
