#!/usr/bin/env python3
"""Makes OBJ files the way another program's exporter writes them, to try the
reader on: source models built here (PLY, OFF, STL, glTF) are turned into OBJ
and MTL files by the asset-import library's command-line tool (Debian package
assimp-utils), one folder per model.

    python3 bench/make_exports.py OUTDIR
    scripts/convert-all.sh OUTDIR

The models: a cube with a normal per vertex (runs of blanks before corners),
a dodecahedron of pentagons without normals, a faceted sphere from STL (a
normal per corner, several per vertex), a textured two-material box from
glTF (PNG textures, UV-only corners), a model renamed after export (its
mtllib names another file), a far-off model with coordinates in the
thousands, and a grid of 90,000 vertices, more than the format can index.
Standard library only, apart from the assimp tool.
"""

import base64
import math
import os
import shutil
import struct
import subprocess
import sys
import zlib


def write(path, data):
    with open(path, "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode())


def export(folder, source, name, data):
    os.makedirs(folder, exist_ok=True)
    src = os.path.join(folder, source)
    write(src, data)
    subprocess.run(["assimp", "export", source, name], cwd=folder, check=True,
                   stdout=subprocess.DEVNULL)
    os.remove(src)


def cube_ply():
    corners = [(x, y, z) for z in (-1, 1) for y in (-1, 1) for x in (-1, 1)]
    lines = ["ply", "format ascii 1.0", "element vertex 8"]
    lines += [f"property float {p}" for p in ("x", "y", "z", "nx", "ny", "nz")]
    lines += ["element face 6", "property list uchar int vertex_indices", "end_header"]
    for x, y, z in corners:
        lines.append(f"{x} {y} {z} {x * 0.577} {y * 0.577} {z * 0.577}")
    for face in ((0, 2, 3, 1), (4, 5, 7, 6), (0, 1, 5, 4), (1, 3, 7, 5), (3, 2, 6, 7), (2, 0, 4, 6)):
        lines.append("4 " + " ".join(map(str, face)))
    return "\n".join(lines) + "\n"


def dodecahedron_off(scale=1.0, shift=0.0):
    p = (1 + math.sqrt(5)) / 2
    verts = [(x, y, z) for x in (-1, 1) for y in (-1, 1) for z in (-1, 1)]
    for a in (-1, 1):
        for b in (-1, 1):
            verts += [(0, a / p, b * p), (a / p, b * p, 0), (a * p, 0, b / p)]
    # Faces: the five vertices nearest to each face centre, in turn.
    edge = 2 / p
    near = [[j for j in range(20) if j != i and abs(math.dist(verts[i], verts[j]) - edge) < 1e-6]
            for i in range(20)]
    faces = set()
    for i in range(20):
        for j in near[i]:
            for k in near[j]:
                if k == i:
                    continue
                for m in near[k]:
                    for n in near[m]:
                        if i in near[n] and len({i, j, k, m, n}) == 5:
                            faces.add(tuple(sorted((i, j, k, m, n))))
    out = []
    for f in sorted(faces):
        ring = [f[0]]
        while len(ring) < 5:
            ring.append(next(v for v in near[ring[-1]] if v in f and v not in ring))
        c = [sum(verts[v][a] for v in ring) for a in range(3)]
        a, b = [[verts[ring[q]][t] - verts[ring[0]][t] for t in range(3)] for q in (1, 2)]
        n = (a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0])
        if sum(n[t] * c[t] for t in range(3)) < 0:
            ring.reverse()
        out.append(ring)
    lines = ["OFF", f"20 {len(out)} 0"]
    lines += [" ".join(f"{v[t] * scale + shift:.6f}" for t in range(3)) for v in verts]
    lines += ["5 " + " ".join(map(str, r)) for r in out]
    return "\n".join(lines) + "\n"


def sphere_stl(rings=8, segments=12):
    def point(r, s):
        th, ph = math.pi * r / rings, 2 * math.pi * s / segments
        return (math.sin(th) * math.cos(ph), math.sin(th) * math.sin(ph), math.cos(th))
    lines = ["solid ball"]
    for r in range(rings):
        for s in range(segments):
            a, b, c, d = point(r, s), point(r + 1, s), point(r + 1, s + 1), point(r, s + 1)
            for tri in ((a, b, c), (a, c, d)):
                if math.dist(tri[0], tri[1]) < 1e-9 or math.dist(tri[1], tri[2]) < 1e-9 \
                        or math.dist(tri[0], tri[2]) < 1e-9:
                    continue
                u = [tri[1][t] - tri[0][t] for t in range(3)]
                v = [tri[2][t] - tri[0][t] for t in range(3)]
                n = (u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0])
                length = math.sqrt(sum(x * x for x in n)) or 1
                lines.append("facet normal " + " ".join(f"{x / length:.6f}" for x in n))
                lines.append("outer loop")
                lines += ["vertex " + " ".join(f"{x:.6f}" for x in p) for p in tri]
                lines += ["endloop", "endfacet"]
    lines.append("endsolid ball")
    return "\n".join(lines) + "\n"


def png(width, height, rgb):
    raw = b"".join(b"\x00" + bytes(rgb) * width for _ in range(height))
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def box_gltf():
    """Two quads of a box, each with a material of its own and a PNG texture."""
    positions = [(-1, -1, 1), (1, -1, 1), (1, 1, 1), (-1, 1, 1), (1, -1, -1), (-1, -1, -1), (-1, 1, -1), (1, 1, -1)]
    uvs = [(0, 1), (1, 1), (1, 0), (0, 0)] * 2
    indices = [0, 1, 2, 0, 2, 3, 4, 5, 6, 4, 6, 7]
    data = b"".join(struct.pack("<3f", *p) for p in positions)
    data += b"".join(struct.pack("<2f", *t) for t in uvs)
    data += b"".join(struct.pack("<H", i) for i in indices)
    uri = "data:application/octet-stream;base64," + base64.b64encode(data).decode()
    views = [(0, 96), (96, 64), (160, 12), (172, 12)]
    import json
    gltf = {
        "asset": {"version": "2.0"},
        "buffers": [{"byteLength": len(data), "uri": uri}],
        "bufferViews": [{"buffer": 0, "byteOffset": o, "byteLength": n} for o, n in views],
        "accessors": [
            {"bufferView": 0, "componentType": 5126, "count": 8, "type": "VEC3",
             "min": [-1, -1, -1], "max": [1, 1, 1]},
            {"bufferView": 1, "componentType": 5126, "count": 8, "type": "VEC2"},
            {"bufferView": 2, "componentType": 5123, "count": 6, "type": "SCALAR"},
            {"bufferView": 3, "componentType": 5123, "count": 6, "type": "SCALAR"},
        ],
        "images": [{"uri": "brick.png"}, {"uri": "Wood Grain.png"}],
        "textures": [{"source": 0}, {"source": 1}],
        "materials": [{"name": "brick", "pbrMetallicRoughness": {"baseColorTexture": {"index": 0}}},
                      {"name": "wood", "pbrMetallicRoughness": {"baseColorTexture": {"index": 1}}}],
        "meshes": [{"primitives": [
            {"attributes": {"POSITION": 0, "TEXCOORD_0": 1}, "indices": 2, "material": 0},
            {"attributes": {"POSITION": 0, "TEXCOORD_0": 1}, "indices": 3, "material": 1}]}],
        "nodes": [{"mesh": 0}],
        "scenes": [{"nodes": [0]}],
        "scene": 0,
    }
    return json.dumps(gltf)


def grid_off(side=300):
    lines = ["OFF", f"{side * side} {(side - 1) * (side - 1)} 0"]
    lines += [f"{x} {y} 0" for y in range(side) for x in range(side)]
    lines += [f"4 {y * side + x} {y * side + x + 1} {(y + 1) * side + x + 1} {(y + 1) * side + x}"
              for y in range(side - 1) for x in range(side - 1)]
    return "\n".join(lines) + "\n"


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    out = sys.argv[1]
    if shutil.which("assimp") is None:
        sys.exit("needs the assimp tool: apt-get install assimp-utils")
    export(os.path.join(out, "cube"), "cube.ply", "cube.obj", cube_ply())
    export(os.path.join(out, "dodecahedron"), "d.off", "dodecahedron.obj", dodecahedron_off())
    export(os.path.join(out, "ball"), "ball.stl", "ball.obj", sphere_stl())
    box = os.path.join(out, "box")
    os.makedirs(box, exist_ok=True)
    write(os.path.join(box, "brick.png"), png(32, 16, (180, 60, 40)))
    write(os.path.join(box, "Wood Grain.png"), png(16, 16, (150, 110, 60)))
    export(box, "box.gltf", "box.obj", box_gltf())
    renamed = os.path.join(out, "renamed")
    export(renamed, "cube.ply", "exported.obj", cube_ply())
    os.rename(os.path.join(renamed, "exported.obj"), os.path.join(renamed, "house.obj"))
    export(os.path.join(out, "faroff"), "d.off", "faroff.obj", dodecahedron_off(1500.0, 20000.0))
    export(os.path.join(out, "grid"), "grid.off", "grid.obj", grid_off())


if __name__ == "__main__":
    main()
