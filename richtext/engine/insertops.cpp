// Insertions at the target and the actions after an element: new text,
// paragraphs, links, tables, layers, images, attachments, imported files,
// HTML and other items' records. With the chunk's insert position 0 the
// content goes in front of the target (at its first record); otherwise after
// each element of it.
#include <strings.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/fonts.h"
#include "host/noteops.h"
#include "host/options.h"
#include "host/zip/zipstor.h"
#include "import/import.h"
#include "import/package.h"
#include "lsxsessi.h"
#include "richtext/compose/composers.h"
#include "richtext/compose/composeutil.h"
#include "richtext/compose/pabdef.h"
#include "richtext/engine/opfamily.h"
#include "richtext/engine/rtproc.h"
#include "richtext/engine/tablerows.h"
#include "richtext/item/cdlayout.h"
#include "richtext/item/itemhelpers.h"
#include "richtext/item/parastring.h"
#include "rtchunk.h"
#include "rtitem.h"

using namespace kv::compose;

namespace {

constexpr uint16_t kInternalImportFailed = 20014;
constexpr uint16_t kSigRowHeight = 226;
constexpr uint32_t kAwaitingCell = 2;  // LeadTextPending: the cell record is still to come

bool IsText(uint16_t s) { return s == 0xFF85 || s == 0xFFE4; }
using kv::tables::IsCell;
// The records that open a cell or a paragraph before its content.
bool IsParagraphLead(uint16_t s) { return IsCell(s) || s == 129 || s == 0xFF82 || s == 131; }
bool IsTableBoundary(uint16_t s) {
  return kv::tables::IsTableBegin(s) || kv::tables::IsTableEnd(s);
}

bool InsertsBefore(const RTProcessContext* ctx) {
  return ctx->Chunk && ctx->Chunk->insertPosition == 0;
}

// The item's current font, changed by the call's parsed font when the item
// overrides fonts or the call names one. A colour the change produced is
// left in the session.
uint32_t CallFont(RTProcessContext* ctx, bool callNamesFont) {
  uint32_t font = CurrentFont(ctx);
  if ((ctx->Item->fontOverride || callNamesFont) && ctx->FontMask) {
    uint32_t color = 0;
    uint16_t highlight = 0;
    FontApplyChanges(&font, &color, &highlight, &ctx->Font, ctx->FontMask);
    ctx->Session->globals->fontColor = color;
    ctx->Session->globals->fontHighlight = highlight;
  }
  return font;
}

// A paragraph start and an empty text, so that an item that begins with the
// composed element begins with a paragraph.
NnStatus LeadIfFirst(RTProcessContext* ctx) {
  if (ctx->RecordNumber != 1 || !InsertsBefore(ctx)) return 0;
  NnStatus st = EmitParagraphStart(ctx);
  if (st == 0) st = EmitEmptyText(ctx);
  return st;
}

NnStatus Anchor(RTProcessContext* ctx) {
  const char* name = ctx->Text1 ? ctx->Text1 : "";
  uint32_t n = uint32_t(std::strlen(name));
  if (ctx->Number1 && ctx->Number1 < n) n = ctx->Number1;
  return ComposeAnchor(name, n, ctx);
}

NnStatus BeginParagraph(uint16_t sig, bool afterRecord, RTProcessContext* ctx);
NnStatus EmitReferenceInForce(RTProcessContext* ctx);
NnStatus EnsureDefinitionInForce(RTProcessContext* ctx);
const RTRecordNode* EndingRecord(const uint8_t* data, const RTProcessContext* ctx,
                                 bool* beforeEnding);

// Every one of the line breaks or tabs asked for is written (a long run goes
// into as many text records as it needs).
NnStatus Repeated(const uint8_t* data, uint16_t sig, RTProcessContext* ctx) {
  const std::string run(ctx->SubCode & 0xFFFF, ctx->OperationCode == 2360 ? '\t' : '\0');
  uint32_t font = CallFont(ctx, false);
  NnStatus st = EmitTextRecord(run.data(), uint32_t(run.size()), &font, &ctx->Compose);
  if (st == 0 && ctx->OperationCode == 2354 && ctx->Number1) {
    bool beforeEnding = false;
    EndingRecord(data, ctx, &beforeEnding);
    st = BeginParagraph(sig, !InsertsBefore(ctx) && !beforeEnding, ctx);
  }
  return st;
}

// The text of 2361, with its colour wrapper when the font change gave one.
NnStatus TextRun(RTProcessContext* ctx) {
  const char* text = ctx->Text1 ? ctx->Text1 : "";
  uint32_t length = ctx->Number1 ? uint32_t(strnlen(text, ctx->Number1)) : uint32_t(std::strlen(text));
  // The text setter counts its text itself: its line breaks are NULs inside it.
  if (ctx->OperationCode == STEP_TEXT_SET && ctx->Text1) length = ctx->Number1;
  uint32_t font = CallFont(ctx, ctx->Text2 && *ctx->Text2);
  SessionGlobals* g = ctx->Session->globals;
  const bool colored = g->fontColor != 0;
  NnStatus st = 0;
  if (colored) st = EmitBeginRecord(0xFF85, 0, &ctx->Compose);
  if (st == 0) st = EmitTextRecord(text, length, &font, &ctx->Compose);
  if (st == 0 && colored) {
    st = EmitRecord8(210, g->fontColor & 0xFFFFFF, g->fontHighlight, &ctx->Compose);
    if (st == 0) st = EmitEndRecord(0xFF85, 0, &ctx->Compose);
  }
  if (st == 0 && length && ctx->Item->context) ctx->Item->context->textFollowUp = 1;
  return st;
}

// The object a BEGIN or END record names (0 when it names none).
uint16_t GroupObject(const uint8_t* data, uint16_t sig, uint32_t length) {
  uint16_t of = 0;
  if ((sig == 221 || sig == 222) && data) kv::cd::ReadU16(data, length, 4, &of);
  return of;
}

// Is a position inside an open BEGIN/END group or OLE object, where no
// paragraph may begin? `afterRecord`: the position follows the current record
// (which the walk has counted), else it precedes it. A layer's group holds
// paragraphs of its own: a position whose innermost group is a layer is not
// inside one.
bool InsideGroup(uint16_t sig, bool afterRecord, const RTProcessContext* ctx) {
  int32_t groups = ctx->OpenSignatureDepth;
  int32_t ole = ctx->OleDepth;  // counted after the record
  if (afterRecord) {
    ole += sig == 0xFFA7 ? 1 : sig == 0xFFA8 ? -1 : 0;
  } else {
    groups += sig == 221 ? -1 : sig == 222 ? 1 : 0;
  }
  const bool inLayer = groups > 0 && groups <= int32_t(kMaxBeginDepth) &&
                       ctx->OpenSignatures[groups] == 108;
  return (groups > 0 && !inLayer) || ctx->BeginOverflow > 0 || ole > 0;
}

// The item's paragraph definition of this id; null when it has none.
const RTRecordNode* ItemParagraphDefinition(const RTProcessContext* ctx, uint16_t id) {
  for (const RTRecordNode* n = ctx->Records ? ctx->Records->first : nullptr; n; n = n->next)
    if (n->signature == 0xFF82 && kv::cd::U16(n->data, n->length, kv::cd::host::kPabId) == id)
      return n;
  return nullptr;
}
bool ItemDefinesParagraph(const RTProcessContext* ctx, uint16_t id) {
  return ItemParagraphDefinition(ctx, id) != nullptr;
}

// The reference of the paragraph in force at the target. An item that does
// not define that paragraph gets the default definition first (once a call),
// so that no reference is left without its definition.
NnStatus EnsureDefinitionInForce(RTProcessContext* ctx) {
  const uint8_t* ref = ctx->Compose.defaultParagraphReference;
  const uint16_t id = uint16_t(ref[2] | (ref[3] << 8));
  if (ctx->DefaultDefinitionWritten || ItemDefinesParagraph(ctx, id)) return 0;
  uint8_t def[sizeof ctx->Compose.defaultParagraphDefinition];
  std::memcpy(def, ctx->Compose.defaultParagraphDefinition, sizeof def);
  PutU16(def, kv::cd::host::kPabId, id);
  const uint16_t defLength = kv::cd::U16(def, sizeof def, 2);
  NnStatus st = AppendRecord(def, 0xFF82, defLength, &ctx->Compose);
  if (st == 0) ctx->DefaultDefinitionWritten = 1;
  return st;
}

NnStatus EmitReferenceInForce(RTProcessContext* ctx) {
  NnStatus st = EnsureDefinitionInForce(ctx);
  return st ? st : EmitParagraphReference(ctx);
}

// A new paragraph for inserted text: its start and the reference of the
// paragraph in force. Never inside an open group or OLE object.
NnStatus BeginParagraph(uint16_t sig, bool afterRecord, RTProcessContext* ctx) {
  if (InsideGroup(sig, afterRecord, ctx)) return 0;
  NnStatus st = EmitParagraphStart(ctx);
  if (st == 0) st = EmitReferenceInForce(ctx);
  return st;
}

// The record that ended the element, when the walk stands on it (null at
// the end of the item). What is appended after the element goes in front of
// it when it lies outside the element, and for the relations whose ending
// record follows the element.
const RTRecordNode* EndingRecord(const uint8_t* data, const RTProcessContext* ctx,
                                 bool* beforeEnding) {
  const RTRecordNode* ending =
      ctx->CurrentNode && ctx->CurrentNode->data == data ? ctx->CurrentNode : nullptr;
  const chunkdef_info* inner = ctx->Chunk ? ctx->Chunk->InnermostNode() : nullptr;
  *beforeEnding =
      ending && (ctx->EndingRecordOutside ||
                 (inner && (inner->relation == REL_INSIDE || inner->relation == REL_OUTSIDE ||
                            inner->relation == REL_BEFORE)));
  return ending;
}

// Past a table's end record the paragraph around the table is in force
// again; the walk notes so only once it has left that record.
void ResumeOuterParagraph(RTProcessContext* ctx) {
  int32_t level = ctx->TableBeginCount < 0 ? 0 : ctx->TableBeginCount;
  if (level > int32_t(kMaxEngineTableDepth)) return;
  const uint16_t id = ctx->ParagraphIdAtLevel[level];
  if (!id || ctx->ParagraphIdLevel <= level) return;
  uint8_t* ref = ctx->Compose.defaultParagraphReference;
  ref[2] = uint8_t(id);
  ref[3] = uint8_t(id >> 8);
}

// Text appended to an element goes on in the paragraph the element ends in;
// only after a table (or at a table start) is a paragraph of its own meant,
// with its start and the reference in force there.
NnStatus TextAfter(uint8_t* data, uint16_t sig, RTProcessContext* ctx) {
  bool beforeEnding = false;
  const RTRecordNode* ending = EndingRecord(data, ctx, &beforeEnding);
  // The element's last record decides: the one before the ending record when
  // the text goes in front of it; at the end of the item the item's last.
  const RTRecordNode* reference = beforeEnding ? ending->prev : ending;
  if (!ending && ctx->Records) reference = ctx->Records->last;
  const uint16_t ref = reference ? reference->signature : sig;
  if (IsTableBoundary(ref)) {
    if (!beforeEnding && reference == ending && IsTableBoundary(sig)) ResumeOuterParagraph(ctx);
    NnStatus st = BeginParagraph(sig, !beforeEnding, ctx);
    if (st) return st;
  }
  return TextRun(ctx);
}

// Is the place of this call's insertion inside an open group or OLE object?
// Before the target's first record, or after the element.
bool InsertionInsideGroup(const uint8_t* data, uint16_t sig, RTProcessContext* ctx) {
  bool beforeEnding = false;
  if (!InsertsBefore(ctx)) EndingRecord(data, ctx, &beforeEnding);
  return InsideGroup(sig, !InsertsBefore(ctx) && !beforeEnding, ctx);
}

// Is the place of this call's insertion within a table's cell? In front of
// the record in hand, or after the element.
bool InTableAtPlace(bool before, const uint8_t* data, const RTProcessContext* ctx) {
  bool beforeEnding = false;
  if (!before) EndingRecord(data, ctx, &beforeEnding);
  return (before || beforeEnding ? ctx->ParagraphIdLevel : ctx->TableBeginCount) > 0;
}

// A paragraph start, where one may begin.
NnStatus ParagraphStartAt(bool insideGroup, RTProcessContext* ctx) {
  return insideGroup ? 0 : EmitParagraphStart(ctx);
}

NnStatus PageBreak(const uint8_t* data, uint16_t sig, RTProcessContext* ctx) {
  const bool inGroup = InsertionInsideGroup(data, sig, ctx);
  NnStatus st = ParagraphStartAt(inGroup, ctx);
  if (st) return st;
  const uint16_t id = NewDefaultParagraph(kNextParagraphId, 2, &ctx->Compose);
  if (!id) return NN_ERR_MEMORY;
  uint8_t def[72] = {};
  PutU16(def, 0, 0xFF82);
  PutU16(def, 2, 72);
  PutU16(def, 4, id);
  PutU16(def, kv::cd::host::kPabLeftMargin, 1440);
  PutU16(def, kv::cd::host::kPabFirstLineLeftMargin, 1440);
  PutU16(def, kv::cd::host::kPabTabs, 720);
  PutU16(def, kv::cd::host::kPabFlags, 0x0101);  // page break before
  st = AppendRecord(def, 0xFF82, sizeof def, &ctx->Compose);
  uint8_t ref[4] = {131, 4};
  PutU16(ref, 2, id);
  if (st == 0) st = AppendRecord(ref, 131, 4, &ctx->Compose);
  if (st == 0) st = EmitEmptyText(ctx);
  if (st == 0) st = ParagraphStartAt(inGroup, ctx);
  return st;
}

// What follows a paragraph inserted in front of `next` goes on as before:
// unless `next` begins a paragraph, a table or a cell itself, it gets a
// paragraph start, and the reference in force there when no definition or
// reference of its own follows.
NnStatus ResumeAfterParagraph(const uint8_t* data, uint16_t next, uint32_t length, bool inGroup,
                              RTProcessContext* ctx) {
  const uint16_t object = GroupObject(data, next, length);
  if (inGroup || next == 129 || IsCell(next) || IsTableBoundary(next) || next == 0xFFFB ||
      (next == 221 && (object == 0xFFFB || IsTableBoundary(object))))
    return 0;
  NnStatus st = EmitParagraphStart(ctx);
  if (st == 0 && next != 0xFF82 && next != 131 && next != 0xFFBB && next != 166)
    st = EmitReferenceInForce(ctx);
  return st;
}

// 2417: a paragraph of its own (start, definition, reference, text) in front
// of the record `sig` (insert position 0) or after the element.
NnStatus Paragraph(const uint8_t* data, uint16_t sig, uint32_t recordLength,
                   RTProcessContext* ctx) {
  const bool before = InsertsBefore(ctx);
  // A place moved to the start of the target's paragraph lies at the same
  // group depth: only the head of that paragraph stands between.
  const bool inGroup = InsertionInsideGroup(data, sig, ctx);
  const RTRecordNode* place =
      before && ctx->InsertionPlace ? ctx->InsertionPlace : ctx->CurrentNode;
  if (place && place != ctx->CurrentNode) {
    data = place->data;
    sig = place->signature;
    recordLength = place->length;
  }
  const uint32_t sequence = place ? place->sequence : 1;
  NnStatus st = 0;
  if (sequence > 1 || !before) st = ParagraphStartAt(inGroup, ctx);
  if (st) return st;
  uint16_t id = NewDefaultParagraph(kNextParagraphId, 2, &ctx->Compose);
  if (!id) return NN_ERR_MEMORY;
  uint8_t def[kPabFullLength] = {};
  std::memcpy(def, ctx->Compose.paragraphDefinition, sizeof def);
  PutU16(def, 4, id);
  uint16_t defLength = 0;
  std::memcpy(&defLength, def + 2, 2);
  if (defLength < 72 || defLength > kPabFullLength) defLength = 72;
  PutU16(def, 2, defLength);
  // In a cell the definition's offsets count from the cell's edge: the new
  // paragraph starts there, as the cell's own paragraphs do.
  if (InTableAtPlace(before, data, ctx) && defLength >= kPabExtFirstTwips + 2) {
    PutU16(def, kPabExtLeftTwips, 0);
    PutU16(def, kPabExtFirstTwips, 0);
  }
  auto* spec = static_cast<ParagraphSpec*>(ctx->ParagraphSpec);
  ParagraphSpec local;
  if (!spec && ctx->Text2 && std::strchr(ctx->Text2, '=')) {
    // A paragraph string in the second text when no set-up parsed one.
    if (ParseParagraphSpec(ctx->Text2, nullptr, &local) == 0) spec = &local;
  }
  // The hide formula: the method's compiled formula (its length the first
  // number, the text the session's result), else a paragraph string's.
  const void* hide = nullptr;
  uint32_t hideLength = 0;
  if (ctx->Number1) {
    if (ctx->Number1 > ctx->Session->ResultTextLength) return NN_ERR_INVALID_ARG;
    hide = ctx->Session->ResultText;
    hideLength = ctx->Number1;
  }
  if (spec) {
    st = BuildParagraphDefinitionFromSpec(def, sizeof def, spec, 0, 0);
    if (st) return st;
    PutU16(def, 4, id);
    std::memcpy(&defLength, def + 2, 2);
    if (!hide && spec->hasHideWhen && spec->hideWhenLength) {
      hide = spec->hideWhen;
      hideLength = spec->hideWhenLength;
    }
  }
  if (hide) {
    // The hide-when text travels in a 0xFFBB record before the definition.
    uint16_t flags = 0;
    std::memcpy(&flags, def + kv::cd::host::kPabFlags, 2);
    PutU16(def, kv::cd::host::kPabFlags, uint16_t(flags | kPabHideFormula));
    st = EmitHideWhenRecord(id, hide, hideLength, ctx);
    if (st) return st;
  }
  st = AppendRecord(def, 0xFF82, defLength, &ctx->Compose);
  if (st == 0) st = EmitParagraphReferenceTo(id, ctx);
  if (st) return st;
  const char* text = ctx->Text1 ? ctx->Text1 : "";
  uint32_t length = ctx->SubCode ? uint32_t(strnlen(text, ctx->SubCode)) : uint32_t(std::strlen(text));
  uint32_t font = CurrentFont(ctx);
  if (ctx->Text2 && *ctx->Text2 && !std::strchr(ctx->Text2, '=')) {
    // A font that does not read is refused, as a font change refuses it.
    FontState state;
    uint32_t mask = 0;
    if (ParseFontSpec(ctx->Text2, nullptr, ctx->Item, &state, &mask) != 0)
      return NN_ERR_INVALID_ARG;
    if (mask) {
      uint32_t color = 0;
      uint16_t hl = 0;
      FontApplyChanges(&font, &color, &hl, &state, mask);
    }
  }
  st = EmitTextRecord(text, length, &font, &ctx->Compose);
  if (st) return st;
  if (before) return ResumeAfterParagraph(data, sig, recordLength, inGroup, ctx);
  // After the element the record that follows it goes on in its own
  // paragraph, as it did: the rest of a paragraph the element ended within,
  // or a reference that opens one.
  bool beforeEnding = false;
  const RTRecordNode* ending = EndingRecord(data, ctx, &beforeEnding);
  const RTRecordNode* next = beforeEnding ? ending : ending ? ending->next : nullptr;
  return next ? ResumeAfterParagraph(next->data, next->signature, next->length, inGroup, ctx) : 0;
}

NnStatus ImportFailed(RTProcessContext* ctx, NnStatus st) {
  if (st && !ctx->Compose.internalError) ctx->Compose.internalError = kInternalImportFailed;
  return st;
}

// A file of canonical records (optionally led by the composite type word),
// checked whole before any of it is appended; paragraph ids and fonts are
// fitted to this item.
// Does a list of records hold whole structures only: every BEGIN closed by
// its END, every cell within its own kind of table and every table ended,
// every hotspot ended, each closing what opened last?
bool RecordsBalance(const RecordList* list) {
  constexpr uint32_t kGroup = 0x10000, kHotspot = 0x20000;
  std::vector<uint32_t> open;
  const auto top = [&open] { return open.empty() ? 0u : open.back(); };
  const auto hotspotBegin = [](uint16_t s) {
    return s == 0xFFA9 || s == 0xFFAD || s == 0xFF7E || s == 0xFF74;
  };
  for (const RTRecordNode* n = list->first; n; n = n->next) {
    const uint16_t sig = n->signature;
    const uint16_t obj = GroupObject(n->data, sig, n->length);
    if (sig == 221) {
      open.push_back(kGroup | obj);
    } else if (sig == 222) {
      // A hotspot's group is closed by the END of its end record.
      const uint32_t t = top();
      const bool hotspotGroup =
          hotspotBegin(uint16_t(t)) && (obj == 0x7F || obj == 0xAA || obj == 0xAE);
      if (!(t & kGroup) || (uint16_t(t) != obj && !hotspotGroup)) return false;
      open.pop_back();
    } else if (IsTableBoundary(sig) || IsCell(sig)) {
      const uint32_t table = sig == 163 || sig == 164 || sig == 165 ? 163 : 207;
      if (kv::tables::IsTableBegin(sig)) {
        open.push_back(table);
      } else if (top() != table) {
        return false;
      } else if (kv::tables::IsTableEnd(sig)) {
        open.pop_back();
      }
    } else if (hotspotBegin(sig)) {
      // A legacy begin directly followed by a newer one opens one hotspot.
      if (!(sig == 0xFFA9 && n->prev && n->prev->signature == 0xFFAD)) open.push_back(kHotspot);
    } else if (sig == 0x7F || sig == 0xAA || sig == 0xAE) {
      if (top() != kHotspot) return false;
      open.pop_back();
    }
  }
  return open.empty();
}

NnStatus ImportRecordFile(const char* path, RTProcessContext* ctx) {
  constexpr long kMaxRecordFile = 64L << 20;
  FILE* f = std::fopen(path, "rb");
  if (!f) return NN_ERR_FILE_NOT_FOUND;
  std::vector<uint8_t> bytes;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0 && bytes.size() <= size_t(kMaxRecordFile))
    bytes.insert(bytes.end(), buf, buf + n);
  const bool readError = std::ferror(f) != 0;
  std::fclose(f);
  if (readError) return NN_ERR_FILE_IO;
  if (bytes.size() > size_t(kMaxRecordFile)) return NN_ERR_CD_STRUCTURE;
  size_t pos = 0;
  if (bytes.size() >= 2 && kv::cd::U16(bytes.data(), uint32_t(bytes.size()), 0) == NN_TYPE_COMPOSITE)
    pos = 2;
  std::vector<std::vector<uint8_t>> records;
  while (pos < bytes.size()) {
    uint16_t sig;
    kv::cd::HeaderKind kind;
    uint32_t len = 0, header = 0;
    const uint32_t avail = uint32_t(bytes.size() - pos);
    if (avail == 1 && bytes[pos] == 0) break;  // the pad byte of a last odd record
    if (!kv::cd::ReadCanonicalHeader(bytes.data() + pos, avail, &sig, &kind, &len, &header) ||
        len < header || len > avail || sig < kMinRecordSignature)
      return NN_ERR_CD_STRUCTURE;
    std::vector<uint8_t> host;
    if (kv::cd::CanonicalToHost(bytes.data() + pos, len, &host) != NN_OK || host.empty())
      return NN_ERR_CD_STRUCTURE;
    records.push_back(std::move(host));
    pos += len + (len % 2);
  }
  if (records.empty()) return NN_ERR_CD_STRUCTURE;
  RecordList* list = RecordListCreate(ctx->Session);
  if (!list) return NN_ERR_MEMORY;
  NnStatus st = 0;
  for (auto& r : records) {
    uint16_t sig;
    kv::cd::HeaderKind kind;
    uint32_t len = 0, header = 0;
    if (!kv::cd::ReadHostHeader(r.data(), uint32_t(r.size()), &sig, &kind, &len, &header) ||
        !RecordListAppendNode(ctx->Session, list, sig, r.data(), uint32_t(r.size()), 0)) {
      st = NN_ERR_CD_STRUCTURE;
      break;
    }
  }
  // The file is the caller's: one whose structures do not close would take
  // the item's own apart where it lands.
  if (st == 0 && !RecordsBalance(list)) st = NN_ERR_CD_STRUCTURE;
  if (st == 0) st = AppendItemRecordsRenumbered(list, nullptr, ctx->Item, &ctx->Compose);
  RecordListFreeWithAllocator(ctx->Session, list);
  return st;
}

// 2352: a file brought in by its kind.
NnStatus ImportFile(RTProcessContext* ctx) {
  const char* file = ctx->Text1;
  if (!file || !*file) return ImportFailed(ctx, NN_ERR_INVALID_ARG);
  const char* ext = FileExtension(file);
  const char* options = ctx->Text2;
  SessionGlobals* g = ctx->Session->globals;
  if (ctx->Item->imageSwitch) {
    uint32_t kind = !strcasecmp(ext, ".gif") ? 1
                    : (!strcasecmp(ext, ".jpg") || !strcasecmp(ext, ".jpeg")) ? 2
                    : !strcasecmp(ext, ".png") ? 3 : 0;
    if (kind) {
      // A picture is read as it is: a filter or option given would be dropped.
      if (options && *options) return ImportFailed(ctx, NN_ERR_INVALID_ARG);
      char alt[kOptionValueMax + 1] = {};
      if (ctx->Number3) GetOptionValue(g->optionString, "AltText=", alt);
      return ImportFailed(ctx, ComposeImageFromFile(file, kind, ctx, *alt ? alt : nullptr));
    }
  }
  // Alternate text (AppendGraphic's) is a picture's; a file of records has none.
  if (ctx->Number3 && GetOptionValue(g->optionString, "AltText=", nullptr))
    return ImportFailed(ctx, NN_ERR_INVALID_ARG);
  NnStatus st;
  if (options && *options && strncasecmp(options, "Torvo", 5) != 0) {
    // In a cell the new paragraphs keep to the cell's margins, as its own do.
    const uint8_t* ref = ctx->Compose.defaultParagraphReference;
    const RTRecordNode* own = ctx->Compose.composedTables
                                  ? ItemParagraphDefinition(ctx, uint16_t(ref[2] | ref[3] << 8))
                                  : nullptr;
    ctx->Compose.marginDefinition = own ? own->data : nullptr;
    ctx->Compose.marginDefinitionLength = own ? own->length : 0;
    if (!strcasecmp(ext, ".txt")) {
      // A text file reads its line length alone.
      if (!OptionKeysAmong(options, {"LineLength"})) return ImportFailed(ctx, NN_ERR_INVALID_ARG);
      char value[kOptionValueMax + 1] = {};
      uint32_t lineLength = kDefaultTextLineLength;
      if (GetOptionValue(options, "LineLength=", value)) {
        // A length out of 1 to 32,000 is refused rather than read as the
        // default.
        char* end = nullptr;
        const long v = std::strtol(value, &end, 10);
        if (end == value || *end || v < 1 || v > 32000) return ImportFailed(ctx, NN_ERR_INVALID_ARG);
        lineLength = uint32_t(v);
      }
      st = EmitTextParagraph(file, lineLength, &ctx->Compose);
    } else if (!strncasecmp(ext, ".htm", 4)) {
      // The importer checks its own keys; a package is opened by AppendHTML
      // alone, so a file import would drop one.
      st = GetOptionValue(options, "Package=", nullptr)
               ? NnStatus(NN_ERR_INVALID_ARG)
               : ImportHTMLFromFile(file, options, &ctx->Compose);
    } else {
      st = NN_ERR_INVALID_ARG;
    }
    ctx->Compose.marginDefinition = nullptr;
    return ImportFailed(ctx, st);
  }
  // The filter is found by the file's kind: a filter named by the caller
  // would be dropped.
  if (options && *options) return ImportFailed(ctx, NN_ERR_INVALID_ARG);
  char filter[256] = {}, name[256] = {};
  if (!FindEditFilter(ctx->Session, file, filter, sizeof filter, name, sizeof name, 0)) {
    // Without a filter only a file of records is taken.
    if (strcasecmp(ext, ".cd") != 0) return ImportFailed(ctx, NN_ERR_INVALID_ARG);
    return ImportFailed(ctx, ImportRecordFile(file, ctx));
  }
  char recordFile[1024] = {};
  st = ImportImageViaFilter(&ctx->Compose, file, filter, name, recordFile, sizeof recordFile);
  return ImportFailed(ctx, st);
}

NnStatus AppendHtml(RTProcessContext* ctx) {
  SessionGlobals* g = ctx->Session->globals;
  NnStatus st = 0;
  switch (ctx->SubCode) {
    case 1:
      if (!ctx->Text1 || !*ctx->Text1) {
        st = NN_ERR_INVALID_ARG;
      } else if (g->package) {
        // The entry is named by a path relative to the package.
        std::vector<std::string> names;
        const std::string* entry = ZipStorageListEntries(g->package, &names) == NN_OK
                                       ? FileListFindByPath(&names, ctx->Text1, 1)
                                       : nullptr;
        int r = entry ? ZipStorageReadEntry(g->package, entry->c_str(), 0, 0) : 1;
        if (r == 1) {
          st = NN_ERR_INVALID_ARG;
        } else if (r != 0) {
          st = NN_ERR_FILE_IO;
        } else {
          auto& buf = g->package->buffer;
          st = ImportHTMLFromBuffer(reinterpret_cast<const char*>(buf.data()),
                                    uint32_t(buf.size()), ctx->Text2, &ctx->Compose, nullptr, 0);
          buf.clear();
          buf.shrink_to_fit();
        }
      } else {
        st = ImportHTMLFromFile(ctx->Text1, ctx->Text2, &ctx->Compose);
      }
      break;
    case 2:
      return 0;
    case 3:
      if (!ctx->Text1) {
        st = NN_ERR_INVALID_ARG;
      } else {
        const auto* part = static_cast<const HtmlMimeBody*>(g->pendingMimePart);
        st = ImportHTMLFromBuffer(ctx->Text1, 0, ctx->Text2, &ctx->Compose, part, part ? 2 : 0);
      }
      break;
    case 4: {
      const auto* bodies = static_cast<const HtmlMimeBody*>(
          ctx->Item->context ? ctx->Item->context->pendingMimeBodies : nullptr);
      st = ImportPendingMimeBodies(bodies, nullptr, ctx->Text2, &ctx->Compose);
      break;
    }
    default:
      st = NN_ERR_INVALID_ARG;
  }
  if (st == kImportStatusNoContent) {
    ctx->Compose.internalError = uint16_t(kImportStatusNoContent);
    return st;
  }
  return ImportFailed(ctx, st);
}

NnStatus Attachment(RTProcessContext* ctx) {
  const char* path = ctx->Text1 ? ctx->Text1 : "";
  const char* source = ctx->Text2 && *ctx->Text2 ? ctx->Text2 : path;
  char name[256] = {};
  // A name the attachment cannot hold whole is refused, not cut.
  if (std::strlen(FileBaseName(source)) >= sizeof name) return NN_ERR_INVALID_ARG;
  std::snprintf(name, sizeof name, "%s", FileBaseName(source));
  if (!*name) return NN_ERR_INVALID_ARG;
  const char* options = ctx->Session->globals->optionString;
  // The one key an attachment reads (here and in ComposeAttachmentIcon):
  // "AlreadyAttached=", Yes or No.
  char already[kOptionValueMax + 1] = {};
  if (!OptionKeysAmong(options, {"AlreadyAttached"}) ||
      (GetOptionValue(options, "AlreadyAttached=", already) && strcasecmp(already, "Yes") &&
       strcasecmp(already, "No")))
    return NN_ERR_INVALID_ARG;
  const bool attached = !strcasecmp(already, "Yes");
  // A name the note already has gives way to the first free "Att<n><ext>".
  if (!attached &&
      !kv::NoteFreeAttachmentName(ctx->Item->hNote, FileBaseName(source), FileExtension(path),
                                  name, sizeof name))
    return NN_ERR_INVALID_ARG;
  return ComposeAttachmentIcon(path, name, name, ctx->SubCode != 0, options, ctx);
}

// The operations that insert content: before the target with insert position
// 0, after each element otherwise.
bool IsInsertion(uint16_t code) {
  switch (code) {
    // 2355 (rows) writes its row at the table's end itself (removal family).
    case 2351: case 2352: case 2353: case 2354: case 2356: case 2357: case 2358:
    case 2359: case 2360: case 2361: case 2409: case 2411: case 2417: case 2423: case 2424:
    case 2438: case 2442: case 2443: case 2448: case 2808: case 2809: case 2812:
      return true;
    default:
      return false;
  }
}

// Marks the last `count` composed records as the text insertion's, for the
// clean-up that follows it.
void MarkInserted(RTProcessContext* ctx, uint32_t count) {
  RTRecordNode* n = ctx->Compose.newList ? ctx->Compose.newList->last : nullptr;
  for (; n && count; n = n->prev, --count) n->flags |= kNodeInserted;
}

NnStatus Insert(uint8_t* data, uint16_t sig, uint32_t length, RTProcessContext* ctx, bool before) {
  const uint16_t code = ctx->OperationCode;
  const uint32_t composedBefore = ctx->Compose.composedCount;
  NnStatus st = 0;
  switch (code) {
    case 2351:
      if (before) {
        st = Anchor(ctx);
        if (st == 0) st = EmitEmptyText(ctx);
      } else {
        st = EmitEmptyText(ctx);
        if (st == 0) st = Anchor(ctx);
      }
      break;
    case 2352:
      st = ImportFile(ctx);
      break;
    case 2353:
      st = LeadIfFirst(ctx);
      if (st == 0) st = ComposeDocLink(ctx->Text1, ctx->SubCode, ctx, 1);
      break;
    case 2354:
    case 2360:
      st = Repeated(data, sig, ctx);
      break;
    case 2356:
    case 2357:
    case 2358:
    case 2808:
    case 2809:
      st = InsertDesignElementContent(ctx->Chunk, ctx, code);
      break;
    case 2443:
      ComposeTableResetColumnCounter();
      [[fallthrough]];
    case 2359:
      // The cells reference the paragraph in force.
      st = EnsureDefinitionInForce(ctx);
      if (st == 0) st = LeadIfFirst(ctx);
      if (st == 0) st = ComposeTable(ctx->SubCode, ctx->Number1, ctx);
      break;
    case 2361:
      // Inserted text joins the paragraph it is put in and begins none, so
      // that every later paragraph keeps its number.
      st = before ? TextRun(ctx) : TextAfter(data, sig, ctx);
      break;
    case 2409:
      st = PageBreak(data, sig, ctx);
      break;
    case 2411:
      st = ComposeField(ctx->Text1, ctx->Text2, 1, "Add", ctx);
      break;
    case 2417:
      st = Paragraph(data, sig, length, ctx);
      break;
    case 2423:
      st = LeadIfFirst(ctx);
      if (st == 0) st = ComposeButton(ctx->Text2, ctx->Number3, ctx->Text1, ctx->Number2, ctx);
      break;
    case 2424:
      st = ComposeGraphicOptions(ctx->SubCode, ctx->Number1, ctx->Text1, ctx->Text2, ctx);
      break;
    case 2438:
      st = LeadIfFirst(ctx);
      if (st == 0) st = ComposeImage(ctx->SubCode, ctx->Text1, ctx->Text2, ctx);
      break;
    case 2442:
      st = ComposeLayer(ctx->SubCode, ctx, ctx->Text1, ctx->Text2);
      break;
    case 2448:
      st = AppendHtml(ctx);
      break;
    case 2812:
      st = Attachment(ctx);
      break;
    default:
      break;
  }
  if (st == 0) ctx->Item->modified = 1;
  if (st == 0 && code == 2361) MarkInserted(ctx, ctx->Compose.composedCount - composedBefore);
  return st;
}

// Content put in front of a cell belongs in the cell, not at the end of
// the one before (or ahead of a table's first cell): it waits for the cell
// record to be written. Text waits longer, for the first record of a cell's
// or paragraph's content after their start, definition, reference, hide
// formula and style name.
bool WaitsForContent(uint16_t code, uint16_t sig) {
  return IsCell(sig) || sig == kSigRowHeight || (code == 2361 && IsParagraphLead(sig));
}
// A paragraph's head also holds its hide formula, style name and the layout
// objects stored forms anchor right after its start (183, 184, 186, 192, 194).
bool LeadsContent(uint16_t sig) {
  switch (sig) {
    case 0xFFBB: case 188: case 166: case 183: case 184: case 186: case 192: case 194:
      return true;
    default:
      return IsParagraphLead(sig);
  }
}

// The insertion that waited, in front of the record in hand (`atEnd`: the
// element ended there, and an empty cell or paragraph takes it at its end).
NnStatus PlaceWaitingInsertion(uint8_t* data, uint16_t sig, uint32_t length, bool atEnd,
                               RTProcessContext* ctx) {
  ctx->LeadTextPending = 0;
  ctx->InsertionPlace = nullptr;  // here, in front of the record in hand
  if (ctx->OperationCode != 2361 || !atEnd) return Insert(data, sig, length, ctx, true);
  const uint32_t composedBefore = ctx->Compose.composedCount;
  NnStatus st = TextRun(ctx);
  if (st == 0) {
    ctx->Item->modified = 1;
    MarkInserted(ctx, ctx->Compose.composedCount - composedBefore);
  }
  return st;
}

bool RecordBlock(uint8_t* data, uint16_t sig, uint32_t length, RTProcessContext* ctx,
                 RecordEmission*, NnStatus* status) {
  if (!ctx->LeadTextPending || !IsInsertion(ctx->OperationCode)) return false;
  // A row's height leads its first cell: nothing is in a cell before it.
  if (ctx->LeadTextPending == kAwaitingCell) {
    if (IsCell(sig)) ctx->LeadTextPending = 1;
    *status = 0;
    return true;
  }
  // The target's own first record is written first; the record itself is
  // emitted as it is.
  const bool wait = ctx->AtTarget || (ctx->OperationCode == 2361 && LeadsContent(sig));
  *status = wait ? 0 : PlaceWaitingInsertion(data, sig, length, false, ctx);
  return true;
}

// 2601 to 2603: questions about a table cell.
void CellQuery(const uint8_t* data, uint16_t sig, uint32_t length, RTProcessContext* ctx) {
  if (!IsCell(sig) || length < 16) return;
  LSXLsiSession* s = ctx->Session;
  const uint8_t flags = data[11];
  if (ctx->OperationCode == 2601) {
    const bool single = !(flags & 0x0C) && data[14] < 2 && data[15] < 2;
    s->SetResultText(single ? "FALSE" : "TRUE", single ? 5 : 4);
    return;
  }
  const bool column = ctx->OperationCode == 2602;
  const bool merged = column ? (flags & 0x0C) != 0 : (flags & 0x08) != 0;
  uint32_t value = uint32_t(column ? data[3] : data[2]) + 1;
  if (merged) {
    uint16_t row = 0, col = 0;
    if (LocateTableCell(ctx->RecordNumber, ctx->Records, &row, &col) == 0)
      value = uint32_t(column ? col : row) + 1;
  }
  char text[16];
  int n = std::snprintf(text, sizeof text, "%u", value);
  s->SetResultText(text, uint32_t(n));
}

// A row or a cell of a table: what the call addresses.
bool RowOrCellTarget(const RTProcessContext* ctx) {
  const chunkdef_info* n = InnermostCallNode(ctx);
  return n && (n->targetType == ROW || n->targetType == COLUMN);
}

bool AtTargetBlock(uint8_t* data, uint16_t sig, uint32_t length, RTProcessContext* ctx,
                   NnStatus* status) {
  const uint16_t code = ctx->OperationCode;
  // Once-per-element flags start afresh with each element.
  ctx->AltTextWritten = ctx->CaptionWritten = ctx->HtmlAttributesWritten = 0;
  if (IsInsertion(code)) {
    *status = 0;
    if (!InsertsBefore(ctx)) return true;
    if (WaitsForContent(code, sig))
      ctx->LeadTextPending = sig == kSigRowHeight ? kAwaitingCell : 1;
    else
      *status = Insert(data, sig, length, ctx, true);
    return true;
  }
  switch (code) {
    case 2387:
    case 2388:
      // With link options the element becomes the link's content and its end
      // closes the link; without them the call only removes text groupings.
      if (!ctx->Text1 || !*ctx->Text1) return false;
      *status = ComposeLinkHotspotFromOptions(ctx->Text1, ctx->SubCode, ctx, 0,
                                              code == 2387 ? 1 : 0);
      if (*status == 0) ctx->Item->modified = 1;
      return true;
    case 2394:
      ctx->TargetDone = 0;
      return true;
    case 2404: {
      NnStatus st = 0;
      if (!IsText(ctx->PreviousSignature)) st = EmitEmptyText(ctx);
      if (st == 0) st = ComposeSection(ctx, 0, 0);
      *status = st;
      return true;
    }
    case 2422:
      // The table operation gives a pre-table record without its group one
      // (with the attribute record inside); a second pre-table record here
      // would leave the table with two.
      return true;
    case 2437:
      ctx->GraphicBeginOpen = 0;
      return false;  // the property family sets the records themselves
    case 41:
    case 42:
      // A row or cell target begins inside its table: its level is the one
      // whose labels are read and changed. Any other target has the labels
      // of the first table it holds, and none when it holds no table.
      if (!ctx->PropFirstLevel && RowOrCellTarget(ctx)) {
        ctx->PropTableDepth = 1;
        ctx->PropFirstLevel = 1;
      }
      return true;
    case 2601:
    case 2602:
    case 2603:
      CellQuery(data, sig, length, ctx);
      return true;
    case 2615:
      if (ctx->HotspotDepth > 0) ++ctx->Session->globals->counter1;
      return true;
    case 2330:
      ctx->Session->globals->recordTypeValue = sig;
      return true;
    default:
      return false;
  }
}

// Text set on an element without a run goes at its end: in a range, a
// paragraph, a cell, a row or a table; nowhere in other elements.
bool TakesTextAtItsEnd(const RTProcessContext* ctx) {
  const chunkdef_info* inner = InnermostCallNode(ctx);
  if (!inner || inner->relation != REL_CONTAINS) return true;
  switch (inner->targetType) {
    case EVERYTHING: case TABLE: case ROW: case COLUMN: case PARAGRAPH: case PARAGRAPHLIST:
    case PAGEBREAK:
      return true;
    default:
      return false;
  }
}

// The copy of the element's ending record when the walk has written it as
// the element's own (a table's end): what goes at the element's end goes
// before it.
RTRecordNode* WrittenEndingRecord(const uint8_t* data, uint16_t sig, uint32_t length,
                                  const RTProcessContext* ctx) {
  RTRecordNode* last = ctx->Compose.newList ? ctx->Compose.newList->last : nullptr;
  const bool written = ctx->RecordHandled && ctx->CurrentNode && ctx->CurrentNode->data == data;
  return written && last && last->signature == sig && last->length == length ? last : nullptr;
}

void MoveToEnd(RecordList* list, RTRecordNode* node) {
  if (!list || !node || list->last == node) return;
  (node->prev ? node->prev->next : list->first) = node->next;
  node->next->prev = node->prev;
  node->prev = list->last;
  node->next = nullptr;
  list->last->next = node;
  list->last = node;
}

bool ElementEndBlock(uint8_t* data, uint16_t sig, uint32_t length, RTProcessContext* ctx,
                     NnStatus* status) {
  const uint16_t code = ctx->OperationCode;
  if (IsInsertion(code)) {
    if (ctx->LeadTextPending) {
      *status = PlaceWaitingInsertion(data, sig, length, true, ctx);
      return true;
    }
    *status = InsertsBefore(ctx) ? 0 : Insert(data, sig, length, ctx, false);
    return true;
  }
  NnStatus st = 0;
  switch (code) {
    case STEP_TEXT_SET: {
      // A target that holds no text run (an empty paragraph or cell) takes
      // the text at its end, so that the value set reads back; one that
      // cannot hold text there (a picture, a button) refuses it.
      if (ctx->TargetDone) return false;
      if (!TakesTextAtItsEnd(ctx)) {
        st = NN_ERR_INVALID_ARG;
        break;
      }
      RTRecordNode* ending = WrittenEndingRecord(data, sig, length, ctx);
      st = TextRun(ctx);
      if (st == 0 && ending) MoveToEnd(ctx->Compose.newList, ending);
      if (st == 0) {
        ctx->TargetDone = 1;
        ctx->SetRecordMet = 1;
        ctx->Item->changed = 1;
      }
      break;
    }
    case 2387:
    case 2388:
      if (ctx->Text1 && *ctx->Text1) st = EmitHotspotEnd(ctx, 0xAE, 1);
      break;
    case 2404:
      st = EmitHotspotEnd(ctx, 0xAE, 1);
      if (st == 0) st = EmitParagraphStart(ctx);
      if (st == 0) st = EmitReferenceInForce(ctx);
      if (st == 0) st = EmitEmptyText(ctx);
      break;
    case 2422:
      if (!(ctx->InsertOnceDone & 0x1) && (ctx->Number1 == 0 || ctx->Number1 == 2) &&
          ctx->Chunk && (ctx->Chunk->targetType == ROW || ctx->Chunk->targetType == COLUMN)) {
        const char* strings[6] = {};
        // The sub-code names the string as the table operation reads it:
        // 1 Name, 2 ID, 3 Class, 4 Style, 5 Title, any other Other.
        static constexpr int kSlot[6] = {4, 5, 0, 1, 2, 3};
        strings[kSlot[ctx->SubCode <= 5 ? ctx->SubCode : 0]] = ctx->Text2;
        st = ComposeHtmlAttributes(0xFF7B, strings, ctx);
        if (st == 0) ctx->InsertOnceDone |= 0x1;
      }
      break;
    // 2447 puts its hotspot around the picture itself (image hotspot family).
    case 36: {
      // The margin asked for, in inches, where the reader of the property
      // finds it (the link text of its group) and in the result text.
      const uint32_t twips = ctx->SubCode == 2604 ? ctx->PropMaxRight : ctx->PropMinLeft;
      char text[32];
      const int n = std::snprintf(text, sizeof text, "%5.3f", twips / 1440.0);
      std::snprintf(ctx->Session->LinkText, kTextBufferSize, "%s", text);
      ctx->Session->SetResultText(text, uint32_t(n));
      *status = 0;
      return true;
    }
    case 42:
      // Once a call, when the row or cell held no label to change and none
      // was composed for it (a row of one column, the first cell): the label
      // record closes it, before the row's next cell.
      if (!(ctx->InsertOnceDone & 0x8) && !ctx->TargetDone && RowOrCellTarget(ctx)) {
        uint8_t label[140] = {};
        PutU16(label, 0, 0xFFE3);
        PutU16(label, 2, sizeof label);
        const char* text = ctx->Text1 ? ctx->Text1 : "";
        uint32_t n = ctx->Number1 ? uint32_t(strnlen(text, ctx->Number1)) : uint32_t(std::strlen(text));
        if (n > 127) n = 127;
        std::memcpy(label + 4, text, n);
        st = AppendRecord(label, 0xFFE3, sizeof label, &ctx->Compose);
        if (st == 0) {
          ctx->InsertOnceDone |= 0x8;
          ctx->TargetDone = 1;
          ctx->SetRecordMet = 1;
          ctx->Item->changed = 1;
        }
      }
      break;
    case 2437:
      if (ctx->Text1 && (ctx->SubCode == 4 || ctx->SubCode == 15 || ctx->SubCode == 29)) {
        st = ComposeElementOptions(ctx->SubCode, ctx->Text1, ctx);
        break;
      }
      return false;
    default:
      return false;
  }
  if (st == 0 && ctx->WriteMode) ctx->Item->modified = 1;
  *status = st;
  return true;
}

const OperationFamily kInsertOps = {"insertions", nullptr, nullptr, AtTargetBlock, RecordBlock,
                                    ElementEndBlock, nullptr};

}  // namespace

KV_REGISTER_OPERATION_FAMILY(kInsertOps);

// Stand-ins for the importer's entries until its implementation is linked in:
// weak, so the importer's own definitions replace them. They refuse, so an
// import never reports success without having imported anything.
__attribute__((weak)) NnStatus ImportHTMLFromFile(const char*, const char*, ComposeContext*) {
  return NN_ERR_INVALID_ARG;
}
__attribute__((weak)) NnStatus ImportHTMLFromBuffer(const char*, uint32_t, const char*,
                                                    ComposeContext*, const HtmlMimeBody*, int) {
  return NN_ERR_INVALID_ARG;
}
__attribute__((weak)) NnStatus ImportPendingMimeBodies(const HtmlMimeBody*, const HtmlMimeBody*,
                                                       const char*, ComposeContext*) {
  return NN_ERR_INVALID_ARG;
}
__attribute__((weak)) NnStatus EmitTextParagraph(const char*, uint32_t, ComposeContext*) {
  return NN_ERR_INVALID_ARG;
}
__attribute__((weak)) int FindEditFilter(LSXLsiSession*, const char*, char* filterOut,
                                         uint32_t filterSize, char* nameOut, uint32_t nameSize,
                                         int) {
  if (filterOut && filterSize) *filterOut = 0;
  if (nameOut && nameSize) *nameOut = 0;
  return 0;
}
__attribute__((weak)) NnStatus ImportImageViaFilter(ComposeContext*, const char*, const char*,
                                                    const char*, char* recordFileOut,
                                                    uint32_t recordFileSize) {
  if (recordFileOut && recordFileSize) *recordFileOut = 0;
  return NN_ERR_INVALID_ARG;
}
