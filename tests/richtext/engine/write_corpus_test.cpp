// Every rich-text item of the corpus (and a few built shapes it lacks) under
// the common write methods, on its first text, second paragraph, first table,
// a row and two cells: the item stays sound (BEGIN/END paired, paragraph
// references defined, tables consistent), reloads from saved DXL with the same
// records and renders to XHTML that parses; what was written reads back from
// the same definition; the counts change as the method says; the records
// outside the target stay, unchanged and in order. A call that fails leaves
// the item as it was.
#include <functional>
#include <string>
#include <vector>

#include "corpus_items.h"
#include "engine_fixture.h"
#include "graphicsteps_records.h"
#include "support/testutil.h"
#include "write_records_support.h"

using namespace enginetest;
using namespace corpusitems;
using writecheck::AllText;
using writecheck::Pab;
using writecheck::Record;
using writecheck::StructureProblems;

namespace {

// ---- the sweep ---------------------------------------------------------------------

// Where a target lies, which decides where a write reads back and which count
// it changes. What is written in a row or a cell lies inside it.
// A range (inside, after a table) may cut through structures: its counts are
// not checked, what it leaves must still be sound.
enum class Place { Text, Paragraph, Table, Row, Cell, Range };
bool Inside(Place p) { return p == Place::Row || p == Place::Cell; }

struct Target {
  std::string definition;
  Place place;
  // The definitions a text written before or after the target reads back
  // from: the target itself, or with its neighbour, or beside the table.
  std::string before, after;
  // The cell a target lies in: what is written reads back there, and the
  // counts of the writes are taken there.
  std::string cell = "";
};

const std::vector<Target>& Targets() {
  static const std::vector<Target> targets = {
      {"Text 1", Place::Text, "Text 1", "Text 1-2"},
      {"Paragraph 2", Place::Paragraph, "Paragraph 2", "Paragraph 2-3"},
      {"Table 1", Place::Table, "Before Table 1", "After Table 1"},
      {"Table 1; Row 2", Place::Row, "", ""},
      {"Table 1; Row 1; Column 1", Place::Cell, "", ""},
      {"Table 1; Row 1; Column 2", Place::Cell, "", ""},
      // A cell's last paragraph ends at the next cell's record.
      {"Table 1; Row 1; Column 1; Paragraph 1", Place::Paragraph, "", "",
       "Table 1; Row 1; Column 1"},
      {"Inside Table 1", Place::Range, "Inside Table 1", "Inside Table 1"},
      // Where a table is nested, the range after it ends its outer table.
      {"After Table 2", Place::Range, "After Table 2", "After Table 2"},
      // What lies between an element's head and its end, never past it.
      {"Inside Hotspot 1", Place::Range, "Inside Hotspot 1", "Inside Hotspot 1"},
      {"Inside Field 1", Place::Range, "Inside Field 1", "Inside Field 1"},
      {"Inside Section 1", Place::Range, "Inside Section 1", "Inside Section 1"},
      {"Inside Layer 1", Place::Range, "Inside Layer 1", "Inside Layer 1"},
  };
  return targets;
}

// The item before a call: its records, the target's range (from 1), the
// count the call may change, the target's text, and whether the target
// lies within its paragraph (content of the paragraph before it).
struct Before {
  std::vector<Record> records;
  size_t first = 0, last = 0;
  long count = 0;
  std::string text;
  bool withinParagraph = false;
  bool followedWithinParagraph = false;
  long tables = 0;  // of a table target: it and the tables nested in it
};

// What a method writes and promises. The counted type is counted over the
// item, or inside the target when it is a cell; `delta` is how that count
// changes.
enum class Writes { Before, After, Replaces, Keeps, Removes };
struct Operation {
  const char* name;
  // The call on the target's chunk; SetText names the target itself, from
  // the item's whole chunk.
  std::function<NnStatus(TorvoRTChunk*)> run;
  Writes writes;
  const char* counted;  // null: the target's own type
  long (*delta)(Place, const Before&);
};

constexpr const char* kWritten = "ZQXW";

long None(Place, const Before&) { return 0; }
long One(Place, const Before&) { return 1; }
// Text after a table stands in a paragraph of its own.
long NewAfterTable(Place p, const Before&) { return p == Place::Table ? 1 : 0; }
// A paragraph put before content within a paragraph splits that one; so does
// one put after a target that more of its paragraph follows.
long NewParagraph(Place, const Before& b) { return b.withinParagraph ? 2 : 1; }
long NewParagraphAfter(Place, const Before& b) { return b.followedWithinParagraph ? 2 : 1; }
long AddsRow(Place p, const Before&) { return p == Place::Table ? 1 : 0; }
// A removed cell keeps its place in the row; a removed table takes the tables
// nested in it along.
long Removed(Place p, const Before& b) {
  return p == Place::Cell ? 0 : p == Place::Table ? -b.tables : -1;
}

const std::vector<Operation>& Operations() {
  static const std::vector<Operation> operations = {
      {"AppendText", [](TorvoRTChunk* c) { return c->AppendText(kWritten, 4, nullptr); },
       Writes::After, "Paragraph", NewAfterTable},
      {"InsertText", [](TorvoRTChunk* c) { return c->InsertText(kWritten, 4, nullptr); },
       Writes::Before, "Paragraph", None},
      {"AppendParagraph",
       [](TorvoRTChunk* c) { return c->AppendParagraph(kWritten, nullptr, nullptr, 0); },
       Writes::After, "Paragraph", NewParagraphAfter},
      {"InsertParagraph",
       [](TorvoRTChunk* c) { return c->InsertParagraph(kWritten, nullptr, nullptr, 0); },
       Writes::Before, "Paragraph", NewParagraph},
      {"SetText",
       [](TorvoRTChunk* c) {
         TorvoRTChunk* all = c->item->DefineChunk("");
         return NnStatus(all->SetText(c->definitionText, kWritten, 4, nullptr));
       },
       Writes::Replaces, nullptr, None},
      {"AppendTable", [](TorvoRTChunk* c) { return c->AppendTable(2, 2, 0, nullptr, nullptr); },
       Writes::Keeps, "Table", One},
      {"ChangeFont", [](TorvoRTChunk* c) { return c->ChangeFont("+Bold", nullptr, 0); },
       Writes::Keeps, "Text", None},
      // On tables: their cells' paragraphs change, none is added before them.
      {"ChangeParagraph",
       [](TorvoRTChunk* c) {
         return c->targetType == TABLE ? c->ChangeParagraph("Alignment=Center", nullptr, 0)
                                       : NnStatus(NN_ERR_INVALID_ARG);
       },
       Writes::Keeps, "Paragraph", None},
      // On tables only; refused where cell spans reach its rows.
      {"AppendRow",
       [](TorvoRTChunk* c) {
         const char* texts[20] = {kWritten};
         return c->targetType == TABLE ? c->AppendRow(0, 1, texts) : NnStatus(NN_ERR_INVALID_ARG);
       },
       Writes::Keeps, "Table 1; Row", AddsRow},
      // Refused (the item unchanged) where it would begin inside a hotspot.
      {"AppendHotspot",
       [](TorvoRTChunk* c) { return NnStatus(c->AppendHotspot("Action", "1", 1, "", "L", 1)); },
       Writes::Keeps, "Hotspot", One},
      {"Remove", [](TorvoRTChunk* c) { return c->Remove(); }, Writes::Removes, nullptr, Removed},
  };
  return operations;
}

// The records a paragraph opens with before its content.
bool OpensParagraph(uint16_t sig) {
  switch (sig) {
    case 129: case 131: case 0xFF82: case 0xFFBB: case 166:
    case 183: case 184: case 186: case 192: case 194:
      return true;
    default:
      return false;
  }
}

// The records after which the content that follows is no longer the
// paragraph's: a paragraph's head, a cell, a table's frame.
bool EndsParagraph(const Record& r) {
  const uint16_t of = r.sig == 221 ? writecheck::Word(r.bytes, 4) : 0;
  return OpensParagraph(r.sig) || r.sig == 163 || r.sig == 164 || r.sig == 165 || r.sig == 207 ||
         r.sig == 208 || r.sig == 209 || r.sig == 0xFFFB || of == 0xFFFB || of == 163 || of == 207;
}

const char* TypeOf(Place p) {
  switch (p) {
    case Place::Text: return "Text";
    case Place::Paragraph: return "Paragraph";
    case Place::Table: return "Table";
    case Place::Row: return "Table 1; Row";
    case Place::Cell: return "Table 1; Row 1; Column";
    case Place::Range: return "Table";
  }
  return "";
}

// The records outside [first, last] (from 1) of `before` are all in `after`,
// unchanged and in their order, those before the target ahead of those
// after it: what a write adds lies between them or beside the target.
std::string OutsideChanges(const std::vector<Record>& before, const std::vector<Record>& after,
                           size_t first, size_t last) {
  if (first == 0 || last < first || last > before.size()) return "no target range";
  size_t at = 0;
  for (size_t i = 0; i < before.size(); ++i) {
    if (i + 1 == first) i = last;  // the target's own records may change
    if (i >= before.size()) break;
    while (at < after.size() && !(after[at] == before[i])) ++at;
    if (at == after.size())
      return "record " + std::to_string(i + 1) + (i < first ? " before" : " after") +
             " the target changed or went";
    ++at;
  }
  return "";
}

long Count(TorvoRTItem* item, const Operation& op, const Target& target) {
  const std::string counted = op.counted ? op.counted : TypeOf(target.place);
  const std::string cell = !target.cell.empty() ? target.cell : target.definition;
  TorvoRTChunk* scope = (Inside(target.place) || !target.cell.empty()) && op.counted
                            ? item->DefineChunk(cell.c_str())
                            : item->DefineChunk("");
  return scope->GetCount(counted.c_str());
}

Before Snapshot(Workspace& work, const Operation& op, const Target& target) {
  Before b;
  b.records = work.Records();
  TorvoRTChunk* chunk = work.item()->DefineChunk(target.definition.c_str());
  // A removed row renumbers the rows after it and the table's row count; a
  // write inside an element changes nothing beyond the element.
  const std::string& d = target.definition;
  TorvoRTChunk* range = target.place == Place::Row && op.writes == Writes::Removes
                            ? work.item()->DefineChunk("Table 1")
                        : d.starts_with("Inside ") ? work.item()->DefineChunk(d.substr(7).c_str())
                                                   : chunk;
  b.first = size_t(range->GetPropertyNumber("FirstRecord"));
  b.last = size_t(range->GetPropertyNumber("LastRecord"));
  b.count = Count(work.item(), op, target);
  b.text = AllText(work.item(), target.definition);
  b.withinParagraph = target.place == Place::Text && b.first > 1 && b.first <= b.records.size() &&
                      !OpensParagraph(b.records[b.first - 2].sig);
  b.followedWithinParagraph = b.last < b.records.size() && !EndsParagraph(b.records[b.last]);
  if (target.place == Place::Table) b.tables = chunk->GetCount("Table");
  return b;
}

// What is wrong after `op` ran on `target` of the item; empty when nothing.
std::string Broken(Workspace& work, const Operation& op, const Target& target, const Before& b) {
  TorvoRTItem* item = work.item();
  std::string problems = OutsideChanges(b.records, work.Records(), b.first, b.last);
  const long count = Count(item, op, target);
  if (target.place != Place::Range && count != b.count + op.delta(target.place, b))
    problems += " " + std::string(op.counted ? op.counted : TypeOf(target.place)) + " count " +
                std::to_string(b.count) + " became " + std::to_string(count) + ";";
  const bool cell = Inside(target.place);
  const bool beside = op.writes == Writes::Before || op.writes == Writes::After;
  const std::string here = cell                               ? target.definition
                           : beside && !target.cell.empty()   ? target.cell
                           : op.writes == Writes::Before      ? target.before
                           : op.writes == Writes::After       ? target.after
                                                              : target.definition;
  const std::string text = AllText(item, here);
  switch (op.writes) {
    case Writes::Before:
    case Writes::After:
      if (text.find(kWritten) == std::string::npos)
        problems += " " + here + " reads \"" + text.substr(0, 60) + "\";";
      break;
    case Writes::Replaces:
      if (text != kWritten) problems += " " + here + " reads \"" + text.substr(0, 60) + "\";";
      break;
    case Writes::Keeps:
      if (op.counted == std::string("Text") && text != b.text)
        problems += " the text of " + here + " changed;";
      break;
    case Writes::Removes:
      if ((target.place == Place::Cell || target.place == Place::Range) && !text.empty())
        problems += " what was removed reads \"" + text.substr(0, 60) + "\";";
      // A cell keeps its own attribute records (those of tables in it go).
      for (size_t i = b.first, nest = 0; target.place == Place::Cell && i < b.last; ++i) {
        const Record& r = b.records[i];
        nest += r.sig == 163 || r.sig == 207 ? 1 : r.sig == 165 || r.sig == 209 ? -1 : 0;
        const auto in = [&r](const std::vector<Record>& l) {
          return std::count(l.begin(), l.end(), r);
        };
        if (!nest && (r.sig == 211 || r.sig == 0xFF7B) && in(work.Records()) < in(b.records))
          problems += " the cell's record " + std::to_string(r.sig) + " went;";
      }
      break;
  }
  return problems;
}

TEST(WriteCorpus, EveryItemStaysSoundUnderTheCommonWrites) {
  const std::string corpus = kvtest::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no corpus";
  std::vector<CorpusItem> items = CorpusItems(corpus + "/dxl");
  // Shapes stored documents hold that the corpus lacks: a paragraph ending in
  // a picture, a paragraph opening with an empty run.
  items.push_back({"built picture", "Body",
                   {Join({Para(), Pab(1), PabRef(1), Text("one"), Para(), Pab(2), PabRef(2),
                          pictures::Graphic(10, 10), Para(), PabRef(1), Text("three")})},
                   {}});
  items.push_back({"built empty run", "Body",
                   {Join({Para(), Pab(1), PabRef(1), Text(""), Text("b"), Para(), PabRef(1),
                          Text("two")})},
                   {}});
  // A link; a table whose first cell spans two rows (no row to copy) and
  // whose second holds a section, then its colour and identifiers (kept by a
  // removal of the cell's content).
  Bytes spanning = Cell(0, 0), colour = {211, 8, 0, 0, 0xE1, 0xEF, 0xF1, 0}, ids = IdName("c", "");
  spanning[14] = 2;
  ids[0] = 0x7B;
  items.push_back(
      {"built link, section and spans", "Body",
       {Join({Para(), Pab(1), PabRef(1), Hotspot(0xFFA9, 11, 0, "http://x/o"), Text("link"),
              HotspotEnd(0xAA), Text("after"), TableBegin(), spanning, Para(), PabRef(1), Text("A"),
              Cell(0, 1), Para(), PabRef(1), Begin(0xFFAD), Hotspot(0xFFAD, 12), SectionBar("T"),
              Para(), PabRef(1), Text("body"), HotspotEnd(), End(0xAE), colour, ids, Cell(1, 1),
              Para(), PabRef(1), Text("D"), TableEnd()})},
       {}});
  ASSERT_FALSE(items.empty());
  size_t writes = 0, soundBefore = 0;
  for (const CorpusItem& source : items) {
    // Which targets the item holds, and whether it is sound as stored.
    std::vector<const Target*> present;
    bool sound = false;
    {
      Workspace probe(source);
      ASSERT_TRUE(probe.ok()) << source.where;
      sound = StructureProblems(probe.Records()).empty();
      for (const Target& t : Targets())
        if (probe.item()->DefineChunk(t.definition.c_str())->Exists()) present.push_back(&t);
    }
    soundBefore += sound;
    for (const Target* target : present) {
      for (const Operation& op : Operations()) {
        const std::string where = source.where + ": " + op.name + " on " + target->definition;
        Workspace work(source);
        ASSERT_TRUE(work.ok()) << where;
        const Before before = Snapshot(work, op, *target);
        TorvoRTChunk* chunk = work.item()->DefineChunk(target->definition.c_str());
        ASSERT_NE(chunk, nullptr) << where;
        const NnStatus st = op.run(chunk);
        const std::vector<Record> after = work.Records();
        if (st != 0) {
          EXPECT_TRUE(after == before.records)
              << where << " failed with " << st << " and changed the item";
          continue;
        }
        ++writes;
        if (sound) {
          EXPECT_EQ(StructureProblems(after), "") << where;
        } else {
          // An item stored with faults gets no new ones.
          EXPECT_LE(writecheck::ProblemCount(after), writecheck::ProblemCount(before.records))
              << where << ":" << StructureProblems(after);
        }
        EXPECT_EQ(Broken(work, op, *target, before), "") << where;
        EXPECT_EQ(work.Reload(after), "") << where;
      }
    }
  }
  EXPECT_GT(writes, 0u);
  EXPECT_GT(soundBefore, 0u);
  RecordProperty("writes", int(writes));
}

// ---- named corpus items ------------------------------------------------------------

// Every write and append method on a target the item does not hold fails,
// and leaves the item, and the note's attachments, as they were.
TEST(WriteCorpusItems, WritesOnAMissingTargetFailAndChangeNothing) {
  const std::string corpus = kvtest::CorpusDir();
  const CorpusItem source = CorpusFileItem("ukl/Forms/Badge.form", "$Body");
  if (source.segments.empty()) GTEST_SKIP() << "no corpus item";
  const std::string dir = kvtest::MakeTempDir();
  const std::string picture = dir + "/logo.gif";
  kvtest::WriteFile(picture, "GIF89a\x01\x00\x01\x00\x00\x00\x00;");
  const std::string badge = corpus + "/dxl/ukl/Forms/Badge.form";
  // The sweep's common writes, and the other methods that write at a target.
  using Call = std::function<long(TorvoRTChunk*)>;
  std::vector<std::pair<const char*, Call>> calls;
  for (const Operation& op : Operations())
    calls.push_back({op.name, [&op](TorvoRTChunk* c) { return long(op.run(c)); }});
  calls.insert(calls.end(), {
      {"SetPropertyText",
       [](TorvoRTChunk* c) { return c->SetPropertyText("FontColor", "Red", 0) ? 0L : 1L; }},
      {"AppendHTML", [](TorvoRTChunk* c) { return c->AppendHTML("IN", "<p>x</p>", nullptr); }},
      {"AppendGraphic",
       [&](TorvoRTChunk* c) { return c->AppendGraphic("FILE", picture.c_str(), "Attach=yes"); }},
      {"AppendRTChunk",
       [&](TorvoRTChunk* c) {
         return c->AppendRTChunk("", badge.c_str(), 0, "$Body", "Text 1", 0);
       }},
      {"AppendHotspot",
       [](TorvoRTChunk* c) {
         return long(c->AppendHotspot("Button JavaScript", "go()", 4, "", "Go", 2));
       }},
      {"AppendLink",
       [](TorvoRTChunk* c) {
         return c->AppendLink("", 0, "http://example.com/", "x", nullptr, nullptr, 0, nullptr, 0,
                              nullptr, 0);
       }},
      {"AppendLayer",
       [](TorvoRTChunk* c) {
         return c->AppendLayer(nullptr, nullptr, nullptr, nullptr, 0, "x", nullptr, nullptr, 0);
       }},
      {"AppendRow", [](TorvoRTChunk* c) { return c->AppendRow(0, 1, nullptr); }},
      {"SortByRow", [](TorvoRTChunk* c) { return long(c->SortByRow(1, 0, 0, 0, "")); }},
  });
  // A text run has nothing inside it.
  for (const char* missing : {"Text 999", "Table 99", "Inside Text 1"}) {
    for (const auto& [name, call] : calls) {
      SCOPED_TRACE(std::string(name) + " on " + missing);
      Workspace work(source);
      ASSERT_TRUE(work.ok());
      const std::vector<Record> before = work.Records();
      TorvoRTChunk* chunk = work.item()->DefineChunk(missing);
      EXPECT_NE(call(chunk), 0);
      EXPECT_TRUE(work.Records() == before);
      EXPECT_NE(NnItemInfo(work.note(), "$FILE", 5, nullptr, nullptr, nullptr, nullptr), NN_OK);
    }
  }
  kvtest::RemoveTree(dir);
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

// Text, paragraphs and a page break put at a picture inside an OLE object:
// none begins a paragraph in the object; text lies in it.
TEST(WriteCorpusItems, WritesAtAPictureInsideAnOleObjectStartNoParagraphThere) {
  const CorpusItem source =
      CorpusFileItem("jnx/testDbDesignForms/form-components.xml", "$Body");
  if (source.segments.empty()) GTEST_SKIP() << "no corpus item";
  using Call = std::pair<const char*, std::function<NnStatus(TorvoRTChunk*)>>;
  const Call calls[] = {
      {"InsertText", [](TorvoRTChunk* g) { return g->InsertText("note", 4, nullptr); }},
      {"AppendText", [](TorvoRTChunk* g) { return g->AppendText("note", 4, nullptr); }},
      {"AppendParagraph",
       [](TorvoRTChunk* g) { return g->AppendParagraph("para", nullptr, nullptr, 0); }},
      {"InsertParagraph",
       [](TorvoRTChunk* g) { return g->InsertParagraph("para", nullptr, nullptr, 0); }},
      {"AppendPageBreak", [](TorvoRTChunk* g) { return g->AppendPageBreak(); }}};
  for (const auto& [name, call] : calls) {
    SCOPED_TRACE(name);
    Workspace work(source);
    ASSERT_TRUE(work.ok());
    const std::vector<Record> before = work.Records();
    TorvoRTChunk* graphic = work.item()->DefineChunk("Graphic 2");
    ASSERT_NE(graphic, nullptr);
    ASSERT_EQ(call(graphic), 0);
    const std::vector<Record> after = work.Records();
    int depth = 0, starts = 0, notes = 0;
    for (const Record& r : after) {
      depth += r.sig == 0xFFA7 ? 1 : r.sig == 0xFFA8 ? -1 : 0;
      starts += depth > 0 && r.sig == 129;
      if (r.sig == 0xFF85 && r.bytes.size() == 12 &&
          std::string(r.bytes.begin() + 8, r.bytes.end()) == "note") {
        ++notes;
        EXPECT_EQ(depth, 1) << "the text lies in the object";
      }
    }
    EXPECT_EQ(starts, 0);
    if (std::string(name).ends_with("Text")) {
      // The records other than texts are the same, in the same order (the
      // clean-up may join the new text with an empty run next to it).
      auto nonText = [](const std::vector<Record>& list) {
        std::vector<Record> out;
        for (const Record& r : list)
          if (r.sig != 0xFF85) out.push_back(r);
        return out;
      };
      EXPECT_TRUE(nonText(after) == nonText(before));
      EXPECT_EQ(notes, 1);
      EXPECT_LE(after.size(), before.size() + 1);
    } else {
      EXPECT_GT(after.size(), before.size());
    }
    // The item as stored references a paragraph it does not define; the
    // call adds no fault of its own.
    EXPECT_EQ(writecheck::ProblemCount(after), writecheck::ProblemCount(before))
        << StructureProblems(after);
    EXPECT_EQ(work.Reload(after), "");
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
