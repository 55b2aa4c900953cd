#!/usr/bin/env python3
"""Writes the templates and the scene of the sample data.

  sample_scene.py <Shaders.def> <textures folder> <templates out> <scenes out>

templates: "TemplateInfo.Bin" (the catalogue: every sample template in the folder
"Sample") and one binary template per template, "Sample/<Name>.BinaryTemplate".
scenes: "Sample.BinaryScene" (the scene root, a few hundred entities of the sample
templates laid out on a grid, a trigger in the middle, particle entities beside the first
crates, a walk grid that is walkable
everywhere but under the rocks, and one sequence of semaphores and a wait that nothing
starts) and "Sample.ResList" (the system textures found in the textures folder and
the shader variants of the scene's shadowed lights, named from the shader description
as a device with hardware depth names them).

The files are written with the property-list writer of the tests (proplist.py), which
follows the file formats independently of the engine's code.
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "support"))
import mesh_block  # noqa: E402
import proplist  # noqa: E402

FOLDER = "Sample"
# name, GUID, bounding box (min x, y, z, w, max x, y, z, w), colour (r, g, b, a, intensity)
# or None: the coloured ones are mesh templates (type 1) whose mesh is a box filling the
# bounding box, textured white and drawn in the template's colour; the others plain
# entity templates.
TEMPLATES = [
    ("Crate", "6F1B2C40-0000-4000-8000-000000000001", [-1, 0, -1, 1, 1, 2, 1, 1], [150, 100, 50, 255, 1.0]),
    ("Tree", "6F1B2C40-0000-4000-8000-000000000002", [-1.5, 0, -1.5, 1, 1.5, 8, 1.5, 1], [40, 140, 40, 255, 1.0]),
    ("Rock", "6F1B2C40-0000-4000-8000-000000000003", [-2, 0, -2, 1, 2, 1.5, 2, 1], [120, 120, 120, 255, 1.0]),
    ("Marker", "6F1B2C40-0000-4000-8000-000000000004", [-0.5, 0, -0.5, 1, 0.5, 1, 0.5, 1], None),
]
MESH_TYPE = 1
WHITE_TEXTURE = "System/White_4x4$cxy.dds"
# The part: forward, takes the entity's colour (flag bit 11), white-textured.
MESH_PARTS = [{"count": 12, "flags": 0x800, "textures": [{"name": WHITE_TEXTURE, "sampler": 0, "flags": 0}]}]
# The variants the mesh part resolves: forward and instancing.
MESH_SHADERS = [("MeshSolid", "HARDWARE_DEPTH"), ("MeshSolid", "INSTANCING HARDWARE_DEPTH")]
ROCK = 2
# The trigger template (type 4): a box volume that notices positions inside it.
TRIGGER = ("Trigger", "6F1B2C40-0000-4000-8000-000000000005", [-1, -1, -1, 1, 1, 1, 1, 1])
TRIGGER_TYPE = 4
# Placed where no rock is (between the grid's rows and columns), 6 units across.
TRIGGER_ENTITY = {"name": "Trigger_001", "guid": "7A5C0000-0000-4000-8000-00000000FF01", "pos": [0.0, 0.0, 0.0],
                  "scale": [6.0, 2.0, 6.0]}
# One sequence of built-in actions: local and global semaphores and a timed wait.
SEQUENCES = {"sequences": [{"name": "SampleGate", "tracks": [{"name": "Main", "actions": [
    {"class": "SequenceActionRaiseSemaphore", "semaphore": "Ready"},
    {"class": "SequenceActionWaitForSemaphore", "semaphore": "Ready"},
    {"class": "SequenceActionRaiseGlobalSemaphore", "semaphore": "GateOpen"},
    {"class": "SequenceAction", "time": 2.0},
    {"class": "SequenceActionClearGlobalSemaphore", "semaphore": "GateOpen"},
]}]}]}
COLUMNS, ROWS, SPACING = 20, 15, 8.0  # 300 entities
GRID = {"width": 64, "height": 48, "origin": [-128.0, 0.0, -96.0, 1.0], "cell": 4.0}
WALKABLE = 1
# Option texts of the variants the scene's lights use (Light family, shadowed point and
# spot lights, filtered shadow maps).
SCENE_SHADERS = [("Light", "POINT SHADOWMAP SHADOWMAP_FILTERING HARDWARE_DEPTH"),
                 ("Light", "SPOT SHADOWMAP SHADOWMAP_FILTERING HARDWARE_DEPTH")]
MASK_WORDS = 4
# Particle templates (type 6) with the soft round texture the script writes: slow, fading
# grey smoke and fast, velocity-aligned, additive sparks; and the particle entities that
# spawn them in the game, beside the first crates.
PARTICLE_TYPE = 6
PARTICLE_TEXTURE = "SFX/SoftRound.dds"
PARTICLE_WIREFRAME = [0, 102, 0, 255, 1.0]
PARTICLES = [
    ("Smoke", "6F1B2C40-0000-4000-8000-000000000006", {
        "Life time": 4.0, "Life time variable": 1.0, "Spawn rate": 6.0, "Emitter size": [0.3, 0.1, 0.3, 0],
        "Initial velocity": [0, 0.8, 0, 0], "Initial velocity var": [0.2, 0.1, 0.2, 0], "Velocity damping": 0.9,
        "Texture file name": PARTICLE_TEXTURE, "Blending mode": 1, "Random rotation at start": True,
        "Rotation speed": 20.0, "Rotation speed var": 10.0,
        "Node 0 size": 0.4, "Node 0 color": [150, 150, 150, 0, 1.0], "Node 1 size": 0.8,
        "Node 1 color": [140, 140, 140, 160, 1.0], "Node 2 size": 1.6, "Node 2 color": [120, 120, 120, 90, 1.0],
        "Node 3 size": 2.0, "Node 3 color": [110, 110, 110, 0, 1.0]}),
    ("Sparks", "6F1B2C40-0000-4000-8000-000000000007", {
        "Life time": 0.8, "Life time variable": 0.3, "Spawn rate": 40.0, "Initial velocity": [0, 4.0, 0, 0],
        "Initial velocity var": [2.0, 1.5, 2.0, 0], "Global gravity": [0, -9.8, 0, 0], "Face camera mode": 4,
        "Shape": [0.3, 1.0, 0.05, 0], "Texture file name": PARTICLE_TEXTURE, "Blending mode": 2,
        "Node 0 size": 0.1, "Node 0 color": [255, 220, 120, 255, 1.0], "Node 1 size": 0.1,
        "Node 1 color": [255, 180, 60, 255, 1.0], "Node 2 size": 0.08, "Node 2 color": [255, 100, 20, 200, 1.0],
        "Node 3 size": 0.05, "Node 3 color": [120, 30, 0, 0, 1.0]}),
]
PARTICLE_ENTITIES = 4  # two of each, one unit beside each of the first crates


def entity_guid(i):
    return "7A5C0000-0000-4000-8000-%012X" % (i + 1)


def layout():
    """(template index, name, position) of every scene entity, row by row."""
    out = []
    counts = [0] * len(TEMPLATES)
    for row in range(ROWS):
        for column in range(COLUMNS):
            t = (row * 7 + column * 3) % len(TEMPLATES)
            counts[t] += 1
            position = [(column - COLUMNS / 2) * SPACING + 4.0, 0.0, (row - ROWS / 2) * SPACING + 4.0]
            out.append((t, "%s_%03d" % (TEMPLATES[t][0], counts[t]), position))
    return out


def grid_cells(entities):
    """Walkable cells, except those under a rock (the cell of its position)."""
    cells = bytearray([WALKABLE]) * (GRID["width"] * GRID["height"])
    ox, _, oz, _ = GRID["origin"]
    for t, _, (x, _, z) in entities:
        if t != ROCK:
            continue
        cx, cz = int((x - ox) / GRID["cell"] + 0.5), int((z - oz) / GRID["cell"] + 0.5)
        cells[cz * GRID["width"] + cx] = 0
    return cells.hex()


def variant_names(families, family_name, option_text):
    """The vertex and pixel shader resource names of a variant: the family name, then
    the stage's option bits (options by name without regard to case, enforced options
    added and disabled ones removed) as 32 hex digits, the low nibble of each 32-bit
    word first."""
    family = next(f for f in families if f["name"] == family_name)
    options = sorted(family["options"], key=lambda o: o["name"].lower())
    index = {o["name"].lower(): i for i, o in enumerate(options)}
    masks = {"vs": 0, "ps": 0}
    enforced = {"vs": 0, "ps": 0}
    disabled = {"vs": 0, "ps": 0}

    def add(target, i):
        for stage in ("vs", "ps"):
            if options[i].get(stage):
                target[stage] |= 1 << i

    for word in option_text.split():
        i = index.get(word.lower())
        if i is None or i >= MASK_WORDS * 32:
            continue
        add(masks, i)
        for key, target in (("enforces", enforced), ("disables", disabled)):
            for other in filter(None, str(options[i].get(key, "")).split(",")):
                j = index.get(other.lower())
                if j is not None and j < MASK_WORDS * 32:
                    add(target, j)
    names = []
    for stage in ("vs", "ps"):
        mask = (masks[stage] & ~disabled[stage]) | enforced[stage]
        digits = "".join("0123456789ABCDEF"[(mask >> (32 * w + 4 * n)) & 0xF]
                         for w in range(MASK_WORDS) for n in range(8))
        names.append("%s/%s.%s_3_0" % (family_name, digits, stage))
    return names


def box_mesh(box):
    """The tool's cube stretched over the bounding box."""
    import struct
    mesh = mesh_block.box_mesh(1.0, [{"name": "Default", "parts": MESH_PARTS}])
    lo, hi = box[0:3], box[4:7]
    corners = [(x, y, z) for z in (lo[2], hi[2]) for y in (lo[1], hi[1]) for x in (lo[0], hi[0])]
    mesh["rd"]["vbytes"] = b"".join(struct.pack("<3f", *c) for c in corners).hex()
    mesh["rd"]["box"] = list(box)
    mesh["rd"]["box2"] = list(box)
    return mesh


def template_file(guid, box, colour):
    if colour is None:
        return proplist.binary_template({"guid": guid, "type": 0, "props": {"box": box}})
    return proplist.binary_template({"guid": guid, "type": MESH_TYPE, "props": {"box": box, "color": colour},
                                     "kind": "mesh", "mesh": box_mesh(box)})


def soft_round_dds(side=32):
    """A white A8R8G8B8 DDS texture whose alpha falls from 1 at the centre to 0 at the
    edge, smoothly (the square of 1 - r)."""
    import struct
    pixels = bytearray()
    for y in range(side):
        for x in range(side):
            dx, dy = (x + 0.5) / side * 2 - 1, (y + 0.5) / side * 2 - 1
            r = min(1.0, (dx * dx + dy * dy) ** 0.5)
            pixels += bytes([255, 255, 255, int(round(255 * (1 - r) ** 2))])  # B, G, R, A
    pixel_format = struct.pack("<8I", 32, 0x41, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000)
    header = struct.pack("<7I", 124, 0x100F, side, side, side * 4, 0, 0) + bytes(44) + pixel_format
    header += struct.pack("<5I", 0x1000, 0, 0, 0, 0)
    return b"DDS " + header + bytes(pixels)


def particle_entities(entities):
    """Particle entities beside the first crates."""
    crates = [position for t, _, position in entities if TEMPLATES[t][0] == "Crate"][:PARTICLE_ENTITIES]
    out = []
    for i, (x, y, z) in enumerate(crates):
        name, guid, _ = PARTICLES[i % len(PARTICLES)]
        out.append({"template": guid, "name": "%s_%03d" % (name, i // len(PARTICLES) + 1),
                    "guid": "7A5C0000-0000-4000-8000-00000000FE%02X" % (i + 1), "pos": [x + 1.5, y + 2.0, z],
                    "class_props": proplist.particle_entity_props(True, True, False)})
    return out


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def main(argv):
    if len(argv) != 5:
        sys.stderr.write(__doc__)
        return 2
    shaders_def, textures, templates_out, scenes_out = argv[1:]

    stubs = [{"file": name, "guid": guid, "type": 0 if colour is None else MESH_TYPE}
             for name, guid, _, colour in TEMPLATES]
    stubs.append({"file": TRIGGER[0], "guid": TRIGGER[1], "type": TRIGGER_TYPE})
    stubs += [{"file": name, "guid": guid, "type": PARTICLE_TYPE} for name, guid, _ in PARTICLES]
    guids = [guid for _, guid, _, _ in TEMPLATES] + [TRIGGER[1]] + [guid for _, guid, _ in PARTICLES]
    root = {"name": "templates", "folders": [{"name": FOLDER, "guids": guids}]}
    write(os.path.join(templates_out, "TemplateInfo.Bin"), proplist.template_info({"stubs": stubs, "root": root}))
    for name, guid, box, colour in TEMPLATES:
        write(os.path.join(templates_out, FOLDER, name + ".BinaryTemplate"), template_file(guid, box, colour))
    write(os.path.join(templates_out, FOLDER, TRIGGER[0] + ".BinaryTemplate"),
          proplist.binary_template({"guid": TRIGGER[1], "type": TRIGGER_TYPE,
                                    "props": {"box": TRIGGER[2], "color": [0, 255, 0, 255, 1.0]},
                                    "class_props": proplist.trigger_template_props(0, 0)}))
    for name, guid, definition in PARTICLES:
        write(os.path.join(templates_out, FOLDER, name + ".BinaryTemplate"),
              proplist.binary_template({"guid": guid, "type": PARTICLE_TYPE,
                                        "props": {"box": [-1, 0, -1, 1, 1, 3, 1, 1], "color": PARTICLE_WIREFRAME},
                                        "class_props": proplist.particle_template_props(True, definition)}))
    write(os.path.join(textures, PARTICLE_TEXTURE), soft_round_dds())

    entities = layout()
    scene = {
        "root": {},
        "entities": [dict({"template": TEMPLATES[t][1], "name": name, "guid": entity_guid(i), "pos": position},
                          **({"kind": "mesh"} if TEMPLATES[t][3] is not None else {}))
                     for i, (t, name, position) in enumerate(entities)] +
                    [dict(TRIGGER_ENTITY, template=TRIGGER[1], class_props=proplist.trigger_entity_props(True))] +
                    particle_entities(entities),
        "grid": dict(GRID, cells=grid_cells(entities)),
        "sequence": SEQUENCES,
    }
    write(os.path.join(scenes_out, "Sample.BinaryScene"), proplist.binary_scene(scene))

    system = os.path.join(textures, "System")
    entries = [("Textures", "System/" + f, 0, 0) for f in sorted(os.listdir(system)) if f.lower().endswith(".dds")]
    with open(shaders_def) as f:
        families = proplist.parse_description(f.read())
    for family, options in SCENE_SHADERS + MESH_SHADERS:
        entries += [("Shaders", n, 0, 0) for n in variant_names(families, family, options)]
    write(os.path.join(scenes_out, "Sample.ResList"), proplist.resource_list(entries))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
