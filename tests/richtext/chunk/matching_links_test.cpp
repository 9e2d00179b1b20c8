// Link matching through the chunk: keys from a view, the match rules of the
// modes, the actions and the argument refusals.
#include <algorithm>
#include <string>
#include <vector>

#include "tests/richtext/chunk/matching_fixture.h"

namespace {

using namespace matchingtest;

struct Messages {
  std::vector<std::string> lines;
  static void Proc(void* context, const char* text) {
    static_cast<Messages*>(context)->lines.push_back(text);
  }
};

class LinkMatching : public MatchingDoc {};

TEST_F(LinkMatching, DelimitedKeyBecomesDocumentLinkWithoutDelimiters) {
  AddKey("Acme");
  AddView();
  Make({Para(), Text("((Acme))")});
  EXPECT_EQ(Match(nullptr, 2386), 0);
  EXPECT_EQ(AllText(), "") << "the run and its delimiters went";
  EXPECT_EQ(Count(0xFF92), 1) << "a document link";
  EXPECT_TRUE(StoredHas("Acme")) << "shown as the key";
}

TEST_F(LinkMatching, RunNotStartingWithDelimiterIsNeverChanged) {
  AddKey("Acme");
  AddView();
  Make({Para(), Text("See ((Acme))")});
  const Bytes before = Stored();
  EXPECT_EQ(Match(nullptr, 2386), 0);
  EXPECT_EQ(Stored(), before);
}

TEST_F(LinkMatching, KeywordModeCollectsKeysAndLeavesTextAlone) {
  AddKey("Acme");
  AddKey("Beta");
  AddView();
  Make({Para(), Text("((Acme))"), Para(), Text("((Beta))"), Para(), Text("((Acme))")});
  const Bytes before = Stored();
  EXPECT_EQ(chunk->KeywordMatching("", keysPath.c_str(), "Keys", "Subject", nullptr, nullptr), 0);
  EXPECT_EQ(std::string(session->ResultText), "Acme,Beta");
  EXPECT_EQ(Stored(), before);
}

TEST_F(LinkMatching, KeywordSeparatorComesFromProperties) {
  AddKey("Acme");
  AddKey("Beta");
  AddView();
  Make({Para(), Text("((Acme Beta))")});
  EXPECT_EQ(Match("Separator=;", 2804), 0);
  EXPECT_EQ(std::string(session->ResultText), "Acme;Beta");
}

TEST_F(LinkMatching, WholeWordRefusedInsideLongerWordIsNotTriedAgainInThatRun) {
  AddNote(NN_CLASS_DOCUMENT, {{"Subject", "ab"}});
  AddView();
  Make({Para(), Text("((abc ab))")});
  EXPECT_EQ(Match("MinLength=2", 2804), 0);
  EXPECT_EQ(std::string(session->ResultText), "");
  // Substring mode takes the same place, and the search goes on after it.
  EXPECT_EQ(Match("MinLength=2 MatchText=Substring", 2804), 0);
  EXPECT_EQ(std::string(session->ResultText), "ab,ab");
}

TEST_F(LinkMatching, StartsWithReplaceExtraTakesTheWholeWord) {
  AddNote(NN_CLASS_DOCUMENT, {{"Subject", "acm"}});
  AddView();
  Make({Para(), Text("((acmeco))")});
  EXPECT_EQ(Match("MatchText=Starts ReplaceExtra=Yes", 2804), 0);
  EXPECT_EQ(std::string(session->ResultText), "acmeco");
  EXPECT_EQ(Match("MatchText=Starts", 2804), 0);
  EXPECT_EQ(std::string(session->ResultText), "acm");
  EXPECT_EQ(Match("MatchText=Ends", 2804), 0);
  EXPECT_EQ(std::string(session->ResultText), "");
}

TEST_F(LinkMatching, OneCharacterKeyNeverMatches) {
  AddNote(NN_CLASS_DOCUMENT, {{"Subject", "a"}});
  AddView();
  Make({Para(), Text("((a))")});
  EXPECT_EQ(Match("MinLength=0", 2804), 0);
  EXPECT_EQ(std::string(session->ResultText), "");
}

TEST_F(LinkMatching, MinimumLengthDropsShortValues) {
  NnHandle h = 0;
  ASSERT_EQ(NnNoteCreate(keysDb, NN_CLASS_DOCUMENT, &h), NN_OK);
  ASSERT_EQ(NnItemAppendTextList(h, "Subject", "ab", 2, true), NN_OK);
  ASSERT_EQ(NnItemAppendTextList(h, "Subject", "abc", 3, true), NN_OK);
  ASSERT_EQ(NnNoteUpdate(h, 0), NN_OK);
  NnNoteClose(h);
  AddView();
  Make({Para(), Text("((ab))"), Para(), Text("((abc))")});
  EXPECT_EQ(Match(nullptr, 2804), 0);
  EXPECT_EQ(std::string(session->ResultText), "abc");
  // A value above a key's 132 characters is refused, not read as the default.
  EXPECT_EQ(Match("MinLength=200", 2804), 1028);
  EXPECT_EQ(Match("MinLength=2", 2804), 0);
  EXPECT_EQ(std::string(session->ResultText), "ab,abc");
}

TEST_F(LinkMatching, LongKeyIsCutToEightyCharacters) {
  const std::string key = std::string(85, 'k');
  AddNote(NN_CLASS_DOCUMENT, {{"Subject", key}});
  AddView();
  Make({Para(), Text("((" + key + "))")});
  EXPECT_EQ(Match("MatchText=Substring", 2804), 0);
  EXPECT_EQ(std::string(session->ResultText), std::string(80, 'k'));
}

TEST_F(LinkMatching, ReplaceWritesTheFormulaResultInTheRunsFont) {
  AddKey("Acme");
  AddView();
  Make({Para(), Text("((Acme)) rest", 0x0C020001u)});
  EXPECT_EQ(chunk->ReplaceMatching("", keysPath.c_str(), "Keys", "Subject", "\"X-\" + Subject",
                                   nullptr),
            0);
  EXPECT_EQ(AllText(), "X-Acme rest");
  for (const Rec& r : Records()) {
    if (r.sig == 0xFF85 && !r.text().empty()) {
      EXPECT_EQ(r.bytes[7], 0x0C) << "the size is kept";
    }
  }
}

TEST_F(LinkMatching, AppendAndInsertKeepTheMatchedText) {
  AddKey("Acme");
  AddView();
  Make({Para(), Text("((Acme and more))")});
  EXPECT_EQ(chunk->AppendMatching("", keysPath.c_str(), "Keys", "Subject", "\"[\" + Subject + \"]\"",
                                  nullptr),
            0);
  EXPECT_EQ(AllText(), "Acme[Acme] and more");
}

// A later text of the run that matched nothing keeps both its delimiters.
TEST_F(LinkMatching, AnUnmatchedTextAfterAMatchKeepsItsDelimiters) {
  AddKey("Acme");
  AddView();
  Make({Para(), Text("((Acme)) and ((Unknown))")});
  EXPECT_EQ(chunk->AppendMatching("", keysPath.c_str(), "Keys", "Subject", "\"[\" + Subject + \"]\"",
                                  nullptr),
            0);
  EXPECT_EQ(AllText(), "Acme[Acme] and ((Unknown))");
}

TEST_F(LinkMatching, TextBetweenKeysIsKeptWhole) {
  AddKey("Acme");
  AddKey("Beta");
  AddView();
  Make({Para(), Text("((Acme and Beta))")});
  EXPECT_EQ(chunk->InsertMatching("", keysPath.c_str(), "Keys", "Subject", "\"<\" + Subject + \">\"",
                                  nullptr),
            0);
  EXPECT_EQ(AllText(), "<Acme>Acme and <Beta>Beta");
}

TEST_F(LinkMatching, ReplaceCopiesTheRichTextOfTheNamedItem) {
  NnHandle h = 0;
  ASSERT_EQ(NnNoteCreate(keysDb, NN_CLASS_DOCUMENT, &h), NN_OK);
  ASSERT_EQ(NnItemSetText(h, "Subject", "Acme", 4), NN_OK);
  Bytes rich = Text("Acme Corporation");
  ASSERT_EQ(NnItemAppend(h, 0, "Info", 4, NN_TYPE_COMPOSITE, rich.data(), uint32_t(rich.size())),
            NN_OK);
  ASSERT_EQ(NnNoteUpdate(h, 0), NN_OK);
  NnNoteClose(h);
  AddView();
  Make({Para(), Text("((Acme))")});
  EXPECT_EQ(chunk->ReplaceMatching("", keysPath.c_str(), "Keys", "Subject", "Info", nullptr), 0);
  EXPECT_EQ(AllText(), "Acme Corporation");
}

TEST_F(LinkMatching, SingleMatchRunsOnePass) {
  AddKey("Acme");
  AddView();
  Make({Para(), Text("((Acme))"), Para(), Text("((Acme))")});
  EXPECT_EQ(chunk->ReplaceMatching("", keysPath.c_str(), "Keys", "Subject", "\"ACME\" + \"\"",
                                   "SingleMatch=Yes"),
            0);
  EXPECT_EQ(AllText(), "ACME((Acme))");
}

TEST_F(LinkMatching, RunInsideAHotspotIsNotScanned) {
  AddKey("Acme");
  AddView();
  Make({Para(), Hotspot(0xFFAD, 11, "http://x"), Text("((Acme))"), Bytes{174, 2}});
  EXPECT_EQ(Match(nullptr, 2804), 0);
  EXPECT_EQ(std::string(session->ResultText), "");
}

TEST_F(LinkMatching, MatchFontSelectsRuns) {
  AddKey("Acme");
  AddView();
  Make({Para(), Text("((Acme))", 0x0A000101u)});  // bold
  EXPECT_EQ(Match("MatchFont=+Italic", 2804), 0);
  EXPECT_EQ(std::string(session->ResultText), "");
  EXPECT_EQ(Match("MatchFont=+Bold", 2804), 0);
  EXPECT_EQ(std::string(session->ResultText), "Acme");
}

TEST_F(LinkMatching, WikiDelimitersOfFourCharactersAreUsed) {
  AddKey("Acme");
  AddView();
  Make({Para(), Text("[[Acme]]")});
  EXPECT_EQ(Match("WikiDelimiters=[[]]", 2804), 0);
  EXPECT_EQ(std::string(session->ResultText), "Acme");
  EXPECT_EQ(Match("WikiDelimiters=[]", 2804), 0) << "two characters are ignored";
  EXPECT_EQ(std::string(session->ResultText), "");
}

TEST_F(LinkMatching, MissingArgumentsAreRefusedWithTheMethodName) {
  Make({Para(), Text("((Acme))")});
  Messages m;
  session->SetMessageProc(Messages::Proc, &m);
  EXPECT_EQ(chunk->LinkMatching("", "", "Keys", "Subject", nullptr, nullptr, 0), 20017);
  EXPECT_EQ(chunk->PopupMatching("", keysPath.c_str(), nullptr, "Subject", nullptr, nullptr),
            20017);
  EXPECT_EQ(chunk->LinkMatching("", keysPath.c_str(), "Keys", "", nullptr, nullptr, 7), 20017);
  ASSERT_EQ(m.lines.size(), 3u);
  EXPECT_EQ(m.lines[0], "ZELKO: LinkMatching method passed an invalid database filepath.");
  EXPECT_EQ(m.lines[1], "ZELKO: PopupMatching method passed an invalid view name.");
  EXPECT_EQ(m.lines[2], "ZELKO: LinkMatching missing reference fieldname.");
}

TEST_F(LinkMatching, FormulasThatDoNotCompileAreRefused) {
  AddKey("Acme");
  AddView();
  Make({Para(), Text("((Acme))")});
  const Bytes before = Stored();
  EXPECT_EQ(Match(nullptr, 2806, nullptr, "@Left(("), 20017);
  EXPECT_NE(chunk->lastStatus, 0);
  EXPECT_EQ(Match(nullptr, 2806, "@Left(("), 20014);
  EXPECT_EQ(Match("@Left((", 2806), 20014);
  EXPECT_EQ(Stored(), before);
  EXPECT_EQ(session->globals->resultFormula, 0u);
  EXPECT_EQ(session->globals->propertiesText, nullptr);
}

TEST_F(LinkMatching, MissingDatabaseOrViewGivesTheirStatus) {
  AddKey("Acme");
  AddView();
  Make({Para(), Text("((Acme))")});
  EXPECT_NE(chunk->LinkMatching("", "no-such-matching.nsf", "Keys", "Subject", nullptr, nullptr,
                                2804),
            0);
  EXPECT_NE(chunk->LinkMatching("", keysPath.c_str(), "NoView", "Subject", nullptr, nullptr, 2804),
            0);
  EXPECT_EQ(session->globals->hDb, 0u);
  EXPECT_EQ(session->globals->linkMatch, nullptr);
}

TEST_F(LinkMatching, ReferenceFormulaGivesKeys) {
  AddKey("Acme");
  AddView();
  Make({Para(), Text("((AcmeCo))")});
  EXPECT_EQ(Match(nullptr, 2804, nullptr, "(Subject + \"Co\")"), 0);
  EXPECT_EQ(std::string(session->ResultText), "AcmeCo");
}

TEST_F(LinkMatching, NoOpMethodsStayHarmless) {
  Make({Para(), Text("((Acme))")});
  EXPECT_EQ(chunk->RegexLink("a", "b", "c", 1), 0);
  EXPECT_EQ(chunk->RegexHighlight(nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(chunk->RegexKeywords("a", "b", "c"), 0);
  EXPECT_EQ(chunk->RegexPopup("a", "b", "c"), 0);
  EXPECT_EQ(chunk->RegexReplace("a", "b", "c"), 0);
  EXPECT_EQ(chunk->RaiseReplaceHTMLScripting("a", "b", "c", "d", "e"), 0);
}

}  // namespace
