// Wiki matching through the chunk: pages of the wiki view, addresses,
// attachments and the compose hotspots of pages that do not exist yet.
#include <string>

#include "tests/richtext/chunk/matching_fixture.h"

namespace {

using namespace matchingtest;

class WikiMatching : public MatchingDoc {
 protected:
  uint16_t Wiki(const char* properties) {
    return chunk->WikiMatching("", keysPath.c_str(), "Keys", "Subject", nullptr, properties);
  }
  // The data of the first hotspot or link begin of that signature.
  std::string HotspotData(uint16_t sig) {
    for (const Rec& r : Records())
      if (r.sig == sig && r.bytes.size() >= 12)
        return std::string(r.bytes.begin() + 12, r.bytes.end());
    return "";
  }
};

TEST_F(WikiMatching, ExistingPageBecomesDocumentLinkInOneWayMode) {
  AddKey("Home Page");
  AddView();
  Make({Para(), Text("((Home Page))")});
  EXPECT_EQ(Wiki("OneWayOnly=Yes"), 0);
  EXPECT_EQ(AllText().find("(("), std::string::npos);
  EXPECT_EQ(Count(0xFF92), 1) << "a document link";
  EXPECT_TRUE(StoredHas("Home Page"));
}

TEST_F(WikiMatching, MissingPageStaysTextInOneWayMode) {
  AddKey("Other");
  AddView();
  Make({Para(), Text("((Home Page))")});
  const Bytes before = Stored();
  EXPECT_EQ(Wiki("OneWayOnly=Yes"), 0);
  EXPECT_EQ(AllText(), "((Home Page))");
}

TEST_F(WikiMatching, MissingPageBecomesComposeHotspotInTwoWayMode) {
  AddKey("Other");
  AddView();
  Make({Para(), Text("((New Page|click here))")});
  EXPECT_EQ(Wiki(nullptr), 0);
  EXPECT_EQ(AllText(), "click here");
  bool action = false;
  for (const Rec& r : Records())
    if (r.sig == 0xFFA9 && r.bytes.size() >= 6 && r.bytes[4] == 2) action = true;
  EXPECT_TRUE(action) << "an action hotspot";
  EXPECT_TRUE(StoredHas("WikiLink"));
  EXPECT_TRUE(StoredHas("New Page"));
}

TEST_F(WikiMatching, TagNamesTheFormAndTheClass) {
  AddKey("Other");
  AddView();
  Make({Para(), Text("((Topic:Intro))"), Para(), Text("((Plain))")});
  EXPECT_EQ(Wiki("Tag=Topic:"), 0);
  EXPECT_TRUE(StoredHas("WikiLinkTopic"));
  EXPECT_NE(AllText().find("((Plain))"), std::string::npos) << "an untagged text stays";
}

TEST_F(WikiMatching, UrlWithDisplayTextAndWithout) {
  AddView();
  Make({Para(), Text("((https://example.com/a|Example))"), Para(),
        Text("((https://example.com/b))"), Para(), Text("((mailto:a@b.c))")});
  EXPECT_EQ(Wiki("OneWayOnly=Yes"), 0);
  const std::string text = AllText();
  EXPECT_NE(text.find("Example"), std::string::npos);
  EXPECT_NE(text.find("example.com/b"), std::string::npos);
  EXPECT_EQ(text.find("https"), std::string::npos) << "the scheme word is not shown";
  EXPECT_NE(text.find("a@b.c"), std::string::npos);
  EXPECT_EQ(text.find("mailto"), std::string::npos);
  EXPECT_EQ(Count(0xFFAD), 3);
  EXPECT_TRUE(StoredHas("https://example.com/a"));
}

TEST_F(WikiMatching, SearchAddressEncodesBlanksAndQuotes) {
  AddView();
  Make({Para(), Text("((google:rich \"text\"))")});
  EXPECT_EQ(Wiki("OneWayOnly=Yes"), 0);
  EXPECT_TRUE(StoredHas("rich%20%22text%22"));
}

TEST_F(WikiMatching, AnchorIsPassedWithBlanksReplaced) {
  AddKey("Page");
  AddView();
  Make({Para(), Text("((Page#Section 2))")});
  EXPECT_EQ(Wiki("OneWayOnly=Yes"), 0);
  EXPECT_EQ(AllText().find("(("), std::string::npos);
  EXPECT_EQ(Count(0xFF92), 1);
  EXPECT_TRUE(StoredHas("Section_2"));
}

TEST_F(WikiMatching, AttachmentWithoutFileStaysText) {
  AddView();
  Make({Para(), Text("((attach:c:\\docs\\report.pdf))")});
  EXPECT_EQ(Wiki("OneWayOnly=Yes"), 0);
  EXPECT_EQ(AllText(), "((attach:c:\\docs\\report.pdf))");
}

TEST_F(WikiMatching, RunWithoutCloseDelimiterIsNotTouched) {
  AddKey("Home Page");
  AddView();
  Make({Para(), Text("((Home Page")});
  const Bytes before = Stored();
  EXPECT_EQ(Wiki("OneWayOnly=Yes"), 0);
  EXPECT_EQ(AllText(), "((Home Page");
}

TEST_F(WikiMatching, TextInsideAHotspotIsLeftAlone) {
  AddKey("Home Page");
  AddView();
  Make({Para(), Hotspot(0xFFAD, 11, "http://x"), Text("((Home Page))"), Bytes{174, 2}});
  EXPECT_EQ(Wiki(nullptr), 0);
  EXPECT_EQ(AllText(), "((Home Page))");
}

TEST_F(WikiMatching, SquareBracketDelimiters) {
  AddKey("Home Page");
  AddView();
  Make({Para(), Text("[[Home Page]]")});
  EXPECT_EQ(Wiki("OneWayOnly=Yes WikiDelimiters=[[]]"), 0);
  EXPECT_EQ(AllText().find("[["), std::string::npos);
  EXPECT_EQ(Count(0xFF92), 1);
}

TEST_F(WikiMatching, MissingArgumentsAreRefused) {
  Make({Para(), Text("((Home Page))")});
  EXPECT_EQ(chunk->WikiMatching("", "", "Keys", "Subject", nullptr, nullptr), 20017);
  EXPECT_EQ(chunk->WikiMatching("", keysPath.c_str(), "", "Subject", nullptr, nullptr), 20017);
  EXPECT_EQ(chunk->WikiMatching("", keysPath.c_str(), "Keys", nullptr, nullptr, nullptr), 20017);
  EXPECT_NE(chunk->WikiMatching("", keysPath.c_str(), "NoView", "Subject", nullptr, nullptr), 0);
  EXPECT_EQ(session->globals->propertiesText, nullptr);
}

}  // namespace
