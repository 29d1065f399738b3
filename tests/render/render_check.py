#!/usr/bin/env python3
"""Rendering check of the molecule drawing in a real browser.

    render_check.py SVG_SAMPLE OUTDIR

SVG_SAMPLE is the svg_sample program.  For each sample molecule it writes
the drawing to OUTDIR/NAME.svg, has headless Chromium take a screenshot of
it (OUTDIR/NAME.png, kept to be looked at), decodes the PNG and checks that
the picture is not blank and shows what the SVG says: the atoms' discs in
their element colours, the charge rings in their colours and, for the
radical, the free-valence halo.  A malformed document, which Chromium shows
as an error page, fails these checks.

Exits 0 when every check passes, 1 when one fails and 77 (reported by CTest
as skipped) when Chromium is not installed.  MV_CHROMIUM names another
browser binary.
"""

import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

SKIP = 77
SAMPLES = ("naphthalene", "methylene", "fullerene")


def find_chromium():
    for candidate in (os.environ.get("MV_CHROMIUM"), shutil.which("chromium"),
                      "/usr/bin/chromium"):
        if candidate and os.path.isfile(candidate) and os.access(candidate, os.X_OK):
            return candidate
    return None


def decode_png(data):
    """(width, height, rows of RGB triples) of an 8-bit RGB or RGBA PNG."""
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG file")
    pos, idat, header = 8, [], None
    while pos + 8 <= len(data):
        (length,) = struct.unpack(">I", data[pos:pos + 4])
        kind, body = data[pos + 4:pos + 8], data[pos + 8:pos + 8 + length]
        pos += 12 + length
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat.append(body)
        elif kind == b"IEND":
            break
    if header is None:
        raise ValueError("PNG without a header")
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or colour not in (2, 6) or interlace != 0:
        raise ValueError("unexpected PNG format: depth %d, colour type %d, interlace %d" %
                         (depth, colour, interlace))
    bpp = 3 if colour == 2 else 4
    raw = zlib.decompress(b"".join(idat))
    stride = width * bpp
    prev = bytearray(stride)
    rows = []
    i = 0
    for _ in range(height):
        kind = raw[i]
        line = bytearray(raw[i + 1:i + 1 + stride])
        i += 1 + stride
        if kind == 1:
            for x in range(bpp, stride):
                line[x] = (line[x] + line[x - bpp]) & 255
        elif kind == 2:
            for x in range(stride):
                line[x] = (line[x] + prev[x]) & 255
        elif kind == 3:
            for x in range(stride):
                left = line[x - bpp] if x >= bpp else 0
                line[x] = (line[x] + (left + prev[x]) // 2) & 255
        elif kind == 4:
            for x in range(stride):
                a = line[x - bpp] if x >= bpp else 0
                b = prev[x]
                c = prev[x - bpp] if x >= bpp else 0
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[x] = (line[x] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        elif kind != 0:
            raise ValueError("bad PNG filter %d" % kind)
        rows.append([tuple(line[x:x + 3]) for x in range(0, stride, bpp)])
        prev = line
    return width, height, rows


def attributes(tag):
    return dict(re.findall(r'([\w:-]+)="([^"]*)"', tag))


def hex_rgb(text):
    return tuple(int(text[k:k + 2], 16) for k in (1, 3, 5))


def near(a, b, tol=28):
    return all(abs(x - y) <= tol for x, y in zip(a, b))


def screenshot(chromium, svg, png, width, height):
    with tempfile.TemporaryDirectory(prefix="mv-chromium-") as profile:
        cmd = [chromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
               "--no-first-run", "--disable-background-networking", "--disable-component-update",
               "--disable-sync", "--hide-scrollbars", "--force-device-scale-factor=1",
               "--user-data-dir=" + profile, "--screenshot=" + png,
               "--window-size=%d,%d" % (width, height), "file://" + os.path.abspath(svg)]
        result = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                timeout=120, check=False)
    if not os.path.isfile(png) or os.path.getsize(png) == 0:
        raise RuntimeError("chromium wrote no screenshot (status %d):\n%s" %
                           (result.returncode, result.stdout.decode(errors="replace")[-2000:]))


def check_sample(tool, chromium, outdir, name):
    """The failures found for one sample (an empty list when it passes)."""
    svg = os.path.join(outdir, name + ".svg")
    png = os.path.join(outdir, name + ".png")
    subprocess.run([tool, name, svg], check=True)
    text = open(svg, encoding="utf-8").read()
    root = attributes(re.search(r"<svg\b[^>]*>", text).group(0))
    width, height = int(float(root["width"])), int(float(root["height"]))
    if os.path.exists(png):
        os.remove(png)
    screenshot(chromium, svg, png, width, height)
    w, h, rows = decode_png(open(png, "rb").read())
    failures = []
    if (w, h) != (width, height):
        failures.append("screenshot is %dx%d, the drawing %dx%d" % (w, h, width, height))
        return failures

    pixels = [p for row in rows for p in row]
    inked = sum(1 for p in pixels if min(p) < 235) / len(pixels)
    colours = len(set(pixels))
    print("%s: %dx%d, %.1f%% of the pixels inked, %d distinct colours" %
          (name, w, h, 100 * inked, colours))
    if inked < 0.04:
        failures.append("only %.1f%% of the pixels are not white" % (100 * inked))
    if colours < 64:
        failures.append("only %d distinct colours" % colours)

    def pixel(x, y):
        x, y = int(round(x)), int(round(y))
        return rows[y][x] if 0 <= x < w and 0 <= y < h else None

    # Every disc large enough to show its colour below its label, and every
    # charge ring, sampled straight below the centre.  Atoms may hide each
    # other in a cage, so four in five must match.
    discs = [attributes(m) for m in re.findall(r'<circle class="atom-disc"[^>]*>', text)]
    rings = [attributes(m) for m in re.findall(r'<circle class="charge-ring"[^>]*>', text)]
    disc_hits = disc_total = ring_hits = 0
    for disc, ring in zip(discs, rings):
        cx, cy, r = float(disc["cx"]), float(disc["cy"]), float(disc["r"])
        if r >= 14 and "fill-opacity" not in disc:
            disc_total += 1
            disc_hits += near(pixel(cx, cy + 0.75 * r), hex_rgb(disc["fill"]))
        rr = float(ring["r"])
        ring_hits += near(pixel(cx, cy + (r + rr) / 2), hex_rgb(ring["fill"]))
    print("%s: %d of %d discs and %d of %d charge rings in their colours" %
          (name, disc_hits, disc_total, ring_hits, len(rings)))
    if not rings or ring_hits < 0.8 * len(rings):
        failures.append("%d of %d charge rings in their colours" % (ring_hits, len(rings)))
    if disc_total and disc_hits < 0.8 * disc_total:
        failures.append("%d of %d discs in their colours" % (disc_hits, disc_total))

    # Each halo shows its translucent fill over white between the ring and
    # its edge in at least one of eight directions.
    halos = [attributes(m) for m in re.findall(r'<circle class="free-valence-halo"[^>]*>', text)]
    for halo in halos:
        fill = hex_rgb(halo["fill"])
        alpha = float(halo.get("fill-opacity", "1"))
        blended = tuple(round(alpha * c + (1 - alpha) * 255) for c in fill)
        atom = next(d for d, g in zip(discs, rings)
                    if (d["cx"], d["cy"]) == (halo["cx"], halo["cy"]))
        inner = float(atom["r"]) + 4.0
        mid = (inner + float(halo["r"])) / 2
        seen = [pixel(float(halo["cx"]) + mid * dx, float(halo["cy"]) + mid * dy)
                for dx, dy in ((0, -1), (0, 1), (-1, 0), (1, 0),
                               (0.7, 0.7), (-0.7, 0.7), (0.7, -0.7), (-0.7, -0.7))]
        if not any(p is not None and near(p, blended) for p in seen):
            failures.append("halo of atom %s not seen (expected %s, saw %s)" %
                            (halo.get("data-atom"), blended, seen))
    if name == "methylene" and len(halos) != 1:
        failures.append("%d halos in the methylene drawing, expected 1" % len(halos))
    return failures


def main(argv):
    if len(argv) != 3:
        print(__doc__)
        return 2
    tool, outdir = argv[1], argv[2]
    chromium = find_chromium()
    if chromium is None:
        print("chromium not found: the rendering check is skipped")
        return SKIP
    os.makedirs(outdir, exist_ok=True)
    failures = []
    for name in SAMPLES:
        failures += ["%s: %s" % (name, f) for f in check_sample(tool, chromium, outdir, name)]
    for f in failures:
        print("FAIL " + f)
    print("screenshots in " + os.path.abspath(outdir))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
