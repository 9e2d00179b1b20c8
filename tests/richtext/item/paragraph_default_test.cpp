// Default paragraph records and the next free paragraph id.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "lsxsessi.h"
#include "richtext/item/cdlayout.h"
#include "richtext/item/compose.h"
#include "richtext/item/itemhelpers.h"
#include "richtext/item/parastring.h"
#include "rtitem.h"

namespace {

namespace H = kv::cd::host;

uint16_t At(const uint8_t* d, uint32_t off) {
  uint16_t v;
  std::memcpy(&v, d + off, 2);
  return v;
}

// Canonical records: a paragraph definition (70 bytes), its reference and a text.
void AddPab(std::vector<uint8_t>* v, uint16_t id) {
  std::vector<uint8_t> r(70, 0);
  r[0] = 0x82, r[1] = 0xFF, r[2] = 70;
  r[4] = uint8_t(id), r[5] = uint8_t(id >> 8);
  v->insert(v->end(), r.begin(), r.end());
}
void AddText(std::vector<uint8_t>* v, const char* text) {
  uint16_t len = uint16_t(8 + std::strlen(text));
  uint8_t h[8] = {0x85, 0xFF, uint8_t(len), uint8_t(len >> 8), 1, 0, 0, 10};
  v->insert(v->end(), h, h + 8);
  v->insert(v->end(), text, text + std::strlen(text));
  if (len & 1) v->push_back(0);
}

class ParagraphDefault : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(NnDbOpen("mem-h6-paragraph.nsf", NN_DB_CREATE, &db), NN_OK);
    ASSERT_EQ(NnNoteCreate(db, NN_CLASS_DOCUMENT, &note), NN_OK);
  }
  void TearDown() override {
    NnNoteClose(note);
    NnDbClose(db);
  }
  LSXLsiSession session;
  NnHandle db = 0, note = 0;
};

TEST_F(ParagraphDefault, PrimedRecordsFollowTheDefaultTable) {
  ComposeContext ctx;
  ComposePrimeParagraphRecords(&ctx);
  const uint8_t* d = ctx.defaultParagraphDefinition;
  EXPECT_EQ(At(d, 0), 0xFF82);
  EXPECT_EQ(At(d, 2), 84);
  EXPECT_EQ(At(d, H::kPabId), 1);
  EXPECT_EQ(At(d, H::kPabJustify), 0);
  EXPECT_EQ(At(d, H::kPabLeftMargin), 1440);
  EXPECT_EQ(At(d, H::kPabRightMargin), 0);
  EXPECT_EQ(At(d, H::kPabFirstLineLeftMargin), 1440);
  EXPECT_EQ(At(d, H::kPabTabCount), 0);
  EXPECT_EQ(At(d, H::kPabTabs), 720);
  EXPECT_EQ(At(d, H::kPabFlags), 0x0100);
  EXPECT_EQ(At(d, H::kPabFlags2), 0x0494);
  EXPECT_EQ(At(d, kPabExtLeftTwips), 1440);
  EXPECT_EQ(At(d, kPabExtFirstTwips), 1440);
  EXPECT_EQ(At(d, kPabExtRightTwips), 0);
  EXPECT_EQ(At(d, kPabExtRightPercent), 100);
  const uint8_t ref[4] = {131, 4, 1, 0};
  EXPECT_EQ(std::memcmp(ctx.defaultParagraphReference, ref, 4), 0);
}

TEST_F(ParagraphDefault, GivenIdentifierIsUsedAsIs) {
  TorvoRTItem item(&session);
  ComposeContext ctx;
  ComposeInit(&ctx, &session, &item);
  EXPECT_EQ(NewDefaultParagraph(7, 13, &ctx), 7);
  EXPECT_EQ(At(ctx.paragraphDefinition, H::kPabId), 7);
  EXPECT_EQ(At(ctx.paragraphDefinition, H::kPabLeftMargin), 1440);
  EXPECT_EQ(ctx.paragraphDefinitionLength, 84);
  EXPECT_EQ(NewDefaultParagraph(1, 2, nullptr), 0);
}

TEST_F(ParagraphDefault, NextFreeIdIsAboveLoadedAndComposedDefinitions) {
  std::vector<uint8_t> recs;
  AddPab(&recs, 3);
  AddText(&recs, "one");
  AddPab(&recs, 12);
  AddText(&recs, "two");
  AddPab(&recs, 5);
  ASSERT_EQ(NnItemAppend(note, 0, "Body", 4, NN_TYPE_COMPOSITE, recs.data(), uint32_t(recs.size())),
            NN_OK);
  TorvoRTItem item(&session);
  ASSERT_EQ(item.ConnectBackend(db, note, "Body"), NN_OK);
  ComposeContext ctx;
  ComposeInit(&ctx, &session, &item);
  // Nothing loaded yet: the first free id is 1.
  EXPECT_EQ(NewDefaultParagraph(kNextParagraphId, 2, &ctx), 1);
  ComposeInit(&ctx, &session, &item);
  ASSERT_EQ(item.LoadRecords(), NN_OK);
  EXPECT_EQ(NewDefaultParagraph(kNextParagraphId, 2, &ctx), 13);
  // A second call before the definition is appended does not repeat the id.
  EXPECT_EQ(NewDefaultParagraph(kNextParagraphId, 2, &ctx), 14);

  // A definition in the list being composed counts too.
  ComposeInit(&ctx, &session, &item);
  uint8_t pab[84];
  std::memcpy(pab, ctx.paragraphDefinition, 84);
  NewDefaultParagraph(40, 2, &ctx);
  ASSERT_EQ(AppendRecord(ctx.paragraphDefinition, 0xFF82, 84, &ctx), NN_OK);
  EXPECT_EQ(NewDefaultParagraph(kNextParagraphId, 2, &ctx), 41);
  ComposeReleaseHandles(&ctx, 0);
}

}  // namespace
