// Text files as paragraphs, the filter services and the platform-text translation.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "import/import.h"
#include "lsxsessi.h"
#include "nn/nn.h"
#include "richtext/item/compose.h"
#include "richtext/item/recordlist.h"
#include "rtitem.h"
#include "support/testutil.h"

namespace {

class TextImportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(NnDbOpen("mem-import-text.nsf", NN_DB_CREATE, &db), NN_OK);
    ASSERT_EQ(NnNoteCreate(db, NN_CLASS_DOCUMENT, &note), NN_OK);
    item = std::make_unique<TorvoRTItem>(&session);
    ASSERT_EQ(item->ConnectBackend(db, note, "Body"), NN_OK);
    ComposeInit(&compose, &session, item.get());
  }
  void TearDown() override {
    ComposeReleaseHandles(&compose, 0);
    item.reset();
    if (note) NnNoteClose(note);
    if (db) NnDbClose(db);
  }
  // Paragraphs as their texts joined with "|".
  std::string Paragraphs() const {
    std::string out;
    bool first = true;
    if (!compose.newList) return out;
    for (const RTRecordNode* n = compose.newList->first; n; n = n->next) {
      if (n->signature == 0x0081) {
        if (!first) out += "|";
        first = false;
      } else if (n->signature == 0xFF85 && n->length >= 8) {
        out += NnLmbcsToUtf8(reinterpret_cast<const char*>(n->data + 8), n->length - 8);
      }
    }
    return out;
  }
  NnStatus Emit(const std::string& text, uint32_t lineLength = 0) {
    return EmitTextParagraphFromBuffer(text.data(), uint32_t(text.size()), lineLength, &compose);
  }

  LSXLsiSession session;
  NnHandle db = 0, note = 0;
  std::unique_ptr<TorvoRTItem> item;
  ComposeContext compose;
};

TEST_F(TextImportTest, EachLineIsAParagraphWhateverItsEnding) {
  ASSERT_EQ(Emit("one\r\ntwo\rthree\n\nfive  spaced\tand tab\n"), NN_OK);
  EXPECT_EQ(Paragraphs(), "one|two|three||five  spaced\tand tab");
}

TEST_F(TextImportTest, LongLinesWrapAtBlanksOrAtTheLimit) {
  ASSERT_EQ(Emit("aaaa bbbb cccc\nxxxxxxxxxx", 6), NN_OK);
  EXPECT_EQ(Paragraphs(), "aaaa |bbbb |cccc|xxxxxx|xxxx");
}

TEST_F(TextImportTest, WrappingCountsCharactersNotBytes) {
  ASSERT_EQ(Emit("\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9", 3), NN_OK);
  EXPECT_EQ(Paragraphs(), "\xC3\xA9\xC3\xA9\xC3\xA9|\xC3\xA9");
}

TEST_F(TextImportTest, InvalidUtf8IsReplacedNotDropped) {
  ASSERT_EQ(Emit("a\xFF" "b\xC3"), NN_OK);
  EXPECT_EQ(Paragraphs(), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
}

TEST_F(TextImportTest, FilesAreReadAndMissingOnesRefused) {
  std::string dir = kvtest::MakeTempDir();
  std::string file = dir + "/note.txt";
  kvtest::WriteFile(file, "\xEF\xBB\xBFhello\nworld");
  ASSERT_EQ(EmitTextParagraph(file.c_str(), 0, &compose), NN_OK);
  EXPECT_EQ(Paragraphs(), "hello|world");
  const size_t count = compose.newList->count;
  EXPECT_EQ(EmitTextParagraph((dir + "/absent.txt").c_str(), 0, &compose), NN_ERR_FILE_NOT_FOUND);
  EXPECT_EQ(EmitTextParagraph(nullptr, 0, &compose), NN_ERR_INVALID_ARG);
  EXPECT_EQ(compose.newList->count, count);
  kvtest::RemoveTree(dir);
}

TEST(ImportFilters, NoFilterIsFoundAndConversionIsRefused) {
  char filter[16] = "junk", name[16] = "junk", out[16] = "junk";
  EXPECT_EQ(FindEditFilter(nullptr, "picture.bmp", filter, sizeof filter, name, sizeof name, 1), 0);
  EXPECT_STREQ(filter, "");
  EXPECT_STREQ(name, "");
  EXPECT_EQ(ImportImageViaFilter(nullptr, "picture.bmp", "", "", out, sizeof out), NN_ERR_INVALID_ARG);
  EXPECT_STREQ(out, "");
}

TEST(ImportCharset, PlatformTextBecomesUtf8WithinTheDestination) {
  LSXLsiSession session;
  const std::string platform = NnUtf8ToLmbcs("caf\xC3\xA9 \xE2\x82\xAC", 9);
  char out[256];
  ASSERT_EQ(TranslateCharsetTextWithTable(&session, platform.data(), uint32_t(platform.size()), out,
                                          sizeof out, kCharsetIdUtf8),
            NN_OK);
  EXPECT_STREQ(out, "caf\xC3\xA9 \xE2\x82\xAC");
  // NUL-terminated input with length 0.
  ASSERT_EQ(TranslateCharsetTextWithTable(&session, "plain", 0, out, sizeof out, NN_CHARSET_UTF8), NN_OK);
  EXPECT_STREQ(out, "plain");
  // Too small: cut between characters, still terminated.
  char small[6];
  EXPECT_EQ(TranslateCharsetTextWithTable(&session, platform.data(), uint32_t(platform.size()), small,
                                          sizeof small, kCharsetIdUtf8),
            NN_ERR_MEMORY);
  EXPECT_STREQ(small, "caf\xC3\xA9");
  char tiny[5];
  EXPECT_EQ(TranslateCharsetTextWithTable(&session, platform.data(), uint32_t(platform.size()), tiny,
                                          sizeof tiny, kCharsetIdUtf8),
            NN_ERR_MEMORY);
  EXPECT_STREQ(tiny, "caf");
  EXPECT_EQ(TranslateCharsetTextWithTable(&session, "x", 1, out, sizeof out, 999), NN_ERR_CHARSET);
  EXPECT_STREQ(out, "");
  EXPECT_EQ(TranslateCharsetTextWithTable(&session, "x", 1, nullptr, 10, kCharsetIdUtf8),
            NN_ERR_INVALID_ARG);
}

}  // namespace
