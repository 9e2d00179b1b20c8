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

// ---- two-way runs: earlier wiki elements become text again ----

// An attribute record (id, class, style, title, extra, name) in canonical form.
Bytes Attributes(const std::string& cls, const std::string& title) {
  Bytes b;
  Put16(b, 0xFF7A);
  Put16(b, uint16_t(26 + cls.size() + title.size()));
  Put16(b, 0);
  Put16(b, uint16_t(cls.size()));
  Put16(b, 0);
  Put16(b, uint16_t(title.size()));
  Put16(b, 0);
  Put16(b, 0);
  b.insert(b.end(), 10, 0);
  b.insert(b.end(), cls.begin(), cls.end());
  b.insert(b.end(), title.begin(), title.end());
  return b;
}

// A URL link carrying the class and title a wiki run gives its links.
std::vector<Bytes> WikiUrlLink(const std::string& cls, const std::string& url,
                               const std::string& shown) {
  return {Hotspot(0xFFAD, 11, url), Attributes(cls, url), Text(shown), Bytes{174, 2}};
}

int ActionHotspots(const std::vector<Rec>& records) {
  int n = 0;
  for (const Rec& r : records) n += r.sig == 0xFFA9;
  return n;
}

class WikiTwoWay : public WikiMatching {
 protected:
  // A second run on the same item, through a fresh item object as a later
  // session would see it.
  uint16_t Again(const char* properties) {
    delete item;
    item = new TorvoRTItem(session);
    EXPECT_EQ(item->ConnectBackend(db, note, "Body"), NN_OK);
    chunk = item->DefineChunk("Everything");
    EXPECT_NE(chunk, nullptr);
    return Wiki(properties);
  }
};

TEST_F(WikiTwoWay, SecondRunTurnsTheComposeHotspotBackIntoText) {
  AddKey("Other");
  AddView();
  Make({Para(), Text("((New Page|click here))")});
  ASSERT_EQ(Wiki(nullptr), 0);
  ASSERT_EQ(ActionHotspots(Records()), 1);
  // Without resolving, the run stops after turning elements back.
  EXPECT_EQ(Again("ResolveTags=No"), 0);
  EXPECT_EQ(AllText(), "((New Page|click here))");
  EXPECT_EQ(ActionHotspots(Records()), 0);
  EXPECT_FALSE(StoredHas("WikiLink"));
}

TEST_F(WikiTwoWay, RepeatedRunsKeepOneHotspot) {
  AddKey("Other");
  AddView();
  Make({Para(), Text("((New Page|click here))"), Text(" and "), Text("((Lonely))")});
  ASSERT_EQ(Wiki(nullptr), 0);
  EXPECT_EQ(Again(nullptr), 0);
  EXPECT_EQ(Again(nullptr), 0);
  EXPECT_EQ(AllText(), "click here and Lonely");
  EXPECT_EQ(ActionHotspots(Records()), 2);
  EXPECT_EQ(Count(0xAA), 2) << "every hotspot closed once";
}

TEST_F(WikiTwoWay, TitleOnlyWhenItIsTheShownText) {
  AddKey("Other");
  AddView();
  Make({Para(), Text("((Lonely))"), Para(), Text("((Page#Chapter 2))")});
  ASSERT_EQ(Wiki(nullptr), 0);
  EXPECT_EQ(Again("ResolveTags=No"), 0);
  // "Page#Chapter 2" shows "Page": the page name is the shown text, no '|'.
  EXPECT_EQ(AllText(), "((Lonely))((Page#Chapter 2))");
}

TEST_F(WikiTwoWay, TextComesBackInTheRunsDelimiters) {
  AddKey("Other");
  AddView();
  Make({Para(), Text("[[New Page|click here]]")});
  ASSERT_EQ(Wiki("WikiDelimiters=[[]]"), 0);
  ASSERT_EQ(ActionHotspots(Records()), 1);
  EXPECT_EQ(Again("WikiDelimiters=[[]] ResolveTags=No"), 0);
  EXPECT_EQ(AllText(), "[[New Page|click here]]");
}

TEST_F(WikiTwoWay, OneWayRunLeavesHotspotsAlone) {
  AddKey("Other");
  AddView();
  Make({Para(), Text("((New Page|click here))")});
  ASSERT_EQ(Wiki(nullptr), 0);
  EXPECT_EQ(Again("OneWayOnly=yes"), 0);
  EXPECT_EQ(AllText(), "click here");
  EXPECT_EQ(ActionHotspots(Records()), 1);
}

TEST_F(WikiTwoWay, TaggedHotspotsNeedTheirTag) {
  AddKey("Other");
  AddView();
  Make({Para(), Text("((Topic:Intro))")});
  ASSERT_EQ(Wiki("Tag=Topic"), 0);
  ASSERT_TRUE(StoredHas("WikiLinkTopic"));
  // Another tag, and no tag, leave it as it is.
  EXPECT_EQ(Again("Tag=Other ResolveTags=No"), 0);
  EXPECT_EQ(ActionHotspots(Records()), 1);
  EXPECT_EQ(Again("ResolveTags=No"), 0);
  EXPECT_EQ(ActionHotspots(Records()), 1);
  EXPECT_EQ(Again("Tag=topic: ResolveTags=No"), 0);
  EXPECT_EQ(ActionHotspots(Records()), 0);
  EXPECT_EQ(AllText(), "((topic:Intro))");
}

TEST_F(WikiTwoWay, OtherHotspotsStayAndLaterWikiHotspotsAreStillFound) {
  AddKey("Other");
  AddView();
  Make({Para(), Hotspot(0xFFA9, 2, ""), Attributes("Menu", "m"), Text("plain"), Bytes{170, 2},
        Para(), Text("((New Page|click here))")});
  ASSERT_EQ(Wiki(nullptr), 0);
  ASSERT_EQ(ActionHotspots(Records()), 2);
  EXPECT_EQ(Again("ResolveTags=No"), 0);
  EXPECT_EQ(AllText(), "plain((New Page|click here))");
  EXPECT_EQ(ActionHotspots(Records()), 1);
  EXPECT_TRUE(StoredHas("Menu"));
}

TEST_F(WikiTwoWay, WikiLinksBecomeTextWithTheirAddress) {
  AddView();
  std::vector<Bytes> recs = {Para()};
  for (const Bytes& r : WikiUrlLink("WikiLinkhttp", "http://example.com/a", "Example"))
    recs.push_back(r);
  recs.push_back(Para());
  for (const Bytes& r : WikiUrlLink("WikiLinkHTTPS", "https://b.example", "https://b.example"))
    recs.push_back(r);
  recs.push_back(Para());
  for (const Bytes& r : WikiUrlLink("SiteLink", "http://c.example", "Site")) recs.push_back(r);
  Make(recs);
  EXPECT_EQ(Wiki("ResolveTags=No"), 0);
  EXPECT_EQ(AllText(), "((http://example.com/a|Example))((https://b.example))Site");
  EXPECT_EQ(Count(0xFFAD), 1) << "the link of another class stays";
  EXPECT_EQ(Count(0xFF7A), 1) << "the attributes went with their links";
  EXPECT_TRUE(StoredHas("SiteLink"));
}

TEST_F(WikiTwoWay, TaggedRunTakesOnlyTheSchemesItMayHaveMade) {
  AddView();
  std::vector<Bytes> recs = {Para()};
  for (const Bytes& r : WikiUrlLink("WikiLinkgoogle", "https://s.example/?q=a", "a"))
    recs.push_back(r);
  for (const Bytes& r : WikiUrlLink("WikiLinkzelko", "https://h.example/?q=b", "b"))
    recs.push_back(r);
  Make(recs);
  EXPECT_EQ(Wiki("Tag=Topic ResolveTags=No"), 0);
  EXPECT_EQ(AllText(), "a((Topic:https://h.example/?q=b|b))");
  EXPECT_EQ(Count(0xFFAD), 1);
}

TEST_F(WikiTwoWay, RoundTripThroughANewRunResolvesAgain) {
  AddView();
  std::vector<Bytes> recs = {Para()};
  for (const Bytes& r : WikiUrlLink("WikiLinkhttps", "https://example.com/a", "Example"))
    recs.push_back(r);
  Make(recs);
  EXPECT_EQ(Wiki(nullptr), 0);
  EXPECT_EQ(AllText(), "Example");
  EXPECT_EQ(Count(0xFFAD), 1);
  EXPECT_EQ(Count(0xAE), 1);
  EXPECT_TRUE(StoredHas("https://example.com/a"));
}

// ---- page links carry the class and title of the wiki ----

uint16_t U16At(const Bytes& b, size_t at) {
  return at + 2 <= b.size() ? uint16_t(b[at] | b[at + 1] << 8) : 0;
}

// The class and title texts of an attribute record.
std::pair<std::string, std::string> ClassAndTitle(const Rec& r) {
  size_t at = 26 + U16At(r.bytes, 4);
  const size_t cls = U16At(r.bytes, 6);
  std::string c(r.bytes.begin() + long(at), r.bytes.begin() + long(at + cls));
  at += cls + U16At(r.bytes, 8);
  const size_t title = U16At(r.bytes, 10);
  std::string t(r.bytes.begin() + long(at), r.bytes.begin() + long(at + title));
  return {c, t};
}

TEST_F(WikiMatching, PageLinkIsALinkHotspotWithItsClassAndTitle) {
  AddKey("Home Page");
  AddView();
  Make({Para(), Text("((Home Page))")});
  ASSERT_EQ(Wiki("OneWayOnly=Yes"), 0);
  // The run stands in its own text group (the matching isolates each
  // delimited text); the link replaces the run inside it.
  std::vector<uint16_t> sigs;
  for (const Rec& r : Records()) sigs.push_back(r.sig);
  EXPECT_EQ(sigs, (std::vector<uint16_t>{129, 221, 0xFFAD, 221, 0xFF92, 222, 0xFF7A, 0xFF85, 174,
                                         210, 222}));
  std::vector<uint16_t> wrapped;
  for (const Rec& r : Records()) {
    if (r.sig == 0xFFAD) {
      EXPECT_EQ(U16At(r.bytes, 4), 11) << "a link hotspot";
      EXPECT_EQ(U16At(r.bytes, 6) & 0x1001, 0x1) << "its target lies in its records";
      EXPECT_EQ(U16At(r.bytes, 10), 0) << "no address of its own";
    }
    if (r.sig == 221 || r.sig == 222) wrapped.push_back(U16At(r.bytes, 4));
    if (r.sig == 0xFF92) {
      const std::string texts(r.bytes.begin() + 44, r.bytes.end());
      EXPECT_EQ(texts, std::string("Home Page\0\0\0", 12)) << "comment, no server, no anchor";
    }
    if (r.sig == 0xFF7A) {
      EXPECT_EQ(ClassAndTitle(r), std::make_pair(std::string("WikiLink"), std::string("Home Page")));
    }
  }
  EXPECT_EQ(wrapped, (std::vector<uint16_t>{0xFF85, 0xFF92, 0xFF92, 0xFF85}));
  EXPECT_EQ(AllText(), "Home Page");
  // Counted and addressed as a link.
  TorvoRTChunk* link = chunk->DefineSubChunk("HyperLink 1");
  ASSERT_NE(link, nullptr);
  EXPECT_TRUE(link->Exists());
  EXPECT_STREQ(link->GetHTMLValue("Class", "Hyperlink"), "WikiLink");
  EXPECT_STREQ(link->GetHTMLValue("Title", "Hyperlink"), "Home Page");
  delete link;

  const std::string page = SaveReloadRender();
  EXPECT_TRUE(ParsesAsXml(page));
  const size_t at = page.find("<a href=\"notes://");
  ASSERT_NE(at, std::string::npos) << page;
  const std::string anchor = page.substr(at, page.find("</a>", at) + 4 - at);
  EXPECT_NE(anchor.find("\" class=\"WikiLink\" title=\"Home Page\">"), std::string::npos) << anchor;
  EXPECT_NE(anchor.find(">Home Page</span></a>"), std::string::npos) << "in the link style";
  EXPECT_EQ(anchor.find("doclink"), std::string::npos) << "its own class stands instead";
  EXPECT_EQ(page.find("<a", at + 2), std::string::npos) << "one link, not two";
}

TEST_F(WikiMatching, TitleWithMarkupCharactersIsEscapedInThePage) {
  AddKey("Bob's <b>\"Best\"</b> & Co");
  AddView();
  Make({Para(), Text("((Bob's <b>\"Best\"</b> & Co#Part 1))")});
  ASSERT_EQ(Wiki("OneWayOnly=Yes Tag=Topic"), 0);  // untagged text: nothing happens
  ASSERT_EQ(Count(0xFF7A), 0);
  ASSERT_EQ(Wiki("OneWayOnly=Yes"), 0);
  const Rec* attributes = nullptr;
  std::vector<Rec> records = Records();
  for (const Rec& r : records)
    if (r.sig == 0xFF7A) attributes = &r;
  ASSERT_NE(attributes, nullptr);
  EXPECT_EQ(ClassAndTitle(*attributes).second, "Bob's <b>\"Best\"</b> & Co#Part 1")
      << "the whole target, quotes and all";
  EXPECT_TRUE(StoredHas("Part_1")) << "the anchor of the link";

  const std::string page = SaveReloadRender();
  EXPECT_TRUE(ParsesAsXml(page));
  EXPECT_EQ(page.find("<b>"), std::string::npos) << page;
  const size_t at = page.find(" title=\"");
  ASSERT_NE(at, std::string::npos) << page;
  const std::string title = page.substr(at, page.find('>', at) - at);
  EXPECT_EQ(title.find_first_of("<'"), std::string::npos) << title;
  EXPECT_EQ(title.find('"', 8), title.size() - 1) << "the value ends at its own quote: " << title;
  EXPECT_NE(page.find("#Part_1\""), std::string::npos) << "the link goes to the anchor";
}

TEST_F(WikiMatching, TaggedPageLinkTakesTheTagInItsClass) {
  AddKey("Intro");
  AddView();
  Make({Para(), Text("((Topic:Intro))")});
  ASSERT_EQ(Wiki("OneWayOnly=Yes Tag=Topic"), 0);
  const std::string page = RenderItem(item);
  EXPECT_NE(page.find(" class=\"WikiLinkTopic\" title=\"Intro\">"), std::string::npos) << page;
}

TEST_F(WikiTwoWay, PageLinksBecomeTextAndResolveAgain) {
  AddKey("Home Page");
  AddKey("Page");
  AddView();
  Make({Para(), Text("((Home Page))"), Para(), Text("((Page#Section 2|see there))")});
  ASSERT_EQ(Wiki(nullptr), 0);
  ASSERT_EQ(Count(0xFFAD), 2);
  EXPECT_EQ(AllText(), "Home Pagesee there");
  // A later run turns both links back into their texts, and nothing of them stays.
  EXPECT_EQ(Again("ResolveTags=No"), 0);
  EXPECT_EQ(AllText(), "((Home Page))((Page#Section 2|see there))");
  for (uint16_t sig : {uint16_t(0xFFAD), uint16_t(0xFF92), uint16_t(0xFF7A), uint16_t(174)})
    EXPECT_EQ(Count(sig), 0) << std::hex << sig;
  for (const Rec& r : Records())
    if (r.sig == 221 || r.sig == 222) {
      EXPECT_NE(U16At(r.bytes, 4), 0xFF92) << "no group left";
    }
  // And a run that resolves makes them links again.
  EXPECT_EQ(Again(nullptr), 0);
  EXPECT_EQ(Count(0xFFAD), 2);
  EXPECT_EQ(Count(0xFF92), 2);
  EXPECT_EQ(AllText(), "Home Pagesee there");
  EXPECT_TRUE(ParsesAsXml(SaveReloadRender()));
}

TEST_F(WikiMatching, UrlLinksCarryTheirSchemeClassAndTheirTarget) {
  AddView();
  Make({Para(), Text("((https://example.com/a?x=1&y=2|Example))"), Para(),
        Text("((google:rich text))")});
  ASSERT_EQ(Wiki("OneWayOnly=Yes"), 0);
  std::vector<std::pair<std::string, std::string>> attributes;
  for (const Rec& r : Records())
    if (r.sig == 0xFF7A) attributes.push_back(ClassAndTitle(r));
  EXPECT_EQ(attributes,
            (std::vector<std::pair<std::string, std::string>>{
                {"WikiLinkhttps", "https://example.com/a?x=1&y=2"},
                {"WikiLinkgoogle", "google:rich text"}}));
  const std::string page = SaveReloadRender();
  EXPECT_TRUE(ParsesAsXml(page));
  EXPECT_NE(page.find("<a href=\"https://example.com/a?x=1&amp;y=2\" class=\"WikiLinkhttps\" "
                      "title=\"https://example.com/a?x=1&amp;y=2\">"),
            std::string::npos)
      << page;
}

TEST_F(WikiTwoWay, UrlLinksOfARunBecomeTheirTextAgain) {
  AddView();
  Make({Para(), Text("((https://example.com/a|Example))"), Para(), Text("((google:rich text))"),
        Para(), Text("((mailto:a@b.c))")});
  ASSERT_EQ(Wiki(nullptr), 0);
  ASSERT_EQ(Count(0xFFAD), 3);
  EXPECT_EQ(AllText(), "Examplerich texta@b.c");
  EXPECT_EQ(Again("ResolveTags=No"), 0);
  // A mail link is no wiki link kind a run turns back: it stays a link.
  EXPECT_EQ(AllText(), "((https://example.com/a|Example))((google:rich text|rich text))a@b.c");
  EXPECT_EQ(Count(0xFFAD), 1);
  // Resolved again, the same links.
  EXPECT_EQ(Again(nullptr), 0);
  EXPECT_EQ(AllText(), "Examplerich texta@b.c");
  EXPECT_EQ(Count(0xFFAD), 3);
  EXPECT_EQ(Count(0xFF7A), 3);
}

}  // namespace
