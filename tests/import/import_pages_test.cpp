// Realistic pages through AppendHTML: the records they become, the item
// saved and reloaded from DXL, and the rendered page with its content in the
// order the page had it.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/zip/zipstor.h"
#include "import/package.h"
#include "richtext/compose/compose_support.h"

namespace {

using composetest::ComposeDoc;
using composetest::Count;
using composetest::Find;
using composetest::Rec;
using composetest::WellFormed;

// A 1x1 GIF and a 1x1 PNG.
const char kGif[] = "R0lGODlhAQABAIAAAP///wAAACH5BAEAAAAALAAAAAABAAEAAAICRAEAOw==";
const char kPng[] =
    "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8BQDwAEhQGAhKmMIQAAAABJRU5ErkJggg==";

const std::string kArticle = std::string(R"(<!DOCTYPE html>
<html><head><title>Field notes</title></head><body>
<h1>Field notes</h1>
<p>The survey ran for <b>three</b> weeks.</p>
<h2>Sites visited</h2>
<ul><li>North ridge</li><li>Lower marsh</li></ul>
<table><tr><th>Site</th><th>Count</th></tr><tr><td>Ridge</td><td>14</td></tr></table>
<p>Steps taken:</p>
<ol><li>Mark the plots</li><li>Count the nests</li></ol>
<table><tr><td>Plots</td><td>9</td></tr></table>
<hr>
<p>Map: <img src="data:image/gif;base64,)") + kGif + R"(" alt="map" width="40" height="20"></p>
<p>Closing words.</p>
</body></html>)";

// Positions of the texts in the page, each after the one before; npos when
// one is missing or out of order.
bool InOrder(const std::string& page, const std::vector<std::string>& texts) {
  size_t at = 0;
  for (const std::string& t : texts) {
    const size_t found = page.find(t, at);
    if (found == std::string::npos) {
      ADD_FAILURE() << "missing or out of order: " << t;
      return false;
    }
    at = found + t.size();
  }
  return true;
}

// The text of a text run record (host layout: text from byte 8).
std::string RunText(const Rec& r) { return r.Text(8, r.data.size()); }

// The paragraph definition id a paragraph reference names (host: id at 2).
const Rec* DefinitionOf(const std::vector<Rec>& records, uint16_t id) {
  for (const Rec& r : records)
    if (r.sig == 0xFF82 && r.U16(4) == id) return &r;
  return nullptr;
}

class ImportPages : public ComposeDoc {};

TEST_F(ImportPages, ArticleKeepsHeadingsListsTablesRulesAndImages) {
  ASSERT_EQ(chunk->AppendHTML("IN", kArticle.c_str(), ""), 0);
  std::string page;
  const std::vector<Rec> records = Reloaded(&page);
  ASSERT_FALSE(records.empty());

  // Two tables, a rule across the whole line, a picture with its alt text.
  EXPECT_EQ(Count(records, 0x00A3), 2);
  EXPECT_EQ(Count(records, 0x00A5), 2);
  const Rec* rule = Find(records, 0xFFC9);
  ASSERT_NE(rule, nullptr);
  EXPECT_EQ(rule->U32(4) & 0x4, 0x4u);  // width as a percentage
  EXPECT_EQ(rule->U16(8), 100);
  EXPECT_GT(rule->U16(10), 14);  // at least a pixel high (twips)
  EXPECT_NE(Find(records, 0x0099), nullptr);
  const Rec* alt = Find(records, 0xFFCA);
  ASSERT_NE(alt, nullptr);
  EXPECT_EQ(alt->Text(12, alt->U16(4)), "map");

  // Each table follows a paragraph that is not a list item.
  for (size_t i = 0; i < records.size(); ++i) {
    if (records[i].sig != 0x00A3) continue;
    const Rec* reference = nullptr;
    for (size_t j = i; j-- > 0;)
      if (records[j].sig == 0x0083) {
        reference = &records[j];
        break;
      }
    ASSERT_NE(reference, nullptr);
    const Rec* definition = DefinitionOf(records, reference->U16(2));
    ASSERT_NE(definition, nullptr);
    EXPECT_EQ(definition->U16(62) & (0x1000 | 0x0400), 0) << "table " << i << " in a list";
  }

  // The headings are bold runs.
  bool heading = false;
  for (const Rec& r : records)
    if (r.sig == 0xFF85 && RunText(r) == "Sites visited") heading = (r.U32(4) & 0x0100) != 0;
  EXPECT_TRUE(heading);

  EXPECT_TRUE(WellFormed(page));
  if (std::getenv("KV_SHOW_PAGE")) std::printf("%s\n", page.c_str());
  EXPECT_TRUE(InOrder(page, {"Field notes", "three", "Sites visited", "North ridge",
                             "Lower marsh", "</ul>", "<table", "Site", "Count", "Ridge", "14",
                             "</table>", "Steps taken:", "Mark the plots", "Count the nests",
                             "</ol>", "<table", "Plots", "9", "</table>", "<hr", "width: 100%",
                             "Map:", "<img", "alt=\"map\"", "Closing words."}))
      << page;
}

// A table's border attribute frames every cell on all four sides; a table
// without one has no cell borders.
TEST_F(ImportPages, TableBordersFollowTheBorderAttribute) {
  const char* html = R"(<html><body>
<table border="1"><tr><th>Name</th><th>Level</th></tr><tr><td>Acme</td><td>Gold</td></tr></table>
<p>between</p>
<table><tr><td>plain</td><td>cells</td></tr></table>
<table border="0"><tr><td>zero</td></tr></table>
<table border><tr><td>bare</td></tr></table>
</body></html>)";
  ASSERT_EQ(chunk->AppendHTML("IN", html, ""), 0);
  std::string page;
  const std::vector<Rec> records = Reloaded(&page);
  std::vector<int> borders;
  for (const Rec& r : records)
    if (r.sig == 0x00A4) borders.push_back(r.data.size() > 10 ? r.data[10] : -1);
  EXPECT_EQ(borders, (std::vector<int>{0x55, 0x55, 0x55, 0x55, 0, 0, 0, 0x55}));
  EXPECT_TRUE(WellFormed(page));
  const std::string framed = "border-left:1px solid #000;border-right:1px solid #000;"
                             "border-top:1px solid #000;border-bottom:1px solid #000;";
  const size_t plain = page.find(">plain<");
  ASSERT_NE(plain, std::string::npos) << page;
  const size_t acme = page.find(">Acme<");
  ASSERT_NE(acme, std::string::npos) << page;
  EXPECT_NE(page.rfind(framed, acme), std::string::npos) << page;
  const size_t table = page.rfind("<table", plain);
  const std::string second = page.substr(table, plain - table);
  EXPECT_EQ(second.find("solid"), std::string::npos) << second;
  const size_t bare = page.find(">bare<");
  ASSERT_NE(bare, std::string::npos);
  EXPECT_GT(page.rfind(framed, bare), page.find(">zero<"));
}

TEST_F(ImportPages, StyleSheetClassRulesReachTheParagraphs) {
  const char* html = R"(<html><head><style>
/* the page's own look */
.note { color: red; font-weight: bold }
p.centered, .middle { text-align: center }
h2 { font-style: italic }
@media print { .note { color: blue } }
div p.deep { color: green }
</style></head><body>
<h2>Notes</h2>
<p class="note">Mind the gap.</p>
<p class="centered">In the middle.</p>
<p class="other middle">Also centred.</p>
<p>Plain text.</p>
</body></html>)";
  ASSERT_EQ(chunk->AppendHTML("IN", html, ""), 0);
  std::string page;
  const std::vector<Rec> records = Reloaded(&page);
  uint32_t noteFont = 0, plainFont = 0, headingFont = 0;
  std::vector<std::pair<std::string, uint16_t>> justify;  // text, alignment of its paragraph
  uint16_t currentDefinition = 0;
  for (const Rec& r : records) {
    if (r.sig == 0x0083) currentDefinition = r.U16(2);
    if (r.sig != 0xFF85) continue;
    const std::string text = RunText(r);
    if (text == "Mind the gap.") noteFont = r.U32(4);
    if (text == "Plain text.") plainFont = r.U32(4);
    if (text == "Notes") headingFont = r.U32(4);
    const Rec* definition = DefinitionOf(records, currentDefinition);
    if (definition) justify.push_back({text, definition->U16(6)});
  }
  // Font identifier: colour index in byte 2, attributes in byte 1.
  EXPECT_EQ((noteFont >> 16) & 0xFF, 2u);  // red, not the @media blue
  EXPECT_NE(noteFont & 0x0100, 0u);        // bold
  EXPECT_EQ((plainFont >> 16) & 0xFF, 0u);
  EXPECT_EQ(plainFont & 0x0100, 0u);
  EXPECT_NE(headingFont & 0x0200, 0u);     // italic from the tag rule
  for (const auto& [text, alignment] : justify) {
    if (text == "In the middle." || text == "Also centred.") {
      EXPECT_EQ(alignment, 3) << text;
    } else if (text == "Plain text.") {
      EXPECT_EQ(alignment, 0) << text;
    }
  }
  EXPECT_TRUE(WellFormed(page));
  EXPECT_TRUE(InOrder(page, {"Notes", "Mind the gap.", "In the middle.", "Also centred.",
                             "Plain text."}))
      << page;
}

TEST_F(ImportPages, PicturesAsDataUrisBecomeGraphics) {
  const std::string html = std::string("<p>Before <img src=\"data:image/png;base64,") + kPng +
                           "\" alt=\"dot\"> between <img src=\"data:image/gif;base64," + kGif +
                           "\"> after <img src=\"http://example.com/remote.png\"></p>";
  ASSERT_EQ(chunk->AppendHTML("IN", html.c_str(), ""), 0);
  std::string page;
  const std::vector<Rec> records = Reloaded(&page);
  EXPECT_EQ(Count(records, 0x0099), 2);  // nothing fetched from elsewhere
  EXPECT_EQ(Count(records, 0x007D), 2);  // image headers
  EXPECT_TRUE(WellFormed(page));
  EXPECT_TRUE(InOrder(page, {"Before", "<img", "alt=\"dot\"", "between", "<img", "after"}))
      << page;
  EXPECT_EQ(page.find("example.com"), std::string::npos);
}

// The library's own pages of the real forms with buttons, imported again:
// every button's label is there as text.
TEST_F(ImportPages, ReimportedPagesOfRealFormsKeepTheirButtonLabels) {
  const std::string corpus = kvtest::CorpusDir();
  if (corpus.empty() || !std::filesystem::is_directory(corpus + "/dxl")) GTEST_SKIP() << "no corpus";
  for (const std::string& file : kvtest::FilesBelow(corpus + "/dxl")) {
    NnHandle source = 0;
    if (NnDbOpen(file.c_str(), 0, &source) != NN_OK) continue;
    for (const kvtest::RichTextItemRef& ref : kvtest::RichTextItems(source)) {
      NnHandle note = 0;
      ASSERT_EQ(NnNoteOpen(source, ref.noteId, 0, &note), NN_OK);
      std::string page;
      {
        TorvoRTItem form(session);
        char* text = nullptr;
        uint32_t length = 0;
        std::unique_ptr<TorvoRTChunk> all(
            form.ConnectBackend(source, note, ref.name.c_str()) == NN_OK ? form.DefineChunk("") : nullptr);
        if (all && all->GenerateHTML(nullptr, "", &text, &length) == 0 && text) page.assign(text, length);
        PoolFree(session, text);
      }
      NnNoteClose(note);
      std::vector<std::string> labels;
      for (const kvtest::PageElement& e : kvtest::PageElements(page, true))
        if (e.name == "button" && !e.text.empty()) labels.push_back(e.text);
      if (labels.empty()) continue;
      NnHandle copy = 0;
      ASSERT_EQ(NnNoteCreate(db, NN_CLASS_DOCUMENT, &copy), NN_OK);
      const uint8_t paragraph[] = {0x81, 2};
      ASSERT_EQ(NnItemAppend(copy, 0, "Body", 4, NN_TYPE_COMPOSITE, paragraph, 2), NN_OK);
      TorvoRTItem target(session);
      ASSERT_EQ(target.ConnectBackend(db, copy, "Body"), NN_OK);
      std::unique_ptr<TorvoRTChunk> into(target.DefineChunk(""));
      ASSERT_EQ(into->AppendHTML("IN", page.c_str(), ""), 0) << file << " " << ref.name;
      std::vector<char> text(70000);
      const unsigned long n = into->GetText("", text.data(), uint32_t(text.size()), 1, " ");
      // Line breaks are NULs in the text.
      const std::string imported = NnLmbcsToUtf8(text.data(), std::min<size_t>(n, text.size()));
      for (const std::string& label : labels)
        EXPECT_NE(imported.find(label), std::string::npos) << file << " " << ref.name << ": " << label;
      NnNoteClose(copy);
    }
    NnDbClose(source);
  }
}

TEST(PackagePaths, RelativePathsFindTheirEntry) {
  const std::vector<std::string> entries = {"OEBPS/Text/chapter 1.xhtml", "OEBPS/Styles/main.css",
                                            "mimetype", "OEBPS/Images/Cover.PNG"};
  auto find = [&](const char* path, int ignoreCase = 1) -> std::string {
    const std::string* e = FileListFindByPath(&entries, path, ignoreCase);
    return e ? *e : "<none>";
  };
  EXPECT_EQ(find("OEBPS/Text/chapter 1.xhtml"), "OEBPS/Text/chapter 1.xhtml");
  EXPECT_EQ(find("OEBPS\\Text\\chapter%201.xhtml"), "OEBPS/Text/chapter 1.xhtml");
  EXPECT_EQ(find("./OEBPS/Text/../Styles/main.css"), "OEBPS/Styles/main.css");
  EXPECT_EQ(find("/OEBPS//Styles/main.css#top"), "OEBPS/Styles/main.css");
  EXPECT_EQ(find("oebps/images/cover.png"), "OEBPS/Images/Cover.PNG");
  EXPECT_EQ(find("oebps/images/cover.png", 0), "<none>");
  EXPECT_EQ(find("../mimetype"), "<none>");  // leaves the package
  EXPECT_EQ(find("OEBPS/Text"), "<none>");
  EXPECT_EQ(find(""), "<none>");
  EXPECT_EQ(FileListFindByPath(nullptr, "mimetype", 1), nullptr);
  EXPECT_EQ(NormalizePackagePath("a/./b/../c%2Fd"), "a/c/d");
}

TEST_F(ImportPages, PackagePagesAreFoundByTheirRelativePath) {
  const std::string chapter = "<h1>Chapter one</h1><p>It begins.</p>";
  zipstorage zip(session);
  ASSERT_EQ(ZipStorageAddEntry(&zip, "mimetype", "application/epub+zip", 20, 1, 1, 1), NN_OK);
  ASSERT_EQ(ZipStorageAddEntry(&zip, "OEBPS/Text/chapter 1.xhtml", chapter.data(),
                               uint32_t(chapter.size()), 1, 1, 0),
            NN_OK);
  ASSERT_EQ(ZipStorageFinish(&zip), NN_OK);
  const std::string package = dir + "/book.epub";
  ASSERT_EQ(ZipStorageSaveFile(&zip, package.c_str()), NN_OK);
  const std::string options = "Package=" + package;

  // Written as a page of the package would name it.
  ASSERT_EQ(chunk->AppendHTML("FILE", ".\\OEBPS\\Text\\chapter%201.xhtml", options.c_str()), 0);
  // A path that names no entry is refused and changes nothing.
  const std::vector<Rec> before = Records();
  EXPECT_NE(chunk->AppendHTML("FILE", "OEBPS/Text/chapter 2.xhtml", options.c_str()), 0);
  const std::vector<Rec> after = Records();
  ASSERT_EQ(after.size(), before.size());
  for (size_t i = 0; i < after.size(); ++i) EXPECT_EQ(after[i].data, before[i].data);

  std::string page;
  Reloaded(&page);
  EXPECT_TRUE(InOrder(page, {"Intro", "Chapter one", "It begins."})) << page;
}

}  // namespace
