// SetImageHotspot: the picture ends up inside an action hotspot that carries
// the code; a second call replaces the action; the render shows the image
// inside its action.
#include <string>
#include <vector>

#include "graphicsteps_records.h"
#include "rewrite_fixture.h"

namespace enginetest {
namespace {

using ImageHotspot = RewriteDoc;

size_t FindSig(const std::vector<Rec>& r, uint16_t sig) {
  for (size_t i = 0; i < r.size(); ++i)
    if (r[i].sig == sig) return i;
  return r.size();
}

TEST_F(ImageHotspot, PictureGoesInsideTheHotspotAndASecondCallReplacesIt) {
  if (!OpenCorpus("ukl/Forms/Badge.form", "$Body")) GTEST_SKIP() << "no corpus";
  const std::vector<Rec> before = Records();
  const size_t graphic = FindSig(before, 153);
  size_t last = graphic + 1;
  while (last + 1 < before.size() && before[last + 1].sig == 124) ++last;
  ASSERT_EQ(before[graphic + 1].sig, 125);

  TorvoRTChunk* picture = Define("Graphic 1");
  ASSERT_TRUE(picture);
  const char* script = "alert('badge')";
  ASSERT_EQ(picture->SetImageHotspot("JavaScript", script, 0, "", nullptr, 0), 0);
  std::vector<Rec> after = Records();
  // begin, event, script, the picture's own records, end.
  ASSERT_EQ(after.size(), before.size() + 4);
  EXPECT_TRUE(SameRecords(after, 0, before, 0, graphic));
  EXPECT_EQ(after[graphic].sig, 0xFFA9);
  EXPECT_EQ(Word(after[graphic].bytes, 4), 2);  // an action
  EXPECT_EQ(after[graphic + 1].sig, 0xFFF9);
  EXPECT_EQ(after[graphic + 2].sig, 0xFFDC);
  EXPECT_TRUE(SameRecords(after, graphic + 3, before, graphic, last - graphic + 1));
  EXPECT_EQ(after[last + 4].sig, 170);
  EXPECT_TRUE(SameRecords(after, last + 5, before, last + 1, before.size() - last - 1));
  ExpectSound();
  EXPECT_NE(ReloadAndRender().find("<img"), std::string::npos);

  // A formula replaces the script: one hotspot, around the same picture.
  ASSERT_EQ(picture->SetImageHotspot("Formula", "@Command([FileSave])", 0, "", nullptr, 0), 0);
  after = Records();
  ASSERT_EQ(after.size(), before.size() + 2);
  EXPECT_EQ(after[graphic].sig, 0xFFA9);
  EXPECT_EQ(Word(after[graphic].bytes, 6) & 0x10, 0x10);  // a formula (stored flags at 6)
  EXPECT_TRUE(SameRecords(after, graphic + 1, before, graphic, last - graphic + 1));
  EXPECT_EQ(after[last + 2].sig, 170);
  EXPECT_EQ(CountRecords(after, 0xFFA9), 1u);
  ExpectSound();
  ReloadAndRender();
}

// A picture in a plain paragraph: the page renders it as the content of its
// action hotspot. (The renderer writes script actions as a "disabled" note
// after the hotspot's content under its default options.)
TEST_F(ImageHotspot, RenderShowsThePictureAsTheActionsContent) {
  using namespace pictures;
  const Bytes gif = Gif();
  ASSERT_TRUE(OpenBuilt({Para(), PabRef(1), Text("see "), Graphic(20, 10),
                         ImageHeader(1, 20, 10, 1, uint32_t(gif.size())), ImageSegment(gif),
                         Text(" here")}));
  TorvoRTChunk* picture = Define("Graphic 1");
  ASSERT_TRUE(picture);
  ASSERT_EQ(picture->SetImageHotspot("JavaScript", "go(1)", 0, "", nullptr, 0), 0);
  ExpectSound();
  const std::string page = ReloadAndRender();
  const size_t img = page.find("<img");
  ASSERT_NE(img, std::string::npos) << page;
  const size_t action = page.find("<a href=\"\" onclick=\"go(1); return false;\">");
  const size_t note = page.find("(disabled JavaScript script)");
  if (action != std::string::npos) {
    EXPECT_LT(action, img);
    EXPECT_LT(img, page.find("</a>", action));
  } else {
    EXPECT_NE(note, std::string::npos) << page;
    EXPECT_LT(img, note);
  }
  EXPECT_LT(page.find("see"), img);
}

// A designer's picture button: the picture already sits in an action hotspot
// of the older form (0xFFAD ... 174 inside its BEGIN/END). The new action
// replaces that hotspot's begin in the same form; no second hotspot nests
// inside it, and every other record stays as it was.
TEST_F(ImageHotspot, PictureButtonGetsTheNewActionWithoutANestedHotspot) {
  if (!OpenCorpus("jnx/testDbDesignForms/form-layout.xml", "$Body")) GTEST_SKIP() << "no corpus";
  const std::vector<Rec> before = Records();
  size_t graphic = FindSig(before, 153);
  graphic = FindSig(std::vector<Rec>(before.begin() + long(graphic) + 1, before.end()), 153) +
            graphic + 1;  // the second picture
  ASSERT_LT(graphic, before.size());
  ASSERT_GE(graphic, 2u);
  const size_t begin = graphic - 1;
  ASSERT_EQ(before[begin].sig, 0xFFAD);
  ASSERT_EQ(Word(before[begin].bytes, 4), 2);  // an action
  ASSERT_EQ(before[begin - 1].sig, 221);

  TorvoRTChunk* picture = Define("Graphic 2");
  ASSERT_TRUE(picture);
  for (const char* code : {"@Command([FileSave])", "1+1"}) {
    SCOPED_TRACE(code);
    ASSERT_EQ(picture->SetImageHotspot("Formula", code, 0, "", nullptr, 0), 0);
    const std::vector<Rec> after = Records();
    ASSERT_EQ(after.size(), before.size());
    EXPECT_TRUE(SameRecords(after, 0, before, 0, begin));
    EXPECT_EQ(after[begin].sig, 0xFFAD);
    EXPECT_EQ(Word(after[begin].bytes, 4), 2);
    EXPECT_EQ(Word(after[begin].bytes, 6) & 0x10, 0x10);  // a formula
    const std::string data(after[begin].bytes.begin() + 12, after[begin].bytes.end());
    EXPECT_EQ(data, code);
    EXPECT_TRUE(SameRecords(after, begin + 1, before, begin + 1, before.size() - begin - 1));
    size_t hotspots = 0;
    for (const Rec& r : after) hotspots += r.sig == 0xFFA9 || r.sig == 0xFFAD;
    EXPECT_EQ(hotspots, 2u);  // the form's two hotspots, no more
    ExpectSound();
  }
  ReloadAndRender();
}

// A form's picture button as stored: an image resource with its alternate
// text in the graphic's BEGIN/END group, inside an action hotspot's group.
// The new action takes the old one's place in that hotspot; inside a link
// hotspot it would nest: refused, item unchanged.
TEST_F(ImageHotspot, ImageResourceButtonTakesTheNewActionInItsOwnHotspot) {
  using namespace pictures;
  std::vector<Bytes> item = {
      Para(), PabRef(1), Text(""), Begin(0xFFA9),
      Hotspot(0xFFA9, 2, 0x10, kvtest::CompiledFormula("1")),
      Begin(153), Graphic(80, 22), ImageHeader(1, 80, 22, 0), AltText("Save"),
      SharedImage("save.gif", 0), End(153), HotspotEnd(170), End(0x00AA), Text(" after")};
  ASSERT_TRUE(OpenBuilt(item));
  const std::vector<Rec> before = Records();
  TorvoRTChunk* button = Define("Graphic 1");
  ASSERT_EQ(button->SetImageHotspot("JavaScript", "go(2)", 200, "", nullptr, 0), 0);
  const std::vector<Rec> after = Records();
  ASSERT_EQ(after.size(), before.size() + 2);  // the script's event and text
  EXPECT_TRUE(SameRecords(after, 0, before, 0, 4));
  EXPECT_EQ(Word(after[4].bytes, 6), 0);     // no formula ...
  EXPECT_EQ(Word(after[4].bytes, 8), 0x20);  // ... but a script
  EXPECT_EQ(std::string(after[6].bytes.end() - 6, after[6].bytes.end() - 1), "go(2)");
  EXPECT_TRUE(SameRecords(after, 7, before, 5, before.size() - 5));
  char offset[64] = {};
  button->GetPropertyText("GraphicOffset", offset, sizeof offset);
  EXPECT_STREQ(offset, "save.gif");
  ExpectSound();
  EXPECT_NE(ReloadAndRender().find("<img src=\"save.gif\""), std::string::npos);

  item[4] = Hotspot(0xFFA9, 11, 0, "http://example.com/");
  ASSERT_TRUE(OpenBuilt(item));
  const std::vector<Rec> link = Records();
  EXPECT_EQ(Define("Graphic 1")->SetImageHotspot("Formula", "1", 0, "", nullptr, 0),
            NN_ERR_INVALID_ARG);
  EXPECT_TRUE(SameRecords(Records(), 0, link, 0, link.size()));
}

// A picture followed by its image map: the map stays right after it, both in
// the one hotspot; the map's chunk stands for its picture.
TEST_F(ImageHotspot, PictureWithAnImageMapKeepsTheMapNextToIt) {
  if (!OpenCorpus("jnx/testDbDesign/page-importnav.xml", "$Body")) GTEST_SKIP() << "no corpus";
  const std::vector<Rec> before = Records();
  const size_t first = FindSig(before, 153);
  size_t last = before.size() - 1;  // the map's END: the last one of the item
  while (last > first && before[last].sig != 222) --last;
  ASSERT_EQ(Word(before[FindSig(before, 0xFFF4) - 1].bytes, 4), 0xFFF4);
  ASSERT_EQ(Define("ImageMap 1")->SetImageHotspot("Formula", "1+1", 0, "", nullptr, 0), 0);
  const std::vector<Rec> after = Records();
  ASSERT_EQ(after.size(), before.size() + 2);
  EXPECT_TRUE(SameRecords(after, 0, before, 0, first));
  EXPECT_EQ(after[first].sig, 0xFFA9);
  EXPECT_TRUE(SameRecords(after, first + 1, before, first, last - first + 1));
  EXPECT_EQ(after[last + 2].sig, 170);
  EXPECT_TRUE(SameRecords(after, last + 3, before, last + 1, before.size() - last - 1));
  ExpectSound();
  ReloadAndRender();
}

TEST_F(ImageHotspot, NoPictureIsAFailureAndChangesNothing) {
  ASSERT_TRUE(OpenBuilt({Para(), PabRef(1), Text("no picture")}));
  const std::vector<Rec> before = Records();
  TorvoRTChunk* all = Define("");
  EXPECT_NE(all->SetImageHotspot("Formula", "1", 0, "", nullptr, 0), 0);
  EXPECT_TRUE(SameRecords(Records(), 0, before, 0, before.size()));
  EXPECT_EQ(Records().size(), before.size());
}

}  // namespace
}  // namespace enginetest
