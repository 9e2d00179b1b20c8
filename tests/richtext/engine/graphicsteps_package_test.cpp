// Images and attachment icons copied into a zip storage for a package
// export (steps 73 and 76).
#include <string>

#include "graphicsteps_records.h"
#include "host/pool.h"
#include "host/zip/zipstor.h"
#include "richtext/item/recordutil.h"
#include "support/testutil.h"

namespace enginetest {
namespace {

using namespace pictures;

class PackageSteps : public EngineDoc {
 protected:
  void SetUp() override {
    EngineDoc::SetUp();
    zip = new zipstorage(session);
  }
  void TearDown() override {
    delete zip;
    EngineDoc::TearDown();
  }
  NnStatus Step(uint16_t code, const char* text, void* extra) {
    return ProcessChunkOperation(chunk, note, "Body", code, 0, 0, 0, 0, text, nullptr, 0, nullptr,
                                 extra);
  }
  // The entry read back from the finished archive; empty when absent.
  Bytes Entry(const char* name) {
    if (!finished) {
      EXPECT_EQ(ZipStorageFinish(zip), NN_OK);
      finished = true;
    }
    if (ZipStorageReadEntry(zip, name, 0, 0) != 0) return {};
    return zip->buffer;
  }
  void SetManifest(const char* text, size_t capacity) {
    char* m = static_cast<char*>(POOL_ALLOC(session, capacity, true));
    ASSERT_NE(m, nullptr);
    std::snprintf(m, capacity, "%s", text);
    session->globals->epubManifest = m;
  }
  zipstorage* zip = nullptr;
  bool finished = false;
};

std::string FileData(const std::string& stored, const std::string& original = "") {
  std::string d = stored;
  d.push_back('\0');
  if (!original.empty()) d += original + std::string(1, '\0');
  return d;
}

// ---- step 73 ------------------------------------------------------------------------

TEST_F(PackageSteps, TheFirstImageGoesInWholeAndReadsBack) {
  const Bytes gif = Gif("zip me"), png = Png(4, 4);
  std::vector<Bytes> segs = Segments(gif, 50);
  std::vector<Bytes> records{Para(), Graphic(5, 5), ImageHeader(1, 5, 5, uint32_t(segs.size()))};
  records.insert(records.end(), segs.begin(), segs.end());
  records.insert(records.end(),
                 {Text("x"), Graphic(4, 4), ImageHeader(4, 4, 4, 1), ImageSegment(png)});
  Make(records);
  ASSERT_EQ(Step(73, "OEBPS/images/first.gif", zip), 0);
  const Bytes back = Entry("OEBPS/images/first.gif");
  EXPECT_EQ(back, gif);
  uint16_t w = 0, h = 0;
  EXPECT_TRUE(ImageDataPixelSize(back.data(), uint32_t(back.size()), &w, &h));
  std::vector<std::string> names;
  ASSERT_EQ(ZipStorageListEntries(zip, &names), NN_OK);
  EXPECT_EQ(names.size(), 1u) << "one image per call";
}

TEST_F(PackageSteps, ImageDataRecordCountsAndTheSessionPackageIsUsed) {
  const Bytes png = Png(7, 3);
  std::vector<Bytes> segs = Segments(png, 20);
  std::vector<Bytes> records{Para(), Graphic(7, 3), ImageHeader(4, 7, 3, 0),
                             ImageData(4, uint32_t(segs.size()))};
  records.insert(records.end(), segs.begin(), segs.end());
  Make(records);
  session->globals->package = zip;
  ASSERT_EQ(Step(73, "p.png", nullptr), 0);
  session->globals->package = nullptr;
  const Bytes back = Entry("p.png");
  ASSERT_EQ(back, png);
  EXPECT_EQ(0, std::memcmp(back.data(), "\x89PNG", 4));
}

TEST_F(PackageSteps, SharedImagesAndBitmapsAddNothing) {
  Make({Para(), Graphic(5, 5), ImageHeader(1, 5, 5, 0), SharedImage("logo.gif", 0), Text("a"),
        Graphic(5, 5), BitmapHeader(5, 5), BitmapSegment(), Graphic(5, 5),
        ImageHeader(2, 5, 5, 1), ImageSegment(Jpeg(5, 5))});
  // The bitmap ends the call before the JPEG after it.
  ASSERT_EQ(Step(73, "x.jpg", zip), 0);
  EXPECT_TRUE(Entry("x.jpg").empty());
}

TEST_F(PackageSteps, AnImageNeedsAnEntryNameAndAStorage) {
  Make({Para(), Graphic(5, 5), ImageHeader(2, 5, 5, 1), ImageSegment(Jpeg(5, 5))});
  EXPECT_EQ(Step(73, "", zip), NN_ERR_INVALID_ARG);
  EXPECT_EQ(Step(73, "a.jpg", nullptr), NN_ERR_INVALID_ARG);
  EXPECT_TRUE(Entry("a.jpg").empty());
}

// ---- step 76 ----------------------------------------------------------------------

TEST_F(PackageSteps, AttachmentIconGoesInWithItsManifestLine) {
  Make({Para(), Hotspot(0xFFA9, 4, 0, FileData("report.pdf", "report.pdf")), Text("report.pdf"),
        HotspotEnd(170)});
  SetManifest("<manifest>\r\n", 64);
  ASSERT_EQ(Step(76, "files", zip), 0);
  EXPECT_STREQ(session->PropertyText, "report.pdf");
  EXPECT_STREQ(session->OptionValue, "files/report.gif");
  EXPECT_EQ(std::string(session->ResultText).rfind("CUSTOM,R0lGOD", 0), 0u)
      << "the base64 text of a GIF";
  EXPECT_STREQ(session->globals->epubManifest,
               "<manifest>\r\n    <item href=\"files/report.gif\" id=\"files_report_gif\" "
               "media-type=\"image/gif\"/>\r\n");
  const Bytes icon = Entry("files/report.gif");
  ASSERT_GE(icon.size(), 10u);
  EXPECT_EQ(0, std::memcmp(icon.data(), "GIF89a", 6));
  // The "(Attachment removed)" caption on yellow: the first palette entry.
  EXPECT_EQ(icon[13], 0xFF);
  EXPECT_EQ(icon[14], 0xFF);
  EXPECT_EQ(icon[15], 0x00);
}

TEST_F(PackageSteps, EveryFileHotspotAndTheIdentifierRules) {
  const std::string deep = "a/very/long/directory/name/for/the/package";
  Make({Para(), Hotspot(0xFFA9, 4, 0, FileData("doc.txt")), HotspotEnd(170),
        Hotspot(0xFFAD, 10, 0, FileData("9.pdf")), HotspotEnd(170),
        Hotspot(0xFFA9, 4, 0, ""), HotspotEnd(170),  // no data: passed by
        Hotspot(0xFFA9, 1, 0, FileData("popup.txt")), HotspotEnd(170)});  // not a file
  SetManifest("", 4096);
  ASSERT_EQ(Step(76, "", zip), 0);
  EXPECT_STREQ(session->globals->epubManifest,
               "    <item href=\"doc.gif\" id=\"doc_gif\" media-type=\"image/gif\"/>\r\n"
               "    <item href=\"9.gif\" id=\"x_gif\" media-type=\"image/gif\"/>\r\n");
  EXPECT_FALSE(Entry("doc.gif").empty());
  EXPECT_FALSE(Entry("9.gif").empty());
  std::vector<std::string> names;
  ASSERT_EQ(ZipStorageListEntries(zip, &names), NN_OK);
  EXPECT_EQ(names.size(), 2u);
}

TEST_F(PackageSteps, LongPathsKeepTheirLast32CharactersInTheIdentifier) {
  Make({Para(), Hotspot(0xFFA9, 4, 0, FileData("summary.docx")), HotspotEnd(170)});
  SetManifest("", 4096);
  ASSERT_EQ(Step(76, "OEBPS\\attachments\\2024\\", zip), 0);
  EXPECT_STREQ(session->OptionValue, "OEBPS/attachments/2024/summary.gif");
  // The path has 34 characters: the identifier keeps the last 32.
  EXPECT_STREQ(session->globals->epubManifest,
               "    <item href=\"OEBPS/attachments/2024/summary.gif\" "
               "id=\"BPS_attachments_2024_summary_gif\" media-type=\"image/gif\"/>\r\n");
}

TEST_F(PackageSteps, TheOriginalExtensionAndADottedFolderDoNotConfuseThePath) {
  Make({Para(), Hotspot(0xFFA9, 4, 0, FileData("A1B2C3", "photo.JPG")), HotspotEnd(170)});
  SetManifest("", 4096);
  ASSERT_EQ(Step(76, "v1.2", zip), 0);
  EXPECT_STREQ(session->OptionValue, "v1.2/A1B2C3.gif");
  EXPECT_FALSE(Entry("v1.2/A1B2C3.gif").empty());
}

TEST_F(PackageSteps, WithoutManifestOrRoomNothingIsAdded) {
  Make({Para(), Hotspot(0xFFA9, 4, 0, FileData("report.pdf")), HotspotEnd(170)});
  // No EPUB export runs: the icon text is made, nothing goes in.
  ASSERT_EQ(Step(76, "files", zip), 0);
  EXPECT_EQ(std::string(session->ResultText).rfind("CUSTOM,", 0), 0u);
  EXPECT_TRUE(Entry("files/report.gif").empty());
}

TEST_F(PackageSteps, AFullManifestTakesNoMoreLines) {
  Make({Para(), Hotspot(0xFFA9, 4, 0, FileData("report.pdf")), HotspotEnd(170)});
  const std::string full(4096 - 80 - 16, 'm');  // with the path, past the limit
  SetManifest(full.c_str(), 4096);
  ASSERT_EQ(Step(76, "files", zip), 0);
  EXPECT_EQ(std::string(session->globals->epubManifest), full);
  EXPECT_TRUE(Entry("files/report.gif").empty());
}

}  // namespace
}  // namespace enginetest
