// Paragraph and list opening at a paragraph reference (0x0083): skips
// leading blank and hidden paragraphs, closes the previous paragraph, finds
// the definition in force and opens the paragraph's element — a div or p
// with a class or inline style, a style mapping's element, or list items
// nested by their first-line margin.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "host/options.h"
#include "render/render.h"
#include "richtext/item/cdlayout.h"
#include "richtext/item/parastring.h"
#include "richtext/item/recordlist.h"
#include "rtitem.h"

namespace {

namespace h = kv::cd::host;

bool PastRange(const RenderContext* ctx, const RTRecordNode* node) {
  return node == nullptr || (ctx->lastRecord && node->sequence > ctx->lastRecord->sequence);
}

uint16_t Word(const RTRecordNode* node, uint32_t offset) {
  uint16_t v = 0;
  if (node && node->data) kv::cd::ReadU16(node->data, node->length, offset, &v);
  return v;
}

bool IsDefinition(const RTRecordNode* n) {
  return n && n->signature == 0xFF82 && n->data && n->length >= h::kPabFixed;
}

bool IsList(const RTRecordNode* def) {
  return def && (Word(def, h::kPabFlags) & (kPabBullet | kPabNumbered)) != 0;
}

bool IsNumbered(const RTRecordNode* def) {
  return def && (Word(def, h::kPabFlags) & kPabNumbered) != 0;
}

// Where a hidden paragraph's records end.
bool EndsHiddenRun(const RTRecordNode* n) {
  switch (n->signature) {
    case 0x0083:
    case 0x00A4:
    case 0x00D0:
    case 0x00A5:
    case 0x00D1:
      return true;
    case 0x00DD:
      return Word(n, 4) == 0xFFFB;
    default:
      return false;
  }
}

// The definition in force for a paragraph reference.
const RTRecordNode* DefinitionInForce(RenderContext* ctx, const RTRecordNode* ref, uint16_t id) {
  if (ctx->definitionTable && ctx->definitionCount) {
    for (uint32_t i = ctx->definitionCount; i >= 1; --i) {
      const RTRecordNode* d = ctx->definitionTable[i];
      if (!IsDefinition(d) || d->sequence > ref->sequence) continue;
      if (MapParagraphId(ctx, Word(d, h::kPabId)) != id) continue;
      ctx->currentDefinitionIndex = static_cast<uint16_t>(i);
      return d;
    }
    return nullptr;
  }
  // No table: the nearest definition of the identifier before the reference.
  for (const RTRecordNode* d = ref->prev; d; d = d->prev)
    if (IsDefinition(d) && MapParagraphId(ctx, Word(d, h::kPabId)) == id) return d;
  return nullptr;
}

// The first text run's font of the paragraph, as a font-id word.
bool FirstRunFont(const RenderContext* ctx, const RTRecordNode* ref, uint32_t* font) {
  for (const RTRecordNode* n = ref->next; !PastRange(ctx, n); n = n->next) {
    if (n->signature == 0x0083 || n->signature == 0x0081) return false;
    if ((n->signature == 0xFF85 || n->signature == 0xFFE4) && n->data && n->length >= 8) {
      *font = uint32_t{n->data[4]} | uint32_t{n->data[5]} << 8 | uint32_t{n->data[6]} << 16 |
              uint32_t{n->data[7]} << 24;
      return true;
    }
  }
  return false;
}

// The style name that follows a definition (0x00A6), or empty.
std::string StyleNameOf(const RTRecordNode* def) {
  if (!def || !def->next || def->next->signature != 0x00A6) return {};
  const RTRecordNode* s = def->next;
  if (!s->data || s->length <= 10) return {};
  const uint32_t n = s->length - 10 < 36 ? s->length - 10 : 36;
  return std::string(reinterpret_cast<const char*>(s->data) + 10,
                     strnlen(reinterpret_cast<const char*>(s->data) + 10, n));
}

bool ValidElementName(const char* name) {
  if (!name || !std::isalpha(static_cast<unsigned char>(name[0]))) return false;
  for (const char* p = name; *p; ++p)
    if (!std::isalnum(static_cast<unsigned char>(*p))) return false;
  return std::strlen(name) < 32;
}

std::string AttributeText(const char* text) {
  std::string out;
  for (const char* p = text ? text : ""; *p; ++p) {
    switch (*p) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default:
        if (static_cast<unsigned char>(*p) >= 0x20) out += *p;
    }
  }
  return out;
}

_StyleMapping_Info* FindStyleMapping(RenderContext* ctx, const RTRecordNode* ref,
                                     const RTRecordNode* def) {
  if (!ctx->item || !ctx->item->context || !def) return nullptr;
  const std::string style = StyleNameOf(def);
  for (_StyleMapping_Info* m = ctx->item->context->styleMappings; m; m = m->next) {
    if (!ValidElementName(m->elementName)) continue;
    if (m->styleName && m->styleName[0]) {
      if (!style.empty() && style == m->styleName) return m;
      continue;
    }
    if (m->justify == 0xFFFF && m->leftMargin == 0xFFFF) continue;  // no paragraph style
    if (m->justify != 0xFFFF && m->justify != Word(def, h::kPabJustify)) continue;
    if (m->leftMargin != 0xFFFF && m->leftMargin != Word(def, h::kPabLeftMargin)) continue;
    if (m->hasFont) {
      uint32_t font = 0;
      if (!FirstRunFont(ctx, ref, &font) || font != m->fontId) continue;
    }
    return m;
  }
  return nullptr;
}

// The type attribute of a list or item, from the class text's list style.
std::string ListTypeAttributes(const char* css, bool numbered) {
  const char* type = css ? std::strstr(css, "list-style-type: ") : nullptr;
  std::string value;
  if (type) {
    type += std::strlen("list-style-type: ");
    const char* end = std::strchr(type, ';');
    value.assign(type, end ? static_cast<size_t>(end - type) : std::strlen(type));
  }
  const bool image = css && std::strstr(css, "list-style-image:") != nullptr;
  if (numbered) {
    if (value == "upper-alpha") return " type=\"A\"";
    if (value == "lower-alpha") return " type=\"a\"";
    if (value == "upper-roman") return " type=\"I\"";
    if (value == "lower-roman") return " type=\"i\"";
    return " type=\"1\"";
  }
  if (value == "square") return " type=\"square\"";
  if (value == "circle") return image ? " type=\"circle\" class=\"unchecked\"" : " type=\"circle\"";
  return image ? " type=\"disc\" class=\"checked\"" : " type=\"disc\"";
}

// True when the declarations set the property ("padding-left" in
// "margin-top: 0; padding-left:2%; ").
bool DeclaresProperty(const char* css, const char* property) {
  const size_t n = std::strlen(property);
  for (const char* p = css; p && *p;) {
    while (*p == ' ' || *p == ';' || *p == '{') ++p;
    if (std::strncmp(p, property, n) == 0 && (p[n] == ':' || p[n] == ' ')) return true;
    p = std::strchr(p, ';');
  }
  return false;
}

std::string ItemSpacing(const RTRecordNode* def) {
  std::string s;
  const uint16_t line = Word(def, h::kPabLineSpacing);
  const uint16_t above = Word(def, h::kPabSpaceBefore);
  const uint16_t below = Word(def, h::kPabSpaceAfter);
  if (line == 1) s += "line-height: 150%; ";
  else if (line == 2) s += "line-height: 200%; ";
  if (above == 1) s += "margin-top: 0.5em; ";
  else if (above == 2) s += "margin-top: 1em; ";
  if (below == 1) s += "margin-bottom: 0.5em; ";
  else if (below == 2) s += "margin-bottom: 1em; ";
  return s;
}

// The paragraph's inline font style, from its first text run's font: asked
// for by "ForceFontSize=", "ForceFontFace=", "ForceFontColor=" and
// "RelativePtSize="; empty otherwise.
std::string ParagraphFontStyle(const RenderContext* ctx, const RTRecordNode* ref) {
  const bool em = (ctx->renderFlagsE & 0x400) != 0;
  const bool percent = (ctx->renderFlagsE & 0x1000) != 0;
  if (!ctx->forcedFontSize && !ctx->forcedFontFace && !ctx->forcedFontColour && !em && !percent)
    return {};
  uint32_t run = 0;
  if (!FirstRunFont(ctx, ref, &run)) return {};
  uint8_t face = uint8_t(run & 0xFF);
  const uint8_t colour = uint8_t((run >> 16) & 0xFF);
  uint32_t size = (run >> 24) & 0xFF;
  if (ctx->forcedFontFace & kForcedFontFaceSet) face = uint8_t(ctx->forcedFontFace & 0xFF);
  const bool sizeForced = ctx->forcedFontSize != 0;
  if (sizeForced && ctx->forcedFontSize < kForcedFontSizeStated) size = ctx->forcedFontSize;
  std::string css;
  char buffer[64];
  if (size && (sizeForced || size != ctx->baseFont[3] || em)) {
    if (percent)
      std::snprintf(buffer, sizeof buffer, "font-size: %ld%%; ", long(size) * 10);
    else if (em)
      std::snprintf(buffer, sizeof buffer, "font-size: %3.1fem; ", size / 10.0);
    else
      std::snprintf(buffer, sizeof buffer, "font-size: %upt; ", unsigned(size));
    css += buffer;
  }
  if (ctx->forcedFontColour) {
    std::snprintf(buffer, sizeof buffer, "color: rgb(%u,%u,%u); ",
                  unsigned(ctx->forcedFontColour & 0xFF),
                  unsigned((ctx->forcedFontColour >> 8) & 0xFF),
                  unsigned((ctx->forcedFontColour >> 16) & 0xFF));
    css += buffer;
  } else if (colour != ctx->baseFont[2]) {
    char name[32];
    RenderColorName(colour, name, sizeof name);
    css += std::string("color: ") + name + "; ";
  }
  if ((ctx->forcedFontFace & kForcedFontFaceSet) || face != ctx->baseFont[0]) {
    std::string family;
    if (FontFamilyCss(ctx, face, &family)) css += "font-family: " + family + "; ";
  }
  if (ctx->paragraphRightToLeft) css += "direction: rtl; ";
  return css;
}

const char* ListClosing(const RTRecordNode* def) { return IsNumbered(def) ? "</ol>" : "</ul>"; }

// Closes the innermost open list when it is open above any table cell.
bool CloseInnermostList(RenderContext* ctx) {
  const RTRecordNode* top = ctx->listDefinitions[ctx->listDepth];
  const char* closing = ListClosing(top);
  if (!IsElementOpenBefore(ctx, 0, closing, "</td>", "</th>", nullptr)) return false;
  CloseOpenElementsTo(ctx, 1, "", 0);
  if (!CloseOpenElementsTo(ctx, 0, closing, 0)) return false;
  ctx->listDefinitions[ctx->listDepth] = nullptr;
  --ctx->listDepth;
  return true;
}

}  // namespace

bool SkipHiddenParagraphPart(RenderContext* ctx) {
  RTRecordNode* node = ctx ? ctx->currentRecord : nullptr;
  if (!node || node->signature != 0x0083 || !(ctx->renderFlagsB & 0x2000) ||
      (!ctx->hiddenParagraphIdCount && !ctx->head.hiddenSpillCount))
    return false;
  if (!IsParagraphIdHidden(ctx, MapParagraphId(ctx, Word(node, h::kPabReferenceId)))) return false;
  // The paragraph mark stays: it closes the paragraph as usual.
  RTRecordNode* n = node->next;
  while (!PastRange(ctx, n) && !EndsHiddenRun(n) && n->signature != 0x0081) n = n->next;
  ctx->currentRecord = n;
  return true;
}

NnStatus WriteParagraphStart(RenderContext* ctx, uint16_t /*endType*/, uint16_t /*depth*/) {
  if (!ctx || !ctx->outputCursor) return NN_ERR_INVALID_ARG;
  RTRecordNode* node = ctx->currentRecord;
  if (!node || node->signature != 0x0083) return NN_OK;

  // 1. Leading blank paragraphs write nothing.
  if (node->sequence < 5 && RecordRunIsBlank(node->next)) {
    RTRecordNode* n = node->next;
    while (n && !PastRange(ctx, n) && n->signature != 0x0083 && n->signature != 0x0081 &&
           n->signature != 0xFF82)
      n = n->next;
    ctx->currentRecord = n;
    return NN_OK;
  }

  // 2.
  ctx->clearBreakPending = 0;
  ctx->previousDefinitionIndex = ctx->currentDefinitionIndex;
  ctx->currentDefinitionIndex = 0;
  uint16_t id = MapParagraphId(ctx, Word(node, h::kPabReferenceId));

  // 3. Hidden paragraphs leave nothing, not even their text.
  if ((ctx->renderFlagsB & 0x2000) && (ctx->hiddenParagraphIdCount || ctx->head.hiddenSpillCount)) {
    while (IsParagraphIdHidden(ctx, id)) {
      RTRecordNode* n = node->next;
      while (!PastRange(ctx, n) && !EndsHiddenRun(n)) n = n->next;
      if (PastRange(ctx, n) || n->signature != 0x0083) {
        ctx->currentRecord = n;
        return NN_OK;
      }
      node = n;
      id = MapParagraphId(ctx, Word(node, h::kPabReferenceId));
    }
    ctx->currentRecord = node;
  }

  bool ok = true;
  const bool pTags = (ctx->renderFlagsD & 0x100) != 0;
  const char* element = pTags ? "p" : "div";
  const char* paragraphClosing = pTags ? "</p>" : "</div>";

  // 4. The previous paragraph's element, unless a list item or table cell
  // lies above it.
  if (IsElementOpenBefore(ctx, 0, paragraphClosing, "</li>", "</td>", "</th>")) {
    ok &= CloseOpenElementsTo(ctx, 1, "", 0) || !ctx->inlineElementList;
    ok &= CloseOpenElementsTo(ctx, 0, paragraphClosing, 0) != 0;
  }

  // 5.
  const RTRecordNode* def = DefinitionInForce(ctx, node, id);
  const bool list = IsList(def);

  // 6. Style mappings.
  const uint16_t x2 = def ? Word(def, h::kPabFlags2) : 0;
  ctx->paragraphRightToLeft = (x2 & kPab2RightToLeft) ? 1 : 0;
  auto* previous = static_cast<_StyleMapping_Info*>(ctx->head.mappingInForce);
  if (previous) {
    const char* closing = (ctx->head.previousWasList && !list && previous->listClosingTags &&
                           previous->listClosingTags[0])
                              ? previous->listClosingTags
                              : nullptr;
    std::string tag = std::string("</") + previous->elementName + ">";
    if (IsElementOpen(ctx, 0, tag.c_str(), 1)) {
      CloseOpenElementsTo(ctx, 1, "", 0);
      ok &= CloseOpenElementsTo(ctx, 0, tag.c_str(), 0) != 0;
    }
    if (closing) ok &= RenderAppend(ctx, closing);
    ctx->head.mappingInForce = nullptr;
  }
  _StyleMapping_Info* mapping = FindStyleMapping(ctx, node, def);
  if (!mapping && (ctx->renderFlagsA & 0x1) && IsElementOpenBefore(ctx, 0, "</p>", "</li>", "</td>", "</th>")) {
    CloseOpenElementsTo(ctx, 1, "", 0);
    ok &= CloseOpenElementsTo(ctx, 0, "</p>", 0) != 0;
  }

  // Lists close while the innermost one is indented more than this paragraph
  // (all of them for a paragraph that is not a list), never past a table cell.
  const uint16_t firstLine = def ? Word(def, h::kPabFirstLineLeftMargin) : 0;
  while (ctx->listDepth > 0) {
    const RTRecordNode* top = ctx->listDefinitions[ctx->listDepth];
    const bool deeper = Word(top, h::kPabFirstLineLeftMargin) > firstLine;
    const bool otherKind = list && Word(top, h::kPabFirstLineLeftMargin) == firstLine &&
                           IsNumbered(top) != IsNumbered(def);
    if (list && !deeper && !otherKind) break;
    if (!CloseInnermostList(ctx)) break;
  }

  const char* classCss = FindParagraphClassCss(ctx, id);
  const bool suppressClass = (ctx->renderFlagsD & 0x400) != 0;
  // A class is used only where its rule is in the head: "MoveStylesInline=" and
  // "StandardFontTags=" write no class rules, so the style goes inline instead.
  const bool rulesWritten = !(ctx->renderFlagsB & 0x1) && !(ctx->renderFlagsA & 0x8);
  const bool hasClass = classCss && classCss[0] && !suppressClass && !mapping && rulesWritten;
  const char* pre = ctx->styleDelimiterOpen ? ctx->styleDelimiterOpen : "";
  const char* post = ctx->styleDelimiterClose ? ctx->styleDelimiterClose : "";
  const bool empty = PastRange(ctx, node->next) || node->next->signature == 0x0083 ||
                     node->next->signature == 0x0081;

  // A list paragraph at the deepest level that has no list of its own to
  // join (a table cell lies between) is written as an ordinary paragraph.
  bool asList = list;
  if (list && ctx->listDepth >= kMaxListLevels &&
      !IsElementOpenBefore(ctx, 0, ListClosing(ctx->listDefinitions[ctx->listDepth]), "</td>",
                           "</th>", nullptr))
    asList = false;

  if (asList) {
    // 8. Lists and items.
    const bool numbered = IsNumbered(def);
    const char* css = classCss;
    char inlineCss[2048];
    inlineCss[0] = 0;
    if (!css || !css[0]) {
      FormatParagraphCss(ctx, def, inlineCss, sizeof inlineCss);
      css = inlineCss;
    }
    const bool typeAttributes = (ctx->renderFlagsA & 0x8) || (ctx->renderFlagsE & 0x4000) ||
                                (ctx->renderFlagsB & 0x800);
    const std::string types = typeAttributes ? ListTypeAttributes(css, numbered) : std::string();
    const RTRecordNode* top = ctx->listDepth ? ctx->listDefinitions[ctx->listDepth] : nullptr;
    // At the deepest level a further list is not opened: the paragraph
    // becomes an item of the innermost list, so that every list the depth
    // counts can be closed again.
    const bool full = ctx->listDepth >= kMaxListLevels;
    const bool continues = top &&
                           ((Word(top, h::kPabFirstLineLeftMargin) == firstLine && IsList(top) &&
                             IsNumbered(top) == numbered) ||
                            full) &&
                           IsElementOpenBefore(ctx, 0, ListClosing(top), "</td>", "</th>", nullptr);
    if (continues) {
      if (IsElementOpenBefore(ctx, 0, "</li>", ListClosing(top), nullptr, nullptr)) {
        CloseOpenElementsTo(ctx, 1, "", 0);
        ok &= CloseOpenElementsTo(ctx, 0, "</li>", 0) != 0;
      }
    } else {
      std::string open = numbered ? "<ol" : "<ul";
      open += types;
      if ((ctx->renderFlagsB & 0x800) && (ctx->renderFlagsE & 0x100))
        open += " class=\"kv-par-list\"";
      char buffer[2300];
      if (hasClass)
        std::snprintf(buffer, sizeof buffer, " class=\"pabid%d\">", id);
      else
        std::snprintf(buffer, sizeof buffer, " style=\"%s%s%s%s\">", pre,
                      DeclaresProperty(css, "padding-left") ? "" : "padding-left: 0.25in; ",
                      AttributeText(css).c_str(), post);
      open += buffer;
      ok &= RenderAppend(ctx, open.c_str());
      ++ctx->listDepth;
      ctx->listDefinitions[ctx->listDepth] = const_cast<RTRecordNode*>(def);
      PushOpenElement(ctx, 0, numbered ? "</ol>" : "</ul>", ctx->listDepth);
    }
    std::string item = "<li" + types;
    const std::string spacing = ItemSpacing(def);
    if (!spacing.empty()) item += std::string(" style=\"") + pre + spacing + post + "\"";
    if (empty) {
      ok &= RenderAppend(ctx, (item + "></li>").c_str());
    } else {
      ok &= RenderAppend(ctx, (item + ">").c_str());
      PushOpenTag(ctx, 0, "</li>");
    }
  } else {
    // 7. A paragraph outside lists.
    const uint16_t justify = def ? Word(def, h::kPabJustify) : 0;
    const bool rtl = (x2 & kPab2RightToLeft) != 0;
    const char* clear = ctx->clearNextParagraph ? " style=\"clear:both;\"" : "";
    std::string open;
    std::string closing = paragraphClosing;
    // "RestoreCSSRefs=": a style record whose name is a class (".name")
    // gives the paragraph that class instead of a pabid class.
    std::string classReference;
    if ((ctx->renderFlagsE & 0x800) && !mapping) {
      const std::string style = StyleNameOf(def);
      bool valid = style.size() > 1 && style[0] == '.';
      for (size_t i = 1; valid && i < style.size(); ++i)
        valid = std::isalnum(static_cast<unsigned char>(style[i])) || style[i] == '-' ||
                style[i] == '_';
      if (valid) classReference = style.substr(1);
    }
    if (!classReference.empty()) {
      open = std::string("<") + element + " class=\"" + classReference + "\"" + clear + ">";
    } else if (mapping) {
      open = std::string("<") + mapping->elementName;
      if (mapping->className && mapping->className[0])
        open += std::string(" class=\"") + AttributeText(mapping->className) + "\"";
      open += clear;
      open += ">";
      closing = std::string("</") + mapping->elementName + ">";
      ctx->head.mappingInForce = mapping;
    } else if (hasClass) {
      const std::string font = ParagraphFontStyle(ctx, node);
      open = std::string("<") + element;
      if (!(ctx->renderFlagsE & 0x200)) {
        if (justify == 1) open += " align='right'";
        else if (justify == 3) open += " align='center'";
        else if (justify == 2) open += " align='justify'";
        else if (justify == 0 && ctx->tableLevel) open += " align='left'";
      }
      char buffer[64];
      std::snprintf(buffer, sizeof buffer, " class=\"pabid%d\"", id);
      open += buffer;
      if (!font.empty()) {
        open += std::string(" style=\"") + pre + (ctx->clearNextParagraph ? "clear:both;" : "") +
                AttributeText(font.c_str()) + post + "\"";
      } else {
        open += clear;
      }
      open += ">";
    } else {
      char css[2048];
      css[0] = 0;  // the writer fills it; only its text counts
      if (def) FormatParagraphCss(ctx, def, css, sizeof css);
      std::string style = ctx->clearNextParagraph ? "clear:both;" : "";
      style += css;
      style += ParagraphFontStyle(ctx, node);
      // Every paragraph comes here: the tag is built in place, without
      // intermediate strings.
      open.reserve(64);
      open = "<";
      open += element;
      if (!style.empty()) {
        open += " style=\"";
        open += pre;
        open += AttributeText(style.c_str());
        open += post;
        open += "\"";
        if (!(ctx->renderFlagsE & 0x200)) {
          if (justify == 1) open += " align='right'";
          else if (justify == 3) open += " align='center'";
          else if (justify == 2) open += " align='justify'";
        }
        open += ">";
      } else if (rtl) {
        open += " style='direction: rtl;' align='right'>";
      } else if (justify == 1 || justify == 2 || justify == 3) {
        open += justify == 1 ? " align='right'>" : justify == 3 ? " align='center'>" : " align='justify'>";
      } else {
        const bool bare = GetOptionValue(ctx->optionString, "AllowEmptyDivs=", nullptr) &&
                          !(ctx->renderFlagsE & 0x200);
        open += bare ? ">" : " align='left'>";
      }
    }
    ctx->clearNextParagraph = 0;
    if (empty && !mapping) {
      open += closing;
      ok &= RenderAppend(ctx, open.c_str());
    } else {
      ok &= RenderAppend(ctx, open.c_str());
      if (ok) PushOpenTag(ctx, 0, closing.c_str());
    }
  }
  ctx->head.previousWasList = list ? 1 : 0;
  return ok ? NN_OK : NN_ERR_MEMORY;
}
