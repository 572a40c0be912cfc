#!/usr/bin/env python3
"""Writes the hostile-file cases: inputs a user may get from anywhere
(downloaded models, textures from other tools, half-written files), each in
a folder of its own, and the manifest that tells the runner what to expect.

    python3 generate.py OUTDIR

OUTDIR/NAME/ holds the files of case NAME; OUTDIR/cases.tsv has one line per
case, tab-separated:

    name  input  exit  mdl  check  reason  output  limits

- input: the OBJ file to convert, relative to the case folder (it may be
  missing on purpose).
- exit: 0 (converts) or 1 (refused with a message).
- mdl: the model file the conversion writes, relative to the case folder;
  with exit 1 it must not appear.
- check: with exit 1 the message that follows "tarvex: " on standard error;
  with exit 0 blank-separated facts about the model (verts, tris, frames,
  skins, atlas=WxH of the texture skin, texel=X,Y,BBGGRRAA of the texture
  skin, names=frame names separated by "|", files=names that must exist in
  the case folder separated by "|", regular=names that must be regular
  files, not links, mode=NAME,OCTAL permission bits, log=a line the log
  must hold).
- output: the MDL file named on the command line, or empty for none. A
  refusal with an output named leaves the folder as it was.
  "{dir}" stands for the folder the case runs in, without a trailing "/".
- limits: "SECONDS,MIB" for a case held to less time and memory than the
  suite's own limits, or empty.
- Fields are UTF-8; a backslash escapes \\\\, \\t, \\n, \\r and \\xHH (any byte,
  also a blank inside a fact).

Standard library only; the same bytes on every run.
"""

import os
import shutil
import sys

# Importing must leave no bytecode cache in the source tree.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from casekit import *  # noqa: E402,F401,F403
from casekit import s  # noqa: E402,F401
from bmp_cases import bmp_cases  # noqa: E402
from texture_cases import texture_cases  # noqa: E402


def obj_cases():
    first_vertex = "v -0.500000 -0.500000 -0.500000"
    for name, line, reason in (
            ("obj_coordinate_1e30", "v 1e30 0 0", "a coordinate of 1e30, far outside the packed range"),
            ("obj_coordinate_minus_1e30", "v 0 -1e30 0", "a coordinate of -1e30"),
            ("obj_coordinate_tiny_exponent", "v 1e-999999999999 0 0", "an exponent far below any single"),
            ("obj_coordinate_many_exponent_digits", "v 1e000000000000000000000000000001 0 0",
             "an exponent written with thirty leading zeros"),
            ("obj_coordinate_nul_padding", "v \x000.5\x00 0 0", "NUL bytes around a number trim like blanks")):
        obj_case(name, reason, replace_line(CUBE, "v ", line))
    obj_case("obj_coordinate_single_max", "the largest singles: no scale holds them",
             replace_line(CUBE, "v ", "v 3.4028235e38 -3.4028235e38 0"), exit=1,
             message="The model's coordinates reach 3.40282e+38 on the OBJ x axis; an MDL5 model "
                     "holds coordinates up to about 5e35.")
    obj_case("obj_texcoord_1e30", "texture coordinates of 1e30 and -1e30",
             replace_line(CUBE, "vt ", "vt 1e30 -1e30"))
    obj_case("obj_normal_huge", "a normal of 3e38 on every axis",
             replace_line(CUBE, "vn ", "vn 3e38 3e38 3e38"))
    obj_case("obj_normal_denormal", "a normal of two denormal components",
             replace_line(CUBE, "vn ", "vn 1e-45 -1e-45 0"))
    for name, text, reason in (
            ("obj_coordinate_huge_exponent", "1e999999999999999999", "an exponent far beyond any single"),
            ("obj_coordinate_beyond_single", "1e39", "a number beyond the largest single"),
            ("obj_coordinate_nan", "nan", "nan as a coordinate"),
            ("obj_coordinate_inf", "-inf", "-inf as a coordinate"),
            ("obj_coordinate_infinity", "Infinity", "Infinity as a coordinate"),
            ("obj_coordinate_hex_float", "0x1p3", "a hexadecimal float"),
            ("obj_coordinate_nul_inside", "0\x005", "a NUL byte inside a number")):
        obj_case(name, reason, replace_line(CUBE, "v ", f"v 0 {text} 0"), exit=1,
                 message=at(f"box.obj:{line_of(CUBE, 'v ')}", not_float(text)))
    obj_case("obj_texcoord_one_number", "a texture coordinate with one number",
             replace_line(CUBE, "vt ", "vt 0.5"), exit=1,
             message=at(f"box.obj:{line_of(CUBE, 'vt ')}", not_float("")))

    # Face corners.
    face = "f 1/1/1 4/2/4 3/3/3 2/4/2"
    for name, corners, reason, extra in (
            ("obj_uv_index_minus_1", "1/-1/1 4/2/4 3/3/3", "texture index -1: the last one so far", {}),
            ("obj_uv_index_0", "1/0/1 4/0/4 3/0/3", "texture index 0 addresses nothing",
             {"log": "WARN: Too many UV verts."}),
            ("obj_uv_index_minus_99", "1/-99/1 4/2/4 3/3/3", "texture index -99 reaches before the first", {}),
            ("obj_uv_index_beyond", "1/99/1 4/2/4 3/3/3", "texture index past the list", {}),
            ("obj_uv_index_int_max", "1/2147483647/1 4/2/4 3/3/3", "texture index 2^31 - 1", {}),
            ("obj_uv_on_some_corners", "1/1/1 4//4 3/3/3", "a texture index at corners 1 and 3 only", {}),
            ("obj_normal_index_beyond", "1/1/99 4/2/4 3/3/1000000", "normal indices past the list", {}),
            ("obj_vertex_index_beyond", "1/1/1 4/2/4 99/3/3", "a vertex index past the list", {}),
            ("obj_vertex_index_0", "0/1/1 4/2/4 3/3/3", "vertex index 0 addresses nothing",
             {"log": "WARN: Too many verts."}),
            ("obj_vertex_index_above_16_bits", "70000/1/1 4/2/4 3/3/3", "a vertex index past 65535",
             {"log": "WARN: Too many verts."}),
            ("obj_vertex_index_int_min", "-2147483648/1/1 4/2/4 3/3/3", "vertex index -2^31", {}),
            ("obj_face_blank_run", "1/1/1 \t 3/3/3\t\t2/4/2  ", "runs of blanks and tabs between corners", {}),
            ("obj_normal_index_missing", "1/1 4/2 3/3", "corners without a normal index", {}),
            ("obj_vertex_only_corners", "1 4 3", "corners of a vertex index alone", {}),
            ("obj_normal_index_empty", "1/1/ 4// 3/3/", "corners with an empty normal index", {})):
        tris = 11 if len(corners.split()) == 3 else 12
        obj_case(name, reason, replace_line(CUBE, "f ", "f " + corners), tris=tris, **extra)
    assert face in CUBE
    for name, corners, text, reason in (
            ("obj_uv_index_overflow", "1/2147483648/1 4/2/4 3/3/3", "2147483648", "texture index 2^31"),
            ("obj_corner_extra_slash", "1/1/1/1 4/2/4 3/3/3", "1/1", "a corner of four numbers"),
            ("obj_corner_letters", "a/b/c 4/2/4 3/3/3", "a", "letters as indices")):
        obj_case(name, reason, replace_line(CUBE, "f ", "f " + corners), exit=1,
                 message=at(f"box.obj:{line_of(CUBE, 'f ')}", not_integer(text)))
    obj_case("obj_normals_fewer_than_vertices", "2 normals for 8 vertices",
             "\n".join(line for line in CUBE.split("\n") if not line.startswith("vn ")
                       or line.startswith("vn -0.577350 -0.577350 -0.577350")
                       or line.startswith("vn 0.577350 -0.577350 -0.577350")))
    obj_case("obj_no_normals", "no normals at all, faces naming them all the same", without_lines(CUBE, "vn "))
    quad = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nvn 0 0 1\n"
    obj_case("obj_faces_of_0_1_2_corners", "faces of no corner, one corner and two corners give no triangle",
             quad + "usemtl red\nf\nf 1//1\nf 1//1 2//1\nfo 3//1 4//1\n", verts=4, tris=0)
    obj_case("obj_faces_of_5_and_300_corners", "faces of 5 and 300 corners give 3 and 298 triangles",
             quad + "usemtl red\nf 1//1 2//1 3//1 4//1 1//1\nf " + " ".join(
                 f"{k % 4 + 1}//1" for k in range(300)) + "\n", verts=4, tris=301)
    obj_case("obj_face_of_100000_corners", "a face of 100,000 corners gives 99,998 triangles",
             quad + "usemtl red\nf " + " ".join(f"{k % 4 + 1}" for k in range(100000)) + "\n",
             verts=4, tris=99998)
    obj_case("obj_faces_without_vertices", "faces whose vertices were never given",
             "usemtl red\nf 1//1 2//2 3//3\n", verts=0, tris=1)

    # Lines and bytes.
    huge = 40 * 1000 * 1000
    obj_case("obj_line_40mb_number", "a coordinate written with 40 million digits",
             replace_line(CUBE, "v ", "v -0." + "4" * huge + " -0.5 -0.5"))
    obj_case("obj_line_40mb_blanks", "a line of 40 million blanks before the cube",
             " " * huge + "\n" + CUBE)
    # A line past 64 MiB is refused, not held: two blank lines, then the
    # endless one.
    obj_case("obj_line_over_64mib", "a line of 65 MiB without a line end",
             "\n\nv " + "1" * (65 << 20), exit=1, message=at("box.obj:3", "Line longer than 64 MiB."))
    obj_case("obj_nul_in_comment", "a comment holding NUL bytes", CUBE.replace("# a cube", "# a\x00cube\x00"))
    obj_case("obj_eof_byte_after_cube", "byte 26 ends the text: the bad line after it is never read",
             CUBE + "\x1av bad bad bad\n")
    cut = CUBE.index("v 0.500000 0.500000 0.500000")
    obj_case("obj_eof_byte_mid_file", "byte 26 after the sixth vertex: the rest is not read",
             CUBE[:cut] + "\x1a" + CUBE[cut:], verts=6, tris=0)
    for name, end, reason in (("obj_cr_only", "\r", "lines ending in CR alone"),
                              ("obj_lf_only", "\n", "lines ending in LF alone"),
                              ("obj_crlf", "\r\n", "lines ending in CR LF"),
                              ("obj_lf_cr", "\n\r", "lines ending in LF CR, an empty line between")):
        obj_case(name, reason, s.cube_obj(materials=("red",), line_end=end))
    obj_case("obj_empty_file", "a 0-byte OBJ file with its materials", "", verts=0, tris=0)
    case("obj_empty_without_mtl", "a 0-byte OBJ file and no MTL file: no materials, a white atlas",
         {"box.obj": ""}, verts=0, tris=0, frames=1, skins=1, **WHITE_ATLAS)
    obj_case("obj_only_comments", "comments and unknown keywords only",
             "# nothing\nmtllib box.mtl\no thing\ng group\ns 1\nvp 0.5\n# end\n", verts=0, tris=0)
    obj_case("obj_binary_junk", "64 KiB of bytes without an ASCII letter",
             junk(65536, 7, bytes(range(0, 65)) + bytes(range(91, 97)) + bytes(range(123, 256))),
             verts=0, tris=0)
    obj_case("obj_keywords_indented", "every line indented by a tab is read",
             "\n".join("\t" + line for line in CUBE.split("\n")))

    # Names.
    case("obj_missing", "the OBJ file does not exist", {"box.mtl": PLAIN_MTL}, exit=1,
         message=at("box.obj", FILE_NOT_FOUND))
    case("obj_missing_folder", "the OBJ file's folder does not exist", {}, "nowhere/box.obj",
         exit=1, message=at("nowhere/box.obj", BAD_FILE_NAME))
    case("obj_is_directory", "the OBJ file is a folder", {"box.obj": DIR}, exit=1,
         message=at("box.obj", ACCESS_DENIED))
    case("obj_is_device", "the OBJ file is a link to /dev/zero", {"box.obj": Link("/dev/zero")},
         exit=1, message=at("box.obj", NOT_REGULAR))
    case("obj_name_too_long", "an OBJ name of 300 bytes, longer than a file name can be", {},
         "x" * 296 + ".obj", exit=1, message=at("x" * 296 + ".obj", BAD_FILE_NAME))
    long_base = "o" * 251
    case("obj_name_255_bytes", "an OBJ name of 255 bytes: the MTL, atlas and MDL names are as long",
         {long_base + ".obj": CUBE, long_base + ".mtl": PLAIN_MTL}, long_base + ".obj",
         mdl=long_base + ".mdl", **CUBE_FACTS, atlas="80x80")
    odd = "\udcff\udcfe"  # the bytes FF FE, no UTF-8
    case("obj_name_not_utf8", "an OBJ name of the bytes FF FE",
         {odd + ".obj": CUBE, odd + ".mtl": PLAIN_MTL}, odd + ".obj", mdl=odd + ".mdl",
         **CUBE_FACTS, atlas="80x80")
    case("obj_name_with_newline", "an OBJ name holding a line feed and a tab",
         {"two\nli\tnes.obj": CUBE, "two\nli\tnes.mtl": PLAIN_MTL}, "two\nli\tnes.obj",
         mdl="two\nli\tnes.mdl", **CUBE_FACTS, atlas="80x80")
    case("obj_name_blanks_around_base", "blanks around the base name are trimmed for the companion files",
         {" box _0.obj": CUBE, "box.mtl": PLAIN_MTL, "box_1.obj": CUBE}, " box _0.obj",
         **{**CUBE_FACTS, "frames": 2}, atlas="80x80")
    case("obj_name_empty_base", "_0.obj: the MTL is .mtl, the atlas .bmp, the frames _1.obj ...",
         {"_0.obj": CUBE, ".mtl": PLAIN_MTL, "_1.obj": CUBE}, "_0.obj", mdl=".mdl",
         **{**CUBE_FACTS, "frames": 2}, atlas="80x80", files=[".bmp", "created_mtl0.bmp"])


def mtl_cases():
    def one(lines):
        return ("newmtl red\n" + "\n".join(lines) + "\n").encode("utf-8", "surrogateescape")

    mtl_case("mtl_kd_out_of_range", "Kd 1e30 -1e30 0 is pure red", one(["Kd 1e30 -1e30 0"]),
             atlas="80x80", texel=["0,0,0000ff00"])
    for name, line, text, reason in (
            ("mtl_kd_missing_number", "Kd 1 1", "", "Kd with two numbers"),
            ("mtl_kd_garbled", "Kd 1,5 0 0", "1,5", "a decimal comma"),
            ("mtl_kd_nan", "Kd 0 nan 0", "nan", "nan as a colour"),
            ("mtl_ns_garbled", "Ns 10x", "10x", "a shininess with a letter after it")):
        mtl_case(name, reason, one([line]), exit=1, message=at("box.mtl:2", not_float(text)))
    mtl_case("mtl_keywords_before_newmtl", "colours and a texture before the first material act on nothing",
             b"Kd x y z\nmap_Kd ../../before.bmp\nNs bad\n" + one(["Kd 0 0 1"]),
             atlas="80x80", texel=["0,0,ff000000"])

    # Texture names: only the file name counts, the file goes into the model's folder.
    for name, map_kd, placed, reason in (
            ("mtl_map_kd_parent_dirs", "../../escape.bmp", "escape.bmp", "a texture two folders up"),
            ("mtl_map_kd_absolute", "/nonexistent-tarvex-folder/abs.bmp", "abs.bmp", "an absolute texture path"),
            ("mtl_map_kd_backslashes", "..\\..\\textures\\back.tga", "back.bmp", "a Windows relative path"),
            ("mtl_map_kd_drive_letter", "C:\\textures\\drive.png", "drive.bmp", "a Windows absolute path"),
            ("mtl_map_kd_colon", "D:colon.bmp", "colon.bmp", "a drive-relative name"),
            ("mtl_map_kd_dots_only", "..", "..bmp", "the name .. alone"),
            ("mtl_map_kd_trailing_slash", "../", ".bmp", "a folder name ending in /"),
            ("mtl_map_kd_options", "-s 1 1 1 -clamp on wood.tga", "wood.bmp", "options before the name are skipped"),
            ("mtl_map_kd_name_max", "a" * 251 + ".tga", "a" * 251 + ".bmp", "a texture name of 255 bytes"),
            ("mtl_map_kd_deep_folders", "d/" * 2500 + "deep.bmp", "deep.bmp",
             "a texture under 2500 folders, 5008 bytes in all")):
        mtl_case(name, reason, one(["Kd 0 1 0", "map_Kd " + map_kd]), atlas="80x80", files=placed)
    mtl_case("mtl_map_kd_options_only", "options without a file name: the material makes its own placeholder",
             one(["Kd 0 1 0", "map_Kd -s 1 1 1 -clamp on"]), atlas="80x80", files="created_mtl0.bmp")
    for name, stem, reason in (
            ("mtl_map_kd_over_name_max", "b" * 300, "a texture name of 304 bytes, more than a file name can be"),
            ("mtl_map_kd_over_path_max", "c" * 5000, "a texture name of 5004 bytes, more than a path can be")):
        mtl_case(name, reason, one(["map_Kd " + stem + ".bmp"]), exit=1, message=cannot_create(stem + ".bmp", BAD_FILE_NAME[:-1]))
    mtl_case("mtl_map_kd_nul_byte", "a texture name with a NUL byte: not the file a, which is there",
             one(["map_Kd a\x00b.bmp"]), extra={"a": s.bmp(2, 2, 24)},
             exit=1, message=cannot_create("a\x00b.bmp", BAD_FILE_NAME[:-1]))
    mtl_case("mtl_map_kd_is_atlas", "the texture box.bmp is named like the atlas: refused, the texture kept",
             one(["map_Kd box.bmp"]), extra={"box.bmp": s.bmp(2, 2, 24)},
             exit=1, message=atlas_is_texture("box.bmp"))
    mtl_case("mtl_map_kd_is_atlas_missing", "a missing texture textures\\box.png would be the atlas's placeholder",
             one(["map_Kd textures\\box.png"]), exit=1, message=atlas_is_texture("box.bmp"))
    mtl_case("mtl_atlas_too_wide", "two textures 40000 pixels wide, named apart so both are placed",
             s.mtl([("red", (1, 0, 0), "wide.bmp"), ("blue", (0, 0, 1), "sub/wide.bmp")]),
             extra={"wide.bmp": s.bmp(40000, 1, 1, table=s.grey_table(2), pixels=bytes(5000))},
             obj=s.cube_obj(materials=("red", "blue")).decode(), exit=1, message=ATLAS_TOO_LARGE)

    # Materials.
    mtl_case("mtl_duplicate_names", "two materials named red: both textures are placed",
             s.mtl([("red", (1, 0, 0), "one.bmp"), ("red", (0, 1, 0), "two.bmp")]),
             atlas="160x80", texel=["0,0,0000ff00", "80,0,00ff0000"])
    mtl_case("mtl_usemtl_unknown", "faces under a material the MTL file does not name",
             PLAIN_MTL, obj=CUBE.replace("usemtl red", "usemtl ghost"), atlas="80x80")
    mtl_case("mtl_usemtl_unknown_without_uvs", "faces without texture indices under an unknown material",
             PLAIN_MTL, obj=CUBE_UV_LESS.replace("usemtl red", "usemtl ghost"), atlas="80x80")
    mtl_case("mtl_empty_name", "newmtl without a name matches the faces before any usemtl",
             b"newmtl\nKd 0 0 1\n", obj=without_lines(CUBE_UV_LESS, "usemtl"), atlas="80x80")
    case("mtl_missing", "no MTL file: no materials, a white atlas", {"box.obj": CUBE},
         **CUBE_FACTS | {"skins": 1}, **WHITE_ATLAS)
    case("mtl_is_directory", "the MTL name is taken by a folder: no materials",
         {"box.obj": CUBE, "box.mtl": DIR}, **CUBE_FACTS | {"skins": 1}, **WHITE_ATLAS)
    # An MTL file of another name, as the OBJ file's mtllib statement gives it.
    named = "mtllib other.mtl\n" + CUBE
    case("mtllib_other_name", "no box.mtl: the MTL file that mtllib names is read",
         {"box.obj": named, "other.mtl": PLAIN_MTL}, **CUBE_FACTS, atlas="80x80")
    case("mtllib_other_name_broken", "the MTL file that mtllib names holds a bad colour",
         {"box.obj": named, "other.mtl": b"newmtl red\nKd 1 x 0\n"}, exit=1,
         message=at("other.mtl:2", not_float("x")))
    case("mtllib_names_folder", "mtllib names a folder: no materials",
         {"box.obj": "mtllib lib.mtl\n" + CUBE, "lib.mtl": DIR}, **CUBE_FACTS | {"skins": 1}, **WHITE_ATLAS)
    case("mtllib_names_the_obj", "mtllib names the OBJ file itself: read as an MTL file, no materials",
         {"box.obj": "mtllib box.obj\n" + CUBE}, **CUBE_FACTS | {"skins": 1}, **WHITE_ATLAS)
    case("mtllib_with_folders", "mtllib names a file in another folder: looked for beside the OBJ file",
         {"box.obj": "mtllib ..\\materials\\other.mtl\n" + CUBE, "other.mtl": PLAIN_MTL},
         **CUBE_FACTS, atlas="80x80")
    mtl_case("mtl_binary_junk", "64 KiB of bytes without an ASCII letter: no materials",
             junk(65536, 11, bytes(range(0, 65)) + bytes(range(91, 97)) + bytes(range(123, 256))),
             **CUBE_FACTS | {"skins": 1}, **WHITE_ATLAS)
    mtl_case("mtl_many_placeholders_one_name", "40 materials sharing one missing texture: one placeholder",
             s.mtl([(f"m{i}", (i / 40, 0, 0), "same.tga") for i in range(40)]), atlas="80x80",
             files="same.bmp")


def series_cases():
    four = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n"
    series_case("frames_vertex_count_differs", "frame 1 has 4 vertices where frame 0 has 8",
                {"box_1.obj": four}, exit=1, message=frame_count_differs(1, 4, 8))
    series_case("frames_later_empty", "frame 2 is a 0-byte file",
                {"box_1.obj": CUBE, "box_2.obj": ""}, exit=1, message=frame_count_differs(2, 0, 8))
    series_case("frames_gap", "frames 1 and 3 but no 2: the series ends at the gap",
                {"box_1.obj": CUBE, "box_3.obj": four}, frames=2)
    series_case("frames_later_broken", "frame 2 holds a word where a number belongs",
                {"box_1.obj": CUBE, "box_2.obj": replace_line(CUBE, "v ", "v 0 zero 0")},
                exit=1, message=at(f"box_2.obj:{line_of(CUBE, 'v ')}", not_float("zero")))
    series_case("frames_later_is_directory", "the name of frame 1 is taken by a folder: no frame 1",
                {"box_1.obj": DIR}, frames=1)
    series_case("frames_later_is_device", "frame 1 is a link to /dev/zero",
                {"box_1.obj": Link("/dev/zero")}, exit=1, message=at("box_1.obj", NOT_REGULAR))
    series_case("frames_later_without_faces", "frame 1 gives the vertices alone",
                {"box_1.obj": without_lines(CUBE, "f ")}, frames=2)
    series_case("frames_tag_00", "box_00.obj starts no series: the broken box_1.obj is not read",
                {"box_1.obj": "v bad\n"}, input="box_00.obj", frames=1)
    series_case("frames_30", "thirty frames", {f"box_{n}.obj": CUBE for n in range(1, 30)},
                frames=30, names=[f"frame{n}" for n in range(30)])

    def fns_case(name, reason, data, frames):
        series_case(name, reason, {f"box_{n}.obj": CUBE for n in range(1, frames)},
                    fns=data, frames=frames, names=fns_names(data, frames))

    fns_case("fns_empty_lines", "empty lines name frames 0 and 1 with nothing", b"\n\r\nrun\n", 3)
    fns_case("fns_long_names", "names of 1000 bytes are cut to 15", b"w" * 1000 + b"\r\n" + b"x" * 1000, 2)
    fns_case("fns_nul_bytes", "a NUL byte ends the list", b"walk\x00run\nidle\n", 3)
    fns_case("fns_binary_junk", "4 KiB of arbitrary bytes", junk(4096, 3, bytes(range(1, 256))), 3)
    fns_case("fns_empty_file", "a 0-byte list: default names", b"", 2)
    fns_case("fns_eof_byte", "byte 26 is text in a list, not its end", b"a\x1ab\nc\n", 2)
    series_case("fns_is_directory", "the list's name is taken by a folder: default names",
                {"box_1.obj": CUBE}, fns=DIR, frames=2, names=["frame0", "frame1"])


def link_cases():
    # Every run plants ../outside.bmp beside the case folder; a file the
    # conversion names itself replaces a link at its name, never what the
    # link leads to, inside the folder or out of it.
    for name, files, facts in (
            ("link_atlas_to_outside", {"box.bmp": Link("../outside.bmp")}, {}),
            ("link_atlas_dangling_outside", {"box.bmp": Link("../new.bmp")}, {}),
            ("link_atlas_to_texture", {"box.bmp": Link("sub/tex.bmp"), "sub/tex.bmp": s.bmp(2, 2, 24)}, {}),
            ("link_placeholder_dangling_outside", {"created_mtl0.bmp": Link("../new.bmp")},
             {"regular": "created_mtl0.bmp"}),
            ("link_model_to_outside", {"box.mdl": Link("../outside.bmp")}, {"regular": "box.mdl"}),
            ("link_model_dangling_outside", {"box.mdl": Link("../new.mdl")}, {"regular": "box.mdl"})):
        case(name, "a link at the name of a file the conversion writes is replaced",
             {"box.obj": CUBE, "box.mtl": PLAIN_MTL, **files}, **CUBE_FACTS, atlas="80x80",
             **{"regular": "box.bmp", **facts})
    case("link_texture_is_read", "a texture that is a link is read through it",
         {"box.obj": CUBE, "box.mtl": TEX_MTL, "tex.bmp": Link("sub/real.bmp"), "sub/real.bmp": s.bmp(8, 8, 24)},
         **CUBE_FACTS, atlas="8x8")
    case("link_output_followed", "an output the user names may be a link, followed as editors do",
         {"box.obj": CUBE, "box.mtl": PLAIN_MTL, "out.mdl": Link("sub/real.mdl"), "sub": DIR},
         output="out.mdl", mdl="sub/real.mdl", **CUBE_FACTS, atlas="80x80")


def same_file_cases():
    # Refused before anything is written: the folder keeps only its files.
    frames = {"box_0.obj": CUBE, "box_1.obj": CUBE, "box.mtl": TEX_MTL, "tex.bmp": s.bmp(2, 2, 24),
              "box.fns": "walk\nrun\n"}
    for output, input in (("box_0.obj", "box_0.obj"), ("box_1.obj", "box_1.obj"), ("box.mtl", "box.mtl"),
                          ("tex.bmp", "tex.bmp"), ("box.fns", "box.fns"), ("./box.mtl", "box.mtl"),
                          ("alias.mdl", "box_0.obj")):
        name = "same_output_" + input.replace(".", "_") + ("_by_link" if output == "alias.mdl" else "") \
            + ("_dotted" if output.startswith("./") else "")
        case(name, f"the output {output} is the input {input}",
             {**frames, "alias.mdl": Link("box_0.obj")}, "box_0.obj", output=output, exit=1,
             message=output_is_input(output, input))
    case("same_output_png_texture", "the output tex.png is the PNG texture read in place of tex.bmp",
         {"box_0.obj": CUBE, "box.mtl": s.mtl([("red", (1, 0, 0), "tex.png")]),
          "tex.png": s.valid_textures()["png_rgb"]}, "box_0.obj", output="tex.png", exit=1,
         message=output_is_input("tex.png", "tex.png"))
    case("same_atlas_is_obj", "the OBJ file box.bmp would be replaced by the atlas box.bmp",
         {"box.bmp": CUBE, "box.mtl": PLAIN_MTL}, "box.bmp", exit=1,
         message=output_is_input("box.bmp", "box.bmp"))
    case("same_default_model_is_obj", "the OBJ file box.mdl would be replaced by the model box.mdl",
         {"box.mdl": CUBE, "box.mtl": PLAIN_MTL}, "box.mdl", exit=1,
         message=output_is_input("box.mdl", "box.mdl"))
    case("same_atlas_is_mtllib", "mtllib names box.bmp, which the atlas would replace",
         {"box.obj": "mtllib box.bmp\n" + CUBE, "box.bmp": PLAIN_MTL}, exit=1,
         message=output_is_input("box.bmp", "box.bmp"))


def atlas_size(tiles):
    """The atlas of textures of (width, height) placed side by side, each
    side growing by its remainder mod 8 after every texture."""
    width = height = 0
    for w, h in tiles:
        width, height = width + w, max(height, h)
        width, height = width + width % 8, height + height % 8
    return f"{width}x{height}"


def size_cases():
    # Inputs of a few MB (or of a few KB) that once took gigabytes or tens
    # of seconds: each is held to 2 s and to 64 MiB, or to what the images
    # it must make (or a line of up to 64 MiB) take beyond that.
    long_name = "n" * 4000
    faces = 300000
    obj_case("size_long_material_name", "300,000 faces under a material name of 4,000 bytes",
             "v 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl " + long_name + "\n" + "f 1 2 3\n" * faces,
             mtl=f"newmtl {long_name}\nKd 1 0 0\n", verts=3, tris=faces, limits=(2, 64))
    series_case("size_fns_empty_lines", "a frame-name list of 8 MiB of empty lines for 2 frames",
                {"box_1.obj": CUBE}, fns=b"\n" * (8 << 20), frames=2, names=["", ""], limits=(2, 64))
    # A line is refused at 64 MiB, which it may take to find out.
    mtl_case("size_sparse_mtl_line", "an MTL file of 80 MiB, almost all of it a hole of NUL bytes",
             Sparse(b"newmtl red\n", 80 << 20), exit=1, message=at("box.mtl:2", "Line longer than 64 MiB."),
             limits=(2, 128))
    texture = s.bmp(100, 150, 8, compression=s.BI_RLE8, pixels=bytes((0, 1)))
    mtl_case("size_one_texture_400_names", "one texture of 100 x 150 named through 400 map_Kd lines",
             s.mtl([("red" if i == 0 else f"m{i}", (1, 0, 0), f"d{i}/tex.bmp") for i in range(400)]),
             extra={"tex.bmp": texture}, atlas=atlas_size([(100, 150)] * 400), limits=(2, 96))
    mtl_case("size_400_placeholders", "400 materials without textures: 400 placeholders side by side",
             s.mtl([("red" if i == 0 else f"m{i}", (i / 400, 0, 0), None) for i in range(400)]),
             atlas=atlas_size([(80, 80)] * 400), files=["created_mtl0.bmp", "created_mtl399.bmp"],
             limits=(2, 64))
    # Every triangle covers the whole colour skin, which the texture makes
    # 2048 x 2048.
    quads = "f 1/1 2/2 4/4\nf 1/1 4/4 3/3\n" * 2800
    mtl_case("size_skin_2048_under_5600_triangles", "5,600 triangles each over a skin of 2048 x 2048",
             TEX_MTL, obj="v 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 0\nvt 0 0\nvt 1 0\nvt 0 1\nvt 1 1\n"
             "usemtl red\n" + quads,
             extra={"tex.bmp": s.bmp(2048, 2048, 8, compression=s.BI_RLE8, pixels=bytes((0, 1)))},
             verts=4, tris=5600, atlas="2048x2048", limits=(2, 96))


def mode_cases():
    # A replaced file hands on its permission bits, less set-uid, set-gid,
    # sticky and what the umask (022 in the runner) takes from a new file.
    for name, mode, expect in (("mode_planted_06777", 0o6777, "644"), ("mode_private_0600", 0o600, "600"),
                               ("mode_sticky_01666", 0o1666, "644")):
        case(name, f"a model of mode {mode:o} is replaced by one of mode {expect}",
             {"box.obj": CUBE, "box.mtl": PLAIN_MTL, "box.mdl": Mode(b"old", mode),
              "box.bmp": Mode(b"old", mode)},
             **CUBE_FACTS, atlas="80x80", mode=[f"box.mdl,{expect}", f"box.bmp,{expect}"])


def message_cases():
    # Control bytes from the input never reach the terminal as they are.
    esc = "\x1b]0;owned\x07\x1b[2J"
    obj_case("message_escape_in_number", "terminal escapes where a number belongs",
             replace_line(CUBE, "v ", f"v 0 1{esc} 0"), exit=1,
             message=at(f"box.obj:{line_of(CUBE, 'v ')}", not_float("1" + esc)))
    obj_case("message_delete_in_index", "DEL in a face index",
             replace_line(CUBE, "f ", "f 1/1/1 4/2\x7f/4 3/3/3"), exit=1,
             message=at(f"box.obj:{line_of(CUBE, 'f ')}", not_integer("2\x7f")))
    mtl_case("message_escape_in_texture_name", "a texture name with escapes, too long to be made",
             ("newmtl red\nmap_Kd " + "e" * 300 + esc + ".tga\n").encode(), exit=1,
             message=cannot_create("e" * 300 + esc + ".bmp", BAD_FILE_NAME[:-1]))
    case("message_escape_in_file_name", "a missing OBJ file whose name holds escapes",
         {}, "b" + esc + ".obj", exit=1, message=at(shown("b" + esc + ".obj"), FILE_NOT_FOUND))


# ---------------------------------------------------------------- writing

def esc(value, blanks=False):
    """value for a manifest field: UTF-8 text as it is, other bytes,
    control characters and backslashes (and blanks if asked) escaped."""
    text = as_bytes(value).decode("utf-8", "surrogateescape")
    out = []
    for ch in text:
        code = ord(ch)
        if ch == "\\":
            out.append("\\\\")
        elif 0xDC80 <= code <= 0xDCFF:
            out.append(f"\\x{code - 0xDC00:02x}")
        elif code < 0x20 or code == 0x7F or (blanks and ch == " "):
            out.append({"\t": "\\t", "\n": "\\n", "\r": "\\r"}.get(ch, f"\\x{code:02x}"))
        else:
            out.append(ch)
    return "".join(out)


def fact_text(key, value):
    """One fact, or one per entry for the texels. Names and files are lists
    joined by "|", which a name writes as \\x7c."""
    if key == "texel":
        return " ".join(f"{key}={v}" for v in value)
    if key in ("names", "files", "regular", "mode"):
        value = [value] if isinstance(value, str) else value
        return f"{key}=" + "|".join(esc(v, blanks=True).replace("|", "\\x7c") for v in value)
    return f"{key}={esc(str(value), blanks=True)}"


def write_case(folder, item):
    os.makedirs(folder)
    for name, content in item.contents.items():
        path = os.path.join(folder, as_bytes(name).decode("utf-8", "surrogateescape"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if isinstance(content, Dir):
            os.mkdir(path)
        elif isinstance(content, Link):
            os.symlink(content.target, path)
        elif isinstance(content, Sparse):
            with open(path, "wb") as out:
                out.write(as_bytes(content.content))
                out.truncate(content.size)
        elif isinstance(content, Mode):
            with open(path, "wb") as out:
                out.write(as_bytes(content.content))
            os.chmod(path, content.mode)
        else:
            with open(path, "wb") as out:
                out.write(as_bytes(content))


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: generate.py OUTDIR")
    outdir = sys.argv[1]
    manifest = os.path.join(outdir, "cases.tsv")
    # Start over, but only in a folder this script made: its mark is there
    # from the start, also after a run that failed halfway.
    mark = os.path.join(outdir, ".hostile-cases")
    if os.path.isdir(outdir) and os.listdir(outdir):
        if not os.path.exists(mark) and not os.path.exists(manifest):
            sys.exit(f"generate.py: {outdir} is not empty and was not made by generate.py; not touching it")
        shutil.rmtree(outdir)
    os.makedirs(outdir, exist_ok=True)
    open(mark, "wb").close()

    bmp_cases()
    texture_cases()
    obj_cases()
    mtl_cases()
    series_cases()
    link_cases()
    same_file_cases()
    mode_cases()
    message_cases()
    size_cases()

    rows = ["# name\tinput\texit\tmdl\tcheck\treason\toutput\tlimits"]
    for item in CASES:
        write_case(os.path.join(outdir, item.name), item)
        if item.exit == 1:
            check = esc(item.message)
        else:
            check = " ".join(fact_text(k, v) for k, v in item.facts.items())
        limits = "" if item.limits is None else f"{item.limits[0]},{item.limits[1]}"
        rows.append("\t".join((item.name, esc(item.input), str(item.exit), esc(item.mdl), check,
                               esc(item.reason), esc(item.output), limits)))
    # The manifest last: its presence says the cases are complete.
    with open(manifest, "wb") as out:
        out.write(("\n".join(rows) + "\n").encode("utf-8", "surrogateescape"))


if __name__ == "__main__":
    main()
