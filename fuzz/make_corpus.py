#!/usr/bin/env python3
"""Writes the fuzzers' seed corpora: small valid files of every kind the
readers accept, one folder per fuzz target.

    python3 make_corpus.py OUTDIR

Every seed must be read without error; the replay test checks that, so a
seed the readers refuse is caught in the ordinary test run.
"""

import os
import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts"))
import samplefiles as s  # noqa: E402

# The separator and file order of a conversion bundle, as FuzzTargets.cpp splits it.
BUNDLE_SEPARATOR = b"\n#@#\n"
LINE_ENDS = {"lf": "\n", "crlf": "\r\n", "cr": "\r"}


def obj_seeds():
    seeds = {}
    for end_name, end in LINE_ENDS.items():
        seeds[f"cube_uv_{end_name}"] = s.cube_obj(line_end=end)
        seeds[f"cube_normals_only_{end_name}"] = s.cube_obj(corner_form="v//vn", line_end=end)
    seeds["cube_triangles"] = s.cube_obj(triangles=True)
    seeds["cube_no_materials"] = s.cube_obj(materials=())
    seeds["cube_big"] = s.cube_obj(scale=1e4)
    seeds["negative_indices"] = (
        b"v 0 0 0\nv 1 0 0\nv 0 1 0\nvn 0 0 1\nvn 0 0 1\nvn 0 0 1\nvt 0 0\nvt 1 0\nvt 0 1\n"
        b"usemtl a\nf -3/-3/-3 -2/-2/-2 -1/-1/-1\nfo 1/1/1 2/2/2 3/3/3\n")
    seeds["keywords_and_numbers"] = (
        b"# mixed case keywords, signs, exponents, tabs\nV +1.5e-1\t-2E+0 3.\nv .5 -0. 1e0\n"
        b"VN 0 0 1\nvn 0 0 -1\nVT 0.25 0.75\nUSEMTL m\nF 1/1/1 2/1/2 1/1/1\ng group\ns off\no name\n")
    seeds["hex_indices"] = b"v 0 0 0\nv 1 0 0\nv 0 1 0\nvn 0 0 1\nf $1//x1 0x2//1 3//1\n"
    # As exporters write them: runs of blanks and tabs, indented lines,
    # corners without normals or texture indices, polygons of many corners.
    seeds["exporter_blanks"] = (
        b"mtllib other.mtl\n\tv  1.0 0.0  2.0\nv\t-1 0\t\t0 \nv 0 1 0\n  vt 0 0\nvt 1 1 0\n"
        b"usemtl a\nf  1/1 2/2  3/1 \nf 1 2 3\nf\t1//\t2/2/ 3\n")
    seeds["polygons"] = (
        b"v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 0 2 0\nvn 0 0 1\nvn 0 1 0\n"
        b"f 1//1 2//2 3//1 4//2 5//1\nf 1 2 3 4 5 1 2 3\nf 5/1/1 4 3//2 2/1/ 1\n")
    return seeds


def mtl_seeds():
    materials = [("red", (1.0, 0.0, 0.0), "t.bmp"), ("blue", (0.0, 0.0, 1.0), None)]
    seeds = {f"two_{name}": s.mtl(materials, end) for name, end in LINE_ENDS.items()}
    seeds["keywords"] = (
        b"Kd 1 1 1\nNEWMTL upper\nKA 0.1 0.2 0.3\nKD 1 0.5 0\nKS 0 0 0\nNS 10\nMAP_KD dir\\t.bmp\n"
        b"newmtl lower\nkd 0 1 0\nmap_kd c:t.bmp\nillum 2\nd 1\n")
    seeds["exporter_forms"] = (
        b"newmtl tabbed\n\tKa 0\n\tKd  0.5\t0.25 1\n\tKs 0.2\n"
        b"\tmap_Kd -s 1 1 1 -o 0 -clamp on -mm 0 1 Wood Grain.tga\n"
        b"newmtl bare\nmap_Kd -blendu off -bm 0.5\nmap_Kd -t 1 x.bmp\n")
    return seeds


def frame_name_seeds():
    return {
        "three": s.frame_names(["stand", "walk1", "walk2"]),
        "crlf": s.frame_names(["stand", "walk1"], "\r\n"),
        "long_and_blank": s.frame_names(["a name far longer than sixteen bytes", "", "  spaced  "]),
        "no_final_end": b"one\ntwo",
    }


def mdl_seeds():
    three = ((0, 0, 0, 1), (65535, 0, 0, 2), (0, 65535, 65535, 161))
    small = ((0, 0, 0, 1), (255, 7, 0, 2), (3, 255, 128, 161))
    # The skin types and frame forms of the engine's own tools.
    engine = {f"skin_type{t}": s.mdl5(skins=((t, 5, 3),)) for t in (0, 2, 3, 10, 11, 12, 13)}
    engine["skin_dds"] = s.mdl5(skins=((6, 12, 0),))
    return {
        **engine,
        "frames_8bit": s.mdl5(frames=(("stand", small, 0), ("walk", small, 0))),
        "mixed_frames": s.mdl5(frames=(("stand", small, 0), ("walk", three, 2), ("run", three, 7))),
        "three_skins": s.mdl5(skins=((2, 4, 4), (6, 8, 0), (13, 8, 8))),
        "texture_skin": s.mdl5(),
        "colour_skin_only": s.mdl5(skins=((4, 3, 2),)),
        "both_skins": s.mdl5(skins=((5, 2, 2), (4, 2, 2))),
        "no_skin": s.mdl5(skins=(), skin_verts=()),
        "frames": s.mdl5(frames=(("stand", three), ("walk", three), ("run", three))),
        "no_frames": s.mdl5(frames=()),
        "no_triangles": s.mdl5(triangles=(), skin_verts=()),
    }


def bundle(*parts):
    return BUNDLE_SEPARATOR.join(parts)


def conversion_seeds():
    materials = s.mtl([("red", (1.0, 0.2, 0.0), "t.bmp"), ("blue", (0.0, 0.0, 1.0), "missing.bmp")])
    moved = s.cube_obj(scale=1.5, mtllib="m.mtl")
    seeds = {}
    bmps = s.valid_bmps()
    for name in ("rgb24", "rgb8", "rgb1_topdown", "bitfields16_565", "rle8", "rle4", "core4", "zero_width"):
        seeds[f"texture_{name}"] = bundle(s.cube_obj(mtllib="m.mtl"), materials, bmps[name])
    seeds["series"] = bundle(s.cube_obj(), materials, bmps["rgb24"], moved,
                             s.frame_names(["first", "second"]))
    seeds["normals_only"] = bundle(s.cube_obj(corner_form="v//vn"), s.mtl([("red", (1, 0, 0), None)]))
    seeds["no_mtl"] = s.cube_obj(materials=())
    seeds["blank_runs_pentagon"] = bundle(
        b"v  0 0 0\nv  1 0 0\nv  1 1 0\nv  0.5 2 0\nv  0 1 0\nusemtl red\nf  1 2 3 4 5\n",
        s.mtl([("red", (1, 0, 0), None)]))
    return seeds


def texture_seeds():
    """Each texture behind the byte that picks its decoder (see FuzzTexture)."""
    picks = {"png": 0, "jpeg": 1, "tga": 2}
    return {name: bytes((picks[name.split("_")[0]],)) + data for name, data in s.valid_textures().items()}


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_corpus.py OUTDIR")
    out = sys.argv[1]
    corpora = {
        "bmp": s.valid_bmps(),
        "obj": obj_seeds(),
        "mtl": mtl_seeds(),
        "framenames": frame_name_seeds(),
        "mdl": mdl_seeds(),
        "conversion": conversion_seeds(),
        "texture": texture_seeds(),
    }
    for target, seeds in corpora.items():
        folder = os.path.join(out, target)
        os.makedirs(folder, exist_ok=True)
        for name, data in seeds.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
