// The chunk's text and named-element searches over the item's records.
#include "richtext/chunk/finders.h"

#include <cstring>
#include <string>

#include "host/textmatch.h"
#include "richtext/engine/opcodes.h"
#include "richtext/item/recordlist.h"
#include "rtchunk.h"
#include "rtitem.h"

namespace {

constexpr uint16_t kSigText = 0xFF85;
constexpr uint16_t kSigBegin = 0x00DD;
constexpr uint16_t kSigIdName = 0xFF7A;
constexpr uint16_t kSigCellIdName = 0xFF7B;
constexpr uint32_t kTextHeader = 8;      // header and font identifier
constexpr uint32_t kIdNameFixed = 26;    // six lengths at 4, strings from 26
// An element's attribute record follows its start record closely; beyond
// this many records it belongs to something else.
constexpr uint32_t kAttributeWindow = 8;

// The item's record list for one search; loads it when the item has none and
// drops it again afterwards so the engine's next call sees the item as before.
class LoadedRecords {
 public:
  explicit LoadedRecords(TorvoRTItem* item) : item_(item) {
    if (!item_ || !item_->context) return;
    if (!item_->context->records) {
      if (item_->LoadRecords() != NN_OK) return;
      loadedHere_ = true;
    }
    list_ = item_->context->records;
  }
  ~LoadedRecords() {
    if (loadedHere_) item_->ReleaseRecords();
  }
  LoadedRecords(const LoadedRecords&) = delete;
  LoadedRecords& operator=(const LoadedRecords&) = delete;
  const RecordList* list() const { return list_; }

 private:
  TorvoRTItem* item_ = nullptr;
  const RecordList* list_ = nullptr;
  bool loadedHere_ = false;
};

bool InSearch(uint32_t number, int inside, uint32_t first, uint32_t last) {
  return inside ? number >= first && number <= last : number > last;
}

}  // namespace

kv::TextMatchOptions ChunkSearchOptions(const TorvoRTChunk* chunk) {
  kv::TextMatchOptions o;
  o.accentSensitive = chunk->AccentSensitive != 0;
  o.caseSensitive = chunk->CaseSensitive != 0;
  o.regularExpression = chunk->RegularExpression != 0;
  o.wordBoundaries = chunk->SearchWordBoundaries != 0;
  o.wildcards = chunk->TextWildcards != 0;
  return o;
}

namespace {

// The search as a regular expression, so that it can be anchored. Platform
// text: a byte below 0x20 opens a multi-byte character whose trail bytes are
// copied untouched; ASCII punctuation is escaped, wildcards become runs.
std::string AsPattern(const char* text, uint32_t len, const kv::TextMatchOptions& o) {
  if (o.regularExpression) return "(?:" + std::string(text, len) + ")";
  std::string out = "(?:";
  for (uint32_t i = 0; i < len; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x01 && c < 0x20) {
      uint32_t trail = (c >= 0x10 && c <= 0x14) ? 2 : 1;
      out.push_back(char(c));
      for (uint32_t k = 0; k < trail && i + 1 < len; ++k) out.push_back(text[++i]);
      continue;
    }
    if (o.wildcards && c == '*') {
      out += "[\\s\\S]*?";
    } else if (o.wildcards && c == '?') {
      out += "[\\s\\S]";
    } else if (c < 0x80 && std::strchr("\\^$.|?*+()[]{}/#-&~", c) && c != 0) {
      out.push_back('\\');
      out.push_back(char(c));
    } else {
      out.push_back(char(c));
    }
  }
  out += ")";
  return out;
}

// Finds the search in one run under the mode; the byte position or -1.
int32_t MatchRun(const char* run, uint32_t runLen, const char* text, uint32_t len, uint16_t mode,
                 const kv::TextMatchOptions& o, uint32_t* matchLen) {
  if (mode != kFindEntire && mode != kFindStarts && mode != kFindEnds) {
    int32_t pos = kv::TextFindMatchFrom(run, runLen, 0, text, len, o, matchLen);
    return pos >= 0 ? pos : -1;
  }
  std::string pattern = AsPattern(text, len, o);
  if (mode == kFindEntire) pattern = "^" + pattern + "\\z";
  else if (mode == kFindStarts) pattern = "^" + pattern;
  else pattern += "\\z";
  kv::TextMatchOptions anchored = o;
  anchored.regularExpression = true;
  anchored.wildcards = false;
  int32_t pos = kv::TextFindMatchFrom(run, runLen, 0, pattern.data(), uint32_t(pattern.size()),
                                      anchored, matchLen);
  return pos >= 0 ? pos : -1;
}

uint32_t FontOf(const RTRecordNode* node) {
  uint32_t id = 0;
  std::memcpy(&id, node->data + 4, sizeof id);
  return id;
}

bool IsTextRun(const RTRecordNode* node) {
  return node->data && node->signature == kSigText && node->length >= kTextHeader &&
         !(node->flags & kNodeDrop);
}

uint16_t Word(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Whether the record starts an element of the type (its own start record, or
// a BEGIN record announcing one of the type's objects).
bool StartsElement(const RTRecordNode* node, const TargetTypeDescriptor& d) {
  for (uint16_t s : d.startSignatures)
    if (s && s == node->signature) return true;
  if (node->signature == kSigBegin && node->data && node->length >= 6) {
    uint16_t announced = Word(node->data + 4);
    for (int i = 0; i < 3; ++i)
      if (d.beginSignatures[i] && d.beginSignatures[i] == announced) return true;
  }
  return false;
}

bool HasStartRecords(const TargetTypeDescriptor& d) {
  for (uint16_t s : d.startSignatures)
    if (s) return true;
  for (int i = 0; i < 3; ++i)
    if (d.beginSignatures[i]) return true;
  return false;
}

bool SameByte(char a, char b, bool caseSensitive) {
  if (caseSensitive) return a == b;
  unsigned char x = static_cast<unsigned char>(a), y = static_cast<unsigned char>(b);
  if (x >= 'A' && x <= 'Z') x = uint8_t(x + 32);
  if (y >= 'A' && y <= 'Z') y = uint8_t(y + 32);
  return x == y;
}

bool NameMatches(const char* value, uint32_t valueLen, const char* name, uint32_t len,
                 uint16_t mode, bool caseSensitive) {
  auto equalAt = [&](uint32_t at) {
    for (uint32_t i = 0; i < len; ++i)
      if (!SameByte(value[at + i], name[i], caseSensitive)) return false;
    return true;
  };
  if (len > valueLen) return false;
  switch (mode) {
    case kFindStarts: return equalAt(0);
    case kFindEnds: return equalAt(valueLen - len);
    case kFindSubstring:
    case 0:
    case 5:
      for (uint32_t at = 0; at + len <= valueLen; ++at)
        if (equalAt(at)) return true;
      return false;
    default: return len == valueLen && equalAt(0);
  }
}

// The ID and Name of an attribute record; false when its lengths run past it.
bool AttributeStrings(const RTRecordNode* node, const char** id, uint32_t* idLen,
                      const char** nm, uint32_t* nmLen) {
  if (!node->data || node->length < kIdNameFixed) return false;
  uint32_t lengths[6];
  uint32_t total = 0;
  for (int i = 0; i < 6; ++i) {
    lengths[i] = Word(node->data + 4 + 2 * i);
    total += lengths[i];
  }
  if (total > node->length - kIdNameFixed) return false;
  const char* base = reinterpret_cast<const char*>(node->data + kIdNameFixed);
  *id = base;
  *idLen = lengths[0];
  *nm = base + lengths[0] + lengths[1] + lengths[2] + lengths[3] + lengths[4];
  *nmLen = lengths[5];
  return true;
}

}  // namespace

uint32_t FindTextInChunk(TorvoRTChunk* chunk, int inside, uint32_t first, uint32_t last,
                         const char* text, uint16_t length, uint16_t mode, const FontState* font,
                         uint32_t fontMask, ChunkFindDetail* detail) {
  if (!chunk || !chunk->item || !text || first == 0) return 0;
  uint32_t len = length ? length : uint32_t(std::strlen(text));
  if (len == 0) return 0;
  LoadedRecords records(chunk->item);
  if (!records.list()) return 0;
  kv::TextMatchOptions options = ChunkSearchOptions(chunk);
  uint32_t number = 0;
  for (const RTRecordNode* node = RecordListNext(records.list(), nullptr); node;
       node = RecordListNext(records.list(), node)) {
    ++number;
    if (inside && number > last) break;
    if (!InSearch(number, inside, first, last) || !IsTextRun(node)) continue;
    uint32_t fontId = FontOf(node);
    if (fontMask && !FontMatches(&fontId, font, fontMask)) continue;
    const char* run = reinterpret_cast<const char*>(node->data + kTextHeader);
    uint32_t runLen = node->length - kTextHeader;
    uint32_t matchLen = 0;
    int32_t pos = MatchRun(run, runLen, text, len, mode, options, &matchLen);
    if (pos < 0) continue;
    if (detail) {
      detail->record = number;
      detail->offset = uint32_t(pos);
      detail->length = matchLen;
    }
    return number;
  }
  return 0;
}

uint32_t FindNamedElementInChunk(TorvoRTChunk* chunk, int inside, uint32_t first, uint32_t last,
                                 const char* name, uint16_t length, uint16_t mode,
                                 uint16_t targetType, const FontState* font, uint32_t fontMask) {
  if (!chunk || !chunk->item || !name || first == 0 || targetType >= kTargetTypeCount) return 0;
  uint32_t len = length ? length : uint32_t(std::strlen(name));
  if (len == 0) return 0;
  LoadedRecords records(chunk->item);
  if (!records.list()) return 0;
  const TargetTypeDescriptor& d = TargetTypeDescriptors[targetType];
  const bool anyElement = targetType == EVERYTHING || !HasStartRecords(d);
  const bool caseSensitive = chunk->CaseSensitive != 0;

  uint32_t number = 0;
  uint32_t elementStart = 0;  // start record of the latest element of the type
  bool claimed = false;       // its attribute record was seen
  uint32_t candidate = 0;     // a matched element waiting for its font check
  for (const RTRecordNode* node = RecordListNext(records.list(), nullptr); node;
       node = RecordListNext(records.list(), node)) {
    ++number;
    if (node->flags & kNodeDrop) continue;
    if (candidate) {
      // The element's first text run decides the font filter.
      if (IsTextRun(node) && node->length > kTextHeader) {
        uint32_t fontId = FontOf(node);
        if (FontMatches(&fontId, font, fontMask)) return candidate;
        candidate = 0;
      } else if (StartsElement(node, d) || node->signature == kSigIdName ||
                 node->signature == kSigCellIdName) {
        candidate = 0;  // the element held no text before the next one
      }
    }
    if (inside && number > last && !candidate) break;
    if (!anyElement && StartsElement(node, d)) {
      elementStart = number;
      claimed = false;
      continue;
    }
    if (node->signature != kSigIdName && node->signature != kSigCellIdName) continue;
    uint32_t owner = number;
    if (!anyElement) {
      if (!elementStart || claimed || number - elementStart > kAttributeWindow) continue;
      claimed = true;
      owner = elementStart;
    }
    if (!InSearch(number, inside, first, last)) continue;
    const char *id = nullptr, *nm = nullptr;
    uint32_t idLen = 0, nmLen = 0;
    if (!AttributeStrings(node, &id, &idLen, &nm, &nmLen)) continue;
    bool hit = (nmLen && NameMatches(nm, nmLen, name, len, mode, caseSensitive)) ||
               (idLen && NameMatches(id, idLen, name, len, mode, caseSensitive));
    if (!hit) continue;
    if (!fontMask) return owner;
    candidate = owner;
  }
  return 0;
}
