// What the matching writes from a document's text: values inside formulas
// and option texts stay values, tagged texts need their ':', and keyword
// matching leaves the item as it was.
#include <string>

#include "tests/richtext/chunk/matching_fixture.h"

namespace {

using namespace matchingtest;

class WikiValues : public MatchingDoc {
 protected:
  uint16_t Wiki(const char* properties) {
    return chunk->WikiMatching("", keysPath.c_str(), "Keys", "Subject", nullptr, properties);
  }
  // The data of the first hotspot begin (a compose formula: its source).
  std::string HotspotData() {
    for (const Rec& r : Records())
      if (r.sig == 0xFFA9 && r.bytes.size() >= 16)
        return std::string(r.bytes.begin() + 16, r.bytes.end());
    return "";
  }
};

TEST_F(WikiValues, PageNameStaysTextInTheComposeFormula) {
  AddKey("Other");
  AddView();
  Make({Para(), Text("((x\"); @Command([FileCloseWindow]); @Do((\"))")});
  EXPECT_EQ(Wiki(nullptr), 0);
  const std::string formula = HotspotData();
  ASSERT_FALSE(formula.empty()) << "a compose hotspot";
  // The quote is escaped: the command is part of the inserted text.
  EXPECT_NE(formula.find("@Command([EditInsertText]; \"x\\\"); @Command([FileCloseWindow]); "
                         "@Do((\\\"\");"),
            std::string::npos)
      << formula;
}

TEST_F(WikiValues, FormAndDatabaseAreEscapedToo) {
  AddKey("Other");
  AddView();
  ASSERT_EQ(NnItemSetText(note, "Form", "Memo\\\"x", 7), NN_OK);
  Make({Para(), Text("((New))")});
  EXPECT_EQ(Wiki(nullptr), 0);
  const std::string formula = HotspotData();
  EXPECT_NE(formula.find("\"Memo\\\\\\\"x\""), std::string::npos) << formula;
}

// The link's option text holds the anchor between a delimiter it lacks.
TEST_F(WikiValues, AnchorWithAnApostropheArrivesWhole) {
  AddKey("Bob's Page");
  AddView();
  Make({Para(), Text("((Bob's Page#Bob's part))")});
  EXPECT_EQ(Wiki("OneWayOnly=Yes"), 0);
  EXPECT_EQ(Count(0xFF92), 1) << "a document link";
  EXPECT_TRUE(StoredHas("Bob's_part"));
}

TEST_F(WikiValues, TaggedTextNeedsItsColon) {
  AddKey("Other");
  AddView();
  Make({Para(), Text("((TopicIntro2))"), Para(), Text("((Topic:Intro))")});
  EXPECT_EQ(Wiki("Tag=Topic"), 0);
  EXPECT_NE(AllText().find("((TopicIntro2))"), std::string::npos);
  EXPECT_EQ(AllText().find("((Topic:Intro))"), std::string::npos);
  EXPECT_NE(HotspotData().find("\"Intro\""), std::string::npos);
}

using KeywordValues = MatchingDoc;

TEST_F(KeywordValues, DelimitedKeywordsLeaveTheItemUnchanged) {
  AddKey("Acme");
  AddView();
  Make({Para(), Text("see ((Acme)) here")});
  const Bytes before = Stored();
  EXPECT_EQ(chunk->KeywordMatching("", keysPath.c_str(), "Keys", "Subject", nullptr,
                                   "WikiDelimiters=(())"),
            0);
  EXPECT_EQ(Stored(), before);
  // Nothing of the split waits in the item either.
  EXPECT_EQ(item->Commit(), NN_OK);
  EXPECT_EQ(Stored(), before);
  char text[64] = {};
  chunk->GetText("Text 1", text, sizeof text, 0, nullptr);
  EXPECT_STREQ(text, "see ((Acme)) here");
}

// A result formula that compiles but gives no value for a match (a function
// not evaluated here, an error) is a failed action: that run keeps its text,
// and the search goes on to the next match.
TEST_F(KeywordValues, AResultWithoutAValueKeepsTheRunAndTheSearchGoesOn) {
  AddKey("Acme");
  AddKey("Beta");
  AddView();
  for (const char* failing : {"@NoSuchFunction(1)", "@Error"})
    for (uint16_t mode : {2806, 2802}) {
      delete item;  // and its chunk
      NnItemDelete(note, "Body", 4);
      Make({Para(), Text("((Acme)) tail"), Para(), Text("((Beta)) end")});
      const std::string result = std::string("@If(Subject = \"Acme\"; ") + failing + "; \"B!\")";
      EXPECT_EQ(chunk->LinkMatching("", keysPath.c_str(), "Keys", "Subject", result.c_str(), "",
                                    mode), 0);
      EXPECT_EQ(AllText(), "((Acme)) tailB! end") << failing << " " << mode;
    }
}

}  // namespace
