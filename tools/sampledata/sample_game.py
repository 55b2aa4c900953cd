#!/usr/bin/env python3
"""Writes the data of the sample game: the level "Outpost" and what its mission shows
and plays.

  sample_game.py <Outpost.level> <Shaders.def> <textures> <templates> <scenes> <sounds>
                 [--convert PROGRAM] [--sox PROGRAM] [--oggenc PROGRAM]

templates: the game's templates in the folder "Outpost" (the walker, the two tower bodies
of one tower mesh, the gun and shield towers made of them, their markers, the player and
versus markers, the triggers, the route ribbon, the ambient sound, the event effects (the
wreck with its smoke and rubble, the blast, the muzzle flash and the walker's shot, each
with its particle element), the level parameters, the route's flag and graph, the ground and the scene
parameters) and the recipe templates "UI/Hud", "UI/Result" and "UI/Lobby". sample_scene.py
enters them in the catalogue from STUBS and UI_STUBS below; sample_ui.py adds STRINGS to
the strings file. The walker, the towers and the two script triggers name the script classes
of LUA_CLASSES.
scenes: "Outpost.BinaryScene", every placement of the level source (see its head for the
format), and "Outpost.ResList" (the system textures, the game's textures, the shader
variants of the meshes and of the ribbon, and the sounds).
textures: "Outpost/Ribbon.dds" (64 x 64, white, opaque across the middle of the ribbon and
fading out towards both edges) and "Outpost/Cursor.tga" (a 32 x 32 arrow, uncompressed
32-bit, its tip, the hotspot CURSOR_HOTSPOT, at the top left), made by ImageMagick.
sounds: "<Entry>.ogg" for every entry of SOUND_ENTRIES, made by sox (48 kHz, mono) and
oggenc.

Sound entries live in no file: the scripts add them at start-up
(gSoundEntriesContainer:AddSoundEntry) with the files, loop and two-dimensional switches of
SOUND_ENTRIES; the ambient sound template names the entry "Wind", and the resource list
preloads the files with the scene.
"""
import array
import math
import os
import subprocess
import sys
import tempfile
import wave

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "support"))
import proplist  # noqa: E402
import recipes  # noqa: E402

FOLDER = "Outpost"
UI_FOLDER = "UI"
# Template types: the engine's and the game's (256 up).
MESH, FLAG, GRAPH, PARTICLE, SCENE_PARAMS = 1, 2, 3, 6, 9
TOWER_MARKER, SCRIPT_TRIGGER, EFFECT, DAMAGE_SURFACE, PATH_RENDERER = 256, 258, 259, 260, 261
PLAYER_MARKER, AMBIENT_SOUND, LEVEL_PARAMS, PROGRESS_AREA, TOWER, VERSUS_MARKER = 262, 267, 268, 271, 272, 277


def template_guid(i):
    return "6F1B2C40-0000-4000-8000-0000000001%02X" % i


# Every game template: name in FOLDER, GUID, type.
TEMPLATES = [(name, template_guid(i + 1), kind) for i, (name, kind) in enumerate([
    ("Walker", MESH), ("GunTowerBody", MESH), ("ShieldTowerBody", MESH), ("GunTower", TOWER),
    ("ShieldTower", TOWER), ("GunTowerMarker", TOWER_MARKER), ("ShieldTowerMarker", TOWER_MARKER),
    ("PlayerMarker", PLAYER_MARKER), ("VersusSquadMarker", VERSUS_MARKER), ("VersusTowersMarker", VERSUS_MARKER),
    ("MissionEnd", SCRIPT_TRIGGER), ("Minefield", DAMAGE_SURFACE), ("ProgressArea", PROGRESS_AREA),
    ("Ribbon", PATH_RENDERER), ("Ambient", AMBIENT_SOUND), ("WreckSmoke", PARTICLE), ("TowerWreck", EFFECT),
    ("LevelParams", LEVEL_PARAMS), ("Flag", FLAG), ("Graph", GRAPH), ("Ground", MESH), ("SceneParams", SCENE_PARAMS),
    ("Camera", 0), ("Rubble", MESH), ("BlastFire", PARTICLE), ("Blast", EFFECT), ("FlashFire", PARTICLE),
    ("MuzzleFlash", EFFECT), ("SparkFire", PARTICLE), ("WalkerFire", EFFECT)])]
GUIDS = {name: guid for name, guid, _ in TEMPLATES}
STUBS = [(name, guid, kind) for name, guid, kind in TEMPLATES]
# The script classes the entities of a template answer to.
LUA_CLASSES = {"Walker": "SquadUnit", "GunTower": "GunTower", "ShieldTower": "ShieldTower",
               "MissionEnd": "MissionEnd", "Minefield": "Minefield"}

# The meshes: box templates drawn white-textured in the template's colour (sample_scene.py's
# mesh part). The walker stands 1.6 units tall; both tower bodies are the one tower mesh.
WALKER_BOX = [-0.4, 0, -0.4, 1, 0.4, 1.6, 0.4, 1]
WALKER_COLOUR = [70, 110, 50, 255, 1.0]
TOWER_BOX = [-1.5, 0, -1.5, 1, 1.5, 5.0, 1.5, 1]
TRIGGER_BOX = [-1, -1, -1, 1, 1, 1, 1, 1]  # scaled by each trigger entity to its size
TRIGGER_HEIGHT = 4.0
WRECK_SMOKE = {
    "Life time": 3.0, "Life time variable": 1.0, "Spawn rate": 12.0, "Emitter size": [1.0, 0.5, 1.0, 0],
    "Initial velocity": [0, 2.0, 0, 0], "Initial velocity var": [0.4, 0.3, 0.4, 0], "Velocity damping": 0.9,
    "Texture file name": "SFX/SoftRound.dds", "Blending mode": 1, "Random rotation at start": True,
    "Node 0 size": 0.8, "Node 0 color": [60, 55, 50, 0, 1.0], "Node 1 size": 1.6,
    "Node 1 color": [50, 45, 40, 200, 1.0], "Node 2 size": 3.0, "Node 2 color": [40, 40, 40, 120, 1.0],
    "Node 3 size": 4.0, "Node 3 color": [30, 30, 30, 0, 1.0]}

# The events' effects: a blast of fire (a destroyed tower, an airstrike), a gun's muzzle
# flash and a walker's shot, each one particle element that spawns while the scripts keep
# its effect started; bright, so they show over the ground. A wreck leaves its
# rubble (a dark, low box, a plain element the wreck shows) under the smoke.
BLAST_FIRE = {
    "Life time": 0.7, "Life time variable": 0.2, "Spawn rate": 160.0, "Emitter size": [1.5, 1.0, 1.5, 0],
    "Initial velocity": [0, 4.0, 0, 0], "Initial velocity var": [3.0, 2.0, 3.0, 0], "Velocity damping": 0.8,
    "Texture file name": "SFX/SoftRound.dds", "Blending mode": 1, "Random rotation at start": True,
    "Node 0 size": 1.5, "Node 0 color": [255, 240, 160, 255, 1.0], "Node 1 size": 3.0,
    "Node 1 color": [255, 180, 70, 255, 1.0], "Node 2 size": 4.0, "Node 2 color": [230, 100, 30, 255, 1.0],
    "Node 3 size": 4.5, "Node 3 color": [80, 30, 10, 255, 1.0]}
FLASH_FIRE = {
    "Life time": 0.25, "Spawn rate": 120.0, "Emitter size": [0.3, 0.3, 0.3, 0],
    "Initial velocity": [0, 0.5, 0, 0], "Initial velocity var": [1.0, 1.0, 1.0, 0], "Velocity damping": 0.9,
    "Texture file name": "SFX/SoftRound.dds", "Blending mode": 1,
    "Node 0 size": 1.6, "Node 0 color": [255, 250, 210, 255, 1.0], "Node 1 size": 1.8,
    "Node 1 color": [255, 240, 170, 255, 1.0], "Node 2 size": 1.6, "Node 2 color": [255, 200, 90, 255, 1.0],
    "Node 3 size": 1.0, "Node 3 color": [120, 60, 20, 255, 1.0]}
SPARK_FIRE = dict(FLASH_FIRE, **{"Node 0 size": 1.3, "Node 1 size": 1.5, "Node 2 size": 1.3, "Node 3 size": 0.8})
RUBBLE_BOX = [-1.8, 0, -1.8, 1, 1.8, 0.8, 1.8, 1]
RUBBLE_COLOUR = [45, 40, 36, 255, 1.0]

RIBBON_TEXTURE = "Outpost/Ribbon.dds"
CURSOR = "Outpost/Cursor.tga"
CURSOR_HOTSPOT = (0, 0)
# Entry name: (files, loop, two-dimensional, volume). The files are in "sounds".
SOUND_ENTRIES = {
    "Wind": (["Wind.ogg"], True, True, 0.6),
    "Shot": (["Shot.ogg"], False, False, 1.0),
    "Explosion": (["Explosion.ogg"], False, False, 1.0),
    "Won": (["Won.ogg"], False, True, 1.0),
    "Lost": (["Lost.ogg"], False, True, 1.0),
}
SOUND_RATE = 48000
# sox's effects for each sound (mono, 16 bits), peaks well below full scale so that the
# mix of several stays clear of it.


def chord(frequencies, seconds):
    """Sines mixed into one channel, faded in and out."""
    out = []
    for i, f in enumerate(frequencies):
        out += ["synth", str(seconds), "sine"] + (["mix"] if i else []) + ["%.2f" % f]
    return out + ["fade", "q", "0.01", str(seconds), "0.2", "gain", "-n", "-12"]


# The wind loops: sox makes a longer stretch of it, and its WIND_SECONDS loop starts with
# the stretch's continuation blended in over WIND_CROSSFADE seconds (equal power), so that
# the loop's last sample runs on into its first as the noise itself runs (no click at the
# seam). WIND_MARGIN at either end keeps the filter's edges out of the loop.
WIND_SECONDS, WIND_CROSSFADE, WIND_MARGIN = 4, 0.5, 0.25

SOUND_SYNTH = {
    "Wind": ["synth", str(WIND_SECONDS + WIND_CROSSFADE + 2 * WIND_MARGIN), "whitenoise", "sinc", "300-3000",
             "gain", "-n", "-14"],
    "Shot": ["synth", "0.05", "sine", "880", "fade", "q", "0.002", "0.05", "0.01", "gain", "-n", "-12"],
    "Explosion": ["synth", "0.4", "sine", "80", "fade", "l", "0.005", "0.4", "0.39", "gain", "-n", "-10"],
    # Two chords: C major an octave up for a win, C minor for a loss.
    "Won": chord([523.25, 659.26, 783.99], 0.6),
    "Lost": chord([261.63, 311.13, 392.00], 0.6),
}

# The strings the mission, the result screen and the lobby show: the HUD's counters, the
# results, the mission's title and its three distinctions, the lobby's and the sides' names.
STRINGS = [{"path": p, "texts": t} for p, t in [
    ("Hud/Survivors", {"English": "Survivors", "German": "Überlebende"}),
    ("Hud/Towers", {"English": "Towers", "German": "Türme"}),
    ("Hud/Seconds", {"English": "Seconds left", "German": "Sekunden übrig"}),
    ("Hud/Airstrikes", {"English": "Airstrikes", "German": "Luftschläge"}),
    ("Result/Won", {"English": "Mission accomplished", "German": "Mission erfüllt"}),
    ("Result/Lost", {"English": "Mission failed", "German": "Mission gescheitert"}),
    ("Result/Abandoned", {"English": "Mission abandoned", "German": "Mission abgebrochen"}),
    ("Result/Score", {"English": "Score", "German": "Punkte"}),
    ("Mission/M01", {"English": "Outpost", "German": "Außenposten"}),
    ("Medal/Celerity", {"English": "Celerity", "German": "Schnelligkeit"}),
    ("Medal/Ruthlessness", {"English": "Ruthlessness", "German": "Unerbittlichkeit"}),
    ("Medal/Efficiency", {"English": "Efficiency", "German": "Effizienz"}),
    ("Lobby/Title", {"English": "Versus match", "German": "Duell"}),
    ("Lobby/Waiting", {"English": "Waiting", "German": "Wartet"}),
    ("Lobby/Ready", {"English": "Ready", "German": "Bereit"}),
    ("Versus/Squad", {"English": "Squad", "German": "Trupp"}),
    ("Versus/Towers", {"English": "Towers", "German": "Türme"}),
]]

# The recipes (1280 x 720 like the menu's; the font is the menu's).
WIDTH, HEIGHT = 1280, 720
FONT = "_system.ttf"
HUD_COUNTERS = ["Survivors", "Towers", "Seconds", "Airstrikes"]
HUD_PANEL = (16, 16, 300, 136)  # x, y, width, height
HUD_PANEL_COLOUR = [0, 0, 0, 140, 1.0]
RESULT_PANEL = (400, 240, 480, 240)
RESULT_PANEL_COLOUR = [24, 24, 32, 255, 1.0]
LOBBY_MEMBERS = 2
UI_TEMPLATES = [("Hud", "5A3E0000-0000-4000-8000-0000000000B1"), ("Result", "5A3E0000-0000-4000-8000-0000000000B2"),
                ("Lobby", "5A3E0000-0000-4000-8000-0000000000B3")]
UI_STUBS = [(name, guid, recipes.UI_RECIPE_TYPE) for name, guid in UI_TEMPLATES]


# --- the level source -------------------------------------------------------------------

def parse_value(text):
    items = []
    for word in text.split(","):
        try:
            items.append(int(word))
        except ValueError:
            try:
                items.append(float(word))
            except ValueError:
                items.append(word)
    return items[0] if len(items) == 1 else items


def read_level(text):
    """[(keyword, name, {field: value})] in the source's order."""
    statements = []
    for number, line in enumerate(text.splitlines(), 1):
        words = line.split("#", 1)[0].split()
        if not words:
            continue
        if len(words) < 2:
            raise ValueError("line %d: a keyword and a name expected" % number)
        fields = {}
        for word in words[2:]:
            key, sep, value = word.partition("=")
            if not sep or not value:
                raise ValueError("line %d: KEY=VALUE expected, not %r" % (number, word))
            fields[key] = parse_value(value)
        statements.append((words[0], words[1], fields))
    return statements


def level_items(statements, keyword):
    return [(name, fields) for k, name, fields in statements if k == keyword]


def level_item(statements, keyword):
    items = level_items(statements, keyword)
    if len(items) != 1:
        raise ValueError("one %s statement expected, found %d" % (keyword, len(items)))
    return items[0]


def ground_point(at, y=0.0):
    return [float(at[0]), y, float(at[1])]


# --- templates ----------------------------------------------------------------------------

def mesh_template(guid, box, colour, props=None):
    import sample_scene
    p = {"box": box, "color": colour}
    p.update(props or {})
    return proplist.binary_template({"guid": guid, "type": MESH, "props": p, "kind": "mesh",
                                     "mesh": sample_scene.box_mesh(box)})


def game_template(name, kind, values, head=None, class_head="", props=None):
    """A template of a game class: the compound list first when "head" is given, the
    EntityTemplate list, then the engine classes after it ("class_head") and the game's."""
    cls = proplist.GAME_TEMPLATE_CLASSES[kind]
    p = {"lua_class": LUA_CLASSES.get(name, "")}
    p.update(props or {})
    desc = {"guid": GUIDS[name], "type": kind, "props": p,
            "class_props": class_head + proplist.game_class({"class": cls, "values": values}).hex()}
    if head is not None:
        desc["head_props"] = proplist.compound_template({"elements": head}).hex()
    return proplist.binary_template(desc)


def element(name, template, at=(0, 0, 0)):
    return {"name": name, "template": FOLDER + "/" + template,
            "matrix": [[1, 0, 0, 0], [0, 1, 0, 0], [0, 0, 1, 0], [at[0], at[1], at[2], 1]]}


def templates(statements):
    """{file name in FOLDER: template bytes}"""
    bodies = {name: fields for name, fields in level_items(statements, "towerbody")}
    _, ground = level_item(statements, "ground")
    _, sun = level_item(statements, "sun")
    _, ribbon = level_item(statements, "ribbon")
    _, ambient = level_item(statements, "ambient")
    _, minefield = level_item(statements, "minefield")
    _, player = level_item(statements, "player")
    w, d = ground["size"]
    trigger = proplist.trigger_template_props(0, 0)
    out = {
        "Walker": mesh_template(GUIDS["Walker"], WALKER_BOX, WALKER_COLOUR,
                                {"lua_class": LUA_CLASSES["Walker"], "activates_triggers": True}),
        "GunTowerBody": mesh_template(GUIDS["GunTowerBody"], TOWER_BOX, list(bodies["gun"]["color"]) + [255, 1.0]),
        "ShieldTowerBody": mesh_template(GUIDS["ShieldTowerBody"], TOWER_BOX,
                                         list(bodies["shield"]["color"]) + [255, 1.0]),
        "GunTower": game_template("GunTower", TOWER, {}, head=[element("Body", "GunTowerBody")],
                                  props={"box": TOWER_BOX}),
        "ShieldTower": game_template("ShieldTower", TOWER, {}, head=[element("Body", "ShieldTowerBody")],
                                     props={"box": TOWER_BOX}),
        "GunTowerMarker": game_template("GunTowerMarker", TOWER_MARKER,
                                        {"TowerTemplateName": FOLDER + "/GunTower"}, head=[]),
        "ShieldTowerMarker": game_template("ShieldTowerMarker", TOWER_MARKER,
                                           {"TowerTemplateName": FOLDER + "/ShieldTower"}, head=[]),
        "PlayerMarker": game_template("PlayerMarker", PLAYER_MARKER, {"HeroTemplateName": player["hero"]}, head=[]),
        "VersusSquadMarker": game_template("VersusSquadMarker", VERSUS_MARKER,
                                           {"HeroTemplateName": FOLDER + "/Walker", "TeamIndex": 1}, head=[]),
        "VersusTowersMarker": game_template("VersusTowersMarker", VERSUS_MARKER,
                                            {"HeroTemplateName": FOLDER + "/ShieldTower", "TeamIndex": 2}, head=[]),
        "MissionEnd": game_template("MissionEnd", SCRIPT_TRIGGER, {"DefaultReactToUnits": True},
                                    class_head=trigger, props={"box": TRIGGER_BOX}),
        "Minefield": game_template("Minefield", DAMAGE_SURFACE,
                                   {"DamagePerSec": float(minefield["dps"]), "DamageType": str(minefield["type"])},
                                   class_head=trigger, props={"box": TRIGGER_BOX}),
        "ProgressArea": game_template("ProgressArea", PROGRESS_AREA, {}, class_head=trigger,
                                      props={"box": TRIGGER_BOX}),
        "Ribbon": game_template("Ribbon", PATH_RENDERER, ribbon_values(ribbon)),
        "Ambient": game_template("Ambient", AMBIENT_SOUND, {"SoundEntryName": str(ambient["entry"])}, head=[]),
        "TowerWreck": game_template("TowerWreck", EFFECT, {},
                                    head=[element("Smoke", "WreckSmoke"), element("Rubble", "Rubble")]),
        "Rubble": mesh_template(GUIDS["Rubble"], RUBBLE_BOX, RUBBLE_COLOUR),
        "Blast": game_template("Blast", EFFECT, {}, head=[element("Fire", "BlastFire")]),
        "MuzzleFlash": game_template("MuzzleFlash", EFFECT, {}, head=[element("Fire", "FlashFire")]),
        "WalkerFire": game_template("WalkerFire", EFFECT, {}, head=[element("Fire", "SparkFire")]),
        "BlastFire": fire_template("BlastFire", BLAST_FIRE),
        "FlashFire": fire_template("FlashFire", FLASH_FIRE),
        "SparkFire": fire_template("SparkFire", SPARK_FIRE),
        "LevelParams": game_template("LevelParams", LEVEL_PARAMS, {}),
        "WreckSmoke": proplist.binary_template({
            "guid": GUIDS["WreckSmoke"], "type": PARTICLE,
            "props": {"box": [-2, 0, -2, 1, 2, 6, 2, 1], "color": [0, 102, 0, 255, 1.0]},
            "class_props": proplist.particle_template_props(True, WRECK_SMOKE)}),
        "Flag": proplist.binary_template({"guid": GUIDS["Flag"], "type": FLAG,
                                          "class_props": proplist.flag_template({}).hex()}),
        "Graph": proplist.binary_template({"guid": GUIDS["Graph"], "type": GRAPH,
                                           "class_props": proplist.graph_template({"Width": 0.5}).hex()}),
        "Ground": mesh_template(GUIDS["Ground"], [-w / 2, -1.0, -d / 2, 1, w / 2, 0.0, d / 2, 1],
                                list(ground["color"]) + [255, 1.0]),
        "SceneParams": proplist.binary_template({
            "guid": GUIDS["SceneParams"], "type": SCENE_PARAMS, "props": {"color": [255, 128, 0, 255, 1.0]},
            "class_props": proplist.scene_parameters({
                "Affects sun": True, "Light yaw": float(sun["yaw"]), "Light pitch": float(sun["pitch"]),
                "Color": list(sun["color"][:3]) + [255, float(sun["color"][3])],
                "Fog color": list(ground["color"]) + [255, 1.0], "Fog start": 400.0, "Fog end": 900.0}).hex()}),
        "Camera": proplist.binary_template({"guid": GUIDS["Camera"], "type": 0}),
    }
    assert sorted(out) == sorted(GUIDS)
    return out


def fire_template(name, definition):
    return proplist.binary_template({
        "guid": GUIDS[name], "type": PARTICLE, "props": {"box": [-3, 0, -3, 1, 3, 6, 3, 1], "color": [255, 160, 0, 255, 1.0]},
        "class_props": proplist.particle_template_props(True, definition)})


def ribbon_values(ribbon):
    """The path renderer template's values: both looks alike, the signal black. The
    signal's colour adds to the ribbon's as it travels on the real clock, so black keeps
    the ribbon one colour throughout and the same in every picture of a step."""
    colour = list(ribbon["color"]) + [255, 1.0]
    signal = [0, 0, 0, 255, 1.0]
    texture, width = str(ribbon["texture"]), float(ribbon["width"])
    return {"Smoothness": float(ribbon["smoothness"]), "Texture file name": texture, "Width": width, "Color": colour,
            "Signal color": signal,
            "Battlefield texture file name": texture, "Battlefield width": width, "Battlefield color": colour,
            "Battlefield signal color": signal}


# --- the scene ------------------------------------------------------------------------------

def scene_guid(i):
    return "7A5C0001-0000-4000-8000-%012X" % (i + 1)


def look_at(eye, target):
    """The rotation (x, y, z, w) whose z axis runs from eye to target, y up."""
    f = [t - e for t, e in zip(target, eye)]
    n = math.sqrt(sum(v * v for v in f))
    f = [v / n for v in f]
    r = [f[2], 0.0, -f[0]]  # up x forward
    n = math.sqrt(sum(v * v for v in r))
    r = [v / n for v in r]
    u = [f[1] * r[2] - f[2] * r[1], f[2] * r[0] - f[0] * r[2], f[0] * r[1] - f[1] * r[0]]
    _, q, _ = proplist.decompose([r + [0], u + [0], f + [0], [0, 0, 0, 1]])
    return q


def route_connections(statements):
    """[(from name, to name)] in the source's order."""
    flags = level_items(statements, "flag")
    names = {name for name, _ in flags}
    out = []
    for name, fields in flags:
        nxt = fields.get("next", [])
        for to in nxt if isinstance(nxt, list) else [nxt]:
            if to not in names:
                raise ValueError("flag %s leads to unknown flag %s" % (name, to))
            out.append((name, to))
    return out


def walk_cells(statements):
    """The walk grid's cells: walkable (1) within the corridor of a connection, else 0."""
    _, grid = level_item(statements, "grid")
    at = {name: fields["at"] for name, fields in level_items(statements, "flag")}
    segments = [(at[a], at[b]) for a, b in route_connections(statements)]
    width, height = grid["size"]
    cell, (ox, oz), radius = float(grid["cell"]), grid["origin"], float(grid["corridor"])
    cells = bytearray(width * height)
    for cz in range(height):
        for cx in range(width):
            px, pz = ox + (cx + 0.5) * cell, oz + (cz + 0.5) * cell
            for (ax, az), (bx, bz) in segments:
                dx, dz = bx - ax, bz - az
                t = max(0.0, min(1.0, ((px - ax) * dx + (pz - az) * dz) / (dx * dx + dz * dz)))
                if math.hypot(px - ax - t * dx, pz - az - t * dz) <= radius:
                    cells[cz * width + cx] = 1
                    break
    return {"width": width, "height": height, "origin": [float(ox), 0.0, float(oz), 1.0], "cell": cell,
            "cells": cells.hex()}


def trigger_scale(size):
    return [size[0] / 2.0, TRIGGER_HEIGHT / 2.0, size[1] / 2.0]


def scene_entities(statements):
    entities = []

    def add(template, name, class_props=b"", head_props=None, **extra):
        e = {"template": GUIDS[template], "name": name, "guid": scene_guid(len(entities))}
        e.update(extra)
        if class_props:
            e["class_props"] = class_props.hex()
        if head_props is not None:
            e["head_props"] = head_props.hex()
        entities.append(e)
        return e

    def game(cls, values):
        return proplist.game_class({"class": cls, "values": values})

    compound = proplist.compound_entity({})
    active = bytes.fromhex(proplist.trigger_entity_props(True))
    add("Ground", level_item(statements, "ground")[0], pos=[0.0, 0.0, 0.0], kind="mesh")
    params = add("SceneParams", level_item(statements, "sun")[0], pos=[0.0, 0.0, 0.0])
    camera_name, camera = level_item(statements, "camera")
    add("Camera", camera_name, pos=[float(v) for v in camera["at"]],
        rot=look_at(camera["at"], camera["target"]))
    add("Camera", camera_name + "_Target", pos=[float(v) for v in camera["target"]])

    graph = add("Graph", level_item(statements, "graph")[0], pos=[0.0, 0.0, 0.0],
                class_props=proplist.graph_entity({}))
    flags = level_items(statements, "flag")
    first_flag = len(entities)
    guid_of = {name: scene_guid(first_flag + i) for i, (name, _) in enumerate(flags)}
    at = {name: fields["at"] for name, fields in flags}
    outgoing = {}
    for a, b in route_connections(statements):
        (ax, az), (bx, bz) = at[a], at[b]
        length = math.hypot(bx - ax, bz - az)
        middle = [(ax + bx) / 2.0, 0.0, (az + bz) / 2.0, length / 2.0]
        outgoing.setdefault(a, []).append({"destination": guid_of[b], "points": [middle], "length": length})
    for name, fields in flags:
        add("Flag", name, pos=ground_point(fields["at"]), parent=graph["guid"],
            class_props=proplist.flag_entity({"connections": outgoing.get(name, [])}))

    name, level = level_item(statements, "params")
    add("LevelParams", name, pos=[0.0, 0.0, 0.0], class_props=game("ZKRLevelParamsEntity", level_values(level)))
    name, player = level_item(statements, "player")
    add("PlayerMarker", name, pos=ground_point(player["at"]), head_props=compound,
        class_props=game("ZKRPlayerMarkerEntity", {"PlayerIndex": int(player["player"])}))
    for name, versus in level_items(statements, "versus"):
        template = {"squad": "VersusSquadMarker", "towers": "VersusTowersMarker"}[versus["side"]]
        add(template, name, pos=ground_point(versus["at"]), head_props=compound,
            class_props=game("ZKRVersusPlayerMarkerEntity", {"PlayerIndex": int(versus["player"]),
                                                             "LocalizedName": str(versus["text"])}))
    for name, tower in level_items(statements, "tower"):
        template = {"gun": "GunTowerMarker", "shield": "ShieldTowerMarker"}[tower["kind"]]
        add(template, name, pos=ground_point(tower["at"]), head_props=compound,
            class_props=game("ZKRTowerMarkerEntity", {
                "VisibleInCasual": bool(tower["casual"]), "VisibleInAdvanced": bool(tower["advanced"]),
                "VisibleInHardcore": bool(tower["hardcore"])}))
    for name, script in level_items(statements, "script"):
        add("MissionEnd", name, pos=ground_point(script["at"]), scale=trigger_scale(script["size"]),
            class_props=active + game("ZKRScriptTriggerEntity", {
                "ScriptName": name, "ReactToUnits": True, "FirstUnit": False, "AnyUnit": True,
                "MultipleActivation": True}))
    for name, mines in level_items(statements, "minefield"):
        add("Minefield", name, pos=ground_point(mines["at"]), scale=trigger_scale(mines["size"]),
            class_props=active + game("ZKRDamageSurfaceEntity", {"StartAtInit": True}))
    for name, area in level_items(statements, "progress"):
        add("ProgressArea", name, pos=ground_point(area["at"]), scale=trigger_scale(area["size"]),
            class_props=active + game("ZKRProgressAreaTriggerEntity", {
                "AreaIndex": int(area["area"]), "AnyUnit": True, "MultipleActivation": True}))
    add("Ribbon", level_item(statements, "ribbon")[0], pos=[0.0, 0.0, 0.0])
    for name, ambient in level_items(statements, "ambient"):
        add("Ambient", name, pos=ground_point(ambient["at"]), head_props=compound,
            class_props=game("ZKRAmbientSoundEntity", {}))
    for name, effect in level_items(statements, "effect"):
        add(str(effect.get("template", "TowerWreck")), name, pos=ground_point(effect["at"]), head_props=compound,
            class_props=game("ZKREffectEntity", {}))
    return entities, params


def level_values(level):
    """The level parameters by property name, typed as the class declares them."""
    kinds = {p: k for p, k, _ in proplist.GAME_CLASSES["ZKRLevelParamsEntity"][1]}
    out = {}
    for key, value in level.items():
        if key not in kinds:
            raise ValueError("no level parameter %s" % key)
        kind = kinds[key]
        if kind == "name":
            out[key] = ",".join(str(v) for v in value) if isinstance(value, list) else str(value)
        elif kind == "f32":
            out[key] = float(value)
        elif kind == "bool":
            out[key] = bool(value)
        else:
            out[key] = int(value)
    return out


def resource_list(shaders_def, textures):
    import sample_scene
    system = os.path.join(textures, "System")
    entries = [("Textures", "System/" + f, 0, 0) for f in sorted(os.listdir(system)) if f.lower().endswith(".dds")]
    entries += [("Textures", RIBBON_TEXTURE, 0, 0), ("Textures", sample_scene.PARTICLE_TEXTURE, 0, 0)]
    with open(shaders_def) as f:
        families = proplist.parse_description(f.read())
    for family, options in sample_scene.MESH_SHADERS + [("ZKRPath", "")]:
        entries += [("Shaders", n, 0, 0) for n in sample_scene.variant_names(families, family, options)]
    entries += [("Sounds", f, 0, 0) for files, _, _, _ in SOUND_ENTRIES.values() for f in files]
    return proplist.resource_list(entries)


# --- recipes --------------------------------------------------------------------------------

def panel(name, rect, colour, children=None):
    x, y, w, h = rect
    return {"class": "UIPictureRecipe", "Name": name, "Shader": "", "Color mode": 0, "Position": [x, y, 0, 1],
            "Size": [w, h, 0, 0], "Color": colour, "Children": children or []}


def text(name, string, x, y, size=20, localized=True, align=0):
    return {"class": "UITextRecipe", "Name": name, "Font": FONT, "Font size": size, "Text": string,
            "Localized": localized, "Horizontal alignment": align, "Vertical alignment": 1, "Pixel perfect": 0,
            "Color mode": 0, "Position": [x, y, 0, 1]}


def hud():
    """A dark panel at the top left with a row per counter: the label and the number the
    scripts set ("<Counter>Count")."""
    rows = []
    for i, counter in enumerate(HUD_COUNTERS):
        y = 16 + 32 * i
        rows += [text(counter + "Label", "Hud/" + counter, 16, y),
                 text(counter + "Count", "0", HUD_PANEL[2] - 16, y, 24, localized=False, align=1)]
    return {"Name": "Hud", "Size": [WIDTH, HEIGHT, 0, 0], "Transparent": True,
            "Children": [panel("HudPanel", HUD_PANEL, HUD_PANEL_COLOUR, rows)]}


def result():
    x, y, w, h = RESULT_PANEL
    return {"Name": "Result", "Size": [WIDTH, HEIGHT, 0, 0], "Transparent": True, "Children": [
        panel("ResultPanel", RESULT_PANEL, RESULT_PANEL_COLOUR, [
            text("ResultText", "Result/Won", w / 2, 64, 32, align=2),
            text("ScoreLabel", "Result/Score", w / 2 - 16, 150, 24, align=1),
            text("ScoreText", "0", w / 2 + 16, 150, 24, localized=False)])]}


def lobby():
    rows = [text("LobbyTitle", "Lobby/Title", WIDTH / 2, 120, 32, align=2)]
    for i in range(1, LOBBY_MEMBERS + 1):
        y = 160 + 100 * i
        rows.append(panel("Member%dRow" % i, (340, y, 600, 80), [0, 0, 0, 160, 1.0], [
            {"class": "UIPictureRecipe", "Name": "Member%dAvatar" % i, "Position": [8, 8, 0, 1],
             "Size": [64, 64, 0, 0]},
            text("Member%dName" % i, "", 88, 40, 24, localized=False),
            text("Member%dState" % i, "Lobby/Waiting", 584, 40, 20, align=1)]))
    return {"Name": "Lobby", "Size": [WIDTH, HEIGHT, 0, 0], "Children": rows}


RECIPES = {"Hud": hud, "Result": result, "Lobby": lobby}


# --- textures and sounds by the external tools ------------------------------------------------

def run(command):
    subprocess.run(command, check=True)


def make_textures(textures, convert):
    out = os.path.join(textures, FOLDER)
    os.makedirs(out, exist_ok=True)
    # Opaque over the middle 60 % of the width, fading to clear at both edges; the same
    # along the ribbon.
    run([convert, "-size", "64x64", "xc:white", "-alpha", "set", "-channel", "A", "-fx",
         "min(1,(0.5-abs((i+0.5)/w-0.5))/0.2)", "+channel", "-define", "dds:compression=none",
         "-define", "dds:mipmaps=0", os.path.join(textures, RIBBON_TEXTURE)])
    # A white arrow with a black outline, its tip at the top left pixel.
    run([convert, "-size", "32x32", "xc:none", "-fill", "white", "-stroke", "black", "-strokewidth", "1",
         "-draw", "polygon 0,0 0,22 6,17 10,27 14,25 10,16 17,16", "-type", "TrueColorAlpha", "-depth", "8",
         "-compress", "None", os.path.join(textures, CURSOR)])


def make_wind_loop(wav):
    """Cuts the wind's loop out of sox's longer stretch (see WIND_SECONDS)."""
    with wave.open(wav, "rb") as f:
        params = f.getparams()
        stretch = array.array("h", f.readframes(f.getnframes()))
    margin, n, c = (round(s * SOUND_RATE) for s in (WIND_MARGIN, WIND_SECONDS, WIND_CROSSFADE))
    x = stretch[margin:margin + n + c]
    loop = x[:n]
    for i in range(c):
        t = (i + 0.5) / c * math.pi / 2
        loop[i] = max(-32768, min(32767, round(x[i] * math.sin(t) + x[i + n] * math.cos(t))))
    with wave.open(wav, "wb") as f:
        f.setparams(params)
        f.writeframes(loop.tobytes())


def make_sounds(sounds, sox, oggenc):
    os.makedirs(sounds, exist_ok=True)
    with tempfile.TemporaryDirectory() as work:
        for entry, effects in SOUND_SYNTH.items():
            wav = os.path.join(work, entry + ".wav")
            # Repeatable: sox's noise from its fixed seed (-R), the stream's serial number
            # fixed, so every build makes the same files.
            run([sox, "-R", "-n", "-r", str(SOUND_RATE), "-b", "16", "-c", "1", wav] + effects)
            if entry == "Wind":
                make_wind_loop(wav)
            run([oggenc, "-Q", "-q", "5", "-s", "1", "-o", os.path.join(sounds, SOUND_ENTRIES[entry][0][0]), wav])


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def main(argv):
    tools = {"--convert": "convert", "--sox": "sox", "--oggenc": "oggenc"}
    args = []
    i = 1
    while i < len(argv):
        if argv[i] in tools and i + 1 < len(argv):
            tools[argv[i]] = argv[i + 1]
            i += 2
        else:
            args.append(argv[i])
            i += 1
    if len(args) != 6:
        sys.stderr.write(__doc__)
        return 2
    level, shaders_def, textures, templates_out, scenes_out, sounds_out = args
    with open(level, encoding="utf-8") as f:
        statements = read_level(f.read())

    for name, data in templates(statements).items():
        write(os.path.join(templates_out, FOLDER, name + ".BinaryTemplate"), data)
    for name, guid in UI_TEMPLATES:
        write(os.path.join(templates_out, UI_FOLDER, name + ".BinaryTemplate"),
              recipes.binary_template({"guid": guid, "recipe": RECIPES[name]()}))

    entities, params = scene_entities(statements)
    scene = {"root": {"active": params["guid"]}, "entities": entities, "grid": walk_cells(statements)}
    write(os.path.join(scenes_out, "Outpost.BinaryScene"), proplist.binary_scene(scene))
    make_textures(textures, tools["--convert"])
    make_sounds(sounds_out, tools["--sox"], tools["--oggenc"])
    write(os.path.join(scenes_out, "Outpost.ResList"), resource_list(shaders_def, textures))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
