"""Small valid input files of every kind Tarvex reads, as bytes.

Shared by the fuzzers' seed corpora (fuzz/make_corpus.py) and the hostile-file
suite (tests/hostile/generate.py), which starts from these and breaks them.
Standard library only; the same bytes on every run.
"""

import struct
import zlib

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


# ---------------------------------------------------------------- PNG, JPEG, TGA

def picture(width, height):
    """Rows of (r, g, b) from the top, every channel changing from pixel to pixel."""
    return [[((x * 37 + y * 11 + 5) & 0xFF, (x * 13 + y * 71 + 90) & 0xFF, (x * 101 + y * 3 + 200) & 0xFF)
             for x in range(width)] for y in range(height)]


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


ADAM7 = ((0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2))


def png(rows, color_type=2, depth=8, *, interlaced=False, palette=None):
    """A PNG of rows of samples (tuples: one per channel, or palette indices
    for colour type 3), unfiltered. 16-bit samples are given as 16-bit values."""
    height, width = len(rows), len(rows[0]) if rows else 0

    def packed(sub):
        out = bytearray()
        for row in sub:
            out.append(0)  # filter: none
            bits, acc, n = [], 0, 0
            for pixel in row:
                for v in (pixel if isinstance(pixel, tuple) else (pixel,)):
                    if depth == 16:
                        out += struct.pack(">H", v)
                    elif depth == 8:
                        out.append(v)
                    else:
                        acc, n = acc << depth | v, n + depth
                        if n == 8:
                            out.append(acc)
                            acc, n = 0, 0
            if n:
                out.append(acc << (8 - n))
        return bytes(out)

    if interlaced:
        raw = b""
        for x0, y0, dx, dy in ADAM7:
            sub = [row[x0::dx] for row in rows[y0::dy]]
            if sub and sub[0]:
                raw += packed(sub)
    else:
        raw = packed(rows)
    ihdr = struct.pack(">IIBBBBB", width, height, depth, color_type, 0, 0, 1 if interlaced else 0)
    out = b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", ihdr)
    if palette is not None:
        out += png_chunk(b"PLTE", b"".join(bytes(c) for c in palette))
    return out + png_chunk(b"IDAT", zlib.compress(raw, 9)) + png_chunk(b"IEND", b"")


def jpeg(blocks, *, grey=False, progressive=False):
    """A JPEG of flat 8 x 8 blocks: blocks is rows of (r, g, b) (grey: the
    red channel), one per block. Only the DC coefficients are coded, with a
    quantiser of 1 and small tables of our own; a progressive file has its
    one DC scan and no AC scans, which leaves every block flat."""
    height, width = 8 * len(blocks), 8 * len(blocks[0])
    comps = 1 if grey else 3

    def levels(rgb):
        r, g, b = rgb
        if grey:
            return (r,)
        y = 0.299 * r + 0.587 * g + 0.114 * b
        return (y, 128 - 0.168736 * r - 0.331264 * g + 0.5 * b, 128 + 0.5 * r - 0.418688 * g - 0.081312 * b)

    bits = []
    pred = [0] * comps
    for row in blocks:
        for rgb in row:
            for c, v in enumerate(levels(rgb)):
                dc = 8 * (min(255, max(0, round(v))) - 128)
                diff, pred[c] = dc - pred[c], dc
                size = abs(diff).bit_length()
                bits += [(size >> k) & 1 for k in (3, 2, 1, 0)]  # DC code: 4 bits, the size
                value = diff if diff >= 0 else diff + (1 << size) - 1
                bits += [(value >> k) & 1 for k in range(size - 1, -1, -1)]
                if not progressive:
                    bits.append(0)  # AC code 0: end of block
    bits += [1] * (-len(bits) % 8)
    data = bytearray()
    for i in range(0, len(bits), 8):
        byte = int("".join(map(str, bits[i:i + 8])), 2)
        data.append(byte)
        if byte == 0xFF:
            data.append(0)

    def segment(marker, payload):
        return bytes((0xFF, marker)) + struct.pack(">H", len(payload) + 2) + payload

    ids = range(1, comps + 1)
    frame = struct.pack(">BHHB", 8, height, width, comps) + b"".join(bytes((i, 0x11, 0)) for i in ids)
    dc_table = bytes((0x00,)) + bytes((0, 0, 0, 12) + (0,) * 12) + bytes(range(12))
    ac_table = bytes((0x10,)) + bytes((1,) + (0,) * 15) + bytes((0,))
    scan = bytes((comps,)) + b"".join(bytes((i, 0x00)) for i in ids) + \
        (bytes((0, 0, 0)) if progressive else bytes((0, 63, 0)))
    return (b"\xFF\xD8" + segment(0xDB, bytes((0,)) + bytes([1] * 64))
            + segment(0xC2 if progressive else 0xC0, frame) + segment(0xC4, dc_table + ac_table)
            + segment(0xDA, scan) + bytes(data) + b"\xFF\xD9")


def tga_pixel(rgb, bits):
    r, g, b = rgb
    if bits >= 24:
        return bytes((b, g, r)) + (b"\x80" if bits == 32 else b"")
    return struct.pack("<H", (r >> 3) << 10 | (g >> 3) << 5 | b >> 3)


def tga(rows, image_type=2, bits=24, *, top_down=False, right_to_left=False, palette=None, map_bits=24):
    """A TGA of rows of (r, g, b) from the top (palette indices for types 1
    and 9, grey levels for 3 and 11). Types 9 to 11 pack runs of equal pixels
    in run packets and the rest in raw packets, across rows."""
    height, width = len(rows), len(rows[0]) if rows else 0
    kind = image_type & 7
    cmap = b"" if palette is None else b"".join(tga_pixel(c, map_bits) for c in palette)
    header = struct.pack("<BBBHHBHHHHBB", 0, 1 if palette is not None else 0, image_type, 0,
                         len(palette or ()), map_bits if palette is not None else 0, 0, 0,
                         width, height, bits, (0x20 if top_down else 0) | (0x10 if right_to_left else 0))
    ordered = rows if top_down else rows[::-1]
    pixels = []
    for row in ordered:
        for value in (row[::-1] if right_to_left else row):
            pixels.append(bytes((value,)) if kind in (1, 3) else tga_pixel(value, bits))
    if not image_type & 8:
        return header + cmap + b"".join(pixels)
    out, i = bytearray(), 0
    while i < len(pixels):
        run = 1
        while i + run < len(pixels) and run < 128 and pixels[i + run] == pixels[i]:
            run += 1
        if run > 1:
            out += bytes((0x80 | (run - 1),)) + pixels[i]
        else:
            while i + run < len(pixels) and run < 128 and pixels[i + run] != pixels[i + run - 1]:
                run += 1
            out += bytes((run - 1,)) + b"".join(pixels[i:i + run])
        i += run
    return header + cmap + bytes(out)


def valid_textures():
    """Small PNG, JPEG and TGA files of every kind the decoders read: name -> bytes."""
    pic = picture(5, 3)
    grey = [[r for r, _, _ in row] for row in pic]
    runs = [[(9, 9, 9)] * 4 + [(200, 100, 50)] * 3, [(1, 2, 3), (4, 5, 6)] + [(200, 100, 50)] * 5]
    palette = [(255, 0, 0), (0, 255, 0), (0, 0, 255), (90, 90, 90)]
    indices = [[(x + y) % 4 for x in range(6)] for y in range(3)]
    files = {
        "png_rgb": png(pic, 2),
        "png_rgba": png([[p + (x * 50,) for x, p in enumerate(row)] for row in pic], 6),
        "png_rgb16": png([[tuple(v * 257 for v in p) for p in row] for row in pic], 2, 16),
        "png_grey": png([[(v,) for v in row] for row in grey], 0),
        "png_grey2": png([[(v >> 6,) for v in row] for row in grey], 0, 2),
        "png_grey_alpha": png([[(v, 255 - v) for v in row] for row in grey], 4),
        "png_palette4": png(indices, 3, 4, palette=palette),
        "png_interlaced": png(picture(11, 9), 2, interlaced=True),
        "png_palette_interlaced": png(indices, 3, 2, interlaced=True, palette=palette),
        "jpeg_baseline": jpeg([[(200, 30, 30), (30, 200, 30)], [(30, 30, 200), (128, 128, 128)]]),
        "jpeg_progressive": jpeg([[(10, 20, 30), (250, 240, 230), (128, 0, 255)]], progressive=True),
        "jpeg_grey": jpeg([[(0, 0, 0), (255, 0, 0)], [(128, 0, 0), (64, 0, 0)]], grey=True),
        "tga_rgb24": tga(pic),
        "tga_rgb32_top_down": tga(pic, 2, 32, top_down=True),
        "tga_rgb16_right_to_left": tga(pic, 2, 16, right_to_left=True),
        "tga_rgb15": tga(pic, 2, 15),
        "tga_grey": tga(grey, 3, 8),
        "tga_mapped": tga(indices, 1, 8, palette=palette),
        "tga_mapped16_top_down": tga(indices, 1, 8, palette=palette, map_bits=16, top_down=True),
        "tga_rle24": tga(runs, 10),
        "tga_rle32_top_down": tga(runs, 10, 32, top_down=True),
        "tga_rle_grey": tga([[r for r, _, _ in row] for row in runs], 11, 8),
        "tga_rle_mapped": tga(indices, 9, 8, palette=palette),
    }
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

# Bytes per pixel of the skin types without and with smaller levels (type + 8).
SKIN_PIXEL_BYTES = {0: 1, 2: 2, 3: 2, 4: 3, 5: 4}
SKIN_DDS = 6
SKIN_MIP_FLAG = 8


def skin_bytes(skin_type, width, height):
    """The bytes after a skin's type, width and height: a DDS skin's width
    is its byte count; types 10 to 13 add three levels, each a quarter of
    the one before (n/4 + n/16 + n/64 more pixels, rounded down)."""
    if skin_type == SKIN_DDS:
        return width
    pixels = width * height
    if skin_type - SKIN_MIP_FLAG in (2, 3, 4, 5):
        skin_type -= SKIN_MIP_FLAG
        pixels += pixels // 4 + pixels // 16 + pixels // 64
    return pixels * SKIN_PIXEL_BYTES[skin_type]


def mdl5(*, skins=((5, 2, 2),), skin_verts=((0, 0), (1, 0), (1, 1)), triangles=(((0, 1, 2), (0, 1, 2)),),
         frames=(("frame0", ((0, 0, 0, 1), (65535, 0, 0, 2), (0, 65535, 0, 3))),)):
    """An MDL5 model. skins: (type, width, height), with pattern pixels; any
    type of skin_bytes, a DDS skin (type 6) holding a file of width bytes.
    triangles: (vertex indices, skin-vertex indices). frames: (name, vertices
    as (x, y, z, normal index)) or (name, vertices, frame type); type 0 holds
    8-bit coordinates (0 to 255), any other 16-bit ones, and type 2 is the
    default. Every frame holds the same number of vertices."""
    num_verts = len(frames[0][1]) if frames else 0
    out = bytearray(b"MDL5")
    out += struct.pack("<i3f3fI3f", 0, 0.01, 0.01, 0.01, 0.0, 0.0, 0.0, 0, 0.0, 0.0, 0.0)
    out += struct.pack("<9i", len(skins), 0, 0, num_verts, len(triangles), len(frames),
                       len(skin_verts), 0, 0)
    for skin_type, width, height in skins:
        size = skin_bytes(skin_type, width, height)
        out += struct.pack("<iii", skin_type, width, height)
        pattern = bytes((i * 13) & 0xFF for i in range(size))
        out += (b"DDS " + pattern)[:size] if skin_type == SKIN_DDS else pattern
    for u, v in skin_verts:
        out += struct.pack("<HH", u, v)
    for vertices, uvs in triangles:
        out += struct.pack("<6H", *vertices, *uvs)
    for name, vertices, *rest in frames:
        frame_type = rest[0] if rest else 2
        vertex = "<3BB" if frame_type == 0 else "<3HBB"
        pad = () if frame_type == 0 else (0,)
        coords = [v[:3] for v in vertices]
        low = [min(c[a] for c in coords) for a in range(3)]
        high = [max(c[a] for c in coords) for a in range(3)]
        out += struct.pack("<i", frame_type)
        out += struct.pack(vertex, *low, 0, *pad) + struct.pack(vertex, *high, 0, *pad)
        out += name.encode()[:15].ljust(16, b"\x00")
        for x, y, z, normal in vertices:
            out += struct.pack(vertex, x, y, z, normal, *pad)
    return bytes(out)
