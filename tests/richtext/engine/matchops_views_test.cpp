// The view look-up of the matching operations: a missing view, the
// collected selection table and the documents of one key.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "collection.h"
#include "lsxsessi.h"
#include "nn/nn.h"

namespace {

struct Lines {
  std::vector<std::string> lines;
  static void Proc(void* c, const char* t) { static_cast<Lines*>(c)->lines.push_back(t); }
};

class MatchViews : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(NnDbOpen("mem-matchops-views.nsf", NN_DB_CREATE, &db), NN_OK);
  }
  void TearDown() override {
    FreeSelectionTable();
    NnDbClose(db);
  }
  NOTEID Add(uint16_t cls, const std::vector<std::pair<std::string, std::string>>& items) {
    NnHandle h = 0;
    EXPECT_EQ(NnNoteCreate(db, cls, &h), NN_OK);
    for (const auto& [n, v] : items)
      EXPECT_EQ(NnItemSetText(h, n.c_str(), v.data(), uint16_t(v.size())), NN_OK);
    EXPECT_EQ(NnNoteUpdate(h, 0), NN_OK);
    NOTEID id = 0;
    NnNoteGetInfo(h, NN_NOTE_INFO_ID, &id);
    NnNoteClose(h);
    return id;
  }
  LSXLsiSession session;
  NnHandle db = 0;
};

TEST_F(MatchViews, MissingViewIsReportedAndGivesNoTable) {
  Lines m;
  session.SetMessageProc(Lines::Proc, &m);
  NnHandle table = 99;
  EXPECT_EQ(FindViewAndCompileSelection(&session, db, "Nowhere", "k", 0, &table, 1),
            NN_ERR_NOT_FOUND);
  EXPECT_EQ(table, 0u);
  ASSERT_EQ(m.lines.size(), 1u);
  EXPECT_EQ(m.lines[0], "ZELKO: View 'Nowhere' not found");
  EXPECT_EQ(FindViewAndCompileSelection(&session, 0, "Keys", nullptr, 0, nullptr, 1),
            NN_ERR_INVALID_ARG);
}

TEST_F(MatchViews, CollectsDocumentsAndFindsKeys) {
  NOTEID a = Add(NN_CLASS_DOCUMENT, {{"Subject", "Alpha"}});
  NOTEID b = Add(NN_CLASS_DOCUMENT, {{"Subject", "Beta"}});
  Add(NN_CLASS_VIEW, {{"$TITLE", "Keys|KeyAlias"}, {"$KeyColumn", "Subject"}});
  ASSERT_EQ(FindViewAndCompileSelection(&session, db, "keyalias", nullptr, 0, nullptr, 1), NN_OK);
  ASSERT_NE(SelectionTable(), 0u);
  EXPECT_EQ(NnIdTableEntries(SelectionTable()), 2u);

  NnHandle table = 0;
  ASSERT_EQ(FindViewAndCompileSelection(&session, db, "Keys", "beta", 0, &table, 0), NN_OK);
  ASSERT_NE(table, 0u);
  NOTEID id = 0;
  ASSERT_TRUE(NnIdTableScan(table, true, &id));
  EXPECT_EQ(id, b);
  EXPECT_NE(id, a);
  NnIdTableFree(table);

  EXPECT_EQ(FindViewAndCompileSelection(&session, db, "Keys", "Gamma", 0, &table, 0),
            NN_ERR_NOT_FOUND);
  EXPECT_EQ(table, 0u);
  // The collected table stays until it is freed.
  EXPECT_EQ(NnIdTableEntries(SelectionTable()), 2u);
  FreeSelectionTable();
  EXPECT_EQ(SelectionTable(), 0u);
}

}  // namespace
