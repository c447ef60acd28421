#!/usr/bin/env python3
# Generator of resources/lumivex.ini, the shipped fractal gallery, with preview pictures.
"""Writes resources/lumivex.ini, the shipped gallery: builds each fractal's maps from its geometry,
weighs them by area, frames each attractor in a box found by the chaos game, and can render previews.

usage: tools/gallery/write_gallery_ini.py [--out FILE] [--preview DIR]
  --preview DIR  also writes DIR/NN-name.pgm, each fractal as the saver draws it at 800x600
"""
import argparse
import math
import os
import random
import sys

# Box aspect (width / height): about halfway between 4:3 and 16:9 screens, so neither stretches a
# shape by more than a fifth.
ASPECT = 1.5
# Share of the box height hidden under the status strip on a 600-row screen (16 rows), plus a little.
STRIP = 0.03
# Empty border around the attractor, as a share of the box on each side.
MARGIN = 0.05
POINT_COUNT = 30000


def similitude(scale, degrees, tx, ty, mirror=False):
    """z -> scale * rotation(degrees) * z + (tx, ty), optionally mirrored in the x axis first."""
    c = math.cos(math.radians(degrees)) * scale
    s = math.sin(math.radians(degrees)) * scale
    if mirror:  # (x, y) -> (x, -y) before the rotation
        return (c, s, s, -c, tx, ty)
    return (c, -s, s, c, tx, ty)


def affine(sx, sy, degrees, tx, ty):
    """Scale x by sx and y by sy, rotate, then translate."""
    c = math.cos(math.radians(degrees))
    s = math.sin(math.radians(degrees))
    return (c * sx, -s * sy, s * sx, c * sy, tx, ty)


def area_weights(maps, floor=1):
    """Percent weights proportional to |det|, at least `floor` each, summing to 100."""
    dets = [abs(m[0] * m[3] - m[1] * m[2]) for m in maps]
    total = sum(dets)
    raw = [max(floor, 100.0 * d / total) for d in dets]
    scale = 100.0 / sum(raw)
    raw = [r * scale for r in raw]
    weights = [max(floor, int(r)) for r in raw]
    # Hand the rounding remainder to the largest fractional parts.
    order = sorted(range(len(raw)), key=lambda i: raw[i] - int(raw[i]), reverse=True)
    i = 0
    while sum(weights) < 100:
        weights[order[i % len(order)]] += 1
        i += 1
    while sum(weights) > 100:
        j = max(range(len(weights)), key=lambda k: weights[k])
        weights[j] -= 1
    return weights


def gallery():
    """(name, note, maps, weights or None for area weights) for every fractal, in file order."""
    r3 = math.sqrt(3.0)
    phi = (1 + math.sqrt(5.0)) / 2
    items = []

    # Barnsley's fern: a stem, the shrinking frond above it, and the two lowest leaflets. The stem
    # has no area, so the weights are the classic ones rather than by area.
    items.append(("Barnsley fern", "stem, frond, left and right leaflet", [
        (0.0, 0.0, 0.0, 0.16, 0.0, 0.0),
        (0.85, 0.04, -0.04, 0.85, 0.0, 1.6),
        (0.2, -0.26, 0.23, 0.22, 0.0, 1.6),
        (-0.15, 0.28, 0.26, 0.24, 0.0, 0.44),
    ], [1, 85, 7, 7]))

    # Sierpinski triangle: halves towards the three corners of an equilateral triangle.
    items.append(("Sierpinski triangle", "half-size copies at the three corners", [
        similitude(0.5, 0, 0, 0), similitude(0.5, 0, 0.5, 0), similitude(0.5, 0, 0.25, r3 / 4),
    ], None))

    # Sierpinski carpet: the eight outer thirds of the unit square.
    items.append(("Sierpinski carpet", "eight one-third copies around an empty centre", [
        similitude(1 / 3, 0, i / 3, j / 3) for j in range(3) for i in range(3) if (i, j) != (1, 1)
    ], None))

    # Heighway dragon: z -> (1+i)z/2 and z -> 1 - (1-i)z/2.
    items.append(("Heighway dragon", "z -> (1+i)z/2, z -> 1-(1-i)z/2", [
        (0.5, -0.5, 0.5, 0.5, 0.0, 0.0), (-0.5, -0.5, 0.5, -0.5, 1.0, 0.0),
    ], None))

    # Twin dragon: the tile T = (T u T+1)/(1+i).
    items.append(("Twin dragon", "z -> (1-i)z/2, z -> (1-i)(z+1)/2", [
        (0.5, 0.5, -0.5, 0.5, 0.0, 0.0), (0.5, 0.5, -0.5, 0.5, 0.5, -0.5),
    ], None))

    # Golden dragon: ratios r and r^2 with r = (1/phi)^(1/phi); the angles close the triangle 0, a, 1.
    r = (1 / phi) ** (1 / phi)
    angle_a = math.degrees(math.acos((1 + r ** 2 - r ** 4) / (2 * r)))
    angle_b = math.degrees(math.acos((1 + r ** 4 - r ** 2) / (2 * r ** 2)))
    items.append(("Golden dragon", "ratios r, r^2 with r = (1/phi)^(1/phi)", [
        similitude(r, angle_a, 0, 0), similitude(r * r, 180 - angle_b, 1, 0),
    ], None))

    # Levy C curve: z -> (1+i)z/2 and z -> (1-i)z/2 + (1+i)/2.
    items.append(("Levy C curve", "two quarter-turned halves over the unit segment", [
        (0.5, -0.5, 0.5, 0.5, 0.0, 0.0), (0.5, 0.5, -0.5, 0.5, 0.5, 0.5),
    ], None))

    # Koch curve: four thirds of the unit segment, the middle two raised into a peak.
    items.append(("Koch curve", "four one-third copies, the middle two tilted by 60 degrees", [
        similitude(1 / 3, 0, 0, 0), similitude(1 / 3, 60, 1 / 3, 0),
        similitude(1 / 3, -60, 0.5, r3 / 6), similitude(1 / 3, 0, 2 / 3, 0),
    ], None))

    # Koch snowflake (filled): a copy shrunk by 1/sqrt(3) and turned 30 degrees in the middle, six
    # one-third copies at the points. Their areas 1/3 + 6/9 add up to the whole.
    flake = [similitude(1 / r3, 30, 0, 0)]
    for k in range(6):  # the six tips of the flake lie at distance 1, the first one straight up
        t = math.radians(90 + 60 * k)
        flake.append(similitude(1 / 3, 0, 2 / 3 * math.cos(t), 2 / 3 * math.sin(t)))
    items.append(("Koch snowflake", "centre copy 1/sqrt(3) turned 30 degrees, six thirds around it",
                  flake, None))

    # Maple leaf: five lobes, each a copy of the whole leaf standing on its own base near the
    # leaf's middle (the top one upright, the others turned outwards), and a thin stem.
    items.append(("Maple leaf", "five lobes turned 0, +-45 and +-100 degrees, and a stem", [
        similitude(0.48, 0, 0, 1.05),
        similitude(0.55, 45, -0.4, 0.5), similitude(0.55, -45, 0.4, 0.5),
        similitude(0.35, 100, -0.35, 0.2), similitude(0.35, -100, 0.35, 0.2),
        affine(0.03, 0.25, 0, 0, -0.5),
    ], None))

    # A tree: the trunk is the whole tree squeezed thin; two boughs turned 40 degrees and a crown
    # stand on its top. The trunk gets more than its area so that it shows.
    items.append(("Tree", "trunk, two boughs turned 40 degrees, a crown", [
        affine(0.04, 0.4, 0, 0, 0),
        similitude(0.55, 40, 0, 0.4), similitude(0.55, -40, 0, 0.4), similitude(0.55, 0, 0, 0.45),
    ], [4, 32, 32, 32]))

    # Spiral: the whole turned by 15 degrees and shrunk a little, plus one 0.3 copy that makes
    # the curling arm.
    items.append(("Spiral", "z -> 0.92 e^(i 15deg) z, and a 0.3 copy at 1", [
        similitude(0.92, 15, 0, 0), similitude(0.3, 0, 1, 0),
    ], None))

    # Spiral galaxy: the same with two arms, opposite each other.
    items.append(("Two-armed spiral", "z -> 0.85 e^(i 25deg) z, and 0.25 copies at 1 and -1", [
        similitude(0.85, 25, 0, 0), similitude(0.25, 0, 1, 0), similitude(0.25, 0, -1, 0),
    ], None))

    # Crystal: Vicsek's cross, the centre and the four arm ends of a 3x3 grid.
    items.append(("Crystal", "Vicsek cross: centre and four arms of one-third copies", [
        similitude(1 / 3, 0, 0, 0), similitude(1 / 3, 0, 2 / 3, 0), similitude(1 / 3, 0, -2 / 3, 0),
        similitude(1 / 3, 0, 0, 2 / 3), similitude(1 / 3, 0, 0, -2 / 3),
    ], None))

    # Hexaflake: a one-third copy in the middle and at the six corners of a hexagon.
    items.append(("Hexaflake", "seven one-third copies, six on a hexagon", [
        similitude(1 / 3, 0, 0, 0)] + [
        similitude(1 / 3, 0, 2 / 3 * math.cos(math.radians(60 * k)), 2 / 3 * math.sin(math.radians(60 * k)))
        for k in range(6)
    ], None))

    # Pentaflake: six copies at ratio 1/(1+phi), one turned over in the middle, five on a pentagon.
    pr = 1 / (1 + phi)
    items.append(("Pentaflake", "six copies at ratio 1/(1+phi), five on a pentagon", [
        similitude(pr, 180, 0, 0)] + [
        similitude(pr, 0, (1 - pr) * math.cos(math.radians(90 + 72 * k)),
                   (1 - pr) * math.sin(math.radians(90 + 72 * k)))
        for k in range(5)
    ], None))

    # Cantor dust: the four corner thirds of the unit square.
    items.append(("Cantor dust", "four one-third copies at the corners", [
        similitude(1 / 3, 0, i * 2 / 3, j * 2 / 3) for j in range(2) for i in range(2)
    ], None))

    return items


def chaos(maps, weights, count, rng):
    """The attractor's points by the chaos game, as the saver chooses maps."""
    choice = []
    for h, w in enumerate(weights):
        choice += [h] * w
    choice = [0] + choice + [len(maps) - 1] * (100 - len(choice))
    x = y = 0.0
    for _ in range(40):
        a, b, c, d, e, f = maps[choice[rng.randrange(101)]]
        x, y = a * x + b * y + e, c * x + d * y + f
    pts = []
    for _ in range(count):
        a, b, c, d, e, f = maps[choice[rng.randrange(101)]]
        x, y = a * x + b * y + e, c * x + d * y + f
        pts.append((x, y))
    return pts


def frame(pts):
    """A box of aspect ASPECT around the points with a margin, its top STRIP left for the strip."""
    x0 = min(p[0] for p in pts)
    x1 = max(p[0] for p in pts)
    y0 = min(p[1] for p in pts)
    y1 = max(p[1] for p in pts)
    w = (x1 - x0) / (1 - 2 * MARGIN)
    h = (y1 - y0) / (1 - 2 * MARGIN)
    # The visible part is (1 - STRIP) of the box height.
    height = max(h / (1 - STRIP), w / ASPECT)
    width = height * ASPECT
    cx = (x0 + x1) / 2
    cy = (y0 + y1) / 2
    xmin = cx - width / 2
    ymin = cy - height * (1 - STRIP) / 2
    return xmin, ymin, xmin + width, ymin + height


def number(v, digits=7):
    text = f"{v:.{digits}f}".rstrip("0").rstrip(".")
    return "0" if text in ("-0", "") else text


def preview(path, maps, weights, box, width=800, height=600, count=POINT_COUNT):
    """A PGM of the set as the saver draws it full-screen (the strip rows grey)."""
    rng = random.Random(7)
    xmin, ymin, xmax, ymax = box
    img = bytearray(width * height)
    for i in range(16 * width):
        img[i] = 60
    for x, y in chaos(maps, weights, count, rng):
        px = int((x - xmin) / (xmax - xmin) * width)
        py = int((y - ymin) / (ymax - ymin) * height)
        if 0 <= px < width and 0 <= py < height - 16:
            img[(height - 1 - py) * width + px] = 255
    with open(path, "wb") as out:
        out.write(b"P5 %d %d 255\n" % (width, height))
        out.write(img)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    here = os.path.dirname(os.path.abspath(__file__))
    parser.add_argument("--out", default=os.path.join(here, "..", "resources", "lumivex.ini"))
    parser.add_argument("--preview")
    args = parser.parse_args()

    lines = [
        "; Lumivex definition file: the shipped gallery of well-known IFS fractals.",
        "; Written by tools/gallery/write_gallery_ini.py; edit the fractals there and run it again.",
        ";",
        "; The first line that starts with a number is the point count (negative: status line on).",
        "; Then each fractal: a line with its number of maps n; n lines \"a b c d e f weight\", the map",
        "; (x, y) -> (a x + b y + e, c x + d y + f) and its share in percent; one line",
        "; \"xmin ymin xmax ymax\", the box that fills the screen. A comment among the map lines would",
        "; be read as a map: put comments only between fractals.",
        ";",
        "; Boxes are about 3:2 (between 4:3 and 16:9 screens), with room at the top for the status",
        "; strip; map weights follow each map's share of the area, so the points fall evenly.",
        f"{POINT_COUNT}",
    ]
    for index, (name, note, maps, weights) in enumerate(gallery(), 1):
        if weights is None:
            weights = area_weights(maps)
        assert sum(weights) == 100 and len(weights) == len(maps), name
        pts = chaos(maps, weights, 200000, random.Random(index))
        box = frame(pts)
        lines.append(f"; {index}. {name}: {note}")
        lines.append(f"{len(maps)}")
        for m, w in zip(maps, weights):
            lines.append(" ".join(number(v) for v in m) + f" {w}")
        lines.append(" ".join(number(v, 4) for v in box))
        if args.preview:
            os.makedirs(args.preview, exist_ok=True)
            slug = name.lower().replace(" ", "-")
            preview(os.path.join(args.preview, f"{index:02d}-{slug}.pgm"), maps, weights, box)
    with open(args.out, "w", newline="\n") as out:
        out.write("\n".join(lines) + "\n")
    print(f"wrote {args.out}", file=sys.stderr)


if __name__ == "__main__":
    main()
