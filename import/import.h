// The HTML and text importer: turns HTML (from a file, a buffer or pending
// MIME bodies) and plain text files into rich-text records, appended through
// the composition (richtext/item/compose.h) of the caller's context.
//
// HTML is untrusted. Script, style and other non-content elements are
// dropped with their content; event-handler attributes and "javascript:" /
// "vbscript:" / "data:" links never become hotspots; element nesting is
// bounded (kMaxImportDepth; deeper content is imported as flat text).
//
// What is produced: paragraphs (129) with their definitions (0xFF82) and
// references (131); text runs (0xFF85) in the face, size, colour and
// attributes of b/strong, i/em, u, s/strike, font, span style, code/tt, sub/sup
// and h1-h6; <br> as a NUL in the text; lists as paragraphs with bullet or
// number definitions; tables as 0xA3 (table) / 0xA4 (cell) / 0xA5 (end);
// links as URL hotspots (0xFFA9 type 11 ... 0xAA) and named anchors (0xFFCB);
// <hr> as a horizontal rule (0xFFC9); nested tables as 0xCF / 0xD0 / 0xD1;
// images given as data: URIs (GIF, JPEG, PNG; at most 8 MB) or as "cid:"
// parts of the MIME part as graphic records (0x99 / 0x7D / 0x7C, alternate
// text 0xFFCA). Other images (remote, file) are left out: nothing is fetched.
//
// A failure leaves the composition as it was before the call (the records
// appended by the failed call are taken back).
#pragma once

#include <cstddef>
#include <cstdint>

#include "nn/nn.h"

class LSXLsiSession;
struct ComposeContext;

constexpr uint32_t kMaxImportDepth = 64;          // element nesting imported as structure
constexpr uint32_t kMaxImportTableDepth = 8;      // nested tables (as the composition)
constexpr uint32_t kMaxImportFileSize = 64u * 1024u * 1024u;  // files larger are refused
constexpr uint32_t kDefaultTextLineLength = 0;    // EmitTextParagraph: no re-wrapping
constexpr NnStatus kImportStatusNoContent = 14409; // passed through as given

// A body of a MIME message waiting to be imported, or one related part of it
// (an image referred to by "cid:"). Heap memory: create with MimeBodyCreate,
// free a whole list with MimeBodyListFree.
struct HtmlMimeBody {
  HtmlMimeBody* next = nullptr;
  char* contentType = nullptr;   // "text/html", "text/plain", "image/png", ... (lower case)
  char* charset = nullptr;       // null: UTF-8 (or the platform text when lmbcs)
  char* contentId = nullptr;     // without angle brackets; null when none
  uint8_t* data = nullptr;       // the decoded body
  uint32_t length = 0;
};

// A new body holding copies of the texts and bytes; null when memory runs out.
HtmlMimeBody* MimeBodyCreate(const char* contentType, const char* charset,
                             const char* contentId, const void* data, uint32_t length);
// Appends at the end of the list at *head.
void MimeBodyAppend(HtmlMimeBody** head, HtmlMimeBody* body);
void MimeBodyListFree(HtmlMimeBody* head);

// Import options (a Key=value option string, may be null):
//   Charset=<name>   utf-8 (default), iso-8859-1/latin1, windows-1252, us-ascii
//   Font=<spec>      the base text font (a font string, host/fonts.h)
//   IgnoreImages=1   leave images out
//   IgnoreTables=1   tables as paragraphs of their cell texts
//   IgnoreLinks=1    links as their plain text

// Imports an HTML file (".htm", ".html"; other text is read as HTML too).
// NN_ERR_FILE_NOT_FOUND / NN_ERR_FILE_IO when it cannot be read; a status of
// kImportStatusNoContent is passed through as given by the conversion.
NnStatus ImportHTMLFromFile(const char* file, const char* options, ComposeContext* ctx);

// Imports HTML from memory: `length` 0 means a NUL-terminated text. With
// `mimePart` (mode 2) its bodies serve "cid:" image references. `mode`: 0 or
// 1 plain, 2 with the MIME part. NN_ERR_INVALID_ARG for a null text or context.
NnStatus ImportHTMLFromBuffer(const char* text, uint32_t length, const char* options,
                              ComposeContext* ctx, const HtmlMimeBody* mimePart, int mode);

// The import driver for the pending MIME bodies of an item (the item
// context's pendingMimeBodies is such a list; whoever sets it frees it with
// MimeBodyListFree): each text/html
// body is imported as HTML (the other bodies of both lists serve "cid:"
// references), each text/plain body as text paragraphs; other bodies are
// skipped. `related` (may be null) is a second list of related parts. With no
// importable body, nothing is appended and 0 is returned.
NnStatus ImportPendingMimeBodies(const HtmlMimeBody* bodies, const HtmlMimeBody* related,
                                 const char* options, ComposeContext* ctx);

// Appends a text file as text runs and paragraphs: each line a paragraph;
// with `lineLength` above 0, a line longer than that is wrapped at the last
// blank before the limit (or cut at the limit when it has none) into further
// paragraphs. CR LF, CR and LF end lines; the text is taken as UTF-8 (an
// invalid byte is replaced). NN_ERR_FILE_NOT_FOUND / NN_ERR_FILE_IO when it
// cannot be read.
NnStatus EmitTextParagraph(const char* file, uint32_t lineLength, ComposeContext* ctx);
// The same for text in memory.
NnStatus EmitTextParagraphFromBuffer(const char* text, uint32_t length, uint32_t lineLength,
                                     ComposeContext* ctx);

// Looks up a platform import filter for the file. There are no platform
// import filters in this library: always 0 ("no filter"), with the outputs
// set to empty texts when given.
int FindEditFilter(LSXLsiSession* session, const char* file, char* filterOut,
                   uint32_t filterSize, char* nameOut, uint32_t nameSize, int flags);

// Converts a file through a platform import filter into a record file. With no
// filters here it refuses: NN_ERR_INVALID_ARG, and recordFileOut (when given)
// becomes an empty text.
NnStatus ImportImageViaFilter(ComposeContext* ctx, const char* file, const char* filter,
                              const char* name, char* recordFileOut, uint32_t recordFileSize);

// The platform's identifier of UTF-8 as callers name it.
constexpr uint16_t kCharsetIdUtf8 = 171;

// Translates platform text (LMBCS, `length` bytes; 0 means NUL-terminated)
// into the character set `charset` (kCharsetIdUtf8 or NN_CHARSET_UTF8 for
// UTF-8, NN_CHARSET_LATIN1, NN_CHARSET_UNICODE, NN_CHARSET_LMBCS) in
// `destination`, at most destinationSize bytes including a closing NUL (a
// character that does not fit whole is left out). Returns 0, NN_ERR_MEMORY when the text was
// cut, NN_ERR_CHARSET for an unknown set, NN_ERR_INVALID_ARG for null
// arguments. The destination is always NUL-terminated when destinationSize > 0.
NnStatus TranslateCharsetTextWithTable(LSXLsiSession* session, const char* text, uint32_t length,
                                       char* destination, uint32_t destinationSize,
                                       uint16_t charset);
