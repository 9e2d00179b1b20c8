#include "cdscan.h"

namespace kvtool {

bool ScanCanonicalRecords(const uint8_t* data, size_t size, std::vector<PlainRecord>* out,
                          std::string* error) {
  size_t pos = 0;
  while (pos < size) {
    if (size - pos < 2) {
      *error = "record header at byte " + std::to_string(pos) + " does not fit";
      return false;
    }
    uint8_t low = data[pos], high = data[pos + 1];
    PlainRecord rec;
    rec.offset = uint32_t(pos);
    uint32_t header;
    if (high == 0xFF) {
      header = 4;
      if (size - pos < header) {
        *error = "record header at byte " + std::to_string(pos) + " does not fit";
        return false;
      }
      rec.signature = uint16_t(0xFF00 | low);
      rec.length = uint32_t(data[pos + 2]) | (uint32_t(data[pos + 3]) << 8);
    } else if (high == 0x00) {
      header = 6;
      if (size - pos < header) {
        *error = "record header at byte " + std::to_string(pos) + " does not fit";
        return false;
      }
      rec.signature = low;
      rec.length = uint32_t(data[pos + 2]) | (uint32_t(data[pos + 3]) << 8) |
                   (uint32_t(data[pos + 4]) << 16) | (uint32_t(data[pos + 5]) << 24);
    } else {
      header = 2;
      rec.signature = low;
      rec.length = high;
    }
    if (rec.length < header) {
      *error = "record at byte " + std::to_string(pos) + " has length " +
               std::to_string(rec.length) + ", below its header";
      return false;
    }
    if (rec.length > size - pos) {
      *error = "record at byte " + std::to_string(pos) + " runs past the end of its item";
      return false;
    }
    out->push_back(rec);
    pos += rec.length;
    if (rec.length % 2 && pos < size) ++pos;  // the pad byte after an odd length
  }
  return true;
}

}  // namespace kvtool
