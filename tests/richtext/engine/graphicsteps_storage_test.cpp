// Graphics moved between the item and attachments (step 68), their content
// identifier (step 56), and pictures written to files.
#include <cstdio>
#include <fstream>
#include <iterator>

#include "graphicsteps_records.h"
#include "richtext/compose/composers.h"
#include "richtext/item/cdlayout.h"
#include "richtext/item/recordutil.h"
#include "support/testutil.h"

namespace enginetest {
namespace {

using namespace pictures;

class GraphicStorage : public EngineDoc {
 protected:
  // The first node of that signature in the item's loaded records.
  const RTRecordNode* FirstNode(uint16_t sig) {
    if (!item->context->records && item->LoadRecords() != NN_OK) return nullptr;
    for (const RTRecordNode* n = item->context->records->first; n; n = n->next)
      if (n->signature == sig) return n;
    return nullptr;
  }
  std::string Temp(const char* name) {
    if (dir.empty()) dir = kvtest::MakeTempDir();
    return dir + "/" + name;
  }
  void TearDown() override {
    if (!dir.empty()) kvtest::RemoveTree(dir);
    EngineDoc::TearDown();
  }
  std::string dir;
};

Bytes ReadBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}
bool Exists(const std::string& path) { return std::ifstream(path).good(); }

// ---- step 68 ---------------------------------------------------------------------

TEST_F(GraphicStorage, StorageMovesThePictureOutAndInlineBringsItBack) {
  const Bytes gif = Gif("round trip");
  ASSERT_GT(gif.size(), 100u);
  std::vector<Bytes> records{Para(), Graphic(40, 30), ImageHeader(1, 40, 30, 0, 0)};
  std::vector<Bytes> segs = Segments(gif, 64);
  // The header counts the segments that follow.
  records.back() = ImageHeader(1, 40, 30, uint32_t(segs.size()), uint32_t(gif.size()));
  records.insert(records.end(), segs.begin(), segs.end());
  records.push_back(Text("after"));
  Make(records);

  ASSERT_EQ(Run(68, 0, 0, "storage"), 0);
  EXPECT_EQ(Attachment(note, "Graphic"), gif);
  Bytes stored = Stored();
  EXPECT_EQ(stored, Join({Para(), Graphic(40, 30), StorageLink(1, "Graphic"), Text("after")}));

  // The GraphicStorage property now reads the link.
  ASSERT_EQ(Run(67), 0);
  EXPECT_STREQ(session->PropertyText, "Storage Link Attachment");

  ASSERT_EQ(Run(68, 2367, 0, "INLINE"), 0);
  EXPECT_STREQ(session->OptionValue, "Graphic");
  const RTRecordNode* header = FirstNode(125);
  ASSERT_NE(header, nullptr);
  EXPECT_EQ(FirstNode(0xFFC4), nullptr) << "the storage link went";
  EXPECT_EQ(FirstNode(153)->next, header) << "the picture follows its graphic";
  std::string path = Temp("back.gif");
  ASSERT_EQ(ExportGraphicToFile(item, path.c_str(), header), NN_OK);
  EXPECT_EQ(ReadBytes(path), gif);
  uint16_t w = 0, h = 0;
  GraphicPixelSize(header, &w, &h);
  uint16_t gw = 0, gh = 0;
  ASSERT_TRUE(ImageDataPixelSize(gif.data(), uint32_t(gif.size()), &gw, &gh));
  EXPECT_EQ(w, gw);
  EXPECT_EQ(h, gh);
}

TEST_F(GraphicStorage, EachGraphicGetsAFreeAttachmentName) {
  const Bytes png = Png(5, 4), jpeg = Jpeg(9, 7);
  ASSERT_EQ(NnNoteAttachData(note, "Graphic", "taken", 5), NN_OK);
  Make({Para(), Graphic(5, 4), ImageHeader(4, 5, 4, 1), ImageSegment(png), Text("between"),
        Graphic(9, 7), ImageData(2, 1), ImageSegment(jpeg), Text("end")});
  ASSERT_EQ(Run(68, 0, 0, "storage"), 0);
  EXPECT_EQ(Attachment(note, "Graphic1"), png);
  EXPECT_EQ(Attachment(note, "Graphic2"), jpeg);
  EXPECT_EQ(Stored(), Join({Para(), Graphic(5, 4), StorageLink(1, "Graphic1"), Text("between"),
                            Graphic(9, 7), StorageLink(1, "Graphic2"), Text("end")}));
}

TEST_F(GraphicStorage, AFailedStorageLeavesItemAndAttachmentsAsTheyWere) {
  const Bytes png = Png(3, 3);
  // The second graphic counts two segments but holds one: the call fails
  // after the first graphic was stored.
  const std::vector<Bytes> records{Para(), Graphic(3, 3), ImageHeader(4, 3, 3, 1),
                                   ImageSegment(png), Text("x"), Graphic(3, 3),
                                   ImageHeader(4, 3, 3, 2), ImageSegment(png), Text("y")};
  Make(records);
  const Bytes before = Stored();
  EXPECT_NE(Run(68, 0, 0, "storage"), 0);
  EXPECT_EQ(Stored(), before);
  EXPECT_TRUE(Attachment(note, "Graphic").empty()) << "the first attachment was taken back";
  // Nothing is left marked: a later call keeps every record (an unknown
  // storage is refused).
  ASSERT_EQ(Run(68, 0, 0, "neither"), NN_ERR_INVALID_ARG);
  EXPECT_EQ(Stored(), before);
}

TEST_F(GraphicStorage, GraphicsThatCannotMoveKeepTheirRecords) {
  // A bitmap has no file form here (the call fails); a shared image is not
  // in the item; an unknown mode is refused; a graphic followed by text has
  // no picture.
  const std::vector<Bytes> records{
      Para(),       Graphic(20, 20), BitmapHeader(20, 20), BitmapSegment(), Text("a"),
      Graphic(5, 5), ImageHeader(1, 5, 5, 0), SharedImage("logo.gif", 0), Text("b"),
      Graphic(5, 5), Text("c")};
  Make(records);
  const Bytes before = Stored();
  ASSERT_EQ(Run(68, 0, 0, "storage"), NN_ERR_INVALID_ARG);
  EXPECT_EQ(Stored(), before);
  ASSERT_EQ(Run(68, 0, 0, "somewhere"), NN_ERR_INVALID_ARG);
  EXPECT_EQ(Stored(), before);
  ASSERT_EQ(Run(68, 0, 0, "inline"), 0);
  EXPECT_EQ(Stored(), before);
  EXPECT_TRUE(Attachment(note, "Graphic").empty());
}

TEST_F(GraphicStorage, InlineSkipsMissingOrForeignAttachmentsAndURLLinks) {
  ASSERT_EQ(NnNoteAttachData(note, "notes.txt", "plain text, no picture", 22), NN_OK);
  Make({Para(), Graphic(5, 5), StorageLink(1, "missing.gif"), Text("a"), Graphic(5, 5),
        StorageLink(1, "notes.txt"), Text("b"), Graphic(5, 5),
        StorageLink(4, "http://example.invalid/x.gif"), Text("c")});
  const Bytes before = Stored();
  ASSERT_EQ(Run(68, 0, 0, "inline"), 0);
  EXPECT_EQ(Stored(), before);
}

TEST_F(GraphicStorage, InlineDropsTheBitmapPreviewAfterTheLink) {
  const Bytes gif = Gif("x");
  ASSERT_EQ(NnNoteAttachData(note, "pic.gif", gif.data(), uint32_t(gif.size())), NN_OK);
  Make({Para(), Graphic(5, 5), ImageHeader(1, 5, 5, 0), StorageLink(1, "pic.gif"),
        BitmapHeader(5, 5), BitmapSegment(), Text("after")});
  ASSERT_EQ(Run(68, 0, 0, "inline"), 0);
  EXPECT_EQ(FirstNode(149), nullptr);
  EXPECT_EQ(FirstNode(150), nullptr);
  EXPECT_EQ(FirstNode(0xFFC4), nullptr);
  const RTRecordNode* header = FirstNode(125);
  ASSERT_NE(header, nullptr);
  EXPECT_EQ(kv::cd::U32(header->data, header->length, 20), (gif.size() + 10239) / 10240);
  EXPECT_EQ(header->next->next->signature, 0xFF85) << "one header, its segment, the text";
}

// ---- step 56 ---------------------------------------------------------------------

TEST_F(GraphicStorage, ContentIdentifierNamesThePictureByPlaceAndNote) {
  const Bytes jpeg = Jpeg(4, 4);
  const std::vector<Bytes> records{Para(), Graphic(4, 4), ImageHeader(2, 4, 4, 1),
                                   ImageSegment(jpeg), Text("caption")};
  Make(records);
  ASSERT_EQ(Run(56), 0);
  size_t textAt = 0;
  for (size_t i = 0; i + 1 < records.size(); ++i) textAt += (records[i].size() + 1) & ~size_t(1);
  ORIGINATORID_tag oid{};
  ASSERT_EQ(NnNoteGetInfo(note, NN_NOTE_INFO_OID, &oid), NN_OK);
  char expected[80];
  std::snprintf(expected, sizeof expected, "_2_000000%.6X%.8lX%.8lX", unsigned(textAt),
                static_cast<unsigned long>(oid.Note.Innards[1]),
                static_cast<unsigned long>(oid.Note.Innards[0]));
  EXPECT_STREQ(session->PropertyText, expected);
}

TEST_F(GraphicStorage, ContentIdentifierOfASharedImageIsItsName) {
  Make({Para(), Graphic(5, 5), ImageHeader(1, 5, 5, 0), SharedImage("Logo.gif", 0), Text("b")});
  ASSERT_EQ(Run(56), 0);
  EXPECT_STREQ(session->PropertyText, "Logo.gif");
}

TEST_F(GraphicStorage, ContentIdentifierOfAFormulaImageIsItsPlace) {
  // A shared image given by a formula has no fixed name: the identifier form
  // with the kind of the GIF header.
  Make({Para(), Graphic(5, 5), ImageHeader(1, 5, 5, 0), SharedImage("Logo.gif", 1), Text("b")});
  ASSERT_EQ(Run(56), 0);
  EXPECT_EQ(std::string(session->PropertyText).rfind("_1_", 0), 0u);
}

// ---- pictures to files ---------------------------------------------------------------

TEST_F(GraphicStorage, ExportedPicturesDecode) {
  const Bytes gif = Gif("export"), png = Png(6, 5), jpeg = Jpeg(33, 21);
  std::vector<Bytes> records{Para(), Graphic(1, 1)};
  std::vector<Bytes> segs = Segments(gif, 100);
  records.push_back(ImageHeader(1, 0, 0, uint32_t(segs.size())));
  records.insert(records.end(), segs.begin(), segs.end());
  records.insert(records.end(), {Text("a"), Graphic(6, 5), ImageHeader(4, 6, 5, 0),
                                 ImageData(4, 1), ImageSegment(png), Text("b"), Graphic(33, 21),
                                 ImageHeader(2, 33, 21, 1), ImageSegment(jpeg)});
  Make(records);
  struct Want {
    const char* file;
    const Bytes* bytes;
    uint16_t w, h;
  } wants[] = {{"a.gif", &gif, 0, 0}, {"b.png", &png, 6, 5}, {"c.jpg", &jpeg, 33, 21}};
  const RTRecordNode* n = FirstNode(153);
  for (const Want& want : wants) {
    while (n && n->signature != 153) n = n->next;
    ASSERT_NE(n, nullptr);
    std::string path = Temp(want.file);
    ASSERT_EQ(ExportGraphicRecordsToFile(item, path.c_str(), n), NN_OK) << want.file;
    const Bytes out = ReadBytes(path);
    EXPECT_EQ(out, *want.bytes) << want.file;
    uint16_t w = 0, h = 0;
    if (want.bytes == &png) {
      ASSERT_GE(out.size(), 24u);
      EXPECT_EQ(0, std::memcmp(out.data(), "\x89PNG", 4));
      w = uint16_t(out[18] << 8 | out[19]);
      h = uint16_t(out[22] << 8 | out[23]);
    } else {
      ASSERT_TRUE(ImageDataPixelSize(out.data(), uint32_t(out.size()), &w, &h)) << want.file;
    }
    if (want.w) {
      EXPECT_EQ(w, want.w) << want.file;
      EXPECT_EQ(h, want.h) << want.file;
    } else {
      EXPECT_EQ(0, std::memcmp(out.data(), "GIF89a", 6));
      EXPECT_GT(w, 0);
    }
    n = n->next;
  }
  EXPECT_EQ(ExportGraphicToFile(item, (dir + "/no/such/dir/x.gif").c_str(), FirstNode(153)),
            NN_ERR_FILE_IO);
}

TEST_F(GraphicStorage, UnexportablePicturesWriteNoFile) {
  const Bytes gif = Gif("cut");
  std::vector<Bytes> segs = Segments(gif, 64);
  ASSERT_GE(segs.size(), 2u);
  // The header counts one segment more than stand there.
  std::vector<Bytes> records{Para(), Graphic(1, 1),
                             ImageHeader(1, 1, 1, uint32_t(segs.size() + 1))};
  records.insert(records.end(), segs.begin(), segs.end());
  records.insert(records.end(), {Text("a"), Graphic(2, 2), BitmapHeader(2, 2), BitmapSegment()});
  Make(records);
  std::string cut = Temp("cut.gif"), bitmap = Temp("bitmap.bmp");
  EXPECT_EQ(ExportGraphicToFile(item, cut.c_str(), FirstNode(125)), NN_ERR_CD_STRUCTURE);
  EXPECT_FALSE(Exists(cut));
  EXPECT_NE(ExportGraphicRecordsToFile(item, bitmap.c_str(), FirstNode(149)), NN_OK);
  EXPECT_FALSE(Exists(bitmap));
  EXPECT_EQ(ExportGraphicToFile(item, nullptr, FirstNode(125)), NN_ERR_INVALID_ARG);
}

}  // namespace
}  // namespace enginetest
