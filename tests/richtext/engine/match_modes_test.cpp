// Link matching in the Ends and Substring modes: a key is found inside a
// word even when no word starts with the key's first letter.
#include <string>
#include <vector>

#include "../chunk/matching_fixture.h"

namespace matchingtest {
namespace {

using MatchModes = MatchingDoc;

TEST_F(MatchModes, EndsAndSubstringFindAKeyInsideAWord) {
  AddNote(NN_CLASS_DOCUMENT, {{"Subject", "co"}});
  AddView();
  Make({Para(), Text("((acmeco))")});
  EXPECT_EQ(Match("MinLength=2 MatchText=Ends", 2804), 0);
  EXPECT_EQ(std::string(session->ResultText), "co");
  EXPECT_EQ(Match("MinLength=2 MatchText=Substring", 2804), 0);
  EXPECT_EQ(std::string(session->ResultText), "co");
  // Whole words and starts keep to word starts.
  EXPECT_EQ(Match("MinLength=2", 2804), 0);
  EXPECT_EQ(std::string(session->ResultText), "");
  EXPECT_EQ(Match("MinLength=2 MatchText=Starts", 2804), 0);
  EXPECT_EQ(std::string(session->ResultText), "");
}

// The records: the run is split at the match, the key's text replaced by the
// result, the rest of the run kept, nothing else touched.
TEST_F(MatchModes, SubstringReplaceWritesTheRunAroundTheMatch) {
  AddNote(NN_CLASS_DOCUMENT, {{"Subject", "co"}});
  AddView();
  Make({Para(), Text("((acmeco ltd))"), Para(), Text("plain")});
  EXPECT_EQ(chunk->ReplaceMatching("", keysPath.c_str(), "Keys", "Subject", "\"CO\"",
                                   "MinLength=2 MatchText=Substring"),
            0);
  std::vector<std::string> texts;
  std::vector<uint16_t> sigs;
  for (const Rec& r : Records()) {
    sigs.push_back(r.sig);
    if (r.sig == 0xFF85) texts.push_back(r.text());
  }
  EXPECT_EQ(texts, (std::vector<std::string>{"acme", "CO", " ltd", "plain"}));
  EXPECT_EQ(sigs, (std::vector<uint16_t>{129, 0xFF85, 0xFF85, 0xFF85, 129, 0xFF85}));
}

}  // namespace
}  // namespace matchingtest
