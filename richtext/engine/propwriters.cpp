// Property text writers. Every record field is read through the bounds-checked
// readers; a record too short for a field reads that field as 0 (or skips the
// key when the key is nothing without it).
#include "richtext/engine/propwriters.h"

#include <strings.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host/color.h"
#include "host/fonts.h"
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
  FontState shown;
  FontStateOfRun(MakeFontId(0, 0, uint8_t(index < 256 ? index : 0), 0), index < 256 ? rec : nullptr,
                 rec ? recLen : 0, &shown);
  if (shown.colorRgb) {
    const ColorRGB& c = shown.color;
    out->Format(style == 1 ? "rgb(%d,%d,%d)" : "RGB%d,%d,%d", c.red, c.green, c.blue);
    if ((W(rec, recLen, 2) & 0x10) && recLen >= 13) {
      const ColorRGB& g = shown.gradient;
      out->Format(style == 1 ? " rgb(%d,%d,%d)" : " GRADIENT%d,%d,%d", g.red, g.green, g.blue);
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

void WriteDelimitedValue(const char* key, const char* text, uint32_t n, PropText* out) {
  if (!out) return;
  if (!text) n = 0;
  // The delimiter must not occur in the text; a NUL inside would end the scan early.
  const uint32_t visible = n ? uint32_t(strnlen(text, n)) : 0;
  const char d = ChooseDelimiterChar(visible ? text : "", long(visible));
  out->Format("%s=%c%.*s%c ", key, d, int(visible), visible ? text : "", d);
}

bool WriteHtmlAttrValue(const uint8_t* rec, uint32_t len, uint32_t slot, const char* key,
                        bool alone, PropText* out) {
  if (!rec || !out || len < 26 || slot >= 6) return false;
  uint32_t off = 26;
  for (uint32_t i = 0; i < slot; ++i) off += W(rec, len, 4 + 2 * i);
  // Lengths that overrun the record give what it holds.
  const uint32_t have = Avail(len, off, W(rec, len, 4 + 2 * slot));
  if (!have && !alone) return false;
  WriteDelimitedValue(key, reinterpret_cast<const char*>(rec) + (off < len ? off : len), have, out);
  return true;
}

bool SetHtmlAttrValue(std::vector<uint8_t>* rec, uint32_t slot, const char* value, size_t n) {
  if (!rec || slot >= 6 || n > 0xFFFF) return false;
  std::vector<uint8_t>& r = *rec;
  if (r.size() < 26) return false;
  uint32_t total = 26, off = 26;
  for (uint32_t i = 0; i < 6; ++i) {
    const uint32_t w = W(r.data(), uint32_t(r.size()), 4 + 2 * i);
    if (i < slot) off += w;
    total += w;
  }
  const uint32_t old = W(r.data(), uint32_t(r.size()), 4 + 2 * slot);
  if (total > r.size()) return false;  // lengths that overrun the record: left alone
  if (old == n && (n == 0 || std::memcmp(r.data() + off, value, n) == 0)) return true;
  if (total - old + n > 0xFFFE) return false;
  // Bytes after the six strings (a filler) go with the old length.
  r.resize(total);
  r.erase(r.begin() + off, r.begin() + off + old);
  r.insert(r.begin() + off, value, value + n);
  kv::cd::Put16(r.data(), 4 + 2 * slot, uint16_t(n));
  if (r.size() % 2) r.push_back(0);
  kv::cd::Put16(r.data(), 2, uint16_t(r.size()));
  return true;
}

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
  for (uint32_t i = 0; i < 6; ++i) {
    const bool alone = requested == first + i;
    if (!listing && !alone) continue;
    const std::string key = std::string(prefix) + kKeys[i];
    if (WriteHtmlAttrValue(rec, len, i, key.c_str(), alone, out)) Mark(flags, first + i);
  }
  return 0;
}

namespace {

int WriteDelimited(const char* key, const uint8_t* rec, uint32_t len, uint32_t textOffset,
                   PropText* out) {
  const uint32_t have = Avail(len, textOffset, W(rec, len, 4));
  WriteDelimitedValue(key, reinterpret_cast<const char*>(rec) + (textOffset < len ? textOffset : len),
                      have, out);
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

// ---- fonts ----------------------------------------------------------------------

namespace {

// A face name as a font text gives it: bare when it reads back as that face
// alone, else in quotes (a face named "Red Hat" or "Arial 2").
void WriteFaceName(const char* name, PropText* out) {
  FontState parsed;
  uint32_t mask = 0;
  const bool bare = ParseFontSpec(name, nullptr, nullptr, &parsed, &mask) == 0 &&
                    mask == FONT_MASK_FACE && std::strcmp(parsed.faceName, name) == 0;
  const char quote = std::strchr(name, '\'') ? '"' : '\'';
  if (bare || std::strchr(name, quote))
    out->Append(name);
  else
    out->Format("%c%s%c", quote, name, quote);
}

}  // namespace

void RunFontState(uint32_t fontId, const uint8_t* colorRecord, uint32_t colorLength,
                  const TorvoRTItem* item, FontState* out) {
  if (!out) return;
  FontStateOfRun(fontId, colorRecord, colorLength, out);
  char name[kFaceNameSize + 1] = {};
  if (item && item->FindFaceByID(FontIdFace(fontId), name)) {
    name[kFaceNameSize < kFaceNameMax ? kFaceNameSize : kFaceNameMax] = 0;
    std::strcpy(out->faceName, name);
  }
}

int WriteFontStyleProps(uint32_t fontId, const uint8_t* colorRecord, uint32_t colorLength,
                        const TorvoRTItem* item, PropText* out, uint32_t code) {
  if (!out) return 0;
  out->length = 0;
  if (out->size) out->text[0] = 0;
  if (colorRecord && colorLength < 8) colorRecord = nullptr;
  FontState shown;
  FontStateOfRun(fontId, colorRecord, colorLength, &shown);
  if (code == 2317 || code == 2333) {
    // The words of the font parser's table, each bit once, in its order.
    uint32_t written = 0;
    for (size_t i = 0; i < kFontWordCount; ++i) {
      const FontWord& w = kFontWords[i];
      const bool on = (w.highlight ? shown.highlight : shown.styles) & w.bit;
      const uint32_t key = w.highlight ? uint32_t(w.bit) << 16 : w.bit;
      if (!on || (written & key)) continue;
      written |= key;
      out->Append(w.name);
      out->Append(" ");
    }
    if (!written) out->Append("Plain ");
  }
  if (code == 2317 || code == 2318) {
    WriteColorSpec(FontIdColor(fontId), colorRecord, colorLength, out, 0, ItemColorNaming(item));
    out->Append(" ");
  }
  // A font without a size (some stored tab fonts) names none: "0pt" is no size.
  if ((code == 2317 || code == 2328) && FontIdSize(fontId))
    out->Format("%dpt ", int(FontIdSize(fontId)));
  if (code == 2317 || code == 2319) {
    char name[kFaceNameSize + 1] = {};
    if (item && item->FindFaceByID(FontIdFace(fontId), name)) {
      name[kFaceNameSize] = 0;
      WriteFaceName(name, out);
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

namespace {

// A whole number as such (cut to 32 bits); a fraction in full (2.5), so that
// the value written sets back as it was.
void WriteNumber(double value, PropText* out) {
  if (value == std::trunc(value) || !(std::fabs(value) < 2147483647.0)) {
    out->Format("%ld", Trunc(value));
    return;
  }
  char number[32];
  for (int digits = 1; digits <= 17; ++digits) {
    std::snprintf(number, sizeof number, "%.*g", digits, value);
    if (std::strtod(number, nullptr) == value) break;
  }
  out->Append(number);
}

}  // namespace

void WriteLengthProp(uint16_t flags, double value, uint8_t unit, PropText* out) {
  if (!out) return;
  if (!std::isfinite(value)) value = 0;
  if (flags & 1) out->Append("auto ");
  if (flags & 2) out->Append("inherit ");
  static const char* const kUnits[] = {"px", "%", "em", "ex", "ch"};
  if (unit == 1) {
    out->Format("%fin", value / 1440.0);
  } else if (unit >= 2 && unit <= 6) {
    WriteNumber(value, out);
    out->Append(kUnits[unit - 2]);
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
    out->Append("BrowserLeftOffset=");
    WriteNumber(D(rec, len, 104), out);
    out->Append(" ");
    Mark(flags, 10);
  }
  if (Wants(selector, 11, 17, flags)) {
    out->Append("BrowserRightOffset=");
    WriteNumber(D(rec, len, 112), out);
    out->Append(" ");
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
