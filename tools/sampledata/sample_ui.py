#!/usr/bin/env python3
"""Writes the textures, the strings and the recipe templates of the sample's menu and
loading screen.

  sample_ui.py <textures folder> [<common folder> [<templates folder>]]

"UI/MenuBackground.dds": a 64 x 64 vertical gradient from dark blue to teal, opaque.
"UI/ButtonCorner.dds": a 32 x 32 quarter disc of radius 32 around texel (0, 0), white,
transparent outside, the corner texture of the rounded button.

Both are uncompressed A8R8G8B8 DDS files written from the documented header: "DDS ", a
124-byte header (flags caps | height | width | pitch | pixel format, pitch = width * 4,
one level), a 32-byte pixel format (RGB with alpha, 32 bits, masks R 0x00FF0000,
G 0x0000FF00, B 0x000000FF, A 0xFF000000), caps "texture", then the texels row by row,
each as the bytes B, G, R, A.

"L01n.bin" in the common folder: the menu's strings, "Menu/Title" (English "Sample", German
"Beispiel") and "Menu/Start" ("Start", "Starten"), and the game's (sample_game.py STRINGS),
written by the tests' writer l01n.py.

Recipe templates in the templates folder (written by the tests' writer recipes.py;
sample_scene.py enters them in the catalogue from STUBS below): "UI/MainMenu", a screen
recipe with the background panel, the localised title text and the "StartButton" button (a
rounded face in the corner texture with a highlight strip, a text child centred on it, "Scale on
click" 0.9); "UI/LoadingScreen", a screen recipe with the full-screen background picture.
"""
import os
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "support"))
import l01n  # noqa: E402
import recipes  # noqa: E402

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sample_game  # noqa: E402

MENU_STRINGS = [
    {"path": "Menu/Title", "texts": {"English": "Sample", "German": "Beispiel"}},
    {"path": "Menu/Start", "texts": {"English": "Start", "German": "Starten"}},
]

FOLDER = "UI"
MAIN_MENU = ("MainMenu", "5A3E0000-0000-4000-8000-0000000000A1")
LOADING_SCREEN = ("LoadingScreen", "5A3E0000-0000-4000-8000-0000000000A2")
UI_RECIPE_TYPE = recipes.UI_RECIPE_TYPE
# Catalogue entries: (file, GUID, type), all in the folder FOLDER.
STUBS = [(MAIN_MENU[0], MAIN_MENU[1], UI_RECIPE_TYPE), (LOADING_SCREEN[0], LOADING_SCREEN[1], UI_RECIPE_TYPE)]
WIDTH, HEIGHT = 1280, 720
BUTTON = (540, 320, 200, 80)  # x, y, width, height of the start button: the middle of the UI
BUTTON_COLOUR = [255, 0, 255, 255, 1.0]  # pure channels: the same bytes with or without sRGB writes
FONT = "_system.ttf"  # the menu's font and its localised strings "Menu/Title", "Menu/Start"

DDSD_CAPS, DDSD_HEIGHT, DDSD_WIDTH, DDSD_PITCH, DDSD_PIXELFORMAT = 0x1, 0x2, 0x4, 0x8, 0x1000
DDPF_ALPHAPIXELS, DDPF_RGB = 0x1, 0x40
DDSCAPS_TEXTURE = 0x1000


def dds(width, height, texels):
    """texels: width * height (r, g, b, a) tuples, row by row."""
    pixel_format = struct.pack("<8I", 32, DDPF_RGB | DDPF_ALPHAPIXELS, 0, 32, 0x00FF0000, 0x0000FF00, 0x000000FF,
                               0xFF000000)
    header = struct.pack("<7I", 124, DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH | DDSD_PITCH | DDSD_PIXELFORMAT, height,
                         width, width * 4, 0, 1)
    header += b"\0" * 44 + pixel_format + struct.pack("<5I", DDSCAPS_TEXTURE, 0, 0, 0, 0)
    assert len(header) == 124
    body = b"".join(struct.pack("<4B", b, g, r, a) for (r, g, b, a) in texels)
    return b"DDS " + header + body


def background():
    size = 64
    texels = []
    for y in range(size):
        t = y / (size - 1)
        texels += [(int(20 + 10 * t), int(40 + 100 * t), int(110 + 40 * t), 255)] * size
    return dds(size, size, texels)


def corner():
    size = 32
    texels = []
    for y in range(size):
        for x in range(size):
            inside = (x + 0.5) ** 2 + (y + 0.5) ** 2 <= size * size
            texels.append((255, 255, 255, 255) if inside else (255, 255, 255, 0))
    return dds(size, size, texels)


def main_menu():
    x, y, w, h = BUTTON
    # The button stands on its middle (an anchor of minus half its size), so a click scales
    # it about its middle. It draws nothing itself: its face is a rounded rectangle with a
    # highlight strip, and the label is centred on the face. The label is not transparent
    # (a transparent text draws nothing) and takes no clicks (it is not focusable).
    return {"Name": "MainMenu", "Size": [WIDTH, HEIGHT, 0, 0], "Children": [
        {"class": "UIPictureRecipe", "Name": "Background", "Texture": "UI/MenuBackground.dds",
         "Position": [x - 60, y - 40, 0, 1], "Size": [w + 120, h + 80, 0, 0], "Color": [255, 255, 255, 153, 1.0]},
        {"class": "UITextRecipe", "Name": "Title", "Font": FONT, "Font size": 32, "Text": "Menu/Title",
         "Localized": True, "Horizontal alignment": 2, "Vertical alignment": 1, "Pixel perfect": 0,
         "Position": [WIDTH / 2, y - 48, 0, 1]},
        {"class": "UIButtonRecipe", "Name": "StartButton", "Texture": "", "Shader": "", "Transparent": True,
         "Anchor by": 1, "Anchor": [-w / 2, -h / 2, 0, 0], "Position": [x + w / 2, y + h / 2, 0, 1],
         "Size": [w, h, 0, 0], "Scale on click": 0.9, "Children": [
             {"class": "UIRoundedRectRecipe", "Name": "StartFace", "Corner texture": "UI/ButtonCorner.dds",
              "Corner radius": 10.0, "Size": [w, h, 0, 0], "Color": BUTTON_COLOUR, "Children": [
                  {"class": "UIPictureRecipe", "Name": "StartHighlight", "Shader": "", "Color mode": 0,
                   "Position": [12, 6, 0, 1], "Size": [w - 24, 6, 0, 0], "Color": [255, 255, 255, 128, 1.0]}]},
             {"class": "UITextRecipe", "Name": "StartLabel", "Font": FONT, "Font size": 24, "Text": "Menu/Start",
              "Localized": True, "Horizontal alignment": 2, "Vertical alignment": 2, "Pixel perfect": 0,
              "Color mode": 0, "Position": [w / 2, h / 2, 0, 1]}]}]}


def loading_screen():
    return {"Name": "LoadingScreen", "Size": [WIDTH, HEIGHT, 0, 0], "Children": [
        {"class": "UIPictureRecipe", "Name": "Background", "Texture": "UI/MenuBackground.dds",
         "Size": [WIDTH, HEIGHT, 0, 0], "Color": [255, 255, 255, 0, 1.0]}]}


def write_templates(templates):
    out = os.path.join(templates, FOLDER)
    os.makedirs(out, exist_ok=True)
    for (name, guid), recipe in ((MAIN_MENU, main_menu()), (LOADING_SCREEN, loading_screen())):
        with open(os.path.join(out, name + ".BinaryTemplate"), "wb") as f:
            f.write(recipes.binary_template({"guid": guid, "recipe": recipe}))


def main(argv):
    if len(argv) not in (2, 3, 4):
        sys.stderr.write(__doc__)
        return 2
    out = os.path.join(argv[1], "UI")
    os.makedirs(out, exist_ok=True)
    for name, data in (("MenuBackground.dds", background()), ("ButtonCorner.dds", corner())):
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
    if len(argv) >= 3:
        common = argv[2]
        os.makedirs(common, exist_ok=True)
        with open(os.path.join(common, "L01n.bin"), "wb") as f:
            f.write(l01n.l01n(MENU_STRINGS + sample_game.STRINGS))
    if len(argv) == 4:
        write_templates(argv[3])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
