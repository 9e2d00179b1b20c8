// Checks shared by the record-rewrite tests: a real document (or built
// records) opened with an item and chunks over it, the stored records after
// a call, and the structural checks every write must pass (balanced
// BEGIN/END, table row counts, reload from saved DXL and a parseable XHTML
// render).
#pragma once

#include <gtest/gtest.h>
#include <libxml/parser.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine_fixture.h"
#include "host/pool.h"
#include "support/testutil.h"

namespace enginetest {

// The records of an item as "SEQ-less" signatures, for readable failures.
inline std::vector<uint16_t> Signatures(const std::vector<Rec>& recs) {
  std::vector<uint16_t> out;
  for (const Rec& r : recs) out.push_back(r.sig);
  return out;
}

inline uint16_t Word(const Bytes& b, size_t at) {
  return at + 1 < b.size() ? uint16_t(b[at] | b[at + 1] << 8) : 0;
}

// BEGIN (221) and END (222) records pair up: an END never closes more than
// was opened and nothing stays open. (A hotspot's END names the hotspot's end
// record, not its begin, so only the depth is compared.)
inline ::testing::AssertionResult Balanced(const std::vector<Rec>& recs) {
  long depth = 0;
  for (size_t i = 0; i < recs.size(); ++i) {
    if (recs[i].sig == 221) ++depth;
    if (recs[i].sig == 222 && --depth < 0)
      return ::testing::AssertionFailure() << "END at record " << i + 1 << " closes nothing open";
  }
  if (depth) return ::testing::AssertionFailure() << depth << " BEGIN left open";
  return ::testing::AssertionSuccess();
}

// Every table's row count (byte 8 of its 0xFFFB) equals the number of rows
// its cells name, and cells count from row 0 without gaps; cells of nested
// tables count for their own table.
inline ::testing::AssertionResult TablesConsistent(const std::vector<Rec>& recs) {
  struct Table {
    int declared = -1;
    int rows = 0;
  };
  std::vector<Table> stack;
  int pendingRows = -1;
  for (size_t i = 0; i < recs.size(); ++i) {
    const Rec& r = recs[i];
    if (r.sig == 0xFFFB && r.bytes.size() > 8) pendingRows = r.bytes[8];
    if (r.sig == 163 || r.sig == 207) {
      stack.push_back({pendingRows, 0});
      pendingRows = -1;
    }
    if ((r.sig == 164 || r.sig == 208) && !stack.empty() && r.bytes.size() > 3) {
      const int row = r.bytes[2];
      if (row > stack.back().rows)
        return ::testing::AssertionFailure() << "cell of row " << row + 1 << " at record " << i + 1
                                             << " after " << stack.back().rows << " rows";
      if (row == stack.back().rows) ++stack.back().rows;
    }
    if (r.sig == 165 || r.sig == 209) {
      if (stack.empty()) return ::testing::AssertionFailure() << "table end without a table";
      if (stack.back().declared >= 0 && stack.back().declared != stack.back().rows)
        return ::testing::AssertionFailure()
               << "table ending at record " << i + 1 << " declares " << stack.back().declared
               << " rows and has " << stack.back().rows;
      stack.pop_back();
    }
  }
  if (!stack.empty()) return ::testing::AssertionFailure() << "table left open";
  return ::testing::AssertionSuccess();
}

// Records [from, to) of both lists are byte-identical.
inline ::testing::AssertionResult SameRecords(const std::vector<Rec>& a, size_t aFrom,
                                              const std::vector<Rec>& b, size_t bFrom,
                                              size_t count) {
  if (aFrom + count > a.size() || bFrom + count > b.size())
    return ::testing::AssertionFailure() << "range past the records";
  for (size_t i = 0; i < count; ++i)
    if (a[aFrom + i].bytes != b[bFrom + i].bytes)
      return ::testing::AssertionFailure() << "record " << aFrom + i + 1 << " / " << bFrom + i + 1
                                           << " differs";
  return ::testing::AssertionSuccess();
}

// A document of the corpus (or a fresh one) with one item bound.
class Doc {
 public:
  Doc() = default;
  Doc(const Doc&) = delete;
  Doc& operator=(const Doc&) = delete;
  ~Doc() { Close(); }

  void Close() {
    chunks_.clear();
    item_.reset();
    session_.reset();
    if (note) NnNoteClose(note);
    if (db) NnDbClose(db);
    note = db = 0;
  }

  // Opens a corpus file and the first note holding `itemName`; false (and
  // the test skipped) when the corpus is absent.
  bool OpenCorpus(const std::string& relative, const std::string& itemName) {
    const std::string root = kvtest::CorpusDir();
    const std::string path = root + "/dxl/" + relative;
    if (root.empty() || !std::filesystem::exists(path)) return false;
    return OpenFile(path, itemName);
  }

  bool OpenFile(const std::string& path, const std::string& itemName) {
    Close();
    itemName_ = itemName;
    if (NnDbOpen(path.c_str(), 0, &db) != NN_OK) return false;
    for (uint32_t i = 0; i < NnDbNoteCount(db) && !note; ++i) {
      NOTEID id = 0;
      NnHandle h = 0;
      if (NnDbNoteIdAt(db, i, &id) != NN_OK || NnNoteOpen(db, id, 0, &h) != NN_OK) continue;
      NnBlockId it, value;
      uint16_t type = 0;
      uint32_t len = 0;
      if (NnItemInfo(h, itemName.c_str(), uint16_t(itemName.size()), &it, &type, &value, &len) ==
              NN_OK &&
          type == NN_TYPE_COMPOSITE)
        note = h;
      else
        NnNoteClose(h);
    }
    if (!note) return false;
    return Bind();
  }

  // A fresh in-memory document whose item holds the records.
  bool OpenBuilt(const std::vector<Bytes>& records, const std::string& itemName = "Body") {
    static int counter = 0;
    Close();
    itemName_ = itemName;
    const std::string path = "mem-rewrite-" + std::to_string(++counter) + ".nsf";
    if (NnDbOpen(path.c_str(), NN_DB_CREATE, &db) != NN_OK) return false;
    if (NnNoteCreate(db, NN_CLASS_DOCUMENT, &note) != NN_OK) return false;
    const Bytes data = Join(records);
    if (NnItemAppend(note, 0, itemName.c_str(), uint16_t(itemName.size()), NN_TYPE_COMPOSITE,
                     data.data(), uint32_t(data.size())) != NN_OK)
      return false;
    return Bind();
  }

  bool Bind() {
    session_ = std::make_unique<LSXLsiSession>();
    item_ = std::make_unique<TorvoRTItem>(session_.get());
    return item_->ConnectBackend(db, note, itemName_.c_str()) == NN_OK;
  }

  TorvoRTChunk* Define(const std::string& definition) {
    TorvoRTChunk* c = item_->DefineChunk(definition.c_str());
    if (c) chunks_.emplace_back(c);
    return c;
  }

  // The stored records of the bound item.
  std::vector<Rec> Records() {
    Bytes out;
    NnBlockId it, value;
    uint16_t type = 0;
    uint32_t len = 0;
    NnStatus st = NnItemInfo(note, itemName_.c_str(), uint16_t(itemName_.size()), &it, &type,
                             &value, &len);
    while (st == NN_OK) {
      const uint8_t* p = static_cast<const uint8_t*>(NnBlockLock(value));
      if (p && len >= 2) out.insert(out.end(), p + 2, p + len);
      NnBlockUnlock(value);
      NnBlockId prev = it;
      st = NnItemInfoNext(note, prev, itemName_.c_str(), uint16_t(itemName_.size()), &it, &type,
                          &value, &len);
    }
    return Split(out);
  }

  // Saves the database, opens the saved DXL, checks the reloaded item holds
  // the same records and renders it to XHTML that parses. Returns the page.
  std::string ReloadAndRender() {
    const std::vector<Rec> before = Records();
    EXPECT_EQ(NnNoteUpdate(note, 0), NN_OK);
    const std::string dir = kvtest::MakeTempDir();
    const std::string saved = dir + "/saved.dxl";
    EXPECT_EQ(NnDbSaveDxl(db, saved.c_str()), NN_OK);
    Doc reloaded;
    std::string page;
    if (!reloaded.OpenFile(saved, itemName_)) {
      ADD_FAILURE() << "saved DXL does not reload";
    } else {
      const std::vector<Rec> after = reloaded.Records();
      EXPECT_EQ(Signatures(after), Signatures(before));
      EXPECT_TRUE(SameRecords(after, 0, before, 0, std::min(after.size(), before.size())));
      TorvoRTChunk* all = reloaded.Define("");
      char* text = nullptr;
      uint32_t length = 0;
      EXPECT_EQ(all->GenerateXML(nullptr, "", &text, &length), NN_OK);
      if (text) {
        page.assign(text, length);
        PoolFree(reloaded.session_.get(), text);
        xmlDocPtr doc = xmlReadMemory(page.data(), int(page.size()), "page.xhtml", nullptr,
                                      XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
        EXPECT_NE(doc, nullptr) << "XHTML does not parse";
        if (doc) xmlFreeDoc(doc);
      }
      reloaded.Close();
    }
    kvtest::RemoveTree(dir);
    return page;
  }

  // The checks every write passes.
  void ExpectSound() {
    const std::vector<Rec> recs = Records();
    EXPECT_TRUE(Balanced(recs));
    EXPECT_TRUE(TablesConsistent(recs));
  }

  std::unique_ptr<LSXLsiSession> session_;
  std::unique_ptr<TorvoRTItem> item_;
  std::vector<std::unique_ptr<TorvoRTChunk>> chunks_;
  std::string itemName_;
  NnHandle db = 0, note = 0;
};

class RewriteDoc : public ::testing::Test, public Doc {
 protected:
  void TearDown() override { Close(); }
};

}  // namespace enginetest
