// Text runs in the render walk: the pending float-clearing break, blank runs
// after a paragraph reference, typed bracket HTML, and the document markers
// that a collection puts between its documents.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>

#include "collection.h"
#include "host/base64.h"
#include "host/fileops.h"
#include "nn/nn.h"
#include "render/render.h"
#include "rtitem.h"
#include "richtext/item/cdlayout.h"
#include "richtext/item/recordlist.h"

namespace {

using kv::cd::ReadU16;

// The navigation image written beside the output of a marked render (an 8x8
// grey baseline JPEG).
constexpr const char kNavigationImage[] =
    "/9j/4AAQSkZJRgABAQAAAQABAAD/2wBDABAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQ"
    "EBAQEBAQEBD/wAALCAAIAAgBAREA/8QAFAABAAAAAAAAAAAAAAAAAAAABv/EABQQAQAAAAAAAAAAAAAAAAAAAAD/2gAIAQEAAD8APv/Z";
constexpr uint32_t kNavigationImageMax = 2176;
constexpr const char kNavigationImageName[] = "rivuvedevuviz.jpg";

void Trace(const RenderContext* ctx, NnStatus status, const char* text) {
  if (ctx->debugLevel > 2) NnLogMessage(status, "%s", text);
}

bool IsDigits(const char* p, size_t n) {
  if (n == 0 || n > 10) return false;
  for (size_t i = 0; i < n; ++i)
    if (p[i] < '0' || p[i] > '9') return false;
  return true;
}

bool IsHex(const char* p, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    char c = p[i];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')))
      return false;
  }
  return true;
}

uint32_t HexWord(const char* p) {
  char word[9];
  std::memcpy(word, p, 8);
  word[8] = 0;
  return static_cast<uint32_t>(std::strtoul(word, nullptr, 16));
}

// "<!--$hDB=<digits>$unid=<32 hex>--><a name='zavedodAvu<n>'></a><div id='zavedodAvu<n>'></div>"
// exactly; the handle digits and the 32 digits are returned.
bool ParseDatabaseMarker(const char* inner, size_t n, size_t* handleLength, const char** unid) {
  static const char kHead[] = "<!--$hDB=";
  const size_t head = sizeof kHead - 1;
  if (n < head || std::memcmp(inner, kHead, head) != 0) return false;
  const char* dollar = static_cast<const char*>(std::memchr(inner + head, '$', n - head));
  if (!dollar) return false;
  size_t digits = static_cast<size_t>(dollar - (inner + head));
  if (!IsDigits(inner + head, digits)) return false;
  size_t pos = head + digits;
  if (n - pos < 6 + 32 + 3 || std::memcmp(inner + pos, "$unid=", 6) != 0) return false;
  if (!IsHex(inner + pos + 6, 32) || std::memcmp(inner + pos + 38, "-->", 3) != 0) return false;
  *handleLength = digits;
  *unid = inner + pos + 6;
  pos += 41;
  // The navigation anchor with the document's number twice.
  static const char kA[] = "<a name='zavedodAvu";
  static const char kB[] = "'></a><div id='zavedodAvu";
  static const char kC[] = "'></div>";
  const size_t a = sizeof kA - 1, b = sizeof kB - 1, c = sizeof kC - 1;
  if (n - pos < a || std::memcmp(inner + pos, kA, a) != 0) return false;
  pos += a;
  size_t number = 0;
  while (pos + number < n && inner[pos + number] >= '0' && inner[pos + number] <= '9') ++number;
  if (!IsDigits(inner + pos, number)) return false;
  const char* first = inner + pos;
  pos += number;
  if (n - pos < b || std::memcmp(inner + pos, kB, b) != 0) return false;
  pos += b;
  if (n - pos != number + c || std::memcmp(inner + pos, first, number) != 0) return false;
  return std::memcmp(inner + pos + number, kC, c) == 0;
}

void WriteNavigationImage(RenderContext* ctx) {
  if (ctx->navigationImageWritten || ctx->containerKind) return;
  if (ctx->dataImages != 0 && ctx->dataImages >= kNavigationImageMax) return;
  uint8_t image[kNavigationImageMax];
  uint32_t size = kv::Base64DecodeBuffer(kNavigationImage, image, sizeof image);
  const char* directory = nullptr;
  if (!ctx->imageDirectory || !ctx->imageDirectory[0]) {
    directory = ctx->basePathname;
  } else {
    directory = ctx->imageDirectory;
    if (!ctx->imageDirectoryMade && kv::MakeDirectoryPath(directory)) ctx->imageDirectoryMade = 1;
  }
  if (directory) {
    char path[1100];
    // Joined with this system's separator, so the file lands inside the directory.
    const size_t length = std::strlen(directory);
    const bool separated = length > 0 && directory[length - 1] == '/';
    int n = std::snprintf(path, sizeof path, "%s%s%s", directory, separated ? "" : "/",
                          kNavigationImageName);
    if (n > 0 && static_cast<size_t>(n) < sizeof path) kv::WriteBufferToFile(path, image, size);
  }
  ctx->navigationImageWritten = 1;
}

// Opens the note a database marker names as the item's render note; the
// note a previous marker opened is closed first.
void OpenMarkerNote(RenderContext* ctx, const char* handleText, size_t handleLength,
                    const char* unidText) {
  if (!ctx->item) return;
  if (ctx->markerNoteOpen && ctx->item->hRenderNote) NnNoteClose(ctx->item->hRenderNote);
  ctx->item->hRenderNote = 0;
  ctx->markerNoteOpen = 0;
  char number[16];
  std::memcpy(number, handleText, handleLength);
  number[handleLength] = 0;
  ctx->markerDatabase = static_cast<uint32_t>(std::strtoul(number, nullptr, 10));
  // Digits 8-15, 0-7, 24-31, 16-23: each half of the identifier is printed high word first.
  UNIVERSALNOTEID_tag unid{};
  unid.File.Innards[0] = HexWord(unidText + 8);
  unid.File.Innards[1] = HexWord(unidText);
  unid.Note.Innards[0] = HexWord(unidText + 24);
  unid.Note.Innards[1] = HexWord(unidText + 16);
  NnHandle note = 0;
  if (NnNoteOpenByUnid(static_cast<NnHandle>(ctx->markerDatabase), &unid, 0, &note) != NN_OK ||
      note == 0) {
    ctx->item->hRenderNote = 0;
    return;
  }
  ctx->item->hRenderNote = note;
  ctx->markerNoteOpen = 1;
  ctx->hotspot.perDocumentField = 0;
  WriteNavigationImage(ctx);
}

const char* RunText(const RTRecordNode* n) { return reinterpret_cast<const char*>(n->data) + 8; }

bool IsMarkerRun(const RTRecordNode* n) {
  return (n->signature == 0xFF85 || n->signature == 0xFFE4) && n->data && n->length > 8 &&
         IsDocumentMarkerText(RunText(n), n->length - 8);
}

// Whether the marker run is one the render's collection wrote: it names a
// note of the collection's own documents. Handles are small numbers and a
// marker's text is easy to type: a run an author wrote never switches the
// note the page is read from.
bool IsOwnMarkerRun(RenderContext* ctx, const RTRecordNode* node) {
  if (!ctx->collection) return false;
  if (!ctx->ownMarkers) {
    ctx->ownMarkers = std::make_unique<std::unordered_set<const RTRecordNode*>>();
    const RTRecordNode* first = node;
    while (first->prev) first = first->prev;
    std::unordered_map<std::string, uint32_t> seen;
    for (const RTRecordNode* n = first; n; n = n->next) {
      if (!IsMarkerRun(n)) continue;
      const size_t length = n->length - 8;
      uint32_t& occurrence = seen[std::string(RunText(n), length)];
      if (ctx->collection->IsOwnMarker(RunText(n), length, occurrence++))
        ctx->ownMarkers->insert(n);
    }
  }
  return ctx->ownMarkers->count(node) != 0;
}

// Bracketed text of a text run: the inner text is copied as filtered typed
// HTML; a marker the render's collection wrote also switches the render
// note. False when the run is to be written as ordinary text instead.
bool BracketedRun(RenderContext* ctx, const RTRecordNode* node) {
  const uint32_t length = node->length;
  const char* inner = RunText(node) + 1;
  const size_t n = length - 10;
  const bool marker = IsMarkerRun(node);
  if (marker && !IsOwnMarkerRun(ctx, node)) return false;
  // Only markup that formats reaches the page; the text must then still be
  // XML in XHTML output, else the run is written as ordinary text.
  const std::string markup = SanitizeTypedHtml(inner, n);
  if (ctx->outputKind == kOutputXhtml && !IsWellFormedFragment(markup)) return false;
  size_t handleLength = 0;
  const char* unid = nullptr;
  if (marker && length >= 44 && ParseDatabaseMarker(inner, n, &handleLength, &unid))
    OpenMarkerNote(ctx, inner + 9, handleLength, unid);
  // NULs inside have become blanks, so the text stays one string.
  RenderAppendN(ctx, markup.data(), markup.size());
  return true;
}

bool FollowsParagraphReference(const RTRecordNode* node) {
  const RTRecordNode* before = node->prev;
  if (!before) return false;
  if (before->signature == 0x0083) return true;
  return before->signature == 0x00DD && before->prev && before->prev->signature == 0x0083;
}

bool NextIsHotspotBegin(const RTRecordNode* node) {
  const RTRecordNode* next = node->next;
  if (!next) return false;
  if (next->signature == 0xFFAD) return true;
  uint16_t type = 0;
  return next->signature == 0x00DD && ReadU16(next->data, next->length, 4, &type) &&
         type == 0xFFAD;
}

}  // namespace

NnStatus RenderTextRunRecord(RenderContext* ctx, RenderWalk* walk) {
  RTRecordNode* node = ctx->currentRecord;
  Trace(ctx, NN_OK, "PrXMLStr - Step 5b");
  if (ctx->clearBreakPending) {
    ctx->clearBreakPending = 0;
    WriteClearBreak(ctx, 0);
  }
  NnStatus status = NN_OK;
  if (FollowsParagraphReference(node) && RecordRunIsBlank(node)) {
    bool last = node == ctx->lastRecord || !node->next;
    uint32_t blankAsEmpty = (node->sequence <= 5 || last || NextIsHotspotBegin(node)) ? 0 : 1;
    status = ProcessXMLText(ctx, walk->endType, blankAsEmpty);
  } else {
    const uint8_t* data = node->data;
    const uint32_t length = node->length;
    const bool recognised = (ctx->renderFlagsE & 0x80) || ctx->mimeRender || ctx->collection;
    if (recognised && length > 12 && data[8] == '[' && data[9] == '<' && data[length - 1] == ']' &&
        BracketedRun(ctx, node)) {
      if (ctx->currentRecord == node) ctx->currentRecord = node->next;
      return NN_OK;
    }
    status = ProcessXMLText(ctx, walk->endType, 0);
  }
  Trace(ctx, status, "PrXMLStr - Step 5b - after");
  if (ctx->currentRecord == node && status == NN_OK) ctx->currentRecord = node->next;
  return status;
}
