// Text runs and the renderer's small text helpers: float-clearing breaks,
// signature matching, escaping, entity names, interned strings, blank runs,
// joined text lists, font changes and the text-run writer.
#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "host/color.h"
#include "host/fonts.h"
#include "host/pool.h"
#include "lsxsessi.h"
#include "render/render.h"
#include "richtext/item/recordlist.h"
#include "rtitem.h"

void WriteClearBreak(RenderContext* ctx, int /*reserved*/) {
  if (ctx == nullptr) return;
  const char* text;
  if (ctx->outputKind == kOutputXhtml)
    text = "<br style=\"clear:both;\" />";
  else if (ctx->outputKind == kOutputHtml)
    text = (ctx->renderFlagsA & 0x8) ? "<br clear=\"all\">" : "<br style=\"clear:both;\">";
  else
    text = "<br />";
  RenderAppend(ctx, text);
}

int SignaturesMatch(uint16_t a, uint16_t b) {
  if (a == b) return 1;
  // A version 4 hotspot begins with 0xFFAD and ends with 0x00AE.
  return (a == 0xFFAD && b == 0x00AE) || (a == 0x00AE && b == 0xFFAD);
}

size_t EscapeHtmlText(const char* text, size_t length, char* out, size_t outSize) {
  if (out == nullptr || outSize == 0) return 0;
  size_t used = 0;
  out[0] = 0;
  if (text == nullptr) return 0;
  for (size_t i = 0; i < length && text[i] != 0; ++i) {
    const char c = text[i];
    const char* entity = nullptr;
    switch (c) {
      case '&': entity = "&amp;"; break;
      case '<': entity = "&lt;"; break;
      case '>': entity = "&gt;"; break;
      case '"': entity = "&quot;"; break;
      case '\'': entity = "&#39;"; break;
      default: break;
    }
    const size_t n = entity ? std::strlen(entity) : 1;
    if (used + n >= outSize) break;  // never a partial reference
    if (entity)
      std::memcpy(out + used, entity, n);
    else
      out[used] = c;
    used += n;
  }
  out[used] = 0;
  return used;
}

// ---- entity names ------------------------------------------------------------

namespace {

// HTML names of U+00A0..U+00FF.
const char* const kLatin1Names[96] = {
    "nbsp",   "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",
    "uml",    "copy",   "ordf",   "laquo",  "not",    "shy",    "reg",    "macr",
    "deg",    "plusmn", "sup2",   "sup3",   "acute",  "micro",  "para",   "middot",
    "cedil",  "sup1",   "ordm",   "raquo",  "frac14", "frac12", "frac34", "iquest",
    "Agrave", "Aacute", "Acirc",  "Atilde", "Auml",   "Aring",  "AElig",  "Ccedil",
    "Egrave", "Eacute", "Ecirc",  "Euml",   "Igrave", "Iacute", "Icirc",  "Iuml",
    "ETH",    "Ntilde", "Ograve", "Oacute", "Ocirc",  "Otilde", "Ouml",   "times",
    "Oslash", "Ugrave", "Uacute", "Ucirc",  "Uuml",   "Yacute", "THORN",  "szlig",
    "agrave", "aacute", "acirc",  "atilde", "auml",   "aring",  "aelig",  "ccedil",
    "egrave", "eacute", "ecirc",  "euml",   "igrave", "iacute", "icirc",  "iuml",
    "eth",    "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide",
    "oslash", "ugrave", "uacute", "ucirc",  "uuml",   "yacute", "thorn",  "yuml"};

struct NamedCharacter {
  uint32_t code;
  const char* name;
};
const NamedCharacter kOtherNames[] = {
    {0x0152, "OElig"},  {0x0153, "oelig"},  {0x0160, "Scaron"}, {0x0161, "scaron"},
    {0x0178, "Yuml"},   {0x0192, "fnof"},   {0x02C6, "circ"},   {0x02DC, "tilde"},
    {0x2013, "ndash"},  {0x2014, "mdash"},  {0x2018, "lsquo"},  {0x2019, "rsquo"},
    {0x201A, "sbquo"},  {0x201C, "ldquo"},  {0x201D, "rdquo"},  {0x201E, "bdquo"},
    {0x2020, "dagger"}, {0x2021, "Dagger"}, {0x2022, "bull"},   {0x2026, "hellip"},
    {0x2030, "permil"}, {0x2039, "lsaquo"}, {0x203A, "rsaquo"}, {0x20AC, "euro"},
    {0x2122, "trade"}};

}  // namespace

// The Unicode code point of one platform character; 0 when it has none.
uint32_t RenderCharacterCode(const char* character, uint32_t byteSize) {
  if (character == nullptr || byteSize == 0) return 0;
  const auto* b = reinterpret_cast<const uint8_t*>(character);
  if (byteSize == 1 && b[0] < 0x80) return b[0];
  NnCharsetInfo* table = nullptr;
  if (NnCharsetTableLoad(NN_CHARSET_LMBCS, NN_CHARSET_UNICODE, &table) != NN_OK) return 0;
  uint8_t units[8] = {};
  uint32_t n = 0;
  NnStatus st = NnCharsetTranslate(table, 144, character, byteSize,
                                   reinterpret_cast<char*>(units), sizeof units, &n);
  NnCharsetTableFree(table);
  if (st != NN_OK || n < 2) return 0;
  uint32_t first = uint32_t(units[0]) | uint32_t(units[1]) << 8;
  if (first >= 0xD800 && first < 0xDC00 && n >= 4) {
    uint32_t second = uint32_t(units[2]) | uint32_t(units[3]) << 8;
    if (second >= 0xDC00 && second < 0xE000)
      return 0x10000 + ((first - 0xD800) << 10) + (second - 0xDC00);
    return 0;
  }
  return n == 2 ? first : 0;
}

const char* GetEntityNameForNotesChar(const NnCharsetInfo* /*table*/, const char* character,
                                      uint32_t byteSize) {
  const uint32_t code = RenderCharacterCode(character, byteSize);
  if (code >= 0xA0 && code <= 0xFF) return kLatin1Names[code - 0xA0];
  for (const NamedCharacter& n : kOtherNames)
    if (n.code == code) return n.name;
  return nullptr;
}

uint32_t HtmlEntityCode(const char* name, size_t length) {
  if (name == nullptr || length == 0) return 0;
  for (uint32_t i = 0; i < 96; ++i)
    if (std::strlen(kLatin1Names[i]) == length && std::memcmp(kLatin1Names[i], name, length) == 0)
      return 0xA0 + i;
  for (const NamedCharacter& n : kOtherNames)
    if (std::strlen(n.name) == length && std::memcmp(n.name, name, length) == 0) return n.code;
  return 0;
}

// ---- interned strings, blank runs, text lists ----------------------------------

const char* InternRenderString(RenderContext* ctx, const char* text) {
  if (ctx == nullptr || text == nullptr) return nullptr;
  const uint32_t count = ctx->stringTableCount < kStringTableSize - 1 ? ctx->stringTableCount
                                                                     : kStringTableSize - 1;
  for (uint32_t i = 0; i < count; ++i)
    if (ctx->stringTable[i] != nullptr && std::strcmp(ctx->stringTable[i], text) == 0)
      return ctx->stringTable[i];
  for (uint32_t i = 0; i < ctx->stringOverflowCount; ++i)
    if (std::strcmp(ctx->stringOverflow[i], text) == 0) return ctx->stringOverflow[i];
  if (ctx->session == nullptr) return nullptr;
  if (count < kStringTableSize - 1) {
    char* copy = POOL_STRDUP(ctx->session, text);
    if (copy == nullptr) return nullptr;
    ctx->stringTable[count] = copy;
    ctx->stringTableCount = uint16_t(count + 1);
    return copy;
  }
  // The table is full: a large document keeps its strings in the overflow.
  if (ctx->stringOverflowCount == ctx->stringOverflowCapacity) {
    const uint32_t capacity = ctx->stringOverflowCapacity ? ctx->stringOverflowCapacity * 2 : 256;
    auto** grown = static_cast<char**>(POOL_ALLOC(ctx->session, capacity * sizeof(char*), true));
    if (grown == nullptr) return nullptr;
    if (ctx->stringOverflowCount)
      std::memcpy(grown, ctx->stringOverflow, ctx->stringOverflowCount * sizeof(char*));
    if (ctx->stringOverflow) PoolFree(ctx->session, ctx->stringOverflow);
    ctx->stringOverflow = grown;
    ctx->stringOverflowCapacity = capacity;
  }
  char* copy = POOL_STRDUP(ctx->session, text);
  if (copy == nullptr) return nullptr;
  ctx->stringOverflow[ctx->stringOverflowCount++] = copy;
  return copy;
}

namespace {

bool IsTextSignature(uint16_t s) { return s == 0xFF85 || s == 0xFFE4; }

// Records that show nothing by themselves: definitions, styles, fonts and
// the markers of grouping.
bool IsInvisibleSignature(uint16_t s) {
  switch (s) {
    case 0xFF82:  // paragraph definition
    case 0xFFBB:  // paragraph hide
    case 0x00BC:  // paragraph formula reference
    case 0x00A6:  // style name
    case 0x00D2:  // colour
    case 0xFFC3:  // text effect
    case 0xFFE5:  // bidirectional text effect
    case 0xFF7A:  // id and name
    case 0xFF68:  // large paragraph
    case 0x00DD:  // begin
    case 0x00DE:  // end
    case 0x0062:  // data flags
    case 0x0059:  // ignore
    case 0xFF70:  // text properties table
      return true;
    default:
      return false;
  }
}

}  // namespace

int RecordRunIsBlank(const RTRecordNode* node) {
  for (const RTRecordNode* n = node; n != nullptr; n = n->next) {
    if (n->signature == 0x0081 || n->signature == 0x0083) break;  // next paragraph
    if (IsTextSignature(n->signature)) {
      if (n->data == nullptr) continue;
      for (uint32_t i = 8; i < n->length; ++i)
        if (n->data[i] != ' ' && n->data[i] != '\t') return 0;
      continue;
    }
    if (!IsInvisibleSignature(n->signature)) return 0;
  }
  return 1;
}

uint32_t JoinTextList(const void* textList, uint32_t listSize, char* destination,
                      const char* separator, uint32_t maximum) {
  if (destination == nullptr) return 0;
  destination[0] = 0;
  uint16_t count = 0;
  if (textList == nullptr || NnTextListCountChecked(textList, listSize, &count) != NN_OK)
    return 0;
  const size_t sepLength = separator ? std::strlen(separator) : 0;
  uint32_t used = 0;
  for (uint16_t i = 0; i < count; ++i) {
    const char* text = nullptr;
    uint16_t length = 0;
    if (NnTextListGetEntryChecked(textList, listSize, i, &text, &length) != NN_OK) break;
    if (i > 0 && sepLength > 0) {
      const uint32_t n = uint32_t(sepLength) < maximum - used ? uint32_t(sepLength) : maximum - used;
      std::memcpy(destination + used, separator, n);
      used += n;
    }
    const uint32_t n = length < maximum - used ? length : maximum - used;
    if (n > 0) std::memcpy(destination + used, text, n);
    used += n;
    if (used >= maximum) break;
  }
  destination[used] = 0;
  return used;
}

// ---- fonts ------------------------------------------------------------------------

namespace {

// At most kFaceNameSize characters of `from`, cut to the room of `name`.
void CopyFaceName(const char* from, char* name, size_t nameSize) {
  if (nameSize == 0) return;
  size_t n = strnlen(from, kFaceNameSize);
  if (n > nameSize - 1) n = nameSize - 1;
  std::memcpy(name, from, n);
  name[n] = 0;
}

// The face's name in place: the item's, else the one the options gave; null
// when neither has one.
const char* FaceNameSource(const RenderContext* ctx, uint8_t face) {
  const char* name = ctx->item != nullptr ? ctx->item->FaceNameOf(face) : nullptr;
  if (name != nullptr && name[0] != 0) return name;
  return ctx->faceNames[face][0] != 0 ? ctx->faceNames[face] : nullptr;
}

bool FaceName(const RenderContext* ctx, uint8_t face, char* name, size_t nameSize) {
  const char* from = FaceNameSource(ctx, face);
  if (from == nullptr) return false;
  CopyFaceName(from, name, nameSize);
  return true;
}

bool IsGenericFamily(const char* name, size_t n) {
  static const char* const kGeneric[] = {"serif", "sans-serif", "monospace", "cursive",
                                         "fantasy"};
  for (const char* g : kGeneric)
    if (std::strlen(g) == n && strncasecmp(g, name, n) == 0) return true;
  return false;
}

// A family list for CSS: each name quoted, any character that could end the
// quote, the declaration or the attribute written as a CSS escape.
void FamilyCss(const char* names, std::string* out) {
  const char* p = names;
  bool first = true;
  while (*p != 0) {
    const char* end = std::strchr(p, ',');
    if (end == nullptr) end = p + std::strlen(p);
    const char* a = p;
    const char* b = end;
    while (a < b && (*a == ' ' || *a == '\t')) ++a;
    while (b > a && (b[-1] == ' ' || b[-1] == '\t')) --b;
    if (a < b) {
      if (!first) out->push_back(',');
      first = false;
      if (IsGenericFamily(a, size_t(b - a))) {
        out->append(a, size_t(b - a));
      } else {
        out->push_back('\'');
        for (const char* q = a; q < b; ++q) {
          const uint8_t c = uint8_t(*q);
          if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
              c == ' ' || c == '-' || c == '_' || c == '.' || c >= 0x80) {
            out->push_back(char(c));
          } else if (c >= 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\%x ", c);
            out->append(escape);
          }
        }
        out->push_back('\'');
      }
    }
    p = *end ? end + 1 : end;
  }
}

uint32_t HtmlFontSize(const RenderContext* ctx, uint8_t points) {
  uint32_t size = 1;
  for (uint32_t k = 0; k < 6; ++k)
    if (points >= ctx->fontSizeThresholds[k]) size = k + 2;
  return size;
}

struct FontMarkup {
  std::string css;                   // the declarations
  std::string open;                  // the opening markup
  std::vector<std::string> closings; // in the order opened
};

// The markup of `font` against `base` (null: every part).
void BuildFontMarkup(const RenderContext* ctx, const uint8_t* font, const uint8_t* base,
                     const uint8_t* rgb, int rightToLeft, FontMarkup* m) {
  // Forced fonts ("ForceFontFace=", "ForceFontSize=", "ForceFontColor=")
  // take the place of the run's own.
  const uint8_t face = (ctx->forcedFontFace & kForcedFontFaceSet)
                           ? uint8_t(ctx->forcedFontFace & 0xFF)
                           : font[0];
  const uint8_t attrs = font[1], colour = font[2];
  const uint8_t size = (ctx->forcedFontSize && ctx->forcedFontSize < kForcedFontSizeStated)
                           ? uint8_t(ctx->forcedFontSize)
                           : font[3];
  uint8_t forcedRgb[3];
  if (ctx->forcedFontColour) {
    forcedRgb[0] = uint8_t(ctx->forcedFontColour & 0xFF);
    forcedRgb[1] = uint8_t((ctx->forcedFontColour >> 8) & 0xFF);
    forcedRgb[2] = uint8_t((ctx->forcedFontColour >> 16) & 0xFF);
    rgb = forcedRgb;
  }
  char face_[kFaceNameSize + 32] = {};
  const bool faceWanted = (base == nullptr || base[0] != face) && FaceName(ctx, face, face_, sizeof face_);
  const bool sizeWanted = (base == nullptr || base[3] != size) && size != 0;
  char colourText[8] = {};
  if (rgb != nullptr)
    FormatHexColor(rgb[0], rgb[1], rgb[2], colourText);
  else if ((base == nullptr || base[2] != colour) && colour < kPaletteSize)
    FormatHexColor(PaletteRgbTable[colour][0], PaletteRgbTable[colour][1], PaletteRgbTable[colour][2],
              colourText);
  const uint8_t baseAttrs = base ? base[1] : 0;
  const uint8_t changed = base ? uint8_t(attrs ^ baseAttrs) : attrs;

  std::string& css = m->css;
  if (faceWanted) {
    css += "font-family:";
    FamilyCss(face_, &css);
    css += ';';
  }
  if (sizeWanted) {
    css += "font-size:";
    css += std::to_string(unsigned(size));
    css += "pt;";
  }
  if (colourText[0]) {
    css += "color:";
    css += colourText;
    css += ';';
  }
  if (changed & 0x01) css += (attrs & 0x01) ? "font-weight:bold;" : "font-weight:normal;";
  if (changed & 0x02) css += (attrs & 0x02) ? "font-style:italic;" : "font-style:normal;";
  if (changed & 0x0C) {
    const uint8_t d = attrs & 0x0C;
    css += d == 0x0C   ? "text-decoration:underline line-through;"
           : d == 0x04 ? "text-decoration:underline;"
           : d == 0x08 ? "text-decoration:line-through;"
                       : "text-decoration:none;";
  }
  // 0x80 marks an effect, which the position bits then name (0x80 shadow,
  // 0x90 emboss, 0xA0 extrude): such text is neither raised nor lowered.
  const auto position = [](uint8_t a) { return uint8_t((a & 0x80) ? 0 : a & 0x30); };
  const auto effect = [](uint8_t a) { return uint8_t((a & 0x80) ? a & 0xB0 : 0); };
  if (base ? position(attrs) != position(baseAttrs) : position(attrs) != 0) {
    css += (position(attrs) & 0x10)   ? "vertical-align:super;"
           : (position(attrs) & 0x20) ? "vertical-align:sub;"
                                      : "vertical-align:baseline;";
  }
  if (base ? effect(attrs) != effect(baseAttrs) : effect(attrs) != 0) {
    const uint8_t e = effect(attrs);
    css += e == 0x80   ? "text-shadow:1px 1px 1px #808080;"
           : e == 0x90 ? "text-shadow:-1px -1px 0 #ffffff,1px 1px 0 #808080;"
           : e == 0xA0 ? "text-shadow:1px 1px 0 #808080,2px 2px 0 #808080;"
                       : "text-shadow:none;";
  }
  if (rightToLeft) css += "direction:rtl;";

  if ((ctx->renderFlagsA & 0x8) == 0) {
    if (!css.empty()) {
      m->open = "<span style=\"";
      m->open += ctx->styleDelimiterOpen ? ctx->styleDelimiterOpen : "";
      m->open += css;
      m->open += ctx->styleDelimiterClose ? ctx->styleDelimiterClose : "";
      m->open += "\">";
      m->closings.push_back("</span>");
    }
    return;
  }
  // Standard font tags.
  std::string attributes;
  if (faceWanted) {
    char escaped[kFaceNameSize * 6 + 1];
    EscapeHtmlText(face_, std::strlen(face_), escaped, sizeof escaped);
    attributes += " face=\"";
    attributes += escaped;
    attributes += '"';
  }
  if (sizeWanted) {
    attributes += " size=\"";
    attributes += std::to_string(unsigned(HtmlFontSize(ctx, size)));
    attributes += '"';
  }
  if (colourText[0]) {
    attributes += " color=\"";
    attributes += colourText;
    attributes += '"';
  }
  if (rightToLeft) attributes += " dir=\"rtl\"";
  if (!attributes.empty()) {
    m->open = "<font" + attributes + ">";
    m->closings.push_back("</font>");
  }
  static const struct {
    uint8_t bit;
    const char* open;
    const char* close;
  } kTags[] = {{0x01, "<b>", "</b>"},     {0x02, "<i>", "</i>"},
               {0x04, "<u>", "</u>"},     {0x08, "<s>", "</s>"},
               {0x10, "<sup>", "</sup>"}, {0x20, "<sub>", "</sub>"}};
  for (const auto& t : kTags) {
    if ((attrs & t.bit) && (changed & t.bit)) {
      if (t.bit == 0x20 && (attrs & 0x10)) continue;  // one of super and subscript
      m->open += t.open;
      m->closings.push_back(t.close);
    }
  }
}

// The markup of a text run's font against the base font, kept for the fonts
// met last: a page has few fonts and many runs. An entry holds while every
// input of BuildFontMarkup is the same.
struct RunMarkupKey {
  uint8_t font[4] = {};
  uint8_t base[4] = {};
  uint32_t standardFonts = 0;
  uint16_t thresholds[6] = {};
  uint64_t forcedFace = 0, forcedSize = 0, forcedColour = 0;
  std::string face, open, close;
};

// A style delimiter against the one a key kept; mostly both are empty.
bool SameDelimiter(const std::string& kept, const char* text) {
  return text[0] == 0 ? kept.empty() : kept == text;
}

const FontMarkup& RunFontMarkup(const RenderContext* ctx, const uint8_t* font) {
  struct Entry {
    bool used = false;
    RunMarkupKey key;
    FontMarkup markup;
  };
  constexpr size_t kEntries = 256;
  thread_local std::vector<Entry> entries(kEntries);
  // The face name as FaceName gives it: at most kFaceNameSize characters.
  const char* faceSource = FaceNameSource(ctx, font[0]);
  const std::string_view face(faceSource ? faceSource : "",
                              faceSource ? strnlen(faceSource, kFaceNameSize) : 0);
  const char* open = ctx->styleDelimiterOpen ? ctx->styleDelimiterOpen : "";
  const char* close = ctx->styleDelimiterClose ? ctx->styleDelimiterClose : "";
  // The slot: the font against the base font.
  uint32_t hash = 2166136261u;
  for (int i = 0; i < 4; ++i) hash = (hash ^ font[i]) * 16777619u;
  for (int i = 0; i < 4; ++i) hash = (hash ^ ctx->baseFont[i]) * 16777619u;
  Entry& e = entries[hash % kEntries];
  // Most runs find their entry: it is compared with the inputs as they stand,
  // and a key is built only for a new one.
  if (e.used && std::memcmp(e.key.font, font, 4) == 0 &&
      std::memcmp(e.key.base, ctx->baseFont, 4) == 0 &&
      e.key.standardFonts == (ctx->renderFlagsA & 0x8) &&
      e.key.forcedFace == uint64_t(ctx->forcedFontFace) &&
      e.key.forcedSize == uint64_t(ctx->forcedFontSize) &&
      e.key.forcedColour == uint64_t(ctx->forcedFontColour) &&
      std::memcmp(e.key.thresholds, ctx->fontSizeThresholds, sizeof e.key.thresholds) == 0 &&
      e.key.face == face && SameDelimiter(e.key.open, open) && SameDelimiter(e.key.close, close))
    return e.markup;
  RunMarkupKey key;
  std::memcpy(key.font, font, 4);
  std::memcpy(key.base, ctx->baseFont, 4);
  key.standardFonts = ctx->renderFlagsA & 0x8;
  std::memcpy(key.thresholds, ctx->fontSizeThresholds, sizeof key.thresholds);
  key.forcedFace = uint64_t(ctx->forcedFontFace);
  key.forcedSize = uint64_t(ctx->forcedFontSize);
  key.forcedColour = uint64_t(ctx->forcedFontColour);
  key.face = face;
  key.open = open;
  key.close = close;
  e.markup = FontMarkup();
  BuildFontMarkup(ctx, font, ctx->baseFont, nullptr, 0, &e.markup);
  e.key = std::move(key);
  e.used = true;
  return e.markup;
}

// The colour record (210) that follows a run's text: its RGB value when it
// holds one the run shows (as the font property reads it), else null.
const uint8_t* RunRgb(const RTRecordNode* run, uint8_t rgb[3]) {
  const RTRecordNode* colour = run ? run->next : nullptr;
  if (!colour || colour->signature != 0x00D2 || !colour->data || run->length < 8) return nullptr;
  uint32_t font = 0;
  std::memcpy(&font, run->data + 4, 4);
  FontState shown;
  FontStateOfRun(font, colour->data, colour->length, &shown);
  if (!shown.colorRgb) return nullptr;
  rgb[0] = shown.color.red;
  rgb[1] = shown.color.green;
  rgb[2] = shown.color.blue;
  return rgb;
}

}  // namespace

bool FontFamilyCss(const RenderContext* ctx, uint8_t face, std::string* out) {
  if (ctx == nullptr || out == nullptr) return false;
  char name[kFaceNameSize + 32] = {};
  if (!FaceName(ctx, face, name, sizeof name)) return false;
  FamilyCss(name, out);
  return true;
}

void WriteFontChangeHTML(RenderContext* ctx, const uint8_t* fontId, const uint8_t* colorRecord,
                         uint32_t mode, int rightToLeft, int styleTextOnly, char* styleOut,
                         size_t styleOutSize) {
  if (ctx == nullptr || fontId == nullptr) return;
  const uint8_t* rgb = nullptr;
  // A colour record: signature byte, length byte, flags, then red, green, blue.
  if (colorRecord != nullptr && colorRecord[1] >= 7) rgb = colorRecord + 4;
  FontMarkup m;
  BuildFontMarkup(ctx, fontId, (mode & 0x1) ? nullptr : ctx->baseFont, rgb, rightToLeft, &m);
  if (styleTextOnly) {
    if (styleOut != nullptr && styleOutSize > 0) {
      // Cut to the room left, as a formatted copy would.
      const size_t n = std::min(m.css.size(), styleOutSize - 1);
      std::memcpy(styleOut, m.css.data(), n);
      styleOut[n] = 0;
    }
    return;
  }
  if (m.open.empty() || !RenderAppend(ctx, m.open.c_str())) return;
  for (const std::string& closing : m.closings) PushOpenTag(ctx, 1, closing.c_str());
}

// ---- text runs ------------------------------------------------------------------

NnStatus ProcessXMLText(RenderContext* ctx, uint16_t /*endType*/, uint32_t blankAsEmpty) {
  if (ctx == nullptr) return NN_ERR_INVALID_ARG;
  RTRecordNode* node = ctx->currentRecord;
  if (node == nullptr) return NN_OK;
  if (!IsTextSignature(node->signature) || node->data == nullptr || node->length < 8) {
    ctx->currentRecord = node->next;
    return NN_OK;
  }
  if (ctx->outputCursor == nullptr) return NN_ERR_MEMORY;
  const uint8_t* font = node->data + 4;

  // The run: this record and the text records after it in the same font (or
  // the substituted text), each record's text one piece.
  RTRecordNode* last = node;
  const char* substitute = nullptr;
  size_t substituteLength = 0;
  if (ctx->substituteText) {
    if (ctx->session != nullptr && ctx->session->globals != nullptr) {
      const char* block = ctx->session->globals->workBuffer1;
      uint16_t length = 0;
      std::memcpy(&length, block + 16, 2);
      if (length > kWorkBlockSize - 18) length = uint16_t(kWorkBlockSize - 18);
      substitute = block + 18;
      substituteLength = length;
    }
  } else {
    for (RTRecordNode* n = node->next; n != nullptr; n = n->next) {
      // A record with a colour of its own starts a run of its own.
      if (n->signature != node->signature || n->data == nullptr || n->length < 8 ||
          std::memcmp(n->data + 4, font, 4) != 0 || (n->next && n->next->signature == 0x00D2))
        break;
      if (ctx->lastRecord != nullptr && n->sequence > ctx->lastRecord->sequence) break;
      last = n;
    }
  }
  // Calls `f(text, length)` for each piece in order while it returns true.
  const auto eachPiece = [&](auto f) {
    if (ctx->substituteText) return substitute == nullptr || f(substitute, substituteLength);
    for (RTRecordNode* n = node;; n = n->next) {
      if (!f(reinterpret_cast<const char*>(n->data) + 8, size_t(n->length - 8))) return false;
      if (n == last) return true;
    }
  };

  bool blank = true;
  eachPiece([&](const char* text, size_t length) {
    for (size_t i = 0; i < length && blank; ++i)
      if (text[i] != ' ' && text[i] != '\t') blank = false;
    return blank;
  });

  char* const start = ctx->outputCursor;
  bool ok = true;
  if (!(blankAsEmpty && blank)) {
    // A colour given as RGB lies in the colour record after the run.
    uint8_t rgbValue[3];
    const uint8_t* rgb = RunRgb(last, rgbValue);
    FontMarkup coloured;
    if (rgb) BuildFontMarkup(ctx, font, ctx->baseFont, rgb, 0, &coloured);
    const FontMarkup& m = rgb ? coloured : RunFontMarkup(ctx, font);
    ok = m.open.empty() || RenderAppendN(ctx, m.open.data(), m.open.size());
    if (ok) {
      ok = eachPiece([&](const char* text, size_t length) {
        size_t written = 0;
        const bool fitted = RenderTextCharacters(ctx, text, length, nullptr, 0, 0, 0, 1,
                                                 ctx->outputCursor, RenderRoom(ctx) + 1, &written);
        if (fitted) ctx->outputCursor += written;
        return fitted;
      });
    }
    for (auto it = m.closings.rbegin(); ok && it != m.closings.rend(); ++it)
      ok = RenderAppendN(ctx, it->data(), it->size());
  }
  char* note = ctx->hotspot.disabledActionNote;
  if (ok && note[0] != 0) {
    char escaped[sizeof ctx->hotspot.disabledActionNote * 6];
    EscapeHtmlText(note, strnlen(note, sizeof ctx->hotspot.disabledActionNote), escaped,
                   sizeof escaped);
    ok = RenderAppend(ctx, escaped);
    if (ok) note[0] = 0;  // written once, after the run it belongs to
  }
  if (!ok) {
    ctx->outputCursor = start;
    *start = 0;
    ctx->driver.outputFull = 1;
    return NN_ERR_MEMORY;
  }
  ctx->currentRecord = last->next;
  return NN_OK;
}
