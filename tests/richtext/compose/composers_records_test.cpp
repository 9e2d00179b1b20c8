// What the composers build, read back as a user would: the records after the
// chunk method, the item reloaded from saved DXL, and the rendered page.
#include <cstring>
#include <string>

#include "compose_support.h"
#include "richtext/engine/opcodes.h"

namespace {

using composetest::Balanced;
using composetest::ComposeDoc;
using composetest::Count;
using composetest::Find;
using composetest::Rec;
using composetest::WellFormed;

// The hotspot begin 0xFFA9 (host): type at 4, flags at 8, data length at 12, data from 16.
struct Hotspot {
  uint16_t type = 0;
  uint32_t flags = 0;
  std::string data;
};
Hotspot HotspotOf(const Rec& r) {
  Hotspot h;
  h.type = r.U16(4);
  h.flags = r.U32(8);
  h.data = r.Text(16, r.U16(12));
  return h;
}

// ---- hotspots with code (AppendHotspot, 2423) ------------------------------------

TEST_F(ComposeDoc, FormulaActionKeepsItsWholeCodeAndItsLabel) {
  const char* formula = "@Command([FileSave])";
  ASSERT_EQ(chunk->AppendHotspot("Action Formula", formula, 20, "HotspotStyle='x'", "Save it", 7),
            0);
  // The compiled formula as the platform stores it.
  const std::string expected = kvtest::CompiledFormula(formula);
  ASSERT_FALSE(expected.empty());

  auto check = [&](const std::vector<Rec>& records) {
    const Rec* begin = Find(records, 0xFFA9);
    ASSERT_NE(begin, nullptr);
    Hotspot h = HotspotOf(*begin);
    EXPECT_EQ(h.type, 2);
    EXPECT_EQ(h.flags & 0x10, 0x10u);
    EXPECT_EQ(h.data.size(), expected.size());
    EXPECT_EQ(h.data, expected);
    // The label is the hotspot's text; the options are not.
    bool labelled = false;
    for (const Rec& r : records) {
      if (r.sig != 0xFF85) continue;
      EXPECT_EQ(r.Text(8, r.data.size()).find("HotspotStyle"), std::string::npos);
      labelled |= r.Text(8, r.data.size()) == "Save it";
    }
    EXPECT_TRUE(labelled);
    EXPECT_EQ(Count(records, 0x00AA), 1);
    EXPECT_TRUE(Balanced(records));
  };
  check(Records());
  std::string page;
  check(Reloaded(&page));
  EXPECT_TRUE(WellFormed(page));
  EXPECT_NE(page.find("Save it"), std::string::npos);
  EXPECT_NE(page.find("Intro"), std::string::npos);
  EXPECT_EQ(page.find("HotspotStyle"), std::string::npos);
}

TEST_F(ComposeDoc, ShortFormulasAreStoredToo) {
  // A formula shorter than 17 bytes used to come out empty.
  ASSERT_EQ(chunk->AppendHotspot("Action Formula", "@Now", 4, "", "Now", 3), 0);
  const std::vector<Rec> records = Records();
  const Rec* begin = Find(records, 0xFFA9);
  ASSERT_NE(begin, nullptr);
  EXPECT_GT(begin->U16(12), 0);
  EXPECT_EQ(HotspotOf(*begin).data.size(), begin->U16(12));
}

TEST_F(ComposeDoc, ButtonShowsItsLabelInTheButtonRecord) {
  ASSERT_EQ(chunk->AppendHotspot("Button KvScript", "MsgBox 1", 8, "", "Press me", 8), 0);
  auto check = [](const std::vector<Rec>& records) {
    const Rec* begin = Find(records, 0xFFA9);
    ASSERT_NE(begin, nullptr);
    Hotspot h = HotspotOf(*begin);
    EXPECT_EQ(h.type, 3);
    EXPECT_EQ(h.flags & 0x100, 0x100u);
    EXPECT_NE(h.data.find("Sub Click(Source As Button)\nMsgBox 1\nEnd Sub"), std::string::npos);
    EXPECT_EQ(h.data.rfind("'++KvScript Development Environment:2:5:(Options):0:66\n", 0), 0u);
    const Rec* button = Find(records, 0xFFAB);
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->Text(16, button->data.size()), "Press me");
  };
  check(Records());
  std::string page;
  check(Reloaded(&page));
  EXPECT_TRUE(WellFormed(page));
  EXPECT_NE(page.find(">Press me</button>"), std::string::npos) << page;
}

TEST_F(ComposeDoc, PopupKeepsItsPopupText) {
  ASSERT_EQ(chunk->AppendHotspot("Popup Text", "More about it", 13, "", "Hover", 5), 0);
  std::string page;
  const std::vector<Rec> records = Reloaded(&page);
  const Rec* begin = Find(records, 0xFFA9);
  ASSERT_NE(begin, nullptr);
  Hotspot h = HotspotOf(*begin);
  EXPECT_EQ(h.type, 1);
  EXPECT_EQ(h.flags & 0x10, 0u);
  EXPECT_EQ(h.data.substr(0, 13), "More about it");
  EXPECT_TRUE(WellFormed(page));
  EXPECT_NE(page.find("title=\"More about it\""), std::string::npos) << page;
  EXPECT_NE(page.find("Hover</acronym>"), std::string::npos) << page;
}

TEST_F(ComposeDoc, JavaScriptActionTravelsAsAClickEvent) {
  const char* code = "alert('hi & bye')";
  ASSERT_EQ(chunk->AppendHotspot("Action JavaScript", code, uint16_t(std::strlen(code)), "",
                                 "Greet", 5),
            0);
  std::string page;
  const std::vector<Rec> records = Reloaded(&page);
  const Rec* begin = Find(records, 0xFFA9);
  ASSERT_NE(begin, nullptr);
  EXPECT_EQ(HotspotOf(*begin).flags & 0x200000, 0x200000u);
  const Rec* event = Find(records, 0xFFF9);
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(event->U16(8), 1);  // OnClick
  EXPECT_EQ(event->U16(10), 4);  // JavaScript
  EXPECT_EQ(event->U32(12), std::strlen(code));
  const Rec* blob = Find(records, 0xFFDC);
  ASSERT_NE(blob, nullptr);
  EXPECT_EQ(blob->Text(18, blob->U16(6)), code);
  EXPECT_TRUE(WellFormed(page));
  // Pages are written with scripted actions disabled: the label stays, with
  // the note that names the action's language.
  EXPECT_NE(page.find("Greet (disabled JavaScript script)"), std::string::npos) << page;
}

TEST_F(ComposeDoc, EmptyLabelIsActionHotspot) {
  ASSERT_EQ(chunk->AppendHotspot("Action Formula", "@Now", 4, "", nullptr, 0), 0);
  bool found = false;
  for (const Rec& r : Records()) found |= r.sig == 0xFF85 && r.Text(8, 64) == "Action Hotspot";
  EXPECT_TRUE(found);
}

// The options are the hotspot's HTML attributes (after its begin): read back
// by GetHTMLValue, and on the page where the renderer writes them (a wiki
// link's class and title). Code lengths past the text read nothing beyond it.
TEST_F(ComposeDoc, HotspotOptionsBecomeItsAttributesAndCodeStaysInItsText) {
  ASSERT_EQ(chunk->AppendHotspot("Action Formula", "@Now", 4,
                                 "HotspotHTMLClass='WikiLink' HotspotHTMLTitle='Home Page' "
                                 "HotspotStyle='color:red'",
                                 "Home", 4),
            0);
  ASSERT_EQ(chunk->AppendHotspot("Button JavaScript", "alert(1)", 200, "", "Go", 2), 0);
  ASSERT_EQ(chunk->AppendHotspot("Action KvScript", "Beep", 300, "", "Ring", 4), 0);
  std::string page;
  const std::vector<Rec> records = Reloaded(&page, "WikiURLPrefix=//wiki.example/w?page=");
  ASSERT_EQ(Count(records, 0xFF7A), 1);
  const Rec* attributes = Find(records, 0xFF7A);
  EXPECT_EQ((attributes - 1)->sig, 0xFFA9);
  EXPECT_EQ(attributes->Text(26, 30), "WikiLinkcolor:redHome Page");
  const Rec* script = Find(records, 0xFFDC);
  EXPECT_EQ(script->Text(18, script->U16(6)), "alert(1)");
  const std::string module = HotspotOf(*Find(records, 0xFFA9, 2)).data;
  EXPECT_EQ(module.substr(module.size() - 13), "\nBeep\nEnd Sub");
  TorvoRTChunk* action = item->DefineChunk("Hotspot 1");
  EXPECT_STREQ(action->GetHTMLValue("STYLE", nullptr), "color:red");
  EXPECT_STREQ(action->GetHTMLValue("TITLE", nullptr), "Home Page");
  delete action;
  EXPECT_TRUE(WellFormed(page));
  EXPECT_NE(page.find("<a href=\"http://wiki.example/w?page=Home+Page\" class=\"WikiLink\""),
            std::string::npos)
      << page;
}

// Every kind of hotspot AppendHotspot makes shows its attribute options,
// escaped, on the element it renders as: a button, a popup's acronym (whose
// title stays the popup text), a span around an action's content (its
// scripts shown disabled) or a computed text's.
TEST_F(ComposeDoc, HotspotAttributesShowOnTheElementEachKindRendersAs) {
  const char* kinds[][4] = {{"Button JavaScript", "alert(1)", "button", ""},
                            {"Action Formula", "@Now", "span", ""},
                            {"Action JavaScript", "go()", "span", ""},
                            {"Popup Text", "tip", "acronym", "tip"},
                            {"Mouseover Text", "over", "acronym", "over"},
                            {"ComputedText", "\"ct\"", "span", ""}};
  for (const auto& k : kinds) {
    const std::string options = std::string("HotspotHTMLClass='") + k[0] +
                                "' HotspotHTMLTitle='t\"<' HotspotStyle='color:red' "
                                "HotspotHTMLID='i&'";
    ASSERT_EQ(chunk->AppendHotspot(k[0], k[1], 200, options.c_str(), "Go", 2), 0) << k[0];
  }
  std::string page;
  Reloaded(&page);
  std::map<std::string, kvtest::PageElement> byClass;
  for (const kvtest::PageElement& e : kvtest::PageElements(page)) byClass[e.Attribute("class")] = e;
  for (const auto& k : kinds) {
    const kvtest::PageElement& e = byClass[k[0]];
    EXPECT_EQ(e.name + " " + e.Attribute("id") + " " + e.Attribute("title"),
              k[2] + std::string(" i& ") + (*k[3] ? k[3] : "t\"<"))
        << k[0] << ": " << page;
    EXPECT_TRUE(e.Attribute("style").ends_with("color:red")) << k[0];
  }
}

// ---- links (AppendLink, 2353) ----------------------------------------------------

TEST_F(ComposeDoc, UrlWithQueryIsAUrlLinkNotAnOptionString) {
  const char* url = "http://example.com/x?a=1&b=2";
  ASSERT_EQ(chunk->AppendLink(nullptr, 0, url, "Example", nullptr, nullptr, 0, nullptr, 0,
                              nullptr, 0),
            0);
  EXPECT_EQ(chunk->lastStatus, 0);
  auto check = [&](const std::vector<Rec>& records) {
    EXPECT_EQ(Find(records, 0xFF92), nullptr);
    const Rec* link = Find(records, 0xFFAD);
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->Text(16, std::strlen(url)), url);
    EXPECT_TRUE(Balanced(records));
  };
  check(Records());
  std::string page;
  check(Reloaded(&page));
  EXPECT_TRUE(WellFormed(page));
  EXPECT_NE(page.find("href=\"http://example.com/x?a=1&amp;b=2\""), std::string::npos) << page;
  EXPECT_NE(page.find(">Example</"), std::string::npos) << page;
  EXPECT_EQ(page.find("doclink"), std::string::npos);
}

TEST_F(ComposeDoc, OptionStringTargetStillNamesItsParts) {
  ASSERT_EQ(chunk->AppendLink(nullptr, 0, "URL='http://example.com/?q=a b' Text='Search'",
                              nullptr, nullptr, nullptr, 0, nullptr, 0, nullptr, 0),
            0);
  std::string page;
  const std::vector<Rec> records = Reloaded(&page);
  const Rec* link = Find(records, 0xFFAD);
  ASSERT_NE(link, nullptr);
  EXPECT_EQ(link->Text(16, 25), "http://example.com/?q=a b");
  EXPECT_NE(page.find(">Search</"), std::string::npos) << page;
}

// An option string that names no URL, database, view or document links
// nowhere: refused, and the item keeps its records.
TEST_F(ComposeDoc, OptionStringNamingNoTargetIsRefused) {
  const std::vector<Rec> before = Records();
  for (const char* target : {"x=y", "Text='Somewhere' Server='Hub/Acme'"}) {
    EXPECT_EQ(chunk->AppendLink(nullptr, 0, target, "shown", nullptr, nullptr, 0, nullptr, 0,
                                nullptr, 0),
              NN_ERR_INVALID_ARG);
    EXPECT_EQ(Records().size(), before.size());
    EXPECT_EQ(Records().back().data, before.back().data);
  }
}

TEST_F(ComposeDoc, DocLinkFromOptionsCarriesItsIdentifiers) {
  const char* target =
      "ReplicaID=0123456789ABCDEF NoteID=00112233445566778899AABBCCDDEEFF Text='To the note'";
  ASSERT_EQ(chunk->AppendLink(nullptr, 0, target, nullptr, nullptr, nullptr, 0, nullptr, 0,
                              nullptr, 0),
            0);
  std::string page;
  const std::vector<Rec> records = Reloaded(&page);
  const Rec* link = Find(records, 0xFF92);
  ASSERT_NE(link, nullptr);
  // The replica identifier: its high word first in the text.
  EXPECT_EQ(link->U32(8), 0x01234567u);
  EXPECT_EQ(link->U32(4), 0x89ABCDEFu);
  EXPECT_EQ(link->U32(32), 0x00112233u);
  EXPECT_EQ(link->Text(44, 11), "To the note");
  EXPECT_TRUE(WellFormed(page));
  EXPECT_NE(page.find("0123456789ABCDEF"), std::string::npos) << page;
}

// ---- fields (2411, 2416) ------------------------------------------------------------

// The field's name: after the fixed 40 bytes and the formulas before it.
std::string FieldName(const Rec& r) {
  const size_t at = 40 + r.U16(24) + r.U16(26) + r.U16(30);
  return r.Text(at, r.U16(32));
}

TEST_F(ComposeDoc, ComposedFieldHasItsName) {
  chunk->AlterRichText(2411, 0, 0, 0, 0, "Name=Amount Type=Number", nullptr, nullptr, nullptr);
  EXPECT_EQ(chunk->lastStatus, 0);
  auto check = [](const std::vector<Rec>& records) {
    const Rec* field = Find(records, 0xFF8A);
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(FieldName(*field), "Amount");
    EXPECT_EQ(field->U16(34), 0);  // no description
    EXPECT_EQ(field->U16(6), 768);  // number
  };
  check(Records());
  std::string page;
  check(Reloaded(&page));
  EXPECT_TRUE(WellFormed(page));
  EXPECT_NE(page.find("<span class=\"field\" title=\"Amount\">Amount</span>"), std::string::npos)
      << page;
}

TEST_F(ComposeDoc, ModifyRenamesTheFieldAndKeepsTheRest) {
  chunk->AlterRichText(2411, 0, 0, 0, 0, "Name=Amount Type=Number", nullptr, nullptr, nullptr);
  ASSERT_EQ(chunk->lastStatus, 0);
  const std::vector<Rec> before = Records();
  chunk->AlterRichText(2416, 0, 0, 0, 0, "Amount", "Name=Total", nullptr, nullptr);
  EXPECT_EQ(chunk->lastStatus, 0);
  std::string page;
  const std::vector<Rec> after = Reloaded(&page);
  ASSERT_EQ(after.size(), before.size());
  for (size_t i = 0; i < after.size(); ++i) {
    if (after[i].sig == 0xFF8A) {
      EXPECT_EQ(FieldName(after[i]), "Total");
      EXPECT_EQ(after[i].U16(6), 768);
      EXPECT_EQ(after[i].U16(2), before[i].U16(2) - 1);
    } else {
      EXPECT_EQ(after[i].data, before[i].data) << "record " << i;
    }
  }
  EXPECT_NE(page.find("title=\"Total\""), std::string::npos) << page;
  // A name that matches no field changes nothing.
  chunk->AlterRichText(2416, 0, 0, 0, 0, "Nothing", "Name=Other", nullptr, nullptr);
  EXPECT_EQ(chunk->lastStatus, 0);
  const std::vector<Rec> unchanged = Records();
  ASSERT_NE(Find(unchanged, 0xFF8A), nullptr);
  EXPECT_EQ(FieldName(*Find(unchanged, 0xFF8A)), "Total");
}

TEST_F(ComposeDoc, BusyFieldBlocksAreLeftAlone) {
  chunk->AlterRichText(2411, 0, 0, 0, 0, "Name=Amount", nullptr, nullptr, nullptr);
  ASSERT_EQ(chunk->lastStatus, 0);
  chunk->internal->fieldBusy = 1;
  chunk->AlterRichText(2416, 0, 0, 0, 0, "Amount", "Name=Total", nullptr, nullptr);
  const std::vector<Rec> records = Records();
  ASSERT_NE(Find(records, 0xFF8A), nullptr);
  EXPECT_EQ(FieldName(*Find(records, 0xFF8A)), "Amount");
  chunk->internal->fieldBusy = 0;
}

// ---- layers (AppendLayer, 2442) -----------------------------------------------------

TEST_F(ComposeDoc, LayerStoresItsSizeAsWidthAndHeight) {
  ASSERT_EQ(chunk->AppendLayer("10px", "20px", "150px", "300px", 0, "Inside the layer", "", nullptr,
                               0),
            0);
  auto check = [](const std::vector<Rec>& records) {
    const Rec* place = Find(records, 107);
    const Rec* size = Find(records, 106);
    ASSERT_NE(place, nullptr);
    ASSERT_NE(size, nullptr);
    EXPECT_DOUBLE_EQ(place->F64(16), 10.0);  // top
    EXPECT_DOUBLE_EQ(place->F64(40), 20.0);  // left
    EXPECT_DOUBLE_EQ(size->F64(16), 300.0);  // width
    EXPECT_EQ(size->data[24], 2);            // pixels
    EXPECT_DOUBLE_EQ(size->F64(40), 150.0);  // height
    EXPECT_DOUBLE_EQ(place->F64(64), 0.0);   // nothing left in bottom and right
    EXPECT_DOUBLE_EQ(place->F64(88), 0.0);
    EXPECT_TRUE(Balanced(records));
  };
  // It lists its size; HTML attributes set on it, which has none of its own,
  // go inside its group ahead of its first paragraph, onto its division.
  TorvoRTChunk* layer = item->DefineChunk("Layer 1");
  layer->AlterRichText(2437, LAYER, 0, 0, 0, "LayerHTMLID=kv LayerHTMLClass=c", nullptr, nullptr,
                       nullptr);
  ASSERT_EQ(layer->lastStatus, 0);
  EXPECT_EQ(std::string(layer->GetTargetProperties("Layer", "")),
            "ZIndex=0 Scheme=absolute BrowserLeftOffset=0 BrowserRightOffset=0 Top='10px' "
            "Left='20px' Width='300px' Height='150px' LayerHTMLId='kv' LayerHTMLClass='c' ");
  check(Records());
  std::string page;
  check(Reloaded(&page));
  EXPECT_TRUE(WellFormed(page));
  EXPECT_NE(page.find("<div id=\"kv\" class=\"c\" style=\"position: absolute; top: 10px; left: "
                      "20px; z-index: 0; width: 300px; height: 150px;"),
            std::string::npos)
      << page;
  EXPECT_NE(page.find("top: 10px; left: 20px;"), std::string::npos) << page;
  EXPECT_NE(page.find("Inside the layer"), std::string::npos);
}

// ---- image hotspots (SetImageHotspot, 2447) ---------------------------------------

const char kGif[] = "R0lGODlhAQABAIAAAP///wAAACH5BAEAAAAALAAAAAABAAEAAAICRAEAOw==";

TEST_F(ComposeDoc, ImageHotspotCarriesItsScriptAndFrame) {
  const std::string html = std::string("<p><img src=\"data:image/gif;base64,") + kGif + "\"></p>";
  ASSERT_EQ(chunk->AppendHTML("IN", html.c_str(), ""), 0);
  TorvoRTChunk* image = item->DefineChunk("Graphic 1");
  ASSERT_NE(image, nullptr);
  ASSERT_EQ(image->SetImageHotspot("JavaScript", "go('a')", 7, "", "_blank", 0), 0);
  std::string page;
  const std::vector<Rec> records = Reloaded(&page);
  const Rec* begin = Find(records, 0xFFA9);
  ASSERT_NE(begin, nullptr);
  EXPECT_EQ(HotspotOf(*begin).type, 2);
  EXPECT_EQ(HotspotOf(*begin).flags & 0x200000, 0x200000u);
  const Rec* event = Find(records, 0xFFF9);
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(event->U16(10), 4);
  EXPECT_EQ(event->U32(12), 7u);
  const Rec* blob = Find(records, 0xFFDC);
  ASSERT_NE(blob, nullptr);
  EXPECT_EQ(blob->Text(18, blob->U16(6)), "go('a')");
  const Rec* frame = Find(records, 0xFFF2);
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(frame->Text(12, frame->U16(4)), "_blank");
  EXPECT_TRUE(composetest::Balanced(records));
  EXPECT_TRUE(WellFormed(page));
  EXPECT_NE(page.find("<img"), std::string::npos) << page;
}

TEST_F(ComposeDoc, ImageHotspotFormulaWithTheDefaultFrame) {
  const std::string html = std::string("<p><img src=\"data:image/gif;base64,") + kGif + "\"></p>";
  ASSERT_EQ(chunk->AppendHTML("IN", html.c_str(), ""), 0);
  TorvoRTChunk* image = item->DefineChunk("Graphic 1");
  ASSERT_NE(image, nullptr);
  ASSERT_EQ(image->SetImageHotspot("Formula", "@Now", 4, "", nullptr, 0), 0);
  const std::vector<Rec> records = Records();
  const Rec* begin = Find(records, 0xFFA9);
  ASSERT_NE(begin, nullptr);
  EXPECT_EQ(HotspotOf(*begin).flags & 0x10, 0x10u);
  EXPECT_GT(begin->U16(12), 0);
  EXPECT_EQ(Find(records, 0xFFF2), nullptr);  // "Default": no frame record
}

// ---- rules (2424) ---------------------------------------------------------------------

TEST_F(ComposeDoc, RuleFromOptionsAndTheWholeLineRule) {
  chunk->AlterRichText(2424, 1, 0, 0, 0, nullptr, "Width=2880 Height=45", nullptr, nullptr);
  ASSERT_EQ(chunk->lastStatus, 0);
  chunk->AlterRichText(2424, 1, 0, 0, 0, nullptr, "", nullptr, nullptr);
  ASSERT_EQ(chunk->lastStatus, 0);
  std::string page;
  const std::vector<Rec> records = Reloaded(&page);
  const Rec* fixed = Find(records, 0xFFC9, 0);
  const Rec* whole = Find(records, 0xFFC9, 1);
  ASSERT_NE(fixed, nullptr);
  ASSERT_NE(whole, nullptr);
  // The two rules are told apart by their width, whichever comes first.
  const Rec* a = fixed->U16(8) == 2880 ? fixed : whole;
  const Rec* b = a == fixed ? whole : fixed;
  EXPECT_EQ(a->U16(8), 2880);
  EXPECT_EQ(a->U16(10), 45);
  EXPECT_EQ(a->U32(4) & 0x4, 0u);  // twips, not a percentage
  EXPECT_EQ(b->U16(8), 100);
  EXPECT_EQ(b->U32(4) & 0x4, 0x4u);
  EXPECT_TRUE(WellFormed(page));
  EXPECT_NE(page.find("width: 100%;"), std::string::npos) << page;
  EXPECT_NE(page.find("width: 192px;height: 3px;"), std::string::npos) << page;
}

// ---- links around an element (2387) -----------------------------------------------

TEST_F(ComposeDoc, BareAddressWithAQueryLinksTheImage) {
  const std::string html = std::string("<p><img src=\"data:image/gif;base64,") + kGif + "\"></p>";
  ASSERT_EQ(chunk->AppendHTML("IN", html.c_str(), ""), 0);
  TorvoRTChunk* image = item->DefineChunk("Graphic 1");
  ASSERT_NE(image, nullptr);
  image->AlterRichText(2387, 0, 0, 0, 0, "http://example.com/?q=1&r=2", nullptr, nullptr, nullptr);
  ASSERT_EQ(image->lastStatus, 0);
  std::string page;
  const std::vector<Rec> records = Reloaded(&page);
  const Rec* link = Find(records, 0xFFAD);
  ASSERT_NE(link, nullptr);
  EXPECT_EQ(link->Text(16, 27), "http://example.com/?q=1&r=2");
  EXPECT_TRUE(composetest::Balanced(records));
  EXPECT_TRUE(WellFormed(page));
  EXPECT_NE(page.find("<a href=\"http://example.com/?q=1&amp;r=2\"><img"), std::string::npos)
      << page;
}

}  // namespace
