// Shared set-up of the link and wiki matching tests: a database with a view
// of key documents, a note whose rich-text item "Body" holds the runs under
// test, and a reading of the records the matching left.
#pragma once

#include <gtest/gtest.h>
#include <libxml/parser.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "host/pool.h"
#include "lsxsessi.h"
#include "nn/nn.h"
#include "rtchunk.h"
#include "rtitem.h"
#include "support/testutil.h"

namespace matchingtest {

using Bytes = std::vector<uint8_t>;

inline void Put16(Bytes& b, uint16_t v) {
  b.push_back(uint8_t(v));
  b.push_back(uint8_t(v >> 8));
}

// A canonical text record in face 1, 10 points.
inline Bytes Text(const std::string& s, uint32_t font = 0x0A000001u) {
  Bytes b;
  Put16(b, 0xFF85);
  Put16(b, uint16_t(8 + s.size()));
  Put16(b, uint16_t(font));
  Put16(b, uint16_t(font >> 16));
  b.insert(b.end(), s.begin(), s.end());
  return b;
}
inline Bytes Para() { return {129, 2}; }
inline Bytes Hotspot(uint16_t sig, uint16_t kind, const std::string& d) {
  Bytes b;
  Put16(b, sig);
  Put16(b, uint16_t(12 + d.size()));
  Put16(b, kind);
  Put16(b, 0);
  Put16(b, 0);
  Put16(b, uint16_t(d.size()));
  b.insert(b.end(), d.begin(), d.end());
  return b;
}

// One record of the stored item, read back from canonical bytes.
struct Rec {
  uint16_t sig = 0;
  Bytes bytes;  // the whole record
  std::string text() const {  // the characters of a text record
    return sig == 0xFF85 && bytes.size() >= 8 ? std::string(bytes.begin() + 8, bytes.end()) : "";
  }
};

class MatchingDoc : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    const int n = ++counter;
    session = new LSXLsiSession();
    ASSERT_TRUE(session->IsValid());
    keysPath = "mem-matching-keys-" + std::to_string(n) + ".nsf";
    ASSERT_EQ(NnDbOpen(keysPath.c_str(), NN_DB_CREATE, &keysDb), NN_OK);
    std::string path = "mem-matching-doc-" + std::to_string(n) + ".nsf";
    ASSERT_EQ(NnDbOpen(path.c_str(), NN_DB_CREATE, &db), NN_OK);
    ASSERT_EQ(NnNoteCreate(db, NN_CLASS_DOCUMENT, &note), NN_OK);
  }
  void TearDown() override {
    delete session;
    if (note) NnNoteClose(note);
    if (db) NnDbClose(db);
    if (keysDb) NnDbClose(keysDb);
  }

  NOTEID AddNote(uint16_t noteClass, const std::vector<std::pair<std::string, std::string>>& items) {
    NnHandle h = 0;
    EXPECT_EQ(NnNoteCreate(keysDb, noteClass, &h), NN_OK);
    for (const auto& [name, value] : items)
      EXPECT_EQ(NnItemSetText(h, name.c_str(), value.data(), uint16_t(value.size())), NN_OK);
    EXPECT_EQ(NnNoteUpdate(h, 0), NN_OK);
    NOTEID id = 0;
    EXPECT_EQ(NnNoteGetInfo(h, NN_NOTE_INFO_ID, &id), NN_OK);
    NnNoteClose(h);
    return id;
  }
  // A key document (its "Subject" is the key).
  NOTEID AddKey(const std::string& subject, const std::string& body = "") {
    if (body.empty()) return AddNote(NN_CLASS_DOCUMENT, {{"Subject", subject}});
    return AddNote(NN_CLASS_DOCUMENT, {{"Subject", subject}, {"Info", body}});
  }
  // The view "Keys" of every document, keyed by Subject.
  void AddView(const char* title = "Keys") {
    AddNote(NN_CLASS_VIEW, {{"$TITLE", title}, {"$KeyColumn", "Subject"}});
  }

  void Make(const std::vector<Bytes>& records) {
    Bytes joined;
    for (const Bytes& r : records) {
      joined.insert(joined.end(), r.begin(), r.end());
      if (r.size() % 2) joined.push_back(0);
    }
    ASSERT_EQ(NnItemAppend(note, 0, "Body", 4, NN_TYPE_COMPOSITE, joined.data(),
                           uint32_t(joined.size())),
              NN_OK);
    item = new TorvoRTItem(session);
    ASSERT_EQ(item->ConnectBackend(db, note, "Body"), NN_OK);
    chunk = item->DefineChunk("Everything");
    ASSERT_NE(chunk, nullptr);
  }

  Bytes Stored() {
    Bytes out;
    NnBlockId it, value;
    uint16_t type = 0;
    uint32_t len = 0;
    NnStatus st = NnItemInfo(note, "Body", 4, &it, &type, &value, &len);
    while (st == NN_OK) {
      const uint8_t* p = static_cast<const uint8_t*>(NnBlockLock(value));
      if (p && len >= 2) out.insert(out.end(), p + 2, p + len);
      NnBlockUnlock(value);
      NnBlockId prev = it;
      st = NnItemInfoNext(note, prev, "Body", 4, &it, &type, &value, &len);
    }
    return out;
  }

  std::vector<Rec> Records() {
    Bytes b = Stored();
    std::vector<Rec> out;
    size_t i = 0;
    while (i + 2 <= b.size()) {
      Rec r;
      uint32_t len = 0;
      if (b[i + 1] == 0xFF) {
        if (i + 4 > b.size()) break;
        r.sig = uint16_t(b[i] | b[i + 1] << 8);
        len = uint32_t(b[i + 2] | b[i + 3] << 8);
      } else {
        r.sig = b[i];
        len = b[i + 1];
      }
      if (len < 2 || i + len > b.size()) break;
      r.bytes.assign(b.begin() + long(i), b.begin() + long(i + len));
      out.push_back(r);
      i += len + (len % 2);
    }
    return out;
  }
  // The characters of every text record, joined.
  std::string AllText() {
    std::string s;
    for (const Rec& r : Records()) s += r.text();
    return s;
  }
  int Count(uint16_t sig) {
    int n = 0;
    for (const Rec& r : Records()) n += r.sig == sig;
    return n;
  }
  bool StoredHas(const std::string& text) {
    Bytes b = Stored();
    return std::search(b.begin(), b.end(), text.begin(), text.end()) != b.end();
  }

  // The item rendered as XHTML through a fresh chunk of `rt` ("" on failure).
  std::string RenderItem(TorvoRTItem* rt, const char* options = "") {
    TorvoRTChunk* everything = rt->DefineChunk("Everything");
    EXPECT_NE(everything, nullptr);
    if (!everything) return {};
    char* text = nullptr;
    uint32_t length = 0;
    EXPECT_EQ(everything->GenerateXML(nullptr, options, &text, &length), NN_OK);
    std::string page = text ? std::string(text, length) : std::string();
    if (text) PoolFree(session, text);
    delete everything;
    return page;
  }

  // Saves the document's database as DXL, reloads it and renders the
  // note's "Body" as XHTML; "" when a step failed (with a test failure).
  std::string SaveReloadRender(const char* options = "") {
    const std::string dir = kvtest::MakeTempDir();
    const std::string saved = dir + "/saved.dxl";
    EXPECT_EQ(NnNoteUpdate(note, 0), NN_OK);
    NOTEID id = 0;
    EXPECT_EQ(NnNoteGetInfo(note, NN_NOTE_INFO_ID, &id), NN_OK);
    EXPECT_EQ(NnDbSaveDxl(db, saved.c_str()), NN_OK);
    std::string page;
    NnHandle db2 = 0, note2 = 0;
    if (NnDbOpen(saved.c_str(), 0, &db2) == NN_OK) {
      if (NnNoteOpen(db2, id, 0, &note2) == NN_OK) {
        TorvoRTItem again(session);
        EXPECT_EQ(again.ConnectBackend(db2, note2, "Body"), NN_OK);
        page = RenderItem(&again, options);
        NnNoteClose(note2);
      } else {
        ADD_FAILURE() << "the note is not in the saved DXL";
      }
      NnDbClose(db2);
    } else {
      ADD_FAILURE() << "the saved DXL does not open";
    }
    kvtest::RemoveTree(dir);
    return page;
  }

  static bool ParsesAsXml(const std::string& text) { return kvtest::ParsesAsXml(text); }

  uint16_t Match(const char* properties, uint16_t mode, const char* result = nullptr,
                 const char* reference = "Subject") {
    return chunk->LinkMatching("", keysPath.c_str(), "Keys", reference, result, properties, mode);
  }

  LSXLsiSession* session = nullptr;
  std::string keysPath;
  NnHandle keysDb = 0, db = 0, note = 0;
  TorvoRTItem* item = nullptr;
  TorvoRTChunk* chunk = nullptr;
};

}  // namespace matchingtest
