// Item data in DXL files is base64: the loader decodes it strictly (white
// space skipped; a stray character, a cut group or misplaced padding refuse
// the file with the reason).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/base64.h"
#include "nn/nn.h"
#include "support/testutil.h"

namespace {

struct Loaded {
  bool ok = false;
  std::string error;
  std::vector<uint8_t> bytes;  // the item's value, its type word left out
};

Loaded LoadRaw(const std::string& base64) {
  const std::string dir = kvtest::MakeTempDir();
  const std::string path = dir + "/raw.xml";
  kvtest::WriteFile(path, "<?xml version='1.0' encoding='utf-8'?>\n<database><note>"
                          "<item name='Data'><rawitemdata type='0'>" +
                              base64 + "</rawitemdata></item></note></database>\n");
  Loaded r;
  NnHandle db = 0;
  r.ok = NnDbOpen(path.c_str(), 0, &db) == NN_OK;
  if (!r.ok) r.error = NnDbLastLoadError();
  NOTEID id = 0;
  NnHandle note = 0;
  NnBlockId value;
  uint32_t len = 0;
  if (r.ok && NnDbNoteIdAt(db, 0, &id) == NN_OK && NnNoteOpen(db, id, 0, &note) == NN_OK) {
    if (NnItemInfo(note, "Data", 0, nullptr, nullptr, &value, &len) == NN_OK && len >= 2) {
      const auto* p = static_cast<const uint8_t*>(NnBlockLock(value));
      r.bytes.assign(p + 2, p + len);
      NnBlockUnlock(value);
    }
    NnNoteClose(note);
  }
  if (r.ok) NnDbClose(db);
  kvtest::RemoveTree(dir);
  return r;
}

std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

TEST(DxlBase64, DecodesWholeAndPaddedGroupsAcrossWhiteSpace) {
  EXPECT_EQ(LoadRaw("aGVs\n bG8=").bytes, Bytes("hello"));
  EXPECT_EQ(LoadRaw("aGVsbA==").bytes, Bytes("hell"));
  EXPECT_EQ(LoadRaw("\taGVs\r\n").bytes, Bytes("hel"));
  EXPECT_EQ(LoadRaw("aGVsbG8=\n").bytes, Bytes("hello"));
  EXPECT_EQ(LoadRaw("aGVsbA=\n =").bytes, Bytes("hell"));
  Loaded empty = LoadRaw("");
  EXPECT_TRUE(empty.ok) << empty.error;
  EXPECT_TRUE(empty.bytes.empty());

  // Every byte value, in lines of 76 characters, three lengths for the three
  // endings of the last group.
  std::vector<uint8_t> all;
  for (int round = 0; round < 3; ++round)
    for (int b = 0; b < 256; ++b) all.push_back(uint8_t(b * 7 + round));
  for (size_t cut : {all.size(), all.size() - 1, all.size() - 2}) {
    std::vector<uint8_t> part(all.begin(), all.begin() + long(cut));
    const uint64_t n = kv::Base64EncodedLength(part.size(), 76);
    std::string text(size_t(n) + 1, '\0');
    text.resize(kv::Base64EncodeOut(text.data(), part.data(), uint32_t(part.size()), 76));
    Loaded r = LoadRaw(text);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.bytes, part) << cut;
  }
}

TEST(DxlBase64, RefusesBrokenTextWithItsReason) {
  const struct {
    const char* text;
    const char* reason;
  } cases[] = {
      {"aGV*", "bad base64 character"},
      {"aGVsbG8=-", "bad base64 character"},
      {"aGVsb", "truncated base64 data"},
      {"aG=s", "bad base64 padding"},
      {"aG==aGVs", "bad base64 padding"},
      {"a===", "bad base64 padding"},
      {"====", "bad base64 padding"},
      {"aGVsbA===", "truncated base64 data"},
      {"aGVsbG8=*", "bad base64 character"},
      {"aGVsbA=x", "bad base64 padding"},
  };
  for (const auto& c : cases) {
    Loaded r = LoadRaw(c.text);
    EXPECT_FALSE(r.ok) << c.text;
    EXPECT_NE(r.error.find(c.reason), std::string::npos) << c.text << ": " << r.error;
  }
}

}  // namespace
