// Database and note handles over the in-memory store.
#include <sys/stat.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <unordered_map>

#include "store.h"

namespace nnstore {

namespace {

struct Registry {
  std::unordered_map<NnHandle, std::shared_ptr<Database>> dbs;
  std::unordered_map<std::string, std::shared_ptr<Database>> byKey;
  std::unordered_map<NnHandle, std::unique_ptr<OpenNote>> notes;
  uint32_t nextDb = 1;
  uint32_t nextNote = 1;
  uint32_t unidCounter = 0;
};

// Each thread's own: a load that fails in one thread is not cleared by
// another thread's load before it is read.
thread_local std::string tLastLoadError;

Registry& reg() {
  static Registry* r = new Registry;  // never destroyed: handles may be closed at exit
  return *r;
}

// Next free handle of a kind; the counter wraps inside the kind's range.
template <class Map>
NnHandle nextHandle(uint32_t kind, uint32_t& counter, const Map& used) {
  for (;;) {
    uint32_t n = counter++ & ~uint32_t(kHandleKindMask);
    if (n == 0) continue;
    NnHandle h = kind | n;
    if (!used.count(h)) return h;
  }
}

std::string normalisedKey(const std::string& path) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(path, ec);
  if (ec) return path;
  return p.lexically_normal().string();
}

void copyOut(const std::string& s, char* buf, uint16_t bufSize) {
  if (!buf || bufSize == 0) return;
  size_t n = std::min<size_t>(s.size(), bufSize - 1);
  std::memcpy(buf, s.data(), n);
  buf[n] = 0;
}

bool isPlain(const std::string& s) {
  for (unsigned char c : s)
    if (c >= 0x80 || (c < 0x20 && c != '\n' && c != '\r' && c != '\t')) return false;
  return true;
}

}  // namespace

std::recursive_mutex& storeMutex() {
  static std::recursive_mutex* m = new std::recursive_mutex;
  return *m;
}

namespace {
std::atomic<long> failWriteAt{-1};
}  // namespace

void SetFailWriteAt(long n) { failWriteAt = n <= 0 ? -1 : n; }

bool WriteFails() {
  long n = failWriteAt.load();
  while (n > 0) {
    if (failWriteAt.compare_exchange_weak(n, n == 1 ? -1 : n - 1)) return n == 1;
  }
  return false;
}

bool WriteFailPending() { return failWriteAt.load() > 0; }

std::shared_ptr<Database> databaseOf(NnHandle hDb) {
  std::lock_guard<std::recursive_mutex> lock(storeMutex());
  auto it = reg().dbs.find(hDb);
  return it == reg().dbs.end() ? nullptr : it->second;
}

OpenNote* openNoteOf(NnHandle hNote) {
  std::lock_guard<std::recursive_mutex> lock(storeMutex());
  auto it = reg().notes.find(hNote);
  return it == reg().notes.end() ? nullptr : it->second.get();
}

std::shared_ptr<Note> Database::findNote(NOTEID id) const {
  for (const auto& n : notes)
    if (n->id == id) return n;
  return nullptr;
}

std::shared_ptr<Note> Database::findNoteByUnid(const UNIVERSALNOTEID_tag& unid) const {
  for (const auto& n : notes)
    if (std::memcmp(&n->oid.File, &unid.File, sizeof(tagTIMEDATE)) == 0 &&
        std::memcmp(&n->oid.Note, &unid.Note, sizeof(tagTIMEDATE)) == 0)
      return n;
  return nullptr;
}

uint64_t hash64(const std::string& s) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : s) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

std::string toLmbcs(const std::string& utf8) {
  if (isPlain(utf8)) return utf8;
  return NnUtf8ToLmbcs(utf8.data(), utf8.size());
}

std::string fromLmbcs(const std::string& lmbcs) {
  if (isPlain(lmbcs)) return lmbcs;
  return NnLmbcsToUtf8(lmbcs.data(), lmbcs.size());
}

bool checkRecordStream(const uint8_t* p, size_t n, std::string* why) {
  size_t pos = 0;
  while (pos < n) {
    size_t left = n - pos;
    if (left < 2) {
      *why = "record header at offset " + std::to_string(pos) + " runs past the item's end";
      return false;
    }
    uint16_t w = rd16(p + pos);
    size_t header, len;
    if ((w >> 8) == 0xFF) {
      header = 4;
      if (left < header) {
        *why = "record header at offset " + std::to_string(pos) + " runs past the item's end";
        return false;
      }
      len = rd16(p + pos + 2);
    } else if ((w >> 8) == 0) {
      header = 6;
      if (left < header) {
        *why = "record header at offset " + std::to_string(pos) + " runs past the item's end";
        return false;
      }
      len = rd32(p + pos + 2);
    } else {
      header = 2;
      len = w >> 8;
    }
    if (len < header) {
      *why = "record at offset " + std::to_string(pos) + " has length " + std::to_string(len) +
             " below its header size";
      return false;
    }
    if (len > left) {
      *why = "record at offset " + std::to_string(pos) + " of length " + std::to_string(len) +
             " runs past the item's end";
      return false;
    }
    pos += len;
    if (len & 1) pos = std::min(n, pos + 1);  // pad byte; tolerated missing at the very end
  }
  return true;
}

bool parseFileValue(const std::vector<uint8_t>& value, NnFileObject* fo, std::string* name) {
  if (value.size() < 2 + kFileObjectSize || rd16(value.data()) != NN_TYPE_OBJECT) return false;
  const uint8_t* p = value.data() + 2;
  fo->objectType = rd16(p);
  fo->objectId = rd32(p + 2);
  fo->fileNameLength = rd16(p + 6);
  fo->hostType = rd16(p + 8);
  fo->compressionType = rd16(p + 10);
  fo->fileAttributes = rd16(p + 12);
  fo->flags = rd16(p + 14);
  fo->fileSize = rd32(p + 16);
  fo->fileCreated.Innards[0] = rd32(p + 20);
  fo->fileCreated.Innards[1] = rd32(p + 24);
  fo->fileModified.Innards[0] = rd32(p + 28);
  fo->fileModified.Innards[1] = rd32(p + 32);
  if (fo->objectType != 2) return false;
  if (value.size() - 2 - kFileObjectSize < fo->fileNameLength) return false;
  if (name) name->assign(reinterpret_cast<const char*>(p + kFileObjectSize), fo->fileNameLength);
  return true;
}

std::vector<uint8_t> makeFileValue(const NnFileObject& fo, const std::string& name) {
  std::vector<uint8_t> v;
  v.reserve(2 + kFileObjectSize + name.size());
  wr16(v, NN_TYPE_OBJECT);
  wr16(v, 2);
  wr32(v, fo.objectId);
  wr16(v, uint16_t(name.size()));
  wr16(v, fo.hostType);
  wr16(v, fo.compressionType);
  wr16(v, fo.fileAttributes);
  wr16(v, fo.flags);
  wr32(v, fo.fileSize);
  wr32(v, fo.fileCreated.Innards[0]);
  wr32(v, fo.fileCreated.Innards[1]);
  wr32(v, fo.fileModified.Innards[0]);
  wr32(v, fo.fileModified.Innards[1]);
  v.insert(v.end(), name.begin(), name.end());
  return v;
}

void assignNewIdentity(Database& db, Note& note) {
  while (db.findNote(db.nextNoteId)) db.nextNoteId += 4;
  note.id = db.nextNoteId;
  db.nextNoteId += 4;
  tagTIMEDATE now = NnTimeNow();
  UNIVERSALNOTEID_tag unid{};
  unid.File = db.replica.ID;
  // The clock alone may repeat within one tick; the counter keeps ids apart.
  do {
    uint32_t c = ++reg().unidCounter;
    unid.Note.Innards[0] = now.Innards[0] ^ (c * 2654435761u);
    unid.Note.Innards[1] = (now.Innards[1] & 0x00FFFFFF) ^ (uint32_t(hash64(db.key)) & 0xFF000000) ^ c;
  } while (db.findNoteByUnid(unid));
  note.oid.File = unid.File;
  note.oid.Note = unid.Note;
  note.oid.Sequence = 0;
  note.created = now;
}

}  // namespace nnstore

using namespace nnstore;

#define STORE_LOCK std::lock_guard<std::recursive_mutex> storeLock(storeMutex())

// ---- Databases -------------------------------------------------------------------

NnStatus NnDbOpen(const char* path, uint16_t flags, NnHandle* out) {
  STORE_LOCK;
  if (!path || !*path || !out) return NN_ERR_INVALID_ARG;
  Registry& r = reg();
  std::string key = normalisedKey(path);
  std::shared_ptr<Database> db;
  auto it = r.byKey.find(key);
  if (it != r.byKey.end()) {
    db = it->second;
  } else {
    struct stat st {};
    if (::stat(path, &st) == 0) {
      if (!S_ISREG(st.st_mode)) return NN_ERR_FILE_IO;
      FILE* f = std::fopen(path, "rb");
      if (!f) return NN_ERR_FILE_IO;
      std::fclose(f);
      std::string error;
      db = loadDxl(path, &error);
      if (!db) {
        tLastLoadError = error;
        NnLogMessage(NN_ERR_DXL, "%s", error.c_str());
        return NN_ERR_DXL;
      }
      tLastLoadError.clear();
      db->dxlPath = path;
    } else if (flags & NN_DB_CREATE) {
      db = std::make_shared<Database>();
      uint64_t h = hash64(key);
      db->replica.ID.Innards[0] = uint32_t(h);
      db->replica.ID.Innards[1] = uint32_t(h >> 32);
    } else {
      return NN_ERR_FILE_NOT_FOUND;
    }
    db->path = path;
    db->key = key;
    r.byKey[key] = db;
  }
  NnHandle h = nextHandle(kDatabaseHandle, r.nextDb, r.dbs);
  r.dbs[h] = db;
  db->openCount++;
  *out = h;
  return NN_OK;
}

NnStatus NnDbClose(NnHandle hDb) {
  STORE_LOCK;
  Registry& r = reg();
  auto it = r.dbs.find(hDb);
  if (it == r.dbs.end()) return NN_ERR_BAD_HANDLE;
  std::shared_ptr<Database> db = it->second;
  r.dbs.erase(it);
  if (--db->openCount <= 0) {
    auto k = r.byKey.find(db->key);
    if (k != r.byKey.end() && k->second == db) r.byKey.erase(k);
  }
  return NN_OK;
}

NnStatus NnDbGetPath(NnHandle hDb, char* canonical, uint16_t bufSize) {
  STORE_LOCK;
  auto db = databaseOf(hDb);
  if (!db) return NN_ERR_BAD_HANDLE;
  if (!canonical || bufSize == 0) return NN_ERR_INVALID_ARG;
  copyOut(db->path, canonical, bufSize);
  return db->path.size() < bufSize ? NN_OK : NN_ERR_MEMORY;
}

NnStatus NnDbGetReplicaInfo(NnHandle hDb, NnReplicaInfo* out) {
  STORE_LOCK;
  auto db = databaseOf(hDb);
  if (!db) return NN_ERR_BAD_HANDLE;
  if (!out) return NN_ERR_INVALID_ARG;
  *out = db->replica;
  return NN_OK;
}

NnStatus NnDbSaveDxl(NnHandle hDb, const char* path) {
  STORE_LOCK;
  auto db = databaseOf(hDb);
  if (!db) return NN_ERR_BAD_HANDLE;
  if (!path || !*path) return NN_ERR_INVALID_ARG;
  return saveDxl(*db, path);
}

uint32_t NnDbNoteCount(NnHandle hDb) {
  STORE_LOCK;
  auto db = databaseOf(hDb);
  return db ? uint32_t(db->notes.size()) : 0;
}

NnStatus NnDbNoteIdAt(NnHandle hDb, uint32_t index, NOTEID* out) {
  STORE_LOCK;
  auto db = databaseOf(hDb);
  if (!db) return NN_ERR_BAD_HANDLE;
  if (!out) return NN_ERR_INVALID_ARG;
  if (index >= db->notes.size()) return NN_ERR_NO_MORE;
  *out = db->notes[index]->id;
  return NN_OK;
}

NnStatus NnDbGetNoteInfo(NnHandle hDb, NOTEID id, ORIGINATORID_tag* oid, tagTIMEDATE* modified,
                         uint16_t* noteClass) {
  STORE_LOCK;
  auto db = databaseOf(hDb);
  if (!db) return NN_ERR_BAD_HANDLE;
  auto n = db->findNote(id);
  if (!n) return NN_ERR_NOTE_NOT_FOUND;
  if (oid) *oid = n->oid;
  if (modified) *modified = n->modified;
  if (noteClass) *noteClass = n->noteClass;
  return NN_OK;
}

NnStatus NnDbGetObjectSize(NnHandle hDb, NOTEID id, const char* fileName, uint32_t* size) {
  STORE_LOCK;
  auto db = databaseOf(hDb);
  if (!db) return NN_ERR_BAD_HANDLE;
  if (!fileName || !size) return NN_ERR_INVALID_ARG;
  auto n = db->findNote(id);
  if (!n) return NN_ERR_NOTE_NOT_FOUND;
  for (const Item& it : n->items) {
    NnFileObject fo{};
    std::string name;
    if (it.type != NN_TYPE_OBJECT || !parseFileValue(it.value, &fo, &name)) continue;
    if (!sameName(name, fileName, std::strlen(fileName))) continue;
    auto o = n->objects.find(fo.objectId);
    if (o == n->objects.end()) return NN_ERR_NOT_FOUND;
    *size = uint32_t(o->second.bytes.size());
    return NN_OK;
  }
  return NN_ERR_NOT_FOUND;
}

std::string NnDbLastLoadError() { return tLastLoadError; }

// ---- Notes ---------------------------------------------------------------------------

static NnStatus registerOpenNote(std::unique_ptr<OpenNote> on, NnHandle* out) {
  Registry& r = reg();
  NnHandle h = nextHandle(kNoteHandle, r.nextNote, r.notes);
  r.notes[h] = std::move(on);
  *out = h;
  return NN_OK;
}

static NnStatus openStored(NnHandle hDb, const std::shared_ptr<Database>& db,
                           const std::shared_ptr<Note>& n, NnHandle* out) {
  auto on = std::make_unique<OpenNote>();
  on->db = db;
  on->dbHandle = hDb;
  on->stored = n;
  on->work = *n;
  return registerOpenNote(std::move(on), out);
}

NnStatus NnNoteOpen(NnHandle hDb, NOTEID id, uint16_t /*flags*/, NnHandle* out) {
  STORE_LOCK;
  auto db = databaseOf(hDb);
  if (!db) return NN_ERR_BAD_HANDLE;
  if (!out) return NN_ERR_INVALID_ARG;
  auto n = db->findNote(id);
  if (!n) return NN_ERR_NOTE_NOT_FOUND;
  return openStored(hDb, db, n, out);
}

NnStatus NnNoteOpenByUnid(NnHandle hDb, const UNIVERSALNOTEID_tag* unid, uint16_t /*flags*/,
                          NnHandle* out) {
  STORE_LOCK;
  auto db = databaseOf(hDb);
  if (!db) return NN_ERR_BAD_HANDLE;
  if (!out || !unid) return NN_ERR_INVALID_ARG;
  auto n = db->findNoteByUnid(*unid);
  if (!n) return NN_ERR_NOTE_NOT_FOUND;
  return openStored(hDb, db, n, out);
}

NnStatus NnNoteCreate(NnHandle hDb, uint16_t noteClass, NnHandle* out) {
  STORE_LOCK;
  auto db = databaseOf(hDb);
  if (!db) return NN_ERR_BAD_HANDLE;
  if (!out) return NN_ERR_INVALID_ARG;
  auto on = std::make_unique<OpenNote>();
  on->db = db;
  on->dbHandle = hDb;
  on->work.noteClass = noteClass;
  return registerOpenNote(std::move(on), out);
}

NnStatus NnNoteClose(NnHandle hNote) {
  STORE_LOCK;
  return reg().notes.erase(hNote) ? NN_OK : NN_ERR_BAD_HANDLE;
}

NnStatus NnNoteUpdate(NnHandle hNote, uint16_t /*flags*/) {
  STORE_LOCK;
  OpenNote* on = openNoteOf(hNote);
  if (!on) return NN_ERR_BAD_HANDLE;
  if (WriteFails()) return NN_ERR_FILE_IO;
  Database& db = *on->db;
  if (!on->stored) {
    assignNewIdentity(db, on->work);
    on->stored = std::make_shared<Note>();
    db.notes.push_back(on->stored);
  }
  on->work.modified = NnTimeNow();
  on->work.oid.Sequence++;
  on->work.oid.SequenceTime = on->work.modified;
  *on->stored = on->work;
  return NN_OK;
}

NnStatus NnNoteGetInfo(NnHandle hNote, uint16_t selector, void* out) {
  STORE_LOCK;
  OpenNote* on = openNoteOf(hNote);
  if (!on) return NN_ERR_BAD_HANDLE;
  if (!out) return NN_ERR_INVALID_ARG;
  switch (selector) {
    case NN_NOTE_INFO_DB: *static_cast<NnHandle*>(out) = on->dbHandle; return NN_OK;
    case NN_NOTE_INFO_ID: *static_cast<NOTEID*>(out) = on->work.id; return NN_OK;
    case NN_NOTE_INFO_OID: *static_cast<ORIGINATORID_tag*>(out) = on->work.oid; return NN_OK;
    case NN_NOTE_INFO_CLASS: *static_cast<uint16_t*>(out) = on->work.noteClass; return NN_OK;
    case NN_NOTE_INFO_MODIFIED: *static_cast<tagTIMEDATE*>(out) = on->work.modified; return NN_OK;
    default: return NN_ERR_INVALID_ARG;
  }
}
