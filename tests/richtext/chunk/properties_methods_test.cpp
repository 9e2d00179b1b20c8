// The chunk's property methods, queries and events through the public
// classes: a session, an in-memory note, an item bound to it and chunks.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "lsxsessi.h"
#include "navigation_fixture.h"
#include "nn/nn.h"
#include "rtchunk.h"
#include "rtitem.h"

namespace {

using navtest::ByteRec;
using navtest::Para;
using navtest::PabRef;
using navtest::Stream;
using navtest::U16;
using navtest::WordRec;

std::string Hotspot(uint16_t kind, uint32_t flags, const std::string& data) {
  std::string p = U16(kind) + U16(uint16_t(flags)) + U16(uint16_t(flags >> 16)) +
                  U16(uint16_t(data.size())) + data;
  return WordRec(0xFFA9, p);
}
std::string HotspotEnd() { return ByteRec(0xAE); }
std::string Bar(const std::string& title) {
  return WordRec(0xFFAC, std::string(4, '\0') + navtest::Font(1, 10) + title + '\0');
}
std::string Cell(uint8_t row, uint8_t col, uint8_t border) {
  std::string b{char(row), char(col)};
  b += U16(0) + U16(0) + U16(0x4000) + std::string{char(border), 0} + U16(0) +
       std::string{1, 1} + U16(0);
  return ByteRec(0xA4, b);
}

struct Messages {
  std::vector<std::string> lines;
  static void Proc(void* self, const char* text) {
    static_cast<Messages*>(self)->lines.push_back(text);
  }
};

class ChunkProps : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    session = new LSXLsiSession();
    ASSERT_TRUE(session->IsValid());
    session->SetMessageProc(&Messages::Proc, &messages);
    std::string path = "mem-chunkprops-" + std::to_string(++counter) + ".nsf";
    ASSERT_EQ(NnDbOpen(path.c_str(), NN_DB_CREATE, &db), NN_OK);
    ASSERT_EQ(NnNoteCreate(db, NN_CLASS_DOCUMENT, &note), NN_OK);
  }
  void TearDown() override {
    delete session;
    if (note) NnNoteClose(note);
    if (db) NnDbClose(db);
  }
  TorvoRTChunk* Make(const std::vector<std::string>& records, const char* definition = "") {
    std::string body = Stream(records);
    EXPECT_EQ(NnItemAppend(note, 0, "Body", 4, NN_TYPE_COMPOSITE, body.data(),
                           uint32_t(body.size())),
              NN_OK);
    item = new TorvoRTItem(session);
    EXPECT_EQ(item->ConnectBackend(db, note, "Body"), NN_OK);
    return item->DefineChunk(definition);
  }
  std::string Text(TorvoRTChunk* c, const char* name) {
    char buffer[512];
    uint16_t n = c->GetPropertyText(name, buffer, sizeof buffer);
    EXPECT_EQ(n, std::strlen(buffer));
    return buffer;
  }

  LSXLsiSession* session = nullptr;
  Messages messages;
  NnHandle db = 0, note = 0;
  TorvoRTItem* item = nullptr;
};

TEST_F(ChunkProps, SearchOptionsLiveInTheChunk) {
  TorvoRTChunk* c = Make({Para(), navtest::Text("x")});
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->GetPropertyNumber("casesensitive"), 0);
  EXPECT_EQ(c->GetPropertyNumber("AccentSensitive"), 1);
  EXPECT_EQ(c->SetPropertyNumber("CaseSensitive", 1), 1);
  EXPECT_EQ(c->GetPropertyNumber("CASESENSITIVE"), 1);
  EXPECT_EQ(Text(c, "CaseSensitive"), "1.000000");
  // Options are numbers only.
  EXPECT_EQ(c->SetPropertyText("CaseSensitive", "1", 0), 0);
  EXPECT_TRUE(messages.lines.empty());
}

TEST_F(ChunkProps, UnknownNamesGiveNothingAndLogNothing) {
  TorvoRTChunk* c = Make({navtest::Text("x")});
  char buffer[16] = "junk";
  EXPECT_EQ(c->GetPropertyText("NoSuchProperty", buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(c->GetPropertyNumber(nullptr), 0);
  EXPECT_EQ(c->SetPropertyNumber("NoSuchProperty", 1), 0);
  EXPECT_EQ(c->SetPropertyText("NoSuchProperty", "v", 1), 0);
  EXPECT_TRUE(messages.lines.empty());
}

TEST_F(ChunkProps, RefusedWritesAreLogged) {
  TorvoRTChunk* c = Make({navtest::Text("x")});
  EXPECT_EQ(c->SetPropertyNumber("FileName", 1), 0);
  ASSERT_EQ(messages.lines.size(), 1u);
  EXPECT_EQ(messages.lines[0], "Zelko: Unable to set read-only property 'FileName'");
  EXPECT_EQ(c->SetPropertyText("HotspotBorder", "1", 1), 0);
  ASSERT_EQ(messages.lines.size(), 2u);
  EXPECT_EQ(messages.lines[1], "Zelko: No handler enabled to set property 'HotspotBorder'");
}

TEST_F(ChunkProps, SectionTitleThroughAnOptionString) {
  TorvoRTChunk* c = Make({Bar("Old"), Para(), navtest::Text("body")});
  EXPECT_EQ(Text(c, "SectionTitle"), "Old");
  EXPECT_EQ(c->SetPropertyText("SectionTitle=Intro", nullptr, 0), 1);
  EXPECT_EQ(Text(c, "SectionTitle"), "Intro");
  EXPECT_EQ(c->SetPropertyText("no equals sign", nullptr, 0), 0);
  EXPECT_EQ(c->SetPropertyText("Unknown=1", nullptr, 0), 0);
}

TEST_F(ChunkProps, TextAndStatistics) {
  TorvoRTChunk* c = Make({Para(), PabRef(1), navtest::Text("a-b  c")});
  EXPECT_EQ(Text(c, "Text"), "a-b  c");
  EXPECT_EQ(c->GetPropertyNumber("Words"), 3);
  EXPECT_EQ(c->GetPropertyNumber("BytesOfText"), 6);
  EXPECT_EQ(c->GetRichTextStat(2), 6);
  EXPECT_EQ(Text(c, "Chars"), "6");
  EXPECT_EQ(c->GetPropertyNumber("Exists"), 1);
  EXPECT_EQ(c->GetPropertyNumber("ContainsText"), 1);
  EXPECT_EQ(Text(c, "Definition"), "Everything");
  char small[4];
  EXPECT_EQ(c->GetPropertyText("Text", small, sizeof small), 3);
  EXPECT_STREQ(small, "a-b");
}

TEST_F(ChunkProps, ActionFormulaRoundTripsAsText) {
  TorvoRTChunk* c = Make({Hotspot(3, 0, ""), navtest::Text("Go"), HotspotEnd()});
  EXPECT_EQ(c->SetPropertyText("ActionFormula", "@Command([FileSave]; \"x\")", 0), 1);
  EXPECT_EQ(Text(c, "ActionFormula"), "@Command([FileSave]; \"x\")");
  // A formula that does not compile is refused and logged.
  EXPECT_EQ(c->SetPropertyText("ActionFormula", "@If(", 0), 0);
  ASSERT_EQ(messages.lines.size(), 1u);
  EXPECT_EQ(messages.lines[0].rfind("Zelko: ", 0), 0u);
  EXPECT_EQ(Text(c, "ActionFormula"), "@Command([FileSave]; \"x\")");
}

TEST_F(ChunkProps, HideFormulaTravelsCompiled) {
  TorvoRTChunk* c = Make({navtest::PabDef(1), Para(), PabRef(1), navtest::Text("x")});
  EXPECT_EQ(Text(c, "HideFormula"), "");
  EXPECT_EQ(c->SetPropertyText("HideFormula", "Status = \"Done\"", 0), 1);
  EXPECT_EQ(Text(c, "HideFormula"), "Status = \"Done\"");
}

TEST_F(ChunkProps, QueriesReturnTheResultText) {
  TorvoRTChunk* c = Make({navtest::TableBegin(), navtest::IdName("t1", "tab"), Cell(0, 0, 0xE4),
                          navtest::Text("a"), navtest::TableEnd()});
  EXPECT_STREQ(c->GetCellBorder("bottom"), "3");
  EXPECT_STREQ(c->GetCellBorder(nullptr), "0,1,2,3");
  EXPECT_STREQ(c->GetCellBorder("Left"), "0");
  EXPECT_STREQ(c->GetHTMLValue("id", "Table"), "t1");
  EXPECT_STREQ(c->GetHTMLValue("NAME", nullptr), "tab");
  EXPECT_STREQ(c->GetHTMLValue("bogus", nullptr), "");
  EXPECT_STREQ(c->GetHTMLValue(nullptr, nullptr), "");
  EXPECT_STREQ(c->GetTableProperties("RowDisplay"), "RowDisplay=BASIC ");
  EXPECT_STREQ(c->GetTargetProperties("Table", "TableWidth"), "FIXED");
  EXPECT_STREQ(c->GetTargetProperties("Table", "TabFont"), "");
}

TEST_F(ChunkProps, EncodedValueBelowTheSmallestSizeDoesNothing) {
  TorvoRTChunk* c = Make({navtest::Text("x")});
  EXPECT_EQ(c->GetEncodedValue(100, 0, 0), nullptr);
  EXPECT_EQ(c->GetEncodedValue(0, 0, 0), nullptr);  // nothing to encode
}

TEST_F(ChunkProps, EventStringsAndCallbacks) {
  TorvoRTChunk* c = Make({navtest::Text("x")});
  c->SetEventRetString(7, "no", 2);
  c->SetEventRetString(0, "no", 2);
  for (int i = 0; i < 7; ++i) EXPECT_EQ(c->eventReturn[i], nullptr);
  c->SetEventRetString(2, "answer!", 6);
  ASSERT_NE(c->eventReturn[2], nullptr);
  EXPECT_STREQ(c->eventReturn[2], "answer");
  c->SetEventRetString(2, "again", 5);
  EXPECT_STREQ(c->eventReturn[2], "again");
  c->CleanupEventRetString(2);
  EXPECT_EQ(c->eventReturn[2], nullptr);
  c->CleanupEventRetString(9);

  static std::string seen;
  static tagTIMEDATE replica;
  static UNIVERSALNOTEID_tag view;
  c->RaiseActOnText("ignored", 7);  // no callback: nothing happens
  c->internal->ActOnText = [](TorvoRTChunk*, const char* text, uint32_t length) {
    seen.assign(text, length);
    return 0;
  };
  c->RaiseActOnText("hello", 5);
  EXPECT_EQ(seen, "hello");
  c->internal->QueryLinkData = [](TorvoRTChunk*, uint16_t kind, const char* text, uint32_t n,
                                  const tagTIMEDATE* r, const UNIVERSALNOTEID_tag* v,
                                  const UNIVERSALNOTEID_tag*, const char*, uint32_t l1,
                                  const char*, uint32_t, const char*, uint32_t) {
    seen = std::string(text, n) + "/" + std::to_string(kind) + "/" + std::to_string(l1);
    replica = *r;
    view = *v;
    return 0;
  };
  c->RaiseQueryLinkData(nullptr, 0, 3, "_R12345678:9ABCDEF0", "0000000100000002000000030000000F",
                        nullptr, "abc", nullptr, nullptr);
  EXPECT_EQ(seen, "_R12345678:9ABCDEF0/3/3");
  EXPECT_EQ(replica.Innards[1], 0x12345678u);
  EXPECT_EQ(replica.Innards[0], 0x09ABCDEFu);  // characters 11 to 18
  EXPECT_EQ(view.File.Innards[1], 1u);
  EXPECT_EQ(view.File.Innards[0], 2u);
  EXPECT_EQ(view.Note.Innards[1], 3u);
  EXPECT_EQ(view.Note.Innards[0], 15u);
}

}  // namespace
