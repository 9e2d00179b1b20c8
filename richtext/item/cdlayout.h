// Record layout converter: moves rich-text records between the canonical
// (on-disk: little-endian, packed) layout and the host layout (x86-64 natural
// alignment) that the record list and every record handler work on.
//
// All layouts live in one generated table (cdlayout_table.cpp, written by
// tools/gen_cdlayout.py from the record layout fact table). One generic routine
// walks a record's field list; there is no code per record type.
//
// Record bytes are untrusted: every function takes the number of readable
// bytes and never reads or writes past it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

#include "nn/nn.h"

namespace kv::cd {

// How a record's header is stored. The kind is not a property of the
// signature alone: it is read from the first stored word (see
// ReadCanonicalHeader).
enum class HeaderKind : uint8_t { Byte, Word, Long };

// Scalar type of a field. Bytes is a byte run (text arrays, reserved bytes).
enum class FieldType : uint8_t { U8, U16, I16, U32, I32, F64, FontId, Bytes };

// One row of a record's field list. An array of scalars is one row (`count`
// elements of `size` bytes, contiguous in both layouts); arrays of embedded
// structures are expanded into one row per member ("back_color[2].red").
struct FieldLayout {
  const char* name;
  FieldType type;
  uint16_t canonicalOffset;  // from the first header byte
  uint16_t hostOffset;
  uint16_t size;   // scalar size: 1, 2, 4 or 8
  uint16_t count;  // number of elements (1 for a plain scalar)

  uint32_t ByteSize() const { return uint32_t{size} * count; }
};

struct RecordLayout {
  uint16_t signature;  // byte and long header records 0x00NN, word header 0xFFNN
  HeaderKind kind;
  const char* name;       // e.g. "PABDEFINITION"
  const char* structure;  // e.g. "CDPABDEFINITION" (shared by several signatures)
  uint16_t canonicalFixed;  // size of the fixed part incl. header, canonical
  uint16_t hostFixed;       // same in host layout (variable data starts here)
  uint16_t hostAlign;
  const FieldLayout* fields;  // includes the header fields hdr.sig and hdr.len
  size_t fieldCount;
  // Documented optional fields inside the variable data (0xFF82 only). They
  // keep the fixed part's shift, so conversion moves them with the variable
  // data; the rows are here so callers can find their host offsets.
  const FieldLayout* extension;
  size_t extensionCount;

  std::span<const FieldLayout> Fields() const { return {fields, fieldCount}; }
  std::span<const FieldLayout> Extension() const { return {extension, extensionCount}; }
};

// The whole table, sorted by signature.
std::span<const RecordLayout> AllRecordLayouts();

// Null for a signature that is not in the table.
const RecordLayout* FindRecordLayout(uint16_t signature);

// Field lookup by name ("left_margin", "font_color.red", "reserved[1].length").
// Searches the fixed part first, then the documented extension. Null if absent.
const FieldLayout* FindField(const RecordLayout& layout, std::string_view name);

// Host (or canonical) offset of a named field of a record type; -1 when the
// signature or the field is unknown.
int32_t HostFieldOffset(uint16_t signature, std::string_view name);
int32_t CanonicalFieldOffset(uint16_t signature, std::string_view name);

constexpr uint32_t CanonicalHeaderSize(HeaderKind kind) {
  return kind == HeaderKind::Byte ? 2u : kind == HeaderKind::Word ? 4u : 6u;
}
// The host long header carries two pad bytes so that its u32 length is aligned.
constexpr uint32_t HostHeaderSize(HeaderKind kind) {
  return kind == HeaderKind::Byte ? 2u : kind == HeaderKind::Word ? 4u : 8u;
}

// Reads the header of a canonical record. The kind comes from the high byte of
// the first little-endian word: 0xFF word header, 0x00 long header, anything
// else a byte header (signature in the low byte, length in the high byte).
// `length` is the record length the header states (header included). False
// when the header does not fit in `avail` bytes.
inline bool ReadCanonicalHeader(const uint8_t* p, size_t avail, uint16_t* signature,
                                HeaderKind* kind, uint32_t* length, uint32_t* headerSize);

// The same for a host-layout record (long header: sig u16, 2 pad bytes, len u32).
bool ReadHostHeader(const uint8_t* p, size_t avail, uint16_t* signature, HeaderKind* kind,
                    uint32_t* length, uint32_t* headerSize);

// Writes a host header. The kind follows from the signature and length as a
// reader will see it: 0xFFNN word; 0x00NN byte when `kind` is Byte, else long.
// False (nothing written) when the header does not fit in `avail`, the
// signature does not suit the kind, or the length cannot be stored (a byte
// length must be 2..254: 255 would read back as a word header).
bool WriteHostHeader(uint8_t* p, size_t avail, uint16_t signature, HeaderKind kind,
                     uint32_t length);

// Rewrites only the length of a host record whose header is already in place.
bool SetHostRecordLength(uint8_t* p, size_t avail, uint32_t length);

// Converts one canonical record to host layout. The record's length comes from
// its header and must fit in `canonicalLength` readable bytes. Fixed-part
// fields go to their host offsets (padding is zero), variable data follows the
// host fixed part unchanged, and the length becomes
// length - canonical fixed + host fixed. A signature not in the table has only
// its header converted. Refused with NN_ERR_CD_STRUCTURE: a header that does
// not fit, a length below the header size or the canonical fixed part, a
// header kind that does not match the signature's, a host length that cannot
// be stored in the header. NN_ERR_MEMORY when out of memory. On failure *out
// is left as it was.
NnStatus CanonicalToHost(const uint8_t* rec, uint32_t canonicalLength, std::vector<uint8_t>* out);
// The same written at out, which has `room` bytes: *hostLength is the
// converted record's length, and the record is written only when that fits
// (a loader then grows its area and asks again). Nothing is written when the
// record does not convert. Lets a loader convert many records into one area.
NnStatus CanonicalToHostIn(const uint8_t* rec, uint32_t canonicalLength, uint8_t* out, size_t room,
                           uint32_t* hostLength);

// The exact inverse: CanonicalToHost followed by HostToCanonical gives back the
// original bytes. Host padding bytes are dropped.
NnStatus HostToCanonical(const uint8_t* rec, uint32_t hostLength, std::vector<uint8_t>* out);

// Host offsets that other code reads often. Checked against the table by the
// tests.
namespace host {
// Text record 0xFF85 / 0xFFE4.
inline constexpr uint32_t kTextFont = 4;
inline constexpr uint32_t kTextFixed = 8;
// Hotspot begin 0xFFA9 / 0xFFAD / 0xFF7E / 0xFF74.
inline constexpr uint32_t kHotspotType = 4;
inline constexpr uint32_t kHotspotFlags = 8;
inline constexpr uint32_t kHotspotDataLength = 12;
inline constexpr uint32_t kHotspotFixed = 16;
// Paragraph definition 0xFF82.
inline constexpr uint32_t kPabId = 4;
inline constexpr uint32_t kPabJustify = 6;
inline constexpr uint32_t kPabLineSpacing = 8;
inline constexpr uint32_t kPabSpaceBefore = 10;
inline constexpr uint32_t kPabSpaceAfter = 12;
inline constexpr uint32_t kPabLeftMargin = 14;
inline constexpr uint32_t kPabRightMargin = 16;
inline constexpr uint32_t kPabFirstLineLeftMargin = 18;
inline constexpr uint32_t kPabTabCount = 20;
inline constexpr uint32_t kPabTabs = 22;
inline constexpr uint32_t kPabFlags = 62;
inline constexpr uint32_t kPabTabTypes = 64;
inline constexpr uint32_t kPabFlags2 = 68;
inline constexpr uint32_t kPabFixed = 72;
// Graphic header 0x0099 (long header).
inline constexpr uint32_t kGraphicDestWidth = 8;
inline constexpr uint32_t kGraphicDestHeight = 10;
inline constexpr uint32_t kGraphicCropWidth = 12;
inline constexpr uint32_t kGraphicCropHeight = 14;
inline constexpr uint32_t kGraphicCropOffset = 16;
inline constexpr uint32_t kGraphicResized = 24;
inline constexpr uint32_t kGraphicVersion = 26;
inline constexpr uint32_t kGraphicFlags = 27;
inline constexpr uint32_t kGraphicFixed = 32;
// Paragraph reference 0x0083.
inline constexpr uint32_t kPabReferenceId = 2;
// Field 0xFF8A.
inline constexpr uint32_t kFieldFont = 20;
inline constexpr uint32_t kFieldFixed = 40;
}  // namespace host

// Bounds-checked little-endian reads of a host or canonical record; false when
// the value does not lie inside `avail`.
// The byte and word readers are inline: handlers read fields of every record
// they meet.
namespace detail {
inline bool ReadScalar(const uint8_t* p, size_t avail, uint32_t offset, size_t size, void* value) {
  if (p == nullptr || value == nullptr || offset > avail || avail - offset < size) return false;
  std::memcpy(value, p + offset, size);
  return true;
}
}  // namespace detail
inline bool ReadU8(const uint8_t* p, size_t avail, uint32_t offset, uint8_t* value) {
  return detail::ReadScalar(p, avail, offset, sizeof *value, value);
}
inline bool ReadU16(const uint8_t* p, size_t avail, uint32_t offset, uint16_t* value) {
  return detail::ReadScalar(p, avail, offset, sizeof *value, value);
}
bool ReadU32(const uint8_t* p, size_t avail, uint32_t offset, uint32_t* value);

// The same as values: 0 when the field does not lie inside `avail`.
inline uint8_t U8(const uint8_t* p, size_t avail, uint32_t offset) {
  uint8_t v = 0;
  ReadU8(p, avail, offset, &v);
  return v;
}
inline uint16_t U16(const uint8_t* p, size_t avail, uint32_t offset) {
  uint16_t v = 0;
  ReadU16(p, avail, offset, &v);
  return v;
}
inline uint32_t U32(const uint8_t* p, size_t avail, uint32_t offset) {
  uint32_t v = 0;
  ReadU32(p, avail, offset, &v);
  return v;
}
// Little-endian stores into a record the caller has sized.
inline void Put16(uint8_t* p, uint32_t offset, uint16_t v) {
  p[offset] = uint8_t(v);
  p[offset + 1] = uint8_t(v >> 8);
}
inline void Put32(uint8_t* p, uint32_t offset, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[offset + i] = uint8_t(v >> (8 * i));
}

// Canonical headers are read for every record of every item loaded: the
// reader is inline.
namespace detail {

// Reads a header in either layout; the long header's length sits at 2
// (canonical) or 4 (host).
inline bool ReadHeader(const uint8_t* p, size_t avail, bool hostLayout, uint16_t* signature,
                       HeaderKind* kind, uint32_t* length, uint32_t* headerSize) {
  if (p == nullptr || avail < 2) return false;
  uint16_t word;
  std::memcpy(&word, p, sizeof word);
  const HeaderKind k = (word >> 8) == 0xFF ? HeaderKind::Word
                       : (word >> 8) == 0x00 ? HeaderKind::Long
                                             : HeaderKind::Byte;
  const uint32_t size = hostLayout ? HostHeaderSize(k) : CanonicalHeaderSize(k);
  if (avail < size) return false;
  uint16_t sig;
  uint32_t len;
  switch (k) {
    case HeaderKind::Byte:
      sig = static_cast<uint16_t>(word & 0xFF);
      len = word >> 8;
      break;
    case HeaderKind::Word: {
      uint16_t w;
      std::memcpy(&w, p + 2, sizeof w);
      sig = word;
      len = w;
      break;
    }
    case HeaderKind::Long:
    default:
      sig = word;
      std::memcpy(&len, p + (hostLayout ? 4 : 2), sizeof len);
      break;
  }
  if (signature) *signature = sig;
  if (kind) *kind = k;
  if (length) *length = len;
  if (headerSize) *headerSize = size;
  return true;
}

}  // namespace detail

inline bool ReadCanonicalHeader(const uint8_t* p, size_t avail, uint16_t* signature,
                                HeaderKind* kind, uint32_t* length, uint32_t* headerSize) {
  return detail::ReadHeader(p, avail, false, signature, kind, length, headerSize);
}

}  // namespace kv::cd
