// Canonical (on-disk, little-endian, packed) structures read into host form.
#include "nn/nn.h"
#include "store.h"

using nnstore::rd16;
using nnstore::rd32;
using nnstore::rdTime;

namespace {

constexpr uint8_t kDocumentSignature = 0x86;
constexpr uint32_t kDocumentSize = 24;

NnStatus readFileObject(const uint8_t* p, uint32_t avail, NnFileObject* f, uint32_t* used) {
  if (avail < nnstore::kFileObjectSize) return NN_ERR_BAD_ITEM;
  f->objectType = rd16(p);
  f->objectId = rd32(p + 2);
  f->fileNameLength = rd16(p + 6);
  f->hostType = rd16(p + 8);
  f->compressionType = rd16(p + 10);
  f->fileAttributes = rd16(p + 12);
  f->flags = rd16(p + 14);
  f->fileSize = rd32(p + 16);
  f->fileCreated = rdTime(p + 20);
  f->fileModified = rdTime(p + 28);
  *used = nnstore::kFileObjectSize;
  return NN_OK;
}

NnStatus readDocument(const uint8_t* p, uint32_t avail, NnDocumentRecord* d, uint32_t* used) {
  if (avail < kDocumentSize) return NN_ERR_BAD_ITEM;
  // The header length counts the whole record; trust it for skipping only when
  // it covers the fixed part and stays inside what the caller can read.
  uint8_t length = p[1];
  if (p[0] != kDocumentSignature || length < kDocumentSize || length > avail)
    return NN_ERR_BAD_ITEM;
  d->signature = p[0];
  d->length = length;
  d->paperColor = rd16(p + 2);
  d->formFlags = rd16(p + 4);
  d->notePrivileges = rd16(p + 6);
  d->formFlags2 = rd16(p + 8);
  d->inherFieldNameLength = rd16(p + 10);
  d->paperColorExt = rd16(p + 12);
  d->paperColorFlags = rd16(p + 14);
  d->paperColorRed = p[16];
  d->paperColorGreen = p[17];
  d->paperColorBlue = p[18];
  d->paperColorUnused = p[19];
  d->formFlags3 = rd16(p + 20);
  d->spare = rd16(p + 22);
  *used = length;
  return NN_OK;
}

}  // namespace

NnStatus NnOdsRead(const void** pp, uint32_t avail, uint16_t structType, void* out) {
  if (!pp || !*pp || !out) return NN_ERR_INVALID_ARG;
  const auto* p = static_cast<const uint8_t*>(*pp);
  uint32_t used = 0;
  NnStatus st;
  // Read into a local first so a refused structure leaves out untouched.
  switch (structType) {
    case NN_ODS_FILEOBJECT: {
      NnFileObject f{};
      st = readFileObject(p, avail, &f, &used);
      if (st == NN_OK) *static_cast<NnFileObject*>(out) = f;
      break;
    }
    case NN_ODS_DOCUMENT: {
      NnDocumentRecord d{};
      st = readDocument(p, avail, &d, &used);
      if (st == NN_OK) *static_cast<NnDocumentRecord*>(out) = d;
      break;
    }
    default:
      return NN_ERR_INVALID_ARG;
  }
  if (st == NN_OK) *pp = p + used;
  return st;
}
