// Graphic composers (images from files and bytes, horizontal rules, attachment
// icons, element options of graphics and layers) and the copy of another
// item's or range's records into the composition.
#include <strings.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "host/fonts.h"
#include "host/noteops.h"
#include "host/options.h"
#include "lsxsessi.h"
#include "richtext/compose/composers.h"
#include "richtext/compose/composeutil.h"
#include "richtext/engine/rtproc.h"
#include "richtext/engine/tablerows.h"
#include "richtext/item/cdlayout.h"
#include "richtext/item/itemhelpers.h"
#include "richtext/item/recordutil.h"
#include "rtchunk.h"
#include "rtitem.h"

using namespace kv::compose;

namespace {

constexpr uint32_t kSegmentData = 10240;
constexpr uint32_t kMaxImageBytes = 32u * 1024 * 1024;

bool PngPixelSize(const uint8_t* d, size_t n, uint16_t* w, uint16_t* h) {
  if (n < 24 || std::memcmp(d, "\x89PNG\r\n\x1a\n", 8) != 0) return false;
  uint32_t W = uint32_t(d[16]) << 24 | uint32_t(d[17]) << 16 | uint32_t(d[18]) << 8 | d[19];
  uint32_t H = uint32_t(d[20]) << 24 | uint32_t(d[21]) << 16 | uint32_t(d[22]) << 8 | d[23];
  *w = uint16_t(W > 65535 ? 65535 : W);
  *h = uint16_t(H > 65535 ? 65535 : H);
  return true;
}

NnStatus EmitAltText(const char* text, RTProcessContext* ctx) {
  const uint32_t n = uint32_t(std::strlen(text));
  if (n > 4096) return NN_ERR_INVALID_ARG;
  RecordBuffer rec(ctx->Session, 12 + n + 1);
  if (!rec.ok()) return NN_ERR_MEMORY;
  PutU16(rec.data(), 0, 0xFFCA);
  PutU16(rec.data(), 2, uint16_t(12 + n));
  PutU16(rec.data(), 4, uint16_t(n));
  std::memcpy(rec.data() + 12, text, n);
  return AppendRecord(rec.data(), 0xFFCA, 12 + n, &ctx->Compose);
}

bool ReadWholeFile(const char* path, std::vector<uint8_t>* out) {
  FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  bool ok = true;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
    if (out->size() + n > kMaxImageBytes) {
      ok = false;
      break;
    }
    out->insert(out->end(), buf, buf + n);
  }
  if (std::ferror(f)) ok = false;
  std::fclose(f);
  return ok;
}

}  // namespace

uint16_t PictureType(const uint8_t* d, size_t n, uint16_t* w, uint16_t* h) {
  *w = *h = 0;
  if (!d || n < 4) return 0;
  if (PngPixelSize(d, n, w, h)) return kImageTypePng;
  if (d[0] == 'G' && d[1] == 'I' && d[2] == 'F')
    return ImageDataPixelSize(d, uint32_t(n), w, h) ? kImageTypeGif : 0;
  if (d[0] == 0xFF && d[1] == 0xD8)
    return ImageDataPixelSize(d, uint32_t(n), w, h) ? kImageTypeJpeg : 0;
  return 0;
}

NnStatus EmitImageRecords(const uint8_t* data, size_t size, uint16_t type, uint16_t width,
                          uint16_t height, RTProcessContext* ctx) {
  if (!ctx || !data || size == 0) return NN_ERR_INVALID_ARG;
  const uint32_t segments = uint32_t((size + kSegmentData - 1) / kSegmentData);
  uint8_t header[32] = {125, 0};
  PutU32(header, 4, 32);
  PutU16(header, 8, type);
  PutU16(header, 10, width);
  PutU16(header, 12, height);
  PutU32(header, 16, uint32_t(size));
  PutU32(header, 20, segments);
  NnStatus st = AppendRecord(header, 125, sizeof header, &ctx->Compose);
  if (st) return st;
  RecordBuffer seg(ctx->Session, 12 + kSegmentData);
  if (!seg.ok()) return NN_ERR_MEMORY;
  for (size_t at = 0; at < size && st == 0; at += kSegmentData) {
    const uint32_t n = uint32_t(size - at < kSegmentData ? size - at : kSegmentData);
    const uint32_t stored = (n + 1) & ~1u;  // segments stay even
    std::memset(seg.data(), 0, 12 + stored);
    PutU16(seg.data(), 0, 124);
    PutU32(seg.data(), 4, 12 + stored);
    PutU16(seg.data(), 8, uint16_t(n));
    PutU16(seg.data(), 10, uint16_t(stored));
    std::memcpy(seg.data() + 12, data + at, n);
    st = AppendRecord(seg.data(), 124, 12 + stored, &ctx->Compose);
  }
  return st;
}

NnStatus ComposeImageFromData(const uint8_t* data, size_t size, uint32_t kind,
                              RTProcessContext* ctx, const char* altText) {
  if (!ctx || !data || size == 0 || size > kMaxImageBytes || kind < 1 || kind > 3)
    return NN_ERR_INVALID_ARG;
  uint16_t w = 0, h = 0;
  // The bytes must be the picture the kind says; anything else is refused
  // rather than stored as an image nobody can show.
  const bool sized = kind == 3 ? PngPixelSize(data, size, &w, &h)
                               : ImageDataPixelSize(data, uint32_t(size), &w, &h);
  if (!sized) return NN_ERR_INVALID_ARG;
  const uint16_t imageType = kind == 1 ? kImageTypeGif : kind == 2 ? kImageTypeJpeg : kImageTypePng;

  NnStatus st = EmitBeginRecord(153, 0, &ctx->Compose);
  if (st == 0 && altText && *altText) st = EmitAltText(altText, ctx);
  if (st) return st;
  uint8_t graphic[32] = {153, 0};
  PutU32(graphic, 4, 32);
  PutU16(graphic, 8, w);
  PutU16(graphic, 10, h);
  graphic[26] = 2;  // version 2, and
  graphic[27] = 1;  // the display size is in pixels
  st = AppendRecord(graphic, 153, sizeof graphic, &ctx->Compose);
  if (st == 0) st = EmitImageRecords(data, size, imageType, w, h, ctx);
  if (st == 0) st = EmitEndRecord(153, 0, &ctx->Compose);
  if (st == 0) ctx->Item->modified = 1;
  return st;
}

NnStatus ComposeImageFromFile(const char* file, uint32_t kind, RTProcessContext* ctx,
                              const char* altText) {
  if (!ctx || !file || !*file) return NN_ERR_INVALID_ARG;
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(file, &bytes)) return NN_ERR_FILE_IO;
  if (bytes.empty()) return NN_ERR_INVALID_ARG;
  return ComposeImageFromData(bytes.data(), bytes.size(), kind, ctx, altText);
}

NnStatus ComposeImage(uint32_t kind, const char* file, const char* options, RTProcessContext* ctx) {
  if (!ctx || !file || !*file) return NN_ERR_INVALID_ARG;
  char alt[kOptionValueMax + 1] = {};
  GetOptionValue(options, "AltText=", alt);
  if (kind == 2) {
    // An image by address: a URL link hotspot whose shown text is the
    // alternate text (the address when there is none).
    const char* text = *alt ? alt : file;
    return ComposeLinkHotspot(text, uint32_t(std::strlen(text)), file,
                              uint32_t(std::strlen(file)), ctx);
  }
  const char* ext = FileExtension(file);
  uint32_t imageKind = !strcasecmp(ext, ".gif") ? 1
                       : (!strcasecmp(ext, ".jpg") || !strcasecmp(ext, ".jpeg")) ? 2
                       : !strcasecmp(ext, ".png") ? 3 : 0;
  // A name the note holds as an attachment comes from the attachment.
  if (ctx->Item && kv::NoteFindAttachmentName(ctx->Item->hNote, file, 0, nullptr, 0) == 0) {
    NnHandle h = 0;
    uint32_t size = 0;
    NnStatus st = NnNoteExtractFileToMemory(ctx->Item->hNote, file, &h, &size);
    if (st) return st;
    const uint8_t* p = static_cast<const uint8_t*>(NnMemLock(h));
    if (!imageKind && p && size >= 8)
      imageKind = p[0] == 'G' ? 1 : p[0] == 0xFF ? 2 : p[0] == 0x89 ? 3 : 0;
    st = p && imageKind ? ComposeImageFromData(p, size, imageKind, ctx, alt)
                         : NnStatus(NN_ERR_INVALID_ARG);
    NnMemUnlock(h);
    NnMemFree(h);
    return st;
  }
  if (!imageKind) return NN_ERR_INVALID_ARG;
  return ComposeImageFromFile(file, imageKind, ctx, alt);
}

NnStatus ComposeGraphicOptions(uint32_t kind, uint32_t /*number*/, const char* /*text*/,
                               const char* options, RTProcessContext* ctx) {
  if (!ctx) return NN_ERR_INVALID_ARG;
  if (kind != 1) return NN_ERR_INVALID_ARG;
  // A horizontal rule: "Width=" in twips (default the full width), "Height=".
  uint8_t rule[16] = {};
  PutU16(rule, 0, 0xFFC9);
  PutU16(rule, 2, 16);
  uint16_t width = 0, height = 60;
  char value[kOptionValueMax + 1] = {};
  if (GetOptionValue(options, "Width=", value)) width = uint16_t(std::strtoul(value, nullptr, 10));
  if (GetOptionValue(options, "Height=", value))
    height = uint16_t(std::strtoul(value, nullptr, 10));
  if (width == 0) {
    // The whole window width: the width is then a percentage.
    PutU32(rule, 4, 0x0004);
    width = 100;
  }
  PutU16(rule, 8, width);
  PutU16(rule, 10, height);
  NnStatus st = EmitParagraphStart(ctx);
  if (st == 0) st = EmitParagraphReference(ctx);
  if (st == 0) st = AppendRecord(rule, 0xFFC9, sizeof rule, &ctx->Compose);
  return st;
}

NnStatus ComposeAttachmentIcon(const char* path, const char* name, const char* caption,
                               int /*flag*/, const char* options, RTProcessContext* ctx) {
  if (!ctx || !ctx->Item || !name || !*name) return NN_ERR_INVALID_ARG;
  const uint32_t nameLength = uint32_t(std::strlen(name));
  if (nameLength > 255) return NN_ERR_INVALID_ARG;
  char already[kOptionValueMax + 1] = {};
  const bool attached =
      GetOptionValue(options, "AlreadyAttached=", already) && !strcasecmp(already, "Yes");
  if (!attached) {
    if (!path || !*path) return NN_ERR_INVALID_ARG;
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(path, &bytes)) return NN_ERR_FILE_IO;
    NnStatus st = NnNoteAttachData(ctx->Item->hNote, name, bytes.data(), uint32_t(bytes.size()));
    if (st) return st;
  }
  // The hotspot data: the attachment's name, its shown name, NUL-ended.
  const char* shown = caption && *caption ? caption : name;
  const uint32_t shownLength = uint32_t(std::strlen(shown));
  if (shownLength > 1024) return NN_ERR_INVALID_ARG;
  uint8_t rec[16 + 256 + 1025] = {};
  const uint32_t dataLength = nameLength + 1 + shownLength + 1;
  const uint32_t length = 16 + dataLength;
  PutU16(rec, 0, 0xFFA9);
  PutU16(rec, 2, uint16_t(length));
  PutU16(rec, 4, 4);  // file
  PutU16(rec, 12, uint16_t(dataLength));
  std::memcpy(rec + 16, name, nameLength);
  std::memcpy(rec + 16 + nameLength + 1, shown, shownLength);
  NnStatus st = AppendRecord(rec, 0xFFA9, length, &ctx->Compose);
  if (st) return st;
  ctx->Compose.hotspotOpen = 1;
  st = EmitTextRecord(shown, shownLength, nullptr, &ctx->Compose);
  if (st == 0) st = EmitHotspotEnd(ctx, 0xAA, 0);
  return st;
}

NnStatus ComposeElementOptions(uint32_t subCode, const char* options, RTProcessContext* ctx) {
  if (!ctx || !options) return NN_ERR_INVALID_ARG;
  char value[kOptionValueMax + 1] = {};
  NnStatus st = 0;
  if (subCode == 4 || subCode == 15) {
    if (!ctx->AltTextWritten && GetOptionValue(options, "AltText=", value)) {
      st = EmitAltText(value, ctx);
      if (st) return st;
      ctx->AltTextWritten = 1;
    }
    if (!ctx->CaptionWritten && GetOptionValue(options, "Caption=", value)) {
      const uint32_t n = uint32_t(std::strlen(value));
      if (n > 1024) return NN_ERR_INVALID_ARG;
      uint8_t rec[32 + 1025] = {};
      PutU16(rec, 0, 0xFF76);
      PutU16(rec, 2, uint16_t(32 + n));
      PutU16(rec, 4, uint16_t(n));
      char pos[kOptionValueMax + 1] = {};
      uint8_t position = 0;  // beneath the graphic
      if (GetOptionValue(options, "CaptionPosition=", pos)) {
        if (!strncasecmp(pos, "Center", 6)) position = 1;
        else if (!strncasecmp(pos, "Bottom", 6)) position = 2;
      }
      rec[6] = position;
      uint32_t font = CurrentFont(ctx);
      char fontSpec[kOptionValueMax + 1] = {};
      if (GetOptionValue(options, "CaptionFont=", fontSpec)) {
        FontState state;
        uint32_t mask = 0;
        if (ParseFontSpec(fontSpec, nullptr, ctx->Item, &state, &mask) == 0 && mask) {
          uint32_t color = 0;
          uint16_t highlight = 0;
          FontApplyChanges(&font, &color, &highlight, &state, mask);
        }
      }
      PutU32(rec, 8, font);
      std::memcpy(rec + 32, value, n);
      st = AppendRecord(rec, 0xFF76, 32 + n, &ctx->Compose);
      if (st) return st;
      ctx->CaptionWritten = 1;
    }
    if (!ctx->HtmlAttributesWritten && StrIStr(options, "GraphicHTML")) {
      bool written = false;
      st = ComposeHtmlAttributesFromOptions(0xFF7A, options, "Graphic", nullptr, true, ctx,
                                            &written);
      if (st) return st;
      ctx->HtmlAttributesWritten = 1;
    }
    if (!ctx->BorderWritten && StrIStr(options, "Border")) {
      uint8_t border[60];
      if (ParseBorderProperties(ctx->Session, 0xFFFC, border, sizeof border, options, 1) == 0) {
        GetOptionValue(options, "Border=", value);
        if (subCode == 15 && ctx->GraphicBeginOpen && strcasecmp(value, "Outer") != 0 &&
            !StrIStr(options, "BorderThickness")) {
          st = EmitEndRecord(153, 0, &ctx->Compose);
          if (st) return st;
          ctx->GraphicBeginOpen = 0;
        }
        st = AppendRecord(border, 0xFFFC, sizeof border, &ctx->Compose);
        if (st) return st;
        ctx->BorderWritten = 1;
      }
    }
    if (ctx->GraphicBeginOpen) {
      st = EmitEndRecord(153, 0, &ctx->Compose);
      if (st) return st;
      ctx->GraphicBeginOpen = 0;
    }
    return 0;
  }
  if (subCode == 29) {
    if (!ctx->HtmlAttributesWritten && StrIStr(options, "LayerHTML")) {
      bool written = false;
      st = ComposeHtmlAttributesFromOptions(0xFF7A, options, "Layer", nullptr, true, ctx, &written);
      if (st) return st;
      ctx->HtmlAttributesWritten = 1;
    }
    // The layer's background: read; a colour that does not parse is refused.
    if (GetOptionValue(options, "BackgroundColor=", value)) {
      ColorRGB rgb{};
      uint16_t index = 0;
      if (ParseColor(value, &index, &rgb) != 0) return NN_ERR_INVALID_ARG;
    }
    GetOptionValue(options, "BackgroundImage=", value);
    return 0;
  }
  return NN_ERR_INVALID_ARG;
}

namespace {

using kv::tables::IsCell;
using kv::tables::IsTableBegin;
using kv::tables::IsTableEnd;

// A row copied alone arrives in a table of its own: the frame of the table it
// stands in (the pre-table group, the table begin and end) is kept with it,
// and its cells are numbered as the table's first row.
void KeepTableFrame(RecordList* list, uint32_t first, uint32_t last) {
  RTRecordNode *from = nullptr, *to = nullptr;
  for (RTRecordNode* n = list->first; n; n = n->next) {
    if (n->sequence == first) from = n;
    if (n->sequence == last) to = n;
  }
  if (!from || !to) return;
  RTRecordNode* begin = kv::tables::OpenTableBegin(from->prev);
  RTRecordNode* end = kv::tables::TableEndOf(to);
  if (!begin || !end) return;
  begin->flags &= uint16_t(~kNodeDrop);
  end->flags &= uint16_t(~kNodeDrop);
  // The pre-table group (BEGIN, the pre-table record and its parts, END).
  uint16_t type = 0;
  RTRecordNode* n = begin->prev;
  if (n && n->signature == 222 && kv::cd::ReadU16(n->data, n->length, 4, &type) && type == 0xFFFB) {
    for (; n; n = n->prev) {
      n->flags &= uint16_t(~kNodeDrop);
      if (n->signature == 0xFFFB && n->length > 8) n->data[8] = 1;  // one row
      if (n->signature == 221) break;
    }
  }
  int nesting = 0;
  for (RTRecordNode* c = from; c; c = c->next) {
    if (IsCell(c->signature) && nesting == 0 && c->length > 2) c->data[2] = 0;
    if (IsTableBegin(c->signature)) ++nesting;
    if (IsTableEnd(c->signature) && nesting > 0) --nesting;
    if (c == to) break;
  }
}

}  // namespace

NnStatus InsertDesignElementContent(TorvoRTChunk*, RTProcessContext* ctx, uint32_t number) {
  if (!ctx || !ctx->Session || !ctx->Item) return NN_ERR_INVALID_ARG;
  LSXLsiSession* s = ctx->Session;
  SessionGlobals* g = s->globals;
  const uint16_t code = ctx->OperationCode;
  if (number == 0 || code == 2355 || code == 2396) {
    // A range of the item being walked, re-emitted as it is.
    if (!ctx->Records || ctx->RangeFirst == 0 || ctx->RangeLast < ctx->RangeFirst)
      return NN_ERR_INVALID_ARG;
    for (RTRecordNode* n = ctx->Records->first; n; n = n->next) {
      if (n->sequence < ctx->RangeFirst) continue;
      if (n->sequence > ctx->RangeLast) break;
      NnStatus st = AppendRecord(n->data, n->signature, n->length, &ctx->Compose);
      if (st) return st;
    }
    return 0;
  }
  // Another item's records: the chunk's item (2356), or the session's source
  // item (2357; the body of a design element for 2358, 2808, 2809).
  NnHandle hNote = 0;
  const char* name = nullptr;
  TorvoRTItem* sourceItem = nullptr;
  uint32_t first = 0, last = UINT32_MAX;
  if (code == 2356) {
    auto* other = static_cast<TorvoRTChunk*>(ctx->Extra);
    if (!other || !other->item) return NN_ERR_INVALID_ARG;
    sourceItem = other->item;
    hNote = sourceItem->hNote;
    name = sourceItem->itemName;
    first = g->FirstMatchRecord;
    last = g->LastMatchRecord;
    if (first == 0) return NN_ERR_INVALID_ARG;
  } else {
    hNote = g->srcNote;
    name = g->srcItemName;
  }
  if (!hNote || !name || !*name) return NN_ERR_INVALID_ARG;
  NnStatus st = 0;
  RecordList* list = RecordListLoadFromNote(s, hNote, name, &st);
  if (!list) return st ? st : NnStatus(NN_ERR_MEMORY);
  if (first || last != UINT32_MAX) {
    for (RTRecordNode* n = list->first; n; n = n->next)
      if (n->sequence < first || n->sequence > last) n->flags |= kNodeDrop;
    auto* other = static_cast<TorvoRTChunk*>(ctx->Extra);
    if (code == 2356 && other && other->targetType == ROW) KeepTableFrame(list, first, last);
  }
  st = AppendItemRecordsRenumbered(list, sourceItem, ctx->Item, &ctx->Compose, hNote);
  RecordListFreeWithAllocator(s, list);
  return st;
}
