// The render-option reader: flag words, presets, clamped numbers and refused
// values.
#include <gtest/gtest.h>

#include <cstring>

#include "lsxsessi.h"
#include "render/render.h"
#include "render/rendercontext.h"

namespace {

class RenderOptions : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(session.IsValid());
    ctx = RenderContextCreate(&session, 4096);
    ASSERT_NE(ctx, nullptr);
  }
  void TearDown() override { RenderContextFree(ctx); }
  RenderContext* Read(const char* options, uint16_t kind = kOutputHtml) {
    EXPECT_EQ(session.PreprocessXMLProperties(ctx, kind, nullptr, options), 0);
    return ctx;
  }
  LSXLsiSession session;
  RenderContext* ctx = nullptr;
};

TEST_F(RenderOptions, PresetsAndTheirKeys) {
  Read("");
  EXPECT_TRUE(ctx->renderFlagsB & 0x1);    // styles inline
  EXPECT_TRUE(ctx->renderFlagsB & 0x800);
  EXPECT_TRUE(ctx->renderFlagsE & 0x80);
  EXPECT_TRUE(ctx->renderFlagsE & 0x800);  // class rules of style records
  EXPECT_FALSE(ctx->renderFlagsA & 0x8);
  EXPECT_STREQ(ctx->faceNames[0], "Default Sans Serif");
  EXPECT_EQ(ctx->iconPointSize, 12);
  EXPECT_EQ(ctx->characterSet, 32);
  EXPECT_EQ(ctx->attachmentHandling, 1u);
  EXPECT_STREQ(ctx->styleDelimiterOpen, "");

  Read("MoveStylesInline=No RestoreCSSRefs=No StandardFontTags=Yes UsePTags=1 "
       "SectionsInCSS=true Generation=Fragment AddNewlines=CRLF RelativePtSize=P");
  EXPECT_FALSE(ctx->renderFlagsB & 0x1);
  EXPECT_FALSE(ctx->renderFlagsE & 0x800);
  EXPECT_TRUE(ctx->renderFlagsA & 0x8);
  EXPECT_TRUE(ctx->renderFlagsD & 0x100);
  EXPECT_TRUE(ctx->renderFlagsB & 0x200);
  EXPECT_TRUE(ctx->renderFlagsA & 0x2);
  EXPECT_TRUE(ctx->renderFlagsA & 0x400);
  EXPECT_TRUE(ctx->renderFlagsE & 0x1000);
}

TEST_F(RenderOptions, XhtmlKeepsNumericEntitiesWhateverTheKeySays) {
  Read("UseXMLEntities=No", kOutputXhtml);
  EXPECT_EQ(ctx->outputKind, kOutputXhtml);
  EXPECT_TRUE(ctx->renderFlagsC & 0x800);
  Read("UseXMLEntities=No", kOutputHtml);
  EXPECT_FALSE(ctx->renderFlagsC & 0x800);
}

TEST_F(RenderOptions, NumbersAreClamped) {
  Read("IconPtSize=4 TabSpaces=9999 CSS3=99 DataImages=10");
  EXPECT_EQ(ctx->iconPointSize, 8);
  EXPECT_EQ(ctx->tabSpaces, 32);
  EXPECT_EQ(ctx->css3Features, 31u);
  EXPECT_EQ(ctx->dataImages, 256u);  // the smallest useful limit
  Read("IconPtSize=300 DataImages=Yes CSS3=All");
  EXPECT_EQ(ctx->iconPointSize, 72);
  EXPECT_EQ(ctx->dataImages, 8192u);
  EXPECT_EQ(ctx->css3Features, 31u);
  Read("IconPtSize=abc DataImages=Max");
  EXPECT_EQ(ctx->iconPointSize, 12);
  EXPECT_EQ(ctx->dataImages, UINT32_MAX);
}

TEST_F(RenderOptions, EnumeratedValues) {
  const struct {
    const char* options;
    uint32_t handling;
  } cases[] = {{"AttachmentHandling=IGNORE", 0}, {"AttachmentHandling=disk", 2},
               {"AttachmentHandling=Name", 4},   {"AttachmentHandling=REF", 8},
               {"AttachmentHandling=other", 1}};
  for (const auto& c : cases) {
    Read(c.options);
    EXPECT_EQ(ctx->attachmentHandling, c.handling) << c.options;
  }
  Read("Charset=UTF-8 UseCurlyBracesInline=YES OutputToEvent=Yes");
  EXPECT_EQ(ctx->characterSet, 1);
  EXPECT_STREQ(ctx->styleDelimiterOpen, "{");
  EXPECT_STREQ(ctx->styleDelimiterClose, "}");
  EXPECT_EQ(ctx->flushThreshold, 8192u);
}

TEST_F(RenderOptions, TextsAreCheckedBeforeTheWritersSeeThem) {
  Read("ExportStylesheet='java\tscript:alert(1)' ImageURLDirectory=data:text/html,x "
       "CSSBulletGraphic=/img/b.gif IconFont='Ar\"ial<b>;x' "
       "ImageDirectory='/tmp/a\x01" "b'");
  EXPECT_EQ(ctx->stylesheetUrl, nullptr);
  EXPECT_EQ(ctx->imageURLDirectory, nullptr);
  ASSERT_NE(ctx->bulletGraphics[0], nullptr);
  EXPECT_STREQ(ctx->bulletGraphics[0], "/img/b.gif");
  EXPECT_STREQ(ctx->iconFont, "Arialbx");
  ASSERT_NE(ctx->imageDirectory, nullptr);
  EXPECT_STREQ(ctx->imageDirectory, "/tmp/ab");
}

TEST_F(RenderOptions, AttachmentUrlDirectoryBecomesAFileUrl) {
  Read("AttachmentURLDirectory='C:\\files\\out\\'");
  ASSERT_NE(ctx->attachmentURLDirectory, nullptr);
  EXPECT_STREQ(ctx->attachmentURLDirectory, "file:///C:/files/out");
}

}  // namespace
