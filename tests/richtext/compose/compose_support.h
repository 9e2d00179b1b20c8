// Shared set-up of the composer tests: an in-memory document with one
// rich-text paragraph, the chunk methods that reach the composers, and the
// ways a test looks at what they built: the record list, the item reloaded
// from saved DXL, and the rendered page.
#pragma once

#include <gtest/gtest.h>
#include <libxml/parser.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "collection.h"
#include "host/pool.h"
#include "lsxsessi.h"
#include "nn/nn.h"
#include "richtext/item/recordlist.h"
#include "rtchunk.h"
#include "rtitem.h"
#include "support/testutil.h"

namespace composetest {

// One record in host layout.
struct Rec {
  uint16_t sig = 0;
  std::vector<uint8_t> data;
  uint16_t U16(size_t at) const {
    uint16_t v = 0;
    if (at + 2 <= data.size()) std::memcpy(&v, data.data() + at, 2);
    return v;
  }
  uint32_t U32(size_t at) const {
    uint32_t v = 0;
    if (at + 4 <= data.size()) std::memcpy(&v, data.data() + at, 4);
    return v;
  }
  double F64(size_t at) const {
    double v = 0;
    if (at + 8 <= data.size()) std::memcpy(&v, data.data() + at, 8);
    return v;
  }
  std::string Text(size_t at, size_t n) const {
    if (at > data.size()) return {};
    if (n > data.size() - at) n = data.size() - at;
    return std::string(reinterpret_cast<const char*>(data.data()) + at, n);
  }
};

inline const Rec* Find(const std::vector<Rec>& records, uint16_t sig, int nth = 0) {
  for (const Rec& r : records)
    if (r.sig == sig && nth-- == 0) return &r;
  return nullptr;
}

inline int Count(const std::vector<Rec>& records, uint16_t sig) {
  int n = 0;
  for (const Rec& r : records) n += r.sig == sig;
  return n;
}

// BEGIN (221) and END (222) records pair up by the element they name.
inline bool Balanced(const std::vector<Rec>& records) {
  std::vector<uint16_t> open;
  for (const Rec& r : records) {
    if (r.sig == 221) open.push_back(r.U16(4));
    if (r.sig == 222) {
      if (open.empty() || open.back() != r.U16(4)) return false;
      open.pop_back();
    }
  }
  return open.empty();
}

// The records of an item of a note, read through a fresh item of the session.
inline std::vector<Rec> RecordsOfItem(LSXLsiSession* session, NnHandle hDb, NnHandle hNote,
                                      const char* itemName) {
  std::vector<Rec> out;
  TorvoRTItem reader(session);
  if (reader.ConnectBackend(hDb, hNote, itemName) != NN_OK || reader.LoadRecords() != NN_OK)
    return out;
  for (RTRecordNode* n = reader.context->records ? reader.context->records->first : nullptr; n;
       n = n->next) {
    Rec r;
    r.sig = n->signature;
    if (n->data) r.data.assign(n->data, n->data + n->length);
    out.push_back(std::move(r));
  }
  return out;
}

// The page parses as XML.
inline bool WellFormed(const std::string& page) { return kvtest::ParsesAsXml(page); }

class ComposeDoc : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    session = new LSXLsiSession();
    ASSERT_TRUE(session->IsValid());
    dbPath = "mem-compose-" + std::to_string(++counter) + ".nsf";
    ASSERT_EQ(NnDbOpen(dbPath.c_str(), NN_DB_CREATE, &db), NN_OK);
    ASSERT_EQ(NnNoteCreate(db, NN_CLASS_DOCUMENT, &note), NN_OK);
    ASSERT_EQ(NnItemSetText(note, "Subject", "Composed", 8), NN_OK);
    // One paragraph: "Intro".
    const uint8_t body[] = {0x81, 2, 0x85, 0xFF, 13, 0, 1, 0, 0, 10, 'I', 'n', 't', 'r', 'o', 0};
    ASSERT_EQ(NnItemAppend(note, 0, "Body", 4, NN_TYPE_COMPOSITE, body, sizeof body), NN_OK);
    item = new TorvoRTItem(session);
    ASSERT_EQ(item->ConnectBackend(db, note, "Body"), NN_OK);
    chunk = item->DefineChunk("Everything");
    ASSERT_NE(chunk, nullptr);
    dir = kvtest::MakeTempDir();
  }
  void TearDown() override {
    delete session;
    if (note) NnNoteClose(note);
    if (db) NnDbClose(db);
    kvtest::RemoveTree(dir);
  }

  // The records of "Body" in a note, read through a fresh item.
  std::vector<Rec> RecordsOf(NnHandle hDb, NnHandle hNote) {
    return RecordsOfItem(session, hDb, hNote, "Body");
  }
  std::vector<Rec> Records() { return RecordsOf(db, note); }

  // Saves the database as DXL and reloads it: the records of the reloaded
  // note, and its rendered XHTML page in *page.
  std::vector<Rec> Reloaded(std::string* page, const char* options = "") {
    const std::string path = dir + "/saved.dxl";
    EXPECT_EQ(NnNoteUpdate(note, 0), NN_OK);
    EXPECT_EQ(NnDbSaveDxl(db, path.c_str()), NN_OK);
    NnHandle db2 = 0, note2 = 0;
    std::vector<Rec> out;
    if (NnDbOpen(path.c_str(), 0, &db2) != NN_OK) {
      ADD_FAILURE() << "saved DXL does not load";
      return out;
    }
    NOTEID id = 0;
    for (uint32_t i = 0; i < NnDbNoteCount(db2); ++i) {
      NOTEID candidate = 0;
      NnHandle h = 0;
      if (NnDbNoteIdAt(db2, i, &candidate) != NN_OK || NnNoteOpen(db2, candidate, 0, &h) != NN_OK)
        continue;
      if (NnItemInfo(h, "Body", 4, nullptr, nullptr, nullptr, nullptr) == NN_OK && !id) {
        id = candidate;
        note2 = h;
      } else {
        NnNoteClose(h);
      }
    }
    if (note2) {
      out = RecordsOf(db2, note2);
      if (page) {
        TorvoRTItem reloaded(session);
        EXPECT_EQ(reloaded.ConnectBackend(db2, note2, "Body"), NN_OK);
        TorvoRTChunk* everything = reloaded.DefineChunk("Everything");
        *page = Render(everything, options);
      }
      NnNoteClose(note2);
    }
    NnDbClose(db2);
    return out;
  }

  // The chunk rendered as an XHTML page (for the collection when one is
  // given); "" when the render fails.
  std::string Render(TorvoRTChunk* c, const char* options = "",
                     TorvoCollection* collection = nullptr) {
    char* text = nullptr;
    uint32_t length = 0;
    EXPECT_NE(c, nullptr);
    if (!c) return {};
    EXPECT_EQ(c->GenerateXML(nullptr, options, &text, &length, collection), NN_OK);
    std::string out = text ? std::string(text, length) : std::string();
    if (text) PoolFree(session, text);
    return out;
  }

  LSXLsiSession* session = nullptr;
  NnHandle db = 0, note = 0;
  TorvoRTItem* item = nullptr;
  TorvoRTChunk* chunk = nullptr;
  std::string dbPath, dir;
};

}  // namespace composetest
