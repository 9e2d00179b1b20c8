// Every formula, option, margin, name or value a write method takes, given
// alone on a real document: either the records change as the argument's name
// says (and the page saved, reloaded and rendered shows it where it is
// visible), or the call fails with the item byte-identical and its status in
// lastStatus.
#include <functional>

#include "corpus_fixture.h"

namespace corpustest {
namespace {

constexpr const char* kStyled = "jnx/testConvertAndOpenMimeItem/styledtext.xml";
constexpr const char* kView = "jnx/testDbDesignEmbedded/embedded_view.xml";
constexpr const char* kDate = "jnx/testDbDesignEmbedded/embedded_date.xml";
constexpr const char* kAttendee = "ukl/Forms/Attendee.form";
constexpr const char* kCell = "Table 1; Row 1; Column 1; Paragraph 1";

using RecordSet = std::vector<Record>;
using Check = std::function<void(const RecordSet& before, const RecordSet& after, TorvoRTChunk*)>;

uint16_t Word(const Record& r, size_t at) {
  return r.bytes.size() >= at + 2 ? uint16_t(uint8_t(r.bytes[at]) | uint8_t(r.bytes[at + 1]) << 8)
                                   : 0;
}
std::string Property(TorvoRTChunk* c, const char* name) {
  char buffer[1024] = {};
  c->GetPropertyText(name, buffer, sizeof buffer);
  return buffer;
}
size_t CountOf(const RecordSet& rs, uint16_t sig) {
  return size_t(std::count_if(rs.begin(), rs.end(), [&](const Record& r) { return r.signature == sig; }));
}
// The definition (0xFF82) of paragraph `id`, or null.
const Record* Definition(const RecordSet& rs, uint16_t id) {
  for (const Record& r : rs)
    if (r.signature == 0xFF82 && Word(r, 4) == id) return &r;
  return nullptr;
}

// A new hide-when record holding `formula`, whose definition hides by it.
Check HiddenBy(std::string formula) {
  return [formula](const RecordSet& before, const RecordSet& after, TorvoRTChunk*) {
    ASSERT_EQ(CountOf(after, 0xFFBB), CountOf(before, 0xFFBB) + 1);
    for (const Record& r : after) {
      if (r.signature != 0xFFBB || std::count(before.begin(), before.end(), r)) continue;
      EXPECT_EQ(r.bytes.substr(14, formula.size()), formula);
      const Record* def = Definition(after, Word(r, 4));
      ASSERT_NE(def, nullptr);
      EXPECT_TRUE(Word(*def, 62) & 0x0800);
    }
  };
}
// The definition the target's paragraph now references holds `value` at
// host offset `at`.
Check DefinitionWord(const char* definition, size_t at, uint16_t value) {
  return [=](const RecordSet&, const RecordSet& after, TorvoRTChunk* c) {
    const std::string id = Property(c->item->DefineChunk(definition), "PABID");
    const Record* def = Definition(after, uint16_t(std::stoi(id)));
    ASSERT_NE(def, nullptr);
    EXPECT_EQ(Word(*def, at), value);
  };
}
Check RowTexts(const char* table, const char* property, std::vector<std::string> want) {
  return [=](const RecordSet&, const RecordSet&, TorvoRTChunk* c) {
    std::vector<std::string> got;
    for (size_t r = 1; r <= want.size(); ++r) {
      const std::string row = std::string(table) + "; Row " + std::to_string(r);
      got.push_back(Property(c->item->DefineChunk(row.c_str()), property));
    }
    EXPECT_EQ(got, want);
  };
}

// A new record of `sig` holding `text`.
Check Holds(uint16_t sig, std::string text) {
  return [=](const RecordSet& before, const RecordSet& after, TorvoRTChunk*) {
    bool found = false;
    for (const Record& r : after)
      found |= r.signature == sig && !std::count(before.begin(), before.end(), r) &&
               r.bytes.find(text) != std::string::npos;
    EXPECT_TRUE(found) << text.substr(0, 80);
  };
}
// What the item's first table lists for `key`.
Check TableListing(const char* key, std::string want) {
  return [=](const RecordSet&, const RecordSet&, TorvoRTChunk* c) {
    EXPECT_EQ(c->item->DefineChunk("Table 1")->GetTableProperties(key), want);
  };
}
// The first cell's width (twips) and fixed-width bit.
Check FirstCellWidth(uint16_t twips, bool fixed) {
  return [=](const RecordSet&, const RecordSet& after, TorvoRTChunk*) {
    for (const Record& r : after) {
      if (r.signature == 0xFFFB) {
        EXPECT_EQ((Word(r, 12) & 1) != 0, fixed);
      }
      if (r.signature != 164) continue;
      EXPECT_EQ(Word(r, 8), twips);
      return;
    }
    ADD_FAILURE() << "no cell";
  };
}

struct Row {
  const char* name;
  const char* file;
  const char* item;
  const char* definition;
  std::function<NnStatus(TorvoRTChunk*)> call;
  Check stored;                 // null: the call must fail
  std::string shows = {};  // in the page after the call
  std::string hides = {};  // not in the page after the call
};

using ArgumentSweep = CorpusDoc;

NnStatus Link(TorvoRTChunk* c, const std::string& target) {
  return c->AppendLink(nullptr, 0, target.c_str(), "shown", nullptr, nullptr, 0, nullptr, 0,
                       nullptr, 0);
}
NnStatus Table(TorvoRTChunk* c, const char* options, const char* column = nullptr) {
  const char* specs[] = {column, nullptr};
  return c->AppendTable(1, 1, 0, options, specs);
}

TEST_F(ArgumentSweep, EachArgumentReachesTheRecordsOrTheCallFails) {
  // Addresses longer than an option value's 4,095 characters.
  const std::string url = "http://example.com/" + std::string(4100, 'u');
  const std::string stored = "https://example.com/" + std::string(4126, 's');
  const Row rows[] = {
      // Hide formulas of new paragraphs, tables and layers.
      {"AppendParagraph formula", kStyled, "Body", "Paragraph 1",
       [](TorvoRTChunk* c) { return c->AppendParagraph("ZQX", "", "@True", 5); }, HiddenBy("@True"),
       "", "ZQX"},
      {"InsertParagraph formula", kStyled, "Body", "Paragraph 3",
       [](TorvoRTChunk* c) { return c->InsertParagraph("ZQX", "", "@True", 5); }, HiddenBy("@True")},
      {"AppendParagraph bad formula", kStyled, "Body", "Paragraph 1",
       [](TorvoRTChunk* c) { return c->AppendParagraph("ZQX", "", "@(", 2); }, nullptr},
      {"AppendTable HideFormula=", kStyled, "Body", "",
       [](TorvoRTChunk* c) { return c->AppendTable(2, 2, 0, "HideFormula=@IsNewDoc", nullptr); },
       HiddenBy("@IsNewDoc")},
      {"AppendLayer formula", kStyled, "Body", "",
       [](TorvoRTChunk* c) {
         return c->AppendLayer(nullptr, nullptr, nullptr, nullptr, 0, "LayerZQX", nullptr, "@True", 5);
       },
       HiddenBy("@True"), "", "LayerZQX"},
      // Paragraph margins, alone.
      {"ChangeParagraph LeftMargin=%", kStyled, "Body", "Paragraph 3",
       [](TorvoRTChunk* c) { return c->ChangeParagraph("LeftMargin=50%", "", 0); },
       DefinitionWord("Paragraph 3", 74, 50), "margin-left:50%"},
      {"ChangeParagraph FirstLineLeftMargin=%", kStyled, "Body", "Paragraph 3",
       [](TorvoRTChunk* c) { return c->ChangeParagraph("FirstLineLeftMargin=25%", "", 0); },
       DefinitionWord("Paragraph 3", 78, 25), "text-indent:25%"},
      {"ChangeParagraph RightMargin=%", kStyled, "Body", "Paragraph 3",
       [](TorvoRTChunk* c) { return c->ChangeParagraph("RightMargin=10%", "", 0); },
       DefinitionWord("Paragraph 3", 82, 10)},
      {"ChangeParagraph RightMargin= in a cell", kView, "$Body", kCell,
       [](TorvoRTChunk* c) { return c->ChangeParagraph("RightMargin=1in", "", 0); },
       DefinitionWord(kCell, 80, 1440)},
      {"ChangeParagraph LeftMargin= in a cell", kView, "$Body", kCell,
       [](TorvoRTChunk* c) { return c->ChangeParagraph("LeftMargin=3in", "", 0); },
       DefinitionWord(kCell, 72, 4320)},
      // A cell colour on a run in a cell, by any path.
      {"AlterRichText 2394 on a run", kAttendee, "$Body", "Table 1; Row 1; Column 1; Text 1",
       [](TorvoRTChunk* c) {
         c->AlterRichText(2394, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
         return c->lastStatus;
       },
       nullptr},
      // Sorting by the rows' labels.
      {"SortByRow SortBy=TabLabel", kDate, "$Body", "Table 8",
       [](TorvoRTChunk* c) { return NnStatus(c->SortByRow(1, 0, 0, 0, "SortBy=TabLabel TitleRows=0")); },
       RowTexts("Table 8", "RowLabel",
                {"Calendar", "Contacts", "Inbox", "Links", "Misc.", "Pictures", "To Do"})},
      // Matching on a target the item does not hold.
      {"LinkMatching missing target", kStyled, "Body", "Table 9",
       [](TorvoRTChunk* c) { return NnStatus(c->LinkMatching("", "keys.nsf", "Keys", "Subject", "", "", 0)); },
       nullptr},
      {"WikiMatching missing target", kStyled, "Body", "Table 9",
       [](TorvoRTChunk* c) { return NnStatus(c->WikiMatching("", "keys.nsf", "Keys", "Subject", "", "")); },
       nullptr},
      {"LinkMatching unknown key", kStyled, "Body", "",
       [](TorvoRTChunk* c) { return NnStatus(c->LinkMatching("", "keys.nsf", "Keys", "Subject", "", "MinLen=2", 0)); },
       nullptr},
      {"LinkMatching MatchText= unusable", kStyled, "Body", "",
       [](TorvoRTChunk* c) { return NnStatus(c->LinkMatching("", "keys.nsf", "Keys", "Subject", "", "MatchText=Contains", 0)); },
       nullptr},
      {"WikiMatching OneWayOnly= unusable", kStyled, "Body", "",
       [](TorvoRTChunk* c) { return NnStatus(c->WikiMatching("", "keys.nsf", "Keys", "Subject", "", "OneWayOnly=Maybe")); },
       nullptr},
      // Link targets: whole, however long, and only what names something.
      {"AppendLink URL=", kStyled, "Body", "Paragraph 1",
       [&](TorvoRTChunk* c) { return Link(c, "URL='" + url + "'"); }, Holds(0xFFAD, url),
       "href=\"" + url + "\""},
      {"AppendLink address", kStyled, "Body", "Paragraph 1",
       [&](TorvoRTChunk* c) { return Link(c, stored); }, Holds(0xFFAD, stored),
       "href=\"" + stored + "\""},
      {"AppendLink replica", kStyled, "Body", "Paragraph 1",
       [](TorvoRTChunk* c) { return Link(c, "85257A0B00123456"); },
       [](const RecordSet&, const RecordSet&, TorvoRTChunk* c) {
         EXPECT_EQ(Property(c->item->DefineChunk("Doclink 1"), "LinkReplicaID"), "85257A0B00123456");
       }},
      {"AppendLink names nothing", kStyled, "Body", "Paragraph 1",
       [](TorvoRTChunk* c) { return Link(c, "foo"); }, nullptr},
      {"AppendLink replica and more", kStyled, "Body", "Paragraph 1",
       [](TorvoRTChunk* c) { return Link(c, "85257A0B00123456/ZZZ"); }, nullptr},
      // Table options and column widths: taken, or refused as ChangeTable refuses.
      {"AppendTable unknown key", kStyled, "Body", "",
       [](TorvoRTChunk* c) { return Table(c, "BogusKey=1"); }, nullptr},
      {"AppendTable TableHTMLClass=", kStyled, "Body", "",
       [](TorvoRTChunk* c) { return Table(c, "TableHTMLClass=grid"); },
       TableListing("TableHTMLClass", "TableHTMLClass='grid' "), "class=\"grid\""},
      {"AppendTable RowCycleMilliseconds=", kStyled, "Body", "",
       [](TorvoRTChunk* c) { return Table(c, "RowCycleMilliseconds=500"); },
       TableListing("RowCycleMilliseconds", "RowCycleMilliseconds=500 ")},
      {"AppendTable TabFont= (no tabs)", kStyled, "Body", "",
       [](TorvoRTChunk* c) { return Table(c, "TabFont=Bold"); }, nullptr},
      {"AppendTable BorderStyle= unknown", kStyled, "Body", "",
       [](TorvoRTChunk* c) { return Table(c, "BorderStyle=wavy"); }, nullptr},
      {"AppendTable long value", kStyled, "Body", "",
       [&](TorvoRTChunk* c) { return Table(c, ("TableHTMLClass=" + url).c_str()); }, nullptr},
      {"AppendTable Width= unusable", kStyled, "Body", "",
       [](TorvoRTChunk* c) { return Table(c, "", "Width=abc"); }, nullptr},
      {"AppendTable column key unknown", kStyled, "Body", "",
       [](TorvoRTChunk* c) { return Table(c, "", "Wide=2in"); }, nullptr},
      {"AppendTable Width= inches", kStyled, "Body", "",
       [](TorvoRTChunk* c) { return Table(c, "", "Width=1.5in"); }, FirstCellWidth(2160, false)},
      {"AppendTable Width= negative", kStyled, "Body", "",
       [](TorvoRTChunk* c) { return Table(c, "", "Width=-50px"); }, FirstCellWidth(750, true)},
      {"AppendTable DefaultWidthUnit=", kStyled, "Body", "",
       [](TorvoRTChunk* c) { return Table(c, "DefaultWidthUnit=px", "Width=96"); },
       FirstCellWidth(1440, false)},
      {"AppendTable PixelMultiplier= unusable", kStyled, "Body", "",
       [](TorvoRTChunk* c) { return Table(c, "PixelMultiplier=abc"); }, nullptr},
      // Fonts and paragraph strings of text: read whole, or refused.
      {"AppendText font", kStyled, "Body", "Paragraph 1",
       [](TorvoRTChunk* c) { return c->AppendText("x", 0, "+Bogus"); }, nullptr},
      {"SetText font", kStyled, "Body", "",
       [](TorvoRTChunk* c) { return c->SetText("Text 1", "x", 0, "COLOR999"); }, nullptr},
      {"AppendParagraph font", kStyled, "Body", "Paragraph 1",
       [](TorvoRTChunk* c) { return c->AppendParagraph("x", "+Bogus", nullptr, 0); }, nullptr},
      {"AppendParagraph paragraph string", kStyled, "Body", "Paragraph 1",
       [](TorvoRTChunk* c) { return c->AppendParagraph("ZQX", "Alignment=Center", nullptr, 0); },
       DefinitionWord("Paragraph 2", 6, 3)},
      {"AppendParagraph paragraph string key", kStyled, "Body", "Paragraph 1",
       [](TorvoRTChunk* c) { return c->AppendParagraph("ZQX", "Alignmant=Center", nullptr, 0); },
       nullptr},
      {"ChangeParagraph unknown key", kStyled, "Body", "Paragraph 3",
       [](TorvoRTChunk* c) { return c->ChangeParagraph("LeftMargn=1in", "", 0); }, nullptr},
      // Sort options.
      {"SortByRow TitleRows= unusable", kAttendee, "$Body", "Table 1",
       [](TorvoRTChunk* c) { return NnStatus(c->SortByRow(1, 0, 0, 0, "TitleRows=abc")); }, nullptr},
      {"SortByRow unknown key", kAttendee, "$Body", "Table 1",
       [](TorvoRTChunk* c) { return NnStatus(c->SortByRow(1, 0, 0, 0, "TitleRow=0")); }, nullptr},
      // Import options.
      {"AppendHTML unknown key", kStyled, "Body", "Paragraph 1",
       [](TorvoRTChunk* c) { return c->AppendHTML("IN", "<p>hi</p>", "IgnoreImage=1"); }, nullptr},
      {"AppendHTML IgnoreLinks= unusable", kStyled, "Body", "Paragraph 1",
       [](TorvoRTChunk* c) { return c->AppendHTML("IN", "<p>hi</p>", "IgnoreLinks=2"); }, nullptr},
      {"AppendHTML IgnoreLinks=", kStyled, "Body", "Paragraph 1",
       [](TorvoRTChunk* c) {
         return c->AppendHTML("IN", "<p><a href='http://x.example/'>LinkZQX</a></p>", "IgnoreLinks=1");
       },
       [](const RecordSet& before, const RecordSet& after, TorvoRTChunk*) {
         EXPECT_EQ(CountOf(after, 0xFFAD), CountOf(before, 0xFFAD));
       },
       "LinkZQX", "x.example"},
      {"AppendHTML Package= missing", kStyled, "Body", "Paragraph 1",
       [](TorvoRTChunk* c) { return c->AppendHTML("IN", "<p>hi</p>", "Package=/no/such.epub"); },
       nullptr},
      // Attachments and pictures: what the target holds, or a failure.
      {"RenameAttachment empty name", kStyled, "Body", "",
       [](TorvoRTChunk* c) { return c->RenameAttachment("", 0, ""); }, nullptr},
      {"RenameAttachment no attachment", kStyled, "Body", "",
       [](TorvoRTChunk* c) { return c->RenameAttachment("new.txt", 0, ""); }, nullptr},
      {"RenameAttachment", kStyled, "Body", "Paragraph 1",
       [](TorvoRTChunk* c) {
         const NnStatus st = c->AppendFileAttachment(KV_SOURCE_DIR "/README.md", nullptr, 0, "");
         return st ? st : c->item->DefineChunk("File 1")->RenameAttachment("ZQX.txt", 0, "");
       },
       Holds(0xFFA9, "ZQX.txt")},
      {"ResetGraphicDimensions no graphic", kStyled, "Body", "",
       [](TorvoRTChunk* c) { return c->ResetGraphicDimensions(0, ""); }, nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    if (!Open(row.file, row.item)) GTEST_SKIP() << "no corpus";
    const RecordSet before = Records();
    TorvoRTChunk* chunk = Chunk(row.definition);
    const NnStatus status = row.call(chunk);
    const RecordSet after = Records();
    if (!row.stored) {
      EXPECT_NE(status, 0);
      EXPECT_NE(chunk->lastStatus, 0);
      EXPECT_EQ(after, before);
      continue;
    }
    ASSERT_EQ(status, 0);
    EXPECT_EQ(chunk->lastStatus, 0);
    EXPECT_NE(after, before);
    row.stored(before, after, chunk);
    if (row.shows.empty() && row.hides.empty()) continue;
    const std::string page = SaveReloadRender("RespectHiddenFormulas=Yes");
    EXPECT_TRUE(ParsesAsXml(page));
    if (!row.shows.empty()) {
      EXPECT_NE(page.find(row.shows), std::string::npos) << page.substr(0, 2000);
    }
    if (!row.hides.empty()) {
      EXPECT_EQ(page.find(row.hides), std::string::npos) << page;
    }
  }
}

// Render options arrive whole, or the render is refused: a style sheet of
// 5,000 characters lands whole, a head tag too long to be read whole gives
// no page.
TEST_F(ArgumentSweep, RenderOptionsArriveWholeOrTheRenderIsRefused) {
  if (!Open(kStyled, "Body")) GTEST_SKIP() << "no corpus";
  const std::string rule(5000, 'x');
  TorvoRTChunk* all = Chunk("Everything");
  char* page = nullptr;
  uint32_t length = 0;
  const std::string sheet = "AddStyleSheetInfo='p {} /*" + rule + "*/'";
  ASSERT_EQ(all->GenerateXML(nullptr, sheet.c_str(), &page, &length), NN_OK);
  EXPECT_NE(std::string(page, length).find(rule), std::string::npos);
  PoolFree(session, page);
  page = nullptr;
  const std::string head = "HeadTag='<meta name=x content=" + rule + ">'";
  EXPECT_EQ(all->GenerateXML(nullptr, head.c_str(), &page, &length), NN_ERR_INVALID_ARG);
  EXPECT_EQ(page, nullptr);
}

}  // namespace
}  // namespace corpustest
