// Graphics and file attachments: a picture kept as an attachment brought in as
// inline image records, an inline picture moved out into an attachment with a
// storage link referring to it, and pictures written to files.
#include <cstdio>
#include <new>
#include <cstring>
#include <string>
#include <vector>

#include "host/noteops.h"
#include "lsxsessi.h"
#include "richtext/compose/composers.h"
#include "richtext/compose/composeutil.h"
#include "richtext/engine/rtproc.h"
#include "richtext/item/cdlayout.h"
#include "richtext/item/recordutil.h"
#include "rtitem.h"

using namespace kv::compose;
using kv::cd::U16;
using kv::cd::U32;

namespace {

constexpr uint16_t kSigGraphic = 153;
constexpr uint16_t kSigImageHeader = 125;
constexpr uint16_t kSigImageSegment = 124;
constexpr uint16_t kSigImageData = 82;
constexpr uint16_t kSigStorageLink = 0xFFC4;

// Host layouts: image header, image segment, image data record, storage link.
constexpr uint32_t kHeaderType = 8, kHeaderSegments = 20, kHeaderFixed = 32;
constexpr uint32_t kSegmentUsed = 8, kSegmentFixed = 12;
constexpr uint32_t kDataType = 2, kDataSegments = 8;
constexpr uint32_t kLinkType = 4, kLinkDataLength = 10, kLinkFixed = 24;

// A picture larger than this is not taken into memory (the item could not
// hold it anyway).
constexpr size_t kMaxPictureBytes = 64u * 1024 * 1024;
constexpr uint32_t kMaxGraphicNames = 10000;

// The picture bytes of the image at `from` (a graphic, its image header or an
// image data record): the used bytes of as many image segments as the header
// counts, taken before `stop` (null: the list's end). NN_ERR_CD_STRUCTURE when
// there is no counted image or fewer segments than counted stand there.
NnStatus CollectPicture(const RTRecordNode* from, const RTRecordNode* stop,
                        std::vector<uint8_t>* out, uint16_t* type) {
  out->clear();
  *type = 0;
  const RTRecordNode* n = from;
  if (n && n->signature == kSigGraphic) n = n->next;
  uint32_t count = 0;
  if (n && n != stop && n->signature == kSigImageHeader) {
    if (n->length < kHeaderFixed) return NN_ERR_CD_STRUCTURE;
    *type = U16(n->data, n->length, kHeaderType);
    count = U32(n->data, n->length, kHeaderSegments);
    n = n->next;
  }
  if (n && n != stop && n->signature == kSigImageData) {
    if (!count) count = U32(n->data, n->length, kDataSegments);
    if (!*type) *type = U16(n->data, n->length, kDataType);
    n = n->next;
  }
  if (count == 0) return NN_ERR_CD_STRUCTURE;
  uint32_t taken = 0;
  for (; n && n != stop && taken < count && n->signature == kSigImageSegment; n = n->next) {
    const uint32_t used = U16(n->data, n->length, kSegmentUsed);
    if (n->length < kSegmentFixed || used > n->length - kSegmentFixed) return NN_ERR_CD_STRUCTURE;
    if (out->size() + used > kMaxPictureBytes) return NN_ERR_MEMORY;
    out->insert(out->end(), n->data + kSegmentFixed, n->data + kSegmentFixed + used);
    ++taken;
  }
  if (taken < count || out->empty()) return NN_ERR_CD_STRUCTURE;
  return 0;
}

// Writes bytes to a file; a file that could not be written whole is removed.
NnStatus WriteWholeFile(const char* path, const std::vector<uint8_t>& bytes) {
  std::FILE* f = std::fopen(path, "wb");
  if (!f) return NN_ERR_FILE_IO;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  const bool closed = std::fclose(f) == 0;
  if (written && closed) return 0;
  std::remove(path);
  return NN_ERR_FILE_IO;
}

NnHandle NoteOf(const RTProcessContext* ctx) {
  if (ctx->NoteHandle) return ctx->NoteHandle;
  return ctx->Item ? ctx->Item->hNote : 0;
}

}  // namespace

NnStatus ExtractAttachmentToMemory(RTProcessContext* ctx, const char* name,
                                   const RTRecordNode* /*link*/, int inlineOnly) {
  if (!ctx || !ctx->Item || !name || !*name) return NN_ERR_INVALID_ARG;
  const NnHandle hNote = NoteOf(ctx);
  NnHandle h = 0;
  uint32_t size = 0;
  NnStatus st = NnNoteExtractFileToMemory(hNote, name, &h, &size);
  if (st) return st;
  std::vector<uint8_t> bytes;
  if (const auto* p = static_cast<const uint8_t*>(NnMemLock(h))) {
    // The handle may be larger than the file: trust neither beyond the other.
    const uint32_t held = NnMemSize(h);
    bytes.assign(p, p + (size < held ? size : held));
    NnMemUnlock(h);
  }
  NnMemFree(h);
  uint16_t w = 0, hgt = 0;
  const uint16_t type = PictureType(bytes.data(), bytes.size(), &w, &hgt);
  // An attachment that is no picture the item can hold is left where it is.
  if (!type || bytes.size() > kMaxPictureBytes) return NN_ERR_INVALID_ARG;
  if (!inlineOnly)
    return ComposeImageFromData(bytes.data(), bytes.size(), type == kImageTypePng ? 3 : type, ctx,
                                nullptr);
  st = EmitImageRecords(bytes.data(), bytes.size(), type, w, hgt, ctx);
  if (st == 0) ctx->Item->modified = 1;
  return st;
}

NnStatus CreateGraphicAttachment(RTProcessContext* ctx, const RTRecordNode* graphic,
                                 const RTRecordNode* following) {
  if (!ctx || !ctx->Item || !graphic) return NN_ERR_INVALID_ARG;
  std::vector<uint8_t> bytes;
  uint16_t type = 0;
  NnStatus st = CollectPicture(graphic, following, &bytes, &type);
  if (st) return st;
  const NnHandle hNote = NoteOf(ctx);
  // The first free name of "Graphic", "Graphic1", "Graphic2" ...
  char name[32] = "Graphic";
  uint32_t number = 0;
  while (kv::NoteFindAttachmentName(hNote, name, 0, nullptr, 0) == 0) {
    if (++number >= kMaxGraphicNames) return NN_ERR_INVALID_ARG;
    std::snprintf(name, sizeof name, "Graphic%u", unsigned(number));
  }
  st = NnNoteAttachData(hNote, name, bytes.data(), uint32_t(bytes.size()));
  if (st) return st;

  const uint32_t nameLength = uint32_t(std::strlen(name));
  uint8_t link[kLinkFixed + sizeof name] = {};
  const uint32_t length = kLinkFixed + nameLength + 1;
  PutU16(link, 0, kSigStorageLink);
  PutU16(link, 2, uint16_t(length));
  PutU16(link, kLinkType, 1);  // an attachment of the note
  PutU16(link, kLinkDataLength, uint16_t(nameLength + 1));
  std::memcpy(link + kLinkFixed, name, nameLength);
  st = AppendRecord(link, kSigStorageLink, length, &ctx->Compose);
  if (st) {
    kv::NoteRemoveAttachment(hNote, name);
    return st;
  }
  // Until the call installs its records the attachment is provisional.
  auto& guard = ctx->GraphicAttachments;
  if (!guard.names) guard.names = new (std::nothrow) std::vector<std::string>();
  auto* names = static_cast<std::vector<std::string>*>(guard.names);
  if (!names) {
    kv::NoteRemoveAttachment(hNote, name);
    return NN_ERR_MEMORY;
  }
  guard.item = ctx->Item;
  guard.list = ctx->Records;
  guard.note = hNote;
  names->push_back(name);
  ctx->Item->modified = 1;
  return 0;
}

RTProcessContext::GraphicAttachmentGuard::~GraphicAttachmentGuard() {
  auto* made = static_cast<std::vector<std::string>*>(names);
  if (!made) return;
  // The walked list is still the item's: the call failed, and the
  // attachments it made for its new storage links go with it.
  const bool failed = item && item->context && item->context->records == list;
  if (failed)
    for (const std::string& name : *made) kv::NoteRemoveAttachment(note, name.c_str());
  delete made;
}

NnStatus ExportGraphicToFile(TorvoRTItem* /*item*/, const char* file, const RTRecordNode* node) {
  if (!file || !*file || !node) return NN_ERR_INVALID_ARG;
  std::vector<uint8_t> bytes;
  uint16_t type = 0;
  NnStatus st = CollectPicture(node, nullptr, &bytes, &type);
  if (st) return st;
  return WriteWholeFile(file, bytes);
}

NnStatus ExportGraphicRecordsToFile(TorvoRTItem* item, const char* file,
                                    const RTRecordNode* node) {
  if (!file || !*file || !node) return NN_ERR_INVALID_ARG;
  // A graphic that carries its picture as image segments is written as it is.
  const RTRecordNode* n = node->signature == kSigGraphic ? node->next : node;
  if (n && (n->signature == kSigImageHeader || n->signature == kSigImageData))
    return ExportGraphicToFile(item, file, n);
  // A bitmap's raster needs the platform's graphic converter, which this
  // library does not have: refused, and no file is written.
  return NN_ERR_INVALID_ARG;
}
