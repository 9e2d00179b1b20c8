// Graphic and attachment operations: the display-size reset of graphics
// (2827), the redrawn icons of file attachments (2814) and their renaming
// (2815), and the property steps that read graphics and file attachments.
#include "richtext/engine/graphicops.h"

#include <strings.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "host/noteops.h"
#include "host/options.h"
#include "host/pool.h"
#include "lsxsessi.h"
#include "richtext/compose/composers.h"
#include "richtext/engine/rtproc.h"
#include "richtext/item/cdlayout.h"
#include "richtext/item/recordutil.h"
#include "rtchunk.h"
#include "rtitem.h"

namespace {

namespace host = kv::cd::host;

constexpr uint16_t kOpRefreshIcon = 2814;
constexpr uint16_t kOpRenameAttachment = 2815;
constexpr uint16_t kOpResetGraphic = 2827;

constexpr uint16_t kSigGraphic = 153;
constexpr uint16_t kSigImageHeader = 125;
constexpr uint16_t kSigImageSegment = 124;
constexpr uint16_t kSigBitmapHeader = 149;
constexpr uint16_t kSigBitmapSegment = 150;
constexpr uint16_t kSigImageData = 82;
constexpr uint16_t kSigStorageLink = 0xFFC4;
constexpr uint16_t kSigText = 0xFF85;
constexpr uint16_t kSigHotspotEnd = 170;

constexpr uint32_t kBitmapWidth = 24, kBitmapHeight = 26;
constexpr uint32_t kImageType = 8, kImageWidth = 10, kImageHeight = 12, kImageSegCount = 20;
constexpr uint32_t kResourceFixed = 28;
constexpr size_t kCaptionMax = 130;

// State bits kept in RTProcessContext::GraphicDropPicture.
constexpr uint32_t kDropPicture = 1;      // the icon was redrawn: its old picture goes
constexpr uint32_t kInAttachment = 2;     // inside an attachment hotspot of the target
constexpr uint32_t kPictureMet = 4;       // that hotspot's picture was met and redrawn (or tried)

using kv::cd::U16;
using kv::cd::U32;
using kv::cd::U8;
using kv::cd::Put16;
using kv::cd::Put32;

bool IsHotspotBegin(uint16_t sig) { return sig == 0xFFA9 || sig == 0xFFAD; }
bool IsHotspotEnd(uint16_t sig) { return sig == 170 || sig == 174 || sig == 127; }
bool IsResourceReference(uint16_t sig) {
  return sig == 0xFFF6 || sig == 0xFF71 || sig == 0xFF78 || sig == 0xFF5A;
}
bool IsPictureRecord(uint16_t sig) {
  return sig == 82 || sig == 124 || sig == 125 || (sig >= 149 && sig <= 152);
}

// The node of the record being handled (the walk hands its data).
RTRecordNode* Current(RTProcessContext* ctx, const uint8_t* data) {
  RTRecordNode* n = ctx->CurrentNode;
  return n && n->data == data ? n : nullptr;
}

// ---- resource references ------------------------------------------------------

struct ResourceRef {
  uint32_t flags = 0;
  uint16_t type = 0;
  uint16_t resourceClass = 0;
  const char* name = nullptr;  // named element: its name
  uint16_t nameLength = 0;
};

ResourceRef ReadResource(const RTRecordNode* n) {
  ResourceRef r;
  const uint8_t* p = n->data;
  uint32_t len = n->length;
  r.flags = U32(p, len, 4);
  r.type = U16(p, len, 8);
  r.resourceClass = U16(p, len, 10);
  uint32_t nameLength = U16(p, len, 12);
  uint32_t at = kResourceFixed + U16(p, len, 14) + U16(p, len, 16) + 8;  // hints, replica id
  if (len >= kResourceFixed && at <= len && nameLength <= len - at) {
    r.name = reinterpret_cast<const char*>(p) + at;
    r.nameLength = uint16_t(nameLength);
  }
  return r;
}

bool IsNamedSharedImage(const ResourceRef& r) { return r.type == 3 && r.resourceClass == 19; }

// The resource reference that names the image after `from` (the node after a
// graphic or image header), or null: the search stops at text and hotspot ends.
const RTRecordNode* FollowingResource(const RTRecordNode* from) {
  for (const RTRecordNode* n = from; n; n = n->next) {
    if (n->signature == kSigText || n->signature == kSigHotspotEnd) return nullptr;
    if (IsResourceReference(n->signature)) return n;
    if (n->signature == kSigImageSegment || n->signature == kSigBitmapSegment ||
        n->signature == kSigImageData || n->signature == kSigStorageLink ||
        n->signature == kSigBitmapHeader)
      return nullptr;
  }
  return nullptr;
}

// ---- 2827: reset the display size -------------------------------------------------

NnStatus ResetGraphic(uint8_t* data, uint32_t length, RTProcessContext* ctx,
                      RecordEmission* out) {
  if (length < host::kGraphicFixed - 4) return 0;  // too short to hold the fields
  RTRecordNode* node = Current(ctx, data);
  const RTRecordNode* next = node ? node->next : nullptr;
  auto* copy = static_cast<uint8_t*>(POOL_ALLOC(ctx->Session, length, false));
  if (!copy) return NN_ERR_MEMORY;
  std::memcpy(copy, data, length);
  auto setPixels = [&](uint32_t w, uint32_t h) {
    Put16(copy, host::kGraphicDestWidth, uint16_t(w > 0xFFFF ? 0xFFFF : w));
    Put16(copy, host::kGraphicDestHeight, uint16_t(h > 0xFFFF ? 0xFFFF : h));
    copy[host::kGraphicFlags] = uint8_t(copy[host::kGraphicFlags] | 1);
    copy[host::kGraphicVersion] = 2;
    Put16(copy, host::kGraphicResized, 1);
  };
  if (next && next->signature == kSigImageHeader && next->length >= kImageHeight + 2) {
    setPixels(U16(next->data, next->length, kImageWidth),
              U16(next->data, next->length, kImageHeight));
  } else if (next && next->signature == kSigBitmapHeader && next->length >= kBitmapHeight + 2 &&
             U16(next->data, next->length, kBitmapWidth) &&
             U16(next->data, next->length, kBitmapHeight)) {
    double bw = U16(next->data, next->length, kBitmapWidth);
    double bh = U16(next->data, next->length, kBitmapHeight);
    double w = U16(data, length, host::kGraphicDestWidth);
    double h = U16(data, length, host::kGraphicDestHeight);
    uint8_t version = data[host::kGraphicVersion], flags = data[host::kGraphicFlags];
    if (version < 2 || !(flags & 1)) {  // twips to pixels at 96 dots per inch
      w = w * 96 / 1440;
      h = h * 96 / 1440;
    }
    double f = 1;
    if (h != 0 && w == 0) f = h / bh;
    if (w != 0 && h == 0) f = w / bw;
    double nw = bw * f, nh = bh * f;
    setPixels(uint32_t(nw > 65535 ? 65535 : nw), uint32_t(nh > 65535 ? 65535 : nh));
  } else {
    Put16(copy, host::kGraphicResized, 0);
  }
  out->data = copy;
  out->length = length;
  out->replacement = copy;
  ctx->Item->modified = 1;
  return 0;
}

// ---- 2814, 2815: attachment icons ---------------------------------------------------

// The first NUL-terminated text of a hotspot's data, and the text after it.
void HotspotNames(const uint8_t* data, uint32_t length, const char** first, uint32_t* firstLen,
                  const char** second, uint32_t* secondLen) {
  *first = *second = nullptr;
  *firstLen = *secondLen = 0;
  uint32_t dataLen = U16(data, length, host::kHotspotDataLength);
  if (length < host::kHotspotFixed) return;
  if (dataLen > length - host::kHotspotFixed) dataLen = length - host::kHotspotFixed;
  const char* d = reinterpret_cast<const char*>(data) + host::kHotspotFixed;
  const char* nul = static_cast<const char*>(std::memchr(d, 0, dataLen));
  *first = d;
  *firstLen = nul ? uint32_t(nul - d) : dataLen;
  if (nul) {
    const char* s = nul + 1;
    uint32_t rest = dataLen - (*firstLen + 1);
    const char* end = static_cast<const char*>(std::memchr(s, 0, rest));
    *second = s;
    *secondLen = end ? uint32_t(end - s) : rest;
  }
}

void SetCaption(RTProcessContext* ctx, const char* text, size_t length) {
  if (length > kCaptionMax) length = kCaptionMax;
  std::memcpy(ctx->GraphicCaption, text, length);
  ctx->GraphicCaption[length] = 0;
}

// 2815: the begin record with the new name after the stored file name.
NnStatus RenameBegin(const uint8_t* data, uint32_t length, RTProcessContext* ctx,
                     RecordEmission* out) {
  const char *first, *second;
  uint32_t firstLen, secondLen;
  HotspotNames(data, length, &first, &firstLen, &second, &secondLen);
  const char* name = ctx->Text2 ? ctx->Text2 : "";
  size_t nameLen = std::strlen(name);
  if (nameLen > kCaptionMax) nameLen = kCaptionMax;
  SetCaption(ctx, name, nameLen);
  uint32_t dataLen = firstLen + uint32_t(nameLen) + 2;
  uint32_t recLen = host::kHotspotFixed + dataLen;
  recLen += recLen & 1;
  if (recLen > 0xFFFF) return NN_ERR_MEMORY;
  auto* rec = static_cast<uint8_t*>(POOL_ALLOC(ctx->Session, recLen, true));
  if (!rec) return NN_ERR_MEMORY;
  std::memcpy(rec, data, host::kHotspotFixed);
  std::memcpy(rec + host::kHotspotFixed, first, firstLen);
  std::memcpy(rec + host::kHotspotFixed + firstLen + 1, name, nameLen);
  Put16(rec, host::kHotspotDataLength, uint16_t(dataLen));
  Put16(rec, 2, uint16_t(recLen));
  out->data = rec;
  out->length = recLen;
  out->replacement = rec;
  ctx->Item->modified = 1;
  return 0;
}

// A long-header record in host layout of `length` bytes.
void LongHeader(uint8_t* p, uint16_t sig, uint32_t length) {
  std::memset(p, 0, 8);
  Put16(p, 0, sig);
  Put32(p, 4, length);
}

// Appends a graphic of the picture's size with its image records.
NnStatus ComposeIconImage(const uint8_t* picture, size_t size, uint16_t type, uint16_t width,
                          uint16_t height, RTProcessContext* ctx) {
  uint8_t graphic[host::kGraphicFixed] = {};
  LongHeader(graphic, kSigGraphic, host::kGraphicFixed);
  Put16(graphic, host::kGraphicDestWidth, width);
  Put16(graphic, host::kGraphicDestHeight, height);
  Put16(graphic, host::kGraphicResized, 1);
  graphic[host::kGraphicVersion] = 2;
  graphic[host::kGraphicFlags] = 1;
  NnStatus st = AppendRecord(graphic, kSigGraphic, sizeof graphic, &ctx->Compose);
  if (st == 0) st = EmitImageRecords(picture, size, type, width, height, ctx);
  return st;
}

// The picture of the database's image resource `name` (a design note whose
// $TITLE, or one of its |-separated names, is the name, without regard to
// case; its picture is the data of the image segments of its $ImageData).
bool LoadImageResource(RTProcessContext* ctx, const char* name, std::vector<uint8_t>* gif) {
  const NnHandle db = ctx->Item ? ctx->Item->hDb : 0;
  if (!db || !name || !*name) return false;
  const std::string wanted(name);
  for (uint32_t i = 0, count = NnDbNoteCount(db); i < count; ++i) {
    NOTEID id = 0;
    NnHandle note = 0;
    if (NnDbNoteIdAt(db, i, &id) != NN_OK || NnNoteOpen(db, id, 0, &note) != NN_OK) continue;
    char title[512] = {};
    NnItemGetText(note, "$TITLE", title, sizeof title);
    bool named = false;
    for (const char* p = title; *p && !named;) {
      const char* bar = std::strchr(p, '|');
      const size_t n = bar ? size_t(bar - p) : std::strlen(p);
      named = n == wanted.size() && strncasecmp(p, wanted.c_str(), n) == 0;
      p = bar ? bar + 1 : p + n;
    }
    NnBlockId item, value;
    uint16_t type = 0;
    uint32_t length = 0;
    if (named && NnItemInfo(note, "$ImageData", 10, &item, &type, &value, &length) == NN_OK) {
      const uint8_t* v = static_cast<const uint8_t*>(NnBlockLock(value));
      // Canonical records after the type word: image segments (124) hold
      // their used size at 6 and their data from 10.
      for (size_t at = 2; v && at + 10 <= length;) {
        uint16_t sig = 0;
        kv::cd::HeaderKind kind;
        uint32_t len = 0, header = 0;
        if (!kv::cd::ReadCanonicalHeader(v + at, length - at, &sig, &kind, &len, &header) ||
            len < header || len > length - at)
          break;
        if (sig == kSigImageSegment && len >= 10) {
          const uint32_t used = std::min<uint32_t>(U16(v + at, len, 6), len - 10);
          gif->insert(gif->end(), v + at + 10, v + at + 10 + used);
        }
        at += len + (len % 2);
      }
      if (v) NnBlockUnlock(value);
    }
    NnNoteClose(note);
    if (named && !gif->empty()) return true;
    gif->clear();
  }
  return false;
}

// The RGB of an "rgba(r,g,b,a)" option value; false for anything else.
bool RgbaValue(const char* text, uint32_t* rgb) {
  unsigned r = 0, g = 0, b = 0;
  double a = 0;
  if (!text || strncasecmp(text, "rgba", 4) != 0 ||
      std::sscanf(text + 4, " ( %u , %u , %u , %lf )", &r, &g, &b, &a) != 4 || r > 255 ||
      g > 255 || b > 255)
    return false;
  *rgb = r << 16 | g << 8 | b;
  return true;
}

// The keys an icon's redraw reads: the image resource ("FileIcon="), else
// the texts drawn around the caption ("PrefixText=", "SuffixText=") and, for
// a refresh, the background the one given with its text names
// ("PrefixColor=" or "SuffixColor=", an rgba value). The drawing has a font
// of its own, and a resource's picture no caption: a font, a colour without
// its text or beside another, or texts beside a resource would be dropped.
bool IconOptionsUsable(const char* options, bool rename) {
  if (rename ? !OptionKeysAmong(options, {"FileIcon", "PrefixText", "SuffixText"})
             : !OptionKeysAmong(options, {"FileIcon", "PrefixText", "SuffixText", "PrefixColor",
                                          "SuffixColor"}))
    return false;
  std::string fileIcon, prefix, suffix, prefixColor, suffixColor;
  GetOptionValueString(options, "FileIcon=", &fileIcon);
  GetOptionValueString(options, "PrefixText=", &prefix);
  GetOptionValueString(options, "SuffixText=", &suffix);
  const bool hasPrefixColor = GetOptionValueString(options, "PrefixColor=", &prefixColor);
  const bool hasSuffixColor = GetOptionValueString(options, "SuffixColor=", &suffixColor);
  uint32_t rgb = 0;
  if (hasPrefixColor && (prefix.empty() || hasSuffixColor || !RgbaValue(prefixColor.c_str(), &rgb)))
    return false;
  if (hasSuffixColor && (suffix.empty() || !RgbaValue(suffixColor.c_str(), &rgb))) return false;
  return fileIcon.empty() || (prefix.empty() && suffix.empty());
}

// Draws the icon of the current caption in place of the graphic. *drawn is
// set when the graphic was replaced; without a picture it stays as it was.
// The picture is the image resource "FileIcon=" names, else the resource
// "custom/fileicon/<extension>.gif" (either in its own image type), else the
// sibling library's drawing of the extension with the caption; the prefix
// and suffix texts join the caption, on the background their colours give.
// A refresh whose resource is missing or holds no picture fails; a rename
// goes on without the icon (the name is the call's work, the icon only
// follows it). Texts for a caption that a resource's picture stands in for
// are refused.
NnStatus RedrawIcon(RTProcessContext* ctx, bool* drawn) {
  *drawn = false;
  const char* options = ctx->Session->globals->optionString;
  const char* dot = std::strrchr(ctx->GraphicCaption, '.');
  const char* extension = dot ? dot + 1 : "";
  std::vector<uint8_t> picture;
  char fileIcon[kOptionValueMax + 1] = {}, prefix[kOptionValueMax + 1] = "",
       suffix[kOptionValueMax + 1] = "";
  const bool named = GetOptionValue(options, "FileIcon=", fileIcon) && *fileIcon;
  const bool hasPrefix = GetOptionValue(options, "PrefixText=", prefix) && *prefix;
  const bool hasSuffix = GetOptionValue(options, "SuffixText=", suffix) && *suffix;
  if (named) {
    LoadImageResource(ctx, fileIcon, &picture);
  } else {
    char resource[64 + kCaptionMax];
    std::snprintf(resource, sizeof resource, "custom/fileicon/%s.gif", extension);
    LoadImageResource(ctx, resource, &picture);
  }
  if (named || !picture.empty()) {
    if (hasPrefix || hasSuffix) return NN_ERR_INVALID_ARG;
    uint16_t width = 0, height = 0;
    const uint16_t type = PictureType(picture.data(), picture.size(), &width, &height);
    if (!type) {
      if (ctx->OperationCode == kOpRenameAttachment) return 0;
      return picture.empty() ? NN_ERR_NOT_FOUND : NN_ERR_INVALID_ARG;
    }
    NnStatus st = ComposeIconImage(picture.data(), picture.size(), type, width, height, ctx);
    if (st) return st;
    *drawn = true;
    ctx->Item->modified = 1;
    return 0;
  }
  char color[kOptionValueMax + 1] = "";
  // The background: for a rename a light grey; otherwise the colour the
  // prefix or suffix names (an rgba value, IconOptionsUsable).
  uint32_t background = 0;
  if (ctx->OperationCode == kOpRenameAttachment) {
    if (hasPrefix || hasSuffix) RgbaValue("rgba(239,239,239,0)", &background);
  } else if ((hasPrefix && GetOptionValue(options, "PrefixColor=", color)) ||
             (hasSuffix && GetOptionValue(options, "SuffixColor=", color))) {
    RgbaValue(color, &background);
  }
  std::string caption;
  if (hasPrefix) caption.append(prefix).append(" ");
  caption.append(ctx->GraphicCaption);
  if (hasSuffix) caption.append(" ").append(suffix);
  auto* block = static_cast<uint8_t*>(POOL_ALLOC(ctx->Session, kWorkBlockSize, false));
  if (!block) return NN_ERR_MEMORY;
  uint32_t size = kWorkBlockSize;
  uint16_t width = 0, height = 0;
  NnStatus st = AnnotateGifToBuffer(caption.c_str(), "", 12, extension, background, block,
                                    &size, &width, &height);
  NnStatus result = 0;
  if (st == 0 && size > 0 && size <= kWorkBlockSize) {
    result = ComposeIconImage(block, size, kImageTypeGif, width, height, ctx);
    if (result == 0) {
      *drawn = true;
      ctx->Item->modified = 1;
    }
  }
  PoolFree(ctx->Session, block);
  return result;
}

NnStatus AttachmentIconRecord(uint8_t* data, uint16_t sig, uint32_t length, RTProcessContext* ctx,
                              RecordEmission* out) {
  if (IsHotspotBegin(sig)) {
    uint16_t kind = U16(data, length, host::kHotspotType);
    if (kind != 4 && kind != 10) return 0;
    ctx->GraphicDropPicture = kInAttachment;
    const char *first, *second;
    uint32_t firstLen, secondLen;
    HotspotNames(data, length, &first, &firstLen, &second, &secondLen);
    if (!first || firstLen + secondLen == 0) {
      ctx->GraphicCaption[0] = 0;
      return 0;  // a hotspot with no data is passed by
    }
    ctx->SetRecordMet = 1;
    if (ctx->OperationCode == kOpRenameAttachment) return RenameBegin(data, length, ctx, out);
    if (secondLen)
      SetCaption(ctx, second, secondLen);
    else
      SetCaption(ctx, first, firstLen);
    return 0;
  }
  if (IsHotspotEnd(sig)) {
    // An attachment shown without a picture has no icon to redraw: the
    // options' keys (icon keys alone, the setup saw to that) would be dropped.
    const bool noPicture =
        (ctx->GraphicDropPicture & (kInAttachment | kPictureMet)) == kInAttachment;
    ctx->GraphicDropPicture = 0;
    const bool keysGiven = !OptionKeysAmong(ctx->Session->globals->optionString, {});
    return noPicture && keysGiven ? NnStatus(NN_ERR_INVALID_ARG) : NnStatus(0);
  }
  if (!(ctx->GraphicDropPicture & kInAttachment)) return 0;
  if (sig == kSigGraphic) {
    ctx->GraphicDropPicture &= ~kDropPicture;
    if (!ctx->GraphicCaption[0]) return 0;
    ctx->GraphicDropPicture |= kPictureMet;
    bool drawn = false;
    NnStatus st = RedrawIcon(ctx, &drawn);
    if (st) return st;
    if (drawn) {
      out->length = 0;
      ctx->GraphicDropPicture |= kDropPicture;
    }
    return 0;
  }
  // The old picture of a redrawn icon goes; a picture that was not redrawn stays.
  if (IsPictureRecord(sig) && (ctx->GraphicDropPicture & kDropPicture)) out->length = 0;
  return 0;
}

// ---- property steps -------------------------------------------------------------------

void PutText(char* buffer, const char* text) {
  std::snprintf(buffer, kTextBufferSize, "%s", text);
}

// Steps 29 and 31: the height or width of the first record that has one.
void SizeStep(const uint8_t* data, uint16_t sig, uint32_t length, RTProcessContext* ctx,
              bool height) {
  char* outText = ctx->Session->LinkText;
  long value = 0;
  switch (sig) {
    case kSigGraphic: {
      if (length < host::kGraphicFixed - 4 || !U16(data, length, host::kGraphicResized)) return;
      uint16_t v = U16(data, length, height ? host::kGraphicDestHeight : host::kGraphicDestWidth);
      if (v == 0) return;
      if (U8(data, length, host::kGraphicFlags) & 1)
        std::snprintf(outText, kTextBufferSize, "%ld", long(v));
      else
        std::snprintf(outText, kTextBufferSize, "%5.3f", double(v) / 1440.0);
      ctx->TargetDone = 1;
      return;
    }
    case kSigBitmapHeader:
      value = U16(data, length, height ? kBitmapHeight : kBitmapWidth);
      break;
    case kSigImageHeader:
      value = U16(data, length, height ? kImageHeight : kImageWidth);
      break;
    case kSigImageSegment: {
      const RTRecordNode* node = Current(ctx, data);
      if (!node) return;
      uint16_t w = 0, h = 0;
      GraphicPixelSize(node, &w, &h);
      value = height ? h : w;
      break;
    }
    default:
      return;
  }
  if (value <= 0) return;
  std::snprintf(outText, kTextBufferSize, "%ld", value);
  ctx->TargetDone = 1;
}

void RatioStep(const uint8_t* data, uint16_t sig, uint32_t length, RTProcessContext* ctx) {
  uint16_t w = 0, h = 0;
  if (sig == kSigBitmapHeader) {
    w = U16(data, length, kBitmapWidth);
    h = U16(data, length, kBitmapHeight);
  } else if (sig == kSigImageHeader) {
    w = U16(data, length, kImageWidth);
    h = U16(data, length, kImageHeight);
  } else if (sig == kSigImageSegment) {
    const RTRecordNode* node = Current(ctx, data);
    if (node) GraphicPixelSize(node, &w, &h);
  }
  if (!w || !h) return;
  std::snprintf(ctx->Session->LinkText, kTextBufferSize, "%5.4f", double(w) / double(h));
  ctx->TargetDone = 1;
}

void UnitStep(const uint8_t* data, uint16_t sig, uint32_t length, RTProcessContext* ctx) {
  const char* unit = nullptr;
  if (sig == kSigGraphic) {
    if (length >= host::kGraphicFixed - 4 && U16(data, length, host::kGraphicResized) &&
        U16(data, length, host::kGraphicDestHeight))
      unit = (U8(data, length, host::kGraphicFlags) & 1) ? "pixels" : "inches";
  } else if ((sig == kSigBitmapHeader && U16(data, length, kBitmapHeight)) ||
             (sig == kSigImageHeader && U16(data, length, kImageHeight)) ||
             sig == kSigImageSegment) {
    unit = "pixels";
  }
  if (!unit) return;
  // The unit is a text property: it travels in the text buffer its row reads.
  PutText(ctx->Session->PropertyText, unit);
  ctx->TargetDone = 1;
}

void FormatStep(const uint8_t* data, uint16_t sig, uint32_t length, RTProcessContext* ctx) {
  char* outText = ctx->Session->PropertyText;
  if (sig == kSigBitmapHeader) {
    PutText(outText, "Native Bitmap");
    ctx->TargetDone = 1;
    return;
  }
  if (sig != kSigImageHeader || length < kImageSegCount + 4) return;
  const RTRecordNode* node = Current(ctx, data);
  const RTRecordNode* next = node ? node->next : nullptr;
  const uint16_t type = U16(data, length, kImageType);
  const bool pngData = next && next->signature == kSigImageData;
  const char* kind = type == 2 ? "JPEG" : type == 1 ? "GIF" : pngData ? "PNG" : "GIF";
  const RTRecordNode* ref =
      U32(data, length, kImageSegCount) == 0 && next ? FollowingResource(next) : nullptr;
  ResourceRef r;
  if (ref) r = ReadResource(ref);
  if (ref && IsNamedSharedImage(r))
    std::snprintf(outText, kTextBufferSize, "%s Image Resource%s", kind,
                  r.flags == 1 ? " (formula)" : "");
  else
    PutText(outText, kind);
  ctx->TargetDone = 1;
}

// A record read from the item has a stored place, also in its first segment
// (number 0); one the composition built has one once it lies in a segment.
bool HasStoredPlace(const RTRecordNode* n) {
  return !(n->flags & kNodeOwnsData) || n->segment || n->position;
}

// Step 51: the shared-image name, else the position of the picture's record.
void OffsetStep(const uint8_t* data, uint16_t sig, RTProcessContext* ctx) {
  if (sig != kSigGraphic) return;
  const RTRecordNode* node = Current(ctx, data);
  if (!node) return;
  char* outText = ctx->Session->PropertyText;
  const RTRecordNode* next = node->next;
  if (next && next->signature == kSigImageHeader &&
      U32(next->data, next->length, kImageSegCount) == 0) {
    const RTRecordNode* ref = FollowingResource(next->next);
    if (ref) {
      ResourceRef r = ReadResource(ref);
      if (IsNamedSharedImage(r) && r.flags != 1 && r.name) {
        std::snprintf(outText, kTextBufferSize, "%.*s", int(r.nameLength), r.name);
        ctx->TargetDone = 1;
        return;
      }
    }
  }
  const RTRecordNode* at = nullptr;
  for (const RTRecordNode* n = node->next; n && !at; n = n->next)
    if ((n->signature == kSigText || n->signature == kSigBitmapHeader) && HasStoredPlace(n)) at = n;
  if (!at) at = node;
  if (!HasStoredPlace(at)) return;
  std::snprintf(outText, kTextBufferSize, "%d.%x", int(at->segment), unsigned(at->position));
  ctx->TargetDone = 1;
}

void StorageStep(const uint8_t* data, uint16_t sig, RTProcessContext* ctx) {
  if (sig != kSigGraphic) return;
  const RTRecordNode* node = Current(ctx, data);
  if (!node) return;
  const char* text = "Undetermined";
  for (const RTRecordNode* n = node->next; n; n = n->next) {
    uint16_t s = n->signature;
    if (s == kSigText || s == kSigHotspotEnd) break;
    if (s == kSigStorageLink) {
      uint16_t linkType = U16(n->data, n->length, 4);
      text = linkType == 1 ? "Storage Link Attachment" : linkType == 4 ? "Storage Link URL"
                                                                       : "Storage Link";
      break;
    }
    if (s == kSigImageSegment || s == kSigBitmapSegment) {
      text = "Inline";
      break;
    }
    if (IsResourceReference(s)) {
      ResourceRef r = ReadResource(n);
      text = IsNamedSharedImage(r) ? (r.flags == 1 ? "Image Resource (formula)" : "Image Resource")
                                   : "Unknown";
      break;
    }
  }
  PutText(ctx->Session->PropertyText, text);
  ctx->TargetDone = 1;
}

// The attachment name of a file hotspot into PropertyText; false when it is
// not one or its data is empty.
bool FileHotspotName(const uint8_t* data, uint16_t sig, uint32_t length, RTProcessContext* ctx) {
  if (!IsHotspotBegin(sig)) return false;
  uint16_t kind = U16(data, length, host::kHotspotType);
  if (kind != 4 && kind != 10) return false;
  const char *first, *second;
  uint32_t firstLen, secondLen;
  HotspotNames(data, length, &first, &firstLen, &second, &secondLen);
  const char* name = first;
  uint32_t nameLen = firstLen;
  if (ctx->SubCode == 2621 && secondLen) {
    name = second;
    nameLen = secondLen;
  }
  if (!name || nameLen == 0) return false;
  if (nameLen >= kTextBufferSize) nameLen = kTextBufferSize - 1;
  std::memcpy(ctx->Session->PropertyText, name, nameLen);
  ctx->Session->PropertyText[nameLen] = 0;
  return true;
}

void SizeSumStep(const uint8_t* data, uint16_t sig, uint32_t length, RTProcessContext* ctx,
                 int mode) {
  if (!FileHotspotName(data, sig, length, ctx)) return;
  uint32_t size = 0;
  if (kv::NoteGetAttachmentSize(ctx->Item->hDb, ctx->NoteHandle, ctx->Session->PropertyText,
                                &size, mode) != 0)
    size = 0;
  long sum = std::strtol(ctx->Session->LinkText, nullptr, 10) + long(size);
  std::snprintf(ctx->Session->LinkText, kTextBufferSize, "%ld", sum);
}

void AttachmentItemStep(const uint8_t* data, uint16_t sig, uint32_t length,
                        RTProcessContext* ctx) {
  if (!FileHotspotName(data, sig, length, ctx)) return;
  NnBlockId item, value;
  SessionGlobals* g = ctx->Session->globals;
  g->attachmentItemBlock = NnBlockId{};
  if (kv::NoteFindAttachmentInfo(ctx->NoteHandle, ctx->Session->PropertyText, &item, &value,
                                 nullptr) == 0)
    g->attachmentItemBlock = ctx->SubCode == 2627 ? item : value;
  ctx->TargetDone = 1;
}

// ---- the family ----------------------------------------------------------------------

bool GraphicSetup(RTProcessContext* ctx, NnStatus* status) {
  switch (ctx->OperationCode) {
    case kOpRefreshIcon:
    case kOpRenameAttachment:
      ctx->GraphicCaption[0] = 0;
      ctx->GraphicDropPicture = 0;
      *status = IconOptionsUsable(ctx->Session->globals->optionString,
                                  ctx->OperationCode == kOpRenameAttachment)
                    ? 0
                    : NN_ERR_INVALID_ARG;
      return true;
    case kOpResetGraphic:
      // The reset reads no option.
      *status = OptionKeysAmong(ctx->Session->globals->optionString, {}) ? 0 : NN_ERR_INVALID_ARG;
      return true;
    default:
      return false;
  }
}

bool GraphicRecord(uint8_t* data, uint16_t sig, uint32_t length, RTProcessContext* ctx,
                   RecordEmission* out, NnStatus* status) {
  switch (ctx->OperationCode) {
    case kOpResetGraphic:
      if (sig == kSigGraphic) {
        ctx->SetRecordMet = 1;
        *status = ResetGraphic(data, length, ctx, out);
      }
      return true;
    case kOpRefreshIcon:
    case kOpRenameAttachment:
      *status = AttachmentIconRecord(data, sig, length, ctx, out);
      return true;
    default:
      return GraphicPropertyStep(ctx->OperationCode, data, sig, length, ctx, out, status);
  }
}

// A redraw, a renaming or a reset whose target holds no attachment (or
// graphic) to act on names nothing: it fails, and the item keeps its records.
bool GraphicPostWalk(RTProcessContext* ctx, NnStatus* status) {
  const uint16_t code = ctx->OperationCode;
  if (code != kOpRefreshIcon && code != kOpRenameAttachment && code != kOpResetGraphic)
    return false;
  if (ctx->WriteMode && !ctx->SetRecordMet) *status = NN_ERR_ITEM_NOT_FOUND;
  return true;
}

const OperationFamily kGraphicFamily = {"graphics", GraphicSetup, nullptr, nullptr,
                                        GraphicRecord, nullptr, GraphicPostWalk};

}  // namespace

KV_REGISTER_OPERATION_FAMILY(kGraphicFamily)

bool GraphicPropertyStep(uint16_t step, uint8_t* data, uint16_t signature, uint32_t length,
                         RTProcessContext* ctx, RecordEmission*, NnStatus* status) {
  if (status) *status = 0;
  if (!ctx || !data) return false;
  const bool once = !ctx->TargetDone;
  switch (step) {
    case 29:
    case 31:
      if (once) SizeStep(data, signature, length, ctx, step == 29);
      return true;
    case 52:
      if (once) RatioStep(data, signature, length, ctx);
      return true;
    case 53:
      if (once) UnitStep(data, signature, length, ctx);
      return true;
    case 50:
      if (once) FormatStep(data, signature, length, ctx);
      return true;
    case 51:
      if (once) OffsetStep(data, signature, ctx);
      return true;
    case 67:
      if (once) StorageStep(data, signature, ctx);
      return true;
    case 65:
      if (once) AttachmentItemStep(data, signature, length, ctx);
      return true;
    case 66:
      SizeSumStep(data, signature, length, ctx, 0);
      return true;
    case 70:
      SizeSumStep(data, signature, length, ctx, 1);
      return true;
    default:
      return false;
  }
}
