// Link data (2362), element properties (2437) and the field switches (71,
// 72), as the stored item shows them.
#include <cstring>
#include <string>
#include <vector>

#include "engine_fixture.h"
#include "richtext/engine/properties.h"
#include "richtext/item/itemhelpers.h"

namespace enginetest {
namespace {

using LinkOps = EngineDoc;

Bytes Ids(uint8_t seed) {
  Bytes b(40);
  for (size_t i = 0; i < b.size(); ++i) b[i] = uint8_t(seed + i);
  return b;
}
// The strings after a link's identifiers: display comment, server hint and
// the optional anchor.
Bytes Strings(const std::string& comment, const std::string& server, const std::string& anchor) {
  Bytes b(comment.begin(), comment.end());
  b.push_back(0);
  b.insert(b.end(), server.begin(), server.end());
  b.push_back(0);
  if (!anchor.empty()) {
    b.insert(b.end(), anchor.begin(), anchor.end());
    b.push_back(0);
  }
  return b;
}
Bytes Link92(const Bytes& ids, const Bytes& strings) {
  Bytes b;
  Put16(b, 0xFF92);
  Put16(b, uint16_t(44 + strings.size()));
  b.insert(b.end(), ids.begin(), ids.end());
  b.insert(b.end(), strings.begin(), strings.end());
  return b;
}
Bytes Link91(uint16_t index, const Bytes& strings) {
  Bytes b;
  Put16(b, 0xFF91);
  Put16(b, uint16_t(6 + strings.size()));
  Put16(b, index);
  b.insert(b.end(), strings.begin(), strings.end());
  return b;
}

TEST_F(LinkOps, LegacyLinkBecomesADocumentLinkWithItsBeginAndEnd) {
  Bytes table;
  Put16(table, 1);
  Bytes ids = Ids(1);
  table.insert(table.end(), ids.begin(), ids.end());
  ASSERT_EQ(NnItemAppend(note, 0, "$Links", 6, kTypeLinkTable, table.data(),
                         uint32_t(table.size())),
            NN_OK);
  Make({Text("a"), Begin(0xFF91), Link91(0, Strings("srv", "anchor", "")), End(0xFF91)});
  ASSERT_EQ(Run(2362, PROPC_LINK_NOTE, 32, std::string(32, '7').c_str()), 0);
  Bytes expectIds = ids;
  std::memset(expectIds.data() + 24, 0x77, 16);
  Bytes link = Link92(expectIds, Strings("srv", "anchor", ""));
  EXPECT_EQ(link.size(), 46u + 3 + 6);  // no anchor: no third NUL
  EXPECT_EQ(Stored(), Join({Text("a"), Begin(0xFF92), link, End(0xFF92)}));
}

TEST_F(LinkOps, AnchorAddsItsNulAndOnlyTheIdentifierOfTheCallChanges) {
  Bytes ids = Ids(9);
  Make({Link92(ids, Strings("", "a", "pop"))});
  // Identifiers an earlier link composition asked for do not carry over.
  LinkChangeBlock& lc = session->globals->linkChange;
  std::memset(&lc.noteId, 0x55, sizeof lc.noteId);
  lc.noteSet = 'Y';
  ASSERT_EQ(Run(2362, PROPC_LINK_REPLICA, 16, std::string(16, '1').c_str()), 0);
  Bytes expectIds = ids;
  std::memset(expectIds.data(), 0x11, 8);
  Bytes link = Link92(expectIds, Strings("", "a", "pop"));
  EXPECT_EQ(link.size(), 46u + 0 + 1 + 3 + 1);
  EXPECT_EQ(Stored(), Join({link}));
}

// A legacy link whose identifiers cannot be found keeps its record, and the
// change it could not take fails.
TEST_F(LinkOps, UnresolvableLegacyLinkPassesAndTheChangeFails) {
  std::vector<Bytes> recs = {Link91(3, Strings("s", "a", ""))};
  Make(recs);
  EXPECT_EQ(Run(2362, PROPC_LINK_REPLICA, 16, "0123456789abcdef"), NN_ERR_INVALID_ARG);
  EXPECT_EQ(Stored(), Join(recs));
}

Bytes Graphic() {
  Bytes b;
  Put16(b, 0x0099);
  Put32(b, 28);
  b.resize(28, 0);
  return b;
}
Bytes Caption(const std::string& text, uint8_t position) {
  Bytes b;
  Put16(b, 0xFF76);
  Put16(b, uint16_t(28 + text.size()));
  Put16(b, uint16_t(text.size()));
  b.push_back(position);
  b.resize(28, 0);
  b.insert(b.end(), text.begin(), text.end());
  return b;
}
// The first stored record of that word signature, from its header on.
Bytes FindRecord(const Bytes& stored, uint16_t sig) {
  for (size_t i = 0; i + 4 <= stored.size();) {
    uint16_t w = uint16_t(stored[i] | stored[i + 1] << 8);
    size_t len;
    if ((w >> 8) == 0xFF) {
      len = size_t(stored[i + 2] | stored[i + 3] << 8);
    } else if ((w >> 8) == 0) {
      if (i + 6 > stored.size()) break;
      len = size_t(stored[i + 2] | stored[i + 3] << 8 | stored[i + 4] << 16 | stored[i + 5] << 24);
    } else {
      len = stored[i + 1];
    }
    if (len < 2 || i + len > stored.size()) break;
    if (w == sig) return Bytes(stored.begin() + long(i), stored.begin() + long(i + len));
    i += len + (len & 1);
  }
  return {};
}

TEST_F(LinkOps, CaptionPositionCenterInAnyCaseAndTopChangesNothing) {
  Make({Para(), Graphic(), Caption("cap", 0), Text("after")},
       Chain({Node(REL_CONTAINS, GRAPHIC, {1})}));
  ASSERT_EQ(Run(2437, GRAPHIC, 0, "CaptionPosition=CENTER"), 0);
  Bytes cap = FindRecord(Stored(), 0xFF76);
  ASSERT_GE(cap.size(), 31u);
  EXPECT_EQ(cap[6], 1);
  EXPECT_EQ(std::string(cap.begin() + 28, cap.end()), "cap");

  ASSERT_EQ(Run(2437, GRAPHIC, 0, "CaptionPosition=Top Caption=new"), 0);
  cap = FindRecord(Stored(), 0xFF76);
  ASSERT_GE(cap.size(), 31u);
  EXPECT_EQ(cap[6], 1);
  EXPECT_EQ(std::string(cap.begin() + 28, cap.end()), "new");
  EXPECT_EQ(cap[4], 3);
}

Bytes Layer() {
  Bytes b{0x6C, 18};
  b.resize(18, 0);
  return b;
}
Bytes Position(uint8_t scheme) {
  Bytes b{107, 72, scheme};
  b.resize(72, 0);
  return b;
}

TEST_F(LinkOps, LayerSchemeTakesExactWords) {
  Make({Begin(108), Layer(), Position(0), Text("in"), End(108)},
       Chain({Node(REL_CONTAINS, LAYER, {1})}));
  ASSERT_EQ(Run(2437, LAYER, 0, "Scheme=Fixed ZIndex=7"), 0);
  Bytes stored = Stored();
  ASSERT_GT(stored.size(), 6u + 18u + 8u);
  const uint8_t* pos = stored.data() + 6 + 18;
  ASSERT_EQ(pos[0], 107);
  EXPECT_EQ(pos[2], 3);
  EXPECT_EQ(pos[4], 7);
  // A word that names no scheme is refused; the layer keeps its own.
  EXPECT_EQ(Run(2437, LAYER, 0, "Scheme=float"), NN_ERR_INVALID_ARG);
  EXPECT_EQ(Stored(), stored);
}

Bytes Target(const std::string& t) { return HeadAndText(0xFFF2, t); }

TEST_F(LinkOps, UrlLinkGainsOrChangesItsTarget) {
  Bytes link = Hotspot(0xFFAD, 11, 0x1000, "http://x");
  Make({Text("a"), link, Text("site"), HotspotEnd(174)},
       Chain({Node(REL_CONTAINS, URLLink, {1})}));
  ASSERT_EQ(Run(2437, URLLink, 0, "Target=_blank"), 0);
  EXPECT_EQ(Stored(), Join({Text("a"), link, Target("_blank"), Text("site"), HotspotEnd(174)}));
  ASSERT_EQ(Run(2437, URLLink, 0, "Target=_top"), 0);
  EXPECT_EQ(Stored(), Join({Text("a"), link, Target("_top"), Text("site"), HotspotEnd(174)}));
}

// A field record (canonical) with a data type and a name.
Bytes Field(const std::string& name, uint16_t dataType) {
  Bytes b;
  Put16(b, 0xFF8A);
  Put16(b, uint16_t(36 + name.size()));
  Put16(b, 0);
  Put16(b, dataType);
  b.resize(30, 0);
  Put16(b, uint16_t(name.size()));
  Put16(b, 0);
  Put16(b, 0);
  b.insert(b.end(), name.begin(), name.end());
  return b;
}
Bytes FieldExt(uint32_t flags2) {
  Bytes b;
  Put16(b, 0xFFB0);
  Put16(b, 20);
  Put32(b, 0);
  Put32(b, flags2);
  b.resize(20, 0);
  return b;
}

TEST_F(LinkOps, NotSaveAsMimeNeedsTheExactLengthAndType) {
  Make({Field("Body", 25), Field("Bodyx", 25), Field("Other", 1)});
  ASSERT_EQ(Run(72, 4, 0, "BODY"), 0);
  EXPECT_EQ(Stored(), Join({Field("Body", 1), Field("Bodyx", 25), Field("Other", 1)}));
}

TEST_F(LinkOps, SwitchToHtmlEditorRenamesTheMarkedField) {
  Make({FieldExt(0x10040), Field("Body", 1), FieldExt(0), Field("Plain", 1)});
  ASSERT_EQ(Run(71, 1), 0);
  EXPECT_EQ(Stored(), Join({FieldExt(0), Field("Body_WK", 1), FieldExt(0), Field("Plain", 1)}));
  EXPECT_STREQ(session->PropertyText, "Body_WK");
  char list[256] = {};
  NnItemConvertToText(note, "$Fields", list, sizeof list, ';');
  EXPECT_NE(std::strstr(list, "Body_WK"), nullptr);
}

}  // namespace
}  // namespace enginetest
