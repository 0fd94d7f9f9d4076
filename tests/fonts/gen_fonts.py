#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Builds small fonts for the font tests and benchmarks (Debian's python3-fonttools).

  gen_fonts.py OUT               the test set (see FIXTURES below)
  gen_fonts.py OUT --corpus N    N single-face fonts in OUT/dNN/, 500 per folder
"""
import os
import sys

from fontTools.fontBuilder import FontBuilder
from fontTools.pens.ttGlyphPen import TTGlyphPen
from fontTools.ttLib.ttCollection import TTCollection

GLYPHS = [".notdef", "space", "A", "a"]
WINDOWS_LANGUAGES = {"zh-CN": 0x0804, "zh-TW": 0x0404, "ja": 0x0411}
CMAP = {0x20: "space", 0x41: "A", 0x61: "a"}


def box(width):
    pen = TTGlyphPen(None)
    pen.moveTo((50, 0))
    for point in [(50, 700), (width - 50, 700), (width - 50, 0)]:
        pen.lineTo(point)
    pen.closePath()
    return pen.glyph()


def build(ps, family, style, weight=400):
    """One TrueType face; family is a str or a {lang: name} dict."""
    fb = FontBuilder(1000, isTTF=True)
    fb.setupGlyphOrder(GLYPHS)
    fb.setupCharacterMap(CMAP)
    empty = TTGlyphPen(None).glyph()
    fb.setupGlyf({".notdef": box(500), "space": empty, "A": box(600), "a": box(500)})
    fb.setupHorizontalMetrics({g: (600, 50) for g in GLYPHS})
    fb.setupHorizontalHeader(ascent=800, descent=-200)
    names = family if isinstance(family, dict) else {"en": family}
    english = names["en"]
    fb.setupNameTable(
        {
            "familyName": english,
            "styleName": style,
            "uniqueFontIdentifier": ps,
            "fullName": f"{english} {style}",
            "psName": ps,
        },
        mac=False,
    )
    fb.setupOS2(usWeightClass=weight)
    fb.setupPost()
    for lang, name in names.items():
        if lang != "en":
            fb.font["name"].setName(name, 1, 3, 1, WINDOWS_LANGUAGES[lang])
    return fb.font


# (file, faces): one face makes a .ttf, several a .ttc.
FIXTURES = [
    ("alpha/VrkAlpha-Regular.ttf", [("VrkAlpha-Regular", "Vrk Alpha", "Regular", 400)]),
    ("alpha/VrkAlpha-Bold.ttf", [("VrkAlpha-Bold", "Vrk Alpha", "Bold", 700)]),
    ("han/VrkHan-Regular.ttf",
     [("VrkHan-Regular", {"en": "Vrk Han", "zh-CN": "维克黑体"}, "Regular", 400)]),
    ("coll/VrkTrio.ttc", [("VrkTrio-Light", "Vrk Trio", "Light", 300),
                          ("VrkTrio-Regular", "Vrk Trio", "Regular", 400),
                          ("VrkTrio-Bold", "Vrk Trio", "Bold", 700)]),
    # Two copies of one PostScript name, told apart by family.
    ("dup1/VrkTwin-Regular.ttf", [("VrkTwin-Regular", "Vrk Twin One", "Regular", 400)]),
    ("dup2/VrkTwin-Regular.ttf", [("VrkTwin-Regular", "Vrk Twin Two", "Regular", 400)]),
]


def save(path, faces):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    fonts = [build(*face) for face in faces]
    if len(fonts) == 1:
        fonts[0].save(path)
    else:
        collection = TTCollection()
        collection.fonts = fonts
        collection.save(path)


def main(argv):
    out = argv[1]
    if len(argv) == 4 and argv[2] == "--corpus":
        for i in range(int(argv[3])):
            path = os.path.join(out, f"d{i // 500:02d}", f"VrkBench{i:05d}-Regular.ttf")
            if os.path.exists(path):  # a corpus is only ever grown
                continue
            save(path, [(f"VrkBench{i:05d}-Regular", f"Vrk Bench {i:05d}", "Regular", 400)])
        return 0
    for name, faces in FIXTURES:
        save(os.path.join(out, name), faces)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
