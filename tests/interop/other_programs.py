#!/usr/bin/python3
"""Writes drawings as other programs write them, ezdxf (R12 and R2000), GDAL
(ogr2ogr -f DXF from GeoJSON lines) and dxflib (R12 and R2000), and merges
each with the built tool, as the first drawing beside the sample second one
and as the second beside the sample first one. Each run must either refuse
a drawing at the line the plain model of the merge gives, or merge into a
file that ezdxf and GDAL read whole.

  other_programs.py <tool> <model_cli> <dxflib_writer>

Exits 77 (skipped) when a writer or reader is missing, unless
QUORVANE_REQUIRE_READERS is set.
"""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

try:
    import ezdxf
except ImportError:
    ezdxf = None

EXAMPLES = os.path.join(os.path.dirname(__file__), "..", "..", "examples", "images", "site4")

CONTOURS = [[(10.5 * i, 3.25 * i + k, 100.0 + 25 * k) for i in range(6)] for k in range(3)]
PLOTS = [[(5.0 * i + k, 7.5 * i, 0.0) for i in range(4)] for k in range(4)]


def by_ezdxf(path, version, kind):
    doc = ezdxf.new(version)
    msp = doc.modelspace()
    if kind == "cn":
        for points in CONTOURS:
            msp.add_polyline3d(points, dxfattribs={"layer": "CN1"})
    else:
        for k, points in enumerate(PLOTS):
            layer = "HA_6292" if k % 2 == 0 else "WALLS"
            msp.add_polyline2d([p[:2] for p in points], dxfattribs={"layer": layer})
    doc.saveas(path)


def by_gdal(path, kind):
    lines = CONTOURS if kind == "cn" else PLOTS
    features = [{"type": "Feature",
                 "properties": {"Layer": "CN1" if kind == "cn" else
                                "HA_6292" if k % 2 == 0 else "WALLS"},
                 "geometry": {"type": "LineString",
                              "coordinates": [list(p if kind == "cn" else p[:2]) for p in points]}}
                for k, points in enumerate(lines)]
    source = path + ".geojson"
    with open(source, "w") as out:
        json.dump({"type": "FeatureCollection", "features": features}, out)
    subprocess.run(["ogr2ogr", "-f", "DXF", path, source], check=True, capture_output=True)


def drawings(folder, writer):
    """(name, path, kind) of each drawing written."""
    made = []
    for kind in ("cn", "ha"):
        for version in ("R12", "R2000"):
            path = os.path.join(folder, "ezdxf-%s-%s.dxf" % (version, kind))
            by_ezdxf(path, version, kind)
            made.append(("ezdxf %s" % version, path, kind))
        path = os.path.join(folder, "gdal-%s.dxf" % kind)
        by_gdal(path, kind)
        made.append(("GDAL", path, kind))
        for version in ("r12", "r2000"):
            path = os.path.join(folder, "dxflib-%s-%s.dxf" % (version, kind))
            subprocess.run([writer, path, version, kind], check=True)
            made.append(("dxflib %s" % version, path, kind))
    return made


def polylines_in(path):
    with open(path, newline="") as text:
        return sum(1 for line in text if line.strip() == "POLYLINE")


def read_whole(merged):
    """None when ezdxf and GDAL read every polyline of the merged file."""
    want = polylines_in(merged)
    try:
        doc = ezdxf.readfile(merged)
    except Exception as error:  # noqa: BLE001: any refusal of the reader counts
        return "ezdxf refuses it: %s" % error
    seen = len(doc.modelspace().query("POLYLINE"))
    if seen != want:
        return "ezdxf sees %d polylines of %d" % (seen, want)
    out = subprocess.run(["ogr2ogr", "-f", "GeoJSON", "/vsistdout/", merged], capture_output=True,
                         text=True)
    if out.returncode != 0:
        return "GDAL refuses it: %s" % out.stderr
    seen = len(json.loads(out.stdout)["features"])
    if seen != want:
        return "GDAL sees %d polylines of %d" % (seen, want)
    return None


def main():
    if len(sys.argv) != 4:
        print(__doc__)
        return 2
    tool, model, writer = sys.argv[1:]
    if ezdxf is None or shutil.which("ogr2ogr") is None or not os.access(writer, os.X_OK):
        print("skipped: ezdxf, ogr2ogr or the dxflib writer is missing")
        return 1 if os.environ.get("QUORVANE_REQUIRE_READERS") else 77
    passed = failed = 0
    with tempfile.TemporaryDirectory() as scratch:
        for name, path, kind in drawings(scratch, writer):
            with tempfile.TemporaryDirectory() as drive:
                site = os.path.join(drive, "images", "site4")
                os.makedirs(site)
                shutil.copy(os.path.join(EXAMPLES, "northcn.dxf"), site)
                shutil.copy(os.path.join(EXAMPLES, "northha.dxf"), site)
                shutil.copy(path, os.path.join(site, "north%s.dxf" % kind))
                first, second = (os.path.join(site, "north%s.dxf" % k) for k in ("cn", "ha"))
                expected = subprocess.run([model, first, second], capture_output=True,
                                          text=True, check=True).stdout.split()
                run = subprocess.run([tool], input="site4 north north north\n", text=True,
                                     capture_output=True,
                                     env=dict(os.environ, QUORVANE_DRIVE_C=drive))
                merged = os.path.join(site, "northcnha.dxf")
                if expected[0] == "refused":
                    drawing = "northcn.dxf" if expected[1] == "1" else "northha.dxf"
                    pattern = r"quorvane_tool: cannot merge c:\\images\\site4\\%s \(.*\): line %s: " % (
                        re.escape(drawing), expected[2])
                    problem = None
                    if run.returncode != 1 or not re.match(pattern, run.stderr):
                        problem = "refused by the model at %s line %s, but the tool: %d %s" % (
                            drawing, expected[2], run.returncode, run.stderr.strip())
                    elif os.path.exists(merged):
                        problem = "a merged file is left"
                    outcome = "refused at line %s" % expected[2]
                else:
                    problem = ("the tool failed: %s" % run.stderr if run.returncode != 0
                               else read_whole(merged))
                    outcome = "merged, read whole"
                if problem:
                    failed += 1
                else:
                    passed += 1
                print("%s %s (%s): %s" % ("FAIL" if problem else "ok", name, kind,
                                          problem or outcome))
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
