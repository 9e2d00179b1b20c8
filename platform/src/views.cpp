// Views: a selection formula picks documents, a key formula gives each one a
// sort key; the collection is a snapshot of (key, note id) rows in key order.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "nn/nn.h"
#include "store.h"

namespace {

using nnstore::rd16;
using nnstore::rd32;

struct Row {
  std::string key;
  NOTEID id;
};

struct Collection {
  std::vector<Row> rows;   // by key without regard to case (descending when the
                           // view sorts so), then by id
  bool descending = false;
  bool selectionEvaluated = true;
};

struct Registry {
  std::mutex lock;
  std::map<NnHandle, Collection> collections;
  uint32_t next = 1;
};

Registry& registry() {
  static Registry r;
  return r;
}

constexpr uint32_t kSerialMask = ~uint32_t(nnstore::kHandleKindMask);

char lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

int compareNoCase(std::string_view a, std::string_view b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(lower(a[i]));
    unsigned char y = static_cast<unsigned char>(lower(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool isWordChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         c == '_' || c == '$';
}

// A formula as the view note holds it: source text, or already compiled.
struct FormulaSource {
  bool present = false;
  bool compiled = false;
  std::string bytes;
};

FormulaSource readFormula(const nnstore::Note& note, const char* name) {
  FormulaSource f;
  for (const nnstore::Item& item : note.items) {
    if (item.name.size() != std::strlen(name) || compareNoCase(item.name, name) != 0) continue;
    if (item.value.size() < 2) continue;
    uint16_t type = rd16(item.value.data());
    const char* data = reinterpret_cast<const char*>(item.value.data()) + 2;
    uint32_t size = uint32_t(item.value.size() - 2);
    if (type == NN_TYPE_TEXT) {
      f.bytes.assign(data, size);
    } else if (type == NN_TYPE_TEXT_LIST) {
      const char* text = nullptr;
      uint16_t len = 0;
      if (NnTextListGetEntryChecked(data, size, 0, &text, &len) != NN_OK) continue;
      f.bytes.assign(text, len);
    } else if (type == NN_TYPE_FORMULA) {
      f.bytes.assign(data, size);
      f.compiled = true;
      f.present = size > 0;
      return f;
    } else {
      continue;
    }
    std::string_view s = trim(f.bytes);
    // "SELECT" is a keyword only as a whole word at the start.
    if (std::string_view(name) == "$SelectionFormula" && s.size() >= 6 &&
        compareNoCase(s.substr(0, 6), "select") == 0 && (s.size() == 6 || !isWordChar(s[6])))
      s = trim(s.substr(6));
    f.bytes = std::string(s);
    f.present = !f.bytes.empty();
    return f;
  }
  return f;
}

// Formula text as the compiled form of this layer holds it: no NUL, no
// control character but tabs and line ends. The platform's own compiled form
// is binary.
bool isFormulaText(const std::string& bytes) {
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 && b != '\t' && b != '\r' && b != '\n') return false;
  }
  return true;
}

// The view's selection: "$SelectionFormula", else "$Formula" when it holds
// formula text. *compiled tells that the selection is there only in the
// platform's compiled form (a binary formula, or one a DXL file marks
// compiled), which is not evaluated here.
FormulaSource selectionOf(const nnstore::Note& view, bool* compiled) {
  *compiled = false;
  FormulaSource f = readFormula(view, "$SelectionFormula");
  if (f.present) return f;
  f = readFormula(view, "$Formula");
  if (f.present && isFormulaText(f.bytes)) return f;
  for (const nnstore::Item& item : view.items)
    if (compareNoCase(item.name, "$Formula") == 0 &&
        (item.type == NN_TYPE_INVALID_OR_UNKNOWN || (item.type == NN_TYPE_FORMULA && f.present)))
      *compiled = true;
  return FormulaSource{};
}

// The sorted key column of a view exported from the platform, which has no
// "$KeyColumn": the first sort key of its collation ("$Collation", a header
// of buffer size, entry count and two bytes, then per key flags, signature,
// key type, name offset and name length, then the names). The key is the
// item of that name when the name is a plain item name; a computed column
// ("$11" and the like) keeps its compiled formula in the platform's own form,
// which is not evaluated here, and gives no key. `descending` tells the
// key's order.
FormulaSource exportedKeyColumn(const nnstore::Note& note, bool* descending) {
  FormulaSource f;
  *descending = false;
  constexpr uint16_t kTypeCollation = 0x0002;
  constexpr uint8_t kKeyByItem = 0, kKeyCategory = 7;
  for (const nnstore::Item& item : note.items) {
    if (compareNoCase(item.name, "$Collation") != 0 || item.value.size() < 2 + 6) continue;
    if (rd16(item.value.data()) != kTypeCollation) continue;
    const uint8_t* d = item.value.data() + 2;
    const size_t size = item.value.size() - 2;
    const uint16_t count = rd16(d + 2);
    const size_t namesAt = 6 + size_t(count) * 7;
    if (count == 0 || namesAt > size) return f;
    const uint8_t* key = d + 6;  // the first sort key decides a lookup
    const uint8_t type = key[2];
    const size_t offset = rd16(key + 3), length = rd16(key + 5);
    if ((type != kKeyByItem && type != kKeyCategory) || length == 0 ||
        offset + length > size - namesAt)
      return f;
    std::string name(reinterpret_cast<const char*>(d + namesAt + offset), length);
    const char first = name[0];
    if (!((first >= 'a' && first <= 'z') || (first >= 'A' && first <= 'Z') || first == '_'))
      return f;
    for (char c : name)
      if (!isWordChar(c)) return f;
    *descending = (key[0] & 0x01) != 0;
    f.bytes = name;  // the item itself, as a formula
    f.present = true;
    return f;
  }
  return f;
}

// A started computation; stops and frees what it holds however the open ends.
class Computation {
 public:
  Computation() = default;
  Computation(const Computation&) = delete;
  Computation& operator=(const Computation&) = delete;
  ~Computation() {
    if (compute_) NnComputeStop(compute_);
    if (formula_) {
      NnMemUnlock(formula_);
      NnMemFree(formula_);
    }
  }

  NnStatus start(const FormulaSource& src) {
    if (src.compiled) {
      compiled_ = src.bytes;
      return NnComputeStart(compiled_.data(), &compute_);
    }
    if (src.bytes.size() > 0xFFFF) return NN_ERR_FORMULA_SYNTAX;
    uint16_t compiledLen = 0, errOffset = 0, errLength = 0;
    NnStatus st = NnFormulaCompile(src.bytes.data(), uint16_t(src.bytes.size()), &formula_,
                                   &compiledLen, &errOffset, &errLength);
    if (st != NN_OK) {
      formula_ = 0;
      return st;
    }
    const void* p = NnMemLock(formula_);
    if (!p) {
      NnMemFree(formula_);
      formula_ = 0;
      return NN_ERR_MEMORY;
    }
    st = NnComputeStart(p, &compute_);
    if (st != NN_OK) compute_ = 0;
    return st;
  }

  // The result's values as texts (one per list entry); `truth` tells whether
  // the first value selects: a non-zero number or a non-empty text.
  NnStatus evaluate(NnHandle hNote, std::vector<std::string>* values, bool* truth) {
    NnHandle hResult = 0;
    uint32_t resultLen = 0;
    NnStatus st = NnComputeEvaluate(compute_, hNote, &hResult, &resultLen);
    if (st != NN_OK) return st;
    const auto* p = static_cast<const uint8_t*>(NnMemLock(hResult));
    if (!p) {
      NnMemFree(hResult);
      return NN_ERR_MEMORY;
    }
    uint32_t size = std::min(resultLen, NnMemSize(hResult));
    decode(p, size, values, truth);
    NnMemUnlock(hResult);
    NnMemFree(hResult);
    return NN_OK;
  }

 private:
  static std::string number(double d) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%g", d);
    return buf;
  }
  static std::string time(const uint8_t* p) {
    tagTIMEDATE td{{rd32(p), rd32(p + 4)}};
    char buf[80];
    uint16_t len = 0;
    if (NnTimeToText(&td, buf, sizeof buf, &len) != NN_OK) return {};
    return std::string(buf, std::min<size_t>(len, sizeof buf - 1));
  }

  // Unknown, malformed or error results give no values and select nothing.
  static void decode(const uint8_t* p, uint32_t size, std::vector<std::string>* values,
                     bool* truth) {
    values->clear();
    *truth = false;
    if (size < 2) return;
    uint16_t type = rd16(p);
    const uint8_t* d = p + 2;
    uint32_t n = size - 2;
    switch (type) {
      case NN_TYPE_TEXT:
        values->emplace_back(reinterpret_cast<const char*>(d), n);
        *truth = n > 0;
        break;
      case NN_TYPE_TEXT_LIST: {
        uint16_t count = 0;
        if (NnTextListCountChecked(d, n, &count) != NN_OK) return;
        for (uint16_t i = 0; i < count; ++i) {
          const char* text = nullptr;
          uint16_t len = 0;
          NnTextListGetEntryChecked(d, n, i, &text, &len);
          values->emplace_back(text, len);
        }
        *truth = !values->empty() && !values->front().empty();
        break;
      }
      case NN_TYPE_NUMBER: {
        if (n < 8) return;
        double v;
        std::memcpy(&v, d, 8);
        values->push_back(number(v));
        *truth = v != 0;
        break;
      }
      case NN_TYPE_NUMBER_RANGE:
      case NN_TYPE_TIME_RANGE: {
        // u16 list entries, u16 range entries, then the list entries (8 bytes each).
        if (n < 4) return;
        uint32_t count = rd16(d);
        if (4 + uint64_t(count) * 8 > n) return;
        for (uint32_t i = 0; i < count; ++i) {
          const uint8_t* e = d + 4 + 8 * i;
          if (type == NN_TYPE_NUMBER_RANGE) {
            double v;
            std::memcpy(&v, e, 8);
            values->push_back(number(v));
            if (i == 0) *truth = v != 0;
          } else {
            values->push_back(time(e));
          }
        }
        break;
      }
      case NN_TYPE_TIME:
        if (n < 8) return;
        values->push_back(time(d));
        break;
      default:
        break;
    }
  }

  std::string compiled_;
  NnHandle formula_ = 0;
  NnHandle compute_ = 0;
};

// An open note for the length of one evaluation.
class OpenedNote {
 public:
  explicit OpenedNote(NnHandle h) : h_(h) {}
  OpenedNote(const OpenedNote&) = delete;
  OpenedNote& operator=(const OpenedNote&) = delete;
  ~OpenedNote() { NnNoteClose(h_); }

 private:
  NnHandle h_;
};

NnStatus collectRows(NnHandle hDb, const std::vector<NOTEID>& ids, const FormulaSource& selection,
                     const FormulaSource& key, std::vector<Row>* rows) {
  if (!selection.present && !key.present) {
    for (NOTEID id : ids) rows->push_back(Row{std::string(), id});
    return NN_OK;
  }
  Computation select, keyOf;
  NnStatus st;
  if (selection.present && (st = select.start(selection)) != NN_OK) return st;
  if (key.present && (st = keyOf.start(key)) != NN_OK) return st;
  std::vector<std::string> values;
  for (NOTEID id : ids) {
    NnHandle hNote = 0;
    if ((st = NnNoteOpen(hDb, id, 0, &hNote)) != NN_OK) return st;
    OpenedNote guard(hNote);
    if (selection.present) {
      bool selected = false;
      if ((st = select.evaluate(hNote, &values, &selected)) != NN_OK) return st;
      if (!selected) continue;
    }
    if (!key.present) {
      rows->push_back(Row{std::string(), id});
      continue;
    }
    bool unused = false;
    if ((st = keyOf.evaluate(hNote, &values, &unused)) != NN_OK) return st;
    // A multi-valued key lists the document under each of its values.
    if (values.empty()) rows->push_back(Row{std::string(), id});
    for (std::string& v : values) rows->push_back(Row{std::move(v), id});
  }
  return NN_OK;
}

// The rows of the view. A selection that reaches a function not evaluated
// here selects every document, as a compiled one does; *evaluated says so.
NnStatus collect(NnHandle hDb, const std::vector<NOTEID>& ids, const FormulaSource& selection,
                 const FormulaSource& key, std::vector<Row>* rows, bool* evaluated) {
  NnStatus st = collectRows(hDb, ids, selection, key, rows);
  if (st != NN_ERR_FORMULA_FUNCTION || !selection.present) return st;
  rows->clear();
  st = collectRows(hDb, ids, FormulaSource{}, key, rows);
  if (st == NN_OK) *evaluated = false;
  return st;
}

}  // namespace

NnStatus NnViewOpen(NnHandle hDb, NOTEID viewId, NnHandle* hCollection) {
  if (!hCollection) return NN_ERR_INVALID_ARG;
  FormulaSource selection, key;
  bool descending = false, evaluated = true;
  std::vector<NOTEID> ids;
  {
    // Take what the view needs from the store under its lock; the formulas
    // then run on notes opened one at a time.
    std::lock_guard<std::recursive_mutex> storeLock(nnstore::storeMutex());
    std::shared_ptr<nnstore::Database> db = nnstore::databaseOf(hDb);
    if (!db) return NN_ERR_BAD_HANDLE;
    std::shared_ptr<nnstore::Note> view = db->findNote(viewId);
    if (!view) return NN_ERR_NOTE_NOT_FOUND;
    if ((view->noteClass & 0x7FFF) != NN_CLASS_VIEW) return NN_ERR_NOT_FOUND;
    bool compiled = false;
    selection = selectionOf(*view, &compiled);
    evaluated = !compiled;
    key = readFormula(*view, "$KeyColumn");
    if (!key.present) key = exportedKeyColumn(*view, &descending);
    for (const std::shared_ptr<nnstore::Note>& note : db->notes)
      if (note && (note->noteClass & 0x7FFF) == NN_CLASS_DOCUMENT) ids.push_back(note->id);
  }

  Collection c;
  NnStatus st = collect(hDb, ids, selection, key, &c.rows, &evaluated);
  if (st != NN_OK) return st;
  c.selectionEvaluated = evaluated;
  std::sort(c.rows.begin(), c.rows.end(), [descending](const Row& a, const Row& b) {
    int k = compareNoCase(a.key, b.key);
    if (descending) k = -k;
    return k != 0 ? k < 0 : a.id < b.id;
  });
  c.descending = descending;

  Registry& r = registry();
  std::lock_guard<std::mutex> g(r.lock);
  if (r.collections.size() >= kSerialMask) return NN_ERR_MEMORY;
  NnHandle h;
  while (true) {
    uint32_t serial = r.next & kSerialMask;
    r.next = (serial + 1) & kSerialMask;
    if (serial == 0) continue;
    h = nnstore::kCollectionHandle | serial;
    if (!r.collections.count(h)) break;
  }
  r.collections.emplace(h, std::move(c));
  *hCollection = h;
  return NN_OK;
}

NnStatus NnCollectionClose(NnHandle hCollection) {
  Registry& r = registry();
  std::lock_guard<std::mutex> g(r.lock);
  if ((hCollection & nnstore::kHandleKindMask) != nnstore::kCollectionHandle ||
      !r.collections.erase(hCollection))
    return NN_ERR_BAD_HANDLE;
  return NN_OK;
}

namespace {

// The collection of a handle, under the registry's lock; null when there is none.
const Collection* collectionOf(Registry& r, NnHandle hCollection) {
  if ((hCollection & nnstore::kHandleKindMask) != nnstore::kCollectionHandle) return nullptr;
  auto it = r.collections.find(hCollection);
  return it == r.collections.end() ? nullptr : &it->second;
}

// Copies the ids of the rows range(rows) picks into a new ID table; a failure frees it.
template <typename Range>
NnStatus idsOf(NnHandle hCollection, NnHandle* idTable, Range range, bool emptyIsNotFound) {
  if (!idTable) return NN_ERR_INVALID_ARG;
  std::vector<NOTEID> ids;
  {
    Registry& r = registry();
    std::lock_guard<std::mutex> g(r.lock);
    const Collection* c = collectionOf(r, hCollection);
    if (!c) return NN_ERR_BAD_HANDLE;
    auto [first, last] = range(*c);
    for (; first != last; ++first) ids.push_back(first->id);
  }
  if (ids.empty() && emptyIsNotFound) return NN_ERR_NOT_FOUND;
  NnHandle h = 0;
  NnStatus st = NnIdTableCreate(&h);
  if (st != NN_OK) return st;
  for (NOTEID id : ids) {
    if ((st = NnIdTableInsert(h, id)) != NN_OK) {
      NnIdTableFree(h);
      return st;
    }
  }
  *idTable = h;
  return NN_OK;
}

}  // namespace

NnStatus NnCollectionGetIds(NnHandle hCollection, NnHandle* idTable) {
  return idsOf(
      hCollection, idTable,
      [](const Collection& c) { return std::pair(c.rows.begin(), c.rows.end()); }, false);
}

NnStatus NnCollectionFindByKey(NnHandle hCollection, const char* key, NnHandle* idTable) {
  if (!key) return NN_ERR_INVALID_ARG;
  std::string_view k(key);
  // Rows are sorted by key without regard to case, so the matches are one run.
  auto range = [k](const Collection& c) {
    const int order = c.descending ? -1 : 1;
    auto first = std::lower_bound(c.rows.begin(), c.rows.end(), k,
                                  [order](const Row& row, std::string_view v) {
                                    return order * compareNoCase(row.key, v) < 0;
                                  });
    auto last = std::upper_bound(first, c.rows.end(), k, [order](std::string_view v, const Row& row) {
      return order * compareNoCase(v, row.key) < 0;
    });
    return std::pair(first, last);
  };
  return idsOf(hCollection, idTable, range, true);
}

NnStatus NnCollectionSelectionEvaluated(NnHandle hCollection, bool* evaluated) {
  if (!evaluated) return NN_ERR_INVALID_ARG;
  Registry& r = registry();
  std::lock_guard<std::mutex> g(r.lock);
  const Collection* c = collectionOf(r, hCollection);
  if (!c) return NN_ERR_BAD_HANDLE;
  *evaluated = c->selectionEvaluated;
  return NN_OK;
}
