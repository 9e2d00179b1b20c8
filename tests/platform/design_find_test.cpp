// Finding design notes by title and alias.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "nn/nn.h"
#include "support/testutil.h"

namespace {

class DesignFind : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string path = std::string("design-find-") +
                       ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".nsf";
    ASSERT_EQ(NnDbOpen(path.c_str(), NN_DB_CREATE, &db_), NN_OK);
  }
  void TearDown() override {
    if (db_) NnDbClose(db_);
  }

  // A note of the class with the given $TITLE entries (one entry: a text item).
  NOTEID add(uint16_t noteClass, const std::vector<std::string>& titles) {
    NnHandle h = 0;
    EXPECT_EQ(NnNoteCreate(db_, noteClass, &h), NN_OK);
    if (titles.size() == 1) {
      EXPECT_EQ(NnItemSetText(h, "$TITLE", titles[0].data(), uint16_t(titles[0].size())), NN_OK);
    } else {
      for (const std::string& t : titles)
        EXPECT_EQ(NnItemAppendTextList(h, "$TITLE", t.data(), uint16_t(t.size()), true), NN_OK);
    }
    EXPECT_EQ(NnNoteUpdate(h, 0), NN_OK);
    NOTEID id = 0;
    EXPECT_EQ(NnNoteGetInfo(h, NN_NOTE_INFO_ID, &id), NN_OK);
    NnNoteClose(h);
    return id;
  }

  NnStatus find(uint16_t noteClass, const char* name, NOTEID* out) {
    return NnDesignFindByNameFlags(db_, noteClass, name, uint16_t(std::strlen(name)), "-G40n^", out);
  }

  NnHandle db_ = 0;
};

TEST_F(DesignFind, TitlesAliasesCaseAndBlanks) {
  NOTEID main = add(NN_CLASS_VIEW, {"Main View|MainAlias | other"});
  NOTEID listed = add(NN_CLASS_VIEW, {"First", "(Lookup)|lk"});
  NOTEID id = 0;
  for (const char* name : {"Main View", "main view", "MAINALIAS", "other", "  Main View ",
                           "Main View|MainAlias | other"}) {
    id = 0;
    EXPECT_EQ(find(NN_CLASS_VIEW, name, &id), NN_OK) << name;
    EXPECT_EQ(id, main) << name;
  }
  for (const char* name : {"first", "(lookup)", "LK"}) {
    id = 0;
    EXPECT_EQ(find(NN_CLASS_VIEW, name, &id), NN_OK) << name;
    EXPECT_EQ(id, listed) << name;
  }
  // Parts must match whole.
  for (const char* name : {"Main", "View", "Main ViewX", "", "   ", "|"})
    EXPECT_EQ(find(NN_CLASS_VIEW, name, &id), NN_ERR_NOT_FOUND) << name;
}

TEST_F(DesignFind, ClassSelectsAndFirstInOrderWins) {
  NOTEID form = add(NN_CLASS_FORM, {"Same"});
  NOTEID view1 = add(NN_CLASS_VIEW, {"Same"});
  add(NN_CLASS_VIEW, {"same"});
  add(NN_CLASS_DOCUMENT, {"Doc"});
  NOTEID id = 0;
  ASSERT_EQ(find(NN_CLASS_FORM, "same", &id), NN_OK);
  EXPECT_EQ(id, form);
  ASSERT_EQ(find(NN_CLASS_VIEW, "same", &id), NN_OK);
  EXPECT_EQ(id, view1);
  EXPECT_EQ(find(NN_CLASS_FIELD, "same", &id), NN_ERR_NOT_FOUND);
  EXPECT_EQ(find(NN_CLASS_VIEW, "Doc", &id), NN_ERR_NOT_FOUND);
}

TEST_F(DesignFind, NameLengthBoundsTheName) {
  NOTEID v = add(NN_CLASS_VIEW, {"Abc"});
  NOTEID id = 0;
  ASSERT_EQ(NnDesignFindByNameFlags(db_, NN_CLASS_VIEW, "AbcDEF", 3, nullptr, &id), NN_OK);
  EXPECT_EQ(id, v);
}

TEST_F(DesignFind, MalformedTitleListIsSkipped) {
  NnHandle h = 0;
  ASSERT_EQ(NnNoteCreate(db_, NN_CLASS_VIEW, &h), NN_OK);
  const uint8_t bad[] = {2, 0, 3, 0, 0x40, 0, 'a', 'b', 'c'};  // second length too long
  ASSERT_EQ(NnItemAppend(h, 0, "$TITLE", 6, NN_TYPE_TEXT_LIST, bad, sizeof bad), NN_OK);
  ASSERT_EQ(NnNoteUpdate(h, 0), NN_OK);
  NnNoteClose(h);
  NOTEID good = add(NN_CLASS_VIEW, {"abc"});
  NOTEID id = 0;
  ASSERT_EQ(find(NN_CLASS_VIEW, "abc", &id), NN_OK);
  EXPECT_EQ(id, good);
}

TEST_F(DesignFind, BadArguments) {
  NOTEID id = 0;
  EXPECT_EQ(NnDesignFindByNameFlags(0x02FFFFFF, NN_CLASS_VIEW, "a", 1, nullptr, &id),
            NN_ERR_BAD_HANDLE);
  EXPECT_EQ(NnDesignFindByNameFlags(db_, NN_CLASS_VIEW, "a", 1, nullptr, nullptr),
            NN_ERR_INVALID_ARG);
  EXPECT_EQ(NnDesignFindByNameFlags(db_, NN_CLASS_VIEW, nullptr, 4, nullptr, &id),
            NN_ERR_INVALID_ARG);
}

// A real exported form: found by its title, and its $Info gives the paper colour.
TEST(DesignFindCorpus, FormTitleAndInfoRecord) {
  const std::string corpus = kvtest::CorpusDir();
  std::filesystem::path file = std::filesystem::path(corpus) / "dxl/ukl/Forms/Attendee.form";
  if (corpus.empty() || !std::filesystem::exists(file)) GTEST_SKIP() << "corpus absent";
  NnHandle db = 0;
  ASSERT_EQ(NnDbOpen(file.c_str(), 0, &db), NN_OK) << NnDbLastLoadError();
  NOTEID id = 0;
  ASSERT_EQ(NnDesignFindByNameFlags(db, NN_CLASS_FORM, "attendee", 8, nullptr, &id), NN_OK);
  NnHandle note = 0;
  ASSERT_EQ(NnNoteOpen(db, id, 0, &note), NN_OK);
  NnBlockId value;
  uint32_t len = 0;
  ASSERT_EQ(NnItemInfo(note, "$Info", 5, nullptr, nullptr, &value, &len), NN_OK);
  ASSERT_GE(len, 2u);
  const auto* bytes = static_cast<const uint8_t*>(NnBlockLock(value));
  ASSERT_NE(bytes, nullptr);
  const void* p = bytes + 2;
  NnDocumentRecord d{};
  EXPECT_EQ(NnOdsRead(&p, len - 2, NN_ODS_DOCUMENT, &d), NN_OK);
  NnBlockUnlock(value);
  EXPECT_EQ(d.paperColorRed, 0xff);
  EXPECT_EQ(d.paperColorGreen, 0xff);
  EXPECT_EQ(d.paperColorBlue, 0xff);
  NnNoteClose(note);
  NnDbClose(db);
}

}  // namespace
