#!/usr/bin/env python3
"""Writes examples/sample.dxl: a small document whose Body item is built here,
record by record, in the canonical (stored) layout."""
import base64
import struct
import sys

def byte_rec(sig, payload=b""):
    n = 2 + len(payload)
    return bytes([sig, n]) + payload

def word_rec(sig, payload=b""):
    return struct.pack("<HH", sig, 4 + len(payload)) + payload

def stream(records):
    out = b""
    for r in records:
        out += r
        if len(r) % 2:
            out += b"\0"   # records start on even offsets
    return out

def font(face, size, bold=False, italic=False, color=0):
    attrib = (1 if bold else 0) | (2 if italic else 0)
    return bytes([face, attrib, color, size])

def text(fid, s):
    return word_rec(0xFF85, fid + s.encode("latin-1"))

def pabdef(pab_id, left=1440, right=0, first=1440, justify=0):
    body = struct.pack("<HHHHHHHHH", pab_id, justify, 0, 0, 0, left, right, first, 0)
    body += b"\0" * 40               # tab stops
    body += struct.pack("<HIH", 0, 0, 0)
    return word_rec(0xFF82, body)

def para():
    return byte_rec(0x81)

def pabref(pab_id):
    return byte_rec(0x83, struct.pack("<H", pab_id))

def hotspot_url(url):
    data = url.encode("ascii") + b"\0"
    return word_rec(0xFFA9, struct.pack("<HIH", 11, 0, len(data)) + data)

def table_begin():
    return byte_rec(0xA3, struct.pack("<HHHHHH", 0, 144, 0, 0, 0, 0))

def table_cell(row, col, width=0x4000):
    return byte_rec(0xA4, struct.pack("<BBHHHBBHBBH", row, col, 0, 0, width, 1, 0, 0, 1, 1, 0))

def table_end():
    return byte_rec(0xA5, struct.pack("<I", 0))

SWISS, ROMAN, VERDANA = 1, 0, 5
BLUE, RED = 4, 2

body = [pabdef(1), pabdef(2, left=2160, first=2160),
        para(), pabref(1), text(font(SWISS, 14, bold=True), "A sample document"),
        para(), pabref(1),
        text(font(ROMAN, 11), "This paragraph is set in a serif face, "),
        text(font(VERDANA, 10, color=BLUE), "and this part in a second font, in blue."),
        para(), pabref(2),
        text(font(ROMAN, 11, italic=True), "An indented paragraph in italics."),
        para(), pabref(1), text(font(ROMAN, 11), "A table of two rows:"),
        table_begin()]
cells = [("Name", "Value"), ("Colour", "Red")]
for r, row in enumerate(cells):
    for c, value in enumerate(row):
        body += [table_cell(r, c), pabref(1),
                 text(font(SWISS, 10, bold=(r == 0), color=(RED if value == "Red" else 0)), value)]
body += [table_end(),
         para(), pabref(1), text(font(ROMAN, 11), "Read more at "),
         hotspot_url("https://example.org/kestrelvault"),
         text(font(ROMAN, 11, color=BLUE), "the project page"),
         byte_rec(0xAA),
         text(font(ROMAN, 11), ".")]

fonts = word_rec(0xFF8B, struct.pack("<H", 1) + bytes([VERDANA, 0x22]) + b"Verdana".ljust(32, b"\0"))

def raw(data):
    b64 = base64.b64encode(data).decode()
    return "\n".join(b64[i:i + 72] for i in range(0, len(b64), 72))

doc = f"""<?xml version='1.0' encoding='utf-8'?>
<note class='document' xmlns='http://www.lotus.com/dxl' version='12.0'>
<noteinfo noteid='8fa' unid='5A1B2C3D4E5F60718293A4B5C6D7E8F9'>
<created><datetime>20261201T090000,00+00</datetime></created>
<modified><datetime>20261201T093000,00+00</datetime></modified></noteinfo>
<item name='Form'><text>Memo</text></item>
<item name='Subject'><text>A sample document</text></item>
<item name='$Fonts'><rawitemdata type='1'>
{raw(stream([fonts]))}
</rawitemdata></item>
<item name='Body'><rawitemdata type='1'>
{raw(stream(body))}
</rawitemdata></item>
</note>
"""
out = sys.argv[1] if len(sys.argv) > 1 else "examples/sample.dxl"
open(out, "w").write(doc)
