// Record layout converter: table integrity, every layout converted field by
// field, header helpers and refusals of malformed records.
#include "richtext/item/cdlayout.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace kv::cd {
namespace {

uint32_t CanonHeader(const RecordLayout& l) { return CanonicalHeaderSize(l.kind); }

// A canonical record of `layout` with `variable` extra bytes: every byte of the
// fixed part and of the variable data gets its own non-zero value, so a field
// moved to the wrong place or a pad byte left dirty shows up.
std::vector<uint8_t> MakeCanonical(const RecordLayout& l, uint32_t variable) {
  const uint32_t length = l.canonicalFixed + variable;
  std::vector<uint8_t> rec(length);
  for (uint32_t i = 0; i < length; ++i) rec[i] = static_cast<uint8_t>(1 + (i * 7 + i / 251) % 251);
  switch (l.kind) {
    case HeaderKind::Byte:
      rec[0] = static_cast<uint8_t>(l.signature);
      rec[1] = static_cast<uint8_t>(length);
      break;
    case HeaderKind::Word:
      std::memcpy(&rec[0], &l.signature, 2);
      std::memcpy(&rec[2], &length, 2);
      break;
    case HeaderKind::Long:
      std::memcpy(&rec[0], &l.signature, 2);
      std::memcpy(&rec[2], &length, 4);
      break;
  }
  return rec;
}

TEST(CdLayoutTable, CoversEveryRecordOnceAndSorted) {
  const auto all = AllRecordLayouts();
  ASSERT_EQ(all.size(), 104u);
  std::set<std::string> structures;
  for (size_t i = 0; i < all.size(); ++i) {
    if (i > 0) {
      EXPECT_LT(all[i - 1].signature, all[i].signature);
    }
    EXPECT_EQ(FindRecordLayout(all[i].signature), &all[i]);
    structures.insert(all[i].structure);
    const bool word = (all[i].signature >> 8) == 0xFF;
    EXPECT_EQ(word, all[i].kind == HeaderKind::Word) << std::hex << all[i].signature;
  }
  // Several signatures share a structure (CDRESOURCE, CDHOTSPOTBEGIN, ...).
  EXPECT_EQ(structures.size(), 80u);
  EXPECT_EQ(FindRecordLayout(0xFF5F), nullptr);
  EXPECT_EQ(FindRecordLayout(0x0000), nullptr);
  EXPECT_EQ(FindRecordLayout(0xFFFF), nullptr);
  // Any other signature has no layout.
  size_t known = 0;
  for (uint32_t sig = 0; sig <= 0xFFFF; ++sig) known += FindRecordLayout(uint16_t(sig)) != nullptr;
  EXPECT_EQ(known, all.size());
}

// Canonical fields tile the fixed part; host fields are aligned, disjoint and
// inside the host fixed part.
TEST(CdLayoutTable, FieldsTileCanonicalAndAlignInHost) {
  for (const RecordLayout& l : AllRecordLayouts()) {
    SCOPED_TRACE(l.name);
    ASSERT_GE(l.fieldCount, 2u);
    EXPECT_EQ(l.hostFixed % l.hostAlign, 0u);
    std::vector<int> canon(l.canonicalFixed, 0), host(l.hostFixed, 0);
    for (const FieldLayout& f : l.Fields()) {
      ASSERT_TRUE(f.size == 1 || f.size == 2 || f.size == 4 || f.size == 8) << f.name;
      EXPECT_EQ(f.hostOffset % f.size, 0u) << f.name;
      ASSERT_LE(f.canonicalOffset + f.ByteSize(), l.canonicalFixed) << f.name;
      ASSERT_LE(f.hostOffset + f.ByteSize(), l.hostFixed) << f.name;
      for (uint32_t i = 0; i < f.ByteSize(); ++i) {
        ++canon[f.canonicalOffset + i];
        ++host[f.hostOffset + i];
      }
    }
    for (uint32_t i = 0; i < l.canonicalFixed; ++i) EXPECT_EQ(canon[i], 1) << "canonical byte " << i;
    for (uint32_t i = 0; i < l.hostFixed; ++i) EXPECT_LE(host[i], 1) << "host byte " << i;
  }
}

TEST(CdLayoutTable, SpotChecksAgainstKnownLayouts) {
  // Embedded length values widen in host layout (f64 aligned to 8).
  EXPECT_EQ(HostFieldOffset(0x006A, "reserved[3].length"), 56 + 3 * 24 + 8);
  EXPECT_EQ(CanonicalFieldOffset(0x006A, "reserved[3].length"), 26 + 3 * 12 + 2);
  EXPECT_EQ(HostFieldOffset(0x006A, "reserved2"), 152);
  EXPECT_EQ(HostFieldOffset(0xFFFE, "currency_sym_len"), 36);
  EXPECT_EQ(CanonicalFieldOffset(0xFFFE, "currency_sym_len"), 31);
  EXPECT_EQ(HostFieldOffset(0xFFEC, "back_color[8].unused"), 100 + 8 * 6 + 5);
  EXPECT_EQ(HostFieldOffset(0xFF76, "font_color.red"), 14);
  EXPECT_EQ(HostFieldOffset(0x0060, "hdr.len"), 4);
  EXPECT_EQ(HostFieldOffset(0xFF92, "link.note"), 28);
  // The paragraph definition's optional fields after the fixed part.
  EXPECT_EQ(HostFieldOffset(0xFF82, "margin_left_twips"), 72);
  EXPECT_EQ(CanonicalFieldOffset(0xFF82, "margin_left_twips"), 70);
  EXPECT_EQ(HostFieldOffset(0xFF82, "flags3"), 88);
  EXPECT_EQ(FindRecordLayout(0xFF82)->extensionCount, 8u);
  EXPECT_EQ(HostFieldOffset(0xFF82, "no_such_field"), -1);
  EXPECT_EQ(HostFieldOffset(0xFF5F, "flags"), -1);
  // Obsolete records without a public layout are header only.
  EXPECT_EQ(FindRecordLayout(0xFF87)->canonicalFixed, 4u);
  EXPECT_EQ(FindRecordLayout(0xFF93)->hostFixed, 4u);
}

TEST(CdLayoutTable, NamedHostOffsetsMatchTable) {
  EXPECT_EQ(HostFieldOffset(0xFF85, "font"), int32_t(host::kTextFont));
  EXPECT_EQ(FindRecordLayout(0xFF85)->hostFixed, host::kTextFixed);
  for (uint16_t sig : {0xFF74, 0xFF7E, 0xFFA9, 0xFFAD}) {
    EXPECT_EQ(HostFieldOffset(sig, "type"), int32_t(host::kHotspotType));
    EXPECT_EQ(HostFieldOffset(sig, "flags"), int32_t(host::kHotspotFlags));
    EXPECT_EQ(HostFieldOffset(sig, "data_length"), int32_t(host::kHotspotDataLength));
    EXPECT_EQ(FindRecordLayout(sig)->hostFixed, host::kHotspotFixed);
  }
  EXPECT_EQ(HostFieldOffset(0xFF82, "pab_id"), int32_t(host::kPabId));
  EXPECT_EQ(HostFieldOffset(0xFF82, "justify"), int32_t(host::kPabJustify));
  EXPECT_EQ(HostFieldOffset(0xFF82, "line_spacing"), int32_t(host::kPabLineSpacing));
  EXPECT_EQ(HostFieldOffset(0xFF82, "space_before"), int32_t(host::kPabSpaceBefore));
  EXPECT_EQ(HostFieldOffset(0xFF82, "space_after"), int32_t(host::kPabSpaceAfter));
  EXPECT_EQ(HostFieldOffset(0xFF82, "left_margin"), int32_t(host::kPabLeftMargin));
  EXPECT_EQ(HostFieldOffset(0xFF82, "right_margin"), int32_t(host::kPabRightMargin));
  EXPECT_EQ(HostFieldOffset(0xFF82, "first_line_left_margin"),
            int32_t(host::kPabFirstLineLeftMargin));
  EXPECT_EQ(HostFieldOffset(0xFF82, "tab_count"), int32_t(host::kPabTabCount));
  EXPECT_EQ(HostFieldOffset(0xFF82, "tabs"), int32_t(host::kPabTabs));
  EXPECT_EQ(HostFieldOffset(0xFF82, "flags"), int32_t(host::kPabFlags));
  EXPECT_EQ(HostFieldOffset(0xFF82, "tab_types"), int32_t(host::kPabTabTypes));
  EXPECT_EQ(HostFieldOffset(0xFF82, "flags2"), int32_t(host::kPabFlags2));
  EXPECT_EQ(FindRecordLayout(0xFF82)->hostFixed, host::kPabFixed);
  EXPECT_EQ(HostFieldOffset(0x0099, "dest_size.width"), int32_t(host::kGraphicDestWidth));
  EXPECT_EQ(HostFieldOffset(0x0099, "dest_size.height"), int32_t(host::kGraphicDestHeight));
  EXPECT_EQ(HostFieldOffset(0x0099, "crop_size.width"), int32_t(host::kGraphicCropWidth));
  EXPECT_EQ(HostFieldOffset(0x0099, "crop_size.height"), int32_t(host::kGraphicCropHeight));
  EXPECT_EQ(HostFieldOffset(0x0099, "crop_offset.left"), int32_t(host::kGraphicCropOffset));
  EXPECT_EQ(HostFieldOffset(0x0099, "resized"), int32_t(host::kGraphicResized));
  EXPECT_EQ(HostFieldOffset(0x0099, "version"), int32_t(host::kGraphicVersion));
  EXPECT_EQ(HostFieldOffset(0x0099, "flags"), int32_t(host::kGraphicFlags));
  EXPECT_EQ(FindRecordLayout(0x0099)->hostFixed, host::kGraphicFixed);
  EXPECT_EQ(HostFieldOffset(0x0083, "pab_id"), int32_t(host::kPabReferenceId));
  EXPECT_EQ(HostFieldOffset(0xFF8A, "font"), int32_t(host::kFieldFont));
  EXPECT_EQ(FindRecordLayout(0xFF8A)->hostFixed, host::kFieldFixed);
}

// Every signature, with no variable data and with an odd amount of it.
TEST(CdLayoutConvert, EveryLayoutFieldByFieldAndBack) {
  for (const RecordLayout& l : AllRecordLayouts()) {
    for (uint32_t variable : {0u, 5u}) {
      SCOPED_TRACE(std::string(l.name) + " +" + std::to_string(variable));
      const std::vector<uint8_t> canon = MakeCanonical(l, variable);
      std::vector<uint8_t> host;
      ASSERT_EQ(CanonicalToHost(canon.data(), uint32_t(canon.size()), &host), NN_OK);
      ASSERT_EQ(host.size(), size_t{l.hostFixed} + variable);

      uint16_t sig = 0;
      HeaderKind kind{};
      uint32_t length = 0, headerSize = 0;
      ASSERT_TRUE(ReadHostHeader(host.data(), host.size(), &sig, &kind, &length, &headerSize));
      EXPECT_EQ(sig, l.signature);
      EXPECT_EQ(kind, l.kind);
      EXPECT_EQ(length, host.size());
      EXPECT_EQ(headerSize, HostHeaderSize(l.kind));

      std::vector<bool> covered(l.hostFixed, false);
      for (uint32_t i = 0; i < HostHeaderSize(l.kind); ++i) covered[i] = true;
      for (const FieldLayout& f : l.Fields()) {
        if (f.canonicalOffset < CanonHeader(l)) continue;
        EXPECT_EQ(0, std::memcmp(&host[f.hostOffset], &canon[f.canonicalOffset], f.ByteSize()))
            << f.name;
        for (uint32_t i = 0; i < f.ByteSize(); ++i) covered[f.hostOffset + i] = true;
      }
      for (uint32_t i = 0; i < l.hostFixed; ++i)
        if (!covered[i]) {
          EXPECT_EQ(host[i], 0) << "pad byte " << i;
        }
      if (l.kind == HeaderKind::Long) {
        EXPECT_EQ(host[2] | host[3], 0);
      }
      EXPECT_EQ(0, std::memcmp(&host[l.hostFixed], &canon[l.canonicalFixed], variable));

      std::vector<uint8_t> back;
      ASSERT_EQ(HostToCanonical(host.data(), uint32_t(host.size()), &back), NN_OK);
      EXPECT_EQ(back, canon);
    }
  }
}

TEST(CdLayoutConvert, ParagraphDefinitionExtensionLandsAtItsHostOffsets) {
  const RecordLayout* l = FindRecordLayout(0xFF82);
  ASSERT_NE(l, nullptr);
  std::vector<uint8_t> canon = MakeCanonical(*l, 20);  // all six margins, more_flags, flags3
  std::vector<uint8_t> host;
  ASSERT_EQ(CanonicalToHost(canon.data(), uint32_t(canon.size()), &host), NN_OK);
  ASSERT_EQ(host.size(), 92u);
  for (const FieldLayout& f : l->Extension())
    EXPECT_EQ(0, std::memcmp(&host[f.hostOffset], &canon[f.canonicalOffset], f.ByteSize()))
        << f.name;
}

TEST(CdLayoutConvert, UnknownSignatureConvertsOnlyTheHeader) {
  // Word header: identical bytes.
  const std::vector<uint8_t> word = {0x5F, 0xFF, 0x09, 0x00, 1, 2, 3, 4, 5};
  std::vector<uint8_t> host, back;
  ASSERT_EQ(CanonicalToHost(word.data(), uint32_t(word.size()), &host), NN_OK);
  EXPECT_EQ(host, word);
  // Byte header: identical bytes.
  const std::vector<uint8_t> byte = {0x86, 0x04, 0xAA, 0xBB};
  ASSERT_EQ(CanonicalToHost(byte.data(), uint32_t(byte.size()), &host), NN_OK);
  EXPECT_EQ(host, byte);
  // Long header grows by the two pad bytes.
  const std::vector<uint8_t> lng = {0x10, 0x00, 0x09, 0x00, 0x00, 0x00, 7, 8, 9};
  ASSERT_EQ(CanonicalToHost(lng.data(), uint32_t(lng.size()), &host), NN_OK);
  EXPECT_EQ(host, (std::vector<uint8_t>{0x10, 0x00, 0, 0, 0x0B, 0, 0, 0, 7, 8, 9}));
  ASSERT_EQ(HostToCanonical(host.data(), uint32_t(host.size()), &back), NN_OK);
  EXPECT_EQ(back, lng);
}

TEST(CdLayoutConvert, TrailingBytesAfterTheRecordAreIgnored) {
  // The header's length rules; the caller may pass the rest of a stream.
  const std::vector<uint8_t> stream = {0x81, 0x02, 0x83, 0x04, 0x01, 0x00};
  std::vector<uint8_t> host;
  ASSERT_EQ(CanonicalToHost(stream.data(), uint32_t(stream.size()), &host), NN_OK);
  EXPECT_EQ(host, (std::vector<uint8_t>{0x81, 0x02}));
}

TEST(CdLayoutConvert, RefusesMalformedRecordsAndLeavesOutputAlone) {
  const std::vector<uint8_t> sentinel = {0xDE, 0xAD};
  auto refused = [&](std::vector<uint8_t> rec, bool toHost) {
    std::vector<uint8_t> out = sentinel;
    const NnStatus s = toHost ? CanonicalToHost(rec.data(), uint32_t(rec.size()), &out)
                              : HostToCanonical(rec.data(), uint32_t(rec.size()), &out);
    return s == NN_ERR_CD_STRUCTURE && out == sentinel;
  };
  // The header does not fit.
  EXPECT_TRUE(refused({0x81}, true));
  EXPECT_TRUE(refused({0x85, 0xFF, 0x08}, true));
  EXPECT_TRUE(refused({0x99, 0x00, 0x1C, 0x00, 0x00}, true));
  EXPECT_TRUE(refused({0x99, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00}, false));
  EXPECT_TRUE(refused({}, true));
  // Length below the header size.
  EXPECT_TRUE(refused({0x81, 0x01}, true));
  EXPECT_TRUE(refused({0x85, 0xFF, 0x03, 0x00}, true));
  EXPECT_TRUE(refused({0x10, 0x00, 0x05, 0x00, 0x00, 0x00}, true));
  EXPECT_TRUE(refused({0x10, 0x00, 0x00, 0x00, 0x07, 0x00, 0x00, 0x00}, false));
  // Length beyond the bytes given.
  EXPECT_TRUE(refused({0x83, 0x06, 0x01, 0x00}, true));
  EXPECT_TRUE(refused({0x85, 0xFF, 0x09, 0x00, 0, 0, 0, 0}, true));
  // Shorter than the fixed part: a text record of 6 bytes, a hotspot begin
  // of 12 bytes in host layout (host fixed part 16).
  EXPECT_TRUE(refused({0x85, 0xFF, 0x06, 0x00, 0x01, 0x00}, true));
  std::vector<uint8_t> hotspot(12, 0);
  hotspot[0] = 0xA9, hotspot[1] = 0xFF, hotspot[2] = 12;
  EXPECT_TRUE(refused(hotspot, false));
  std::vector<uint8_t> pab(68, 0);
  pab[0] = 0x82, pab[1] = 0xFF, pab[2] = 68;
  EXPECT_TRUE(refused(pab, true));
  // A byte signature of the table behind a long header.
  EXPECT_TRUE(refused({0x81, 0x00, 0x06, 0x00, 0x00, 0x00}, true));
  // Null output.
  const uint8_t para[] = {0x81, 0x02};
  EXPECT_EQ(CanonicalToHost(para, 2, nullptr), NN_ERR_CD_STRUCTURE);
  EXPECT_EQ(CanonicalToHost(nullptr, 2, &hotspot), NN_ERR_CD_STRUCTURE);
}

TEST(CdLayoutConvert, ByteHeaderHostLengthMustFitAByte) {
  // Style name: canonical fixed 44, host 48. 250 grows to 254 (fine); 251
  // would give 255, which a reader takes for a word header; 252 gives 256.
  const RecordLayout* l = FindRecordLayout(0x00A6);
  ASSERT_NE(l, nullptr);
  for (uint32_t length : {250u, 251u, 252u, 254u}) {
    std::vector<uint8_t> rec = MakeCanonical(*l, length - l->canonicalFixed);
    std::vector<uint8_t> host;
    const NnStatus s = CanonicalToHost(rec.data(), uint32_t(rec.size()), &host);
    EXPECT_EQ(s, length == 250 ? NN_OK : NN_ERR_CD_STRUCTURE) << length;
  }
}

TEST(CdLayoutHeader, ReadsTheKindFromTheFirstWord) {
  uint16_t sig = 0;
  HeaderKind kind{};
  uint32_t length = 0, size = 0;
  const uint8_t b[] = {0x83, 0x04};
  ASSERT_TRUE(ReadCanonicalHeader(b, sizeof b, &sig, &kind, &length, &size));
  EXPECT_EQ(sig, 0x0083);
  EXPECT_EQ(kind, HeaderKind::Byte);
  EXPECT_EQ(length, 4u);
  EXPECT_EQ(size, 2u);
  const uint8_t w[] = {0x85, 0xFF, 0x34, 0x12};
  ASSERT_TRUE(ReadCanonicalHeader(w, sizeof w, &sig, &kind, &length, &size));
  EXPECT_EQ(sig, 0xFF85);
  EXPECT_EQ(kind, HeaderKind::Word);
  EXPECT_EQ(length, 0x1234u);
  EXPECT_EQ(size, 4u);
  const uint8_t l[] = {0x99, 0x00, 0x78, 0x56, 0x34, 0x12};
  ASSERT_TRUE(ReadCanonicalHeader(l, sizeof l, &sig, &kind, &length, &size));
  EXPECT_EQ(sig, 0x0099);
  EXPECT_EQ(kind, HeaderKind::Long);
  EXPECT_EQ(length, 0x12345678u);
  EXPECT_EQ(size, 6u);
  EXPECT_FALSE(ReadCanonicalHeader(l, 5, &sig, &kind, &length, &size));
  EXPECT_FALSE(ReadHostHeader(l, sizeof l, &sig, &kind, &length, &size));  // host long is 8
  EXPECT_FALSE(ReadCanonicalHeader(w, 3, &sig, &kind, &length, &size));
  EXPECT_FALSE(ReadCanonicalHeader(nullptr, 4, &sig, &kind, &length, &size));
}

TEST(CdLayoutHeader, WriteAndRewriteHostHeaders) {
  uint8_t buf[8];
  uint16_t sig = 0;
  HeaderKind kind{};
  uint32_t length = 0, size = 0;
  struct Case { uint16_t sig; HeaderKind kind; uint32_t length; };
  for (Case c : {Case{0x0081, HeaderKind::Byte, 2}, Case{0x00A6, HeaderKind::Byte, 254},
                 Case{0xFF85, HeaderKind::Word, 0xFFFF}, Case{0x0096, HeaderKind::Long, 70000}}) {
    std::memset(buf, 0xCC, sizeof buf);
    ASSERT_TRUE(WriteHostHeader(buf, sizeof buf, c.sig, c.kind, c.length));
    ASSERT_TRUE(ReadHostHeader(buf, sizeof buf, &sig, &kind, &length, &size));
    EXPECT_EQ(sig, c.sig);
    EXPECT_EQ(kind, c.kind);
    EXPECT_EQ(length, c.length);
    EXPECT_EQ(size, HostHeaderSize(c.kind));
  }
  EXPECT_EQ(buf[2] | buf[3], 0);  // long header pad bytes
  ASSERT_TRUE(SetHostRecordLength(buf, sizeof buf, 12));
  ASSERT_TRUE(ReadHostHeader(buf, sizeof buf, &sig, &kind, &length, &size));
  EXPECT_EQ(sig, 0x0096);
  EXPECT_EQ(length, 12u);

  EXPECT_FALSE(WriteHostHeader(buf, sizeof buf, 0x0081, HeaderKind::Byte, 255));
  EXPECT_FALSE(WriteHostHeader(buf, sizeof buf, 0x0081, HeaderKind::Byte, 1));
  EXPECT_FALSE(WriteHostHeader(buf, sizeof buf, 0xFF85, HeaderKind::Word, 0x10000));
  EXPECT_FALSE(WriteHostHeader(buf, sizeof buf, 0xFF85, HeaderKind::Byte, 8));
  EXPECT_FALSE(WriteHostHeader(buf, sizeof buf, 0x0099, HeaderKind::Word, 8));
  EXPECT_FALSE(WriteHostHeader(buf, 7, 0x0099, HeaderKind::Long, 32));
  EXPECT_FALSE(WriteHostHeader(buf, 3, 0xFF85, HeaderKind::Word, 8));
  EXPECT_FALSE(SetHostRecordLength(buf, 1, 8));
}

TEST(CdLayoutHeader, BoundedReads) {
  const uint8_t rec[] = {0x85, 0xFF, 0x08, 0x00, 0x01, 0x02, 0x03, 0x04};
  uint8_t b = 0;
  uint16_t w = 0;
  uint32_t d = 0;
  EXPECT_TRUE(ReadU32(rec, sizeof rec, host::kTextFont, &d));
  EXPECT_EQ(d, 0x04030201u);
  EXPECT_FALSE(ReadU32(rec, sizeof rec, 5, &d));
  EXPECT_TRUE(ReadU16(rec, sizeof rec, 6, &w));
  EXPECT_FALSE(ReadU16(rec, sizeof rec, 7, &w));
  EXPECT_FALSE(ReadU16(rec, sizeof rec, 0xFFFFFFFFu, &w));
  EXPECT_TRUE(ReadU8(rec, sizeof rec, 7, &b));
  EXPECT_FALSE(ReadU8(rec, sizeof rec, 8, &b));
}

}  // namespace
}  // namespace kv::cd
