// Graphic operations through the engine: the display-size reset (2827), the
// graphic property steps, and the attachment rename (2815).
#include <cstdio>

#include "engine_fixture.h"
#include "graphicsteps_records.h"
#include "richtext/engine/graphicops.h"

namespace enginetest {
namespace {

using pictures::BitmapHeader;
using pictures::ImageHeader;
using pictures::SharedImage;

// Canonical records.
Bytes Graphic(uint16_t w, uint16_t h, uint16_t resized, uint8_t version, uint8_t flags) {
  Bytes b;
  Put16(b, 0x0099);
  Put32(b, 28);
  Put16(b, w);
  Put16(b, h);
  b.resize(22, 0);
  Put16(b, resized);
  b.push_back(version);
  b.push_back(flags);
  Put16(b, 0);
  return b;
}

uint16_t At16(const Bytes& b, size_t off) { return uint16_t(b[off] | (b[off + 1] << 8)); }

using Graphics = EngineDoc;

TEST_F(Graphics, ResetOverABitmapScalesFromTheOneGivenSide) {
  // 300 twips wide = 20 pixels; the bitmap is 100 x 50: factor 0.2.
  Make({Para(), Graphic(300, 0, 0, 0, 0), BitmapHeader(100, 50), Text("after")});
  ASSERT_EQ(Run(2827), 0);
  Bytes s = Stored();
  ASSERT_GE(s.size(), 2u + 28u);
  EXPECT_EQ(At16(s, 2 + 6), 20);
  EXPECT_EQ(At16(s, 2 + 8), 10);
  EXPECT_EQ(At16(s, 2 + 22), 1);
  EXPECT_EQ(s[2 + 24], 2);
  EXPECT_EQ(s[2 + 25] & 1, 1);
  // The bitmap and the text are untouched.
  EXPECT_EQ(Bytes(s.begin() + 30, s.end()), Join({BitmapHeader(100, 50), Text("after")}));
}

TEST_F(Graphics, ResetWithBothSidesGivesTheNaturalSizeAndImageHeadersTheirOwn) {
  Make({Graphic(2000, 900, 1, 2, 1), BitmapHeader(64, 48), Graphic(5, 5, 0, 0, 0),
        ImageHeader(1, 33, 44, 1), Graphic(7, 7, 1, 2, 1), Text("t")});
  ASSERT_EQ(Run(2827), 0);
  Bytes s = Stored();
  EXPECT_EQ(At16(s, 6), 64);
  EXPECT_EQ(At16(s, 8), 48);
  size_t second = 28 + 38;
  EXPECT_EQ(At16(s, second + 6), 33);
  EXPECT_EQ(At16(s, second + 8), 44);
  EXPECT_EQ(At16(s, second + 22), 1);
  size_t third = second + 28 + 28;
  EXPECT_EQ(At16(s, third + 6), 7);      // followed by text: size kept
  EXPECT_EQ(At16(s, third + 22), 0);     // no longer marked resized
}

TEST_F(Graphics, ResetOverAZeroSizedBitmapNeverDividesByZero) {
  Make({Graphic(0, 300, 1, 0, 0), BitmapHeader(0, 0)});
  ASSERT_EQ(Run(2827), 0);
  Bytes s = Stored();
  EXPECT_EQ(At16(s, 8), 300);
  EXPECT_EQ(At16(s, 22), 0);
}

TEST_F(Graphics, HeightAndUnitInInchesAndPixels) {
  Make({Graphic(1440, 2880, 1, 2, 0), BitmapHeader(300, 200)});
  session->LinkText[0] = 0;
  ASSERT_EQ(Run(29), 0);
  EXPECT_STREQ(session->LinkText, "2.000");
  ASSERT_EQ(Run(53), 0);
  EXPECT_STREQ(session->PropertyText, "inches");  // a text property's buffer
  ASSERT_EQ(Run(52), 0);
  EXPECT_STREQ(session->LinkText, "1.5000");
  ASSERT_EQ(Run(50), 0);
  EXPECT_STREQ(session->PropertyText, "Native Bitmap");
}

TEST_F(Graphics, PixelGraphicReadsPixels) {
  Make({Graphic(100, 150, 1, 2, 1), ImageHeader(2, 100, 150, 1)});
  ASSERT_EQ(Run(29), 0);
  EXPECT_STREQ(session->LinkText, "150");
  ASSERT_EQ(Run(53), 0);
  EXPECT_STREQ(session->PropertyText, "pixels");
  ASSERT_EQ(Run(50), 0);
  EXPECT_STREQ(session->PropertyText, "JPEG");
}

TEST_F(Graphics, NaturalSizeGraphicAnswersFromItsImage) {
  // Resize flag 0: the graphic has no size of its own; the header answers.
  Make({Graphic(0, 0, 0, 0, 0), ImageHeader(1, 40, 30, 1)});
  ASSERT_EQ(Run(31), 0);
  EXPECT_STREQ(session->LinkText, "40");
}

TEST_F(Graphics, FormatAndStorageOfAnImageResource) {
  Make({Graphic(0, 0, 0, 0, 0), ImageHeader(2, 10, 10, 0), SharedImage("logo.jpg", 1)});
  ASSERT_EQ(Run(50), 0);
  EXPECT_STREQ(session->PropertyText, "JPEG Image Resource (formula)");
  ASSERT_EQ(Run(67), 0);
  EXPECT_STREQ(session->PropertyText, "Image Resource (formula)");
}

TEST_F(Graphics, OffsetOfASharedImageIsItsName) {
  Make({Graphic(0, 0, 0, 0, 0), ImageHeader(1, 10, 10, 0), SharedImage("logo.gif", 0)});
  ASSERT_EQ(Run(51), 0);
  EXPECT_STREQ(session->PropertyText, "logo.gif");
}

TEST_F(Graphics, StorageOfAGraphicFollowedByTextIsUndetermined) {
  Make({Graphic(10, 10, 1, 2, 1), Text("x")});
  ASSERT_EQ(Run(67), 0);
  EXPECT_STREQ(session->PropertyText, "Undetermined");
}

TEST_F(Graphics, RenameRebuildsTheHotspotDataAndKeepsAnUndrawnPicture) {
  std::string data("att1.pdf\0report.pdf", 19);
  Make({Para(), Hotspot(0xFFA9, 4, 0, data), Text("x"), HotspotEnd(170)});
  ASSERT_EQ(Run(2815, 0, 0, nullptr, "summary.pdf"), 0);
  Bytes s = Stored();
  // Paragraph, then the rebuilt begin with the stored name and the new one.
  ASSERT_GE(s.size(), 2u + 38u);
  EXPECT_EQ(At16(s, 2), 0xFFA9);
  uint16_t len = At16(s, 4);
  std::string expectData("att1.pdf\0summary.pdf\0", 21);
  EXPECT_EQ(At16(s, 2 + 10), expectData.size());
  EXPECT_EQ(len, 12 + expectData.size() + 1);  // rounded up to even
  EXPECT_EQ(std::string(s.begin() + 2 + 12, s.begin() + 2 + 12 + expectData.size()), expectData);
}

TEST_F(Graphics, PropertyStepIsExposedForOtherFamilies) {
  Make({Text("x")});
  RTProcessContext ctx;
  ctx.Session = session;
  uint8_t rec[8] = {0x85, 0xFF, 8, 0, 0, 0, 0, 0};
  RecordEmission out{rec, 0xFF85, 8, nullptr};
  NnStatus st = 1;
  EXPECT_TRUE(GraphicPropertyStep(29, rec, 0xFF85, 8, &ctx, &out, &st));
  EXPECT_EQ(st, 0);
  EXPECT_EQ(ctx.TargetDone, 0u);
  EXPECT_FALSE(GraphicPropertyStep(7, rec, 0xFF85, 8, &ctx, &out, &st));
}

}  // namespace
}  // namespace enginetest
