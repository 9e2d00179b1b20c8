// Layers: the positioned division, its declarations, empty layers and the
// driver's hand-over.
#include "elements_support.h"

#include <cmath>

namespace elements {
namespace {

Bytes Length(Bytes r, size_t at, uint16_t flags, double value, uint8_t unit) {
  if (r.size() < at + 24) r.resize(at + 24);
  Put16(r, at, flags);
  std::memcpy(r.data() + at + 8, &value, 8);
  r[at + 16] = unit;
  return r;
}

Bytes Position(uint8_t scheme, int32_t z) {
  Bytes r = ByteRecord(0x006B, 120);
  r[2] = scheme;
  Put32(r, 4, uint32_t(z));
  r = Length(r, 8, 0, 10, 2);
  r = Length(r, 32, 0, 1440, 1);
  return r;
}

Bytes Size() {
  Bytes r = ByteRecord(0x006A, 168);
  r = Length(r, 8, 0, 50, 3);
  r = Length(r, 32, 1, 0, 0);
  return r;
}

Bytes Background(uint16_t flags) {
  Bytes r = ByteRecord(0x0072, 8);
  Put16(r, 2, flags);
  r[4] = 1, r[5] = 2, r[6] = 3;
  return r;
}

class LayerTest : public ElementTest {};

TEST_F(LayerTest, GeometryAndBackgroundInTheStyle) {
  Add(GroupBegin(108));
  Add(Position(1, -3));
  Add(Size());
  Add(Background(1));
  Add(IdName({"lay", "", "color:red"}));
  Add(Text("content"));
  Add(GroupEnd(108));
  Add(Text("after"));
  const std::string out = Render();
  EXPECT_EQ(out,
            "<div id=\"lay\" style=\"position: absolute; top: 10px; left: 1.000000in; "
            "z-index: -3; width: 50%; height: auto; background-color: rgb(1,2,3); "
            "color:red\">content</div>after");
  EXPECT_TRUE(ParsesAsXml(out)) << out;
  EXPECT_EQ(ctx->layerDepth, 0);
}

TEST_F(LayerTest, WithoutLayerRecordsTheStyleIsEmpty) {
  Add(GroupBegin(108));
  Add(Text("x"));
  Add(GroupEnd(108));
  EXPECT_EQ(Render(), "<div style=\"\">x</div>");
  ctx->outputCursor = ctx->outputBuffer;
  *ctx->outputCursor = 0;
  ctx->styleDelimiterOpen = "{";
  ctx->styleDelimiterClose = "}";
  EXPECT_EQ(Render(), "<div style=\"{}\">x</div>");
}

TEST_F(LayerTest, AnEmptyLayerWritesItsDivisionAndTheWalkGoesOn) {
  Add(GroupBegin(108));
  Add(Background(0));  // flag clear: no background
  Add(ByteRecord(0x0083, 4));
  Add(Paragraph());
  Add(GroupEnd(108));
  Add(Text("next"));
  const std::string out = Render();
  EXPECT_EQ(out, "<div style=\"\"></div>next");
  EXPECT_EQ(ctx->layerDepth, 0);
}

TEST_F(LayerTest, StandardFontTagsLeaveLayersToTheWalk) {
  Context()->renderFlagsA = 0x8;
  Add(GroupBegin(108));
  Add(Text("t"));
  Add(GroupEnd(108));
  EXPECT_EQ(Render().find("<div"), std::string::npos);
}

TEST_F(LayerTest, UnusableLengthsWriteNoNumbersThatCannotBe) {
  Bytes r = ByteRecord(0x006A, 168);
  r = Length(r, 8, 0, std::nan(""), 2);
  r = Length(r, 32, 0, 1e300, 4);
  Add(GroupBegin(108));
  Add(r);
  Add(Bytes{0x6B, 6, 0, 0, 0, 0});  // a position record cut short
  Add(Text("t"));
  Add(GroupEnd(108));
  const std::string out = Render();
  EXPECT_NE(out.find("width: 0px; height: 1000000000em; "), std::string::npos) << out;
}

TEST_F(LayerTest, NotALayerWritesNothing) {
  Add(Text("t"));
  RenderContext* c = Context();
  c->currentRecord = list->first;
  c->lastRecord = list->last;
  EXPECT_EQ(PXMLL(c, 0, 1), NN_OK);
  EXPECT_STREQ(c->outputBuffer, "");
}

TEST_F(LayerTest, ALayerAfterAParagraphHoldsItsOwnParagraphs) {
  Bytes reference = ByteRecord(0x0083, 4);
  Put16(reference, 2, 1);
  for (bool pTags : {false, true}) {
    SCOPED_TRACE(pTags ? "UsePTags" : "divisions");
    NewList();
    Context()->renderFlagsD = pTags ? 0x100 : 0;
    Add(Paragraph());
    Add(reference);
    Add(Text("page"));
    Add(GroupBegin(108));
    Add(Position(1, 1));
    Add(IdName({"lay"}));
    Add(Paragraph());
    Add(reference);
    Add(Text("inside"));
    Add(GroupEnd(108));
    Add(Paragraph());
    Add(reference);
    Add(Text("after"));
    std::string out = Render();
    CloseOpenElementsTo(ctx, 0, "", 0);
    out = ctx->outputBuffer;
    ASSERT_TRUE(ParsesAsXml(out)) << out;
    // The page's paragraph ends before the layer; the layer's ends inside it.
    const std::string close = pTags ? "</p>" : "</div>";
    EXPECT_NE(out.find("page" + close + "<div id=\"lay\" style=\"position: absolute;"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("inside" + close + "</div>"), std::string::npos) << out;
    EXPECT_LT(out.find("inside"), out.find("after"));
    EXPECT_EQ(ctx->blockElementList, nullptr);
  }
}

}  // namespace
}  // namespace elements
