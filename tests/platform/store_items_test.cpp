// Notes, items and attachments through the platform calls.
#include <gtest/gtest.h>

#include <cstring>

#include "nn/nn.h"
#include "store.h"
#include "support/testutil.h"

namespace {

class StoreItems : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = kvtest::MakeTempDir();
    path = dir + "/db.nsf";
    ASSERT_EQ(NnDbOpen(path.c_str(), NN_DB_CREATE, &db), NN_OK);
    ASSERT_EQ(NnNoteCreate(db, NN_CLASS_DOCUMENT, &note), NN_OK);
  }
  void TearDown() override {
    NnNoteClose(note);
    NnDbClose(db);
    kvtest::RemoveTree(dir);
  }
  std::string value(NnBlockId v, uint32_t len) {
    const char* p = static_cast<const char*>(NnBlockLock(v));
    return p ? std::string(p, len) : std::string();
  }
  std::string dir, path;
  NnHandle db = 0, note = 0;
};

TEST_F(StoreItems, SegmentsOfOneNameStayInOrder) {
  EXPECT_EQ(NnItemInfo(note, "Body", 4, nullptr, nullptr, nullptr, nullptr), NN_ERR_ITEM_NOT_FOUND);
  const uint8_t seg1[] = {0x81, 0x02}, seg2[] = {0x83, 0x04, 0x01, 0x00};
  ASSERT_EQ(NnItemAppend(note, 0, "Body", 4, NN_TYPE_COMPOSITE, seg1, 2), NN_OK);
  ASSERT_EQ(NnItemAppend(note, 0, "Other", 5, NN_TYPE_TEXT, "x", 1), NN_OK);
  ASSERT_EQ(NnItemAppend(note, NN_ITEM_SIGN, "BODY", 4, NN_TYPE_COMPOSITE, seg2, 4), NN_OK);

  NnBlockId item, v;
  uint16_t type = 0;
  uint32_t len = 0;
  ASSERT_EQ(NnItemInfo(note, "body", 4, &item, &type, &v, &len), NN_OK);
  EXPECT_EQ(type, NN_TYPE_COMPOSITE);
  EXPECT_EQ(value(v, len), std::string("\x01\x00\x81\x02", 4));
  EXPECT_STREQ(static_cast<const char*>(NnBlockLock(item)), "Body");
  NnBlockId second;
  ASSERT_EQ(NnItemInfoNext(note, item, "Body", 4, &second, &type, &v, &len), NN_OK);
  EXPECT_EQ(len, 6u);
  EXPECT_EQ(NnItemInfoNext(note, second, "Body", 4, nullptr, nullptr, nullptr, nullptr),
            NN_ERR_ITEM_NOT_FOUND);

  // Deleting by block removes that segment only.
  ASSERT_EQ(NnItemDeleteByBlock(note, item), NN_OK);
  ASSERT_EQ(NnItemInfo(note, "Body", 4, nullptr, nullptr, &v, &len), NN_OK);
  EXPECT_EQ(len, 6u);
  EXPECT_EQ(NnNoteItemCount(note), 2u);
  EXPECT_EQ(NnItemDelete(note, "Body", 4), NN_OK);
  EXPECT_EQ(NnItemDelete(note, "Body", 4), NN_ERR_ITEM_NOT_FOUND);
  EXPECT_EQ(NnItemDeleteByBlock(note, NnBlockId{note, 9, false}), NN_ERR_INVALID_ARG);
}

TEST_F(StoreItems, OversizedRichTextSegmentIsRefused) {
  std::vector<uint8_t> big(63359, 0);
  EXPECT_EQ(NnItemAppend(note, 0, "Body", 4, NN_TYPE_COMPOSITE, big.data(), uint32_t(big.size())),
            NN_ERR_INVALID_ARG);
  EXPECT_EQ(NnNoteItemCount(note), 0u);
  EXPECT_EQ(NnItemAppend(note, 0, "Body", 4, NN_TYPE_COMPOSITE, big.data(), 63358), NN_OK);
  // Other types have no such limit.
  EXPECT_EQ(NnItemAppend(note, 0, "Big", 3, NN_TYPE_TEXT, big.data(), uint32_t(big.size())), NN_OK);
}

TEST_F(StoreItems, TextListsAndSetters) {
  ASSERT_EQ(NnItemAppendTextList(note, "L", "a", 1, true), NN_OK);
  ASSERT_EQ(NnItemAppendTextList(note, "l", "b", 1, true), NN_OK);
  ASSERT_EQ(NnItemAppendTextList(note, "L", "a", 1, false), NN_OK);  // already there
  ASSERT_EQ(NnItemAppendTextList(note, "L", "a", 1, true), NN_OK);
  char buf[16];
  EXPECT_EQ(NnItemConvertToText(note, "L", buf, sizeof buf, ','), 5);
  EXPECT_STREQ(buf, "a,b,a");
  EXPECT_EQ(NnItemGetText(note, "L", buf, sizeof buf), 1);
  EXPECT_STREQ(buf, "a");
  // Output is cut to the buffer.
  EXPECT_EQ(NnItemConvertToText(note, "L", buf, 3, ','), 2);
  EXPECT_STREQ(buf, "a,");

  // Setting replaces every item of the name by one, where the first was.
  ASSERT_EQ(NnItemAppend(note, 0, "T", 1, NN_TYPE_TEXT, "1", 1), NN_OK);
  ASSERT_EQ(NnItemAppend(note, 0, "T", 1, NN_TYPE_TEXT, "2", 1), NN_OK);
  ASSERT_EQ(NnItemSetText(note, "t", "new", 3), NN_OK);
  EXPECT_EQ(NnNoteItemCount(note), 2u);
  EXPECT_EQ(NnItemGetText(note, "T", buf, sizeof buf), 3);
  ASSERT_EQ(NnItemSetNumber(note, "T", 2.5), NN_OK);
  EXPECT_EQ(NnItemGetText(note, "T", buf, sizeof buf), 0);
  NnItemConvertToText(note, "T", buf, sizeof buf, ',');
  EXPECT_STREQ(buf, "2.5");
  tagTIMEDATE t = NnTimeFromParts(2024, 2, 29, 12, 0, 0, 0);
  ASSERT_EQ(NnItemSetTime(note, "When", &t), NN_OK);
  uint16_t type = 0;
  NnItemInfo(note, "When", 4, nullptr, &type, nullptr, nullptr);
  EXPECT_EQ(type, NN_TYPE_TIME);
  // A text becomes a list when an entry is appended.
  ASSERT_EQ(NnItemSetText(note, "S", "x", 1), NN_OK);
  ASSERT_EQ(NnItemAppendTextList(note, "S", "y", 1, false), NN_OK);
  EXPECT_EQ(NnItemConvertToText(note, "S", buf, sizeof buf, ';'), 3);
  EXPECT_EQ(NnItemAppendTextList(note, "When", "z", 1, true), NN_ERR_BAD_ITEM);
}

TEST_F(StoreItems, UpdateMakesNoteVisibleAndWorkingCopiesStayApart) {
  NOTEID id = 1;
  NnNoteGetInfo(note, NN_NOTE_INFO_ID, &id);
  EXPECT_EQ(id, 0u);  // not stored yet
  EXPECT_EQ(NnDbNoteCount(db), 0u);
  ASSERT_EQ(NnItemSetText(note, "Subject", "hello", 5), NN_OK);
  ASSERT_EQ(NnNoteUpdate(note, 0), NN_OK);
  NnNoteGetInfo(note, NN_NOTE_INFO_ID, &id);
  EXPECT_NE(id, 0u);
  ORIGINATORID_tag oid{};
  NnNoteGetInfo(note, NN_NOTE_INFO_OID, &oid);

  // Changes not yet updated are not seen by another opening.
  ASSERT_EQ(NnItemSetText(note, "Subject", "changed", 7), NN_OK);
  NnHandle other = 0;
  ASSERT_EQ(NnNoteOpen(db, id, 0, &other), NN_OK);
  char buf[16];
  NnItemGetText(other, "Subject", buf, sizeof buf);
  EXPECT_STREQ(buf, "hello");
  NnNoteClose(other);
  ASSERT_EQ(NnNoteUpdate(note, 0), NN_OK);
  EXPECT_EQ(NnDbNoteCount(db), 1u);  // updated again, still one note

  UNIVERSALNOTEID_tag unid{oid.File, oid.Note};
  ASSERT_EQ(NnNoteOpenByUnid(db, &unid, 0, &other), NN_OK);
  NnItemGetText(other, "Subject", buf, sizeof buf);
  EXPECT_STREQ(buf, "changed");
  NnHandle dbOf = 0;
  NnNoteGetInfo(other, NN_NOTE_INFO_DB, &dbOf);
  EXPECT_EQ(dbOf, db);
  NnNoteClose(other);

  // A second new note gets another id and universal id.
  NnHandle n2 = 0;
  ASSERT_EQ(NnNoteCreate(db, NN_CLASS_FORM, &n2), NN_OK);
  ASSERT_EQ(NnNoteUpdate(n2, 0), NN_OK);
  ORIGINATORID_tag oid2{};
  NnNoteGetInfo(n2, NN_NOTE_INFO_OID, &oid2);
  EXPECT_NE(0, std::memcmp(&oid, &oid2, 16));
  NnNoteClose(n2);
  unid.Note.Innards[0] ^= 1;
  EXPECT_EQ(NnNoteOpenByUnid(db, &unid, 0, &other), NN_ERR_NOTE_NOT_FOUND);
  EXPECT_EQ(NnNoteOpen(db, 0x7FFFFFF0, 0, &other), NN_ERR_NOTE_NOT_FOUND);
}

// The test hook: only the n-th note write fails, and it changes nothing.
TEST_F(StoreItems, TheNthWriteFailsOnceAndLeavesTheNote) {
  nnstore::SetFailWriteAt(2);
  EXPECT_TRUE(nnstore::WriteFailPending());
  EXPECT_EQ(NnItemSetText(note, "A", "one", 3), NN_OK);
  EXPECT_EQ(NnItemAppend(note, 0, "B", 1, NN_TYPE_TEXT, "two", 3), NN_ERR_FILE_IO);
  EXPECT_FALSE(nnstore::WriteFailPending());
  EXPECT_EQ(NnNoteItemCount(note), 1u);
  EXPECT_EQ(NnItemAppend(note, 0, "B", 1, NN_TYPE_TEXT, "two", 3), NN_OK);
  EXPECT_EQ(NnNoteItemCount(note), 2u);
  // A failing update leaves the stored note as it was: here, not stored at all.
  nnstore::SetFailWriteAt(1);
  EXPECT_EQ(NnNoteUpdate(note, 0), NN_ERR_FILE_IO);
  EXPECT_EQ(NnDbNoteCount(db), 0u);
  EXPECT_EQ(NnNoteUpdate(note, 0), NN_OK);
  EXPECT_EQ(NnDbNoteCount(db), 1u);
  nnstore::SetFailWriteAt(0);
}

TEST_F(StoreItems, BadHandlesAreRefused) {
  NnHandle h = 0;
  EXPECT_EQ(NnNoteOpen(note, 4, 0, &h), NN_ERR_BAD_HANDLE);        // a note handle as database
  EXPECT_EQ(NnItemInfo(db, "X", 1, nullptr, nullptr, nullptr, nullptr), NN_ERR_BAD_HANDLE);
  EXPECT_EQ(NnNoteUpdate(0x03FFFFFF, 0), NN_ERR_BAD_HANDLE);
  EXPECT_EQ(NnItemAppend(12345, 0, "X", 1, NN_TYPE_TEXT, "", 0), NN_ERR_BAD_HANDLE);
  EXPECT_EQ(NnNoteItemCount(db), 0u);
  EXPECT_EQ(NnBlockLock(NnBlockId{note, 1, true}), nullptr);
  EXPECT_EQ(NnDbSaveDxl(note, "/tmp/x"), NN_ERR_BAD_HANDLE);
  ASSERT_EQ(NnNoteCreate(db, 1, &h), NN_OK);
  ASSERT_EQ(NnNoteClose(h), NN_OK);
  EXPECT_EQ(NnNoteClose(h), NN_ERR_BAD_HANDLE);
  EXPECT_EQ(NnNoteGetInfo(h, NN_NOTE_INFO_ID, &h), NN_ERR_BAD_HANDLE);
}

TEST_F(StoreItems, AttachmentsRoundTripThroughDxl) {
  std::string bytes("\x00\x01\xFFzip", 6);
  ASSERT_EQ(NnNoteAttachData(note, "Report.bin", bytes.data(), uint32_t(bytes.size())), NN_OK);
  ASSERT_EQ(NnNoteAttachData(note, "empty.txt", nullptr, 0), NN_OK);
  ASSERT_EQ(NnItemSetText(note, "Subject", "files", 5), NN_OK);
  ASSERT_EQ(NnNoteUpdate(note, 0), NN_OK);
  NOTEID id = 0;
  NnNoteGetInfo(note, NN_NOTE_INFO_ID, &id);

  uint16_t type = 0;
  uint32_t len = 0;
  NnBlockId v;
  ASSERT_EQ(NnItemInfo(note, "$FILE", 5, nullptr, &type, &v, &len), NN_OK);
  EXPECT_EQ(type, NN_TYPE_OBJECT);
  EXPECT_EQ(len, 2u + 36u + 10u);
  const void* p = static_cast<const char*>(NnBlockLock(v)) + 2;
  NnFileObject fo{};
  ASSERT_EQ(NnOdsRead(&p, len - 2, NN_ODS_FILEOBJECT, &fo), NN_OK);
  EXPECT_EQ(fo.fileNameLength, 10);
  EXPECT_EQ(fo.fileSize, 6u);

  std::string saved = dir + "/saved.xml";
  ASSERT_EQ(NnDbSaveDxl(db, saved.c_str()), NN_OK);
  NnHandle db2 = 0, n2 = 0;
  ASSERT_EQ(NnDbOpen(saved.c_str(), 0, &db2), NN_OK) << NnDbLastLoadError();
  ASSERT_EQ(NnNoteOpen(db2, id, 0, &n2), NN_OK);
  NnHandle mem = 0;
  uint32_t size = 0;
  ASSERT_EQ(NnNoteExtractFileToMemory(n2, "report.BIN", &mem, &size), NN_OK);
  ASSERT_EQ(size, 6u);
  EXPECT_EQ(std::string(static_cast<const char*>(NnMemLock(mem)), size), bytes);
  NnMemUnlock(mem);
  NnMemFree(mem);
  std::string out = dir + "/out.bin";
  ASSERT_EQ(NnNoteExtractFile(n2, "Report.bin", out.c_str()), NN_OK);
  EXPECT_EQ(kvtest::ReadFile(out), bytes);
  ASSERT_EQ(NnNoteExtractFile(n2, "empty.txt", out.c_str()), NN_OK);
  EXPECT_EQ(kvtest::ReadFile(out), "");
  EXPECT_EQ(NnNoteExtractFile(n2, "missing", out.c_str()), NN_ERR_NOT_FOUND);
  ASSERT_EQ(NnItemInfo(n2, "$FILE", 5, nullptr, &type, &v, &len), NN_OK);
  NnBlockId v1;
  ASSERT_EQ(NnItemInfo(note, "$FILE", 5, nullptr, nullptr, &v1, nullptr), NN_OK);
  EXPECT_EQ(std::memcmp(NnBlockLock(v), NnBlockLock(v1), len), 0);  // object id included
  NnNoteClose(n2);
  NnDbClose(db2);

  // Attaching again under the same name replaces the attachment.
  ASSERT_EQ(NnNoteAttachData(note, "REPORT.bin", "ab", 2), NN_OK);
  ASSERT_EQ(NnNoteUpdate(note, 0), NN_OK);
  uint32_t objSize = 0;
  ASSERT_EQ(NnDbGetObjectSize(db, id, "report.bin", &objSize), NN_OK);
  EXPECT_EQ(objSize, 2u);
  EXPECT_EQ(NnDbGetObjectSize(db, id, "none", &objSize), NN_ERR_NOT_FOUND);
}

TEST_F(StoreItems, ValuesWithoutAnXmlFormAreSavedRaw) {
  // A text with a control character and a number range with a range part
  // have no typed DXL form; they must still come back byte for byte.
  ASSERT_EQ(NnItemAppend(note, NN_ITEM_SUMMARY | NN_ITEM_NAMES, "Odd", 3, NN_TYPE_TEXT, "a\x01" "b", 3), NN_OK);
  const uint8_t range[] = {0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F, 0, 0, 0, 0, 0, 0, 0, 0x40};
  ASSERT_EQ(NnItemAppend(note, 0, "R", 1, NN_TYPE_NUMBER_RANGE, range, sizeof range), NN_OK);
  ASSERT_EQ(NnItemSetText(note, "Line", "a\r\nb & <c>", 10), NN_OK);
  ASSERT_EQ(NnNoteUpdate(note, 0), NN_OK);
  NOTEID id = 0;
  NnNoteGetInfo(note, NN_NOTE_INFO_ID, &id);
  std::string saved = dir + "/raw.xml";
  ASSERT_EQ(NnDbSaveDxl(db, saved.c_str()), NN_OK);
  NnHandle db2 = 0, n2 = 0;
  ASSERT_EQ(NnDbOpen(saved.c_str(), 0, &db2), NN_OK) << NnDbLastLoadError();
  ASSERT_EQ(NnNoteOpen(db2, id, 0, &n2), NN_OK);
  ASSERT_EQ(NnNoteItemCount(n2), 3u);
  for (uint32_t i = 0; i < 3; ++i) {
    NnItemDesc a, b;
    NnNoteItemAt(note, i, &a);
    NnNoteItemAt(n2, i, &b);
    EXPECT_EQ(a.name, b.name);
    EXPECT_EQ(a.flags, b.flags);
    EXPECT_EQ(value(a.value, a.valueLen), value(b.value, b.valueLen)) << a.name;
  }
  NnNoteClose(n2);
  NnDbClose(db2);
}

}  // namespace
