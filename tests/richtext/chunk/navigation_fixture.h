// Items built record by record for the chunk navigation and finder tests: an
// in-memory database with one note whose "Body" holds what a test composes.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "lsxsessi.h"
#include "nn/nn.h"
#include "rtchunk.h"
#include "rtitem.h"

namespace navtest {

inline std::string U16(uint16_t v) { return std::string{char(v & 0xFF), char(v >> 8)}; }

inline std::string ByteRec(uint8_t sig, const std::string& payload = "") {
  return std::string{char(sig), char(2 + payload.size())} + payload;
}
inline std::string WordRec(uint16_t sig, const std::string& payload = "") {
  return U16(sig) + U16(uint16_t(4 + payload.size())) + payload;
}
// Records start on even offsets.
inline std::string Stream(const std::vector<std::string>& records) {
  std::string out;
  for (const auto& r : records) {
    out += r;
    if (r.size() % 2) out.push_back('\0');
  }
  return out;
}
inline std::string Font(uint8_t face, uint8_t size, uint8_t attrib = 0, uint8_t color = 0) {
  return std::string{char(face), char(attrib), char(color), char(size)};
}
inline std::string Text(const std::string& font, const std::string& text) {
  return WordRec(0xFF85, font + text);
}
inline std::string Text(const std::string& text) { return Text(Font(1, 10), text); }
inline std::string PabDef(uint16_t id) {
  std::string body;
  for (uint16_t v : {id, uint16_t(0), uint16_t(0), uint16_t(0), uint16_t(0), uint16_t(1440),
                     uint16_t(0), uint16_t(1440), uint16_t(0)})
    body += U16(v);
  body += std::string(40, '\0') + std::string(8, '\0');
  return WordRec(0xFF82, body);
}
inline std::string Para() { return ByteRec(0x81); }
inline std::string PabRef(uint16_t id) { return ByteRec(0x83, U16(id)); }
inline std::string TableBegin() { return ByteRec(0xA3, std::string(12, '\0')); }
inline std::string TableCell(uint8_t row, uint8_t col) {
  std::string b{char(row), char(col)};
  b += U16(0) + U16(0) + U16(0x4000) + std::string{1, 0} + U16(0) + std::string{1, 1} + U16(0);
  return ByteRec(0xA4, b);
}
inline std::string TableEnd() { return ByteRec(0xA5, std::string(4, '\0')); }
// An HTML attribute record: ID, Class, Style, Title, Other, Name.
inline std::string IdName(const std::string& id, const std::string& name,
                          uint16_t sig = 0xFF7A) {
  std::string b = U16(uint16_t(id.size())) + U16(0) + U16(0) + U16(0) + U16(0) +
                  U16(uint16_t(name.size())) + std::string(10, '\0') + id + name;
  return WordRec(sig, b);
}

// A paragraph with one run.
inline std::vector<std::string> Paragraph(const std::string& text) {
  return {Para(), PabRef(1), Text(text)};
}
// A one-row table of `cells` cells, each with its text.
inline std::vector<std::string> Table(const std::vector<std::string>& cells,
                                      const std::string& idName = "") {
  std::vector<std::string> r{TableBegin()};
  if (!idName.empty()) r.push_back(IdName("", idName));
  for (size_t c = 0; c < cells.size(); ++c) {
    r.push_back(TableCell(0, uint8_t(c)));
    r.push_back(PabRef(1));
    r.push_back(Text(cells[c]));
  }
  r.push_back(TableEnd());
  return r;
}

inline std::vector<std::string> Body(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> all{PabDef(1)};
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// The stored bytes of every segment of an item, joined.
inline std::string StoredItem(NnHandle note, const char* name) {
  std::string out;
  uint16_t nameLen = uint16_t(std::strlen(name));
  NnBlockId item, value;
  uint32_t len = 0;
  for (NnStatus st = NnItemInfo(note, name, nameLen, &item, nullptr, &value, &len); st == NN_OK;
       st = NnItemInfoNext(note, item, name, nameLen, &item, nullptr, &value, &len)) {
    const char* p = static_cast<const char*>(NnBlockLock(value));
    if (p) out.append(p, len);
    NnBlockUnlock(value);
  }
  return out;
}

// A database with one stored note holding `records` as "Body", and an item
// bound to it.
class Doc {
 public:
  explicit Doc(const std::vector<std::string>& records, const char* itemName = "Body") {
    static std::atomic<int> serial{0};
    path_ = "/nonexistent-hc-nav/doc" + std::to_string(++serial) + ".nsf";
    EXPECT_EQ(NnDbOpen(path_.c_str(), NN_DB_CREATE, &db), NN_OK);
    EXPECT_EQ(NnNoteCreate(db, NN_CLASS_DOCUMENT, &note), NN_OK);
    std::string data = Stream(records);
    if (itemName) {
      EXPECT_EQ(NnItemAppend(note, 0, itemName, uint16_t(std::strlen(itemName)),
                             NN_TYPE_COMPOSITE, data.data(), uint32_t(data.size())),
                NN_OK);
    }
    EXPECT_EQ(NnNoteUpdate(note, 0), NN_OK);
    NnNoteGetInfo(note, NN_NOTE_INFO_ID, &id);
    session = std::make_unique<LSXLsiSession>();
    item = new TorvoRTItem(session.get());
    EXPECT_EQ(item->ConnectBackend(db, note, "Body"), NN_OK);
  }
  ~Doc() {
    session.reset();  // deletes the item and every chunk left
    NnNoteClose(note);
    NnDbClose(db);
  }
  Doc(const Doc&) = delete;
  Doc& operator=(const Doc&) = delete;

  // The note as stored in the database (not the open copy).
  std::string StoredBody() const {
    NnHandle fresh = 0;
    if (NnNoteOpen(db, id, 0, &fresh) != NN_OK) return "<none>";
    std::string s = StoredItem(fresh, "Body");
    NnNoteClose(fresh);
    return s;
  }
  bool StoredHas(const char* name) const {
    NnHandle fresh = 0;
    if (NnNoteOpen(db, id, 0, &fresh) != NN_OK) return false;
    bool has = NnItemInfo(fresh, name, uint16_t(std::strlen(name)), nullptr, nullptr, nullptr,
                          nullptr) == NN_OK;
    NnNoteClose(fresh);
    return has;
  }
  std::string Body() const { return StoredItem(note, "Body"); }

  NnHandle db = 0;
  NnHandle note = 0;
  NOTEID id = 0;
  std::unique_ptr<LSXLsiSession> session;
  TorvoRTItem* item = nullptr;  // owned by the session

 private:
  std::string path_;
};

inline std::string Def(const TorvoRTChunk* c) {
  return c && c->definitionText ? c->definitionText : "<null>";
}

}  // namespace navtest
