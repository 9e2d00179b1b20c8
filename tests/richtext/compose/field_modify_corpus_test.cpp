// Field modification (2416) on real forms: the field is rebuilt under its new
// name, every other record stays byte for byte, the field's JavaScript events
// come back as clean text, and the form saves, reloads and renders.
#include <cstring>
#include <string>
#include <vector>

#include "compose_support.h"

namespace {

using composetest::Find;
using composetest::Rec;

std::string FieldName(const Rec& r) {
  const size_t at = 40 + r.U16(24) + r.U16(26) + r.U16(30);
  return r.Text(at, r.U16(32));
}

class FieldModifyCorpus : public ::testing::Test {
 protected:
  // False when the corpus (or the file) is absent: the caller skips.
  [[nodiscard]] bool Open(const std::string& relative) {
    const std::string corpus = kvtest::CorpusDir();
    path = corpus + "/dxl/" + relative;
    if (corpus.empty() || kvtest::ReadFile(path).empty()) return false;
    session = new LSXLsiSession();
    EXPECT_EQ(NnDbOpen(path.c_str(), 0, &db), NN_OK);
    NOTEID id = 0;
    EXPECT_EQ(NnDbNoteIdAt(db, 0, &id), NN_OK);
    EXPECT_EQ(NnNoteOpen(db, id, 0, &note), NN_OK);
    item = new TorvoRTItem(session);
    EXPECT_EQ(item->ConnectBackend(db, note, "$Body"), NN_OK);
    chunk = item->DefineChunk("Everything");
    if (!chunk) ADD_FAILURE() << "no Everything chunk";
    return chunk != nullptr;
  }
  void TearDown() override {
    delete session;
    if (note) NnNoteClose(note);
    if (db) NnDbClose(db);
  }
  std::vector<Rec> Records() { return composetest::RecordsOfItem(session, db, note, "$Body"); }
  // Only the named field changes: its name, and its length by the difference.
  void ExpectOnlyRenamed(const std::vector<Rec>& before, const std::vector<Rec>& after,
                         const std::string& from, const std::string& to) {
    ASSERT_EQ(after.size(), before.size());
    int renamed = 0;
    for (size_t i = 0; i < before.size(); ++i) {
      if (before[i].sig == 0xFF8A && FieldName(before[i]) == from) {
        ASSERT_EQ(after[i].sig, 0xFF8A);
        EXPECT_EQ(FieldName(after[i]), to);
        EXPECT_EQ(after[i].data.size(), before[i].data.size() - from.size() + to.size());
        // The formulas before the name are the same bytes.
        const size_t head = 40 + before[i].U16(24) + before[i].U16(26) + before[i].U16(30);
        EXPECT_EQ(after[i].Text(40, head - 40), before[i].Text(40, head - 40));
        ++renamed;
      } else {
        EXPECT_EQ(after[i].data, before[i].data) << "record " << i + 1;
      }
    }
    EXPECT_EQ(renamed, 1);
  }

  std::string path;
  LSXLsiSession* session = nullptr;
  NnHandle db = 0, note = 0;
  TorvoRTItem* item = nullptr;
  TorvoRTChunk* chunk = nullptr;
};

TEST_F(FieldModifyCorpus, RenamesTheDateFieldOfAForm) {
  if (!Open("ukl/Forms/TimeSlot.form")) GTEST_SKIP() << "not in the corpus";
  const std::vector<Rec> before = Records();
  chunk->AlterRichText(2416, 0, 0, 0, 0, "Date", "Name=SlotDay", nullptr, nullptr);
  ASSERT_EQ(chunk->lastStatus, 0);
  ExpectOnlyRenamed(before, Records(), "Date", "SlotDay");

  // Saved, reloaded and rendered, the form shows the new name.
  const std::string dir = kvtest::MakeTempDir();
  const std::string saved = dir + "/timeslot.dxl";
  ASSERT_EQ(NnNoteUpdate(note, 0), NN_OK);
  ASSERT_EQ(NnDbSaveDxl(db, saved.c_str()), NN_OK);
  NnHandle db2 = 0, note2 = 0;
  ASSERT_EQ(NnDbOpen(saved.c_str(), 0, &db2), NN_OK);
  NOTEID id = 0;
  ASSERT_EQ(NnDbNoteIdAt(db2, 0, &id), NN_OK);
  ASSERT_EQ(NnNoteOpen(db2, id, 0, &note2), NN_OK);
  {
    TorvoRTItem reloaded(session);
    ASSERT_EQ(reloaded.ConnectBackend(db2, note2, "$Body"), NN_OK);
    TorvoRTChunk* everything = reloaded.DefineChunk("Everything");
    char* page = nullptr;
    uint32_t length = 0;
    ASSERT_EQ(everything->GenerateXML(nullptr, "", &page, &length), NN_OK);
    const std::string text(page, length);
    PoolFree(session, page);
    EXPECT_NE(text.find("title=\"SlotDay\""), std::string::npos);
    EXPECT_EQ(text.find("title=\"Date\""), std::string::npos);
  }
  NnNoteClose(note2);
  NnDbClose(db2);
  kvtest::RemoveTree(dir);
}

TEST_F(FieldModifyCorpus, FieldEventsComeBackAsCleanText) {
  if (!Open("jnx/testDbDesignForms/form-fieldevents.xml")) GTEST_SKIP() << "not in the corpus";
  const std::vector<Rec> before = Records();
  chunk->AlterRichText(2416, 0, 0, 0, 0, "SomeField", "Name=OtherField", nullptr, nullptr);
  ASSERT_EQ(chunk->lastStatus, 0);
  const std::string events(session->ResultText, session->ResultTextLength);
  // One "JavaScript:<event>:<code>" per JavaScript event, no NUL or pad bytes.
  EXPECT_EQ(events.find('\0'), std::string::npos);
  EXPECT_EQ(events.rfind("JavaScript:", 0), 0u) << events;
  EXPECT_NE(events.find("JavaScript:OnClick:alert(\"I am web onClick\")JavaScript:OnDblClick:"),
            std::string::npos)
      << events;
  EXPECT_EQ(events.find("UNDEFINED_EVENT"), std::string::npos) << events;
  ExpectOnlyRenamed(before, Records(), "SomeField", "OtherField");
  EXPECT_EQ(chunk->internal->fieldBusy, 0);
}

TEST_F(FieldModifyCorpus, CompanionsAskedForAreHeldAndLeaveTheItem) {
  if (!Open("jnx/testDbDesignForms/form-fieldevents.xml")) GTEST_SKIP() << "not in the corpus";
  const std::vector<Rec> before = Records();
  const Rec* ext2 = Find(before, 0xFFFE);
  ASSERT_NE(ext2, nullptr);
  chunk->internal->fieldBufferMask = 0x1 | (1u << 2);  // the field and its 0xFFFE
  chunk->AlterRichText(2416, 0, 0, 0, 0, "SomeField", "Name=Held", nullptr, nullptr);
  ASSERT_EQ(chunk->lastStatus, 0);
  const std::vector<Rec> after = Records();
  EXPECT_EQ(after.size(), before.size() - 1);
  EXPECT_EQ(Find(after, 0xFFFE), nullptr);
  ASSERT_NE(chunk->internal->workBlockAddress[2], nullptr);
  EXPECT_EQ(std::memcmp(chunk->internal->workBlockAddress[2], ext2->data.data(), ext2->data.size()),
            0);
  const Rec* field = Find(after, 0xFF8A);
  ASSERT_NE(field, nullptr);
  EXPECT_EQ(FieldName(*field), "Held");
}

}  // namespace
