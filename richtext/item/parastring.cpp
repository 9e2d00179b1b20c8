// Paragraph strings: parser and writer (grammar in parastring.h).
#include "richtext/item/parastring.h"

#include <strings.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "host/options.h"
#include "richtext/item/cdlayout.h"
#include "rtitem.h"

namespace {

namespace H = kv::cd::host;

constexpr uint16_t kSigPab = 0xFF82;
constexpr uint16_t kListFlags = kPabBullet | kPabNumbered;
constexpr uint16_t kHideFlags = kPabHideRead | kPabHideEdit | kPabHidePrint | kPabHideCopy |
                                kPabHidePreview | kPabHidePreviewEdit | kPabHideClient;

uint16_t Get16(const uint8_t* d, uint32_t off) {
  uint16_t v;
  std::memcpy(&v, d + off, 2);
  return v;
}
using kv::cd::Put16;
uint32_t Get32(const uint8_t* d, uint32_t off) {
  uint32_t v;
  std::memcpy(&v, d + off, 4);
  return v;
}
using kv::cd::Put32;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// A value with blanks around it removed.
std::string Trim(const char* s) {
  const char* b = s;
  while (*b && IsBlank(*b)) ++b;
  const char* e = b + std::strlen(b);
  while (e > b && IsBlank(e[-1])) --e;
  return std::string(b, e);
}

bool Same(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

// A parsed length or percentage.
struct Amount {
  bool relative = false;
  bool percent = false;
  int32_t value = 0;   // twips or percent, signed when relative
};

enum class Sign { Refuse, Allow };
enum class Percent { Refuse, Allow };

// Reads "[+|-]digits[.digits][unit]"; false when malformed or out of range.
bool ParseAmount(const std::string& text, Sign sign, Percent pct, Amount* out) {
  size_t i = 0, n = text.size();
  bool negative = false;
  Amount a;
  if (i < n && (text[i] == '+' || text[i] == '-')) {
    if (sign == Sign::Refuse) return false;
    negative = text[i] == '-';
    a.relative = true;
    ++i;
  }
  double number = 0;
  int digits = 0;
  while (i < n && text[i] >= '0' && text[i] <= '9') {
    number = number * 10 + (text[i] - '0');
    ++i;
    if (++digits > 9) return false;
  }
  if (i < n && text[i] == '.') {
    ++i;
    double scale = 0.1;
    int frac = 0;
    while (i < n && text[i] >= '0' && text[i] <= '9') {
      if (++frac <= 9) number += (text[i] - '0') * scale;
      scale /= 10;
      ++i;
      ++digits;
    }
  }
  if (digits == 0) return false;
  std::string unit = text.substr(i);
  double factor;
  if (unit.empty() || Same(unit, "in") || unit == "\"") {
    factor = 1440;
  } else if (Same(unit, "cm")) {
    factor = 1440 / 2.54;
  } else if (Same(unit, "mm")) {
    factor = 144 / 2.54;
  } else if (Same(unit, "pt")) {
    factor = 20;
  } else if (Same(unit, "tw") || Same(unit, "twips")) {
    factor = 1;
  } else if (unit == "%" && pct == Percent::Allow) {
    factor = 1;
    a.percent = true;
  } else {
    return false;
  }
  double v = std::floor(number * factor + 0.5);
  double limit = a.percent ? 100 : 65535;
  if (v > limit) return false;
  a.value = int32_t(v) * (negative ? -1 : 1);
  *out = a;
  return true;
}

struct Named {
  const char* name;
  uint16_t value;
};

// A name from the table, or a plain number 0..65535; false otherwise.
bool ParseNamed(const std::string& text, const Named* table, size_t count, uint16_t* out) {
  for (size_t i = 0; i < count; ++i)
    if (Same(text, table[i].name)) {
      *out = table[i].value;
      return true;
    }
  if (text.empty() || text.size() > 5) return false;
  uint32_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + uint32_t(c - '0');
  }
  if (v > 0xFFFF) return false;
  *out = uint16_t(v);
  return true;
}

constexpr Named kSpacing[] = {{"Single", 0}, {"OneAndHalf", 1}, {"1.5", 1}, {"Double", 2}};
constexpr Named kAlignment[] = {{"Left", 0},   {"Right", 1},  {"Full", 2},   {"Justify", 2},
                                {"Block", 2},  {"Center", 3}, {"Centre", 3}, {"None", 4}};
constexpr Named kLists[] = {
    {"Bullet", kListBullet},       {"Circle", kListCircle},         {"Square", kListSquare},
    {"Checkmark", kListChecked},   {"Checkbox", kListUnchecked},    {"Number", kListNumber},
    {"Alpha", kListAlpha},         {"UpperAlpha", kListUpperAlpha}, {"Roman", kListRoman},
    {"UpperRoman", kListUpperRoman}};

struct ListBits {
  uint16_t selector;
  uint16_t flags;
  uint16_t flags2;
};
constexpr ListBits kListBitTable[] = {
    {kListBullet, kPabBullet, 0},          {kListNumber, kPabNumbered, 0},
    {kListChecked, kPabBullet, 0x0002},    {kListCircle, kPabBullet, 0x0800},
    {kListSquare, kPabBullet, 0x1000},     {kListUnchecked, kPabBullet, 0x2000},
    {kListAlpha, kPabNumbered, 0x1802},    {kListRoman, kPabNumbered, 0x1002},
    {kListUpperAlpha, kPabNumbered, 0x1800}, {kListUpperRoman, kPabNumbered, 0x0802}};

bool ParseBool(const std::string& text, bool* out) {
  if (Same(text, "Yes") || Same(text, "True") || Same(text, "On") || text == "1") {
    *out = true;
    return true;
  }
  if (Same(text, "No") || Same(text, "False") || Same(text, "Off") || text == "0") {
    *out = false;
    return true;
  }
  return false;
}

struct HideName {
  const char* name;
  uint16_t flags;
  uint16_t flags2;
};
constexpr HideName kHideNames[] = {
    {"Read", kPabHideRead, 0},          {"Edit", kPabHideEdit, 0},
    {"Print", kPabHidePrint, 0},        {"Copy", kPabHideCopy, 0},
    {"Preview", kPabHidePreview, 0},    {"PreviewEdit", kPabHidePreviewEdit, 0},
    {"Client", kPabHideClient, 0},      {"Web", 0, kPab2HideWeb}};

// Words of a list value separated by blanks or commas.
std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::string cur;
  for (char c : text) {
    if (IsBlank(c) || c == ',' || c == ';') {
      if (!cur.empty()) words.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) words.push_back(cur);
  return words;
}

// Reads keys from spec2 first, then spec, so spec2's keys win.
class Reader {
 public:
  Reader(const char* s1, const char* s2) : s1_(s1), s2_(s2) {}
  bool Get(const char* key, std::string* value) {
    asked_.emplace_back(key, std::strlen(key) - 1);  // without its "="
    if ((s2_ && GetOptionValue(s2_, key, buf_)) || (s1_ && GetOptionValue(s1_, key, buf_))) {
      *value = Trim(buf_);
      raw_ = buf_;
      return true;
    }
    return false;
  }
  const char* Raw() const { return raw_; }
  // Whether every word of `text` is a pair whose key the parse asked for,
  // each given once (a second value of a key would be dropped).
  bool OnlyKeysAsked(const char* text) const {
    const char* p = text;
    OptionPair pair;
    int r;
    while ((r = NextOptionPair(&p, &pair)) != 0) {
      if (r < 0) return false;
      bool asked = false;
      for (const std::string& k : asked_)
        asked |= k.size() == pair.keyLength && strncasecmp(k.c_str(), pair.key, k.size()) == 0;
      if (!asked) return false;
    }
    return OptionKeysDistinct(text);
  }
  // The length of the key's whole value, up to `limit` + 1: values longer
  // than the reading buffer are cut there, and some keys must refuse them.
  size_t FullLength(const char* key, size_t limit) const {
    std::string whole;
    if (!(s2_ && GetOptionValueString(s2_, key, &whole)) &&
        !(s1_ && GetOptionValueString(s1_, key, &whole)))
      return 0;
    return whole.size() < limit + 1 ? whole.size() : limit + 1;
  }

 private:
  const char* s1_;
  const char* s2_;
  const char* raw_ = "";
  char buf_[kOptionValueMax + 1] = {};
  std::vector<std::string> asked_;
};

void SetFlag(ParagraphSpec* p, uint16_t bit, bool on) {
  uint16_t flags = Get16(p->definition, H::kPabFlags);
  if (on) {
    p->flagsSet |= bit;
    p->flagsClear &= uint16_t(~bit);
    flags |= bit;
  } else {
    p->flagsClear |= bit;
    p->flagsSet &= uint16_t(~bit);
    flags &= uint16_t(~bit);
  }
  Put16(p->definition, H::kPabFlags, flags);
}

void SetFlag2(ParagraphSpec* p, uint16_t bit, bool on) {
  uint16_t flags = Get16(p->definition, H::kPabFlags2);
  if (on) {
    p->flags2Set |= bit;
    p->flags2Clear &= uint16_t(~bit);
    flags |= bit;
  } else {
    p->flags2Clear |= bit;
    p->flags2Set &= uint16_t(~bit);
    flags &= uint16_t(~bit);
  }
  Put16(p->definition, H::kPabFlags2, flags);
}

NnStatus ParseMargins(Reader& r, ParagraphSpec* p) {
  std::string v;
  Amount a;
  bool leftRelative = false, leftRelativePercent = false;
  if (r.Get("LeftMargin=", &v)) {
    if (!ParseAmount(v, Sign::Allow, Percent::Allow, &a)) return NN_ERR_INVALID_ARG;
    if (a.relative && a.percent) {
      p->given[kGivenPercentRelative] = 1;
      p->percentDelta = a.value;
      leftRelativePercent = true;
    } else if (a.relative) {
      p->given[kGivenLeftRelative] = 1;
      p->leftDelta = a.value;
      leftRelative = true;
    } else if (a.percent) {
      p->given[kGivenLeftExtension] = 1;
      Put16(p->definition, kPabExtLeftPercent, uint16_t(a.value));
      SetFlag2(p, kPab2LeftPercent, true);
      p->flags2Set &= uint16_t(~kPab2LeftPercent);  // carried by the source, not a pending set
    } else {
      p->given[kGivenLeftMargin] = 1;
      Put16(p->definition, H::kPabLeftMargin, uint16_t(a.value));
      Put16(p->definition, kPabExtLeftTwips, uint16_t(a.value));
    }
  }
  if (r.Get("FirstLineLeftMargin=", &v)) {
    if (!ParseAmount(v, Sign::Allow, Percent::Allow, &a)) return NN_ERR_INVALID_ARG;
    if (a.relative && a.percent) {
      if (leftRelativePercent && p->percentDelta != a.value) return NN_ERR_INVALID_ARG;
      p->given[kGivenPercentRelative] = 1;
      p->percentDelta = a.value;
    } else if (a.relative) {
      if (leftRelative && p->leftDelta != a.value) return NN_ERR_INVALID_ARG;
      p->given[kGivenLeftRelative] = 1;
      p->leftDelta = a.value;
    } else if (a.percent) {
      p->given[kGivenFirstLineExtension] = 1;
      Put16(p->definition, kPabExtFirstPercent, uint16_t(a.value));
      SetFlag2(p, kPab2FirstPercent, true);
      p->flags2Set &= uint16_t(~kPab2FirstPercent);
    } else {
      p->given[kGivenFirstLine] = 1;
      Put16(p->definition, H::kPabFirstLineLeftMargin, uint16_t(a.value));
      Put16(p->definition, kPabExtFirstTwips, uint16_t(a.value));
    }
  }
  if (r.Get("RightMargin=", &v)) {
    if (!ParseAmount(v, Sign::Allow, Percent::Allow, &a)) return NN_ERR_INVALID_ARG;
    if (a.relative) {
      p->given[kGivenRightRelative] = 1;
      (a.percent ? p->rightPercentDelta : p->rightDelta) = a.value;
    } else if (a.percent) {
      p->given[kGivenRightExtension] = 1;
      Put16(p->definition, kPabExtRightPercent, uint16_t(a.value));
      SetFlag2(p, kPab2RightPercent, true);
      p->flags2Set &= uint16_t(~kPab2RightPercent);
    } else {
      p->given[kGivenRightMargin] = 1;
      Put16(p->definition, H::kPabRightMargin, uint16_t(a.value));
      Put16(p->definition, kPabExtRightTwips, uint16_t(a.value));
    }
  }
  return NN_OK;
}

NnStatus ParseTabs(Reader& r, ParagraphSpec* p) {
  std::string v;
  if (r.Get("Tabs=", &v)) {
    std::vector<std::string> stops = Words(v);
    if (stops.size() == 1 && Same(stops[0], "None")) stops.clear();
    if (stops.size() > kPabMaxTabs) return NN_ERR_INVALID_ARG;
    uint32_t types = 0;
    uint8_t* d = p->definition;
    for (size_t i = 0; i < kPabMaxTabs; ++i) Put16(d, H::kPabTabs + 2 * uint32_t(i), 0);
    for (size_t i = 0; i < stops.size(); ++i) {
      std::string s = stops[i];
      uint32_t type = 0;
      char c = char(s[0] | 0x20);
      if (c == 'l' || c == 'r' || c == 'c' || c == 'd') {
        type = c == 'l' ? 0 : c == 'r' ? 1 : c == 'd' ? 2 : 3;
        s.erase(0, 1);
      }
      Amount a;
      if (!ParseAmount(s, Sign::Allow, Percent::Refuse, &a) || a.value < -32768 ||
          a.value > 32767)
        return NN_ERR_INVALID_ARG;
      if (type && i >= 16) return NN_ERR_INVALID_ARG;
      types |= type << (2 * i);
      int16_t pos = int16_t(a.value);
      std::memcpy(d + H::kPabTabs + 2 * i, &pos, 2);
    }
    Put16(d, H::kPabTabCount, uint16_t(stops.size()));
    Put32(d, H::kPabTabTypes, types);
    p->given[kGivenTabs] = 1;
    p->given[kGivenFirstTabOnly] = 0;
  } else if (r.Get("TabInterval=", &v)) {
    Amount a;
    if (!ParseAmount(v, Sign::Refuse, Percent::Refuse, &a) || a.value > 32767)
      return NN_ERR_INVALID_ARG;
    Put16(p->definition, H::kPabTabCount, 0);
    Put16(p->definition, H::kPabTabs, uint16_t(a.value));
    p->given[kGivenFirstTabOnly] = 1;
  }
  return NN_OK;
}

NnStatus ParseLists(Reader& r, ParagraphSpec* p) {
  std::string v;
  if (r.Get("List=", &v)) {
    uint16_t sel = 0;
    if (Same(v, "None")) {
      p->listRemoval = kListAny;
      p->given[kGivenListRemoval] = 1;
      Put16(p->definition, H::kPabFlags,
            uint16_t(Get16(p->definition, H::kPabFlags) & ~kListFlags));
      Put16(p->definition, H::kPabFlags2,
            uint16_t(Get16(p->definition, H::kPabFlags2) & ~kPab2ListBits));
    } else {
      bool found = false;
      for (const auto& n : kLists)
        if (Same(v, n.name)) {
          sel = n.value;
          found = true;
        }
      if (!found) return NN_ERR_INVALID_ARG;
      p->listStyle = sel;
      p->given[kGivenListStyle] = 1;
      for (const auto& b : kListBitTable)
        if (b.selector == sel) {
          uint16_t f = Get16(p->definition, H::kPabFlags) & uint16_t(~kListFlags);
          uint16_t f2 = Get16(p->definition, H::kPabFlags2) & uint16_t(~kPab2ListBits);
          Put16(p->definition, H::kPabFlags, uint16_t(f | b.flags));
          Put16(p->definition, H::kPabFlags2, uint16_t(f2 | b.flags2));
        }
    }
  }
  if (r.Get("RemoveList=", &v)) {
    uint16_t sel = 0;
    if (Same(v, "Any") || Same(v, "All") || Same(v, "Yes")) sel = kListAny;
    for (const auto& n : kLists)
      if (Same(v, n.name)) sel = n.value;
    if (!sel) return NN_ERR_INVALID_ARG;
    p->listRemoval = sel;
    p->given[kGivenListRemoval] = 1;
  }
  return NN_OK;
}

NnStatus ParseFlags(Reader& r, ParagraphSpec* p) {
  std::string v;
  struct BoolKey {
    const char* key;
    uint16_t bit;
  };
  constexpr BoolKey kBoolKeys[] = {{"KeepWithNext=", kPabKeepWithNext},
                                   {"KeepTogether=", kPabKeepTogether},
                                   {"PageBreakBefore=", kPabPageBreakBefore}};
  for (const auto& k : kBoolKeys) {
    if (!r.Get(k.key, &v)) continue;
    bool on;
    if (!ParseBool(v, &on)) return NN_ERR_INVALID_ARG;
    SetFlag(p, k.bit, on);
  }
  if (r.Get("Hide=", &v)) {
    uint16_t flags = 0, flags2 = 0;
    std::vector<std::string> words = Words(v);
    if (!(words.size() == 1 && Same(words[0], "None"))) {
      if (words.empty()) return NN_ERR_INVALID_ARG;
      for (const auto& w : words) {
        bool found = false;
        for (const auto& h : kHideNames)
          if (Same(w, h.name)) {
            flags |= h.flags;
            flags2 |= h.flags2;
            found = true;
          }
        if (!found) return NN_ERR_INVALID_ARG;
      }
    }
    for (const auto& h : kHideNames) {
      if (h.flags) SetFlag(p, h.flags, (flags & h.flags) != 0);
      if (h.flags2) SetFlag2(p, h.flags2, (flags2 & h.flags2) != 0);
    }
  }
  if (r.Get("HideWhen=", &v)) {
    // The formula keeps its inner blanks; only the option quoting is gone.
    const char* raw = r.Raw();
    size_t n = std::strlen(raw);
    if (n > kParagraphExtTextMax || r.FullLength("HideWhen=", kParagraphExtTextMax) > n)
      return NN_ERR_INVALID_ARG;  // a formula cut short would hide by another one
    std::memcpy(p->hideWhen, raw, n);
    p->hideWhen[n] = 0;
    p->hideWhenLength = uint16_t(n);
    p->hasHideWhen = 1;
    SetFlag(p, kPabHideFormula, !v.empty());
  }
  if (r.Get("Direction=", &v)) {
    if (Same(v, "RTL"))
      SetFlag2(p, kPab2RightToLeft, true);
    else if (Same(v, "LTR"))
      SetFlag2(p, kPab2RightToLeft, false);
    else
      return NN_ERR_INVALID_ARG;
  }
  return NN_OK;
}

// Inches with up to four decimals (enough to read back the same twips).
std::string Inches(int32_t twips) {
  bool negative = twips < 0;
  uint32_t t = uint32_t(negative ? -twips : twips);
  uint32_t tenThousandths = (t * 10000u + 720u) / 1440u;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%s%u.%04u", negative ? "-" : "", tenThousandths / 10000u,
                tenThousandths % 10000u);
  std::string s = buf;
  while (s.back() == '0') s.pop_back();
  if (s.back() == '.') s.pop_back();
  return s + "in";
}

const char* NameOf(const Named* table, size_t count, uint16_t value, char* buf, size_t size) {
  for (size_t i = 0; i < count; ++i)
    if (table[i].value == value) return table[i].name;
  std::snprintf(buf, size, "%u", value);
  return buf;
}

}  // namespace

void ParagraphSpecReset(ParagraphSpec* out) {
  *out = ParagraphSpec();
  Put16(out->definition, 0, kSigPab);
  Put16(out->definition, 2, uint16_t(kPabFullLength));
  Put16(out->definition, H::kPabFlags, kPabAlways);
}

NnStatus ParseParagraphSpec(const char* spec, const char* spec2, ParagraphSpec* out,
                            int strict) {
  if (!out) return NN_ERR_INVALID_ARG;
  // Built aside so that a malformed value leaves the caller's outputs alone.
  auto* tmp = new (std::nothrow) ParagraphSpec();
  if (!tmp) return NN_ERR_MEMORY;
  ParagraphSpecReset(tmp);
  auto reader = std::make_unique<Reader>(spec, spec2);
  Reader& r = *reader;
  NnStatus st = ParseMargins(r, tmp);
  std::string v;
  struct PlainKey {
    const char* key;
    const Named* table;
    size_t count;
    uint32_t offset;
    uint32_t marker;
  };
  const PlainKey plain[] = {
      {"SpacingAbove=", kSpacing, std::size(kSpacing), H::kPabSpaceBefore, kGivenSpaceBefore},
      {"SpacingBelow=", kSpacing, std::size(kSpacing), H::kPabSpaceAfter, kGivenSpaceAfter},
      {"LineSpacing=", kSpacing, std::size(kSpacing), H::kPabLineSpacing, kGivenLineSpacing},
      {"Alignment=", kAlignment, std::size(kAlignment), H::kPabJustify, kGivenJustify}};
  for (const auto& k : plain) {
    if (st != NN_OK) break;
    if (!r.Get(k.key, &v)) continue;
    uint16_t value;
    if (!ParseNamed(v, k.table, k.count, &value)) {
      st = NN_ERR_INVALID_ARG;
      break;
    }
    Put16(tmp->definition, k.offset, value);
    tmp->given[k.marker] = 1;
  }
  if (st == NN_OK) st = ParseTabs(r, tmp);
  if (st == NN_OK) st = ParseLists(r, tmp);
  if (st == NN_OK) st = ParseFlags(r, tmp);
  if (st == NN_OK && (((strict & kStrictFirst) && !r.OnlyKeysAsked(spec)) ||
                      ((strict & kStrictSecond) && !r.OnlyKeysAsked(spec2))))
    st = NN_ERR_INVALID_ARG;
  if (st == NN_OK) *out = *tmp;
  delete tmp;
  return st;
}

std::string FormatParagraphSpec(const uint8_t* d, size_t length) {
  std::string out;
  if (!d || length < H::kPabFixed) return out;
  char num[16];
  uint16_t flags = Get16(d, H::kPabFlags);
  uint16_t flags2 = Get16(d, H::kPabFlags2);
  bool extended = length >= kPabMarginLength;
  auto add = [&out](const char* key, const std::string& value) {
    out += key;
    out += value;
    out += ' ';
  };
  add("Alignment=", NameOf(kAlignment, std::size(kAlignment), Get16(d, H::kPabJustify), num,
                           sizeof num));
  if (extended && (flags2 & kPab2LeftPercent))
    add("LeftMargin=", std::to_string(Get16(d, kPabExtLeftPercent)) + "%");
  else
    add("LeftMargin=", Inches(Get16(d, H::kPabLeftMargin)));
  if (extended && (flags2 & kPab2FirstPercent))
    add("FirstLineLeftMargin=", std::to_string(Get16(d, kPabExtFirstPercent)) + "%");
  else
    add("FirstLineLeftMargin=", Inches(Get16(d, H::kPabFirstLineLeftMargin)));
  if (extended && (flags2 & kPab2RightPercent))
    add("RightMargin=", std::to_string(Get16(d, kPabExtRightPercent)) + "%");
  else
    add("RightMargin=", Inches(Get16(d, H::kPabRightMargin)));
  add("SpacingAbove=",
      NameOf(kSpacing, std::size(kSpacing), Get16(d, H::kPabSpaceBefore), num, sizeof num));
  add("SpacingBelow=",
      NameOf(kSpacing, std::size(kSpacing), Get16(d, H::kPabSpaceAfter), num, sizeof num));
  add("LineSpacing=",
      NameOf(kSpacing, std::size(kSpacing), Get16(d, H::kPabLineSpacing), num, sizeof num));

  uint16_t count = Get16(d, H::kPabTabCount);
  if (count == 0) {
    add("TabInterval=", Inches(Get16(d, H::kPabTabs)));
  } else {
    if (count > kPabMaxTabs) count = kPabMaxTabs;
    uint32_t types = Get32(d, H::kPabTabTypes);
    std::string tabs;
    for (uint32_t i = 0; i < count; ++i) {
      int16_t pos;
      std::memcpy(&pos, d + H::kPabTabs + 2 * i, 2);
      uint32_t type = i < 16 ? (types >> (2 * i)) & 3u : 0u;
      if (i) tabs += ' ';
      tabs += "LRDC"[type];
      tabs += Inches(pos);
    }
    add("Tabs=", "'" + tabs + "'");
  }

  const char* list = "None";
  if (flags & (kPabBullet | kPabNumbered)) {
    uint16_t want = (flags & kPabNumbered) ? kPabNumbered : kPabBullet;
    list = want == kPabNumbered ? "Number" : "Bullet";
    for (const auto& b : kListBitTable)
      if (b.flags == want && b.flags2 && (flags2 & kPab2ListBits) == b.flags2)
        for (const auto& n : kLists)
          if (n.value == b.selector) list = n.name;
  }
  add("List=", list);
  add("KeepWithNext=", (flags & kPabKeepWithNext) ? "'Yes'" : "'No'");
  add("KeepTogether=", (flags & kPabKeepTogether) ? "'Yes'" : "'No'");
  add("PageBreakBefore=", (flags & kPabPageBreakBefore) ? "'Yes'" : "'No'");
  std::string hide;
  for (const auto& h : kHideNames)
    if ((h.flags && (flags & h.flags)) || (h.flags2 && (flags2 & h.flags2))) {
      if (!hide.empty()) hide += ' ';
      hide += h.name;
    }
  add("Hide=", hide.empty() ? std::string("None") : "'" + hide + "'");
  add("Direction=", (flags2 & kPab2RightToLeft) ? "RTL" : "LTR");
  return out;
}

NnStatus TorvoRTItem::ParseParagraphString(const char* spec, const char* spec2, void* outputs) {
  if (!outputs) return NN_ERR_INVALID_ARG;
  return ParseParagraphSpec(spec, spec2, static_cast<ParagraphSpec*>(outputs));
}
