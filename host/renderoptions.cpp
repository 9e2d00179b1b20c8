// The render-option reader: turns the caller's Key=value option string into
// the option half of a RenderContext. Values are checked here once, so that
// the writers can rely on them: numbers are clamped, texts keep printable
// characters only, and URL options that would run script are refused.
#include <strings.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/options.h"
#include "host/pool.h"
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
    ctx->css3Features = (IsYes(v) || strcasecmp(v, "All") == 0)
                            ? 31u
                            : uint32_t(ClampedNumber(v, 0, 31, 0));
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
      if (id >= 0 && id < 256) ctx->forcedFontFace = kForcedFontFaceSet | uint32_t(id);
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
  return 0;
}
