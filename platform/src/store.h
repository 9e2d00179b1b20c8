// The in-memory model behind database, note and item handles. Internal to the
// platform layer: the library sees only nn.h.
#pragma once

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
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

// An item's content as a DXL file wrote it. It is written back while the
// item's value is still the one it was read to, so that an unchanged item
// keeps its text to the byte (time zones, number spellings) and content the
// loader does not interpret (type 0, structured rich text) is not lost.
struct ItemSource {
  bool present = false;
  bool element = false;          // the xml is a whole element of the note (its <body>), not an <item>'s content
  bool raw = false;              // the file wrote the value as raw item data: so it is written, whatever it becomes
  std::string xml;
  size_t dataAt = std::string::npos;  // where an attachment's bytes go, in base64
  std::vector<uint8_t> value;    // the value it was read to
};

struct Item {
  std::string name;
  uint16_t type = 0;
  uint16_t flags = 0;
  std::vector<uint8_t> value;   // canonical value with its 16-bit type word first
  std::string otherAttributes;  // attributes (and namespace declarations) of its DXL element the loader does not read
  ItemSource source;
};

// Item flag kept for DXL authors='true'; not part of the public flag set.
constexpr uint16_t kItemAuthors = 0x0020;

// Size of the canonical file object that follows the type word of a $FILE value.
constexpr uint32_t kFileObjectSize = 36;

struct FileData {                 // the stored object of an attachment
  std::vector<uint8_t> bytes;
};

// Content of an element kept as it stood, after that many items (or notes).
struct KeptXml {
  size_t after = 0;
  std::string xml;
};

// What a DXL file held of a note besides its items, written back as it stood.
struct NoteSource {
  bool fromFile = false;
  std::string attributes;         // of the note element (" a='v'"), its namespace declarations first
  bool hadInfo = false;           // the file gave a <noteinfo>
  std::string info;               // that <noteinfo> as it stood
  std::string infoAttributes;     // its attributes besides noteid, unid and sequence
  std::string infoCreated;        // its <created> element
  std::string infoRest;           // its children besides <created> and <modified>
  NOTEID id = 0;                  // the identity as read: a note whose identity
  ORIGINATORID_tag oid{};         // changed gets a <noteinfo> written anew
  tagTIMEDATE created{}, modified{};
  std::vector<KeptXml> content;   // other children (<body>s aside), each after that many items
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
  NoteSource source;
};

// What a DXL file held around its notes.
struct DxlSource {
  std::string root;               // "database", or the element of the file's one note; empty for a new database
  std::string attributes;         // of the <database> element
  std::string namespaces;         // declarations of the root element (" xmlns='...'")
  std::string doctype;
  std::vector<KeptXml> content;   // children of <database> that are not notes, each after that many notes
};

struct Database {
  std::string path;               // as opened
  std::string key;                // normalised path that shares the database
  std::string dxlPath;            // file it was loaded from, empty for a new one
  NnReplicaInfo replica{};
  DxlSource source;
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

// Every store operation runs under this lock.
std::recursive_mutex& storeMutex();

// For tests: the n-th note write from now (item appends and sets, attachments,
// note updates; n >= 1) fails with NN_ERR_FILE_IO, that one only; 0 or a
// negative n turns this off. WriteFails counts one write and says whether it
// is the one to fail.
void SetFailWriteAt(long n);
bool WriteFails();
bool WriteFailPending();

// Handle lookups; null for an unknown handle.
std::shared_ptr<Database> databaseOf(NnHandle hDb);
OpenNote* openNoteOf(NnHandle hNote);

// Loads a DXL file into a new database; on failure returns null and sets the
// error text ("path:line: message"). Nothing half-loaded is ever returned.
std::shared_ptr<Database> loadDxl(const std::string& path, std::string* error);
NnStatus saveDxl(const Database& db, const std::string& path);

// Text between XML (UTF-8) and stored text (LMBCS); plain ASCII passes unchanged.
std::string toLmbcs(const std::string& utf8);
std::string fromLmbcs(const std::string& lmbcs);

// Entries of a canonical text list (the data after the type word); false when
// malformed. *used, when given, is the size the list takes.
bool textListEntries(const uint8_t* p, size_t n, std::vector<std::string>* out,
                     size_t* used = nullptr);
// The value of a text list of these entries, its type word first.
std::vector<uint8_t> textListValue(const std::vector<std::string>& entries);

// Checks a canonical CD record stream; on failure returns false with a reason.
bool checkRecordStream(const uint8_t* p, size_t n, std::string* why);

// Parses a $FILE value (type word first) into its file object and name.
bool parseFileValue(const std::vector<uint8_t>& value, NnFileObject* fo, std::string* name);
std::vector<uint8_t> makeFileValue(const NnFileObject& fo, const std::string& name);

// Deterministic 64-bit hash used for derived replica and universal ids.
uint64_t hash64(const std::string& s);
// Allocates the note's id and universal id at its first update.
void assignNewIdentity(Database& db, Note& note);

// Item and file names compare without regard to (ASCII) case.
inline bool sameName(const std::string& a, const char* b, size_t n) {
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = uint8_t(a[i]), y = uint8_t(b[i]);
    if (x >= 'A' && x <= 'Z') x = uint8_t(x + 32);
    if (y >= 'A' && y <= 'Z') y = uint8_t(y + 32);
    if (x != y) return false;
  }
  return true;
}

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
// Numbers and times: two 32-bit words, the low one first.
inline double rdDouble(const uint8_t* p) {
  const uint64_t bits = uint64_t(rd32(p)) | (uint64_t(rd32(p + 4)) << 32);
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}
inline tagTIMEDATE rdTime(const uint8_t* p) { return tagTIMEDATE{{rd32(p), rd32(p + 4)}}; }
inline void wrDouble(std::vector<uint8_t>& v, double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  wr32(v, uint32_t(bits));
  wr32(v, uint32_t(bits >> 32));
}
inline void wrTime(std::vector<uint8_t>& v, const tagTIMEDATE& t) {
  wr32(v, t.Innards[0]);
  wr32(v, t.Innards[1]);
}

}  // namespace nnstore
