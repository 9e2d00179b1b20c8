// ReplaceTextQuick over whole text runs, checked by the records it leaves:
// matches across records of one run, long results, text effects inside a
// run, refused searches, scope words and caller lengths past their texts.
#include <string>
#include <vector>

#include "rewrite_fixture.h"

namespace enginetest {
namespace {

using ReplaceRuns = RewriteDoc;

constexpr uint32_t kFontA = 0x0A000001u, kFontB = 0x0C000004u;

std::vector<Bytes> Bytewise(const std::vector<Rec>& recs) {
  std::vector<Bytes> out;
  for (const Rec& r : recs) out.push_back(r.bytes);
  return out;
}

// Stored records of a list as written by Join (pads included), one by one.
std::vector<Bytes> Expected(const std::vector<Bytes>& recs) { return Bytewise(Split(Join(recs))); }

Bytes Effect() {
  Bytes b;
  Put16(b, 0xFFC3);
  Put16(b, 8);
  Put32(b, 0x00000100u);
  return b;
}

TEST_F(ReplaceRuns, MatchAcrossTwoRecordsOfOneRun) {
  ASSERT_TRUE(OpenBuilt({Para(), PabRef(1), Text("hel", kFontA), Text("lo world", kFontB), Para(),
                         PabRef(1), Text("hello again", kFontA)}));
  TorvoRTChunk* all = Define("");
  ASSERT_EQ(all->ReplaceTextQuick("hello", 0, "bye", 0, ""), 0);
  // The replacement goes where the match begins; each record keeps its font.
  EXPECT_EQ(Bytewise(Records()),
            Expected({Para(), PabRef(1), Text("bye", kFontA), Text(" world", kFontB), Para(),
                      PabRef(1), Text("bye again", kFontA)}));
  ExpectSound();
  ReloadAndRender();
}

TEST_F(ReplaceRuns, TextEffectsStayInsideTheRun) {
  ASSERT_TRUE(OpenBuilt({Para(), PabRef(1), Text("ab", kFontA), Effect(), Text("cd", kFontB)}));
  TorvoRTChunk* all = Define("");
  ASSERT_EQ(all->ReplaceTextQuick("bc", 0, "X", 0, "TEXT"), 0);
  EXPECT_EQ(Bytewise(Records()),
            Expected({Para(), PabRef(1), Text("aX", kFontA), Effect(), Text("d", kFontB)}));
}

TEST_F(ReplaceRuns, WholeRunGoesKeepsOneEmptyText) {
  ASSERT_TRUE(OpenBuilt({Para(), PabRef(1), Text("ab", kFontA), Text("c", kFontB), Para()}));
  TorvoRTChunk* all = Define("");
  all->RegularExpression = 1;
  ASSERT_EQ(all->ReplaceTextQuick("[abc]+", 0, "", 0, ""), 0);
  EXPECT_EQ(Bytewise(Records()), Expected({Para(), PabRef(1), Text("", kFontB), Para()}));
  ExpectSound();
}

TEST_F(ReplaceRuns, ResultsBeyondFourKilobytesAreWritten) {
  const std::string many(3000, 'a');
  ASSERT_TRUE(OpenBuilt({Para(), PabRef(1), Text(many, kFontA)}));
  TorvoRTChunk* all = Define("");
  ASSERT_EQ(all->ReplaceTextQuick("a", 0, "bb", 0, ""), 0);
  std::string text;
  for (const Rec& r : Records())
    if (r.sig == 0xFF85) {
      EXPECT_EQ(Word(r.bytes, 4) | Word(r.bytes, 6) << 16, kFontA);
      text.append(r.bytes.begin() + 8, r.bytes.end());
    }
  EXPECT_EQ(text, std::string(6000, 'b'));
  ExpectSound();
  ReloadAndRender();
}

TEST_F(ReplaceRuns, InvalidRegularExpressionIsRefused) {
  ASSERT_TRUE(OpenBuilt({Para(), PabRef(1), Text("a(b", kFontA), Hotspot(0xFFA9, 1, 0, "a(b"),
                         Text("t"), HotspotEnd(170)}));
  const std::vector<Rec> before = Records();
  TorvoRTChunk* all = Define("");
  all->RegularExpression = 1;
  EXPECT_NE(all->ReplaceTextQuick("(", 0, "x", 0, ""), 0);
  EXPECT_NE(all->ReplaceTextQuick("(", 0, "x", 0, "NONTEXT"), 0);
  EXPECT_EQ(Bytewise(Records()), Bytewise(before));
}

TEST_F(ReplaceRuns, ScopeNonTextTextNamesBoth) {
  ASSERT_TRUE(OpenBuilt({Para(), PabRef(1), Hotspot(0xFFA9, 1, 0, "old pop"), Text("old text"),
                         HotspotEnd(170)}));
  TorvoRTChunk* all = Define("");
  ASSERT_EQ(all->ReplaceTextQuick("old", 0, "new", 0, "NONTEXT TEXT"), 0);
  EXPECT_EQ(Bytewise(Records()), Expected({Para(), PabRef(1), Hotspot(0xFFA9, 1, 0, "new pop"),
                                           Text("new text"), HotspotEnd(170)}));
  EXPECT_EQ(TorvoRTChunk::ReplaceScopeBits("NONTEXT TEXT"), 3u);
  EXPECT_EQ(TorvoRTChunk::ReplaceScopeBits("NONTEXT"), 2u);
}

// A chunk of one paragraph: the runs after it are not touched, and the
// replaced run is written where it was.
TEST_F(ReplaceRuns, OnlyTheChunksRunsChange) {
  ASSERT_TRUE(OpenBuilt({Para(), PabRef(1), Text("one a", kFontA), Para(), PabRef(1),
                         Text("two ", kFontA), Text("a", kFontB), Para(), PabRef(1),
                         Text("three a", kFontA)}));
  TorvoRTChunk* second = Define("Paragraph 2");
  ASSERT_TRUE(second);
  ASSERT_EQ(second->ReplaceTextQuick("o a", 0, "o-A", 0, ""), 0);
  EXPECT_EQ(Bytewise(Records()),
            Expected({Para(), PabRef(1), Text("one a", kFontA), Para(), PabRef(1),
                      Text("two-A", kFontA), Para(), PabRef(1), Text("three a", kFontA)}));
  ExpectSound();
}

// Lengths larger than their texts are clamped to the texts (the stack
// buffers below end with their texts; AddressSanitizer sees any read past).
TEST_F(ReplaceRuns, CallerLengthsAreClampedToTheirTexts) {
  ASSERT_TRUE(OpenBuilt({Para(), PabRef(1), Text("abc abc", kFontA)}));
  TorvoRTChunk* all = Define("");
  char find[] = "b";
  char replace[] = "xy";
  ASSERT_EQ(all->ReplaceTextQuick(find, 0, replace, 200, ""), 0);
  EXPECT_EQ(Bytewise(Records()), Expected({Para(), PabRef(1), Text("axyc axyc", kFontA)}));
  char find2[] = "xy";
  char replace2[] = "q";
  ASSERT_EQ(all->ReplaceTextQuick(find2, 500, replace2, 0, ""), 0);
  EXPECT_EQ(Bytewise(Records()), Expected({Para(), PabRef(1), Text("aqc aqc", kFontA)}));
}

// A real form: a word of its labels replaced, records outside the runs that
// hold it left as they were.
TEST_F(ReplaceRuns, CorpusLabelsChangeAndNothingElse) {
  if (!OpenCorpus("jnx/testDbDesignForms/form-testls.xml", "$Body")) GTEST_SKIP() << "no corpus";
  const std::vector<Rec> before = Records();
  TorvoRTChunk* all = Define("");
  ASSERT_EQ(all->ReplaceTextQuick("e", 0, "E", 0, ""), 0);
  const std::vector<Rec> after = Records();
  ASSERT_EQ(Signatures(after), Signatures(before));
  size_t changed = 0;
  for (size_t i = 0; i < before.size(); ++i) {
    if (before[i].sig != 0xFF85) {
      EXPECT_EQ(after[i].bytes, before[i].bytes) << "record " << i + 1;
      continue;
    }
    std::string expected(before[i].bytes.begin() + 8, before[i].bytes.end());
    for (char& c : expected)
      if (c == 'e') c = 'E';
    EXPECT_EQ(std::string(after[i].bytes.begin() + 8, after[i].bytes.end()), expected);
    changed += after[i].bytes != before[i].bytes;
  }
  EXPECT_GT(changed, 0u);
  ExpectSound();
  ReloadAndRender();
}

}  // namespace
}  // namespace enginetest
