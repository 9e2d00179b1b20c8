// Record layout converter against real documents: every rich-text item of the
// DXL corpus is walked record by record, converted to host layout and back.
#include "richtext/item/cdlayout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/testutil.h"

namespace kv::cd {
namespace {

namespace fs = std::filesystem;

bool DecodeBase64(std::string_view text, std::vector<uint8_t>* out) {
  return kvtest::DecodeBase64(std::string(text), out);
}

struct Item {
  std::string file;
  std::vector<uint8_t> data;
};

// Every composite (type 1) raw item of the corpus, either quoting style.
std::vector<Item> LoadCorpusItems(const fs::path& root) {
  std::vector<Item> items;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    const std::string text = ss.str();
    for (const char* open : {"<rawitemdata type='1'>", "<rawitemdata type=\"1\">"}) {
      size_t pos = 0;
      while ((pos = text.find(open, pos)) != std::string::npos) {
        pos += std::strlen(open);
        const size_t end = text.find("</rawitemdata>", pos);
        if (end == std::string::npos) break;
        Item item{entry.path().string(), {}};
        EXPECT_TRUE(DecodeBase64(std::string_view(text).substr(pos, end - pos), &item.data))
            << item.file;
        items.push_back(std::move(item));
        pos = end;
      }
    }
  }
  return items;
}

uint16_t U16(const std::vector<uint8_t>& r, uint32_t off) {
  uint16_t v = 0;
  EXPECT_TRUE(ReadU16(r.data(), r.size(), off, &v)) << off;
  return v;
}

TEST(CdLayoutCorpus, EveryRecordConvertsAndRoundTrips) {
  const std::string corpus = kvtest::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no corpus";
  const fs::path root = fs::path(corpus) / "dxl";
  const std::vector<Item> items = LoadCorpusItems(root);
  ASSERT_FALSE(items.empty());

  size_t records = 0, known = 0, pabs = 0, graphics = 0, hotspots = 0;
  for (const Item& item : items) {
    SCOPED_TRACE(item.file);
    const std::vector<uint8_t>& d = item.data;
    size_t off = 0;
    while (off < d.size()) {
      uint16_t sig = 0;
      HeaderKind kind{};
      uint32_t length = 0, headerSize = 0;
      ASSERT_TRUE(ReadCanonicalHeader(&d[off], d.size() - off, &sig, &kind, &length, &headerSize))
          << "at " << off;
      ASSERT_GE(length, headerSize);
      ASSERT_LE(length, d.size() - off);
      ++records;

      std::vector<uint8_t> host, back;
      ASSERT_EQ(CanonicalToHost(&d[off], length, &host), NN_OK)
          << std::hex << "sig " << sig << " at " << std::dec << off;
      ASSERT_EQ(HostToCanonical(host.data(), uint32_t(host.size()), &back), NN_OK);
      ASSERT_TRUE(back.size() == length && std::equal(back.begin(), back.end(), &d[off]))
          << std::hex << "sig " << sig;

      const RecordLayout* l = FindRecordLayout(sig);
      uint32_t hostLength = 0;
      ASSERT_TRUE(ReadHostHeader(host.data(), host.size(), nullptr, nullptr, &hostLength, nullptr));
      EXPECT_EQ(hostLength, host.size());
      if (l != nullptr) {
        ++known;
        EXPECT_EQ(host.size(), size_t{length} - l->canonicalFixed + l->hostFixed);
      } else {
        EXPECT_EQ(host.size(), length + (HostHeaderSize(kind) - CanonicalHeaderSize(kind)));
      }

      if (sig == 0xFF82) {
        ++pabs;
        // Margins are twips on a page: well under 32,767.
        EXPECT_LT(U16(host, host::kPabLeftMargin), 0x8000);
        EXPECT_LT(U16(host, host::kPabRightMargin), 0x8000);
        EXPECT_LT(U16(host, host::kPabFirstLineLeftMargin), 0x8000);
        EXPECT_LE(U16(host, host::kPabTabCount), 20);
        if (host.size() >= 84) {
          EXPECT_LT(U16(host, uint32_t(HostFieldOffset(0xFF82, "margin_left_twips"))), 0x8000);
          EXPECT_LE(U16(host, uint32_t(HostFieldOffset(0xFF82, "margin_left_percent"))), 100);
        }
      } else if (sig == 0x0099) {
        ++graphics;
        EXPECT_EQ(U16(host, host::kGraphicDestWidth), U16(back, 6));
        EXPECT_EQ(U16(host, host::kGraphicDestHeight), U16(back, 8));
        EXPECT_LT(U16(host, host::kGraphicDestWidth), 0x8000);
        EXPECT_LE(host[host::kGraphicVersion], 3);
      } else if (sig == 0xFFA9 || sig == 0xFFAD) {
        ++hotspots;
        EXPECT_LE(U16(host, host::kHotspotDataLength), host.size() - host::kHotspotFixed);
      }
      off += length + (length & 1);
    }
  }
  // The corpus is known to hold thousands of records of all common kinds.
  EXPECT_GT(records, 1000u);
  EXPECT_GT(known, records / 2);
  EXPECT_GT(pabs, 0u);
  EXPECT_GT(graphics, 0u);
  EXPECT_GT(hotspots, 0u);
}

}  // namespace
}  // namespace kv::cd
