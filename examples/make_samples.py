#!/usr/bin/env python3
"""Writes the sample drawings of examples/images/site4/.

northcn.dxf: the contour lines of three hills, one closed 3D polyline per hill
and level, every 5 m from 105 m to 140 m. northha.dxf: 2D polylines on layer
HA_6292 (plots along the valley) among polylines on other layers (roads, walls,
a survey grid). Both are laid out as the merge expects, with CR LF line ends.
Run it from anywhere; it writes beside itself.
"""
import math
import os
import random

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "images", "site4")
HILLS = [(1800.0, 2600.0, 900.0, 140.0, 0.7), (3300.0, 3100.0, 700.0, 132.0, 2.1),
         (2600.0, 1500.0, 600.0, 126.0, 4.0)]


def contour(cx, cy, radius, phase, count):
    points = []
    for i in range(count):
        t = 2 * math.pi * i / count
        r = radius * (1 + 0.16 * math.sin(3 * t + phase) + 0.07 * math.cos(5 * t - phase))
        points.append((cx + r * math.cos(t), cy + 0.8 * r * math.sin(t)))
    return points + points[:1]  # a contour line closes on itself


def write(name, lines):
    with open(os.path.join(HERE, name), "w", newline="") as out:
        out.write("".join(line + "\r\n" for line in lines))


def header(low, high):
    lines = ["  0", "SECTION", "  2", "HEADER", "  9", "$ACADVER", "  1", "AC1009",
             "  9", "$EXTMIN", " 10", "%.3f" % low[0], " 20", "%.3f" % low[1], " 30",
             "%.3f" % low[2], "  9", "$EXTMAX", " 10", "%.3f" % high[0], " 20", "%.3f" % high[1],
             " 30", "%.3f" % high[2], "  0", "ENDSEC", "  0", "SECTION", "  2", "ENTITIES", "  0"]
    return lines


def contours():
    entities, xs, ys = [], [], []
    for hill, (cx, cy, base_radius, top, phase) in enumerate(HILLS):
        level = 105
        while level < top:
            radius = base_radius * (top - level) / (top - 100)
            count = max(24, int(radius / 8))
            layer = "CN%d" % (level // 25 * 25)
            entities += ["POLYLINE", "  8", layer, " 66", "1", " 10", "0", " 20", "0", " 30",
                         "%d" % level, "  0"]
            for x, y in contour(cx, cy, radius, phase + level / 40, count):
                xs.append(x)
                ys.append(y)
                entities += ["VERTEX", "  8", layer, " 70", "    32", " 10", "%.3f" % x, " 20",
                             "%.3f" % y, " 30", "%.1f" % level, "  0"]
            entities += ["SEQEND", "  8", layer, "  0"]
            level += 5
    low = (min(xs), min(ys), 105.0)
    high = (max(xs), max(ys), 140.0)
    return header(low, high) + entities + ["ENDSEC", "  0", "EOF"]


def second():
    rng = random.Random(6292)
    entities = []

    def polyline(layer, points, closed):
        entities.extend(["POLYLINE", "  8", layer, " 66", "1", " 70",
                         "     %d" % (1 if closed else 0), " 40", "     0", "  0"])
        for x, y in points:
            entities.extend(["VERTEX", "  8", layer, " 70", "    0", " 10", "%.3f" % x, " 20",
                             "%.3f" % y, "  0"])
        entities.extend(["SEQEND", "  8", layer, "  0"])

    # Plots on HA_6292: quadrilaterals along the valley between the hills.
    for i in range(14):
        x = 1300 + i * 190 + rng.uniform(-20, 20)
        y = 1900 + 600 * math.sin(i / 3.0) + rng.uniform(-30, 30)
        w, h, a = rng.uniform(90, 150), rng.uniform(70, 120), rng.uniform(-0.4, 0.4)
        corners = [(-w / 2, -h / 2), (w / 2, -h / 2), (w / 2, h / 2), (-w / 2, h / 2)]
        polyline("HA_6292", [(x + u * math.cos(a) - v * math.sin(a),
                              y + u * math.sin(a) + v * math.cos(a)) for u, v in corners], True)
    # A road through the valley, and walls, on other layers.
    polyline("ROADS", [(1000 + 100 * i, 1850 + 600 * math.sin(i / 3.0 - 0.3)) for i in range(31)],
             False)
    for i in range(6):
        x, y = rng.uniform(1200, 3800), rng.uniform(1200, 3600)
        polyline("WALLS", [(x, y), (x + rng.uniform(100, 300), y + rng.uniform(-80, 80))], False)
    # A track on HA_6292 too, open.
    polyline("HA_6292", [(1200 + 130 * i, 2350 + 250 * math.cos(i / 2.5)) for i in range(20)],
             False)
    return header((1000.0, 1200.0, 0.0), (4000.0, 3700.0, 0.0)) + entities + ["ENDSEC", "  0",
                                                                           "EOF"]


if __name__ == "__main__":
    os.makedirs(HERE, exist_ok=True)
    write("northcn.dxf", contours())
    write("northha.dxf", second())
