#include "richtext/item/cdlayout.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

namespace kv::cd {

// Both layouts store scalars little-endian, so a field moves as plain bytes.
static_assert(std::endian::native == std::endian::little,
              "the host layout table describes a little-endian host");

namespace {

// Largest length a byte header can state: 0xFF in the high byte of the first
// word would make a reader take the record for a word-header record.
constexpr uint32_t kMaxByteLength = 0xFE;

void StoreU16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, sizeof v); }
void StoreU32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, sizeof v); }

// Reads a header in either layout (see detail::ReadHeader in the header).
bool ReadHeader(const uint8_t* p, size_t avail, bool hostLayout, uint16_t* signature,
                HeaderKind* kind, uint32_t* length, uint32_t* headerSize) {
  return detail::ReadHeader(p, avail, hostLayout, signature, kind, length, headerSize);
}

bool SignatureSuitsKind(uint16_t signature, HeaderKind kind) {
  return kind == HeaderKind::Word ? (signature >> 8) == 0xFF : (signature >> 8) == 0;
}

// Writes a header of the given layout into a buffer known to be large enough.
void StoreHeader(uint8_t* p, bool hostLayout, uint16_t signature, HeaderKind kind,
                 uint32_t length) {
  switch (kind) {
    case HeaderKind::Byte:
      p[0] = static_cast<uint8_t>(signature);
      p[1] = static_cast<uint8_t>(length);
      break;
    case HeaderKind::Word:
      StoreU16(p, signature);
      StoreU16(p + 2, static_cast<uint16_t>(length));
      break;
    case HeaderKind::Long:
      StoreU16(p, signature);
      if (hostLayout) {
        StoreU16(p + 2, 0);
        StoreU32(p + 4, length);
      } else {
        StoreU32(p + 2, length);
      }
      break;
  }
}

bool LengthFits(HeaderKind kind, uint64_t length) {
  switch (kind) {
    case HeaderKind::Byte: return length <= kMaxByteLength;
    case HeaderKind::Word: return length <= 0xFFFF;
    case HeaderKind::Long: return length <= 0xFFFFFFFFu;
  }
  return false;
}

// How the fixed part of a record moves one way: runs of bytes that lie
// together in both layouts, merged from the field list once. The header is
// not among them: it is written anew.
struct Span {
  uint16_t from, to, size;
};
struct Moves {
  bool sound = true;  // every field lies inside both fixed parts
  std::vector<Span> spans;
  // The bytes of the written fixed part after its header that no field
  // covers (padding): they are zero.
  std::vector<Span> padding;
};

Moves PlanMoves(const RecordLayout& layout, bool toHost) {
  Moves m;
  const uint32_t canonHeader = CanonicalHeaderSize(layout.kind);
  const uint32_t srcFixed = toHost ? layout.canonicalFixed : layout.hostFixed;
  const uint32_t dstFixed = toHost ? layout.hostFixed : layout.canonicalFixed;
  for (const FieldLayout& f : layout.Fields()) {
    if (f.canonicalOffset < canonHeader) continue;  // the header is rewritten
    const uint32_t from = toHost ? f.canonicalOffset : f.hostOffset;
    const uint32_t to = toHost ? f.hostOffset : f.canonicalOffset;
    const uint32_t size = f.ByteSize();
    // The table keeps fields inside both fixed parts; checked here so that a
    // bad table row can never move bytes out of bounds.
    if (from + size > srcFixed || to + size > dstFixed) {
      m.sound = false;
      m.spans.clear();
      return m;
    }
    if (size == 0) continue;
    if (!m.spans.empty()) {
      Span& last = m.spans.back();
      if (last.from + last.size == from && last.to + last.size == to) {
        last.size = uint16_t(last.size + size);
        continue;
      }
    }
    m.spans.push_back({uint16_t(from), uint16_t(to), uint16_t(size)});
  }
  const uint32_t dstHeader = toHost ? HostHeaderSize(layout.kind) : canonHeader;
  std::vector<bool> covered(dstFixed, false);
  for (const Span& span : m.spans)
    for (uint32_t i = span.to; i < uint32_t(span.to) + span.size; ++i) covered[i] = true;
  for (uint32_t i = dstHeader; i < dstFixed;) {
    if (covered[i]) {
      ++i;
      continue;
    }
    uint32_t end = i;
    while (end < dstFixed && !covered[end]) ++end;
    m.padding.push_back({0, uint16_t(i), uint16_t(end - i)});
    i = end;
  }
  return m;
}

// Every record of every item asks for its layout and moves: an index by
// signature answers at once, with the moves of every layout planned both ways.
struct LayoutIndex {
  std::vector<const RecordLayout*> bySignature;
  const RecordLayout* first = nullptr;  // of the table
  std::vector<Moves> moves[2];          // canonical, then host, by layout
  const Moves& MovesOf(const RecordLayout* layout, bool toHost) const {
    return moves[toHost ? 1 : 0][size_t(layout - first)];
  }
};

const LayoutIndex& Index() {
  static const LayoutIndex index = [] {
    LayoutIndex x;
    x.bySignature.assign(0x10000, nullptr);
    const std::span<const RecordLayout> all = AllRecordLayouts();
    x.first = all.data();
    // The first of equal signatures wins, as the search of the sorted table found it.
    for (auto it = all.rbegin(); it != all.rend(); ++it) x.bySignature[it->signature] = &*it;
    for (const RecordLayout& l : all) {
      x.moves[0].push_back(PlanMoves(l, false));
      x.moves[1].push_back(PlanMoves(l, true));
    }
    return x;
  }();
  return index;
}

// A record's conversion one way, read from its header and its layout.
struct Conversion {
  uint16_t sig = 0;
  HeaderKind kind = HeaderKind::Byte;
  uint32_t length = 0;   // as stated by the source
  uint32_t srcFixed = 0, dstFixed = 0;
  uint32_t newLength = 0;
  const Moves* moves = nullptr;  // null for a record the table does not know
};

NnStatus PlanConversion(const uint8_t* rec, uint32_t avail, bool toHost, Conversion* c) {
  uint32_t headerSize = 0;
  if (!ReadHeader(rec, avail, !toHost, &c->sig, &c->kind, &c->length, &headerSize))
    return NN_ERR_CD_STRUCTURE;
  if (c->length < headerSize || c->length > avail) return NN_ERR_CD_STRUCTURE;

  const LayoutIndex& index = Index();
  const RecordLayout* layout = index.bySignature[c->sig];
  // A known signature stored with another header kind is not the record the
  // table describes (e.g. a byte signature behind a long header).
  if (layout != nullptr && layout->kind != c->kind) return NN_ERR_CD_STRUCTURE;

  // An unknown record is its header plus opaque bytes.
  const uint32_t canonFixed = layout ? layout->canonicalFixed : CanonicalHeaderSize(c->kind);
  const uint32_t hostFixed = layout ? layout->hostFixed : HostHeaderSize(c->kind);
  c->srcFixed = toHost ? canonFixed : hostFixed;
  c->dstFixed = toHost ? hostFixed : canonFixed;
  if (c->length < c->srcFixed) return NN_ERR_CD_STRUCTURE;

  const uint64_t newLength = uint64_t{c->length} - c->srcFixed + c->dstFixed;
  if (!LengthFits(c->kind, newLength)) return NN_ERR_CD_STRUCTURE;
  c->newLength = static_cast<uint32_t>(newLength);

  if (layout != nullptr) {
    c->moves = &index.MovesOf(layout, toHost);
    if (!c->moves->sound) return NN_ERR_CD_STRUCTURE;
  }
  return NN_OK;
}

// Writes the planned record (newLength bytes) at dst.
void WriteConversion(const Conversion& c, const uint8_t* rec, bool toHost, uint8_t* dst) {
  // The header is written whole; bytes no field covers (padding of the fixed
  // part) are zero.
  StoreHeader(dst, toHost, c.sig, c.kind, c.newLength);
  if (c.moves != nullptr) {
    for (const Span& pad : c.moves->padding) std::memset(dst + pad.to, 0, pad.size);
    for (const Span& span : c.moves->spans) std::memcpy(dst + span.to, rec + span.from, span.size);
  }
  const uint32_t variable = c.length - c.srcFixed;
  if (variable != 0) std::memcpy(dst + c.dstFixed, rec + c.srcFixed, variable);
}

// The one converter. `toHost` picks the direction; the field list is walked
// the same way both ways, only source and destination offsets swap. *out is
// left as it was when the record does not convert.
NnStatus Convert(const uint8_t* rec, uint32_t avail, bool toHost, std::vector<uint8_t>* out) {
  if (out == nullptr) return NN_ERR_CD_STRUCTURE;
  Conversion c;
  const NnStatus st = PlanConversion(rec, avail, toHost, &c);
  if (st != NN_OK) return st;
  std::vector<uint8_t> buf;
  try {
    buf.resize(c.newLength);
  } catch (const std::bad_alloc&) {
    return NN_ERR_MEMORY;
  }
  WriteConversion(c, rec, toHost, buf.data());
  out->swap(buf);
  return NN_OK;
}


}  // namespace

const RecordLayout* FindRecordLayout(uint16_t signature) {
  return Index().bySignature[signature];
}

const FieldLayout* FindField(const RecordLayout& layout, std::string_view name) {
  for (const FieldLayout& f : layout.Fields())
    if (name == f.name) return &f;
  for (const FieldLayout& f : layout.Extension())
    if (name == f.name) return &f;
  return nullptr;
}

int32_t HostFieldOffset(uint16_t signature, std::string_view name) {
  const RecordLayout* layout = FindRecordLayout(signature);
  const FieldLayout* f = layout ? FindField(*layout, name) : nullptr;
  return f ? int32_t{f->hostOffset} : -1;
}

int32_t CanonicalFieldOffset(uint16_t signature, std::string_view name) {
  const RecordLayout* layout = FindRecordLayout(signature);
  const FieldLayout* f = layout ? FindField(*layout, name) : nullptr;
  return f ? int32_t{f->canonicalOffset} : -1;
}

bool ReadHostHeader(const uint8_t* p, size_t avail, uint16_t* signature, HeaderKind* kind,
                    uint32_t* length, uint32_t* headerSize) {
  return ReadHeader(p, avail, true, signature, kind, length, headerSize);
}

bool ReadU32(const uint8_t* p, size_t avail, uint32_t offset, uint32_t* value) {
  return detail::ReadScalar(p, avail, offset, sizeof *value, value);
}

bool WriteHostHeader(uint8_t* p, size_t avail, uint16_t signature, HeaderKind kind,
                     uint32_t length) {
  const uint32_t size = HostHeaderSize(kind);
  if (p == nullptr || avail < size || length < size) return false;
  if (!SignatureSuitsKind(signature, kind) || !LengthFits(kind, length)) return false;
  StoreHeader(p, true, signature, kind, length);
  return true;
}

bool SetHostRecordLength(uint8_t* p, size_t avail, uint32_t length) {
  uint16_t sig = 0;
  HeaderKind kind = HeaderKind::Byte;
  if (!ReadHostHeader(p, avail, &sig, &kind, nullptr, nullptr)) return false;
  return WriteHostHeader(p, avail, sig, kind, length);
}

NnStatus CanonicalToHost(const uint8_t* rec, uint32_t canonicalLength, std::vector<uint8_t>* out) {
  return Convert(rec, canonicalLength, true, out);
}

NnStatus CanonicalToHostIn(const uint8_t* rec, uint32_t canonicalLength, uint8_t* out, size_t room,
                           uint32_t* hostLength) {
  Conversion c;
  const NnStatus st = PlanConversion(rec, canonicalLength, true, &c);
  if (st != NN_OK) return st;
  *hostLength = c.newLength;
  if (c.newLength <= room) WriteConversion(c, rec, true, out);
  return NN_OK;
}

NnStatus HostToCanonical(const uint8_t* rec, uint32_t hostLength, std::vector<uint8_t>* out) {
  return Convert(rec, hostLength, false, out);
}


}  // namespace kv::cd
