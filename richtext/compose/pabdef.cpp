// The paragraph-definition builder. The change is worked out on local
// full-length copies of the target and the source, so a refused call leaves
// both records untouched and no read leaves either record.
#include "richtext/compose/pabdef.h"

#include <cstring>

#include "richtext/item/cdlayout.h"
#include "richtext/item/parastring.h"

namespace {

namespace h = kv::cd::host;

// Offsets of the fields the builder touches (host layout of 0xFF82).
constexpr uint32_t kLength = 2;
constexpr uint32_t kExtraFlags = kPabExtMoreFlags;    // 84
constexpr uint32_t kExtraValues = kPabExtExtraValues; // 88

constexpr uint16_t kListFlags = kPabBullet | kPabNumbered;  // word 31: 0x1400

struct Record {
  uint8_t b[kPabFullLength] = {};

  uint16_t U16(uint32_t off) const {
    return static_cast<uint16_t>(b[off] | (b[off + 1] << 8));
  }
  void SetU16(uint32_t off, uint16_t v) {
    b[off] = static_cast<uint8_t>(v & 0xFF);
    b[off + 1] = static_cast<uint8_t>(v >> 8);
  }
  uint32_t U32(uint32_t off) const {
    return uint32_t{b[off]} | uint32_t{b[off + 1]} << 8 | uint32_t{b[off + 2]} << 16 |
           uint32_t{b[off + 3]} << 24;
  }
  void SetU32(uint32_t off, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[off + i] = static_cast<uint8_t>(v >> (8 * i));
  }
  // A margin moved by a delta stays within the 16-bit twips range.
  void AddU16(uint32_t off, int32_t delta) {
    int32_t v = int32_t{U16(off)} + delta;
    if (v < 0) v = 0;
    if (v > 0xFFFF) v = 0xFFFF;
    SetU16(off, static_cast<uint16_t>(v));
  }
};

bool IsList(const Record& r) {
  return (r.U16(h::kPabFlags) & kListFlags) != 0 || (r.U16(h::kPabFlags2) & kPab2ListBits) != 0;
}

// Whether a removal selector names the record's current list variant.
bool RemovalMatches(const Record& r, uint16_t selector) {
  const uint16_t f1 = r.U16(h::kPabFlags);
  const uint16_t v = r.U16(h::kPabFlags2) & kPab2ListBits;
  const bool bullet = (f1 & kPabBullet) != 0;
  const bool number = (f1 & kPabNumbered) != 0;
  struct Variant {
    uint16_t bit;
    bool numbered;
    uint16_t bits;
  };
  static constexpr Variant kVariants[] = {
      {kListBullet, false, 0x0000},     {kListNumber, true, 0x0000},
      {kListChecked, false, 0x0002},    {kListCircle, false, 0x0800},
      {kListSquare, false, 0x1000},     {kListUnchecked, false, 0x2000},
      {kListAlpha, true, 0x1802},       {kListRoman, true, 0x1002},
      {kListUpperAlpha, true, 0x1800},  {kListUpperRoman, true, 0x0802},
  };
  if ((selector & kListAny) && (bullet || number)) return true;
  for (const Variant& k : kVariants) {
    if (!(selector & k.bit)) continue;
    if ((k.numbered ? number : bullet) && v == k.bits) return true;
  }
  return false;
}

// Applies a list-style selector: the first bit in the order 0x002 .. 0x400,
// then 0x001.
void ApplyListStyle(Record& r, uint16_t selector) {
  struct Style {
    uint16_t bit;
    uint16_t flags;
    uint16_t flags2;
  };
  static constexpr Style kStyles[] = {
      {kListBullet, kPabBullet, 0},           {kListNumber, kPabNumbered, 0},
      {kListChecked, kPabBullet, 0x0002},     {kListCircle, kPabBullet, 0x0800},
      {kListSquare, kPabBullet, 0x1000},      {kListUnchecked, kPabBullet, 0x2000},
      {kListAlpha, kPabNumbered, 0x1802},     {kListRoman, kPabNumbered, 0x1002},
      {kListUpperAlpha, kPabNumbered, 0x1800}, {kListUpperRoman, kPabNumbered, 0x0802},
  };
  for (const Style& s : kStyles) {
    if (!(selector & s.bit)) continue;
    r.SetU16(h::kPabFlags, static_cast<uint16_t>((r.U16(h::kPabFlags) & ~kListFlags) | s.flags));
    r.SetU16(h::kPabFlags2,
             static_cast<uint16_t>((r.U16(h::kPabFlags2) & ~kPab2ListBits) | s.flags2));
    return;
  }
  if (selector & kListAny) r.SetU16(h::kPabFlags, r.U16(h::kPabFlags) | kPabBullet);
}

uint16_t PercentToTwips(uint16_t percent) {
  // Percent of the 12,024-twip reference window.
  uint32_t v = uint32_t{percent} * 12024u / 100u;
  return static_cast<uint16_t>(v > 0xFFFF ? 0xFFFF : v);
}

}  // namespace

NnStatus BuildParagraphDefinition(uint8_t* target, size_t targetCapacity, uint8_t* source,
                                  size_t sourceCapacity, uint16_t flagsSet, uint16_t flagsClear,
                                  uint16_t flags2Set, uint16_t flags2Clear, uint32_t extraSet,
                                  uint32_t extraClear, uint16_t listStyle, uint16_t listRemoval,
                                  int32_t leftDelta, int32_t rightDelta, int32_t percentDelta,
                                  int32_t rightPercentDelta, int32_t* given, int tracking,
                                  int forceExtra) {
  if (!target || !source || !given) return NN_ERR_INVALID_ARG;
  uint16_t length = 0;
  if (!kv::cd::ReadU16(target, targetCapacity, kLength, &length)) return NN_ERR_CD_STRUCTURE;
  if (length < h::kPabFixed || length > targetCapacity) return NN_ERR_CD_STRUCTURE;

  Record t, s;
  std::memcpy(t.b, target, length < kPabFullLength ? length : kPabFullLength);
  std::memcpy(s.b, source, sourceCapacity < kPabFullLength ? sourceCapacity : kPabFullLength);

  const int32_t entry15 = given[kGivenLeftRelative];
  const int32_t entry17 = given[kGivenPercentRelative];
  // Markers as this call sees them (the automatic indentation adds to them).
  int32_t g[kGivenCount];
  std::memcpy(g, given, sizeof g);

  uint16_t set2 = flags2Set, clear2 = flags2Clear;
  bool extensionCopied = false;
  bool extraTouched = extraClear != 0;

  // 1.
  t.SetU16(h::kPabFlags, t.U16(h::kPabFlags) | kPabAlways);

  // 2. Automatic indentation when a list comes or goes.
  if (tracking) {
    const bool adding = (listStyle & 0x07FE) != 0 && !IsList(t);
    const bool removing = listRemoval != 0 && RemovalMatches(t, listRemoval);
    if ((adding || removing) && !g[kGivenLeftMargin] && !g[kGivenFirstLine] &&
        !g[kGivenLeftExtension] && !g[kGivenFirstLineExtension]) {
      const int32_t sign = adding ? 1 : -1;
      if (!g[kGivenLeftRelative]) {
        g[kGivenLeftRelative] = 1;
        leftDelta = 360 * sign;
      }
      if (!g[kGivenPercentRelative]) {
        g[kGivenPercentRelative] = 1;
        percentDelta = 3 * sign;
      }
    }
  }

  // 3. Left margin. A margin the paragraph shows through its extension (an
  // offset or a percentage in use) takes the new value there too, tracking
  // or not: else the change would not show.
  const uint16_t shown2 = t.U16(h::kPabFlags2);
  if (g[kGivenLeftMargin]) {
    const uint16_t v = s.U16(h::kPabLeftMargin);
    t.SetU16(h::kPabLeftMargin, v);
    if (tracking || (shown2 & (kPab2LeftOffset | kPab2LeftPercent))) {
      t.SetU16(kPabExtLeftTwips, v);
      set2 |= kPab2LeftOffset;
      clear2 |= 0x0108;
      extensionCopied = true;
    }
    if (tracking) {
      if (!g[kGivenFirstLine]) {
        t.SetU16(h::kPabFirstLineLeftMargin, v);
        s.SetU16(h::kPabFirstLineLeftMargin, v);
        t.SetU16(kPabExtFirstTwips, v);
        set2 |= kPab2FirstOffset;
        clear2 |= 0x0220;
      }
      extensionCopied = true;
    }
  } else if (g[kGivenLeftRelative]) {
    t.AddU16(h::kPabLeftMargin, leftDelta);
    clear2 |= 0x0300;
  }

  // 4. Right margin.
  if (g[kGivenRightMargin]) {
    const uint16_t v = s.U16(h::kPabRightMargin);
    t.SetU16(h::kPabRightMargin, v);
    if (tracking || (shown2 & (kPab2RightOffset | kPab2RightPercent))) {
      if (v != 0) {
        t.SetU16(kPabExtRightTwips, v);
        set2 |= kPab2RightOffset;
        clear2 |= kPab2RightPercent;
      } else {
        t.SetU16(kPabExtRightPercent, 100);
        set2 |= kPab2RightPercent;
        clear2 |= kPab2RightOffset;
      }
      extensionCopied = true;
    }
  } else if (g[kGivenRightRelative]) {
    t.AddU16(h::kPabRightMargin, rightDelta);
    if (tracking && (t.U16(h::kPabFlags2) & 0x04C0) == 0) {
      set2 |= 0x0480;
      clear2 |= kPab2RightOffset;
      t.SetU16(kPabExtRightPercent, 100);
      extensionCopied = true;
    }
  }

  // 5. First-line margin.
  if (g[kGivenFirstLine]) {
    const uint16_t v = s.U16(h::kPabFirstLineLeftMargin);
    t.SetU16(h::kPabFirstLineLeftMargin, v);
    if (tracking && !g[kGivenLeftMargin]) {
      t.SetU16(h::kPabLeftMargin, v);
      s.SetU16(h::kPabLeftMargin, v);
    }
    if (tracking || (shown2 & (kPab2FirstOffset | kPab2FirstPercent))) {
      t.SetU16(kPabExtFirstTwips, v);
      set2 |= kPab2FirstOffset;
      clear2 |= 0x0220;
      extensionCopied = true;
    }
  } else if (g[kGivenLeftRelative]) {
    t.AddU16(h::kPabFirstLineLeftMargin, leftDelta);
    clear2 |= 0x0200;
  }

  // 6. Left margin extension.
  const uint16_t sf2 = s.U16(h::kPabFlags2);
  if (g[kGivenLeftExtension]) {
    clear2 |= 0x0300;
    if (sf2 & kPab2LeftOffset) {
      const uint16_t v = s.U16(kPabExtLeftTwips);
      t.SetU16(kPabExtLeftTwips, v);
      set2 |= kPab2LeftOffset;
      if (!g[kGivenLeftMargin]) {
        t.SetU16(h::kPabLeftMargin, v);
        if (!g[kGivenFirstLine]) t.SetU16(h::kPabFirstLineLeftMargin, v);
      }
      extensionCopied = true;
    }
    if (sf2 & kPab2LeftPercent) {
      const uint16_t p = s.U16(kPabExtLeftPercent);
      t.SetU16(kPabExtLeftPercent, p);
      set2 |= kPab2LeftPercent;
      if (!g[kGivenLeftMargin]) {
        t.SetU16(h::kPabLeftMargin, PercentToTwips(p));
        if (!g[kGivenFirstLine]) t.SetU16(h::kPabFirstLineLeftMargin, PercentToTwips(p));
      }
      extensionCopied = true;
    }
  } else {
    const uint16_t tf2 = t.U16(h::kPabFlags2);
    if (g[kGivenLeftRelative] && (tf2 & kPab2LeftOffset)) {
      if (t.U16(kPabExtLeftTwips) == 0) {
        t.AddU16(kPabExtLeftTwips, leftDelta + 1440);
        clear2 |= 0x0100;
      } else {
        t.AddU16(kPabExtLeftTwips, leftDelta);
      }
      extensionCopied = true;
    }
    if (g[kGivenPercentRelative] && (tf2 & kPab2LeftPercent)) {
      if (t.U16(kPabExtLeftPercent) == 0)
        t.AddU16(kPabExtLeftPercent, percentDelta + 12);
      else
        t.AddU16(kPabExtLeftPercent, percentDelta);
      extensionCopied = true;
    }
  }

  // 7. Right margin extension.
  if (g[kGivenRightExtension]) {
    // 0 stands for the full width as 100 does (stored paragraphs hold
    // either): kept as given, so a definition read and set back is the same.
    const uint16_t pct = s.U16(kPabExtRightPercent);
    t.SetU16(kPabExtRightTwips, s.U16(kPabExtRightTwips));
    t.SetU16(kPabExtRightPercent, pct);
    set2 |= sf2 & (kPab2RightOffset | kPab2RightPercent);
    extensionCopied = true;
  } else if (g[kGivenRightRelative] && (t.U16(h::kPabFlags2) & 0x00C0)) {
    t.AddU16(kPabExtRightTwips, rightDelta);
    t.AddU16(kPabExtRightPercent, rightPercentDelta);
    extensionCopied = true;
  }

  // 8. First-line extension.
  if (g[kGivenFirstLineExtension]) {
    t.SetU16(kPabExtFirstTwips, s.U16(kPabExtFirstTwips));
    t.SetU16(kPabExtFirstPercent, s.U16(kPabExtFirstPercent));
    if (sf2 & kPab2FirstOffset) {
      set2 |= kPab2FirstOffset;
      clear2 |= kPab2FirstPercent;
    } else if (sf2 & kPab2FirstPercent) {
      set2 |= kPab2FirstPercent;
      clear2 |= kPab2FirstOffset;
    }
    extensionCopied = true;
  } else {
    const uint16_t tf2 = t.U16(h::kPabFlags2);
    if (g[kGivenLeftRelative] && (tf2 & kPab2FirstOffset)) {
      if (t.U16(kPabExtFirstTwips) == 0) {
        t.AddU16(kPabExtFirstTwips, leftDelta + 1440);
        clear2 |= 0x0200;
      } else {
        t.AddU16(kPabExtFirstTwips, leftDelta);
      }
      extensionCopied = true;
    }
    if (g[kGivenPercentRelative] && (tf2 & kPab2FirstPercent)) {
      if (t.U16(kPabExtFirstPercent) == 0)
        t.AddU16(kPabExtFirstPercent, percentDelta + 12);
      else
        t.AddU16(kPabExtFirstPercent, percentDelta);
      extensionCopied = true;
    }
  }

  // 9. Plain fields.
  if (g[kGivenSpaceBefore]) t.SetU16(h::kPabSpaceBefore, s.U16(h::kPabSpaceBefore));
  if (g[kGivenSpaceAfter]) t.SetU16(h::kPabSpaceAfter, s.U16(h::kPabSpaceAfter));
  if (g[kGivenLineSpacing]) t.SetU16(h::kPabLineSpacing, s.U16(h::kPabLineSpacing));
  if (g[kGivenJustify]) t.SetU16(h::kPabJustify, s.U16(h::kPabJustify));
  if (g[kGivenTabs]) {
    uint16_t count = s.U16(h::kPabTabCount);
    if (count > kPabMaxTabs) count = kPabMaxTabs;
    t.SetU16(h::kPabTabCount, count);
    std::memcpy(t.b + h::kPabTabs, s.b + h::kPabTabs, 2 * kPabMaxTabs);
    t.SetU32(h::kPabTabTypes, s.U32(h::kPabTabTypes));
  }
  if (g[kGivenFirstTabOnly]) {
    t.SetU16(h::kPabTabs, s.U16(h::kPabTabs));
    t.SetU16(h::kPabTabCount, 0);
  }
  if (g[kGivenBothFlagWords]) {
    t.SetU16(h::kPabFlags, static_cast<uint16_t>(s.U16(h::kPabFlags) | kPabAlways));
    t.SetU16(h::kPabFlags2, s.U16(h::kPabFlags2));
  }
  if (listRemoval && RemovalMatches(t, listRemoval)) {
    t.SetU16(h::kPabFlags, static_cast<uint16_t>(t.U16(h::kPabFlags) & ~kListFlags));
    t.SetU16(h::kPabFlags2, static_cast<uint16_t>(t.U16(h::kPabFlags2) & ~kPab2ListBits));
  }

  // 10. Pending clears, then the list style.
  t.SetU16(h::kPabFlags, static_cast<uint16_t>(t.U16(h::kPabFlags) & ~flagsClear));
  t.SetU16(h::kPabFlags2, static_cast<uint16_t>(t.U16(h::kPabFlags2) & ~clear2));
  t.SetU32(kExtraValues, t.U32(kExtraValues) & ~extraClear);
  if (listStyle) ApplyListStyle(t, listStyle);

  // 11. Forced extra-flags extension.
  if (forceExtra) {
    t.SetU16(h::kPabFlags2, t.U16(h::kPabFlags2) | kPab2ExtraFlags);
    t.SetU32(kExtraFlags, 1);
    if (length < kPabFullLength) t.SetU32(kExtraValues, 4);
    extraTouched = true;
  }

  // 12. Pending sets.
  t.SetU16(h::kPabFlags, static_cast<uint16_t>(t.U16(h::kPabFlags) | flagsSet | kPabAlways));
  t.SetU16(h::kPabFlags2, static_cast<uint16_t>(t.U16(h::kPabFlags2) | set2));
  if (extraSet != 0) {
    t.SetU32(kExtraValues, t.U32(kExtraValues) | extraSet);
    t.SetU32(kExtraFlags, t.U32(kExtraFlags) | 1u);
    t.SetU16(h::kPabFlags2, t.U16(h::kPabFlags2) | kPab2ExtraFlags);
    extraTouched = true;
  }

  // 14. The smallest form that holds what is in use.
  uint16_t newLength = length;
  if (extraTouched && t.U32(kExtraValues) != 0 && newLength < kPabFullLength) {
    newLength = kPabFullLength;
    t.SetU32(kExtraFlags, t.U32(kExtraFlags) | 1u);
    t.SetU16(h::kPabFlags2, t.U16(h::kPabFlags2) | kPab2ExtraFlags);
  } else if (extensionCopied && newLength < kPabMarginLength) {
    newLength = kPabMarginLength;
  }
  if (newLength < kPabFullLength) {
    t.SetU32(kExtraFlags, t.U32(kExtraFlags) & ~1u);
    t.SetU16(h::kPabFlags2, static_cast<uint16_t>(t.U16(h::kPabFlags2) & ~kPab2ExtraFlags));
  }
  if (newLength > targetCapacity) return NN_ERR_MEMORY;
  t.SetU16(kLength, newLength);

  // Commit: the target, and with tracking the source and the markers.
  std::memcpy(target, t.b, newLength < kPabFullLength ? newLength : kPabFullLength);
  given[kGivenSetPending] = (flagsSet || set2 || extraSet) ? 1 : 0;
  given[kGivenClearPending] = (flagsClear || clear2 || extraClear) ? 1 : 0;
  if (tracking) {
    std::memcpy(source, s.b, sourceCapacity < kPabFullLength ? sourceCapacity : kPabFullLength);
    // 13. The relative markers are this call's own business.
    given[kGivenLeftRelative] = entry15;
    given[kGivenPercentRelative] = entry17;
  }
  return NN_OK;
}

NnStatus BuildParagraphDefinitionFromSpec(uint8_t* target, size_t targetCapacity,
                                          ParagraphSpec* spec, int tracking, int forceExtra) {
  if (!spec) return NN_ERR_INVALID_ARG;
  return BuildParagraphDefinition(
      target, targetCapacity, spec->definition, sizeof spec->definition, spec->flagsSet,
      spec->flagsClear, spec->flags2Set, spec->flags2Clear, spec->extraSet, spec->extraClear,
      spec->listStyle, spec->listRemoval, spec->leftDelta, spec->rightDelta, spec->percentDelta,
      spec->rightPercentDelta, spec->given, tracking, forceExtra);
}
