// Collapsible sections: the opening markup of a section bar (0xFFAC) in its
// three forms — plain rule and heading, two script-switched blocks, or a
// styled header in the bar's border style — and the closing of a section.
#include <strings.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "host/color.h"
#include "host/options.h"
#include "render/render.h"
#include "richtext/item/cdlayout.h"
#include "richtext/item/recordlist.h"

namespace {

using kv::cd::ReadU16;
using kv::cd::ReadU32;

constexpr uint32_t kBarExpanded = 0x10;
constexpr uint32_t kBarFormula = 0x2000;
constexpr uint32_t kBarNoTitle = 0x4000;
constexpr uint32_t kBarColourWord = 0x04000000;

// Closing texts of a section's blocks. A section's entry on the block list is
// found by its kind and its opener, never by these texts, and it fences off
// what opened before it from the writers that close elements by their text.
constexpr const char* kScriptBlockClose = "</div>\n";      // the script form's expanded block
constexpr const char* kStyledSectionClose = "</div></div>";  // a styled section's content and wrapper

bool IsListClosing(const char* text) {
  return text && (std::strcmp(text, "</ol>") == 0 || std::strcmp(text, "</ul>") == 0);
}

// The open section that `opener` opened (the newest), never past a table
// cell: what opened inside a cell closes with it.
OpenElement* OpenSectionOf(RenderContext* ctx, const void* opener) {
  for (OpenElement* e = ctx->blockElementList; e; e = e->next) {
    if (e->kind == OpenElementKind::kCell) return nullptr;
    if (e->kind == OpenElementKind::kSection && e->opener == opener) return e;
  }
  return nullptr;
}

// Closes a section with what is open inside it; the lists among them leave
// the list levels of the paragraph writer.
bool CloseSection(RenderContext* ctx, const OpenElement* section) {
  for (const OpenElement* e = ctx->blockElementList; e && e != section; e = e->next) {
    if (!IsListClosing(e->closingText) || ctx->listDepth == 0) continue;
    if (ctx->listDepth <= kMaxListLevels) ctx->listDefinitions[ctx->listDepth] = nullptr;
    --ctx->listDepth;
  }
  CloseOpenElementsTo(ctx, 1, "", 0);
  return CloseOpenElementsThrough(ctx, 0, section->serial) != 0;
}

// Closes the paragraph open where a section begins (in its cell or section).
void CloseParagraphs(RenderContext* ctx) {
  for (const char* paragraph : {"</div>", "</p>"}) {
    if (IsElementOpenBefore(ctx, 0, paragraph, "</td>", "</th>", nullptr)) {
      CloseOpenElementsTo(ctx, 1, "", 0);
      CloseOpenElementsTo(ctx, 0, paragraph, 0);
    }
  }
}

// The section a bar opens stays open on the block list until its opener
// ends, the next bar of the same opener, its table cell or the page ends.
void PushSection(RenderContext* ctx, const char* closing) {
  OpenElement* entry = PushOpenElement(ctx, 0, closing, ctx->sectionLevel);
  if (!entry) {
    RenderAppend(ctx, closing);  // no memory to keep it open: an empty section
    return;
  }
  entry->kind = OpenElementKind::kSection;
  entry->opener = ctx->hotspot.sectionOpener;
}

// What a bar record and the records right after it say.
struct Bar {
  uint32_t flags = 0;
  uint8_t font[4] = {};
  uint32_t fontId = 0;
  const char* title = nullptr;
  uint16_t titleLength = 0;
  const uint8_t* colourRecord = nullptr;  // a 0x00D2 record directly after the bar
  bool rgb = false;                       // its RGB flag
  uint8_t red = 0, green = 0, blue = 0;
  bool styleRecord = false;               // a section-style record overrode the style
  uint32_t style = 0;                     // 0..10
  char colour[8] = {};                    // "#rrggbb"
};

bool ReadBar(const RTRecordNode* node, Bar* bar) {
  const uint8_t* d = node->data;
  const uint32_t length = node->length;
  if (!d || !ReadU32(d, length, 4, &bar->flags) || !ReadU32(d, length, 8, &bar->fontId))
    return false;
  std::memcpy(bar->font, d + 8, 4);
  uint32_t at = 12;
  if (bar->flags & kBarColourWord) at += 2;
  // The stored title ends with a terminator that is not part of it.
  if (length > at + 1) {
    const char* text = reinterpret_cast<const char*>(d + at);
    size_t n = length - at - 1;
    if (!(bar->flags & kBarFormula)) n = strnlen(text, n);
    if (n > 0xFFFF) n = 0xFFFF;
    bar->title = text;
    bar->titleLength = uint16_t(n);
  }
  bar->style = (bar->flags >> 28) & 0x7;
  const RTRecordNode* next = node->next;
  if (next && next->signature == 0x00D2 && next->data && next->length >= 7) {
    uint16_t colourFlags = 0;
    ReadU16(next->data, next->length, 2, &colourFlags);
    bar->colourRecord = next->data;
    bar->rgb = colourFlags & 0x1;
    bar->red = next->data[4];
    bar->green = next->data[5];
    bar->blue = next->data[6];
  }
  // A section-style record among the next two records overrides the style.
  const RTRecordNode* scan = next;
  for (int k = 0; k < 2 && scan; ++k, scan = scan->next) {
    uint16_t kind = 0;
    uint32_t value = 0;
    if (scan->signature == 0x0062 && scan->data && ReadU16(scan->data, scan->length, 2, &kind) &&
        kind == 128 && ReadU32(scan->data, scan->length, 12, &value)) {
      static const uint32_t kStyles[] = {7, 8, 9, 10, 10, 10, 10, 10};
      bar->style = kStyles[value & 0x7];
      bar->styleRecord = true;
      break;
    }
  }
  if (bar->colourRecord) {
    std::snprintf(bar->colour, sizeof bar->colour, "#%02x%02x%02x", bar->red, bar->green,
                  bar->blue);
  } else {
    const uint8_t index = bar->font[2];
    if (index < kPaletteSize)
      std::snprintf(bar->colour, sizeof bar->colour, "#%02x%02x%02x", PaletteRgbTable[index][0],
                    PaletteRgbTable[index][1], PaletteRgbTable[index][2]);
    else
      std::snprintf(bar->colour, sizeof bar->colour, "#000000");
  }
  return true;
}

bool OptionYes(const RenderContext* ctx, const char* key) {
  char value[kOptionValueMax + 1];
  return GetOptionValue(ctx->optionString, key, value) && strcasecmp(value, "YES") == 0;
}

// An option's value when the key is present (an empty value counts).
bool OptionText(const RenderContext* ctx, const char* key, std::string* out) {
  char value[kOptionValueMax + 1];
  if (!GetOptionValue(ctx->optionString, key, value)) return false;
  out->assign(value);
  return true;
}

bool Xhtml(const RenderContext* ctx) { return ctx->outputKind == kOutputXhtml; }

// An icon path for a quoted attribute.
std::string IconPath(const RenderContext* ctx, const char* own, const char* name) {
  std::string path;
  if (own && *own) {
    char escaped[kOptionValueMax * 6 + 1];
    EscapeHtmlText(own, std::strlen(own), escaped, sizeof escaped);
    path = escaped;
  } else {
    path = ctx->localIcons ? "icons/" : "/icons/";
    path += name;
  }
  return path;
}

// A formula title (flag 0x2000) is compiled code: every form writes its
// result, never its source.
void WriteTitle(RenderContext* ctx, const Bar& bar) {
  if (bar.title && bar.titleLength)
    WriteTextOrFormulaHTML(ctx, bar.title, bar.titleLength, nullptr, 0, 0,
                           (bar.flags & kBarFormula) ? 1 : 0);
}

// A hotspot's link open in the section's own cell ends before the section:
// a section's markup (the script form's own links among it) may not stand
// inside a link. One open outside the cell stays: closing it would close the
// cell with it. True when a link was closed.
bool CloseLinkBeforeSection(RenderContext* ctx) {
  if (!ctx->hotspot.anchorOpen || !IsElementOpenBefore(ctx, 0, "</a>", "</td>", "</th>", nullptr))
    return false;
  return CloseOpenElementsTo(ctx, 0, "</a>", 0) != 0;
}

// Plain, script and caller-given forms.
void WriteOptionForms(RenderContext* ctx, const Bar& bar, int n) {
  const bool includeTitle = OptionYes(ctx, "SectionIncludeTitle=");
  const bool script = (ctx->renderFlagsB & 0x200) != 0;
  std::string openTag, closeTag;
  const bool haveOpen = OptionText(ctx, "SectionOpenTag=", &openTag);
  const bool haveClose = OptionText(ctx, "SectionCloseTag=", &closeTag);
  const char lf = '\n';
  const char* imgEnd = Xhtml(ctx) ? " />" : ">";
  bool titleWanted;
  if (haveOpen) {
    // The caller's own markup; the title joins it when asked for.
    RenderAppend(ctx, openTag.c_str());
    titleWanted = includeTitle;
  } else if (!script) {
    RenderAppend(ctx, includeTitle ? "<hr /><h3>" : "<hr />");
    titleWanted = includeTitle;
  } else {
    // An open link ends first, then an open paragraph and the section
    // before this one of the same opener; an enclosing section's block
    // stays open.
    CloseLinkBeforeSection(ctx);
    CloseSectionsOf(ctx, ctx->hotspot.sectionOpener);
    CloseParagraphs(ctx);
    const bool expanded = bar.flags & kBarExpanded;
    RenderAppendf(ctx, "%c<div id=\"sctn%dc\" style=\"display: %s\">%c", lf, n,
                  expanded ? "none" : "block", lf);
    RenderAppendf(ctx, "<a href=\"#\" onclick=\"expandCollapseSection(%d,'e')\">%c", n, lf);
    RenderAppendf(ctx, "<h3><img src='%s' alt='expand section' border='0'%s%c",
                  IconPath(ctx, ctx->expandIcon, "expand.gif").c_str(), imgEnd, lf);
    titleWanted = true;
  }
  if (titleWanted) WriteTitle(ctx, bar);
  if (haveClose) {
    RenderAppend(ctx, closeTag.c_str());
    return;
  }
  if (haveOpen) return;
  if (!script) {
    if (includeTitle) RenderAppend(ctx, "</h3>");
    return;
  }
  const bool expanded = bar.flags & kBarExpanded;
  RenderAppendf(ctx, "</h3></a></div>%c", lf);
  RenderAppendf(ctx, "<div id=\"sctn%de\" style=\"display: %s\">%c", n,
                expanded ? "block" : "none", lf);
  RenderAppendf(ctx, "<a href=\"#\" onclick=\"expandCollapseSection(%d,'c')\">%c", n, lf);
  RenderAppendf(ctx, "<h3><img src='%s' alt='collapse section' border='0'%s%c",
                IconPath(ctx, ctx->collapseIcon, "collapse.gif").c_str(), imgEnd, lf);
  WriteTitle(ctx, bar);
  RenderAppendf(ctx, "</h3></a>%c", lf);
  // The expanded block ends with its opener.
  PushSection(ctx, kScriptBlockClose);
  ctx->hotspot.splitTitle = 0;
}

// The written HTML of the title, taken back out of the output.
std::string TitleHtml(RenderContext* ctx, const Bar& bar) {
  if ((bar.flags & kBarNoTitle) || !bar.title || !bar.titleLength) return std::string();
  char* mark = ctx->outputCursor;
  WriteTitle(ctx, bar);
  std::string html(mark, size_t(ctx->outputCursor - mark));
  ctx->outputCursor = mark;
  *mark = 0;
  return html;
}

// A CSS text for a single-quoted attribute.
std::string AttributeCss(const char* css) {
  std::string out;
  for (const char* p = css; *p; ++p) {
    if (*p == '\'') out += "&#39;";
    else if (*p == '"') out += "&quot;";
    else if (*p == '<') out += "&lt;";
    else if (*p == '&') out += "&amp;";
    else out += *p;
  }
  return out;
}

// Closes what the font change opened on the inline list.
void CloseFontChange(RenderContext* ctx, OpenElement* savedHead) {
  if (ctx->inlineElementList == savedHead) return;
  char closing[512] = {};
  PopOpenElementsInto(ctx, 1, savedHead, closing, sizeof closing);
  RenderAppend(ctx, closing);
}

// Gives the element that encloses the section the wrapper's class and
// identifier when the output ends with its bare start tag; otherwise appends
// a new wrapper division.
void WriteWrapper(RenderContext* ctx, const Bar& bar, int n, bool paragraphs) {
  char wrapper[96];
  std::snprintf(wrapper, sizeof wrapper, "<div class='RTSection%u' id='sctn%d'>", bar.style, n);
  char* start = ctx->outputBuffer;
  char* end = ctx->outputCursor;
  char* p = end;
  while (p > start && (p[-1] == ' ' || p[-1] == '\n' || p[-1] == '\r')) --p;
  if (p > start && p[-1] == '>') {
    char* open = p - 1;
    while (open > start && *open != '<') --open;
    const size_t tagLength = size_t(p - open);
    if (*open == '<') {
      if (paragraphs && tagLength >= 3 && std::strncmp(open, "<p ", 3) == 0) {
        // The bare paragraph start becomes the wrapper (nothing follows it but blanks).
        ctx->outputCursor = open;
        *open = 0;
        RenderAppend(ctx, wrapper);
        return;
      }
      if (!paragraphs && tagLength >= 5 && std::strncmp(open, "<div", 4) == 0 &&
          (open[4] == ' ' || open[4] == '>')) {
        const std::string tag(open, tagLength);
        if (tag.find("class=") == std::string::npos) {
          char attrs[80];
          std::snprintf(attrs, sizeof attrs, " class='RTSection%u' id='sctn%d'>", bar.style, n);
          const size_t extra = std::strlen(attrs) - 1;
          if (extra <= RenderRoom(ctx)) {
            char* gt = p - 1;
            std::memmove(gt + extra + 1, gt + 1, size_t(end - gt - 1) + 1);
            std::memcpy(gt, attrs, extra + 1);
            ctx->outputCursor = end + extra;
            return;
          }
        }
      }
    }
  }
  RenderAppend(ctx, wrapper);
}

const char* ContentBorder(uint32_t style, bool suppressLines) {
  switch (style) {
    case 0:
      return "style=\"border-style:none none solid none; border-color: %s; padding:0px 0 2px 0; "
             "border-width:0px 0 2px 0;\" >";
    case 1:
      return suppressLines
                 ? "style=\"border-style:none; padding:2px 0 2px 0; border-width:0;\" >%s"
                 : "style=\"border-style:dashed none dashed none; border-color:%s; padding:1px 0 "
                   "1px 0; border-width:1px 0 1px 0;\" >";
    case 2:
      return "style=\"border-style:solid none solid none; border-color:%s; padding:1px 0 1px 0; "
             "border-width:1px 0 1px 0;\" >";
    case 3:
      return "style=\"border-style:solid none solid none; border-color: %s; padding:1px 0 1px 0; "
             "border-width:2px 0 2px 0;\" >";
    case 4:
      return "style=\"border-style:solid none solid none; border-color: %s; padding:1px 0 1px 0; "
             "border-width:3px 0 3px 0;\" >";
    case 5:
      return "style=\"border-style:double none double none; border-color:%s; padding:1px 0 1px "
             "0; border-width:3px 0 3px 0;\" >";
    case 6:
    case 7:
      return "style=\"border-style:dashed none dashed none; border-color: %s; margin: 1px 0 0px "
             "0; padding:1px 0 1px 0; border-width:1px 0 1px 0;\" >";
    case 8:
    case 9:
      return "style=\"border-style:solid none dashed none; border-color: %s; padding:2px 0 2px 0; "
             "border-width:2px 0 2px 0;\" >";
    case 10:
      return "style=\"border-style:none none dashed none; border-color: %s; margin: 0px 0 3px 0; "
             "padding:0px 0 1px 0; border-width:0px 0 1px 0;\" >";
    default:
      return "style=\"border-style:dashed none dashed none; border-color: %s; padding:1px 0 1px "
             "0; border-width:1px 0 1px 0;\" >";
  }
}

// The closing of an open span of the header's font change, then "</div>" ends the header.
void HeaderTail(RenderContext* ctx, OpenElement* savedHead) {
  CloseFontChange(ctx, savedHead);
}

void WriteStyledForm(RenderContext* ctx, RTRecordNode* node, const Bar& bar, int n, int fromWalk) {
  const bool outlook = (ctx->renderFlagsE & 0x2) != 0;
  // A bar ends the section before it of the same opener, so that sections
  // follow each other instead of nesting.
  CloseSectionsOf(ctx, ctx->hotspot.sectionOpener);
  if (fromWalk ? (ctx->renderFlagsD & 0x8000) != 0 : outlook) ++ctx->hotspot.elementCounter;
  const std::string title = TitleHtml(ctx, bar);
  const char* col = bar.colour;
  const uint32_t s = bar.style;
  const bool rtl = ctx->paragraphRightToLeft != 0;
  const char* direction = rtl ? "to left" : "to right";

  // The wrapper: an open anchor of the calling hotspot ends first.
  if (!fromWalk && CloseLinkBeforeSection(ctx)) RenderAppend(ctx, Xhtml(ctx) ? "<br />" : "<br>");
  const bool paragraphs = fromWalk ? (ctx->renderFlagsD & 0x100) != 0 : outlook;
  CloseOpenElementsTo(ctx, 1, "", 0);
  // The paragraph around the bar ends (whichever element it is), never one
  // outside its cell or section.
  CloseParagraphs(ctx);
  WriteWrapper(ctx, bar, n, paragraphs);

  // The header.
  RenderAppendf(ctx, "<div id='sctn%dh' class='", n);
  if (bar.colourRecord && bar.rgb)
    RenderAppendf(ctx, "sctnh-%02x%02x%02x%u' ", bar.red, bar.green, bar.blue, bar.fontId);
  else
    RenderAppendf(ctx, "sctnh-000000%u'", bar.fontId);

  OpenElement* inlineHead = ctx->inlineElementList;
  auto fontChange = [&]() {
    WriteFontChangeHTML(ctx, bar.font, bar.colourRecord, 0, rtl ? 1 : 0, 0, nullptr, 0);
  };
  auto simpleBody = [&]() {
    RenderAppend(ctx, ">");
    fontChange();
    RenderAppendf(ctx, "<font color=\"%s\">&#x25BC;</font>", col);
    RenderAppend(ctx, title.c_str());
    HeaderTail(ctx, inlineHead);
    RenderAppend(ctx, "</div>");
  };
  char styleText[512] = {};
  if (s == 8 || s == 9 || s == 10)
    WriteFontChangeHTML(ctx, bar.font, bar.colourRecord, 0, rtl ? 1 : 0, 1, styleText,
                        sizeof styleText);
  const std::string fontCss = AttributeCss(styleText);

  switch (s) {
    case 0:
      if (!fromWalk) RenderAppendf(ctx, " bgcolor='%s'", col);
      RenderAppendf(ctx,
                    " style=\"border-style:solid; border-color: %s; padding:1px 2px 2px 1px; "
                    "border-width:1px 2px 2px 1px;\"",
                    col);
      simpleBody();
      break;
    case 6:
      if (!fromWalk) RenderAppendf(ctx, " bgcolor='%s'", col);
      RenderAppendf(ctx, " style=\"background-color:%s;\"", col);
      simpleBody();
      break;
    case 7: {
      const bool white = strcasestr(col, "ffffff") != nullptr;
      if (!fromWalk) {
        RenderAppendf(ctx,
                      " bgcolor='%s' style=\"background:linear-gradient(%s, %s, %s); "
                      "background-color:%s;\"",
                      col, direction, col, white ? "#000000" : "#ffffff", col);
        simpleBody();
        break;
      }
      RenderAppend(ctx, ">");
      RenderAppendf(ctx,
                    "<table class='RTSection%u' width='95%%' cellspacing='0' cellpadding='0' "
                    "border='0'><tr valign='top'><td",
                    s);
      RenderAppendf(ctx,
                    "%s bgcolor='%s' style=\"background:linear-gradient(%s, %s, %s); "
                    "background-color:%s;\">",
                    white ? "" : " ", col, direction, col, white ? "#000000" : "#ffffff", col);
      fontChange();
      RenderAppend(ctx, "&#x25BC;");
      RenderAppend(ctx, title.c_str());
      HeaderTail(ctx, inlineHead);
      RenderAppend(ctx, "</td></tr></table></div>");
      break;
    }
    case 8:
    case 9: {
      RenderAppend(ctx, ">");
      RenderAppendf(ctx,
                    "<table class='RTSection%u' cellspacing='0' cellpadding='0' border='0' "
                    "style=\"width:40%%;",
                    s);
      if (rtl) RenderAppend(ctx, "direction: rtl;text-align: right;");
      RenderAppend(ctx, "\">");
      RenderAppendf(ctx,
                    "<tr><td bgcolor='%s' style='%sborder: none; background-color:%s;'>&#x25BC;",
                    col, fontCss.c_str(), col);
      RenderAppend(ctx, title.c_str());
      HeaderTail(ctx, inlineHead);
      // One "</td>" ends the title cell; style 9 adds its slanted cell after it.
      RenderAppend(ctx, "</td>");
      if (s == 9) {
        uint32_t size = bar.titleLength;
        if (bar.flags & kBarFormula) size = uint32_t(title.size()) + 1;
        if (size < 16) size = 16;
        const double e = 1.5 * double(size / 60 + 1);
        RenderAppendf(ctx,
                      "<td style=\"%swidth:10%%; border-bottom: %2.1fem solid %s;border-%s: "
                      "30px solid transparent;\"></td></tr></table></div>",
                      AttributeCss(styleText).c_str(), e, col, rtl ? "left" : "right");
      } else {
        RenderAppend(ctx, "</tr></table></div>");
      }
      break;
    }
    case 10: {
      std::string first = title, second, third;
      if (bar.styleRecord) {
        const size_t cut = title.find("---");
        if (cut != std::string::npos) {
          first = title.substr(0, cut);
          std::string rest = title.substr(cut + 3);
          const size_t cut2 = rest.find("---");
          if (cut2 != std::string::npos) {
            second = rest.substr(0, cut2);
            third = rest.substr(cut2 + 3);
          } else {
            second = rest;
          }
          ctx->hotspot.splitTitle = 1;
        }
      }
      RenderAppend(ctx, " style=\"margin-top:2px;\">");
      RenderAppend(ctx, "<table class='sctnht' width='100%' cellspacing='0' ");
      RenderAppend(ctx, "style='border-collapse:collapse;'><tr valign='middle'><td width='16' ");
      RenderAppendf(ctx,
                    "style='padding: 0.0000in 0.0403in; border-top: 1px solid %s; border-left: "
                    "1px solid %s; border-right: none; border-bottom: 1px solid %s;'>",
                    col, col, col);
      fontChange();
      RenderAppendf(ctx, "<font color=\"%s\">&#x25BC;</font>", col);
      HeaderTail(ctx, inlineHead);
      WriteClearBreak(ctx, 0);
      RenderAppendf(ctx,
                    "</td><td width='22%%' style='padding: 0.0000in 0.0403in; border-top: 1px "
                    "solid %s; ",
                    col);
      RenderAppendf(ctx, "border-left: none; border-right: 1px solid %s; border-bottom: 1px solid %s;'>",
                    col, col);
      fontChange();
      RenderAppend(ctx, first.c_str());
      HeaderTail(ctx, inlineHead);
      RenderAppend(ctx, "</td><td width='53%' style='padding: 0.0000in 0.0403in; ");
      RenderAppendf(ctx, "border: 1px solid %s; border-right: none;' ", col);
      RenderAppend(ctx, "bgcolor='#e0f1ff' valign='middle'>");
      RenderAppend(ctx, "<span style='font-size: ");
      RenderAppend(ctx, (ctx->renderFlagsE & 0x1000) ? "100%"
                        : (ctx->renderFlagsE & 0x400) ? "1em"
                                                      : "10pt");
      RenderAppend(ctx, "; color: rgb(66,66,130); font-family: sans-serif; '>");
      RenderAppend(ctx, third.c_str());
      RenderAppendf(ctx,
                    "</span></td><td width='192' style='padding: 0.0000in 0.0403in; border: 1px "
                    "solid %s; border-left: none;' ",
                    col);
      RenderAppend(ctx,
                   "bgcolor='#e0f1ff' valign='middle'><div align='right'><span style='font-size: "
                   "10pt; color: rgb(66,66,130); font-family: sans-serif; '>");
      RenderAppend(ctx, second.c_str());
      RenderAppend(ctx, "</span></div></td></tr></table>");
      RenderAppend(ctx, "</div>");
      break;
    }
    default:
      simpleBody();
      break;
  }

  // The content block; it ends with its opener (PushSection).
  const uint16_t level = ctx->sectionLevel < kMaxSectionLevels ? ctx->sectionLevel
                                                                : uint16_t(kMaxSectionLevels - 1);
  if (!fromWalk) ctx->sectionSlots[level] = node;
  RenderAppendf(ctx, "<div class='sctnc%u' id='sctn%dc' ", s, n);
  if (fromWalk && s == 7) {
    RenderAppendf(ctx,
                  "style=\"border-style:none none solid none;border-color:%s; margin:1px 50px 0px "
                  "0px;padding:1px 2px 1px 0px;border-width:0px 0px 1px 0px;\" >",
                  col);
  } else {
    const char* format = ContentBorder(s, (ctx->sectionLineFlags & 0x4) != 0);
    // The one format without a colour takes an empty text for its place-holder.
    RenderAppendf(ctx, format, (s == 1 && (ctx->sectionLineFlags & 0x4)) ? "" : col);
  }
  PushSection(ctx, kStyledSectionClose);
}

}  // namespace

NnStatus WriteSectionBar(RenderContext* ctx, RTRecordNode* bar, int fromWalk) {
  if (!ctx || !bar || !bar->data || !ctx->outputCursor) return NN_OK;
  // The cursor goes to the end of the text first.
  if (ctx->outputCursor >= ctx->outputBuffer &&
      ctx->outputCursor < ctx->outputBuffer + ctx->outputCapacity)
    ctx->outputCursor += strnlen(ctx->outputCursor,
                                 size_t(ctx->outputBuffer + ctx->outputCapacity - ctx->outputCursor) - 1);
  Bar b;
  if (!ReadBar(bar, &b)) return NN_OK;
  const int n = int(ctx->sectionCounter) + 1;
  if (ctx->renderFlagsE & 0x20)
    WriteStyledForm(ctx, bar, b, n, fromWalk);
  else
    WriteOptionForms(ctx, b, n);
  ++ctx->sectionCounter;
  return ctx->driver.outputFull ? NnStatus(NN_ERR_MEMORY) : NnStatus(NN_OK);
}

bool WriteSectionTitleText(RenderContext* ctx, const RTRecordNode* bar) {
  Bar b;
  if (!ctx || !bar || !ReadBar(bar, &b)) return true;
  if ((b.flags & kBarNoTitle) || !b.title || !b.titleLength) return true;
  if (!RenderAppend(ctx, " ")) return false;
  WriteTitle(ctx, b);
  return RenderAppend(ctx, " ");
}

void CloseSectionsOf(RenderContext* ctx, const void* opener) {
  if (!ctx) return;
  while (const OpenElement* section = OpenSectionOf(ctx, opener))
    if (!CloseSection(ctx, section)) return;
}
