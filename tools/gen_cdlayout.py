#!/usr/bin/env python3
"""Generates richtext/item/cdlayout_table.cpp from the record layout fact table.

Usage: python3 tools/gen_cdlayout.py [cd-records.md] [output.cpp]

The fact table (cd-records.md) lists every record's fields with their
canonical (on-disk, packed) and host (x86-64, naturally aligned) offsets.
This script parses it, expands embedded structure arrays into their members,
checks every layout for overlaps, alignment and size against the signature
index, and writes one sorted C++ table. Run it again whenever the fact table
changes and commit the output.
"""
import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_SRC = os.path.join(HERE, '..', '..', 'shared', 'platform', 'cd-records.md')
DEFAULT_OUT = os.path.join(HERE, '..', 'richtext', 'item', 'cdlayout_table.cpp')

# type -> (field type enumerator, scalar size, element count)
SCALARS = {
    'u8': ('U8', 1), 'u16': ('U16', 2), 'i16': ('I16', 2), 'u32': ('U32', 4),
    'i32': ('I32', 4), 'f64': ('F64', 8), 'fontid': ('FontId', 4),
}
# opaque structures that keep the same layout in both forms: (type, size, count)
OPAQUE = {'timedate': ('U32', 4, 2), 'unid': ('U32', 4, 4)}
# structures whose arrays are expanded member by member:
# members (suffix, type, canonical offset, host offset), canonical size, host size
STRUCTS = {
    'color': ([('flags', 'U16', 0, 0), ('red', 'U8', 2, 2), ('green', 'U8', 3, 3),
               ('blue', 'U8', 4, 4), ('unused', 'U8', 5, 5)], 6, 6),
    'lenval': ([('flags', 'U16', 0, 0), ('length', 'F64', 2, 8), ('units', 'U8', 10, 16),
                ('reserved', 'U8', 11, 17)], 12, 24),
}
SIZE_OF = {'U8': 1, 'U16': 2, 'I16': 2, 'U32': 4, 'I32': 4, 'F64': 8, 'FontId': 4, 'Bytes': 1}
HEADER_SIZES = {'B': (2, 2), 'W': (4, 4), 'L': (6, 8)}


def fail(msg):
    sys.stderr.write('gen_cdlayout: ' + msg + '\n')
    sys.exit(1)


def expand(name, typ, canon, host):
    """Returns [(name, type, size, count, canon, host)] for one table row."""
    typ = typ.strip()
    m = re.fullmatch(r'(\w+)(?:\[(\d+)\])?(?: \((\d+)(?:/(\d+))? each\))?', typ)
    if not m:
        fail('unknown type %r for %s' % (typ, name))
    base, count = m.group(1), int(m.group(2) or 1)
    if base in SCALARS:
        t, size = SCALARS[base]
        if base == 'u8' and count > 1:
            t = 'Bytes'  # byte run (text arrays, reserved bytes)
        return [(name, t, size, count, canon, host)]
    if base in OPAQUE:
        t, size, n = OPAQUE[base]
        return [(name, t, size, n * count, canon, host)]
    if base in STRUCTS:
        members, csize, hsize = STRUCTS[base]
        out = []
        for i in range(count):
            prefix = '%s[%d]' % (name, i) if m.group(2) else name
            for suffix, t, co, ho in members:
                out.append(('%s.%s' % (prefix, suffix), t, SIZE_OF[t], 1,
                            canon + i * csize + co, host + i * hsize + ho))
        return out
    fail('unknown type %r for %s' % (typ, name))


def parse_rows(lines, i):
    """Parses a field table starting at the header row lines[i]; returns (rows, next)."""
    if not lines[i].startswith('| field |'):
        fail('expected a field table at line %d' % (i + 1))
    i += 2
    rows = []
    while i < len(lines) and lines[i].startswith('|'):
        cells = [c.strip() for c in lines[i].strip().strip('|').split('|')]
        name, typ, canon, host = cells
        rows.extend(expand(name, typ, int(canon), int(host.rstrip('*'))))
        i += 1
    return rows, i


def parse(src):
    lines = src.splitlines()
    # Signature index.
    index = {}
    in_index = False
    for ln in lines:
        if ln.startswith('## 3.'):
            in_index = True
        elif ln.startswith('## ') and in_index:
            break
        elif in_index:
            m = re.match(r'\| 0x([0-9A-F]{4}) \| (\d+) \| ([BWL]) \| (\w+) \| [^|]+\| '
                         r'(?:(\d+) / (\d+)|header only known) \|', ln)
            if m:
                sig = int(m.group(1), 16)
                fixed = (int(m.group(5)), int(m.group(6))) if m.group(5) else None
                index[sig] = (m.group(3), m.group(4), fixed)
    if len(index) != 104:
        fail('signature index has %d rows, expected 104' % len(index))

    layouts = []  # (structure, [(sig, name)], kind, cfixed, hfixed, align, fields, ext)
    i = 0
    while i < len(lines):
        ln = lines[i]
        m = re.match(r'### (.+?)(?: \(obsolete\))?: (.+); ([BWL])$', ln)
        if not m:
            i += 1
            continue
        structure = m.group(1)
        sigs = [(int(h, 16), n) for h, _, n in re.findall(r'0x([0-9A-F]{4}) \((\d+)\) (\w+)', m.group(2))]
        kind = m.group(3)
        i += 1
        while i < len(lines) and not lines[i].strip():
            i += 1
        fm = re.match(r'fixed part \(= start of variable data\): canonical (\d+), host (\d+) '
                      r'\(host align (\d+)\)', lines[i])
        ext = []
        if fm:
            cfixed, hfixed, align = int(fm.group(1)), int(fm.group(2)), int(fm.group(3))
            i += 1
            while not lines[i].startswith('| field |'):
                i += 1
            fields, i = parse_rows(lines, i)
            # A documented extension table may follow before the next section.
            j = i
            while j < len(lines) and not lines[j].startswith('### '):
                if lines[j].startswith('Follows (documented extensions'):
                    k = j + 1
                    while not lines[k].startswith('| field |'):
                        k += 1
                    ext, _ = parse_rows(lines, k)
                    break
                j += 1
        elif lines[i].startswith('Header only'):
            hc, hh = HEADER_SIZES[kind]
            cfixed, hfixed, align = hc, hh, 2
            fields = [('hdr.sig', 'U16', 2, 1, 0, 0), ('hdr.len', 'U16', 2, 1, 2, 2)]
        else:
            fail('no fixed part for %s' % structure)
        layouts.append((structure, sigs, kind, cfixed, hfixed, align, fields, ext))
    return index, layouts


def check(index, layouts):
    seen = {}
    for structure, sigs, kind, cfixed, hfixed, align, fields, ext in layouts:
        hc, hh = HEADER_SIZES[kind]
        # Canonical: packed, contiguous from 0 to the fixed size.
        pos = 0
        for name, t, size, count, co, ho in sorted(fields, key=lambda f: f[4]):
            if co != pos:
                fail('%s.%s: canonical offset %d, expected %d' % (structure, name, co, pos))
            pos = co + size * count
        if pos != cfixed:
            fail('%s: canonical fields end at %d, fixed %d' % (structure, pos, cfixed))
        # Host: aligned, non-overlapping, inside the fixed size.
        end = 0
        for name, t, size, count, co, ho in sorted(fields, key=lambda f: f[5]):
            if ho % size or ho < end:
                fail('%s.%s: bad host offset %d' % (structure, name, ho))
            end = ho + size * count
        if end > hfixed or hfixed % align:
            fail('%s: host fields end at %d, fixed %d align %d' % (structure, end, hfixed, align))
        if fields[0][4:] != (0, 0) or (kind == 'L' and fields[1][4:] != (2, 4)):
            fail('%s: unexpected header fields' % structure)
        if cfixed < hc or hfixed < hh:
            fail('%s: fixed part smaller than the header' % structure)
        # Extension fields keep the host shift of the fixed part.
        for name, t, size, count, co, ho in ext:
            if ho - co != hfixed - cfixed or ho % size:
                fail('%s.%s: extension offset does not follow the fixed part' % (structure, name))
        for sig, sname in sigs:
            if sig in seen:
                fail('signature 0x%04X twice' % sig)
            seen[sig] = True
            ikind, iname, ifixed = index.get(sig, (None, None, None))
            if ikind != kind or iname != sname:
                fail('0x%04X: index says %s %s' % (sig, ikind, iname))
            if ifixed is not None and ifixed != (cfixed, hfixed):
                fail('0x%04X: index fixed %s, layout %s' % (sig, ifixed, (cfixed, hfixed)))
    if set(seen) != set(index):
        fail('signatures without a layout: %s' % sorted(set(index) - set(seen)))


def cident(structure):
    return 'k' + re.sub(r'[^A-Za-z0-9]', '', structure.split(' ')[0])


def emit(layouts):
    out = []
    w = out.append
    w('// Generated by tools/gen_cdlayout.py from the record layout fact table')
    w('// (cd-records.md). Do not edit by hand: change the generator or the fact')
    w('// table and run it again.')
    w('#include "richtext/item/cdlayout.h"')
    w('')
    w('#include <iterator>')
    w('')
    w('namespace kv::cd {')
    w('namespace {')
    w('')
    w('using enum FieldType;')
    w('')
    for structure, sigs, kind, cfixed, hfixed, align, fields, ext in layouts:
        ident = cident(structure)
        w('// %s' % structure)
        w('constexpr FieldLayout %sFields[] = {' % ident)
        for name, t, size, count, co, ho in fields:
            w('    {"%s", %s, %d, %d, %d, %d},' % (name, t, co, ho, size, count))
        w('};')
        if ext:
            w('constexpr FieldLayout %sExtension[] = {' % ident)
            for name, t, size, count, co, ho in ext:
                w('    {"%s", %s, %d, %d, %d, %d},' % (name, t, co, ho, size, count))
            w('};')
        w('')
    rows = []
    for structure, sigs, kind, cfixed, hfixed, align, fields, ext in layouts:
        ident = cident(structure)
        for sig, sname in sigs:
            rows.append((sig, sname, structure, kind, cfixed, hfixed, align, ident, bool(ext)))
    rows.sort()
    kinds = {'B': 'HeaderKind::Byte', 'W': 'HeaderKind::Word', 'L': 'HeaderKind::Long'}
    w('// Sorted by signature for binary search.')
    w('constexpr RecordLayout kLayouts[] = {')
    for sig, sname, structure, kind, cfixed, hfixed, align, ident, has_ext in rows:
        extref = ('%sExtension, std::size(%sExtension)' % (ident, ident)) if has_ext else 'nullptr, 0'
        w('    {0x%04X, %s, "%s", "%s", %d, %d, %d, %sFields, std::size(%sFields), %s},'
          % (sig, kinds[kind], sname, structure.split(' ')[0], cfixed, hfixed, align, ident, ident, extref))
    w('};')
    w('')
    w('}  // namespace')
    w('')
    w('std::span<const RecordLayout> AllRecordLayouts() { return kLayouts; }')
    w('')
    w('}  // namespace kv::cd')
    return '\n'.join(out) + '\n'


def main():
    src = sys.argv[1] if len(sys.argv) > 1 else DEFAULT_SRC
    dst = sys.argv[2] if len(sys.argv) > 2 else DEFAULT_OUT
    with open(src, encoding='utf-8') as f:
        index, layouts = parse(f.read())
    check(index, layouts)
    with open(dst, 'w', encoding='utf-8') as f:
        f.write(emit(layouts))
    print('wrote %s: %d signatures, %d structures' % (dst, sum(len(l[1]) for l in layouts), len(layouts)))


if __name__ == '__main__':
    main()
