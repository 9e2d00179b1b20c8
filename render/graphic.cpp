// The graphic writer: an image element for a graphic record, its source an
// inline data URI, a file in the image directory or a MIME content identifier.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/base64.h"
#include "host/fileops.h"
#include "host/pool.h"
#include "render/render.h"
#include "richtext/item/cdlayout.h"
#include "richtext/item/recordlist.h"
#include "richtext/item/recordutil.h"
#include "rtitem.h"

namespace {

using kv::cd::ReadU16;
using kv::cd::ReadU32;

constexpr uint16_t kGraphic = 0x0099, kImageHeader = 0x007D, kImageSegment = 0x007C;
constexpr uint16_t kBitmapHeader = 0x0095, kAltText = 0xFFCA, kLinkTarget = 0xFFF6;
constexpr uint16_t kCaption = 0xFF76, kIdName = 0xFF7A;
constexpr uint32_t kMaxImageBytes = 32u * 1024 * 1024;

struct Image {
  std::vector<uint8_t> bytes;   // the joined image segments
  uint16_t imageType = 0;       // of the image header: 1 GIF, 2 JPEG, 3 BMP ...
  bool bitmap = false;          // raw bitmap or metafile records: not rendered
  const char* alt = nullptr;
  size_t altLen = 0;
  const char* resource = nullptr;  // a named image resource
  size_t resourceLen = 0;
  const RTRecordNode* attributes = nullptr;  // its HTML attributes (0xFF7A)
  const char* caption = nullptr;
  size_t captionLen = 0;
  bool captionCentred = false;  // over the picture's middle, else below it
};

// A record's text of `len` bytes from `at`, bounded by the record, without
// the NULs that end it.
size_t BoundedText(const RTRecordNode* n, uint32_t at, uint16_t len, const char** text) {
  if (at > n->length) return 0;
  size_t size = len > n->length - at ? n->length - at : len;
  *text = reinterpret_cast<const char*>(n->data + at);
  while (size && (*text)[size - 1] == 0) --size;
  return size;
}

// The END of the picture's own group (a BEGIN for the graphic right before
// it), nested groups stepped over; null when it stands in none.
const RTRecordNode* OwnGroupEnd(const RenderContext* ctx, const RTRecordNode* graphic) {
  const RTRecordNode* begin = graphic->prev;
  uint16_t object = 0;
  if (!begin || begin->signature != 0x00DD || !ReadU16(begin->data, begin->length, 4, &object) ||
      object != kGraphic)
    return nullptr;
  int depth = 0;
  for (const RTRecordNode* n = graphic->next; RecordInRange(ctx, n); n = n->next) {
    if (n->signature == 0x00DD) ++depth;
    if (n->signature == 0x00DE && depth-- == 0) return n;
  }
  return nullptr;
}

}  // namespace

const RTRecordNode* PictureRecordsEnd(const RenderContext* ctx, const RTRecordNode* graphic) {
  if (const RTRecordNode* end = OwnGroupEnd(ctx, graphic)) return end;
  const RTRecordNode* n = graphic->next;
  while (RecordInRange(ctx, n) && IsGraphicRecord(n->signature)) n = n->next;
  return n;
}

namespace {

void ReadGraphic(const RenderContext* ctx, const RTRecordNode* graphic, Image* img) {
  uint32_t expected = 0;
  const RTRecordNode* end = PictureRecordsEnd(ctx, graphic);
  for (const RTRecordNode* n = graphic->next; n != end && RecordInRange(ctx, n); n = n->next) {
    const uint8_t* d = n->data;
    if (!d) continue;
    switch (n->signature) {
      case kImageHeader:
        ReadU16(d, n->length, 8, &img->imageType);
        ReadU32(d, n->length, 16, &expected);
        break;
      case kImageSegment: {
        uint16_t size = 0;
        if (!ReadU16(d, n->length, 8, &size)) break;
        if (12u + size > n->length) size = uint16_t(n->length > 12 ? n->length - 12 : 0);
        if (img->bytes.size() + size > kMaxImageBytes) break;
        img->bytes.insert(img->bytes.end(), d + 12, d + 12 + size);
        break;
      }
      case kAltText: {
        uint16_t len = 0;
        if (!img->alt && ReadU16(d, n->length, 4, &len))
          img->altLen = BoundedText(n, 12, len, &img->alt);
        break;
      }
      case kCaption: {
        // Its text follows a 32-byte head; position 1 is the middle, any
        // other the bottom.
        uint16_t len = 0;
        if (!img->caption && ReadU16(d, n->length, 4, &len) && n->length > 6) {
          img->captionLen = BoundedText(n, 32, len, &img->caption);
          img->captionCentred = d[6] == 1;
        }
        break;
      }
      case kIdName:
        if (!img->attributes) img->attributes = n;
        break;
      case kLinkTarget: {
        // A named image resource: a replica id, then the name.
        uint16_t kind = 0, len = 0, server = 0, file = 0;
        uint32_t flags = 0;
        if (ReadU32(d, n->length, 4, &flags) && ReadU16(d, n->length, 8, &kind) &&
            ReadU16(d, n->length, 12, &len) && ReadU16(d, n->length, 14, &server) &&
            ReadU16(d, n->length, 16, &file) && kind == 3 && !(flags & 0x1) && len) {
          const uint64_t off = 28ull + server + file + 8;
          if (off + len <= n->length) {
            img->resource = reinterpret_cast<const char*>(d + off);
            // A name stored with its alias ("name|alias"): the resource is
            // found by its name (none without one: an empty source would
            // load the page itself).
            const void* bar = std::memchr(img->resource, '|', len);
            img->resourceLen = bar ? size_t(static_cast<const char*>(bar) - img->resource) : len;
            if (img->resourceLen == 0) img->resource = nullptr;
          }
        }
        break;
      }
      case kBitmapHeader: case 0x009A: case 0x009B: case 0x009C: case 0x009D: case 0x009E:
      case 0x009F: case 0x00A0:
        img->bitmap = true;
        break;
      default:
        break;
    }
  }
  if (expected && img->bytes.size() > expected) img->bytes.resize(expected);
}

// The file extension and MIME subtype by the data's own signature, else by the
// image header's type; null for data that is no image we know.
const char* ImageKind(const Image& img, const char** mime) {
  const std::vector<uint8_t>& b = img.bytes;
  if (b.size() >= 6 && std::memcmp(b.data(), "GIF8", 4) == 0) return *mime = "gif", "gif";
  if (b.size() >= 3 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF) return *mime = "jpeg", "jpg";
  if (b.size() >= 8 && std::memcmp(b.data(), "\x89PNG\r\n\x1a\n", 8) == 0) return *mime = "png", "png";
  if (b.size() >= 2 && b[0] == 'B' && b[1] == 'M') return *mime = "bmp", "bmp";
  if (b.size() < 4) return nullptr;
  switch (img.imageType) {
    case 1: return *mime = "gif", "gif";
    case 2: return *mime = "jpeg", "jpg";
    case 3: return *mime = "bmp", "bmp";
    case 4: return *mime = "png", "png";
    default: return nullptr;
  }
}

// The content identifier of the graphic (the engine's content-identifier step
// forms the same one).
void GraphicIdentifier(const RenderContext* ctx, const RTRecordNode* graphic, char* out, size_t size) {
  int kind = 1;
  const RTRecordNode* named = nullptr;
  int steps = 0;
  for (const RTRecordNode* n = graphic->next; n && steps < 256; n = n->next, ++steps) {
    if (n->signature == kImageHeader) {
      uint16_t t = 0;
      ReadU16(n->data, n->length, 8, &t);
      kind = t == 2 ? 2 : t == 1 ? 1 : 3;
    }
    if ((n->signature == 0xFF85 || n->signature == 0xFFE4 || n->signature == kBitmapHeader) &&
        (n->position || n->segment)) {
      named = n;
      break;
    }
  }
  if (!named) named = graphic;
  // Records built in memory have no stored position: their place in the list
  // keeps the names of two images apart.
  const uint32_t position = named->position || named->segment ? named->position : named->sequence;
  ORIGINATORID_tag oid{};
  if (ctx->item) {
    NnHandle hNote = RenderNote(ctx);
    if (hNote) NnNoteGetInfo(hNote, NN_NOTE_INFO_OID, &oid);
  }
  std::snprintf(out, size, "_%d_%.6d%.6x%.8lx%.8lx", kind, int(named->segment),
                unsigned(position), static_cast<unsigned long>(oid.Note.Innards[1]),
                static_cast<unsigned long>(oid.Note.Innards[0]));
}

bool AppendSize(RenderContext* ctx, const RTRecordNode* graphic) {
  uint16_t w = 0, h = 0;
  GraphicPixelSize(graphic, &w, &h);
  return RenderAppendf(ctx, " width=\"%u\" height=\"%u\"", unsigned(w), unsigned(h));
}

bool AppendAlt(RenderContext* ctx, const Image& img) {
  return RenderAppend(ctx, " alt=\"") && AppendDocumentText(ctx, img.alt, img.altLen) &&
         RenderAppend(ctx, "\"");
}

// Writes the image into the image directory; false when it cannot be written.
bool WriteImageFile(RenderContext* ctx, const char* fileName, const Image& img) {
  if (!ctx->imageDirectory || !*ctx->imageDirectory) return false;
  if (!ctx->imageDirectoryMade) {
    if (!kv::MakeDirectoryPath(ctx->imageDirectory)) return false;
    ctx->imageDirectoryMade = 1;
  }
  std::string path = ctx->imageDirectory;
  if (path.back() != '/' && path.back() != '\\') path += '/';
  path += fileName;
  return kv::WriteBufferToFile(path.c_str(), img.bytes.data(), uint32_t(img.bytes.size())) == NN_OK;
}

// The picture's own attributes on its img element (after those the writer
// sets itself, which they cannot repeat).
bool AppendAttributes(RenderContext* ctx, const Image& img) {
  if (!img.attributes) return true;
  WriteElementIdAttributes(img.attributes->data, img.attributes->length, ctx, 0, 0);
  return !ctx->driver.outputFull;
}

// A captioned picture stands in a box of its own: the caption below the
// picture, or over its middle.
bool OpenCaptionBox(RenderContext* ctx, const Image& img) {
  if (img.captionLen == 0) return true;
  return RenderAppend(ctx, img.captionCentred
                               ? "<span style=\"display:inline-block;position:relative;\">"
                               : "<span style=\"display:inline-block;text-align:center;\">");
}

bool CloseCaptionBox(RenderContext* ctx, const Image& img) {
  if (img.captionLen == 0) return true;
  return RenderAppend(ctx, img.captionCentred
                               ? "<span style=\"position:absolute;left:0;right:0;top:50%;"
                                 "transform:translateY(-50%);text-align:center;\">"
                               : "<span style=\"display:block;\">") &&
         AppendDocumentText(ctx, img.caption, img.captionLen) && RenderAppend(ctx, "</span></span>");
}

}  // namespace

bool IsGraphicRecord(uint16_t s) {
  switch (s) {
    case kImageHeader: case kImageSegment: case kBitmapHeader: case 0x0096: case 0x0097:
    case 0x0098: case 0x009A: case 0x009B: case 0x009C: case 0x009D: case 0x009E: case 0x009F:
    case 0x00A0: case 0x0052: case 0x00C5: case kAltText: case kLinkTarget: case 0x0062:
    case 0xFFC4: case kCaption: case kIdName: case 0xFFFC: case 0xFF71: case 0xFF78:
    case 0xFF5A:
      return true;
    default:
      return false;
  }
}

NnStatus PXMLGr(RenderContext* ctx, uint16_t /*endType*/, uint32_t /*mode*/) {
  RTRecordNode* graphic = ctx->currentRecord;
  if (!graphic || graphic->signature != kGraphic || !graphic->data) return NN_OK;
  Image img;
  ReadGraphic(ctx, graphic, &img);
  const char* mime = nullptr;
  const char* ext = img.bitmap && img.bytes.empty() ? nullptr : ImageKind(img, &mime);
  char* mark = ctx->outputCursor;
  bool ok = true;
  ++ctx->graphics.imageCounter;

  // Over nothing a caption stands below where the picture would be.
  if (!ext && !img.resource && !img.altLen) img.captionCentred = false;
  ok = OpenCaptionBox(ctx, img);
  if (!ext && !img.resource) {
    // No image data we can show: its alternative text only, or nothing (a
    // caption still shows).
    if (img.altLen)
      ok = ok && RenderAppend(ctx, "<img") && AppendAlt(ctx, img) && AppendSize(ctx, graphic) &&
           AppendAttributes(ctx, img) && RenderAppend(ctx, " />");
  } else {
    char ident[80];
    GraphicIdentifier(ctx, graphic, ident, sizeof ident);
    ok = ok && RenderAppend(ctx, "<img src=\"");
    if (!ext) {
      // A shared image resource of the database, by name.
      if (ctx->dbResource && *ctx->dbResource)
        ok = ok && AppendDocumentUrl(ctx, ctx->dbResource, std::strlen(ctx->dbResource)) &&
             RenderAppend(ctx, "/");
      ok = ok && AppendDocumentUrl(ctx, img.resource, img.resourceLen);
    } else if (ctx->mimeRender) {
      // A part of the message, named by the graphic's identifier.
      const std::string id = std::string(ident) + "@" + kMimeContentDomain;
      const std::string type = std::string("image/") + mime;
      if (ctx->graphics.imagePart)
        ctx->graphics.imagePart(id.c_str(), type.c_str(), img.bytes.data(), img.bytes.size(),
                                ctx->graphics.imagePartClosure);
      ok = ok && RenderAppend(ctx, "cid:") && RenderAppend(ctx, id.c_str());
    } else if ((ctx->dataImages && img.bytes.size() <= ctx->dataImages) ||
               !ctx->imageDirectory || !*ctx->imageDirectory) {
      // Inline data when allowed, and also when no image directory is given:
      // a reference to a file that nothing writes would show no image.
      const uint64_t b64 = kv::Base64EncodedLength(img.bytes.size());
      if (b64 + 64 > RenderRoom(ctx)) {
        ok = false;
      } else {
        ok = ok && RenderAppend(ctx, "data:image/") && RenderAppend(ctx, mime) &&
             RenderAppend(ctx, ";base64,");
        if (ok) {
          // Written in place: the room was checked above.
          const uint32_t n = kv::Base64EncodeOut(ctx->outputCursor, img.bytes.data(),
                                                 uint32_t(img.bytes.size()));
          ctx->outputCursor += n;
          *ctx->outputCursor = 0;
        }
      }
    } else {
      char fileName[96];
      std::snprintf(fileName, sizeof fileName, "%s.%s", ident, ext);
      WriteImageFile(ctx, fileName, img);  // the reference stands even when no file could be made
      if (ctx->imageURLDirectory && *ctx->imageURLDirectory) {
        const size_t len = std::strlen(ctx->imageURLDirectory);
        ok = ok && AppendDocumentUrl(ctx, ctx->imageURLDirectory, len);
        const char last = ctx->imageURLDirectory[len - 1];
        if (last != '/' && last != '\\') ok = ok && RenderAppend(ctx, "/");
      }
      ok = ok && RenderAppend(ctx, fileName);
    }
    ok = ok && RenderAppend(ctx, "\"") && AppendSize(ctx, graphic) && AppendAlt(ctx, img) &&
         AppendAttributes(ctx, img) && RenderAppend(ctx, " />");
  }
  ok = ok && CloseCaptionBox(ctx, img);
  if (ok) return NN_OK;
  ctx->outputCursor = mark;
  if (mark) *mark = 0;
  return NN_ERR_MEMORY;
}

NnStatus BuildGraphicRecordTable(RTProcessContext* /*engine*/, RenderContext* ctx) {
  if (!ctx) return NN_ERR_INVALID_ARG;
  RTRecordNode* first = ctx->rangeFirst ? ctx->rangeFirst : ctx->currentRecord;
  RTRecordNode* last = ctx->rangeFirst ? ctx->rangeLast : ctx->lastRecord;
  uint32_t count = 0;
  for (RTRecordNode* n = first; n; n = n->next) {
    if (n->signature == kGraphic) ++count;
    if (n == last || (last && n->sequence > last->sequence)) break;
  }
  RTRecordNode** table = nullptr;
  if (count) {
    table = static_cast<RTRecordNode**>(
        POOL_ALLOC(ctx->session, sizeof(RTRecordNode*) * count, true));
    if (!table) return NN_ERR_MEMORY;  // the old table stays
    uint32_t i = 0;
    for (RTRecordNode* n = first; n && i < count; n = n->next) {
      if (n->signature == kGraphic) table[i++] = n;
      if (n == last) break;
    }
  }
  if (ctx->graphics.graphicTable) PoolFree(ctx->session, ctx->graphics.graphicTable);
  ctx->graphics.graphicTable = table;
  ctx->graphics.graphicCount = count;
  return NN_OK;
}
