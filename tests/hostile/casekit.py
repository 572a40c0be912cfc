"""What the hostile-file cases are made of: the expected messages, building
blocks for files, and the case list each case is added to. generate.py and
bmp_cases.py fill the list; generate.py writes it out."""

import os
import struct
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import samplefiles as s  # noqa: E402,F401

# ---------------------------------------------------------------- messages

INVALID_BITMAP = "The bitmap image is not valid."
READ_ERROR = "Error reading from a stream."
FILE_NOT_FOUND = "File not found."
BAD_FILE_NAME = "Invalid file name."
ACCESS_DENIED = "File access denied."
ATLAS_TOO_LARGE = "Texture atlas exceeds 65535 pixels."
NOT_REGULAR = "Not a regular file: a device, a pipe or a socket."


def shown(text):
    """text as messages show it: bytes below 32 but the tab, and 127, as \\xNN."""
    return "".join(f"\\x{ord(c):02x}" if (ord(c) < 32 and c != "\t") or ord(c) == 127 else c
                   for c in text)


def not_float(text):
    return f"'{shown(text)}' is not a valid floating-point number."


def not_integer(text):
    return f"'{shown(text)}' is not a valid integer."


def cannot_open(name):
    return f"The file {{dir}}/{shown(name)} cannot be opened."


def cannot_create(name, reason):
    """A file that cannot be made, with the reason in brackets."""
    return f"The file {{dir}}/{shown(name)} cannot be created ({reason})"


def output_is_input(output, input):
    return (f"Writing {{dir}}/{output} would replace {{dir}}/{input}, which this conversion reads; "
            "choose another name.")


def atlas_is_texture(name):
    return (f"The texture {{dir}}/{name} would be overwritten by the texture atlas of the same name; "
            "rename the texture.")


def frame_count_differs(number, count, first):
    return f"Frame_{number} has {count} vertices, but Frame_0 has {first}."


# ---------------------------------------------------------------- building blocks

class Dir:
    """An empty folder in place of a file."""


class Link:
    """A symbolic link to target."""

    def __init__(self, target):
        self.target = target


class Mode:
    """content written with the permission bits mode."""

    def __init__(self, content, mode):
        self.content, self.mode = content, mode


class Sparse:
    """content, then a hole up to size bytes: a large file of almost no disk."""

    def __init__(self, content, size):
        self.content, self.size = content, size


DIR = Dir()

CUBE = s.cube_obj(materials=("red",)).decode()
CUBE_UV_LESS = s.cube_obj(materials=("red",), corner_form="v//vn").decode()
# One material without a texture: an 80 x 80 placeholder becomes the atlas.
PLAIN_MTL = s.mtl([("red", (1, 0, 0), None)])
TEX_MTL = s.mtl([("red", (1, 0, 0), "tex.bmp")])
CUBE_FACTS = {"verts": 8, "tris": 12, "frames": 1, "skins": 2}
# A model without materials: an 80 x 80 white atlas, opaque in the skin.
WHITE_ATLAS = {"atlas": "80x80", "texel": ["0,0,ffffffff", "79,79,ffffffff"]}


def replace_line(text, prefix, new, nth=0):
    """text with its nth line that starts with prefix replaced by new."""
    lines = text.split("\n")
    found = [i for i, line in enumerate(lines) if line.startswith(prefix)]
    lines[found[nth]] = new
    return "\n".join(lines)


def line_of(text, prefix, nth=0):
    """The 1-based number of the nth line of text that starts with prefix."""
    return [i for i, line in enumerate(text.split("\n")) if line.startswith(prefix)][nth] + 1


def at(place, message):
    """A message about an input file, led by its place in the case folder
    ("box.obj:12", or "box.obj" for the file as a whole)."""
    return "{dir}/" + place + ": " + message


def without_lines(text, prefix):
    return "\n".join(line for line in text.split("\n") if not line.startswith(prefix))


def as_bytes(text):
    return text.encode("utf-8", "surrogateescape") if isinstance(text, str) else text


def patch(data, offset, fmt, value):
    """data with the field at offset overwritten."""
    field = struct.pack(fmt, value)
    return data[:offset] + field + data[offset + len(field):]


def atlas_of(width, height):
    """The atlas of one texture: each side grows by its remainder mod 8; a
    texture without pixels leaves an atlas without pixels, saved empty."""
    if width == 0 or height == 0:
        return "0x0"
    return f"{width + width % 8}x{height + height % 8}"


def junk(count, seed, alphabet):
    """count bytes drawn from alphabet by a fixed linear congruential generator."""
    state = seed
    out = bytearray()
    for _ in range(count):
        state = (state * 1103515245 + 12345) & 0x7FFFFFFF
        out.append(alphabet[(state >> 8) % len(alphabet)])
    return bytes(out)


def fns_names(data, frames):
    """The frame names a list file gives: text up to the first NUL, lines
    ending at CR, LF or CR LF, each cut to 15 bytes; default names after the
    last line."""
    data = data.split(b"\0")[0]
    lines, line, i = [], bytearray(), 0
    while i < len(data):
        c = data[i]
        if c in (13, 10):
            lines.append(bytes(line))
            line = bytearray()
            if c == 13 and i + 1 < len(data) and data[i + 1] == 10:
                i += 1
        else:
            line.append(c)
        i += 1
    if line:
        lines.append(bytes(line))
    return [lines[k][:15] if k < len(lines) else f"frame{k}".encode() for k in range(frames)]


# ---------------------------------------------------------------- the cases

CASES = []


def case(name, reason, contents, input="box.obj", *, exit=0, mdl="box.mdl", message=None, output="",
         limits=None, **facts):
    """One case: contents maps the case folder's file names to their bytes
    (or text, a Dir, a Link, a Mode for bytes with permission bits, or a
    Sparse file). output, when given, is the MDL file named on the command
    line. limits, when given, is (seconds, MiB), tighter than the suite's own."""
    assert name.replace("_", "").isalnum() and name.isascii(), name
    assert all(c.name != name for c in CASES), name
    assert (exit == 1) == (message is not None), name
    CASES.append(Case(name, reason, contents, input, exit, output or mdl, message, output, facts, limits))


class Case:
    def __init__(self, name, reason, contents, input, exit, mdl, message, output, facts, limits=None):
        self.name, self.reason, self.contents, self.input = name, reason, contents, input
        self.exit, self.mdl, self.message, self.facts = exit, mdl, message, facts
        self.output, self.limits = output, limits


def texture_case(name, reason, texture, *, exit=0, message=None, **facts):
    """The cube with one material whose texture tex.bmp is the file under test."""
    files = {"box.obj": CUBE, "box.mtl": TEX_MTL, "tex.bmp": texture}
    if exit == 0:
        facts = {**CUBE_FACTS, **facts}
    case(name, reason, files, exit=exit, message=message, **facts)


def bad_texture(name, reason, texture, message):
    texture_case(name, reason, texture, exit=1, message=message)


def obj_case(name, reason, obj, *, exit=0, message=None, mtl=PLAIN_MTL, limits=None, **facts):
    """obj as box.obj beside a material without a texture."""
    files = {"box.obj": obj}
    if mtl is not None:
        files["box.mtl"] = mtl
    if exit == 0:
        facts = {**CUBE_FACTS, "atlas": "80x80", **facts}
    case(name, reason, files, exit=exit, message=message, limits=limits, **facts)


def mtl_case(name, reason, mtl, *, exit=0, message=None, extra=None, obj=CUBE, limits=None, **facts):
    files = {"box.obj": obj, "box.mtl": mtl, **(extra or {})}
    if exit == 0:
        facts = {**CUBE_FACTS, **facts}
    case(name, reason, files, exit=exit, message=message, limits=limits, **facts)


def series_case(name, reason, later, *, fns=None, input="box_0.obj", exit=0, message=None, limits=None,
                **facts):
    """The cube as box_0.obj, box.mtl, and later: further files by name."""
    files = {input: CUBE, "box.mtl": PLAIN_MTL, **later}
    if fns is not None:
        files["box.fns"] = fns
    if exit == 0:
        facts = {**CUBE_FACTS, **facts}
    case(name, reason, files, input, exit=exit, message=message, limits=limits, **facts)
