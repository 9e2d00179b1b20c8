#include "host/noteops.h"

#include <strings.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "host/base64.h"

namespace kv {

namespace {

constexpr char kFileItem[] = "$FILE";
constexpr uint16_t kFileItemLen = 5;
constexpr uint32_t kMimeLineWidth = 76;

struct Attachment {
  NnBlockId item;
  NnBlockId value;
  NnFileObject header{};
  std::string name;
};

// Reads the file object and its name from a $FILE value block; false when the
// value is not a well-formed file object.
bool ReadAttachment(NnBlockId item, NnBlockId value, uint16_t type, uint32_t valueLen,
                    Attachment* out) {
  if (type != NN_TYPE_OBJECT || valueLen < 2) return false;
  const uint8_t* base = static_cast<const uint8_t*>(NnBlockLock(value));
  if (base == nullptr) return false;
  const void* p = base + 2;  // past the type word
  NnFileObject fo{};
  bool ok = NnOdsRead(&p, valueLen - 2, NN_ODS_FILEOBJECT, &fo) == NN_OK;
  if (ok) {
    uint32_t used = uint32_t(static_cast<const uint8_t*>(p) - base);
    ok = used <= valueLen && fo.fileNameLength <= valueLen - used;
    if (ok) {
      out->item = item;
      out->value = value;
      out->header = fo;
      out->name.assign(reinterpret_cast<const char*>(base + used), fo.fileNameLength);
    }
  }
  NnBlockUnlock(value);
  return ok;
}

// Walks the $FILE items until match accepts one. Returns the walk's status: 0
// when found, otherwise the status that ended the walk.
template <typename Match>
NnStatus WalkAttachments(NnHandle hNote, Match match, Attachment* found) {
  NnBlockId item, value;
  uint16_t type = 0;
  uint32_t valueLen = 0;
  NnStatus st = NnItemInfo(hNote, kFileItem, kFileItemLen, &item, &type, &value, &valueLen);
  while (st == NN_OK) {
    Attachment a;
    if (ReadAttachment(item, value, type, valueLen, &a) && match(a.name)) {
      *found = std::move(a);
      return NN_OK;
    }
    NnBlockId prev = item;
    st = NnItemInfoNext(hNote, prev, kFileItem, kFileItemLen, &item, &type, &value, &valueLen);
  }
  return st;
}

bool SameIgnoringCase(const std::string& a, const char* b) {
  size_t n = std::strlen(b);
  return a.size() == n && strncasecmp(a.data(), b, n) == 0;
}

}  // namespace

NnStatus NoteFindAttachmentName(NnHandle hNote, const char* name, uint32_t /*reserved*/,
                                char* out, uint32_t outSize) {
  if (hNote == 0 || name == nullptr || *name == '\0') return NN_ERR_INVALID_ARG;
  Attachment a;
  NnStatus st = WalkAttachments(
      hNote, [&](const std::string& n) { return SameIgnoringCase(n, name); }, &a);
  if (st != NN_OK) return NN_ERR_ITEM_NOT_FOUND;
  if (out != nullptr) {
    if (a.name.size() + 1 > outSize) return NN_ERR_MEMORY;
    std::memcpy(out, a.name.data(), a.name.size());
    out[a.name.size()] = '\0';
  }
  return NN_OK;
}

int NoteFindAttachmentByDisplayName(NnHandle hNote, const char* fileName, uint32_t /*reserved*/,
                                    int ignoreCase) {
  if (hNote == 0 || fileName == nullptr || *fileName == '\0') return 0;
  Attachment a;
  NnStatus st = WalkAttachments(
      hNote,
      [&](const std::string& n) {
        return ignoreCase ? SameIgnoringCase(n, fileName) : n == fileName;
      },
      &a);
  return st == NN_OK ? 1 : 0;
}

NnStatus NoteFindAttachmentInfo(NnHandle hNote, const char* name, NnBlockId* item,
                                NnBlockId* value, NnFileObject* header) {
  if (hNote == 0 || name == nullptr) return NN_OK;
  if (item == nullptr && value == nullptr && header == nullptr) return NN_OK;
  size_t n = std::strlen(name);
  Attachment a;
  NnStatus st = WalkAttachments(
      hNote,
      [&](const std::string& s) { return s.size() == n && std::memcmp(s.data(), name, n) == 0; },
      &a);
  if (st != NN_OK) return st;
  if (item) *item = a.item;
  if (value) *value = a.value;
  if (header) *header = a.header;
  return NN_OK;
}

void NoteRemoveAttachment(NnHandle hNote, const char* name) {
  NnBlockId item{};
  if (NoteFindAttachmentInfo(hNote, name, &item, nullptr, nullptr) == 0)
    NnItemDeleteByBlock(hNote, item);
}

bool NoteFreeAttachmentName(NnHandle hNote, const char* name, const char* extension, char* out,
                            uint32_t outSize) {
  if (!name || !*name || !out || !outSize) return false;
  if (NoteFindAttachmentName(hNote, name, 0, nullptr, 0) != 0) {
    std::snprintf(out, outSize, "%s", name);
    return true;
  }
  for (int i = 0; i < 1000; ++i) {
    char candidate[256];
    std::snprintf(candidate, sizeof candidate, "Att%d%.200s", i, extension ? extension : "");
    if (NoteFindAttachmentName(hNote, candidate, 0, nullptr, 0) != 0) {
      std::snprintf(out, outSize, "%s", candidate);
      return true;
    }
  }
  return false;
}

NnStatus NoteGetAttachmentSize(NnHandle hDb, NnHandle hNote, const char* name, uint32_t* size,
                               int mode) {
  if (hNote == 0 || name == nullptr || size == nullptr) return NN_ERR_INVALID_ARG;
  Attachment a;
  NnStatus st = WalkAttachments(
      hNote, [&](const std::string& n) { return SameIgnoringCase(n, name); }, &a);
  if (st != NN_OK) return st;
  if (mode == 0) {
    *size = a.header.fileSize;
    return NN_OK;
  }
  NOTEID id = 0;
  st = NnNoteGetInfo(hNote, NN_NOTE_INFO_ID, &id);
  if (st != NN_OK) return st;
  if (hDb == 0) {
    st = NnNoteGetInfo(hNote, NN_NOTE_INFO_DB, &hDb);
    if (st != NN_OK) return st;
  }
  uint32_t s = 0;
  st = NnDbGetObjectSize(hDb, id, a.name.c_str(), &s);
  if (st == NN_OK) *size = s;
  return st;
}

NnStatus AttachmentToBase64String(NnHandle hNote, const char* name, uint32_t option,
                                  std::string* out) {
  if (hNote == 0 || name == nullptr || out == nullptr) return NN_ERR_INVALID_ARG;
  char stored[1024];
  NnStatus st = NoteFindAttachmentName(hNote, name, 0, stored, sizeof stored);
  if (st != NN_OK) return st;
  NnHandle mem = 0;
  uint32_t size = 0;
  st = NnNoteExtractFileToMemory(hNote, stored, &mem, &size);
  if (st != NN_OK) return st;
  const void* bytes = size ? NnMemLock(mem) : nullptr;
  if (size > 0 && bytes == nullptr) {
    NnMemFree(mem);
    return NN_ERR_BAD_HANDLE;
  }
  uint32_t width = (option & kBase64MimeLines) ? kMimeLineWidth : 0;
  std::string text;
  uint64_t need = Base64EncodedLength(size, width);
  if (need >= UINT32_MAX) {
    st = NN_ERR_MEMORY;
  } else {
    text.resize(size_t(need) + 1);
    uint32_t n = Base64EncodeOut(text.data(), bytes, size, width);
    text.resize(n);
  }
  if (bytes) NnMemUnlock(mem);
  NnMemFree(mem);
  if (st == NN_OK) *out = std::move(text);
  return st;
}

uint32_t AttachmentToBase64(NnHandle hNote, char* out, uint32_t outSize, const char* name,
                            uint32_t option) {
  if (out == nullptr || outSize == 0) return 0;
  std::string text;
  if (AttachmentToBase64String(hNote, name, option, &text) != NN_OK ||
      text.size() + 1 > outSize) {
    out[0] = '\0';
    return 0;
  }
  std::memcpy(out, text.data(), text.size());
  out[text.size()] = '\0';
  return uint32_t(text.size());
}

NnStatus OpenDatabaseByNameCore(const char* server, const char* file, NnHandle* out) {
  if (out == nullptr) return NN_ERR_INVALID_ARG;
  if (file == nullptr || *file == '\0') {
    NnLogMessage(0, "ZELKO: Invalid database name");
    return NN_ERR_INVALID_ARG;
  }
  std::string path;
  if (server != nullptr && *server != '\0') {
    path = std::string(server) + "!!" + file;
  } else {
    path = file;
  }
  if (path.size() > 255) {
    NnLogMessage(0, "ZELKO: Invalid server-database name");
    return NN_ERR_INVALID_ARG;
  }
  NnHandle h = 0;
  if (NnDbOpen(path.c_str(), 0, &h) != NN_OK || h == 0) {
    NnLogMessage(0, "ZELKO: Unable to open database.");
    return NN_ERR_INVALID_ARG;
  }
  *out = h;
  return NN_OK;
}

NnStatus OpenDbAndDesignNote(const char* server, const char* file, NOTEID noteId, NnHandle* hDb,
                             NnHandle* hNote) {
  if (hDb == nullptr || hNote == nullptr) return NN_ERR_INVALID_ARG;
  *hDb = 0;
  *hNote = 0;
  NnHandle db = 0;
  NnStatus st = OpenDatabaseByNameCore(server, file, &db);
  if (st != NN_OK) return st;
  NnHandle note = 0;
  st = NnNoteOpen(db, noteId, 0, &note);
  if (st != NN_OK) {
    NnDbClose(db);
    return st;
  }
  *hDb = db;
  *hNote = note;
  return NN_OK;
}

void CloseNoteAndDatabase(NnHandle hNote, NnHandle hDb) {
  if (hNote != 0) NnNoteClose(hNote);
  if (hDb != 0) NnDbClose(hDb);
}

NnStatus OpenDatabaseByName(LSXLsiSession*, const char* server, const char* file, NnHandle* out) {
  return OpenDatabaseByNameCore(server, file, out);
}

}  // namespace kv
