// Every rich-text item of the corpus under the common write methods: after
// AppendText, InsertText, AppendParagraph, AppendTable, ChangeFont and Remove
// on its first text, its second paragraph and its first table, the item stays
// sound (BEGIN/END paired, paragraph references defined, tables consistent),
// reloads from saved DXL with the same records and renders to XHTML that
// parses. A call that fails leaves the item as it was.
#include <strings.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "corpus_items.h"
#include "engine_fixture.h"
#include "support/testutil.h"
#include "write_records_support.h"

using namespace enginetest;
using namespace corpusitems;
using writecheck::Record;
using writecheck::StructureProblems;

namespace {

struct Operation {
  const char* name;
  std::function<NnStatus(TorvoRTChunk*)> run;
};

TEST(WriteCorpus, EveryItemStaysSoundUnderTheCommonWrites) {
  const std::string corpus = kvtest::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no corpus";
  const std::vector<CorpusItem> items = CorpusItems(corpus + "/dxl");
  ASSERT_FALSE(items.empty());
  const char* const targets[] = {"Text 1", "Paragraph 2", "Table 1"};
  const std::vector<Operation> operations = {
      {"AppendText", [](TorvoRTChunk* c) { return c->AppendText("appended", 8, nullptr); }},
      {"InsertText", [](TorvoRTChunk* c) { return c->InsertText("inserted", 8, nullptr); }},
      {"AppendParagraph",
       [](TorvoRTChunk* c) { return c->AppendParagraph("new paragraph", nullptr, nullptr, 0); }},
      {"AppendTable",
       [](TorvoRTChunk* c) { return c->AppendTable(2, 2, 0, nullptr, nullptr); }},
      {"ChangeFont", [](TorvoRTChunk* c) { return c->ChangeFont("+Bold", nullptr, 0); }},
      {"Remove", [](TorvoRTChunk* c) { return c->Remove(); }},
  };
  size_t writes = 0, soundBefore = 0;
  for (const CorpusItem& source : items) {
    // Which targets the item holds, and whether it is sound as stored.
    std::vector<const char*> present;
    bool sound = false;
    {
      Workspace probe(source);
      ASSERT_TRUE(probe.ok()) << source.where;
      sound = StructureProblems(probe.Records()).empty();
      for (const char* t : targets)
        if (probe.item()->DefineChunk("")->GetCount(t) > 0) present.push_back(t);
    }
    soundBefore += sound;
    for (const char* target : present) {
      for (const Operation& op : operations) {
        const std::string where = source.where + ": " + op.name + " on " + target;
        Workspace work(source);
        ASSERT_TRUE(work.ok()) << where;
        const std::vector<Record> before = work.Records();
        TorvoRTChunk* chunk = work.item()->DefineChunk(target);
        ASSERT_NE(chunk, nullptr) << where;
        const NnStatus st = op.run(chunk);
        const std::vector<Record> after = work.Records();
        if (st != 0) {
          EXPECT_TRUE(after == before) << where << " failed with " << st << " and changed the item";
          continue;
        }
        ++writes;
        if (sound) {
          EXPECT_EQ(StructureProblems(after), "") << where;
        } else {
          // An item stored with faults gets no new ones.
          EXPECT_LE(writecheck::ProblemCount(after), writecheck::ProblemCount(before))
              << where << ":" << StructureProblems(after);
        }
        EXPECT_EQ(work.Reload(after), "") << where;
      }
    }
  }
  EXPECT_GT(writes, 0u);
  EXPECT_GT(soundBefore, 0u);
}

TEST(WriteCorpusItems, NewLinesReferenceTheOnlyDefinedParagraph) {
  const CorpusItem source =
      CorpusFileItem("jnx/testJsonSerialization/dollarfonts.xml", "Body");
  if (source.segments.empty()) GTEST_SKIP() << "no corpus item";
  Workspace work(source);
  ASSERT_TRUE(work.ok());
  const std::vector<Record> before = work.Records();
  ASSERT_EQ(work.item()->DefineChunk("")->AppendNewLines(2, 1), 0);
  const std::vector<Record> after = work.Records();
  // The item's records stay, then a run of two line ends and a paragraph of
  // the definition the item has (id 2; it defines no other).
  ASSERT_EQ(after.size(), before.size() + 3);
  for (size_t i = 0; i < before.size(); ++i) EXPECT_TRUE(after[i] == before[i]) << i;
  EXPECT_EQ(writecheck::Signatures({after.end() - 3, after.end()}),
            (std::vector<uint16_t>{0xFF85, 129, 131}));
  EXPECT_EQ(writecheck::Word(after.back().bytes, 2), 2);
  EXPECT_EQ(writecheck::Count(after, 0xFF82), 1);
  EXPECT_EQ(StructureProblems(after), "");
  EXPECT_EQ(work.Reload(after), "");
}

TEST(WriteCorpusItems, TextAtAPictureInsideAnOleObjectStartsNoParagraphThere) {
  const CorpusItem source =
      CorpusFileItem("jnx/testDbDesignForms/form-components.xml", "$Body");
  if (source.segments.empty()) GTEST_SKIP() << "no corpus item";
  for (bool insert : {true, false}) {
    Workspace work(source);
    ASSERT_TRUE(work.ok());
    const std::vector<Record> before = work.Records();
    TorvoRTChunk* graphic = work.item()->DefineChunk("Graphic 2");
    ASSERT_NE(graphic, nullptr);
    ASSERT_EQ(insert ? graphic->InsertText("note", 4, nullptr)
                     : graphic->AppendText("note", 4, nullptr),
              0);
    const std::vector<Record> after = work.Records();
    // The records other than texts are the same, in the same order; the new
    // text lies in the object (the clean-up may join it with an empty run
    // next to it), and no paragraph was begun there.
    auto nonText = [](const std::vector<Record>& list) {
      std::vector<Record> out;
      for (const Record& r : list)
        if (r.sig != 0xFF85) out.push_back(r);
      return out;
    };
    EXPECT_TRUE(nonText(after) == nonText(before)) << insert;
    int depth = 0, found = 0;
    for (const Record& r : after) {
      depth += r.sig == 0xFFA7 ? 1 : r.sig == 0xFFA8 ? -1 : 0;
      if (r.sig == 0xFF85 && r.bytes.size() == 12 &&
          std::string(r.bytes.begin() + 8, r.bytes.end()) == "note") {
        ++found;
        EXPECT_EQ(depth, 1) << "the text lies in the object";
      }
    }
    EXPECT_EQ(found, 1);
    EXPECT_LE(after.size(), before.size() + 1);
    // The item as stored references a paragraph it does not define; the
    // call adds no fault of its own.
    EXPECT_EQ(writecheck::ProblemCount(after), writecheck::ProblemCount(before))
        << StructureProblems(after);
    EXPECT_EQ(work.Reload(after), "");
  }
}

TEST(WriteCorpusItems, ParagraphsAddedAtAPictureInsideAnOleObjectStartNoneThere) {
  const CorpusItem source =
      CorpusFileItem("jnx/testDbDesignForms/form-components.xml", "$Body");
  if (source.segments.empty()) GTEST_SKIP() << "no corpus item";
  for (int call = 0; call < 3; ++call) {
    Workspace work(source);
    ASSERT_TRUE(work.ok());
    const std::vector<Record> before = work.Records();
    TorvoRTChunk* graphic = work.item()->DefineChunk("Graphic 2");
    ASSERT_NE(graphic, nullptr);
    const NnStatus st = call == 0   ? graphic->AppendParagraph("para", nullptr, nullptr, 0)
                        : call == 1 ? graphic->InsertParagraph("para", nullptr, nullptr, 0)
                                    : graphic->AppendPageBreak();
    ASSERT_EQ(st, 0) << call;
    const std::vector<Record> after = work.Records();
    EXPECT_GT(after.size(), before.size()) << call;
    int depth = 0, starts = 0;
    for (const Record& r : after) {
      depth += r.sig == 0xFFA7 ? 1 : r.sig == 0xFFA8 ? -1 : 0;
      starts += depth > 0 && r.sig == 129;
    }
    EXPECT_EQ(starts, 0) << call;
    EXPECT_EQ(writecheck::ProblemCount(after), writecheck::ProblemCount(before)) << call;
    EXPECT_EQ(work.Reload(after), "") << call;
  }
}

TEST(WriteCorpusItems, PageBreaksOfAStoredItemAreCounted) {
  const CorpusItem source = CorpusFileItem("jnx/testDbDesignForms/doc-span.xml", "Body");
  if (source.segments.empty()) GTEST_SKIP() << "no corpus item";
  Workspace work(source);
  ASSERT_TRUE(work.ok());
  TorvoRTChunk* all = work.item()->DefineChunk("");
  EXPECT_EQ(all->GetCount("PageBreak"), 1);
  ASSERT_EQ(all->AppendPageBreak(), 0);
  EXPECT_EQ(work.item()->DefineChunk("")->GetCount("PageBreak"), 2);
  const std::vector<Record> after = work.Records();
  EXPECT_EQ(StructureProblems(after), "");
  EXPECT_EQ(work.Reload(after), "");
}

TEST(WriteCorpusItems, OutsideTheFirstTableOfAFormLeavesItsLabelsOut) {
  const CorpusItem source = CorpusFileItem("ukl/Forms/Session.form", "$Body");
  if (source.segments.empty()) GTEST_SKIP() << "no corpus item";
  Workspace work(source);
  ASSERT_TRUE(work.ok());
  TorvoRTChunk* all = work.item()->DefineChunk("");
  std::vector<char> inside(4096), outside(4096);
  all->GetText("Table 1", inside.data(), inside.size(), 1, "|");
  all->GetText("Outside Table 1", outside.data(), outside.size(), 1, "|");
  ASSERT_NE(std::string(inside.data()).find("Session Length"), std::string::npos);
  EXPECT_EQ(std::string(outside.data()).find("Session Length"), std::string::npos);
  EXPECT_EQ(std::string(outside.data()).find("CreatedBy"), std::string::npos);
}

}  // namespace
