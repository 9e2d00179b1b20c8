// Every formula, option, margin, name or value a write method takes, given
// alone on a real document: either the records change as the argument's name
// says (and the page saved, reloaded and rendered shows it where it is
// visible), or the call fails with the item byte-identical and its status in
// lastStatus.
#include <array>
#include <functional>

#include "corpus_fixture.h"
#include "richtext/engine/opcodes.h"

namespace corpustest {
namespace {

constexpr const char* kReadme = KV_SOURCE_DIR "/README.md";
constexpr const char* kCell = "Table 1; Row 1; Column 1; Paragraph 1";

using RecordSet = std::vector<Record>;
using Check = std::function<void(const RecordSet& before, const RecordSet& after, TorvoRTChunk*)>;
// A row's call, named by its own text.
#define CALL(expression) #expression, [&](TorvoRTChunk* c) { return NnStatus(expression); }
// The matching methods' key view: server, database, view, key column, result.
#define KEYS "", "keys.nsf", "Keys", "Subject", ""

uint16_t Word(const Record& r, size_t at) {
  return r.bytes.size() < at + 2 ? 0 : uint16_t(uint8_t(r.bytes[at]) | uint8_t(r.bytes[at + 1]) << 8);
}
std::string Property(TorvoRTChunk* c, const char* definition, const char* name) {
  char buffer[1024] = {};
  c->item->DefineChunk(definition)->GetPropertyText(name, buffer, sizeof buffer);
  return buffer;
}
const Record* Definition(const RecordSet& rs, uint16_t id) {
  for (const Record& r : rs)
    if (r.signature == 0xFF82 && Word(r, 4) == id) return &r;
  return nullptr;
}
// The new records of `sig`.
RecordSet Added(const RecordSet& before, const RecordSet& after, uint16_t sig) {
  RecordSet out;
  for (const Record& r : after)
    if (r.signature == sig && !std::count(before.begin(), before.end(), r)) out.push_back(r);
  return out;
}

// One new hide-when record holding `formula`, whose definition hides by it.
Check HiddenBy(std::string formula) {
  return [formula](const RecordSet& before, const RecordSet& after, TorvoRTChunk*) {
    const RecordSet hide = Added(before, after, 0xFFBB);
    ASSERT_EQ(hide.size(), 1u);
    EXPECT_EQ(hide[0].bytes.substr(14, formula.size()), formula);
    const Record* def = Definition(after, Word(hide[0], 4));
    ASSERT_NE(def, nullptr);
    EXPECT_TRUE(Word(*def, 62) & 0x0800);
  };
}
// The definition `paragraph` references holds `value` at host offset `at`.
Check DefinitionWord(const char* paragraph, size_t at, uint16_t value) {
  return [=](const RecordSet&, const RecordSet& after, TorvoRTChunk* c) {
    const Record* def = Definition(after, uint16_t(std::stoi(Property(c, paragraph, "PABID"))));
    ASSERT_NE(def, nullptr);
    EXPECT_EQ(Word(*def, at), value);
  };
}
// A new record of `sig` holding `text`.
Check Holds(uint16_t sig, std::string text) {
  return [=](const RecordSet& before, const RecordSet& after, TorvoRTChunk*) {
    bool found = false;
    for (const Record& r : Added(before, after, sig)) found |= r.bytes.find(text) != std::string::npos;
    EXPECT_TRUE(found) << text.substr(0, 80);
  };
}
// Each definition's property reads its value.
Check Reads(std::vector<std::array<const char*, 3>> reads) {
  return [=](const RecordSet&, const RecordSet&, TorvoRTChunk* c) {
    for (const auto& [definition, property, want] : reads)
      EXPECT_EQ(Property(c, definition, property), want);
  };
}
// The first cell's width (twips) and fixed-width bit.
Check FirstCellWidth(uint16_t twips, bool fixed) {
  return [=](const RecordSet& before, const RecordSet& after, TorvoRTChunk*) {
    const RecordSet pre = Added(before, after, 0xFFFB), cells = Added(before, after, 164);
    ASSERT_FALSE(pre.empty() || cells.empty());
    EXPECT_EQ((Word(pre[0], 12) & 1) != 0, fixed);
    EXPECT_EQ(Word(cells[0], 8), twips);
  };
}

struct Row {
  const char* name;
  std::function<NnStatus(TorvoRTChunk*)> call;
  const char* file;
  const char* definition;
  Check stored;            // null: the call must fail
  std::string shows = {};  // in the page after the call
  std::string hides = {};  // not in the page after the call
  std::function<NnStatus(TorvoRTChunk*)> prepare = {};  // at "Paragraph 1", before the call
};

NnStatus AttachReadme(TorvoRTChunk* c) { return c->AppendFileAttachment(kReadme, nullptr, 0, ""); }

NnStatus Link(TorvoRTChunk* c, const std::string& target) {
  return c->AppendLink(nullptr, 0, target.c_str(), "shown", nullptr, nullptr, 0, nullptr, 0,
                       nullptr, 0);
}
NnStatus Table(TorvoRTChunk* c, const std::string& options, const char* column = nullptr) {
  const char* specs[] = {column, nullptr};
  return c->AppendTable(1, 1, 0, options.c_str(), specs);
}
// AlterRichText with its options, whose status is the chunk's.
NnStatus Alter(TorvoRTChunk* c, uint16_t code, uint32_t type, const char* options) {
  c->AlterRichText(code, type, 0, 0, 0, options, nullptr, nullptr, nullptr);
  return c->lastStatus;
}

using ArgumentSweep = CorpusDoc;

TEST_F(ArgumentSweep, EachArgumentReachesTheRecordsOrTheCallFails) {
  // Addresses longer than an option value's 4,095 characters.
  const std::string url = "http://example.com/" + std::string(4100, 'u');
  const std::string stored = "https://example.com/" + std::string(4126, 's');
  const Row rows[] = {
      // Hide formulas of new paragraphs, tables and layers; one that does not compile.
      {CALL(c->AppendParagraph("ZQX", "", "@True", 5)), kStyled, "Paragraph 1", HiddenBy("@True"),
       "", "ZQX"},
      {CALL(c->InsertParagraph("ZQX", "", "@True", 5)), kStyled, "Paragraph 3", HiddenBy("@True")},
      {CALL(c->AppendParagraph("ZQX", "", "@(", 2)), kStyled, "Paragraph 1", nullptr},
      {CALL(Table(c, "HideFormula=@IsNewDoc")), kStyled, "", HiddenBy("@IsNewDoc")},
      {CALL(c->AppendLayer(nullptr, nullptr, nullptr, nullptr, 0, "LayerZQX", nullptr, "@True", 5)),
       kStyled, "", HiddenBy("@True"), "", "LayerZQX"},
      {CALL(c->AppendLayer(nullptr, nullptr, nullptr, nullptr, 7, "t", "color:red", nullptr, 0)),
       kStyled, "", Holds(107, std::string("\x07\0\0\0", 4)), "z-index: 7;"},
      // Paragraph margins alone (in a cell too) and paragraph strings; unknown keys refused.
      {CALL(c->ChangeParagraph("LeftMargin=50%", "", 0)), kStyled, "Paragraph 3",
       DefinitionWord("Paragraph 3", 74, 50), "margin-left:50%"},
      {CALL(c->ChangeParagraph("FirstLineLeftMargin=25%", "", 0)), kStyled, "Paragraph 3",
       DefinitionWord("Paragraph 3", 78, 25), "text-indent:25%"},
      {CALL(c->ChangeParagraph("LeftMargin=1in LeftMargin=2in", "", 0)), kStyled, "Paragraph 3", nullptr},
      {CALL(c->ChangeParagraph("RightMargin=10%", "", 0)), kStyled, "Paragraph 3",
       DefinitionWord("Paragraph 3", 82, 10)},
      {CALL(c->ChangeParagraph("RightMargin=1in", "", 0)), kView, kCell,
       DefinitionWord(kCell, 80, 1440)},
      {CALL(c->ChangeParagraph("LeftMargin=3in", "", 0)), kView, kCell,
       DefinitionWord(kCell, 72, 4320)},
      {CALL(c->ChangeParagraph("LeftMargn=1in", "", 0)), kStyled, "Paragraph 3", nullptr},
      {CALL(c->AppendParagraph("ZQX", "Alignment=Center", nullptr, 0)), kStyled, "Paragraph 1",
       DefinitionWord("Paragraph 2", 6, 3)},
      {CALL(c->AppendParagraph("ZQX", "Alignmant=Center", nullptr, 0)), kStyled, "Paragraph 1",
       nullptr},
      // Fonts of new text, read whole or refused.
      {CALL(c->AppendParagraph("x", "+Bogus", nullptr, 0)), kStyled, "Paragraph 1", nullptr},
      {CALL(c->AppendText("x", 0, "+Bogus")), kStyled, "Paragraph 1", nullptr},
      {CALL(c->SetText("Text 1", "x", 0, "COLOR999")), kStyled, "", nullptr},
      // A cell colour on a run in a cell, by any path.
      {CALL(Alter(c, 2394, 0, nullptr)), kAttendee, "Table 1; Row 1; Column 1; Text 1", nullptr},
      // Sorting: by the rows' labels; options it cannot use are refused.
      {CALL(c->SortByRow(1, 0, 0, 0, "SortBy=TabLabel TitleRows=0")), kDate, "Table 8",
       Reads({{"Table 8; Row 1", "RowLabel", "Calendar"}, {"Table 8; Row 3", "RowLabel", "Inbox"},
              {"Table 8; Row 7", "RowLabel", "To Do"}})},
      {CALL(c->SortByRow(1, 0, 0, 0, "TitleRows=abc")), kAttendee, "Table 1", nullptr},
      // A label past its record's 127 characters would be cut.
      {CALL(c->SetPropertyText("RowLabel", std::string(128, 'L').c_str(), 0) ? 0 : c->lastStatus),
       kDate, "Table 8; Row 1", nullptr},
      {CALL(c->SortByRow(1, 0, 0, 0, "TitleRow=0")), kAttendee, "Table 1", nullptr},
      {CALL(c->SortByRow(60, 0, 0, 0, "")), kAttendee, "Table 1", nullptr},  // no such column
      {CALL(c->ReplaceTextQuick("e", 0, "E", 0, "TEXT BOGUS")), kAttendee, "", nullptr},
      // Matching: a target the item does not hold, properties it cannot use.
      {CALL(c->LinkMatching(KEYS, "", 0)), kStyled, "Table 9", nullptr},
      {CALL(c->WikiMatching(KEYS, "")), kStyled, "Table 9", nullptr},
      {CALL(c->LinkMatching(KEYS, "MinLen=2", 0)), kStyled, "", nullptr},
      {CALL(c->LinkMatching(KEYS, "MinLength=500", 0)), kStyled, "", nullptr},  // past a key's 132
      {CALL(c->LinkMatching(KEYS, "MatchText=Contains", 0)), kStyled, "", nullptr},
      {CALL(c->WikiMatching(KEYS, "OneWayOnly=Maybe")), kStyled, "", nullptr},
      {CALL(c->ReplaceMatching(KEYS, "")), kStyled, "", nullptr},  // no result formula
      // Link targets: whole, however long, and only what names something.
      {CALL(Link(c, "URL='" + url + "'")), kStyled, "Paragraph 1", Holds(0xFFAD, url),
       "href=\"" + url + "\""},
      {CALL(Link(c, stored)), kStyled, "Paragraph 1", Holds(0xFFAD, stored),
       "href=\"" + stored + "\""},
      {CALL(Link(c, "85257A0B00123456")), kStyled, "Paragraph 1",
       Reads({{"Doclink 1", "LinkReplicaID", "85257A0B00123456"}})},
      {CALL(Link(c, "foo")), kStyled, "Paragraph 1", nullptr},
      {CALL(Link(c, "85257A0B00123456/ZZZ")), kStyled, "Paragraph 1", nullptr},
      // Table options and column widths: taken, or refused as ChangeTable refuses (a
      // tab font where there are no tabs, a value longer than an option's).
      {CALL(Table(c, "BogusKey=1")), kStyled, "", nullptr},
      {CALL(Table(c, "TableHTMLClass=grid")), kStyled, "", Holds(0xFF7A, "grid"),
       "class=\"grid\""},
      {CALL(Table(c, "RowCycleMilliseconds=500")), kStyled, "",
       [](const RecordSet&, const RecordSet&, TorvoRTChunk* c) {
         EXPECT_STREQ(c->item->DefineChunk("Table 1")->GetTableProperties("RowCycleMilliseconds"),
                      "RowCycleMilliseconds=500 ");
       }},
      {CALL(Table(c, "TabFont=Bold")), kStyled, "", nullptr},
      {CALL(Table(c, "BorderStyle=wavy")), kStyled, "", nullptr},
      {CALL(Table(c, "TableHTMLClass=" + url)), kStyled, "", nullptr},
      {CALL(Table(c, "PixelMultiplier=abc")), kStyled, "", nullptr},
      {CALL(Table(c, "", "Width=abc")), kStyled, "", nullptr},
      {CALL(Table(c, "", "Wide=2in")), kStyled, "", nullptr},
      {CALL(Table(c, "", "Width=1.5in")), kStyled, "", FirstCellWidth(2160, false)},
      {CALL(Table(c, "", "Width=-50px")), kStyled, "", FirstCellWidth(750, true)},
      {CALL(Table(c, "DefaultWidthUnit=px", "Width=96")), kStyled, "", FirstCellWidth(1440, false)},
      // Import options.
      {CALL(c->AppendHTML("IN", "<p>hi</p>", "IgnoreImage=1")), kStyled, "Paragraph 1", nullptr},
      {CALL(c->AppendHTML("IN", "<p>hi</p>", "IgnoreLinks=2")), kStyled, "Paragraph 1", nullptr},
      {CALL(c->AppendHTML("IN", "<p><a href='http://x.example/'>LinkZQX</a></p>", "IgnoreLinks=1")),
       kStyled, "Paragraph 1",
       [](const RecordSet& before, const RecordSet& after, TorvoRTChunk*) {
         EXPECT_TRUE(Added(before, after, 0xFFAD).empty());
       },
       "LinkZQX", "x.example"},
      {CALL(c->AppendHTML("IN", "<p>hi</p>", "Package=/no/such.epub")), kStyled, "Paragraph 1",
       nullptr},
      {CALL(c->AppendImportFile(KV_SOURCE_DIR "/CMakeLists.txt", "LineLength=0")), kStyled,
       "Paragraph 1", nullptr},
      // Attachments and pictures: what the target holds, or a failure.
      {CALL(c->RenameAttachment("", 0, "")), kStyled, "", nullptr},
      {CALL(c->RenameAttachment("new.txt", 0, "")), kStyled, "", nullptr},
      {"RenameAttachment",
       [](TorvoRTChunk* c) {
         const NnStatus st = c->AppendFileAttachment(KV_SOURCE_DIR "/README.md", nullptr, 0, "");
         return st ? st : c->item->DefineChunk("File 1")->RenameAttachment("ZQX.txt", 0, "");
       },
       kStyled, "Paragraph 1", Holds(0xFFA9, "ZQX.txt")},
      {CALL(c->AppendFileAttachment(KV_SOURCE_DIR "/README.md", std::string(300, 'n').c_str(), 0, "")),
       kStyled, "Paragraph 1", nullptr},
      {CALL(c->ResetGraphicDimensions(0, "")), kStyled, "", nullptr},
      // Option keys: the ones each call reads reach the records, any other is refused.
      {CALL(c->AppendFileAttachment(kReadme, nullptr, 0, "AlreadyAttached=Yes")), kStyled,
       "Paragraph 1",
       [](const RecordSet&, const RecordSet& after, TorvoRTChunk*) {  // not a second "Att0.md"
         EXPECT_EQ(std::count_if(after.begin(), after.end(), [](const Record& r) {
                     return r.signature == 0xFFA9 && r.bytes.find("README.md") != std::string::npos;
                   }), 2);
       }, "", "", AttachReadme},
      {CALL(c->AppendFileAttachment(kReadme, nullptr, 0, "Hidden=Yes")), kStyled, "Paragraph 1",
       nullptr},
      {CALL(c->RenameAttachment("ZQX.txt", 0, "IconFont=Arial")), kStyled, "File 1", nullptr, "",
       "", AttachReadme},
      {CALL(c->RefreshAttachmentIcon(0, "PrefixText=a PrefixColor=red")), kStyled, "File 1",
       nullptr, "", "", AttachReadme},
      {CALL(c->RefreshAttachmentIcon(0, "PrefixText=a")), kStyled, "File 1", nullptr, "", "",
       AttachReadme},  // an icon without a picture: nothing to draw the prefix on
      {CALL(c->ResetGraphicDimensions(0, "Width=10")), kBadge, "Graphic 1", nullptr},
      {CALL(c->AppendHotspot("Action Formula", "@Now", 4, "HotspotHTMLClass=zqx", "L", 1)), kStyled,
       "Paragraph 1", Holds(0xFF7A, "zqx")},
      {CALL(c->AppendHotspot("Action Formula", "@Now", 4, "Label=zqx", "L", 1)), kStyled,
       "Paragraph 1", nullptr},
      {CALL(c->SetImageHotspot("Formula", "1", 0, "Target=zqx", nullptr, 0)), kBadge, "Graphic 1",
       Holds(0xFFF2, "zqx")},
      {CALL(c->SetImageHotspot("Formula", "1", 0, "Frame=zqx", nullptr, 0)), kBadge, "Graphic 1",
       nullptr},
      {CALL(c->AppendGraphic("URL", "http://x.example/p.gif", "AltText=ZQX")), kStyled,
       "Paragraph 1", Holds(0xFF85, "ZQX"), "ZQX"},
      {CALL(c->AppendGraphic("URL", "http://x.example/p.gif", "Width=10")), kStyled, "Paragraph 1",
       nullptr},
      {CALL(c->AppendImportFile(KV_SOURCE_DIR "/CMakeLists.txt", "LineLength=12")), kStyled,
       "Paragraph 1",
       [](const RecordSet& before, const RecordSet& after, TorvoRTChunk*) {
         for (const Record& r : Added(before, after, 0xFF85)) EXPECT_LE(r.bytes.size(), 8u + 12u);
       }},
      {CALL(c->AppendImportFile(KV_SOURCE_DIR "/CMakeLists.txt", "Wrap=12")), kStyled,
       "Paragraph 1", nullptr},
      {CALL(c->AppendHTML("NONE", "", "IgnoreLinks=1")), kStyled, "Paragraph 1", nullptr},
      {CALL(c->AppendHTML("URL", "http://x.example/", "")), kStyled, "Paragraph 1",
       nullptr},
      // A layer's element options.
      {CALL(Alter(c, 2437, LAYER, "BackgroundColor=#102030")), kView, "Layer 1",
       [](const RecordSet&, const RecordSet&, TorvoRTChunk* c) {
         EXPECT_STREQ(c->item->DefineChunk("Layer 1")->GetTargetProperties("Layer", "BackgroundColor"),
                      "#102030");
       },
       "background-color: rgb(16,32,48)"},
      {CALL(Alter(c, 2437, LAYER, "Scheme=floating")), kView, "Layer 1", nullptr},
      {CALL(Alter(c, 2437, LAYER, "BackgroundColor=nocolour")), kView, "Layer 1", nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.name) + " on \"" + row.definition + "\" of " + row.file);
    if (!Open(row.file, row.file == kStyled ? "Body" : "$Body")) GTEST_SKIP() << "no corpus";
    if (row.prepare) {
      ASSERT_EQ(row.prepare(Chunk("Paragraph 1")), 0);
    }
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
    EXPECT_TRUE(row.shows.empty() || page.find(row.shows) != std::string::npos) << page;
    EXPECT_TRUE(row.hides.empty() || page.find(row.hides) == std::string::npos) << page;
  }
}

// Render options arrive whole, or the render is refused: a style sheet of
// 5,000 characters lands whole, a head tag too long to be read whole gives
// no page.
TEST_F(ArgumentSweep, RenderOptionsArriveWholeOrTheRenderIsRefused) {
  if (!Open(kStyled, "Body")) GTEST_SKIP() << "no corpus";
  const std::string rule(5000, 'x');
  EXPECT_NE(SaveReloadRender(("AddStyleSheetInfo='p {} /*" + rule + "*/'").c_str()).find(rule),
            std::string::npos);
  char* page = nullptr;
  uint32_t length = 0;
  // Values their keys cannot use, one of each kind; a key the table lacks is
  // another reader's and passes.
  for (const std::string& options :
       {"HeadTag='<meta name=x content=" + rule + ">'", std::string("AttachmentHandling=BOGUS"),
        std::string("XPage=maybe"), std::string("SectionIncludeTitle=perhaps"),
        std::string("TabSpaces=33"), std::string("ForceFontSize=abc"),
        std::string("ForceFontColor=#12345"), std::string("bgcolor=nocolour"),
        std::string("ForceFontFace=NoSuchFace"), std::string("IconFont='a;b'"),
        std::string("ImageURLDirectory=javascript:x"), std::string("AjaxID='a b'"),
        std::string("OpeningBody='<p>'"), std::string("HeadTag='<script>'"),
        std::string("WikiURLPrefix=wiki"), std::string("Generation=Bogus UsePTags=Yes")}) {
    TorvoRTChunk* chunk = Chunk("");
    EXPECT_EQ(chunk->GenerateXML(nullptr, options.c_str(), &page, &length), NN_ERR_INVALID_ARG)
        << options.substr(0, 40);
    EXPECT_EQ(chunk->lastStatus, NN_ERR_INVALID_ARG);
    EXPECT_EQ(page, nullptr);
  }
  TorvoRTChunk* chunk = Chunk("");
  ASSERT_EQ(chunk->GenerateXML(nullptr, "OutputCharset=klingon Generation=Page", &page, &length),
            NN_OK);
  EXPECT_EQ(chunk->lastStatus, NN_OK);
  PoolFree(session, page);
}

}  // namespace
}  // namespace corpustest
