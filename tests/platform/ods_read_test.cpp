// Canonical structures read into host form: bounds, advance, and refusals.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "nn/nn.h"

namespace {

// A form's $Info record as a real DXL export holds it.
const uint8_t kInfo[] = {0x86, 0x18, 0x01, 0x00, 0x80, 0x00, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00,
                         0x01, 0x00, 0x01, 0x00, 0xff, 0xff, 0xff, 0x00, 0x10, 0x00, 0x00, 0x00};

TEST(OdsRead, DocumentRecordFields) {
  std::vector<uint8_t> buf(kInfo, kInfo + sizeof kInfo);
  buf[17] = 0x80;  // green
  buf[18] = 0x40;  // blue
  const void* p = buf.data();
  NnDocumentRecord d{};
  ASSERT_EQ(NnOdsRead(&p, uint32_t(buf.size()), NN_ODS_DOCUMENT, &d), NN_OK);
  EXPECT_EQ(p, buf.data() + 24);
  EXPECT_EQ(d.signature, 0x86);
  EXPECT_EQ(d.length, 24);
  EXPECT_EQ(d.paperColor, 1);
  EXPECT_EQ(d.formFlags, 0x80);
  EXPECT_EQ(d.notePrivileges, 0);
  EXPECT_EQ(d.formFlags2, 0x8000);
  EXPECT_EQ(d.inherFieldNameLength, 0);
  EXPECT_EQ(d.paperColorExt, 1);
  EXPECT_EQ(d.paperColorFlags, 1);
  EXPECT_EQ(d.paperColorRed, 0xff);
  EXPECT_EQ(d.paperColorGreen, 0x80);
  EXPECT_EQ(d.paperColorBlue, 0x40);
  EXPECT_EQ(d.paperColorUnused, 0);
  EXPECT_EQ(d.formFlags3, 0x10);
}

TEST(OdsRead, DocumentRecordRefusals) {
  NnDocumentRecord d{};
  d.paperColor = 77;
  // Every short read, from an exact heap copy so an overread is caught.
  for (uint32_t cut = 1; cut < sizeof kInfo; ++cut) {
    std::vector<uint8_t> part(kInfo, kInfo + cut);
    const void* p = part.data();
    EXPECT_EQ(NnOdsRead(&p, cut, NN_ODS_DOCUMENT, &d), NN_ERR_BAD_ITEM) << cut;
    EXPECT_EQ(p, part.data());
  }
  std::vector<uint8_t> buf(kInfo, kInfo + sizeof kInfo);
  const void* p = buf.data();
  buf[0] = 0x85;  // another record
  EXPECT_EQ(NnOdsRead(&p, 24, NN_ODS_DOCUMENT, &d), NN_ERR_BAD_ITEM);
  buf[0] = 0x86;
  buf[1] = 20;    // shorter than its fields
  EXPECT_EQ(NnOdsRead(&p, 24, NN_ODS_DOCUMENT, &d), NN_ERR_BAD_ITEM);
  buf[1] = 30;    // claims more than the caller has
  EXPECT_EQ(NnOdsRead(&p, 24, NN_ODS_DOCUMENT, &d), NN_ERR_BAD_ITEM);
  EXPECT_EQ(p, buf.data());
  EXPECT_EQ(d.paperColor, 77);  // nothing written on a refusal
}

TEST(OdsRead, LongerDocumentRecordIsSkippedWhole) {
  std::vector<uint8_t> buf(kInfo, kInfo + sizeof kInfo);
  buf[1] = 28;
  buf.insert(buf.end(), {1, 2, 3, 4, 0xAA});
  const void* p = buf.data();
  NnDocumentRecord d{};
  ASSERT_EQ(NnOdsRead(&p, uint32_t(buf.size()), NN_ODS_DOCUMENT, &d), NN_OK);
  EXPECT_EQ(p, buf.data() + 28);
  EXPECT_EQ(d.length, 28);
  EXPECT_EQ(d.formFlags3, 0x10);
}

TEST(OdsRead, FileObjectHeader) {
  std::vector<uint8_t> b = {2, 0,                    // object type
                            0x78, 0x56, 0x34, 0x12,  // object id
                            5, 0,                    // name length
                            0x0E, 0,                 // host type
                            1, 0,                    // compression
                            0x20, 0,                 // attributes
                            0x04, 0,                 // flags
                            0x10, 0x27, 0, 0,        // size 10000
                            1, 0, 0, 0, 2, 0, 0, 0,  // created
                            3, 0, 0, 0, 4, 0, 0, 0,  // modified
                            'a', '.', 't', 'x', 't'};
  const void* p = b.data();
  NnFileObject f{};
  ASSERT_EQ(NnOdsRead(&p, uint32_t(b.size()), NN_ODS_FILEOBJECT, &f), NN_OK);
  EXPECT_EQ(p, b.data() + 36);  // the name follows
  EXPECT_EQ(f.objectType, 2);
  EXPECT_EQ(f.objectId, 0x12345678u);
  EXPECT_EQ(f.fileNameLength, 5);
  EXPECT_EQ(f.hostType, 0x0E);
  EXPECT_EQ(f.compressionType, 1);
  EXPECT_EQ(f.fileAttributes, 0x20);
  EXPECT_EQ(f.flags, 4);
  EXPECT_EQ(f.fileSize, 10000u);
  EXPECT_EQ(f.fileCreated.Innards[0], 1u);
  EXPECT_EQ(f.fileCreated.Innards[1], 2u);
  EXPECT_EQ(f.fileModified.Innards[0], 3u);
  EXPECT_EQ(f.fileModified.Innards[1], 4u);

  std::vector<uint8_t> shortBuf(b.begin(), b.begin() + 35);
  p = shortBuf.data();
  EXPECT_EQ(NnOdsRead(&p, 35, NN_ODS_FILEOBJECT, &f), NN_ERR_BAD_ITEM);
  EXPECT_EQ(p, shortBuf.data());
}

TEST(OdsRead, BadArguments) {
  const void* p = kInfo;
  NnDocumentRecord d{};
  EXPECT_EQ(NnOdsRead(&p, sizeof kInfo, 999, &d), NN_ERR_INVALID_ARG);
  EXPECT_EQ(NnOdsRead(nullptr, sizeof kInfo, NN_ODS_DOCUMENT, &d), NN_ERR_INVALID_ARG);
  EXPECT_EQ(NnOdsRead(&p, sizeof kInfo, NN_ODS_DOCUMENT, nullptr), NN_ERR_INVALID_ARG);
  const void* none = nullptr;
  EXPECT_EQ(NnOdsRead(&none, 24, NN_ODS_DOCUMENT, &d), NN_ERR_INVALID_ARG);
  EXPECT_EQ(p, static_cast<const void*>(kInfo));
}

}  // namespace
