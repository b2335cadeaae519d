#!/usr/bin/python3
"""Draws the sample drawings of the examples folder with the built tool (a
merge with --preview, and preview of each drawing), parses each SVG as XML,
renders it with rsvg-convert into a PNG, and looks at its pixels: at the
first vertex of each contour line, the colour of its elevation on the ramp
(the lowest blue, the highest red); at the first vertex of each HA_6292
polyline, the HA_6292 colour; white where no line passes. With
$QUORVANE_WINE_TOOL, the Windows executable under Wine draws the same bytes.
Also checks that a
picture of a drawing of many polylines, long or tiny, stays small and renders.

  picture_pixels.py <tool> <examples folder>

Exits 77 (skipped) when rsvg-convert or matplotlib is missing, unless
QUORVANE_REQUIRE_READERS is set.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree

try:
    import matplotlib.image
except ImportError:
    matplotlib = None

SVG = "{http://www.w3.org/2000/svg}"
RAMP = [(0x2c, 0x7b, 0xb6), (0xab, 0xd9, 0xe9), (0xff, 0xff, 0xbf), (0xfd, 0xae, 0x61),
        (0xd7, 0x19, 0x1c)]
CURVE = (0xc0, 0x00, 0xc0)
WHITE = (0xff, 0xff, 0xff)


def ramp(t):
    """The colour of an elevation at t, 0 the lowest, 1 the highest."""
    t = min(max(t, 0.0), 1.0) * 4
    i = min(3, int(t))
    return tuple(round(a + (b - a) * (t - i)) for a, b in zip(RAMP[i], RAMP[i + 1]))


def polylines(path):
    """(layer, [(x, y, z)...]) of each POLYLINE of a drawing the merge reads, in order."""
    lines = [line.strip() for line in open(path, encoding="cp1252")]
    found, layer, points, entity, i = [], None, None, None, 0
    while i + 1 < len(lines):
        code, value = lines[i], lines[i + 1]
        i += 2
        if code == "0":
            if entity == "VERTEX" and points is not None:
                points.append(tuple(vertex))
            if value in ("POLYLINE", "SEQEND") and points is not None:
                found.append((layer, points))
                points = None
            entity, vertex = value, [0.0, 0.0, 0.0]
            if value == "POLYLINE":
                points = []
        elif code == "8" and entity == "POLYLINE":
            layer = value
        elif code in ("10", "20", "30") and entity == "VERTEX":
            vertex[int(code) // 10 - 1] = float(value)
    return found


def near(picture, x, y, colour):
    """The distance, 0 to 255, of the pixel around (x, y) closest to `colour`."""
    best = 999
    for dy in (-1, 0, 1):
        for dx in (-1, 0, 1):
            row, column = int(y) + dy, int(x) + dx
            if 0 <= row < len(picture) and 0 <= column < len(picture[0]):
                pixel = [round(255 * c) for c in picture[row][column][:3]]
                best = min(best, max(abs(a - b) for a, b in zip(pixel, colour)))
    return best


def check(svg, drawing):
    """The problems of the picture `svg` of `drawing`, as a list."""
    problems = []
    root = ElementTree.parse(svg).getroot()  # XML, whole
    paths = [p for p in root.iter(SVG + "path") if p.get("d", "").startswith("M")]
    png = svg + ".png"
    subprocess.run(["rsvg-convert", svg, "-o", png], check=True)
    picture = matplotlib.image.imread(png)
    if len(picture[0]) != int(root.get("width")) or len(picture) != int(root.get("height")):
        problems.append("the PNG is %dx%d" % (len(picture[0]), len(picture)))
    found = polylines(drawing)
    contours = [points[0][2] for layer, points in found if layer != "HA_6292"]
    low, high = (min(contours), max(contours)) if contours else (0, 0)
    # The paths: those of the other layers in file order, then those on HA_6292.
    ordered = [f for f in found if f[0] != "HA_6292"] + [f for f in found if f[0] == "HA_6292"]
    for (layer, points), path in zip(ordered, paths):
        x, y = (int(v) / 10 for v in re.match(r"M(-?\d+) (-?\d+)", path.get("d")).groups())
        if layer == "HA_6292":
            want = CURVE
        else:
            want = ramp((points[0][2] - low) / (high - low) if high > low else 0.5)
        if path.get("stroke") != "#%02x%02x%02x" % want:
            problems.append("%s at %g: stroke %s" % (layer, points[0][2], path.get("stroke")))
        # On top of the others, HA_6292 alone is sure to be seen at each of its vertices; a
        # contour may lie under an HA_6292 line.
        distance = near(picture, x, y, want)
        if distance > 40 and (layer == "HA_6292" or near(picture, x, y, CURVE) > 40):
            problems.append("%s at %g: the pixel at %d,%d is %d off %s" % (
                layer, points[0][2], x, y, distance, want))
    if len(paths) < len(found):
        problems.append("%d paths for %d polylines" % (len(paths), len(found)))
    # The margin, where no polyline passes, is white.
    if near(picture, 3, 3, WHITE) > 0:
        problems.append("the corner is not white")
    return problems


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    tool, examples = sys.argv[1:]
    if matplotlib is None or shutil.which("rsvg-convert") is None:
        print("skipped: rsvg-convert or matplotlib is missing")
        return 1 if os.environ.get("QUORVANE_REQUIRE_READERS") else 77
    failed = 0
    with tempfile.TemporaryDirectory() as drive:
        site = os.path.join(drive, "images", "site4")
        os.makedirs(site)
        for name in ("northcn.dxf", "northha.dxf"):
            shutil.copy(os.path.join(examples, "images", "site4", name), site)
        merged_svg = os.path.join(drive, "merged.svg")
        run = subprocess.run([tool, "merge", "site4", "north", "north", "north", "--preview",
                              merged_svg], capture_output=True, text=True,
                             env=dict(os.environ, QUORVANE_DRIVE_C=drive))
        if run.returncode != 0 or run.stderr:
            print("FAIL merge --preview: %d %s" % (run.returncode, run.stderr))
            return 1
        pictures = [(merged_svg, os.path.join(site, "northcnha.dxf"))]
        for name in ("northcn.dxf", "northha.dxf"):
            svg = os.path.join(drive, name + ".svg")
            subprocess.run([tool, "preview", os.path.join(site, name), svg], check=True,
                           capture_output=True)
            pictures.append((svg, os.path.join(site, name)))
        for svg, drawing in pictures:
            problems = check(svg, drawing)
            windows_tool = os.environ.get("QUORVANE_WINE_TOOL")
            if windows_tool:  # the Windows executable under Wine draws the same bytes
                on_windows = svg + ".windows.svg"
                subprocess.run([os.environ.get("QUORVANE_WINE", "wine64"), windows_tool, "preview",
                                drawing, on_windows], check=True, capture_output=True,
                               env=dict(os.environ, WINEDEBUG="-all"))
                if open(on_windows, "rb").read() != open(svg, "rb").read():
                    problems.append("under Wine, another picture")
            failed += bool(problems)
            print("%s %s: %s" % ("FAIL" if problems else "ok", os.path.basename(drawing),
                                 "; ".join(problems) or "every polyline in its colour"))
        # A hundred thousand polylines of 20 vertices each, and half a million polylines
        # of two vertices a hundredth apart: the picture stays small, and renders.
        for name, polylines, vertices, step in (("long", 100000, 20, 0.1), ("tiny", 500000, 2, 0.01)):
            many = os.path.join(drive, name + ".dxf")
            with open(many, "w") as out:
                out.write("0\nSECTION\n2\nENTITIES\n")
                for k in range(polylines):
                    out.write("0\nPOLYLINE\n8\nCN\n66\n1\n")
                    for v in range(vertices):
                        out.write("0\nVERTEX\n8\nCN\n10\n%.2f\n20\n%d\n30\n%d\n" % (
                            k % 1000 + v * step, k // 1000 + v % 3, k % 50))
                    out.write("0\nSEQEND\n")
                out.write("0\nENDSEC\n0\nEOF\n")
            subprocess.run([tool, "preview", many, many + ".svg"], check=True, capture_output=True)
            size = os.path.getsize(many + ".svg")
            ElementTree.parse(many + ".svg")
            subprocess.run(["rsvg-convert", many + ".svg", "-o", many + ".png"], check=True,
                           timeout=120)
            print("%s %d polylines of %d vertices: an SVG of %d bytes" % (
                "ok" if size < 8e6 else "FAIL", polylines, vertices, size))
            failed += size >= 8e6
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
