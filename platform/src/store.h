// The in-memory model behind database, note and item handles. Internal to the
// platform layer: the library sees only nn.h.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "nn/nn.h"

namespace nnstore {

// Handle ranges keep the kinds apart, so a handle of one kind given to an
// operation of another is refused rather than misread.
enum HandleKind : uint32_t {
  kMemoryHandle = 0x01000000,
  kDatabaseHandle = 0x02000000,
  kNoteHandle = 0x03000000,
  kIdTableHandle = 0x04000000,
  kCollectionHandle = 0x05000000,
  kComputeHandle = 0x06000000,
  kHandleKindMask = 0xFF000000,
};

struct Item {
  std::string name;
  uint16_t type = 0;
  uint16_t flags = 0;
  std::vector<uint8_t> value;   // canonical value with its 16-bit type word first
};

struct FileData {                 // the stored object of an attachment
  std::vector<uint8_t> bytes;
};

struct Note {
  NOTEID id = 0;
  uint16_t noteClass = NN_CLASS_DOCUMENT;
  std::string dxlClass;           // the class attribute as read ("form", "view", ...)
  std::string rootElement = "note";
  bool isDefault = false;         // default='true'
  ORIGINATORID_tag oid{};
  tagTIMEDATE created{}, modified{};
  std::vector<Item> items;
  std::map<uint32_t, FileData> objects;   // attachment bytes by object id
};

struct Database {
  std::string path;               // as opened
  std::string dxlPath;            // file it was loaded from, empty for a new one
  NnReplicaInfo replica{};
  std::vector<std::shared_ptr<Note>> notes;   // document order
  NOTEID nextNoteId = 0x10;
  uint32_t nextObjectId = 1;
  int openCount = 0;

  std::shared_ptr<Note> findNote(NOTEID id) const;
  std::shared_ptr<Note> findNoteByUnid(const UNIVERSALNOTEID_tag& unid) const;
};

// An open note: a working copy of the stored note, written back by NnNoteUpdate.
struct OpenNote {
  std::shared_ptr<Database> db;
  NnHandle dbHandle = 0;
  std::shared_ptr<Note> stored;   // null until a new note is first updated
  Note work;
};

// Handle lookups; null for an unknown handle.
std::shared_ptr<Database> databaseOf(NnHandle hDb);
OpenNote* openNoteOf(NnHandle hNote);

// Loads a DXL file into a new database; on failure returns null and sets the
// error text ("path:line: message"). Nothing half-loaded is ever returned.
std::shared_ptr<Database> loadDxl(const std::string& path, std::string* error);
NnStatus saveDxl(const Database& db, const std::string& path);

// Canonical little-endian helpers shared by the platform sources.
inline uint16_t rd16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t rd32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline void wr16(std::vector<uint8_t>& v, uint16_t x) {
  v.push_back(uint8_t(x));
  v.push_back(uint8_t(x >> 8));
}
inline void wr32(std::vector<uint8_t>& v, uint32_t x) {
  for (int i = 0; i < 4; ++i) v.push_back(uint8_t(x >> (8 * i)));
}

}  // namespace nnstore
