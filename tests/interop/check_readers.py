#!/usr/bin/python3
"""Merges pairs of drawings with the built tool, then reads each merged file
with three independent DXF readers (ezdxf, GDAL/OGR through ogr2ogr, dxflib
through a small program) and checks that each sees every polyline and every
vertex the merge must hold: all polylines of the first drawing, and the
polylines and vertices of layer HA_6292 of the second, at elevation 0, with
each coordinate rounded half up to an integer.

  check_readers.py <tool> <dxflib_reader> [--generate N] <pair folder>...

Each pair folder holds images/<name>/<base>cn.dxf and <base>ha.dxf; with
--generate, N well-formed pairs of random layout are made as well. Exits 77
(skipped) when a reader is missing, unless QUORVANE_REQUIRE_READERS is set,
and 1 when a reader sees something else.
"""
import glob
import json
import math
import os
import random
import shutil
import subprocess
import sys
import tempfile

try:
    import ezdxf
except ImportError:
    ezdxf = None


def generate(folder, seed):
    """A well-formed pair of random size, values, layers and line ends."""
    rng = random.Random(seed)
    end = rng.choice(["\r\n", "\n"])

    def real():
        if rng.random() < 0.2:
            return "%d.5" % rng.randint(-3000, 3000)
        return "%.*f" % (rng.randint(0, 4), rng.uniform(-5000, 5000))

    def header():
        return ["  0", "SECTION", "  2", "HEADER", "  9", "$EXTMIN", " 10", real(), " 20", real(),
                " 30", real(), "  9", "$EXTMAX", " 10", real(), " 20", real(), " 30", real(),
                "  0", "ENDSEC", "  0", "SECTION", "  2", "ENTITIES", "  0"]

    cn = header()
    for _ in range(rng.randint(0, 12)):
        layer = rng.choice(["CN1", "CN2", "0", "CONTOUR_100"])
        cn += ["POLYLINE", "  8", layer, " 66", "1", " 10", "0", " 20", "0", " 30",
               str(rng.randint(0, 300)), "  0"]
        for _ in range(rng.randint(2, 40)):
            cn += ["VERTEX", "  8", layer, " 70", "    32", " 10", real(), " 20", real(), " 30",
                   real(), "  0"]
        cn += ["SEQEND", "  8", layer, "  0"]
    cn += ["ENDSEC", "  0", "EOF"]
    ha = header()
    for _ in range(rng.randint(0, 12)):
        layer = rng.choice(["HA_6292", "HA_6292", "WALLS", "0", "ha_6292"])
        ha += ["POLYLINE", "  8", layer, " 66", "1", " 70", "     %d" % rng.randint(0, 1), " 40",
               "     0", "  0"]
        for _ in range(rng.randint(2, 30)):
            ha += ["VERTEX", "  8", layer, " 70", "    0", " 10", real(), " 20", real(), "  0"]
        ha += ["SEQEND", "  8", layer, "  0"]
    ha += ["ENDSEC", "  0", "EOF"]
    target = os.path.join(folder, "images", "gen%d" % seed)
    os.makedirs(target)
    for name, lines in (("paircn.dxf", cn), ("pairha.dxf", ha)):
        with open(os.path.join(target, name), "w", newline="") as out:
            out.write("".join(line + end for line in lines))


def rounded(text):
    return float(math.floor(float(text) + 0.5))


def expected(first, second):
    """The polylines of the merged file, from the two inputs."""
    result = []

    def walk(path, keep, elevation_zero):
        tokens = open(path, "rb").read().split(b"\x1a")[0].decode("latin-1").split()
        i, current = 0, None
        while i < len(tokens):
            t = tokens[i]
            if t == "POLYLINE":
                layer = tokens[i + 2]
                current = (layer, []) if keep(layer) else None
                if current:
                    result.append(current)
                i += 3
            elif t == "VERTEX":
                layer = tokens[i + 2]
                if keep(layer):
                    x, y = rounded(tokens[i + 6]), rounded(tokens[i + 8])
                    z = 0.0 if elevation_zero else rounded(tokens[i + 10])
                    if current is None:  # a vertex outside any kept polyline
                        current = (layer, [])
                        result.append(current)
                    current[1].append((x, y, z))
                i += 3
            elif t == "SEQEND":
                current = None
                i += 1
            else:
                i += 1

    walk(first, lambda layer: True, False)
    walk(second, lambda layer: layer == "HA_6292", True)
    return result


def seen_by_ezdxf(path):
    doc = ezdxf.readfile(path)
    return [(p.dxf.layer, [tuple(v.dxf.location) for v in p.vertices])
            for p in doc.modelspace().query("POLYLINE")]


def seen_by_gdal(path):
    out = subprocess.run(["ogr2ogr", "-f", "GeoJSON", "/vsistdout/", path], check=True,
                         capture_output=True).stdout
    polylines = []
    for feature in json.loads(out)["features"]:
        geometry = feature["geometry"]
        rings = [geometry["coordinates"]] if geometry["type"] == "LineString" else \
            geometry["coordinates"]
        for ring in rings:
            polylines.append((feature["properties"]["Layer"],
                              [tuple(c + [0.0] * (3 - len(c))) for c in ring]))
    return polylines


def seen_by_dxflib(reader, path):
    out = subprocess.run([reader, path], check=True, capture_output=True, text=True).stdout
    polylines = []
    for line in out.splitlines():
        parts = line.split()
        if parts[0] == "P":
            polylines.append((parts[1], []))
        else:
            polylines[-1][1].append(tuple(float(p) for p in parts[1:4]))
    return polylines


def same(want, got):
    """Lists of polylines alike; a reader may repeat the first vertex of a closed one at its end."""
    if len(want) != len(got):
        return "%d polylines instead of %d" % (len(got), len(want))
    for n, ((layer, points), (seen_layer, seen)) in enumerate(zip(want, got)):
        if len(seen) == len(points) + 1 and seen and seen[-1] == seen[0]:
            seen = seen[:-1]
        if layer != seen_layer or len(points) != len(seen):
            return "polyline %d: %s with %d vertices instead of %s with %d" % (
                n, seen_layer, len(seen), layer, len(points))
        for m, (a, b) in enumerate(zip(points, seen)):
            if any(abs(p - q) > 1e-9 for p, q in zip(a, b)):
                return "polyline %d vertex %d: %s instead of %s" % (n, m, b, a)
    return None


def main():
    if len(sys.argv) < 4:
        print(__doc__)
        return 2
    tool, reader, pairs = sys.argv[1], sys.argv[2], sys.argv[3:]
    if ezdxf is None or shutil.which("ogr2ogr") is None or not os.access(reader, os.X_OK):
        print("skipped: ezdxf, ogr2ogr or the dxflib reader is missing")
        return 1 if os.environ.get("QUORVANE_REQUIRE_READERS") else 77
    generated = tempfile.TemporaryDirectory()
    if pairs[0] == "--generate":
        for seed in range(int(pairs[1])):
            generate(generated.name, seed)
        pairs = pairs[2:] + [generated.name]
    failures = 0
    for pair in pairs:
        for first in sorted(glob.glob(os.path.join(pair, "images", "*", "*cn.dxf"))):
            folder = os.path.basename(os.path.dirname(first))
            base = os.path.basename(first)[:-len("cn.dxf")]
            second = first[:-len("cn.dxf")] + "ha.dxf"
            with tempfile.TemporaryDirectory() as drive:
                target = os.path.join(drive, "images", folder)
                os.makedirs(target)
                shutil.copy(first, target)
                shutil.copy(second, target)
                run = subprocess.run([tool], input="%s %s %s %s\n" % (folder, base, base, base),
                                     text=True, capture_output=True,
                                     env=dict(os.environ, QUORVANE_DRIVE_C=drive))
                merged = os.path.join(target, base + "cnha.dxf")
                if run.returncode != 0:
                    print("FAIL %s: the tool failed: %s" % (first, run.stderr))
                    failures += 1
                    continue
                want = expected(first, second)
                vertices = sum(len(points) for _, points in want)
                for name, seen in (("ezdxf", lambda: seen_by_ezdxf(merged)),
                                   ("GDAL", lambda: seen_by_gdal(merged)),
                                   ("dxflib", lambda: seen_by_dxflib(reader, merged))):
                    problem = same(want, seen())
                    if problem:
                        failures += 1
                    print("%s %s: %s sees %s" % ("FAIL" if problem else "ok", first, name,
                                                 problem or "%d polylines, %d vertices" %
                                                 (len(want), vertices)))
    print("%d passed, %d failed" % (3 * sum(1 for p in pairs for _ in glob.glob(
        os.path.join(p, "images", "*", "*cn.dxf"))) - failures, failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
