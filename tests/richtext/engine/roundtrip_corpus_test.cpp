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

// A setter's answer (1 set, 0 refused) as a status.
NnStatus Status(TorvoRTChunk* c, int set) { return set ? 0 : c->lastStatus ? c->lastStatus : 1; }

// A change stays among the target's own records: the records of other kinds
// are those there were, in their order, and at most `most` records changed.
// Between two records of other kinds, the records that differ once the same
// ones at either side are passed count as many changed as the longer side holds.
::testing::AssertionResult Within(const std::vector<Record>& before,
                                  const std::vector<Record>& after,
                                  std::initializer_list<uint16_t> kinds, size_t most) {
  auto own = [&](const Record& r) {
    return std::find(kinds.begin(), kinds.end(), r.sig) != kinds.end();
  };
  auto others = [&](const std::vector<Record>& list) {
    std::vector<Record> out;
    for (const Record& r : list)
      if (!own(r)) out.push_back(r);
    return out;
  };
  auto f = ::testing::AssertionFailure();
  if (!(others(before) == others(after))) return f << " (records of other kinds changed)";
  size_t changed = 0;
  for (size_t i = 0, j = 0; i <= before.size() && j <= after.size(); ++i, ++j) {
    size_t ie = i, je = j;
    while (ie < before.size() && own(before[ie])) ++ie;
    while (je < after.size() && own(after[je])) ++je;
    while (i < ie && j < je && before[i] == after[j]) ++i, ++j;
    while (i < ie && j < je && before[ie - 1] == after[je - 1]) --ie, --je;
    for (size_t k = i; k < ie; ++k) f << " " << before[k].sig;
    for (size_t k = j; k < je; ++k) f << " " << after[k].sig;
    changed += std::max(ie - i, je - j);
    for (; i < before.size() && own(before[i]); ++i) {
    }
    for (; j < after.size() && own(after[j]); ++j) {
    }
  }
  if (changed > most) return f << " (" << changed << " records changed)";
  return ::testing::AssertionSuccess();
}

std::string Page(Workspace& ws) { return writecheck::RenderXhtml(ws.item()); }

// Whether a value set shows where it belongs: the one element of the page
// holding it in `attribute` is an `element`.
bool ShowsIn(const std::string& page, const char* element, const char* attribute,
             const char* value) {
  std::vector<std::string> holders;
  for (const kvtest::PageElement& e : kvtest::PageElements(page))
    if (e.Attribute(attribute).find(value) != std::string::npos) holders.push_back(e.name);
  return holders == std::vector<std::string>{element};
}

using Setter = std::function<NnStatus(TorvoRTChunk*)>;
Setter Sets(const char* name, const char* value) {
  return [=](TorvoRTChunk* c) { return Status(c, c->SetPropertyText(name, value, 0)); };
}
// The element properties of a target type (2437).
Setter Options(uint32_t type, const std::string& text) {
  return [=](TorvoRTChunk* c) {
    c->AlterRichText(2437, type, 0, 0, 0, text.c_str(), nullptr, nullptr, nullptr);
    return c->lastStatus;
  };
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
    EXPECT_EQ(st, 0) << where_ << " " << definition_ << ": " << what << " set back refused";
    ++checks;
  }

  // The element's own properties of the property table, each set back as
  // it reads (a number as a number).
  void Properties(std::initializer_list<const char*> names) {
    for (const char* name : names) {
      const ChunkPropertyRow* row = FindChunkProperty(name);
      ASSERT_NE(row, nullptr) << name;
      const std::string value = Prop(Chunk(), name);
      // A formula compiled elsewhere reads as an error text, never a formula.
      if (value.empty() || value.rfind("*** Error: ", 0) == 0) continue;
      // Rows read-only, without a set step, or answered by the chunk (but
      // ActionFormula, CellColor, PassthruHTML) refuse what they read.
      if (row->readOnly || (row->chunkHandled ? row->code != 2301 && row->code != 2606 &&
                                                    row->code != 2612
                                              : !row->setStep)) {
        Refused(name, [&](TorvoRTChunk* c) {
          return Status(c, c->SetPropertyText(name, value.c_str(), 0));
        });
      } else if (row->valueType == 3) {
        const double number = Chunk()->GetPropertyNumber(name);
        Same(name, [&](TorvoRTChunk* c) { return Status(c, c->SetPropertyNumber(name, number)); });
      } else {
        Same(name + (": " + value), [&](TorvoRTChunk* c) {
          return Status(c, c->SetPropertyText(name, value.c_str(), 0));
        });
        // A font part takes its own words: a face and a size would be dropped.
        if (row->setStep == 2363)
          Refused(
              name + std::string(" with a face"),
              [&](TorvoRTChunk* c) { return Status(c, c->SetPropertyText(name, "Courier 9", 0)); },
              NN_ERR_INVALID_ARG);
        // A number is no text (the font colour takes a palette number).
        if (row->code != 2318)
          Refused(
              name + std::string(" as a number"),
              [&](TorvoRTChunk* c) { return Status(c, c->SetPropertyNumber(name, 5)); },
              NN_ERR_INVALID_ARG);
      }
    }
  }

  // A change of the item as stored (after `prepare`): `set` succeeds, `reads` holds
  // afterwards, and only records of `kinds` change, `most` of them at most.
  void Change(const std::string& what, const std::function<NnStatus(TorvoRTChunk*)>& set,
              const std::function<bool(TorvoRTChunk*)>& reads,
              std::initializer_list<uint16_t> kinds, size_t most,
              const std::function<void()>& prepare = nullptr) {
    ASSERT_TRUE(ws_.Reset());
    if (prepare) prepare();
    const std::vector<Record> before = ws_.Records();
    EXPECT_EQ(set(Chunk()), 0) << where_ << " " << definition_ << ": " << what;
    EXPECT_TRUE(reads(Chunk())) << where_ << " " << definition_ << ": " << what << " reads back";
    EXPECT_TRUE(Within(before, ws_.Records(), kinds, most))
        << where_ << " " << definition_ << ": " << what;
    ++checks;
  }

  // A value that cannot be set: refused, the item as it was.
  void Refused(const std::string& what, const std::function<NnStatus(TorvoRTChunk*)>& set,
               NnStatus expected = 0) {
    const std::vector<Record> before = ws_.Records();
    const NnStatus st = set(Chunk());
    EXPECT_TRUE(expected ? st == expected : st != 0)
        << where_ << " " << definition_ << ": " << what << " (status " << st << ")";
    EXPECT_TRUE(ws_.Records() == before) << where_ << " " << definition_ << ": " << what;
    ++checks;
  }

  // Properties of kinds the element cannot hold: setting one fails with
  // the invalid-argument status, the item as it was.
  void Foreign(std::initializer_list<const char*> names) {
    for (const char* name : names)
      if (Prop(Chunk(), name).empty())
        Refused(
            name, [&](TorvoRTChunk* c) { return Status(c, c->SetPropertyText(name, "x", 0)); },
            NN_ERR_INVALID_ARG);
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
    for (const char* attr : {"ID", "Class", "Style", "Name"})
      reading += Text(c->GetHTMLValue(attr, "Table"));
    TorvoRTChunk* cell =
        item->DefineChunk(("Table " + std::to_string(t) + "; Row 1; Column 1").c_str());
    reading += Text(cell->GetCellBorder(nullptr)) + Prop(cell, "CellColor");
    out.push_back(reading);
  }
  return out;
}

// Each row's label (of its own table) and cell's colour set back leave the
// item as stored; new ones read back, only their records change, and the
// colour shows on that cell's td alone (no page shows labels).
void Cells(Workspace& ws, const std::string& where, const std::string& table) {
  for (long r = 1, rows = ws.item()->DefineChunk(table.c_str())->GetCount("Row"); r <= rows; ++r) {
    const std::string row = table + "; Row " + std::to_string(r);
    Element labelled(ws, where, row);
    labelled.Properties({"RowLabel"});
    labelled.Change("RowLabel", Sets("RowLabel", "Kv <l>"),
                    [](TorvoRTChunk* k) { return Prop(k, "RowLabel") == "Kv <l>"; }, {0xFFE3}, 1);
    for (long c = 1, n = ws.item()->DefineChunk(row.c_str())->GetCount("Column"); c <= n; ++c) {
      Element cell(ws, where, row + "; Column " + std::to_string(c));
      cell.Properties({"CellColor"});
      cell.Change("CellColor", Sets("CellColor", "RGB10,20,30"), [&](TorvoRTChunk* k) {
        return Prop(k, "CellColor") == "RGB10,20,30" &&
               ShowsIn(Page(ws), "td", "style", "background-color:#0a141e");
      }, {164, 208, 211}, 2);
      cell.Properties({"CellColor"});
    }
  }
}

void Tables(Workspace& ws, const std::string& where) {
  const long tables = ws.item()->DefineChunk("")->GetCount("Table");
  for (long t = 1; t <= tables; ++t) {
    const std::string def = "Table " + std::to_string(t);
    Element e(ws, where, def);
    e.Properties({"TableFitToWindow", "RowLabel"});
    const auto listing = [](TorvoRTChunk* c) {
      return c->ChangeTable(Text(c->GetTableProperties("")).c_str(), 0);
    };
    e.Same("its listing", listing);
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
        EXPECT_EQ(now[size_t(o)], others[size_t(o)])
            << where << " " << def << ": " << what << " changed table " << o + 1;
      }
    };
    const bool fixed = Text(e.Chunk()->GetTableProperties("TableWidth")) == "TableWidth=FIXED ";
    const char* width = fixed ? "TableWidth=FIT_WITH_MARGINS" : "TableWidth=FIXED";
    alone(
        width, [&](TorvoRTChunk* c) { return c->ChangeTable(width, 0); },
        [&](TorvoRTChunk* c) {
          return (Text(c->GetTableProperties("TableWidth")) == "TableWidth=FIXED ") != fixed;
        },
        {0xFFFB, 163, 207}, 2);
    // An attribute record goes in the pre-table group: a table without one
    // refuses it.
    const char* style = "TableHTMLStyle=\"font-family:'Arial'\"";
    if (Text(e.Chunk()->GetTableProperties("TableColor")).empty())
      e.Refused(style, [&](TorvoRTChunk* c) { return c->ChangeTable(style, 0); });
    else
      alone(
          style, [&](TorvoRTChunk* c) { return c->ChangeTable(style, 0); },
          [](TorvoRTChunk* c) {
            return Text(c->GetTargetProperties("Table", "TableHTMLStyle")) == "font-family:'Arial'";
          },
          {0xFFFB, 0xFF7A, 221, 222}, 3);
    alone(
        "RowCycleMilliseconds=750",
        [](TorvoRTChunk* c) { return c->ChangeTable("RowCycleMilliseconds=750", 0); },
        [](TorvoRTChunk* c) {
          return Text(c->GetTableProperties("RowCycleMilliseconds")) == "RowCycleMilliseconds=750 ";
        },
        {225}, 1);
    // The cell operations, on every cell of this table.
    auto firstCell = [&](const char* p) {
      return Prop(ws.item()->DefineChunk((def + "; Row 1; Column 1").c_str()), p);
    };
    alone(
        "cell borders",
        [](TorvoRTChunk* c) {
          c->AlterRichText(2393, 0, 0, 0, 0, "2222", nullptr, nullptr, nullptr);
          return c->lastStatus;
        },
        [&](TorvoRTChunk* c) {
          return Text(ws.item()
                          ->DefineChunk((def + "; Row 1; Column 1").c_str())
                          ->GetCellBorder(nullptr)) == "2,2,2,2" &&
                 c;
        },
        {164, 208}, 1000);
    alone(
        "cell colour",
        [](TorvoRTChunk* c) { return c->SetPropertyText("CellColor", "Yellow", 0) ? 0 : 1; },
        [&](TorvoRTChunk*) { return firstCell("CellColor") == "Yellow"; }, {164, 208, 211}, 1000);
    e.Same("its changed listing", listing);
    e.Refused("an unknown key",
              [](TorvoRTChunk* c) { return c->ChangeTable("TableColour=Red", 0); });
    Cells(ws, where, def);
  }
}

// Pass-through marking turned over (on a target with text: an empty one
// keeps none): only markers change, `most` of them at most.
void TogglePassthru(Element& e, size_t most) {
  if (Prop(e.Chunk(), "Text").empty()) return;
  const bool passthru = e.Chunk()->GetPropertyNumber("PassthruHTML") != 0;
  e.Change(
      passthru ? "PassthruHTML 0" : "PassthruHTML 1",
      [&](TorvoRTChunk* c) { return c->SetPropertyNumber("PassthruHTML", !passthru) ? 0 : 1; },
      [&](TorvoRTChunk* c) { return (c->GetPropertyNumber("PassthruHTML") != 0) != passthru; },
      {0xFFCC, 0xFFCD}, most);
}

// Pass-through marking of every paragraph, and of the whole item (marked,
// each of its runs reads so).
void Paragraphs(Workspace& ws, const std::string& where) {
  const long paragraphs = ws.item()->DefineChunk("")->GetCount("Paragraph");
  for (long p = 1; p <= paragraphs; ++p) {
    Element e(ws, where, "Paragraph " + std::to_string(p));
    TogglePassthru(e, 4);
    if (e.Chunk()->GetCount("Paragraph") == 1)
      e.Foreign({"SectionTitle", "TargetFrame", "RowLabel", "AnchorText", "ButtonText",
                 "LinkReplicaID"});
    // Its style set back leaves its records as they are, and reads as it did
    // (a paragraph holding others, in a layer or a table, sets them all).
    const std::string style = Prop(e.Chunk(), "ParagraphStyle");
    if (style.empty() || e.Chunk()->GetCount("Paragraph") > 1) continue;
    e.Same("ParagraphStyle", [&](TorvoRTChunk* c) {
      return Status(c, c->SetPropertyText("ParagraphStyle", style.c_str(), 0));
    });
    EXPECT_EQ(Prop(e.Chunk(), "ParagraphStyle"), style) << where << " Paragraph " << p;
  }
  Element all(ws, where, "");
  const size_t markers = size_t(writecheck::Count(ws.Records(), 0xFFCC) * 2);
  TogglePassthru(all, 2 + markers);
  if (Prop(all.Chunk(), "Text").empty()) return;
  all.Change(
      "PassthruHTML 1",
      [](TorvoRTChunk* c) { return c->SetPropertyNumber("PassthruHTML", 1) ? 0 : 1; },
      [&](TorvoRTChunk* c) {
        for (long r = c->GetCount("Text"); r > 0; --r) {
          TorvoRTChunk* run = ws.item()->DefineChunk(("Text " + std::to_string(r)).c_str());
          if (!run->GetPropertyNumber("PassthruHTML") && !Prop(run, "Text").empty()) return false;
        }
        return true;
      },
      {0xFFCC, 0xFFCD}, 2 + markers);
}

void TextRuns(Workspace& ws, const std::string& where) {
  const long runs = ws.item()->DefineChunk("")->GetCount("Text");
  for (long r = 1; r <= runs; ++r) {
    Element e(ws, where, "Text " + std::to_string(r));
    e.Properties({"Font", "FontColor", "FontFace", "PointSize", "TextAttributes", "PassthruHTML",
                  "LanguageTag"});
    e.Foreign({"SectionTitle", "TargetFrame", "RowLabel", "ButtonText", "AnchorText",
               "LinkReplicaID", "ActionFormula", "CellColor", "GraphicStorage"});
    // The text, line breaks "\n" both ways; a new one shows on the page where
    // the run's own text does (not pass-through HTML, not in a hotspot).
    e.Properties({"Text", "UnformattedText"});
    const bool plain = !e.Chunk()->GetPropertyNumber("PassthruHTML") &&
                       !e.Chunk()->GetPropertyNumber("InsideHotspot");
    const bool visible =
        plain && Prop(e.Chunk(), "Text").find_first_not_of(" \t\n") != std::string::npos;
    e.Change("a text with a line break", Sets("Text", "Kv1\nKv2"), [&](TorvoRTChunk* c) {
      return Prop(c, "Text") == "Kv1\nKv2" &&
             (!plain || Page(ws).find("Kv1<br />Kv2") != std::string::npos);
    }, {0xFF85, 221, 222, 210}, 4);
    e.Same("its font",
           [](TorvoRTChunk* c) { return c->ChangeFont(Prop(c, "Font").c_str(), nullptr, 0); });
    e.Refused("a word that is no font word", [](TorvoRTChunk* c) {
      return c->ChangeFont("Bold RGB127,96 10pt Arial", nullptr, 0);
    });
    e.Refused("a new gradient", [](TorvoRTChunk* c) {
      return c->ChangeFont("RGB127,96,79 GRADIENT1,2,3", nullptr, 0);
    });
    const bool bold = Prop(e.Chunk(), "TextAttributes").find("Bold") != std::string::npos;
    e.Change(
        bold ? "-Bold" : "+Bold",
        [&](TorvoRTChunk* c) { return c->ChangeFont(bold ? "-Bold" : "+Bold", nullptr, 0); },
        [&](TorvoRTChunk* c) {
          return (Prop(c, "TextAttributes").find("Bold") != std::string::npos) != bold;
        },
        {0xFF85}, 1);
    // A colour as text, attributes, a palette colour as a number (2, red):
    // each reads back, and only the run's font records change.
    struct FontSet {
      const char* name;
      const char* text;  // null: palette colour 2
      std::string reads;
    };
    const char* attributes =
        Prop(e.Chunk(), "TextAttributes") == "Italic" ? "Bold Embossed" : "Italic";
    for (const FontSet& f : {FontSet{"FontColor", "RGB10,20,30", "RGB10,20,30"},
                             FontSet{"TextAttributes", attributes, attributes},
                             FontSet{"FontColor", nullptr, "Red"}})
      e.Change(
          std::string(f.name) + " " + f.reads,
          [&](TorvoRTChunk* c) {
            return (f.text ? c->SetPropertyText(f.name, f.text, 0) : c->SetPropertyNumber(f.name, 2))
                       ? 0
                       : 1;
          },
          [&](TorvoRTChunk* c) { return Prop(c, f.name) == f.reads; }, {0xFF85, 221, 222, 210}, 4);
    // A highlight added to a run in an RGB colour keeps the colour: both read
    // back, and the page shows the colour on the run.
    for (const Setter& highlight :
         {Sets("TextAttributes", "Bold HighlightYellow"),
          Setter([](TorvoRTChunk* c) { return c->ChangeFont("+HighlightYellow", nullptr, 0); })})
      e.Change("HighlightYellow on RGB10,20,30", highlight, [&](TorvoRTChunk* c) {
        return Prop(c, "FontColor") == "RGB10,20,30" &&
               Prop(c, "TextAttributes").find("HighlightYellow") != std::string::npos &&
               (!visible || ShowsIn(Page(ws), "span", "style", "color:#0a141e"));
      }, {0xFF85, 210}, 2, [&] { ASSERT_EQ(Sets("FontColor", "RGB10,20,30")(e.Chunk()), 0); });
    TogglePassthru(e, 2);
    e.Same("its changed font",
           [](TorvoRTChunk* c) { return c->ChangeFont(Prop(c, "Font").c_str(), nullptr, 0); });
  }
}

void Pictures(Workspace& ws, const std::string& where) {
  const long pictures = ws.item()->DefineChunk("")->GetCount("Graphic");
  for (long p = 1; p <= pictures; ++p) {
    Element e(ws, where, "Graphic " + std::to_string(p));
    e.Properties(
        {"GraphicStorage", "GraphicWidth", "GraphicHeight", "ImageInPixels", "HideFormula"});
    e.Foreign({"SectionTitle", "RowLabel", "AnchorText", "ActionFormula", "CellColor",
               "LinkReplicaID"});
    const std::string listing = Text(e.Chunk()->GetTargetProperties("Graphic", ""));
    e.Same("its element properties", Options(GRAPHIC, listing));
    // Each property set reads back from the picture's own records (inside
    // the group it may have) and shows on the page (the alt text and class on
    // its img alone, with an alt text for a picture the page cannot show
    // itself); set once more, it adds nothing.
    for (const char* set : {"AltText='A<&'", "Caption='A<&'", "GraphicHTMLClass='A<&'",
                            "BorderStyle=SOLID BorderThicknessTop=2"}) {
      const std::string key(set, std::strchr(set, '=') - set);
      auto shows = [&](const std::string& page) {
        if (key != "Caption")
          return ShowsIn(page, "img", key == "AltText" ? "alt" : "class", "A<&");
        return page.find("\">A&lt;&amp;</span>") != std::string::npos;
      };
      e.Change(
          set, Options(GRAPHIC, set),
          [&](TorvoRTChunk* c) {
            return key == "BorderStyle" ||
                   (Text(c->GetTargetProperties("Graphic", key.c_str())) == "A<&" &&
                    shows(Page(ws)));
          },
          {153, 221, 222, 0xFFCA, 0xFF76, 0xFF7A, 0xFFFC}, 3,
          [&] {
            EXPECT_TRUE(key != "GraphicHTMLClass" || Options(GRAPHIC, "AltText=kv")(e.Chunk()) == 0);
          });
      e.Same(std::string(set) + " again", Options(GRAPHIC, set));
    }
    e.Refused("a caption of 5,000 characters",
              Options(GRAPHIC, "Caption='" + std::string(5000, 'c') + "'"));
  }
}

// Every layer: its listing set back leaves it as stored; a new size and
// class read back and show on its division of the page alone.
void Layers(Workspace& ws, const std::string& where) {
  auto read = [](TorvoRTChunk* c, const char* key) {
    return Text(c->GetTargetProperties("Layer", key));
  };
  for (long l = 1, n = ws.item()->DefineChunk("")->GetCount("Layer"); l <= n; ++l) {
    Element e(ws, where, "Layer " + std::to_string(l));
    e.Same("its listing", Options(LAYER, read(e.Chunk(), "")));
    e.Change("a size and a class", Options(LAYER, "Width=123px Height=45px LayerHTMLClass='kv<c'"),
             [&](TorvoRTChunk* c) {
               const std::string page = Page(ws);
               return read(c, "Width") + read(c, "Height") + read(c, "LayerHTMLClass") ==
                          "123px45pxkv<c" &&
                      ShowsIn(page, "div", "style", "width: 123px; height: 45px;") &&
                      ShowsIn(page, "div", "class", "kv<c");
             }, {106, 0xFF7A}, 2);
    e.Same("its changed listing", Options(LAYER, read(e.Chunk(), "")));
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

// The corpus holds no links: a document link and a URL link are added to
// the item as stored.
void AddLinks(Workspace& ws) {
  ASSERT_TRUE(ws.Reset());
  TorvoRTChunk* all = ws.item()->DefineChunk("");
  ASSERT_EQ(all->AppendLink(nullptr, 0,
                            "ReplicaID=85255E01001356A8 ViewID=0123456789ABCDEF0123456789ABCDEF "
                            "NoteID=FEDCBA9876543210FEDCBA9876543210 Server='Hub/Acme' "
                            "Anchor='Part 2' Text='See it'",
                            nullptr, nullptr, nullptr, 0, nullptr, 0, nullptr, 0),
            0);
  ASSERT_EQ(all->AppendLink(nullptr, 0, "https://example.org/a?b=c", nullptr, nullptr, nullptr, 0,
                            nullptr, 0, nullptr, 0),
            0);
}

void Links(Workspace& ws, const std::string& where) {
  if (ws.Records().empty()) return;  // appending to an empty item is the write sweep's
  AddLinks(ws);
  for (const char* link : {"Doclink 1", "Hyperlink 1"}) {
    Element e(ws, where, link);
    ASSERT_TRUE(e.Chunk()->Exists()) << where << " " << link;
    e.Properties({"LinkURL", "LinkAnchorText", "LinkHintServer", "LinkPopupText", "PopupText",
                  "LinkNoteUniversalID", "LinkReplicaID", "LinkViewUniversalID"});
  }
  // A new note identifier: only the link record changes.
  const char* note = "00112233445566778899AABBCCDDEEFF";
  Element(ws, where, "Doclink 1")
      .Change(
          "LinkNoteUniversalID",
          [&](TorvoRTChunk* c) {
            return c->SetPropertyText("LinkNoteUniversalID", note, 0) ? 0 : 1;
          },
          [&](TorvoRTChunk* c) { return Prop(c, "LinkNoteUniversalID") == note; }, {0xFF92}, 1,
          [&] { AddLinks(ws); });
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
    Paragraphs(ws, source.where);
    Pictures(ws, source.where);
    Layers(ws, source.where);
    Hotspots(ws, source.where);
    Links(ws, source.where);
    EXPECT_EQ(ws.Reload(ws.Records()), "") << source.where;
  }
  EXPECT_GT(Element::checks, 0u);
  RecordProperty("checks", int(Element::checks));
}

}  // namespace
