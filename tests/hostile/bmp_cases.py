"""The BMP texture cases of the hostile-file suite."""

from casekit import *  # noqa: F401,F403
from casekit import s  # noqa: F401


def rle8(name, reason, width, height, data, **facts):
    texture_case(name, reason, s.bmp(width, height, 8, compression=s.BI_RLE8, pixels=bytes(data)),
                 atlas=atlas_of(width, height), **facts)


def rle4(name, reason, width, height, data, **facts):
    texture_case(name, reason, s.bmp(width, height, 4, compression=s.BI_RLE4, pixels=bytes(data)),
                 atlas=atlas_of(width, height), **facts)


def bmp_cases():
    # Run-length data that points outside the picture: clipped, never written past a row.
    rle8("bmp_rle8_run_past_row", "an encoded run of 200 pixels in a row of 4",
         4, 2, (200, 7, 0, 0, 3, 1, 0, 1))
    rle8("bmp_rle8_absolute_past_row", "an absolute run of 9 pixels in a row of 4",
         4, 2, (0, 9, *range(1, 10), 0, 0, 0, 0, 1))
    rle8("bmp_rle8_delta_past_row", "a delta 250 pixels to the right of a 4-pixel row, then a run",
         4, 2, (0, 2, 250, 0, 3, 5, 0, 0, 0, 1))
    rle8("bmp_rle8_delta_past_image", "a delta 250 rows above a 2-row picture, then a run",
         4, 2, (0, 2, 0, 250, 4, 3, 0, 0, 0, 1))
    rle8("bmp_rle8_ends_inside_run", "run-length data that stops after the count of a run",
         4, 2, (2, 1, 0, 0, 5))
    rle8("bmp_rle8_ends_inside_absolute_run", "an absolute run of 20 whose data has 3 bytes",
         4, 2, (0, 20, 1, 2, 3))
    rle8("bmp_rle8_ends_inside_delta", "a delta whose offsets are missing", 4, 2, (1, 1, 0, 2, 3))
    rle8("bmp_rle8_rows_past_top", "a thousand ends of line in a 2-row picture, no end of bitmap",
         4, 2, (1, 1, 0, 0) * 1000)
    texture_case("bmp_rle8_size_image_beyond_file", "biSizeImage 0xFFFFFFFF over 6 bytes of run-length data",
                 s.bmp(4, 2, 8, compression=s.BI_RLE8, size_image=0xFFFFFFFF,
                       pixels=bytes((4, 1, 0, 0, 0, 1))), atlas="8x4")
    rle4("bmp_rle4_run_past_row", "an encoded run of 255 nibbles in a row of 5",
         5, 2, (255, 0x12, 0, 0, 0, 1))
    rle4("bmp_rle4_absolute_past_row", "an absolute run of 11 nibbles in a row of 5",
         5, 2, (0, 11, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xB0, 0, 0, 0, 1))
    rle4("bmp_rle4_delta_past_image", "deltas of 255 pixels right and 255 rows up, then a run",
         5, 2, (0, 2, 255, 255, 4, 0x34, 0, 1))
    rle4("bmp_rle4_ends_inside_absolute_run", "an odd absolute run whose data stops halfway",
         5, 2, (0, 5, 0x12))
    bad_texture("bmp_rle8_top_down", "run-length data with rows stored top-down",
                s.bmp(4, 2, 8, compression=s.BI_RLE8, top_down=True, pixels=bytes((4, 1, 0, 1))),
                INVALID_BITMAP)
    bad_texture("bmp_rle8_with_24_bits", "RLE8 compression declared for a 24-bit picture",
                s.bmp(4, 2, 24, compression=s.BI_RLE8, pixels=bytes((4, 1, 0, 1))), INVALID_BITMAP)
    bad_texture("bmp_rle4_with_8_bits", "RLE4 compression declared for an 8-bit picture",
                s.bmp(4, 2, 8, compression=s.BI_RLE4, pixels=bytes((4, 1, 0, 1))), INVALID_BITMAP)

    # The colour table.
    texture_case("bmp_clr_used_300", "biClrUsed 300 on an 8-bit picture: the entries past 256 are skipped",
                 s.bmp(4, 2, 8, table=s.grey_table(300), clr_used=300), atlas="8x4")
    bad_texture("bmp_clr_used_wraps_32_bits", "biClrUsed 0x40000001: 4 bytes an entry wraps to 4 in 32 bits",
                s.bmp(4, 2, 8, table=s.grey_table(1), clr_used=0x40000001), READ_ERROR)
    bad_texture("bmp_clr_used_wraps_to_zero", "biClrUsed 0x40000000: 4 bytes an entry wraps to 0 in 32 bits",
                s.bmp(4, 2, 8, table=[], clr_used=0x40000000), READ_ERROR)
    bad_texture("bmp_clr_used_max_on_24_bits", "biClrUsed 0xFFFFFFFF on a 24-bit picture",
                s.bmp(4, 2, 24, clr_used=0xFFFFFFFF), READ_ERROR)
    texture_case("bmp_index_beyond_short_table", "8-bit indices 200 and 255 over a table of 2 colours are black",
                 s.bmp(4, 2, 8, table=[(255, 0, 0), (0, 255, 0)], clr_used=2,
                       pixels=bytes((200, 1, 0, 255, 1, 1, 1, 1))),
                 atlas="8x4", texel=["0,0,00ff0000", "0,1,00000000", "3,1,00000000", "2,1,0000ff00"])
    texture_case("bmp_index_beyond_1bit_table", "1-bit pixels of index 1 over a table of 1 colour are black",
                 s.bmp(8, 1, 1, table=[(255, 255, 255)], clr_used=1, pixels=bytes((0x0F, 0, 0, 0))),
                 atlas="8x2", texel=["0,0,ffffffff", "7,0,00000000"])
    bad_texture("bmp_ends_inside_table", "an 8-bit file that ends after 10 of its 256 colours",
                s.bmp(4, 2, 8)[:14 + 40 + 40], READ_ERROR)

    # Channel masks.
    texture_case("bmp_masks_zero", "16-bit bit fields whose masks are all 0: every channel reads 0",
                 s.bmp(4, 2, 16, compression=s.BI_BITFIELDS, masks=(0, 0, 0)),
                 atlas="8x4", texel=["0,0,00000000"])
    texture_case("bmp_masks_all_ones_32", "32-bit bit fields whose three masks are 0xFFFFFFFF",
                 s.bmp(4, 2, 32, compression=s.BI_BITFIELDS, masks=(0xFFFFFFFF,) * 3), atlas="8x4")
    texture_case("bmp_masks_all_ones_16", "16-bit bit fields whose masks reach past the 16 bits",
                 s.bmp(4, 2, 16, compression=s.BI_BITFIELDS, masks=(0xFFFFFFFF,) * 3), atlas="8x4")
    texture_case("bmp_masks_with_holes", "masks with gaps between their bits, overlapping each other",
                 s.bmp(4, 2, 32, compression=s.BI_BITFIELDS, masks=(0x80808080, 0x0F0F0000, 0xFFF00001)),
                 atlas="8x4")
    bad_texture("bmp_ends_inside_masks", "a 40-byte header with bit fields, the file ending in the masks",
                s.bmp(4, 2, 16, compression=s.BI_BITFIELDS, masks=(0xF800, 0x7E0, 0x1F))[:14 + 40 + 6],
                READ_ERROR)

    # Sizes.
    bad_texture("bmp_height_int_min", "biHeight -2^31, which has no positive counterpart",
                s.bmp(4, -2**31, 24, pixels=b""), INVALID_BITMAP)
    bad_texture("bmp_width_negative", "biWidth -4", s.bmp(-4, 2, 24, pixels=bytes(24)), INVALID_BITMAP)
    bad_texture("bmp_size_overflows_32_bits", "65535 x 65535 at 32 bits: 16 GiB of pixels in a 58-byte file",
                s.bmp(65535, 65535, 32, pixels=bytes(4)), INVALID_BITMAP)
    bad_texture("bmp_size_wraps_to_zero", "65536 x 65536 at 8 bits: the byte count is 2^32, 0 in 32 bits",
                s.bmp(65536, 65536, 8, pixels=bytes(4)), INVALID_BITMAP)
    bad_texture("bmp_width_int_max", "biWidth 2^31 - 1 on a 1-row 1-bit picture",
                s.bmp(2**31 - 1, 1, 1, pixels=bytes(4)), INVALID_BITMAP)
    bad_texture("bmp_core_size_too_large", "a core header of 65535 x 65535 at 24 bits",
                s.bmp(65535, 65535, 24, core=True, pixels=bytes(4)), INVALID_BITMAP)
    texture_case("bmp_header_declares_512x512", "a 58-byte file that declares 512 x 512 pixels: the rest is black",
                 s.bmp(512, 512, 24, pixels=bytes(4)), atlas="512x512", texel=["511,0,00000000"])
    texture_case("bmp_header_declares_6k", "a 62-byte file that declares a 6144 x 6144 texture: 108 MiB of "
                 "pixels, a 144 MiB skin; time and memory stay within the limits",
                 s.bmp(6144, 6144, 24, pixels=bytes(8)), atlas="6144x6144", texel=["6143,6143,00000000"])
    bad_texture("bmp_atlas_too_wide", "a texture 65535 pixels wide: the atlas grows to 65542, past 16 bits",
                s.bmp(65535, 1, 1, table=s.grey_table(2), pixels=bytes(8192)), ATLAS_TOO_LARGE)
    texture_case("bmp_widest_atlas", "a texture 65528 pixels wide: the widest atlas there is",
                 s.bmp(65528, 1, 1, table=s.grey_table(2), pixels=bytes(8192)), atlas="65528x2")

    # Header fields that lie.
    texture_case("bmp_size_image_zero", "biSizeImage 0 on an uncompressed picture",
                 s.bmp(4, 2, 24, size_image=0), atlas="8x4")
    texture_case("bmp_size_image_huge", "biSizeImage 0xFFFFFFFF over 24 bytes of pixels",
                 s.bmp(4, 2, 24, size_image=0xFFFFFFFF), atlas="8x4")
    texture_case("bmp_size_image_small", "biSizeImage 1: only the first byte counts, the top row stays black",
                 s.bmp(4, 2, 24, size_image=1), atlas="8x4", texel=["0,0,00000000"])
    texture_case("bmp_off_bits_zero", "bfOffBits 0", s.bmp(4, 2, 24, off_bits=0), atlas="8x4")
    texture_case("bmp_off_bits_past_end", "bfOffBits 0xFFFFFFFF, far past the end of the file",
                 patch(s.bmp(4, 2, 24), 10, "<I", 0xFFFFFFFF), atlas="8x4")
    texture_case("bmp_off_bits_inside_header", "bfOffBits 10, inside the file header",
                 s.bmp(4, 2, 24, off_bits=10), atlas="8x4")
    texture_case("bmp_pixels_truncated", "a file that stops halfway through its pixels",
                 s.bmp(4, 4, 24)[:14 + 40 + 20], atlas="8x8")
    bad_texture("bmp_planes_0", "biPlanes 0", s.bmp(4, 2, 24, planes=0), INVALID_BITMAP)
    bad_texture("bmp_planes_2", "biPlanes 2", s.bmp(4, 2, 24, planes=2), INVALID_BITMAP)
    bad_texture("bmp_compression_jpeg", "biCompression 4 (JPEG data)",
                s.bmp(4, 2, 24, compression=4), INVALID_BITMAP)
    bad_texture("bmp_compression_png", "biCompression 5 (PNG data)",
                s.bmp(4, 2, 24, compression=5), INVALID_BITMAP)
    bad_texture("bmp_compression_unknown", "biCompression 0xFFFFFFFF",
                s.bmp(4, 2, 24, compression=0xFFFFFFFF), INVALID_BITMAP)
    bad_texture("bmp_depth_0", "biBitCount 0", s.bmp(4, 2, 0, table=[], pixels=bytes(8)), INVALID_BITMAP)
    bad_texture("bmp_depth_2", "biBitCount 2", s.bmp(4, 2, 2, table=[], pixels=bytes(8)), INVALID_BITMAP)
    bad_texture("bmp_depth_64", "biBitCount 64", s.bmp(4, 2, 64, pixels=bytes(64)), INVALID_BITMAP)

    # Truncated and foreign files.
    good = s.bmp(4, 2, 24)
    bad_texture("bmp_one_byte", "a file of the single byte B", b"B", READ_ERROR)
    bad_texture("bmp_13_bytes", "a file that ends one byte before the end of its file header",
                good[:13], READ_ERROR)
    bad_texture("bmp_file_header_only", "the 14-byte file header and nothing else", good[:14], READ_ERROR)
    bad_texture("bmp_ends_inside_info_header", "a file that ends 20 bytes into its info header",
                good[:34], READ_ERROR)
    bad_texture("bmp_ends_inside_core_header", "a core header cut after its width",
                s.bmp(4, 2, 24, core=True)[:20], READ_ERROR)
    bad_texture("bmp_header_size_16", "an info header that says it has 16 bytes",
                patch(good, 14, "<I", 16), INVALID_BITMAP)
    bad_texture("bmp_header_size_huge", "an info header that says it has 0xFFFFFFFF bytes",
                patch(good, 14, "<I", 0xFFFFFFFF), READ_ERROR)
    bad_texture("bmp_not_bm", "a PNG signature where BM belongs",
                b"\x89PNG\r\n\x1a\n" + bytes(60), INVALID_BITMAP)
    texture_case("bmp_zero_bytes", "a 0-byte texture is an empty picture: the atlas is empty too",
                 b"", atlas="0x0")
    case("bmp_texture_is_directory", "the texture's name is taken by a folder: no placeholder can be written",
         {"box.obj": CUBE, "box.mtl": TEX_MTL, "tex.bmp": DIR}, exit=1, message=cannot_create("tex.bmp", ACCESS_DENIED[:-1]))
    case("bmp_texture_is_device", "the texture is a link to /dev/zero, endless and no regular file",
         {"box.obj": CUBE, "box.mtl": TEX_MTL, "tex.bmp": Link("/dev/zero")},
         exit=1, message=cannot_open("tex.bmp"))

    # Every kind the loader accepts converts.
    for kind, data in sorted(s.valid_bmps().items()):
        width = int.from_bytes(data[18:20], "little") if data[14] == 12 else \
            int.from_bytes(data[18:22], "little", signed=True)
        height = int.from_bytes(data[20:22], "little") if data[14] == 12 else \
            abs(int.from_bytes(data[22:26], "little", signed=True))
        texture_case(f"bmp_valid_{kind}", f"a valid {kind} texture", data, atlas=atlas_of(width, height))
