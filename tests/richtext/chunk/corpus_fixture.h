// A real document of the corpus opened through the public classes: the
// session, the note's item and chunks over it; its records read back from
// the note, and the item saved as DXL, reloaded and rendered as XHTML.
#pragma once

#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <strings.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "host/pool.h"
#include "lsxsessi.h"
#include "nn/nn.h"
#include "richtext/item/recordlist.h"
#include "rtchunk.h"
#include "rtitem.h"
#include "support/testutil.h"

namespace corpustest {

// Corpus items the chunk tests share.
inline constexpr const char* kStyled = "jnx/testConvertAndOpenMimeItem/styledtext.xml";
inline constexpr const char* kView = "jnx/testDbDesignEmbedded/embedded_view.xml";
inline constexpr const char* kDate = "jnx/testDbDesignEmbedded/embedded_date.xml";
inline constexpr const char* kAttendee = "ukl/Forms/Attendee.form";
inline constexpr const char* kBadge = "ukl/Forms/Badge.form";

struct Record {
  uint16_t signature;
  std::string bytes;  // host layout
  bool operator==(const Record&) const = default;
};

// The path of a corpus file; empty when the corpus is absent.
inline std::string CorpusFile(const std::string& relative) {
  const std::string corpus = kvtest::CorpusDir();
  return corpus.empty() ? std::string() : corpus + "/dxl/" + relative;
}

class CorpusDoc : public ::testing::Test {
 protected:
  void TearDown() override { Close(); }

  void Close() {
    delete session;  // deletes the items and chunks left
    session = nullptr;
    item = nullptr;
    if (note) NnNoteClose(note);
    if (db) NnDbClose(db);
    note = db = 0;
  }

  // Opens note `noteIndex` of a corpus file and binds `itemName`; false when
  // the corpus is absent (the caller skips).
  bool Open(const std::string& relative, const char* itemName, uint32_t noteIndex = 0) {
    Close();
    path = CorpusFile(relative);
    if (!std::filesystem::exists(path)) return false;
    session = new LSXLsiSession();
    EXPECT_EQ(NnDbOpen(path.c_str(), 0, &db), NN_OK) << path;
    NOTEID id = 0;
    EXPECT_EQ(NnDbNoteIdAt(db, noteIndex, &id), NN_OK);
    EXPECT_EQ(NnNoteOpen(db, id, 0, &note), NN_OK);
    noteId = id;
    name = itemName;
    item = new TorvoRTItem(session);
    EXPECT_EQ(item->ConnectBackend(db, note, itemName), NN_OK);
    return true;
  }

  TorvoRTChunk* Chunk(const char* definition) {
    TorvoRTChunk* c = item->DefineChunk(definition);
    EXPECT_NE(c, nullptr) << definition;
    return c;
  }

  static std::string Prop(TorvoRTChunk* c, const char* property) {
    char buffer[1024];
    const uint16_t n = c->GetPropertyText(property, buffer, sizeof buffer);
    EXPECT_EQ(n, std::strlen(buffer)) << property;
    return buffer;
  }

  // The item's records as the note holds them now.
  std::vector<Record> Records() {
    std::vector<Record> out;
    NnStatus st = NN_OK;
    RecordList* list = RecordListLoadFromNote(session, note, name.c_str(), &st);
    if (!list) return out;
    for (const RTRecordNode* n = RecordListNext(list, nullptr); n; n = RecordListNext(list, n))
      out.push_back({n->signature, std::string(reinterpret_cast<const char*>(n->data), n->length)});
    RecordListFreeWithAllocator(session, list);
    return out;
  }

  static std::vector<uint16_t> Signatures(const std::vector<Record>& records) {
    std::vector<uint16_t> out;
    for (const Record& r : records) out.push_back(r.signature);
    return out;
  }

  // Saves the database as DXL, opens the saved file afresh and renders the
  // item as XHTML; the page, or "" when a step failed (with a test failure).
  // `dxl`, when given, receives the saved file.
  std::string SaveReloadRender(const char* options = "", std::string* dxl = nullptr) {
    const std::string dir = kvtest::MakeTempDir();
    const std::string saved = dir + "/saved.dxl";
    EXPECT_EQ(NnNoteUpdate(note, 0), NN_OK);
    EXPECT_EQ(NnDbSaveDxl(db, saved.c_str()), NN_OK);
    if (dxl) *dxl = kvtest::ReadFile(saved);
    std::string page;
    NnHandle db2 = 0, note2 = 0;
    if (NnDbOpen(saved.c_str(), 0, &db2) == NN_OK) {
      NOTEID id = 0;
      for (uint32_t i = 0; i < NnDbNoteCount(db2) && !note2; ++i) {
        if (NnDbNoteIdAt(db2, i, &id) != NN_OK) continue;
        if (id == noteId) {
          EXPECT_EQ(NnNoteOpen(db2, id, 0, &note2), NN_OK);
        }
      }
      if (note2) {
        auto* again = new TorvoRTItem(session);
        EXPECT_EQ(again->ConnectBackend(db2, note2, name.c_str()), NN_OK);
        TorvoRTChunk* everything = again->DefineChunk("Everything");
        char* text = nullptr;
        uint32_t length = 0;
        EXPECT_EQ(everything->GenerateXML(nullptr, options, &text, &length), NN_OK);
        if (text) {
          page.assign(text, length);
          PoolFree(session, text);
        }
        delete again;
        NnNoteClose(note2);
      }
      NnDbClose(db2);
    } else {
      ADD_FAILURE() << "the saved DXL does not open: " << NnDbLastLoadError();
    }
    kvtest::RemoveTree(dir);
    return page;
  }

  static bool ParsesAsXml(const std::string& text) { return kvtest::ParsesAsXml(text); }

  LSXLsiSession* session = nullptr;
  NnHandle db = 0;
  NnHandle note = 0;
  NOTEID noteId = 0;
  TorvoRTItem* item = nullptr;
  std::string path;
  std::string name;
};

}  // namespace corpustest
