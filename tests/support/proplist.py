#!/usr/bin/env python3
"""Independent writer of the engine's binary property lists, for tests.

Written from the format description, not from the engine's code: a property list is
the concatenation of each property's binary form, little-endian, in declaration order
(root classes have only their own properties):
  u32 / i32: 4 bytes;  bool: 1 byte;  char string: the characters and a 0 byte;
  NameString: byte 0 when empty, else byte 1, the characters and a 0 byte;
  array of embedded records: u32 count, then each record's property list.
A Solid blob without check value (option 4) is u32 payload size, then the payload.

Commands:
  proplist.py defbin <Shaders.def> <out>    the DefBin of a shader description
  proplist.py reslist <out> [KIND:NAME:PARAMETER:FLAGS ...]   a resource list blob
  proplist.py templateinfo <out> <json>     a template catalogue
  proplist.py binarytemplate <out> <json>   one binary template
  proplist.py opt <out> <json>              an optimized template file
The JSON forms are described with the template writers below.
"""
import json
import struct
import sys

LIST_KINDS = ["Textures", "Shaders", "Templates", "Fonts", "Sounds", "StreamableSounds", "Animations", "Voices",
              "Videos"]
DEFBIN_MAGIC = 0x23EA5BC0


def u32(v):
    return struct.pack("<I", v & 0xFFFFFFFF)


def i32(v):
    return struct.pack("<i", v)


def boolean(v):
    return b"\x01" if v else b"\x00"


def cstr(s):
    return s.encode() + b"\x00"


def name(s):
    return b"\x00" if not s else b"\x01" + s.encode() + b"\x00"


def array(records):
    return u32(len(records)) + b"".join(records)


def solid_blob(payload):
    return u32(len(payload)) + payload


# --- shader definitions -------------------------------------------------------------

PARAM_TEXT_DEFAULTS = {"Type": "unknown", "Subregister": "x", "Shader": "vertex", "SRGB": "1", "NoAlpha": "0",
                       "Register": "0", "Trilinear": "0"}


def parameter(fields):
    f = dict(fields)
    text = lambda k: cstr(f.get(k, PARAM_TEXT_DEFAULTS[k]))
    return (name(f.get("Name", "")) + u32(int(f.get("ParamType", 0))) + text("Type") + text("Subregister") +
            text("Shader") + text("SRGB") + text("NoAlpha") + text("Register") + text("Trilinear") +
            u32(int(f.get("Flags", 0))) + i32(int(f.get("SecondaryRegister", 0))) +
            name(f.get("Default", "").replace(",", " ")) + u32(int(f.get("DefaultFlags", 0))) +
            name(f.get("AssociatedOption", "")) + name(f.get("RequiredOption", "")))


def option(o):
    return (name(o["name"]) + name(o.get("disables", "")) + name(o.get("enforces", "")) + boolean(o.get("vs")) +
            boolean(o.get("ps")) + boolean(o.get("system")) + boolean(o.get("default")) +
            array([parameter(p) for p in o["params"]]))


def family(f):
    options = sorted(f["options"], key=lambda o: o["name"].lower())
    return (name(f["name"]) + boolean(f.get("deferred")) + boolean(f.get("solidnondeferred")) +
            array([option(o) for o in options]) + array([parameter(p) for p in f["params"]]))


def parse_description(text):
    families = []
    current = None
    for line in text.splitlines():
        words = line.split("#", 1)[0].split()
        if not words:
            continue
        keyword, rest = words[0], words[1:]
        if keyword == "family":
            families.append({"name": rest[0], "options": [], "params": []})
            for w in rest[1:]:
                families[-1][w] = True
            current = None
        elif keyword == "option":
            current = {"name": rest[0], "params": []}
            for w in rest[1:]:
                key, _, value = w.partition("=")
                current[key] = value if value else True
            families[-1]["options"].append(current)
        elif keyword == "param":
            fields = [("Name", rest[0])] + [tuple(w.split("=", 1)) for w in rest[1:]]
            (current or families[-1])["params"].append(fields)
        else:
            raise ValueError("unknown keyword " + keyword)
    return families


def defbin(families):
    records = b"".join(solid_blob(family(f)) for f in families)
    stamp = 0xCBF29CE484222325
    for b in records:
        stamp = ((stamp ^ b) * 0x100000001B3) & 0xFFFFFFFFFFFFFFFF
    return u32(DEFBIN_MAGIC) + struct.pack("<Q", stamp) + u32(len(families)) + records


# --- resource lists -----------------------------------------------------------------

def resource_list(entries):
    """entries: (kind, name, parameter, flags) tuples; kinds as in LIST_KINDS."""
    arrays = []
    for kind in LIST_KINDS:
        arrays.append(array([name(n) + u32(p) + u32(fl) for k, n, p, fl in entries if k == kind]))
    return solid_blob(b"".join(arrays))


# --- templates ----------------------------------------------------------------------
# GUIDs are given in their text form; its first hex pair is byte 15 of the stored 16.

def guid(text):
    raw = bytes.fromhex(text.replace("-", ""))
    assert len(raw) == 16
    return raw[::-1]


def f32(v):
    return struct.pack("<f", v)


def u8(v):
    return struct.pack("<B", v)


def stub_properties(stub):
    """EntityTemplateStub: "File name", "GUID", "Type"."""
    return cstr(stub.get("file", "")) + guid(stub["guid"]) + u32(stub.get("type", 0))


def folder_record(folder):
    """{"name": text, "guids": [GUID text], "folders": [folder]}; a name is written with
    its NUL (length 0 for none), or "raw_name" as hex bytes exactly as given."""
    if "raw_name" in folder:
        name_bytes = bytes.fromhex(folder["raw_name"])
    else:
        name_bytes = cstr(folder["name"]) if folder.get("name") else b""
    out = u32(len(name_bytes)) + name_bytes
    out += u32(len(folder.get("guids", []))) + b"".join(guid(g) for g in folder.get("guids", []))
    subs = folder.get("folders", [])
    return out + u32(len(subs)) + b"".join(folder_record(f) for f in subs)


def template_info(desc):
    """{"stubs": [{"file", "guid", "type"}], "root": folder}"""
    stubs = desc.get("stubs", [])
    out = u32(len(stubs))
    for stub in stubs:
        props = stub_properties(stub)
        out += u32(len(props)) + props
    return out + folder_record(desc.get("root", {"name": "templates"}))


TEMPLATE_DEFAULTS = {"lua_class": "", "passes": 0, "activates_triggers": False, "face_camera_mode": 0,
                     "face_camera_offset": 0.0, "color": [255, 255, 255, 255, 1.0],
                     "box": [-1, -1, -1, 1, 1, 1, 1, 1], "sort_offset": 0.0, "quality": 0, "combat": True,
                     "tactical": True, "tactical_extended": 0}


def template_properties(props):
    """EntityTemplate, in registration order (groups write nothing)."""
    p = dict(TEMPLATE_DEFAULTS)
    p.update(props)
    c = p["color"]
    return (cstr(p["lua_class"]) + u32(p["passes"]) + boolean(p["activates_triggers"]) +
            u32(p["face_camera_mode"]) + f32(p["face_camera_offset"]) +
            bytes(c[:4]) + f32(c[4]) + b"".join(f32(v) for v in p["box"]) + f32(p["sort_offset"]) +
            u8(p["quality"]) + boolean(p["combat"]) + boolean(p["tactical"]) + u8(p["tactical_extended"]))


def binary_template(desc):
    """{"guid", "type", "props": {...}, "extra": hex of the kind's data}"""
    props = template_properties(desc.get("props", {}))
    return (guid(desc["guid"]) + u32(desc.get("type", 0)) + solid_blob(props) +
            bytes.fromhex(desc.get("extra", "")))


def optimized(desc):
    """{"version": 50, "templates": [binary template desc]}"""
    templates = desc.get("templates", [])
    return u32(desc.get("version", 50)) + u32(desc.get("count", len(templates))) + b"".join(
        binary_template(t) for t in templates)


TEMPLATE_WRITERS = {"templateinfo": template_info, "binarytemplate": binary_template, "opt": optimized}


def main(argv):
    if len(argv) == 4 and argv[1] in TEMPLATE_WRITERS:
        with open(argv[2], "wb") as f:
            f.write(TEMPLATE_WRITERS[argv[1]](json.loads(argv[3])))
        return 0
    if len(argv) == 4 and argv[1] == "defbin":
        with open(argv[2]) as f:
            data = defbin(parse_description(f.read()))
        with open(argv[3], "wb") as f:
            f.write(data)
        return 0
    if len(argv) >= 3 and argv[1] == "reslist":
        entries = []
        for spec in argv[3:]:
            kind, entry_name, parameter_text, flags_text = spec.rsplit(":", 3)
            entries.append((kind, entry_name, int(parameter_text), int(flags_text)))
        with open(argv[2], "wb") as f:
            f.write(resource_list(entries))
        return 0
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
