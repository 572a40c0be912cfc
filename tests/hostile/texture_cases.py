"""The PNG, JPEG and TGA texture cases of the hostile-file suite."""

import struct
import zlib

from casekit import *  # noqa: F401,F403
from casekit import s  # noqa: F401


def cannot_read(name, reason):
    return f"The texture {{dir}}/{name} cannot be read: {reason}."


def image_case(name, reason, file, data, *, exit=0, message=None, extra=None, **facts):
    """The cube with one material whose texture is file, holding data."""
    files = {"box.obj": CUBE, "box.mtl": s.mtl([("red", (1, 0, 0), file)]), file: data, **(extra or {})}
    if exit == 0:
        facts = {**CUBE_FACTS, **facts}
    case(name, reason, files, exit=exit, message=message, **facts)


def bad_image(name, reason, file, data, why):
    image_case(name, reason, file, data, exit=1, message=cannot_read(file, why))


def texel(x, y, rgb):
    """A texel fact: blue, green, red, and alpha 255 for white alone."""
    r, g, b = rgb
    return f"{x},{y},{b:02x}{g:02x}{r:02x}{'ff' if rgb == (255, 255, 255) else '00'}"


def size_of(kind, data):
    if kind == "png":
        return struct.unpack(">II", data[16:24])
    if kind == "tga":
        return struct.unpack("<HH", data[12:16])
    frame = data.index(b"\xFF\xC2" if b"\xFF\xC2" in data else b"\xFF\xC0")
    height, width = struct.unpack(">HH", data[frame + 5:frame + 9])
    return width, height


def png_header(width, height, *, crc=None):
    """A 5 x 3 PNG whose header says width x height, its CRC made good or given."""
    data = bytearray(s.valid_textures()["png_rgb"])
    data[16:24] = struct.pack(">II", width, height)
    data[29:33] = struct.pack(">I", zlib.crc32(bytes(data[12:29])) if crc is None else crc)
    return bytes(data)


def texture_cases():
    valid = s.valid_textures()
    pic = s.picture(5, 3)
    extension = {"png": "png", "jpeg": "jpg", "tga": "tga"}
    texels = {
        "png_rgb": [texel(0, 0, pic[0][0]), texel(4, 2, pic[2][4])],
        "tga_rgb24": [texel(0, 0, pic[0][0]), texel(4, 2, pic[2][4])],
        "tga_rgb32_top_down": [texel(0, 0, pic[0][0]), texel(4, 2, pic[2][4])],
        "tga_rgb16_right_to_left": [texel(0, 0, (0, 90, 206))],
        "tga_mapped": [texel(0, 0, (255, 0, 0)), texel(1, 0, (0, 255, 0))],
        "tga_rle24": [texel(0, 0, (9, 9, 9)), texel(6, 1, (200, 100, 50))],
        "jpeg_grey": [texel(0, 0, (0, 0, 0)), texel(8, 0, (255, 255, 255)), texel(0, 8, (128, 128, 128))],
        "jpeg_baseline": [texel(15, 15, (128, 128, 128))],
    }
    for kind, data in sorted(valid.items()):
        width, height = size_of(kind.split("_")[0], data)
        file = "tex." + extension[kind.split("_")[0]]
        facts = {"texel": texels[kind]} if kind in texels else {}
        image_case(f"texture_valid_{kind}", f"a valid {kind} texture", file, data,
                   atlas=atlas_of(width, height), **facts)

    # Which file is used.
    image_case("texture_bmp_wins", "tex.bmp (4 x 2) beside tex.png (5 x 3): the BMP is used",
               "tex.png", valid["png_rgb"], extra={"tex.bmp": s.bmp(4, 2, 24)}, atlas="8x4")
    image_case("texture_png_upper_case", "a texture named TEX.PNG, in capitals", "TEX.PNG", valid["png_rgb"],
               atlas="10x6")
    case("texture_png_missing", "a missing tex.png: the placeholder tex.bmp is written",
         {"box.obj": CUBE, "box.mtl": s.mtl([("red", (1, 0, 0), "sub\\tex.png")])},
         **CUBE_FACTS, atlas="80x80", files="tex.bmp", texel=[texel(0, 0, (255, 0, 0))])

    # Files cut short, end to end: in the signature, in a header, in the
    # pixels, just before the end. The decoders' own tests cut every length.
    for kind, file in (("png_rgb", "tex.png"), ("jpeg_baseline", "tex.jpg")):
        data = valid[kind]
        for length in sorted({0, 1, 7, 8, 20, len(data) // 2, len(data) - 12, len(data) - 1}):
            if kind.startswith("png"):
                why = "it is not a PNG file" if length < 8 else "the file ends early"
            else:
                why = "the file is empty" if length == 0 else "the file ends early"
            bad_image(f"texture_{kind}_cut_at_{length}", f"{file} cut after {length} of its {len(data)} bytes",
                      file, data[:length], why)

    # Sizes.
    too_large = "its pixels would take more than 256 MiB"
    bad_image("texture_png_65535_square", "a PNG header declaring 65535 x 65535 pixels", "tex.png",
              png_header(65535, 65535), too_large)
    bad_image("texture_png_70000_wide", "a PNG header declaring 70000 x 1 pixels", "tex.png",
              png_header(70000, 1), "it is larger than 65535 pixels on a side")
    bad_image("texture_png_2_to_31_wide", "a PNG header declaring 2^31 - 1 x 1 pixels", "tex.png",
              png_header(2**31 - 1, 1), "it is larger than 65535 pixels on a side")
    bad_image("texture_png_6000_square_short", "a PNG header declaring 6000 x 6000 over 15 pixels of data",
              "tex.png", png_header(6000, 6000), "Not enough image data")
    jpeg = bytearray(valid["jpeg_baseline"])
    frame = jpeg.index(b"\xFF\xC0")
    jpeg[frame + 5:frame + 9] = struct.pack(">HH", 65500, 65500)
    bad_image("texture_jpeg_65500_square", "a JPEG frame declaring 65500 x 65500 pixels", "tex.jpg",
              bytes(jpeg), too_large)
    tga = bytearray(valid["tga_rgb24"])
    tga[12:16] = struct.pack("<HH", 65535, 65535)
    bad_image("texture_tga_65535_square", "a TGA header declaring 65535 x 65535 pixels", "tex.tga",
              bytes(tga), too_large)
    tga[12:16] = struct.pack("<HH", 0, 3)
    bad_image("texture_tga_zero_width", "a TGA of width 0", "tex.tga", bytes(tga), "it has no pixels")

    # Damaged files.
    png = valid["png_rgb"]
    bad_image("texture_png_bad_header_crc", "a PNG whose header CRC is wrong", "tex.png",
              png_header(5, 3, crc=0x12345678), "IHDR: CRC error")
    idat = png.index(b"IDAT")
    end = idat + 4 + struct.unpack(">I", png[idat - 4:idat])[0]
    bad_image("texture_png_bad_data_crc", "a PNG whose image data CRC is wrong", "tex.png",
              png[:end] + bytes(b ^ 0xFF for b in png[end:end + 4]) + png[end + 4:], "IDAT: CRC error")
    table = bytearray(valid["jpeg_baseline"])
    dht = table.index(b"\xFF\xC4")
    table[dht + 5:dht + 21] = bytes([0xFF] * 16)
    bad_image("texture_jpeg_bad_huffman_table", "a JPEG Huffman table of 4080 codes", "tex.jpg",
              bytes(table), "Bogus Huffman table definition")
    bad_image("texture_png_named_jpg", "a PNG file named tex.jpg", "tex.jpg", png,
              "Not a JPEG file: starts with 0x89 0x50")
    bad_image("texture_bmp_named_png", "a BMP file named tex.png", "tex.png", s.bmp(4, 2, 24),
              "it is not a PNG file")
    tga = valid["tga_rgb24"]
    for name, patches, reason, why in (
            ("texture_tga_type_4", ((2, 4),), "image type 4, which no TGA kind has",
             "it is not a TGA file of a kind that is read"),
            ("texture_tga_depth_12", ((16, 12),), "true colour of 12 bits a pixel",
             "its pixel depth is not 15, 16, 24 or 32 bits"),
            ("texture_tga_grey_16", ((2, 3), (16, 16)), "grey of 16 bits a pixel", "its grey pixels are not 8 bits"),
            ("texture_tga_mapped_without_map", ((2, 1),), "a colour-mapped TGA without a colour map",
             "its colour map is not of a kind that is read")):
        data = tga
        for offset, value in patches:
            data = patch(data, offset, "<B", value)
        bad_image(name, reason, "tex.tga", data, why)
    rle = valid["tga_rle24"]
    bad_image("texture_tga_rle_cut", "a run-length TGA that stops inside its last packet", "tex.tga",
              rle[:-2], "the file ends early")
    image_case("texture_tga_rle_run_past_end", "a run of 128 pixels where 2 are left: cut at the last pixel",
               "tex.tga", rle[:-4] + bytes((0xFF, 50, 100, 200)), atlas="14x4")
