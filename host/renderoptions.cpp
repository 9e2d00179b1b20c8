// The render-option reader: turns the caller's Key=value option string into
// the option half of a RenderContext. Values are checked here once, so that
// the writers can rely on them: numbers are clamped, texts keep printable
// characters only, and URL options that would run script are refused.
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "host/options.h"
#include "host/pool.h"
#include "host/renderoptions.h"
#include "lsxsessi.h"
#include "nn/nn.h"
#include "render/render.h"
#include "render/rendercontext.h"
#include "rtitem.h"

namespace {

// A yes/no option: "Yes", "True", "On" and "1" switch it on.
bool IsYes(const char* value) {
  if (!value || !*value) return false;
  char c = char(std::toupper(static_cast<unsigned char>(value[0])));
  if (c == 'Y' || c == 'T' || c == '1') return true;
  return strcasecmp(value, "ON") == 0;
}

struct FlagKey {
  const char* key;
  char word;      // 'A'..'E'
  uint32_t bit;
  bool preset;    // on unless the key says otherwise
};

// The flag words the driver and writers test, by the key that sets each bit.
constexpr FlagKey kFlagKeys[] = {
    {"ForceParagraphs=", 'A', 0x1, false},
    {"StandardFontTags=", 'A', 0x8, false},
    {"PreserveSpaces=", 'A', 0x40, false},
    {"Translation=", 'A', 0x1000, false},
    {"CSSBorders=", 'A', 0x4000, false},
    {"MoveStylesInline=", 'B', 0x1, true},
    {"TabbedTablesInCSS=", 'B', 0x100, false},
    {"SectionsInCSS=", 'B', 0x200, false},
    {"RespectHiddenFormulas=", 'B', 0x2000, false},
    {"PreviewMode=", 'C', 0x100, false},
    {"WebMode=", 'C', 0x200, false},
    {"UseXMLEntities=", 'C', 0x800, false},
    {"UsePTags=", 'D', 0x100, false},
    {"SuppressDivInfo=", 'D', 0x400, false},
    {"RelativeIndents=", 'D', 0x800, false},
    {"HybridFontTags=", 'D', 0x1000, false},
    {"LogImprovements=", 'D', 0x8000, false},
    {"SupportRico=", 'E', 0x1, false},
    {"SupportOutlook=", 'E', 0x2, false},
    {"WrenlatchSections=", 'E', 0x20, false},
    {"XPage=", 'E', 0x100, false},
    {"RestoreCSSRefs=", 'E', 0x800, true},
};

uint32_t* FlagWord(RenderContext* ctx, char word) {
  switch (word) {
    case 'A': return &ctx->renderFlagsA;
    case 'B': return &ctx->renderFlagsB;
    case 'C': return &ctx->renderFlagsC;
    case 'D': return &ctx->renderFlagsD;
    default: return &ctx->renderFlagsE;
  }
}

// A whole decimal number clamped to [low, high]; `fallback` when the text
// holds no number.
long ClampedNumber(const char* text, long low, long high, long fallback) {
  if (!text) return fallback;
  while (*text == ' ') ++text;
  char* end = nullptr;
  long v = std::strtol(text, &end, 10);
  if (end == text) return fallback;
  if (v < low) return low;
  if (v > high) return high;
  return v;
}

// Keeps printable characters only: an option text never carries control
// characters into the output.
void KeepPrintable(char* text) {
  char* out = text;
  for (const char* in = text; *in; ++in) {
    unsigned char c = static_cast<unsigned char>(*in);
    if (c >= 0x20 && c != 0x7F) *out++ = char(c);
  }
  *out = 0;
}

// A URL whose scheme would run script or carry inline content.
bool IsScriptUrl(const char* text) {
  char scheme[16];
  size_t n = 0;
  for (const char* p = text; *p && n + 1 < sizeof scheme; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c <= 0x20) continue;  // browsers ignore blanks and controls inside a scheme
    if (c == ':') {
      scheme[n] = 0;
      return strcasecmp(scheme, "javascript") == 0 || strcasecmp(scheme, "vbscript") == 0 ||
             strcasecmp(scheme, "data") == 0 || strcasecmp(scheme, "livescript") == 0;
    }
    if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return false;
    scheme[n++] = char(std::tolower(c));
  }
  return false;
}

// The option's value as a pool text (printable characters only); null when
// the key is absent or its value empty, or (for a URL) refused.
char* OptionText(LSXLsiSession* session, const char* options, const char* key, bool url,
                 bool fileUrl = false) {
  char value[kOptionValueMax + 1 + 16];
  if (!GetOptionValue(options, key, value)) return nullptr;
  KeepPrintable(value);
  if (!*value) return nullptr;
  if (url && IsScriptUrl(value)) return nullptr;
  if (fileUrl) {
    char scratch[kOptionValueMax + 1 + 16];
    ConvertPathToFileURL(value, scratch);
    if (!*value) return nullptr;
  }
  return POOL_STRDUP(session, value);
}

// A name for a font family: letters, digits, blanks, hyphens, underscores,
// dots and commas (a family list); anything else would break out of CSS.
void CopyFamilyName(char* out, size_t outSize, const char* name) {
  size_t n = 0;
  for (const char* p = name; *p && n + 1 < outSize; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (std::isalnum(c) || c == ' ' || c == '-' || c == '_' || c == '.' || c == ',')
      out[n++] = char(c);
  }
  out[n] = 0;
}

// The face names by face number: the built-in faces, the item's own table,
// and face 5 from the "StaticFont1" setting.
void FillFaceNames(RenderContext* ctx) {
  static const char* const kBuiltin[] = {"Default Sans Serif", "Arial", "Arial Unicode MS",
                                         "Arial", "Courier New", "Helvetica"};
  for (size_t i = 0; i < sizeof kBuiltin / sizeof kBuiltin[0]; ++i)
    CopyFamilyName(ctx->faceNames[i], kFaceNameTextSize, kBuiltin[i]);
  if (ctx->item) {
    char name[kFaceNameSize + 1];
    for (uint32_t id = 6; id < 256; ++id) {
      name[0] = 0;
      if (ctx->item->FindFaceByID(uint8_t(id), name)) {
        name[kFaceNameSize] = 0;
        CopyFamilyName(ctx->faceNames[id], kFaceNameTextSize, name);
      }
    }
  }
  char setting[256] = {};
  if (NnIniGetText("StaticFont1", setting, sizeof setting) && setting[0])
    CopyFamilyName(ctx->faceNames[5], kFaceNameTextSize, setting);
}

// "Charset=": a number, or one of the names the output can be translated to.
uint16_t CharsetOption(const char* value) {
  if (std::isdigit(static_cast<unsigned char>(value[0])))
    return uint16_t(ClampedNumber(value, 0, 65535, 32));
  if (strcasecmp(value, "UTF-8") == 0 || strcasecmp(value, "UTF8") == 0) return 1;
  if (strcasecmp(value, "ISO-8859-1") == 0 || strcasecmp(value, "Latin1") == 0) return 32;
  if (strcasecmp(value, "Unicode") == 0 || strcasecmp(value, "UTF-16") == 0) return 160;
  return 32;
}

// "ForceFontColor=": "#RRGGBB" or a number; kept as 0x01BBGGRR so that black is
// still "set".
uint32_t ColourOption(const char* value) {
  if (value[0] == '#') {
    char* end = nullptr;
    unsigned long rgb = std::strtoul(value + 1, &end, 16);
    if (end != value + 7) return 0;
    uint32_t r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
    return 0x01000000u | (b << 16) | (g << 8) | r;
  }
  long v = ClampedNumber(value, 0, 0xFFFFFF, -1);
  return v < 0 ? 0 : 0x01000000u | uint32_t(v);
}

}  // namespace

NnStatus LSXLsiSession::PreprocessXMLProperties(RenderContext* ctx, uint16_t outputKind,
                                                const char* fileName, const char* optionString) {
  if (!ctx) return NN_ERR_INVALID_ARG;
  const char* o = optionString ? optionString : "";
  char v[kOptionValueMax + 1];
  NnStatus status = 0;

  ctx->session = this;
  ctx->optionString = o;
  ctx->outputKind = (outputKind == kOutputXhtml || outputKind == kOutputPlain) ? outputKind
                                                                                : uint16_t(kOutputHtml);
  if (fileName && *fileName && !ctx->basePathname) {
    char name[kOptionValueMax + 1];
    std::snprintf(name, sizeof name, "%s", fileName);
    KeepPrintable(name);
    if (*name) ctx->basePathname = POOL_STRDUP(this, name);
  }

  // Flag words: presets first, then what the keys say.
  ctx->renderFlagsA = ctx->renderFlagsB = ctx->renderFlagsC = ctx->renderFlagsD =
      ctx->renderFlagsE = 0;
  ctx->renderFlagsB |= 0x800;   // list bullets from the bullet graphics
  ctx->renderFlagsE |= 0x80;    // check-box bullets as images
  // XHTML is XML: entities are numeric there, never named HTML ones.
  if (ctx->outputKind == kOutputXhtml) ctx->renderFlagsC |= 0x800;
  for (const FlagKey& f : kFlagKeys) {
    uint32_t* word = FlagWord(ctx, f.word);
    if (GetOptionValue(o, f.key, v)) {
      if (IsYes(v))
        *word |= f.bit;
      else if (!(f.word == 'C' && f.bit == 0x800 && ctx->outputKind == kOutputXhtml))
        *word &= ~f.bit;
    } else if (f.preset) {
      *word |= f.bit;
    }
  }
  if (GetOptionValue(o, "Generation=", v) && strcasecmp(v, "Fragment") == 0)
    ctx->renderFlagsA |= 0x2;
  if (GetOptionValue(o, "AddNewlines=", v)) {
    if (strcasecmp(v, "CRLF") == 0)
      ctx->renderFlagsA |= 0x400;
    else if (IsYes(v) || strcasecmp(v, "NL") == 0)
      ctx->renderFlagsA |= 0x800;
  }
  if (GetOptionValue(o, "RelativePtSize=", v)) {
    if (strcasecmp(v, "P") == 0 || v[0] == '%')
      ctx->renderFlagsE |= 0x1000;
    else if (strcasecmp(v, "E") == 0 || IsYes(v))
      ctx->renderFlagsE |= 0x400;
  }
  if (GetOptionValue(o, "SupportOutlook=", v) && IsYes(v)) ctx->renderFlagsD |= 0x8000;

  // Plain values.
  ctx->newlineOnParagraph = GetOptionValue(o, "NewlineOnParagraph=", v) && IsYes(v);
  ctx->tabSpaces = GetOptionValue(o, "TabSpaces=", v) ? uint16_t(ClampedNumber(v, 0, 32, 0)) : 0;
  ctx->characterSet = GetOptionValue(o, "Charset=", v) && *v ? CharsetOption(v) : 32;
  bool curly = GetOptionValue(o, "UseCurlyBracesInline=", v) && IsYes(v);
  ctx->styleDelimiterOpen = curly ? "{" : "";
  ctx->styleDelimiterClose = curly ? "}" : "";
  ctx->css3Features = 0;
  if (GetOptionValue(o, "CSS3=", v))
    // A number is the sum of its features ("1" is rgba alone, not a yes).
    ctx->css3Features = std::isdigit(static_cast<unsigned char>(v[0]))
                            ? uint32_t(ClampedNumber(v, 0, 31, 0))
                            : (IsYes(v) || strcasecmp(v, "All") == 0) ? 31u : 0u;
  // "ForceFontSize=": a point size for all text, or "Yes" to state every
  // paragraph's size (kForcedFontSizeStated).
  ctx->forcedFontSize = 0;
  if (GetOptionValue(o, "ForceFontSize=", v)) {
    if (std::isdigit(static_cast<unsigned char>(v[0])))
      ctx->forcedFontSize = uint32_t(ClampedNumber(v, 0, 255, 0));
    else if (IsYes(v))
      ctx->forcedFontSize = kForcedFontSizeStated;
  }
  // "ForceFontFace=": a face number or name, kept with kForcedFontFaceSet so
  // that face 0 can be forced too.
  ctx->forcedFontFace = 0;
  if (GetOptionValue(o, "ForceFontFace=", v) && *v) {
    if (std::isdigit(static_cast<unsigned char>(v[0]))) {
      long id = ClampedNumber(v, 0, 255, -1);
      if (id >= 0) ctx->forcedFontFace = kForcedFontFaceSet | uint32_t(id);
    } else if (ctx->item) {
      int id = ctx->item->FindFaceByName(v, false);
      // A face the item does not have would force nothing: refused.
      if (id >= 0 && id < 256)
        ctx->forcedFontFace = kForcedFontFaceSet | uint32_t(id);
      else
        status = NN_ERR_INVALID_ARG;
    }
  }
  ctx->forcedFontColour = GetOptionValue(o, "ForceFontColor=", v) ? ColourOption(v) : 0;
  ctx->flushThreshold = GetOptionValue(o, "OutputToEvent=", v) && IsYes(v) ? 8192 : 0;
  ctx->rightToLeftSeen =
      GetOptionValue(o, "ForceDirection=", v) && strncasecmp(v, "RTL", 3) == 0 ? 1 : 0;
  ctx->sectionLineFlags = GetOptionValue(o, "SuppressSectionLines=", v) && IsYes(v) ? 0x4 : 0;
  ctx->localIcons = GetOptionValue(o, "LocalKvSymbols=", v) && IsYes(v) ? 1 : 0;

  // Attachments and images.
  ctx->attachmentHandling = 1;
  if (GetOptionValue(o, "AttachmentHandling=", v)) {
    if (strcasecmp(v, "IGNORE") == 0) ctx->attachmentHandling = 0;
    else if (strcasecmp(v, "DISK") == 0) ctx->attachmentHandling = 2;
    else if (strcasecmp(v, "NAME") == 0) ctx->attachmentHandling = 4;
    else if (strcasecmp(v, "REF") == 0) ctx->attachmentHandling = 8;
  }
  ctx->dataImages = 0;
  if (GetOptionValue(o, "DataImages=", v)) {
    if (strcasecmp(v, "Max") == 0)
      ctx->dataImages = UINT32_MAX;
    else if (std::isdigit(static_cast<unsigned char>(v[0])))
      ctx->dataImages = uint32_t(ClampedNumber(v, 0, 0x7FFFFFFF, 0));
    else if (IsYes(v))
      ctx->dataImages = 8192;
    if (ctx->dataImages && ctx->dataImages < 256) ctx->dataImages = 256;
  }
  ctx->iconPointSize =
      GetOptionValue(o, "IconPtSize=", v) ? uint16_t(ClampedNumber(v, 8, 72, 12)) : 12;
  std::snprintf(ctx->iconFont, sizeof ctx->iconFont, "Arial");
  if (GetOptionValue(o, "IconFont=", v)) {
    char family[sizeof ctx->iconFont];
    CopyFamilyName(family, sizeof family, v);
    if (*family) std::snprintf(ctx->iconFont, sizeof ctx->iconFont, "%s", family);
  }

  // Directory and URL options: texts, escaped where the writers place them.
  ctx->imageURLDirectory = OptionText(this, o, "ImageURLDirectory=", true);
  ctx->attachmentURLDirectory = OptionText(this, o, "AttachmentURLDirectory=", true, true);
  ctx->imageDirectory = OptionText(this, o, "ImageDirectory=", false);
  ctx->attachmentDirectory = OptionText(this, o, "AttachmentDirectory=", false);
  ctx->inPlaceAttachmentURLDirectory = OptionText(this, o, "InPlaceAttachmentURLDirectory=", true);
  ctx->dbResource = OptionText(this, o, "DBResource=", true);
  ctx->imageFilePath = OptionText(this, o, "ImageFilePath=", false);
  if (char* base = OptionText(this, o, "BasePathname=", false)) {
    PoolFree(this, ctx->basePathname);
    ctx->basePathname = base;
  }
  ctx->formName = OptionText(this, o, "FormName=", false);
  ctx->formPath = OptionText(this, o, "FormPath=", true);
  // Wiki links resolve under "http:" followed by this prefix (a network-path
  // reference such as "//host/wiki.nsf/Page?OpenForm&Subject=").
  ctx->hotspot.wikiUrlPrefix = nullptr;
  if (GetOptionValue(o, "WikiURLPrefix=", v)) {
    KeepPrintable(v);
    if (v[0] == '/' && v[1] == '/' && std::strlen(v) < sizeof ctx->hotspot.wikiUrlPrefixOption) {
      std::memcpy(ctx->hotspot.wikiUrlPrefixOption, v, std::strlen(v) + 1);
      ctx->hotspot.wikiUrlPrefix = ctx->hotspot.wikiUrlPrefixOption;
    }
  }
  ctx->expandIcon = OptionText(this, o, "ExpandGraphic=", true);
  ctx->collapseIcon = OptionText(this, o, "CollapseGraphic=", true);
  static const char* const kBullets[4] = {"CSSBulletGraphic=", "CSSCircleBulletGraphic=",
                                          "CSSSquareBulletGraphic=", "CSSCheckBulletGraphic="};
  for (int i = 0; i < 4; ++i) ctx->bulletGraphics[i] = OptionText(this, o, kBullets[i], true);
  static const char* const kTabs[4] = {"CSSTabNoSelBackgroundColor=", "CSSTabNoSelTextColor=",
                                       "CSSTabSelBackgroundColor=", "CSSTabSelTextColor="};
  for (int i = 0; i < 4; ++i) ctx->tabColours[i] = OptionText(this, o, kTabs[i], true);
  ctx->stylesheetUrl = OptionText(this, o, "ExportStylesheet=", true);

  if (GetOptionValue(o, "DebugLevel=", v)) ctx->debugLevel = uint16_t(ClampedNumber(v, 0, 9, 0));
  FillFaceNames(ctx);
  return status;
}

// ---- the keys, for the reference page ------------------------------------------
//
// One row per key the renderer reads. A yes/no key is on for "Yes", "True",
// "On" or "1" and off for "No", "False", "Off" or "0"; a row's `takes` says
// what else it lets through, and a render given any other value for the key
// fails (RenderOptionsUsable). tools/kvref writes the rows into reference.md
// and fails the build when the renderer reads a key the table lacks, a row's
// example does not change the example page as the row says, or holds a value
// its key refuses.

namespace {

using S = RenderOptionShows;
using K = RenderOptionKind;

constexpr const char* kYesNo = "Yes or No";
constexpr const char* kNo = "No";
constexpr const char* kNone = "none";
constexpr const char* kText = "a text";
constexpr const char* kUrl =
    "a URL (javascript:, vbscript:, livescript:, data: and control characters are refused)";
constexpr const char* kDir = "a folder path (control characters are refused)";

constexpr RenderOptionKey kRenderOptionKeys[] = {
    // ---- the page as a whole
    {"Generation=", "Fragment, or Page (a whole page)", "a whole page",
     "Fragment: the page has no head, style sheet link, scripts or body tag; it opens with the "
     "AjaxID= division, or <body>",
     "Generation=Fragment", S::kExamplePage, {K::kWords, "Fragment|Page"}},
    {"AjaxID=", "an element id (one with blanks, quotes, <, > or & is refused)", kNone,
     "with Generation=Fragment, the fragment is a <div id='...'> holding the content",
     "Generation=Fragment AjaxID=box1", S::kExamplePage, {K::kElementId}},
    {"OpeningBody=", "one <body ...> or <div ...> start tag", "the body tag the renderer writes",
     "the tag opens the content instead of the renderer's body tag",
     "OpeningBody=\"<body class='note'>\"", S::kExamplePage, {K::kStartTag}},
    {"bgcolor=", "#RRGGBB, or a colour name", "the note's page colour (#ffffff without one)",
     "the page background in the body tag's style", "bgcolor=#ffeecc", S::kExamplePage,
     {K::kColour}},
    {"HeadTag=", "head markup: meta, link and style elements (a </head> in it ends it)", kNone,
     "the markup goes into the head before the scripts", "HeadTag=\"<meta name='a' content='b'>\"",
     S::kExamplePage, {K::kHeadMarkup}},
    {"AddStyleSheetInfo=", "style rules, or head markup (meta, link and style elements)", kNone,
     "added to the head: rules inside the style element, markup as it stands",
     "AddStyleSheetInfo=\"p {margin: 0}\"", S::kExamplePage, {K::kStyleSheet}},
    {"ExportStylesheet=", kUrl, kNone, "a <link rel=\"stylesheet\"> to the URL in the head",
     "ExportStylesheet=site.css", S::kExamplePage, {K::kUrl}},
    {"OpeningGlobalStyle=", "head markup", "a body style from the most used font",
     "written in the head in place of the body style the renderer makes from the most used font",
     "OpeningGlobalStyle=\"<style>body {margin: 0}</style>\"", S::kExamplePage, {K::kText}},
    {"FormName=", kText, kNone,
     "the page gets a form element of that name, posting to FormPath= in the database",
     "FormName=Entry", S::kExamplePage, {K::kText}},
    {"FormPath=", kUrl, "the database's own path", "where the FormName= form posts to",
     "FormName=Entry FormPath=forms/entry", S::kExamplePage, {K::kUrl}},
    {"Charset=", "UTF-8, ISO-8859-1 (Latin1), Unicode (UTF-16), or a platform character set "
     "number (0 to 65535)", "32 (ISO-8859-1) when Translation= is on; the page is UTF-8 otherwise",
     "with Translation=Yes, the character set the page is translated into and declares",
     "Translation=Yes Charset=UTF-8", S::kExamplePage,
     {K::kWords, "UTF-8|UTF8|ISO-8859-1|Latin1|Unicode|UTF-16", 0, 65535}},
    {"Translation=", kYesNo, kNo,
     "the page is translated from the platform's character set into the Charset= one "
     "(UTF-8 otherwise)",
     "Translation=Yes", S::kExamplePage, {K::kYesNo}},
    {"AddNewlines=", "Yes or NL (a line feed), CRLF, or No", kNo,
     "a line break after the head and after each paragraph class rule", "AddNewlines=Yes",
     S::kExamplePage, {K::kYesNo, "NL|CRLF"}},
    {"OutputToEvent=", kYesNo, kNo,
     "the page goes out in parts of about 8 KB as it grows (to the MIME writer) instead of "
     "in one piece; the page is the same",
     "OutputToEvent=Yes", S::kElsewhere, {K::kYesNo}},
    {"DebugLevel=", "0 to 9", "0",
     "above 0, the renderer notes in the platform log what it leaves out and why",
     "DebugLevel=3", S::kElsewhere, {K::kNumber, nullptr, 0, 9}},
    {"XPage=", kYesNo, kNo,
     "check-box bullets are the server's icon files instead of data: images; lists get the "
     "kv-par-list class; attachments link to the server's attachment URL",
     "XPage=Yes", S::kElsewhere, {K::kYesNo}},

    // ---- paragraphs and styles
    {"MoveStylesInline=", kYesNo, "Yes",
     "No: paragraph styles go into class rules of a style element in the head (pabid "
     "classes); Yes: each paragraph carries its style",
     "MoveStylesInline=No", S::kExamplePage, {K::kYesNo}},
    {"UsePTags=", kYesNo, kNo, "paragraphs are p elements instead of div elements",
     "UsePTags=Yes", S::kExamplePage, {K::kYesNo}},
    {"ForceParagraphs=", kYesNo, kNo,
     "an open p element closes before a paragraph without a style mapping opens",
     "ForceParagraphs=Yes UsePTags=Yes", S::kElsewhere, {K::kYesNo}},
    {"SuppressDivInfo=", kYesNo, kNo, "no paragraph element carries a pabid class",
     "SuppressDivInfo=Yes MoveStylesInline=No", S::kExamplePage, {K::kYesNo}},
    {"StandardFontTags=", kYesNo, kNo,
     "fonts are written as font elements, with no paragraph classes and no style element",
     "StandardFontTags=Yes", S::kExamplePage, {K::kYesNo}},
    {"HybridFontTags=", kYesNo, kNo,
     "with StandardFontTags=Yes, an empty style element left in the head is removed",
     "HybridFontTags=Yes StandardFontTags=Yes", S::kElsewhere, {K::kYesNo}},
    {"AllowEmptyDivs=", "any value (its presence counts)", "align='left' on plain paragraphs",
     "a left-aligned paragraph without a style opens as a bare <div> (or <p>)",
     "AllowEmptyDivs=Yes", S::kExamplePage, {K::kAny}},
    {"RelativeIndents=", kYesNo, kNo, "first-line indents are written in percent, not inches",
     "RelativeIndents=Yes", S::kElsewhere, {K::kYesNo}},
    {"RelativePtSize=", "E or Yes (em), P or a value starting with % (percent), or No", "points",
     "font sizes of paragraph styles in em or percent", "RelativePtSize=E", S::kExamplePage,
     {K::kYesNo, "E|P|%*"}},
    {"ForceFontSize=", "a point size (0 to 255), Yes to state every paragraph's size, or No",
     kNone, "all text in that size, or each paragraph's size written out",
     "ForceFontSize=14", S::kExamplePage, {K::kYesNo, nullptr, 0, 255}},
    {"ForceFontFace=", "a face number (0 to 255) or a face name of the item", kNone,
     "all text in that face", "ForceFontFace=4", S::kExamplePage, {K::kFaceName}},
    {"ForceFontColor=", "#RRGGBB or a number (0 to 16777215)", kNone, "all text in that colour",
     "ForceFontColor=#123456", S::kExamplePage, {K::kRgb}},
    {"ForceDirection=", "RTL or LTR", "left to right",
     "RTL: left-to-right paragraph styles state \"direction: ltr;\"", "ForceDirection=RTL",
     S::kExamplePage, {K::kWords, "RTL|LTR"}},
    {"UseCurlyBracesInline=", kYesNo, kNo, "style attribute values are wrapped in { }",
     "UseCurlyBracesInline=Yes", S::kExamplePage, {K::kYesNo}},
    {"CSS3=", "Yes or All, No, or a number: 1 rgba, 2 text, 4 box, 8 radius (sums)", "0",
     "read and kept; no writer uses it yet", "CSS3=All", S::kNothing, {K::kYesNo, "All", 0, 31}},
    {"RestoreCSSRefs=", kYesNo, "Yes",
     "the class rules stored in the rich text's style records are collected and a paragraph "
     "followed by a style record gets no class of its own",
     "RestoreCSSRefs=No", S::kElsewhere, {K::kYesNo}},
    {"SupportOutlook=", kYesNo, kNo, "list paragraphs keep their top and bottom margins",
     "SupportOutlook=Yes", S::kElsewhere, {K::kYesNo}},
    {"CSSBorders=", kYesNo, kNo, "table cell borders become td.brdr classes in the head",
     "CSSBorders=Yes MoveStylesInline=No", S::kExamplePage, {K::kYesNo}},
    {"RespectHiddenFormulas=", kYesNo, kNo,
     "paragraphs hidden by their hide-when settings (and formulas) are left out",
     "RespectHiddenFormulas=Yes", S::kElsewhere, {K::kYesNo}},
    {"PreviewMode=", kYesNo, kNo,
     "with RespectHiddenFormulas=Yes, the hide-in-preview setting applies instead of the "
     "hide-in-read one",
     "PreviewMode=Yes RespectHiddenFormulas=Yes", S::kElsewhere, {K::kYesNo}},
    {"WebMode=", kYesNo, kNo,
     "with RespectHiddenFormulas=Yes, the hide-from-web setting applies", 
     "WebMode=Yes RespectHiddenFormulas=Yes", S::kElsewhere, {K::kYesNo}},
    {"LogImprovements=", kYesNo, kNo, "read and kept; no writer uses it yet",
     "LogImprovements=Yes", S::kNothing, {K::kYesNo}},
    {"NewlineOnParagraph=", kYesNo, kNo, "plain-text output: a line break for every paragraph",
     "NewlineOnParagraph=Yes", S::kElsewhere, {K::kYesNo}},

    // ---- text
    {"PreserveSpaces=", kYesNo, kNo, "runs of spaces are kept (as non-breaking spaces)",
     "PreserveSpaces=Yes", S::kElsewhere, {K::kYesNo}},
    {"TabSpaces=", "0 to 32", "0", "a tab is written as that many non-breaking spaces",
     "TabSpaces=4", S::kElsewhere, {K::kNumber, nullptr, 0, 32}},
    {"UseXMLEntities=", kYesNo, "No (always on in XHTML)",
     "characters are written as numeric entities instead of named HTML ones",
     "UseXMLEntities=Yes", S::kElsewhere, {K::kYesNo}},
    {"SkipPassthru=", "Yes or No (no other word)", kNo,
     "pass-through HTML is written as ordinary, escaped text", "SkipPassthru=Yes",
     S::kElsewhere, {K::kWords, "Yes|No"}},
    {"MarkDelimitedHTML=", "Yes or No (no other word)", kNo,
     "text between DelimitedHTMLStart= and DelimitedHTMLEnd= goes into the page as HTML",
     "MarkDelimitedHTML=Yes", S::kElsewhere, {K::kWords, "Yes|No"}},
    {"DelimitedHTMLStart=", kText, "[<", "where delimited HTML starts (MarkDelimitedHTML=Yes)",
     "MarkDelimitedHTML=Yes DelimitedHTMLStart=[[", S::kElsewhere, {K::kText}},
    {"DelimitedHTMLEnd=", kText, ">]", "where delimited HTML ends (MarkDelimitedHTML=Yes)",
     "MarkDelimitedHTML=Yes DelimitedHTMLEnd=]]", S::kElsewhere, {K::kText}},

    // ---- sections
    {"SectionIncludeTitle=", "Yes or No (no other word)", kNo,
     "a section's title is shown (in an h3 after the section's rule); without it a section "
     "shows as a bare rule",
     "SectionIncludeTitle=Yes", S::kElsewhere, {K::kWords, "Yes|No"}},
    {"SectionOpenTag=", "markup", "<hr /> (with the title: <hr /><h3>)",
     "written where a section opens, instead of the rule", "SectionOpenTag=<details>",
     S::kElsewhere, {K::kText}},
    {"SectionCloseTag=", "markup", "</h3> after a title",
     "written after the section's title, in place of what the renderer closes it with",
     "SectionCloseTag=</details>", S::kElsewhere, {K::kText}},
    {"SectionsInCSS=", kYesNo, kNo,
     "sections expand and collapse in the browser: the script goes into the head and each "
     "section gets its expand and collapse parts",
     "SectionsInCSS=Yes", S::kExamplePage, {K::kYesNo}},
    {"SectionCSSHeader=", "any value (its presence counts)", kNone,
     "with SectionsInCSS=Yes, the expand/collapse script is not written (the caller's page "
     "has its own)",
     "SectionCSSHeader=own SectionsInCSS=Yes", S::kExamplePage, {K::kAny}},
    {"ExpandGraphic=", kUrl, "/icons/expand.gif", "the picture of a collapsed section's twistie",
     "ExpandGraphic=plus.gif SectionsInCSS=Yes", S::kElsewhere, {K::kUrl}},
    {"CollapseGraphic=", kUrl, "/icons/collapse.gif",
     "the picture of an expanded section's twistie", "CollapseGraphic=minus.gif SectionsInCSS=Yes",
     S::kElsewhere, {K::kUrl}},
    {"LocalKvSymbols=", kYesNo, kNo,
     "icon paths (section twisties) are written without their leading /, relative to the page",
     "LocalKvSymbols=Yes", S::kElsewhere, {K::kYesNo}},
    {"SuppressSectionLines=", kYesNo, kNo, "styled sections are drawn without their lines",
     "SuppressSectionLines=Yes WrenlatchSections=Yes", S::kElsewhere, {K::kYesNo}},
    {"WrenlatchSections=", kYesNo, kNo,
     "sections are written in their styled form (bar, border and colours as stored)",
     "WrenlatchSections=Yes", S::kElsewhere, {K::kYesNo}},

    // ---- tables
    {"TabbedTablesInCSS=", kYesNo, kNo,
     "tabbed tables switch tabs in the browser: the script and the tab style sheet go into "
     "the head",
     "TabbedTablesInCSS=Yes", S::kExamplePage, {K::kYesNo}},
    {"TabbedCSSHeader=", "any value (its presence counts)", kNone,
     "with TabbedTablesInCSS=Yes, the tab script and style sheet are not written",
     "TabbedCSSHeader=own TabbedTablesInCSS=Yes", S::kExamplePage, {K::kAny}},
    {"CSSTabNoSelBackgroundColor=", "#RRGGBB or a colour name", "#999966",
     "the background of a tab not selected (TabbedTablesInCSS=Yes)",
     "CSSTabNoSelBackgroundColor=#010203 TabbedTablesInCSS=Yes", S::kExamplePage, {K::kColour}},
    {"CSSTabNoSelTextColor=", "#RRGGBB or a colour name", "#333333",
     "the text colour of a tab not selected (TabbedTablesInCSS=Yes)",
     "CSSTabNoSelTextColor=#010203 TabbedTablesInCSS=Yes", S::kExamplePage, {K::kColour}},
    {"CSSTabSelBackgroundColor=", "#RRGGBB or a colour name", "#cccc99",
     "the background of the selected tab (TabbedTablesInCSS=Yes)",
     "CSSTabSelBackgroundColor=#010203 TabbedTablesInCSS=Yes", S::kExamplePage, {K::kColour}},
    {"CSSTabSelTextColor=", "#RRGGBB or a colour name", "#ffffcc",
     "the text colour of the selected tab (TabbedTablesInCSS=Yes)",
     "CSSTabSelTextColor=#010203 TabbedTablesInCSS=Yes", S::kExamplePage, {K::kColour}},

    // ---- lists
    {"CSSBulletGraphic=", kUrl, "a disc", "the picture of a bullet", "CSSBulletGraphic=dot.gif",
     S::kElsewhere, {K::kUrl}},
    {"CSSCircleBulletGraphic=", kUrl, "a circle", "the picture of a circle bullet",
     "CSSCircleBulletGraphic=ring.gif", S::kElsewhere, {K::kUrl}},
    {"CSSSquareBulletGraphic=", kUrl, "a square", "the picture of a square bullet",
     "CSSSquareBulletGraphic=box.gif", S::kElsewhere, {K::kUrl}},
    {"CSSCheckBulletGraphic=", kUrl, "built-in check-box pictures",
     "the picture of a check-box bullet", "CSSCheckBulletGraphic=tick.gif", S::kElsewhere,
     {K::kUrl}},

    // ---- images
    {"DataImages=", "Yes (up to 8 KB), Max (any size), a byte count (at least 256), or No",
     "No: pictures go to ImageDirectory= when one is given",
     "pictures up to that size are written into the page as data: URLs even when "
     "ImageDirectory= is given",
     "DataImages=Max ImageDirectory=/nonexistent-kvref/images", S::kExamplePage,
     {K::kYesNo, "Max", 0, 2147483647}},
    {"ImageDirectory=", kDir, "none: pictures are written into the page as data: URLs",
     "pictures are written as files into the folder and the page refers to them",
     "ImageDirectory=/nonexistent-kvref/images", S::kExamplePage, {K::kFolder}},
    {"ImageURLDirectory=", kUrl, "none: the file name alone",
     "the URL folder before the file name of a picture written to ImageDirectory=",
     "ImageURLDirectory=/img ImageDirectory=/nonexistent-kvref/images", S::kExamplePage, {K::kUrl}},
    {"ImageFilePath=", kDir, kNone, "read and kept; no writer uses it yet",
     "ImageFilePath=/nonexistent-kvref/images", S::kNothing, {K::kFolder}},
    {"DBResource=", kUrl, "none: the resource name alone",
     "the URL folder before the name of a picture stored as a shared image resource",
     "DBResource=/db.nsf", S::kElsewhere, {K::kUrl}},
    {"BasePathname=", kDir, "the file name given to the render, if any",
     "the folder that navigation pictures and, in MIME renders, attachments are written to",
     "BasePathname=/nonexistent-kvref/base", S::kElsewhere, {K::kFolder}},

    // ---- attachments
    {"AttachmentHandling=", "IGNORE, DISK, NAME, REF",
     "a link to the file stored in the note (under InPlaceAttachmentURLDirectory=)",
     "IGNORE: attachments are left out; DISK: each is written to AttachmentDirectory= and "
     "linked there; NAME: a note \"See attached file: 'name'\"; REF: a note \"Attached "
     "file: 'name'\" (in MIME renders with XPage=Yes, a link to the server's attachment URL)",
     "AttachmentHandling=IGNORE", S::kElsewhere, {K::kWords, "IGNORE|DISK|NAME|REF"}},
    {"AttachmentDirectory=", kDir, kNone,
     "with AttachmentHandling=DISK, the folder the files are written to",
     "AttachmentHandling=DISK AttachmentDirectory=/nonexistent-kvref/files", S::kElsewhere,
     {K::kFolder}},
    {"AttachmentURLDirectory=", kUrl, ". (the page's folder)",
     "with AttachmentHandling=DISK, the URL folder of the files' links",
     "AttachmentURLDirectory=files AttachmentHandling=DISK",
     S::kElsewhere, {K::kUrl}},
    {"InPlaceAttachmentURLDirectory=", kUrl, "the database's path",
     "the URL folder that links to files stored in the note start with",
     "InPlaceAttachmentURLDirectory=att",
     S::kElsewhere, {K::kUrl}},
    {"AttachmentUNIDAsFolder=", kYesNo, kNo,
     "with AttachmentHandling=DISK, each note's files go into a folder named by its "
     "universal id",
     "AttachmentUNIDAsFolder=Yes AttachmentHandling=DISK", S::kElsewhere, {K::kYesNo}},
    {"AttachmentUNIDAsPrefix=", kYesNo, kNo,
     "with AttachmentHandling=DISK, file names start with the note's universal id",
     "AttachmentUNIDAsPrefix=Yes AttachmentHandling=DISK", S::kElsewhere, {K::kYesNo}},
    {"AttachmentGraphic=", kUrl, kNone,
     "with AttachmentHandling=DISK, a picture shown in each file's link",
     "AttachmentGraphic=clip.gif AttachmentHandling=DISK", S::kElsewhere, {K::kUrl}},
    {"AttachmentTextInLink=", kYesNo, kNo,
     "with AttachmentHandling=DISK, each file's link shows its name",
     "AttachmentTextInLink=Yes AttachmentHandling=DISK", S::kElsewhere, {K::kYesNo}},
    {"AttachmentLinks=", kYesNo, kNo,
     "with AttachmentHandling=REF in MIME renders of XPage=Yes, attachments link to their "
     "parts",
     "AttachmentLinks=Yes AttachmentHandling=REF XPage=Yes", S::kElsewhere, {K::kYesNo}},
    {"SeeAttachedMsg=", kText, "Attached file: (REF), See attached file: (NAME)",
     "the words before an attachment's name where it is noted instead of linked",
     "SeeAttachedMsg=See AttachmentHandling=REF", S::kElsewhere, {K::kText}},
    {"SuppressAttachments=", kYesNo, kNo, "attachments are left out of the page",
     "SuppressAttachments=Yes", S::kElsewhere, {K::kYesNo}},
    {"ExtraFileHotspotParams=", "attribute text", kNone,
     "added to the attributes of an attachment's link",
     "ExtraFileHotspotParams=\"title='file'\"",
     S::kElsewhere, {K::kText}},
    {"FileNamesFld=", "an item name", kNone,
     "the names of the attachments linked are added to that text-list item of the note",
     "FileNamesFld=LinkedFiles", S::kElsewhere, {K::kText}},
    {"IconFont=", "a font family (letters, digits, blanks and - _ . , only)", "Arial",
     "the font of an attachment icon's caption",
     "IconFont=Verdana", S::kElsewhere, {K::kFamily}},
    {"IconPtSize=", "8 to 72", "12", "the point size of an attachment icon's caption",
     "IconPtSize=20", S::kElsewhere, {K::kNumber, nullptr, 8, 72}},

    // ---- links and events
    {"SuppressLinks=", kYesNo, kNo, "links render as their content alone, without an anchor",
     "SuppressLinks=Yes", S::kExamplePage, {K::kYesNo}},
    {"URLEncodeFilenames=", kYesNo, kNo,
     "in link URLs, backslashes become / and blanks %20", "URLEncodeFilenames=Yes",
     S::kElsewhere, {K::kYesNo}},
    {"RaiseLinkEvent=", "URL or No", kNone,
     "URL: each URL link is handed to the chunk's QueryLinkData handler, which answers the "
     "URL to write (no answer: no anchor)",
     "RaiseLinkEvent=URL", S::kExamplePage, {K::kWords, "URL|No"}},
    {"RaiseNamesEvent=", "File or Att, or No", kNone,
     "with AttachmentHandling=DISK, the chunk's QueryExportNames handler may answer each "
     "file's path and URL",
     "RaiseNamesEvent=File AttachmentHandling=DISK", S::kElsewhere, {K::kWords, "File|Att|No"}},
    {"WikiURLPrefix=", "a network-path reference (\"//host/wiki.nsf/Page?OpenForm&Subject=\") of "
     "under 1,024 characters",
     kNone, "links of wiki pages not made yet go to http: followed by this and the title",
     "WikiURLPrefix=//host/wiki", S::kElsewhere, {K::kNetPath}},
    {"UseJavaScript=", "Yes or No", "No",
     "Yes: a link to a wiki page not made yet opens a window through a script",
     "UseJavaScript=Yes", S::kElsewhere, {K::kWords, "Yes|No"}},

    // ---- script libraries
    {"SupportRico=", kYesNo, kNo, "the two script references of the Rico library go into the head",
     "SupportRico=Yes", S::kExamplePage, {K::kYesNo}},
    {"RicoHeader=", "any value (its presence counts)", kNone,
     "with SupportRico=Yes, the Rico script references are not written",
     "RicoHeader=own SupportRico=Yes", S::kExamplePage, {K::kAny}},
};

}  // namespace

const RenderOptionKey* RenderOptionKeys(size_t* count) {
  if (count) *count = sizeof kRenderOptionKeys / sizeof kRenderOptionKeys[0];
  return kRenderOptionKeys;
}

namespace {

bool SameWord(const char* value, size_t length, const char* word, size_t wordLength) {
  return length == wordLength && strncasecmp(value, word, length) == 0;
}

// Whether the value is one of the "|"-separated words (a word ending in "*"
// takes any value starting with it).
bool AmongWords(const char* words, const char* value, size_t length) {
  for (const char* w = words; w && *w;) {
    const char* bar = std::strchr(w, '|');
    const size_t n = bar ? size_t(bar - w) : std::strlen(w);
    if (n && w[n - 1] == '*' ? length >= n - 1 && strncasecmp(value, w, n - 1) == 0
                             : SameWord(value, length, w, n))
      return true;
    w = bar ? bar + 1 : w + n;
  }
  return false;
}

// A whole decimal number in [low, high], digits only.
bool NumberIn(const char* value, size_t length, long low, long high) {
  if (length == 0 || length > 18) return false;
  long v = 0;
  for (size_t i = 0; i < length; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(value[i]))) return false;
    v = v * 10 + (value[i] - '0');
  }
  return v >= low && v <= high;
}

bool Printable(const std::string& text) {
  for (unsigned char c : text)
    if (c < 0x20 || c == 0x7F) return false;
  return true;
}

}  // namespace

bool RenderOptionValueUsable(const RenderOptionValue& takes, const char* value, size_t length) {
  if (!value) return false;
  if (AmongWords(takes.words, value, length)) return true;
  if (takes.low <= takes.high && NumberIn(value, length, takes.low, takes.high)) return true;
  const std::string v(value, length);
  switch (takes.kind) {
    case RenderOptionKind::kYesNo:
      return AmongWords("Yes|True|On|1|No|False|Off|0", value, length);
    case RenderOptionKind::kWords:
    case RenderOptionKind::kNumber:
      return false;
    case RenderOptionKind::kRgb:
      return (length == 7 && v[0] == '#' &&
              std::all_of(v.begin() + 1, v.end(),
                          [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); })) ||
             NumberIn(value, length, 0, 0xFFFFFF);
    case RenderOptionKind::kColour: {
      char colour[8];
      return Printable(v) && ColourOption(v.c_str(), colour);
    }
    case RenderOptionKind::kFaceName:
      // A name is looked up in the item as the render reads it.
      return std::isdigit(static_cast<unsigned char>(v[0])) ? NumberIn(value, length, 0, 255)
                                                             : !v.empty() && Printable(v);
    case RenderOptionKind::kFamily: {
      char family[kOptionValueMax + 1];
      CopyFamilyName(family, sizeof family, v.c_str());
      return !v.empty() && v == family;
    }
    case RenderOptionKind::kUrl:
      return Printable(v) && !IsScriptUrl(v.c_str());
    case RenderOptionKind::kFolder:
      return Printable(v);
    case RenderOptionKind::kNetPath:
      return Printable(v) && v.compare(0, 2, "//") == 0 &&
             length < sizeof(std::declval<RenderContext&>().hotspot.wikiUrlPrefixOption);
    case RenderOptionKind::kElementId:
      return !v.empty() && std::none_of(v.begin(), v.end(), [](char c) {
        return static_cast<unsigned char>(c) <= 0x20 || c == '"' || c == '\'' || c == '&' ||
               c == '<' || c == '>';
      });
    case RenderOptionKind::kStartTag:
      return OpeningBodyTag(v.c_str(), nullptr);
    case RenderOptionKind::kHeadMarkup: {
      std::string markup = v;
      const char* close = strcasestr(markup.c_str(), "</head>");
      if (close) markup.resize(size_t(close - markup.c_str()));
      std::string written;
      return markup.empty() || SafeHeadMarkup(markup.c_str(), &written);
    }
    case RenderOptionKind::kStyleSheet: {
      const size_t first = v.find_first_not_of(" \t\r\n");
      std::string written;
      return first == std::string::npos || v[first] != '<' ||
             SafeHeadMarkup(v.c_str() + first, &written);
    }
    case RenderOptionKind::kText:
    case RenderOptionKind::kAny:
      return true;
  }
  return false;
}

bool RenderOptionsUsable(const char* optionString, std::string* refused) {
  size_t count = 0;
  const RenderOptionKey* rows = RenderOptionKeys(&count);
  const char* cursor = optionString ? optionString : "";
  OptionPair pair;
  for (int r; (r = NextOptionPair(&cursor, &pair)) != 0;) {
    if (r < 0) continue;
    for (size_t i = 0; i < count; ++i) {
      const size_t n = std::strlen(rows[i].key) - 1;  // without its "="
      if (!SameWord(pair.key, pair.keyLength, rows[i].key, n)) continue;
      if (!RenderOptionValueUsable(rows[i].takes, pair.value, pair.valueLength)) {
        if (refused)
          *refused = std::string(pair.key, pair.keyLength) + "=" +
                     std::string(pair.value, pair.valueLength);
        return false;
      }
      break;
    }
  }
  return true;
}
