// The HTML renderer: the driver and its writers. Every writer takes the
// RenderContext first, appends at outputCursor and leaves it on the new
// terminating NUL; none writes past outputCapacity less kOutputReserve.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "nn/nn.h"
#include "render/rendercontext.h"

struct RTProcessContext;
struct _StyleMapping_Info;

// ---- Driver (render/driver.cpp) ----------------------------------------------------
// Renders currentRecord..lastRecord. Modes: 0 the only or last range, 1 a
// further range follows, 2 the finishing call.
NnStatus PrXMLStr(RenderContext* ctx, uint16_t endType, uint16_t depth, uint32_t mode);
// Output room left before the writers must stop (capacity less the reserve
// less what is written); 0 when none. Inline, with the appends: every writer
// asks, many times a record.
inline size_t RenderRoom(const RenderContext* ctx) {
  if (!ctx || !ctx->outputBuffer || !ctx->outputCursor) return 0;
  if (ctx->outputCapacity <= kOutputReserve) return 0;
  size_t limit = ctx->outputCapacity - kOutputReserve;
  if (ctx->outputCursor < ctx->outputBuffer) return 0;
  size_t used = static_cast<size_t>(ctx->outputCursor - ctx->outputBuffer);
  // One byte stays for the terminating NUL.
  if (used + 1 >= limit) return 0;
  return limit - used - 1;
}
// Appends text at the cursor when it fits the room; false (nothing written) when not.
inline bool RenderAppendN(RenderContext* ctx, const char* text, size_t length) {
  if (!ctx || !text) return false;
  // An earlier append that did not fit makes every later one fail too, so a
  // truncated text never continues with later pieces.
  if (ctx->driver.outputFull) return length == 0;
  if (length == 0) return true;
  if (length > RenderRoom(ctx)) {
    ctx->driver.outputFull = 1;
    return false;
  }
  std::memmove(ctx->outputCursor, text, length);
  ctx->outputCursor += length;
  *ctx->outputCursor = 0;
  return true;
}
inline bool RenderAppend(RenderContext* ctx, const char* text) {
  if (!text) return false;
  return RenderAppendN(ctx, text, std::strlen(text));
}
bool RenderAppendf(RenderContext* ctx, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Driver internals shared by render/driver.cpp, handlers.cpp, textrun.cpp and
// rules.cpp. A failed append sets ctx->driver.outputFull, after which every
// append fails and the driver reports 263.
constexpr uint16_t kRenderDepthLimit = 64;   // deeper begin records are rendered flat
// Hotspots nested deeper than this render their content plainly, in the walk
// that meets them; above the 49 section levels a document may hold.
constexpr uint32_t kHotspotNestingLimit = 64;
struct RenderWalk {
  uint16_t endType = 0;
  uint16_t depth = 0;
  uint32_t mode = 0;
  size_t startOffset = 0;     // output length when this call's walk began
  bool leave = false;         // a handler ends this call with the status it returned
  uint32_t flatBlocks = 0;    // blocks beyond the depth limit opened in this call
  uint32_t flatHotspots = 0;  // hotspots beyond the nesting limit begun in this call
};
// Dispatches the record at currentRecord (render/handlers.cpp).
NnStatus RenderHandleRecord(RenderContext* ctx, RenderWalk* walk);
// True when this call is nested and the record before currentRecord ends its block.
bool RenderNestedEndReached(const RenderContext* ctx, const RenderWalk* walk);
// Ends the page: closes the open block elements and what the body opening
// left open; the next range at depth 0 begins a new page.
void FinishRenderPage(RenderContext* ctx);
// Flushes the pending output as a part: translation, encoding, part writer.
NnStatus RenderFlushPart(RenderContext* ctx, int finalPart);
// The output check run before the walk and after every record.
NnStatus RenderOutputCheck(RenderContext* ctx);
// Frees the per-render tables (border classes, class texts, interned strings).
void RenderReleaseTables(RenderContext* ctx);
// Text runs and document markers (render/textrun.cpp).
NnStatus RenderTextRunRecord(RenderContext* ctx, RenderWalk* walk);
// Horizontal rule, table preamble, pass-through (render/rules.cpp).
NnStatus RenderHorizontalRule(RenderContext* ctx);
NnStatus RenderTableBegin(RenderContext* ctx, RenderWalk* walk);
NnStatus RenderPassthruRecord(RenderContext* ctx, RenderWalk* walk);
// The CSS colour of palette entry `index` (a name for the sixteen standard
// colours, else "rgb(r,g,b)") into out.
void RenderColorName(uint16_t index, char* out, size_t outSize);

// ---- Document head and paragraphs (render/head.cpp, paracss.cpp, paragraph.cpp) ----
// Steps 3 and 4 of the depth-0 start: head, style sheet, body opening.
NnStatus WriteDocumentHead(RenderContext* ctx);
NnStatus WriteBodyOpening(RenderContext* ctx);
// The checks of option values the head takes, shared with the option
// validator so that a value the head would drop is refused before a render.
// Head markup ("HeadTag=", "AddStyleSheetInfo="): meta, link and style
// elements only, written back closed into *out; false refuses the value.
bool SafeHeadMarkup(const char* value, std::string* out);
// A colour option ("bgcolor=", the tab colours) as "#rrggbb"; false when the
// value is no colour.
bool ColourOption(const char* value, char out[8]);
// Whether "OpeningBody=" is one <body ...> or <div ...> start tag; *body
// (when given) tells which.
bool OpeningBodyTag(const char* value, bool* body);
// Closes what the body opening left open (form, fragment division or body).
bool WritePageClosings(RenderContext* ctx);
// The CSS family list of a face (its name quoted and escaped); false when the
// face has no name.
bool FontFamilyCss(const RenderContext* ctx, uint8_t face, std::string* out);
// The class of a table cell's borders when "CSSBorders=" made one for it
// ("brdr" and the four-digit code); false when the cell keeps inline borders.
bool CellBorderClass(const RenderContext* ctx, const RTRecordNode* cell, char* name, size_t size);
// The paragraph-start path at a paragraph reference.
NnStatus WriteParagraphStart(RenderContext* ctx, uint16_t endType, uint16_t depth);
// A paragraph reference inside a paragraph (no mark before it) that names a
// hidden definition: passes over the rest of the paragraph, up to its mark or
// the next reference. False when the reference does not hide.
bool SkipHiddenParagraphPart(RenderContext* ctx);
// The CSS declarations of a paragraph definition (host layout) into out.
size_t FormatParagraphCss(RenderContext* ctx, const RTRecordNode* definition, char* out,
                          size_t outSize);
int CompareParagraphDefinitions(const uint8_t* definition, const uint8_t* requested,
                                uint32_t selectors1, uint32_t selectors2, void* state);
void FormatParagraphAttributes(int reserved, const uint8_t* definition, char* out, uint32_t option);
void CollectParagraphDefinition(RenderContext* ctx, RTRecordNode* node);
int IsParagraphIdMapped(const RenderContext* ctx, uint16_t id);
int IsParagraphIdHidden(const RenderContext* ctx, uint16_t id);
uint16_t MapParagraphId(const RenderContext* ctx, uint16_t id);
RTRecordNode* FindNumberedListDefinition(const RenderContext* ctx, uint16_t id);
RTRecordNode* FindBulletListDefinition(const RenderContext* ctx, uint16_t id);
void CollectClassRules(RenderContext* ctx);
void WritePaperColor(NnHandle hNote, char* buffer);
// Paragraph tables (render/paracss.cpp). The class and hidden-id tables and
// the collected definitions spill into pool arrays beyond their fixed slots.
// Adds a class (its interned declaration text) for an identifier; false when
// out of memory.
bool AddParagraphClass(RenderContext* ctx, uint16_t id, const char* css);
// Classes stored (fixed and spilled); the identifier and text of entry i.
uint32_t ParagraphClassTotal(const RenderContext* ctx);
uint16_t ParagraphClassIdAt(const RenderContext* ctx, uint32_t index);
const char* ParagraphClassCssAt(const RenderContext* ctx, uint32_t index);
// The class text of an identifier; null when it has no class.
const char* FindParagraphClassCss(const RenderContext* ctx, uint16_t id);
void AddHiddenParagraphId(RenderContext* ctx, uint16_t id);
// Frees the spill arrays and empties the three tables (call at the end of a
// top-level render, and before a new head is written).
void ReleaseParagraphTables(RenderContext* ctx);
// CSS-safe form of a URL for url('...'): characters that could end the value
// or the attribute are percent-encoded. Returns the length written.
size_t EscapeCssUrl(const char* url, char* out, size_t outSize);
// The 7 x 7 check-box bullet images as data URIs (checked or not).
const char* CheckBoxBulletDataUri(int checked);

// ---- Open-element lists (render/elements.cpp) -------------------------------------
OpenElement* PushOpenElement(RenderContext* ctx, int list, const char* closingText, uint32_t level);
void PushOpenTag(RenderContext* ctx, int list, const char* closingText);
int IsElementOpen(const RenderContext* ctx, int list, const char* closingText, int anywhere);
int IsElementOpenAbove(const RenderContext* ctx, int list, const char* closingText,
                       const char* barrier, const char* barrier2);
int IsElementOpenBefore(const RenderContext* ctx, int list, const char* closingText,
                        const char* barrier, const char* barrier2, const char* barrier3);
uint32_t FindOpenElementLevel(const RenderContext* ctx, int list, const char* closingText, int flags);
// Whether the entry with this serial (OpenElement::serial) is still open.
int IsOpenElementListed(const RenderContext* ctx, int list, uint32_t serial);
// Writes the closing texts from the newest entry down to and including the
// one with this serial and pops them; 0 when it is not open or a closing
// text does not fit (what stays open stays listed).
int CloseOpenElementsThrough(RenderContext* ctx, int list, uint32_t serial);
// Writes the closing texts down to and including the named one ("" for all) and pops them.
int CloseOpenElements(RenderContext* ctx, int list, const char* closingText, uint32_t flags);
int CloseOpenElementsTo(RenderContext* ctx, int list, const char* closingText, uint32_t flags);
void PopOpenElementsInto(RenderContext* ctx, int list, OpenElement* savedHead, char* buffer,
                         size_t bufferSize);
void FreeOpenElements(RenderContext* ctx);

// ---- Text and small writers (render/text.cpp, output.cpp, htmlout.cpp) ---------------
// The text run at currentRecord (0xFF85 / 0xFFE4) and the runs right after it
// in the same font, as one element: without "StandardFontTags="
//   <span style="{font-family:'Face';font-size:12pt;color:#rrggbb;
//   font-weight:bold;font-style:italic;text-decoration:underline line-through;
//   vertical-align:super;text-shadow:...;direction:rtl;}">text</span>
// ({ } are styleDelimiterOpen/Close; only the parts that differ from baseFont
// are written; no element at all when none differ); with it
//   <font face="Face" size="1..7" color="#rrggbb"><b><i><u><s><sup>text</sup>
//   </s></u></i></b></font> (only the tags the run needs).
// NUL in the text is "<br>" ("<br />" in XHTML). In substitution mode only the
// one run is consumed and the session scratch text stands in for its text.
// blankAsEmpty: a run of only blanks and tabs writes nothing. Moves
// currentRecord past what it wrote; 263 (output untouched, currentRecord
// unmoved) when it does not fit.
NnStatus ProcessXMLText(RenderContext* ctx, uint16_t endType, uint32_t blankAsEmpty);
// The font change for fontId (4 bytes: face, attributes, colour, size) as the
// opening markup of ProcessXMLText, whose closing texts are pushed on the
// inline list (1) for the caller to close; with styleTextOnly the CSS
// declarations only ("font-family:...;font-size:10pt;") into styleOut.
// mode 0 writes only what differs from baseFont; mode bit 0x1 writes every
// part. colorRecord (a 0x00D2 colour record, or null) gives the colour as RGB.
void WriteFontChangeHTML(RenderContext* ctx, const uint8_t* fontId, const uint8_t* colorRecord,
                         uint32_t mode, int rightToLeft, int styleTextOnly, char* styleOut,
                         size_t styleOutSize);
void WriteClearBreak(RenderContext* ctx, int reserved);
int SignaturesMatch(uint16_t a, uint16_t b);
const char* GetEntityNameForNotesChar(const NnCharsetInfo* table, const char* character,
                                      uint32_t byteSize);
// The context's one copy of the text (added when new; the table grows past its
// first 1,023 entries). Null when memory runs out or without context or text:
// the caller fails its render with NN_ERR_MEMORY.
const char* InternRenderString(RenderContext* ctx, const char* text);
int RecordRunIsBlank(const RTRecordNode* node);
// Joins a canonical text list (listSize readable bytes) with the separator into
// destination (maximum + 1 bytes); returns the joined length.
uint32_t JoinTextList(const void* textList, uint32_t listSize, char* destination,
                      const char* separator, uint32_t maximum);
void WriteTextOrFormulaHTML(RenderContext* ctx, const char* text, uint16_t length,
                            const void* settings, int keepLineBreaks, int allSpaces, int formula);
// Runs a compiled formula on the render note: its result as text (a list
// joined with ";", numbers and times as text), also left in the session's
// scratch block for the text-run writer. False, with an empty text, when the
// formula does not start or evaluate.
bool EvaluateRenderFormula(RenderContext* ctx, const char* compiled, uint32_t length,
                           std::string* result);
// The most of a compiled formula the renderer runs.
constexpr uint32_t kFormulaCut = 65341;
void WriteTextOrFormulaHTMLTo(RenderContext* ctx, const char* text, uint16_t length,
                              const void* settings, char* destination, size_t destinationSize,
                              int keepLineBreaks, int allSpaces, int formula, int keepAmpersands);
// Output parts: translation, transfer encoding and the part writer.
void TranslateTextForOutput(RenderContext* ctx, int finalPart);
void EncodeTextForOutput(RenderContext* ctx, int finalPart);
NnStatus WriteMIMEHTMLPart(RenderContext* ctx);
// Text escaped for an attribute value or element content (& < > " ' become
// references; a NUL ends the text); at most outSize-1 bytes, never a partial
// reference; returns the length written.
size_t EscapeHtmlText(const char* text, size_t length, char* out, size_t outSize);
// The character loop of the text-or-formula writers into out (at most
// outSize - 1 bytes, then a NUL). nulAsBreak writes NUL as "<br>"/"<br />".
// False when not all of the text fitted (out holds the characters that fitted whole).
bool RenderTextCharacters(const RenderContext* ctx, const char* text, size_t length,
                          const void* settings, int keepLineBreaks, int allSpaces,
                          int keepAmpersands, int nulAsBreak, char* out, size_t outSize,
                          size_t* written);
// The Unicode code point of one platform character (0 when it has none).
uint32_t RenderCharacterCode(const char* character, uint32_t byteSize);
// The code point of an HTML entity name this renderer writes ("nbsp", "eacute",
// "euro" ...; case matters); 0 for any other name.
uint32_t HtmlEntityCode(const char* name, size_t length);
// One UTF-8 sequence decoded; 0 bytes consumed when it is malformed.
size_t DecodeUtf8(const uint8_t* p, size_t n, uint32_t* cp);
// True for a code point XML allows in a document.
bool XmlCharAllowed(uint32_t c);
// True when the text parses as XML content (XHTML output must stay XML).
bool IsWellFormedFragment(const std::string& text);
// The pass-through begin record (0xFFCC) of the block that holds `node`, null
// when the node lies in none (the node itself not counted).
const RTRecordNode* EnclosingPassthruBegin(const RTRecordNode* node);
// The HTML text writer's cursors 1, 2 (work texts) and 3 (the output).
char* HtmlOutPrintf(RenderContext* ctx, int cursor, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
int HtmlOutFormatAt(RenderContext* ctx, int cursor, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
void HtmlOutPuts(RenderContext* ctx, int cursor, const char* text);
void HtmlOutAppend(RenderContext* ctx, int cursor, const char* text);
void HtmlOutCopyN(RenderContext* ctx, int cursor, const char* text, size_t n);
char* HtmlOutReset(RenderContext* ctx, int cursor, size_t n);
void HtmlOutStartTag(RenderContext* ctx, const char* tag, const char* attributes,
                     const char* style, int selfClosing);
void HtmlOutEndTag(RenderContext* ctx, const char* tag);
void GetFormBackgroundColor(NnHandle hNote, char* buffer);
void ConvertPathToFileURL(char* path, char* scratch);

// ---- Element writers (render/table.cpp, graphic.cpp, hotspot.cpp, fields.cpp ...) ----
NnStatus RenderTableHTML(RenderContext* ctx, uint16_t endType, uint16_t depth);
// True when a range that starts at `node` goes on with the table an earlier
// range of the page left open: node is a cell of that table.
bool RangeContinuesTable(const RenderContext* ctx, const RTRecordNode* node);
NnStatus PXMLGr(RenderContext* ctx, uint16_t endType, uint32_t mode);
// True for the records that follow a graphic (0x0099) and belong to it: its
// image data, alternate text, caption, attributes, border and image resource.
bool IsGraphicRecord(uint16_t signature);
// The record after a picture's own: the END of its group, every record of
// the group being the picture's whatever its kind (its alt text, caption and
// attributes may follow records no reader knows); without a group, the first
// record after it that is no graphic record.
const RTRecordNode* PictureRecordsEnd(const RenderContext* ctx, const RTRecordNode* graphic);
NnStatus PXMLH(RenderContext* ctx, uint16_t endType, uint16_t depth);
NnStatus ProcessXMLDoclink(RenderContext* ctx, uint16_t endType, uint16_t depth, int reserved,
                           void* hotspotState);
// The start "<a href=..." (no class, no ">") of the link a document link
// record (0xFF91, 0xFF92) or a link-target record (0xFFF6) of kind 2 names,
// for a hotspot writer to finish with the hotspot's attributes.
NnStatus DoclinkStart(RenderContext* ctx, const RTRecordNode* node);
NnStatus RenderLayoutRegion(RenderContext* ctx, uint16_t depth);
// Closes the paragraphs open in the current cell (or page), with the inline
// elements inside them: a block that stands on its own (a layer, a layout
// region) begins after them.
void CloseOpenParagraphs(RenderContext* ctx);
NnStatus RenderPassthruHtml(RenderContext* ctx, uint16_t endType);
NnStatus RenderTextFieldHtml(RenderContext* ctx, uint16_t endType);
NnStatus RenderChoiceFieldHtml(RenderContext* ctx);
NnStatus ProcessXMLButton(RenderContext* ctx, uint16_t signature);
// The button at currentRecord (0xFFAB) with the attributes of its hotspot's
// attribute record (0xFF7A; null for none).
NnStatus WriteButtonHtml(RenderContext* ctx, const RTRecordNode* attributes);
NnStatus ProcessXMLEmbeddedCtl(RenderContext* ctx, uint16_t signature);
void WriteElementIdAttributes(const uint8_t* attributeRecord, uint32_t length, RenderContext* ctx,
                              int reserved1, int reserved2);
// The graphic records of the range, for the graphic writer (records 0x0099 and
// what belongs to each).
NnStatus BuildGraphicRecordTable(RTProcessContext* engine, RenderContext* ctx);

// ---- Element writers: markup and shared helpers (render/table.cpp, graphic.cpp,
// hotspot.cpp, links.cpp, fields.cpp, layout.cpp, passthru.cpp) ----------------------
// Markup written (the same for HTML and XHTML; empty elements self-close):
// - RenderTableHTML: <table style="border-collapse:collapse;[margin-left:Npx;][width:100%;]"
//   [table id/class/style/title]> then per row <tr>, per cell <td [rowspan="n"] [colspan="n"]
//   [cell id/class/title] [style="width:P%;border-<side>:Npx solid|double #000;
//   background-color:#rrggbb;..."]> content </td>, </tr>, </table>. "</td>" sits on the
//   block list while a cell's content renders (a barrier for lists and paragraphs). A range
//   that ends inside an outermost table leaves it open (tableContinues, tableRowOpen).
// - PXMLGr: <img src="SRC" width="W" height="H" alt="ALT" /> with SRC a data URI, a file
//   name under the image URL directory, or "cid:" + identifier + "@" + kMimeContentDomain
//   (the identifier as the engine's content identifier gives it); a graphic without usable
//   image data writes <img alt="ALT" width="W" height="H" /> when it has alt text, else nothing.
//   The picture's attribute record adds id/name/class/style/title and the harmless extras
//   to the img. A caption puts both in <span style="display:inline-block;..."> with the
//   caption text in a <span> after the img: a block below it, or (centre position) one
//   placed over its middle.
// - PXMLH (basic): <a href="URL"[ target="FRAME"][ id/class/style/title]>content</a> for URL
//   links (refused schemes give the content alone); buttons and embedded controls through
//   their writers; every other type its content only, in <span id/class/style/title> when
//   the hotspot has attributes and is an action, popup, subform or file upload that opens
//   no element of its own.
// - ProcessXMLDoclink: <a href="notes://[server]/REPLICA[/VIEW[/NOTE]][#anchor]"
//   class="doclink">comment</a> ("Link" when there is no comment); for a link-target
//   record (0xFFF6) of kind 2 only the start "<a href=..." of the link it names (no class,
//   no ">"), for the hotspot writer to finish around the hotspot's content.
// - RenderTextFieldHtml: <span class="field" title="NAME">NAME</span>.
// - RenderChoiceFieldHtml: <span class="keywords"><label><input type="checkbox|radio"
//   disabled="disabled"[ checked="checked"] />VALUE</label>...</span>.
// - ProcessXMLButton: <button type="button" disabled="disabled"[ id/class/style/title]>LABEL
//   </button> (the attributes of the button's hotspot).
// - ProcessXMLEmbeddedCtl: <input type="text" disabled="disabled" />.
// - RenderLayoutRegion: <div class="layout" style="position:relative;width:Wpx;height:Hpx;">
//   with one <div style="position:absolute;left:Lpx;top:Tpx;width:Wpx;height:Hpx;"> per
//   layout element around its content, </div>s closed in order.
// - RenderPassthruHtml: <!--PassthruStart-->TEXT<!--PassthruEnd--> (TEXT verbatim; in
//   XHTML a text that is not well-formed is written escaped instead). A block that
//   ProcessDelimitedHTML made from typed text (kNodeTypedMarkup) is typed markup: its
//   two markers stand as they are, the text between them goes through SanitizeTypedHtml.
// - WriteElementIdAttributes: id, name, class, style, title and the harmless extra
//   attributes (no event handlers, no script URLs), every value escaped.

// The domain part of the content ids of a MIME message's image parts.
constexpr char kMimeContentDomain[] = "kestrelvault";

// Nesting beyond this depth renders element content flat (text only, no recursion).
constexpr uint16_t kElementDepthLimit = 48;
// Document text (platform charset) escaped for element content or a quoted attribute:
// XML specials as entities, characters beyond ASCII as numeric references, line
// breaks as blanks, characters XML forbids dropped. Whole characters only; at most
// outSize - 1 bytes and a NUL. Returns the length written.
size_t EscapeDocumentText(const char* text, size_t length, char* out, size_t outSize);
// Appends escaped document text at the cursor; false (output full) when it does not fit.
bool AppendDocumentText(RenderContext* ctx, const char* text, size_t length);
// True for a URL whose scheme may run script (javascript:, vbscript:, data:, livescript:),
// blanks and control characters ignored as browsers do.
bool IsRefusedUrl(const char* url, size_t length);
// Appends a URL for a quoted href or src attribute (percent-encoding what may not stand
// there, "&" as "&amp;"); false when it does not fit. Callers test IsRefusedUrl first.
bool AppendDocumentUrl(RenderContext* ctx, const char* url, size_t length);
// Appends a link's URL for a quoted href: as it stands (escaped for the
// attribute only), or, with "URLEncodeFilenames=", with each "\\" as "/" and
// each blank as "%20". Callers test IsRefusedUrl first.
bool AppendLinkUrl(RenderContext* ctx, const char* url, size_t length);
// One URL path segment (a file name) percent-encoded: only letters, digits
// and "-._~" stay, so no "/" or "\\" in it and no ".." segment can leave its place.
std::string EncodeUrlSegment(const char* text, size_t length);
// Each "/"-separated segment of a path encoded as above (empty segments dropped).
std::string EncodeUrlPath(const std::string& path);
// The database path as this site's URLs name it: relative to the data
// directory with "/" separators, or its file name when it lies outside it.
std::string SiteDatabasePath(const RenderContext* ctx);
// True when node lies within the render range (not null, not past lastRecord).
bool RecordInRange(const RenderContext* ctx, const RTRecordNode* node);
// The note the render reads: the item's render note when it has one, else its
// note; 0 without an item.
NnHandle RenderNote(const RenderContext* ctx);
// The text runs from currentRecord up to (not including) stop, escaped, without nesting
// or markup; paragraph marks become blanks, section bars their titles. Leaves
// currentRecord at stop.
NnStatus RenderRecordsFlat(RenderContext* ctx, RTRecordNode* stop);
// WriteElementIdAttributes with declarations merged in front of the record's style.
void WriteElementIdAttributesStyled(const uint8_t* attributeRecord, uint32_t length,
                                    RenderContext* ctx, const char* extraStyle);
// The same, without the record's title when the element has one of its own
// (an attribute may stand once on an element).
void WriteElementAttributes(const uint8_t* attributeRecord, uint32_t length, RenderContext* ctx,
                            const char* extraStyle, bool withTitle);

// Typed bracket HTML (render/typedhtml.cpp): the markup of a "[<...>]" text run
// (platform characters) as it may reach the page. Formatting elements keep their
// allowed attributes; other elements lose their tags, and script, style, frames,
// objects and embedded documents lose their content too; event attributes, script
// URLs and data URLs other than raster images are dropped; comments stay when
// harmless. The result is ASCII: characters beyond it, and the HTML entities this
// renderer knows, as numeric references; an "&" that starts no reference as "&amp;".
std::string SanitizeTypedHtml(const char* html, size_t length);

// ---- Delimited HTML marking (render/delimited.cpp) ------------------------------------
// Before rendering: two-character text runs "[<" and ">]" become the start and end of a
// pass-through block (0xFFCC / 0xFFCD), their text the delimiters with "<" and ">". The
// text is a document author's: the begin record is marked kNodeTypedMarkup and the two
// delimiter runs kNodeDelimiter, so that the renderer filters the block as typed HTML.
// Delimiters: null or empty take "<!--DelimitedStart-->" / "<!--DelimitedEnd-->"; longer
// than 55 bytes: 1028. Changes the list in place; 263 when out of memory, and then the
// list is as it was.
NnStatus ProcessDelimitedHTML(LSXLsiSession* session, RecordList* list, const char* startDelimiter,
                              const char* endDelimiter);
// Before the HTML importer: text between the start and end delimiters is escaped so the
// parser keeps it as text, the delimiters become brackets, and pass-through blocks are
// closed around it. Empty or null delimiters leave the list alone. 263 (list unchanged)
// when memory runs out or a rewritten text would not fit a record.
NnStatus EscapeTextRecordsAsHTML(LSXLsiSession* session, RecordList* list,
                                 const char* startDelimiter, const char* endDelimiter);

// ---- Hotspots, sections and layers (render/hotspot.cpp, sections.cpp, sectionbar.cpp,
// layers.cpp) ------------------------------------------------------------------------
// The opening markup of the section whose bar record (0xFFAC) is `bar`, in the
// form the options choose (plain, script or styled header); fromWalk: the bar
// was met by the driver's own walk rather than by the hotspot writer. Moves
// nothing; 263 when the output is full.
NnStatus WriteSectionBar(RenderContext* ctx, RTRecordNode* bar, int fromWalk);
// The title of a section bar as text, with a blank before and after it (for
// content rendered without markup); false when the output is full.
bool WriteSectionTitleText(RenderContext* ctx, const RTRecordNode* bar);
// The driver's handler of a section bar met by its walk: writes it and steps past.
NnStatus RenderSectionBarRecord(RenderContext* ctx);
// Closes the sections that the content of `opener` opened (a hotspot's begin
// record; null: the page), each with what is open inside it, never past a
// table cell. A section is closed once: by its opener's end, the next bar of
// the same opener, its cell or the end of the page.
void CloseSectionsOf(RenderContext* ctx, const void* opener);
// A paragraph began inside a link's content and closed the link with the
// paragraph before it: the link opens again in the new paragraph, so that all
// of its own content stays linked. Nothing when no link is being written, it
// is still open, the paragraph lies in a hotspot of the link's content, or the
// link ends right here.
void ReopenHotspotLink(RenderContext* ctx);
// A layer (begin group of type 108, or record 0x006C) at currentRecord: one
// positioned <div> around its content.
NnStatus PXMLL(RenderContext* ctx, uint16_t endType, uint16_t depth);
