// The table writer: rows and cells from the cell records, spans, widths,
// borders, colours, nested tables and tables continued across ranges.
#include "elements_support.h"

namespace elements {
namespace {

class TableTest : public ElementTest {};

TEST_F(TableTest, RowsCellsSpansAndWidths) {
  Add(TableBegin());
  Add(Cell(0, 0, 7200, false, 2, 1));
  Add(Text("a"));
  Add(Cell(0, 1, 21600));
  Add(Text("b"));
  Add(Cell(1, 1, 21600, false, 1, 1));
  Add(Text("c"));
  Add(Cell(2, 0, 28800, false, 1, 2));
  Add(Text("d"));
  Add(TableEnd());
  Add(Text("after"));
  const std::string out = Render();
  EXPECT_EQ(Count(out, "<table"), 1u);
  EXPECT_EQ(Count(out, "<tr>"), 3u);
  EXPECT_EQ(Count(out, "</tr>"), 3u);
  EXPECT_EQ(Count(out, "<td"), 4u);
  EXPECT_EQ(Count(out, "</td>"), 4u);
  EXPECT_NE(out.find("<td rowspan=\"2\" style=\"width:25%;\">"), std::string::npos) << out;
  EXPECT_NE(out.find("<td style=\"width:75%;\">"), std::string::npos) << out;
  EXPECT_NE(out.find("<td colspan=\"2\" style=\"width:100%;\">"), std::string::npos) << out;
  EXPECT_NE(out.find("width:100%;\">"), std::string::npos);
  // Content in order, and the text after the table outside it.
  const size_t a = out.find('a', out.find("<td")), d = out.find(">d<");
  EXPECT_LT(a, d);
  EXPECT_GT(out.find("after"), out.find("</table>"));
  EXPECT_TRUE(ParsesAsXml(out)) << out;
}

// A fixed-width table is as wide as its cells say, not the window: its first
// row's outer edges where the cells hold them (and each cell its own), else
// its widths as twips.
TEST_F(TableTest, FixedWidthTablesKeepTheirWidth) {
  Bytes left = Cell(0, 0, 7200), right = Cell(0, 1, 21600);
  Put16(left, 4, 1440);
  Put16(left, 6, 2880);
  Put16(right, 4, 2880);
  Put16(right, 6, 5760);
  Add(TableBegin(false, 1440, 0));
  Add(left);
  Add(Text("a"));
  Add(right);
  Add(Text("b"));
  Add(TableEnd());
  const std::string out = Render();
  EXPECT_EQ(out.find("width:100%"), std::string::npos) << out;
  EXPECT_NE(out.find("<table style=\"border-collapse:collapse;width:288px;\">"), std::string::npos)
      << out;
  // Each cell as wide as its own edges say.
  EXPECT_NE(out.find("<td style=\"width:96px;\">a"), std::string::npos) << out;
  EXPECT_NE(out.find("<td style=\"width:192px;\">b"), std::string::npos) << out;
  EXPECT_TRUE(ParsesAsXml(out)) << out;
}

// Inner margins instead of edges: the widths themselves, 2 x 1,440 twips.
TEST_F(TableTest, FixedWidthTablesWithoutEdgesCountTheirWidths) {
  Add(TableBegin(false, 1440, 0));
  Add(Cell(0, 0, 1440));
  Add(Text("a"));
  Add(Cell(0, 1, 1440));
  Add(Text("b"));
  Add(TableEnd());
  const std::string out = Render();
  EXPECT_NE(out.find("width:192px;"), std::string::npos) << out;
  EXPECT_NE(out.find("<td style=\"width:50%;\">b"), std::string::npos) << out;
}

TEST_F(TableTest, BordersColoursAndCellAttributes) {
  Add(TableBegin(false, 2880));  // one inch right of the page margin: 96 pixels
  Add(Cell(0, 0, 0, false, 1, 1, 0x40));         // bottom, single
  Add(Text("x"));
  Add(CellColor(0x12, 0xAB, 0xEF));
  Add(IdName({"c1", "k", "font-weight:bold", "", "onclick=\"x()\" align=\"left\""}, 0xFF7B));
  Add(Cell(0, 1, 0, false, 1, 1, 0xAA, 0x5555));  // double, 5 pixels each side
  Add(CellColor(1, 2, 3, 0x5));                   // "no colour": transparent
  Add(TableEnd());
  const std::string out = Render();
  EXPECT_NE(out.find("margin-left:96px;"), std::string::npos) << out;
  EXPECT_NE(out.find("<table style=\"border-collapse:collapse;margin-left:96px;width:100%;\">"),
            std::string::npos)
      << "a table that fits the window fills it, widths or none: " << out;
  EXPECT_NE(out.find("<td id=\"c1\" class=\"k\" style=\"border-bottom:1px solid #000;"
                     "background-color:#12abef;font-weight:bold\" align=\"left\">"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("onclick"), std::string::npos);
  EXPECT_NE(out.find("border-left:5px double #000;border-right:5px double #000;"
                     "border-top:5px double #000;border-bottom:5px double #000;"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("#010203"), std::string::npos);
  EXPECT_TRUE(ParsesAsXml(out)) << out;
}

TEST_F(TableTest, CellColourByPaletteIndexWhenNoColourRecordStands) {
  auto Coloured = [](uint8_t row, uint8_t col, uint16_t index, uint8_t flags = 0x01) {
    Bytes r = Cell(row, col, 0);
    r[11] = flags;
    Put16(r, 16, index);
    return r;
  };
  Add(TableBegin());
  Add(Coloured(0, 0, 6));  // yellow, by its index alone
  Add(Text("a"));
  Add(Coloured(0, 1, 1));  // the colour record beside the index wins
  Add(Text("b"));
  Add(CellColor(0xEF, 0xEF, 0xEF));
  Add(Coloured(0, 2, 6, 0x02));  // an index without its flag is no colour
  Add(Text("c"));
  Add(Coloured(0, 3, 0));  // index 0: none
  Add(Text("d"));
  Add(TableEnd());
  const std::string out = Render();
  EXPECT_NE(out.find("<td style=\"background-color:#ffff00;\">"), std::string::npos) << out;
  EXPECT_NE(out.find("<td style=\"background-color:#efefef;\">"), std::string::npos) << out;
  EXPECT_EQ(Count(out, "background-color"), 2u) << out;
  EXPECT_TRUE(ParsesAsXml(out)) << out;
}

TEST_F(TableTest, NestedTablesInsideCells) {
  Add(TableBegin());
  Add(Cell(0, 0, 100));
  Add(Text("outer1"));
  Add(TableBegin(true));
  Add(Cell(0, 0, 50, true));
  Add(Text("in1"));
  Add(CellColor(255, 0, 0));  // the inner cell's colour, not the outer's
  Add(Cell(0, 1, 50, true));
  Add(Text("in2"));
  Add(TableEnd(true));
  Add(Text("outer1b"));
  Add(Cell(0, 1, 100));
  Add(Text("outer2"));
  Add(TableEnd());
  const std::string out = Render();
  EXPECT_EQ(Count(out, "<table"), 2u);
  EXPECT_EQ(Count(out, "</table>"), 2u);
  EXPECT_EQ(Count(out, "<td"), 4u);
  EXPECT_EQ(Count(out, "</td>"), 4u);
  EXPECT_EQ(Count(out, "#ff0000"), 1u);
  // The inner table sits in the first outer cell, before that cell's last text.
  const size_t inner = out.find("<table", 1);
  EXPECT_LT(out.find("outer1"), inner);
  EXPECT_LT(out.find("in2"), out.find("outer1b"));
  EXPECT_LT(out.find("outer1b"), out.find("outer2"));
  EXPECT_TRUE(ParsesAsXml(out)) << out;
}

// A nested table's left margin, stored from the page, counts from its cell's
// left edge, also when the nested table renders on its own.
TEST_F(TableTest, NestedTableMarginsCountFromTheirCell) {
  auto Edged = [](uint16_t left, bool nested) {
    Bytes c = Cell(0, 0, 100, nested);
    Put16(c, 4, left);
    return c;
  };
  Add(TableBegin(false, 2880));  // one inch from the page margin: 96 pixels
  Add(Edged(5760, false));
  RTRecordNode* inner = Add(TableBegin(true, 6048));  // 0.2 inch into its cell
  Add(Edged(6048, true));
  Add(TableBegin(true, 6192));  // 0.1 inch into the inner cell
  Add(Edged(6192, true));
  Add(TableEnd(true));
  RTRecordNode* innerEnd = Add(TableEnd(true));
  Add(TableBegin(true, 5760));  // after a nested table: its own cell again
  Add(TableEnd(true));
  Add(TableEnd());
  const std::string out = Render();
  for (const char* margin : {"margin-left:96px;", "margin-left:19px;", "margin-left:9px;"})
    EXPECT_EQ(Count(out, margin), 1u) << out;
  EXPECT_EQ(Count(out, "margin-left"), 3u) << out;
  ctx->outputCursor = ctx->outputBuffer;
  ctx->currentRecord = inner;
  ctx->lastRecord = innerEnd;
  ASSERT_EQ(RenderTableHTML(ctx, 0, 1), NN_OK);
  EXPECT_EQ(Count(ctx->outputBuffer, "margin-left:19px;"), 1u) << ctx->outputBuffer;
}

TEST_F(TableTest, PreTableGroupHandsBackToTheDriverAndTheTableCarriesItsAttributes) {
  Add(Text("before"));
  Add(GroupBegin(0xFFFB));
  Add(WordRecord(0xFFFB, 48));
  Add(WordRecord(0xFF5C, 48));
  Add(IdName({"t1", "grid"}));
  Add(GroupEnd(0xFFFB));
  Add(TableBegin());
  Add(Cell(0, 0, 1));
  Add(Text("only"));
  Add(TableEnd());
  Add(Text("after"));
  const std::string out = Render();
  EXPECT_EQ(Count(out, "<table"), 1u);
  EXPECT_NE(out.find("<table id=\"t1\" class=\"grid\" style=\"border-collapse:collapse;"
                     "width:100%;\">"),
            std::string::npos)
      << out;
  EXPECT_LT(out.find("only"), out.find("</table>"));
  EXPECT_GT(out.find("after"), out.find("</table>"));
  EXPECT_TRUE(ParsesAsXml(out)) << out;
}

TEST_F(TableTest, ContinuedAcrossTwoRangesIsOneTable) {
  Add(TableBegin());
  Add(Cell(0, 0, 1));
  Add(Text("first"));
  RTRecordNode* split = Add(Text("first-more"));
  Add(Cell(0, 1, 1));
  Add(Text("second"));
  Add(Cell(1, 0, 1));
  Add(Text("third"));
  Add(TableEnd());
  RenderContext* c = Context(kOutputXhtml);
  // The first range ends inside the first cell: the table stays open.
  c->currentRecord = list->first;
  c->lastRecord = split;
  ASSERT_EQ(RenderTableHTML(c, 0, 1), NN_OK);
  EXPECT_EQ(c->tableContinues, 1u);
  EXPECT_EQ(c->tableRowOpen, 1u);
  std::string out(c->outputBuffer);
  EXPECT_EQ(out.find("</table>"), std::string::npos) << out;
  EXPECT_EQ(Count(out, "<td"), Count(out, "</td>"));
  // The second range starts at the next cell: same row, then a new one.
  c->currentRecord = split->next;
  c->lastRecord = list->last;
  ASSERT_EQ(RenderTableHTML(c, 0, 1), NN_OK);
  out = c->outputBuffer;
  EXPECT_EQ(c->tableContinues, 0u);
  EXPECT_EQ(Count(out, "<table"), 1u);
  EXPECT_EQ(Count(out, "</table>"), 1u);
  EXPECT_EQ(Count(out, "<tr>"), 2u);
  EXPECT_EQ(c->currentRecord, nullptr);
  EXPECT_TRUE(ParsesAsXml(out)) << out;
}

TEST_F(TableTest, ContinuedThroughTheDriverWithModesOneAndZero) {
  Add(TableBegin());
  Add(Cell(0, 0, 1));
  RTRecordNode* split = Add(Text("one"));
  Add(Cell(1, 0, 1));
  Add(Text("two"));
  Add(TableEnd());
  RenderContext* c = Context(kOutputHtml);
  c->currentRecord = list->first;
  c->lastRecord = split;
  ASSERT_EQ(PrXMLStr(c, 0, 0, 1), NN_OK);
  EXPECT_EQ(c->tableContinues, 1u);
  c->currentRecord = split->next;
  c->lastRecord = list->last;
  ASSERT_EQ(PrXMLStr(c, 0, 0, 0), NN_OK);
  const std::string out(c->outputBuffer);
  EXPECT_EQ(Count(out, "<table"), 1u) << out;
  EXPECT_EQ(Count(out, "</table>"), 1u) << out;
  EXPECT_LT(out.find("one"), out.find("two"));
  EXPECT_LT(out.find("two"), out.find("</table>"));
}

TEST_F(TableTest, RangeEndingInsideANestedTableClosesTheNestedOne) {
  Add(TableBegin());
  Add(Cell(0, 0, 1));
  Add(TableBegin(true));
  Add(Cell(0, 0, 1, true));
  Add(Text("deep"));
  Add(Cell(0, 1, 1, true));
  Add(Text("cut"));
  RenderContext* c = Context(kOutputXhtml);
  c->currentRecord = list->first;
  c->lastRecord = list->last;
  ASSERT_EQ(RenderTableHTML(c, 0, 1), NN_OK);
  std::string out(c->outputBuffer);
  EXPECT_EQ(Count(out, "</table>"), 1u) << "the nested table is closed, the outer continues";
  EXPECT_EQ(c->tableContinues, 1u);
  EXPECT_TRUE(ParsesAsXml(out + "</tr></table>")) << out;
}

TEST_F(TableTest, DeepNestingRendersFlatWithoutOverflow) {
  const int levels = 400;
  Add(TableBegin());
  Add(Cell(0, 0, 1));
  for (int i = 0; i < levels; ++i) {
    Add(TableBegin(true));
    Add(Cell(0, 0, 1, true));
  }
  Add(Text("core"));
  for (int i = 0; i < levels; ++i) Add(TableEnd(true));
  Add(Text("tail"));
  Add(TableEnd());
  const std::string out = Render();
  EXPECT_NE(out.find("core"), std::string::npos);
  EXPECT_NE(out.find("tail"), std::string::npos);
  EXPECT_EQ(Count(out, "<table"), Count(out, "</table>"));
  EXPECT_EQ(Count(out, "<td"), Count(out, "</td>"));
  EXPECT_LT(Count(out, "<table"), size_t(levels));
  EXPECT_TRUE(ParsesAsXml(out));
}

TEST_F(TableTest, FullOutputGivesMemoryStatusAndNoOverrun) {
  Add(TableBegin());
  for (int i = 0; i < 200; ++i) {
    Add(Cell(uint8_t(i / 2), uint8_t(i % 2), 1));
    Add(Text("cell text that takes some room"));
  }
  Add(TableEnd());
  RenderContext* c = Context(kOutputHtml, 2000);
  c->currentRecord = list->first;
  c->lastRecord = list->last;
  EXPECT_EQ(PrXMLStr(c, 0, 1, 0), NN_ERR_MEMORY);
  EXPECT_LE(std::strlen(c->outputBuffer), 2000u - kOutputReserve);
}

TEST_F(TableTest, CellRecordsCutShortAreSkipped) {
  Add(TableBegin());
  Add(ByteRecord(0x00A4, 6));  // far shorter than a cell
  Add(Text("lost"));
  Add(Cell(0, 0, 1));
  Add(Text("kept"));
  Add(TableEnd());
  const std::string out = Render();
  EXPECT_EQ(Count(out, "<td"), 1u);
  EXPECT_NE(out.find("kept"), std::string::npos);
  EXPECT_TRUE(ParsesAsXml(out)) << out;
}

}  // namespace
}  // namespace elements

namespace elements {
namespace {

// A range that ends inside a table (a damaged item without its table end):
// the paragraph around the table closes after the table, never inside it.
TEST_F(TableTest, ATableCutShortClosesBeforeTheParagraphAroundIt) {
  Add(Paragraph());
  Add(Text("before"));
  Add(TableBegin());
  Add(Cell(0, 0, 7200));
  Add(Text("a"));
  Add(Cell(0, 1, 7200));
  Add(Paragraph());
  const std::string out = Render();
  EXPECT_TRUE(ParsesAsXml(out)) << out;
  EXPECT_NE(out.find("</table>"), std::string::npos) << out;
}

}  // namespace
}  // namespace elements
