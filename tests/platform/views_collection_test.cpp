// Views: selection, keys, sorting and lookups by key.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "nn/nn.h"
#include "support/testutil.h"

namespace {

std::vector<NOTEID> ids(NnHandle table) {
  std::vector<NOTEID> out;
  NOTEID id = 0;
  for (bool first = true; NnIdTableScan(table, first, &id); first = false) out.push_back(id);
  NnIdTableFree(table);
  return out;
}

bool formulasWork() {
  NnHandle h = 0;
  uint16_t len = 0, off = 0, elen = 0;
  if (NnFormulaCompile("1", 1, &h, &len, &off, &elen) != NN_OK) return false;
  NnMemFree(h);
  return true;
}

class Views : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string path = std::string("views-") +
                       ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".nsf";
    ASSERT_EQ(NnDbOpen(path.c_str(), NN_DB_CREATE, &db_), NN_OK);
  }
  void TearDown() override {
    if (db_) NnDbClose(db_);
  }

  // A note with text items name=value.
  NOTEID add(uint16_t noteClass, const std::vector<std::pair<std::string, std::string>>& items) {
    NnHandle h = 0;
    EXPECT_EQ(NnNoteCreate(db_, noteClass, &h), NN_OK);
    for (const auto& [name, value] : items)
      EXPECT_EQ(NnItemSetText(h, name.c_str(), value.data(), uint16_t(value.size())), NN_OK);
    EXPECT_EQ(NnNoteUpdate(h, 0), NN_OK);
    NOTEID id = 0;
    EXPECT_EQ(NnNoteGetInfo(h, NN_NOTE_INFO_ID, &id), NN_OK);
    NnNoteClose(h);
    return id;
  }

  NnHandle db_ = 0;
};

TEST_F(Views, WithoutFormulasEveryDocumentHasTheEmptyKey) {
  NOTEID a = add(NN_CLASS_DOCUMENT, {{"Subject", "a"}});
  NOTEID b = add(NN_CLASS_DOCUMENT, {{"Subject", "b"}});
  add(NN_CLASS_FORM, {{"$TITLE", "Form"}});
  NOTEID view = add(NN_CLASS_VIEW, {{"$TITLE", "All"}});
  NnHandle c = 0;
  ASSERT_EQ(NnViewOpen(db_, view, &c), NN_OK);
  NnHandle t = 0;
  ASSERT_EQ(NnCollectionGetIds(c, &t), NN_OK);
  EXPECT_EQ(ids(t), (std::vector<NOTEID>{a, b}));
  ASSERT_EQ(NnCollectionFindByKey(c, "", &t), NN_OK);
  EXPECT_EQ(ids(t), (std::vector<NOTEID>{a, b}));
  t = 0;
  EXPECT_EQ(NnCollectionFindByKey(c, "a", &t), NN_ERR_NOT_FOUND);
  EXPECT_EQ(t, 0u);
  EXPECT_EQ(NnCollectionClose(c), NN_OK);
  EXPECT_EQ(NnCollectionClose(c), NN_ERR_BAD_HANDLE);
  EXPECT_EQ(NnCollectionGetIds(c, &t), NN_ERR_BAD_HANDLE);
}

TEST_F(Views, CollectionIsASnapshot) {
  NOTEID a = add(NN_CLASS_DOCUMENT, {});
  NOTEID view = add(NN_CLASS_VIEW, {});
  NnHandle c = 0;
  ASSERT_EQ(NnViewOpen(db_, view, &c), NN_OK);
  add(NN_CLASS_DOCUMENT, {});
  NnHandle t = 0;
  ASSERT_EQ(NnCollectionGetIds(c, &t), NN_OK);
  EXPECT_EQ(ids(t), std::vector<NOTEID>{a});
  // It outlives the database handle it came from.
  NnDbClose(db_);
  db_ = 0;
  ASSERT_EQ(NnCollectionGetIds(c, &t), NN_OK);
  EXPECT_EQ(ids(t), std::vector<NOTEID>{a});
  NnCollectionClose(c);
}

TEST_F(Views, RefusesWhatIsNotAnOpenView) {
  NOTEID doc = add(NN_CLASS_DOCUMENT, {});
  NnHandle c = 0;
  EXPECT_EQ(NnViewOpen(db_, doc, &c), NN_ERR_NOT_FOUND);
  EXPECT_EQ(NnViewOpen(db_, 0x7FFFFF0, &c), NN_ERR_NOTE_NOT_FOUND);
  EXPECT_EQ(NnViewOpen(0x02FFFFFF, doc, &c), NN_ERR_BAD_HANDLE);
  EXPECT_EQ(NnViewOpen(db_, doc, nullptr), NN_ERR_INVALID_ARG);
  NnHandle t = 0;
  NnHandle idTable = 0;
  ASSERT_EQ(NnIdTableCreate(&idTable), NN_OK);
  // A handle of another kind is not a collection.
  EXPECT_EQ(NnCollectionGetIds(idTable, &t), NN_ERR_BAD_HANDLE);
  EXPECT_EQ(NnCollectionClose(idTable), NN_ERR_BAD_HANDLE);
  EXPECT_EQ(NnCollectionFindByKey(0x05FFFFFF, "k", &t), NN_ERR_BAD_HANDLE);
  NnIdTableFree(idTable);
}

TEST_F(Views, SelectionAndKeysFromFormulas) {
  if (!formulasWork()) GTEST_SKIP() << "formula engine not available";
  NOTEID pear = add(NN_CLASS_DOCUMENT, {{"Form", "Fruit"}, {"Name", "pear"}});
  NOTEID apple = add(NN_CLASS_DOCUMENT, {{"Form", "Fruit"}, {"Name", "Apple"}});
  add(NN_CLASS_DOCUMENT, {{"Form", "Veg"}, {"Name", "apple"}});
  NOTEID apple2 = add(NN_CLASS_DOCUMENT, {{"Form", "Fruit"}, {"Name", "APPLE"}});
  NOTEID view = add(NN_CLASS_VIEW, {{"$SelectionFormula", "  select Form = \"Fruit\""},
                                    {"$KeyColumn", "Name"}});
  NnHandle c = 0;
  ASSERT_EQ(NnViewOpen(db_, view, &c), NN_OK);
  NnHandle t = 0;
  ASSERT_EQ(NnCollectionGetIds(c, &t), NN_OK);
  EXPECT_EQ(ids(t), (std::vector<NOTEID>{pear, apple, apple2}));
  ASSERT_EQ(NnCollectionFindByKey(c, "apple", &t), NN_OK);
  EXPECT_EQ(ids(t), (std::vector<NOTEID>{apple, apple2}));
  ASSERT_EQ(NnCollectionFindByKey(c, "PEAR", &t), NN_OK);
  EXPECT_EQ(ids(t), std::vector<NOTEID>{pear});
  EXPECT_EQ(NnCollectionFindByKey(c, "appl", &t), NN_ERR_NOT_FOUND);
  NnCollectionClose(c);
}

TEST_F(Views, NumberKeysAndTextSelection) {
  if (!formulasWork()) GTEST_SKIP() << "formula engine not available";
  NOTEID a = add(NN_CLASS_DOCUMENT, {{"Pick", "yes"}});
  add(NN_CLASS_DOCUMENT, {{"Pick", ""}});
  NOTEID view = add(NN_CLASS_VIEW, {{"$SelectionFormula", "SELECT Pick"}, {"$KeyColumn", "2.5"}});
  NnHandle c = 0;
  ASSERT_EQ(NnViewOpen(db_, view, &c), NN_OK);
  NnHandle t = 0;
  ASSERT_EQ(NnCollectionFindByKey(c, "2.5", &t), NN_OK);
  EXPECT_EQ(ids(t), std::vector<NOTEID>{a});
  NnCollectionClose(c);
}

TEST_F(Views, ListKeyListsTheDocumentUnderEachValue) {
  if (!formulasWork()) GTEST_SKIP() << "formula engine not available";
  NOTEID a = add(NN_CLASS_DOCUMENT, {});
  NOTEID view = add(NN_CLASS_VIEW, {{"$SelectionFormula", "SELECT @All"},
                                    {"$KeyColumn", "\"x\" : \"Y\""}});
  NnHandle c = 0;
  ASSERT_EQ(NnViewOpen(db_, view, &c), NN_OK);
  NnHandle t = 0;
  for (const char* key : {"X", "y"}) {
    ASSERT_EQ(NnCollectionFindByKey(c, key, &t), NN_OK) << key;
    EXPECT_EQ(ids(t), std::vector<NOTEID>{a});
  }
  ASSERT_EQ(NnCollectionGetIds(c, &t), NN_OK);
  EXPECT_EQ(ids(t), std::vector<NOTEID>{a});
  NnCollectionClose(c);
}

TEST_F(Views, SyntaxErrorFailsTheOpenAndLeaksNothing) {
  if (!formulasWork()) GTEST_SKIP() << "formula engine not available";
  add(NN_CLASS_DOCUMENT, {});
  NOTEID view = add(NN_CLASS_VIEW, {{"$SelectionFormula", "SELECT (1"}});
  size_t before = NnMemLiveCount();
  NnHandle c = 0;
  EXPECT_NE(NnViewOpen(db_, view, &c), NN_OK);
  EXPECT_EQ(NnMemLiveCount(), before);
}

// Views exported from the platform carry no "$KeyColumn": their sorted column
// comes from the collation, and a lookup by key finds the documents whose
// item of that column holds the key.
class ExportedViews : public ::testing::Test {
 protected:
  // False when the corpus (or the file) is absent: the caller skips.
  [[nodiscard]] bool Open(const std::string& relative) {
    const std::string corpus = kvtest::CorpusDir();
    const std::string text = corpus.empty() ? "" : kvtest::ReadFile(corpus + "/dxl/" + relative);
    if (text.empty()) return false;
    dir_ = kvtest::MakeTempDir();
    const std::string copy = dir_ + "/view.dxl";  // a copy: documents are added to it
    kvtest::WriteFile(copy, text);
    EXPECT_EQ(NnDbOpen(copy.c_str(), 0, &db_), NN_OK);
    EXPECT_EQ(NnDbNoteIdAt(db_, 0, &view_), NN_OK);
    return true;
  }
  void TearDown() override {
    if (db_) NnDbClose(db_);
    if (!dir_.empty()) kvtest::RemoveTree(dir_);
  }
  NOTEID Add(const std::string& item, const std::string& value) {
    NnHandle h = 0;
    EXPECT_EQ(NnNoteCreate(db_, NN_CLASS_DOCUMENT, &h), NN_OK);
    EXPECT_EQ(NnItemSetText(h, item.c_str(), value.data(), uint16_t(value.size())), NN_OK);
    EXPECT_EQ(NnNoteUpdate(h, 0), NN_OK);
    NOTEID id = 0;
    EXPECT_EQ(NnNoteGetInfo(h, NN_NOTE_INFO_ID, &id), NN_OK);
    NnNoteClose(h);
    return id;
  }
  std::vector<NOTEID> Find(const char* key) {
    NnHandle c = 0, found = 0;
    EXPECT_EQ(NnViewOpen(db_, view_, &c), NN_OK);
    std::vector<NOTEID> out;
    if (NnCollectionFindByKey(c, key, &found) == NN_OK) out = ids(found);
    NnCollectionClose(c);
    return out;
  }
  std::vector<NOTEID> All() {
    NnHandle c = 0, all = 0;
    EXPECT_EQ(NnViewOpen(db_, view_, &c), NN_OK);
    std::vector<NOTEID> out;
    if (NnCollectionGetIds(c, &all) == NN_OK) out = ids(all);
    NnCollectionClose(c);
    return out;
  }

  std::string dir_;
  NnHandle db_ = 0;
  NOTEID view_ = 0;
};

TEST_F(ExportedViews, KeyLookupReadsTheSortedColumn) {
  if (!formulasWork()) GTEST_SKIP() << "no formula engine";
  // The view is sorted by its "Title" column.
  if (!Open("ukl/Views/Sessions.view")) GTEST_SKIP() << "not in the corpus";
  const NOTEID intro = Add("Title", "Introduction");
  const NOTEID wrap = Add("Title", "Wrap-up");
  const NOTEID intro2 = Add("Title", "introduction");
  EXPECT_EQ(Find("Introduction"), (std::vector<NOTEID>{intro, intro2}));
  EXPECT_EQ(Find("Wrap-up"), std::vector<NOTEID>{wrap});
  EXPECT_TRUE(Find("Keynote").empty());
}

TEST_F(ExportedViews, FirstSortKeyDecidesEvenWhenCategorised) {
  if (!formulasWork()) GTEST_SKIP() << "no formula engine";
  // A "Level" category, then "Name".
  if (!Open("ukl/Views/Sponsors_By_Level.view")) GTEST_SKIP() << "not in the corpus";
  const NOTEID gold = Add("Level", "Gold");
  Add("Level", "Silver");
  EXPECT_EQ(Find("gold"), std::vector<NOTEID>{gold});
}

TEST_F(ExportedViews, ComputedKeyColumnsGiveNoKey) {
  // Sorted by the computed column "$0".
  if (!Open("ukl/Views/Votes.view")) GTEST_SKIP() << "not in the corpus";
  const NOTEID a = Add("Subject", "x");
  EXPECT_TRUE(Find("x").empty());
  EXPECT_EQ(All(), std::vector<NOTEID>{a});  // the documents are still listed
}

}  // namespace
