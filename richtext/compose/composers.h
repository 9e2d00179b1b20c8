// Composers: build whole elements (links, hotspots, popups, tables, anchors,
// images, layers, attachment icons, sections) as records in the engine's
// composition (RTProcessContext::Compose), and helpers that apply option
// strings to table and border records.
//
// Every composer appends through the composition and returns a 16-bit status
// (0 success, NN_ERR_MEMORY when memory runs out, NN_ERR_INVALID_ARG or 1028
// for input it refuses). A composer that fails may have appended part of its
// records: the engine then discards the whole new list, so the item keeps
// its records.
#pragma once

#include <cstddef>
#include <cstdint>

#include "nn/nn.h"

struct RTProcessContext;
class LSXLsiSession;
class TorvoRTChunk;

// ---- hotspot records ----------------------------------------------------
// Non-zero for the hotspot starts 0xFF74, 0xFF7E, 0xFFA9, 0xFFAD.
int IsHotspotRecordSignature(uint16_t signature);
// The same, and also the hotspot ends 0x007F, 0x00AA, 0x00AE.
int IsHotspotRecordSignatureEx(uint16_t signature);
// Closes the open hotspot: a 2-byte end record of `endSignature` (174 for the
// link hotspots, 170 for the newer ones) and, with `flag` set, the END (222)
// of the hotspot's BEGIN (the composition's open hotspot state is cleared).
NnStatus EmitHotspotEnd(RTProcessContext* ctx, uint16_t endSignature, uint16_t flag);

// ---- links ----------------------------------------------------------------
// A URL link hotspot (0xFFAD, type 4 "URL") around the shown text, closed with
// 174. A null or empty address is refused (1028). The text is shown in the
// item's link style when one is set, else the current font.
NnStatus ComposeLinkHotspot(const char* text, uint32_t textLength, const char* address,
                            uint32_t addressLength, RTProcessContext* ctx);
// The same with the link's class and title (an attribute record 0xFF7A after
// the hotspot's begin; null or empty texts give none).
NnStatus ComposeLinkHotspotWithAttributes(const char* text, uint32_t textLength,
                                          const char* address, uint32_t addressLength,
                                          const char* cls, const char* title,
                                          RTProcessContext* ctx);
// A document link from a link option string ("ReplicaID=", "ViewID=",
// "NoteID=" / "UNID=", "Server=", "Anchor=", "Text="; "URL=" makes a URL
// link). An option string that names no URL, database, view or document is
// refused (1028). While parsing it stores the identifiers it found in the session's link
// change block and sets their 'Y' markers. `kind` is the chunk's link kind
// (1 database/document, 3 with server or view, 4 URL); with `flag` set the
// hotspot is closed here, else the caller closes it (EmitHotspotEnd).
NnStatus ComposeDocLink(const char* options, uint32_t kind, RTProcessContext* ctx, int flag);
// A link hotspot opened from an option string; `closeHere` 1 also closes it
// (2387), 0 leaves it open around the element that follows (2388), closed by
// the element action. `flag` is kept for the caller's form of the call.
NnStatus ComposeLinkHotspotFromOptions(const char* options, uint32_t kind, RTProcessContext* ctx,
                                       int closeHere, int flag);
// A document link to note `noteId` of the session's open database (the
// session's replica information and view identifier), shown as
// `hotspotText` (the key text when null). Options: "Anchor=" (the anchor of
// the link), "Class=" and "Title=". Without a class or title the link is one
// document link record (0xFF92); with them it is a link hotspot (0xFFAD, type
// 11, target in records) holding the document link record in a BEGIN/END
// group, the attributes (0xFF7A) and the shown text, closed with 174.
NnStatus ComposeHypertextLink(const char* keyText, const char* hotspotText, NOTEID noteId,
                              const char* options, RTProcessContext* ctx);
// A text popup: the shown text in a popup hotspot (0xFFA9, type 1) whose data
// is the popup text. Options: "PopupStyle=" ("Mouseover" or "Click").
NnStatus ComposePopup(const char* hotspotText, const char* popupText, const char* options,
                      RTProcessContext* ctx);

// ---- tables -----------------------------------------------------------------
// A new table of `columns` columns and `rows` rows at the composition: pre-table
// record 0xFFFB and table begin 163 (207 when nested), each cell 164/208 with
// an empty paragraph, and the table end 165/209. Column widths, fixed flags,
// cell texts and the operation's option string come from the session
// (SessionGlobals table geometry, cell-text slots). 20017 for 0 rows, 0 or
// more than 64 columns or more than 255 rows.
NnStatus ComposeTable(uint32_t columns, uint32_t rows, RTProcessContext* ctx);
// Clears the process-wide column counter of the table composer (2443).
void ComposeTableResetColumnCounter();
// Applies the table keys of an option string to a host copy of a table begin
// (163/207) or pre-table (0xFFFB) record held in `record` (`capacity` bytes
// writable). Keys: "Border=" / "BorderStyle=" (none, single ...), "Spacing=",
// "Margin=" / "LeftMargin=" (inches), "Fit=" ("Window", "Fixed"), "Color=",
// "Width=". The length word is updated when the copy grows. NN_ERR_MEMORY
// when it would grow past the capacity; nothing changes on failure.
NnStatus ComposeTableProps(LSXLsiSession* session, RTProcessContext* ctx, uint16_t signature,
                           uint8_t* record, uint32_t capacity, const char* options, int flag);
// Applies "BorderStyle=", "BorderColor=", "BorderThickness=" (all four sides,
// or "t,l,b,r"), "BorderInner=", "BorderOuter=", "BorderShadow=" of the option
// string to a 60-byte host border record (0xFFFC). `build` 1 first makes it a
// fresh record, 0 changes it in place. `capacity` is the writable size (at
// least 60). Returns 0 when at least one key was applied, 1028 when none was
// present, NN_ERR_INVALID_ARG for a bad argument.
NnStatus ParseBorderProperties(LSXLsiSession* session, uint16_t signature, uint8_t* record,
                               uint32_t capacity, const char* options, int build);
// Parses a CSS-like length ("12px", "2.5in", "40%", "3em", "10") into a host
// LENGTH_VALUE (24 bytes: flags u16 at 0, value f64 at 8, unit u8 at 16).
// Units: 1 twips, 2 pixels, 3 percent, 4 ems, 5 exes, 6 chars; "in" and "cm"
// are converted to twips; a bare number is pixels. NN_ERR_INVALID_ARG when
// the text is not a length (the structure is left as it was).
NnStatus ParseCssLength(uint8_t* lengthValue, size_t capacity, const char* text, int flag);

// Copies records of another item, design element or range of this item into
// the composition: for 2355 and 2396 (and `number` 0) the record range
// ctx->RangeFirst..RangeLast of the item being walked; for 2356 the first
// target of the chunk in ctx->Extra; for 2357 the item named by the session's
// source item (srcNote/srcItemName); for 2358, 2808, 2809 the design element
// named by the operation's first text ("$Body"). Face ids of another item
// are remapped to this item's faces.
NnStatus InsertDesignElementContent(TorvoRTChunk* chunk, RTProcessContext* ctx, uint32_t number);

// ---- anchors, sections, layers -------------------------------------------------
// The anchor record 0xFFCB (host layout) named `name`.
NnStatus ComposeAnchor(const char* name, uint32_t nameLength, RTProcessContext* ctx);
// A collapsible section start hotspot around the text that follows.
NnStatus ComposeSection(RTProcessContext* ctx, int kind, int flag);
// A layer from the position text "top;left;width;height;style": BEGIN of 108,
// the layer record 108, the positioning record 107 (top, left), the box size
// record 106 (width, height), the style as HTML attributes, the text `text`,
// END. An empty or "auto" part is an automatic length.
NnStatus ComposeLayer(uint32_t kind, RTProcessContext* ctx, const char* text,
                      const char* position);

// ---- graphics ----------------------------------------------------------------
// Image types of the image header (125).
inline constexpr uint16_t kImageTypeGif = 1, kImageTypeJpeg = 2, kImageTypePng = 4;
// The image type of picture bytes (GIF, JPEG or PNG, by their own signature)
// and their pixel size; 0 for bytes that are none of them.
uint16_t PictureType(const uint8_t* data, size_t size, uint16_t* width, uint16_t* height);
// The image header (125) of a picture of that type and pixel size, and the
// image segments (124) that hold its bytes.
NnStatus EmitImageRecords(const uint8_t* data, size_t size, uint16_t type, uint16_t width,
                          uint16_t height, RTProcessContext* ctx);
// An image from a file (kind 1 GIF, 2 JPEG, 3 PNG) as graphic 153 with image
// header 125 and segments 124; alternate text 0xFFCA when given.
NnStatus ComposeImageFromFile(const char* file, uint32_t kind, RTProcessContext* ctx,
                              const char* altText);
// The same from bytes in memory.
NnStatus ComposeImageFromData(const uint8_t* data, size_t size, uint32_t kind,
                              RTProcessContext* ctx, const char* altText);
// 2438: kind 1 a file (or an attachment name of the note with "Attach="),
// 2 a URL (an image hotspot referring to the address).
NnStatus ComposeImage(uint32_t kind, const char* file, const char* options, RTProcessContext* ctx);
// 2424: a horizontal rule (kind 1) or another graphic element from options.
NnStatus ComposeGraphicOptions(uint32_t kind, uint32_t number, const char* text,
                               const char* options, RTProcessContext* ctx);
// The icon hotspot (0xFFA9 type 4 "file") of an attachment of the note named
// `name`, shown as `caption`. Unless the options carry "AlreadyAttached='Yes'"
// the file at `path` is attached first.
NnStatus ComposeAttachmentIcon(const char* path, const char* name, const char* caption,
                               int flag, const char* options, RTProcessContext* ctx);
// Element options of a graphic (sub-codes 4 and 15) or a layer (29) from the
// option string (2437): alternate text, caption, HTML attributes, border.
NnStatus ComposeElementOptions(uint32_t subCode, const char* options, RTProcessContext* ctx);
// An HTML attribute record (0xFF7A or 0xFF7B) with the six strings ID, Class,
// Style, Title, Other, Name (null for empty).
NnStatus ComposeHtmlAttributes(uint16_t signature, const char* const strings[6],
                               RTProcessContext* ctx);
// The same from an option string's keys `prefix` followed by "HTMLID=",
// "HTMLClass=", "HTMLStyle=", "HTMLTitle=", "HTMLOther=", "HTMLName="
// ("HotspotHTMLClass=" ...); `styleKey`, when given, is another key for the
// style. Without a value for any key nothing is written unless `always`.
// *written tells whether a record was appended.
NnStatus ComposeHtmlAttributesFromOptions(uint16_t signature, const char* options,
                                          const char* prefix, const char* styleKey, bool always,
                                          RTProcessContext* ctx, bool* written);

// ---- buttons, fields, image maps ---------------------------------------------
// 2423: a hotspot whose type and code kind the session describes
// (SessionGlobals::hotspotType, codeKind), shown as `label` (at most
// `labelLength` bytes; a button record 0xFFAB for type 3, else a text run).
// The options' "HotspotHTMLID=", "HotspotHTMLClass=", "HotspotHTMLStyle=" (or
// "HotspotStyle="), "HotspotHTMLTitle=", "HotspotHTMLOther=" and
// "HotspotHTMLName=" are the hotspot's HTML attributes (0xFF7A after its begin);
// options with another key (or both style keys) are refused (1028).
// The code lies 16 bytes into the session's result text, ResultTextLength
// bytes long: a formula (flag 0x10, with 0x40000 for computed text),
// KvScript (0x100) or text is the hotspot's data; JavaScript (0x200000)
// follows as a click event (0xFFF9) with its script in blob parts (0xFFDC).
NnStatus ComposeButton(const char* label, uint32_t labelLength, const char* options,
                       uint32_t codeLength, RTProcessContext* ctx);
// 2411: a field record 0xFF8A from a field option text ("Name=", "Type=":
// Text, Number, Date, Time, RichText). Mode "Add" composes a new field; mode
// "Modify" (2416) rebuilds the field held in the chunk's field buffer with
// the keys of `text2` (else of `fieldOptions`), keeping all it does not name.
// Other modes are refused (1028).
NnStatus ComposeField(const char* fieldOptions, const char* text2, int flag, const char* mode,
                      RTProcessContext* ctx);
// 2447: an action hotspot (0xFFA9 type 2) for the element's image carrying
// the session's code (at the start of the result text) of `kind` 1 formula
// (flag 0x10), 3 KvScript (0x100) or 4 JavaScript (0x200000, as a click
// event). `options` is the frame: an option string's "Target=", else the
// frame's name itself ("Default": none). An option string with another key,
// or a name over 1,024 characters, is refused (1028).
NnStatus ComposeImageMap(const char* options, uint32_t codeLength, uint32_t kind,
                         RTProcessContext* ctx);
// Whether an image hotspot's option string holds no key but "Target=".
bool ImageTargetOptionsKnown(const char* options);

// ---- graphics kept as attachments, graphics written to files -----------------
struct RTRecordNode;
class TorvoRTItem;

// Brings the note's attachment `name` in as a picture: with `inlineOnly` 1 an
// image header (125) and image segments (124) for the graphic that precedes
// them, with 0 a whole graphic element. GIF, JPEG and PNG are taken; anything
// else gives NN_ERR_INVALID_ARG, and a missing attachment the platform's
// status, in both cases before anything is appended. `link` is the storage
// link that named the attachment.
NnStatus ExtractAttachmentToMemory(RTProcessContext* ctx, const char* name,
                                   const RTRecordNode* link, int inlineOnly);
// Stores the picture of the graphic at `graphic` (the image segments its image
// header or image data record counts, before `following`) as a file
// attachment of the note named "Graphic" or "Graphic%d" (the first free one)
// and appends the storage link (0xFFC4, type 1) that names it. The attachment
// is removed again when the call does not install its new records.
NnStatus CreateGraphicAttachment(RTProcessContext* ctx, const RTRecordNode* graphic,
                                 const RTRecordNode* following);
// Writes the picture of the graphic, image header or image data record at
// `node` to the file. NN_ERR_CD_STRUCTURE when the records hold no whole
// picture, NN_ERR_FILE_IO when the file cannot be written (no partial file stays).
NnStatus ExportGraphicToFile(TorvoRTItem* item, const char* file,
                             const RTRecordNode* node);
// The same for a graphic given by its records: pictures in image segments are
// written as they are; a bitmap (149/150) needs a graphic converter that this
// library does not have and is refused (NN_ERR_INVALID_ARG, no file).
NnStatus ExportGraphicRecordsToFile(TorvoRTItem* item, const char* file,
                                    const RTRecordNode* node);

// ---- graphic repair -------------------------------------------------------------
// Checks the records of the graphic whose header 153 is the engine's current
// record (`data` must be that node's record) against their headers: image
// header counts and sizes against its segments, bitmap counts against its
// segments and tables, metafile counts against its segments, segment sizes
// against their records, a missing image header (made from the data), a
// missing END of the graphic's BEGIN.
// Read-only (the context's write mode clear): 0 when sound, 1027 when damaged.
// Write mode: emits the repaired sequence (header, picture, END when missing),
// stores the last record it consumed in ctx->SkipThroughRecord and marks the
// consumed records dropped; 0 on success. 1027 for a graphic that cannot be
// repaired (no picture data left); nothing is emitted then.
NnStatus RepairGraphicRecords(const uint8_t* data, uint16_t signature, uint32_t length,
                              RTProcessContext* ctx);
