// Every render option key, one at a time with a typical value, over every
// rich-text item of the corpus and its sub-ranges: the render succeeds, the
// XHTML parses with one head, and the key changes the page of at least one item (or needs a document feature the
// corpus lacks, or acts outside the page). The keys run in groups, one test
// case each, so that the groups run side by side.
#include <gtest/gtest.h>
#include <strings.h>

#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "host/pool.h"
#include "lsxsessi.h"
#include "nn/nn.h"
#include "rtchunk.h"
#include "rtitem.h"
#include "support/testutil.h"

namespace {

using kvtest::Count;

struct Key {
  const char* option;     // the key with its typical value
  const char* companion;  // options it acts together with ("" when none)
};

// The render keys, in groups of about equal cost.
const std::vector<std::vector<Key>>& KeyGroups() {
  static const std::vector<std::vector<Key>> groups = {
      {
          {"AddNewlines=Yes", "MoveStylesInline=No"},
          {"AddStyleSheetInfo='p {margin:0}'", ""},
          {"AjaxID=box1", "Generation=Fragment"},
          {"AllowEmptyDivs=Yes", ""},
          {"AttachmentDirectory={dir}", "AttachmentHandling=DISK"},
          {"AttachmentGraphic=Yes", ""},
          {"AttachmentHandling=NAME", ""},
          {"AttachmentLinks=No", ""},
          {"AttachmentTextInLink=Yes", ""},
          {"AttachmentUNIDAsFolder=Yes", ""},
          {"AttachmentUNIDAsPrefix=Yes", ""},
          {"AttachmentURLDirectory=files/", ""},
          {"BasePathname=/base/page", ""},
      },
      {
          {"CSS3=All", ""},
          {"CSSBorders=Yes", ""},
          {"CSSBulletGraphic=bullet.gif", ""},
          {"CSSCheckBulletGraphic=check.gif", ""},
          {"CSSCircleBulletGraphic=circle.gif", ""},
          {"CSSSquareBulletGraphic=square.gif", ""},
          {"CSSTabNoSelBackgroundColor=#112233", "TabbedTablesInCSS=Yes"},
          {"CSSTabNoSelTextColor=#223344", "TabbedTablesInCSS=Yes"},
          {"CSSTabSelBackgroundColor=#334455", "TabbedTablesInCSS=Yes"},
          {"CSSTabSelTextColor=#445566", "TabbedTablesInCSS=Yes"},
          {"CacheContext=Yes", ""},
          {"Charset=UTF-8", "Translation=Yes"},
          {"CollapseGraphic=/c.gif", "SectionsInCSS=Yes"},
      },
      {
          {"DBResource=/db.nsf", ""},
          {"DataImages=Yes", "ImageDirectory={dir}"},
          {"DebugLevel=1", ""},
          {"DelimitedHTMLEnd=']]'", "MarkDelimitedHTML=Yes"},
          {"DelimitedHTMLStart='[['", "MarkDelimitedHTML=Yes"},
          {"ExpandGraphic=/e.gif", "SectionsInCSS=Yes"},
          {"ExportStylesheet=site.css", ""},
          {"ExtraFileHotspotParams=&x=1", ""},
          {"FileNamesFld=Files", ""},
          {"ForceDirection=RTL", ""},
          {"ForceFontColor=#ff0000", ""},
          {"ForceFontFace='Courier New'", ""},
          {"ForceFontSize=12", ""},
      },
      {
          {"ForceParagraphs=Yes", "UsePTags=Yes"},
          {"FormName=Order", ""},
          {"FormPath=orders", "FormName=Order"},
          {"Generation=Fragment", ""},
          {"HeadTag='<meta name=\"x\" content=\"y\"/>'", ""},
          {"HybridFontTags=Yes", "StandardFontTags=Yes MoveStylesInline=No"},
          {"IconFont=Verdana", ""},
          {"IconPtSize=14", ""},
          {"ImageDirectory={dir}", ""},
          {"ImageFilePath={dir}/image", "ImageDirectory={dir}"},
          {"ImageURLDirectory=img/", "ImageDirectory={dir}"},
          {"InPlaceAttachmentURLDirectory=inplace/", ""},
          {"LocalKvSymbols=Yes", ""},
      },
      {
          {"LogImprovements=Yes", ""},
          {"MarkDelimitedHTML=Yes", ""},
          {"MarkPassthruHTML=Yes", ""},
          {"MoveStylesInline=No", ""},
          {"NewlineOnParagraph=Yes", ""},
          {"OpeningBody='<body class=\"page\">'", ""},
          {"OpeningGlobalStyle='color:navy'", ""},
          {"OutputToEvent=Yes", ""},
          {"PassthruHTMLEnd='<!--e-->'", "MarkPassthruHTML=Yes"},
          {"PassthruHTMLStart='<!--s-->'", "MarkPassthruHTML=Yes"},
          {"PreserveSpaces=Yes", ""},
          {"PreviewMode=Yes", "RespectHiddenFormulas=Yes"},
          {"RaiseLinkEvent=URL", ""},
      },
      {
          {"RaiseNamesEvent=File", ""},
          {"RelativeIndents=Yes", ""},
          {"RelativePtSize=E", ""},
          {"RespectHiddenFormulas=Yes", ""},
          {"RestoreCSSRefs=No", "MoveStylesInline=No"},
          {"RicoHeader=No", "SupportRico=Yes"},
          {"SectionCSSHeader=No", "SectionsInCSS=Yes"},
          {"SectionCloseTag='</h2>'", "SectionOpenTag='<h2>'"},
          {"SectionIncludeTitle=Yes", ""},
          {"SectionOpenTag='<h2>'", ""},
          {"SectionsInCSS=Yes", ""},
          {"SeeAttachedMsg='See the file'", ""},
          {"SkipPassthru=Yes", ""},
      },
      {
          {"StandardFontTags=Yes", ""},
          {"SupportOutlook=Yes", ""},
          {"SupportRico=Yes", ""},
          {"SuppressAttachments=Yes", ""},
          {"SuppressDivInfo=Yes", "MoveStylesInline=No"},
          {"SuppressLinks=Yes", ""},
          {"SuppressSectionLines=Yes", ""},
          {"TabSpaces=4", ""},
          {"TabbedCSSHeader=No", "TabbedTablesInCSS=Yes"},
          {"TabbedTablesInCSS=Yes", ""},
          {"Translation=Yes", ""},
          {"URLEncodeFilenames=Yes", ""},
          {"UseCurlyBracesInline=Yes", ""},
      },
      {
          {"UseJavaScript=No", ""},
          {"UsePTags=Yes", ""},
          {"UseXMLEntities=Yes", ""},
          {"WebMode=Yes", "RespectHiddenFormulas=Yes"},
          {"WrenlatchSections=Yes", ""},
          {"XPage=Yes", ""},
          {"bgcolor=#ff0000", ""},
      },
  };
  return groups;
}

// Keys whose effect needs a document feature no corpus item has.
const std::map<std::string, std::string>& NeedsMissingFeature() {
  static const std::map<std::string, std::string> keys = {
      {"AttachmentDirectory=", "file attachment hotspots"},
      {"AttachmentGraphic=", "file attachment hotspots"},
      {"AttachmentHandling=", "file attachment hotspots"},
      {"AttachmentLinks=", "file attachment hotspots"},
      {"AttachmentTextInLink=", "file attachment hotspots"},
      {"AttachmentUNIDAsFolder=", "file attachment hotspots"},
      {"AttachmentUNIDAsPrefix=", "file attachment hotspots"},
      {"AttachmentURLDirectory=", "file attachment hotspots"},
      {"BasePathname=", "file attachment hotspots or document markers"},
      {"ExtraFileHotspotParams=", "file attachment hotspots"},
      {"FileNamesFld=", "file attachment hotspots"},
      {"IconFont=", "file attachment hotspots (their icons)"},
      {"IconPtSize=", "file attachment hotspots (their icons)"},
      {"InPlaceAttachmentURLDirectory=", "file attachment hotspots"},
      {"SeeAttachedMsg=", "file attachment hotspots"},
      {"SuppressAttachments=", "file attachment hotspots"},
      {"URLEncodeFilenames=", "file attachment hotspots"},
      {"CSSBulletGraphic=", "bulleted lists"},
      {"CSSCheckBulletGraphic=", "check-box lists"},
      {"CSSCircleBulletGraphic=", "bulleted lists"},
      {"CSSSquareBulletGraphic=", "bulleted lists"},
      {"SupportOutlook=", "lists"},
      {"XPage=", "check-box lists"},
      {"CollapseGraphic=", "collapsible sections"},
      {"ExpandGraphic=", "collapsible sections"},
      {"LocalKvSymbols=", "collapsible sections or attachment icons"},
      {"SectionCloseTag=", "collapsible sections"},
      {"SectionIncludeTitle=", "collapsible sections"},
      {"SectionOpenTag=", "collapsible sections"},
      {"SuppressSectionLines=", "collapsible sections"},
      {"WrenlatchSections=", "collapsible sections"},
      {"DelimitedHTMLEnd=", "typed HTML between two-character runs \"[<\" and \">]\""},
      {"DelimitedHTMLStart=", "typed HTML between two-character runs \"[<\" and \">]\""},
      {"MarkDelimitedHTML=", "typed HTML between two-character runs \"[<\" and \">]\""},
      {"UseJavaScript=", "wiki links"},
      {"ForceParagraphs=", "a p element that another writer left open before a paragraph"},
  };
  return keys;
}

// Keys that leave an XHTML page as it is: they act outside the page (events,
// logging, output parts, caching), on other output kinds, or on other passes.
const std::map<std::string, std::string>& NoEffectOnXhtmlPages() {
  static const std::map<std::string, std::string> keys = {
      {"CacheContext=", "keeps the render context for the next render"},
      {"DebugLevel=", "logging"},
      {"LogImprovements=", "logging"},
      {"OutputToEvent=", "hands the page over in parts; the parts make the same page"},
      {"RaiseLinkEvent=", "raises collection events"},
      {"RaiseNamesEvent=", "raises collection events"},
      {"NewlineOnParagraph=", "plain-text output"},
      {"UseXMLEntities=", "HTML output; XHTML always has numeric references"},
      {"MarkPassthruHTML=", "steers the HTML importer"},
      {"PassthruHTMLEnd=", "steers the HTML importer"},
      {"PassthruHTMLStart=", "steers the HTML importer"},
      {"CSS3=", "no writer of these pages reads it yet"},
      {"ImageFilePath=", "no writer of these pages reads it yet"},
  };
  return keys;
}

std::string KeyName(const char* option) {
  const std::string o = option;
  return o.substr(0, o.find('=') + 1);
}

struct ItemRef {
  std::string file;
  NOTEID id;
  std::string name;
};

std::vector<ItemRef> RichTextItems(NnHandle db, const std::string& file) {
  std::vector<ItemRef> items;
  for (const kvtest::RichTextItemRef& r : kvtest::RichTextItems(db))
    items.push_back({file, r.noteId, r.name});
  return items;
}

NnStatus Render(TorvoRTChunk* chunk, const std::string& options, std::string* page) {
  char* text = nullptr;
  uint32_t length = 0;
  NnStatus st = chunk->GenerateXML(nullptr, options.c_str(), &text, &length);
  page->clear();
  if (text) {
    page->assign(text, length);
    PoolFree(chunk->session, text);
  }
  return st;
}

// One page, whatever the range: it parses, and it has one head and one body,
// with every style element in the head (a fragment has no head: it is
// well-formed inside an element of the caller's).
void ExpectWholePage(const std::string& page, const std::string& options, const std::string& where) {
  const bool fragment = options.find("Generation=Fragment") != std::string::npos;
  EXPECT_TRUE(kvtest::ParsesAsXml(fragment ? "<x>" + page + "</x>" : page))
      << where << " with " << options << " does not parse";
  EXPECT_EQ(Count(page, "</head>"), fragment ? 0u : 1u) << where << " with " << options;
  EXPECT_LE(Count(page, "<body"), 1u) << where << " with " << options;
  const size_t body = page.find("<body");
  if (body != std::string::npos) {
    EXPECT_EQ(page.find("<style", body), std::string::npos) << where << " with " << options;
  }
}

class OptionSweep : public ::testing::TestWithParam<size_t> {};

TEST_P(OptionSweep, EveryKeyRendersWellFormedAndChangesSomePage) {
  const std::string corpus = kvtest::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no corpus";
  // Files the render writes go to a folder of this test's own.
  const std::string dir = kvtest::MakeTempDir();
  auto expand = [&](std::string text) {
    for (size_t at = text.find("{dir}"); at != std::string::npos; at = text.find("{dir}"))
      text.replace(at, 5, dir);
    return text;
  };
  const std::vector<Key>& keys = KeyGroups()[GetParam()];
  std::map<std::string, size_t> changed;
  size_t items = 0;
  for (const std::string& file : kvtest::FilesBelow(corpus + "/dxl")) {
    NnHandle db = 0;
    if (NnDbOpen(file.c_str(), 0, &db) != NN_OK) continue;
    for (const ItemRef& ref : RichTextItems(db, file)) {
      const std::string where = ref.file + " note " + std::to_string(ref.id) + " " + ref.name;
      NnHandle note = 0;
      ASSERT_EQ(NnNoteOpen(db, ref.id, 0, &note), NN_OK) << where;
      {
        LSXLsiSession session;
        TorvoRTItem item(&session);
        ASSERT_EQ(item.ConnectBackend(db, note, ref.name.c_str()), NN_OK) << where;
        ++items;
        // The whole item, then each sub-range it has: a page of its own each.
        for (const std::string& definition : kvtest::PageRangeDefinitions()) {
          std::unique_ptr<TorvoRTChunk> chunk(item.DefineChunk(definition.c_str()));
          ASSERT_NE(chunk, nullptr) << where;
          if (!definition.empty() && !chunk->Exists()) continue;
          const std::string range = where + " [" + definition + "]";
          std::map<std::string, std::string> baselines;
          for (const Key& key : keys) {
            std::string& baseline = baselines[key.companion];
            if (baseline.empty()) {
              ASSERT_EQ(Render(chunk.get(), expand(key.companion), &baseline), 0) << range;
            }
            std::string page;
            const std::string options = expand(std::string(key.option) + " " + key.companion);
            ASSERT_EQ(Render(chunk.get(), options, &page), 0) << range << " with " << options;
            ExpectWholePage(page, options, range);
            if (page != baseline) ++changed[key.option];
          }
        }
      }
      NnNoteClose(note);
    }
    NnDbClose(db);
  }
  kvtest::RemoveTree(dir);
  EXPECT_GT(items, 20u);
  std::printf("%zu items, %zu keys\n", items, keys.size());
  for (const Key& key : keys) {
    const std::string name = KeyName(key.option);
    if (NeedsMissingFeature().count(name) || NoEffectOnXhtmlPages().count(name)) continue;
    EXPECT_GT(changed[key.option], 0u) << key.option << " changed no page";
  }
}

INSTANTIATE_TEST_SUITE_P(KeyGroups, OptionSweep, ::testing::Range<size_t>(0, 8));

TEST(OptionSweepKeys, EveryGroupIsInTheSweep) {
  EXPECT_EQ(KeyGroups().size(), 8u);
  std::set<std::string> names;
  for (const auto& group : KeyGroups())
    for (const Key& key : group)
      EXPECT_TRUE(names.insert(KeyName(key.option)).second) << key.option;
  for (const auto& [name, why] : NeedsMissingFeature()) EXPECT_TRUE(names.count(name)) << name;
  for (const auto& [name, why] : NoEffectOnXhtmlPages()) EXPECT_TRUE(names.count(name)) << name;
}

}  // namespace
