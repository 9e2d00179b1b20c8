// The view look-up of the matching operations: a missing view, the
// collected selection table and the documents of one key.
#include <gtest/gtest.h>

#include <cstring>
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

// A view whose selection the platform compiled cannot be evaluated here: its
// lookups take every document with the key, and each says so through the
// session's message routine. A selection it can evaluate says nothing.
TEST_F(MatchViews, CompiledSelectionsSelectEveryDocumentAndSaySo) {
  const NOTEID post = Add(NN_CLASS_DOCUMENT, {{"Form", "Post"}, {"Key", "7"}});
  const NOTEID comment = Add(NN_CLASS_DOCUMENT, {{"Form", "Comment"}, {"Key", "7"}});
  const uint8_t compiled[] = {0xE6, 0x00, 0x02, 0x00, 0x0C, 0x00, 0x02, 0x00};  // the platform's own form
  for (const char* view : {"Comments", "Posts", "Odd"}) {
    NnHandle h = 0;
    ASSERT_EQ(NnNoteCreate(db, NN_CLASS_VIEW, &h), NN_OK);
    NnItemSetText(h, "$TITLE", view, uint16_t(std::strlen(view)));
    NnItemSetText(h, "$KeyColumn", "Key", 3);
    NnItemAppend(h, 0, "$Formula", 8, NN_TYPE_FORMULA, compiled, sizeof compiled);
    if (std::string(view) == "Posts") NnItemSetText(h, "$SelectionFormula", "SELECT Form = \"Post\"", 20);
    if (std::string(view) == "Odd") NnItemSetText(h, "$SelectionFormula", "@IsResponseDoc = 0", 18);
    ASSERT_EQ(NnNoteUpdate(h, 0), NN_OK);
    NnNoteClose(h);
  }
  Lines m;
  session.SetMessageProc(Lines::Proc, &m);
  auto lookup = [&](const char* view) {
    std::vector<NOTEID> ids;
    NnHandle table = 0;
    EXPECT_EQ(FindViewAndCompileSelection(&session, db, view, "7", 0, &table, 0), NN_OK) << view;
    NOTEID id = 0;
    for (bool first = true; table && NnIdTableScan(table, first, &id); first = false) ids.push_back(id);
    if (table) NnIdTableFree(table);
    return ids;
  };
  const std::string said = "ZELKO: View 'Comments': its selection is not evaluated; every document is taken as selected";
  EXPECT_EQ(lookup("Comments"), (std::vector<NOTEID>{post, comment}));
  EXPECT_EQ(lookup("Comments"), (std::vector<NOTEID>{post, comment}));
  EXPECT_EQ(m.lines, (std::vector<std::string>{said, said}));
  // Collecting the view's documents for link matching says it too.
  ASSERT_EQ(FindViewAndCompileSelection(&session, db, "Comments", nullptr, 0, nullptr, 1), NN_OK);
  EXPECT_EQ(m.lines.size(), 3u);
  m.lines.clear();
  EXPECT_EQ(lookup("Posts"), std::vector<NOTEID>{post});
  EXPECT_TRUE(m.lines.empty());
  // A selection that reaches a function not evaluated here falls back the same way.
  EXPECT_EQ(lookup("Odd"), (std::vector<NOTEID>{post, comment}));
  ASSERT_EQ(m.lines.size(), 1u);
  EXPECT_NE(m.lines[0].find("View 'Odd': its selection is not evaluated"), std::string::npos);
  session.SetMessageProc(nullptr, nullptr);
}

}  // namespace
