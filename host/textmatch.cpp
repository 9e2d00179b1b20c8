#include "host/textmatch.h"

#include <cstring>

#include <unicode/normalizer2.h>
#include <unicode/regex.h>
#include <unicode/ucnv.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf16.h>

#include <cctype>
#include <memory>
#include <vector>

namespace kv {

namespace {

// Work allowance of one regular-expression search (ICU steps, roughly
// milliseconds) and of its backtracking stack: hostile patterns give up
// instead of running away.
constexpr int32_t kRegexTimeLimit = 300;
constexpr int32_t kRegexStackLimit = 1 << 20;

// Text in UTF-16 with, for every unit, the byte offset of the LMBCS character
// it came from; offsets has one more entry, the byte length, for the end.
struct MappedText {
  icu::UnicodeString text;
  std::vector<uint32_t> offsets;
};

struct ConverterCloser {
  void operator()(UConverter* c) const { ucnv_close(c); }
};

UConverter* LmbcsConverter() {
  thread_local std::unique_ptr<UConverter, ConverterCloser> conv;
  thread_local bool tried = false;
  if (!tried) {
    tried = true;
    UErrorCode err = U_ZERO_ERROR;
    UConverter* c = ucnv_open("LMBCS-1", &err);
    if (U_SUCCESS(err)) conv.reset(c);
  }
  if (conv) ucnv_reset(conv.get());
  return conv.get();
}

// Decodes LMBCS; when the converter is missing or fails, each byte is taken
// as one Latin-1 character so that a search still runs on ASCII text.
void Decode(const char* text, uint32_t len, MappedText* out) {
  out->text.remove();
  out->offsets.clear();
  if (len == 0) {
    out->offsets.push_back(0);
    return;
  }
  if (UConverter* conv = LmbcsConverter()) {
    size_t cap = size_t(len) * 2 + 16;
    std::vector<UChar> units(cap);
    std::vector<int32_t> offs(cap);
    UChar* target = units.data();
    const char* source = text;
    UErrorCode err = U_ZERO_ERROR;
    ucnv_toUnicode(conv, &target, units.data() + cap, &source, text + len, offs.data(), true,
                   &err);
    if (U_SUCCESS(err) && source == text + len) {
      size_t n = size_t(target - units.data());
      out->text.setTo(units.data(), int32_t(n));
      out->offsets.reserve(n + 1);
      uint32_t last = 0;
      for (size_t i = 0; i < n; ++i) {
        // Substituted output may carry -1; keep the offsets rising and in range.
        uint32_t o = offs[i] < 0 ? last : uint32_t(offs[i]);
        if (o < last) o = last;
        if (o > len) o = len;
        out->offsets.push_back(o);
        last = o;
      }
      out->offsets.push_back(len);
      return;
    }
  }
  for (uint32_t i = 0; i < len; ++i) {
    out->text.append(UChar(static_cast<unsigned char>(text[i])));
    out->offsets.push_back(i);
  }
  out->offsets.push_back(len);
}

// Letters whose accent is not a separate combining mark.
UChar32 StrokeFold(UChar32 c) {
  switch (c) {
    case 0x00D8: return 'O';
    case 0x00F8: return 'o';
    case 0x0110: return 'D';
    case 0x0111: return 'd';
    case 0x0141: return 'L';
    case 0x0142: return 'l';
    case 0x0126: return 'H';
    case 0x0127: return 'h';
    case 0x0131: return 'i';
    default: return c;
  }
}

bool IsMark(UChar32 c) {
  int8_t t = u_charType(c);
  return t == U_NON_SPACING_MARK || t == U_ENCLOSING_MARK || t == U_COMBINING_SPACING_MARK;
}

// Removes accents: each character is decomposed and its marks dropped; the
// offsets follow the characters kept.
void FoldAccents(MappedText* m) {
  UErrorCode err = U_ZERO_ERROR;
  const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(err);
  if (U_FAILURE(err)) return;
  MappedText out;
  const icu::UnicodeString& src = m->text;
  int32_t n = src.length();
  out.offsets.reserve(m->offsets.size());
  for (int32_t i = 0; i < n;) {
    UChar32 c = src.char32At(i);
    uint32_t off = m->offsets[size_t(i)];
    int32_t next = src.moveIndex32(i, 1);
    icu::UnicodeString dec;
    if (!nfd->getDecomposition(c, dec)) dec.setTo(c);
    for (int32_t j = 0; j < dec.length();) {
      UChar32 d = dec.char32At(j);
      j = dec.moveIndex32(j, 1);
      if (IsMark(d)) continue;
      d = StrokeFold(d);
      int32_t before = out.text.length();
      out.text.append(d);
      for (int32_t k = before; k < out.text.length(); ++k) out.offsets.push_back(off);
    }
    i = next;
  }
  out.offsets.push_back(m->offsets.back());
  *m = std::move(out);
}

void AppendEscaped(icu::UnicodeString* p, UChar32 c) {
  if (c < 0x80 && !std::isalnum(static_cast<int>(c))) p->append(UChar('\\'));
  p->append(c);
}

// The regular expression a search stands for.
icu::UnicodeString BuildPattern(const icu::UnicodeString& search, const TextMatchOptions& o) {
  icu::UnicodeString body;
  if (o.regularExpression) {
    body = search;
  } else {
    for (int32_t i = 0; i < search.length();) {
      UChar32 c = search.char32At(i);
      i = search.moveIndex32(i, 1);
      if (o.wildcards && c == '*') {
        body.append(u".*?");
      } else if (o.wildcards && c == '?') {
        body.append(UChar('.'));
      } else {
        AppendEscaped(&body, c);
      }
    }
  }
  if (!o.wordBoundaries) return body;
  icu::UnicodeString p(u"(?<![\\p{L}\\p{N}])(?:");
  p.append(body);
  p.append(u")(?![\\p{L}\\p{N}])");
  return p;
}

// One compiled search, reusable over a text.
class Search {
 public:
  // Returns false when the search cannot be run (empty or invalid).
  bool Compile(const char* search, uint32_t searchLen, const TextMatchOptions& o) {
    if (search == nullptr) return false;
    // A caller's length never reaches past the search text's end.
    searchLen = uint32_t(strnlen(search, searchLen));
    if (searchLen == 0) return false;
    MappedText s;
    Decode(search, searchLen, &s);
    if (!o.accentSensitive) FoldAccents(&s);
    if (s.text.isEmpty()) return false;
    uint32_t flags = 0;
    if (!o.caseSensitive) flags |= UREGEX_CASE_INSENSITIVE;
    if (!o.regularExpression && o.wildcards) flags |= UREGEX_DOTALL;
    UParseError pe;
    UErrorCode err = U_ZERO_ERROR;
    pattern_.reset(icu::RegexPattern::compile(BuildPattern(s.text, o), flags, pe, err));
    if (U_FAILURE(err)) pattern_.reset();
    accentSensitive_ = o.accentSensitive;
    return pattern_ != nullptr;
  }

  bool Prepare(const char* text, uint32_t len) {
    Decode(text, len, &text_);
    if (!accentSensitive_) FoldAccents(&text_);
    UErrorCode err = U_ZERO_ERROR;
    matcher_.reset(pattern_->matcher(text_.text, err));
    if (U_FAILURE(err)) {
      matcher_.reset();
      return false;
    }
    matcher_->setTimeLimit(kRegexTimeLimit, err);
    matcher_->setStackLimit(kRegexStackLimit, err);
    return U_SUCCESS(err);
  }

  // First non-empty match at or after unit `from`: 1 found, 0 none, negative
  // for a search that gave up. Unit bounds in *start / *end.
  int Next(int32_t from, int32_t* start, int32_t* end) {
    if (from > text_.text.length()) return 0;
    UErrorCode err = U_ZERO_ERROR;
    bool found = matcher_->find(from, err);
    while (U_SUCCESS(err) && found) {
      int32_t s = matcher_->start(err);
      int32_t e = matcher_->end(err);
      if (U_FAILURE(err)) break;
      if (e > s) {
        *start = s;
        *end = e;
        return 1;
      }
      found = matcher_->find(err);
    }
    if (U_FAILURE(err)) return -1;
    return 0;
  }

  int32_t UnitAtByte(uint32_t byte) const {
    const auto& o = text_.offsets;
    size_t i = 0;
    while (i + 1 < o.size() && o[i] < byte) ++i;
    return int32_t(i);
  }
  uint32_t ByteAt(int32_t unit) const { return text_.offsets[size_t(unit)]; }

 private:
  std::unique_ptr<icu::RegexPattern> pattern_;
  std::unique_ptr<icu::RegexMatcher> matcher_;
  MappedText text_;
  bool accentSensitive_ = true;
};

}  // namespace

int32_t TextFindMatchFrom(const char* text, uint32_t len, uint32_t from, const char* search,
                          uint32_t searchLen, const TextMatchOptions& options,
                          uint32_t* matchLen) {
  if (matchLen) *matchLen = 0;
  if (text == nullptr && len > 0) return kTextNoMatch;
  if (len > uint32_t(INT32_MAX) / 4 || from >= len) return kTextNoMatch;
  Search s;
  if (!s.Compile(search, searchLen, options)) return kTextBadPattern;
  if (!s.Prepare(text, len)) return kTextBadPattern;
  int32_t us = 0, ue = 0;
  int r = s.Next(s.UnitAtByte(from), &us, &ue);
  if (r < 0) return kTextMatchTooLong;
  if (r == 0) return kTextNoMatch;
  uint32_t bs = s.ByteAt(us), be = s.ByteAt(ue);
  if (be <= bs) return kTextNoMatch;  // a match made only of folded-away marks
  if (matchLen) *matchLen = be - bs;
  return int32_t(bs);
}

int32_t TextFindMatch(const char* text, uint32_t len, const char* search, uint32_t searchLen,
                      uint32_t flags, int accent, int caseSensitive, int regex,
                      int wordBoundaries, uint32_t* matchLen, const NnCharsetInfo* /*charset*/) {
  TextMatchOptions o;
  o.accentSensitive = accent != 0;
  o.caseSensitive = caseSensitive != 0;
  o.regularExpression = regex != 0;
  o.wordBoundaries = wordBoundaries != 0;
  o.wildcards = (flags & kTextMatchWildcards) != 0;
  return TextFindMatchFrom(text, len, 0, search, searchLen, o, matchLen);
}

NnStatus TextFindAllMatches(const char* text, uint32_t len, const char* find, uint32_t findLen,
                            const TextMatchOptions& options,
                            std::vector<std::pair<uint32_t, uint32_t>>* matches) {
  if (matches == nullptr || (text == nullptr && len > 0)) return NN_ERR_INVALID_ARG;
  if (len > uint32_t(INT32_MAX) / 4) return NN_ERR_MEMORY;
  Search s;
  if (!s.Compile(find, findLen, options)) return NN_ERR_INVALID_ARG;
  matches->clear();
  if (len == 0) return NN_OK;
  if (!s.Prepare(text, len)) return NN_ERR_INVALID_ARG;
  uint32_t copied = 0;
  int32_t unit = 0;
  for (;;) {
    int32_t us = 0, ue = 0;
    int r = s.Next(unit, &us, &ue);
    if (r < 0) return NN_ERR_INVALID_ARG;
    if (r == 0) break;
    uint32_t bs = s.ByteAt(us), be = s.ByteAt(ue);
    unit = ue;
    if (be <= bs || bs < copied) continue;
    matches->push_back({bs, be});
    copied = be;
  }
  return NN_OK;
}

NnStatus TextReplaceAll(const char* text, uint32_t len, const char* find, uint32_t findLen,
                        const char* replace, uint32_t replaceLen,
                        const TextMatchOptions& options, std::string* out, uint32_t* count) {
  if (out == nullptr || (text == nullptr && len > 0) || (replace == nullptr && replaceLen > 0))
    return NN_ERR_INVALID_ARG;
  if (replace) replaceLen = uint32_t(strnlen(replace, replaceLen));
  std::vector<std::pair<uint32_t, uint32_t>> matches;
  NnStatus st = TextFindAllMatches(text, len, find, findLen, options, &matches);
  if (st) return st;
  std::string result;
  uint32_t copied = 0;  // bytes of text already placed in result
  for (const auto& m : matches) {
    if (result.size() + (m.first - copied) + replaceLen > kTextReplaceMaxBytes)
      return NN_ERR_MEMORY;
    result.append(text + copied, m.first - copied);
    result.append(replace, replaceLen);
    copied = m.second;
  }
  if (result.size() + (len - copied) > kTextReplaceMaxBytes) return NN_ERR_MEMORY;
  if (len) result.append(text + copied, len - copied);
  *out = std::move(result);
  if (count) *count = uint32_t(matches.size());
  return NN_OK;
}

}  // namespace kv
