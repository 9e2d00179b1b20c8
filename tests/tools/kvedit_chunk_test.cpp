// kvedit define, count, targets, text and set-text.
#include <gtest/gtest.h>

#include <strings.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "lsxsessi.h"
#include "nn/nn.h"
#include "richtext/item/recordlist.h"
#include "support/testutil.h"

namespace {

using kvtest::KveditPath;
using kvtest::RunCommand;
using kvtest::SplitLines;

std::string Example() { return std::string(KV_SOURCE_DIR) + "/examples/sample.dxl"; }

// ---- an independent reading of an item's records ----

struct ItemRef {
  NOTEID note;
  std::string name;
};

struct Record {
  uint16_t signature;
  std::string bytes;  // host layout
};

std::vector<ItemRef> RichTextItems(NnHandle db) {
  std::vector<ItemRef> items;
  for (const kvtest::RichTextItemRef& r : kvtest::RichTextItems(db)) items.push_back({r.noteId, r.name});
  return items;
}

// The records of a note's item; empty when it cannot be read.
std::vector<Record> ReadRecords(LSXLsiSession* session, NnHandle db, const ItemRef& ref) {
  std::vector<Record> out;
  NnHandle note = 0;
  if (NnNoteOpen(db, ref.note, 0, &note) != NN_OK) return out;
  NnStatus st = NN_OK;
  RecordList* list = RecordListLoadFromNote(session, note, ref.name.c_str(), &st);
  if (list) {
    for (const RTRecordNode* n = RecordListNext(list, nullptr); n; n = RecordListNext(list, n))
      out.push_back({n->signature, std::string(reinterpret_cast<const char*>(n->data), n->length)});
    RecordListFreeWithAllocator(session, list);
  }
  NnNoteClose(note);
  return out;
}

// Every run with text, joined the way the chunk's text step joins them.
std::string JoinedRuns(const std::vector<Record>& records, const std::string& separator) {
  constexpr size_t kCap = 65340;
  std::string result;
  for (const auto& r : records) {
    if (r.signature != 0xFF85 || r.bytes.size() < 9) continue;
    std::string run = r.bytes.substr(8);
    std::string sep = result.empty() ? "" : separator;
    if (result.size() + sep.size() > kCap) break;
    if (result.size() + sep.size() + run.size() > kCap) {
      result += sep + run.substr(0, kCap - result.size() - sep.size());
      break;
    }
    result += sep + run;
  }
  return result;
}

std::string Hex(NOTEID id) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%X", unsigned(id));
  return buf;
}

// Opens a DXL file and closes it again.
class Dxl {
 public:
  explicit Dxl(const std::string& path) { ok_ = NnDbOpen(path.c_str(), 0, &db_) == NN_OK; }
  ~Dxl() {
    if (ok_) NnDbClose(db_);
  }
  Dxl(const Dxl&) = delete;
  Dxl& operator=(const Dxl&) = delete;
  bool ok() const { return ok_; }
  NnHandle db() const { return db_; }

 private:
  NnHandle db_ = 0;
  bool ok_ = false;
};

// The rich-text item of a file with the most records (design notes hold
// several small composite items before their body); empty name when none.
ItemRef LargestItem(LSXLsiSession* session, const std::string& file, size_t* runs = nullptr) {
  Dxl dxl(file);
  ItemRef best{0, ""};
  size_t most = 0;
  for (const auto& ref : RichTextItems(dxl.db())) {
    auto records = ReadRecords(session, dxl.db(), ref);
    if (best.name.empty() || records.size() > most) {
      best = ref;
      most = records.size();
      if (runs) {
        *runs = 0;
        for (const auto& r : records) *runs += r.signature == 0xFF85 && r.bytes.size() > 8;
      }
    }
  }
  return best;
}

std::vector<std::string> Command(const std::string& command, const std::string& file,
                                 const ItemRef& ref, std::vector<std::string> rest) {
  std::vector<std::string> argv{KveditPath(), command, file};
  if (!ref.name.empty()) argv.insert(argv.end(), {"--note", Hex(ref.note), "--item", ref.name});
  argv.insert(argv.end(), rest.begin(), rest.end());
  return argv;
}

// ---- define ----

TEST(KveditChunkDefine, WritesTheDefinitionBack) {
  auto r = RunCommand({KveditPath(), "define", "inside section 2;text 'Total' 1-3"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "Inside Section 2; Text \"Total\" 1-3\n");
  EXPECT_EQ(RunCommand({KveditPath(), "define", "Everything"}).out, "Everything\n");
  EXPECT_EQ(RunCommand({KveditPath(), "define", "Table 1,3-5,7"}).out, "Table 1,3-5,7\n");
  for (const char* bad : {"Table", "Row 2", "", "Nonsense 1"}) {
    auto b = RunCommand({KveditPath(), "define", bad});
    EXPECT_EQ(b.exitCode, 2) << bad;
    EXPECT_EQ(b.out, "invalid\n") << bad;
  }
  EXPECT_EQ(RunCommand({KveditPath(), "define"}).exitCode, 1);
}

// ---- the example document ----

TEST(KveditChunkExample, CountTargetsAndText) {
  auto count = RunCommand({KveditPath(), "count", Example(), "Table"});
  ASSERT_EQ(count.exitCode, 0) << count.err;
  EXPECT_EQ(count.out, "1\n");
  EXPECT_EQ(RunCommand({KveditPath(), "count", Example(), "Hotspot"}).out, "1\n");
  EXPECT_EQ(RunCommand({KveditPath(), "count", Example(), "Section"}).out, "0\n");
  EXPECT_EQ(RunCommand({KveditPath(), "count", Example(), "Bogus"}).exitCode, 2);

  auto targets = RunCommand({KveditPath(), "targets", Example(), "Table 1"});
  ASSERT_EQ(targets.exitCode, 0) << targets.err;
  // The table runs from its begin record (36) to its end record (49).
  EXPECT_EQ(targets.out, "1 36-49\n");
  EXPECT_EQ(RunCommand({KveditPath(), "targets", Example(), "Table 2"}).out, "");
  EXPECT_EQ(RunCommand({KveditPath(), "targets", Example(), "Table"}).exitCode, 2);

  auto first = RunCommand({KveditPath(), "text", Example()});
  ASSERT_EQ(first.exitCode, 0) << first.err;
  EXPECT_EQ(first.out, "A sample document\n");
  auto cells = RunCommand({KveditPath(), "text", Example(), "--all", "--sep", " | ", "Table 1"});
  ASSERT_EQ(cells.exitCode, 0) << cells.err;
  EXPECT_EQ(cells.out, "Name | Value | Colour | Red\n");
  auto bad = RunCommand({KveditPath(), "text", Example(), "Table"});
  EXPECT_EQ(bad.exitCode, 2);
  EXPECT_EQ(SplitLines(bad.err).size(), 1u) << bad.err;
  EXPECT_EQ(RunCommand({KveditPath(), "text", Example(), "--item", "Subject"}).exitCode, 2);
}

// ---- set-text ----

struct Range {
  unsigned first = 0, last = 0;
};

Range TargetRange(const std::string& file, const std::string& definition,
                  const ItemRef& ref = {0, ""}) {
  auto r = RunCommand(Command("targets", file, ref, {definition}));
  Range range;
  unsigned n;
  if (r.exitCode == 0 && !r.out.empty())
    std::sscanf(r.out.c_str(), "%u %u-%u", &n, &range.first, &range.last);
  return range;
}

// Checks that the records before and after the target are byte-identical.
const ItemRef* Find(const std::vector<ItemRef>& items, const ItemRef& ref) {
  for (const auto& i : items)
    if (i.note == ref.note && strcasecmp(i.name.c_str(), ref.name.c_str()) == 0) return &i;
  return nullptr;
}

// Checks that the records before and after the target are byte-identical, and
// every other item too. `changed` names the item (default: the first).
void ExpectOnlyTargetChanged(const std::string& before, const std::string& after, Range range,
                             ItemRef changed = {0, ""}) {
  LSXLsiSession session;
  Dxl a(before), b(after);
  ASSERT_TRUE(a.ok());
  ASSERT_TRUE(b.ok());
  auto itemsA = RichTextItems(a.db());
  auto itemsB = RichTextItems(b.db());
  ASSERT_FALSE(itemsA.empty());
  ASSERT_EQ(itemsA.size(), itemsB.size());
  if (changed.name.empty()) changed = itemsA[0];
  for (const auto& ref : itemsA) {
    const ItemRef* other = Find(itemsB, ref);
    ASSERT_NE(other, nullptr) << ref.name;
    auto ra = ReadRecords(&session, a.db(), ref);
    auto rb = ReadRecords(&session, b.db(), *other);
    if (ref.note != changed.note || strcasecmp(ref.name.c_str(), changed.name.c_str()) != 0) {
      ASSERT_EQ(ra.size(), rb.size()) << ref.name;
      for (size_t i = 0; i < ra.size(); ++i) EXPECT_EQ(ra[i].bytes, rb[i].bytes) << ref.name;
      continue;
    }
    ASSERT_GE(ra.size(), range.last);
    size_t head = range.first - 1, tail = ra.size() - range.last;
    ASSERT_GE(rb.size(), head + tail);
    for (size_t i = 0; i < head; ++i) EXPECT_EQ(ra[i].bytes, rb[i].bytes) << "record " << i + 1;
    for (size_t i = 1; i <= tail; ++i)
      EXPECT_EQ(ra[ra.size() - i].bytes, rb[rb.size() - i].bytes) << "record from end " << i;
  }
}

// The "sig len" part of each record line of kvedit records for one item.
std::vector<std::string> RecordLines(const std::string& file, const std::string& item) {
  std::vector<std::string> out;
  for (const auto& line :
       SplitLines(RunCommand({KveditPath(), "records", file, "--item", item}).out)) {
    size_t blank = line.find(' ');
    if (line.rfind("note ", 0) == 0 || blank == std::string::npos) continue;
    out.push_back(line.substr(blank + 1));
  }
  return out;
}

TEST(KveditChunkSetText, ChangesOnlyItsTarget) {
  std::string dir = kvtest::MakeTempDir();
  std::string out = dir + "/out.dxl";
  Range range = TargetRange(Example(), "Text 3");
  ASSERT_NE(range.first, 0u);
  auto r = RunCommand({KveditPath(), "set-text", Example(), "--out", out, "Text 3", "Grüße"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  ExpectOnlyTargetChanged(Example(), out, range);
  auto text = RunCommand({KveditPath(), "text", out, "Text 3"});
  EXPECT_EQ(text.out, "Grüße\n");
  // The listing agrees outside the target too.
  auto la = RecordLines(Example(), "Body"), lb = RecordLines(out, "Body");
  ASSERT_GE(la.size(), range.last);
  for (size_t i = 0; i + 1 < range.first; ++i) EXPECT_EQ(la[i], lb[i]);
  for (size_t i = 1; i <= la.size() - range.last; ++i)
    EXPECT_EQ(la[la.size() - i], lb[lb.size() - i]);
  kvtest::RemoveTree(dir);
}

TEST(KveditChunkSetText, RefusedCallsWriteNothing) {
  std::string dir = kvtest::MakeTempDir();
  std::string out = dir + "/out.dxl";
  for (const char* definition : {"Table 9", "Table", "Row 2", ""}) {
    auto r = RunCommand({KveditPath(), "set-text", Example(), "--out", out, definition, "x"});
    EXPECT_NE(r.exitCode, 0) << definition;
    EXPECT_TRUE(kvtest::ReadFile(out).empty()) << definition;
  }
  EXPECT_EQ(RunCommand({KveditPath(), "set-text", Example(), "Text 1", "x"}).exitCode, 1);
  kvtest::RemoveTree(dir);
}

// ---- the corpus ----

// Without --item, kvedit reads the first note's body ("Body" or "$Body"),
// else its first rich-text item.
bool IsBody(const std::string& name) {
  return strcasecmp(name.c_str(), "Body") == 0 || strcasecmp(name.c_str(), "$Body") == 0;
}

TEST(KveditChunkCorpus, TextOfEveryItemIsEveryRunInOrder) {
  std::string corpus = kvtest::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "corpus not present";
  LSXLsiSession session;
  size_t items = 0, bodiesAfterOthers = 0;
  for (const auto& file : kvtest::FilesBelow(corpus + "/dxl")) {
    Dxl dxl(file);
    ASSERT_TRUE(dxl.ok()) << file;
    const std::vector<ItemRef> refs = RichTextItems(dxl.db());
    const ItemRef* chosen = refs.empty() ? nullptr : &refs.front();
    for (const auto& ref : refs)
      if (ref.note == refs.front().note && IsBody(ref.name)) {
        bodiesAfterOthers += &ref != &refs.front();
        chosen = &ref;
        break;
      }
    std::string defaultText;
    for (const auto& ref : refs) {
      SCOPED_TRACE(file + " " + ref.name);
      std::string joined = JoinedRuns(ReadRecords(&session, dxl.db(), ref), "\n");
      std::string expected = NnLmbcsToUtf8(joined.data(), joined.size()) + "\n";
      auto r = RunCommand(
          {KveditPath(), "text", file, "--note", Hex(ref.note), "--item", ref.name, "--all"});
      ASSERT_EQ(r.exitCode, 0) << r.err;
      EXPECT_EQ(r.out, expected);
      if (&ref == chosen) defaultText = expected;
      ++items;
    }
    if (refs.empty()) continue;
    auto r = RunCommand({KveditPath(), "text", file, "--all"});
    ASSERT_EQ(r.exitCode, 0) << file << ": " << r.err;
    EXPECT_EQ(r.out, defaultText) << file;
  }
  EXPECT_GT(items, 0u);
  EXPECT_GT(bodiesAfterOthers, 0u);  // forms whose styles item comes first
}

TEST(KveditChunkCorpus, CountingAndWalkingAgree) {
  std::string corpus = kvtest::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "corpus not present";
  auto files = kvtest::FilesBelow(corpus + "/dxl");
  size_t walked = 0, found = 0;
  LSXLsiSession session;
  // The largest rich-text item of every document.
  for (size_t f = 0; f < files.size(); ++f) {
    ItemRef ref = LargestItem(&session, files[f]);
    if (ref.name.empty()) continue;
    for (const char* type : {"Table", "Text", "Paragraph", "Hotspot", "Section", "Graphic"}) {
      SCOPED_TRACE(files[f] + " " + ref.name + " " + type);
      auto count = RunCommand(Command("count", files[f], ref, {type}));
      ASSERT_EQ(count.exitCode, 0) << count.err;
      auto targets = RunCommand(Command("targets", files[f], ref, {std::string(type) + " 1"}));
      ASSERT_EQ(targets.exitCode, 0) << targets.err;
      auto lines = SplitLines(targets.out);
      EXPECT_EQ(std::to_string(lines.size()) + "\n", count.out);
      // Targets come in order and each range is well formed.
      unsigned previous = 0;
      for (size_t i = 0; i < lines.size(); ++i) {
        unsigned n = 0, first = 0, last = 0;
        ASSERT_EQ(std::sscanf(lines[i].c_str(), "%u %u-%u", &n, &first, &last), 3) << lines[i];
        EXPECT_EQ(n, i + 1);
        EXPECT_GT(first, 0u);
        EXPECT_LE(first, last);
        EXPECT_GE(first, previous);
        previous = first;
      }
      ++walked;
      found += lines.size();
    }
  }
  EXPECT_GT(walked, 60u);
  EXPECT_GT(found, 50u);
}

TEST(KveditChunkCorpus, SetTextKeepsTheRestOfTheItem) {
  std::string corpus = kvtest::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "corpus not present";
  auto files = kvtest::FilesBelow(corpus + "/dxl");
  std::string dir = kvtest::MakeTempDir();
  size_t changed = 0;
  LSXLsiSession session;
  for (size_t f = 0; f < files.size() && changed < 8; ++f) {
    SCOPED_TRACE(files[f]);
    size_t runs = 0;
    ItemRef ref = LargestItem(&session, files[f], &runs);
    if (ref.name.empty() || runs < 3) continue;
    Range range = TargetRange(files[f], "Text 2", ref);
    if (range.first == 0) continue;
    std::string out = dir + "/out" + std::to_string(f) + ".dxl";
    auto r = RunCommand(Command("set-text", files[f], ref, {"--out", out, "Text 2", "new words"}));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ExpectOnlyTargetChanged(files[f], out, range, ref);
    // An empty target run stays in front of the new text; either way the new
    // text is one of the item's runs.
    auto all = RunCommand(Command("text", out, ref, {"--all"}));
    EXPECT_NE(("\n" + all.out).find("\nnew words\n"), std::string::npos) << all.out;
    ++changed;
  }
  EXPECT_GT(changed, 2u);
  kvtest::RemoveTree(dir);
}

}  // namespace
