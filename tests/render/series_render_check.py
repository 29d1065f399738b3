#!/usr/bin/env python3
"""Rendering check of the series' line chart in a real browser.

    series_render_check.py SERIES_SAMPLE OUTDIR [MIRVANTE DATA_DIR]

SERIES_SAMPLE is the series_sample program: it draws made-up series (30
bonds over 200 frames with energies, 3 bonds over 2 frames, 40 bonds over 5
frames).  With MIRVANTE and the test data directory the program also draws
real series with `mirvante --series --plot`: three water files, and the
shared H2 scan when MIRVANTE_SERIES (or a folder "series" beside
MIRVANTE_EXTRA_FCHK) names it.  Headless Chromium takes a screenshot of each
chart (OUTDIR/NAME.png); the PNG must not be blank and must show each bond's
colour at one of its points at least (four bonds in five, those hidden
under an equivalent bond's points apart), and each legend entry's colour.
Then, on the boxes the browser lays out (getBBox, read back with
--dump-dom): the legend meets no plot area and no line, every line lies
inside its plot area, no two legend labels overlap, and the legend lies
inside the picture.

Exits 0 when every check passes, 1 when one fails and 77 (reported by CTest
as skipped) when Chromium is not installed.
"""

import json
import os
import re
import subprocess
import sys
import tempfile

from render_check import SKIP, attributes, decode_png, find_chromium, hex_rgb, near, screenshot

SAMPLES = (("many", "30", "200", "energies"), ("pair", "3", "2", "none"),
           ("crowded-legend", "40", "5", "none"))

MEASURE = """<!DOCTYPE html><html><body style="margin:0">%s
<pre id="boxes"></pre><script>
const svg = document.querySelector("svg");
function box(e) { const b = e.getBBox(); return [b.x, b.y, b.x + b.width, b.y + b.height]; }
const out = {legend: box(svg.querySelector("g.legend")), width: svg.width.baseVal.value,
             height: svg.height.baseVal.value, areas: [], lines: [], labels: [], ticks: []};
for (const r of svg.querySelectorAll("rect.plot-area")) out.areas.push(box(r));
for (const l of svg.querySelectorAll("polyline.bond-line, polyline.energy-line"))
  out.lines.push({cls: l.getAttribute("class"), box: box(l)});
for (const t of svg.querySelectorAll("text.legend-label"))
  out.labels.push({text: t.textContent, box: box(t)});
for (const t of svg.querySelectorAll("text.tick-label, text.axis-title"))
  out.ticks.push({text: t.textContent, box: box(t)});
document.getElementById("boxes").textContent = JSON.stringify(out);
</script></body></html>
"""


def measure(chromium, outdir, name, text):
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


def overlap(a, b, tol=0.5):
    return a[0] < b[2] - tol and b[0] < a[2] - tol and a[1] < b[3] - tol and b[1] < a[3] - tol


def inside(a, b, tol=1.5):
    return a[0] >= b[0] - tol and a[1] >= b[1] - tol and a[2] <= b[2] + tol and a[3] <= b[3] + tol


def check_chart(chromium, outdir, name, make):
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
        return ["screenshot is %dx%d, the chart %dx%d" % (w, h, width, height)]
    inked = sum(1 for row in rows for p in row if min(p) < 235) / (w * h)
    if inked < 0.01:
        failures.append("only %.2f%% of the pixels are not white" % (100 * inked))

    def pixel(x, y):
        x, y = int(round(x)), int(round(y))
        return rows[y][x] if 0 <= x < w and 0 <= y < h else None

    # Each bond's colour seen at one of its points at least (later lines may
    # cover earlier ones where they cross).
    # A bond whose every point lies under a point of a later bond (equivalent
    # bonds, such as water's two O-H) is hidden by design; of the others,
    # four in five must show their colour.
    groups = re.findall(r'<g class="bond-points" data-atoms="([^"]*)" fill="([^"]*)">(.*?)</g>',
                        text, re.S)
    points = [[(float(p["cx"]), float(p["cy"])) for p in
               (attributes(m) for m in re.findall(r"<circle[^>]*>", body))]
              for _, _, body in groups]
    unseen, visible = [], 0
    for g, (atoms, fill, _) in enumerate(groups):
        later = {(round(x), round(y)) for pts in points[g + 1:] for x, y in pts}
        if all((round(x), round(y)) in later for x, y in points[g]):
            continue
        visible += 1
        colour = hex_rgb(fill)
        if not any(near(pixel(x, y) or (0, 0, 0), colour) for x, y in points[g]):
            unseen.append(atoms)
    if len(unseen) > 0.2 * visible:
        failures.append("%d of %d bonds never seen in their colour: %s" %
                        (len(unseen), visible, ", ".join(unseen)))
    # Each legend entry's line sample shows its colour somewhere along it.
    for entry in re.findall(r'<g class="legend-entry"[^>]*>\s*<line[^>]*>', text):
        line = attributes(entry[entry.index("<line"):])
        colour = hex_rgb(line["stroke"])
        x1, x2, y = float(line["x1"]), float(line["x2"]), float(line["y1"])
        if not any(near(pixel(x, y) or (255, 255, 255), colour, 60)
                   for x in range(int(x1) + 1, int(x2))):
            failures.append("legend sample %s not seen" % line["stroke"])

    m = measure(chromium, outdir, name, text)
    legend = m["legend"]
    for area in m["areas"]:
        if overlap(legend, area):
            failures.append("legend %s overlaps the plot area %s" % (legend, area))
    for line in m["lines"]:
        if overlap(legend, line["box"]):
            failures.append("legend overlaps a %s" % line["cls"])
        if not any(inside(line["box"], area) for area in m["areas"]):
            failures.append("a %s %s lies outside the plot areas" % (line["cls"], line["box"]))
    for tick in m["ticks"]:
        if overlap(legend, tick["box"]):
            failures.append("legend overlaps the label %r" % tick["text"])
    labels = m["labels"]
    for i, a in enumerate(labels):
        for b in labels[i + 1:]:
            if overlap(a["box"], b["box"]):
                failures.append("legend labels %r and %r overlap" % (a["text"], b["text"]))
    if legend[0] < 0 or legend[1] < 0 or legend[2] > m["width"] or legend[3] > m["height"]:
        failures.append("legend %s outside the picture %gx%g" % (legend, m["width"], m["height"]))
    print("%s: %dx%d, %d lines, %d legend labels, legend %s" %
          (name, w, h, len(m["lines"]), len(labels), [round(v) for v in legend]))
    return failures[:20]


def series_dir():
    d = os.environ.get("MIRVANTE_SERIES")
    if d and os.path.isdir(d):
        return d
    extra = os.environ.get("MIRVANTE_EXTRA_FCHK")
    beside = extra and os.path.join(os.path.dirname(os.path.normpath(extra)), "series")
    return beside if beside and os.path.isdir(beside) else None


def main(argv):
    if len(argv) not in (3, 5):
        print(__doc__)
        return 2
    chromium = find_chromium()
    if chromium is None:
        print("chromium not found: the rendering check is skipped")
        return SKIP
    tool, outdir = argv[1], argv[2]
    os.makedirs(outdir, exist_ok=True)
    failures = []
    for name, bonds, frames, energies in SAMPLES:
        found = check_chart(chromium, outdir, name, lambda svg, a=(bonds, frames, energies):
                            subprocess.run([tool, *a, svg], check=True))
        failures += ["%s: %s" % (name, f) for f in found]
    if len(argv) == 5:
        program, data = argv[3], argv[4]
        real = [("water", [os.path.join(data, f) for f in
                           ("h2o_rhf_sto3g.fchk", "h2o_mp2_ccpvdz.fchk", "h2o_b3lyp_ccpvdz.fchk")])]
        scans = series_dir()
        if scans:
            folder = os.path.join(scans, "h2_diss")
            real.append(("h2-scan", sorted(os.path.join(folder, f) for f in os.listdir(folder)
                                           if f.endswith(".fchk"))))
        else:
            print("h2-scan: skipped (no MIRVANTE_SERIES)")
        for name, files in real:
            def make(svg, files=files):
                subprocess.run([program, "--series", "--plot", svg, *files],
                               stdout=subprocess.DEVNULL, check=True)
            found = check_chart(chromium, outdir, name, make)
            failures += ["%s: %s" % (name, f) for f in found]
    for f in failures:
        print("FAIL " + f)
    print("screenshots in " + os.path.abspath(outdir))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
