// Design-note lookup by title: "$TITLE" is a text or text list whose entries may
// carry aliases ("Name|Alias1|Alias2"); any part of any entry names the note.
#include <mutex>
#include <string_view>

#include "nn/nn.h"
#include "store.h"

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

char lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

bool equalNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

// One title entry: the whole entry or any of its "|" parts, each trimmed.
bool entryMatches(std::string_view entry, std::string_view name) {
  if (equalNoCase(trim(entry), name)) return true;
  while (true) {
    size_t bar = entry.find('|');
    if (equalNoCase(trim(entry.substr(0, bar)), name)) return true;
    if (bar == std::string_view::npos) return false;
    entry.remove_prefix(bar + 1);
  }
}

bool itemMatches(const nnstore::Item& item, std::string_view name) {
  const std::vector<uint8_t>& v = item.value;
  if (v.size() < 2) return false;
  uint16_t type = nnstore::rd16(v.data());
  const uint8_t* data = v.data() + 2;
  uint32_t size = uint32_t(v.size() - 2);
  if (type == NN_TYPE_TEXT)
    return entryMatches(std::string_view(reinterpret_cast<const char*>(data), size), name);
  if (type != NN_TYPE_TEXT_LIST) return false;
  uint16_t count = 0;
  if (NnTextListCountChecked(data, size, &count) != NN_OK) return false;
  for (uint16_t i = 0; i < count; ++i) {
    const char* text = nullptr;
    uint16_t len = 0;
    if (NnTextListGetEntryChecked(data, size, i, &text, &len) != NN_OK) return false;
    if (entryMatches(std::string_view(text, len), name)) return true;
  }
  return false;
}

// The note's "$Flags" text against a pattern: "+" then characters of which
// the flags hold every one, or "-" then characters of which they hold none.
bool flagsMatch(const nnstore::Note& note, const char* pattern) {
  if (!pattern || !*pattern) return true;
  std::string_view flags;
  for (const nnstore::Item& item : note.items)
    if (equalNoCase(item.name, "$Flags") && item.value.size() >= 2 &&
        nnstore::rd16(item.value.data()) == NN_TYPE_TEXT)
      flags = std::string_view(reinterpret_cast<const char*>(item.value.data()) + 2,
                               item.value.size() - 2);
  const bool required = *pattern == '+';
  for (const char* c = pattern + 1; *c; ++c)
    if ((flags.find(*c) != std::string_view::npos) != required) return false;
  return *pattern == '+' || *pattern == '-';
}

}  // namespace

NnStatus NnDesignFindByNameFlags(NnHandle hDb, uint16_t noteClass, const char* name,
                                 uint16_t nameLen, const char* flagsPattern, NOTEID* out) {
  if (!out || (!name && nameLen)) return NN_ERR_INVALID_ARG;
  std::lock_guard<std::recursive_mutex> storeLock(nnstore::storeMutex());
  std::shared_ptr<nnstore::Database> db = nnstore::databaseOf(hDb);
  if (!db) return NN_ERR_BAD_HANDLE;
  std::string_view wanted = trim(std::string_view(name ? name : "", nameLen));
  if (wanted.empty()) return NN_ERR_NOT_FOUND;
  for (const std::shared_ptr<nnstore::Note>& note : db->notes) {
    // The high bit marks a default design note; it is not part of the class.
    if (!note || (note->noteClass & 0x7FFF) != noteClass || !flagsMatch(*note, flagsPattern))
      continue;
    for (const nnstore::Item& item : note->items) {
      if (equalNoCase(item.name, "$TITLE") && itemMatches(item, wanted)) {
        *out = note->id;
        return NN_OK;
      }
    }
  }
  return NN_ERR_NOT_FOUND;
}
