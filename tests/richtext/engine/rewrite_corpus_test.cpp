// The record rewrites over every rich-text item of the corpus: each call
// either fails and leaves the item as it was, or leaves it structurally
// sound (balanced BEGIN/END, consistent tables), reloadable and renderable.
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "rewrite_fixture.h"

namespace enginetest {
namespace {

namespace fs = std::filesystem;

using RewriteCorpus = RewriteDoc;

// Every file of the corpus with the names of its composite items (first note
// that holds each name).
std::vector<std::pair<std::string, std::string>> CorpusItems() {
  std::vector<std::pair<std::string, std::string>> out;
  const std::string root = kvtest::CorpusDir();
  if (root.empty() || !fs::is_directory(root + "/dxl")) return out;
  for (const std::string& file : kvtest::FilesBelow(root + "/dxl")) {
    NnHandle db = 0;
    if (NnDbOpen(file.c_str(), 0, &db) != NN_OK) continue;
    std::set<std::string> names;
    for (uint32_t i = 0; i < NnDbNoteCount(db); ++i) {
      NOTEID id = 0;
      NnHandle note = 0;
      if (NnDbNoteIdAt(db, i, &id) != NN_OK || NnNoteOpen(db, id, 0, &note) != NN_OK) continue;
      for (uint32_t k = 0; k < NnNoteItemCount(note); ++k) {
        NnItemDesc d;
        if (NnNoteItemAt(note, k, &d) == NN_OK && d.type == NN_TYPE_COMPOSITE) names.insert(d.name);
      }
      NnNoteClose(note);
    }
    NnDbClose(db);
    for (const std::string& n : names) out.push_back({file, n});
  }
  return out;
}

// Action hotspots that open inside another hotspot (collapsible sections
// aside): a picture's new action never adds one.
size_t NestedActions(const std::vector<Rec>& recs) {
  std::vector<uint16_t> open;
  size_t nested = 0;
  for (const Rec& r : recs) {
    if (r.sig == 0xFFA9 || r.sig == 0xFFAD) {
      const uint16_t type = Word(r.bytes, 4);
      for (uint16_t t : open) {
        if (t == 12 || t == 13) continue;
        nested += type == 2;
        break;
      }
      open.push_back(type);
    }
    if ((r.sig == 170 || r.sig == 174) && !open.empty()) open.pop_back();
  }
  return nested;
}

TEST_F(RewriteCorpus, RewritesLeaveEveryItemSound) {
  const auto items = CorpusItems();
  if (items.empty()) GTEST_SKIP() << "no corpus";
  size_t changed = 0;
  for (const auto& [file, name] : items) {
    SCOPED_TRACE(file + " " + name);
    struct Call {
      const char* definition;
      std::function<NnStatus(TorvoRTChunk*)> run;
    };
    const std::vector<Call> calls = {
        {"", [](TorvoRTChunk* c) { return c->ReplaceTextQuick("e", 0, "E", 0, "NONTEXT TEXT"); }},
        {"Table 1",
         [](TorvoRTChunk* c) {
           c->AlterRichText(2422, 3, 1, 0, 0, nullptr, "k", nullptr, nullptr);
           return c->lastStatus;
         }},
        {"Table 1; Row 1; Column 1",
         [](TorvoRTChunk* c) {
           c->AlterRichText(2422, 2, 2, 0, 0, nullptr, "c", nullptr, nullptr);
           return c->lastStatus;
         }},
        {"Table 1", [](TorvoRTChunk* c) { return c->AppendRow(1, 1, nullptr); }},
        {"Layer 1",
         [](TorvoRTChunk* c) {
           c->AlterRichText(2437, LAYER, 0, 0, 0, "LayerHTMLClass=x BackgroundImage=a.gif",
                            nullptr, nullptr, nullptr);
           return c->lastStatus;
         }},
        {"Graphic 1",
         [](TorvoRTChunk* c) { return NnStatus(c->SetImageHotspot("Formula", "1", 0, "", nullptr, 0)); }},
        {"ImageMap 1",
         [](TorvoRTChunk* c) {
           return NnStatus(c->SetImageHotspot("JavaScript", "go()", 0, "", nullptr, 0));
         }},
    };
    for (const Call& call : calls) {
      SCOPED_TRACE(call.definition);
      if (!OpenFile(file, name)) continue;
      const std::vector<Rec> before = Records();
      TorvoRTChunk* chunk = Define(call.definition);
      if (!chunk || !chunk->Exists()) continue;
      const NnStatus st = call.run(chunk);
      const std::vector<Rec> after = Records();
      if (st != 0) {
        ASSERT_EQ(after.size(), before.size());
        EXPECT_TRUE(SameRecords(after, 0, before, 0, before.size()));
        continue;
      }
      ExpectSound();
      EXPECT_LE(NestedActions(after), NestedActions(before));
      bool same = after.size() == before.size() && SameRecords(after, 0, before, 0, before.size());
      if (!same) {
        ++changed;
        ReloadAndRender();
      }
    }
  }
  EXPECT_GT(changed, 0u);
}

}  // namespace
}  // namespace enginetest
