#!/usr/bin/env python3
"""Writes the heavy conversion job of the speed benchmark into a folder.

NAME_0.obj ... NAME_20.obj: a torus of 250 x 260 vertices turning and
rippling from frame to frame. Each file holds 65,000 vertices, 65,000 texture
coordinates and 65,000 unit normals (6 decimals), and 130,000 triangles in
v/vt/vn form over 8 materials, with CR LF line ends: about 13 MB a file.
NAME.mtl names the 8 materials, each with its own 24-bit 256 x 256 texture
texN.bmp.

Usage: make_heavy_job.py FOLDER [--name NAME] [--frames N]

The bytes are the same on every run. A folder that already holds a complete
job of the same parameters (its stamp file) is left as it is.
"""

import argparse
import math
import os
import struct
import sys

RINGS = 250  # around the torus' axis
SIDES = 260  # around its tube
MATERIALS = 8
TEXTURE_SIDE = 256
MAJOR_RADIUS = 0.6
MINOR_RADIUS = 0.25
STAMP = ".heavy-job"


def texture_bmp(index):
    """A 24-bit bottom-up BMP of TEXTURE_SIDE squared: a gradient whose hues
    differ per material, so every tile of the atlas is told apart."""
    side = TEXTURE_SIDE
    row_bytes = side * 3  # a multiple of 4 already
    pixels = bytearray(row_bytes * side)
    for y in range(side):
        base = y * row_bytes
        for x in range(side):
            at = base + 3 * x
            pixels[at] = (x * 2 + index * 29) & 0xFF
            pixels[at + 1] = (y + index * 53) & 0xFF
            pixels[at + 2] = ((x ^ y) + index * 97) & 0xFF
    header = b"BM" + struct.pack("<IHHI", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, side, side, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    return header + info + bytes(pixels)


def mtl_text(name):
    lines = [f"# {name}: {MATERIALS} materials, one texture each"]
    for m in range(MATERIALS):
        lines += [
            f"newmtl mat{m}",
            f"Ka 0.1 0.1 0.1",
            f"Kd {0.2 + 0.1 * m:.1f} {0.9 - 0.1 * m:.1f} 0.5",
            f"Ks 0.0 0.0 0.0",
            f"Ns 10.0",
            f"map_Kd tex{m}.bmp",
            "",
        ]
    return "\r\n".join(lines) + "\r\n"


def frame_text(name, frame):
    """One OBJ frame. Vertex (i, j) is ring i, side j; its texture coordinate
    is its place on the grid, its normal the torus' surface normal turned
    with the frame."""
    turn = frame * 2 * math.pi / 84  # a quarter turn over the 21 frames
    cos_t, sin_t = math.cos(turn), math.sin(turn)
    ripple = 0.02 * math.sin(frame * 0.7)
    out = [f"# {name}_{frame}: frame {frame}\r\nmtllib {name}.mtl\r\n"]

    positions = []
    normals = []
    for i in range(RINGS):
        a = 2 * math.pi * i / RINGS
        ca, sa = math.cos(a), math.sin(a)
        for j in range(SIDES):
            b = 2 * math.pi * j / SIDES
            cb, sb = math.cos(b), math.sin(b)
            r = MINOR_RADIUS + ripple * math.sin(3 * a + b)
            x = (MAJOR_RADIUS + r * cb) * ca
            y = r * sb
            z = (MAJOR_RADIUS + r * cb) * sa
            nx, ny, nz = cb * ca, sb, cb * sa
            # Turned about the y axis.
            positions.append((x * cos_t + z * sin_t, y, z * cos_t - x * sin_t))
            normals.append((nx * cos_t + nz * sin_t, ny, nz * cos_t - nx * sin_t))
    out.append("".join("v %.6f %.6f %.6f\r\n" % p for p in positions))
    out.append("".join(
        "vt %.6f %.6f\r\n" % (j / (SIDES - 1), i / (RINGS - 1))
        for i in range(RINGS) for j in range(SIDES)))
    out.append("".join("vn %.6f %.6f %.6f\r\n" % n for n in normals))

    # Two triangles per cell, the grid closed in both directions: 130,000.
    rings_per_material = RINGS // MATERIALS + (RINGS % MATERIALS > 0)
    faces = []
    for i in range(RINGS):
        if i % rings_per_material == 0:
            faces.append(f"usemtl mat{i // rings_per_material}\r\n")
        i2 = (i + 1) % RINGS
        for j in range(SIDES):
            j2 = (j + 1) % SIDES
            a = i * SIDES + j + 1
            b = i * SIDES + j2 + 1
            c = i2 * SIDES + j2 + 1
            d = i2 * SIDES + j + 1
            faces.append(f"f {a}/{a}/{a} {b}/{b}/{b} {c}/{c}/{c}\r\n"
                         f"f {a}/{a}/{a} {c}/{c}/{c} {d}/{d}/{d}\r\n")
    out.append("".join(faces))
    return "".join(out)


def write(path, data):
    mode = "wb" if isinstance(data, bytes) else "w"
    kwargs = {} if isinstance(data, bytes) else {"encoding": "ascii", "newline": ""}
    with open(path + ".part", mode, **kwargs) as f:
        f.write(data)
    os.replace(path + ".part", path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("folder")
    parser.add_argument("--name", default="heavy")
    parser.add_argument("--frames", type=int, default=21)
    args = parser.parse_args()
    if not args.name or "_" in args.name or "/" in args.name:
        parser.error("NAME must be non-empty and hold neither '_' nor '/'")
    if args.frames < 1:
        parser.error("--frames must be at least 1")

    os.makedirs(args.folder, exist_ok=True)
    stamp_path = os.path.join(args.folder, STAMP)
    stamp = f"{args.name} {args.frames} {RINGS}x{SIDES} v1\n"
    try:
        with open(stamp_path, encoding="ascii") as f:
            if f.read() == stamp:
                return 0
    except OSError:
        pass

    for m in range(MATERIALS):
        write(os.path.join(args.folder, f"tex{m}.bmp"), texture_bmp(m))
    write(os.path.join(args.folder, f"{args.name}.mtl"), mtl_text(args.name))
    for frame in range(args.frames):
        write(os.path.join(args.folder, f"{args.name}_{frame}.obj"), frame_text(args.name, frame))
        print(f"\rmake_heavy_job: frame {frame + 1} of {args.frames}", end="", file=sys.stderr)
    print(file=sys.stderr)
    write(stamp_path, stamp)
    return 0


if __name__ == "__main__":
    sys.exit(main())
