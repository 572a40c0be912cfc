"""Small valid input files of every kind Tarvex reads, as bytes.

Shared by the fuzzers' seed corpora (fuzz/make_corpus.py) and the hostile-file
suite (tests/hostile/generate.py), which starts from these and breaks them.
Standard library only; the same bytes on every run.
"""

import struct

BI_RGB, BI_RLE8, BI_RLE4, BI_BITFIELDS = 0, 1, 2, 3


# ---------------------------------------------------------------- BMP

def stride(width, bpp):
    """Bytes in one stored row: whole 32-bit words."""
    return (width * bpp + 31) // 32 * 4


def pattern_pixels(width, height, bpp):
    """Row data with every byte different from its neighbours, padding 0."""
    rows = []
    used = (width * bpp + 7) // 8
    for y in range(height):
        row = bytes((x * 37 + y * 11 + 5) & 0xFF for x in range(used))
        rows.append(row + bytes(stride(width, bpp) - used))
    return b"".join(rows)


def grey_table(count):
    """count colour-table entries (r, g, b), evenly spread from black to white."""
    if count <= 1:
        return [(0, 0, 0)] * count
    return [(i * 255 // (count - 1), (i * 97) & 0xFF, 255 - i * 255 // (count - 1))
            for i in range(count)]


def bmp(width, height, bpp=24, *, compression=BI_RGB, top_down=False, core=False,
        table=None, clr_used=0, masks=None, header_size=None, pixels=None,
        size_image=None, planes=1, off_bits=None, signature=b"BM"):
    """A BMP file.

    table: colour-table entries (r, g, b); by default a full table for depths
    of 8 bits and below. masks: (red, green, blue) for BI_BITFIELDS, written
    inside a header of 52 bytes or more, else after a 40-byte one. pixels:
    the stored pixel bytes (run-length data for the RLE compressions); by
    default a pattern of whole rows. height is stored negated for top_down.
    """
    if header_size is None:
        header_size = 12 if core else 40
    if table is None:
        table = grey_table(1 << bpp) if bpp <= 8 else []
    if pixels is None:
        pixels = pattern_pixels(width, height, bpp)
    stored_height = -height if top_down else height

    if header_size == 12:
        header = struct.pack("<IHHHH", 12, width, stored_height & 0xFFFF, planes, bpp)
        extra = b"".join(struct.pack("<BBB", b, g, r) for r, g, b in table)
    else:
        header = struct.pack("<IiiHHIIiiII", header_size, width, stored_height, planes, bpp,
                             compression, len(pixels) if size_image is None else size_image,
                             2835, 2835, clr_used, 0)
        tail = b""
        if header_size >= 52 and masks is not None:
            tail = struct.pack("<III", *masks)
        header += tail + bytes(header_size - 40 - len(tail))
        extra = b""
        if header_size < 52 and masks is not None:
            extra = struct.pack("<III", *masks)
        extra += b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in table)
    if off_bits is None:
        off_bits = 14 + len(header) + len(extra)
    file_header = signature + struct.pack("<IHHI", off_bits + len(pixels), 0, 0, off_bits)
    return file_header + header + extra + pixels


def rle8(rows):
    """RLE8 data for rows of colour indices, bottom row first: encoded runs
    for repeats, absolute runs for the rest, an end of line after each row
    and an end of bitmap."""
    out = bytearray()
    for row in rows:
        x = 0
        while x < len(row):
            run = 1
            while x + run < len(row) and run < 255 and row[x + run] == row[x]:
                run += 1
            if run >= 2:
                out += bytes((run, row[x]))
                x += run
                continue
            end = x
            while end < len(row) and end - x < 255 and (end + 1 >= len(row) or row[end + 1] != row[end]):
                end += 1
            literal = row[x:end]
            if len(literal) < 3:
                for value in literal:
                    out += bytes((1, value))
            else:
                out += bytes((0, len(literal))) + bytes(literal)
                if len(literal) % 2:
                    out += b"\x00"
            x = end
        out += b"\x00\x00"
    out += b"\x00\x01"
    return bytes(out)


def rle4(rows):
    """RLE4 data for rows of 4-bit indices, bottom row first: absolute runs
    of up to 8 pixels, then an encoded run of two alternating nibbles for
    the rest of the row, with an end of line after each row and an end of
    bitmap."""
    out = bytearray()
    for row in rows:
        head = row[:8]
        if len(head) >= 3:
            packed = bytearray()
            for i in range(0, len(head), 2):
                low = head[i + 1] if i + 1 < len(head) else 0
                packed.append((head[i] << 4) | low)
            out += bytes((0, len(head))) + packed
            if len(packed) % 2:
                out += b"\x00"
        else:
            for value in head:
                out += bytes((1, value << 4))
        rest = row[8:]
        if rest:
            second = rest[1] if len(rest) > 1 else 0
            out += bytes((len(rest), (rest[0] << 4) | second))
        out += b"\x00\x00"
    out += b"\x00\x01"
    return bytes(out)


def index_rows(width, height, colours):
    """Rows of colour indices with repeats and changes, bottom row first."""
    return [[((x // 3) + y) % colours for x in range(width)] for y in range(height)]


def valid_bmps():
    """Every kind of BMP the loader accepts, small: name -> bytes."""
    files = {}
    for bpp in (1, 4, 8, 16, 24, 32):
        files[f"rgb{bpp}"] = bmp(5, 3, bpp)
        files[f"rgb{bpp}_topdown"] = bmp(5, 3, bpp, top_down=True)
    files["rgb8_short_table"] = bmp(6, 2, 8, table=grey_table(4), clr_used=4)
    files["rgb4_short_table"] = bmp(6, 2, 4, table=grey_table(3), clr_used=3)
    files["rgb24_with_table"] = bmp(3, 2, 24, table=grey_table(2), clr_used=2)
    files["bitfields16_565"] = bmp(4, 3, 16, compression=BI_BITFIELDS, masks=(0xF800, 0x07E0, 0x001F))
    files["bitfields16_555"] = bmp(4, 3, 16, compression=BI_BITFIELDS, masks=(0x7C00, 0x03E0, 0x001F))
    files["bitfields32"] = bmp(3, 3, 32, compression=BI_BITFIELDS, masks=(0xFF0000, 0xFF00, 0xFF))
    files["bitfields32_v4"] = bmp(3, 2, 32, compression=BI_BITFIELDS, masks=(0xFF, 0xFF00, 0xFF0000),
                                  header_size=108)
    files["bitfields16_v5_topdown"] = bmp(3, 2, 16, compression=BI_BITFIELDS, header_size=124,
                                          masks=(0xF800, 0x07E0, 0x001F), top_down=True)
    files["rle8"] = bmp(11, 4, 8, compression=BI_RLE8, pixels=rle8(index_rows(11, 4, 7)))
    files["rle8_delta"] = bmp(6, 4, 8, compression=BI_RLE8,
                              pixels=bytes((3, 1, 0, 2, 1, 1, 2, 5, 0, 0, 0, 3, 7, 8, 9, 0, 0, 1)))
    files["rle4"] = bmp(13, 3, 4, compression=BI_RLE4, pixels=rle4(index_rows(13, 3, 16)))
    files["rle4_delta"] = bmp(8, 3, 4, compression=BI_RLE4,
                              pixels=bytes((4, 0x12, 0, 2, 2, 1, 0, 5, 0x34, 0x50, 0, 0, 0, 1)))
    for bpp in (1, 4, 8, 24):
        files[f"core{bpp}"] = bmp(5, 3, bpp, core=True)
    files["one_pixel"] = bmp(1, 1, 24)
    files["zero_width"] = bmp(0, 3, 24)
    return files


# ---------------------------------------------------------------- OBJ, MTL

CUBE_POSITIONS = [(-0.5, -0.5, -0.5), (0.5, -0.5, -0.5), (0.5, 0.5, -0.5), (-0.5, 0.5, -0.5),
                  (-0.5, -0.5, 0.5), (0.5, -0.5, 0.5), (0.5, 0.5, 0.5), (-0.5, 0.5, 0.5)]
CUBE_QUADS = [(0, 3, 2, 1), (4, 5, 6, 7), (0, 1, 5, 4), (2, 3, 7, 6), (1, 2, 6, 5), (0, 4, 7, 3)]


def cube_obj(*, mtllib=None, materials=("red", "blue"), corner_form="v/vt/vn", line_end="\n",
             scale=1.0, triangles=False, comment="# a cube"):
    """A cube of eight vertices (each with its own normal), six faces split
    between the materials. corner_form is "v/vt/vn" or "v//vn"; with
    triangles each quad is written as two triangles."""
    lines = [comment]
    if mtllib:
        lines.append(f"mtllib {mtllib}")
    for x, y, z in CUBE_POSITIONS:
        lines.append(f"v {x * scale:.6f} {y * scale:.6f} {z * scale:.6f}")
    for x, y, z in CUBE_POSITIONS:
        n = 3 ** -0.5
        lines.append(f"vn {n if x > 0 else -n:.6f} {n if y > 0 else -n:.6f} {n if z > 0 else -n:.6f}")
    uvs = [(0, 0), (1, 0), (1, 1), (0, 1)]
    if corner_form == "v/vt/vn":
        for u, v in uvs:
            lines.append(f"vt {u:.6f} {v:.6f}")

    def corner(vertex, k):
        if corner_form == "v/vt/vn":
            return f"{vertex + 1}/{k + 1}/{vertex + 1}"
        return f"{vertex + 1}//{vertex + 1}"

    for i, quad in enumerate(CUBE_QUADS):
        if materials:
            material = materials[i * len(materials) // len(CUBE_QUADS)]
            if i == 0 or materials[(i - 1) * len(materials) // len(CUBE_QUADS)] != material:
                lines.append(f"usemtl {material}")
        if triangles:
            for a, b, c in ((0, 1, 2), (0, 2, 3)):
                lines.append("f " + " ".join(corner(quad[k], k) for k in (a, b, c)))
        else:
            lines.append("f " + " ".join(corner(v, k) for k, v in enumerate(quad)))
    return (line_end.join(lines) + line_end).encode()


def mtl(materials, line_end="\n"):
    """An MTL file. materials: (name, kd (r, g, b), map_kd or None)."""
    lines = ["# materials"]
    for name, kd, map_kd in materials:
        lines += [f"newmtl {name}", "Ns 32.000000", "Ka 0.100000 0.100000 0.100000",
                  f"Kd {kd[0]:.6f} {kd[1]:.6f} {kd[2]:.6f}", "Ks 0.500000 0.500000 0.500000"]
        if map_kd:
            lines.append(f"map_Kd {map_kd}")
    return (line_end.join(lines) + line_end).encode()


def frame_names(names, line_end="\n"):
    return (line_end.join(names) + line_end).encode()


# ---------------------------------------------------------------- MDL5

def mdl5(*, skins=((5, 2, 2),), skin_verts=((0, 0), (1, 0), (1, 1)), triangles=(((0, 1, 2), (0, 1, 2)),),
         frames=(("frame0", ((0, 0, 0, 1), (65535, 0, 0, 2), (0, 65535, 0, 3))),)):
    """An MDL5 model. skins: (type 4 or 5, width, height), with pattern pixels.
    triangles: (vertex indices, skin-vertex indices). frames: (name, vertices
    as (x, y, z, normal index)); every frame holds the same number."""
    num_verts = len(frames[0][1]) if frames else 0
    out = bytearray(b"MDL5")
    out += struct.pack("<i3f3fI3f", 0, 0.01, 0.01, 0.01, 0.0, 0.0, 0.0, 0, 0.0, 0.0, 0.0)
    out += struct.pack("<9i", len(skins), 0, 0, num_verts, len(triangles), len(frames),
                       len(skin_verts), 0, 0)
    for skin_type, width, height in skins:
        size = width * height * (4 if skin_type == 5 else 3)
        out += struct.pack("<iii", skin_type, width, height)
        out += bytes((i * 13) & 0xFF for i in range(size))
    for u, v in skin_verts:
        out += struct.pack("<HH", u, v)
    for vertices, uvs in triangles:
        out += struct.pack("<6H", *vertices, *uvs)
    for name, vertices in frames:
        coords = [v[:3] for v in vertices]
        low = [min(c[a] for c in coords) for a in range(3)]
        high = [max(c[a] for c in coords) for a in range(3)]
        out += struct.pack("<i", 2)
        out += struct.pack("<3HBB", *low, 0, 0) + struct.pack("<3HBB", *high, 0, 0)
        out += name.encode()[:15].ljust(16, b"\x00")
        for x, y, z, normal in vertices:
            out += struct.pack("<3HBB", x, y, z, normal, 0)
    return bytes(out)
