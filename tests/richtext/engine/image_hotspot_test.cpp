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
  // begin, event, the picture's own records, end.
  ASSERT_EQ(after.size(), before.size() + 3);
  EXPECT_TRUE(SameRecords(after, 0, before, 0, graphic));
  EXPECT_EQ(after[graphic].sig, 0xFFA9);
  EXPECT_EQ(Word(after[graphic].bytes, 4), 2);  // an action
  EXPECT_EQ(after[graphic + 1].sig, 0xFFF9);
  EXPECT_TRUE(SameRecords(after, graphic + 2, before, graphic, last - graphic + 1));
  EXPECT_EQ(after[last + 3].sig, 170);
  EXPECT_TRUE(SameRecords(after, last + 4, before, last + 1, before.size() - last - 1));
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
  size_t hotspots = 0;
  for (const Rec& r : after) hotspots += r.sig == 0xFFA9;
  EXPECT_EQ(hotspots, 1u);
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
