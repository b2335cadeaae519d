#!/usr/bin/python3
"""Writes drawings as other programs write them, ezdxf (R12, R2000 and R2018,
its R12 writer, binary DXF, and a drawing saved again as UTF-16 text), GDAL
(contours of a small grid through gdal_contour -3d, lines from GeoJSON, each
through ogr2ogr -f DXF) and dxflib (R12 and R2000), and merges each with the
built tool, as the first drawing beside the sample second one and as the
second beside the sample first one, then with merge --convert. Each merge
must either refuse a drawing at
the line the plain model of the merge gives, or merge into a file that ezdxf
and GDAL read whole and that holds every polyline of the first drawing's model
space and every HA_6292 polyline of the second, as ezdxf counts them
(POLYLINE and LWPOLYLINE, with their vertices; meshes aside).

  other_programs.py <tool> <model_cli> <dxflib_writer>

Exits 77 (skipped) when a writer or reader is missing, unless
QUORVANE_REQUIRE_READERS is set.
"""
import collections
import io
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

try:
    import ezdxf
    from ezdxf.addons import r12writer
except ImportError:
    ezdxf = None

EXAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples",
                        "images", "site4")
ROLES = (("cn", "the first drawing"), ("ha", "the second drawing"))


def points(k, dimensions=3):
    """The vertices of the k-th polyline: not integral, z varying along it."""
    return [(10.5 * i + k, 3.25 * i - 2.5 * k, 100.0 + 25 * k + 0.5 * i)[:dimensions]
            for i in range(5)]


def by_ezdxf(path, version, polylines, fmt="asc"):
    """`polylines`: (kind, layer) of each, kind 3d, 2d or lw (LWPOLYLINE).
    fmt: asc, bin, utf-16 (as a text editor saves it again on Windows), or
    r12writer (ezdxf's fast R12 writer, without tables or handles)."""
    if fmt == "r12writer":
        with r12writer(path) as out:
            for k, (kind, layer) in enumerate(polylines):
                if kind == "3d":
                    out.add_polyline(points(k), layer=layer)
                else:
                    out.add_polyline_2d(points(k, 2), layer=layer)
        return
    doc = ezdxf.new(version)
    msp = doc.modelspace()
    for k, (kind, layer) in enumerate(polylines):
        add = {"3d": msp.add_polyline3d, "2d": msp.add_polyline2d, "lw": msp.add_lwpolyline}[kind]
        add(points(k, 3 if kind == "3d" else 2), dxfattribs={"layer": layer})
    if fmt == "utf-16":
        text = io.StringIO()
        doc.write(text)
        with open(path, "wb") as out:
            out.write(text.getvalue().replace("\n", "\r\n").encode("utf-16"))
    else:
        doc.saveas(path, fmt=fmt)


def ogr_to_dxf(path, features):
    source = path + ".geojson"
    with open(source, "w") as out:
        json.dump({"type": "FeatureCollection", "features": features}, out)
    subprocess.run(["ogr2ogr", "-f", "DXF", path, source], check=True, capture_output=True)


def by_gdal(path, layers, dimensions):
    """Lines from GeoJSON: 2D ones become LWPOLYLINEs, 3D ones POLYLINEs."""
    ogr_to_dxf(path, [{"type": "Feature", "properties": {"Layer": layer},
                       "geometry": {"type": "LineString", "coordinates": points(k, dimensions)}}
                      for k, layer in enumerate(layers)])


def gdal_contours(path):
    """The contours of a small hill, every 5 m, from an ESRI ASCII grid through
    gdal_contour -3d, each on a layer named after its level (GDAL writes a
    contour, whose z does not vary, as an LWPOLYLINE at its elevation)."""
    grid = path + ".asc"
    with open(grid, "w") as out:
        out.write("ncols 12\nnrows 10\nxllcorner 1000.5\nyllcorner 2000.25\ncellsize 7.5\n"
                  "NODATA_value -9999\n")
        for row in range(10):
            heights = (130 - 0.9 * ((col - 5.5) ** 2 + (row - 4) ** 2) + 0.3 * row
                       for col in range(12))
            out.write(" ".join("%.2f" % h for h in heights) + "\n")
    lines = path + ".contours.geojson"
    subprocess.run(["gdal_contour", "-q", "-3d", "-i", "5", "-a", "elev", "-f", "GeoJSON", grid,
                    lines], check=True, capture_output=True)
    with open(lines) as text:
        features = json.load(text)["features"]
    for feature in features:
        feature["properties"] = {"Layer": "CN%d" % feature["properties"]["elev"]}
    ogr_to_dxf(path, features)


def by_dxflib(writer, version, kind):
    return lambda path: subprocess.run([writer, path, version, kind], check=True)


MIXED = [("3d", "CN1"), ("3d", "HA_6292"), ("2d", "HA_6292"), ("2d", "WALLS")]
LW = [("lw", "HA_6292"), ("lw", "WALLS"), ("3d", "HA_6292")]
LW_ELSEWHERE = [("lw", "WALLS"), ("lw", "CN1")]


def drawings(writer):
    """(program, name, function that writes it to a path) of each drawing."""
    made = [("ezdxf", "R12 POLYLINEs 2D and 3D", lambda p: by_ezdxf(p, "R12", MIXED)),
            ("ezdxf", "R12 POLYLINEs off HA_6292",
             lambda p: by_ezdxf(p, "R12", [("2d", "WALLS"), ("3d", "CN1")]))]
    for version in ("R2000", "R2018"):
        made += [
            ("ezdxf", "%s POLYLINEs 2D and 3D" % version,
             lambda p, v=version: by_ezdxf(p, v, MIXED)),
            ("ezdxf", "%s LWPOLYLINEs" % version, lambda p, v=version: by_ezdxf(p, v, LW)),
            ("ezdxf", "%s LWPOLYLINEs off HA_6292" % version,
             lambda p, v=version: by_ezdxf(p, v, LW_ELSEWHERE))]
    made += [
        ("ezdxf", "R2000 binary", lambda p: by_ezdxf(p, "R2000", MIXED + LW, "bin")),
        ("ezdxf", "R2000 saved as UTF-16", lambda p: by_ezdxf(p, "R2000", MIXED + LW, "utf-16")),
        ("ezdxf", "R12 writer", lambda p: by_ezdxf(p, "R12", MIXED, "r12writer")),
        ("ezdxf", "R12 writer off HA_6292",
         lambda p: by_ezdxf(p, "R12", [("2d", "WALLS"), ("3d", "CN1")], "r12writer")),
        ("GDAL", "gdal_contour -3d", gdal_contours),
        ("GDAL", "lines 2D", lambda p: by_gdal(p, ["HA_6292", "WALLS", "HA_6292", "CN1"], 2)),
        ("GDAL", "lines 3D", lambda p: by_gdal(p, ["CN1", "HA_6292", "WALLS"], 3)),
        ("GDAL", "lines 2D off HA_6292", lambda p: by_gdal(p, ["WALLS", "CN1"], 2))]
    for version in ("r12", "r2000"):
        made += [("dxflib", "%s contours" % version, by_dxflib(writer, version, "cn")),
                 ("dxflib", "%s plots" % version, by_dxflib(writer, version, "ha"))]
    return made


def polylines_of(path, layer=None):
    """(layer, vertices) of each polyline of model space as ezdxf counts them,
    of `layer` only when given."""
    found = collections.Counter()
    for entity in ezdxf.readfile(path).modelspace():
        if entity.dxftype() == "LWPOLYLINE":
            vertices = len(entity)
        elif entity.dxftype() == "POLYLINE" and not (entity.is_polygon_mesh or
                                                     entity.is_poly_face_mesh):
            vertices = len(entity.vertices)
        else:
            continue
        if layer is None or entity.dxf.layer == layer:
            found[(entity.dxf.layer, vertices)] += 1
    return found


def merged_whole(first, second, merged):
    """None when the merged file holds every polyline it must, and ezdxf and
    GDAL read each of its polylines."""
    try:
        got = polylines_of(merged)
    except Exception as error:  # noqa: BLE001: any refusal of the reader counts
        return "ezdxf refuses it: %s" % error
    lost = polylines_of(first) + polylines_of(second, "HA_6292") - got
    if lost:
        return "the merged file lacks %s" % ", ".join(
            "%d polyline(s) on %s with %d vertices" % (n, layer, v)
            for (layer, v), n in sorted(lost.items()))
    with open(merged, newline="") as text:
        want = sum(1 for line in text if line.strip() == "POLYLINE")
    if sum(got.values()) != want:
        return "ezdxf sees %d polylines of %d" % (sum(got.values()), want)
    out = subprocess.run(["ogr2ogr", "-f", "GeoJSON", "/vsistdout/", merged], capture_output=True,
                         text=True)
    if out.returncode != 0:
        return "GDAL refuses it: %s" % out.stderr
    seen = len(json.loads(out.stdout)["features"])
    return None if seen == want else "GDAL sees %d polylines of %d" % (seen, want)


def site_with(path, kind, drive):
    """The folder site4 of `drive` with the sample drawings, the drawing at
    `path` in place of the one of `kind`; the folder and the two drawings."""
    site = os.path.join(drive, "images", "site4")
    os.makedirs(site)
    for name in ("northcn.dxf", "northha.dxf"):
        shutil.copy(os.path.join(EXAMPLES, name), site)
    shutil.copy(path, os.path.join(site, "north%s.dxf" % kind))
    return (site,) + tuple(os.path.join(site, "north%s.dxf" % k) for k in ("cn", "ha"))


def run_one(tool, model, path, kind, drive):
    """(outcome, problem or None) of a merge with the drawing at `path` as `kind`."""
    site, first, second = site_with(path, kind, drive)
    expected = subprocess.run([model, first, second], capture_output=True, text=True,
                              check=True).stdout.split()
    run = subprocess.run([tool], input="site4 north north north\n", text=True,
                         capture_output=True, env=dict(os.environ, QUORVANE_DRIVE_C=drive))
    merged = os.path.join(site, "northcnha.dxf")
    if expected[0] == "refused":
        drawing = "northcn.dxf" if expected[1] == "1" else "northha.dxf"
        pattern = r"quorvane_tool: cannot merge c:\\images\\site4\\%s \(.*\): line %s: (.*); " \
            "convert it first" % (re.escape(drawing), expected[2])
        refusal = re.match(pattern, run.stderr)
        if run.returncode != 1 or not refusal:
            return "refused", "refused by the model at %s line %s, but the tool: %d %s" % (
                drawing, expected[2], run.returncode, run.stderr.strip())
        outcome = "refused at line %s: %s" % (expected[2], refusal.group(1))
        return outcome, "a merged file is left" if os.path.exists(merged) else None
    if run.returncode != 0:
        return "merged", "the tool failed where the model merges: %s" % run.stderr.strip()
    return "merged", merged_whole(first, second, merged)


def readable(path):
    """True when ezdxf reads the drawing."""
    try:
        ezdxf.readfile(path)
        return True
    except Exception:  # noqa: BLE001: any refusal of the reader counts
        return False


def run_converted(tool, path, kind, drive):
    """(outcome, problem or None) of `merge --convert` with the drawing at
    `path` as `kind`: every drawing ezdxf reads merges, with every polyline of
    the first drawing and those of the second on HA_6292 (or on the layer
    named with --layer when it has none there), the drawings untouched and
    nothing left beside them."""
    site, first, second = site_with(path, kind, drive)
    before = {name: open(os.path.join(site, name), "rb").read() for name in os.listdir(site)}
    command = [tool, "merge", "--convert", "site4", "north", "north", "north"]
    layer = "HA_6292"
    if kind == "ha" and readable(path) and not polylines_of(path, "HA_6292"):
        layers = sorted({found_layer for found_layer, _ in polylines_of(path)})
        if layers:
            layer = layers[0]
            command += ["--layer", layer]
    run = subprocess.run(command, text=True, capture_output=True,
                         env=dict(os.environ, QUORVANE_DRIVE_C=drive))
    left = sorted(set(os.listdir(site)) - set(before) - {"northcnha.dxf"})
    changed = [name for name, data in before.items()
               if open(os.path.join(site, name), "rb").read() != data]
    if changed or left:
        return "converted", "drawings changed %s, files left %s" % (changed, left)
    if not readable(path):
        if run.returncode == 1 and run.stderr.startswith("quorvane_tool: cannot convert"):
            return "refused by ezdxf and the conversion", None
        return "converted", "ezdxf cannot read it, but: %d %s" % (run.returncode,
                                                                 run.stderr.strip())
    if run.returncode != 0:
        return "converted", "merge --convert failed: %s" % run.stderr.strip()
    merged = polylines_of(os.path.join(site, "northcnha.dxf"))
    want = collections.Counter(v for _, v in polylines_of(first).elements())
    want.update(v for _, v in polylines_of(second, layer).elements())
    got = collections.Counter(v for _, v in merged.elements())
    if got != want:
        return "converted", "the merged file holds polylines of %s vertices, not %s" % (
            sorted(got.elements()), sorted(want.elements()))
    return "converted", None


def main():
    if len(sys.argv) != 4:
        print(__doc__)
        return 2
    tool, model, writer = sys.argv[1:]
    if ezdxf is None or shutil.which("ogr2ogr") is None or shutil.which(
            "gdal_contour") is None or not os.access(writer, os.X_OK):
        print("skipped: ezdxf, ogr2ogr, gdal_contour or the dxflib writer is missing")
        return 1 if os.environ.get("QUORVANE_REQUIRE_READERS") else 77
    counts = collections.defaultdict(collections.Counter)  # program: outcome: runs
    with tempfile.TemporaryDirectory() as scratch:
        for number, (program, name, write) in enumerate(drawings(writer)):
            path = os.path.join(scratch, "drawing%d.dxf" % number)
            write(path)
            for kind, role in ROLES:
                for run in (run_one, run_converted):
                    with tempfile.TemporaryDirectory() as drive:
                        if run is run_one:
                            outcome, problem = run_one(tool, model, path, kind, drive)
                        else:
                            outcome, problem = run_converted(tool, path, kind, drive)
                    counts[program]["failed" if problem else outcome.split()[0]] += 1
                    print("%s %s %s as %s%s: %s" % (
                        "FAIL" if problem else "ok", program, name, role,
                        ", --convert" if run is run_converted else "", problem or outcome))
    print("; ".join("%s: %d merged, %d refused, %d converted and merged, %d failed" % (
        program, c["merged"], c["refused"], c["converted"], c["failed"])
        for program, c in counts.items()))
    return 1 if any(c["failed"] for c in counts.values()) else 0


if __name__ == "__main__":
    sys.exit(main())
