#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Small fonts, with Debian's python3-fonttools: gen_fonts.py OUT makes the test set
(FIXTURES), gen_fonts.py OUT --corpus N N single-face fonts in OUT/dNN/, 500 a folder."""
import os
import sys

from fontTools.fontBuilder import FontBuilder
from fontTools.pens.t2CharStringPen import T2CharStringPen
from fontTools.pens.ttGlyphPen import TTGlyphPen
from fontTools.ttLib.ttCollection import TTCollection


def build(ps, family, style, weight=400, chinese=None, cff=False):
    fb = FontBuilder(1000, isTTF=not cff)
    fb.setupGlyphOrder([".notdef", "space", "A", "a"])
    fb.setupCharacterMap({0x20: "space", 0x41: "A", 0x61: "a"})
    if cff:
        fb.setupCFF(ps, {"FullName": ps}, {g: T2CharStringPen(600, None).getCharString()
                                            for g in fb.font.getGlyphOrder()}, {})
    else:
        fb.setupGlyf({g: TTGlyphPen(None).glyph() for g in fb.font.getGlyphOrder()})
    fb.setupHorizontalMetrics({g: (600, 50) for g in fb.font.getGlyphOrder()})
    fb.setupHorizontalHeader(ascent=800, descent=-200)
    fb.setupNameTable({"familyName": family, "styleName": style, "uniqueFontIdentifier": ps,
                       "fullName": f"{family} {style}", "psName": ps}, mac=False)
    fb.setupOS2(usWeightClass=weight)
    fb.setupPost()
    if chinese:
        fb.font["name"].setName(chinese, 1, 3, 1, 0x0804)
    return fb.font


# (file, faces): one face makes a .ttf, several a .ttc.
FIXTURES = [
    ("alpha/VrkAlpha-Regular.ttf", [("VrkAlpha-Regular", "Vrk Alpha", "Regular")]),
    ("alpha/VrkAlpha-Bold.ttf", [("VrkAlpha-Bold", "Vrk Alpha", "Bold", 700)]),
    ("han/VrkHan-Regular.ttf", [("VrkHan-Regular", "Vrk Han", "Regular", 400, "维克黑体")]),
    ("coll/VrkTrio.ttc", [("VrkTrio-Light", "Vrk Trio", "Light", 300),
                          ("VrkTrio-Regular", "Vrk Trio", "Regular"), ("VrkTrio-Bold", "Vrk Trio", "Bold", 700)]),
    # Two copies of one PostScript name, told apart by family.
    ("dup1/VrkTwin-Regular.ttf", [("VrkTwin-Regular", "Vrk Twin One", "Regular")]),
    ("dup2/VrkTwin-Regular.ttf", [("VrkTwin-Regular", "Vrk Twin Two", "Regular")]),
    # As many faces as a collection may have, and one more.
    ("many/VrkMany256.ttc", [("VrkMany-Regular", "Vrk Many", "Regular")] * 256),
    ("many/VrkMany257.ttc", [("VrkMany-Regular", "Vrk Many", "Regular")] * 257),
    ("rank/VrkCff-Regular.otf", [("VrkCff-Regular", "Vrk Cff", "Regular", 400, None, True)]),
]
# Bitmap fonts, whose PostScript name fontconfig makes from the family alone.
BITMAPS = ["VrkCff-Regular", "VrkTwin-Regular"]
BDF = ("STARTFONT 2.1\nFONT -vrk-{0}-Medium-R-Normal--10-100-75-75-C-60-ISO10646-1\nSIZE 10 75 75\n"
       "FONTBOUNDINGBOX 6 10 0 -2\nSTARTPROPERTIES 3\nFAMILY_NAME \"{0}\"\nFONT_ASCENT 8\nFONT_DESCENT 2\n"
       "ENDPROPERTIES\nCHARS 1\nSTARTCHAR A\nENCODING 65\nSWIDTH 600 0\nDWIDTH 6 0\nBBX 1 1 0 0\nBITMAP\n80\n"
       "ENDCHAR\nENDFONT\n")


def save(path, faces):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    collection = TTCollection()
    collection.fonts = [build(*face) for face in faces]
    (collection if len(faces) > 1 else collection.fonts[0]).save(path)


def main(argv):
    if len(argv) == 4 and argv[2] == "--corpus":
        for i in range(int(argv[3])):
            path = os.path.join(argv[1], f"d{i // 500:02d}", f"VrkBench{i:05d}-Regular.ttf")
            if not os.path.exists(path):  # a corpus is only ever grown
                save(path, [(f"VrkBench{i:05d}-Regular", f"Vrk Bench {i:05d}", "Regular")])
    else:
        for name, faces in FIXTURES:
            save(os.path.join(argv[1], name), faces)
        for name in BITMAPS:
            with open(os.path.join(argv[1], "rank", name + ".bdf"), "w") as out:
                out.write(BDF.format(name))


main(sys.argv)
