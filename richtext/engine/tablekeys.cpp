// The keys of the table field map (tablekeys.h). Records are host layout
// and untrusted: reads go through the bounds-checked readers, and setters
// first make sure the record holds the bytes they write.
#include "richtext/engine/tablekeys.h"

#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/color.h"
#include "host/fonts.h"
#include "host/options.h"
#include "richtext/engine/propwriters.h"
#include "richtext/item/cdlayout.h"
#include "rtitem.h"

namespace tablekeys {
namespace {

constexpr auto B = kv::cd::U8;
constexpr auto W = kv::cd::U16;
constexpr auto L = kv::cd::U32;

constexpr uint32_t kTabFontOffset = 48;  // font identifier, then a u32, then a colour value

// ---- values --------------------------------------------------------------------

// The value of the field in the change: the one it gives the field alone,
// else that of the first of the field's keys its options hold.
bool Value(const TableField& f, const TableChange& change, std::string* out) {
  if (change.value && f.index >= 0 && f.index == change.valueIndex) {
    *out = change.value;
    return true;
  }
  const char* options = change.options;
  char value[kOptionValueMax + 1];
  for (const char* key : f.keys) {
    if (!key) break;
    std::string k = std::string(key) + "=";
    if (GetOptionValue(options, k.c_str(), value)) {
      *out = value;
      return true;
    }
  }
  return false;
}

bool Is(const std::string& value, const char* word) { return strcasecmp(value.c_str(), word) == 0; }

bool Fits(const Bytes& rec, uint32_t end) { return rec.size() >= end; }

void Put16(Bytes& rec, uint32_t off, uint16_t v) { kv::cd::Put16(rec.data(), off, v); }
void Put32(Bytes& rec, uint32_t off, uint32_t v) { kv::cd::Put32(rec.data(), off, v); }

// A word of a key's value and what it stands for in the record.
struct Word {
  const char* text;
  uint32_t value;
};

const Word* Find(const Word* words, size_t count, const std::string& text) {
  for (size_t i = 0; i < count; ++i)
    if (Is(text, words[i].text)) return &words[i];
  return nullptr;
}
template <size_t N>
const Word* Find(const Word (&words)[N], const std::string& text) {
  return Find(words, N, text);
}

// Sets the bits `mask` of the flags at `offset` (a 16- or 32-bit word, as
// Flags is) to those of the word among `words` that `v` names; false when it
// names none or the record is too short.
template <typename Flags, size_t N>
bool SetFlags(Bytes& r, uint32_t offset, Flags mask, const Word (&words)[N], const std::string& v) {
  const Word* w = Find(words, v);
  if (!w || !Fits(r, offset + sizeof(Flags))) return false;
  const uint32_t n = uint32_t(r.size());
  const uint32_t now = sizeof(Flags) == 2 ? W(r.data(), n, offset) : L(r.data(), n, offset);
  const uint32_t flags = (now & ~uint32_t(mask)) | w->value;
  if (sizeof(Flags) == 2)
    Put16(r, offset, uint16_t(flags));
  else
    Put32(r, offset, flags);
  return true;
}

// A colour text as 24-bit RGB (red in the low byte).
bool ColourValue(const std::string& text, uint16_t naming, uint32_t* rgb) {
  ColorRGB c;
  if (ParseColor(text.c_str(), nullptr, &c, naming ? ColorNames::Standard : ColorNames::Web) != 0)
    return false;
  *rgb = uint32_t(c.red) | uint32_t(c.green) << 8 | uint32_t(c.blue) << 16;
  return true;
}

// Inches (or a length with "px", "cm" or "tw") as twips, cut to 16 bits.
bool Twips(const std::string& text, uint16_t* out) {
  const char* p = text.c_str();
  char* end = nullptr;
  const double v = std::strtod(p, &end);
  if (end == p || !(v >= 0) || v > 1e9) return false;
  double twips = v * 1440.0;
  if (!strncasecmp(end, "px", 2))
    twips = v * 15.0;
  else if (!strncasecmp(end, "cm", 2))
    twips = v * 1440.0 / 2.54;
  else if (!strncasecmp(end, "tw", 2))
    twips = v;
  *out = uint16_t(twips > 65535 ? 65535 : twips);
  return true;
}

// ---- the pre-table record (0xFFFB): flags at 4, viewer type at 20, body and
// table colours at 28 and 32, cell border colour at 38 --------------------------

constexpr uint32_t kPreFlags = 4, kPreViewer = 20, kPreMinRow = 22, kPreBody = 28,
                   kPreTableColour = 32, kPreBorder = 38;

void PreWidthWrite(const uint8_t* r, uint32_t n, PropText* out, bool, const FieldContext&) {
  const uint32_t f = L(r, n, kPreFlags);
  out->Append(!(f & 1)   ? "TableWidth=FIXED "
              : (f & 64) ? "TableWidth=FIT_TO_WINDOW "
                         : "TableWidth=FIT_WITH_MARGINS ");
}

// "Fit=Window..." is the composer's older form of the width.
bool WidthValue(const TableField& f, const TableChange& change, std::string* v) {
  if (Value(f, change, v)) return true;
  char fit[kOptionValueMax + 1];
  if (!GetOptionValue(change.options, "Fit=", fit)) return false;
  *v = strncasecmp(fit, "Window", 6) == 0 ? "FIT_TO_WINDOW" : "FIXED";
  return true;
}

constexpr Word kPreWidths[] = {{"FIXED", 0}, {"FIT_TO_WINDOW", 1 | 64}, {"FIT_WITH_MARGINS", 1}};

bool PreWidthSet(Bytes& r, const TableField& f, const TableChange& o, const FieldContext&) {
  std::string v;
  return !WidthValue(f, o, &v) || SetFlags(r, kPreFlags, uint32_t(1 | 64), kPreWidths, v);
}

constexpr Word kTransitions[] = {
    {"ADVANCE_ON_CLICK", 1}, {"CONTINUALLY", 2}, {"ONCE", 3}, {"ONCE_ON_CLICK", 6}};
constexpr Word kTabSides[] = {{"TOP", 0}, {"LEFT", 0x100}, {"BOTTOM", 0x200}, {"RIGHT", 0x400}};
constexpr uint32_t kTabSideBits = 0x700, kProgrammableTabs = 0x80;

bool Animated(uint8_t viewer) { return viewer == 1 || viewer == 2 || viewer == 3 || viewer == 6; }

void PreRowDisplayWrite(const uint8_t* r, uint32_t n, PropText* out, bool, const FieldContext&) {
  const uint32_t f = L(r, n, kPreFlags);
  const uint8_t viewer = B(r, n, kPreViewer);
  out->Append("RowDisplay=");
  if (Animated(viewer)) {
    out->Append("ANIMATED Transition=");
    for (const Word& t : kTransitions)
      if (t.value == viewer) out->Append(t.text);
  } else if (viewer == 4) {
    out->Append("TABBED");
    for (const Word& s : kTabSides)
      if (s.value && (f & s.value)) {
        out->Format(" TabSide=%s", s.text);
        break;
      }
  } else if (viewer == 5) {
    out->Append((f & kProgrammableTabs) ? "PROGRAMMABLE_TABBED" : "PROGRAMMABLE");
  } else if (viewer == 8) {
    out->Append("CAPTIONS");
  } else {
    out->Append("BASIC");
  }
  out->Append(" ");
}

// The viewer type and its flags: "RowDisplay=" with "Transition=" for the
// animated kinds and "TabSide=" for the tabbed one; either of those alone
// changes the table's current kind.
bool PreRowDisplaySet(Bytes& r, const TableField& f, const TableChange& o, const FieldContext&) {
  std::string display, transition, side;
  const bool hasDisplay = Value(f, o, &display);
  char value[kOptionValueMax + 1];
  const bool hasTransition =
      GetOptionValue(o.options, "Transition=", value) && (transition = value, true);
  const bool hasSide = GetOptionValue(o.options, "TabSide=", value) && (side = value, true);
  if (!hasDisplay && !hasTransition && !hasSide) return true;
  if (!Fits(r, kPreViewer + 1)) return false;
  uint32_t flags = L(r.data(), uint32_t(r.size()), kPreFlags);
  uint8_t viewer = r[kPreViewer];
  if (hasDisplay) {
    if (Is(display, "BASIC"))
      viewer = Animated(viewer) || viewer == 4 || viewer == 5 || viewer == 8 ? 0 : viewer;
    else if (Is(display, "ANIMATED"))
      viewer = Animated(viewer) ? viewer : 1;
    else if (Is(display, "TABBED"))
      viewer = 4;
    else if (Is(display, "CAPTIONS"))
      viewer = 8;
    else if (Is(display, "PROGRAMMABLE"))
      viewer = 5, flags &= ~kProgrammableTabs;
    else if (Is(display, "PROGRAMMABLE_TABBED"))
      viewer = 5, flags |= kProgrammableTabs;
    else
      return false;
  }
  if (hasTransition) {
    const Word* t = Find(kTransitions, transition);
    if (!t || !Animated(viewer)) return false;
    viewer = uint8_t(t->value);
  }
  if (hasSide) {
    const Word* s = Find(kTabSides, side);
    if (!s || viewer != 4) return false;
    flags = (flags & ~kTabSideBits) | s->value;
  }
  r[kPreViewer] = viewer;
  Put32(r, kPreFlags, flags);
  return true;
}

void WriteTableColour(const char* key, uint32_t value, PropText* out, uint16_t naming) {
  out->Format("%s=", key);
  int found = -1;
  for (uint32_t i = 0; i < kPaletteSize && found < 0; ++i) {
    const uint8_t* e = PaletteRgbTable[i];
    if ((uint32_t(e[0]) | uint32_t(e[1]) << 8 | uint32_t(e[2]) << 16 | uint32_t(e[3]) << 24) ==
        value)
      found = int(i);
  }
  if (found > 0)
    WriteColorName(uint32_t(found), out, 0, naming);
  else
    out->Format("RGB%d,%d,%d", int(value & 0xFF), int((value >> 8) & 0xFF),
                int((value >> 16) & 0xFF));
  out->Append(" ");
}

template <uint32_t kOffset>
void PreColourWrite(const uint8_t* r, uint32_t n, PropText* out, bool, const FieldContext& c) {
  WriteTableColour(kOffset == kPreBody ? "TableBodyColor" : "TableColor", L(r, n, kOffset), out,
                   c.naming);
}

template <uint32_t kOffset>
bool PreColourSet(Bytes& r, const TableField& f, const TableChange& o, const FieldContext& c) {
  std::string v;
  if (!Value(f, o, &v)) return true;
  uint32_t rgb = 0;
  if (!Fits(r, kOffset + 4) || !ColourValue(v, c.naming, &rgb)) return false;
  // The byte above the colour is not part of it: kept as it is.
  Put32(r, kOffset, (L(r.data(), uint32_t(r.size()), kOffset) & 0xFF000000u) | rgb);
  return true;
}

void PreBorderColourWrite(const uint8_t* r, uint32_t n, PropText* out, bool alone,
                          const FieldContext&) {
  const int red = B(r, n, kPreBorder), green = B(r, n, kPreBorder + 1),
            blue = B(r, n, kPreBorder + 2);
  if (red + green + blue >= 1 || alone)
    out->Format("CellBorderColor=RGB%d,%d,%d ", red, green, blue);
}

bool PreBorderColourSet(Bytes& r, const TableField& f, const TableChange& o,
                        const FieldContext& c) {
  std::string v;
  if (!Value(f, o, &v)) return true;
  uint32_t rgb = 0;
  if (!Fits(r, kPreBorder + 3) || !ColourValue(v, c.naming, &rgb)) return false;
  r[kPreBorder] = uint8_t(rgb);
  r[kPreBorder + 1] = uint8_t(rgb >> 8);
  r[kPreBorder + 2] = uint8_t(rgb >> 16);
  return true;
}

constexpr uint32_t kDropShadow = 4;

void PreEffectsWrite(const uint8_t* r, uint32_t n, PropText* out, bool alone, const FieldContext&) {
  if (L(r, n, kPreFlags) & kDropShadow)
    out->Append("BorderEffects=DROP_SHADOW ");
  else if (alone)
    out->Append("BorderEffects=NONE ");
}

constexpr Word kEffects[] = {{"DROP_SHADOW", kDropShadow}, {"NONE", 0}};

bool PreEffectsSet(Bytes& r, const TableField& f, const TableChange& o, const FieldContext&) {
  std::string v;
  return !Value(f, o, &v) || SetFlags(r, kPreFlags, kDropShadow, kEffects, v);
}

// A length in twips in the 16-bit word at kOffset.
template <uint32_t kOffset>
bool TwipsSet(Bytes& r, const TableField& f, const TableChange& o, const FieldContext&) {
  std::string v;
  uint16_t twips = 0;
  if (!Value(f, o, &v)) return true;
  if (!Fits(r, kOffset + 2) || !Twips(v, &twips)) return false;
  Put16(r, kOffset, twips);
  return true;
}

// ---- the table begin (163, 207): left margin at 2, spacing at 4 to 10,
// flags at 12 ---------------------------------------------------------------------

constexpr uint32_t kBeginMargin = 2, kBeginSpacing = 4, kBeginFlags = 12;
constexpr uint16_t kAutoWidth = 1, kGroove = 4, kRidge = 8, kColourStyles = 0x6F80;

void BeginWidthWrite(const uint8_t* r, uint32_t n, PropText* out, bool, const FieldContext&) {
  out->Append((W(r, n, kBeginFlags) & kAutoWidth) ? "TableWidth=FIT_WITH_MARGINS "
                                                  : "TableWidth=FIXED ");
}

constexpr Word kBeginWidths[] = {
    {"FIXED", 0}, {"FIT_TO_WINDOW", kAutoWidth}, {"FIT_WITH_MARGINS", kAutoWidth}};

bool BeginWidthSet(Bytes& r, const TableField& f, const TableChange& o, const FieldContext&) {
  std::string v;
  return !WidthValue(f, o, &v) || SetFlags(r, kBeginFlags, kAutoWidth, kBeginWidths, v);
}

// A table without a pre-table record shows its rows one under the other, in
// a black cell border: those values hold, no other can be set.
void BeginRowDisplayWrite(const uint8_t*, uint32_t, PropText* out, bool, const FieldContext&) {
  out->Append("RowDisplay=BASIC ");
}
bool BeginRowDisplaySet(Bytes&, const TableField& f, const TableChange& o, const FieldContext&) {
  std::string v;
  char other[kOptionValueMax + 1];
  if (GetOptionValue(o.options, "Transition=", other) ||
      GetOptionValue(o.options, "TabSide=", other))
    return false;
  return !Value(f, o, &v) || Is(v, "BASIC");
}
void BeginBorderColourWrite(const uint8_t*, uint32_t, PropText* out, bool, const FieldContext&) {
  out->Append("CellBorderColor=RGB0,0,0 ");
}
bool BeginBorderColourSet(Bytes&, const TableField& f, const TableChange& o,
                          const FieldContext& c) {
  std::string v;
  uint32_t rgb = 0;
  return !Value(f, o, &v) || (ColourValue(v, c.naming, &rgb) && rgb == 0);
}

constexpr Word kColourStyleWords[] = {{"Alternating_Rows", 0x0800},
                                      {"Alternating_Columns", 0x0400},
                                      {"Left_Top", 0x0080},
                                      {"Left", 0x0200},
                                      {"Right_Top", 0x2000},
                                      {"Right", 0x4000},
                                      {"Top", 0x0100},
                                      {"Solid", kColourStyles},
                                      {"NONE", 0}};

void BeginColourStyleWrite(const uint8_t* r, uint32_t n, PropText* out, bool, const FieldContext&) {
  const uint16_t f = W(r, n, kBeginFlags);
  const char* style = "NONE";
  if ((f & kColourStyles) == kColourStyles) {
    style = "Solid";
  } else {
    for (const Word& w : kColourStyleWords)
      if (w.value != kColourStyles && (f & w.value)) {
        style = w.text;
        break;
      }
  }
  out->Format("TableColorStyle=%s ", style);
}

bool BeginColourStyleSet(Bytes& r, const TableField& f, const TableChange& o, const FieldContext&) {
  std::string v;
  return !Value(f, o, &v) || SetFlags(r, kBeginFlags, kColourStyles, kColourStyleWords, v);
}

void BeginBorderStyleWrite(const uint8_t* r, uint32_t n, PropText* out, bool alone,
                           const FieldContext&) {
  const uint16_t f = W(r, n, kBeginFlags);
  if (f & kGroove)
    out->Append("CellBorderStyle=GROOVE ");
  else if (f & kRidge)
    out->Append("CellBorderStyle=RIDGE ");
  else if (alone)
    out->Append("CellBorderStyle=SOLID ");
}

constexpr Word kBorderStyles[] = {{"GROOVE", kGroove}, {"RIDGE", kRidge}, {"SOLID", 0}};

bool BeginBorderStyleSet(Bytes& r, const TableField& f, const TableChange& o, const FieldContext&) {
  std::string v;
  return !Value(f, o, &v) ||
         SetFlags(r, kBeginFlags, uint16_t(kGroove | kRidge), kBorderStyles, v);
}

bool BeginSpacingSet(Bytes& r, const TableField& f, const TableChange& o, const FieldContext&) {
  std::string v;
  uint16_t twips = 0;
  if (!Value(f, o, &v)) return true;
  if (!Fits(r, kBeginSpacing + 8) || !Twips(v, &twips)) return false;
  for (uint32_t i = 0; i < 4; ++i) Put16(r, kBeginSpacing + 2 * i, twips);
  return true;
}

// ---- the row-cycle record (225): its interval at 4 ---------------------------------

void RowCycleWrite(const uint8_t* r, uint32_t n, PropText* out, bool, const FieldContext&) {
  out->Format("RowCycleMilliseconds=%ld ", long(L(r, n, 4)));
}

bool RowCycleSet(Bytes& r, const TableField& f, const TableChange& o, const FieldContext&) {
  std::string v;
  if (!Value(f, o, &v)) return true;
  char* end = nullptr;
  const unsigned long ms = std::strtoul(v.c_str(), &end, 10);
  if (v.empty() || *end || v[0] == '-' || ms > 0xFFFFFFFFul || !Fits(r, 8)) return false;
  Put32(r, 4, uint32_t(ms));
  return true;
}

// ---- the tab record (0xFF5C): equal tabs at 12, indent at 14, the tab font
// after the fixed part --------------------------------------------------------------

void TabIndentWrite(const uint8_t* r, uint32_t n, PropText* out, bool alone, const FieldContext&) {
  const uint16_t indent = W(r, n, 14);
  if (indent || alone) out->Format("TabIndent=\"%4.2f\" ", indent / 1440.0);
}

void TabsEqualWrite(const uint8_t* r, uint32_t n, PropText* out, bool alone, const FieldContext&) {
  const uint16_t equal = W(r, n, 12);
  if (equal || alone) out->Format("TabsEqual=%s ", equal ? "Yes" : "No");
}

bool TabsEqualSet(Bytes& r, const TableField& f, const TableChange& o, const FieldContext&) {
  std::string v;
  if (!Value(f, o, &v)) return true;
  if (!Fits(r, 14)) return false;
  const uint16_t equal = W(r.data(), uint32_t(r.size()), 12);
  if (Is(v, "Yes"))
    Put16(r, 12, equal ? equal : 1);
  else if (Is(v, "No"))
    Put16(r, 12, 0);
  else
    return false;
  return true;
}

// The tab font: its identifier and, after a 32-bit word, a colour value
// (flags, red, green, blue) read as a run's colour record.
bool TabFontParts(const uint8_t* r, uint32_t n, uint32_t* font, uint8_t color[8]) {
  if (W(r, n, 40) < 14 || n < kTabFontOffset + 14) return false;
  *font = L(r, n, kTabFontOffset);
  color[0] = 210;
  color[1] = 8;
  std::memcpy(color + 2, r + kTabFontOffset + 8, 5);
  color[7] = 0;
  return true;
}

void TabFontWrite(const uint8_t* r, uint32_t n, PropText* out, bool, const FieldContext& c) {
  uint32_t font = 0;
  uint8_t color[8];
  if (!TabFontParts(r, n, &font, color)) return;
  char words[512];
  PropText fontText(words, sizeof words);
  WriteFontStyleProps(font, color, 8, c.item, &fontText, 2317);
  fontText.DropTrailingBlank();
  WriteDelimitedValue("TabFont", words, fontText.length, out);
}

bool TabFontSet(Bytes& r, const TableField& f, const TableChange& o, const FieldContext& c) {
  std::string v;
  if (!Value(f, o, &v)) return true;
  uint32_t font = 0;
  uint8_t color[8];
  if (!TabFontParts(r.data(), uint32_t(r.size()), &font, color)) return false;
  FontState want;
  uint32_t mask = 0;
  auto* item = const_cast<TorvoRTItem*>(c.item);
  // The tab font holds no highlight or gradient: "Plain" (which clears any
  // highlight) is its own word, a highlight or a gradient is refused.
  if (ParseFontSpec(v.c_str(), nullptr, item, &want, &mask,
                    c.naming ? ColorNames::Standard : ColorNames::Web) != 0 ||
      ((mask & FONT_MASK_HIGHLIGHT) && want.highlight) || (mask & FONT_MASK_GRADIENT))
    return false;
  mask &= ~FONT_MASK_HIGHLIGHT;
  FontState shown;
  RunFontState(font, color, 8, c.item, &shown);
  mask = FontChangeMask(shown, want, mask);
  uint32_t rgb = 0;
  uint16_t colourFlags = 0;
  FontApplyChanges(&font, &rgb, &colourFlags, &want, mask);
  Put32(r, kTabFontOffset, font);
  if (mask & FONT_MASK_COLOR) {
    // An RGB colour is the value's; a palette colour the identifier's.
    uint8_t* value = r.data() + kTabFontOffset + 8;
    const uint16_t flags = uint16_t((value[0] | value[1] << 8) & ~1u) | (colourFlags & 1u);
    value[0] = uint8_t(flags);
    value[1] = uint8_t(flags >> 8);
    value[2] = uint8_t(rgb);
    value[3] = uint8_t(rgb >> 8);
    value[4] = uint8_t(rgb >> 16);
  }
  return true;
}

// ---- the attribute record (0xFF7A): six lengths at 4, the strings after
// the 26-byte head ------------------------------------------------------------------

constexpr const char* kHtmlKeys[6] = {"TableHTMLId",    "TableHTMLClass", "TableHTMLStyle",
                                      "TableHTMLTitle", "TableHTMLOther", "TableHTMLName"};

template <int kSlot>
void HtmlWrite(const uint8_t* r, uint32_t n, PropText* out, bool alone, const FieldContext&) {
  WriteHtmlAttrValue(r, n, kSlot, kHtmlKeys[kSlot], alone, out);
}

template <int kSlot>
bool HtmlSet(Bytes& r, const TableField& f, const TableChange& o, const FieldContext&) {
  std::string v;
  return !Value(f, o, &v) || SetHtmlAttrValue(&r, kSlot, v.data(), v.size());
}

// ---- the map ------------------------------------------------------------------------

constexpr uint32_t Bit(int i) { return 1u << i; }

// In the order the listing writes them: the pre-table record's keys, the tab
// record's, the attribute record's, the table begin's, the row cycle's.
const TableField kTableFields[] = {
    {{"TableWidth"}, {"Fit"}, kPreTable, 0, 0, PreWidthWrite, PreWidthSet},
    {{"RowDisplay"},
     {"Transition", "TabSide"},
     kPreTable,
     1,
     Bit(3) | Bit(25),
     PreRowDisplayWrite,
     PreRowDisplaySet},
    {{"TableBodyColor", "Color"},
     {},
     kPreTable,
     8,
     0,
     PreColourWrite<kPreBody>,
     PreColourSet<kPreBody>},
    {{"TableColor"},
     {},
     kPreTable,
     7,
     0,
     PreColourWrite<kPreTableColour>,
     PreColourSet<kPreTableColour>},
    {{"CellBorderColor"}, {}, kPreTable, 5, 0, PreBorderColourWrite, PreBorderColourSet},
    {{"BorderEffects"}, {}, kPreTable, 11, 0, PreEffectsWrite, PreEffectsSet},
    {{"MinRowHeight"}, {}, kPreTable, -1, 0, nullptr, TwipsSet<kPreMinRow>},
    {{"TabIndent", "TabsIndent"}, {}, kTabs, 27, 0, TabIndentWrite, TwipsSet<14>},
    {{"TabsEqual"}, {}, kTabs, 26, 0, TabsEqualWrite, TabsEqualSet},
    {{"TabFont"}, {}, kTabs, 28, 0, TabFontWrite, TabFontSet},
    {{kHtmlKeys[0]}, {}, kIdName, 19, 0, HtmlWrite<0>, HtmlSet<0>},
    {{kHtmlKeys[1]}, {}, kIdName, 20, 0, HtmlWrite<1>, HtmlSet<1>},
    {{kHtmlKeys[2]}, {}, kIdName, 21, 0, HtmlWrite<2>, HtmlSet<2>},
    {{kHtmlKeys[3]}, {}, kIdName, 22, 0, HtmlWrite<3>, HtmlSet<3>},
    {{kHtmlKeys[4]}, {}, kIdName, 23, 0, HtmlWrite<4>, HtmlSet<4>},
    {{kHtmlKeys[5]}, {}, kIdName, 24, 0, HtmlWrite<5>, HtmlSet<5>},
    {{"TableWidth"}, {"Fit"}, kBegin, 0, 0, BeginWidthWrite, BeginWidthSet},
    {{"RowDisplay"},
     {"Transition", "TabSide"},
     kBegin,
     1,
     Bit(3) | Bit(25),
     BeginRowDisplayWrite,
     BeginRowDisplaySet},
    {{"TableColorStyle"}, {}, kBegin, 6, 0, BeginColourStyleWrite, BeginColourStyleSet},
    {{"CellBorderStyle"}, {}, kBegin, 4, 0, BeginBorderStyleWrite, BeginBorderStyleSet},
    {{"CellBorderColor"}, {}, kBegin, 5, 0, BeginBorderColourWrite, BeginBorderColourSet},
    {{"LeftMargin", "Margin"}, {}, kBegin, -1, 0, nullptr, TwipsSet<kBeginMargin>},
    {{"Spacing", "CellSpacing"}, {}, kBegin, -1, 0, nullptr, BeginSpacingSet},
    {{"RowCycleMilliseconds"}, {}, kRowCycle, 2, 0, RowCycleWrite, RowCycleSet},
};

static_assert(sizeof kTableFields / sizeof kTableFields[0] <= 64, "a change is a 64-bit set");

}  // namespace

const TableField* TableFieldMap(size_t* count) {
  *count = sizeof kTableFields / sizeof kTableFields[0];
  return kTableFields;
}

}  // namespace tablekeys
