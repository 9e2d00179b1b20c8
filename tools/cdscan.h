// A plain reader of canonical record streams: finds each record's signature
// and stored length without interpreting its body. kvedit lists items with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kvtool {

struct PlainRecord {
  uint32_t offset = 0;     // from the start of the segment
  uint16_t signature = 0;  // byte-header records without their length byte
  uint32_t length = 0;     // as stored, header included; may be odd
};

// Walks one segment. Records start on even offsets (one pad byte follows an
// odd length). False, with a message, when a header does not fit, a length is
// below its header's size or a record runs past the end.
bool ScanCanonicalRecords(const uint8_t* data, size_t size, std::vector<PlainRecord>* out,
                          std::string* error);

}  // namespace kvtool
