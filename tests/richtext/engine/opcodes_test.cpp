// The chunk engine's vocabulary tables and lookups.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <strings.h>

#include "richtext/engine/opcodes.h"

namespace {

TEST(ChunkOperationTable, RowsFollowTheCodes) {
  for (uint32_t code = 2351; code <= 2449; ++code) {
    EXPECT_EQ(ChunkOperationTable[code - 2351].code, code);
  }
  for (uint32_t code = 2801; code <= 2827; ++code) {
    EXPECT_EQ(ChunkOperationTable[99 + code - 2801].code, code);
  }
  const ChunkOperationRow& end = ChunkOperationTable[kChunkOperationRows];
  EXPECT_EQ(end.code, 0u);
  EXPECT_EQ(end.modifies, 0u);
  EXPECT_EQ(end.opClass, 0u);
  EXPECT_EQ(ChunkOperationTable[2365 - 2351].opClass, 6u);
  EXPECT_EQ(ChunkOperationTable[2368 - 2351].opClass, 5u);
  EXPECT_EQ(ChunkOperationTable[2386 - 2351].opClass, 1u);
  EXPECT_EQ(ChunkOperationTable[99 + 2818 - 2801].opClass, 1u);
  EXPECT_EQ(ChunkOperationTable[99 + 2808 - 2801].opClass, 0u);
}

TEST(ChunkOperationTable, WriteModes) {
  const uint16_t readOnly[] = {2365, 2367, 2368, 2369, 2370, 2371, 2398, 2400, 2401, 2402,
                               2403, 2407, 2408, 2414, 2418, 2419, 2420, 2421, 2427, 2431,
                               2432, 2435, 2436, 2444, 2804, 2818, 2823, 2825, 2826};
  int modifying = 0;
  for (uint16_t code = 2351; code <= 2827; ++code) {
    if (code > 2449 && code < 2801) {
      EXPECT_EQ(ChunkOperationWriteMode(code, 0), 0u) << code;
      continue;
    }
    bool ro = false;
    for (uint16_t r : readOnly) ro = ro || r == code;
    EXPECT_EQ(ChunkOperationWriteMode(code, 0), ro ? 0u : 1u) << code;
    modifying += ro ? 0 : 1;
  }
  EXPECT_EQ(modifying, 126 - 29);

  // Combinations that only read although the code modifies.
  EXPECT_EQ(ChunkOperationWriteMode(2386, 2804), 0u);
  EXPECT_EQ(ChunkOperationWriteMode(2386, 2805), 1u);
  EXPECT_EQ(ChunkOperationWriteMode(2386, 0), 1u);
  EXPECT_EQ(ChunkOperationWriteMode(2819, 2818), 0u);
  EXPECT_EQ(ChunkOperationWriteMode(2819, 2804), 1u);

  // Engine steps.
  EXPECT_EQ(ChunkOperationWriteMode(STEP_LOCATE, PROP_FIND), 0u);
  EXPECT_EQ(ChunkOperationWriteMode(STEP_POSITIONS, 0), 0u);
  EXPECT_EQ(ChunkOperationWriteMode(STEP_SORT_KEYS, 0), 0u);
  EXPECT_EQ(ChunkOperationWriteMode(STEP_NEXT_PARAGRAPH_ID, 0), 0u);
  EXPECT_EQ(ChunkOperationWriteMode(STEP_CLEANUP_TEXT, 0), 1u);
  EXPECT_EQ(ChunkOperationWriteMode(STEP_GRAPHIC_EXPORT, 2367), 1u);
  EXPECT_EQ(ChunkOperationWriteMode(STEP_TEXT_SET, 0), 1u);
  EXPECT_EQ(ChunkOperationWriteMode(STEP_TEXT_GET, 0), 0u);
  EXPECT_EQ(ChunkOperationWriteMode(72, 0), 1u);
  EXPECT_EQ(ChunkOperationWriteMode(73, 0), 0u);
  EXPECT_EQ(ChunkOperationWriteMode(78, 0), 0u);
  EXPECT_EQ(ChunkOperationWriteMode(0, 0), 0u);
  // Property codes and others are not operations.
  EXPECT_EQ(ChunkOperationWriteMode(2332, 0), 0u);
  EXPECT_EQ(ChunkOperationWriteMode(2620, 0), 0u);
  EXPECT_EQ(ChunkOperationWriteMode(2350, 0), 0u);
  EXPECT_EQ(ChunkOperationWriteMode(2828, 0), 0u);
  EXPECT_EQ(ChunkOperationWriteMode(65535, 0), 0u);
}

TEST(TargetTypes, NamesAndLookups) {
  EXPECT_STREQ(TargetTypeNames[EVERYTHING], "Everything");
  EXPECT_STREQ(TargetTypeNames[FILE_ATTACHMENT], "File");
  EXPECT_STREQ(TargetTypeNames[HORIZONTALRULE], "HR");
  EXPECT_STREQ(TargetTypeNames[LAYOUT], "LayoutRegion");
  EXPECT_STREQ(TargetTypeNames[IGNORE], "Ignored");
  EXPECT_STREQ(TargetTypeNames[DELIMITEDHTML], "DelimitedHTML");
  EXPECT_EQ(TargetTypeNames[PAGEBREAK], nullptr);
  EXPECT_EQ(TargetTypeNames[TAGGEDTEXT], nullptr);

  EXPECT_STREQ(GetTargetTypeName(TABLE, "Error"), "Table");
  EXPECT_EQ(GetTargetTypeName(PAGEBREAK, "Error"), nullptr);
  EXPECT_STREQ(GetTargetTypeName(40, "Error"), "Error");
  EXPECT_STREQ(GetTargetTypeName(0xFFFFFFFFu, "Error"), "Error");

  EXPECT_EQ(FindTargetTypeByName("table"), TABLE);
  EXPECT_EQ(FindTargetTypeByName("Tables"), TABLE);
  EXPECT_EQ(FindTargetTypeByName("ParagraphList"), PARAGRAPH);  // first prefix wins
  EXPECT_EQ(FindTargetTypeByName("GraphicHotspot"), GRAPHIC);
  EXPECT_EQ(FindTargetTypeByName("delimitedhtml"), DELIMITEDHTML);
  EXPECT_EQ(FindTargetTypeByName("Tab"), EVERYTHING);  // too short for "Table"
  EXPECT_EQ(FindTargetTypeByName("PageBreak"), EVERYTHING);
  EXPECT_EQ(FindTargetTypeByName(""), EVERYTHING);
  EXPECT_EQ(FindTargetTypeByName(nullptr), EVERYTHING);
}

TEST(TargetTypes, DescriptorsAfterStartUp) {
  // The load-time initialiser has run already.
  const TargetTypeDescriptor* d = TargetTypeDescriptors;
  for (uint16_t t = 1; t < kTargetTypeCount; ++t) {
    EXPECT_EQ(d[t].targetType, t);
    EXPECT_EQ(d[t].notRowOrColumn, (t == ROW || t == COLUMN) ? 0u : 1u) << t;
  }
  EXPECT_EQ(d[ROW].occurrenceOffset, 2u);
  EXPECT_EQ(d[COLUMN].occurrenceOffset, 3u);
  for (uint16_t t : {BUTTON, SECTION, FILE_ATTACHMENT, HYPERLINK, ACTIONHOTSPOT, POPUP, SUBFORM,
                     COMPUTEDTEXT, URLLink}) {
    EXPECT_EQ(d[t].selectOffset, 4u) << t;
    EXPECT_GT(d[t].selectCount, 0u) << t;
  }
  EXPECT_EQ(d[HOTSPOT].selectCount, 0u);
  EXPECT_EQ(d[SECTION].selectCount, 3u);
  EXPECT_EQ(d[SECTION].selectValues[2], 13u);
  EXPECT_EQ(d[SECTION].insideEndSignatures[4], 0xFFACu);
  EXPECT_EQ(d[POPUP].excludeOffset, 8u);
  EXPECT_EQ(d[POPUP].excludeMasks[0], 0x40000u);
  EXPECT_EQ(d[ACTIONHOTSPOT].excludeOffset, 8u);
  EXPECT_EQ(d[COMPUTEDTEXT].requireOffset, 8u);
  EXPECT_EQ(d[URLLink].requireOffset, 8u);
  EXPECT_EQ(d[URLLink].requireMasks[0], 0x1000u);

  EXPECT_EQ(d[TABLE].startSignatures[1], 0xFFFBu);
  EXPECT_EQ(d[TABLE].insideEndSignatures[6], 209u);
  EXPECT_EQ(d[GRAPHIC].endSignatures[6], 0xFF68u);
  EXPECT_EQ(d[EVENT].endSignatures[0], 222u);
  EXPECT_EQ(d[TEXT].startSignatures[2], 0xFFE4u);
  EXPECT_STREQ(d[XML].leadText, "<?xml");
  EXPECT_STREQ(d[XML].closeText2, "</xml>");
  EXPECT_STREQ(d[XHTML].leadText, "<!DOCTYPE xhtml ");
  EXPECT_STREQ(d[DELIMITEDHTML].closeText, ">]");
  EXPECT_EQ(d[TABLE].leadText, nullptr);
  EXPECT_EQ(d[TAGGEDTEXT].endSignatures[0], 110u);

  EXPECT_EQ(d[DOCLINK].singleRecord, 1u);
  EXPECT_EQ(d[PAGEBREAK].singleRecord, 1u);
  EXPECT_EQ(d[TABLE].singleRecord, 0u);
  EXPECT_EQ(d[PARAGRAPHLIST].endOutside, 1u);
  EXPECT_EQ(d[FIELD].endOutside, 0u);
  EXPECT_EQ(d[LAYER].layerLike, 1u);
  EXPECT_EQ(d[GraphicHotspot].layerLike, 1u);
  EXPECT_EQ(d[LAYOUT].layerLike, 0u);

  // Running the initialiser again changes nothing.
  TargetTypeDescriptor saved = d[POPUP];
  InitTargetTypeDescriptors();
  EXPECT_EQ(std::memcmp(&saved, &d[POPUP], sizeof saved), 0);
}

TEST(TargetTypes, PropertyIndexes) {
  EXPECT_EQ(FindTargetPropertyIndex(TABLE, "TableName"), 18u);
  EXPECT_EQ(FindTargetPropertyIndex(TABLE, "tablewidth"), 0u);
  EXPECT_EQ(FindTargetPropertyIndex(TABLE, "TabFont"), 28u);
  EXPECT_EQ(FindTargetPropertyIndex(TABLE, "TableNam"), 29u);
  EXPECT_EQ(FindTargetPropertyIndex(TABLE, ""), 29u);
  EXPECT_EQ(FindTargetPropertyIndex(TABLE, nullptr), 29u);
  EXPECT_EQ(FindTargetPropertyIndex(HORIZONTALRULE, "TableName"), 12u);
  EXPECT_EQ(FindTargetPropertyIndex(HORIZONTALRULE, nullptr), 12u);
  EXPECT_EQ(FindTargetPropertyIndex(GRAPHIC, "Caption"), 1u);
  EXPECT_EQ(FindTargetPropertyIndex(GRAPHIC, "Missing"), 17u);  // empty slots skipped
  EXPECT_EQ(FindTargetPropertyIndex(LAYER, "height"), 16u);
  EXPECT_EQ(FindTargetPropertyIndex(FIELD, "Anything"), 0u);
  EXPECT_EQ(FindTargetPropertyIndex(GraphicHotspot, "x"), 8u);
  EXPECT_EQ(FindTargetPropertyIndex(TEXT, "x"), 0u);
  EXPECT_EQ(FindTargetPropertyIndex(400, "x"), 0u);
}

TEST(Lookups, JavaScriptReservedWords) {
  size_t n = 0;
  while (JavaScriptReservedWords[n]) {
    if (n) {
      EXPECT_LT(std::strcmp(JavaScriptReservedWords[n - 1], JavaScriptReservedWords[n]), 0);
    }
    ++n;
  }
  EXPECT_EQ(n, 65u);
  for (size_t i = 0; i < n; ++i) EXPECT_EQ(IsNotJavaScriptReservedWord(JavaScriptReservedWords[i]), 0);
  EXPECT_EQ(IsNotJavaScriptReservedWord(nullptr), 0);
  EXPECT_EQ(IsNotJavaScriptReservedWord("Class"), 1);  // case matters
  EXPECT_EQ(IsNotJavaScriptReservedWord("infinity"), 1);
  EXPECT_EQ(IsNotJavaScriptReservedWord("total"), 1);
  EXPECT_EQ(IsNotJavaScriptReservedWord("zzz"), 1);
  EXPECT_EQ(IsNotJavaScriptReservedWord("A"), 1);
  EXPECT_EQ(IsNotJavaScriptReservedWord("yields"), 1);
  EXPECT_EQ(IsNotJavaScriptReservedWord("\xC3\xA9t\xC3\xA9"), 1);
}

TEST(Lookups, MimeTypes) {
  size_t n = 0;
  for (; MimeTypeTable[n].extension; ++n) {
    if (n) {
      EXPECT_LE(strcasecmp(MimeTypeTable[n - 1].extension, MimeTypeTable[n].extension), 0);
    }
    ASSERT_NE(MimeTypeTable[n].mimeType, nullptr);
  }
  EXPECT_EQ(n, 222u);
  EXPECT_EQ(MimeTypeTable[n].mimeType, nullptr);

  EXPECT_STREQ(GetMimeTypeForExtension("photo.JPG"), "image/jpeg");
  EXPECT_STREQ(GetMimeTypeForExtension("a.b.jpeg"), "image/jpeg");
  EXPECT_STREQ(GetMimeTypeForExtension("index.htm"), "text/html");
  EXPECT_STREQ(GetMimeTypeForExtension("x.html"), "text/html");
  EXPECT_STREQ(GetMimeTypeForExtension("x.bmp"), "image/bmp");
  EXPECT_STREQ(GetMimeTypeForExtension("x.css"), "text/css");
  EXPECT_STREQ(GetMimeTypeForExtension("x.doc"), "application/msword");
  EXPECT_STREQ(GetMimeTypeForExtension("x.gif"), "image/gif");
  EXPECT_STREQ(GetMimeTypeForExtension("x.ico"), "image/x-icon");
  EXPECT_STREQ(GetMimeTypeForExtension("x.js"), "application/x-javascript");
  EXPECT_STREQ(GetMimeTypeForExtension("x.mht"), "message/rfc822");
  EXPECT_STREQ(GetMimeTypeForExtension("x.pdf"), "application/pdf");
  EXPECT_STREQ(GetMimeTypeForExtension("x.png"), "image/png");
  EXPECT_STREQ(GetMimeTypeForExtension("x.svg"), "image/svg+xml");
  EXPECT_STREQ(GetMimeTypeForExtension("x.TXT"), "text/plain");
  EXPECT_STREQ(GetMimeTypeForExtension("x.xls"), "application/vnd.ms-excel");
  EXPECT_STREQ(GetMimeTypeForExtension("x.zip"), "application/zip");
  EXPECT_STREQ(GetMimeTypeForExtension("x.acx"), "application/internet-property-stream");
  EXPECT_STREQ(GetMimeTypeForExtension("x.cdf"), "application/x-cdf");  // first row wins
  EXPECT_STREQ(GetMimeTypeForExtension("x.docx"),
               "application/vnd.openxmlformats-officedocument.wordprocessingml.document");
  EXPECT_STREQ(GetMimeTypeForExtension("x.odt"), "application/vnd.oasis.opendocument.text");
  // A name ending in a dot, or without one, is looked up whole.
  EXPECT_STREQ(GetMimeTypeForExtension("pdf."), "application/octet-stream");
  EXPECT_STREQ(GetMimeTypeForExtension("pdf"), "application/pdf");
  EXPECT_STREQ(GetMimeTypeForExtension("README"), "application/octet-stream");
  EXPECT_STREQ(GetMimeTypeForExtension("x.unknownext"), "application/octet-stream");
  EXPECT_STREQ(GetMimeTypeForExtension("x.zzz"), "application/octet-stream");
  EXPECT_STREQ(GetMimeTypeForExtension(""), "application/octet-stream");
  EXPECT_STREQ(GetMimeTypeForExtension(nullptr), "application/octet-stream");
}

TEST(Lookups, ChooseDelimiterChar) {
  EXPECT_EQ(ChooseDelimiterChar("plain", 5), '\'');
  EXPECT_EQ(ChooseDelimiterChar("it's", 4), '"');
  EXPECT_EQ(ChooseDelimiterChar("it's \"x\"", 8), '|');
  EXPECT_EQ(ChooseDelimiterChar("'\"|", 3), '~');
  EXPECT_EQ(ChooseDelimiterChar("ab'", 2), '\'');  // only the first length characters
  EXPECT_EQ(ChooseDelimiterChar("'", 0), '\'');
  EXPECT_EQ(ChooseDelimiterChar("'", -4), '\'');
  // The length counts, not a terminator.
  const char withNul[] = {'a', 0, '\'', '"', '|'};
  EXPECT_EQ(ChooseDelimiterChar(withNul, 5), '~');
}

}  // namespace
