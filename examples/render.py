#!/usr/bin/python3
"""Draws the two drawings of a merge and the merged one side by side in a PNG.

  render.py <folder>/<base> <picture.png>

reads <base>cn.dxf, <base>ha.dxf and <base>cnha.dxf with ezdxf and draws their
polylines with matplotlib, one colour a layer: the contour lines in browns,
the polylines of layer HA_6292 in red, other layers in grey.
"""
import sys

import ezdxf
import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402


def colour(layer):
    if layer == "HA_6292":
        return "#d62728"
    if layer.startswith("CN"):
        return "#8c564b" if layer.endswith("00") else "#c49c94"
    return "#7f7f7f"


def draw(axes, path, title):
    doc = ezdxf.readfile(path)
    polylines = doc.modelspace().query("POLYLINE")
    layers = set()
    for polyline in polylines:
        points = [v.dxf.location for v in polyline.vertices]
        if polyline.is_closed and points:
            points.append(points[0])
        axes.plot([p.x for p in points], [p.y for p in points], color=colour(polyline.dxf.layer),
                  linewidth=1.0)
        layers.add(polyline.dxf.layer)
    axes.set_title("%s\n%d polylines on %s" % (title, len(polylines), ", ".join(sorted(layers))),
                   fontsize=10)
    axes.set_aspect("equal")
    axes.tick_params(labelsize=7)


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    base, picture = sys.argv[1], sys.argv[2]
    figure, axes = plt.subplots(1, 3, figsize=(18, 6.5), sharex=True, sharey=True)
    draw(axes[0], base + "cn.dxf", "first drawing (cn.dxf)")
    draw(axes[1], base + "ha.dxf", "second drawing (ha.dxf)")
    draw(axes[2], base + "cnha.dxf", "merged drawing (cnha.dxf)")
    figure.tight_layout()
    figure.savefig(picture, dpi=80)
    return 0


if __name__ == "__main__":
    sys.exit(main())
