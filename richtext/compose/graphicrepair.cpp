// Checking and repairing the records of one graphic: the graphic header 153,
// the picture's own header (image 125, bitmap 149 or metafile 158-160) and
// the segments and tables that follow it. Counts and sizes that disagree
// with the records actually present are the usual damage (a segment lost in
// a copy, a header written before the data was complete); they are
// recomputed from the records, which are what the picture is made of.
#include <cstddef>
#include <cstring>
#include <vector>

#include "host/pool.h"
#include "lsxsessi.h"
#include "richtext/compose/composers.h"
#include "richtext/compose/composeutil.h"
#include "richtext/engine/rtproc.h"
#include "richtext/item/cdlayout.h"
#include "richtext/item/recordutil.h"
#include "rtitem.h"

using namespace kv::compose;

namespace {

using kv::cd::U16;
using kv::cd::U32;

constexpr uint16_t kSigGraphic = 153, kSigBegin = 221, kSigEnd = 222;
constexpr uint16_t kSigImageHeader = 125, kSigImageSegment = 124;
constexpr uint16_t kSigBitmapHeader = 149, kSigBitmapSegment = 150, kSigColorTable = 151,
                   kSigPatternTable = 152, kSigTransparent = 197;
constexpr uint16_t kSigPmMetaSeg = 154, kSigWinMetaSeg = 155, kSigMacMetaSeg = 156,
                   kSigCgmMeta = 157, kSigPmMetaHeader = 158, kSigWinMetaHeader = 159,
                   kSigMacMetaHeader = 160;
constexpr uint16_t kSigResource = 0xFFF6;  // a named image resource

// Host layouts (long headers: the length word at 4, fields after 8).
constexpr uint32_t kGraphicFixed = kv::cd::host::kGraphicFixed;  // 32
constexpr uint32_t kImageHeaderFixed = 32, kImageType = 8, kImageWidth = 10, kImageHeight = 12,
                   kImageDataSize = 16, kImageSegCount = 20;
constexpr uint32_t kSegmentFixed = 12, kSegmentDataSize = 8, kSegmentSize = 10;
constexpr uint32_t kBitmapFixed = 40, kBitmapSegCount = 34, kBitmapColorCount = 36,
                   kBitmapPatternCount = 38;
constexpr uint32_t kBitmapSegmentFixed = 20, kBitmapSegmentDataSize = 18;
constexpr uint32_t kTableFixed = 8, kColorEntry = 3, kPatternEntry = 24;
constexpr uint32_t kMetaHeaderFixed = 28, kMetaSize = 20, kMetaSegCount = 24;
constexpr uint32_t kMacHeaderFixed = 20, kMacSize = 12, kMacSegCount = 16;

using kv::cd::Put16;
using kv::cd::Put32;

// Records that may follow a graphic header as part of it.
bool PartOfGraphic(uint16_t s) {
  switch (s) {
    case kSigImageHeader: case kSigImageSegment: case kSigBitmapHeader: case kSigBitmapSegment:
    case kSigColorTable: case kSigPatternTable: case kSigTransparent: case kSigPmMetaSeg:
    case kSigWinMetaSeg: case kSigMacMetaSeg: case kSigCgmMeta: case kSigPmMetaHeader:
    case kSigWinMetaHeader: case kSigMacMetaHeader:
    case 0x0052:  // image header of the second kind
    case 0xFFCA:  // alternate text
    case kSigResource:
    case 0xFF76:  // caption
    case 0xFF7A:  // HTML attributes
    case 0x0062:
      return true;
    default:
      return false;
  }
}

bool IsMetaSegment(uint16_t s) {
  return s == kSigPmMetaSeg || s == kSigWinMetaSeg || s == kSigMacMetaSeg;
}

// One record of the repaired sequence: the original, or a changed copy.
struct Piece {
  const RTRecordNode* node = nullptr;  // null for a record made here
  std::vector<uint8_t> copy;           // the record to emit when changed or made
  uint16_t signature = 0;
};

struct Repair {
  std::vector<Piece> pieces;
  uint32_t faults = 0;
  bool unrepairable = false;
  const RTRecordNode* last = nullptr;  // last record consumed
};

std::vector<uint8_t> CopyOf(const RTRecordNode* n) {
  return std::vector<uint8_t>(n->data, n->data + n->length);
}

// Image segments: each keeps its data within its record.
bool CheckSegment(const RTRecordNode* n, uint32_t fixed, uint32_t dataSizeAt, int32_t segSizeAt,
                  Piece* piece, uint32_t* used, Repair* r) {
  if (n->length < fixed || !n->data) {
    ++r->faults;  // a segment without room for its own header: dropped
    return false;
  }
  const uint32_t room = n->length - fixed;
  uint32_t dataSize = U16(n->data, n->length, dataSizeAt);
  uint32_t segSize = segSizeAt >= 0 ? U16(n->data, n->length, uint32_t(segSizeAt)) : room;
  bool changed = false;
  // An odd amount of data is stored with its segment size rounded up to
  // even: the pad byte lies after the record, outside it.
  if (segSize > room + 1 || (segSize == room + 1 && room % 2 == 0)) {
    segSize = room;
    changed = true;
  }
  if (dataSize > room || dataSize > segSize) {
    dataSize = segSize < room ? segSize : room;
    changed = true;
  }
  if (changed) {
    ++r->faults;
    piece->copy = CopyOf(n);
    Put16(piece->copy.data(), dataSizeAt, uint16_t(dataSize));
    if (segSizeAt >= 0) Put16(piece->copy.data(), uint32_t(segSizeAt), uint16_t(segSize));
  }
  *used = dataSize;
  return dataSize > 0;
}

// The picture type of image data by its first bytes: 1 GIF, 2 JPEG, 4 PNG, 3 BMP; 0 unknown.
uint16_t DataImageType(const uint8_t* d, uint32_t n) {
  if (n >= 6 && std::memcmp(d, "GIF8", 4) == 0) return 1;
  if (n >= 3 && d[0] == 0xFF && d[1] == 0xD8 && d[2] == 0xFF) return 2;
  if (n >= 8 && std::memcmp(d, "\x89PNG\r\n\x1a\n", 8) == 0) return 4;
  if (n >= 2 && d[0] == 'B' && d[1] == 'M') return 3;
  return 0;
}

bool DataPixelSize(const uint8_t* d, uint32_t n, uint16_t* w, uint16_t* h) {
  if (n >= 24 && std::memcmp(d, "\x89PNG\r\n\x1a\n", 8) == 0) {
    const uint32_t W = uint32_t(d[16]) << 24 | uint32_t(d[17]) << 16 | uint32_t(d[18]) << 8 | d[19];
    const uint32_t H = uint32_t(d[20]) << 24 | uint32_t(d[21]) << 16 | uint32_t(d[22]) << 8 | d[23];
    *w = uint16_t(W > 0xFFFF ? 0xFFFF : W);
    *h = uint16_t(H > 0xFFFF ? 0xFFFF : H);
    return *w && *h;
  }
  return ImageDataPixelSize(d, n, w, h) && *w && *h;
}

// Image header 125 (made when missing) and its segments 124.
void CheckImage(const RTRecordNode* header, const std::vector<const RTRecordNode*>& segments,
                bool resource, Repair* r, uint16_t* pixelW, uint16_t* pixelH) {
  Piece head;
  head.signature = kSigImageHeader;
  if (header) {
    head.node = header;
    if (header->length < kImageHeaderFixed) {
      r->unrepairable = true;
      return;
    }
  }
  std::vector<Piece> segs;
  uint64_t total = 0;
  const uint8_t* firstData = nullptr;
  uint32_t firstSize = 0;
  for (const RTRecordNode* n : segments) {
    Piece p;
    p.node = n;
    p.signature = kSigImageSegment;
    uint32_t used = 0;
    if (!CheckSegment(n, kSegmentFixed, kSegmentDataSize, int32_t(kSegmentSize), &p, &used, r)) {
      if (n->length >= kSegmentFixed) ++r->faults;  // an empty segment carries nothing
      continue;
    }
    if (!firstData) {
      firstData = n->data + kSegmentFixed;
      firstSize = used;
    }
    total += used;
    segs.push_back(std::move(p));
  }
  if (segs.empty() && header && resource) {
    // The picture is a shared image resource that the graphic names: the
    // header describes it and carries no data of its own.
    r->pieces.push_back(std::move(head));
    return;
  }
  if (segs.empty() || total > 0xFFFFFFFFu) {
    r->unrepairable = true;  // no picture data left to show
    return;
  }
  if (!header) {
    // Segments without their header: one is made from the data itself.
    const uint16_t type = DataImageType(firstData, firstSize);
    if (!type) {
      r->unrepairable = true;
      return;
    }
    ++r->faults;
    head.copy.assign(kImageHeaderFixed, 0);
    Put16(head.copy.data(), 0, kSigImageHeader);
    Put32(head.copy.data(), 4, kImageHeaderFixed);
    Put16(head.copy.data(), kImageType, type);
  }
  auto& h = head.copy.empty() ? (head.copy = CopyOf(header)) : head.copy;
  bool changed = !header;
  if (U32(h.data(), h.size(), kImageDataSize) != uint32_t(total)) {
    Put32(h.data(), kImageDataSize, uint32_t(total));
    changed = true;
  }
  if (U32(h.data(), h.size(), kImageSegCount) != segs.size()) {
    Put32(h.data(), kImageSegCount, uint32_t(segs.size()));
    changed = true;
  }
  // A size of nothing in a stored header means the picture's own size; a
  // header made here takes it from the data.
  uint16_t w = U16(h.data(), h.size(), kImageWidth), hh = U16(h.data(), h.size(), kImageHeight);
  if (!header && DataPixelSize(firstData, firstSize, &w, &hh)) {
    Put16(h.data(), kImageWidth, w);
    Put16(h.data(), kImageHeight, hh);
    changed = true;
  }
  if (changed && header) ++r->faults;
  if (!changed) head.copy.clear();
  *pixelW = w;
  *pixelH = hh;
  r->pieces.push_back(std::move(head));
  for (Piece& p : segs) r->pieces.push_back(std::move(p));
}

// Bitmap header 149, its tables and segments.
void CheckBitmap(const RTRecordNode* header, const std::vector<const RTRecordNode*>& parts,
                 Repair* r, uint16_t* pixelW, uint16_t* pixelH) {
  if (header->length < kBitmapFixed) {
    r->unrepairable = true;
    return;
  }
  Piece head;
  head.node = header;
  head.signature = kSigBitmapHeader;
  std::vector<Piece> rest;
  uint32_t segCount = 0, colors = 0, patterns = 0;
  bool colorTable = false, patternTable = false;
  for (const RTRecordNode* n : parts) {
    Piece p;
    p.node = n;
    p.signature = n->signature;
    if (n->signature == kSigBitmapSegment) {
      uint32_t used = 0;
      if (!CheckSegment(n, kBitmapSegmentFixed, kBitmapSegmentDataSize, -1, &p, &used, r)) {
        if (n->length >= kBitmapSegmentFixed) ++r->faults;
        continue;
      }
      ++segCount;
    } else if (n->signature == kSigColorTable || n->signature == kSigPatternTable) {
      if (n->length < kTableFixed) {
        ++r->faults;
        continue;
      }
      const uint32_t entries =
          (n->length - kTableFixed) / (n->signature == kSigColorTable ? kColorEntry : kPatternEntry);
      if (n->signature == kSigColorTable) {
        colors = entries;
        colorTable = true;
      } else {
        patterns = entries;
        patternTable = true;
      }
    }
    rest.push_back(std::move(p));
  }
  if (segCount == 0) {
    r->unrepairable = true;
    return;
  }
  head.copy = CopyOf(header);
  uint8_t* h = head.copy.data();
  bool changed = false;
  auto fix = [&](uint32_t at, uint32_t value) {
    if (value > 0xFFFF) value = 0xFFFF;
    if (U16(h, head.copy.size(), at) != value) {
      Put16(h, at, uint16_t(value));
      changed = true;
    }
  };
  fix(kBitmapSegCount, segCount);
  // A count beyond its table would read past it; a table longer than its
  // count only carries unused entries.
  if (!colorTable || U16(h, head.copy.size(), kBitmapColorCount) > colors) fix(kBitmapColorCount, colorTable ? colors : 0);
  if (!patternTable || U16(h, head.copy.size(), kBitmapPatternCount) > patterns)
    fix(kBitmapPatternCount, patternTable ? patterns : 0);
  if (changed) ++r->faults;
  else head.copy.clear();
  *pixelW = U16(header->data, header->length, 24);
  *pixelH = U16(header->data, header->length, 26);
  r->pieces.push_back(std::move(head));
  for (Piece& p : rest) r->pieces.push_back(std::move(p));
}

// Metafile header (158, 159 or 160) and its segments.
void CheckMetafile(const RTRecordNode* header, const std::vector<const RTRecordNode*>& segments,
                   Repair* r) {
  const bool mac = header->signature == kSigMacMetaHeader;
  const uint32_t fixed = mac ? kMacHeaderFixed : kMetaHeaderFixed;
  const uint32_t sizeAt = mac ? kMacSize : kMetaSize, countAt = mac ? kMacSegCount : kMetaSegCount;
  if (header->length < fixed) {
    r->unrepairable = true;
    return;
  }
  Piece head;
  head.node = header;
  head.signature = header->signature;
  std::vector<Piece> segs;
  uint64_t total = 0;
  for (const RTRecordNode* n : segments) {
    Piece p;
    p.node = n;
    p.signature = n->signature;
    uint32_t used = 0;
    if (!CheckSegment(n, kSegmentFixed, kSegmentDataSize, int32_t(kSegmentSize), &p, &used, r)) {
      if (n->length >= kSegmentFixed) ++r->faults;
      continue;
    }
    total += used;
    segs.push_back(std::move(p));
  }
  if (segs.empty() || total > 0xFFFFFFFFu) {
    r->unrepairable = true;
    return;
  }
  head.copy = CopyOf(header);
  bool changed = false;
  if (U32(head.copy.data(), head.copy.size(), sizeAt) != uint32_t(total)) {
    Put32(head.copy.data(), sizeAt, uint32_t(total));
    changed = true;
  }
  if (U16(head.copy.data(), head.copy.size(), countAt) != segs.size()) {
    Put16(head.copy.data(), countAt, uint16_t(segs.size() > 0xFFFF ? 0xFFFF : segs.size()));
    changed = true;
  }
  if (changed) ++r->faults;
  else head.copy.clear();
  r->pieces.push_back(std::move(head));
  for (Piece& p : segs) r->pieces.push_back(std::move(p));
}

// The records after the graphic header, rendition by rendition: a graphic
// may carry its picture in several forms (an image, a bitmap, metafiles),
// each a header with the records of its kind after it. Other records (alt
// text, caption, resource link) keep their places.
void CheckPicture(const RTRecordNode* graphic, Repair* r, uint16_t* pixelW, uint16_t* pixelH) {
  std::vector<const RTRecordNode*> parts;
  for (const RTRecordNode* n = graphic->next; n && PartOfGraphic(n->signature); n = n->next) {
    parts.push_back(n);
    r->last = n;
  }
  bool resource = false;
  for (const RTRecordNode* n : parts) resource |= n->signature == kSigResource;
  bool picture = false;
  size_t i = 0;
  auto collect = [&](auto belongs) {
    std::vector<const RTRecordNode*> out;
    for (; i < parts.size() && belongs(parts[i]->signature); ++i) out.push_back(parts[i]);
    return out;
  };
  while (i < parts.size() && !r->unrepairable) {
    const RTRecordNode* n = parts[i];
    const uint16_t s = n->signature;
    if (s == kSigImageHeader || s == kSigImageSegment) {
      const RTRecordNode* header = s == kSigImageHeader ? parts[i++] : nullptr;
      auto segments = collect([](uint16_t x) { return x == kSigImageSegment; });
      CheckImage(header, segments, resource, r, pixelW, pixelH);
      picture = true;
    } else if (s == kSigBitmapHeader) {
      ++i;
      auto rest = collect([](uint16_t x) {
        return x == kSigBitmapSegment || x == kSigColorTable || x == kSigPatternTable ||
               x == kSigTransparent;
      });
      CheckBitmap(n, rest, r, pixelW, pixelH);
      picture = true;
    } else if (s == kSigPmMetaHeader || s == kSigWinMetaHeader || s == kSigMacMetaHeader) {
      ++i;
      auto segments = collect([](uint16_t x) { return IsMetaSegment(x); });
      CheckMetafile(n, segments, r);
      picture = true;
    } else {
      Piece p;
      p.node = n;
      p.signature = s;
      r->pieces.push_back(std::move(p));
      picture |= s == kSigCgmMeta || s == kSigResource;
      ++i;
    }
  }
  if (!picture) r->unrepairable = true;  // nothing to show
}

// Whether the graphic opened by a BEGIN before it is closed by its END after
// the consumed records.
bool MissingEnd(const RTRecordNode* graphic, const RTRecordNode* last) {
  const RTRecordNode* begin = graphic->prev;
  if (!begin || begin->signature != kSigBegin || U16(begin->data, begin->length, 4) != kSigGraphic)
    return false;
  const RTRecordNode* after = last ? last->next : graphic->next;
  // Records between the picture and its END (captions, HTML attributes) are allowed.
  for (const RTRecordNode* n = after; n; n = n->next) {
    if (n->signature == kSigEnd) return U16(n->data, n->length, 4) != kSigGraphic;
    if (n->signature == kSigBegin || n->signature == kSigGraphic || n->signature == 129 ||
        n->signature == 0xFF85 || n->signature == 163 || n->signature == 165)
      return true;
  }
  return true;
}

}  // namespace

NnStatus RepairGraphicRecords(const uint8_t* data, uint16_t signature, uint32_t length,
                              RTProcessContext* ctx) {
  if (!ctx || !data || signature != kSigGraphic) return NN_ERR_INVALID_ARG;
  const RTRecordNode* graphic = ctx->CurrentNode;
  if (!graphic || graphic->data != data || graphic->length != length) return NN_ERR_INVALID_ARG;
  if (length < kGraphicFixed) return NN_ERR_CD_STRUCTURE;

  // A destination size of nothing is not damage: it shows the picture at
  // its own size.
  Repair r;
  uint16_t pixelW = 0, pixelH = 0;
  Piece head;
  head.node = graphic;
  head.signature = kSigGraphic;
  r.pieces.reserve(8);
  CheckPicture(graphic, &r, &pixelW, &pixelH);
  if (r.unrepairable) return NN_ERR_CD_STRUCTURE;
  const bool closeIt = MissingEnd(graphic, r.last);
  if (closeIt) ++r.faults;

  if (!ctx->WriteMode) return r.faults ? NN_ERR_CD_STRUCTURE : 0;

  // The repaired sequence.
  ComposeContext* c = &ctx->Compose;
  auto emit = [c](const Piece& p) {
    return p.copy.empty() ? AppendRecord(p.node->data, p.signature, p.node->length, c)
                          : AppendRecord(p.copy.data(), p.signature, uint32_t(p.copy.size()), c);
  };
  NnStatus st = emit(head);
  for (size_t i = 0; st == 0 && i < r.pieces.size(); ++i) st = emit(r.pieces[i]);
  if (st == 0 && closeIt) st = EmitEndRecord(kSigGraphic, 0, c);
  if (st) return st;

  // The consumed records must not be copied again, whether the walk hands
  // them to the handler (inside the target) or copies them as a run.
  if (r.last) {
    ctx->SkipThroughRecord = r.last->sequence;
    for (RTRecordNode* n = graphic->next; n; n = n->next) {
      n->flags |= kNodeDrop;
      if (n == r.last) break;
    }
    ctx->DropMarks.item = ctx->Item;
    ctx->DropMarks.list = ctx->Records;
  }
  if (r.faults && ctx->Item) ctx->Item->modified = 1;
  return 0;
}
