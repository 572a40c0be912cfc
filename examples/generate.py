#!/usr/bin/env python3
"""Writes the example windmill: three OBJ frames, their MTL file, the
frame-name list and the plank texture (a PNG file).

    python3 generate.py [FOLDER]

The files go into FOLDER, or beside this script when none is given. The
output is the same on every run (standard library only, no randomness), so
the committed files can be checked by regenerating them and comparing.
"""

import math
import os
import struct
import sys
import zlib

BASE = "windmill"
FRAME_NAMES = ["idle", "turn1", "turn2"]
# Each frame turns the sails further about the hub axis.
SAIL_TURN_DEGREES = [0.0, 30.0, 60.0]

# The text files end their lines with CR LF: every OBJ reader accepts it,
# including those that end a line at a carriage return only.
LINE_END = "\r\n"

# Tower: a tapered box of four plank walls, open at the bottom and covered by
# the roof at the top. The packed MDL format holds -1..1 on every axis, so the
# whole model stays inside that cube.
TOWER_BOTTOM_Y = -0.9
TOWER_TOP_Y = 0.3
TOWER_BOTTOM_HALF = 0.34
TOWER_TOP_HALF = 0.26

# Roof: a four-sided pyramid overhanging the tower top.
ROOF_BASE_HALF = 0.34
ROOF_APEX_Y = 0.75

# Sails: four flat blades in front of the tower, turning about an axis
# parallel to z through the hub. Each blade runs from INNER to OUTER along its
# arm and sits on one side of it, from NEAR to FAR, like a lattice sail on its
# whip.
HUB = (0.0, 0.1, 0.36)
SAIL_INNER = 0.1
SAIL_OUTER = 0.62
SAIL_NEAR = 0.02
SAIL_FAR = 0.16
SAIL_START_DEGREES = 45.0  # frame 0 shows the sails as an X

# The plank texture: four vertical boards.
TEXTURE_SIZE = 64
BOARD_WIDTH = 16


# ---------------------------------------------------------------- geometry

def sub(a, b):
    return (a[0] - b[0], a[1] - b[1], a[2] - b[2])


def cross(a, b):
    return (a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0])


def normalised(a):
    length = math.sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2])
    return (a[0] / length, a[1] / length, a[2] / length)


def face_normal(corners):
    """The outward normal of a flat polygon whose corners run counter-clockwise
    seen from outside."""
    return normalised(cross(sub(corners[1], corners[0]), sub(corners[2], corners[0])))


def turn_about_y(point, degrees):
    a = math.radians(degrees)
    x, y, z = point
    return (x * math.cos(a) + z * math.sin(a), y, -x * math.sin(a) + z * math.cos(a))


class Part:
    """A group of faces of one material. Every face has corners of its own, so
    that each vertex carries its face's normal: the converter takes the normal
    of vertex i from the i-th normal line, not from the face's indices."""

    def __init__(self, group, material, textured):
        self.group = group
        self.material = material
        self.textured = textured
        self.faces = []  # each: list of (position, uv or None)

    def add(self, corners, uvs=None):
        if self.textured:
            assert uvs is not None and len(uvs) == len(corners)
            self.faces.append(list(zip(corners, uvs)))
        else:
            self.faces.append([(c, None) for c in corners])


def tower():
    part = Part("tower", "planks", textured=True)
    b, t = TOWER_BOTTOM_HALF, TOWER_TOP_HALF
    y0, y1 = TOWER_BOTTOM_Y, TOWER_TOP_Y
    # The front wall (facing +z); the others are the same wall turned a
    # quarter at a time, which keeps the corners counter-clockwise from outside.
    front = [(-b, y0, b), (b, y0, b), (t, y1, t), (-t, y1, t)]
    uvs = [(0.0, 0.0), (1.0, 0.0), (1.0, 1.0), (0.0, 1.0)]
    for quarter in range(4):
        part.add([turn_about_y(p, 90.0 * quarter) for p in front], uvs)
    return part


def roof():
    part = Part("roof", "roof_tiles", textured=True)
    r, y1 = ROOF_BASE_HALF, TOWER_TOP_Y
    front = [(-r, y1, r), (r, y1, r), (0.0, ROOF_APEX_Y, 0.0)]
    uvs = [(0.0, 0.0), (1.0, 0.0), (0.5, 1.0)]
    for quarter in range(4):
        part.add([turn_about_y(p, 90.0 * quarter) for p in front], uvs)
    return part


def sails(turn_degrees):
    # No texture coordinates: the converter gives these faces its default ones.
    part = Part("sails", "sailcloth", textured=False)
    hx, hy, hz = HUB
    for arm in range(4):
        a = math.radians(SAIL_START_DEGREES + turn_degrees + 90.0 * arm)
        along = (math.cos(a), math.sin(a))
        side = (-math.sin(a), math.cos(a))

        def at(radius, offset):
            return (hx + radius * along[0] + offset * side[0], hy + radius * along[1] + offset * side[1], hz)

        part.add([at(SAIL_INNER, SAIL_NEAR), at(SAIL_OUTER, SAIL_NEAR), at(SAIL_OUTER, SAIL_FAR),
                  at(SAIL_INNER, SAIL_FAR)])
    return part


def model(turn_degrees):
    # The textured material comes first, so the atlas starts with the planks.
    return [tower(), roof(), sails(turn_degrees)]


# -------------------------------------------------------------- text files

def num(value):
    # Six decimals; rounding first keeps "-0.000000" out of the files.
    return "%.6f" % (round(value, 6) + 0.0)


def write_text(folder, name, lines):
    with open(os.path.join(folder, name), "wb") as f:
        f.write("".join(line + LINE_END for line in lines).encode("ascii"))


def obj_lines(frame):
    parts = model(SAIL_TURN_DEGREES[frame])
    lines = [
        "# Windmill, frame %d of %d (%s): sails turned %g degrees"
        % (frame, len(FRAME_NAMES), FRAME_NAMES[frame], SAIL_TURN_DEGREES[frame]),
        "# Every frame lists the same vertices in the same order.",
        "mtllib %s.mtl" % BASE,
        "o %s" % BASE,
    ]
    positions, normals, uvs = [], [], []
    for part in parts:
        for face in part.faces:
            n = face_normal([p for p, _ in face])
            for p, uv in face:
                positions.append(p)
                normals.append(n)
                if uv is not None:
                    uvs.append(uv)
    lines += ["v %s %s %s" % tuple(num(c) for c in p) for p in positions]
    lines += ["vt %s %s" % tuple(num(c) for c in uv) for uv in uvs]
    # One normal per vertex, in vertex order.
    lines += ["vn %s %s %s" % tuple(num(c) for c in n) for n in normals]

    vertex = uv_index = 0
    for part in parts:
        lines.append("g %s" % part.group)
        lines.append("usemtl %s" % part.material)
        for face in part.faces:
            corners = []
            for _, uv in face:
                vertex += 1
                if uv is not None:
                    uv_index += 1
                    corners.append("%d/%d/%d" % (vertex, uv_index, vertex))
                else:
                    corners.append("%d//%d" % (vertex, vertex))
            lines.append("f " + " ".join(corners))
    return lines


def mtl_lines():
    return [
        "# Materials of the windmill.",
        "",
        "# Textured: planks.png lies beside this file; with no planks.bmp there,",
        "# the converter reads the PNG file.",
        "newmtl planks",
        "Ka 0.200000 0.150000 0.100000",
        "Kd 0.600000 0.420000 0.240000",
        "Ks 0.050000 0.050000 0.050000",
        "Ns 8.000000",
        "illum 2",
        "map_Kd planks.png",
        "",
        "# Its texture is missing: the converter writes an 80 x 80 tile of Kd.",
        "newmtl roof_tiles",
        "Ka 0.200000 0.060000 0.050000",
        "Kd 0.700000 0.220000 0.160000",
        "Ks 0.100000 0.100000 0.100000",
        "Ns 16.000000",
        "illum 2",
        "map_Kd roof_tiles.bmp",
        "",
        "# No texture and faces without texture coordinates: the converter names",
        "# the texture created_mtl2, writes its tile of Kd and gives the faces",
        "# default coordinates in the middle of it.",
        "newmtl sailcloth",
        "Ka 0.250000 0.250000 0.230000",
        "Kd 0.920000 0.900000 0.820000",
        "Ks 0.000000 0.000000 0.000000",
        "Ns 1.000000",
        "illum 1",
    ]


# ------------------------------------------------------------------ texture

def hash01(*values):
    """A fixed pseudo-random fraction for integer arguments."""
    h = 2166136261
    for v in values:
        h = ((h ^ (v & 0xFFFFFFFF)) * 16777619) & 0xFFFFFFFF
    h ^= h >> 13
    h = (h * 0x5BD1E995) & 0xFFFFFFFF
    h ^= h >> 15
    return h / 4294967296.0


def plank_pixel(x, y):
    """Colour (r, g, b) of texel x, y, with y = 0 the top row."""
    board = x // BOARD_WIDTH
    bx = x % BOARD_WIDTH
    tone = 0.85 + 0.3 * hash01(board, 1)
    base = (150.0 * tone, 98.0 * tone, 52.0 * tone)

    # Grain runs along the board and wanders a little.
    wander = 1.6 * math.sin(y * 0.11 + board * 1.7) + 0.8 * math.sin(y * 0.31 + board)
    grain = math.sin((bx + wander) * 1.45 + board * 2.3)
    shade = 1.0 + 0.10 * grain + 0.06 * (hash01(x, y, 7) - 0.5)

    # A knot on every other board: darker rings round a dark centre.
    if board % 2 == 0:
        kx = board * BOARD_WIDTH + 5 + int(6 * hash01(board, 2))
        ky = 8 + int(48 * hash01(board, 3))
        d = math.hypot((x - kx) * 1.0, (y - ky) * 0.6)
        if d < 3.2:
            shade *= 0.55 + 0.1 * d
        elif d < 5.0:
            shade *= 0.9 + 0.06 * math.cos(d * 3.0)

    # Butt joint across the board, at a different height on each board.
    joint = (19 + 23 * board) % TEXTURE_SIZE
    if y == joint:
        shade *= 0.45
    elif y == (joint + 1) % TEXTURE_SIZE:
        shade *= 1.12
    # Nails beside the joint.
    if bx in (4, 11) and y in ((joint - 2) % TEXTURE_SIZE, (joint + 3) % TEXTURE_SIZE):
        return (45, 42, 40)

    # Gaps between the boards, lit from the left.
    if bx == 0:
        shade *= 0.35
    elif bx == 1:
        shade *= 1.15
    elif bx == BOARD_WIDTH - 1:
        shade *= 0.8

    return tuple(max(0, min(255, int(c * shade))) for c in base)


def png_bytes(width, height, pixel):
    """An 8-bit RGB PNG: the signature, then the chunks IHDR, IDAT (the rows
    from the top, each led by filter byte 0, deflated) and IEND, each with
    its length before and its CRC after."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    rows = bytearray()
    for y in range(height):
        rows.append(0)
        for x in range(width):
            rows += bytes(pixel(x, y))
    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(rows), 9))
            + chunk(b"IEND", b""))


# --------------------------------------------------------------------- main

def main(argv):
    folder = argv[1] if len(argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    os.makedirs(folder, exist_ok=True)
    for frame in range(len(FRAME_NAMES)):
        write_text(folder, "%s_%d.obj" % (BASE, frame), obj_lines(frame))
    write_text(folder, BASE + ".mtl", mtl_lines())
    write_text(folder, BASE + ".fns", FRAME_NAMES)
    with open(os.path.join(folder, "planks.png"), "wb") as f:
        f.write(png_bytes(TEXTURE_SIZE, TEXTURE_SIZE, plank_pixel))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
