// Fuzz target: render options. An item from the input is rendered as HTML and
// as XHTML under an option string built from the rest: every key the renderer
// reads, with arbitrary values, and arbitrary text between them. Each render
// either fails with a status or gives a page that parses.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "fuzz/fuzzsupport.h"

namespace {

const char* const kKeys[] = {
    "AddNewlines",
    "AddStyleSheetInfo",
    "AjaxID",
    "AllowEmptyDivs",
    "AttachmentDirectory",
    "AttachmentGraphic",
    "AttachmentHandling",
    "AttachmentLinks",
    "AttachmentTextInLink",
    "AttachmentUNIDAsFolder",
    "AttachmentUNIDAsPrefix",
    "AttachmentURLDirectory",
    "BasePathname",
    "CSS3",
    "CSSBorders",
    "CSSBulletGraphic",
    "CSSCheckBulletGraphic",
    "CSSCircleBulletGraphic",
    "CSSSquareBulletGraphic",
    "CSSTabNoSelBackgroundColor",
    "CSSTabNoSelTextColor",
    "CSSTabSelBackgroundColor",
    "CSSTabSelTextColor",
    "Charset",
    "CollapseIcon",
    "DBResource",
    "DataImages",
    "DebugLevel",
    "ExpandIcon",
    "ExportStylesheet",
    "ExtraFileHotspotParams",
    "FileNamesFld",
    "ForceDirection",
    "ForceFontColor",
    "ForceFontFace",
    "ForceFontSize",
    "ForceParagraphs",
    "FormName",
    "FormPath",
    "Generation",
    "HeadTag",
    "HybridFontTags",
    "IconFont",
    "IconPtSize",
    "ImageDirectory",
    "ImageFilePath",
    "ImageURLDirectory",
    "InPlaceAttachmentURLDirectory",
    "LocalKvSymbols",
    "LogImprovements",
    "MoveStylesInline",
    "NewlineOnParagraph",
    "OpeningBody",
    "OpeningGlobalStyle",
    "OutputToEvent",
    "PreserveSpaces",
    "PreviewMode",
    "RaiseLinkEvent",
    "RaiseNamesEvent",
    "RelativeIndents",
    "RelativePtSize",
    "RespectHiddenFormulas",
    "RestoreCSSRefs",
    "RicoHeader",
    "SectionCSSHeader",
    "SectionCloseTag",
    "SectionIncludeTitle",
    "SectionOpenTag",
    "SectionsInCSS",
    "SeeAttachedMsg",
    "SkipPassthru",
    "StandardFontTags",
    "SupportOutlook",
    "SupportRico",
    "SuppressAttachments",
    "SuppressDivInfo",
    "SuppressLinks",
    "SuppressSectionLines",
    "TabSpaces",
    "TabbedCSSHeader",
    "TabbedTablesInCSS",
    "Translation",
    "UseCurlyBracesInline",
    "UseJavaScript",
    "UsePTags",
    "UseXMLEntities",
    "WebMode",
    "WrenlatchSections",
    "XPage",
};
constexpr size_t kKeyCount = sizeof kKeys / sizeof kKeys[0];

// Keys whose values are the caller's own markup, written as given (or that
// hand part of the page to the caller): a page rendered with them need not
// parse on its own.
const char* const kCallerMarkup[] = {"OpeningBody=",      "OpeningGlobalStyle=", "AddStyleSheetInfo=",
                                     "SectionOpenTag=",   "SectionCloseTag=",    "RicoHeader=",
                                     "SectionCSSHeader=", "TabbedCSSHeader="};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kvfuzz::Reader in(data, size);
  std::string records = kvfuzz::TakeItem(in);
  std::string options;
  while (!in.empty() && options.size() < 4000) {
    uint8_t pick = in.U8();
    if (pick < kKeyCount) {
      if (!options.empty()) options += (pick & 1) ? " " : ",";
      options += kKeys[pick];
      options += '=';
      options += in.Text();
    } else {
      options += in.Text();
    }
  }
  options = options.c_str();  // up to the first NUL, as callers pass it
  // Some options name folders the renderer writes images and files into: the
  // renders run in a folder of their own (the fuzzer's own working folder is
  // back once they are done), and no value may leave it.
  static const char* sandbox = [] {
    static char dir[] = "/tmp/kvfuzz-render-options-XXXXXX";
    if (mkdtemp(dir) == nullptr) return static_cast<const char*>(nullptr);
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(dir, ec);
    });
    return static_cast<const char*>(dir);
  }();
  if (!sandbox) return 0;
  for (const char* escape : {"=/", " /", "\"/", "'/", "\\", "..", "~", "file:", ",/", "\t/"})
    if (options.find(escape) != std::string::npos) return 0;
  if (!options.empty() && options[0] == '/') return 0;

  const int home = open(".", O_RDONLY | O_DIRECTORY);
  if (home < 0 || chdir(sandbox) != 0) {
    if (home >= 0) close(home);
    return 0;
  }
  bool markupOwnedByCaller = false;
  for (const char* key : kCallerMarkup)
    markupOwnedByCaller |= options.find(key) != std::string::npos;

  static NnHandle db = 0;
  if (!db) NnDbOpen("mem-fuzz-render-options.nsf", NN_DB_CREATE, &db);
  NnHandle note = 0;
  if (NnNoteCreate(db, NN_CLASS_DOCUMENT, &note) != NN_OK) note = 0;
  NnItemAppend(note, 0, "Body", 4, NN_TYPE_COMPOSITE, records.data(), uint32_t(records.size()));
  if (note) {
    LSXLsiSession session;
    TorvoRTItem item(&session);
    if (item.ConnectBackend(db, note, "Body") == NN_OK) {
      TorvoRTChunk* all = item.DefineChunk("");
      if (all) {
        char* page = nullptr;
        uint32_t length = 0;
        if (all->GenerateXML(nullptr, options.c_str(), &page, &length) == NN_OK) {
          if (!page) kvfuzz::Finding("render succeeded without a page");
          if (!markupOwnedByCaller && !kvfuzz::XmlParses(page, length))
            kvfuzz::Finding("XHTML page does not parse");
        }
        if (page) PoolFree(&session, page);
        page = nullptr;
        if (all->GenerateHTML(nullptr, options.c_str(), &page, &length) == NN_OK) {
          if (!page) kvfuzz::Finding("render succeeded without a page");
          if (!kvfuzz::HtmlParses(page, length)) kvfuzz::Finding("HTML page does not parse");
        }
        if (page) PoolFree(&session, page);
        delete all;
      }
    }
  }
  if (note) NnNoteClose(note);
  if (fchdir(home) != 0) kvfuzz::Finding("cannot return to the working folder");
  close(home);
  return 0;
}
