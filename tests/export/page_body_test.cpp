// Pages of real documents and of items the chunk methods write: the page
// colour, the elements the body opening leaves open, and hide-when formulas
// the composers write (also after a save and reload).
#include <gtest/gtest.h>
#include <libxml/parser.h>

#include <cstring>
#include <memory>
#include <map>
#include <string>
#include <vector>

#include "host/pool.h"
#include "lsxsessi.h"
#include "nn/nn.h"
#include "rtchunk.h"
#include "rtitem.h"
#include "support/testutil.h"

namespace {

bool WellFormed(const std::string& page) { return kvtest::ParsesAsXml(page); }

// One item of a DXL file (the first note that has it), rendered.
class FileItem {
 public:
  FileItem(const std::string& path, const char* name) {
    if (NnDbOpen(path.c_str(), 0, &db_) != NN_OK) return;
    for (uint32_t i = 0; i < NnDbNoteCount(db_) && !chunk_; ++i) {
      NOTEID id = 0;
      if (NnDbNoteIdAt(db_, i, &id) != NN_OK || NnNoteOpen(db_, id, 0, &note_) != NN_OK) continue;
      uint16_t type = 0;
      if (NnItemInfo(note_, name, uint16_t(std::strlen(name)), nullptr, &type, nullptr,
                     nullptr) == NN_OK) {
        item_ = std::make_unique<TorvoRTItem>(&session_);
        if (item_->ConnectBackend(db_, note_, name) == NN_OK) chunk_.reset(item_->DefineChunk(""));
        if (chunk_) break;
        item_.reset();
      }
      NnNoteClose(note_);
      note_ = 0;
    }
  }
  ~FileItem() {
    chunk_.reset();
    item_.reset();
    if (note_) NnNoteClose(note_);
    if (db_) NnDbClose(db_);
  }
  TorvoRTChunk* chunk() { return chunk_.get(); }
  NnHandle db() const { return db_; }
  NnHandle note() const { return note_; }

  std::string Page(bool xhtml, const char* options = "") {
    char* text = nullptr;
    uint32_t length = 0;
    const NnStatus st = xhtml ? chunk_->GenerateXML(nullptr, options, &text, &length)
                              : chunk_->GenerateHTML(nullptr, options, &text, &length);
    EXPECT_EQ(st, 0) << options;
    std::string out;
    if (text) {
      out.assign(text, length);
      PoolFree(&session_, text);
    }
    return out;
  }

 private:
  LSXLsiSession session_;
  NnHandle db_ = 0, note_ = 0;
  std::unique_ptr<TorvoRTItem> item_;
  std::unique_ptr<TorvoRTChunk> chunk_;
};

std::string CorpusFile(const std::string& relative) {
  const std::string corpus = kvtest::CorpusDir();
  return corpus.empty() ? std::string() : corpus + "/dxl/" + relative;
}

// Pages of real documents: what each must hold, start or end with, and lack;
// an XHTML page parses.
TEST(PageBody, RealDocumentPagesHoldTheirBodies) {
  struct Case {
    const char* file;
    const char* item;
    bool xhtml;
    const char* options;
    std::vector<std::string> holds, lacks;
    std::string starts = "", ends = "";
  };
  const char* const activity = "jnx/testDbDesignForms/form-activityreport.xml";
  const char* const view = "jnx/testDbDesignEmbedded/embedded_view.xml";
  const char* const login = "ukl/Forms/__LoginUserForm.form";
  const std::vector<Case> cases = {
      // The page colour: flags 0 mean the RGB bytes (all 0) are not the
      // colour, entry 6 is; an old record whose colour words hold other data
      // takes entry 7; an RGB colour with its flag, the RGB bytes.
      {activity, "$Body", false, "", {"<body style='background: #ffff00;' text='#000000'>"}, {}},
      {"jnx/testV1discuss/2190.xml", "$BODY", false, "", {"<body style='background: #00ffff;'"},
       {"#1f044f"}},
      {"jnx/testDbDesignForms/form-components.xml", "$Body", false, "",
       {"<body style='background: #ffffff;'"}, {}},
      // Form and fragment elements close.
      {activity, "$Body", true, "FormName=Report",
       {"name=\"_Report\">", "</div></form></body></html>\n"}, {}},
      {activity, "$Body", true, "Generation=Fragment AjaxID=report", {}, {}, "<div id='report'>",
       "</div></div>"},
      // A fragment's global font opens inside its element and closes with it;
      // the designer's HTML is markup, in XHTML too.
      {login, "$Body", true, "Generation=Fragment AjaxID=box1 StandardFontTags=Yes",
       {"<label for=\"user-id\">User name:</label>"}, {"&lt;div", "&lt;label"},
       "<div id='box1'><font face=\"Arial\"", "</font></div>"},
      {login, "$Body", false, "Generation=Fragment AjaxID=box1 StandardFontTags=Yes", {}, {},
       "<div id='box1'><font face=\"Arial\"", "</font></div>"},
      {activity, "$Body", true, "HeadTag='<meta name=\"robots\" content=\"none\"/>'",
       {"<meta name=\"robots\" content=\"none\" />\n</head>"}, {}},
      // Under paragraph tags the layer's table and its paragraphs close
      // before the layer does, and the layer is a block of its own.
      {view, "$Body", true, "UsePTags=Yes", {"RT1</span></p></td></tr></table></p></div><p"},
       {"<p style=\"margin-top: 0em; margin-bottom: 0em; \"><div id=\"Layer"}},
      // Stored captions show even where their picture cannot (an image
      // resource named by a formula).
      {view, "$Body", true, "",
       {"<span style=\"display:block;\">Inbox</span>", "<span style=\"display:block;\">Calendar</span>",
        "<span style=\"display:block;\">To Do</span>", "<span style=\"display:block;\">Contacts</span>"},
       {}},
  };
  if (CorpusFile("").empty()) GTEST_SKIP() << "no corpus";
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " " + c.options);
    FileItem open(CorpusFile(c.file), c.item);
    ASSERT_NE(open.chunk(), nullptr);
    const std::string page = open.Page(c.xhtml, c.options);
    if (c.xhtml) {
      EXPECT_TRUE(WellFormed(page)) << page;
    }
    for (const std::string& text : c.holds) EXPECT_NE(page.find(text), std::string::npos) << text;
    for (const std::string& text : c.lacks) EXPECT_EQ(page.find(text), std::string::npos) << text;
    EXPECT_EQ(page.rfind(c.starts, 0), 0u) << page.substr(0, 200);
    EXPECT_EQ(page.size() >= c.ends.size() ? page.substr(page.size() - c.ends.size()) : page, c.ends);
  }
}

// A new document with one paragraph, and a paragraph with a hide formula the
// chunk appends (its hide record before its definition, filling its record).
class ComposedHide : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = kvtest::MakeTempDir();
    ASSERT_EQ(NnDbOpen((dir + "/hide.nsf").c_str(), NN_DB_CREATE, &db), NN_OK);
    ASSERT_EQ(NnNoteCreate(db, NN_CLASS_DOCUMENT, &note), NN_OK);
    const uint8_t body[] = {129, 2};
    ASSERT_EQ(NnItemAppend(note, 0, "Body", 4, NN_TYPE_COMPOSITE, body, sizeof body), NN_OK);
    item = std::make_unique<TorvoRTItem>(&session);
    ASSERT_EQ(item->ConnectBackend(db, note, "Body"), NN_OK);
    chunk.reset(item->DefineChunk("Everything"));
    ASSERT_NE(chunk, nullptr);
    ASSERT_EQ(chunk->AppendParagraph("Always shown", nullptr, nullptr, 0), 0);
    ASSERT_EQ(chunk->AppendParagraph("Hidden by formula", "HideWhen=11", nullptr, 0), 0);
  }
  void TearDown() override {
    chunk.reset();
    item.reset();
    if (note) NnNoteClose(note);
    if (db) NnDbClose(db);
    kvtest::RemoveTree(dir);
  }
  std::string Page(TorvoRTChunk* c, const char* options) {
    char* text = nullptr;
    uint32_t length = 0;
    EXPECT_EQ(c->GenerateXML(nullptr, options, &text, &length), 0);
    std::string out(text ? text : "", length);
    if (text) PoolFree(&session, text);
    return out;
  }
  std::string dir;
  LSXLsiSession session;
  NnHandle db = 0, note = 0;
  std::unique_ptr<TorvoRTItem> item;
  std::unique_ptr<TorvoRTChunk> chunk;
};

TEST_F(ComposedHide, TheFormulaHidesItsParagraphBeforeAndAfterReload) {
  std::string page = Page(chunk.get(), "RespectHiddenFormulas=Yes");
  EXPECT_NE(page.find("Always shown"), std::string::npos) << page;
  EXPECT_EQ(page.find("Hidden by formula"), std::string::npos) << page;
  page = Page(chunk.get(), "");
  EXPECT_NE(page.find("Hidden by formula"), std::string::npos) << page;

  // Saved and loaded again: the records come back from the file.
  ASSERT_EQ(NnNoteUpdate(note, 0), NN_OK);
  const std::string saved = dir + "/hide.dxl";
  ASSERT_EQ(NnDbSaveDxl(db, saved.c_str()), NN_OK);
  FileItem reloaded(saved, "Body");
  ASSERT_NE(reloaded.chunk(), nullptr);
  page = reloaded.Page(true, "RespectHiddenFormulas=Yes");
  EXPECT_TRUE(WellFormed(page));
  EXPECT_NE(page.find("Always shown"), std::string::npos) << page;
  EXPECT_EQ(page.find("Hidden by formula"), std::string::npos) << page;
}

// A computed text whose formula cannot be evaluated shows nothing, not the
// label the hotspot holds; a result stands in for the label.
TEST_F(ComposedHide, AComputedTextShowsItsResultAndNothingWhenItsFormulaFails) {
  ASSERT_EQ(chunk->AppendHotspot("ComputedText", "@UserName", 9, "", nullptr, 0), 0);
  ASSERT_EQ(chunk->AppendHotspot("ComputedText", "\"<b>\" + \"1\"", 12, "", nullptr, 0), 0);
  // A list shows every value, numbers as their text would.
  ASSERT_EQ(chunk->AppendHotspot("ComputedText", "1:2:3", 5, "", nullptr, 0), 0);
  ASSERT_EQ(chunk->AppendHotspot("ComputedText", "@Text(1:2:3)", 12, "", nullptr, 0), 0);
  const std::string page = Page(chunk.get(), "");
  EXPECT_TRUE(WellFormed(page)) << page;
  EXPECT_EQ(page.find("Action Hotspot"), std::string::npos) << page;
  EXPECT_NE(page.find("Hidden by formula&lt;b&gt;11;2;31;2;3</div>"), std::string::npos) << page;
}

// "StandardFontTags=": a table under a right-aligned paragraph keeps its
// column order; only a right-to-left paragraph turns it round.
TEST_F(ComposedHide, ATableUnderARightAlignedParagraphTurnsOnlyForRightToLeft) {
  for (const char* pab : {"Alignment=Right Direction=LTR", "Alignment=Right Direction=RTL"}) {
    ASSERT_EQ(chunk->AppendParagraph("", pab, nullptr, 0), 0);
    ASSERT_EQ(chunk->AppendTable(1, 2, 0, "", nullptr), 0);
  }
  const std::string page = Page(chunk.get(), "StandardFontTags=Yes");
  EXPECT_TRUE(WellFormed(page)) << page;
  const size_t ltr = page.find("<div align='right'><table"), rtl = page.find("direction: rtl");
  EXPECT_LT(ltr, rtl) << page;
  EXPECT_NE(page.find("<div style='direction: rtl;' align='left'><table", rtl), std::string::npos);
}

// A picture's attributes and caption, set as a caller sets them, show on the
// page: the attributes on its img (escaped, script left out), the caption
// below it or over its middle.
TEST(PageBody, APictureCarriesItsAttributesAndCaption) {
  const std::string file = CorpusFile("jnx/testDbDesignEmbedded/embedded_date.xml");
  if (file.empty()) GTEST_SKIP() << "no corpus";
  FileItem open(file, "$Body");
  ASSERT_NE(open.chunk(), nullptr);
  std::unique_ptr<TorvoRTChunk> picture(open.chunk()->item->DefineChunk("Graphic 1"));
  for (const char* position : {"Bottom", "Center"}) {
    const std::string options = "GraphicHTMLId='p\"1' GraphicHTMLClass='k<l' GraphicHTMLTitle='T & U' "
                                "GraphicHTMLOther='data-x=\"2\" onclick=\"f()\"' "
                                "Caption='Mac & <Applet>' CaptionPosition=" + std::string(position);
    picture->AlterRichText(2437, 15, 0, 0, 0, options.c_str(), nullptr, nullptr, nullptr);
    ASSERT_EQ(picture->lastStatus, 0);
    const std::string text = open.Page(true);
    EXPECT_TRUE(WellFormed(text));
    const std::vector<kvtest::PageElement> page = kvtest::PageElements(text);
    size_t at = 1;
    while (at + 1 < page.size() && page[at].name != "img") ++at;
    ASSERT_LT(at + 1, page.size()) << text;
    const std::map<std::string, std::string> attributes = {
        {"id", "p\"1"}, {"class", "k<l"}, {"title", "T & U"}, {"data-x", "2"},
        {"src", "MacAppletImage"}, {"width", "103"}, {"height", "100"}, {"alt", ""}};
    EXPECT_EQ(page[at].attributes, attributes);
    EXPECT_EQ(page[at - 1].text, "Mac & <Applet>");  // the box around both
    EXPECT_EQ(page[at + 1].text, "Mac & <Applet>");
    EXPECT_EQ(page[at + 1].Attribute("style").find("top:50%;") != std::string::npos,
              position[0] == 'C');
  }
}

}  // namespace
