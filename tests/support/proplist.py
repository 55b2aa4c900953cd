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
  proplist.py scene <out> <json>            a binary scene
  proplist.py envelope <out> <json>         an envelope's property list
  proplist.py particlesystem <out> <json>   a particle-system definition's property list
  proplist.py sfxtemplate <out> <json>      an effect template's properties, then its definition's
  proplist.py sceneparameters <out> <json>  a scene-parameter template's own property list
  proplist.py lighttemplate <out> <json>    a light template's own property list
  proplist.py lightentity <out> <json>      a light entity's own property list
  proplist.py compoundtemplate <out> <json> a compound template's own property list
  proplist.py compoundentity <out> <json>   a compound entity's own property list
  proplist.py flagtemplate <out> <json>     a flag template's own property list
  proplist.py flagentity <out> <json>       a flag entity's own property list
  proplist.py graphtemplate <out> <json>    a graph template's own property list
  proplist.py graphentity <out> <json>      a graph entity's own property list
  proplist.py ingameuitemplate <out> <json> an in-game UI template's own property list
  proplist.py sequence <out> <json>         a scene's sequence block
  proplist.py gameclass <out> <json>        a game class's part of its object's property list
  proplist.py gameclassinfo <out> <json>    a game class's own properties as text lines
  proplist.py gameclassorder <out> {}       the game classes in start-up order, one a line
The JSON forms are described with the template writers below.
"""
import json
import os
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


MESH_DEFAULTS = {"imported_from": "", "optimizable": True, "player_collision": 0, "dynamic_collision": False,
                 "collision_box": [-1, -1, -1, 1, 1, 1, 1, 1], "collision_scale": [1, 1, 1, 1],
                 "collision_offset": [0, 0, 0, 0], "rough_los": 0, "exact_los": 0, "los_mask": 0,
                 "expands_walkable": False, "tree": "", "animations": [], "xsi_scale": 1.0,
                 "fake_shadow": {}, "head_a": "", "head_b": ""}
FAKE_SHADOW_DEFAULTS = {"enabled": False, "body_mapping": [0, 0, 0, 0], "body_scale_offset": [1, 1, 0, 0],
                        "body_pivot_y": 2.0, "body_max_offset": 10.0, "head_a_mapping": [0, 0, 0, 0],
                        "head_a_scale_offset": [1, 1, 0, 0], "head_a_max_offset": 10.0,
                        "head_b_mapping": [0, 0, 0, 0], "head_b_scale_offset": [1, 1, 0, 0],
                        "head_b_max_offset": 10.0}


def mesh_properties(props):
    """MeshTemplate's own properties, in registration order (the walk writes the
    EntityTemplate's first). Animations: [{"name", "file", "time"}]."""
    p = dict(MESH_DEFAULTS)
    p.update(props)
    fs = dict(FAKE_SHADOW_DEFAULTS)
    fs.update(p["fake_shadow"])
    out = cstr(p["imported_from"]) + boolean(p["optimizable"]) + u32(p["player_collision"])
    out += boolean(p["dynamic_collision"]) + floats(p["collision_box"]) + floats(p["collision_scale"])
    out += floats(p["collision_offset"]) + u32(p["rough_los"]) + u32(p["exact_los"]) + u32(p["los_mask"])
    out += boolean(p["expands_walkable"]) + cstr(p["tree"])
    out += array([name(a.get("name", "")) + name(a.get("file", "")) + f32(a.get("time", 1.0))
                  for a in p["animations"]])
    out += f32(p["xsi_scale"])
    out += (boolean(fs["enabled"]) + floats(fs["body_mapping"]) + floats(fs["body_scale_offset"]) +
            f32(fs["body_pivot_y"]) + f32(fs["body_max_offset"]) + floats(fs["head_a_mapping"]) +
            floats(fs["head_a_scale_offset"]) + f32(fs["head_a_max_offset"]) + floats(fs["head_b_mapping"]) +
            floats(fs["head_b_scale_offset"]) + f32(fs["head_b_max_offset"]))
    return out + name(p["head_a"]) + name(p["head_b"])


KIND_PROPERTIES = {"mesh": mesh_properties}


def binary_template(desc):
    """{"guid", "type", "props": {...}, "kind": "mesh", "kind_props": {...}, "class_props": hex of
    the properties of the classes that sort after "EntityTemplate" in the chain, "head_props":
    hex of those that sort before it, "mesh": mesh block model (tests/support/mesh_block.py),
    "extra": hex of further kind data}"""
    props = bytes.fromhex(desc.get("head_props", "")) + template_properties(desc.get("props", {}))
    if desc.get("kind") in KIND_PROPERTIES:
        props += KIND_PROPERTIES[desc["kind"]](desc.get("kind_props", {}))
    props += bytes.fromhex(desc.get("class_props", ""))
    extra = bytes.fromhex(desc.get("extra", ""))
    if "mesh" in desc:
        sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
        import mesh_block
        extra = mesh_block.write(desc["mesh"], 50, "<") + extra
    return guid(desc["guid"]) + u32(desc.get("type", 0)) + solid_blob(props) + extra


def optimized(desc):
    """{"version": 50, "templates": [binary template desc]}"""
    templates = desc.get("templates", [])
    return u32(desc.get("version", 50)) + u32(desc.get("count", len(templates))) + b"".join(
        binary_template(t) for t in templates)


# --- binary scenes ----------------------------------------------------------------------

ZERO_GUID = "00" * 16
IDENTITY = [1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1]


def floats(values):
    return b"".join(f32(v) for v in values)


def optional_guid(text):
    return guid(text or ZERO_GUID)


def scene_root(root):
    """SceneEntity's own properties."""
    return (optional_guid(root.get("active")) + boolean(root.get("common", True)) +
            boolean(root.get("mesh_optimization", True)) + f32(root.get("universe_min_y", -25.0)) +
            name(root.get("tag", "")) + u32(root.get("mode", 3)) +
            b"".join(floats(root.get(k, [0, 0, 0, 0])) for k in ("lm_pos", "lm_uv", "lm_muladd")))


PARENT_NO_SCALE = 0x10000  # the entity flag: the parent's axes count without their lengths


def quat_matrix(q):
    """The rotation rows of quaternion (x, y, z, w), row vectors (a point is p @ M)."""
    x, y, z, w = q
    return [[1 - 2 * (y * y + z * z), 2 * (x * y + z * w), 2 * (x * z - y * w)],
            [2 * (x * y - z * w), 1 - 2 * (x * x + z * z), 2 * (y * z + x * w)],
            [2 * (x * z + y * w), 2 * (y * z - x * w), 1 - 2 * (x * x + y * y)]]


def compose(pos, rot, scale):
    """4 x 4 rows: scale, then rotation, then translation."""
    r = quat_matrix(rot)
    rows = [[r[i][j] * scale[i] for j in range(3)] + [0.0] for i in range(3)]
    return rows + [[pos[0], pos[1], pos[2], 1.0]]


def mat_mul(a, b):
    return [[sum(a[i][k] * b[k][j] for k in range(4)) for j in range(4)] for i in range(4)]


def without_scale(m):
    out = [row[:] for row in m]
    for i in range(3):
        length = sum(v * v for v in m[i][:3]) ** 0.5
        if length > 0:
            out[i] = [v / length for v in m[i]]
    return out


def decompose(m):
    """(position, rotation quaternion, scale) of a matrix without shear; a negative
    determinant is carried by the z scale."""
    scale = [sum(v * v for v in m[i][:3]) ** 0.5 for i in range(3)]
    det = (m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
           m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]))
    if det < 0:
        scale[2] = -scale[2]
    r = [[m[i][j] / scale[i] if scale[i] else 0.0 for j in range(3)] for i in range(3)]
    trace = r[0][0] + r[1][1] + r[2][2]
    if trace > 0:
        k = 2 * (trace + 1) ** 0.5
        q = [(r[1][2] - r[2][1]) / k, (r[2][0] - r[0][2]) / k, (r[0][1] - r[1][0]) / k, k / 4]
    elif r[0][0] >= r[1][1] and r[0][0] >= r[2][2]:
        k = 2 * (1 + r[0][0] - r[1][1] - r[2][2]) ** 0.5
        q = [k / 4, (r[0][1] + r[1][0]) / k, (r[2][0] + r[0][2]) / k, (r[1][2] - r[2][1]) / k]
    elif r[1][1] >= r[2][2]:
        k = 2 * (1 + r[1][1] - r[0][0] - r[2][2]) ** 0.5
        q = [(r[0][1] + r[1][0]) / k, k / 4, (r[1][2] + r[2][1]) / k, (r[2][0] - r[0][2]) / k]
    else:
        k = 2 * (1 + r[2][2] - r[0][0] - r[1][1]) ** 0.5
        q = [(r[2][0] + r[0][2]) / k, (r[1][2] + r[2][1]) / k, k / 4, (r[0][1] - r[1][0]) / k]
    return m[3][:3], q, scale


def local_parts(e):
    return e.get("pos", [0, 0, 0]), e.get("rot", [0, 0, 0, 1]), e.get("scale", [1, 1, 1])


def world_matrices(entities):
    """Each entity's world matrix by GUID: local @ parent world (the parent's axes
    normalised first under PARENT_NO_SCALE), parents found among the entities."""
    by_guid = {e["guid"]: e for e in entities if e.get("guid")}
    worlds = {}

    def world(e, depth=0):
        key = id(e)
        if key in worlds:
            return worlds[key]
        m = compose(*local_parts(e))
        parent = by_guid.get(e.get("parent"))
        if parent is not None and parent is not e and depth < len(entities):
            p = world(parent, depth + 1)
            if e.get("flags", 0) & PARENT_NO_SCALE:
                p = without_scale(p)
            m = mat_mul(m, p)
        worlds[key] = m
        return m

    for e in entities:
        world(e)
    return worlds


def entity_properties(e, world=None):
    """Entity, in registration order: the local placement ("pos", "rot" as a quaternion
    x y z w, "scale"), then the world ("Global") placement the parent chain gives."""
    pos, rot, scale = local_parts(e)
    location = [v for row in compose(pos, rot, scale) for v in row]
    gpos, grot, gscale = decompose(world) if world is not None else (pos, rot, scale)
    return (u32(e.get("flags", 0)) + name(e.get("name", "")) + optional_guid(e.get("guid")) +
            optional_guid(e.get("parent")) + u8(0) + f32(0) + boolean(True) + floats(location) +
            floats(list(pos) + [1]) + floats(rot) + floats(list(scale) + [1]) + floats(list(gpos) + [1]) +
            floats(grot) + floats(list(gscale) + [1]) + u32(e.get("random_id", 7)) + u32(0) + u8(e.get("layer", 1)) +
            name("") + floats(IDENTITY) + floats([0, 0, 0, 1]) + floats([0, 0, 0, 1]) + floats([1, 1, 1, 1]) + u8(0) +
            u8(0))


MESH_ENTITY_DEFAULTS = {"preset": "", "local_color": [255, 255, 255, 255, 1.0], "optimizable": True,
                        "lm_uv": [0, 0, 0, 0], "lm_id": 0xFFFFFFFF}


def mesh_entity_properties(props):
    """MeshEntity's own properties, after Entity's (the walk's class order)."""
    p = dict(MESH_ENTITY_DEFAULTS)
    p.update(props)
    c = p["local_color"]
    return (name(p["preset"]) + bytes(c[:4]) + f32(c[4]) + boolean(p["optimizable"]) + floats(p["lm_uv"]) +
            u32(p["lm_id"]))


ENTITY_KIND_PROPERTIES = {"mesh": mesh_entity_properties}


def scene_entity(e, world=None):
    """{"template", "name", "guid", "parent", "flags", "pos", "rot", "scale", "layer", "kind"
    and "kind_props" for an entity kind's own properties, "class_props": hex of the properties
    of the classes that sort after "Entity", "head_props": hex of those that sort before it};
    "raw" (hex) replaces the property list, "size" the stated size."""
    props = bytes.fromhex(e["raw"]) if "raw" in e else bytes.fromhex(e.get("head_props", "")) + entity_properties(e, world)
    if "raw" not in e and e.get("kind") in ENTITY_KIND_PROPERTIES:
        props += ENTITY_KIND_PROPERTIES[e["kind"]](e.get("kind_props", {}))
    if "raw" not in e:
        props += bytes.fromhex(e.get("class_props", ""))
    return guid(e["template"]) + u32(e.get("size", len(props))) + props


def entity_set(st):
    """{"name", "guid", "members": [GUID]}; "member_count" replaces the stated count."""
    members = [guid(m) for m in st.get("members", [])]
    props = (cstr(st.get("name", "")) + bytes([10, 20, 30, 255]) + f32(1.0) + guid(st["guid"]) +
             u32(st.get("member_count", len(members))) + b"".join(members))
    return u32(len(props)) + props


def layer(ly):
    return (b"\x01" + cstr(ly["name"]) + guid(ly["guid"]) + boolean(True) + boolean(False) +
            boolean(ly.get("visible_in_game", True)) + boolean(False) + boolean(False) + boolean(True) +
            bytes([255, 255, 255, 255]) + f32(1.0) + u8(ly["id"]) + f32(100.0) + u32(0) + boolean(True) +
            boolean(True))


def layer_system(layers):
    root = cstr("LAYERS") + bytes([255, 255, 255, 255]) + f32(1.0) + boolean(False) + boolean(True)
    return root + u32(0) + u32(len(layers)) + b"".join(layer(ly) for ly in layers) + u8(1)


def scene_grid(g):
    """{"width", "height", "origin": [4], "cell", "fill": byte or "cells": hex}"""
    cells = bytes.fromhex(g["cells"]) if "cells" in g else bytes([g.get("fill", 1)]) * (g["width"] * g["height"])
    return (u32(g.get("magic", 0xD8340F9C)) + u32(g.get("version", 1)) + u32(g["width"]) + u32(g["height"]) +
            floats(g.get("origin", [0, 0, 0, 1])) + f32(g.get("cell", 1.0)) + cells)


# --- sequences ------------------------------------------------------------------------
#
# A sequence block is the SequenceSystem's property list: "Sequences", an array of
# embedded object pointers (u32 count, per element byte 1 and the Sequence's list). Tracks
# and actions are polymorphic pointer arrays: u32 count, per element byte 1, the class
# name and a 0 byte, then the object's list. An object's list walks the classes of its
# chain sorted by class name (case-insensitive), each class's properties in order.

# Own properties of each action class: (name, writer, default).
ACTION_CLASSES = {
    "SequenceAction": (None, [("time", f32, 0.0), ("minimal_start", f32, 0.0), ("helper_time", f32, 0.0),
                              ("comment", name, ""), ("editor_flags", u32, 0)]),
    "SequenceActionSemaphore": ("SequenceAction", [("semaphore", name, "")]),
    "SequenceActionRaiseSemaphore": ("SequenceActionSemaphore", []),
    "SequenceActionClearSemaphore": ("SequenceActionSemaphore", []),
    "SequenceActionRaiseGlobalSemaphore": ("SequenceActionSemaphore", []),
    "SequenceActionClearGlobalSemaphore": ("SequenceActionSemaphore", []),
    "SequenceActionWaitForSemaphore": ("SequenceActionSemaphore", [("skippable", boolean, False)]),
    "SequenceActionWaitForGlobalSemaphore": ("SequenceActionSemaphore", [("skippable", boolean, False)]),
    "SequenceActionIncreaseGlobalCountingSemaphore": ("SequenceActionSemaphore", [("value", i32, 1)]),
    "SequenceActionWaitForGlobalCountingSemaphoreToReach": ("SequenceActionSemaphore",
                                                            [("value", i32, 1), ("skippable", boolean, False)]),
    "SequenceActionStartSequence": ("SequenceAction", [("sequence", name, ""), ("gameplay_time", boolean, False)]),
    "SequenceActionStopSequence": ("SequenceAction", [("sequence", name, "")]),
    "SequenceActionConditionalSequence": ("SequenceAction", [("if_yes", name, ""), ("if_no", name, ""),
                                                             ("gameplay_time", boolean, False)]),
    "SequenceActionCheckGlobalSemaphore": ("SequenceActionConditionalSequence", [("semaphore", name, "")]),
}
SCRIPT_PARAM_WRITERS = {"bool": boolean, "int": i32, "float": f32, "string": cstr}


def action(a):
    """{"class": built-in class name, fields by the names above}; a script class:
    {"class", "script": true, "params": [[name, type, value]] in declaration order}.
    "time" defaults to 0 for built-ins and 1 for script classes."""
    cls = a["class"]
    chain = {}
    if a.get("script"):
        chain[cls] = b"".join(SCRIPT_PARAM_WRITERS[t](v) for _, t, v in a.get("params", []))
        base = "SequenceAction"
    else:
        base = cls
    while base:
        parent, fields = ACTION_CLASSES[base]
        defaults = {"time": 1.0 if a.get("script") else 0.0}
        chain[base] = b"".join(w(a.get(k, defaults.get(k, d))) for k, w, d in fields)
        base = parent
    return cstr(cls) + b"".join(chain[c] for c in sorted(chain, key=str.lower))


def track(t):
    """{"name", "group", "in_group", "group_label", "actions": [action]}"""
    actions = t.get("actions", [])
    return (name(t.get("name", "")) + name(t.get("group", "")) + boolean(t.get("in_group", False)) +
            boolean(t.get("group_label", False)) + u32(len(actions)) + b"".join(b"\x01" + action(a) for a in actions))


def sequence(q):
    """{"name", "tracks": [track], "skippable", "editor_path", "disabled", "after_skip", "repeating"}"""
    tracks = q.get("tracks", [])
    return (name(q.get("name", "")) + u32(len(tracks)) + b"".join(b"\x01" + cstr("SequenceTrack") + track(t) for t in tracks) +
            boolean(q.get("skippable", False)) + name(q.get("editor_path", "")) + boolean(q.get("disabled", False)) +
            name(q.get("after_skip", "")) + boolean(q.get("repeating", False)))


def sequence_block(desc):
    """{"sequences": [sequence]} (written in the order given)"""
    sequences = desc.get("sequences", [])
    return u32(len(sequences)) + b"".join(b"\x01" + sequence(q) for q in sequences)


def trigger_template_props(shape=0, mode=0):
    """TriggerTemplate's own properties: "Trigger shape", "Trigger mode" (0 "Box", 1
    "Sphere"; 0 "Position inside", 1 "Whole entity inside", 2 "Just touch", 3 "Position
    with radius"), as hex for "class_props"."""
    return (u32(shape) + u32(mode)).hex()


def trigger_entity_props(active=True):
    """TriggerEntity's own property "Active", as hex for "class_props"."""
    return boolean(active).hex()


def binary_scene(desc):
    """{"root": {...}, "entities": [...], "sets": [...], "layers": [...], "grid": {...} or
    absent, "sequence": hex of the sequence property list, or a sequence block description,
    or absent}"""
    entities = desc.get("entities", [])
    sets = desc.get("sets", [])
    layers = desc.get("layers", [{"name": "Default", "guid": "11" * 16, "id": 1}])
    grid = desc.get("grid")
    sequence = desc.get("sequence")
    if isinstance(sequence, dict):
        sequence = sequence_block(sequence).hex()
    worlds = world_matrices(entities)
    return (u32(0) + scene_root(desc.get("root", {})) + u32(len(entities)) +
            b"".join(scene_entity(e, worlds[id(e)]) for e in entities) + u32(len(sets)) + b"".join(entity_set(st) for st in sets) +
            u32(0) + layer_system(layers) + (u8(1) + scene_grid(grid) if grid else u8(0)) +
            (u32(1) + bytes.fromhex(sequence) if sequence is not None else u32(0)))


# --- envelopes ----------------------------------------------------------------------
# {"kind": "vector" | "color", "interpolation": u32, "enabled": bool, "key_times": [u32],
#  "key_flags": [u8], "loops": [[start, end, name]], "constant": value, "keys": [value]}
# A vector value is four floats, a colour value [r, g, b, a, intensity]. The walk visits
# "Envelope" before the typed class ("TEnvelopeVector" or "TEnvelopeHDRColor").

def envelope_value(kind, v):
    if kind == "vector":
        return b"".join(f32(x) for x in v)
    return bytes(v[:4]) + f32(v[4])


def envelope(desc):
    kind = desc.get("kind", "vector")
    base = (u32(desc.get("interpolation", 1)) + boolean(desc.get("enabled", True)) +
            array([u32(t) for t in desc.get("key_times", [])]) + array([u8(f) for f in desc.get("key_flags", [])]) +
            array([u32(start) + u32(end) + name(loop_name) for start, end, loop_name in desc.get("loops", [])]))
    zero = [0, 0, 0, 0] if kind == "vector" else [0, 0, 0, 0, 1.0]
    return (base + envelope_value(kind, desc.get("constant", zero)) +
            array([envelope_value(kind, k) for k in desc.get("keys", [])]))


# --- particle-system definitions --------------------------------------------------------
# Every property with its default, in registration order (groups and separators write
# nothing). The JSON overrides values by property name; colours are [r, g, b, a, intensity],
# vectors four floats, "Mesh template" a GUID text (empty: the null GUID).

WHITE_CLEAR = [255, 255, 255, 0, 1.0]
WHITE = [255, 255, 255, 255, 1.0]
PARTICLE_SYSTEM_PROPERTIES = [
    ("Local space", "bool", False), ("Life time", "f32", 1.0), ("Life time variable", "f32", 0.0),
    ("Spawn rate", "f32", 10.0), ("Emitter size", "vector", [0, 0, 0, 0]),
    ("Initial velocity", "vector", [0, 1, 0, 0]), ("Initial velocity var", "vector", [0.1, 0.1, 0.1, 0]),
    ("Global gravity", "vector", [0, 0, 0, 0]), ("Local gravity", "vector", [0, 0, 0, 0]),
    ("Velocity damping", "f32", 1.0),
    ("Circle velocity enabled", "bool", False), ("Circle velocity yaw range", "f32", 180.0),
    ("Circle velocity pitch range", "f32", 90.0), ("Circle velocity const", "f32", 1.0),
    ("Circle velocity var", "f32", 0.2),
    ("Face camera mode", "u32", 3), ("Anchor", "vector", [0.5, 0.5, 0, 0]), ("Shape", "vector", [1, 1, 0, 0]),
    ("Random rotation at start", "bool", False), ("Rotation speed", "f32", 0.0), ("Rotation speed var", "f32", 0.0),
    ("Secondary rotation speed", "f32", 0.0), ("Secondary rotation speed var", "f32", 0.0),
    ("Texture file name", "name", "SFX/glow.dds"), ("Texture frames X", "u32", 1), ("Texture frames Y", "u32", 1),
    ("Animation mode", "u32", 2), ("Desaturation factor", "f32", 0.0),
    ("Mesh template", "guid", ""), ("Shader preset", "name", ""),
    ("Blending mode", "u32", 3), ("Alpha test mode", "u32", 1), ("Sort mode", "u32", 0),
    ("Alpha reference value", "f32", 0.01), ("Z buffer write", "bool", False), ("Softness", "bool", False),
    ("Node 0 size", "f32", 0.0), ("Node 0 color", "color", WHITE_CLEAR),
    ("Node 1 time", "f32", 0.1), ("Node 1 size", "f32", 0.1), ("Node 1 color", "color", WHITE),
    ("Node 2 time", "f32", 0.9), ("Node 2 size", "f32", 0.1), ("Node 2 color", "color", WHITE),
    ("Node 3 size", "f32", 0.1), ("Node 3 color", "color", WHITE_CLEAR),
    ("High precision mode", "bool", False),
]


def particle_system(desc):
    writers = {"bool": boolean, "f32": f32, "u32": u32, "name": name,
               "vector": lambda v: b"".join(f32(x) for x in v),
               "color": lambda v: bytes(v[:4]) + f32(v[4]),
               "guid": lambda v: guid(v) if v else bytes(16)}
    unknown = set(desc) - {p[0] for p in PARTICLE_SYSTEM_PROPERTIES}
    if unknown:
        raise ValueError("unknown properties: %s" % sorted(unknown))
    return b"".join(writers[kind](desc.get(prop, default)) for prop, kind, default in PARTICLE_SYSTEM_PROPERTIES)


def particle_template_props(offscreen=True, definition=None):
    """ParticleTemplate's own properties ("Offscreen processing enabled", then the embedded
    "Particle system definition" by its walk), as hex for "class_props"."""
    return (boolean(offscreen) + particle_system(definition or {})).hex()


def particle_entity_props(spawn_in_editor=True, spawn_in_game=True, display_real_box=False):
    """ParticleEntity's own properties ("Spawn in editor", "Spawn in game", "Display real
    bounding box"), as hex for "class_props"."""
    return (boolean(spawn_in_editor) + boolean(spawn_in_game) + boolean(display_real_box)).hex()


# --- scene-parameter templates -----------------------------------------------------------
# SceneParametersTemplate's own properties with their defaults, in registration order
# (groups and separators write nothing; the walk writes EntityTemplate's first). The three
# curves are embedded envelopes: a JSON value is an envelope description as above.

CLEAR = [0, 0, 0, 0, 1.0]
TONE_CURVE = {"kind": "vector", "key_times": [0, 1024, 4096], "key_flags": [0, 0, 0],
              "constant": [0, 0, 0, 0], "keys": [[0, 0, 0, 0], [1, 1, 1, 1], [1, 1, 1, 1]]}
LOOKUP_CURVE = {"kind": "color", "key_times": [0, 1024], "key_flags": [0, 0], "constant": WHITE,
                "keys": [[0, 0, 0, 0, 1.0], [255, 255, 255, 0, 1.0]]}
RGB_SHIFT_CURVE = {"kind": "vector", "key_times": [0, 10240], "key_flags": [0, 0], "constant": [0, 0, 0, 0],
                   "keys": [[0, 0, 0, 0], [0, 0, 0, 0]]}
SCENE_PARAMETERS_PROPERTIES = [
    ("Attack time", "f32", 1.0),
    ("Affects sun", "bool", False), ("Light yaw", "f32", 0.0), ("Light pitch", "f32", 45.0),
    ("Color", "color", WHITE), ("Two sided mode", "u32", 0), ("Wrap around factor", "f32", 0.0),
    ("Secondary color", "color", [63, 63, 63, 0, 1.0]), ("Side color", "color", CLEAR),
    ("Shadow strength", "f32", 0.5), ("Fake shadow strength", "f32", 0.8),
    ("Separate specular params", "bool", False), ("Specular yaw", "f32", 0.0), ("Specular pitch", "f32", 45.0),
    ("Specular color", "color", WHITE), ("Specular multiplier", "f32", 1.0),
    ("Affects texture and color", "bool", False), ("Cloud texture file name", "name", ""),
    ("Cloud color", "color", WHITE),
    ("Affects projection", "bool", False), ("Cloud projection yaw", "f32", 0.0),
    ("Cloud projection pitch", "f32", 60.0), ("Cloud projection scale", "f32", 10.0),
    ("Cloud projection rotation", "f32", 0.0), ("Cloud drift", "vector", [0, 0, 0, 0]),
    ("Affects layer texture", "bool", False), ("Texture file name", "name", ""),
    ("Layer cloud color", "color", WHITE), ("Affects layer projection", "bool", False),
    ("Layer cloud heigh", "f32", 50.0), ("Layer projection scale", "f32", 10.0),
    ("Layer projection rotation", "f32", 0.0), ("Layer cloud drift", "vector", [0, 0, 0, 0]),
    ("Fog color", "color", WHITE), ("Fog start", "f32", 700.0), ("Fog end", "f32", 1500.0),
    ("Glow threshold", "f32", 0.8), ("Glow softness", "f32", 2.0), ("Glow color", "color", WHITE),
    ("Tone mapping curve", "envelope", TONE_CURVE), ("Exposition", "f32", 1.0), ("SRGB", "bool", True),
    ("Low spec mode color correction", "color", WHITE),
    ("Color lookup curve", "envelope", LOOKUP_CURVE), ("Exclude color 0", "color", CLEAR),
    ("Exclude color 1", "color", CLEAR), ("Exclude color 0 falloff start", "f32", 0.0),
    ("Exclude color 0 falloff end", "f32", 0.0), ("Exclude color 1 falloff start", "f32", 0.0),
    ("Exclude color 1 falloff end", "f32", 0.0),
    ("Top color", "color", CLEAR), ("Bottom color", "color", CLEAR),
    ("Vignette start", "f32", 0.0), ("Vignette end", "f32", 0.1), ("Vignette aspect", "f32", 0.8),
    ("Image local contrast", "f32", 1.0), ("Image local contrast variation", "f32", 0.9),
    ("Image contrast", "f32", 1.0), ("Image saturation", "f32", 1.0),
    ("Low spec contrast multiplier", "f32", 1.0), ("Low spec saturation multiplier", "f32", 1.0),
    ("Zoom blur strength", "f32", 0.0), ("Zoom blur source ratio", "f32", 0.0),
    ("Zoom blur blurred ratio", "f32", 1.0), ("Mac zoom blur source ratio multiplier", "f32", 1.5),
    ("Mac zoom blur blurred ratio multiplier", "f32", 0.8), ("No blur color correction", "color", WHITE),
    ("Sharpen strength", "f32", 0.0),
    ("RGB shift scale curve", "envelope", RGB_SHIFT_CURVE), ("RGB shift scale curve length (max=5)", "f32", 1.0),
    ("FXAA enabled", "bool", False), ("Subpix aliasing (0.5 - sharper, 1.0 - softer)", "f32", 0.75),
    ("Edge treshold", "f32", 0.125), ("Edge treshold min", "f32", 0.0625),
    ("Console subpix aliasing (0.33 - sharper, 0.5 - default)", "f32", 0.5),
    ("Console edge treshold", "f32", 0.125), ("Console edge treshold min", "f32", 0.05),
    ("SSAO intensity", "f32", 0.0), ("SSAO radius", "f32", 15.0), ("SSAO use normal maps", "bool", True),
    ("SSAO decrease with lighting", "f32", 0.0), ("SSAO color", "color", [0, 0, 0, 255, 1.0]),
    ("Battle mode desaturation", "f32", 0.0), ("Diffuse color multiplier", "color", WHITE),
    ("SFX color multiplier", "color", WHITE),
    ("iPad2 square contrast factor", "f32", 0.0), ("iPad2 brightness", "f32", 1.0),
    ("Fake diffuse normal scale", "f32", 0.5),
]


def scene_parameters(desc):
    writers = {"bool": boolean, "f32": f32, "u32": u32, "name": name,
               "vector": lambda v: b"".join(f32(x) for x in v),
               "color": lambda v: bytes(v[:4]) + f32(v[4]), "envelope": envelope}
    unknown = set(desc) - {p[0] for p in SCENE_PARAMETERS_PROPERTIES}
    if unknown:
        raise ValueError("unknown properties: %s" % sorted(unknown))
    return b"".join(writers[kind](desc.get(prop, default)) for prop, kind, default in SCENE_PARAMETERS_PROPERTIES)


# --- lights -------------------------------------------------------------------------------
# LightTemplate's one property and LightEntity's own, with their defaults, in registration
# order (after EntityTemplate's and Entity's in the walk; groups write nothing).

LIGHT_TEMPLATE_PROPERTIES = [("Light type", "u32", 0)]
LIGHT_ENTITY_PROPERTIES = [
    ("Color", "color", WHITE), ("Specualar multiplier", "f32", 1.0), ("Start falloff", "f32", 0.5),
    ("End falloff", "f32", 1.0), ("Spotlight width", "f32", 30.0), ("Spotlight softness", "f32", 0.5),
    ("Tube length", "f32", 2.0), ("Two sided mode", "u32", 0), ("Wrap around factor", "f32", 0.0),
    ("Secondary color", "color", [63, 63, 63, 63, 1.0]), ("Side color", "color", CLEAR),
    ("Mask texture file name", "name", ""), ("Mask texture rotation", "vector", [0, 0, 0, 0]),
    ("Mask texture scale", "vector", [1, 1, 1, 1]),
]


def property_table(table, desc):
    writers = {"bool": boolean, "f32": f32, "u32": u32, "name": name,
               "vector": lambda v: b"".join(f32(x) for x in v),
               "color": lambda v: bytes(v[:4]) + f32(v[4]), "envelope": envelope}
    unknown = set(desc) - {p[0] for p in table}
    if unknown:
        raise ValueError("unknown properties: %s" % sorted(unknown))
    return b"".join(writers[kind](desc.get(prop, default)) for prop, kind, default in table)


def light_template(desc):
    return property_table(LIGHT_TEMPLATE_PROPERTIES, desc)


def light_entity(desc):
    return property_table(LIGHT_ENTITY_PROPERTIES, desc)


# --- placed kinds ---------------------------------------------------------------------------
# The own properties of the compound, flag, graph, envelope and in-game UI kinds, in
# registration order. "CompoundTemplate", "ColorEnvelopeTemplate" and "CompoundEntity" sort
# before "EntityTemplate" / "Entity" in the walk, so their lists go first; the others after.

def matrix(m):
    return b"".join(f32(x) for row in m for x in row)


COMPOUND_DEFINITION = ('<Component Name="Test" Template="test/test" Position="0 0 0" Rotation="0 0 0" '
                       'Scale="1 1 1" />\n')


def compound_element(e):
    """{"name", "template", "matrix" (4 rows; default all zero), "preset", "children": [...]}"""
    return (name(e.get("name", "")) + name(e.get("template", "")) +
            matrix(e.get("matrix", [[0] * 4] * 4)) + name(e.get("preset", "")) +
            array([compound_element(c) for c in e.get("children", [])]))


def compound_template(desc):
    """{"definition", "elements": [...]}"""
    return cstr(desc.get("definition", COMPOUND_DEFINITION)) + array([compound_element(e) for e in desc.get("elements", [])])


def compound_entity(desc):
    """{"color": [r, g, b, a, intensity], "box": 8 floats, "lightmaps": [[u, v, s, t, id], ...]}"""
    return (bytes(desc.get("color", WHITE)[:4]) + f32(desc.get("color", WHITE)[4]) +
            b"".join(f32(x) for x in desc.get("box", [-1, -1, -1, 1, 1, 1, 1, 1])) +
            array([b"".join(f32(x) for x in l[:4]) + u32(l[4]) for l in desc.get("lightmaps", [])]))


def flag_template(desc):
    return f32(desc.get("Size", 1.0))


def flag_entity(desc):
    """{"connections": [{"destination": GUID text or None, "points": [[x, y, z, distance]],
    "length"}]}"""
    return array([(guid(c["destination"]) if c.get("destination") else bytes(16)) +
                  array([b"".join(f32(x) for x in p[:3]) + f32(p[3]) for p in c.get("points", [])]) +
                  f32(c.get("length", 0.0)) for c in desc.get("connections", [])])


GRAPH_TEMPLATE_PROPERTIES = [
    ("Node template", "name", "Graph/GraphNode"), ("Width", "f32", 1.0), ("Texture", "name", ""),
    ("Blend mode", "u32", 0), ("Mappnig size", "f32", 10.0), ("Cut off nasty ends", "bool", False),
]
INGAME_UI_TEMPLATE_PROPERTIES = [("Size", "vector", [100, 100, 100, 0])]


def graph_template(desc):
    return property_table(GRAPH_TEMPLATE_PROPERTIES, desc)


def graph_entity(desc):
    return b"".join(f32(x) for x in desc.get("box", [-1, -1, -1, 1, 1, 1, 1, 1]))


def ingame_ui_template(desc):
    return property_table(INGAME_UI_TEMPLATE_PROPERTIES, desc)


# --- effect templates -------------------------------------------------------------------
# {"template": EntityTemplate values as template_properties takes them, "own": SFXTemplate's
#  values by property name, "definition": {"Delete timeout", "Scale for all elements",
#  "elements": [{"class": "SFXQuadElementDefinition", ...values by property name}]}}
# The walk visits "EntityTemplate" before "SFXTemplate", then the definition's properties;
# each element writes "SFXElementDefinition"'s properties before its kind's. Envelope
# values are envelope descriptions (their constants default to the element's).

def vector_envelope(constant):
    return {"kind": "vector", "constant": constant}


SFX_TEMPLATE_PROPERTIES = [
    ("Activity timer", "u8", 0), ("Offscreen processing enabled", "bool", True),
    ("Activation at start delay", "f32", 0.0), ("Constant BoundingBox Update Enabled", "bool", False),
    ("Use FSE SFX Color Multiplier", "bool", True),
]
SFX_ELEMENT_PROPERTIES = [
    ("Position", "envelope", vector_envelope([0, 0, 0, 1])), ("Rotation", "envelope", vector_envelope([0, 0, 0, 0])),
    ("Scale", "envelope", vector_envelope([1, 1, 1, 0])), ("Pivot", "vector", [0, 0, 0, 0]),
    ("Color", "envelope", {"kind": "color", "constant": [255, 255, 255, 255, 1.0]}),
    ("Face camera mode", "u32", 0), ("Face camera offset", "f32", 0.0), ("Description", "cstr", ""),
    ("Scale with parent", "bool", True), ("Visible in combat view", "bool", True),
    ("Visible in tactical view", "bool", True), ("Visible in tactical extended", "u8", 2), ("Enabled", "bool", True),
    ("Expands bounding box", "bool", True), ("Use FSE SFX color mult", "bool", True),
]
SFX_LIGHT_TAIL = [("Mask texture", "name", ""), ("Draw light wireframe", "bool", False)]
SFX_KIND_PROPERTIES = {
    "SFXQuadElementDefinition": [
        ("Texture file name", "name", "SFX/glow.dds"), ("Texture frames X", "u32", 1), ("Texture frames Y", "u32", 1),
        ("Random frame timeout", "f32", 0.0), ("Frame animation curve", "envelope", vector_envelope([0, 0, 0, 0])),
        ("Blending mode", "u32", 3), ("Alpha test mode", "u32", 1), ("Alpha reference value", "f32", 0.01),
        ("Refraction power", "f32", 0.0), ("Refraction granularity", "f32", 1.0), ("Refraction level", "u32", 2),
        ("UV center", "vector", [0.5, 0.5, 0, 0]), ("Softness", "bool", False), ("2-sided", "bool", True),
        ("Depth read", "bool", True), ("Render as lens flare", "bool", False), ("Flare distance", "f32", 0.0)],
    "SFXParticleElementDefinition": [
        ("Particle template", "guid", ""), ("Spawn rate multiplier", "envelope", vector_envelope([1, 0, 0, 0]))],
    "SFXMeshElementDefinition": [
        ("Mesh template", "guid", ""), ("Shader preset", "name", ""), ("Animation", "name", ""),
        ("AnimationProgress", "envelope", vector_envelope([0, 0, 0, 0]))],
    "SFXPointLightElementDefinition": [("Range", "envelope", vector_envelope([0.5, 1.0, 0, 0]))] + SFX_LIGHT_TAIL,
    "SFXSpotLightElementDefinition": [("Range", "envelope", vector_envelope([0.5, 1.0, 0, 0])),
                                      ("Spot width", "f32", 30.0), ("Spot softness", "f32", 1.0)] + SFX_LIGHT_TAIL,
    "SFXSoundElementDefinition": [
        ("Sound entry name", "name", ""), ("Sound channel", "u32", 0),
        ("Sound start envelope", "envelope", vector_envelope([1, 0, 0, 0])),
        ("Volume", "envelope", vector_envelope([1, 0, 0, 0]))],
}


def sfx_table(table, desc):
    writers = {"bool": boolean, "f32": f32, "u32": u32, "u8": u8, "name": name, "cstr": cstr,
               "vector": lambda v: b"".join(f32(x) for x in v),
               "guid": lambda v: guid(v) if v else bytes(16)}
    unknown = set(desc) - {p[0] for p in table}
    if unknown:
        raise ValueError("unknown properties: %s" % sorted(unknown))
    out = b""
    for prop, kind, default in table:
        if kind == "envelope":
            d = dict(default)
            d.update(desc.get(prop, {}))
            out += envelope(d)
        else:
            out += writers[kind](desc.get(prop, default))
    return out


def sfx_element(e):
    e = dict(e)
    cls = e.pop("class")
    kind_table = SFX_KIND_PROPERTIES[cls]
    base = {k: v for k, v in e.items() if k in {p[0] for p in SFX_ELEMENT_PROPERTIES}}
    own = {k: v for k, v in e.items() if k not in base}
    return u8(1) + cstr(cls) + sfx_table(SFX_ELEMENT_PROPERTIES, base) + sfx_table(kind_table, own)


def sfx_definition(desc):
    return (array([sfx_element(e) for e in desc.get("elements", [])]) + f32(desc.get("Delete timeout", 1.0)) +
            b"".join(f32(x) for x in desc.get("Scale for all elements", [1, 1, 1, 1])))


def sfx_template_props(own=None, definition=None):
    """SFXTemplate's own properties, then its definition's, as hex for "class_props"."""
    return (sfx_table(SFX_TEMPLATE_PROPERTIES, own or {}) + sfx_definition(definition or {})).hex()


def sfx_entity_props(box=(-1, -1, -1, 1, 1, 1, 1, 1), display_real_box=False, start=True, delete_at_stop=True):
    """SFXEntity's own properties ("Local bounding box", "Display real bounding box",
    "StartAtGameInit", "DeleteAtStop"), as hex for "class_props"."""
    return (b"".join(f32(x) for x in box) + boolean(display_real_box) + boolean(start) +
            boolean(delete_at_stop)).hex()


def sfx_template(desc):
    template = {"color": [255, 0, 255, 255, 1.0]}  # the effect template's editor colour
    template.update(desc.get("template", {}))
    return (template_properties(template) + sfx_table(SFX_TEMPLATE_PROPERTIES, desc.get("own", {})) +
            sfx_definition(desc.get("definition", {})))


# --- the game's classes --------------------------------------------------------------
# Each game class with its base and its own properties in declaration order (name, kind,
# default); "group" entries are named separators and write nothing. Kinds: "bool" one
# byte, "u32" / "i32" / "f32" four bytes, "enum" a u32 index (the names listed), "cstr" an
# owned text (null writes one 0 byte), "name" a NameString. Every game class name starts
# with "ZKR", so in the walk the game classes of an object's chain come after every engine
# class, sorted by name case-insensitively, each with its own list.

DIFFICULTY_GROUP = [("Difficulty level", "group", None), ("VisibleInCasual", "bool", True),
                    ("VisibleInAdvanced", "bool", True), ("VisibleInHardcore", "bool", True)]
REACTIONS = ["ReactToHero", "ReactToUnits", "FirstUnit", "LastUnit", "AnyUnit", "MultipleActivation"]
REACTION_DEFAULTS = [False, False, True, False, False, False]

GAME_CLASSES = {
    "ZKRPlayerMarkerTemplate": ("CompoundTemplate", [("HeroTemplateName", "cstr", None), ("TeamIndex", "u32", 1)]),
    "ZKRPlayerMarkerEntity": ("CompoundEntity", [("PlayerIndex", "u32", 1), ("ActivateAtStart", "bool", True)]),
    "ZKRVersusPlayerMarkerTemplate": ("ZKRPlayerMarkerTemplate", []),
    "ZKRVersusPlayerMarkerEntity": ("ZKRPlayerMarkerEntity", [
        ("LocalizedName", "cstr", None), ("SquadSkill", "f32", 1200.0), ("TowersSkill", "f32", 1200.0),
        ("RankedSquadSkill", "f32", 1200.0), ("RankedTowersSkill", "f32", 1200.0), ("Grade", "i32", 1)]),
    "ZKRTowerMarkerTemplate": ("CompoundTemplate", [("TowerTemplateName", "cstr", None)]),
    "ZKRTowerMarkerEntity": ("CompoundEntity", [
        ("Active", "bool", True), ("InitialSpawnDelay", "f32", 0.0), ("RespawnTimeOverride", "f32", 0.0),
        ("NeededForVictory", "bool", False), ("HeroTargeted", "bool", True), ("Respawnable", "bool", True),
        ("Preset", "name", ""), ("EmergenceEffectType", "enum", ["Default", "Sand", "Concrete", "Water"])]
        + DIFFICULTY_GROUP),
    "ZKRPickupMarkerTemplate": ("CompoundTemplate", [("AbilityName", "cstr", None)]),
    "ZKRPickupMarkerEntity": ("CompoundEntity", [
        ("Active", "bool", True), ("InitialSpawnDelay", "f32", 0.0), ("RespawnTime", "f32", 0.0)] + DIFFICULTY_GROUP),
    "ZKRObstacleMarkerTemplate": ("CompoundTemplate", [("ObstacleTemplateName", "cstr", None)]),
    "ZKRObstacleMarkerEntity": ("CompoundEntity", [("ObstacleHP", "f32", 10.0)]),
    "ZKRTriggerTemplate": ("TriggerTemplate",
                           [("Default" + n, "bool", d) for n, d in zip(REACTIONS, REACTION_DEFAULTS)]),
    "ZKRTriggerEntity": ("TriggerEntity", [(n, "bool", d) for n, d in zip(REACTIONS, REACTION_DEFAULTS)]),
    "ZKRScriptTriggerTemplate": ("ZKRTriggerTemplate", []),
    "ZKRScriptTriggerEntity": ("ZKRTriggerEntity", [("ScriptName", "cstr", None),
                                                    ("ScriptActiveDuringPause", "bool", False)]),
    "ZKRProgressAreaTriggerTemplate": ("ZKRTriggerTemplate", []),
    "ZKRProgressAreaTriggerEntity": ("ZKRTriggerEntity", [("AreaIndex", "u32", 0)]),
    "ZKRiPhoneTriggerTemplate": ("ZKRTriggerTemplate", [("TriggerType", "u32", 0), ("ActivationMask", "u32", 4),
                                                        ("Param", "name", "")]),
    "ZKRiPhoneTriggerEntity": ("ZKRTriggerEntity", [("iPhoneMode", "enum", ["Anything", "First unit"])]),
    "ZKRiPhoneChatBoxTriggerEntity": ("ZKRiPhoneTriggerEntity", [
        ("DisplayText", "name", ""), ("ShouldStopGamePlay", "bool", False), ("EndOnTouch", "bool", False),
        ("DisplayTime", "f32", 1.0)]),
    "ZKRiPhoneDialogTriggerEntity": ("ZKRiPhoneTriggerEntity", [("Lang_Path", "name", "")]),
    "ZKRiPhoneDamageAreaEntity": ("ZKRiPhoneTriggerEntity", [("Damage Per Second", "f32", 50.0)]),
    "ZKRiPhoneBurnAreaEntity": ("ZKRiPhoneDamageAreaEntity", [("Burn time after leave", "f32", 0.0),
                                                             ("Burn damage per second", "f32", 0.0)]),
    "ZKRSquadScriptTriggerTemplate": ("TriggerTemplate", []),
    "ZKRSquadScriptTriggerEntity": ("TriggerEntity", [
        ("OnEnterScript", "cstr", None), ("OnExitScript", "cstr", None), ("MultipleActivation", "bool", False),
        ("ScriptActiveDuringPause", "bool", False)]),
    "ZKRSquadZDirTriggerTemplate": ("TriggerTemplate", []),
    "ZKRSquadZDirTriggerEntity": ("TriggerEntity", [("ZDirPositive", "cstr", None), ("ZDirNegative", "cstr", None),
                                                    ("MultipleActivation", "bool", False)]),
    "ZKRCheckpointTemplate": ("TriggerTemplate", []),
    "ZKRCheckpointEntity": ("TriggerEntity", [("TowerAwarenessType", "enum",
                                               ["Standard", "IgnoreHackers", "IgnoreTowers"])]),
    "ZKRDamageSurfaceTemplate": ("TriggerTemplate", [("DamagePerSec", "f32", 5.0), ("DamageType", "cstr", "Normal"),
                                                     ("EffectTemplate", "cstr", None)]),
    "ZKRDamageSurfaceEntity": ("TriggerEntity", [("DamagePerSec", "f32", -1.0), ("DamageType", "cstr", None),
                                                 ("StartAtInit", "bool", False)]),
    "ZKREffectTemplate": ("CompoundTemplate", []),
    "ZKREffectEntity": ("CompoundEntity", [("Started", "i32", 0)]),
    "ZKRUsableTemplate": ("CompoundTemplate", []),
    "ZKRUsableEntity": ("CompoundEntity", [("ActiveAtStart", "bool", True), ("OnUseSeqName", "cstr", None)]),
    "ZKRAmbientSoundTemplate": ("CompoundTemplate", [
        ("SoundEntryName", "name", ""), ("ActiveDuringGameplayPause", "bool", False),
        ("KeepVolumeDuringSpeech", "bool", False)]),
    "ZKRAmbientSoundEntity": ("CompoundEntity", [("ActiveAtStart", "bool", True)]),
    "ZKRTowerTemplate": ("CompoundTemplate", []),
    "ZKRGameEntity": ("CompoundEntity", []),
    "ZKRTowerEntity": ("ZKRGameEntity", []),
    "ZKRHelicopterPathFlagTemplate": ("FlagTemplate", []),
    "ZKRHelicopterPathFlagEntity": ("FlagEntity", [
        ("Speed", "f32", 40.0), ("WaitTime", "f32", 0.0), ("Pitch", "f32", 0.0),
        ("IgnorePathOrientation", "bool", False)]),
    "ZKRLevelParamsTemplate": ("EntityTemplate", []),
    "ZKRLevelParamsEntity": ("Entity", [
        ("Count_Resources", "u32", 250), ("Count_Repair", "u32", 1), ("Count_Decoy", "u32", 1),
        ("Count_Smoke", "u32", 1), ("Count_Cloak", "u32", 0), ("Count_Boost", "u32", 0),
        ("Count_Airstrike", "u32", 1), ("Count_EMP", "u32", 0), ("Count_Slowdown", "u32", 0),
        ("isAvailable_APC", "bool", False), ("isAvailable_Tank", "bool", False),
        ("isAvailable_Crawler", "bool", False), ("isAvailable_Shielder", "bool", False),
        ("TimeLimit", "f32", -1.0), ("isEndless", "bool", False), ("isUnitsSetBeforeStart", "bool", False),
        ("UnitsQue", "name", ""), ("BlockSell", "bool", False), ("DebugUnitsAttack", "bool", False),
        ("DebugTowersAttack", "bool", False), ("Sound track", "name", ""), ("isAvailable_Supply", "bool", False),
        ("isAvailable_Flamer", "bool", False), ("ETAMarkersVisible", "bool", False)]),
    "ZKRRemoteConnectorArrayTemplate": ("EntityTemplate", []),
    "ZKRRemoteConnectorArrayEntity": ("Entity", []),
}

# Property flags other than the enumeration's (128).
GAME_PROPERTY_FLAGS = {("ZKREffectEntity", "Started"): 2}
GAME_TYPE_IDS = {"bool": 19, "u32": 10, "enum": 10, "i32": 9, "f32": 8, "cstr": 12, "name": 21, "group": 0,
                 "color": 22}


def game_class_info(desc):
    """{"class": name}: one line per own property in declaration order: name, type id, flags
    and, for enumerations, the value names joined by "|", separated by tabs."""
    cls = desc["class"]
    lines = []
    for prop, kind, default in GAME_CLASSES[cls][1]:
        flags = 128 if kind == "enum" else GAME_PROPERTY_FLAGS.get((cls, prop), 0)
        extra = "|".join(default) if kind == "enum" else ""
        lines.append("%s\t%d\t%d\t%s\n" % (prop, GAME_TYPE_IDS[kind], flags, extra))
    return "".join(lines).encode()


# Defaults a class's constructor sets on an inherited property.
GAME_DEFAULT_OVERRIDES = {"ZKRProgressAreaTriggerEntity": {"ReactToUnits": True}}


# --- the route ribbon's classes --------------------------------------------------------
# The path renderer template's own properties (colours [r, g, b, a, intensity], "color" an
# HDRColor of 8 bytes); its texture names are file names in "Textures" (flag 2048) and its
# two blend modes default to "Alpha". The entity registers no properties of its own.
PATH_BLEND_MODES = ["None", "Alpha", "Add", "Add+Alpha", "Inv alpha", "Subtract", "Modulate", "Modulate inv", "Min"]
GAME_CLASSES.update({
    "ZKRPathRendererTemplate": ("EntityTemplate", [
        ("Smoothness", "f32", 3.2), ("Tactical mode", "group", None),
        ("Texture file name", "name", ""), ("Blend mode", "enum", PATH_BLEND_MODES), ("Width", "f32", 4.0),
        ("Level", "f32", 0.5), ("Depth offset", "f32", 0.0), ("Color", "color", [255, 255, 255, 255, 1.0]),
        ("Signal color", "color", [255, 255, 255, 255, 4.0]), ("Signal timeout", "f32", 4.0),
        ("Signal velocity", "f32", 200.0), ("Mapping scale", "f32", 1.0), ("Battlefield mode", "group", None),
        ("Battlefield texture file name", "name", ""), ("Battlefield Blend mode", "enum", PATH_BLEND_MODES),
        ("Battlefield width", "f32", 4.0), ("Battlefield level", "f32", 0.5),
        ("Battlefield depth offset", "f32", 0.0), ("Battlefield color", "color", [255, 255, 255, 255, 1.0]),
        ("Battlefield signal color", "color", [255, 255, 255, 255, 4.0]),
        ("Battlefield signal timeout", "f32", 4.0), ("Battlefield signal velocity", "f32", 200.0)]),
    "ZKRPathRendererEntity": ("Entity", []),
})
GAME_PROPERTY_FLAGS.update({("ZKRPathRendererTemplate", "Texture file name"): 2048,
                            ("ZKRPathRendererTemplate", "Battlefield texture file name"): 2048})
GAME_DEFAULT_OVERRIDES.update({"ZKRPathRendererTemplate": {"Blend mode": 1, "Battlefield Blend mode": 1}})

# The order in which start-up registers the game classes: mostly each template class and
# then its entity class; the level parameters' entity before its template, the five phone
# triggers' entities before theirs, the route ribbon's entity after the connector array's
# template.
GAME_REGISTRATION_ORDER = [
    "ZKRPlayerMarkerTemplate", "ZKRPlayerMarkerEntity", "ZKRVersusPlayerMarkerTemplate",
    "ZKRVersusPlayerMarkerEntity", "ZKRTowerMarkerTemplate", "ZKRTowerMarkerEntity", "ZKRPickupMarkerTemplate",
    "ZKRPickupMarkerEntity", "ZKRTriggerTemplate", "ZKRTriggerEntity", "ZKRScriptTriggerTemplate",
    "ZKRScriptTriggerEntity", "ZKRSquadScriptTriggerTemplate", "ZKRSquadScriptTriggerEntity",
    "ZKRSquadZDirTriggerTemplate", "ZKRSquadZDirTriggerEntity", "ZKREffectTemplate", "ZKREffectEntity",
    "ZKRDamageSurfaceTemplate", "ZKRDamageSurfaceEntity", "ZKRUsableTemplate", "ZKRUsableEntity", "ZKRGameEntity",
    "ZKRTowerTemplate", "ZKRTowerEntity", "ZKRObstacleMarkerTemplate", "ZKRObstacleMarkerEntity",
    "ZKRHelicopterPathFlagTemplate", "ZKRHelicopterPathFlagEntity", "ZKRAmbientSoundTemplate",
    "ZKRAmbientSoundEntity", "ZKRCheckpointTemplate", "ZKRCheckpointEntity", "ZKRProgressAreaTriggerTemplate",
    "ZKRProgressAreaTriggerEntity", "ZKRLevelParamsEntity", "ZKRLevelParamsTemplate",
    "ZKRiPhoneDialogTriggerEntity", "ZKRiPhoneTriggerEntity", "ZKRiPhoneChatBoxTriggerEntity",
    "ZKRiPhoneDamageAreaEntity", "ZKRiPhoneBurnAreaEntity", "ZKRiPhoneTriggerTemplate", "ZKRPathRendererTemplate",
    "ZKRRemoteConnectorArrayTemplate", "ZKRPathRendererEntity", "ZKRRemoteConnectorArrayEntity",
]


def game_class_order(desc):
    if sorted(GAME_REGISTRATION_ORDER) != sorted(GAME_CLASSES):
        raise ValueError("the registration order and the class list differ")
    return "".join(n + "\n" for n in GAME_REGISTRATION_ORDER).encode()


def game_default(kind, default):
    return 0 if kind == "enum" else default


def game_other(kind, prop, default):
    """A value other than the default, for round trips of every property."""
    if kind == "bool":
        return not default
    if kind in ("u32", "i32"):
        return default + 7
    if kind == "f32":
        return default + 2.5
    if kind == "enum":
        return len(default) - 1
    if kind == "color":
        return [(v + 7) % 256 for v in default[:4]] + [default[4] + 2.5]
    return "other/" + prop.replace(" ", "_")


def game_class(desc):
    """{"class": name, "values": {property: value}, "other": true for a value other than the
    default in every property not given}"""
    cls = desc["class"]
    chain = []
    while cls in GAME_CLASSES:
        chain.append(cls)
        cls = GAME_CLASSES[cls][0]
    if not chain:
        raise ValueError("not a game class: %s" % desc["class"])
    values = dict(desc.get("values", {}))
    known = {p for c in chain for p, kind, _ in GAME_CLASSES[c][1] if kind != "group"}
    if set(values) - known:
        raise ValueError("unknown properties: %s" % sorted(set(values) - known))
    writers = {"bool": boolean, "u32": u32, "enum": u32, "i32": i32, "f32": f32, "name": name,
               "cstr": lambda v: cstr(v or ""), "color": lambda v: bytes(v[:4]) + f32(v[4])}
    defaults = {}
    for c in reversed(chain):
        defaults.update(GAME_DEFAULT_OVERRIDES.get(c, {}))
    out = b""
    for c in sorted(chain, key=str.lower):
        for prop, kind, default in GAME_CLASSES[c][1]:
            if kind == "group":
                continue
            if prop in values:
                v = values[prop]
            elif desc.get("other"):
                v = game_other(kind, prop, default if kind == "enum" else defaults.get(prop, default))
            else:
                v = defaults.get(prop, game_default(kind, default))
            out += writers[kind](v)
    return out


# The game's template classes by their template type (the game's rows of the template-type
# table that have a class).
GAME_TEMPLATE_CLASSES = {
    256: "ZKRTowerMarkerTemplate", 257: "ZKRPickupMarkerTemplate", 258: "ZKRScriptTriggerTemplate",
    259: "ZKREffectTemplate", 260: "ZKRDamageSurfaceTemplate", 261: "ZKRPathRendererTemplate",
    262: "ZKRPlayerMarkerTemplate", 263: "ZKRUsableTemplate", 264: "ZKRObstacleMarkerTemplate",
    265: "ZKRHelicopterPathFlagTemplate", 266: "ZKRTriggerTemplate", 267: "ZKRAmbientSoundTemplate",
    268: "ZKRLevelParamsTemplate", 269: "ZKRiPhoneTriggerTemplate", 270: "ZKRCheckpointTemplate",
    271: "ZKRProgressAreaTriggerTemplate", 272: "ZKRTowerTemplate", 274: "ZKRRemoteConnectorArrayTemplate",
    275: "ZKRSquadZDirTriggerTemplate", 276: "ZKRSquadScriptTriggerTemplate", 277: "ZKRVersusPlayerMarkerTemplate",
}


# --- reading back ------------------------------------------------------------------------
# The inverse of the writers above, for checks of written data: the same tables read the
# same layouts. Each reader takes a ListReader and returns plain values.

class ListReader:
    def __init__(self, data, pos=0):
        self.data, self.pos = data, pos

    def take(self, n):
        if n < 0 or self.pos + n > len(self.data):
            raise ValueError("truncated at %d" % self.pos)
        b = self.data[self.pos:self.pos + n]
        self.pos += n
        return b

    def unpack(self, fmt):
        return struct.unpack(fmt, self.take(struct.calcsize(fmt)))

    def u8(self):
        return self.unpack("<B")[0]

    def u32(self):
        return self.unpack("<I")[0]

    def i32(self):
        return self.unpack("<i")[0]

    def f32(self):
        return self.unpack("<f")[0]

    def floats(self, n):
        return list(self.unpack("<%df" % n))

    def boolean(self):
        return self.u8() != 0

    def cstr(self):
        end = self.data.index(b"\x00", self.pos)
        text = self.data[self.pos:end].decode()
        self.pos = end + 1
        return text

    def name(self):
        return self.cstr() if self.u8() else ""

    def guid(self):
        raw = self.take(16)[::-1].hex().upper()
        return "%s-%s-%s-%s-%s" % (raw[0:8], raw[8:12], raw[12:16], raw[16:20], raw[20:32])

    def color(self):
        return list(self.take(4)) + [self.f32()]

    def left(self):
        return len(self.data) - self.pos


def read_template_info(data):
    """{"stubs": [{"file", "guid", "type"}], "root": folder}"""
    r = ListReader(data)
    stubs = []
    for _ in range(r.u32()):
        body = ListReader(r.take(r.u32()))
        stubs.append({"file": body.cstr(), "guid": body.guid(), "type": body.u32()})

    def folder():
        raw = r.take(r.u32())
        out = {"name": raw.rstrip(b"\x00").decode(), "guids": [r.guid() for _ in range(r.u32())]}
        out["folders"] = [folder() for _ in range(r.u32())]
        return out
    return {"stubs": stubs, "root": folder()}


def read_template_properties(r):
    """EntityTemplate's list, by the keys template_properties takes."""
    return {"lua_class": r.cstr(), "passes": r.u32(), "activates_triggers": r.boolean(), "face_camera_mode": r.u32(),
            "face_camera_offset": r.f32(), "color": r.color(), "box": r.floats(8), "sort_offset": r.f32(),
            "quality": r.u8(), "combat": r.boolean(), "tactical": r.boolean(), "tactical_extended": r.u8()}


def read_compound_element(r):
    return {"name": r.name(), "template": r.name(), "matrix": [r.floats(4) for _ in range(4)], "preset": r.name(),
            "children": [read_compound_element(r) for _ in range(r.u32())]}


def read_compound_template(r):
    return {"definition": r.cstr(), "elements": [read_compound_element(r) for _ in range(r.u32())]}


def read_compound_entity(r):
    return {"color": r.color(), "box": r.floats(8),
            "lightmaps": [r.floats(4) + [r.u32()] for _ in range(r.u32())]}


GAME_READERS = {"bool": ListReader.boolean, "u32": ListReader.u32, "enum": ListReader.u32, "i32": ListReader.i32,
                "f32": ListReader.f32, "name": ListReader.name, "cstr": ListReader.cstr, "color": ListReader.color}


def read_game_class(r, cls):
    """The game classes' part of an object's list (what game_class writes), by property name."""
    chain = []
    while cls in GAME_CLASSES:
        chain.append(cls)
        cls = GAME_CLASSES[cls][0]
    out = {}
    for c in sorted(chain, key=str.lower):
        for prop, kind, _ in GAME_CLASSES[c][1]:
            if kind != "group":
                out[prop] = GAME_READERS[kind](r)
    return out


def read_flag_entity(r):
    """FlagEntity's list: its connections, each {"destination", "points", "length"}."""
    return [{"destination": r.guid(), "points": [r.floats(4) for _ in range(r.u32())], "length": r.f32()}
            for _ in range(r.u32())]


def read_resource_list(data):
    """[(kind, name, parameter, flags)] of a resource list blob."""
    r = ListReader(data)
    body = ListReader(r.take(r.u32()))
    return [(kind, body.name(), body.u32(), body.u32()) for kind in LIST_KINDS for _ in range(body.u32())]


def read_binary_template(data):
    """{"guid", "type", "props": the property list's bytes, "extra": what follows it}"""
    r = ListReader(data)
    out = {"guid": r.guid(), "type": r.u32()}
    out["props"] = r.take(r.u32())
    out["extra"] = data[r.pos:]
    return out


def read_entity_properties(r):
    """Entity's list: flags, name, GUID, parent GUID and the local placement."""
    out = {"flags": r.u32(), "name": r.name(), "guid": r.guid(), "parent": r.guid()}
    r.take(1 + 4 + 1 + 64)
    out["pos"], out["rot"], out["scale"] = r.floats(4)[:3], r.floats(4), r.floats(4)[:3]
    r.take(48 + 4 + 4 + 1)
    r.name()
    r.take(64 + 48 + 2)
    return out


def read_binary_scene(data):
    """{"root": {"active"}, "entities": [{"template", "props": bytes}], "grid": {...} or None}"""
    r = ListReader(data)
    r.u32()
    root = {"active": r.guid()}
    r.take(1 + 1 + 4)
    r.name()
    r.take(4 + 48)
    entities = []
    for _ in range(r.u32()):
        template = r.guid()
        entities.append({"template": template, "props": r.take(r.u32())})
    for _ in range(r.u32()):
        r.take(r.u32())
    r.u32()
    r.cstr()
    r.take(4 + 4 + 1 + 1)
    r.u32()
    for _ in range(r.u32()):
        r.take(1)
        r.cstr()
        r.take(16 + 6 + 4 + 4 + 1 + 4 + 4 + 2)
    r.u8()
    grid = None
    if r.u8():
        r.take(8)
        width, height = r.u32(), r.u32()
        grid = {"width": width, "height": height, "origin": r.floats(4), "cell": r.f32(),
                "cells": r.take(width * height)}
    return {"root": root, "entities": entities, "grid": grid}


TEMPLATE_WRITERS = {"templateinfo": template_info, "binarytemplate": binary_template, "opt": optimized,
                    "scene": binary_scene, "envelope": envelope,
                    "particlesystem": particle_system, "sequence": sequence_block,
                    "sceneparameters": scene_parameters, "lighttemplate": light_template,
                    "lightentity": light_entity, "compoundtemplate": compound_template,
                    "compoundentity": compound_entity, "flagtemplate": flag_template, "flagentity": flag_entity,
                    "graphtemplate": graph_template, "graphentity": graph_entity,
                    "ingameuitemplate": ingame_ui_template, "sfxtemplate": sfx_template,
                    "gameclass": game_class, "gameclassinfo": game_class_info,
                    "gameclassorder": game_class_order}


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
