// Property text writers. Every record field is read through the bounds-checked
// readers; a record too short for a field reads that field as 0 (or skips the
// key when the key is nothing without it).
#include "richtext/engine/propwriters.h"

#include <strings.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "host/color.h"
#include "host/options.h"
#include "richtext/engine/opcodes.h"
#include "richtext/item/cdlayout.h"
#include "rtitem.h"

namespace {

using kv::cd::ReadU16;
using kv::cd::ReadU32;
using kv::cd::ReadU8;

constexpr auto B = kv::cd::U8;
constexpr auto W = kv::cd::U16;
constexpr auto L = kv::cd::U32;
double D(const uint8_t* p, uint32_t len, uint32_t off) {
  double v = 0;
  if (p && off + 8 <= len) std::memcpy(&v, p + off, 8);
  if (!std::isfinite(v)) v = 0;
  return v;
}

// The bytes [off, off + n) of a record cut to what the record holds.
uint32_t Avail(uint32_t len, uint32_t off, uint32_t n) {
  if (off >= len) return 0;
  return n < len - off ? n : len - off;
}

// A double cut into the range of a 32-bit integer (out-of-range values would
// be undefined to convert).
long Trunc(double v) {
  if (!(v > -2147483648.0)) return -2147483647L - 1;
  if (!(v < 2147483647.0)) return 2147483647L;
  return long(v);
}

// A key is written for its own index or for the listing index, while its flag is clear.
bool Wants(uint32_t selector, uint32_t index, uint32_t all, const WrittenFlags* flags) {
  if (selector != index && selector != all) return false;
  return !(flags && flags->Test(index));
}
void Mark(WrittenFlags* flags, uint32_t index) {
  if (flags) flags->Set(index);
}

const char* const kFixedRgb[16] = {
    "rgb(0,0,0)",     "rgb(255,255,255)", "rgb(255,0,0)",     "rgb(0,255,0)",
    "rgb(0,0,255)",   "rgb(255,0,255)",   "rgb(255,255,0)",   "rgb(0,255,255)",
    "rgb(128,0,0)",   "rgb(0,128,0)",     "rgb(0,0,128)",     "rgb(128,0,128)",
    "rgb(128,128,0)", "rgb(0,128,128)",   "rgb(128,128,128)", "rgb(192,192,192)"};
const char* const kFixedHex[16] = {"#000000", "#ffffff", "#ff0000", "#00ff00",
                                   "#0000ff", "#ff00ff", "#ffff00", "#00ffff",
                                   "#800000", "#008000", "#000080", "#800080",
                                   "#808000", "#008080", "#808080", "#C0C0C0"};

const char* StandardName(uint32_t index, uint16_t naming) {
  if (index >= 16) return nullptr;
  return ColorName(uint16_t(index), naming ? ColorNames::Standard : ColorNames::Web);
}

// Does a colour record of 8 bytes stand for the palette index: its colour is
// that entry's, and no earlier one of the first 16 entries has it.
bool RecordStandsForIndex(const uint8_t* rec, uint32_t len, uint32_t index) {
  if (len != 8 || index >= kPaletteSize) return false;
  uint8_t r = B(rec, len, 4), g = B(rec, len, 5), b = B(rec, len, 6);
  const uint8_t* e = PaletteRgbTable[index];
  if (e[0] != r || e[1] != g || e[2] != b) return false;
  for (uint32_t i = 0; i < index && i < 16; ++i) {
    const uint8_t* f = PaletteRgbTable[i];
    if (f[0] == r && f[1] == g && f[2] == b) return false;
  }
  return true;
}

}  // namespace

// ---- PropText -------------------------------------------------------------------

PropText::PropText(char* buffer, uint32_t bufferSize, uint32_t used)
    : text(buffer), size(bufferSize), length(0) {
  if (!text || size == 0) {
    size = 0;
    return;
  }
  length = used < size ? used : size - 1;
  text[length] = 0;
}

void PropText::Append(const char* s, uint32_t n) {
  if (!s || n == 0) return;
  if (size == 0) {
    overflow = true;
    return;
  }
  uint32_t room = size - 1 - length;
  if (n > room) {
    n = room;
    overflow = true;
  }
  std::memcpy(text + length, s, n);
  length += n;
  text[length] = 0;
}

void PropText::Append(const char* s) {
  if (s) Append(s, uint32_t(std::strlen(s)));
}

void PropText::Format(const char* format, ...) {
  char local[512];
  va_list ap;
  va_start(ap, format);
  int n = std::vsnprintf(local, sizeof local, format, ap);
  va_end(ap);
  if (n < 0) return;
  if (size_t(n) < sizeof local) {
    Append(local, uint32_t(n));
    return;
  }
  // Longer texts (record strings of up to 64K) are formatted into place.
  if (size == 0) {
    overflow = true;
    return;
  }
  uint32_t room = size - length;
  va_start(ap, format);
  int m = std::vsnprintf(text + length, room, format, ap);
  va_end(ap);
  if (m < 0) {
    text[length] = 0;
    return;
  }
  if (uint32_t(m) >= room) {
    overflow = true;
    length = size - 1;
  } else {
    length += uint32_t(m);
  }
  text[length] = 0;
}

void PropText::DropTrailingBlank() {
  if (length && text[length - 1] == ' ') text[--length] = 0;
}

// ---- colours --------------------------------------------------------------------

uint16_t ItemColorNaming(const TorvoRTItem* item) {
  return item && item->context ? item->context->colorNaming : 1;
}

int WriteColorName(uint32_t index, PropText* out, uint32_t style, uint16_t naming) {
  if (!out) return 0;
  if (style == 1) {
    if (index < 16)
      out->Append(kFixedRgb[index]);
    else if (index < kPaletteSize) {
      const uint8_t* e = PaletteRgbTable[index];
      out->Format("rgb(%d,%d,%d)", e[0], e[1], e[2]);
    } else {
      out->Append("rgb(0,0,0)");
    }
    return 0;
  }
  if (index < 16) {
    out->Append(style == 0 ? StandardName(index, naming) : kFixedHex[index]);
  } else if (index < kPaletteSize) {
    const uint8_t* e = PaletteRgbTable[index];
    out->Format("#%02x%02x%02x", e[0], e[1], e[2]);
  } else {
    out->Append("#000000");
  }
  return 0;
}

int WriteColorSpec(uint32_t index, const uint8_t* rec, uint32_t recLen, PropText* out,
                   uint32_t style, uint16_t naming) {
  if (!out) return 0;
  uint16_t flags = rec ? W(rec, recLen, 2) : 0;
  bool rgb = rec && recLen >= 8 && (flags & 1) && !RecordStandsForIndex(rec, recLen, index);
  if (rgb) {
    int r = B(rec, recLen, 4), g = B(rec, recLen, 5), b = B(rec, recLen, 6);
    out->Format(style == 1 ? "rgb(%d,%d,%d)" : "RGB%d,%d,%d", r, g, b);
    if ((flags & 0x10) && recLen > 8 && recLen >= 13) {
      int gr = B(rec, recLen, 10), gg = B(rec, recLen, 11), gb = B(rec, recLen, 12);
      out->Format(style == 1 ? " rgb(%d,%d,%d)" : " GRADIENT%d,%d,%d", gr, gg, gb);
    }
    return 0;
  }
  if (style == 1) return WriteColorName(index, out, 1, naming);
  if (index < 16)
    out->Append(StandardName(index, naming));
  else
    out->Format("COLOR%u", index);
  return 0;
}

// ---- HTML attributes, captions, alternate text ------------------------------------

int WriteHtmlAttrProps(const uint8_t* rec, uint32_t len, PropText* out, const char* prefix,
                       uint32_t requested, uint32_t first, uint32_t all, WrittenFlags* flags) {
  if (!rec || !out || len < 26) return 0;
  static const char* const kKeys[6] = {"HTMLId", "HTMLClass", "HTMLStyle",
                                       "HTMLTitle", "HTMLOther", "HTMLName"};
  if (flags)
    for (uint32_t i = 0; i < 6; ++i)
      if (flags->Test(first + i)) return 0;
  bool listing = requested == all;
  if (!listing && (requested < first || requested >= first + 6)) return 0;
  if (!prefix) prefix = "";
  uint32_t off = 26;
  for (uint32_t i = 0; i < 6; ++i) {
    uint32_t n = W(rec, len, 4 + 2 * i);
    uint32_t have = Avail(len, off, n);
    const char* s = reinterpret_cast<const char*>(rec) + (off < len ? off : len);
    bool alone = requested == first + i;
    if ((listing && have) || alone) {
      out->Format("%s%s='%.*s' ", prefix, kKeys[i], int(have), s);
      Mark(flags, first + i);
    }
    off += n;
  }
  return 0;
}

namespace {

int WriteDelimited(const char* key, const uint8_t* rec, uint32_t len, uint32_t textOffset,
                   PropText* out) {
  uint32_t n = W(rec, len, 4);
  uint32_t have = Avail(len, textOffset, n);
  const char* s = reinterpret_cast<const char*>(rec) + (textOffset < len ? textOffset : len);
  // The delimiter must not occur in the text; a NUL inside would end the scan early.
  uint32_t visible = uint32_t(strnlen(s, have));
  char d = ChooseDelimiterChar(s, long(visible));
  out->Format("%s=%c%.*s%c ", key, d, int(visible), s, d);
  return 0;
}

}  // namespace

int WriteCaptionProp(const uint8_t* rec, uint32_t len, PropText* out, uint32_t selector,
                     WrittenFlags* flags) {
  if (!rec || !out || len < 6 || !Wants(selector, 1, 17, flags)) return 0;
  Mark(flags, 1);
  return WriteDelimited("Caption", rec, len, 32, out);
}

int WriteAltTextProp(const uint8_t* rec, uint32_t len, PropText* out, uint32_t selector,
                     WrittenFlags* flags) {
  if (!rec || !out || len < 6 || !Wants(selector, 0, 17, flags)) return 0;
  Mark(flags, 0);
  return WriteDelimited("AltText", rec, len, 12, out);
}

// ---- tables ---------------------------------------------------------------------

int WriteRowCycleProp(const uint8_t* rec, uint32_t len, PropText* out, uint32_t selector,
                      WrittenFlags* flags) {
  if (!rec || !out || !Wants(selector, 2, 29, flags)) return 0;
  Mark(flags, 2);
  out->Format("RowCycleMilliseconds=%ld ", long(L(rec, len, 4)));
  return 0;
}

int WriteTableWidthProps(const uint8_t* rec, uint32_t len, PropText* out, uint32_t selector,
                         WrittenFlags* flags) {
  if (!rec || !out) return 0;
  uint16_t f = W(rec, len, 12);
  if (Wants(selector, 0, 29, flags)) {
    out->Append((f & 1) ? "TableWidth=FIT_WITH_MARGINS " : "TableWidth=FIXED ");
    Mark(flags, 0);
  }
  if (Wants(selector, 1, 29, flags)) {
    out->Append("RowDisplay=BASIC ");
    Mark(flags, 1);
  }
  if (Wants(selector, 6, 29, flags)) {
    const char* style = "NONE";
    if ((f & 0x6F80) == 0x6F80) {
      style = "Solid";
    } else {
      static const struct {
        uint16_t bit;
        const char* word;
      } kStyles[] = {{0x0800, "Alternating_Rows"}, {0x0400, "Alternating_Columns"},
                     {0x0080, "Left_Top"},         {0x0200, "Left"},
                     {0x2000, "Right_Top"},        {0x4000, "Right"},
                     {0x0100, "Top"}};
      for (const auto& s : kStyles)
        if (f & s.bit) {
          style = s.word;
          break;
        }
    }
    out->Format("TableColorStyle=%s ", style);
    Mark(flags, 6);
  }
  if (Wants(selector, 4, 29, flags)) {
    if (f & 4)
      out->Append("CellBorderStyle=GROOVE ");
    else if (f & 8)
      out->Append("CellBorderStyle=RIDGE ");
    else if (selector == 4)
      out->Append("CellBorderStyle=SOLID ");
    Mark(flags, 4);
  }
  if (Wants(selector, 5, 29, flags)) {
    out->Append("CellBorderColor=RGB0,0,0 ");
    Mark(flags, 5);
  }
  return 0;
}

namespace {

void WriteTableColour(const char* key, uint32_t value, PropText* out, uint16_t naming) {
  out->Format("%s=", key);
  int found = -1;
  for (uint32_t i = 0; i < kPaletteSize; ++i) {
    const uint8_t* e = PaletteRgbTable[i];
    uint32_t v = uint32_t(e[0]) | uint32_t(e[1]) << 8 | uint32_t(e[2]) << 16 |
                 uint32_t(e[3]) << 24;
    if (v == value) {
      found = int(i);
      break;
    }
  }
  if (found > 0)
    WriteColorName(uint32_t(found), out, 0, naming);
  else
    out->Format("RGB%d,%d,%d", int(value & 0xFF), int((value >> 8) & 0xFF),
                int((value >> 16) & 0xFF));
  out->Append(" ");
}

}  // namespace

int WriteTableProps(const uint8_t* rec, uint32_t len, PropText* out, uint32_t selector,
                    WrittenFlags* flags, uint16_t naming) {
  if (!rec || !out) return 0;
  uint32_t f = L(rec, len, 4);
  uint8_t viewer = B(rec, len, 20);
  if (Wants(selector, 0, 29, flags)) {
    out->Append(!(f & 1) ? "TableWidth=FIXED "
                         : (f & 64) ? "TableWidth=FIT_TO_WINDOW " : "TableWidth=FIT_WITH_MARGINS ");
    Mark(flags, 0);
  }
  if (Wants(selector, 1, 29, flags)) {
    out->Append("RowDisplay=");
    bool animated = true;
    switch (viewer) {
      case 1: out->Append("ANIMATED Transition=ADVANCE_ON_CLICK"); break;
      case 2: out->Append("ANIMATED Transition=CONTINUALLY"); break;
      case 3: out->Append("ANIMATED Transition=ONCE"); break;
      case 6: out->Append("ANIMATED Transition=ONCE_ON_CLICK"); break;
      case 4:
        animated = false;
        out->Append("TABBED");
        if (f & 0x100)
          out->Append(" TabSide=LEFT");
        else if (f & 0x200)
          out->Append(" TabSide=BOTTOM");
        else if (f & 0x400)
          out->Append(" TabSide=RIGHT");
        break;
      case 5:
        animated = false;
        out->Append((f & 0x80) ? "PROGRAMMABLE_TABBED" : "PROGRAMMABLE");
        break;
      case 8:
        animated = false;
        out->Append("CAPTIONS");
        break;
      default:
        animated = false;
        out->Append("BASIC");
        break;
    }
    out->Append(" ");
    Mark(flags, 1);
    if (animated) Mark(flags, 3);
  }
  if (Wants(selector, 8, 29, flags)) {
    WriteTableColour("TableBodyColor", L(rec, len, 28), out, naming);
    Mark(flags, 8);
  }
  if (Wants(selector, 7, 29, flags)) {
    WriteTableColour("TableColor", L(rec, len, 32), out, naming);
    Mark(flags, 7);
  }
  if (Wants(selector, 5, 29, flags)) {
    int r = B(rec, len, 38), g = B(rec, len, 39), b = B(rec, len, 40);
    if (r + g + b >= 1 || selector == 5) out->Format("CellBorderColor=RGB%d,%d,%d ", r, g, b);
    Mark(flags, 5);
  }
  if (Wants(selector, 11, 29, flags)) {
    if (f & 4)
      out->Append("BorderEffects=DROP_SHADOW ");
    else if (selector == 11)
      out->Append("BorderEffects=NONE ");
    Mark(flags, 11);
  }
  return 0;
}

int WriteTabProps(const uint8_t* rec, uint32_t len, PropText* out, uint32_t selector,
                  WrittenFlags* flags, const TorvoRTItem* item) {
  if (!rec || !out) return 0;
  if (Wants(selector, 27, 29, flags)) {
    uint16_t indent = W(rec, len, 14);
    if (indent || selector == 27) out->Format("TabIndent=\"%4.2f\" ", indent / 1440.0);
    Mark(flags, 27);
  }
  if (Wants(selector, 26, 29, flags)) {
    uint16_t equal = W(rec, len, 12);
    if (equal || selector == 26) out->Format("TabsEqual=%s ", equal ? "Yes" : "No");
    Mark(flags, 26);
  }
  if (Wants(selector, 28, 29, flags)) {
    uint16_t fontLen = W(rec, len, 40);
    if (fontLen >= 14 && Avail(len, 48, 14) == 14) {
      // The tab font: its identifier and the colour value after it, as a
      // colour record 210 of 8 bytes.
      uint32_t font = L(rec, len, 48);
      uint8_t color[8] = {210, 8, 0, 0, 0, 0, 0, 0};
      std::memcpy(color + 2, rec + 56, 5);
      char words[512];
      PropText fontText(words, sizeof words);
      WriteFontStyleProps(font, color, 8, item, &fontText, 2317);
      fontText.DropTrailingBlank();
      out->Format("TabFont='%s' ", words);
    }
    Mark(flags, 28);
  }
  return 0;
}

// ---- fonts ----------------------------------------------------------------------

int WriteFontStyleProps(uint32_t fontId, const uint8_t* colorRecord, uint32_t colorLength,
                        const TorvoRTItem* item, PropText* out, uint32_t code) {
  if (!out) return 0;
  out->length = 0;
  if (out->size) out->text[0] = 0;
  if (colorRecord && colorLength < 8) colorRecord = nullptr;
  const uint8_t face = uint8_t(fontId), attrib = uint8_t(fontId >> 8),
                colour = uint8_t(fontId >> 16), points = uint8_t(fontId >> 24);
  const uint16_t cflags = colorRecord ? W(colorRecord, colorLength, 2) : 0;
  const uint16_t naming = ItemColorNaming(item);
  if (code == 2317 || code == 2333) {
    if (attrib == 0 && !(cflags & 0xF000)) {
      out->Append("Plain ");
    } else {
      if (attrib & 1) out->Append("Bold ");
      if (attrib & 2) out->Append("Italic ");
      if (attrib & 4) out->Append("Underline ");
      if (attrib & 8) out->Append("Strikethrough ");
      // With 0x80 the bits 0x10 and 0x20 name an effect, not a position.
      if (!(attrib & 0x80)) {
        if (attrib & 16) out->Append("Superscript ");
        if (attrib & 32) out->Append("Subscript ");
      }
      if (cflags & 0x8000) out->Append("HighlightYellow ");
      if (cflags & 0x4000) out->Append("HighlightPink ");
      if (cflags & 0x2000) out->Append("HighlightBlue ");
      if (attrib & 0x80) {
        if ((attrib & 0x30) == 0)
          out->Append("Shadowed ");
        else if ((attrib & 0x30) == 0x10)
          out->Append("Embossed ");
        else if ((attrib & 0x30) == 0x20)
          out->Append("Extruded ");
      }
    }
  }
  if (code == 2317 || code == 2318) {
    WriteColorSpec(colour, colorRecord, colorLength, out, 0, naming);
    out->Append(" ");
  }
  if (code == 2317 || code == 2328) out->Format("%dpt ", int(points));
  if (code == 2317 || code == 2319) {
    char name[kFaceNameSize + 1] = {};
    if (item && item->FindFaceByID(face, name)) {
      name[kFaceNameSize] = 0;
      out->Append(name);
      out->Append(" ");
    }
  }
  out->DropTrailingBlank();
  return 0;
}

int WriteFontStylePropsFrom(const uint8_t* rec, uint32_t len, uint32_t fontOffset,
                            const uint8_t* colorRecord, uint32_t colorLength,
                            const TorvoRTItem* item, PropText* out, uint32_t code) {
  if (!rec || fontOffset + 4 > len) {
    if (out) {
      out->length = 0;
      if (out->size) out->text[0] = 0;
    }
    return 0;
  }
  return WriteFontStyleProps(L(rec, len, fontOffset), colorRecord, colorLength, item, out, code);
}

int WriteFontWords(uint32_t fontId, const TorvoRTItem* item, PropText* out, uint32_t code) {
  // Without a colour record there are neither highlights nor RGB colours.
  return WriteFontStyleProps(fontId, nullptr, 0, item, out, code);
}

// ---- image maps -------------------------------------------------------------------

int WriteShapeProps(const uint8_t* rec, uint32_t len, PropText* out, uint32_t selector,
                    WrittenFlags* flags) {
  if (!rec || !out) return 0;
  if (Wants(selector, 6, 8, flags)) {
    const char* shape = "rectangle ";
    switch (W(rec, len, 8)) {
      case 4: shape = "default "; break;
      case 2: shape = "circle "; break;
      case 3: shape = "polygon "; break;
      default: break;
    }
    out->Format("Shape=%s", shape);
    Mark(flags, 6);
  }
  if (Wants(selector, 7, 8, flags)) {
    out->Format("TabIndex=%d ", int(W(rec, len, 10)));
    Mark(flags, 7);
  }
  return 0;
}

int WriteMapNameProp(const uint8_t* rec, uint32_t len, PropText* out, uint32_t selector,
                     WrittenFlags* flags) {
  if (!rec || !out || !Wants(selector, 0, 1, flags)) return 0;
  uint32_t have = Avail(len, 36, W(rec, len, 8));
  out->Format("MapName='%.*s' ", int(have), reinterpret_cast<const char*>(rec) + (len < 36 ? len : 36));
  Mark(flags, 0);
  return 0;
}

// ---- horizontal rules ---------------------------------------------------------------

namespace {

using kv::cd::Put16;
using kv::cd::Put32;

bool Yes(const char* v) { return strcasecmp(v, "Yes") == 0; }
bool No(const char* v) { return strcasecmp(v, "No") == 0; }

}  // namespace

int WriteImageProps(uint16_t signature, uint8_t* rec, uint32_t recSize, const char* options,
                    int initialise) {
  if (!rec) return NN_ERR_INVALID_ARG;
  char v[kOptionValueMax + 1];
  if (signature == 0xFFC9) {
    if (recSize < 16) return NN_ERR_INVALID_ARG;
    if (initialise) {
      std::memset(rec, 0, 16);
      Put16(rec, 0, 0xFFC9);
      Put16(rec, 2, 16);
      Put32(rec, 4, 4);
      Put16(rec, 8, 100);
      Put16(rec, 10, 7);
    }
    uint32_t f = L(rec, recSize, 4);
    if (GetOptionValue(options, "FitToWindow=", v)) {
      if (Yes(v)) f |= 4;
      if (No(v)) f &= ~4u;
    }
    if (GetOptionValue(options, "No3DShadow=", v)) {
      if (Yes(v)) f |= 8;
      if (No(v)) f &= ~8u;
    }
    uint16_t index = 0;
    if (GetOptionValue(options, "Color=", v)) {
      if (strcasecmp(v, "none") == 0) {
        f &= ~1u;
        Put16(rec, 12, 0xFFFF);
      } else if (ParseColor(v, &index, nullptr) == 0) {
        f |= 1;
        Put16(rec, 12, index);
      }
    }
    if (GetOptionValue(options, "GradientColor=", v)) {
      if (strcasecmp(v, "none") == 0) {
        f &= ~2u;
        Put16(rec, 14, 0xFFFF);
      } else if (ParseColor(v, &index, nullptr) == 0) {
        f |= 2;
        Put16(rec, 14, index);
      }
    }
    Put32(rec, 4, f);
    return 0;
  }
  if (signature == 210) {
    if (recSize < 14) return NN_ERR_INVALID_ARG;
    if (initialise) {
      std::memset(rec, 0, 14);
      rec[0] = 210;
      rec[1] = 8;
      Put16(rec, 2, 1);
    }
    uint16_t f = W(rec, recSize, 2);
    ColorRGB c;
    if (GetOptionValue(options, "Color=", v)) {
      if (strcasecmp(v, "none") == 0) {
        f = 5;
      } else if (strcasecmp(v, "system") == 0) {
        f = 9;
      } else if (ParseColor(v, nullptr, &c) == 0) {
        f = uint16_t((f | 1) & ~(4 | 8));
        rec[4] = c.red;
        rec[5] = c.green;
        rec[6] = c.blue;
      }
    }
    if (GetOptionValue(options, "GradientColor=", v) && strcasecmp(v, "none") != 0 &&
        ParseColor(v, nullptr, &c) == 0) {
      rec[1] = 14;
      f |= 16;
      Put16(rec, 8, 1);
      rec[10] = c.red;
      rec[11] = c.green;
      rec[12] = c.blue;
    }
    Put16(rec, 2, f);
    return 0;
  }
  return NN_ERR_INVALID_ARG;
}

int WriteImageFlagProps(const uint8_t* rec, uint32_t len, const uint8_t* colorRecord,
                        uint32_t colorLength, PropText* out, uint32_t selector,
                        WrittenFlags* flags, uint16_t naming) {
  if (!rec || !out) return 0;
  if (colorRecord && colorLength < 8) colorRecord = nullptr;
  uint32_t f = L(rec, len, 4);
  if (Wants(selector, 0, 12, flags)) {
    if (!(f & 4))
      out->Append("FitToWindow='No' ");
    else if (selector == 0)
      out->Append("FitToWindow='Yes' ");
    Mark(flags, 0);
  }
  if (Wants(selector, 7, 12, flags)) {
    if (f & 8)
      out->Append("No3DShadow='Yes' ");
    else if (selector == 7)
      out->Append("No3DShadow='No' ");
    Mark(flags, 7);
  }
  if (Wants(selector, 8, 12, flags)) {
    uint16_t index = W(rec, len, 12);
    if (f & 1) {
      out->Append("Color='");
      if (colorRecord) {
        uint16_t cf = W(colorRecord, colorLength, 2);
        if (cf & 8)
          out->Append("system");
        else if (cf & 4)
          out->Append("none");
        else
          WriteColorSpec(index, colorRecord, colorLength, out, 0, naming);
      } else {
        WriteColorName(index, out, 0, naming);
      }
      out->Append("' ");
    } else if (selector == 8) {
      out->Append("Color='none' ");
    }
    Mark(flags, 8);
  }
  if (Wants(selector, 9, 12, flags)) {
    if (f & 2) {
      out->Append("GradientColor='");
      WriteColorName(W(rec, len, 14), out, 0, naming);
      out->Append("' ");
    } else if (selector == 9) {
      out->Append("GradientColor='none' ");
    }
    Mark(flags, 9);
  }
  if (Wants(selector, 10, 12, flags)) {
    uint16_t width = W(rec, len, 8);
    if (f & 4)
      out->Format("Width='%d%%' ", int(width));
    else
      out->Format("Width='%3.1f' ", width / 1440.0);
    Mark(flags, 10);
  }
  if (Wants(selector, 11, 12, flags)) {
    out->Format("Height='%3.1f' ", W(rec, len, 10) / 1440.0);
    Mark(flags, 11);
  }
  return 0;
}

// ---- lengths and layers ----------------------------------------------------------------

void WriteLengthProp(uint16_t flags, double value, uint8_t unit, PropText* out) {
  if (!out) return;
  if (!std::isfinite(value)) value = 0;
  if (flags & 1) out->Append("auto ");
  if (flags & 2) out->Append("inherit ");
  switch (unit) {
    case 1: out->Format("%fin", value / 1440.0); break;
    case 2: out->Format("%ldpx", Trunc(value)); break;
    case 3: out->Format("%ld%%", Trunc(value)); break;
    case 4: out->Format("%ldem", Trunc(value)); break;
    case 5: out->Format("%ldex", Trunc(value)); break;
    case 6: out->Format("%ldch", Trunc(value)); break;
    default: break;
  }
  if (flags) out->DropTrailingBlank();
}

namespace {

void WriteLengthKey(const char* key, const uint8_t* rec, uint32_t len, uint32_t off,
                    PropText* out) {
  out->Format("%s='", key);
  WriteLengthProp(W(rec, len, off), D(rec, len, off + 8), B(rec, len, off + 16), out);
  out->Append("' ");
}

}  // namespace

int WriteLayerPositionProps(const uint8_t* rec, uint32_t len, PropText* out, uint32_t selector,
                            WrittenFlags* flags) {
  if (!rec || !out) return 0;
  if (Wants(selector, 9, 17, flags)) {
    out->Format("ZIndex=%d ", int32_t(L(rec, len, 4)));
    Mark(flags, 9);
  }
  if (Wants(selector, 8, 17, flags)) {
    const char* scheme = "absolute";
    switch (B(rec, len, 2)) {
      case 0: scheme = "static"; break;
      case 2: scheme = "relative"; break;
      case 3: scheme = "fixed"; break;
      default: break;
    }
    out->Format("Scheme=%s ", scheme);
    Mark(flags, 8);
  }
  if (Wants(selector, 10, 17, flags)) {
    out->Format("BrowserLeftOffset=%ld ", Trunc(D(rec, len, 104)));
    Mark(flags, 10);
  }
  if (Wants(selector, 11, 17, flags)) {
    out->Format("BrowserRightOffset=%ld ", Trunc(D(rec, len, 112)));
    Mark(flags, 11);
  }
  if (Wants(selector, 0, 17, flags)) {
    WriteLengthKey("Top", rec, len, 8, out);
    Mark(flags, 0);
  }
  if (Wants(selector, 1, 17, flags)) {
    WriteLengthKey("Left", rec, len, 32, out);
    Mark(flags, 1);
  }
  return 0;
}

int WriteLayerSizeProps(const uint8_t* rec, uint32_t len, PropText* out, uint32_t selector,
                        WrittenFlags* flags) {
  if (!rec || !out) return 0;
  if (Wants(selector, 15, 17, flags)) {
    WriteLengthKey("Width", rec, len, 8, out);
    Mark(flags, 15);
  }
  if (Wants(selector, 16, 17, flags)) {
    WriteLengthKey("Height", rec, len, 32, out);
    Mark(flags, 16);
  }
  return 0;
}
