// "MarkDelimitedHTML=" through the chunk's generators: typed "[<" ... ">]"
// runs reach the page as pass-through markup, the item's records stay as they
// were.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "host/base64.h"
#include "host/pool.h"
#include "lsxsessi.h"
#include "nn/nn.h"
#include "richtext/item/recordlist.h"
#include "rtchunk.h"
#include "rtitem.h"
#include "support/testutil.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A text run in the stored layout, padded to an even length.
void AddRun(Bytes* body, const std::string& text) {
  const uint16_t length = uint16_t(8 + text.size());
  const uint8_t header[8] = {0x85, 0xFF, uint8_t(length & 0xFF), uint8_t(length >> 8), 1, 0, 0, 10};
  body->insert(body->end(), header, header + 8);
  body->insert(body->end(), text.begin(), text.end());
  if (body->size() % 2) body->push_back(0);
}

std::string Dxl(const Bytes& body) {
  return "<?xml version='1.0' encoding='utf-8'?>\n"
         "<note class='document' xmlns='http://www.lotus.com/dxl' version='12.0'>\n"
         "<noteinfo noteid='8fa' unid='5A1B2C3D4E5F60718293A4B5C6D7E8F1'/>\n"
         "<item name='Body'><rawitemdata type='1'>" +
         kv::Base64Encode(body.data(), body.size()) + "</rawitemdata></item>\n</note>\n";
}

class DelimitedGenerateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = kvtest::MakeTempDir();
    Bytes body = {0x81, 0x02};
    for (const char* run : {"before ", "[<", "b>bold</b", ">]", " after"}) AddRun(&body, run);
    path_ = dir_ + "/delimited.dxl";
    kvtest::WriteFile(path_, Dxl(body));
    ASSERT_EQ(NnDbOpen(path_.c_str(), 0, &db_), NN_OK);
    NOTEID id = 0;
    ASSERT_EQ(NnDbNoteIdAt(db_, 0, &id), NN_OK);
    ASSERT_EQ(NnNoteOpen(db_, id, 0, &note_), NN_OK);
    item_ = std::make_unique<TorvoRTItem>(&session_);
    ASSERT_EQ(item_->ConnectBackend(db_, note_, "Body"), NN_OK);
    chunk_.reset(item_->DefineChunk(""));
    ASSERT_NE(chunk_, nullptr);
  }
  void TearDown() override {
    chunk_.reset();
    item_.reset();
    if (note_) NnNoteClose(note_);
    if (db_) NnDbClose(db_);
    kvtest::RemoveTree(dir_);
  }
  std::string Page(const char* options) {
    char* text = nullptr;
    uint32_t length = 0;
    EXPECT_EQ(chunk_->GenerateXML(nullptr, options, &text, &length), NN_OK);
    std::string page = text ? std::string(text, length) : "";
    if (text) PoolFree(&session_, text);
    return page;
  }
  std::string Records() {
    std::string out;
    for (RTRecordNode* n = item_->context->records ? item_->context->records->first : nullptr; n;
         n = n->next)
      out += std::to_string(n->signature) + ":" +
             std::string(reinterpret_cast<char*>(n->data), n->length) + "|";
    return out;
  }
  LSXLsiSession session_;
  std::string dir_, path_;
  NnHandle db_ = 0, note_ = 0;
  std::unique_ptr<TorvoRTItem> item_;
  std::unique_ptr<TorvoRTChunk> chunk_;
};

TEST_F(DelimitedGenerateTest, MarkedRunsBecomePassThroughMarkup) {
  const std::string plain = Page("");
  EXPECT_NE(plain.find("[&lt;b&gt;bold&lt;/b&gt;]"), std::string::npos) << plain;
  const std::string before = Records();
  const std::string page = Page("MarkDelimitedHTML=Yes");
  EXPECT_NE(page.find("<!--PassthruStart--><!--DelimitedStart--><b>bold</b><!--DelimitedEnd-->"
                      "<!--PassthruEnd-->"),
            std::string::npos)
      << page;
  EXPECT_EQ(Records(), before);
  const std::string own =
      Page("MarkDelimitedHTML=Yes DelimitedHTMLStart=<!--s--> DelimitedHTMLEnd=<!--e-->");
  EXPECT_NE(own.find("<!--PassthruStart--><!--s--><b>bold</b><!--e--><!--PassthruEnd-->"),
            std::string::npos)
      << own;
  // A delimiter too long for the work area is refused.
  char* text = nullptr;
  uint32_t length = 0;
  const std::string longer = "MarkDelimitedHTML=Yes DelimitedHTMLStart=" + std::string(60, 'x');
  EXPECT_NE(chunk_->GenerateXML(nullptr, longer.c_str(), &text, &length), NN_OK);
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(Records(), before);
}

}  // namespace
