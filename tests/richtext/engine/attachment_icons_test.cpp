// RefreshAttachmentIcon (2814) and RenameAttachment (2815) redraw the icon
// of a file attachment: from the image resource "FileIcon=" names, from the
// resource custom/fileicon/<extension>.gif, else as a drawing of the
// extension with the caption and the prefix and suffix texts.
#include <string>
#include <vector>

#include "graphicsteps_records.h"
#include "rewrite_fixture.h"

namespace enginetest {
namespace {

using AttachmentIcons = RewriteDoc;
using namespace pictures;

std::vector<Bytes> IconItem(const Bytes& gif, const std::string& name = "report.pdf") {
  const std::string data = name + std::string(1, '\0') + name + std::string(1, '\0');
  return {Para(),
          PabRef(1),
          Text("before "),
          Hotspot(0xFFA9, 4, 0, data),
          Graphic(36, 46),
          ImageHeader(1, 36, 46, 1, uint32_t(gif.size())),
          ImageSegment(gif),
          HotspotEnd(170),
          Text(" after")};
}

// The picture bytes inside the stored item's first attachment hotspot.
Bytes IconPicture(const std::vector<Rec>& recs) {
  Bytes out;
  bool inside = false;
  for (const Rec& r : recs) {
    if (r.sig == 0xFFA9) inside = true;
    if (r.sig == 170) inside = false;
    if (inside && r.sig == 124) out.insert(out.end(), r.bytes.begin() + 10, r.bytes.begin() + 10 + Word(r.bytes, 6));
  }
  return out;
}

// An image resource stored as the platform stores one: its graphic, image
// header of the picture's type and the image segment in $ImageData.
void AddImageResource(NnHandle db, const char* title, const Bytes& picture, uint16_t type = 1) {
  NnHandle h = 0;
  ASSERT_EQ(NnNoteCreate(db, NN_CLASS_FORM, &h), NN_OK);
  ASSERT_EQ(NnItemSetText(h, "$TITLE", title, uint16_t(std::strlen(title))), NN_OK);
  const Bytes data = Join({Graphic(16, 16), ImageHeader(type, 16, 16, 1, uint32_t(picture.size())),
                           ImageSegment(picture)});
  ASSERT_EQ(NnItemAppend(h, 0, "$ImageData", 10, NN_TYPE_COMPOSITE, data.data(),
                         uint32_t(data.size())),
            NN_OK);
  ASSERT_EQ(NnNoteUpdate(h, 0), NN_OK);
  NnNoteClose(h);
}

// The records outside the hotspot's picture are kept; the hotspot keeps its
// begin and end.
void ExpectOnlyThePictureChanged(const std::vector<Rec>& before, const std::vector<Rec>& after) {
  ASSERT_GE(after.size(), 6u);
  EXPECT_TRUE(SameRecords(after, 0, before, 0, 4));  // up to the hotspot begin
  EXPECT_EQ(after[4].sig, 153);
  EXPECT_EQ(after[5].sig, 125);
  EXPECT_TRUE(SameRecords(after, after.size() - 2, before, before.size() - 2, 2));
}

TEST_F(AttachmentIcons, RefreshDrawsTheExtensionWithTheCaption) {
  const Bytes old = Gif("old");
  ASSERT_TRUE(OpenBuilt(IconItem(old)));
  const std::vector<Rec> before = Records();
  TorvoRTChunk* all = Define("");
  ASSERT_EQ(all->RefreshAttachmentIcon(0, ""), 0);
  const std::vector<Rec> after = Records();
  ExpectOnlyThePictureChanged(before, after);
  const Bytes drawn = IconPicture(after);
  EXPECT_NE(drawn, old);
  ASSERT_GT(drawn.size(), 6u);
  EXPECT_EQ(std::string(drawn.begin(), drawn.begin() + 3), "GIF");

  // A prefix and a suffix join the caption: a wider drawing.
  ASSERT_EQ(all->RefreshAttachmentIcon(0, "PrefixText=Draft SuffixText=v2 SuffixColor=rgba(1,2,3,1)"),
            0);
  const std::vector<Rec> again = Records();
  ExpectOnlyThePictureChanged(before, again);
  EXPECT_GT(Word(again[4].bytes, 6), Word(after[4].bytes, 6));  // display width
  ExpectSound();
  ReloadAndRender();
}

TEST_F(AttachmentIcons, ResourcesGiveThePicture) {
  const Bytes custom = Gif("custom"), named = Gif("named icon");
  ASSERT_TRUE(OpenBuilt(IconItem(Gif("old"))));
  AddImageResource(db, "custom/fileicon/pdf.gif", custom);
  AddImageResource(db, "Other|Logo", named);
  const std::vector<Rec> before = Records();
  TorvoRTChunk* all = Define("");
  ASSERT_EQ(all->RefreshAttachmentIcon(0, ""), 0);
  std::vector<Rec> after = Records();
  ExpectOnlyThePictureChanged(before, after);
  EXPECT_EQ(IconPicture(after), custom);
  ASSERT_EQ(all->RefreshAttachmentIcon(0, "FileIcon=logo"), 0);
  after = Records();
  ExpectOnlyThePictureChanged(before, after);
  EXPECT_EQ(IconPicture(after), named);
  // A name that names no resource is an error and changes nothing.
  const std::vector<Rec> kept = Records();
  EXPECT_NE(all->RefreshAttachmentIcon(0, "FileIcon=Nowhere"), 0);
  EXPECT_TRUE(SameRecords(Records(), 0, kept, 0, kept.size()));
  EXPECT_EQ(Records().size(), kept.size());
  ExpectSound();
  ReloadAndRender();
}

TEST_F(AttachmentIcons, RenameShowsTheNewNameInTheHotspotAndTheIcon) {
  ASSERT_TRUE(OpenBuilt(IconItem(Gif("old"))));
  const std::vector<Rec> before = Records();
  TorvoRTChunk* all = Define("");
  ASSERT_EQ(all->RenameAttachment("summary.pdf", 0, ""), 0);
  const std::vector<Rec> after = Records();
  ASSERT_GE(after.size(), 6u);
  const Bytes& begin = after[3].bytes;
  const std::string data(begin.begin() + 12, begin.end());
  EXPECT_EQ(data.substr(0, data.find('\0')), "report.pdf");
  EXPECT_NE(data.find("summary.pdf"), std::string::npos);
  EXPECT_NE(IconPicture(after), IconPicture(before));
  // A prefix joins the caption drawn: a wider icon.
  ASSERT_EQ(all->RenameAttachment("summary.pdf", 0, "PrefixText=Draft"), 0);
  EXPECT_GT(Word(Records()[4].bytes, 6), Word(after[4].bytes, 6));  // display width
  ExpectSound();
  ReloadAndRender();
}

// "FileIcon=" naming a PNG or JPEG resource: the icon is that picture in its
// own image type and size. One that is missing or holds no picture: a
// refresh fails, but a rename goes on and the graphic stays.
TEST_F(AttachmentIcons, IconResourcesKeepTheirTypeAndARenameNeedsNone) {
  using Case = std::tuple<const char*, Bytes, uint16_t>;
  for (auto [name, picture, type] : {Case{"i.png", Png(12, 9), 4}, Case{"i.jpg", Jpeg(30, 20), 2},
                                     Case{"nosuch", {}, 0}, Case{"bad", Bytes(40, 3), 0}}) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(OpenBuilt(IconItem(Gif("old"))));
    if (!picture.empty()) AddImageResource(db, name, picture, type ? type : 1);
    const std::vector<Rec> before = Records();
    const std::string options = std::string("FileIcon=") + name;
    TorvoRTChunk* file = Define("File 1");
    ASSERT_EQ(file->RefreshAttachmentIcon(0, options.c_str()) != 0, type == 0);
    std::vector<Rec> after = Records();
    if (type) {
      ExpectOnlyThePictureChanged(before, after);
      EXPECT_EQ(Word(after[5].bytes, 6), type);  // the image header's, the page's
      EXPECT_EQ(IconPicture(after), picture);
      EXPECT_NE(ReloadAndRender().find(type == 4 ? "image/png;base64" : "image/jpeg;base64"),
                std::string::npos);
      continue;
    }
    ASSERT_EQ(file->RenameAttachment("b.docx", 0, options.c_str()), 0);
    after = Records();
    EXPECT_TRUE(SameRecords(after, 4, before, 4, before.size() - 4));  // the picture stays
    char shown[64] = {};
    file->GetPropertyText("OriginalFileName", shown, sizeof shown);
    EXPECT_STREQ(shown, "b.docx");
    ExpectSound();
  }
}

}  // namespace
}  // namespace enginetest
