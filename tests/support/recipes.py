#!/usr/bin/env python3
"""Independent writer of UI recipes, presets and UI recipe templates, for tests and the
sample data. Built on proplist.py from the documented tables, not from the engine's code.

A recipe's property list is the lists of its class and its base classes, walked in the
order of their class names (case-insensitively), each in registration order. Arrays of
polymorphic objects ("Presets", "Children") are u32 count, then per element byte 1, the
class name and a 0 byte, and the element's own property list. A UI recipe template's
property list is the EntityTemplate list, then its own four properties, then one byte
(1 when it has a recipe) and the root recipe's list (read back as a UIScreenRecipe).

JSON forms:
  recipe    {"class": "UIPictureRecipe", "<property name>": value, ...,
             "Presets": [preset], "Children": [recipe]}   (class defaults to UIElementRecipe)
  preset    {"<property name>": value, ...}
  template  {"guid": text, "recipe": recipe or null, "props": {EntityTemplate fields as in
             proplist.py}, "own": {"HierarchyViewLoc": [4], ...}}
Values: u32/int/float numbers, bools, names as text, vectors as four numbers, colours as
[r, g, b, a, intensity].

Commands:
  recipes.py recipe <out> <json>            one recipe's property list
  recipes.py preset <out> <json>            one preset's property list
  recipes.py templatelist <out> <json>      a UI recipe template's property list
  recipes.py binarytemplate <out> <json>    a UI recipe template's ".BinaryTemplate"
  recipes.py decode <in>                    a ".BinaryTemplate" of a UI recipe template, as JSON
"""
import json
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import proplist  # noqa: E402

UI_RECIPE_TYPE = 10
WHITE = [255, 255, 255, 255, 1.0]

# (name, kind, default); kind "group" writes nothing.
ELEMENT = [
    ("Disabled", "u32", 0), ("FreezedLayout", "bool", False), ("Hidden", "bool", False), ("Name", "name", ""),
    ("Prefab", "name", ""), ("Position", "vector", [0, 0, 0, 1]), ("Size", "vector", [64, 64, 0, 0]),
    ("Selection frame", "vector", [0, 0, 0, 0]), ("Scale", "vector", [1, 1, 1, 0]), ("Color", "color", WHITE),
    ("Color mode", "u32", 1), ("Blend mode", "u32", 1), ("Anchor", "vector", [0, 0, 0, 0]), ("Anchor by", "u32", 1),
    ("Rotation", "vector", [0, 0, 0, 0]), ("Aspect awareness", "u32", 0), ("Aspect scaling", "u32", 0),
    ("Outline", "u32", 0), ("Presets", "presets", []), ("Children", "children", []), ("Flags", "group", None),
    ("Transparent", "bool", False), ("Hierarchical anchor", "bool", True), ("Focusable with mouse", "bool", False),
    ("Clip children", "bool", False),
]
PRESET = [
    ("Id", "name", ""), ("Hidden", "bool", False), ("Position", "vector", [0, 0, 0, 1]),
    ("Size", "vector", [64, 64, 0, 0]), ("Scale", "vector", [1, 1, 1, 0]), ("Rotation", "vector", [0, 0, 0, 0]),
    ("Color", "color", WHITE), ("ActiveProperties", "names", []),
]
PICTURE = [
    ("Texture", "name", ""), ("Texture 2", "name", ""), ("Clamp U", "bool", True), ("Clamp V", "bool", True),
    ("Shader", "name", "iPhoneUI"), ("Tile index X", "u32", 0), ("Tile index Y", "u32", 0),
    ("Tile count X", "u32", 1), ("Tile count Y", "u32", 1), ("Mapping scale X", "float", 1.0),
    ("Mapping scale Y", "float", 1.0), ("Mapping offset X", "float", 0.0), ("Mapping offset Y", "float", 0.0),
    ("Render gathering channel", "int", 0), ("CornerColor0", "color", WHITE), ("CornerColor1", "color", WHITE),
    ("CornerColor2", "color", WHITE), ("CornerColor3", "color", WHITE),
]
TEXT = [
    ("Font", "name", ""), ("Font size", "u32", 10), ("Text", "name", ""), ("Upper case", "bool", False),
    ("Localized", "bool", False), ("Do not replace", "bool", False), ("Horizontal alignment", "u32", 0),
    ("Vertical alignment", "u32", 0), ("Pixel perfect", "u8", 1), ("Bottom color", "color", [255, 255, 255, 0, 1.0]),
    ("Outline width", "u32", 0), ("Outline color", "color", [255, 0, 255, 255, 1.0]),
    ("Shadow position", "vector", [0, 0, 0, 0]), ("Shadow color", "color", [0, 0, 0, 255, 1.0]),
    ("Wrap text", "bool", False), ("Debug box", "bool", False), ("Character spacing", "int", 0),
    ("Char spacing lo-res offset", "int", 0), ("Line spacing", "float", 1.0),
]
TEMPLATE_OWN = [
    ("HierarchyViewLoc", "vector", [0, 0, 0, 0]), ("LayoutViewLoc", "vector", [0, 0, 0, 0]),
    ("LayoutElementSnapValue", "int", 0), ("LayoutMarginSnapValue", "int", 0),
]

# class: (base, own properties, overridden defaults of the inherited ones)
CLASSES = {
    "UIElementRecipe": (None, ELEMENT, {}),
    "UIPictureRecipe": ("UIElementRecipe", PICTURE, {}),
    "UIButtonRecipe": ("UIPictureRecipe", [("Scale on click", "float", 1.0), ("Scale time", "float", 0.2),
                                           ("Is active", "bool", True)],
                       {"Focusable with mouse": True, "Anchor by": 0}),
    "UIRadioButtonContainerRecipe": ("UIElementRecipe", [], {}),
    "UITabbedContainerRecipe": ("UIRadioButtonContainerRecipe", [], {}),
    "UIListRecipe": ("UIElementRecipe", [], {"Focusable with mouse": True, "Clip children": True}),
    "UIRoundListRecipe": ("UIListRecipe", [("Range from", "int", 0), ("Range to", "int", 10)], {}),
    "UITextRecipe": ("UIElementRecipe", TEXT, {}),
    "UIUniTextInputRecipe": ("UITextRecipe", [("Max input length", "u32", 32)], {"Clip children": True}),
    "UIRoundedRectRecipe": ("UIElementRecipe", [("Corner texture", "name", "iPhone/UI/Round_Edge_01$cxy.dds"),
                                                ("Corner radius", "float", 15.0)], {}),
    "UITemplateViewRecipe": ("UIElementRecipe", [("Template name", "name", ""), ("Shader preset", "name", ""),
                                                 ("Start immediately", "bool", True),
                                                 ("Ortho projection", "bool", False)], {}),
    "UIScreenRecipe": ("UIElementRecipe", [], {"Size": [500, 500, 0, 0]}),
    "UIClipboardRecipe": ("UIElementRecipe", [], {}),
}


def chain(cls):
    """The class and its bases in the stored order."""
    out = []
    while cls:
        out.append(cls)
        cls = CLASSES[cls][0]
    return sorted(out, key=str.lower)


def defaults(cls):
    d = {}
    c = cls
    lineage = []
    while c:
        lineage.append(c)
        c = CLASSES[c][0]
    for c in reversed(lineage):
        for prop, _, default in CLASSES[c][1]:
            d[prop] = default
    for c in reversed(lineage):
        d.update(CLASSES[c][2])
    return d


def vector(v):
    assert len(v) == 4
    return b"".join(proplist.f32(x) for x in v)


def color(v):
    return bytes(v[:4]) + proplist.f32(v[4])


WRITERS = {
    "u32": proplist.u32, "int": proplist.i32, "u8": proplist.u8, "bool": proplist.boolean, "float": proplist.f32,
    "name": proplist.name, "vector": vector, "color": color,
    "names": lambda v: proplist.u32(len(v)) + b"".join(proplist.name(n) for n in v),
    "presets": lambda v: proplist.u32(len(v)) + b"".join(b"\x01" + proplist.cstr("UIElementPreset") + preset(p)
                                                         for p in v),
    "children": lambda v: proplist.u32(len(v)) + b"".join(b"\x01" + proplist.cstr(c.get("class", "UIElementRecipe")) +
                                                          recipe(c) for c in v),
}


def table(props, values):
    out = b""
    for prop, kind, _ in props:
        if kind != "group":
            out += WRITERS[kind](values[prop])
    return out


def preset(desc):
    unknown = set(desc) - {p[0] for p in PRESET}
    if unknown:
        raise ValueError("unknown preset properties: %s" % sorted(unknown))
    values = {p: d for p, _, d in PRESET}
    values.update(desc)
    return table(PRESET, values)


def recipe(desc, as_class=None):
    """A recipe's property list; as_class writes it as that class (the template's root)."""
    cls = as_class or desc.get("class", "UIElementRecipe")
    values = defaults(cls)
    given = {k: v for k, v in desc.items() if k != "class"}
    unknown = set(given) - set(values)
    if unknown:
        raise ValueError("unknown properties of %s: %s" % (cls, sorted(unknown)))
    values.update(given)
    return b"".join(table(CLASSES[c][1], values) for c in chain(cls))


def template_list(desc):
    own = {p: d for p, _, d in TEMPLATE_OWN}
    own.update(desc.get("own", {}))
    out = proplist.template_properties(desc.get("props", {})) + table(TEMPLATE_OWN, own)
    r = desc.get("recipe")
    if r is None:
        return out + b"\x00"
    return out + b"\x01" + recipe(r, "UIScreenRecipe")


def binary_template(desc):
    return proplist.guid(desc["guid"]) + proplist.u32(UI_RECIPE_TYPE) + proplist.solid_blob(template_list(desc))


# --- decoding (checks of written data) --------------------------------------------------

class Reader:
    def __init__(self, data):
        self.data, self.pos = data, 0

    def take(self, n):
        if self.pos + n > len(self.data):
            raise ValueError("truncated at %d" % self.pos)
        b = self.data[self.pos:self.pos + n]
        self.pos += n
        return b

    def unpack(self, fmt):
        return struct.unpack(fmt, self.take(struct.calcsize(fmt)))[0]

    def cstr(self):
        end = self.data.index(b"\x00", self.pos)
        s = self.data[self.pos:end].decode()
        self.pos = end + 1
        return s

    def name(self):
        return self.cstr() if self.unpack("<B") else ""


READERS = {
    "u32": lambda r: r.unpack("<I"), "int": lambda r: r.unpack("<i"), "u8": lambda r: r.unpack("<B"),
    "bool": lambda r: bool(r.unpack("<B")), "float": lambda r: r.unpack("<f"), "name": Reader.name,
    "vector": lambda r: [r.unpack("<f") for _ in range(4)],
    "color": lambda r: list(r.take(4)) + [r.unpack("<f")],
    "names": lambda r: [r.name() for _ in range(r.unpack("<I"))],
}


def read_table(r, props, out):
    for prop, kind, _ in props:
        if kind == "group":
            continue
        if kind in ("presets", "children"):
            items = []
            for _ in range(r.unpack("<I")):
                if not r.unpack("<B"):
                    items.append(None)
                    continue
                cls = r.cstr()
                items.append(read_preset(r) if kind == "presets" else read_recipe(r, cls))
            out[prop] = items
        else:
            out[prop] = READERS[kind](r)


def read_preset(r):
    out = {}
    read_table(r, PRESET, out)
    return out


def read_recipe(r, cls):
    out = {"class": cls}
    for c in chain(cls):
        read_table(r, CLASSES[c][1], out)
    return out


def decode_template(data):
    """The recipe and own values of a UI recipe ".BinaryTemplate"."""
    r = Reader(data)
    r.take(16)
    kind = r.unpack("<I")
    size = r.unpack("<I")
    body = Reader(r.take(size))
    body.cstr()  # "Lua class", then the rest of the EntityTemplate list
    body.take(len(proplist.template_properties({})) - 1)
    own = {}
    read_table(body, TEMPLATE_OWN, own)
    present = body.unpack("<B")
    out = {"type": kind, "own": own, "recipe": read_recipe(body, "UIScreenRecipe") if present else None}
    if body.pos != len(body.data):
        raise ValueError("%d bytes left over" % (len(body.data) - body.pos))
    return out


COMMANDS = {"recipe": recipe, "preset": preset, "templatelist": template_list, "binarytemplate": binary_template}


def main(argv):
    if len(argv) == 4 and argv[1] in COMMANDS:
        with open(argv[2], "wb") as f:
            f.write(COMMANDS[argv[1]](json.loads(argv[3])))
        return 0
    if len(argv) == 3 and argv[1] == "decode":
        with open(argv[2], "rb") as f:
            print(json.dumps(decode_template(f.read())))
        return 0
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
