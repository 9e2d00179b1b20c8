// Items of open notes, and their $FILE attachments.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "store.h"

using namespace nnstore;

#define STORE_LOCK std::lock_guard<std::recursive_mutex> storeLock(storeMutex())

namespace {

// A stored rich-text segment never exceeds this many bytes of data.
constexpr uint32_t kMaxCompositeData = 63358;

size_t nameLength(const char* name, uint16_t nameLen) {
  return nameLen ? nameLen : (name ? std::strlen(name) : 0);
}

int findItem(const Note& n, const char* name, size_t len, size_t from = 0) {
  for (size_t i = from; i < n.items.size(); ++i)
    if (sameName(n.items[i].name, name, len)) return int(i);
  return -1;
}

void describe(NnHandle hNote, const Note& n, int i, NnBlockId* item, uint16_t* type,
              NnBlockId* value, uint32_t* valueLen) {
  const Item& it = n.items[size_t(i)];
  if (item) *item = NnBlockId{hNote, uint32_t(i) + 1, false};
  if (value) *value = NnBlockId{hNote, uint32_t(i) + 1, true};
  if (type) *type = it.type;
  if (valueLen) *valueLen = uint32_t(it.value.size());
}

Item makeItem(const std::string& name, uint16_t flags, uint16_t type, const void* data, size_t len) {
  Item it;
  it.name = name;
  it.flags = flags;
  it.type = type;
  wr16(it.value, type);
  const uint8_t* b = static_cast<const uint8_t*>(data);
  if (len) it.value.insert(it.value.end(), b, b + len);
  return it;
}

uint16_t copyText(const std::string& s, char* buf, uint16_t bufLen) {
  if (!buf || bufLen == 0) return 0;
  size_t n = std::min<size_t>(s.size(), bufLen - 1);
  std::memcpy(buf, s.data(), n);
  buf[n] = 0;
  return uint16_t(n);
}

std::string timeText(const tagTIMEDATE& t) {
  char buf[80];
  uint16_t len = 0;
  if (NnTimeToText(&t, buf, sizeof buf, &len) != NN_OK) return {};
  return std::string(buf, std::min<size_t>(len, sizeof buf - 1));
}

std::string rangeText(const tagTIMEDATE& a, const tagTIMEDATE& b) {
  char buf[163];
  uint16_t len = 0;
  if (NnTimeRangeToText(&a, &b, buf, sizeof buf, &len) != NN_OK) return {};
  return std::string(buf, std::min<size_t>(len, sizeof buf - 1));
}

std::string numberText(double d) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%g", d);
  return buf;
}

// Replaces every item of that name by one item, at the place of the first.
void replaceAll(Note& n, const std::string& name, uint16_t type, const void* data, size_t len) {
  int first = findItem(n, name.data(), name.size());
  uint16_t flags = first >= 0 ? n.items[size_t(first)].flags : uint16_t(NN_ITEM_SUMMARY);
  Item it = makeItem(first >= 0 ? n.items[size_t(first)].name : name, flags, type, data, len);
  if (first < 0) {
    n.items.push_back(std::move(it));
    return;
  }
  n.items[size_t(first)] = std::move(it);
  for (size_t i = n.items.size(); i-- > size_t(first) + 1;)
    if (sameName(n.items[i].name, name.data(), name.size()))
      n.items.erase(n.items.begin() + std::ptrdiff_t(i));
}

// The $FILE item holding the attachment of that name; -1 when none.
int findAttachment(const Note& n, const char* fileName, NnFileObject* fo) {
  size_t len = std::strlen(fileName);
  for (size_t i = 0; i < n.items.size(); ++i) {
    const Item& it = n.items[i];
    std::string name;
    if (it.type == NN_TYPE_OBJECT && parseFileValue(it.value, fo, &name) &&
        sameName(name, fileName, len))
      return int(i);
  }
  return -1;
}

}  // namespace

void* NnBlockLock(NnBlockId block) {
  STORE_LOCK;
  OpenNote* on = openNoteOf(block.note);
  if (!on || block.index == 0 || block.index > on->work.items.size()) return nullptr;
  Item& it = on->work.items[block.index - 1];
  if (block.value) return it.value.data();
  return it.name.data();
}

void NnBlockUnlock(NnBlockId) {}

NnStatus NnItemInfo(NnHandle hNote, const char* name, uint16_t nameLen, NnBlockId* item,
                    uint16_t* type, NnBlockId* value, uint32_t* valueLen) {
  STORE_LOCK;
  OpenNote* on = openNoteOf(hNote);
  if (!on) return NN_ERR_BAD_HANDLE;
  if (!name) return NN_ERR_INVALID_ARG;
  int i = findItem(on->work, name, nameLength(name, nameLen));
  if (i < 0) return NN_ERR_ITEM_NOT_FOUND;
  describe(hNote, on->work, i, item, type, value, valueLen);
  return NN_OK;
}

NnStatus NnItemInfoNext(NnHandle hNote, NnBlockId prevItem, const char* name, uint16_t nameLen,
                        NnBlockId* item, uint16_t* type, NnBlockId* value, uint32_t* valueLen) {
  STORE_LOCK;
  OpenNote* on = openNoteOf(hNote);
  if (!on) return NN_ERR_BAD_HANDLE;
  if (!name) return NN_ERR_INVALID_ARG;
  if (prevItem.note != hNote || prevItem.index == 0) return NN_ERR_INVALID_ARG;
  int i = findItem(on->work, name, nameLength(name, nameLen), prevItem.index);
  if (i < 0) return NN_ERR_ITEM_NOT_FOUND;
  describe(hNote, on->work, i, item, type, value, valueLen);
  return NN_OK;
}

uint32_t NnNoteItemCount(NnHandle hNote) {
  STORE_LOCK;
  OpenNote* on = openNoteOf(hNote);
  return on ? uint32_t(on->work.items.size()) : 0;
}

NnStatus NnNoteItemAt(NnHandle hNote, uint32_t index, NnItemDesc* out) {
  STORE_LOCK;
  OpenNote* on = openNoteOf(hNote);
  if (!on) return NN_ERR_BAD_HANDLE;
  if (!out) return NN_ERR_INVALID_ARG;
  if (index >= on->work.items.size()) return NN_ERR_NO_MORE;
  const Item& it = on->work.items[index];
  out->name = it.name;
  out->type = it.type;
  out->flags = it.flags;
  out->item = NnBlockId{hNote, index + 1, false};
  out->value = NnBlockId{hNote, index + 1, true};
  out->valueLen = uint32_t(it.value.size());
  return NN_OK;
}

namespace {

// The first item of that name for a text getter (the store locked by the
// caller), its output emptied first; null when there is none.
const Item* textItem(NnHandle hNote, const char* name, char* buf, uint16_t bufLen) {
  if (buf && bufLen) buf[0] = 0;
  OpenNote* on = openNoteOf(hNote);
  if (!on || !name) return nullptr;
  int i = findItem(on->work, name, std::strlen(name));
  return i < 0 ? nullptr : &on->work.items[size_t(i)];
}

}  // namespace

uint16_t NnItemGetText(NnHandle hNote, const char* name, char* buf, uint16_t bufLen) {
  STORE_LOCK;
  const Item* found = textItem(hNote, name, buf, bufLen);
  if (!found) return 0;
  const Item& it = *found;
  const uint8_t* d = it.value.data() + 2;
  size_t n = it.value.size() - 2;
  if (it.type == NN_TYPE_TEXT) return copyText(std::string(reinterpret_cast<const char*>(d), n), buf, bufLen);
  if (it.type == NN_TYPE_TEXT_LIST) {
    std::vector<std::string> e;
    if (textListEntries(d, n, &e) && !e.empty()) return copyText(e[0], buf, bufLen);
  }
  return 0;
}

namespace {

// A value's data (after its type word) as text; list entries joined with the
// separator.
std::string valueText(uint16_t type, const uint8_t* d, size_t n, char separator) {
  std::vector<std::string> parts;
  switch (type) {
    case NN_TYPE_TEXT:
    case NN_TYPE_FORMULA:
      parts.emplace_back(reinterpret_cast<const char*>(d), n);
      break;
    case NN_TYPE_TEXT_LIST:
      textListEntries(d, n, &parts);
      break;
    case NN_TYPE_NUMBER:
      if (n >= 8) parts.push_back(numberText(rdDouble(d)));
      break;
    case NN_TYPE_TIME:
      if (n >= 8) parts.push_back(timeText(rdTime(d)));
      break;
    case NN_TYPE_NUMBER_RANGE:
    case NN_TYPE_TIME_RANGE: {
      if (n < 4) break;
      size_t list = rd16(d), ranges = rd16(d + 2);
      if (4 + list * 8 + ranges * 16 > n) break;
      for (size_t k = 0; k < list; ++k) {
        const uint8_t* e = d + 4 + k * 8;
        parts.push_back(type == NN_TYPE_NUMBER_RANGE ? numberText(rdDouble(e)) : timeText(rdTime(e)));
      }
      for (size_t k = 0; k < ranges; ++k) {
        const uint8_t* e = d + 4 + list * 8 + k * 16;
        if (type == NN_TYPE_NUMBER_RANGE)
          parts.push_back(numberText(rdDouble(e)) + " - " + numberText(rdDouble(e + 8)));
        else
          parts.push_back(rangeText(rdTime(e), rdTime(e + 8)));
      }
      break;
    }
    default:
      break;
  }
  std::string all;
  for (size_t k = 0; k < parts.size(); ++k) {
    if (k && separator) all += separator;
    all += parts[k];
  }
  return all;
}

}  // namespace

uint16_t NnItemConvertToText(NnHandle hNote, const char* name, char* buf, uint16_t bufLen,
                             char separator) {
  STORE_LOCK;
  const Item* it = textItem(hNote, name, buf, bufLen);
  if (!it) return 0;
  return copyText(valueText(it->type, it->value.data() + 2, it->value.size() - 2, separator), buf,
                  bufLen);
}

uint16_t NnValueConvertToText(const void* value, uint32_t valueLen, char* buf, uint16_t bufLen,
                              char separator) {
  if (buf && bufLen) buf[0] = 0;
  if (!value || valueLen < 2) return 0;
  const auto* v = static_cast<const uint8_t*>(value);
  return copyText(valueText(rd16(v), v + 2, valueLen - 2, separator), buf, bufLen);
}

NnStatus NnItemAppendTextList(NnHandle hNote, const char* name, const char* text, uint16_t textLen,
                              bool allowDuplicates) {
  STORE_LOCK;
  OpenNote* on = openNoteOf(hNote);
  if (!on) return NN_ERR_BAD_HANDLE;
  if (WriteFails()) return NN_ERR_FILE_IO;
  if (!name || !*name || (!text && textLen)) return NN_ERR_INVALID_ARG;
  std::string entry(text ? text : "", textLen);
  Note& n = on->work;
  int i = findItem(n, name, std::strlen(name));
  if (i < 0) {
    Item it;
    it.name = name;
    it.flags = NN_ITEM_SUMMARY;
    it.type = NN_TYPE_TEXT_LIST;
    it.value = textListValue({entry});
    n.items.push_back(std::move(it));
    return NN_OK;
  }
  Item& it = n.items[size_t(i)];
  std::vector<std::string> entries;
  if (it.type == NN_TYPE_TEXT) {
    entries.emplace_back(reinterpret_cast<const char*>(it.value.data() + 2), it.value.size() - 2);
  } else if (it.type != NN_TYPE_TEXT_LIST ||
             !textListEntries(it.value.data() + 2, it.value.size() - 2, &entries)) {
    return NN_ERR_BAD_ITEM;
  }
  if (!allowDuplicates)
    for (const auto& e : entries)
      if (e == entry) return NN_OK;
  if (entries.size() >= 0xFFFF) return NN_ERR_MEMORY;
  entries.push_back(entry);
  it.type = NN_TYPE_TEXT_LIST;
  it.value = textListValue(entries);
  return NN_OK;
}

NnStatus NnItemAppend(NnHandle hNote, uint16_t flags, const char* name, uint16_t nameLen,
                      uint16_t type, const void* data, uint32_t dataLen) {
  STORE_LOCK;
  OpenNote* on = openNoteOf(hNote);
  if (!on) return NN_ERR_BAD_HANDLE;
  if (WriteFails()) return NN_ERR_FILE_IO;
  size_t len = nameLength(name, nameLen);
  if (!name || len == 0 || (!data && dataLen)) return NN_ERR_INVALID_ARG;
  if (type == NN_TYPE_COMPOSITE && dataLen > kMaxCompositeData) return NN_ERR_INVALID_ARG;
  // A segment joins the others of its name, so that an item rewritten as new
  // segments followed by the old ones' deletion keeps its place.
  std::vector<Item>& items = on->work.items;
  size_t at = items.size();
  for (size_t i = items.size(); i-- > 0;)
    if (sameName(items[i].name, name, len)) {
      at = i + 1;
      break;
    }
  items.insert(items.begin() + std::ptrdiff_t(at), makeItem(std::string(name, len), flags, type, data, dataLen));
  return NN_OK;
}

NnStatus NnItemSetText(NnHandle hNote, const char* name, const char* text, uint16_t textLen) {
  STORE_LOCK;
  OpenNote* on = openNoteOf(hNote);
  if (!on) return NN_ERR_BAD_HANDLE;
  if (WriteFails()) return NN_ERR_FILE_IO;
  if (!name || !*name || (!text && textLen)) return NN_ERR_INVALID_ARG;
  replaceAll(on->work, name, NN_TYPE_TEXT, text, textLen);
  return NN_OK;
}

NnStatus NnItemSetNumber(NnHandle hNote, const char* name, double value) {
  STORE_LOCK;
  OpenNote* on = openNoteOf(hNote);
  if (!on) return NN_ERR_BAD_HANDLE;
  if (WriteFails()) return NN_ERR_FILE_IO;
  if (!name || !*name) return NN_ERR_INVALID_ARG;
  std::vector<uint8_t> d;
  wrDouble(d, value);
  replaceAll(on->work, name, NN_TYPE_NUMBER, d.data(), d.size());
  return NN_OK;
}

NnStatus NnItemSetTime(NnHandle hNote, const char* name, const tagTIMEDATE* value) {
  STORE_LOCK;
  OpenNote* on = openNoteOf(hNote);
  if (!on) return NN_ERR_BAD_HANDLE;
  if (WriteFails()) return NN_ERR_FILE_IO;
  if (!name || !*name || !value) return NN_ERR_INVALID_ARG;
  std::vector<uint8_t> d;
  wrTime(d, *value);
  replaceAll(on->work, name, NN_TYPE_TIME, d.data(), d.size());
  return NN_OK;
}

NnStatus NnItemDelete(NnHandle hNote, const char* name, uint16_t nameLen) {
  STORE_LOCK;
  OpenNote* on = openNoteOf(hNote);
  if (!on) return NN_ERR_BAD_HANDLE;
  if (!name) return NN_ERR_INVALID_ARG;
  int i = findItem(on->work, name, nameLength(name, nameLen));
  if (i < 0) return NN_ERR_ITEM_NOT_FOUND;
  on->work.items.erase(on->work.items.begin() + i);
  return NN_OK;
}

NnStatus NnItemDeleteByBlock(NnHandle hNote, NnBlockId item) {
  STORE_LOCK;
  OpenNote* on = openNoteOf(hNote);
  if (!on) return NN_ERR_BAD_HANDLE;
  if (item.note != hNote || item.index == 0 || item.index > on->work.items.size())
    return NN_ERR_INVALID_ARG;
  on->work.items.erase(on->work.items.begin() + std::ptrdiff_t(item.index - 1));
  return NN_OK;
}

// ---- Attachments ---------------------------------------------------------------------

NnStatus NnNoteExtractFile(NnHandle hNote, const char* fileName, const char* outPath) {
  STORE_LOCK;
  OpenNote* on = openNoteOf(hNote);
  if (!on) return NN_ERR_BAD_HANDLE;
  if (!fileName || !outPath || !*outPath) return NN_ERR_INVALID_ARG;
  NnFileObject fo{};
  if (findAttachment(on->work, fileName, &fo) < 0) return NN_ERR_NOT_FOUND;
  auto o = on->work.objects.find(fo.objectId);
  if (o == on->work.objects.end()) return NN_ERR_NOT_FOUND;
  FILE* f = std::fopen(outPath, "wb");
  if (!f) return NN_ERR_FILE_IO;
  const auto& b = o->second.bytes;
  bool ok = b.empty() || std::fwrite(b.data(), 1, b.size(), f) == b.size();
  ok = (std::fclose(f) == 0) && ok;
  if (!ok) {
    std::remove(outPath);
    return NN_ERR_FILE_IO;
  }
  return NN_OK;
}

NnStatus NnNoteExtractFileToMemory(NnHandle hNote, const char* fileName, NnHandle* out,
                                   uint32_t* size) {
  STORE_LOCK;
  OpenNote* on = openNoteOf(hNote);
  if (!on) return NN_ERR_BAD_HANDLE;
  if (!fileName || !out) return NN_ERR_INVALID_ARG;
  NnFileObject fo{};
  if (findAttachment(on->work, fileName, &fo) < 0) return NN_ERR_NOT_FOUND;
  auto o = on->work.objects.find(fo.objectId);
  if (o == on->work.objects.end()) return NN_ERR_NOT_FOUND;
  const auto& b = o->second.bytes;
  NnHandle h = 0;
  // An empty attachment still gets a block, so the caller always has one to free.
  NnStatus st = NnMemAlloc(uint32_t(std::max<size_t>(b.size(), 1)), 0, &h);
  if (st != NN_OK) return st;
  void* p = NnMemLock(h);
  if (!p) {
    NnMemFree(h);
    return NN_ERR_MEMORY;
  }
  if (!b.empty()) std::memcpy(p, b.data(), b.size());
  NnMemUnlock(h);
  *out = h;
  if (size) *size = uint32_t(b.size());
  return NN_OK;
}

NnStatus NnNoteAttachData(NnHandle hNote, const char* fileName, const void* data, uint32_t size) {
  STORE_LOCK;
  OpenNote* on = openNoteOf(hNote);
  if (!on) return NN_ERR_BAD_HANDLE;
  if (WriteFails()) return NN_ERR_FILE_IO;
  if (!fileName || !*fileName || (!data && size)) return NN_ERR_INVALID_ARG;
  size_t nameLen = std::strlen(fileName);
  if (nameLen > 0xFFFF) return NN_ERR_INVALID_ARG;
  Note& n = on->work;
  NnFileObject fo{};
  fo.objectType = 2;
  fo.objectId = on->db->nextObjectId++;
  fo.fileSize = size;
  fo.fileCreated = fo.fileModified = NnTimeNow();
  const uint8_t* b = static_cast<const uint8_t*>(data);
  FileData fd;
  if (size) fd.bytes.assign(b, b + size);
  Item it;
  it.name = "$FILE";
  it.flags = NN_ITEM_SUMMARY;
  it.type = NN_TYPE_OBJECT;
  it.value = makeFileValue(fo, std::string(fileName, nameLen));
  // Attaching under a name already present replaces that attachment in place.
  NnFileObject old{};
  int existing = findAttachment(n, fileName, &old);
  n.objects[fo.objectId] = std::move(fd);
  if (existing >= 0) {
    n.objects.erase(old.objectId);
    it.flags = n.items[size_t(existing)].flags;
    n.items[size_t(existing)] = std::move(it);
  } else {
    n.items.push_back(std::move(it));
  }
  return NN_OK;
}
