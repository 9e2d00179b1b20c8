// TorvoCollection: its place on the session list, its events and the
// document markers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "collection.h"
#include "lsxsessi.h"
#include "nn/nn.h"

namespace {

struct Seen {
  std::string linkText, url, kind, path;
  uint16_t kind2 = 0;
  int calls = 0;
};
Seen* g_seen = nullptr;

int AnswerLink(TorvoCollection* c, const char* linkText, void*, uint16_t kind, const char* url,
               uint32_t, void*, void*, void*) {
  ++g_seen->calls;
  g_seen->linkText = linkText ? linkText : "";
  g_seen->url = url ? url : "";
  g_seen->kind2 = kind;
  c->SetAnswer(static_cast<const char*>(c->userData));
  return 0;
}

int NoAnswer(TorvoCollection*, const char*, void*, uint16_t, const char*, uint32_t, void*, void*, void*) {
  ++g_seen->calls;
  return 0;
}

int AnswerNames(TorvoCollection* c, const char* kind, const char* path, const char*) {
  ++g_seen->calls;
  g_seen->kind = kind ? kind : "";
  g_seen->path = path ? path : "";
  c->SetExportNames("/out/new.gif", nullptr);  // the URL stays as given
  return 0;
}

class CollectionTest : public ::testing::Test {
 protected:
  void SetUp() override { g_seen = &seen; }
  void TearDown() override { g_seen = nullptr; }
  Seen seen;
};

TEST_F(CollectionTest, ListedWithTheSessionAndDeletedByIt) {
  auto* session = new LSXLsiSession;
  auto* a = new TorvoCollection(session);
  auto* b = new TorvoCollection(session);
  EXPECT_EQ(session->CollectionCount(), 2u);
  EXPECT_EQ(session->FirstCollection(), b);
  delete a;
  EXPECT_EQ(session->CollectionCount(), 1u);
  delete session;  // deletes b; the sanitizer reports a leak otherwise
  TorvoCollection unlisted(nullptr);
  EXPECT_EQ(unlisted.RaiseQueryLinkData("t", nullptr, 2, "u", 0, nullptr, 0, nullptr, nullptr), 0);
}

TEST_F(CollectionTest, QueryLinkDataAnswersTheUrl) {
  LSXLsiSession session;
  TorvoCollection c(&session);
  char answer[64] = "old";
  // No callback: nothing is raised, no answer.
  EXPECT_EQ(c.RaiseQueryLinkData("link", nullptr, 2, "http://a/", 0, answer, sizeof answer, nullptr, nullptr), 0);
  EXPECT_STREQ(answer, "");
  EXPECT_EQ(c.answerSet, 0);

  c.QueryLinkData = AnswerLink;
  c.userData = const_cast<char*>("http://answered/");
  EXPECT_EQ(c.RaiseQueryLinkData("link", nullptr, 2, "http://a/", 0, answer, sizeof answer, nullptr, nullptr), 1);
  EXPECT_EQ(seen.calls, 1);
  EXPECT_EQ(seen.linkText, "link");
  EXPECT_EQ(seen.url, "http://a/");
  EXPECT_EQ(seen.kind2, 2);
  EXPECT_STREQ(c.answerText, "http://answered/");
  EXPECT_STREQ(answer, "http://answered/");
  // Without a caller buffer the answer is in the collection's field.
  EXPECT_EQ(c.RaiseQueryLinkData("link", nullptr, 2, "x", 0, nullptr, 0, nullptr, nullptr), 1);
  EXPECT_STREQ(c.answerText, "http://answered/");

  // An answer that does not fit the caller's buffer is not half given.
  char small[8] = "old";
  EXPECT_EQ(c.RaiseQueryLinkData("link", nullptr, 2, "x", 0, small, sizeof small, nullptr, nullptr), 0);
  EXPECT_STREQ(small, "");

  // A callback that does not answer clears an earlier answer.
  c.QueryLinkData = NoAnswer;
  EXPECT_EQ(c.RaiseQueryLinkData("link", nullptr, 2, "x", 0, answer, sizeof answer, nullptr, nullptr), 0);
  EXPECT_EQ(c.answerSet, 0);
  EXPECT_STREQ(c.answerText, "");
}

TEST_F(CollectionTest, AnswersLongerThanTheFieldAreRefused) {
  LSXLsiSession session;
  TorvoCollection c(&session);
  std::string longText(kCollectionAnswerSize, 'x');
  EXPECT_EQ(c.SetAnswer(longText.c_str()), 0);
  EXPECT_EQ(c.answerSet, 0);
  longText.pop_back();
  EXPECT_EQ(c.SetAnswer(longText.c_str()), 1);
  EXPECT_EQ(std::strlen(c.answerText), kCollectionAnswerSize - 1);
  EXPECT_EQ(c.SetAnswer(nullptr), 0);
  EXPECT_STREQ(c.answerText, "");
}

TEST_F(CollectionTest, QueryExportNamesReplacesWhatWasAnswered) {
  LSXLsiSession session;
  TorvoCollection c(&session);
  char path[32] = "/tmp/a.gif", url[32] = "a.gif";
  EXPECT_EQ(c.RaiseQueryExportNames("image", path, sizeof path, url, sizeof url), 0);
  EXPECT_EQ(seen.calls, 0);
  c.QueryExportNames = AnswerNames;
  EXPECT_EQ(c.RaiseQueryExportNames("image", path, sizeof path, url, sizeof url), 1);
  EXPECT_EQ(seen.kind, "image");
  EXPECT_EQ(seen.path, "/tmp/a.gif");
  EXPECT_STREQ(path, "/out/new.gif");
  EXPECT_STREQ(url, "a.gif");
  // A buffer too small for the answer keeps its text.
  char tiny[4] = "abc";
  EXPECT_EQ(c.RaiseQueryExportNames("image", tiny, sizeof tiny, nullptr, 0), 0);
  EXPECT_STREQ(tiny, "abc");
}

TEST_F(CollectionTest, DocumentMarkersHaveTheirExactForm) {
  UNIVERSALNOTEID_tag unid{};
  unid.File.Innards[1] = 0x5A1B2C3D;
  unid.File.Innards[0] = 0x4E5F6071;
  unid.Note.Innards[1] = 0x8293A4B5;
  unid.Note.Innards[0] = 0xC6D7E8F9;
  char out[256];
  uint32_t n = FormatCollectionDbMarker(out, sizeof out, 42, &unid, 3);
  const std::string expected =
      "[<!--$hDB=42$unid=5A1B2C3D4E5F60718293A4B5C6D7E8F9-->"
      "<a name='zavedodAvu3'></a><div id='zavedodAvu3'></div>]";
  EXPECT_EQ(std::string(out, n), expected);
  char small[20] = "x";
  EXPECT_EQ(FormatCollectionDbMarker(small, sizeof small, 42, &unid, 3), 0u);
  EXPECT_STREQ(small, "");
  n = FormatCollectionNoteMarker(out, sizeof out, 1234);
  EXPECT_EQ(std::string(out, n), "[<!--$hNote=1234-->]");
  char exact[20];
  EXPECT_EQ(FormatCollectionNoteMarker(exact, sizeof exact, 1234), 0u);  // 20 characters + NUL
  EXPECT_EQ(FormatCollectionNoteMarker(exact, 0, 1), 0u);
}

}  // namespace
