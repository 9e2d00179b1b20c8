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

BULLETED, NUMBERED = 0x0400, 0x1000   # paragraph definition flags

def pabdef(pab_id, left=1440, right=0, first=1440, justify=0, flags=0):
    body = struct.pack("<HHHHHHHHH", pab_id, justify, 0, 0, 0, left, right, first, 0)
    body += b"\0" * 40               # tab stops
    body += struct.pack("<HIH", flags, 0, 0)
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

INCH = 1440                          # twips

def table_cell(row, col, width, border=0x55):
    """A cell `width` twips wide; border: two bits per side (left, right, top,
    bottom), 1 a single line."""
    return byte_rec(0xA4, struct.pack("<BBHHHBBHBBH", row, col, 0, 0, width, border, 0, 0, 1, 1, 0))

def table_end():
    return byte_rec(0xA5, struct.pack("<I", 0))

def long_rec(sig, payload=b""):
    return struct.pack("<HI", sig, 6 + len(payload)) + payload

def lzw(pixels, min_size):
    """GIF image data: LZW codes packed least significant bit first."""
    clear, eoi = 1 << min_size, (1 << min_size) + 1
    table = {bytes([i]): i for i in range(clear)}
    size, nxt = min_size + 1, eoi + 1
    acc = nbits = 0
    out = bytearray()
    def put(code):
        nonlocal acc, nbits
        acc |= code << nbits
        nbits += size
        while nbits >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            nbits -= 8
    put(clear)
    w = bytes([pixels[0]])
    for p in pixels[1:]:
        wk = w + bytes([p])
        if wk in table:
            w = wk
            continue
        put(table[w])
        if nxt < 4096:
            table[wk] = nxt
            nxt += 1
            if nxt > (1 << size) and size < 12:
                size += 1
        else:
            put(clear)
            table = {bytes([i]): i for i in range(clear)}
            size, nxt = min_size + 1, eoi + 1
        w = bytes([p])
    put(table[w])
    put(eoi)
    if nbits:
        out.append(acc & 0xFF)
    return bytes(out)

def sample_gif(width=24, height=16):
    """A small four-colour picture: a blue frame around red and gold stripes."""
    palette = bytes([255, 255, 255, 0, 0, 160, 200, 30, 30, 240, 190, 40])
    pixels = []
    for y in range(height):
        for x in range(width):
            if x in (0, width - 1) or y in (0, height - 1):
                pixels.append(1)
            else:
                pixels.append(2 if (x // 4) % 2 == 0 else 3)
    data = lzw(pixels, 2)
    blocks = b"".join(bytes([len(data[i:i + 255])]) + data[i:i + 255]
                      for i in range(0, len(data), 255))
    return (b"GIF89a" + struct.pack("<HHBBB", width, height, 0x81, 0, 0) + palette +
            b"," + struct.pack("<HHHHB", 0, 0, width, height, 0) + bytes([2]) + blocks +
            b"\0;")

def graphic(gif, width, height):
    """A picture: the graphic record, its image header, then the image segments."""
    recs = [long_rec(0x99, struct.pack("<HHHHHHHHHBBH", 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0))]
    segments = [gif[i:i + 10240] for i in range(0, len(gif), 10240)]
    recs.append(long_rec(0x7D, struct.pack("<HHHIIII", 1, width, height, len(gif),
                                           len(segments), 0, 0)))
    for seg in segments:
        padded = seg + (b"\0" if len(seg) % 2 else b"")
        recs.append(long_rec(0x7C, struct.pack("<HH", len(seg), len(padded)) + padded))
    return recs

SWISS, ROMAN, VERDANA = 1, 0, 5
BLUE, RED = 4, 2

body = [pabdef(1), pabdef(2, left=2160, first=2160),
        para(), pabref(1), text(font(SWISS, 14, bold=True), "A sample document"),
        para(), pabref(1),
        text(font(ROMAN, 11), "This paragraph is set in a serif face, "),
        text(font(VERDANA, 10, color=BLUE), "and this part in a second font, in blue."),
        para(), pabref(2),
        text(font(ROMAN, 11, italic=True), "An indented paragraph in italics."),
        pabdef(3, left=2160, first=2160, flags=BULLETED),
        pabdef(4, left=2160, first=2160, flags=NUMBERED),
        para(), pabref(1), text(font(ROMAN, 11), "Two bulleted items:"),
        para(), pabref(3), text(font(ROMAN, 11), "apples"),
        para(), pabref(3), text(font(ROMAN, 11), "pears"),
        para(), pabref(1), text(font(ROMAN, 11), "and two numbered steps:"),
        para(), pabref(4), text(font(ROMAN, 11), "open the document"),
        para(), pabref(4), text(font(ROMAN, 11), "render it"),
        para(), pabref(1), text(font(ROMAN, 11), "A table of two rows:"),
        table_begin()]
cells = [("Name", "Value"), ("Colour", "Red")]
widths = [2 * INCH, 3 * INCH]   # side by side well within a page
for r, row in enumerate(cells):
    for c, value in enumerate(row):
        body += [table_cell(r, c, widths[c]), pabref(1),
                 text(font(SWISS, 10, bold=(r == 0), color=(RED if value == "Red" else 0)), value)]
body += [table_end(),
         para(), pabref(1), text(font(ROMAN, 11), "A picture: ")]
body += graphic(sample_gif(), 24, 16)
body += [para(), pabref(1), text(font(ROMAN, 11), "Read more at "),
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
if __name__ == "__main__":
    out = sys.argv[1] if len(sys.argv) > 1 else "examples/sample.dxl"
    open(out, "w").write(doc)
