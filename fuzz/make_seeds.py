#!/usr/bin/env python3
"""Writes the seed inputs of every fuzz target into OUT/TARGET/.

The record-level targets get the rich-text items of the DXL files below
CORPUS (and examples/): each item's segments joined, cut to one segment's
size. The targets that read an item and then calls get the item framed
(its length first) and followed by a few call bytes. The text targets get
texts of the same documents.
usage: make_seeds.py CORPUS_DIR OUT_DIR
"""
import base64
import hashlib
import os
import re
import struct
import sys

MAX_SEGMENT = 63358
ITEM_RE = re.compile(
    r"<item\s+name=(['\"])(.*?)\1[^>]*>\s*<rawitemdata\s+type=(['\"])1\3\s*>(.*?)</rawitemdata>",
    re.S)
NOTE_RE = re.compile(r"<(note|document|form|subform|page|view|sharedfield|frameset|helpaboutdocument|helpusingdocument)\b.*?</\1>", re.S)
TEXT_RE = re.compile(r"<text>(.*?)</text>", re.S)
FORMULA_RE = re.compile(r"<formula>(.*?)</formula>", re.S)


def items_of(dxl):
    """Rich-text items: (name, joined record bytes) per note."""
    out = []
    for note in NOTE_RE.finditer(dxl):
        joined = {}
        for m in ITEM_RE.finditer(note.group(0)):
            try:
                data = base64.b64decode(re.sub(r"\s+", "", m.group(4)))
            except Exception:
                continue
            joined.setdefault(m.group(2), bytearray()).extend(data)
        out.extend(joined.items())
    return out


def unescape(s):
    return (s.replace("&lt;", "<").replace("&gt;", ">").replace("&quot;", '"')
            .replace("&apos;", "'").replace("&amp;", "&"))


def write(out_dir, target, data):
    folder = os.path.join(out_dir, target)
    os.makedirs(folder, exist_ok=True)
    name = hashlib.sha1(data).hexdigest()
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def main():
    corpus, out_dir = sys.argv[1], sys.argv[2]
    here = os.path.dirname(os.path.abspath(__file__))
    files = []
    for root in (corpus, os.path.join(here, "..", "examples")):
        for dirpath, _, names in os.walk(root):
            files.extend(os.path.join(dirpath, n) for n in names if not n.endswith(".md"))
    for path in sorted(files):
        with open(path, "rb") as f:
            raw = f.read()
        text = raw.decode("utf-8", "replace")
        if "<" not in text[:200]:
            continue
        if len(raw) <= 200000:
            write(out_dir, "fuzz_dxl", raw)
        for _, records in items_of(text):
            records = bytes(records[:MAX_SEGMENT])
            if len(records) < 4:
                continue
            framed = struct.pack("<H", len(records)) + records
            write(out_dir, "fuzz_record_load", records)
            write(out_dir, "fuzz_render", records)
            write(out_dir, "fuzz_chunk_ops", b"\x00" + records)
            write(out_dir, "fuzz_render_options", framed + b"\x0c\x03Yes\x40\x02No")
            write(out_dir, "fuzz_chunk_script", framed + b"\x00\x01\x0b\x00\x04fuzz\x15\x00")
            write(out_dir, "fuzz_property_text", framed + b"\x01\x00\x00\x02\x00")
            write(out_dir, "fuzz_replace_quick", framed + b"\x00\x01e\x02xy\x03\x00\x00")
        for m in TEXT_RE.finditer(text):
            t = unescape(m.group(1)).encode("utf-8")
            if t:
                write(out_dir, "fuzz_lmbcs", t)
                write(out_dir, "fuzz_chunkdef", b"Text '" + t[:40] + b"' 1")
        for m in FORMULA_RE.finditer(text):
            write(out_dir, "fuzz_formula", unescape(m.group(1)).encode("utf-8"))
    for seed in ("Table 1; Row 2", "Inside Section 2; Text 'Total' 1-3", "Everything",
                 "Paragraph *", "Table 2; Row 1-3; Column 2"):
        write(out_dir, "fuzz_chunkdef", seed.encode())
    for seed in ('@If(Form = "Memo"; @UpperCase(Subject); @Text(Count))',
                 '@Implode(Tags; ", ") + @Left("abc"; 2)', '@Elements(Tags) * 2',
                 '@Date(2026; 12; 7)', '"a" : "b" : "c"'):
        write(out_dir, "fuzz_formula", seed.encode())
    for seed in ("<p>Hello <b>world</b></p><table><tr><td>a</td></tr></table>",
                 "<ul><li>one<li>two</ul><a href='http://x'>link</a><img src='x.gif'>"):
        write(out_dir, "fuzz_import_html", seed.encode())
    write(out_dir, "fuzz_lmbcs", "Grüße \x1f € \U0001F600 \x85".encode("utf-8"))


if __name__ == "__main__":
    main()
