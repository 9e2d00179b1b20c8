// Attachment and database helpers on a note built through the platform API.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "host/base64.h"
#include "host/noteops.h"

using namespace kv;

namespace {

class NoteOps : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = "noteops_attach_" + std::string(::testing::UnitTest::GetInstance()
                                                ->current_test_info()->name()) + ".nsf";
    if (NnDbOpen(path_.c_str(), NN_DB_CREATE, &db_) != NN_OK) GTEST_SKIP() << "no store yet";
    if (NnNoteCreate(db_, NN_CLASS_DOCUMENT, &note_) != NN_OK) GTEST_SKIP() << "no notes yet";
    data_ = "attachment bytes: \x01\x02\x03 and more";
    if (NnNoteAttachData(note_, "Report.PDF", data_.data(), uint32_t(data_.size())) != NN_OK ||
        NnNoteAttachData(note_, "notes.txt", "hi", 2) != NN_OK)
      GTEST_SKIP() << "no attachments yet";
    NnBlockId item;
    if (NnItemInfo(note_, "$FILE", 5, &item, nullptr, nullptr, nullptr) != NN_OK)
      GTEST_SKIP() << "no item walk yet";
    NnFileObject fo{};
    if (NoteFindAttachmentInfo(note_, "notes.txt", nullptr, nullptr, &fo) != NN_OK)
      GTEST_SKIP() << "no file objects yet";
  }
  void TearDown() override {
    if (note_) NnNoteClose(note_);
    if (db_) NnDbClose(db_);
  }
  std::string path_;
  std::string data_;
  NnHandle db_ = 0;
  NnHandle note_ = 0;
};

}  // namespace

TEST_F(NoteOps, FindByNameCopiesStoredSpelling) {
  char buf[64];
  ASSERT_EQ(NoteFindAttachmentName(note_, "report.pdf", 0, buf, sizeof buf), NN_OK);
  EXPECT_STREQ(buf, "Report.PDF");
  EXPECT_EQ(NoteFindAttachmentName(note_, "report", 0, buf, sizeof buf), NN_ERR_ITEM_NOT_FOUND);
  // Too small a buffer is refused and left alone.
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(NoteFindAttachmentName(note_, "REPORT.PDF", 0, buf, 10), NN_ERR_MEMORY);
  EXPECT_EQ(buf[0], '#');
  EXPECT_EQ(NoteFindAttachmentName(note_, "REPORT.PDF", 0, buf, 11), NN_OK);
  EXPECT_EQ(NoteFindAttachmentName(note_, "notes.txt", 0, nullptr, 0), NN_OK);
  EXPECT_NE(NoteFindAttachmentName(0, "notes.txt", 0, buf, sizeof buf), NN_OK);
}

TEST_F(NoteOps, DisplayNameAndInfo) {
  EXPECT_NE(NoteFindAttachmentByDisplayName(note_, "REPORT.pdf", 0, 1), 0);
  EXPECT_EQ(NoteFindAttachmentByDisplayName(note_, "REPORT.pdf", 0, 0), 0);
  EXPECT_NE(NoteFindAttachmentByDisplayName(note_, "Report.PDF", 0, 0), 0);
  EXPECT_EQ(NoteFindAttachmentByDisplayName(note_, "other", 0, 1), 0);

  NnBlockId item, value;
  NnFileObject fo{};
  ASSERT_EQ(NoteFindAttachmentInfo(note_, "Report.PDF", &item, &value, &fo), NN_OK);
  EXPECT_EQ(fo.fileNameLength, 10u);
  EXPECT_EQ(fo.fileSize, data_.size());
  EXPECT_NE(item.index, 0u);
  EXPECT_TRUE(value.value);
  // Same length and bytes: case and prefixes do not match.
  EXPECT_NE(NoteFindAttachmentInfo(note_, "report.pdf", &item, nullptr, nullptr), NN_OK);
  EXPECT_NE(NoteFindAttachmentInfo(note_, "Report.PD", &item, nullptr, nullptr), NN_OK);
  // Nothing asked, or nothing to look in: 0.
  EXPECT_EQ(NoteFindAttachmentInfo(note_, "none", nullptr, nullptr, nullptr), NN_OK);
  EXPECT_EQ(NoteFindAttachmentInfo(0, "none", &item, nullptr, nullptr), NN_OK);
}

TEST_F(NoteOps, SizesAndBase64) {
  uint32_t size = 0;
  ASSERT_EQ(NoteGetAttachmentSize(db_, note_, "report.pdf", &size, 0), NN_OK);
  EXPECT_EQ(size, data_.size());
  EXPECT_NE(NoteGetAttachmentSize(db_, note_, "missing", &size, 0), NN_OK);
  // The stored object exists once the note is stored.
  if (NnNoteUpdate(note_, 0) == NN_OK) {
    size = 0;
    ASSERT_EQ(NoteGetAttachmentSize(db_, note_, "report.pdf", &size, 1), NN_OK);
    EXPECT_EQ(size, data_.size());
    // Without a database handle the note's own database is used.
    size = 0;
    ASSERT_EQ(NoteGetAttachmentSize(0, note_, "report.pdf", &size, 1), NN_OK);
    EXPECT_EQ(size, data_.size());
  }

  std::string expect = Base64Encode(data_.data(), data_.size());
  char out[128];
  uint32_t n = AttachmentToBase64(note_, out, sizeof out, "REPORT.PDF", 0);
  ASSERT_EQ(n, expect.size());
  EXPECT_EQ(std::string(out, n), expect);
  // Too small, or missing: 0 and an empty text.
  EXPECT_EQ(AttachmentToBase64(note_, out, uint32_t(expect.size()), "REPORT.PDF", 0), 0u);
  EXPECT_STREQ(out, "");
  EXPECT_EQ(AttachmentToBase64(note_, out, sizeof out, "missing", 0), 0u);
}

TEST(NoteOpsDatabase, OpenByNameReportsFailures) {
  NnLogClear();
  NnHandle h = 77;
  EXPECT_EQ(OpenDatabaseByNameCore("", "", &h), NN_ERR_INVALID_ARG);
  EXPECT_EQ(OpenDatabaseByNameCore(nullptr, nullptr, &h), NN_ERR_INVALID_ARG);
  std::string longServer(300, 's');
  EXPECT_EQ(OpenDatabaseByNameCore(longServer.c_str(), "a.nsf", &h), NN_ERR_INVALID_ARG);
  EXPECT_EQ(OpenDatabaseByNameCore("", "no/such/noteops.nsf", &h), NN_ERR_INVALID_ARG);
  EXPECT_EQ(h, 77u);
  std::string log = NnLogCaptured();
  if (log.empty()) GTEST_SKIP() << "no log capture yet";
  EXPECT_NE(log.find("ZELKO: Invalid database name"), std::string::npos);
  EXPECT_NE(log.find("ZELKO: Invalid server-database name"), std::string::npos);
  EXPECT_NE(log.find("ZELKO: Unable to open database."), std::string::npos);
}

TEST(NoteOpsDatabase, OpenDbAndNoteThenClose) {
  NnHandle db = 0;
  if (NnDbOpen("noteops_open.nsf", NN_DB_CREATE, &db) != NN_OK) GTEST_SKIP() << "no store yet";
  NnHandle note = 0;
  NOTEID id = 0;
  if (NnNoteCreate(db, NN_CLASS_FORM, &note) != NN_OK || NnNoteUpdate(note, 0) != NN_OK ||
      NnNoteGetInfo(note, NN_NOTE_INFO_ID, &id) != NN_OK)
    GTEST_SKIP() << "no notes yet";
  NnNoteClose(note);
  NnHandle hDb = 0, hNote = 0;
  // The database stays open above, so the path reaches the same one.
  ASSERT_EQ(OpenDbAndDesignNote("", "noteops_open.nsf", id, &hDb, &hNote), NN_OK);
  EXPECT_NE(hDb, 0u);
  EXPECT_NE(hNote, 0u);
  CloseNoteAndDatabase(hNote, hDb);
  EXPECT_NE(OpenDbAndDesignNote("", "noteops_open.nsf", id + 4000, &hDb, &hNote), NN_OK);
  EXPECT_EQ(hDb, 0u);
  EXPECT_EQ(hNote, 0u);
  CloseNoteAndDatabase(0, 0);
  NnDbClose(db);
}
