#!/usr/bin/python3
"""Converts drawings that other programs write, ezdxf (R12 to R2018, and
HATCHes), GDAL (ogr2ogr -f DXF from GeoJSON lines, 2D and 3D, from polygons
with holes, which it writes as HATCHes, and from the contours gdal_contour -3d
draws of a grid) and dxflib (R12 and R2000),
with `convert cn` and `convert ha`, then merges each converted drawing with the
sample companion of site4 and reads the result back with ezdxf, GDAL and dxflib.

For each drawing the polylines of model space, and the boundary paths of its
HATCHes as closed polylines, in file order, must come out of the merge at the
world coordinates ezdxf computes from the drawing, rounded half up; a first
drawing keeps its z, a second one gets z 0 and only its polylines of HA_6292
(or of the layer named by --layer alone; HA_6292 itself is then written as
HA_6292_1) reach the merged file.
The converted file itself must hold the same polylines, unrounded, with the
layer names it was given, read back as they were written; a layer named as
one of the merge's keywords (model_cli --keywords) gets a "_" after it. The
converted file's header extents enclose each of its vertices, and the merged
file's those of a first drawing, within the unit its truncation toward zero
may cost (its lowest z is 0, whatever the drawing's: it encloses a drawing
above 0, such as the contours of a hill).

  converted_drawings.py <tool> <model_cli> <dxflib_writer> <dxflib_reader>

With $QUORVANE_WINE_TOOL, each drawing is converted by the Windows executable
under Wine too, which must write the same bytes.

Exits 77 (skipped) when ezdxf, ogr2ogr or a dxflib program is missing,
unless QUORVANE_REQUIRE_READERS is set.
"""
import json
import math
import os
import re
import shutil
import subprocess
import sys
import tempfile

try:
    import ezdxf
    import ezdxf.path
    from ezdxf import recover
    from ezdxf.entities.boundary_paths import BoundaryPathType, EdgeType
    from ezdxf.math import OCS, Vec2, Vec3
except ImportError:
    ezdxf = None
from other_programs import gdal_contours, ogr_to_dxf

EXAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples",
                        "images", "site4")
COMPANION = {"cn": "northha.dxf", "ha": "northcn.dxf"}
# Non-integral and negative, with ties of the rounding among them.
PLAN = [(1234.567, -845.25), (-2.7, 310.5), (-1876.125, -12.5), (905.4999, 77.75)]
BULGES = [0.5, 0.0, -1.0, 0.25]
ARBITRARY = (0.3, -0.5, 0.8)


def by_ezdxf(path, version, binary=False):
    doc = ezdxf.new(version)
    msp, paper = doc.modelspace(), doc.layout()
    if version != "R12":
        msp.add_lwpolyline([p + (0, 0, b) for p, b in zip(PLAN, BULGES)],
                           dxfattribs={"layer": "Plot lines", "elevation": 12.25})
        msp.add_lwpolyline(PLAN, close=True, dxfattribs={"layer": "forêt",
                                                         "extrusion": (0, 0, -1)})
        msp.add_lwpolyline(PLAN[:3], dxfattribs={"layer": "Été 2024", "extrusion": ARBITRARY,
                                                 "elevation": -7.3})
        msp.add_spline([(0.5, 0.5, 0), (10.25, -3.5, 2), (20.75, 8.5, -1)])
        paper.add_lwpolyline(PLAN, dxfattribs={"layer": "Plot lines"})
    msp.add_polyline2d([p + (b,) for p, b in zip(PLAN, BULGES)], format="xyb", close=True,
                       dxfattribs={"layer": "forêt", "elevation": (0, 0, 33.375),
                                   "extrusion": (0, 0, -1)})
    msp.add_polyline2d(PLAN[1:], dxfattribs={"layer": "Plot lines", "extrusion": ARBITRARY,
                                              "elevation": (0, 0, -41.6)})
    msp.add_polyline3d([(x, y, -x / 7.0) for x, y in PLAN], close=True,
                       dxfattribs={"layer": "Été 2024"})
    msp.add_polyline3d([(y, x, 2.7 * k - 5.2) for k, (x, y) in enumerate(PLAN)],
                       dxfattribs={"layer": "HA_6292"})
    for layer, flags in (("SEQEND", 4), ("HA_6292", 4 | 8)):  # spline-fit, 2D then 3D
        fitted = msp.add_polyline2d([], dxfattribs={"layer": layer, "flags": flags})
        for x, y in PLAN:
            fitted.append_vertex((x, y, 1.5), dxfattribs={"flags": 16})
        for x, y in PLAN[1:]:
            fitted.append_vertex((x + 0.25, y - 0.75, 3.5), dxfattribs={"flags": 8})
    face = msp.add_polyface(dxfattribs={"layer": "Survey lines"})
    face.append_face([(0.5, 0.5, 0.5), (10.5, 0.5, 1.5), (10.5, 10.5, 2.5)])
    mesh = msp.add_polymesh((2, 2), dxfattribs={"layer": "HA_6292"})
    for m, n in ((0, 0), (0, 1), (1, 0), (1, 1)):
        mesh.set_mesh_vertex((m, n), (m * 10.5, n * 20.25, m + n + 0.5))
    paper.add_polyline3d([(1.5, 2.5, 3.5), (4.5, 5.5, 6.5)],
                         dxfattribs={"layer": "Survey lines"})
    block = doc.blocks.new("PLOTS")
    block.add_polyline2d(PLAN, dxfattribs={"layer": "Survey lines"})
    block.add_polyline3d([(1.5, 2.5, 3.5), (4.5, 5.5, 6.5)], dxfattribs={"layer": "forêt"})
    msp.add_blockref("PLOTS", (100.5, -200.5), dxfattribs={"layer": "HA_6292"})
    msp.add_line((0.5, 0.5), (99.5, -99.5), dxfattribs={"layer": "Survey lines"})
    msp.add_circle((10.5, 10.5), 4.25, dxfattribs={"layer": "forêt"})
    doc.saveas(path, fmt="bin" if binary else "asc")


def by_gdal(path, dimensions):
    layers = ["Plot lines", "HA_6292", "VERTEX", "LWPOLYLINE"]
    features = [{"type": "Feature", "properties": {"Layer": layer},
                 "geometry": {"type": "LineString", "coordinates": [
                     [x + k, y - k, 10.5 * k - x / 9.0][:dimensions] for x, y in PLAN]}}
                for k, layer in enumerate(layers)]
    with open(path + ".geojson", "w") as out:
        json.dump({"type": "FeatureCollection", "features": features}, out)
    subprocess.run(["ogr2ogr", "-f", "DXF", path, path + ".geojson"], check=True,
                   capture_output=True)


def by_gdal_polygons(path):
    """Polygons with holes, 3D and 2D, and a multipolygon: GDAL writes each as a
    HATCH, its rings as polyline paths, the first ring repeated at the end."""
    ring = [[x, y] for x, y in PLAN]
    hole = [[-500.5, 10.25], [300.75, 20.5], [10.5, -300.25]]
    flat = lambda points, z=None: [p + ([z] if z is not None else []) for p in points + points[:1]]
    shapes = [
        ("PARCELS", {"type": "Polygon", "coordinates": [flat(ring, 112.5), flat(hole, 112.5)]}),
        ("PARCELS", {"type": "MultiPolygon", "coordinates": [
            [flat([[x + 5000.25, y] for x, y in ring])],
            [flat([[x, y + 4000.5] for x, y in ring]), flat([[x, y + 4000.5] for x, y in hole])]]}),
        ("Roads", {"type": "Polygon", "coordinates": [flat(hole)]}),
    ]
    ogr_to_dxf(path, [{"type": "Feature", "properties": {"Layer": layer}, "geometry": geometry}
                      for layer, geometry in shapes])


def by_ezdxf_hatches(path):
    """HATCHes: polyline paths with bulges and a hole, edge paths of lines and
    arcs both ways round, a hole of two arcs, in object coordinate systems at
    their elevations; an associative path, paths with an ellipse or a spline
    edge, a HATCH in paper space, which are left out."""
    doc = ezdxf.new("R2010")
    msp = doc.modelspace()
    plots = msp.add_hatch(dxfattribs={"layer": "PARCELS", "elevation": (0, 0, 7.25),
                                       "extrusion": (0, 0, -1)})
    plots.paths.add_polyline_path([p + (b,) for p, b in zip(PLAN, BULGES)], flags=1)
    plots.paths.add_polyline_path([(0.5, 0.5), (20.5, 0.5), (20.5, 30.25)], flags=0)  # a hole
    edges = msp.add_hatch(dxfattribs={"layer": "PARCELS", "elevation": (0, 0, -3.5),
                                       "extrusion": ARBITRARY})
    loop = edges.paths.add_edge_path(flags=1)  # clockwise, its second arc so
    loop.add_line((0.5, 0.25), (0.5, 10.25))
    loop.add_arc((5.5, 10.25), 5, 0, 180, ccw=False)  # from (0.5, 10.25) over the top
    loop.add_line((10.5, 10.25), (10.5, 0.25))
    loop.add_line((0.5, 0.25), (10.5, 0.25))  # written the other way round
    hole = edges.paths.add_edge_path(flags=0)
    hole.add_arc((5.5, 5.25), 2, 30, 210)
    hole.add_arc((5.5, 5.25), 2, 210, 390)
    ccw = msp.add_hatch(dxfattribs={"layer": "Roads"})
    road = ccw.paths.add_edge_path()
    road.add_line((100.5, 100.5), (200.25, 100.5))
    road.add_arc((200.25, 150.5), 50, -90, 90)
    road.add_line((200.25, 200.5), (100.5, 100.5))
    boundary = msp.add_lwpolyline([(0.5, 0.5), (9.5, 0.5), (9.5, 9.5)], close=True,
                                  dxfattribs={"layer": "PARCELS"})
    linked = msp.add_hatch(dxfattribs={"layer": "PARCELS"})
    linked.dxf.associative = 1
    linked.associate(linked.paths.add_polyline_path([(0.5, 0.5), (9.5, 0.5), (9.5, 9.5)]),
                     [boundary])
    curved = linked.paths.add_edge_path()
    curved.add_line((0.5, 0.5), (4.5, 0.5))
    curved.add_ellipse((2.5, 0.5), (2, 0), 0.5, 0, 180)
    spline = msp.add_hatch(dxfattribs={"layer": "Roads"}).paths.add_edge_path()
    spline.add_spline(fit_points=[(0.5, 0.5), (5.5, 3.5), (9.5, 0.5)])
    spline.add_line((9.5, 0.5), (0.5, 0.5))
    doc.layout().add_hatch(dxfattribs={"layer": "PARCELS"}).paths.add_polyline_path(PLAN)
    doc.saveas(path)


WRITER = READER = None  # the dxflib writer and reader, from the command line
KEYWORDS = set()  # the merge's, from model_cli
# name, writer, --layer for `convert ha`, the reason each kind is refused for, as a
# pattern (none: both convert)
DRAWINGS = [
    ("ezdxf R12", lambda p: by_ezdxf(p, "R12"), "forêt", None),
    ("ezdxf R2000", lambda p: by_ezdxf(p, "R2000"), "Plot lines", None),
    ("ezdxf R2004", lambda p: by_ezdxf(p, "R2004"), "Été 2024", None),
    ("ezdxf R2007", lambda p: by_ezdxf(p, "R2007"), "SEQEND", None),
    ("ezdxf R2010", lambda p: by_ezdxf(p, "R2010"), "forêt", None),
    ("ezdxf R2013", lambda p: by_ezdxf(p, "R2013"), "Plot lines", None),
    ("ezdxf R2018", lambda p: by_ezdxf(p, "R2018"), None, None),
    ("GDAL 2D", lambda p: by_gdal(p, 2), "Plot lines", None),
    ("GDAL 3D", lambda p: by_gdal(p, 3), "VERTEX", None),
    ("GDAL contours", gdal_contours, "CN110", None),
    ("GDAL polygons as HATCHes", by_gdal_polygons, "PARCELS", None),
    ("ezdxf HATCHes", by_ezdxf_hatches, "PARCELS", None),
    ("dxflib r12 contours", lambda p: subprocess.run([WRITER, p, "r12", "cn"], check=True),
     "CN1", None),
    ("dxflib r2000 contours", lambda p: subprocess.run([WRITER, p, "r2000", "cn"], check=True),
     None, {"ha": r"none of its polylines is on layer HA_6292.*\"CN1\" \(4\)"}),
    ("dxflib r12 plots", lambda p: subprocess.run([WRITER, p, "r12", "ha"], check=True),
     "WALLS", None),
    ("dxflib r2000 plots", lambda p: subprocess.run([WRITER, p, "r2000", "ha"], check=True),
     "WALLS", None),
    ("ezdxf R12 binary", lambda p: by_ezdxf(p, "R12", binary=True), "forêt", None),
    ("ezdxf R2010 binary", lambda p: by_ezdxf(p, "R2010", binary=True), "forêt", None),
    # Of "Survey lines" only a LINE, a polyface mesh, a block's and paper space's polylines.
    ("ezdxf R2000, a layer without polylines", lambda p: by_ezdxf(p, "R2000"), "Survey lines",
     {"ha": r"(line \d+: )?.*Survey lines"}),
    ("dxflib r12 contours, a layer without polylines",
     lambda p: subprocess.run([WRITER, p, "r12", "cn"], check=True), "WALLS",
     {"ha": r"(line \d+: )?.*WALLS"}),
]


def meets(a, b):
    """Whether two ends of a HATCH's edges are one point, as the tool takes them."""
    within = 1e-9 * max(1, abs(a.x), abs(a.y), abs(b.x), abs(b.y))
    return abs(a.x - b.x) <= within and abs(a.y - b.y) <= within


def edge_vertices(edges):
    """The vertices of an edge path of lines and arcs, each arc as its chord:
    where edges meet, one vertex; an edge that runs the other way round (the
    first when only its start meets the second, any other when only its end
    meets the one before) turned, as ezdxf joins them."""
    def ends(edge):
        if edge.type == EdgeType.LINE:
            return Vec2(edge.start), Vec2(edge.end)
        # ezdxf keeps an arc counter-clockwise; a clockwise one runs from its end.
        return (edge.start_point, edge.end_point) if edge.ccw else (edge.end_point,
                                                                    edge.start_point)
    out, first, last = [], None, None
    for k, edge in enumerate(edges):
        start, end = ends(edge)
        if k == 0:
            first, last = start, end
            continue
        if k == 1:
            if not meets(last, start) and not meets(last, end) and (
                    meets(first, start) or meets(first, end)):
                first, last = last, first
            out.append(first)
        if not meets(last, start) and meets(last, end):
            start, end = end, start
        if not meets(last, start):
            out.append(last)
        out.append(start)
        last = end
    if len(edges) == 1:
        out.append(first)
    if edges and not meets(last, first):
        out.append(last)
    return out


def hatch_paths(entity):
    """(layer, closed, world vertices) of each boundary path of a HATCH that the
    tool converts: not those that name their source entities, nor those with
    an ellipse or a spline edge. The vertices of an edge path are checked
    against ezdxf's own joining of its edges."""
    ocs, elevation = OCS(entity.dxf.extrusion), entity.dxf.elevation.z
    found = []
    for path in entity.paths:
        if path.source_boundary_objects:
            continue
        if path.type == BoundaryPathType.POLYLINE:
            points, closed = [Vec2(x, y) for x, y, _ in path.vertices], bool(path.is_closed)
        elif all(e.type in (EdgeType.LINE, EdgeType.ARC) for e in path.edges):
            points, closed = edge_vertices(path.edges), True
            joined = ezdxf.path.from_hatch_boundary_path(path, ocs, elevation)
            on = [joined.start] + [command.end for command in joined]
            for point in points:
                world = ocs.to_wcs(Vec3(point.x, point.y, elevation))
                if not any(world.isclose(p, abs_tol=1e-6) for p in on):
                    raise AssertionError("vertex %r of a HATCH path is not on ezdxf's path %r" %
                                         (world, on))
        else:
            continue
        found.append((entity.dxf.layer, closed,
                      [ocs.to_wcs(Vec3(p.x, p.y, elevation)) for p in points]))
    return found


def expected(path):
    """(layer, closed, world vertices) of each model-space polyline and HATCH
    boundary path, in file order."""
    doc = ezdxf.readfile(path)
    found = []
    for entity in doc.modelspace():
        if entity.dxftype() == "HATCH":
            found += hatch_paths(entity)
        if entity.dxftype() == "LWPOLYLINE":
            found.append((entity.dxf.layer, entity.closed, list(entity.vertices_in_wcs())))
        elif entity.dxftype() == "POLYLINE" and not (entity.is_polygon_mesh or
                                                     entity.is_poly_face_mesh):
            kept = [v.dxf.location for v in entity.vertices if not v.dxf.flags & 16]
            if entity.is_2d_polyline:
                ocs = OCS(entity.dxf.extrusion)
                kept = [ocs.to_wcs(Vec3(p.x, p.y, entity.dxf.elevation.z
                                        if entity.dxf.hasattr("elevation") else p.z))
                        for p in kept]
            found.append((entity.dxf.layer, entity.is_closed, kept))
    return found


def held(path):
    """Opens a written file as ezdxf does, strictly then in recovery: the
    (layer, closed, vertices) of its polylines, or why it does not open."""
    try:
        ezdxf.readfile(path)
        doc, auditor = recover.readfile(path)  # decodes the \\U+ escapes of names
    except Exception as error:  # noqa: BLE001: any refusal of the reader counts
        return None, "ezdxf cannot open %s: %s" % (os.path.basename(path), error)
    if auditor.has_errors:
        return None, "ezdxf finds errors in %s: %s" % (os.path.basename(path), "; ".join(
            str(e.message) for e in auditor.errors[:3]))
    return [(p.dxf.layer, p.is_closed, [v.dxf.location for v in p.vertices])
            for p in doc.modelspace().query("POLYLINE")], None


def header_extents(path):
    """The $EXTMIN and $EXTMAX of a drawing's header."""
    header = ezdxf.readfile(path).header
    return Vec3(header["$EXTMIN"]), Vec3(header["$EXTMAX"])


def outside(polylines, path, within, what, lowest_z=True):
    """Why the header extents of `path` do not enclose every vertex of
    `polylines` to `within` (without the lowest z: the merge writes 0), or None."""
    low, high = header_extents(path)
    low = low if lowest_z else low.replace(z=-math.inf)
    for k, (_, _, points) in enumerate(polylines):
        for n, p in enumerate(points):
            if any(v < a - within or v > b + within for v, a, b in zip(p, low, high)):
                return "%s: vertex %d of polyline %d, %r, lies outside its header's extents " \
                       "%r to %r" % (what, n + 1, k + 1, p, low, high)
    return None


def named(layer, chosen):
    """The layer a polyline of `layer` is written on."""
    if layer == chosen:
        return "HA_6292"
    name = re.sub(r"[\x00-\x20\x7f]", "_", layer)
    name = name + "_" if name in KEYWORDS else name
    # HA_6292 holds the layer named with --layer alone, or without, HA_6292 alone.
    if name.upper() == "HA_6292" and layer.upper() != (chosen or "HA_6292").upper():
        name += "_1"
    return name


def differ(want, got, within, what):
    """Why the polylines `got` are not `want` to `within`, or None."""
    if len(got) != len(want):
        return "%s holds %d polylines, %d expected" % (what, len(got), len(want))
    for k, ((layer, closed, points), (g_layer, g_closed, g_points)) in enumerate(zip(want, got)):
        if (layer, closed, len(points)) != (g_layer, g_closed, len(g_points)):
            return "%s polyline %d: layer %r closed %s with %d vertices, expected %r %s %d" % (
                what, k + 1, g_layer, g_closed, len(g_points), layer, closed, len(points))
        for n, (p, q) in enumerate(zip(points, g_points)):
            if any(abs(a - b) > within for a, b in zip(p, q)):
                return "%s polyline %d vertex %d: (%.6f, %.6f, %.6f), expected " \
                       "(%.6f, %.6f, %.6f)" % (what, k + 1, n + 1, *q, *p)
    return None


def half_up(point):
    return Vec3(*(math.floor(v + 0.5) for v in point))


def gdal_features(path):
    out = subprocess.run(["ogr2ogr", "-f", "GeoJSON", "/vsistdout/", path], capture_output=True,
                         text=True)
    return len(json.loads(out.stdout)["features"]) if out.returncode == 0 else None


def same_under_wine(source, kind, layer_option, converted, drive):
    """With $QUORVANE_WINE_TOOL, the Windows executable run by Wine
    ($QUORVANE_WINE) must write the bytes the tool wrote: None, or why not."""
    windows_tool = os.environ.get("QUORVANE_WINE_TOOL")
    if not windows_tool:
        return None
    on_windows = os.path.join(drive, "windows.dxf")
    run = subprocess.run([os.environ.get("QUORVANE_WINE", "wine64"), windows_tool, "convert", kind,
                          source, on_windows] + layer_option, capture_output=True,
                         env=dict(os.environ, WINEDEBUG="-all"))
    if run.returncode != 0:
        return "under Wine, convert failed: %r" % run.stderr
    with open(converted, "rb") as linux, open(on_windows, "rb") as windows:
        if linux.read() != windows.read():
            return "under Wine, convert wrote other bytes than on Linux"
    os.remove(on_windows)
    return None


def run_one(tool, source, kind, chosen, refusal, want, drive):
    """Why a conversion and merge of `source` as `kind` is not as it should be, or None."""
    site = os.path.join(drive, "images", "site4")
    os.makedirs(site)
    shutil.copy(os.path.join(EXAMPLES, COMPANION[kind]), site)
    converted = os.path.join(site, "north%s.dxf" % kind)
    layer_option = ["--layer", chosen] if kind == "ha" and chosen else []
    run = subprocess.run([tool, "convert", kind, source, converted] + layer_option,
                         capture_output=True, text=True)
    if refusal is not None:
        pattern = r"quorvane_tool: cannot convert %s: %s.*\n\Z" % (re.escape(source), refusal)
        if run.returncode != 1 or not re.match(pattern, run.stderr, re.I):
            return "refusal expected, the tool: status %d, %r" % (run.returncode, run.stderr)
        return "%s is left" % converted if os.path.exists(converted) else None
    if run.returncode != 0:
        return "convert failed, status %d: %s" % (run.returncode, run.stderr.strip())
    problem = same_under_wine(source, kind, layer_option, converted, drive)
    if problem:
        return problem
    chosen = chosen if kind == "ha" else None
    flat = (lambda p: Vec3(p.x, p.y, 0)) if kind == "ha" else (lambda p: p)
    written = [(named(layer, chosen), closed, [flat(p) for p in points])
               for layer, closed, points in want]
    got, problem = held(converted)
    problem = problem or differ(written, got, 1e-3, "the converted file") or outside(
        got, converted, 0, "the converted file")
    if problem:
        return problem
    merged_in = [w for w in written if kind == "cn" or w[0] == "HA_6292"]
    merge = subprocess.run([tool, "merge", "site4", "north", "north", "north"],
                           capture_output=True, text=True,
                           env=dict(os.environ, QUORVANE_DRIVE_C=drive))
    if merge.returncode != 0:
        return "merge failed, status %d: %s" % (merge.returncode, merge.stderr.strip())
    merged = os.path.join(site, "northcnha.dxf")
    got, problem = held(merged)
    if problem:
        return problem
    companion, _ = held(os.path.join(site, COMPANION[kind]))
    others = len(companion) if kind == "ha" else sum(p[0] == "HA_6292" for p in companion)
    ours = got[:len(got) - others] if kind == "cn" else got[others:]
    if len(got) < others:
        return "the merged file holds %d polylines, fewer than its companion's %d" % (len(got),
                                                                                   others)
    problem = differ([(layer, closed, [half_up(p) for p in points])
                      for layer, closed, points in merged_in], ours, 1, "the merged file")
    if problem:
        return problem
    if kind == "ha" and any(p.z != 0 for _, _, points in ours for p in points):
        return "a vertex of the second drawing keeps a z in the merged file"
    # The merged header's extents are those of the first drawing truncated
    # toward zero, its lowest z 0 whatever the drawing's.
    problem = outside(ours, merged, 1, "the merged file", lowest_z=all(
        p.z >= 0 for _, _, points in ours for p in points)) if kind == "cn" else None
    if problem:
        return problem
    seen = gdal_features(merged)
    if seen != len(got):
        return "GDAL reads %s features of the merged file's %d polylines" % (seen, len(got))
    lines = subprocess.run([READER, merged], capture_output=True).stdout.decode("cp1252").splitlines()
    seen = (sum(l.startswith("P ") for l in lines), sum(l.startswith("V ") for l in lines))
    if seen != (len(got), sum(len(points) for _, _, points in got)):
        return "dxflib reads %d polylines and %d vertices of the merged file's %d and %d" % (
            seen + (len(got), sum(len(points) for _, _, points in got)))
    return None


def main():
    global WRITER, READER, KEYWORDS
    if len(sys.argv) != 5:
        print(__doc__)
        return 2
    tool, model, WRITER, READER = (os.path.abspath(a) for a in sys.argv[1:])
    if ezdxf is None or not all(shutil.which(p) for p in ("ogr2ogr", "gdal_contour")) or not all(
            os.access(p, os.X_OK) for p in (WRITER, READER)):
        print("skipped: ezdxf, ogr2ogr, gdal_contour or the dxflib writer or reader is missing")
        return 1 if os.environ.get("QUORVANE_REQUIRE_READERS") else 77
    KEYWORDS = set(subprocess.run([model, "--keywords"], capture_output=True, text=True,
                                  check=True).stdout.splitlines())
    passed = failed = 0
    with tempfile.TemporaryDirectory() as scratch:
        for number, (name, write, chosen, refused) in enumerate(DRAWINGS):
            source = os.path.join(scratch, "drawing%d.dxf" % number)
            write(source)
            want = None if refused else expected(source)
            for kind in sorted(refused) if refused else ("cn", "ha"):
                with tempfile.TemporaryDirectory() as drive:
                    problem = run_one(tool, source, kind, chosen, (refused or {}).get(kind),
                                      want, drive)
                passed, failed = passed + (not problem), failed + bool(problem)
                print("%s %s (%s): %s" % ("FAIL" if problem else "ok", name, kind, problem or (
                    "refused" if refused and kind in refused else
                    "converted and merged, %d polylines" % len(want))))
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
