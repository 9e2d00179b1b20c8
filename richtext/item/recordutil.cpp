#include "richtext/item/recordutil.h"

#include "host/base64.h"
#include "richtext/item/cdlayout.h"
#include "richtext/item/recordlist.h"

namespace {

constexpr uint16_t kDefaultPixels = 100;
constexpr uint32_t kTwipsPerPixel = 15;  // 1,440 twips an inch at 96 dots an inch

constexpr uint16_t kSigGraphic = 0x0099;
constexpr uint16_t kSigImageHeader = 0x007D;
constexpr uint16_t kSigImageSegment = 0x007C;
constexpr uint16_t kSigBitmapHeader = 0x0095;

uint32_t Be16(const uint8_t* p) { return uint32_t(p[0]) << 8 | p[1]; }
uint32_t Le16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
int32_t Le32(const uint8_t* p) {
  return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
}

uint16_t Clamp(int64_t v) { return v <= 0 ? 0 : v > 0xFFFF ? 0xFFFF : uint16_t(v); }

bool FieldPair(const RTRecordNode* n, const char* wName, const char* hName, uint16_t* w,
               uint16_t* h) {
  int32_t wo = kv::cd::HostFieldOffset(n->signature, wName);
  int32_t ho = kv::cd::HostFieldOffset(n->signature, hName);
  return wo >= 0 && ho >= 0 && kv::cd::ReadU16(n->data, n->length, uint32_t(wo), w) &&
         kv::cd::ReadU16(n->data, n->length, uint32_t(ho), h);
}

}  // namespace

bool ImageDataPixelSize(const uint8_t* d, uint32_t size, uint16_t* width, uint16_t* height) {
  if (!d) return false;
  if (size >= 10 && d[0] == 'G' && d[1] == 'I' && d[2] == 'F' && d[3] == '8') {
    *width = uint16_t(Le16(d + 6));
    *height = uint16_t(Le16(d + 8));
    return true;
  }
  if (size >= 26 && d[0] == 'B' && d[1] == 'M') {
    int32_t w = Le32(d + 18), h = Le32(d + 22);
    *width = Clamp(w);
    *height = Clamp(h < 0 ? -int64_t(h) : h);  // a negative height is a top-down bitmap
    return true;
  }
  if (size >= 4 && d[0] == 0xFF && d[1] == 0xD8) {
    uint32_t pos = 2;
    while (pos + 4 <= size) {
      if (d[pos] != 0xFF) return false;
      uint8_t marker = d[pos + 1];
      if (marker == 0xFF) {  // fill byte
        ++pos;
        continue;
      }
      if (marker == 0xD8 || (marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) {
        pos += 2;
        continue;
      }
      uint32_t len = Be16(d + pos + 2);
      bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
                   marker != 0xCC;
      if (frame) {
        if (pos + 9 > size || len < 7) return false;
        *height = uint16_t(Be16(d + pos + 5));
        *width = uint16_t(Be16(d + pos + 7));
        return true;
      }
      if (len < 2) return false;
      pos += 2 + len;
    }
  }
  return false;
}

void GraphicPixelSize(const RTRecordNode* node, uint16_t* width, uint16_t* height) {
  uint16_t w = 0, h = 0;
  for (const RTRecordNode* n = node; n && (w == 0 || h == 0); n = n->next) {
    uint16_t fw = 0, fh = 0;
    if (n->signature == kSigGraphic) {
      if (n != node) break;  // the next graphic begins
      uint8_t flags = 0;
      kv::cd::ReadU8(n->data, n->length, kv::cd::host::kGraphicFlags, &flags);
      if (kv::cd::ReadU16(n->data, n->length, kv::cd::host::kGraphicDestWidth, &fw) &&
          kv::cd::ReadU16(n->data, n->length, kv::cd::host::kGraphicDestHeight, &fh) && fw && fh) {
        w = (flags & 1) ? fw : uint16_t(fw / kTwipsPerPixel);
        h = (flags & 1) ? fh : uint16_t(fh / kTwipsPerPixel);
      }
    } else if (n->signature == kSigImageHeader) {
      if (FieldPair(n, "width", "height", &fw, &fh)) {
        if (!w) w = fw;
        if (!h) h = fh;
      }
    } else if (n->signature == kSigBitmapHeader) {
      if (FieldPair(n, "width", "height", &fw, &fh)) {
        if (!w) w = fw;
        if (!h) h = fh;
      }
    } else if (n->signature == kSigImageSegment) {
      const kv::cd::RecordLayout* layout = kv::cd::FindRecordLayout(n->signature);
      uint32_t fixed = layout ? layout->hostFixed : 0;
      if (n->length > fixed && ImageDataPixelSize(n->data + fixed, n->length - fixed, &fw, &fh)) {
        if (!w) w = fw;
        if (!h) h = fh;
      }
      break;  // only the first segment carries the image's header
    } else if (n != node) {
      break;
    }
  }
  if (width) *width = w ? w : kDefaultPixels;
  if (height) *height = h ? h : kDefaultPixels;
}

uint32_t RecordDataToBase64(char* out, uint32_t outSize, const RTRecordNode* node,
                            uint32_t option) {
  if (!out || outSize == 0) return 0;
  out[0] = 0;
  if (!node || !node->data) return 0;
  const kv::cd::RecordLayout* layout = kv::cd::FindRecordLayout(node->signature);
  uint32_t start = layout && layout->hostFixed <= node->length ? layout->hostFixed : 0;
  uint32_t written = 0;
  if (kv::Base64EncodeChecked(out, outSize, node->data + start, node->length - start,
                          option == 1 ? 76 : 0, &written) != NN_OK) {
    out[0] = 0;
    return 0;
  }
  return written;
}
