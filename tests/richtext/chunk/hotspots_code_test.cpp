// Hotspots with code: how AppendHotspot and SetImageHotspot prepare the code
// and describe the hotspot, and what they refuse.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "lsxsessi.h"
#include "nn/nn.h"
#include "rtchunk.h"
#include "rtitem.h"

namespace {

void Collect(void* context, const char* text) {
  static_cast<std::vector<std::string>*>(context)->push_back(text);
}

class CodeHotspots : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    ASSERT_TRUE(session.IsValid());
    session.SetMessageProc(Collect, &messages);
    std::string path = "mem-hotspots-" + std::to_string(++counter) + ".nsf";
    ASSERT_EQ(NnDbOpen(path.c_str(), NN_DB_CREATE, &db), NN_OK);
    ASSERT_EQ(NnNoteCreate(db, NN_CLASS_DOCUMENT, &note), NN_OK);
    const uint8_t text[] = {0x85, 0xFF, 9, 0, 1, 0, 0, 10, 'x', 0};
    ASSERT_EQ(NnItemAppend(note, 0, "Body", 4, NN_TYPE_COMPOSITE, text, sizeof text), NN_OK);
    item = new TorvoRTItem(&session);
    ASSERT_EQ(item->ConnectBackend(db, note, "Body"), NN_OK);
    chunk = item->DefineChunk("Everything");
    ASSERT_NE(chunk, nullptr);
  }
  void TearDown() override {
    session.SetMessageProc(nullptr, nullptr);
    NnNoteClose(note);
    NnDbClose(db);
  }
  std::string Code(size_t offset) {
    return std::string(session.ResultText + offset, session.ResultTextLength);
  }

  LSXLsiSession session;
  std::vector<std::string> messages;
  NnHandle db = 0, note = 0;
  TorvoRTItem* item = nullptr;
  TorvoRTChunk* chunk = nullptr;
};

const char kModuleHead[] =
    "'++KvScript Development Environment:2:5:(Options):0:66\n\n"
    "'++KvScript Development Environment:2:5:(Forward):0:1\n"
    "Declare Sub Click(Source As Button)\n\n"
    "'++KvScript Development Environment:2:5:(Declarations):0:2\n\n"
    "'++KvScript Development Environment:2:2:BindEvents:1:129\n"
    "Private Sub BindEvents(Byval Objectname_ As String)\n"
    "  Static Source As BUTTON\n"
    "  Set Source = Bind(Objectname_)\n"
    "  On Event Click From Source Call Click\n"
    "End Sub\n\n"
    "'++KvScript Development Environment:2:2:Click:1:12\n";

TEST_F(CodeHotspots, ButtonScriptGetsAClickWrapper) {
  chunk->AppendHotspot("Button KvScript", "MsgBox 1", 8, "", "Go", 2);
  EXPECT_EQ(session.globals->hotspotType, 3);
  EXPECT_EQ(session.globals->codeKind, 0x100u);
  std::string expected =
      std::string(kModuleHead) + "Sub Click(Source As Button)\nMsgBox 1\nEnd Sub";
  EXPECT_EQ(Code(16), expected);
}

TEST_F(CodeHotspots, ScriptWithItsOwnClickIsKeptAsIs) {
  const char* code = "sub click(Source As Button)\nBeep\nEnd Sub";
  chunk->AppendHotspot("Action KvScript", code, uint16_t(std::strlen(code)), "", "", 0);
  EXPECT_EQ(session.globals->hotspotType, 2);
  EXPECT_EQ(Code(16), std::string(kModuleHead) + code);
}

TEST_F(CodeHotspots, PopupWithJavaScriptIsRefused) {
  EXPECT_EQ(chunk->AppendHotspot("Popup JavaScript", "alert(1)", 8, "", "", 0),
            NN_ERR_INVALID_ARG);
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back(), "Zelko: Error in argument #1");
  EXPECT_EQ(chunk->lastInternalError, 20017);
}

TEST_F(CodeHotspots, SubformAndFileUploadNeedADesignNote) {
  EXPECT_EQ(chunk->AppendHotspot("Subform", "x", 1, "", "", 0), NN_ERR_INVALID_ARG);
  EXPECT_EQ(messages.back(), "Zelko: Attempt to add subform to data document failed");
  EXPECT_EQ(chunk->AppendHotspot("File Upload", nullptr, 0, "", "", 0), NN_ERR_INVALID_ARG);
  EXPECT_EQ(messages.back(), "Zelko: Attempt to add file upload to data document failed");
  item->context->designNote = 1;
  EXPECT_EQ(chunk->AppendHotspot("Subform JavaScript", "x", 1, "", "", 0), NN_ERR_INVALID_ARG);
  EXPECT_EQ(messages.back(), "Zelko: Subform specified by other than simple name or formula");
  EXPECT_EQ(chunk->AppendHotspot("Nothing known", "x", 1, "", "", 0), NN_ERR_INVALID_ARG);
}

TEST_F(CodeHotspots, ComputedTextIsAFormulaPopup) {
  chunk->AppendHotspot("ComputedText", "\"a\"", 3, "", "", 0);
  EXPECT_EQ(session.globals->hotspotType, 1);
  EXPECT_EQ(session.globals->codeKind, 0x40010u);
  EXPECT_GT(session.ResultTextLength, 0);
  // A function evaluated only by the platform itself is stored all the same.
  EXPECT_EQ(chunk->AppendHotspot("ComputedText", "@UserName", 9, "", "", 0), 0);
  uint32_t len = 0;
  NnBlockId value;
  ASSERT_EQ(NnItemInfo(note, "Body", 4, nullptr, nullptr, &value, &len), NN_OK);
  const std::string body(static_cast<const char*>(NnBlockLock(value)), len);
  NnBlockUnlock(value);
  EXPECT_NE(body.find("@UserName"), std::string::npos);
}

TEST_F(CodeHotspots, AFormulaThatDoesNotCompileIsRefusedAndLogged) {
  EXPECT_EQ(chunk->AppendHotspot("Button Formula", "@(", 2, "", "", 0), NN_ERR_INVALID_ARG);
  EXPECT_EQ(chunk->lastInternalError, 20017);
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back().rfind("Zelko: ", 0), 0u);
}

TEST_F(CodeHotspots, JavaScriptIsCopiedRawWithAZeroWord) {
  chunk->AppendHotspot("Button JavaScript", "go()", 4, "", "", 0);
  EXPECT_EQ(session.globals->codeKind, 0x200000u);
  EXPECT_EQ(session.ResultTextLength, 5);
  EXPECT_EQ(std::memcmp(session.ResultText + 16, "go()\0\0", 6), 0);
}

TEST_F(CodeHotspots, ImageHotspotLanguages) {
  EXPECT_EQ(chunk->SetImageHotspot("Basic", "x", 1, "", "", 0), NN_ERR_CATASTROPHIC);
  EXPECT_EQ(session.globals->hotspotLanguage, nullptr);
  chunk->SetImageHotspot("javascript", nullptr, 0, "", nullptr, 0);
  EXPECT_EQ(session.globals->codeKind, 4u);
  EXPECT_EQ(session.ResultTextLength, 0);
  EXPECT_EQ(session.globals->hotspotLanguage, nullptr);
  chunk->SetImageHotspot("KvScript", "Beep", 4, "", "", 0);
  EXPECT_EQ(session.globals->codeKind, 3u);
  EXPECT_EQ(Code(0), std::string(kModuleHead) + "Sub Click(Source As Button)\nBeep\nEnd Sub");
  EXPECT_EQ(chunk->SetImageHotspot("Formula", "@(", 0, "", "", 0), 20017);
}

}  // namespace
