// Graphic and attachment steps that move pictures: the content identifier of
// a graphic (56), the storage of graphics as inline records or attachments
// (68), and the copies of images and attachment icons into a zip storage for
// a package export (73, 76).
#include <strings.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "host/base64.h"
#include "host/pool.h"
#include "host/zip/zipstor.h"
#include "lsxsessi.h"
#include "render/render.h"
#include "richtext/compose/composers.h"
#include "richtext/engine/opfamily.h"
#include "richtext/engine/rtproc.h"
#include "richtext/item/cdlayout.h"
#include "rtitem.h"

namespace {

namespace host = kv::cd::host;
using kv::cd::U16;
using kv::cd::U32;

constexpr uint16_t kStepContentId = 56;
constexpr uint16_t kStepStorage = 68;
constexpr uint16_t kStepImageToZip = 73;
constexpr uint16_t kStepIconsToZip = 76;

constexpr uint16_t kSigGraphic = 153;
constexpr uint16_t kSigImageHeader = 125;
constexpr uint16_t kSigImageSegment = 124;
constexpr uint16_t kSigBitmapHeader = 149;
constexpr uint16_t kSigBitmapSegment = 150;
constexpr uint16_t kSigColorTable = 151;
constexpr uint16_t kSigPatternTable = 152;
constexpr uint16_t kSigImageData = 82;
constexpr uint16_t kSigStorageLink = 0xFFC4;
constexpr uint16_t kSigText = 0xFF85;
constexpr uint16_t kSigBidiText = 0xFFE4;
constexpr uint16_t kSigHotspotEnd = 170;
constexpr uint16_t kSigMetafile = 0xFF87;
constexpr uint16_t kSigMetafileSegment = 159;

constexpr uint32_t kImageType = 8, kImageSegCount = 20, kImageHeaderFixed = 32;
constexpr uint32_t kDataSegCount = 8;
constexpr uint32_t kSegmentUsed = 8, kSegmentFixed = 12;
constexpr uint32_t kLinkType = 4, kLinkDataLength = 10, kLinkFixed = 24;
constexpr uint32_t kResourceFixed = 28;
// How far the content identifier looks for the record that names the image
// (the renderer looks as far).
constexpr int kIdentifierReach = 256;
// Room the manifest keeps beyond the entry path for the rest of its line.
constexpr size_t kManifestSlack = 80;
constexpr size_t kManifestCapacity = kTextBufferSize;
constexpr size_t kManifestIdLength = 32;

bool IsResourceReference(uint16_t sig) {
  return sig == 0xFFF6 || sig == 0xFF71 || sig == 0xFF78 || sig == 0xFF5A;
}
bool IsHotspotBegin(uint16_t sig) { return sig == 0xFFA9 || sig == 0xFFAD; }
bool HasPosition(const RTRecordNode* n) { return n->position || n->segment; }

RTRecordNode* Current(RTProcessContext* ctx, const uint8_t* data) {
  RTRecordNode* n = ctx->CurrentNode;
  return n && n->data == data ? n : nullptr;
}

// A named shared image (resource type 3, class 19) at `n`; its name and
// whether a formula gives it.
bool NamedSharedImage(const RTRecordNode* n, const char** name, uint32_t* nameLength,
                      bool* formula) {
  const uint8_t* p = n->data;
  const uint32_t len = n->length;
  if (len < kResourceFixed || U16(p, len, 8) != 3 || U16(p, len, 10) != 19) return false;
  *formula = U32(p, len, 4) == 1;
  *name = nullptr;
  *nameLength = 0;
  const uint32_t at = kResourceFixed + uint32_t(U16(p, len, 14)) + U16(p, len, 16) + 8;
  const uint32_t length = U16(p, len, 12);
  if (at <= len && length <= len - at) {
    *name = reinterpret_cast<const char*>(p) + at;
    *nameLength = length;
  }
  return true;
}

// The resource reference that names the picture, searched from `from`; the
// search ends at text, a hotspot end, or picture data of the item.
const RTRecordNode* FollowingResource(const RTRecordNode* from) {
  for (const RTRecordNode* n = from; n; n = n->next) {
    const uint16_t s = n->signature;
    if (IsResourceReference(s)) return n;
    if (s == kSigText || s == kSigHotspotEnd || s == kSigImageSegment ||
        s == kSigBitmapSegment || s == kSigImageData || s == kSigStorageLink ||
        s == kSigBitmapHeader)
      return nullptr;
  }
  return nullptr;
}

// The name of the shared image behind an image header without segments that
// directly follows the graphic (not one given by a formula).
bool SharedImageName(const RTRecordNode* graphic, const char** name, uint32_t* nameLength) {
  const RTRecordNode* next = graphic->next;
  if (!next || next->signature != kSigImageHeader ||
      U32(next->data, next->length, kImageSegCount) != 0)
    return false;
  const RTRecordNode* ref = FollowingResource(next->next);
  bool formula = false;
  return ref && NamedSharedImage(ref, name, nameLength, &formula) && !formula && *name;
}

void MarkDrop(RTProcessContext* ctx, RTRecordNode* n) {
  n->flags |= kNodeDrop;
  ctx->DropMarks.item = ctx->Item;
  ctx->DropMarks.list = ctx->Records;
}

// ---- 56: the content identifier ------------------------------------------------------

void ContentIdentifier(const uint8_t* data, uint16_t sig, RTProcessContext* ctx) {
  if (sig != kSigGraphic) return;
  const RTRecordNode* graphic = Current(ctx, data);
  if (!graphic) return;
  char* out = ctx->Session->PropertyText;
  const char* name = nullptr;
  uint32_t nameLength = 0;
  if (SharedImageName(graphic, &name, &nameLength)) {
    std::snprintf(out, kTextBufferSize, "%.*s", int(nameLength), name);
    ctx->TargetDone = 1;
    return;
  }
  int kind = 1;
  const RTRecordNode* named = nullptr;
  int steps = 0;
  for (const RTRecordNode* n = graphic->next; n && steps < kIdentifierReach; n = n->next, ++steps) {
    if (n->signature == kSigImageHeader) {
      const uint16_t t = U16(n->data, n->length, kImageType);
      kind = t == 2 ? 2 : t == 1 ? 1 : 3;
    }
    if ((n->signature == kSigText || n->signature == kSigBidiText ||
         n->signature == kSigBitmapHeader) &&
        HasPosition(n)) {
      named = n;
      break;
    }
  }
  if (!named) named = graphic;
  // Records built in memory have no stored place: their place in the list
  // keeps two images apart, as in the names the renderer gives.
  const uint32_t position = HasPosition(named) ? named->position : named->sequence;
  ORIGINATORID_tag oid{};
  if (ctx->NoteHandle) NnNoteGetInfo(ctx->NoteHandle, NN_NOTE_INFO_OID, &oid);
  std::snprintf(out, kTextBufferSize, "_%d_%.6d%.6x%.8lx%.8lx", kind, int(named->segment),
                unsigned(position), static_cast<unsigned long>(oid.Note.Innards[1]),
                static_cast<unsigned long>(oid.Note.Innards[0]));
  for (char* c = out; *c; ++c) *c = char(std::toupper(static_cast<unsigned char>(*c)));
  ctx->TargetDone = 1;
}

// ---- 68: inline pictures and pictures kept as attachments -------------------------

// Where a graphic's picture lies: in the item (image records come first),
// behind a storage link (*link), or neither (a resource, nothing).
enum class PictureStore { Item, Link, Elsewhere };

PictureStore StoreOf(RTRecordNode* graphic, RTRecordNode** link = nullptr) {
  for (RTRecordNode* n = graphic->next; n; n = n->next) {
    const uint16_t s = n->signature;
    if (s == kSigImageData || s == kSigImageSegment || s == kSigBitmapSegment)
      return PictureStore::Item;
    if (s == kSigStorageLink) {
      if (link) *link = n;
      return PictureStore::Link;
    }
    if (s == kSigText || s == kSigHotspotEnd || IsResourceReference(s)) break;
  }
  return PictureStore::Elsewhere;
}

// "inline": the attachment named by the storage link after the graphic comes
// in as image records; the link (and a bitmap preview after it) goes.
NnStatus BringInline(uint8_t* data, uint16_t sig, uint32_t length, RTRecordNode* graphic,
                     RTProcessContext* ctx, RecordEmission* out) {
  RTRecordNode* link = nullptr;
  if (StoreOf(graphic, &link) != PictureStore::Link || link->length < kLinkFixed ||
      U16(link->data, link->length, kLinkType) != 1)
    return 0;
  uint32_t dataLength = U16(link->data, link->length, kLinkDataLength);
  if (dataLength > link->length - kLinkFixed) dataLength = link->length - kLinkFixed;
  const char* name = reinterpret_cast<const char*>(link->data) + kLinkFixed;
  const char* nul = static_cast<const char*>(std::memchr(name, 0, dataLength));
  const uint32_t nameLength = nul ? uint32_t(nul - name) : dataLength;
  if (nameLength == 0 || nameLength >= kTextBufferSize) return 0;
  char* value = ctx->Session->OptionValue;
  std::memcpy(value, name, nameLength);
  value[nameLength] = 0;

  const uint32_t before = ctx->Compose.composedCount;
  NnStatus st = AppendRecord(data, sig, length, &ctx->Compose);
  if (st) return st;
  out->length = 0;  // the graphic stands in the composition already
  st = ExtractAttachmentToMemory(ctx, value, link, 1);
  if (st) {
    // Nothing came in (no such attachment, or no picture): all stays as it
    // was. Running out of memory is a failure of the call all the same.
    if (st == NN_ERR_MEMORY) return st;
    return ctx->Compose.composedCount == before + 1 ? 0 : st;
  }
  ctx->SetRecordMet = 1;
  // The picture's old description goes with the link that pointed away.
  for (RTRecordNode* n = graphic->next; n && n != link; n = n->next)
    if (n->signature == kSigImageHeader) MarkDrop(ctx, n);
  MarkDrop(ctx, link);
  RTRecordNode* n = link->next;
  if (n && n->signature == kSigBitmapHeader) {
    MarkDrop(ctx, n);
    // Its raster belongs to it and cannot stay alone.
    for (n = n->next; n && (n->signature == kSigBitmapSegment || n->signature == kSigColorTable ||
                            n->signature == kSigPatternTable);
         n = n->next)
      MarkDrop(ctx, n);
  }
  ctx->Item->modified = 1;
  return 0;
}

bool IsPictureRun(uint16_t s) {
  return s == kSigImageData || s == kSigImageHeader || s == kSigImageSegment ||
         s == kSigBitmapSegment || s == kSigMetafile || s == kSigMetafileSegment ||
         s == kSigBitmapHeader;
}

// "storage": the picture of the graphic moves into an attachment that a new
// storage link names.
NnStatus MoveToStorage(uint8_t* data, uint16_t sig, uint32_t length, RTRecordNode* graphic,
                       RTProcessContext* ctx, RecordEmission* out) {
  if (StoreOf(graphic) != PictureStore::Item) return 0;
  RTRecordNode* following = graphic->next;
  bool bitmap = false, convertible = true;
  for (; following && IsPictureRun(following->signature); following = following->next) {
    const uint16_t s = following->signature;
    if (s == kSigBitmapHeader) bitmap = true;
    if (s == kSigBitmapSegment || s == kSigMetafile || s == kSigMetafileSegment)
      convertible = false;
  }
  if (bitmap) ctx->TargetDone = 1;
  // Bitmaps and metafiles have no file form without the platform's graphic
  // converter: the call fails and the item keeps its records.
  if (bitmap || !convertible) return NN_ERR_INVALID_ARG;
  NnStatus st = AppendRecord(data, sig, length, &ctx->Compose);
  if (st) return st;
  out->length = 0;
  st = CreateGraphicAttachment(ctx, graphic, following);
  if (st) return st;
  ctx->SetRecordMet = 1;
  for (RTRecordNode* n = graphic->next; n && n != following; n = n->next) MarkDrop(ctx, n);
  return 0;
}

NnStatus StorageStep(uint8_t* data, uint16_t sig, uint32_t length, RTProcessContext* ctx,
                     RecordEmission* out) {
  RTRecordNode* node = Current(ctx, data);
  // Records an earlier graphic marked go when the walk reaches them.
  if (node && (node->flags & kNodeDrop)) {
    out->length = 0;
    return 0;
  }
  if (sig != kSigGraphic || !node || !ctx->Text1) return 0;
  const bool toInline = !strcasecmp(ctx->Text1, "inline");
  if (!toInline && strcasecmp(ctx->Text1, "storage")) return 0;
  // A picture already stored as asked holds the value.
  RTRecordNode* link = nullptr;
  const PictureStore store = StoreOf(node, &link);
  if (toInline ? store == PictureStore::Item
              : store == PictureStore::Link && U16(link->data, link->length, kLinkType) == 1)
    ctx->SetRecordMet = 1;
  return toInline ? BringInline(data, sig, length, node, ctx, out)
                 : MoveToStorage(data, sig, length, node, ctx, out);
}

// ---- 73: an image into the zip storage -----------------------------------------------

zipstorage* TargetZip(RTProcessContext* ctx) {
  if (ctx->Extra) return static_cast<zipstorage*>(ctx->Extra);
  return ctx->Session->globals->package;
}

NnStatus ImageToZip(const uint8_t* data, uint16_t sig, uint32_t length, RTProcessContext* ctx) {
  if (sig == kSigBitmapHeader) {
    ctx->TargetDone = 1;
    return 0;
  }
  if (sig != kSigImageHeader || length < kImageHeaderFixed) return 0;
  const RTRecordNode* header = Current(ctx, data);
  if (!header) return 0;
  uint32_t count = U32(data, length, kImageSegCount);
  const RTRecordNode* n = header->next;
  if (count == 0) {
    // A picture named by a shared image is not in the item.
    if (FollowingResource(n)) return 0;
    if (!n || n->signature != kSigImageData) return 0;
    count = U32(n->data, n->length, kDataSegCount);
    n = n->next;
  }
  if (count == 0) return 0;
  const char* entry = ctx->Text1;
  zipstorage* zip = TargetZip(ctx);
  if (!entry || !*entry || !zip) return NN_ERR_INVALID_ARG;
  // The segments that stand there, each checked, before the entry is opened:
  // an entry is never left open or half written.
  uint32_t present = 0;
  for (const RTRecordNode* s = n; s && present < count && s->signature == kSigImageSegment;
       s = s->next) {
    const uint32_t used = U16(s->data, s->length, kSegmentUsed);
    if (s->length < kSegmentFixed || used > s->length - kSegmentFixed) return NN_ERR_CD_STRUCTURE;
    ++present;
  }
  if (present == 0) return 0;
  ctx->TargetDone = 1;
  for (uint32_t i = 0; i < present; ++i, n = n->next) {
    const uint32_t used = U16(n->data, n->length, kSegmentUsed);
    NnStatus st = ZipStorageAddEntry(zip, entry, n->data + kSegmentFixed, used, i == 0,
                                     i + 1 == present, 1);
    if (st) return st;
  }
  return 0;
}

// ---- 76: attachment icons into the zip storage ----------------------------------------

// The extension of a path: from the last "." of its last part; null when none.
char* PathExtension(char* path) {
  char* base = path;
  for (char* p = path; *p; ++p)
    if (*p == '/' || *p == '\\') base = p + 1;
  return std::strrchr(base, '.');
}
const char* NameExtension(const char* name, uint32_t length) {
  for (uint32_t i = length; i > 0; --i)
    if (name[i - 1] == '.') return name + i - 1;
    else if (name[i - 1] == '/' || name[i - 1] == '\\') break;
  return nullptr;
}

// Replaces the extension of `path` (capacity `size`) by `ext` (with its dot),
// or appends it; false when it does not fit.
bool SetExtension(char* path, size_t size, const char* ext, size_t extLength) {
  char* dot = PathExtension(path);
  const size_t keep = dot ? size_t(dot - path) : std::strlen(path);
  if (keep + extLength + 1 > size) return false;
  std::memmove(path + keep, ext, extLength);
  path[keep + extLength] = 0;
  return true;
}

// Adds the line of the new picture to the manifest; the manifest block grows
// to its full capacity when it is smaller. False when it does not fit.
bool ManifestRoom(LSXLsiSession* s, size_t needed) {
  SessionGlobals* g = s->globals;
  if (needed > kManifestCapacity) return false;
  PoolBlock* block = PoolFindBlock(s->pool, g->epubManifest);
  if (!block) return false;  // not a pool text: its size is unknown
  if (block->size >= needed) return true;
  auto* bigger = static_cast<char*>(POOL_ALLOC(s, kManifestCapacity, true));
  if (!bigger) return false;
  std::memcpy(bigger, g->epubManifest, std::strlen(g->epubManifest) + 1);
  PoolFree(s, g->epubManifest);
  g->epubManifest = bigger;
  return true;
}

// The stored name as a path inside the package folder: it is document text,
// so its "..", "." and empty segments (a leading "/") are dropped.
std::string EntryName(const char* stored, uint32_t length) {
  std::string out, segment;
  for (uint32_t i = 0; i <= length; ++i) {
    if (i < length && stored[i] != '/' && stored[i] != '\\') {
      segment += stored[i];
      continue;
    }
    if (!segment.empty() && segment != "." && segment != "..")
      out += (out.empty() ? "" : "/") + segment;
    segment.clear();
  }
  return out;
}

NnStatus IconToZip(const uint8_t* data, uint16_t sig, uint32_t length, RTProcessContext* ctx) {
  if (!IsHotspotBegin(sig) || length < host::kHotspotFixed) return 0;
  const uint16_t kind = U16(data, length, host::kHotspotType);
  if (kind != 4 && kind != 10) return 0;
  uint32_t dataLength = U16(data, length, host::kHotspotDataLength);
  if (dataLength > length - host::kHotspotFixed) dataLength = length - host::kHotspotFixed;
  if (dataLength == 0) return 0;
  const char* stored = reinterpret_cast<const char*>(data) + host::kHotspotFixed;
  const char* nul = static_cast<const char*>(std::memchr(stored, 0, dataLength));
  const uint32_t storedLength = nul ? uint32_t(nul - stored) : dataLength;
  const char* original = nullptr;
  uint32_t originalLength = 0;
  if (nul) {
    original = nul + 1;
    const uint32_t rest = dataLength - storedLength - 1;
    const char* end = static_cast<const char*>(std::memchr(original, 0, rest));
    originalLength = end ? uint32_t(end - original) : rest;
  }
  if (storedLength == 0 || storedLength >= kTextBufferSize) return 0;
  const std::string name = EntryName(stored, storedLength);
  if (name.empty()) return 0;
  LSXLsiSession* s = ctx->Session;

  // 1. The stored name and the entry path.
  std::memcpy(s->PropertyText, stored, storedLength);
  s->PropertyText[storedLength] = 0;
  const char* prefix = ctx->Text1 ? ctx->Text1 : "";
  const size_t prefixLength = std::strlen(prefix);
  const bool separator = prefixLength && prefix[prefixLength - 1] != '\\';
  if (prefixLength + 1 + name.size() + 1 > kTextBufferSize) return 0;
  char* path = s->OptionValue;
  std::snprintf(path, kTextBufferSize, separator ? "%s\\%s" : "%s%s", prefix, name.c_str());
  // 2. The original file's extension, when it differs.
  const char* storedExt = NameExtension(name.data(), uint32_t(name.size()));
  const char* originalExt = original ? NameExtension(original, originalLength) : nullptr;
  if (originalExt) {
    const size_t oLen = size_t(original + originalLength - originalExt);
    const size_t sLen = storedExt ? size_t(name.data() + name.size() - storedExt) : 0;
    if (oLen != sLen || strncasecmp(originalExt, storedExt, oLen) != 0)
      if (!SetExtension(path, kTextBufferSize, originalExt, oLen)) return 0;
  }
  // 3. Forward slashes; the base name.
  for (char* p = path; *p; ++p)
    if (*p == '\\') *p = '/';
  const char* base = std::strrchr(path, '/');
  base = base ? base + 1 : path;

  // 4. The icon, then the icon with its caption.
  auto* block = static_cast<uint8_t*>(POOL_ALLOC(s, kWorkBlockSize, false));
  if (!block) return 0;
  char extension[16] = "";
  if (const char* dot = std::strrchr(base, '.')) std::snprintf(extension, sizeof extension, "%s", dot + 1);
  uint32_t size = kWorkBlockSize;
  uint16_t w = 0, h = 0;
  bool drawn = AnnotateGifToBuffer(base, "", 12, extension, 0xFFFFFF, block, &size, &w, &h) == 0 &&
               size > 0 && size <= kWorkBlockSize;
  if (drawn) {
    std::memcpy(s->ResultText, "CUSTOM,", 7);
    uint32_t written = 0;
    drawn = kv::Base64EncodeChecked(s->ResultText + 7, kResultTextSize - 7, block, size, 0,
                                    &written) == 0;
    s->ResultTextLength = drawn ? uint16_t(7 + written) : 0;
    if (!drawn) s->ResultText[0] = 0;
  }
  if (drawn) {
    std::memset(block, 0, kWorkBlockSize);
    size = kWorkBlockSize;
    // The platform draws its icons by extension: the custom icon is the one
    // of that extension.
    drawn = AnnotateGifToBuffer("(Attachment removed)", "", 11, extension, 0xFFFF00, block, &size,
                                &w, &h) == 0 &&
            size > 0 && size <= kWorkBlockSize;
  }
  NnStatus st = 0;
  SessionGlobals* g = s->globals;
  zipstorage* zip = TargetZip(ctx);
  // 5. Into the package, and a line of the manifest.
  if (drawn && g->epubManifest && zip &&
      std::strlen(g->epubManifest) + std::strlen(path) + kManifestSlack < kManifestCapacity &&
      SetExtension(path, kTextBufferSize, ".gif", 4)) {
    char id[kManifestIdLength + 1];
    const size_t pathLength = std::strlen(path);
    const char* from = pathLength > kManifestIdLength ? path + pathLength - kManifestIdLength : path;
    const size_t idLength = std::strlen(from);
    std::memcpy(id, from, idLength + 1);
    for (char* p = id; *p; ++p)
      if (!std::isalnum(static_cast<unsigned char>(*p)) && *p != '-') *p = '_';
    if (!std::isalpha(static_cast<unsigned char>(id[0]))) id[0] = 'x';
    // The manifest is XML: the path as attribute text, the identifier of
    // letters, digits, "_" and "-" only.
    std::string href(16 * std::strlen(path) + 1, '\0');
    href.resize(EscapeDocumentText(path, std::strlen(path), href.data(), href.size()));
    const std::string line = "    <item href=\"" + href + "\" id=\"" + id +
                             "\" media-type=\"image/gif\"/>\r\n";
    if (ManifestRoom(s, std::strlen(g->epubManifest) + line.size() + 1)) {
      st = ZipStorageAddEntry(zip, path, block, size, 1, 1, 1);
      if (st == 0) std::strcat(g->epubManifest, line.c_str());
    }
  }
  // 6.
  PoolFree(s, block);
  return st;
}

// ---- the family ----------------------------------------------------------------------

bool IsOwnStep(uint16_t code) {
  return code == kStepContentId || code == kStepStorage || code == kStepImageToZip ||
         code == kStepIconsToZip;
}

bool StepsPreWalk(RTProcessContext* ctx, NnStatus* status) {
  if (ctx->OperationCode != kStepStorage) return false;
  // No mark of an earlier call may drop records in this one.
  for (RTRecordNode* n = ctx->Records ? ctx->Records->first : nullptr; n; n = n->next)
    n->flags &= uint16_t(~kNodeDrop);
  // Only the two storages exist: any other value is refused, not ignored.
  const char* kind = ctx->Text1;
  const bool known = kind && (!strcasecmp(kind, "inline") || !strcasecmp(kind, "storage"));
  *status = known ? 0 : NN_ERR_INVALID_ARG;
  return true;
}

bool StepsRecord(uint8_t* data, uint16_t sig, uint32_t length, RTProcessContext* ctx,
                 RecordEmission* out, NnStatus* status) {
  const uint16_t code = ctx->OperationCode;
  if (!IsOwnStep(code)) return false;
  *status = 0;
  switch (code) {
    case kStepContentId:
      if (!ctx->TargetDone) ContentIdentifier(data, sig, ctx);
      break;
    case kStepStorage:
      *status = StorageStep(data, sig, length, ctx, out);
      break;
    case kStepImageToZip:
      if (!ctx->TargetDone) *status = ImageToZip(data, sig, length, ctx);
      break;
    case kStepIconsToZip:
      *status = IconToZip(data, sig, length, ctx);
      break;
    default:
      break;
  }
  return true;
}

const OperationFamily kGraphicSteps = {"graphic storage and package steps", nullptr, StepsPreWalk,
                                       nullptr, StepsRecord, nullptr, nullptr};

}  // namespace

KV_REGISTER_OPERATION_FAMILY(kGraphicSteps)
