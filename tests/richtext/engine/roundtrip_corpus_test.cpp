// Every property the readers give, set back with its own value, leaves an
// item's records as they are; a changed value reads back changed, and the
// records outside its target (tables nested in a table included) stay as they
// were. Over every table, text run, picture and hotspot of every rich-text
// item of the corpus, and a document and a URL link added to each.
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "corpus_items.h"
#include "richtext/engine/opcodes.h"
#include "richtext/engine/properties.h"

using namespace corpusitems;
using writecheck::Record;

namespace {

std::string Text(const char* value) { return value ? value : ""; }

std::string Prop(TorvoRTChunk* c, const char* name) {
  char buffer[4096] = {};
  c->GetPropertyText(name, buffer, sizeof buffer);
  return buffer;
}

// The records that differ between two lists: changed, added and dropped
// ones (the lists are aligned again after a few records at most).
std::vector<uint16_t> Changed(const std::vector<Record>& a, const std::vector<Record>& b) {
  // The lists agree again at (i, j) (or both end there).
  auto aligned = [&](size_t i, size_t j) {
    if (i >= a.size() || j >= b.size()) return i >= a.size() && j >= b.size();
    return a[i] == b[j];
  };
  std::vector<uint16_t> changed;
  size_t i = 0, j = 0;
  while (i < a.size() || j < b.size()) {
    if (i < a.size() && j < b.size() && a[i] == b[j]) {
      ++i, ++j;
      continue;
    }
    // The fewest records changed, added or dropped after which the lists agree again.
    size_t da = 0, db = 0;
    // Records changed in place first (as many on both sides), then added or dropped.
    for (size_t n = 1; n <= 16 && !da && !db; ++n)
      for (size_t k = 0; k <= n && !da && !db; ++k) {
        const size_t x = k % 2 ? n / 2 + (k + 1) / 2 : n / 2 - k / 2;
        if (x <= n && aligned(i + x, j + n - x)) da = x, db = n - x;
      }
    if (!da && !db) da = a.size() - i, db = b.size() - j;
    for (size_t k = 0; k < std::max(da, db); ++k)
      changed.push_back(k < db && j + k < b.size() ? b[j + k].sig : a[i + k].sig);
    i = std::min(a.size(), i + da);
    j = std::min(b.size(), j + db);
  }
  return changed;
}

// A change stays among the target's own records: at most `most` of them
// changed, added or dropped, each of the kinds the target holds.
::testing::AssertionResult Within(const std::vector<uint16_t>& changed,
                                  std::initializer_list<uint16_t> kinds, size_t most) {
  if (changed.size() > most) {
    auto f = ::testing::AssertionFailure() << changed.size() << " records changed:";
    for (uint16_t c : changed) f << " " << c;
    return f;
  }
  for (uint16_t s : changed)
    if (std::find(kinds.begin(), kinds.end(), s) == kinds.end())
      return ::testing::AssertionFailure() << "a record " << s << " changed";
  return ::testing::AssertionSuccess();
}

// Every read and set of one element of an item.
class Element {
 public:
  Element(Workspace& ws, std::string where, std::string definition)
      : ws_(ws), where_(std::move(where)), definition_(std::move(definition)) {}
  TorvoRTChunk* Chunk() { return ws_.item()->DefineChunk(definition_.c_str()); }

  // Sets a value read from the element back and expects the records unchanged.
  void Same(const std::string& what, const std::function<NnStatus(TorvoRTChunk*)>& set) {
    const std::vector<Record> before = ws_.Records();
    const NnStatus st = set(Chunk());
    EXPECT_TRUE(ws_.Records() == before) << where_ << " " << definition_ << ": " << what
                                         << " set back (status " << st << ") changed the item";
    ++checks;
  }

  // The element's own properties of the property table, each set back as
  // it reads (a number as a number).
  void Properties(std::initializer_list<const char*> names) {
    for (const char* name : names) {
      const ChunkPropertyRow* row = FindChunkProperty(name);
      ASSERT_NE(row, nullptr) << name;
      const std::string value = Prop(Chunk(), name);
      if (value.empty()) continue;
      if (row->valueType == 3) {
        const double number = Chunk()->GetPropertyNumber(name);
        Same(name, [&](TorvoRTChunk* c) { return NnStatus(c->SetPropertyNumber(name, number)); });
      } else {
        Same(name + (": " + value),
             [&](TorvoRTChunk* c) { return NnStatus(c->SetPropertyText(name, value.c_str(), 0)); });
      }
    }
  }

  // A change of the item as stored: `set` succeeds, `reads` holds
  // afterwards, and only records of `kinds` change, `most` of them at most.
  void Change(const std::string& what, const std::function<NnStatus(TorvoRTChunk*)>& set,
              const std::function<bool(TorvoRTChunk*)>& reads,
              std::initializer_list<uint16_t> kinds, size_t most) {
    ASSERT_TRUE(ws_.Reset());
    const std::vector<Record> before = ws_.Records();
    EXPECT_EQ(set(Chunk()), 0) << where_ << " " << definition_ << ": " << what;
    EXPECT_TRUE(reads(Chunk())) << where_ << " " << definition_ << ": " << what << " reads back";
    EXPECT_TRUE(Within(Changed(before, ws_.Records()), kinds, most))
        << where_ << " " << definition_ << ": " << what;
    ++checks;
  }

  // A value that cannot be set: refused, the item as it was.
  void Refused(const std::string& what, const std::function<NnStatus(TorvoRTChunk*)>& set) {
    const std::vector<Record> before = ws_.Records();
    EXPECT_NE(set(Chunk()), 0) << where_ << " " << definition_ << ": " << what;
    EXPECT_TRUE(ws_.Records() == before) << where_ << " " << definition_ << ": " << what;
    ++checks;
  }

  static inline size_t checks = 0;

 private:
  Workspace& ws_;
  std::string where_;
  std::string definition_;
};

// The listings of every table of the item, and their HTML values: what a
// change of one table leaves as it was in the others.
std::vector<std::string> TableReadings(TorvoRTItem* item, long tables) {
  std::vector<std::string> out;
  for (long t = 1; t <= tables; ++t) {
    TorvoRTChunk* c = item->DefineChunk(("Table " + std::to_string(t)).c_str());
    std::string reading = Text(c->GetTableProperties(""));
    for (const char* attr : {"ID", "Class", "Style", "Name"}) reading += Text(c->GetHTMLValue(attr, "Table"));
    out.push_back(reading);
  }
  return out;
}

void Tables(Workspace& ws, const std::string& where) {
  const long tables = ws.item()->DefineChunk("")->GetCount("Table");
  for (long t = 1; t <= tables; ++t) {
    const std::string def = "Table " + std::to_string(t);
    Element e(ws, where, def);
    e.Properties({"TableFitToWindow"});
    e.Same("its listing", [](TorvoRTChunk* c) {
      return c->ChangeTable(Text(c->GetTableProperties("")).c_str(), 0);
    });
    e.Same("its target listing", [](TorvoRTChunk* c) {
      return c->ChangeTable(Text(c->GetTargetProperties("Table", "")).c_str(), 0);
    });
    static const char* const kAttributes[] = {"Name", "ID", "Class", "Style", "Title", "Other"};
    for (uint32_t a = 0; a < 6; ++a)
      e.Same(std::string("its HTML ") + kAttributes[a], [&](TorvoRTChunk* c) {
        const std::string value = Text(c->GetHTMLValue(kAttributes[a], "Table"));
        c->AlterRichText(2422, a + 1, 1, 0, 0, nullptr, value.c_str(), nullptr, nullptr);
        return c->lastStatus;
      });

    // Changes of this table alone: the others (nested ones included) read
    // as they did.
    auto alone = [&](const std::string& what, const std::function<NnStatus(TorvoRTChunk*)>& set,
                     const std::function<bool(TorvoRTChunk*)>& reads,
                     std::initializer_list<uint16_t> kinds, size_t most) {
      ASSERT_TRUE(ws.Reset());
      const std::vector<std::string> others = TableReadings(ws.item(), tables);
      e.Change(what, set, reads, kinds, most);
      const std::vector<std::string> now = TableReadings(ws.item(), tables);
      for (long o = 0; o < tables; ++o) {
        if (o == t - 1) continue;
        EXPECT_EQ(now[size_t(o)], others[size_t(o)]) << where << " " << def << ": " << what
                                                     << " changed table " << o + 1;
      }
    };
    const bool fixed = Text(e.Chunk()->GetTableProperties("TableWidth")) == "TableWidth=FIXED ";
    const char* width = fixed ? "TableWidth=FIT_WITH_MARGINS" : "TableWidth=FIXED";
    alone(width, [&](TorvoRTChunk* c) { return c->ChangeTable(width, 0); },
          [&](TorvoRTChunk* c) {
            return (Text(c->GetTableProperties("TableWidth")) == "TableWidth=FIXED ") != fixed;
          },
          {0xFFFB, 163, 207}, 2);
    const char* style = "TableHTMLStyle=\"font-family:'Arial'\"";
    alone(style, [&](TorvoRTChunk* c) { return c->ChangeTable(style, 0); },
          [](TorvoRTChunk* c) {
            return Text(c->GetTargetProperties("Table", "TableHTMLStyle")) == "font-family:'Arial'";
          },
          {0xFFFB, 0xFF7A, 221, 222}, 3);
    alone("RowCycleMilliseconds=750",
          [](TorvoRTChunk* c) { return c->ChangeTable("RowCycleMilliseconds=750", 0); },
          [](TorvoRTChunk* c) {
            return Text(c->GetTableProperties("RowCycleMilliseconds")) ==
                   "RowCycleMilliseconds=750 ";
          },
          {225}, 1);
    e.Same("its changed listing", [](TorvoRTChunk* c) {
      return c->ChangeTable(Text(c->GetTableProperties("")).c_str(), 0);
    });
    e.Refused("an unknown key", [](TorvoRTChunk* c) { return c->ChangeTable("TableColour=Red", 0); });
  }
}

void TextRuns(Workspace& ws, const std::string& where) {
  const long runs = ws.item()->DefineChunk("")->GetCount("Text");
  for (long r = 1; r <= runs; ++r) {
    Element e(ws, where, "Text " + std::to_string(r));
    e.Properties({"Font", "FontColor", "FontFace", "PointSize", "TextAttributes", "Text",
                  "UnformattedText", "PassthruHTML", "LanguageTag"});
    e.Same("its font", [](TorvoRTChunk* c) { return c->ChangeFont(Prop(c, "Font").c_str(), nullptr, 0); });
    e.Refused("a word that is no font word", [](TorvoRTChunk* c) {
      return c->ChangeFont("Bold RGB127,96 10pt Arial", nullptr, 0);
    });
    const bool bold = Prop(e.Chunk(), "TextAttributes").find("Bold") != std::string::npos;
    e.Change(bold ? "-Bold" : "+Bold",
             [&](TorvoRTChunk* c) { return c->ChangeFont(bold ? "-Bold" : "+Bold", nullptr, 0); },
             [&](TorvoRTChunk* c) {
               return (Prop(c, "TextAttributes").find("Bold") != std::string::npos) != bold;
             },
             {0xFF85}, 1);
    e.Change("an RGB colour",
             [](TorvoRTChunk* c) { return c->SetPropertyText("FontColor", "RGB10,20,30", 0) ? 0 : 1; },
             [](TorvoRTChunk* c) { return Prop(c, "FontColor") == "RGB10,20,30"; },
             {0xFF85, 221, 222, 210}, 4);
    e.Change("palette colour 2", [](TorvoRTChunk* c) { return c->SetPropertyNumber("FontColor", 2) ? 0 : 1; },
             [](TorvoRTChunk* c) { return Prop(c, "FontColor") == "Red"; }, {0xFF85, 221, 222, 210}, 4);
    // Pass-through marking (a run with text: an empty one keeps none).
    const bool passthru = e.Chunk()->GetPropertyNumber("PassthruHTML") != 0;
    if (!Prop(e.Chunk(), "Text").empty())
      e.Change(passthru ? "PassthruHTML 0" : "PassthruHTML 1",
               [&](TorvoRTChunk* c) { return c->SetPropertyNumber("PassthruHTML", !passthru) ? 0 : 1; },
               [&](TorvoRTChunk* c) { return (c->GetPropertyNumber("PassthruHTML") != 0) != passthru; },
               {0xFFCC, 0xFFCD}, 2);
    e.Same("its changed font", [](TorvoRTChunk* c) { return c->ChangeFont(Prop(c, "Font").c_str(), nullptr, 0); });
  }
}

void Pictures(Workspace& ws, const std::string& where) {
  const long pictures = ws.item()->DefineChunk("")->GetCount("Graphic");
  for (long p = 1; p <= pictures; ++p) {
    Element e(ws, where, "Graphic " + std::to_string(p));
    e.Properties({"GraphicStorage", "GraphicWidth", "GraphicHeight", "ImageInPixels", "HideFormula"});
    e.Same("its element properties", [](TorvoRTChunk* c) {
      const std::string listing = Text(c->GetTargetProperties("Graphic", ""));
      c->AlterRichText(2437, GRAPHIC, 0, 0, 0, listing.c_str(), nullptr, nullptr, nullptr);
      return c->lastStatus;
    });
  }
}

void Hotspots(Workspace& ws, const std::string& where) {
  const long hotspots = ws.item()->DefineChunk("")->GetCount("Hotspot");
  for (long h = 1; h <= hotspots; ++h) {
    Element e(ws, where, "Hotspot " + std::to_string(h));
    e.Properties({"ButtonText", "ActionFormula", "HotspotBorder", "PopupText", "TargetFrame",
                  "LinkURL", "LinkAnchorText", "LinkHintServer", "LinkPopupText",
                  "LinkNoteUniversalID", "LinkReplicaID", "LinkViewUniversalID"});
  }
}

TEST(RoundTripCorpus, EveryPropertySetBackLeavesTheItemAndAChangeOnlyItsTarget) {
  const std::string corpus = kvtest::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no corpus";
  const std::vector<CorpusItem> items = CorpusItems(corpus + "/dxl");
  ASSERT_FALSE(items.empty());
  for (const CorpusItem& source : items) {
    Workspace ws(source);
    ASSERT_TRUE(ws.ok()) << source.where;
    Tables(ws, source.where);
    TextRuns(ws, source.where);
    Pictures(ws, source.where);
    Hotspots(ws, source.where);
    EXPECT_EQ(ws.Reload(ws.Records()), "") << source.where;
  }
  EXPECT_GT(Element::checks, 0u);
}

}  // namespace
