#!/usr/bin/env python3
"""The sample mission's saved frames against the level and the recipes.

  mission_pictures_check.py check <build folder> <log> <frames folder> <last frame> <out folder>
  mission_pictures_check.py same <frames folder> <frames folder> <out folder>
  mission_pictures_check.py hud <build folder> <frames folder> <out folder>

check: in the first saved frame at least 30 steps after the mission's start, the route
samples the log gives lie on the ribbon (a pixel of its colour within 3 pixels of at least
80 % of them), each logged tower stands in its body colour (a majority of a 5 x 5 block
nearer its hue than the ground's), the open ground and each tower's block show the colours
the lighting formula gives (within 10 %: the ground's top, and for a tower a majority of
its block near one of its lit faces) and the HUD's counters hold text (at least 2 % of their
rectangles brighter than 200 in every channel); in every saved frame, every living tower
and walker the log places on the screen at that step ("Living at step S: NAME,X,Y ...") is
drawn: at least 4 pixels of an 11 x 11 block around its place are neither ground, ribbon nor
a mix of the two (the block allows for the frames the picture lags behind the step), except
near the frame's edges and under the HUD's panel; each walker's first logged place lies on
the route (within 10 pixels of the polyline of its logged samples); every event the log shows ("Event KIND
NAME at step S screen X Y") shows in the saved frames of its time: a gun's shot and a
walker's shot (bright pixels near the place from 5 to 10 steps on), a tower's blast and an
airstrike (from 5 to 24 steps on), a tower's wreck (its dark rubble in the first frame 30
steps on, when the blast has faded); shots, walkers' shots, blasts and wrecks each are seen at least once; the last frame shows the result panel in its colour over at
least 90 % of its rectangle. Colours come from the level source, rectangles from the
recipe templates the build made; the recipes' screen is fitted into the frame keeping its
proportions, centred.
same: the frames both folders hold equal within 8 per channel on at least 99.5 % of their
pixels.
hud: of frames saved one a frame from the mission's start, the first whose HUD counters all
hold text shows the mission's values, not the recipe's: each counter but the seconds left
is the same (as "same" compares) in the frame 5 frames later.
A failure writes the picture with the expected places marked to the out folder and names it.
Pictures are read with ImageMagick's convert.
"""
import os
import re
import subprocess
import sys

import numpy as np

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..")
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
sys.path.insert(0, os.path.join(ROOT, "tools", "sampledata"))
import recipes  # noqa: E402
import sample_game  # noqa: E402

LEVEL = os.path.join(ROOT, "data", "scenes", "Outpost", "Outpost.level")
STEPS_AFTER_START = 30
RIBBON_REACH, RIBBON_TOLERANCE, RIBBON_SHARE = 3, 48, 0.8
TOWER_BLOCK = 5
GREY_SPREAD = 16  # pixels whose channels lie closer than this are grey
TEXT_BRIGHTNESS, TEXT_SHARE = 200, 0.02
COUNTER_DIGITS = 3
PANEL_TOLERANCE, PANEL_SHARE = 16, 0.9
SAME_TOLERANCE, SAME_SHARE = 8, 0.995
# The HUD's first frame against the frame this many later; the counter that changes by then.
HUD_LATER, HUD_CHANGING = 5, ("SecondsCount",)
LIT_SHARE, LIT_FLOOR = 0.1, 8  # within 10 % of the formula's value (at least 8 levels)
GROUND_SPOT = (0.5, 0.85)
LIVING_REACH, LIVING_PIXELS, LIVING_DISTANCE = 5, 4, 40
# A walker's first logged place lies this near the polyline of the logged route samples
# (it stands 0.8 above the ground the samples lie on, and the samples cut the curves).
WALKER_ROUTE_REACH = 10
# Event kind: (first and last step after the event a frame shows it, what shows: bright
# fire or dark rubble); the picture lags the step by about two steps and the particles
# need a step or two to gather, and a wreck's rubble shows once the blast over it has faded.
EVENT_SHOWS = {"shot": (5, 10, "bright"), "fire": (5, 10, "bright"), "blast": (5, 24, "bright"),
               "airstrike": (5, 24, "bright"), "wreck": (30, None, "dark")}
EVENTS_REQUIRED = ("shot", "fire", "blast", "wreck")
EVENT_REACH, BRIGHT_LEVEL, BRIGHT_PIXELS, DARK_LEVEL, DARK_PIXELS = 8, 230, 8, 70, 20  # a place of open ground, as shares of the frame's width and height
MARK = np.array([255, 0, 255], np.uint8)
failures = []


def read_png(path):
    """The picture as a height x width x 3 array of bytes."""
    size = subprocess.run(["identify", "-format", "%w %h", path], check=True, capture_output=True, text=True)
    width, height = (int(v) for v in size.stdout.split())
    raw = subprocess.run(["convert", path, "-depth", "8", "rgb:-"], check=True, capture_output=True).stdout
    if len(raw) != width * height * 3:
        raise ValueError("%s: %d bytes for %d x %d" % (path, len(raw), width, height))
    return np.frombuffer(raw, np.uint8).reshape(height, width, 3)


def write_png(pixels, path):
    h, w, _ = pixels.shape
    subprocess.run(["convert", "-size", "%dx%d" % (w, h), "-depth", "8", "rgb:-", path], input=pixels.tobytes(),
                   check=True)


def fail(what, pixels, marks, out, name):
    """Notes a failure; the picture with the marked pixels (ys, xs) goes to out/name."""
    os.makedirs(out, exist_ok=True)
    path = os.path.join(out, name)
    picture = np.array(pixels)
    ys, xs = marks
    picture[np.clip(ys, 0, picture.shape[0] - 1), np.clip(xs, 0, picture.shape[1] - 1)] = MARK
    write_png(picture, path)
    failures.append("%s (marked picture: %s)" % (what, path))


def box_outline(x0, y0, x1, y1):
    xs = np.arange(x0, x1 + 1)
    ys = np.arange(y0, y1 + 1)
    return (np.concatenate([np.full(xs.size, y0), np.full(xs.size, y1), ys, ys]),
            np.concatenate([xs, xs, np.full(ys.size, x0), np.full(ys.size, x1)]))


def level_colours():
    with open(LEVEL, encoding="utf-8") as f:
        statements = sample_game.read_level(f.read())
    _, ground = sample_game.level_item(statements, "ground")
    _, ribbon = sample_game.level_item(statements, "ribbon")
    bodies = {name: fields["color"] for name, fields in sample_game.level_items(statements, "towerbody")}
    kinds = {name: fields["kind"] for name, fields in sample_game.level_items(statements, "tower")}
    towers = {name: np.array(bodies[kind], float) for name, kind in kinds.items()}
    return np.array(ground["color"], float), np.array(ribbon["color"], float), towers


def level_sun():
    """The sun's direction toward the light (world) and its linear colour."""
    with open(LEVEL, encoding="utf-8") as f:
        statements = sample_game.read_level(f.read())
    _, sun = sample_game.level_item(statements, "sun")
    yaw, pitch = np.radians(float(sun["yaw"])), np.radians(float(sun["pitch"]))
    # (0, 0, 1) turned about X by the pitch, then about Y by the yaw (row vectors); the
    # light travels along it.
    travel = np.array([np.cos(pitch) * np.sin(yaw), -np.sin(pitch), np.cos(pitch) * np.cos(yaw)])
    r, g, b, intensity = (float(v) for v in sun["color"])
    return -travel, (np.array([r, g, b]) / 255.0 * intensity) ** 2.2


def srgb_encode(v):
    v = np.clip(v, 0.0, 1.0)
    return np.where(v <= 0.0031308, v * 12.92, 1.055 * v ** (1 / 2.4) - 0.055)


def lit(colour, normal, toward, sun):
    """The frame's byte colour of a face: its colour as linear light (power 2.2), times the
    sun's, times the cosine toward the sun, through the straight tone curve and lookup,
    written with sRGB encoding."""
    facing = max(0.0, float(np.dot(normal, toward)))
    return srgb_encode((np.asarray(colour, float) / 255.0) ** 2.2 * sun * facing) * 255.0


def near_lit(pixels, want):
    return np.all(np.abs(pixels.astype(float) - want) <= np.maximum(LIT_SHARE * want, LIT_FLOOR), axis=-1)


# The faces of a tower's box the camera sees: its top, its front (toward the camera at -Z)
# and its sides.
TOWER_FACES = [np.array(n, float) for n in ((0, 1, 0), (0, 0, -1), (-1, 0, 0), (1, 0, 0))]


def check_lighting(pixels, towers, colours, ground, out):
    toward, sun = level_sun()
    h, w = pixels.shape[:2]
    x, y = int(GROUND_SPOT[0] * w), int(GROUND_SPOT[1] * h)
    want = lit(ground, TOWER_FACES[0], toward, sun)
    spot = pixels[y - 2:y + 3, x - 2:x + 3].reshape(-1, 3)
    if not near_lit(spot, want).all():
        fail("the ground at %d %d is %s, the lighting gives %s" % (x, y, spot[0].tolist(), np.round(want).tolist()),
             pixels, box_outline(x - 3, y - 3, x + 3, y + 3), out, "ground-lit.png")
    r = TOWER_BLOCK // 2
    for name, tx, ty in towers:
        block = pixels[max(0, ty - r):ty + r + 1, max(0, tx - r):tx + r + 1].reshape(-1, 3)
        faces = [lit(colours[name], n, toward, sun) for n in TOWER_FACES]
        matched = np.zeros(len(block), bool)
        for want in faces:
            matched |= near_lit(block, want)
        if block.size == 0 or matched.sum() * 2 <= len(block):
            fail("tower %s at %d %d: %d of its block near a lit face (%s)" %
                 (name, tx, ty, matched.sum(), [np.round(f).tolist() for f in faces]), pixels,
                 box_outline(tx - r - 1, ty - r - 1, tx + r + 1, ty + r + 1), out, "tower-lit-%s.png" % name)


def living_places(log):
    """{step: [(name, x, y)]} of the log's "Living at step" lines."""
    out = {}
    for m in re.finditer(r"Living at step (\d+): ([^\n]*)", log):
        places = []
        for item in m.group(2).split():
            name, x, y = item.split(",")
            places.append((name, int(x), int(y)))
        out[int(m.group(1))] = places
    return out


def check_living(build, log, frames, ground, ribbon, out):
    places = living_places(log)
    steps = [s for s in frame_steps(frames) if s in places]
    if not steps:
        failures.append("no saved frame has a \"Living at step\" line")
        return
    toward, sun = level_sun()
    sand = lit(ground, TOWER_FACES[0], toward, sun)
    line = ribbon - sand
    x, y, w, h, _, screen = recipe_panel(build, "Hud", "HudPanel")
    for step in steps:
        pixels = read_png(os.path.join(frames, "frame-%06d.png" % step))
        hx0, hy0, hx1, hy1 = fitted((x, y, w, h), screen, pixels.shape)
        height, width = pixels.shape[:2]
        r = LIVING_REACH
        for name, px, py in places[step]:
            if not (r < px < width - 1 - r and r < py < height - 1 - r):
                continue
            if hx0 - r <= px <= hx1 + r and hy0 - r <= py <= hy1 + r:
                continue
            block = pixels[py - r:py + r + 1, px - r:px + r + 1].reshape(-1, 3).astype(float)
            # Distance from the colours between the lit ground and the ribbon (its glow).
            t = np.clip((block - sand) @ line / (line @ line), 0.0, 1.0)
            apart = np.linalg.norm(block - (sand + t[:, None] * line), axis=1) > LIVING_DISTANCE
            if apart.sum() < LIVING_PIXELS:
                fail("step %d: %s at %d %d is not drawn (%d pixels apart from the ground)" %
                     (step, name, px, py, apart.sum()), pixels, box_outline(px - r, py - r, px + r, py + r), out,
                     "missing-%s-%06d.png" % (name, step))


def route_distance(points, x, y):
    """Distance in pixels from (x, y) to the polyline through the route samples."""
    p = np.array([x, y], float)
    best = float("inf")
    for a, b in zip(points, points[1:] or points):
        a, b = np.array(a, float), np.array(b, float)
        ab = b - a
        t = 0.0 if not ab.any() else float(np.clip((p - a) @ ab / (ab @ ab), 0.0, 1.0))
        best = min(best, float(np.linalg.norm(p - (a + t * ab))))
    return best


def check_walkers_start(log, points, frames, out):
    """Each walker's first logged place lies on the route: the squad enters on the ribbon."""
    places = living_places(log)
    first = {}
    for step in sorted(places):
        for name, x, y in places[step]:
            if name.startswith("Walker") and name not in first:
                first[name] = (step, x, y)
    if not first:
        failures.append("the log places no walker on the screen")
    saved = frame_steps(frames)
    for name, (step, x, y) in sorted(first.items()):
        distance = route_distance(points, x, y)
        if distance <= WALKER_ROUTE_REACH:
            continue
        what = "%s first logged at step %d at %d %d, %.0f pixels off the route" % (name, step, x, y, distance)
        later = [f for f in saved if f >= step]
        if not later:
            failures.append(what)
            continue
        r = LIVING_REACH
        fail(what + " (frame %d)" % later[0], read_png(os.path.join(frames, "frame-%06d.png" % later[0])),
             box_outline(x - r, y - r, x + r, y + r), out, "walker-start-%s.png" % name)


def check_events(log, frames, out):
    events = [(m.group(1), m.group(2), int(m.group(3)), int(m.group(4)), int(m.group(5)))
              for m in re.finditer(r"Event (\w+) (\w+) at step (\d+) screen (-?\d+) (-?\d+)", log)]
    saved = frame_steps(frames)
    seen = set()
    r = EVENT_REACH
    for kind, name, step, x, y in events:
        if kind not in EVENT_SHOWS:
            failures.append("event of an unknown kind: %s" % kind)
            continue
        first, last, what = EVENT_SHOWS[kind]
        shown = [f for f in saved if f >= step + first and (last is None or f <= step + last)]
        if last is None:
            shown = shown[:1]
        for f in shown:
            pixels = read_png(os.path.join(frames, "frame-%06d.png" % f))
            block = pixels[max(0, y - r):y + r + 1, max(0, x - r):x + r + 1].astype(int)
            if what == "bright":
                count, need = int((block.min(axis=-1) > BRIGHT_LEVEL).sum()), BRIGHT_PIXELS
            else:
                count, need = int((block.max(axis=-1) < DARK_LEVEL).sum()), DARK_PIXELS
            if count < need:
                fail("%s %s at step %d does not show at %d %d in frame %d (%d %s pixels)" %
                     (kind, name, step, x, y, f, count, what), pixels, box_outline(x - r, y - r, x + r, y + r), out,
                     "event-%s-%s-%06d.png" % (kind, name, f))
            seen.add(kind)
    for kind in EVENTS_REQUIRED:
        if kind not in seen:
            failures.append("no saved frame shows a %s event" % kind)


def recipe_panel(build, screen, panel):
    """(x, y, width, height, colour) of a named panel of a built recipe template."""
    path = os.path.join(build, "sample_data", "templates", sample_game.UI_FOLDER, screen + ".BinaryTemplate")
    with open(path, "rb") as f:
        root = recipes.decode_template(f.read())["recipe"]
    found = [c for c in root["Children"] if c["Name"] == panel]
    if len(found) != 1:
        raise ValueError("%s: no panel %s" % (path, panel))
    p = found[0]
    return p["Position"][0], p["Position"][1], p["Size"][0], p["Size"][1], np.array(p["Color"][:3], float), \
        root["Size"][:2]


def fitted(rect, screen, shape):
    """The recipe rectangle in frame pixels (x0, y0, x1, y1, inclusive)."""
    x, y, w, h = rect
    height, width = shape[:2]
    scale = min(width / screen[0], height / screen[1])
    ox, oy = (width - screen[0] * scale) / 2, (height - screen[1] * scale) / 2
    return (int(round(ox + x * scale)), int(round(oy + y * scale)), int(round(ox + (x + w) * scale)) - 1,
            int(round(oy + (y + h) * scale)) - 1)


def near(pixels, colour, tolerance):
    return np.all(np.abs(pixels.astype(int) - colour) <= tolerance, axis=-1)


def log_places(log):
    start = re.search(r"Mission M01 started at step (\d+)", log)
    route = re.search(r"Route on screen:((?: -?\d+,-?\d+)*)", log)
    towers = [(m.group(1), int(m.group(2)), int(m.group(3)))
              for m in re.finditer(r"Tower (\w+) at screen (-?\d+) (-?\d+)", log)]
    if not start or not route:
        raise ValueError("the log has no mission start or no route line")
    points = [tuple(int(v) for v in p.split(",")) for p in route.group(1).split()]
    return int(start.group(1)), points, towers


def frame_steps(folder):
    return sorted(int(m.group(1)) for m in (re.match(r"frame-(\d+)\.png$", f) for f in os.listdir(folder)) if m)


def check_ribbon(pixels, points, ribbon, out):
    cyan = near(pixels, ribbon, RIBBON_TOLERANCE)
    h, w = cyan.shape
    r = RIBBON_REACH
    hits = [bool(cyan[max(0, y - r):y + r + 1, max(0, x - r):x + r + 1].any()) if 0 <= x < w and 0 <= y < h
            else False for x, y in points]
    if not points or sum(hits) < RIBBON_SHARE * len(points):
        outlines = [box_outline(x - r, y - r, x + r, y + r) for (x, y), hit in zip(points, hits) if not hit]
        marks = (np.concatenate([o[0] for o in outlines]), np.concatenate([o[1] for o in outlines])) \
            if outlines else (np.zeros(0, int), np.zeros(0, int))
        fail("the ribbon covers %d of %d route samples" % (sum(hits), len(points)), pixels, marks, out,
             "ribbon-missed.png")


def hue(colours):
    """Hue in degrees of each colour (rows of r, g, b); NaN for greys, which have none."""
    c = np.asarray(colours, float).reshape(-1, 3)
    r, g, b = c[:, 0], c[:, 1], c[:, 2]
    out = np.degrees(np.arctan2(np.sqrt(3.0) * (g - b), 2 * r - g - b)) % 360
    out[c.max(axis=1) - c.min(axis=1) < GREY_SPREAD] = np.nan
    return out


def hue_distance(a, b):
    d = np.abs(a - b) % 360
    return np.minimum(d, 360 - d)


def check_towers(pixels, towers, colours, ground, out):
    # Compared by hue: the sun's light and the shading of the sides darken both the
    # ground and the towers far from their colours' values, but keep their hues apart.
    h = TOWER_BLOCK // 2
    for name, x, y in towers:
        block = hue(pixels[max(0, y - h):y + h + 1, max(0, x - h):x + h + 1])
        body, sand = hue(colours[name])[0], hue(ground)[0]
        nearer = np.sum(hue_distance(block, body) < hue_distance(block, sand))
        if block.size == 0 or nearer * 2 <= TOWER_BLOCK * TOWER_BLOCK:
            fail("tower %s at %d %d: %d of its block in its body colour" % (name, x, y, nearer), pixels,
                 box_outline(x - h - 1, y - h - 1, x + h + 1, y + h + 1), out, "tower-%s.png" % name)


def counter_boxes(build):
    """The HUD counters' rectangles in recipe pixels (x, y, width, height): a counter's text
    is aligned right and bottom on its anchor, so its box ends there, COUNTER_DIGITS font
    sizes wide and one high."""
    path = os.path.join(build, "sample_data", "templates", sample_game.UI_FOLDER, "Hud.BinaryTemplate")
    with open(path, "rb") as f:
        root = recipes.decode_template(f.read())["recipe"]
    boxes = []
    for p in root["Children"]:
        for c in p["Children"]:
            if c["Name"].endswith("Count"):
                size = c["Font size"]
                x, y = p["Position"][0] + c["Position"][0], p["Position"][1] + c["Position"][1]
                boxes.append((c["Name"], (x - COUNTER_DIGITS * size, y - size, COUNTER_DIGITS * size, size)))
    if not boxes:
        raise ValueError("%s: no counters" % path)
    return boxes, root["Size"][:2]


def check_hud(pixels, build, out):
    boxes, screen = counter_boxes(build)
    bright, marks = [], ([], [])
    for _, rect in boxes:
        x0, y0, x1, y1 = fitted(rect, screen, pixels.shape)
        bright.append(np.all(pixels[y0:y1 + 1, x0:x1 + 1] > TEXT_BRIGHTNESS, axis=-1).ravel())
        ys, xs = box_outline(x0, y0, x1, y1)
        marks[0].append(ys)
        marks[1].append(xs)
    bright = np.concatenate(bright)
    if bright.size == 0 or bright.mean() < TEXT_SHARE:
        fail("the HUD's counters hold %.1f %% text pixels" % (100 * bright.mean() if bright.size else 0), pixels,
             (np.concatenate(marks[0]), np.concatenate(marks[1])), out, "hud.png")


def counter_text_share(pixels, rect, screen):
    x0, y0, x1, y1 = fitted(rect, screen, pixels.shape)
    area = pixels[y0:y1 + 1, x0:x1 + 1]
    return float(np.all(area > TEXT_BRIGHTNESS, axis=-1).mean()) if area.size else 0.0


def first_hud(build, frames, out):
    """The first saved frame whose counters hold text shows the mission's values: its
    counters that stay the same early in the mission (all but the seconds left) match the
    frame HUD_LATER frames on."""
    boxes, screen = counter_boxes(build)
    saved = frame_steps(frames)
    read = lambda f: read_png(os.path.join(frames, "frame-%06d.png" % f))
    first = next((f for f in saved if all(counter_text_share(read(f), rect, screen) > 0 for _, rect in boxes)), None)
    if first is None:
        failures.append("no saved frame shows the HUD's counters")
        return
    if first + HUD_LATER not in saved:
        failures.append("frame %d, %d after the HUD's first (%d), is not saved" % (first + HUD_LATER, HUD_LATER, first))
        return
    pixels, later = read(first), read(first + HUD_LATER)
    for name, rect in boxes:
        if name in HUD_CHANGING:
            continue
        x0, y0, x1, y1 = fitted(rect, screen, pixels.shape)
        a, b = pixels[y0:y1 + 1, x0:x1 + 1].astype(int), later[y0:y1 + 1, x0:x1 + 1].astype(int)
        same = np.all(np.abs(a - b) <= SAME_TOLERANCE, axis=-1)
        if same.size == 0 or same.mean() < SAME_SHARE:
            fail("%s in frame %d, the HUD's first, differs from frame %d on %.1f %% of its box" %
                 (name, first, first + HUD_LATER, 100 * (1 - same.mean()) if same.size else 100), pixels,
                 box_outline(x0, y0, x1, y1), out, "hud-first-%s.png" % name)


def check_result(pixels, build, out):
    x, y, w, h, colour, screen = recipe_panel(build, "Result", "ResultPanel")
    x0, y0, x1, y1 = fitted((x, y, w, h), screen, pixels.shape)
    area = pixels[y0:y1 + 1, x0:x1 + 1]
    shown = near(area, colour, PANEL_TOLERANCE)
    if shown.size == 0 or shown.mean() < PANEL_SHARE:
        fail("the result panel covers %.1f %% of its rectangle" % (100 * shown.mean() if shown.size else 0), pixels,
             box_outline(x0, y0, x1, y1), out, "result.png")


def check(build, log_path, frames, last, out):
    with open(log_path, encoding="utf-8", errors="replace") as f:
        log = f.read()
    start, points, towers = log_places(log)
    ground, ribbon, colours = level_colours()
    steps = [s for s in frame_steps(frames) if s >= start + STEPS_AFTER_START]
    if not steps:
        failures.append("no frame saved %d steps after the start at step %d" % (STEPS_AFTER_START, start))
        return
    pixels = read_png(os.path.join(frames, "frame-%06d.png" % steps[0]))
    check_ribbon(pixels, points, ribbon, out)
    if not towers:
        failures.append("the log places no tower on the screen")
    check_towers(pixels, towers, colours, ground, out)
    check_lighting(pixels, towers, colours, ground, out)
    check_hud(pixels, build, out)
    check_result(read_png(last), build, out)
    check_living(build, log, frames, ground, ribbon, out)
    check_walkers_start(log, points, frames, out)
    check_events(log, frames, out)


def same(first, second, out):
    steps = sorted(set(frame_steps(first)) & set(frame_steps(second)))
    if not steps:
        failures.append("no frame in both %s and %s" % (first, second))
    for step in steps:
        name = "frame-%06d.png" % step
        a, b = read_png(os.path.join(first, name)), read_png(os.path.join(second, name))
        if a.shape != b.shape:
            failures.append("%s: %s against %s pixels" % (name, a.shape, b.shape))
            continue
        differ = np.any(np.abs(a.astype(int) - b.astype(int)) > SAME_TOLERANCE, axis=-1)
        if differ.mean() > 1 - SAME_SHARE:
            fail("%s differs on %.2f %% of its pixels" % (name, 100 * differ.mean()), a, np.nonzero(differ), out,
                 "differs-" + name)


def main(argv):
    if len(argv) == 7 and argv[1] == "check":
        check(*argv[2:])
    elif len(argv) == 5 and argv[1] == "same":
        same(*argv[2:])
    elif len(argv) == 5 and argv[1] == "hud":
        first_hud(*argv[2:])
    else:
        sys.stderr.write(__doc__)
        return 2
    for f in failures:
        print("FAIL:", f)
    print("%s: %d failures" % (argv[1], len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
