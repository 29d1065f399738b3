#!/usr/bin/env python3
"""Rendering check of the molecule drawing in a real browser.

    render_check.py SVG_SAMPLE OUTDIR [MIRVANTE DATA_DIR]

SVG_SAMPLE is the svg_sample program.  For each sample molecule it writes
the drawing to OUTDIR/NAME.svg; with MIRVANTE and the test data directory
it also draws real checkpoint files with `mirvante --svg` (an open-shell
radical, a correlated closed-shell density, a short C=O bond; C60 from
MIRVANTE_BEYOND and the ghost water dimer from MIRVANTE_EXTRA_FCHK when
those are set).  Headless Chromium takes a screenshot of each drawing
(OUTDIR/NAME.png, kept to be looked at); the PNG is decoded and checked
not to be blank and to show what the SVG says: the atoms' discs in their
element colours, the charge rings in their colours and the radical halos.
A malformed document, which Chromium shows as an error page, fails these
checks.

Then the layout rules are checked on the boxes the browser itself lays out
(the drawing inlined in a page whose script measures every text with
getBBox, read back with --dump-dom): no label overlaps a disc other than
its own atom's, nor another label; the legend lies inside the picture and
inside the first 1000 x 1000 pixels of it, the view a browser window opens
on.

Exits 0 when every check passes, 1 when one fails and 77 (reported by CTest
as skipped) when Chromium is not installed.  MV_CHROMIUM names another
browser binary.
"""

import json
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


def check_drawing(chromium, outdir, name, make):
    """The failures found for one drawing (an empty list when it passes);
    make(svg) writes the drawing."""
    svg = os.path.join(outdir, name + ".svg")
    png = os.path.join(outdir, name + ".png")
    make(svg)
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
        return failures, text

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
    rings = {(g["cx"], g["cy"]): g for g in
             (attributes(m) for m in re.findall(r'<circle class="charge-ring"[^>]*>', text))}
    disc_hits = disc_total = ring_hits = 0
    for disc in discs:
        ring = rings.get((disc["cx"], disc["cy"]))
        if ring is None:  # a ghost atom's hollow marker
            continue
        cx, cy, r = float(disc["cx"]), float(disc["cy"]), float(disc["r"])
        if r >= 14:
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
        atom = next(d for d in discs if (d["cx"], d["cy"]) == (halo["cx"], halo["cy"]))
        inner = float(atom["r"]) + 4.0
        mid = (inner + float(halo["r"])) / 2
        seen = [pixel(float(halo["cx"]) + mid * dx, float(halo["cy"]) + mid * dy)
                for dx, dy in ((0, -1), (0, 1), (-1, 0), (1, 0),
                               (0.7, 0.7), (-0.7, 0.7), (0.7, -0.7), (-0.7, -0.7))]
        if not any(p is not None and near(p, blended) for p in seen):
            failures.append("halo of atom %s not seen (expected %s, saw %s)" %
                            (halo.get("data-atom"), blended, seen))
    failures += check_layout(chromium, outdir, name, text)
    return failures, text

# The page that measures the drawing: the SVG inlined, and a script that
# writes the boxes the browser lays out into a <pre> for --dump-dom.
MEASURE = """<!DOCTYPE html><html><body style="margin:0">%s
<pre id="boxes"></pre><script>
const svg = document.querySelector("svg");
function box(e) { const b = e.getBBox(); return [b.x, b.y, b.x + b.width, b.y + b.height]; }
const out = {labels: [], discs: [], legend: box(svg.querySelector("g.legend")),
             width: svg.width.baseVal.value, height: svg.height.baseVal.value};
for (const cls of ["atom-label", "charge-label", "bond-label", "free-valence-label"]) {
  for (const t of svg.querySelectorAll("text." + cls)) {
    let b = box(t);
    const key = t.getAttribute("data-atom") || t.getAttribute("data-atoms");
    const backing = cls === "bond-label" ? "rect.bond-label-backing[data-atoms='" + key + "']"
        : cls === "free-valence-label" ? "rect.free-valence-label-backing[data-atom='" + key + "']"
        : null;
    const r = backing && svg.querySelector(backing);
    if (r) { const c = box(r); b = [Math.min(b[0], c[0]), Math.min(b[1], c[1]),
                                    Math.max(b[2], c[2]), Math.max(b[3], c[3])]; }
    out.labels.push({cls: cls, key: key, text: t.textContent, box: b});
  }
}
for (const g of svg.querySelectorAll("g.atom")) {
  const c = g.querySelector("circle.charge-ring") || g.querySelector("circle.atom-disc");
  out.discs.push({atom: g.id.slice(5), cx: c.cx.baseVal.value, cy: c.cy.baseVal.value,
                  r: c.r.baseVal.value});
}
document.getElementById("boxes").textContent = JSON.stringify(out);
</script></body></html>
"""


def measure(chromium, outdir, name, text):
    """The boxes of the labels, the discs and the legend as the browser lays them out."""
    page = os.path.join(outdir, name + ".measure.html")
    with open(page, "w", encoding="utf-8") as f:
        f.write(MEASURE % re.sub(r"^<\?xml[^>]*>\s*", "", text))
    with tempfile.TemporaryDirectory(prefix="mv-chromium-") as profile:
        cmd = [chromium, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
               "--disable-background-networking", "--disable-component-update",
               "--disable-sync", "--user-data-dir=" + profile, "--dump-dom",
               "file://" + os.path.abspath(page)]
        result = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                timeout=120, check=False)
    dom = result.stdout.decode("utf-8", errors="replace")
    found = re.search(r'<pre id="boxes">(.*?)</pre>', dom, re.S)
    if not found or not found.group(1).strip():
        raise RuntimeError("chromium measured nothing (status %d)" % result.returncode)
    return json.loads(found.group(1).replace("&quot;", '"').replace("&amp;", "&")
                      .replace("&lt;", "<").replace("&gt;", ">"))


def check_layout(chromium, outdir, name, text):
    """No label on a disc (an atom's label may lie on its own) or on another
    label; the legend inside the picture and its first 1000 x 1000 pixels."""
    m = measure(chromium, outdir, name, text)
    tol = 0.5  # pixels of rounding in the browser's boxes
    failures = []

    def overlap(a, b):
        return a[0] < b[2] - tol and b[0] < a[2] - tol and a[1] < b[3] - tol and b[1] < a[3] - tol

    def meets(b, d):
        dx = d["cx"] - min(max(d["cx"], b[0]), b[2])
        dy = d["cy"] - min(max(d["cy"], b[1]), b[3])
        return dx * dx + dy * dy < (d["r"] - tol) ** 2

    labels, discs = m["labels"], m["discs"]
    for i, a in enumerate(labels):
        for b in labels[i + 1:]:
            if overlap(a["box"], b["box"]):
                failures.append("label %r overlaps label %r" % (a["text"], b["text"]))
        for d in discs:
            own = a["cls"] == "atom-label" and a["key"] == d["atom"]
            if not own and meets(a["box"], d):
                failures.append("label %r lies on the disc of atom %s" % (a["text"], d["atom"]))
    x0, y0, x1, y1 = m["legend"]
    if x0 < 0 or y0 < 0 or x1 > m["width"] or y1 > m["height"]:
        failures.append("legend %s outside the picture %gx%g" % (m["legend"], m["width"],
                                                                m["height"]))
    if x1 > 1000 or y1 > 1000:
        failures.append("legend %s outside the first 1000x1000 pixels" % (m["legend"],))
    print("%s: %d labels, %d discs, legend to %.0f, %.0f in a %gx%g picture" %
          (name, len(labels), len(discs), x1, y1, m["width"], m["height"]))
    return failures[:20]


# Real files drawn by the program: (name, path or None, what the drawing
# must show).  The paths of C60 and the ghost water dimer come from the
# environment and are skipped when it does not name them.
def real_files(data):
    beyond = os.environ.get("MIRVANTE_BEYOND")
    extra = os.environ.get("MIRVANTE_EXTRA_FCHK")
    return [
        ("allyl", os.path.join(data, "c3h5_ub3lyp_ccpvdz.fchk"), {"halos": 2}),
        ("ethylene-mp2", os.path.join(data, "c2h4_mp2_ccpvtz.fchk"), {"halos": 0}),
        ("water-mp2", os.path.join(data, "h2o_mp2_ccpvdz.fchk"), {"halos": 0}),
        ("formaldehyde", os.path.join(data, "ch2o_rhf_ccpvdz.fchk"), {"halos": 0}),
        ("c60", beyond and os.path.join(beyond, "c60_rhf_ccpvdz.fchk"), {"halos": 0}),
        ("water-dimer-ghost",
         extra and os.path.join(extra, "completed", "water_dimer_ghost_completed.fchk"),
         {"halos": 0, "ghosts": 3}),
    ]


def expect_counts(text, want):
    failures = []
    halos = len(re.findall(r'class="free-valence-halo"', text))
    if "halos" in want and halos != want["halos"]:
        failures.append("%d radical halos, expected %d" % (halos, want["halos"]))
    ghosts = len(re.findall(r'<circle class="atom-disc" data-ghost="true"', text))
    if ghosts != want.get("ghosts", 0):
        failures.append("%d ghost markers, expected %d" % (ghosts, want.get("ghosts", 0)))
    bq = len(re.findall(r'class="atom-label"[^>]*>Bq\d+<', text))
    if bq != want.get("ghosts", 0):
        failures.append("%d atoms labelled Bq, expected %d" % (bq, want.get("ghosts", 0)))
    return failures


def main(argv):
    if len(argv) not in (3, 5):
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
        found, text = check_drawing(chromium, outdir, name,
                                    lambda svg, n=name: subprocess.run([tool, n, svg], check=True))
        if name == "methylene":
            found += expect_counts(text, {"halos": 1})
        failures += ["%s: %s" % (name, f) for f in found]
    if len(argv) == 5:
        program, data = argv[3], argv[4]
        for name, path, want in real_files(data):
            if not path or not os.path.isfile(path):
                print("%s: skipped (no file)" % name)
                continue

            def make(svg, path=path):
                subprocess.run([program, "--svg", svg, path], stdout=subprocess.DEVNULL,
                               check=True)
            found, text = check_drawing(chromium, outdir, name, make)
            found += expect_counts(text, want)
            failures += ["%s: %s" % (name, f) for f in found]
    for f in failures:
        print("FAIL " + f)
    print("screenshots in " + os.path.abspath(outdir))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
