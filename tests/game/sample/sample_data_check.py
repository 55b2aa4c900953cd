#!/usr/bin/env python3
"""The sample game's data as the build staged it, read back independently: every game
template and the scene "Outpost" decoded with proplist.py's readers (each list read to its
last byte) and compared with the level source; the recipes' strings found in the strings
file; the sounds measured by sox and the textures by ImageMagick.

  sample_data_check.py <build folder>
"""
import os
import subprocess
import sys

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..")
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
sys.path.insert(0, os.path.join(ROOT, "tools", "sampledata"))
import proplist  # noqa: E402
import recipes  # noqa: E402
import sample_game  # noqa: E402

# What each sound must be: length in seconds (None: at least one), its frequency by sox's
# rough estimate (a band for the noise), in the words of the game's sound design.
SOUNDS = {"Wind": (None, (300, 3000)), "Shot": (0.05, 880), "Explosion": (0.4, 80), "Won": (None, None),
          "Lost": (None, None)}
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def engine_base(cls):
    while cls in proplist.GAME_CLASSES:
        cls = proplist.GAME_CLASSES[cls][0]
    return cls


def decode_template(data):
    """(type, class, EntityTemplate values, compound list or None, game values)."""
    t = proplist.read_binary_template(data)
    cls = proplist.GAME_TEMPLATE_CLASSES[t["type"]]
    r = proplist.ListReader(t["props"])
    compound = proplist.read_compound_template(r) if engine_base(cls) == "CompoundTemplate" else None
    props = proplist.read_template_properties(r)
    if engine_base(cls) == "TriggerTemplate":
        r.take(8)  # shape and mode
    values = proplist.read_game_class(r, cls)
    check(r.left() == 0, "%s: %d bytes after the game class" % (cls, r.left()))
    return t["type"], cls, props, compound, values


def decode_entity(entity, classes):
    """(class, Entity values, game values or the rest's bytes)."""
    cls = classes.get(entity["template"])
    r = proplist.ListReader(entity["props"])
    if cls and engine_base(cls) == "CompoundTemplate":
        proplist.read_compound_entity(r)
    values = proplist.read_entity_properties(r)
    if cls is None:
        return None, values, r
    entity_class = cls.replace("Template", "Entity")
    if engine_base(cls) == "TriggerTemplate":
        check(r.boolean(), values["name"] + " is not active")
    game = proplist.read_game_class(r, entity_class)
    check(r.left() == 0, "%s: %d bytes after the game class" % (values["name"], r.left()))
    return entity_class, values, game


def near(a, b, tolerance=1e-3):
    return all(abs(x - y) <= tolerance for x, y in zip(a, b)) and len(a) == len(b)


def tool(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True)


def main(argv):
    stage = os.path.join(argv[1], "sample_data")
    if not os.path.isfile(os.path.join(argv[1], "app", "templates.dat")):
        print("no sample data: build the target sample_data first")
        return 1
    with open(os.path.join(ROOT, "data", "scenes", "Outpost", "Outpost.level"), encoding="utf-8") as f:
        level = sample_game.read_level(f.read())
    items = {name: (keyword, fields) for keyword, name, fields in level}

    # The catalogue names every game template; each file decodes to its catalogued type.
    info = proplist.read_template_info(read(os.path.join(stage, "templates", "TemplateInfo.Bin")))
    stubs = {s["guid"]: s for s in info["stubs"]}
    folders = {f["name"]: f["guids"] for f in info["root"]["folders"]}
    game, classes = {}, {}
    for guid in folders.get("Outpost", []):
        stub = stubs[guid]
        data = read(os.path.join(stage, "templates", "Outpost", stub["file"] + ".BinaryTemplate"))
        check(proplist.read_binary_template(data)["guid"] == guid, stub["file"] + ": GUID")
        if stub["type"] in proplist.GAME_TEMPLATE_CLASSES:
            game[stub["file"]] = decode_template(data)
            check(game[stub["file"]][0] == stub["type"], stub["file"] + ": type")
            classes[guid] = game[stub["file"]][1]
    check(len(game) == 17, "%d game templates" % len(game))  # with the three event effects
    named = {"Outpost/" + stubs[g]["file"] for g in folders.get("Outpost", [])}

    def entity_template(name):
        return proplist.read_template_properties(proplist.ListReader(proplist.read_binary_template(
            read(os.path.join(stage, "templates", name + ".BinaryTemplate")))["props"]))

    # The gun tower's body red, the shield tower's blue, as the source says.
    for kind, tower, channel in (("gun", "GunTower", 0), ("shield", "ShieldTower", 2)):
        _, cls, props, compound, _ = game[tower]
        body = compound["elements"][0]["template"]
        check(props["lua_class"] == tower and body in named, tower + ": script class or body")
        colour = entity_template(body)["color"][:3]
        check(colour == list(items[kind][1]["color"]) and max(colour) == colour[channel], tower + ": body colour")
        marker = game[tower + "Marker"][4]
        check(marker["TowerTemplateName"] == "Outpost/" + tower, tower + "Marker: tower template")
    hero = game["PlayerMarker"][4]["HeroTemplateName"]
    walker = entity_template(hero)
    check(hero == items["SquadStart"][1]["hero"] and walker["lua_class"] == "SquadUnit" and
          walker["activates_triggers"], "the walker template " + hero)
    ribbon = game["Ribbon"][4]
    check(ribbon["Texture file name"] == items["Route"][1]["texture"] and
          ribbon["Color"][:3] == list(items["Route"][1]["color"]), "the ribbon's texture and colour")
    check(os.path.isfile(os.path.join(stage, "textures", ribbon["Texture file name"])), "the ribbon's texture file")
    entry = game["Ambient"][4]["SoundEntryName"]
    check(entry == items["Wind"][1]["entry"] and os.path.isfile(os.path.join(stage, "sounds", entry + ".ogg")),
          "the ambient sound's entry")
    mines = game["Minefield"][4]
    check(mines["DamagePerSec"] == items["Minefield"][1]["dps"] and mines["DamageType"] == "Mine", "the minefield")
    check(game["Minefield"][2]["lua_class"] == "Minefield" and game["MissionEnd"][2]["lua_class"] == "MissionEnd",
          "the triggers' script classes")
    check(game["TowerWreck"][3]["elements"][0]["template"] in named, "the wreck's smoke element")

    # The scene: every level statement's entity, by name, with the source's values.
    scene = proplist.read_binary_scene(read(os.path.join(stage, "scenes", "Outpost.BinaryScene")))
    entities = {}
    for e in scene["entities"]:
        cls, values, own = decode_entity(e, classes)
        entities[values["name"]] = (cls, values, own, stubs[e["template"]]["file"])
    for name, (keyword, fields) in items.items():
        if keyword in ("towerbody", "grid"):
            continue
        check(name in entities, "no entity " + name)
        if name in entities and "at" in fields and keyword not in ("camera",):
            at = entities[name][1]["pos"]
            check(near([at[0], at[2]], fields["at"]), name + ": position")
    params = entities["LevelParams"][2]
    for key, value in items["LevelParams"][1].items():
        want = ",".join(value) if isinstance(value, list) else value
        check(params[key] == want, "LevelParams %s: %r, not %r" % (key, params[key], want))
    check(params["Count_Airstrike"] == 2 and params["Count_Repair"] == 1 and params["TimeLimit"] == 120,
          "the mission's counts and time limit")
    for name, (keyword, fields) in items.items():
        cls, values, own, template = entities.get(name, (None, None, None, None))
        if keyword == "tower":
            check(cls == "ZKRTowerMarkerEntity" and template ==
                  {"gun": "GunTowerMarker", "shield": "ShieldTowerMarker"}[fields["kind"]], name + ": marker kind")
            for level_key, prop in (("casual", "VisibleInCasual"), ("advanced", "VisibleInAdvanced"),
                                    ("hardcore", "VisibleInHardcore")):
                check(own[prop] == bool(fields[level_key]), "%s: %s" % (name, prop))
        elif keyword == "versus":
            check(cls == "ZKRVersusPlayerMarkerEntity" and own["LocalizedName"] == fields["text"] and
                  own["PlayerIndex"] == fields["player"], name + ": versus marker")
        elif keyword == "script":
            check(cls == "ZKRScriptTriggerEntity" and own["ScriptName"] == name, name + ": script name")
        elif keyword == "minefield":
            check(cls == "ZKRDamageSurfaceEntity" and own["StartAtInit"], name + ": damage surface")
        elif keyword == "progress":
            check(cls == "ZKRProgressAreaTriggerEntity" and own["AreaIndex"] == fields["area"], name + ": area")
        elif keyword in ("ambient", "effect", "ribbon", "player"):
            want = {"ambient": "ZKRAmbientSoundEntity", "effect": "ZKREffectEntity",
                    "ribbon": "ZKRPathRendererEntity", "player": "ZKRPlayerMarkerEntity"}[keyword]
            check(cls == want, "%s: %s, not %s" % (name, cls, want))
    check(scene["root"]["active"] == entities["Sun"][1]["guid"], "the scene parameters are not the active set")

    # The route: every flag a child of the graph, connected as the source says; the walk
    # grid walkable under every flag and not in its far corners.
    guids = {v["guid"]: n for n, (_, v, _, _) in entities.items()}
    for name, (keyword, fields) in items.items():
        if keyword != "flag":
            continue
        _, values, rest, _ = entities[name]
        check(guids.get(values["parent"]) == "RouteGraph", name + ": not in the graph")
        connections = proplist.read_flag_entity(rest)
        nxt = fields.get("next")
        check([guids.get(c["destination"]) for c in connections] == ([nxt] if nxt else []), name + ": connections")
        grid = scene["grid"]
        cx = int((fields["at"][0] - grid["origin"][0]) / grid["cell"])
        cz = int((fields["at"][1] - grid["origin"][2]) / grid["cell"])
        check(grid["cells"][cz * grid["width"] + cx] == 1, name + ": not walkable")
    cells = scene["grid"]["cells"]
    check(cells[0] == 0 and cells[-1] == 0 and 0 < sum(cells) < len(cells) // 2, "the walk grid's corridor")

    # The resources: the scene's list preloads the sounds and the ribbon's texture.
    listed = proplist.read_resource_list(read(os.path.join(stage, "scenes", "Outpost.ResList")))
    check({n for k, n, _, _ in listed if k == "Sounds"} == {s + ".ogg" for s in SOUNDS}, "the listed sounds")
    check(("Textures", ribbon["Texture file name"], 0, 0) in listed, "the ribbon's texture is not listed")
    check(any(k == "Shaders" and n.startswith("ZKRPath/") for k, n, _, _ in listed), "no ribbon shader listed")

    # The recipes: the counters the scripts set, and every localised text in the strings file.
    strings = read(os.path.join(stage, "common", "L01n.bin"))
    count = int.from_bytes(strings[4:8], "little")
    paths = set(strings[8:8 + count].decode().split("\0"))

    def walk(recipe):
        yield recipe
        for child in recipe.get("Children", []):
            yield from walk(child)
    for ui in ("Hud", "Result", "Lobby"):
        elements = list(walk(recipes.decode_template(
            read(os.path.join(stage, "templates", "UI", ui + ".BinaryTemplate")))["recipe"]))
        for el in elements:
            if el.get("Localized"):
                check(el["Text"] in paths, "%s: no string %s" % (ui, el["Text"]))
        names = {el["Name"] for el in elements}
        want = {"Hud": ["SurvivorsCount", "TowersCount", "SecondsCount", "AirstrikesCount"],
                "Result": ["ResultPanel", "ResultText", "ScoreText"],
                "Lobby": ["Member1Name", "Member1Avatar", "Member2Name", "Member2Avatar"]}[ui]
        check(set(want) <= names, "%s lacks %s" % (ui, sorted(set(want) - names)))
    # The mission's title and the profile's three distinction types.
    for string in ("Versus/Squad", "Versus/Towers", "Mission/M01", "Medal/Celerity", "Medal/Ruthlessness",
                   "Medal/Efficiency"):
        check(string in paths, "no string " + string)

    # Sounds, by sox: 48 kHz mono, the lengths and pitches asked for, never full scale; the
    # wind's energy inside its band.
    for entry, (length, pitch) in SOUNDS.items():
        path = os.path.join(stage, "sounds", entry + ".ogg")
        rate, channels = tool("sox", "--i", "-r", path).stdout.strip(), tool("sox", "--i", "-c", path).stdout.strip()
        seconds = float(tool("sox", "--i", "-D", path).stdout)
        check(rate == "48000" and channels == "1", "%s: %s Hz, %s channels" % (entry, rate, channels))
        check(abs(seconds - length) < 0.005 if length else seconds >= 1.0 if entry == "Wind" else 0.2 < seconds < 2,
              "%s: %.3f s" % (entry, seconds))
        stat = {line.split(":")[0].strip(): line.split(":")[1] for line in
                tool("sox", path, "-n", "stat").stderr.splitlines() if ":" in line}
        check(float(stat["Maximum amplitude"]) < 0.5, entry + ": too loud")
        rough = float(stat["Rough   frequency"])
        if isinstance(pitch, tuple):
            check(pitch[0] < rough < pitch[1], "%s: rough frequency %d" % (entry, rough))
        elif pitch:
            check(abs(rough - pitch) < 0.15 * pitch, "%s: rough frequency %d, not %d" % (entry, rough, pitch))

    def rms(*effects):
        lines = tool("sox", os.path.join(stage, "sounds", "Wind.ogg"), "-n", *effects, "stat").stderr.splitlines()
        return float(next(line for line in lines if line.startswith("RMS     amplitude")).split(":")[1])
    whole = rms()
    check(rms("sinc", "-200") < 0.1 * whole and rms("sinc", "4000") < 0.1 * whole, "the wind leaks out of its band")

    # Textures, by ImageMagick: the ribbon an uncompressed DDS with alpha, the cursor a
    # 32 x 32 uncompressed 32-bit TGA whose tip (the hotspot) is opaque.
    ribbon_file = os.path.join(stage, "textures", ribbon["Texture file name"])
    check(tool("identify", "-format", "%m %w %h %A", ribbon_file).stdout in ("DDS 64 64 Blend", "DDS 64 64 True"),
          "the ribbon texture")
    cursor = os.path.join(stage, "textures", sample_game.CURSOR)
    check(tool("identify", "-format", "%m %w %h", cursor).stdout == "TGA 32 32", "the cursor's size")
    header = read(cursor)[:18]
    check(header[2] == 2 and header[16] == 32, "the cursor is not uncompressed 32-bit")
    x, y = sample_game.CURSOR_HOTSPOT
    tip = tool("convert", cursor, "-format", "%%[fx:p{%d,%d}.a]" % (x, y), "info:").stdout
    corner = tool("convert", cursor, "-format", "%[fx:p{31,0}.a]", "info:").stdout
    check(float(tip) == 1.0 and float(corner) == 0.0, "the cursor's tip %s, corner %s" % (tip, corner))

    for f in failures:
        print("FAILED: " + f)
    print("%d checks failed" % len(failures) if failures else "the sample game's data is as its sources say")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
