#!/usr/bin/env python3
"""Generate the original artwork for the ORVEL Selvaro exam launcher.

Outputs (written into res/ next to this tools/ folder):
  res/background.jpg  941 x 1672 baseline JPEG (quality 85): a calm pale
                      sky-to-cream gradient, soft circles, faint pencil/book
                      motifs, gentle hills at the bottom and a navy/gold
                      school emblem (ring, open book, star) in the middle.
  res/app.ico         Windows icon with five PNG-compressed RGB images
                      (16, 32, 48, 64, 256 px) of the same emblem; the ICO
                      container is packed by this script.

Everything is drawn here with ImageMagick drawing primitives; no outside
artwork is used.  The script checks its own outputs and exits non-zero if
anything is wrong.

Re-run from the repository root with:
    python3 tools/make_art.py

Requires Python 3 and ImageMagick 6 at /usr/bin/convert.
"""

import math
import os
import shutil
import struct
import subprocess
import sys
import tempfile

CONVERT = "/usr/bin/convert"

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
RES = os.path.join(REPO, "res")
BG_PATH = os.path.join(RES, "background.jpg")
ICO_PATH = os.path.join(RES, "app.ico")

BG_W, BG_H = 941, 1672
BG_MAX_BYTES = 200 * 1024
ICON_SIZES = (16, 32, 48, 64, 256)

# Palette
NAVY = "#1d3461"
NAVY_DARK = "#14264a"
GOLD = "#d8a93b"
GOLD_DARK = "#a87c22"
GOLD_LIGHT = "#f0cd6e"
PAGE = "#fdfbf4"
PAGE_SHADE = "#e6e0cf"
PAGE_LINE = "#b9c3d3"

# Emblem placement on the background (centre and outer radius, pixels).
EMB_CX = BG_W / 2.0
EMB_CY = 0.465 * BG_H
EMB_R = 146.0

# Bands of the background that must stay light and quiet, as fractions of
# the height: title + paragraph area, and the form area.
QUIET_BANDS = ((0.11, 0.31), (0.57, 0.79))


def fail(msg):
    sys.stderr.write("make_art.py: ERROR: %s\n" % msg)
    sys.exit(1)


def run(args):
    try:
        res = subprocess.run(args, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE)
    except OSError as exc:
        fail("cannot run %s: %s" % (args[0], exc))
    if res.returncode != 0:
        fail("command failed (%d): %s\n%s" % (
            res.returncode, " ".join(args[:3]) + " ...",
            res.stderr.decode("utf-8", "replace")))
    return res.stdout.decode("utf-8", "replace")


def f(v):
    return "%.2f" % v


def pts(points):
    return " ".join("%s,%s" % (f(x), f(y)) for x, y in points)


def star_points(cx, cy, r_out, r_in, n=5, rot=-90.0):
    out = []
    for i in range(2 * n):
        r = r_out if i % 2 == 0 else r_in
        a = math.radians(rot + i * 180.0 / n)
        out.append((cx + r * math.cos(a), cy + r * math.sin(a)))
    return out


def emblem_mvg(cx, cy, R, detail=True, small=False):
    """MVG primitives for the round emblem with outer radius R."""
    s = R / 146.0
    d = []

    def circ(x, y, r):
        return "circle %s,%s %s,%s" % (f(x), f(y), f(x + r), f(y))

    # Gold outer ring with a darker rim.
    d.append("stroke %s stroke-width %s fill %s %s" % (
        GOLD_DARK, f(max(1.0, 3 * s)), GOLD, circ(cx, cy, R - 1.5 * s)))
    if small:
        # Tiny icon sizes: one thick plain ring reads best.
        d.append("stroke none fill %s %s" % (NAVY, circ(cx, cy, R - 20 * s)))
    else:
        # Lighter inner edge of the gold ring, then the navy disc.
        d.append("stroke none fill %s %s" % (
            GOLD_LIGHT, circ(cx, cy, R - 10 * s)))
        d.append("fill %s %s" % (NAVY, circ(cx, cy, R - 15 * s)))
    if detail:
        # Thin inner gold ring.
        d.append("fill none stroke %s stroke-width %s %s" % (
            GOLD, f(2.5 * s), circ(cx, cy, R - 25 * s)))
        # Small gold dots along the lower arc, like a laurel.
        rd = R - 38 * s
        for i in range(11):
            a = math.radians(25 + i * 13.0)
            x = cx + rd * math.cos(a)
            y = cy + rd * math.sin(a)
            d.append("stroke none fill %s %s" % (GOLD, circ(x, y, 3.2 * s)))

    # Open book: gold cover under a stack of white pages.
    if small:
        by, bw, bh, sag = cy + 4 * s, 90 * s, 60 * s, 14 * s
    else:
        by, bw, bh, sag = cy + 12 * s, 80 * s, 58 * s, 18 * s
    drop = sag * 0.45       # outer corners sit this much above the spine

    def edge(side, y_spine, y_outer, hump, xs=1.0):
        """Cubic from the spine to an outer corner of one page."""
        return ((cx, y_spine),
                (cx + side * bw * 0.3 * xs, y_spine - hump),
                (cx + side * bw * 0.7 * xs, y_spine - hump),
                (cx + side * bw * xs, y_outer))

    def bez(p, t):
        u = 1 - t
        return (u ** 3 * p[0][0] + 3 * u * u * t * p[1][0] +
                3 * u * t * t * p[2][0] + t ** 3 * p[3][0],
                u ** 3 * p[0][1] + 3 * u * u * t * p[1][1] +
                3 * u * t * t * p[2][1] + t ** 3 * p[3][1])

    def page_path(side, dy=0.0, xs=1.0):
        top = edge(side, by + dy, by - drop + dy, sag, xs)
        bot = edge(side, by + bh + dy, by + bh - drop + dy, sag * 0.8, xs)
        return ("M %s C %s %s %s L %s C %s %s %s Z" % (
            pts([top[0]]), pts([top[1]]), pts([top[2]]), pts([top[3]]),
            pts([bot[3]]), pts([bot[2]]), pts([bot[1]]), pts([bot[0]])))

    ow = bw + 8 * s
    cover = ("M %s L %s C %s %s %s C %s %s %s L %s Z" % (
        pts([(cx, by + bh * 0.5)]),
        pts([(cx - ow, by - drop + 7 * s)]),
        pts([(cx - ow, by + bh - drop + 8 * s)]),
        pts([(cx - ow * 0.4, by + bh - 4 * s)]),
        pts([(cx, by + bh + 10 * s)]),
        pts([(cx + ow * 0.4, by + bh - 4 * s)]),
        pts([(cx + ow, by + bh - drop + 8 * s)]),
        pts([(cx + ow, by - drop + 7 * s)]),
        pts([(cx, by + bh * 0.5)])))
    d.append("stroke none fill %s path '%s'" % (GOLD, cover))
    for side in (-1, 1):
        if not small:
            # Page edges peeking out below: a thin stack of paper.
            d.append("stroke none fill %s path '%s'" % (
                PAGE_SHADE, page_path(side, 4 * s, 1.02)))
        d.append("stroke %s stroke-width %s fill %s path '%s'" % (
            PAGE_SHADE, f(max(0.8, 1.2 * s)), PAGE, page_path(side)))
        if detail:
            # Text lines following the page curve.
            top = edge(side, by, by - drop, sag)
            for k in range(4):
                yo = 14 * s + k * 10.5 * s
                line = [bez(top, t) for t in
                        [0.14 + i * (0.86 - 0.14) / 10 for i in range(11)]]
                line = [(x, y + yo) for x, y in line]
                d.append("fill none stroke %s stroke-width %s "
                         "stroke-linecap round polyline %s" % (
                             PAGE_LINE, f(2.0 * s), pts(line)))
    # Spine.
    d.append("stroke %s stroke-width %s line %s,%s %s,%s" % (
        PAGE_SHADE, f(max(1.0, 2.0 * s)), f(cx), f(by + 1 * s),
        f(cx), f(by + bh - 1 * s)))

    # Star above the book, with small rays.
    sy = cy - 52 * s
    if detail:
        for ang in (-150, -120, -60, -30):
            a = math.radians(ang)
            r0, r1 = 44 * s, 56 * s
            d.append("stroke %s stroke-width %s stroke-linecap round "
                     "line %s,%s %s,%s" % (
                         GOLD, f(3.0 * s),
                         f(cx + r0 * math.cos(a)), f(sy + r0 * math.sin(a)),
                         f(cx + r1 * math.cos(a)), f(sy + r1 * math.sin(a))))
    if small:
        sy, r_out, r_in = cy - 44 * s, 50 * s, 21 * s
    else:
        r_out, r_in = 36 * s, 15 * s
    d.append("stroke %s stroke-width %s stroke-linejoin round fill %s "
             "polygon %s" % (GOLD_DARK, f(max(0.8, 1.5 * s)), GOLD_LIGHT,
                             pts(star_points(cx, sy, r_out, r_in))))
    return " ".join(d)


def pencil_mvg(x, y, angle, length, width, color):
    """A simple pencil outline: body, band, wooden tip and lead."""
    L, W = length, width
    tip = W * 1.3
    body = "rectangle 0,%s %s,%s" % (f(-W / 2), f(L), f(W / 2))
    band = "rectangle %s,%s %s,%s" % (f(-W * 0.9), f(-W / 2), f(0),
                                      f(W / 2))
    cone = "polygon %s,%s %s,%s %s,%s" % (f(L), f(-W / 2), f(L + tip), f(0),
                                          f(L), f(W / 2))
    return ("push graphic-context translate %s,%s rotate %s "
            "fill %s %s %s %s pop graphic-context" % (
                f(x), f(y), f(angle), color, body, band, cone))


def book_mvg(x, y, angle, w, h, color):
    """A closed book seen from the front: cover plus spine strip."""
    return ("push graphic-context translate %s,%s rotate %s fill %s "
            "roundrectangle 0,0 %s,%s %s,%s "
            "fill %s rectangle %s,0 %s,%s pop graphic-context" % (
                f(x), f(y), f(angle), color, f(w), f(h), f(w * 0.08),
                f(w * 0.08), "rgba(255,255,255,0.35)", f(w * 0.12),
                f(w * 0.2), f(h)))


def make_background(tmp):
    W, H = BG_W, BG_H
    size = "%dx%d" % (W, H)
    out = os.path.join(tmp, "bg.jpg")

    # Soft decorative circles (white and pale blue), blurred.
    circles = []
    for (x, y, r, col) in (
            (120, 110, 210, "rgba(255,255,255,0.55)"),
            (860, 230, 260, "rgba(255,255,255,0.45)"),
            (60, 900, 180, "rgba(255,255,255,0.40)"),
            (900, 1150, 230, "rgba(255,255,255,0.45)"),
            (780, 40, 120, "rgba(170,205,235,0.30)"),
            (90, 1380, 150, "rgba(170,205,235,0.22)")):
        circles.append("fill %s circle %d,%d %d,%d" % (col, x, y, x + r, y))

    # Gentle hills at the bottom (below ~86% of the height).
    def hill(top, amp, phase, color):
        segs = ["M 0,%s" % f(H)]
        n = 6
        segs.append("L 0,%s" % f(top + amp * math.sin(phase)))
        for i in range(n):
            x0 = W * i / n
            x1 = W * (i + 1) / n
            y1 = top + amp * math.sin(phase + (i + 1) * 1.1)
            segs.append("Q %s,%s %s,%s" % (
                f((x0 + x1) / 2), f(y1 - amp * 0.6 * math.cos(phase + i)),
                f(x1), f(y1)))
        segs.append("L %s,%s Z" % (f(W), f(H)))
        return "fill %s path '%s'" % (color, " ".join(segs))

    hills = " ".join([
        hill(0.875 * H, 22, 0.3, "#e3f0e4"),
        hill(0.905 * H, 26, 2.1, "#d5ead9"),
        hill(0.945 * H, 18, 4.0, "#c8e2cf"),
    ])

    # Faint school motifs kept out of the text and form bands:
    # top strip (0-9%), beside the emblem (31-57%) and the bottom strip.
    mot = "rgba(60,100,160,0.10)"
    mot2 = "rgba(200,160,70,0.13)"
    motifs = " ".join([
        pencil_mvg(70, 120, -28, 150, 18, mot),
        book_mvg(800, 40, 12, 70, 92, mot),
        pencil_mvg(610, 70, 8, 110, 14, mot2),
        book_mvg(60, 640, -10, 62, 84, mot),
        pencil_mvg(800, 600, 62, 130, 16, mot2),
        pencil_mvg(60, 880, -12, 110, 14, mot2),
        book_mvg(810, 820, 8, 58, 78, mot),
        pencil_mvg(640, 1400, -18, 140, 16, mot),
        book_mvg(170, 1370, -8, 64, 86, mot2),
    ] + [
        "fill %s polygon %s" % (c, pts(star_points(x, y, r, r * 0.45)))
        for (x, y, r, c) in ((330, 60, 14, mot2), (890, 520, 12, mot2),
                             (120, 1020, 12, mot), (470, 1330, 10, mot2),
                             (40, 520, 9, mot), (900, 970, 10, mot))
    ])

    cx, cy, R = EMB_CX, EMB_CY, EMB_R
    glow = "fill rgba(255,255,255,0.85) circle %s,%s %s,%s" % (
        f(cx), f(cy), f(cx + R + 40), f(cy))
    shadow = "fill rgba(20,38,74,0.35) circle %s,%s %s,%s" % (
        f(cx), f(cy + 6), f(cx + R + 2), f(cy + 6))

    args = [
        CONVERT,
        "-size", size, "gradient:#cfe5f6-#fcf8ee",
        "(", "-size", size, "xc:none", "-draw", " ".join(circles),
        "-blur", "0x25", ")", "-composite",
        "(", "-size", size, "xc:none", "-draw", hills, "-blur", "0x1.5", ")",
        "-composite",
        "(", "-size", size, "xc:none", "-draw", motifs, ")", "-composite",
        "(", "-size", size, "xc:none", "-draw", glow, "-blur", "0x30", ")",
        "-composite",
        "(", "-size", size, "xc:none", "-draw", shadow, "-blur", "0x8", ")",
        "-composite",
        "-draw", emblem_mvg(cx, cy, R, detail=True),
        "-strip", "-colorspace", "sRGB", "-type", "TrueColor",
        "-interlace", "none", "-sampling-factor", "2x2,1x1,1x1",
        "-quality", "85",
        "jpeg:" + out,
    ]
    run(args)
    return out


def make_icon_png(tmp, size):
    """Draw the icon at 256 px and scale it down; PNG24 = RGB, no alpha."""
    big = 256
    detail = size >= 64
    R = 118.0 if detail else 124.0
    # Full navy square (no transparency available in RGB), a slightly
    # lighter navy vignette, then the emblem.
    bg = ("fill %s rectangle 0,0 %d,%d fill %s circle 128,128 128,4" % (
        NAVY_DARK, big, big, "#23406f"))
    # Tiny sizes get simplified artwork: a thick ring, bigger star and book.
    emb = emblem_mvg(128.0, 128.0, R, detail=detail, small=not detail)
    out = os.path.join(tmp, "icon%d.png" % size)
    args = [CONVERT, "-size", "%dx%d" % (big, big), "xc:" + NAVY_DARK,
            "-draw", bg, "-draw", emb]
    if size != big:
        args += ["-filter", "Lanczos", "-resize", "%dx%d!" % (size, size)]
        if size <= 32:
            args += ["-unsharp", "0x0.6+0.6+0"]
    args += ["-strip", "-alpha", "off", "-define", "png:exclude-chunks=date,time",
             "PNG24:" + out]
    run(args)
    return out


def pack_ico(png_files):
    """Build an ICO holding PNG images; png_files: list of (size, bytes)."""
    count = len(png_files)
    header = struct.pack("<HHH", 0, 1, count)
    offset = 6 + 16 * count
    entries = b""
    blobs = b""
    for size, data in png_files:
        dim = 0 if size == 256 else size
        entries += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32,
                               len(data), offset)
        offset += len(data)
        blobs += data
    return header + entries + blobs


PNG_SIG = b"\x89PNG\r\n\x1a\n"


def check_png(data, size, label):
    if data[:8] != PNG_SIG:
        fail("%s: missing PNG signature" % label)
    length, ctype = struct.unpack(">I4s", data[8:16])
    if ctype != b"IHDR" or length != 13:
        fail("%s: first chunk is not IHDR" % label)
    w, h, depth, colour, _c, _f, _i = struct.unpack(">IIBBBBB", data[16:29])
    if (w, h) != (size, size):
        fail("%s: PNG is %dx%d, expected %dx%d" % (label, w, h, size, size))
    if colour != 2:
        fail("%s: PNG colour type %d, expected 2 (RGB)" % (label, colour))
    if depth != 8:
        fail("%s: PNG bit depth %d, expected 8" % (label, depth))
    if data[-12:-8] != b"\x00\x00\x00\x00" or data[-8:-4] != b"IEND":
        fail("%s: PNG does not end with IEND" % label)


def verify_ico(path):
    with open(path, "rb") as fh:
        data = fh.read()
    if len(data) < 6:
        fail("ico: file too short")
    reserved, itype, count = struct.unpack("<HHH", data[:6])
    if (reserved, itype, count) != (0, 1, len(ICON_SIZES)):
        fail("ico: bad header %r" % ((reserved, itype, count),))
    expected_offset = 6 + 16 * count
    for i, size in enumerate(ICON_SIZES):
        e = data[6 + 16 * i: 6 + 16 * (i + 1)]
        w, h, ncol, res, planes, bpp, nbytes, off = struct.unpack(
            "<BBBBHHII", e)
        dim = 0 if size == 256 else size
        label = "ico entry %d (%d px)" % (i, size)
        if (w, h) != (dim, dim):
            fail("%s: width/height bytes %d,%d" % (label, w, h))
        if ncol != 0 or res != 0 or planes != 1 or bpp != 32:
            fail("%s: bad fields colours=%d reserved=%d planes=%d bpp=%d" % (
                label, ncol, res, planes, bpp))
        if off != expected_offset:
            fail("%s: offset %d, expected %d" % (label, off, expected_offset))
        if off + nbytes > len(data):
            fail("%s: image data runs past end of file" % label)
        check_png(data[off:off + nbytes], size, label)
        expected_offset = off + nbytes
    if expected_offset != len(data):
        fail("ico: %d trailing bytes" % (len(data) - expected_offset))


def verify_jpeg(path):
    with open(path, "rb") as fh:
        data = fh.read()
    if len(data) > BG_MAX_BYTES:
        fail("jpeg: %d bytes, larger than %d" % (len(data), BG_MAX_BYTES))
    if data[:2] != b"\xff\xd8":
        fail("jpeg: no SOI marker")
    if data[-2:] != b"\xff\xd9":
        fail("jpeg: no EOI marker at end")
    pos = 2
    sof0 = None
    seen = []
    while pos < len(data):
        if data[pos] != 0xFF:
            fail("jpeg: bad marker at offset %d" % pos)
        marker = data[pos + 1]
        if marker == 0xFF:          # fill byte
            pos += 1
            continue
        pos += 2
        if marker in (0x01,) or 0xD0 <= marker <= 0xD7:
            continue
        seglen = struct.unpack(">H", data[pos:pos + 2])[0]
        seen.append(marker)
        if marker == 0xC0:
            _p, h, w = struct.unpack(">BHH", data[pos + 2:pos + 7])
            sof0 = (w, h)
        if marker == 0xDA:          # start of scan: header parsing ends
            break
        pos += seglen
    sofs = [m for m in seen
            if 0xC0 <= m <= 0xCF and m not in (0xC4, 0xC8, 0xCC)]
    if 0xC2 in sofs:
        fail("jpeg: progressive (SOF2) frame found")
    if sofs != [0xC0]:
        fail("jpeg: expected exactly one SOF0 frame, found %s" %
             ["%02X" % m for m in sofs])
    if sof0 != (BG_W, BG_H):
        fail("jpeg: size %r, expected %dx%d" % (sof0, BG_W, BG_H))
    if 0xDA not in seen:
        fail("jpeg: no scan found")


def band_stats(path, y0, y1):
    """Mean and standard deviation of luminance (0..1) of a horizontal band."""
    top = int(round(y0 * BG_H))
    bot = int(round(y1 * BG_H))
    out = run([CONVERT, path, "-crop", "%dx%d+0+%d" % (BG_W, bot - top, top),
               "+repage", "-colorspace", "Gray",
               "-format", "%[fx:mean] %[fx:standard_deviation]", "info:"])
    mean, sd = (float(v) for v in out.split())
    return mean, sd


def verify_layout(path):
    # The text and form bands must be light and quiet.
    for y0, y1 in QUIET_BANDS:
        mean, sd = band_stats(path, y0, y1)
        if mean < 0.85 or sd > 0.04:
            fail("background band %.0f%%-%.0f%% not quiet enough "
                 "(mean %.3f, sd %.3f)" % (y0 * 100, y1 * 100, mean, sd))
    # The emblem must be inside 33%-56% of the height and near the middle.
    top = (EMB_CY - EMB_R) / BG_H
    bot = (EMB_CY + EMB_R) / BG_H
    if top < 0.33 or bot > 0.56 or not 0.45 <= EMB_CY / BG_H <= 0.55:
        fail("emblem placement %.3f-%.3f out of range" % (top, bot))
    # And it must actually be there: the centre region is dark.
    mean, _sd = band_stats(path, EMB_CY / BG_H - 0.01, EMB_CY / BG_H + 0.01)
    if mean > 0.80:
        fail("emblem row looks empty (mean %.3f)" % mean)


def main():
    if not os.path.exists(CONVERT):
        fail("%s not found (ImageMagick needed)" % CONVERT)
    os.makedirs(RES, exist_ok=True)
    tmp = tempfile.mkdtemp(prefix="make_art_")
    try:
        bg = make_background(tmp)
        verify_jpeg(bg)
        verify_layout(bg)
        shutil.copyfile(bg, BG_PATH)

        pngs = []
        for size in ICON_SIZES:
            p = make_icon_png(tmp, size)
            with open(p, "rb") as fh:
                data = fh.read()
            check_png(data, size, "icon %d" % size)
            pngs.append((size, data))
        ico_tmp = os.path.join(tmp, "app.ico")
        with open(ico_tmp, "wb") as fh:
            fh.write(pack_ico(pngs))
        verify_ico(ico_tmp)
        shutil.copyfile(ico_tmp, ICO_PATH)
    finally:
        shutil.rmtree(tmp, ignore_errors=True)

    # Check the files as they now are on disk.
    verify_jpeg(BG_PATH)
    verify_layout(BG_PATH)
    verify_ico(ICO_PATH)
    print("wrote %s (%d bytes)" % (os.path.relpath(BG_PATH, REPO),
                                   os.path.getsize(BG_PATH)))
    print("wrote %s (%d bytes)" % (os.path.relpath(ICO_PATH, REPO),
                                   os.path.getsize(ICO_PATH)))
    print("all checks passed")


if __name__ == "__main__":
    main()
