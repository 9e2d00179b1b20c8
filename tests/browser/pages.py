"""Documents for the browser test, built record by record in the stored layout:
collapsible sections (in section hotspots that keep their bar in a group of
its own, as stored documents do; in the bare form; and bars the render walk
meets on their own) and positioned layers."""
import base64
import os
import struct
import sys

# The record writers of the example document.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "examples"))
from make_sample import (byte_rec, pabdef, stream, table_begin, table_cell,  # noqa: E402
                         table_end, word_rec)


FONT = bytes([1, 0, 0, 10])  # face 1, plain, black, 10 points


def text(s):
    return word_rec(0xFF85, FONT + s.encode("latin-1"))


def paragraph(s):
    return [byte_rec(0x81), byte_rec(0x83, struct.pack("<H", 1)), text(s)]


def bar(title, expanded=False, style=0):
    flags = (0x10 if expanded else 0) | (style << 28)
    return word_rec(0xFFAC, struct.pack("<I", flags) + FONT + title.encode("latin-1") + b"\0")


def group(signature, kind):
    return byte_rec(signature, struct.pack("<HH", 0, kind))


def section(title, lines, expanded=False, grouped=True):
    """A section hotspot; stored documents keep its bar in a group of its own."""
    records = [word_rec(0xFFAD, struct.pack("<HIH", 12, 0, 0))]
    if grouped:
        records += [group(0xDD, 0xFFAC), bar(title, expanded), group(0xDE, 0xFFAC)]
    else:
        records.append(bar(title, expanded))
    for line in lines:
        records += paragraph(line)
    return records + [byte_rec(0xAE)]


def length(value, unit=2):
    """A length: flags, value, unit (2: pixels), reserved."""
    return struct.pack("<HdBB", 0, float(value), unit, 0)


def layer(name, top, left, width, height, z, rgb, lines):
    positioning = bytes([1, 0]) + struct.pack("<i", z)  # scheme 1: absolute
    positioning += length(top) + length(left) + length(0) + length(0) + struct.pack("<dd", 0, 0)
    boxsize = length(width) + length(height) + b"\0" * 48 + b"\0" * 16
    ident = name.encode("latin-1")
    idname = struct.pack("<HHHHHH", len(ident), 0, 0, 0, 0, 0) + b"\0" * 10 + ident
    records = [byte_rec(0xDD, struct.pack("<HH", 0, 108)),
               byte_rec(0x6C, b"\0" * 16),
               word_rec(0xFF7A, idname),
               byte_rec(0x6B, positioning),
               byte_rec(0x6A, boxsize),
               byte_rec(0x72, struct.pack("<HBBBB", 1, rgb[0], rgb[1], rgb[2], 0))]
    for line in lines:
        records += paragraph(line)
    return records + [byte_rec(0xDE, struct.pack("<HH", 0, 108))]


def dxl(records, subject):
    data = base64.b64encode(stream(records)).decode()
    data = "\n".join(data[i:i + 72] for i in range(0, len(data), 72))
    return f"""<?xml version='1.0' encoding='utf-8'?>
<note class='document' xmlns='http://www.lotus.com/dxl' version='12.0'>
<noteinfo noteid='8fa' unid='5A1B2C3D4E5F60718293A4B5C6D7E8F2'/>
<item name='Subject'><text>{subject}</text></item>
<item name='Body'><rawitemdata type='1'>
{data}
</rawitemdata></item>
</note>
"""


# The sections of the sections document: title, content lines, stored expanded.
SECTIONS = [("First section", ["one", "two"], False),
            ("Second section", ["three"], True),
            ("Third section", ["four"], False)]
# Texts outside every section: always shown.
OUTSIDE = ["Intro", "Between", "In the cell", "The end"]


def sections_document(grouped=True):
    """Sections one after another, the third in a table cell."""
    (t1, l1, e1), (t2, l2, e2), (t3, l3, e3) = SECTIONS
    records = [pabdef(1)]
    records += paragraph("Intro")
    records += section(t1, l1, e1, grouped)
    records += paragraph("Between")
    records += section(t2, l2, e2, grouped)
    records += [table_begin(), table_cell(0, 0, 3 * 1440)] + paragraph("In the cell")
    records += section(t3, l3, e3, grouped) + [table_end()]
    records += paragraph("The end")
    return dxl(records, "Sections")


def walk_bars_document():
    """Section bars outside any hotspot: the render walk meets them itself."""
    records = [pabdef(1)]
    records += paragraph("Intro")
    records.append(bar("First section"))
    records += paragraph("one") + paragraph("two")
    records.append(bar("Second section"))
    records += paragraph("three")
    return dxl(records, "Bars")


LAYERS = [("LayerA", 40, 100, 200, 80, 1, (255, 255, 192), ["Layer A text"]),
          ("LayerB", 150, 20, 120, 60, 2, (192, 224, 255), ["Layer B text"])]


def layers_document():
    records = [pabdef(1)]
    records += paragraph("Page text")
    for description in LAYERS:
        records += layer(*description)
    records += paragraph("After the layers")
    return dxl(records, "Layers")
