#!/usr/bin/env python3
"""Writes the templates and the scene of the sample data.

  sample_scene.py <Shaders.def> <textures folder> <templates out> <scenes out> <animations out>

templates: "TemplateInfo.Bin" (the catalogue: every sample template in the folder
"Sample", a colour envelope among them, the menu's recipe templates of sample_ui.py and the
game's of sample_game.py in the folder "UI", and the game's templates of sample_game.py in
the folder "Outpost") and one binary template per template,
"Sample/<Name>.BinaryTemplate".
scenes: "Sample.BinaryScene" (the scene root, a few hundred entities of the sample
templates laid out on a grid, a trigger in the middle, a point and a spot light, a
compound of crates and a light, a loop of path flags drawn by a graph, particle entities beside
the first crates, the scene-parameter set the root activates, a walk grid that is walkable
everywhere but under the rocks, and one sequence of semaphores and a wait that nothing
starts) and "Sample.ResList" (the system textures found in the textures folder and
the shader variants of the scene's shadowed lights, named from the shader description
as a device with hardware depth names them).
animations: the clips of the "Soldier" template, "Soldier_Idle.bin" and "Soldier_Walk.bin"
(anim_file.py). A few soldiers stand in the scene in their bind pose.
The "Beacon" effect (a flare quad over a generated 2 x 2 frame atlas, "SFX/BeaconFlare.dds",
a "Sparks" particle element, a point light, and a "Soldier" walking on the spot) stands in
front of the first row, clear of its entities, between a crate with its smoke and a rock,
and starts when the game does; the camera of the sample's main script looks at them.

The files are written with the property-list writer of the tests (proplist.py), which
follows the file formats independently of the engine's code.
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "support"))
import anim_file  # noqa: E402
import mesh_block  # noqa: E402
import proplist  # noqa: E402

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sample_game  # noqa: E402
import sample_ui  # noqa: E402

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
# The rendering bytes 1 to 8 of the meshes (1 deferred, 2 third-class, 3 forward parts, ...):
# forward parts only, as MESH_PARTS are; the tool's defaults otherwise.
MESH_RENDER = [0, 0, 1, 0, 1, 0, 0, 0]
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
# Lights (type 8): a point and a spot light template, and one entity of each above the
# middle of the grid, the spot looking down.
LIGHT_TYPE = 8
LIGHTS = [("PointLight", "6F1B2C40-0000-4000-8000-000000000006", 0),
          ("SpotLight", "6F1B2C40-0000-4000-8000-000000000007", 1)]
LIGHT_ENTITIES = [
    {"name": "PointLight_001", "guid": "7A5C0000-0000-4000-8000-00000000FF02", "light": 0, "pos": [-12.0, 5.0, 4.0],
     "props": {"Color": [255, 220, 170, 255, 2.0], "Start falloff": 4.0, "End falloff": 14.0}},
    {"name": "SpotLight_001", "guid": "7A5C0000-0000-4000-8000-00000000FF03", "light": 1, "pos": [12.0, 12.0, -4.0],
     "rot": [0.70710677, 0.0, 0.0, 0.70710677],
     "props": {"Color": [170, 200, 255, 255, 3.0], "Start falloff": 6.0, "End falloff": 20.0,
               "Spotlight width": 35.0}},
]
# A compound (type 5) of three crates and a point light; a path of eight flags (type 2)
# joined into a loop with curved connections, drawn by a graph (type 3) whose children
# they are.
COMPOUND_TYPE, FLAG_TYPE, GRAPH_TYPE = 5, 2, 3
CRATE_STACK = ("CrateStack", "6F1B2C40-0000-4000-8000-000000000008")
PATH_FLAG = ("PathFlag", "6F1B2C40-0000-4000-8000-000000000009")
PATH_GRAPH = ("PathGraph", "6F1B2C40-0000-4000-8000-00000000000A")
CRATE_STACK_ELEMENTS = [
    {"name": "Bottom%d" % i, "template": "Sample/Crate",
     "matrix": [[1, 0, 0, 0], [0, 1, 0, 0], [0, 0, 1, 0], [2.2 * i - 2.2, 0, 0, 1]]} for i in range(2)] + [
    {"name": "Top", "template": "Sample/Crate", "matrix": [[1, 0, 0, 0], [0, 1, 0, 0], [0, 0, 1, 0], [0, 2, 0, 1]]},
    {"name": "Lamp", "template": "Sample/PointLight", "matrix": [[1, 0, 0, 0], [0, 1, 0, 0], [0, 0, 1, 0], [0, 5, 0, 1]]},
]
CRATE_STACK_ENTITY = {"name": "CrateStack_001", "guid": "7A5C0000-0000-4000-8000-00000000FF04",
                      "pos": [-20.0, 0.0, 12.0]}
PATH_GRAPH_ENTITY = {"name": "PathGraph_001", "guid": "7A5C0000-0000-4000-8000-00000000FF05", "pos": [0.0, 0.0, -20.0]}
PATH_NODES, PATH_RADIUS = 8, 10.0
# A scene-parameter set (type 9) that the scene root activates through its one entity: a
# low warm sun, a blue-grey fog and a soft tone-mapping curve (key times in 1/1024 s); and a
# colour envelope (type 12) that pulses from amber to red and back over two seconds for the
# scripts to play.
SCENE_PARAMS_TYPE, COLOR_ENVELOPE_TYPE = 9, 12
SCENE_PARAMS = ("SceneParams", "6F1B2C40-0000-4000-8000-00000000000E", {
    "Affects sun": True, "Light yaw": 35.0, "Light pitch": 50.0, "Color": [255, 240, 215, 255, 1.2],
    "Fog color": [150, 165, 185, 255, 1.0], "Fog start": 80.0, "Fog end": 260.0,
    "Tone mapping curve": {"kind": "vector", "key_times": [0, 512, 1024, 4096], "key_flags": [0, 0, 0, 0],
                           "constant": [0, 0, 0, 0],
                           "keys": [[0, 0, 0, 0], [0.55] * 4, [0.85] * 4, [1, 1, 1, 1]]}})
SCENE_PARAMS_ENTITY = {"name": "SceneParams_001", "guid": "7A5C0000-0000-4000-8000-00000000FC01",
                       "pos": [0.0, 0.0, 0.0]}
PULSE = ("Pulse", "6F1B2C40-0000-4000-8000-00000000000F", {
    "kind": "color", "key_times": [0, 1024, 2048], "key_flags": [0, 0, 0], "constant": [255, 255, 255, 255, 1.0],
    "keys": [[255, 190, 60, 255, 1.0], [255, 60, 30, 255, 1.5], [255, 190, 60, 255, 1.0]]})
COLUMNS, ROWS, SPACING = 20, 15, 8.0  # 300 entities
GRID = {"width": 64, "height": 48, "origin": [-128.0, 0.0, -96.0, 1.0], "cell": 4.0}
WALKABLE = 1
# Option texts of the variants the scene's lights use (Light family, shadowed point and
# spot lights, filtered shadow maps).
SCENE_SHADERS = [("Light", "POINT SHADOWMAP SHADOWMAP_FILTERING HARDWARE_DEPTH"),
                 ("Light", "SPOT SHADOWMAP SHADOWMAP_FILTERING HARDWARE_DEPTH")]
MASK_WORDS = 4
# The soldier: a mesh template of nine boxes on a nine-node, nine-bone hierarchy (node i is
# bone i), each box skinned to its bone, the face towards the parent shared with the
# parent's bone; two clips, "Idle" and "Walk".
SOLDIER = ("Soldier", "6F1B2C40-0000-4000-8000-00000000000B", [-0.5, 0, -0.3, 1, 0.5, 1.8, 0.3, 1],
           [90, 110, 70, 255, 1.0])
# name, parent, offset from the parent, box half extents
SOLDIER_NODES = [
    ("hips", -1, (0, 0.9, 0), (0.18, 0.1, 0.1)),
    ("spine", 0, (0, 0.3, 0), (0.2, 0.2, 0.12)),
    ("head", 1, (0, 0.45, 0), (0.1, 0.12, 0.1)),
    ("arm_l", 1, (-0.28, 0.1, 0), (0.06, 0.18, 0.06)),
    ("hand_l", 3, (0, -0.36, 0), (0.05, 0.07, 0.05)),
    ("arm_r", 1, (0.28, 0.1, 0), (0.06, 0.18, 0.06)),
    ("hand_r", 5, (0, -0.36, 0), (0.05, 0.07, 0.05)),
    ("leg_l", 0, (-0.1, -0.45, 0), (0.07, 0.4, 0.07)),
    ("leg_r", 0, (0.1, -0.45, 0), (0.07, 0.4, 0.07)),
]
SOLDIER_CLIPS = {
    "Idle": {"length": 2.0, "tracks": [
        {"name": "spine", "rotation": [[0, 0, 0, 0], [0.5, 0.02, 0, 0], [1, 0, 0, 0]]},
        {"name": "head", "rotation": [[0, 0, 0, 0], [0.5, 0, 0.05, 0], [1, 0, 0, 0]]}]},
    "Walk": {"length": 1.0, "tracks": [
        {"name": "hips", "translation": [[0, 0, 0, 0], [0.25, 0, 0.03, 0], [0.5, 0, 0, 0], [0.75, 0, 0.03, 0],
                                         [1, 0, 0, 0]]},
        {"name": "arm_l", "rotation": [[0, 0.2, 0, 0], [0.5, -0.2, 0, 0], [1, 0.2, 0, 0]]},
        {"name": "arm_r", "rotation": [[0, -0.2, 0, 0], [0.5, 0.2, 0, 0], [1, -0.2, 0, 0]]},
        {"name": "leg_l", "rotation": [[0, -0.25, 0, 0], [0.5, 0.25, 0, 0], [1, -0.25, 0, 0]]},
        {"name": "leg_r", "rotation": [[0, 0.25, 0, 0], [0.5, -0.25, 0, 0], [1, 0.25, 0, 0]]}]},
}
# Between the grid's rows and columns, clear of the trigger.
SOLDIER_POSITIONS = [[0.0, 0.0, 20.0], [0.0, 0.0, 28.0], [0.0, 0.0, -20.0], [0.0, 0.0, -28.0]]


def path_entities():
    """The graph entity and its eight flags, each connected to the next through one control
    point pushed outwards, so the loop bulges between its flags."""
    import math
    guids = ["7A5C0000-0000-4000-8000-00000000FF%02X" % (0x10 + i) for i in range(PATH_NODES)]
    flags = []
    for i in range(PATH_NODES):
        a, b = 2 * math.pi * i / PATH_NODES, 2 * math.pi * (i + 0.5) / PATH_NODES
        point = [PATH_RADIUS * 1.15 * math.cos(b), 0.0, PATH_RADIUS * 1.15 * math.sin(b), 0.0]
        connection = {"destination": guids[(i + 1) % PATH_NODES], "points": [point],
                      "length": 2 * math.pi * PATH_RADIUS / PATH_NODES}
        flags.append({"template": PATH_FLAG[1], "name": "PathFlag_%03d" % (i + 1), "guid": guids[i],
                      "parent": PATH_GRAPH_ENTITY["guid"],
                      "pos": [PATH_RADIUS * math.cos(a), 0.0, PATH_RADIUS * math.sin(a)],
                      "class_props": proplist.flag_entity({"connections": [connection]}).hex()})
    graph = dict(PATH_GRAPH_ENTITY, template=PATH_GRAPH[1], class_props=proplist.graph_entity({}).hex())
    return [graph] + flags


# Particle templates (type 6) with the soft round texture the script writes: slow, fading
# grey smoke and fast, velocity-aligned, additive sparks; and the particle entities that
# spawn them in the game, beside the first crates.
PARTICLE_TYPE = 6
PARTICLE_TEXTURE = "SFX/SoftRound.dds"
PARTICLE_WIREFRAME = [0, 102, 0, 255, 1.0]
PARTICLES = [
    ("Smoke", "6F1B2C40-0000-4000-8000-00000000000C", {
        "Life time": 4.0, "Life time variable": 1.0, "Spawn rate": 6.0, "Emitter size": [0.3, 0.1, 0.3, 0],
        "Initial velocity": [0, 0.8, 0, 0], "Initial velocity var": [0.2, 0.1, 0.2, 0], "Velocity damping": 0.9,
        "Texture file name": PARTICLE_TEXTURE, "Blending mode": 1, "Random rotation at start": True,
        "Rotation speed": 20.0, "Rotation speed var": 10.0,
        "Node 0 size": 0.4, "Node 0 color": [150, 150, 150, 0, 1.0], "Node 1 size": 0.8,
        "Node 1 color": [140, 140, 140, 160, 1.0], "Node 2 size": 1.6, "Node 2 color": [120, 120, 120, 90, 1.0],
        "Node 3 size": 2.0, "Node 3 color": [110, 110, 110, 0, 1.0]}),
    ("Sparks", "6F1B2C40-0000-4000-8000-00000000000D", {
        "Life time": 0.8, "Life time variable": 0.3, "Spawn rate": 40.0, "Initial velocity": [0, 4.0, 0, 0],
        "Initial velocity var": [2.0, 1.5, 2.0, 0], "Global gravity": [0, -9.8, 0, 0], "Face camera mode": 4,
        "Shape": [0.3, 1.0, 0.05, 0], "Texture file name": PARTICLE_TEXTURE, "Blending mode": 2,
        "Node 0 size": 0.1, "Node 0 color": [255, 220, 120, 255, 1.0], "Node 1 size": 0.1,
        "Node 1 color": [255, 180, 60, 255, 1.0], "Node 2 size": 0.08, "Node 2 color": [255, 100, 20, 200, 1.0],
        "Node 3 size": 0.05, "Node 3 color": [120, 30, 0, 0, 1.0]}),
]
PARTICLE_ENTITIES = 4  # two of each, one unit beside each of the first crates

# The "Beacon" effect and the one entity that plays it.
SFX_TYPE = 7
BEACON_TEXTURE = "SFX/BeaconFlare.dds"
BEACON_FRAMES = [(255, 200, 40), (255, 120, 20), (255, 60, 60), (255, 240, 160)]  # R, G, B per frame
LOOP_FOREVER = [[0, 1024 * 60, "Forever"]]


def beacon_definition():
    """A flare playing its four frames every 2 s, sparks, an orange light and the soldier
    walking (its progress looping each second), all held by loops that nothing breaks."""
    def looped(key_times, keys):
        return {"key_times": key_times, "keys": keys, "loops": LOOP_FOREVER}
    return {"Delete timeout": 1.0, "elements": [
        {"class": "SFXQuadElementDefinition", "Description": "Flare", "Texture file name": BEACON_TEXTURE,
         "Texture frames X": 2, "Texture frames Y": 2, "Blending mode": 2, "Face camera mode": 1,
         "Position": {"constant": [0, 3.0, 0, 1]}, "Scale": {"constant": [1.5, 1.5, 1, 0]},
         "Frame animation curve": looped([0, 2048, 61440], [[0, 0, 0, 0], [4, 0, 0, 0], [120, 0, 0, 0]])},
        {"class": "SFXParticleElementDefinition", "Description": "Sparks", "Particle template": PARTICLES[1][1],
         "Position": {"constant": [0, 2.5, 0, 1]}},
        {"class": "SFXPointLightElementDefinition", "Description": "Glow", "Position": {"constant": [0, 2.5, 0, 1]},
         "Range": {"constant": [2.0, 6.0, 0, 0]},
         "Color": {"kind": "color", "constant": [255, 160, 60, 255, 2.0]}},
        {"class": "SFXMeshElementDefinition", "Description": "Walker", "Mesh template": SOLDIER[1],
         "Animation": "Walk",
         # The curve's keys are multiplied by its constant (0 unless set). The clip does
         # not loop (a progress past 1 holds its last pose): the curve runs 0 to 1 in a
         # second and its loop starts it again.
         "AnimationProgress": {"key_times": [0, 1024], "keys": [[0, 0, 0, 0], [1, 0, 0, 0]],
                               "constant": [1, 0, 0, 0], "loops": [[0, 1024, "Forever"]]}},
    ]}


BEACON = ("Beacon", "6F1B2C40-0000-4000-8000-000000000010")
BEACON_ENTITY = {"name": "Beacon_001", "guid": "7A5C0000-0000-4000-8000-00000000FB01", "pos": [0.0, 0.0, -60.0]}


def beacon_atlas_dds(side=64):
    """A 2 x 2 atlas of four solid frames (A8R8G8B8, one level), round spots on clear."""
    import struct
    pixels = bytearray()
    half = side // 2
    for y in range(side):
        for x in range(side):
            r, g, b = BEACON_FRAMES[(1 if x >= half else 0) + (2 if y >= half else 0)]
            dx, dy = ((x % half) + 0.5) / half * 2 - 1, ((y % half) + 0.5) / half * 2 - 1
            a = int(round(255 * max(0.0, 1 - (dx * dx + dy * dy) ** 0.5)))
            pixels += bytes([b, g, r, a])
    pixel_format = struct.pack("<8I", 32, 0x41, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000)
    header = struct.pack("<7I", 124, 0x100F, side, side, side * 4, 0, 0) + bytes(44) + pixel_format
    header += struct.pack("<5I", 0x1000, 0, 0, 0, 0)
    return b"DDS " + header + bytes(pixels)


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
    mesh["rd"]["render"] = MESH_RENDER
    return mesh


def soldier_mesh():
    """Nine boxes, 8 corners each (position, four bone indices, four weights)."""
    import struct
    translation = lambda p: [1.0, 0, 0, 0, 0, 1.0, 0, 0, 0, 0, 1.0, 0, p[0], p[1], p[2], 1.0]
    where = []
    for name, parent, offset, _ in SOLDIER_NODES:
        base = where[parent] if parent >= 0 else (0, 0, 0)
        where.append(tuple(b + o for b, o in zip(base, offset)))
    vertices, indices = b"", []
    cube = mesh_block.box_mesh(1.0)
    cube_indices = struct.unpack("<36H", bytes.fromhex(cube["rd"]["ibytesA"]))
    for i, (name, parent, offset, half) in enumerate(SOLDIER_NODES):
        c = where[i]
        towards_parent = (where[parent][1] - c[1]) if parent >= 0 else 0
        for z in (-1, 1):
            for y in (-1, 1):
                for x in (-1, 1):
                    shared = parent >= 0 and y * towards_parent > 0
                    bones = (i, parent if shared else 0, 0, 0)
                    weights = (128, 127, 0, 0) if shared else (255, 0, 0, 0)
                    vertices += struct.pack("<3f4B4B", c[0] + x * half[0], c[1] + y * half[1], c[2] + z * half[2],
                                            *bones, *weights)
        indices += [8 * i + k for k in cube_indices]
    decl = [[0, 0, 2, 0, 0, 0], [0, 12, 5, 0, 2, 0], [0, 16, 8, 0, 1, 0], mesh_block.DECL_END]
    hierarchy = {
        "nodes": [{"name": n, "parent": 255 if p < 0 else p, "bone": i, "matrix": translation(o)}
                  for i, (n, p, o, _) in enumerate(SOLDIER_NODES)],
        "bones": [translation([-v for v in w]) for w in where],
        "tree": [{"name": "root", "first": 0, "count": len(SOLDIER_NODES), "parent": 0xFFFFFFFF,
                  "child": 0xFFFFFFFF, "sibling": 0xFFFFFFFF}],
    }
    # Skinned on the GPU: the bone palette's nine bones in the vertex shader.
    parts = [dict(MESH_PARTS[0], count=len(indices) // 3, options="SKINNING")]
    box = SOLDIER[2]
    return {"rd": dict(cube["rd"], declA=decl, declB=decl, vcount=len(SOLDIER_NODES) * 8, stride=20,
                       vbytes=vertices.hex(), ibytesA=struct.pack("<%dH" % len(indices), *indices).hex(),
                       iwordA=len(indices), presets=[{"name": "Default", "parts": parts}], box=list(box),
                       box2=list(box), render=MESH_RENDER, bones=len(SOLDIER_NODES)),
            "hier": hierarchy, "metrics": [0, 0, 0, 0.0]}


def soldier_template():
    name, guid, box, colour = SOLDIER
    animations = [{"name": n, "file": "Soldier_" + n, "time": SOLDIER_CLIPS[n]["length"]} for n in sorted(SOLDIER_CLIPS)]
    return proplist.binary_template({"guid": guid, "type": MESH_TYPE, "props": {"box": box, "color": colour},
                                     "kind": "mesh", "kind_props": {"animations": animations},
                                     "mesh": soldier_mesh()})


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
    if len(argv) != 6:
        sys.stderr.write(__doc__)
        return 2
    shaders_def, textures, templates_out, scenes_out, animations_out = argv[1:]

    stubs = [{"file": name, "guid": guid, "type": 0 if colour is None else MESH_TYPE}
             for name, guid, _, colour in TEMPLATES]
    stubs.append({"file": TRIGGER[0], "guid": TRIGGER[1], "type": TRIGGER_TYPE})
    stubs.append({"file": SOLDIER[0], "guid": SOLDIER[1], "type": MESH_TYPE})
    stubs += [{"file": name, "guid": guid, "type": LIGHT_TYPE} for name, guid, _ in LIGHTS]
    placed = [(CRATE_STACK, COMPOUND_TYPE), (PATH_FLAG, FLAG_TYPE), (PATH_GRAPH, GRAPH_TYPE)]
    stubs += [{"file": t[0], "guid": t[1], "type": kind} for t, kind in placed]
    guids = ([guid for _, guid, _, _ in TEMPLATES] + [TRIGGER[1], SOLDIER[1]] + [guid for _, guid, _ in LIGHTS] +
             [t[1] for t, _ in placed])
    stubs += [{"file": name, "guid": guid, "type": PARTICLE_TYPE} for name, guid, _ in PARTICLES]
    guids += [guid for _, guid, _ in PARTICLES]
    stubs += [{"file": SCENE_PARAMS[0], "guid": SCENE_PARAMS[1], "type": SCENE_PARAMS_TYPE},
              {"file": PULSE[0], "guid": PULSE[1], "type": COLOR_ENVELOPE_TYPE},
              {"file": BEACON[0], "guid": BEACON[1], "type": SFX_TYPE}]
    guids += [SCENE_PARAMS[1], PULSE[1], BEACON[1]]
    # The menu's recipe templates (written by sample_ui.py), the game's templates and its
    # recipe templates (written by sample_game.py).
    ui_stubs = sample_ui.STUBS + sample_game.UI_STUBS
    stubs += [{"file": name, "guid": guid, "type": kind} for name, guid, kind in ui_stubs + sample_game.STUBS]
    root = {"name": "templates", "folders": [{"name": FOLDER, "guids": guids},
                                             {"name": sample_ui.FOLDER, "guids": [g for _, g, _ in ui_stubs]},
                                             {"name": sample_game.FOLDER,
                                              "guids": [g for _, g, _ in sample_game.STUBS]}]}
    write(os.path.join(templates_out, "TemplateInfo.Bin"), proplist.template_info({"stubs": stubs, "root": root}))
    for name, guid, box, colour in TEMPLATES:
        write(os.path.join(templates_out, FOLDER, name + ".BinaryTemplate"), template_file(guid, box, colour))
    write(os.path.join(templates_out, FOLDER, TRIGGER[0] + ".BinaryTemplate"),
          proplist.binary_template({"guid": TRIGGER[1], "type": TRIGGER_TYPE,
                                    "props": {"box": TRIGGER[2], "color": [0, 255, 0, 255, 1.0]},
                                    "class_props": proplist.trigger_template_props(0, 0)}))
    write(os.path.join(templates_out, FOLDER, SOLDIER[0] + ".BinaryTemplate"), soldier_template())
    os.makedirs(animations_out, exist_ok=True)
    for clip_name, clip in SOLDIER_CLIPS.items():
        anim_file.write(os.path.join(animations_out, "Soldier_" + clip_name + ".bin"), clip)

    for name, guid, kind in LIGHTS:
        write(os.path.join(templates_out, FOLDER, name + ".BinaryTemplate"),
              proplist.binary_template({"guid": guid, "type": LIGHT_TYPE,
                                        "props": {"color": [0, 255, 0, 255, 1.0]},
                                        "class_props": proplist.light_template({"Light type": kind}).hex()}))
    write(os.path.join(templates_out, FOLDER, CRATE_STACK[0] + ".BinaryTemplate"),
          proplist.binary_template({"guid": CRATE_STACK[1], "type": COMPOUND_TYPE,
                                    "head_props": proplist.compound_template(
                                        {"elements": CRATE_STACK_ELEMENTS}).hex()}))
    write(os.path.join(templates_out, FOLDER, PATH_FLAG[0] + ".BinaryTemplate"),
          proplist.binary_template({"guid": PATH_FLAG[1], "type": FLAG_TYPE,
                                    "props": {"box": [-1.5, 0, -1.5, 1, 1.5, 4.8, 1.95, 1]},
                                    "class_props": proplist.flag_template({}).hex()}))
    write(os.path.join(templates_out, FOLDER, PATH_GRAPH[0] + ".BinaryTemplate"),
          proplist.binary_template({"guid": PATH_GRAPH[1], "type": GRAPH_TYPE,
                                    "class_props": proplist.graph_template({"Width": 0.8}).hex()}))
    placed_entities = [dict(CRATE_STACK_ENTITY, template=CRATE_STACK[1],
                            head_props=proplist.compound_entity({}).hex())] + path_entities()
    lights = [dict({k: v for k, v in e.items() if k not in ("light", "props")}, template=LIGHTS[e["light"]][1],
                   class_props=proplist.light_entity(e["props"]).hex()) for e in LIGHT_ENTITIES]
    for name, guid, definition in PARTICLES:
        write(os.path.join(templates_out, FOLDER, name + ".BinaryTemplate"),
              proplist.binary_template({"guid": guid, "type": PARTICLE_TYPE,
                                        "props": {"box": [-1, 0, -1, 1, 1, 3, 1, 1], "color": PARTICLE_WIREFRAME},
                                        "class_props": proplist.particle_template_props(True, definition)}))
    write(os.path.join(textures, PARTICLE_TEXTURE), soft_round_dds())
    write(os.path.join(templates_out, FOLDER, SCENE_PARAMS[0] + ".BinaryTemplate"),
          proplist.binary_template({"guid": SCENE_PARAMS[1], "type": SCENE_PARAMS_TYPE,
                                    "props": {"color": [255, 128, 0, 255, 1.0]},
                                    "class_props": proplist.scene_parameters(SCENE_PARAMS[2]).hex()}))
    # "ColorEnvelopeTemplate" sorts before "EntityTemplate" in the walk.
    write(os.path.join(templates_out, FOLDER, PULSE[0] + ".BinaryTemplate"),
          proplist.binary_template({"guid": PULSE[1], "type": COLOR_ENVELOPE_TYPE,
                                    "head_props": proplist.envelope(PULSE[2]).hex()}))

    write(os.path.join(templates_out, FOLDER, BEACON[0] + ".BinaryTemplate"),
          proplist.binary_template({"guid": BEACON[1], "type": SFX_TYPE,
                                    "props": {"box": [-2, 0, -2, 1, 2, 4, 2, 1], "color": [255, 0, 255, 255, 1.0]},
                                    "class_props": proplist.sfx_template_props({}, beacon_definition())}))
    write(os.path.join(textures, BEACON_TEXTURE), beacon_atlas_dds())

    entities = layout()
    scene = {
        "root": {"active": SCENE_PARAMS_ENTITY["guid"]},
        "entities": [dict({"template": TEMPLATES[t][1], "name": name, "guid": entity_guid(i), "pos": position},
                          **({"kind": "mesh"} if TEMPLATES[t][3] is not None else {}))
                     for i, (t, name, position) in enumerate(entities)] +
                    [dict(TRIGGER_ENTITY, template=TRIGGER[1], class_props=proplist.trigger_entity_props(True))] +
                    [{"template": SOLDIER[1], "name": "Soldier_%03d" % (i + 1),
                      "guid": "7A5C0000-0000-4000-8000-00000000FD%02X" % (i + 1), "pos": p, "kind": "mesh"}
                     for i, p in enumerate(SOLDIER_POSITIONS)] +
                    lights + placed_entities +
                    particle_entities(entities) +
                    [dict(BEACON_ENTITY, template=BEACON[1],
                          class_props=proplist.sfx_entity_props(delete_at_stop=False))] +
                    [dict(SCENE_PARAMS_ENTITY, template=SCENE_PARAMS[1])],
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
