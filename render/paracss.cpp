// Paragraph style CSS: the declarations of one paragraph definition, and the
// tables of paragraph classes, hidden identifiers and collected definitions.
//
// The three tables keep their fixed arrays in RenderContext and spill into
// pool arrays beyond them (HeadWriterState), so an item with more definitions
// than fixed slots loses none of them.
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/options.h"
#include "host/pool.h"
#include "lsxsessi.h"
#include "render/render.h"
#include "richtext/item/cdlayout.h"
#include "richtext/item/parastring.h"
#include "richtext/item/recordlist.h"
#include "rtitem.h"

namespace {

namespace h = kv::cd::host;

constexpr uint16_t kSigPabDefinition = 0xFF82;

// Doubles a pool array to hold one more entry; false when out of memory (the
// array is left as it was).
template <typename T>
bool GrowSpill(RenderContext* ctx, T** array, uint32_t count, uint32_t* capacity) {
  if (count < *capacity) return true;
  uint32_t wanted = *capacity ? *capacity * 2 : 64;
  T* grown = static_cast<T*>(POOL_ALLOC(ctx->session, sizeof(T) * wanted, true));
  if (!grown) return false;
  if (*array) {
    std::memcpy(grown, *array, sizeof(T) * count);
    PoolFree(ctx->session, *array);
  }
  *array = grown;
  *capacity = wanted;
  return true;
}

uint16_t Field(const RTRecordNode* node, uint32_t offset) {
  uint16_t v = 0;
  if (node && node->data) kv::cd::ReadU16(node->data, node->length, offset, &v);
  return v;
}

// Bounded appender over a caller's text. The conversions the declarations
// use ("%s", "%d", "%4.2f" of a twips count over 1440, "%%") are written here;
// a format with any other goes through vsnprintf.
struct Css {
  char* out;
  size_t size;
  size_t used = 0;
  void Add(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    if (used + 1 >= size) return;
    va_list args;
    va_start(args, format);
    const bool ok = Simple(format) ? Write(format, args) : Print(format, args);
    va_end(args);
    if (!ok) out[used] = 0;  // a declaration is kept whole or dropped
  }

 private:
  static bool Simple(const char* format) {
    for (const char* p = format; (p = std::strchr(p, '%')) != nullptr;) {
      if (p[1] == 's' || p[1] == 'd' || p[1] == '%') p += 2;
      else if (std::strncmp(p, "%4.2f", 5) == 0) p += 5;
      else return false;
    }
    return true;
  }

  bool Print(const char* format, va_list args) {
    int n = std::vsnprintf(out + used, size - used, format, args);
    if (n < 0 || used + static_cast<size_t>(n) >= size) return false;
    used += static_cast<size_t>(n);
    return true;
  }

  // Appends at `at`; false once the text with its terminator would not fit.
  bool Put(size_t* at, const char* text, size_t n) {
    if (*at + n >= size) return false;
    std::memcpy(out + *at, text, n);
    *at += n;
    return true;
  }

  // "%4.2f" of a value that is a whole number of twips over 1440.
  static size_t Inches(double value, char* text, size_t room) {
    const double scaled = value * 1440.0;
    const long long twips = std::llround(scaled);
    const unsigned long long a = static_cast<unsigned long long>(twips < 0 ? -twips : twips);
    // Off the twips grid, or halfway between two hundredths (where the
    // rounding of the binary value decides): the library formats it.
    if (static_cast<double>(twips) != scaled || a > (1ull << 40) || (a * 100) % 1440 == 720)
      return static_cast<size_t>(std::snprintf(text, room, "%4.2f", value));
    const unsigned long long hundredths = (a * 100 + 720) / 1440;
    std::string digits = std::to_string(hundredths / 100);
    const unsigned cents = static_cast<unsigned>(hundredths % 100);
    size_t n = 0;
    if (value < 0) text[n++] = '-';
    std::memcpy(text + n, digits.data(), digits.size());
    n += digits.size();
    text[n++] = '.';
    text[n++] = char('0' + cents / 10);
    text[n++] = char('0' + cents % 10);
    text[n] = 0;
    return n;
  }

  bool Write(const char* format, va_list args) {
    size_t at = used;
    char number[64];
    for (const char* p = format; *p;) {
      const char* mark = std::strchr(p, '%');
      const size_t plain = mark ? static_cast<size_t>(mark - p) : std::strlen(p);
      if (!Put(&at, p, plain)) return false;
      if (!mark) break;
      if (mark[1] == 's') {
        const char* text = va_arg(args, const char*);
        if (!Put(&at, text, std::strlen(text))) return false;
        p = mark + 2;
      } else if (mark[1] == 'd') {
        const std::string text = std::to_string(va_arg(args, int));
        if (!Put(&at, text.data(), text.size())) return false;
        p = mark + 2;
      } else if (mark[1] == '%') {
        if (!Put(&at, "%", 1)) return false;
        p = mark + 2;
      } else {
        const size_t n = Inches(va_arg(args, double), number, sizeof number);
        if (n >= sizeof number || !Put(&at, number, n)) return false;
        p = mark + 5;
      }
    }
    out[at] = 0;
    used = at;
    return true;
  }
};

const char* SpacingAbove(uint16_t v, bool pTags) {
  if (v == 2) return "margin-top: 1em; ";
  if (v == 1) return "margin-top: 0.5em; ";
  if (v == 0 && pTags) return "margin-top: 0em; ";
  return "";
}
const char* SpacingBelow(uint16_t v, bool pTags) {
  if (v == 2) return "margin-bottom: 1em; ";
  if (v == 1) return "margin-bottom: 0.5em; ";
  if (v == 0 && pTags) return "margin-bottom: 0em; ";
  return "";
}

// The image a class rule of the rich text names for a check-box bullet: the
// url(...) in its attributes, else its attribute text.
const char* ClassRuleImage(const RenderContext* ctx, const char* name, std::string* holder) {
  for (const ClassRule* r = ctx->classRules; r; r = r->next) {
    if (!r->selector) continue;
    const char* sel = r->selector[0] == '.' ? r->selector + 1 : r->selector;
    if (std::strcmp(sel, name) != 0) continue;
    const char* text = r->attributes ? r->attributes : "";
    const char* url = StrIStr(text, "url(");
    if (url) {
      url += 4;
      while (*url == '\'' || *url == '"' || *url == ' ') ++url;
      const char* end = url;
      while (*end && *end != ')' && *end != '\'' && *end != '"') ++end;
      holder->assign(url, static_cast<size_t>(end - url));
    } else {
      holder->assign(text);
    }
    return holder->empty() ? nullptr : holder->c_str();
  }
  return nullptr;
}

constexpr const char kUncheckedGif[] =
    "data:image/gif;base64,"
    "R0lGODlhBwAHAIAAAP///wAAACwAAAAABwAHAAACDIxvoJoLvSAL7qFTAAAh/gQgICAgADs=";
constexpr const char kCheckedGif[] =
    "data:image/gif;base64,"
    "R0lGODlhBwAHAIEAAP///wAAAABgAP///ywAAAAABwAHAAACD4xvoCCp0oJg08AJEs7oFAAh/rsgICAgICAgICAg"
    "ICAgICAgICAgICAgICAgICAgICAgICAgICAgICAgICAgICAgICAgICAgICAgICAgICAgICAgICAgICAgICAgICAg"
    "ICAgICAgICAgICAgICAgICAgICAgICAgICAgICAgICAgICAgICAgICAgICAgICAgICAgICAgICAgICAgICAgICAg"
    "ICAgICAgICAgICAgICAgICAgICAgICAgICAgICAgICAgICAgICAgICAgICAgADs=";

}  // namespace

const char* CheckBoxBulletDataUri(int checked) { return checked ? kCheckedGif : kUncheckedGif; }

size_t EscapeCssUrl(const char* url, char* out, size_t outSize) {
  if (!out || outSize == 0) return 0;
  size_t used = 0;
  out[0] = 0;
  if (!url) return 0;
  static const char kHex[] = "0123456789ABCDEF";
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(url); *p; ++p) {
    const unsigned char c = *p;
    const bool unsafe = c <= 0x20 || c == 0x7F || c == '\'' || c == '"' || c == '(' ||
                        c == ')' || c == '\\' || c == '<' || c == '>' || c == '&' || c == '{' ||
                        c == '}';
    if (unsafe) {
      if (used + 3 >= outSize) break;
      out[used++] = '%';
      out[used++] = kHex[c >> 4];
      out[used++] = kHex[c & 0xF];
    } else {
      if (used + 1 >= outSize) break;
      out[used++] = static_cast<char>(c);
    }
  }
  out[used] = 0;
  return used;
}

namespace {

size_t ComposeParagraphCss(RenderContext* ctx, const RTRecordNode* definition, char* out,
                           size_t outSize) {
  Css css{out, outSize};
  const RTRecordNode* d = definition;
  const uint16_t justify = Field(d, h::kPabJustify);
  const uint16_t lineSpacing = Field(d, h::kPabLineSpacing);
  const uint16_t above = Field(d, h::kPabSpaceBefore);
  const uint16_t below = Field(d, h::kPabSpaceAfter);
  const uint16_t L = Field(d, h::kPabLeftMargin);
  const uint16_t R = Field(d, h::kPabRightMargin);
  const uint16_t F = Field(d, h::kPabFirstLineLeftMargin);
  const uint16_t flags = Field(d, h::kPabFlags);
  const uint16_t x2 = Field(d, h::kPabFlags2);
  const bool extended = d->length > h::kPabFixed;
  // Extension words read as 0 where the record ends before them.
  const uint16_t extLeft = Field(d, kPabExtLeftTwips);
  const uint16_t leftPct = Field(d, kPabExtLeftPercent);
  const uint16_t extFirst = Field(d, kPabExtFirstTwips);
  const uint16_t firstPct = Field(d, kPabExtFirstPercent);
  const uint16_t extRight = Field(d, kPabExtRightTwips);
  const uint16_t rightPct = Field(d, kPabExtRightPercent);
  const bool isList = (flags & (kPabBullet | kPabNumbered)) != 0;
  const bool inTable = ctx->tableLevel != 0 || ctx->layerDepth != 0;
  const bool windowRelative = (x2 & 0x0300) != 0;
  const bool pTags = (ctx->renderFlagsD & 0x100) != 0;
  const int32_t W = ctx->item ? ctx->item->pageWidthAllowance : 0;
  const RTRecordNode* cell = ctx->tableLevel ? ctx->head.cellInForce : nullptr;

  // 1. Left margin.
  bool leftDone = false;
  if (extended && (x2 & kPab2LeftPercent) && leftPct != 0) {
    if (!isList)
      css.Add("margin-left:%d%%; ", leftPct);
    else if (leftPct < 3)
      css.Add("margin-left:2%%; ");
    else if (leftPct < 7)
      css.Add("margin-left:0%%; padding-left:%d%%; ", leftPct);
    else
      css.Add("margin-left:%d%%; padding-left:7%%; ", leftPct - 7);
    leftDone = true;
  } else if (extended && (x2 & kPab2LeftOffset) && !isList) {
    if (!windowRelative) {
      if (inTable && extLeft != 0)
        css.Add("margin-left: %4.2fin; ", extLeft / 1440.0);
      else if (!inTable && extLeft >= 1441)
        css.Add("margin-left: %4.2fin; ", (extLeft - 1440) / 1440.0);
    }
    leftDone = true;
  }
  if (!leftDone) {
    if (!inTable) {
      if (isList && L / 1440.0 - 1.0 < 0.2)
        css.Add("padding-left: 0.25in; margin-left: %4.2fin; ", (L - 360) / 1440.0);
      else if (L != 1440 && !windowRelative)
        css.Add("margin-left: %4.2fin; ", (L - 1440) / 1440.0);
    } else if (!isList) {
      const uint16_t K = Field(cell, 4);
      if (!windowRelative && !(cell && L == K))
        css.Add("margin-left: %4.2fin; ", (L - 1440) / 1440.0);
    } else if (cell) {
      const int32_t K = Field(cell, 4);
      if (int32_t{L} - K >= 360)
        css.Add("padding-left: 0.25in; margin-left: %4.2fin; ", (L - K - 360) / 1440.0);
      else
        css.Add("padding-left: 0.25in; margin-left: %4.2fin; ", (L - 360) / 1440.0);
    }
  }

  // 2. Right margin.
  if (!(x2 & kPab2NoRightMargin)) {
    auto plainRight = [&](int32_t right, int32_t origin) {
      if (right == 0) return;
      if (!windowRelative || right < 1441) {
        if (right <= W + 2160) css.Add("margin-right: %4.2fin; ", (2160 - right + W) / 1440.0);
      } else {
        css.Add("width: %4.2fin; ", (right - origin) / 1440.0);
      }
    };
    if (extended && (x2 & kPab2RightPercent) && rightPct >= 1 && rightPct <= 99)
      css.Add("margin-right:%d%%; ", 100 - rightPct <= 90 ? 100 - rightPct : rightPct);
    else if (extended && (x2 & kPab2RightOffset) && extRight != 0)
      plainRight(extRight, (x2 & kPab2LeftOffset) ? extLeft : 1440);
    else
      plainRight(R, 1440);
  }

  // 3. First-line indent.
  const bool relativeIndents = (ctx->renderFlagsD & 0x800) != 0;
  if (extended && (x2 & kPab2FirstPercent)) {
    if (firstPct != leftPct)
      css.Add("text-indent:%d%%; ", relativeIndents ? firstPct : firstPct - leftPct);
  } else {
    int32_t first = F, left = L;
    // The extended margins are measured apart from the plain ones: both
    // take the place of F and L together, never one alone.
    if (extended && (x2 & (kPab2FirstOffset | kPab2LeftOffset))) {
      first = extFirst;
      left = extLeft;
    }
    const bool defaultFirst = extended && (x2 & 0x0100) && first == 1440;
    if (first != left && !defaultFirst)
      css.Add("text-indent: %4.2fin; ", relativeIndents ? first / 1440.0 : (first - left) / 1440.0);
  }

  // 4. Alignment, only where paragraph elements carry no align attribute.
  if (ctx->renderFlagsE & 0x200) {
    if (justify == 1) css.Add("text-align: right;");
    else if (justify == 3) css.Add("text-align: center;");
    else if (justify == 2) css.Add("text-align: justify;");
  }

  // 5. Direction.
  if (x2 & kPab2RightToLeft) {
    css.Add("direction: rtl;");
    ctx->rightToLeftSeen = 1;
  } else if (ctx->rightToLeftSeen) {
    css.Add("direction: ltr;");
  }

  // 6, 7. Spacing.
  if (isList && !(ctx->renderFlagsE & 0x2)) {
    css.Add("margin-top: 0; margin-bottom: 0; ");
    if (lineSpacing || above || below) {
      if (lineSpacing == 2) css.Add("line-height: 200%%; ");
      else if (lineSpacing == 1) css.Add("line-height: 150%%; ");
      css.Add("%s", SpacingAbove(above, pTags));
      css.Add("%s", SpacingBelow(below, pTags));
    }
  } else if (!(ctx->renderFlagsA & 0x8)) {
    if (lineSpacing == 2) css.Add("line-height: 2em; ");
    else if (lineSpacing == 1) css.Add("line-height: 1.5em; ");
    css.Add("%s", SpacingAbove(above, pTags));
    css.Add("%s", SpacingBelow(below, pTags));
  }

  // 8, 9. List style.
  if (flags & kPabBullet) {
    const char* type = "disc";
    const char* image = nullptr;
    int checkBox = 0;  // 1 unchecked, 2 checked
    const bool graphics = (ctx->renderFlagsB & 0x800) != 0;
    if (x2 & 0x0800) {
      type = "circle";
      image = graphics ? ctx->bulletGraphics[1] : nullptr;
    } else if (x2 & 0x2000) {
      type = "circle";
      checkBox = 1;
    } else if (x2 & 0x1000) {
      type = "square";
      image = graphics ? ctx->bulletGraphics[2] : nullptr;
    } else if (x2 & 0x0002) {
      checkBox = 2;
    } else {
      image = graphics ? ctx->bulletGraphics[0] : nullptr;
    }
    std::string holder;
    if (checkBox) {
      if (graphics)
        image = ctx->bulletGraphics[3];
      else if (ctx->renderFlagsE & 0x80) {
        if (ctx->renderFlagsE & 0x100)
          image = checkBox == 2 ? "/icons/vwicn201.gif" : "/icons/vwicn200.gif";
        else
          image = CheckBoxBulletDataUri(checkBox == 2);
      } else {
        image = ClassRuleImage(ctx, checkBox == 2 ? "_a_checked" : "_a_unchecked", &holder);
      }
    }
    if (image && image[0]) {
      char url[1024];
      EscapeCssUrl(image, url, sizeof url);
      css.Add("list-style-type: %s; list-style-image: url('%s'); ", type, url);
    } else {
      css.Add("list-style-type: %s; ", type);
    }
  } else if (flags & kPabNumbered) {
    const uint16_t v = x2 & kPab2ListBits;
    const char* type = v == 0x1802   ? "lower-alpha"
                       : v == 0x0802 ? "upper-roman"
                       : v == 0x1002 ? "lower-roman"
                       : v == 0x1800 ? "upper-alpha"
                                     : "decimal";
    css.Add("list-style-type: %s; ", type);
  }
  return css.used;
}

// What the declarations of a paragraph definition depend on: its bytes and
// the context words the composer reads. A page has few definitions and many
// paragraphs, so the text is kept per key.
struct ParagraphCssKey {
  uint8_t bytes[96] = {};
  uint32_t length = 0;
  uint32_t flagsA = 0, flagsB = 0, flagsD = 0, flagsE = 0;
  int32_t width = 0;
  uint32_t rightToLeftSeen = 0;
  uint16_t cellLeft = 0;
  bool inTable = false, inCell = false;
  size_t outSize = 0;
  bool operator==(const ParagraphCssKey& o) const {
    return length == o.length && std::memcmp(bytes, o.bytes, length) == 0 && flagsA == o.flagsA &&
           flagsB == o.flagsB && flagsD == o.flagsD && flagsE == o.flagsE && width == o.width &&
           rightToLeftSeen == o.rightToLeftSeen && cellLeft == o.cellLeft &&
           inTable == o.inTable && inCell == o.inCell && outSize == o.outSize;
  }
};

}  // namespace

size_t FormatParagraphCss(RenderContext* ctx, const RTRecordNode* definition, char* out,
                          size_t outSize) {
  if (!out || outSize == 0) return 0;
  out[0] = 0;
  if (!ctx || !definition || !definition->data || definition->length < h::kPabFixed ||
      definition->signature != kSigPabDefinition)
    return 0;
  // Bullets name images from the options and class rules: composed each time.
  const uint16_t flags = Field(definition, h::kPabFlags);
  if ((flags & kPabBullet) || definition->length > sizeof(ParagraphCssKey::bytes))
    return ComposeParagraphCss(ctx, definition, out, outSize);

  ParagraphCssKey key;
  key.length = definition->length;
  std::memcpy(key.bytes, definition->data, definition->length);
  key.flagsA = ctx->renderFlagsA;
  key.flagsB = ctx->renderFlagsB;
  key.flagsD = ctx->renderFlagsD;
  key.flagsE = ctx->renderFlagsE;
  key.width = ctx->item ? ctx->item->pageWidthAllowance : 0;
  key.rightToLeftSeen = ctx->rightToLeftSeen;
  key.inTable = ctx->tableLevel != 0 || ctx->layerDepth != 0;
  const RTRecordNode* cell = ctx->tableLevel ? ctx->head.cellInForce : nullptr;
  key.inCell = cell != nullptr;
  key.cellLeft = Field(cell, 4);
  key.outSize = outSize;

  struct Entry {
    bool used = false;
    ParagraphCssKey key;
    std::string css;
    uint32_t rightToLeftSeenAfter = 0;
  };
  constexpr size_t kEntries = 64;
  thread_local std::vector<Entry> entries(kEntries);
  // The slot, from the definition's bytes a word at a time (the key's bytes
  // past its length are zero).
  uint64_t hash = 0xCBF29CE484222325ull;
  for (uint32_t i = 0; i < key.length; i += 8) {
    uint64_t word;
    std::memcpy(&word, key.bytes + i, sizeof word);
    hash = (hash ^ word) * 0x100000001B3ull;
    hash ^= hash >> 29;
  }
  hash = (hash ^ (key.inTable ? 1u : 0u) ^ (key.inCell ? 2u : 0u)) * 0x100000001B3ull;
  Entry& e = entries[(hash ^ (hash >> 32)) % kEntries];
  if (e.used && e.key == key) {
    std::memcpy(out, e.css.c_str(), e.css.size() + 1);
    ctx->rightToLeftSeen = e.rightToLeftSeenAfter;
    return e.css.size();
  }
  const size_t n = ComposeParagraphCss(ctx, definition, out, outSize);
  e.used = true;
  e.key = key;
  e.css.assign(out, n);
  e.rightToLeftSeenAfter = ctx->rightToLeftSeen;
  return n;
}

// ---- tables -----------------------------------------------------------------

bool AddParagraphClass(RenderContext* ctx, uint16_t id, const char* css) {
  if (!ctx) return false;
  if (!css) css = "";
  if (ctx->paragraphClassCount < kParagraphClassSlots) {
    ctx->paragraphClassCss[ctx->paragraphClassCount] = const_cast<char*>(css);
    ctx->paragraphClassIds[ctx->paragraphClassCount] = id;
    ++ctx->paragraphClassCount;
    return true;
  }
  HeadWriterState& hs = ctx->head;
  if (hs.classSpillCount >= hs.classSpillCapacity) {
    // The two parallel arrays grow together or not at all.
    const uint32_t wanted = hs.classSpillCapacity ? hs.classSpillCapacity * 2 : 64;
    auto** texts = static_cast<char**>(POOL_ALLOC(ctx->session, sizeof(char*) * wanted, true));
    auto* ids = static_cast<uint16_t*>(POOL_ALLOC(ctx->session, sizeof(uint16_t) * wanted, true));
    if (!texts || !ids) {
      PoolFree(ctx->session, texts);
      PoolFree(ctx->session, ids);
      return false;
    }
    if (hs.classSpillCount) {
      std::memcpy(texts, hs.classCssSpill, sizeof(char*) * hs.classSpillCount);
      std::memcpy(ids, hs.classIdSpill, sizeof(uint16_t) * hs.classSpillCount);
    }
    PoolFree(ctx->session, hs.classCssSpill);
    PoolFree(ctx->session, hs.classIdSpill);
    hs.classCssSpill = texts;
    hs.classIdSpill = ids;
    hs.classSpillCapacity = wanted;
  }
  hs.classCssSpill[hs.classSpillCount] = const_cast<char*>(css);
  hs.classIdSpill[hs.classSpillCount] = id;
  ++hs.classSpillCount;
  return true;
}

uint32_t ParagraphClassTotal(const RenderContext* ctx) {
  return ctx ? uint32_t{ctx->paragraphClassCount} + ctx->head.classSpillCount : 0;
}

uint16_t ParagraphClassIdAt(const RenderContext* ctx, uint32_t index) {
  if (!ctx) return 0;
  if (index < ctx->paragraphClassCount) return ctx->paragraphClassIds[index];
  index -= ctx->paragraphClassCount;
  return index < ctx->head.classSpillCount ? ctx->head.classIdSpill[index] : 0;
}

const char* ParagraphClassCssAt(const RenderContext* ctx, uint32_t index) {
  if (!ctx) return nullptr;
  if (index < ctx->paragraphClassCount) return ctx->paragraphClassCss[index];
  index -= ctx->paragraphClassCount;
  return index < ctx->head.classSpillCount ? ctx->head.classCssSpill[index] : nullptr;
}

const char* FindParagraphClassCss(const RenderContext* ctx, uint16_t id) {
  const uint32_t total = ParagraphClassTotal(ctx);
  for (uint32_t i = 0; i < total; ++i)
    if (ParagraphClassIdAt(ctx, i) == id) return ParagraphClassCssAt(ctx, i);
  return nullptr;
}

void AddHiddenParagraphId(RenderContext* ctx, uint16_t id) {
  if (!ctx || IsParagraphIdHidden(ctx, id)) return;
  // The fixed array takes entries while the count plus one is below its size.
  if (ctx->hiddenParagraphIdCount + 1u < kHiddenParagraphSlots) {
    ctx->hiddenParagraphIds[ctx->hiddenParagraphIdCount++] = id;
    return;
  }
  HeadWriterState& hs = ctx->head;
  if (!GrowSpill(ctx, &hs.hiddenIdSpill, hs.hiddenSpillCount, &hs.hiddenSpillCapacity)) return;
  hs.hiddenIdSpill[hs.hiddenSpillCount++] = id;
}

void ReleaseParagraphTables(RenderContext* ctx) {
  if (!ctx) return;
  HeadWriterState& hs = ctx->head;
  PoolFree(ctx->session, hs.classCssSpill);
  PoolFree(ctx->session, hs.classIdSpill);
  PoolFree(ctx->session, hs.hiddenIdSpill);
  PoolFree(ctx->session, hs.definitionSpill);
  hs.classCssSpill = nullptr;
  hs.classIdSpill = nullptr;
  hs.hiddenIdSpill = nullptr;
  hs.definitionSpill = nullptr;
  hs.classSpillCount = hs.classSpillCapacity = 0;
  hs.hiddenSpillCount = hs.hiddenSpillCapacity = 0;
  hs.definitionSpillCount = hs.definitionSpillCapacity = 0;
  // Class texts are interned: the string table owns them.
  for (uint32_t i = 0; i < ctx->paragraphClassCount; ++i) ctx->paragraphClassCss[i] = nullptr;
  ctx->paragraphClassCount = 0;
  ctx->hiddenParagraphIdCount = 0;
  for (uint32_t i = 0; i < ctx->paragraphDefinitionCount; ++i)
    ctx->paragraphDefinitions[i] = nullptr;
  ctx->paragraphDefinitionCount = 0;
}

void CollectParagraphDefinition(RenderContext* ctx, RTRecordNode* node) {
  if (!ctx || !node) return;
  for (uint32_t i = 0; i < ctx->paragraphDefinitionCount; ++i)
    if (ctx->paragraphDefinitions[i] == node) return;
  HeadWriterState& hs = ctx->head;
  for (uint32_t i = 0; i < hs.definitionSpillCount; ++i)
    if (hs.definitionSpill[i] == node) return;
  if (ctx->paragraphDefinitionCount < kParagraphDefinitionSlots) {
    ctx->paragraphDefinitions[ctx->paragraphDefinitionCount++] = node;
    return;
  }
  if (!GrowSpill(ctx, &hs.definitionSpill, hs.definitionSpillCount, &hs.definitionSpillCapacity))
    return;
  hs.definitionSpill[hs.definitionSpillCount++] = node;
}

int IsParagraphIdMapped(const RenderContext* ctx, uint16_t id) {
  if (!ctx) return 0;
  // Without a map every identifier stands for itself.
  if (!ctx->paragraphIdMapInForce || ctx->paragraphIdMapCount == 0) return 1;
  if (ctx->paragraphIdMapBits && ctx->paragraphIdMapIdentity)
    return (ctx->paragraphIdMapBits[id >> 3] >> (id & 7)) & 1;
  for (uint32_t i = 0; i < ctx->paragraphIdMapCount; ++i)
    if (ctx->paragraphIdMapInForce[i] == id) return 1;
  return 0;
}

int IsParagraphIdHidden(const RenderContext* ctx, uint16_t id) {
  if (!ctx) return 0;
  for (uint32_t i = 0; i < ctx->hiddenParagraphIdCount && i < kHiddenParagraphSlots; ++i)
    if (ctx->hiddenParagraphIds[i] == id) return 1;
  for (uint32_t i = 0; i < ctx->head.hiddenSpillCount; ++i)
    if (ctx->head.hiddenIdSpill[i] == id) return 1;
  return 0;
}

uint16_t MapParagraphId(const RenderContext* ctx, uint16_t id) {
  if (!ctx || !ctx->paragraphIdMapStored || !ctx->paragraphIdMapInForce) return id;
  if (ctx->paragraphIdMapIdentity) return id;
  for (uint32_t i = 0; i < ctx->paragraphIdMapCount; ++i)
    if (ctx->paragraphIdMapStored[i] == id) return ctx->paragraphIdMapInForce[i];
  return id;
}

namespace {
RTRecordNode* FindListDefinition(const RenderContext* ctx, uint16_t id, uint16_t flag) {
  if (!ctx) return nullptr;
  const uint32_t total = uint32_t{ctx->paragraphDefinitionCount} + ctx->head.definitionSpillCount;
  for (uint32_t i = 0; i < total; ++i) {
    RTRecordNode* node = i < ctx->paragraphDefinitionCount
                             ? ctx->paragraphDefinitions[i]
                             : ctx->head.definitionSpill[i - ctx->paragraphDefinitionCount];
    if (!node || node->length < h::kPabFixed) continue;
    if (MapParagraphId(ctx, Field(node, h::kPabId)) != id) continue;
    if (Field(node, h::kPabFlags) & flag) return node;
  }
  return nullptr;
}
}  // namespace

RTRecordNode* FindNumberedListDefinition(const RenderContext* ctx, uint16_t id) {
  return FindListDefinition(ctx, id, kPabNumbered);
}

RTRecordNode* FindBulletListDefinition(const RenderContext* ctx, uint16_t id) {
  return FindListDefinition(ctx, id, kPabBullet);
}

// ---- comparison and attribute text --------------------------------------------

// `requested` is a full-length source definition and `state` its 21 given
// markers (int32_t, may be null: every plain field counts as given).
// selectors1: flag bits to set (low 16) and to clear (high 16) of the flags
// word; selectors2 the same for the second flags word. Non-zero when applying
// the request would change nothing.
int CompareParagraphDefinitions(const uint8_t* definition, const uint8_t* requested,
                                uint32_t selectors1, uint32_t selectors2, void* state) {
  if (!definition || !requested) return 0;
  uint16_t length = 0;
  if (!kv::cd::ReadU16(definition, h::kPabFixed, 2, &length) || length < h::kPabFixed) return 0;
  const int32_t* given = static_cast<const int32_t*>(state);
  auto isGiven = [&](uint32_t index) { return given == nullptr || given[index] != 0; };
  auto word = [](const uint8_t* p, size_t avail, uint32_t off) {
    uint16_t v = 0;
    kv::cd::ReadU16(p, avail, off, &v);
    return v;
  };
  // Relative changes, list changes and margin extensions (a percentage of
  // the window) are not told by the plain fields: the caller compares the
  // rebuilt definition.
  if (given && (given[kGivenLeftRelative] || given[kGivenRightRelative] ||
                given[kGivenPercentRelative] || given[kGivenListStyle] ||
                given[kGivenListRemoval] || given[kGivenLeftExtension] ||
                given[kGivenRightExtension] || given[kGivenFirstLineExtension]))
    return 0;
  struct Plain {
    uint32_t marker, offset;
  };
  static constexpr Plain kPlain[] = {
      {kGivenLeftMargin, h::kPabLeftMargin},  {kGivenRightMargin, h::kPabRightMargin},
      {kGivenFirstLine, h::kPabFirstLineLeftMargin}, {kGivenSpaceBefore, h::kPabSpaceBefore},
      {kGivenSpaceAfter, h::kPabSpaceAfter},   {kGivenLineSpacing, h::kPabLineSpacing},
      {kGivenJustify, h::kPabJustify},
  };
  for (const Plain& p : kPlain)
    if (isGiven(p.marker) &&
        word(definition, length, p.offset) != word(requested, kPabFullLength, p.offset))
      return 0;
  if (given && given[kGivenTabs]) {
    if (std::memcmp(definition + h::kPabTabCount, requested + h::kPabTabCount,
                    2 + 2 * kPabMaxTabs) != 0)
      return 0;
  }
  const uint16_t f1 = word(definition, length, h::kPabFlags);
  const uint16_t f2 = word(definition, length, h::kPabFlags2);
  if ((f1 & (selectors1 & 0xFFFF)) != (selectors1 & 0xFFFF)) return 0;
  if (f1 & (selectors1 >> 16)) return 0;
  if ((f2 & (selectors2 & 0xFFFF)) != (selectors2 & 0xFFFF)) return 0;
  if (f2 & (selectors2 >> 16)) return 0;
  return 1;
}

// Writes the definition as a paragraph string (the attribute text of
// the paragraph property) into out, at most 4,095 characters. The option is
// reserved.
void FormatParagraphAttributes(int /*reserved*/, const uint8_t* definition, char* out,
                               uint32_t /*option*/) {
  if (!out) return;
  out[0] = 0;
  if (!definition) return;
  uint16_t length = 0;
  if (!kv::cd::ReadU16(definition, 4, 2, &length) || length < h::kPabFixed) return;
  std::string text = FormatParagraphSpec(definition, length);
  const size_t n = text.size() < 4095 ? text.size() : 4095;
  std::memcpy(out, text.data(), n);
  out[n] = 0;
}
