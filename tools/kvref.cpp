// kvref: writes the reference page of the installed package (reference.md)
// from the tables the library itself reads: the definition words, the target
// types and their property names, the chunk properties, and the grammar
// notes of option, paragraph and font strings kept beside their parsers, and
// the render option keys. Every example on the page is parsed by the library
// as the page is written, what it says of each property's setter is tried on
// the example document, and each render key is checked against the renderer
// (the keys its sources read, and the change each makes to the example
// page); one that does not hold fails the build.
//
// Usage: kvref SOURCE_DIR OUTPUT.md
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "host/fonts.h"
#include "host/options.h"
#include "host/pool.h"
#include "host/renderoptions.h"
#include "lsxsessi.h"
#include "richtext/chunk/chunkdef.h"
#include "richtext/engine/opcodes.h"
#include "richtext/engine/properties.h"
#include "richtext/engine/tablekeys.h"
#include "richtext/item/parastring.h"
#include "rtchunk.h"
#include "rtitem.h"

namespace {

struct Failure {
  std::string message;
};

[[noreturn]] void Fail(const std::string& message) { throw Failure{message}; }

std::string Join(const std::vector<std::string>& words, const char* separator) {
  std::string out;
  for (const std::string& w : words) out += (out.empty() ? "" : separator) + w;
  return out;
}

std::string Code(const std::string& text) { return "`" + text + "`"; }

// A definition as the chunk writes it back; fails when it does not parse.
std::string WrittenBack(LSXLsiSession* session, const std::string& text) {
  chunkdef_info* chain = ParseChunkDefinition(session, nullptr, text.c_str(), nullptr);
  if (!chain) Fail("the example definition \"" + text + "\" does not parse");
  std::vector<char> out(kTextBufferSize);
  TorvoRTChunk::CalculateDefinition(chain, out.data());
  FreeChunkDefinition(chain);
  return out.data();
}

// The chunk's own writing of a part of one relation and type, occurrence 1.
std::string WrittenPart(uint16_t relation, uint16_t type) {
  chunkdef_info node;
  node.relation = relation;
  node.targetType = type;
  node.occurrenceCount = 1;
  node.occurrences[0] = 1;
  std::vector<char> out(kTextBufferSize);
  TorvoRTChunk::CalculateDefinition(&node, out.data());
  return out.data();
}

// The name a target type is written with: the chunk's own writing of a part
// of that type.
std::string WrittenTypeName(LSXLsiSession* session, uint16_t type) {
  const std::string part = WrittenPart(type == EVERYTHING ? REL_EVERYTHING : REL_CONTAINS, type);
  std::string text = part;
  if (type != EVERYTHING) text = text.substr(0, text.rfind(' '));
  // The writing must read back as the same type.
  if (type != ROW && type != COLUMN && type != EVERYTHING) {
    chunkdef_info* chain = ParseChunkDefinition(session, nullptr, part.c_str(), nullptr);
    const bool same = chain && chain->targetType == type;
    FreeChunkDefinition(chain);
    if (!same) Fail("target type " + std::to_string(type) + " does not read back");
  }
  return text;
}

// The comment block of a header from the line holding `marker` up to the
// end of the comment or to `stop`, without the comment marks.
std::string HeaderNotes(const std::string& sourceDir, const std::string& header,
                        const std::string& marker, const std::string& stop) {
  std::ifstream in(sourceDir + "/" + header);
  if (!in) Fail("cannot read " + header);
  std::string line, out;
  bool inside = false;
  while (std::getline(in, line)) {
    const bool comment = line.rfind("//", 0) == 0;
    if (!inside && comment && line.find(marker) != std::string::npos) inside = true;
    if (!inside) continue;
    if (!comment) break;
    const size_t at = stop.empty() ? std::string::npos : line.find(stop);
    std::string text = line.size() > 3 ? line.substr(3, at == std::string::npos ? at : at - 3) : "";
    while (!text.empty() && text.back() == ' ') text.pop_back();
    if (!text.empty() || at == std::string::npos) out += text + '\n';
    if (at != std::string::npos) break;
  }
  if (out.empty()) Fail(header + " has no notes starting with \"" + marker + "\"");
  while (out.size() > 1 && out[out.size() - 2] == '\n') out.pop_back();
  return out;
}

// Notes as a Markdown block that keeps their lines.
std::string Quoted(const std::string& notes) {
  std::string out = "```text\n" + notes;
  if (out.back() != '\n') out += '\n';
  return out + "```\n";
}

void Definitions(std::ostream& page, LSXLsiSession* session) {
  page << "## Chunk definitions\n\n"
          "A definition selects part of a rich-text item (`TorvoRTItem::DefineChunk`, "
          "`DefineSubChunk`, `ZoomIn`, and the definition arguments of `GetText`, `SetText` "
          "and `GetCount`). It is one or more parts separated by `;`, each looking inside the "
          "one before it. A part is\n\n"
          "    [relation] type [match word] ['match text'] [occurrences]\n\n"
          "Words are read without regard to case; a word is read as the first word of the "
          "tables below that it starts with, so a longer word reads too (`Tables 2` is "
          "`Table 2`, `Substring` is `SUBSTR`) but a shortened one does not (`Tab 2` does not "
          "parse). Occurrences count from 1: one number, a range `2-4`, a list `1,3`, or "
          "`*` for every one; none means 1. A match text is quoted with `'`, `\"` or `|`. "
          "`Row` and `Column` parts follow a `Table`, `Row` or `Column` part. The whole "
          "item is `Everything` (or an empty definition).\n\n";

  page << "Relations (a part without one contains its target):\n\n"
          "| word read | written back as |\n|---|---|\n";
  const DefinitionWords relations = DefinitionRelationWords();
  for (size_t i = 0; i < relations.count; ++i)
    page << "| " << Code(relations.words[i].word) << " | "
         << Code(WrittenPart(relations.words[i].value, TABLE)) << " |\n";

  page << "\nMatch words, before a quoted text (a quoted text alone must match whole):\n\n"
          "| word read | example |\n|---|---|\n";
  const DefinitionWords matches = DefinitionMatchWords();
  for (size_t i = 0; i < matches.count; ++i) {
    const std::string example =
        WrittenBack(session, std::string("Text ") + matches.words[i].word + " 'Tot' 1");
    page << "| " << Code(matches.words[i].word) << " | " << Code(example) << " |\n";
  }

  // What the text above says of word starts.
  if (WrittenBack(session, "Tables 2") != "Table 2") Fail("\"Tables 2\" is not Table 2");
  if (chunkdef_info* chain = ParseChunkDefinition(session, nullptr, "Tab 2", nullptr)) {
    FreeChunkDefinition(chain);
    Fail("\"Tab 2\" parses");
  }

  page << "\nExamples, each as the chunk writes it back (`Definition` property):\n\n"
          "| written | reads back as |\n|---|---|\n";
  for (const char* example :
       {"Everything", "Table 1", "table 2; row 3; column 1", "Table *", "Table 2-4",
        "Text 1,3", "Text 'Total' 1", "Inside Section 1; Text 2", "After Table 1; Paragraph 1",
        "Starts With Paragraph 1", "Field Name 'Subject'"}) {
    const std::string back = WrittenBack(session, example);
    if (WrittenBack(session, back) != back) Fail("\"" + back + "\" does not read back");
    page << "| " << Code(example) << " | " << Code(back) << " |\n";
  }
  page << "\n";
}

void TargetTypes(std::ostream& page, LSXLsiSession* session) {
  page << "## Target types\n\n"
          "The type of a definition part, as the chunk writes it and the words it reads; the "
          "names `GetTargetProperties` reports for the type.\n\n"
          "| type | written | words read | target properties |\n|---|---|---|---|\n";
  const DefinitionWords types = DefinitionTypeWords();
  for (uint16_t t = 0; t < kTargetTypeCount; ++t) {
    std::vector<std::string> words;
    for (size_t i = 0; i < types.count; ++i)
      if (types.words[i].value == t) words.push_back(Code(types.words[i].word));
    std::vector<std::string> properties;
    const TargetPropertyRow& row = TargetPropertyNames[t];
    for (uint16_t i = 0; row.names && i < row.count; ++i)
      if (row.names[i] && *row.names[i]) properties.push_back(row.names[i]);
    page << "| " << t << " | " << Code(WrittenTypeName(session, t)) << " | "
         << (words.empty() ? "-" : Join(words, ", ")) << " | "
         << (properties.empty() ? "-" : Join(properties, ", ")) << " |\n";
  }
  page << "\n";
}

// How a property is set, as the chunk's setters treat its row: read-only
// rows and rows without a set step are refused (with a message); of the rows
// the chunk handles itself only its search options, PassthruHTML,
// ActionFormula and CellColor are set; the others take their kind of value.
struct Setter {
  enum Kind { kRefused, kNone, kByNumber, kByText } kind;
  const char* text;
};

Setter SetWith(const ChunkPropertyRow& row) {
  if (row.readOnly) return {Setter::kRefused, "no (read-only: refused with a message)"};
  if (!row.chunkHandled && !row.setStep)
    return {Setter::kRefused, "no (no handler: refused with a message)"};
  if (row.chunkHandled) {
    if (row.setStep == 0)
      return {Setter::kByNumber, "`SetPropertyNumber` (an option of the chunk itself)"};
    if (row.code == PROPC_PASSTHRU)
      return {Setter::kByNumber, "`SetPropertyNumber`: 1 marks the target, 0 clears it"};
    if (row.code == PROPC_ACTION_FORMULA) return {Setter::kByText, "`SetPropertyText` (formula text)"};
    if (row.code == PROPC_CELL_COLOR) return {Setter::kByText, "`SetPropertyText`"};
    return {Setter::kNone, "no (the setters give 0)"};
  }
  if (row.code == PROPC_FONT_COLOR)
    return {Setter::kByText,
            "`SetPropertyText`, or `SetPropertyNumber` with a palette entry (0-239)"};
  return row.valueType == 3 ? Setter{Setter::kByNumber, "`SetPropertyNumber`"}
                            : Setter{Setter::kByText, "`SetPropertyText`"};
}

// Opens the example document's first note (the caller closes both).
void OpenExample(const std::string& sourceDir, NnHandle* db, NnHandle* note) {
  const std::string example = sourceDir + "/examples/sample.dxl";
  NOTEID id = 0;
  if (NnDbOpen(example.c_str(), 0, db) != NN_OK || NnDbNoteIdAt(*db, 0, &id) != NN_OK ||
      NnNoteOpen(*db, id, 0, note) != NN_OK)
    Fail("cannot open " + example);
}

// What the page says of a row's setter holds on the first text of the
// example document: a setter it names takes the value the property reads
// without a refusal, and a property it says cannot be set is refused (with a
// message where it says so) and the item kept.
void CheckSetter(const std::string& sourceDir, const ChunkPropertyRow& row, const Setter& setter) {
  NnHandle db = 0, note = 0;
  OpenExample(sourceDir, &db, &note);
  std::string failure;
  {
    LSXLsiSession session;
    std::vector<std::string> said;
    session.SetMessageProc(
        [](void* to, const char* text) { static_cast<std::vector<std::string>*>(to)->push_back(text); },
        &said);
    TorvoRTItem item(&session);
    std::unique_ptr<TorvoRTChunk> chunk(
        item.ConnectBackend(db, note, "Body") == NN_OK ? item.DefineChunk("Text 1") : nullptr);
    if (!chunk) Fail("no first text in the example document");
    char value[kTextBufferSize];
    chunk->GetPropertyText(row.name, value, sizeof value);
    const double number = chunk->GetPropertyNumber(row.name);
    switch (setter.kind) {
      case Setter::kRefused:
      case Setter::kNone:
        if (chunk->SetPropertyText(row.name, value, 0) || chunk->SetPropertyNumber(row.name, number) ||
            item.modified || said.empty() != (setter.kind == Setter::kNone))
          failure = "is set after all";
        break;
      case Setter::kByNumber:
        if (chunk->SetPropertyNumber(row.name, number) != 1 || !said.empty())
          failure = "is not set by number";
        break;
      case Setter::kByText:
        chunk->SetPropertyText(row.name, value, 0);
        if (!said.empty()) failure = "is refused: " + said.front();
        break;
    }
  }
  NnNoteClose(note);
  NnDbClose(db);
  if (!failure.empty()) Fail(std::string("the property ") + row.name + " " + failure);
}

void Properties(std::ostream& page, const std::string& sourceDir) {
  page << "## Chunk properties\n\n"
          "Read with `GetPropertyText` or `GetPropertyNumber`; set as the last column says "
          "(1 on success, 0 on refusal or failure; a refusal goes to the session's message "
          "routine). A property set on a target that holds nothing of its kind (a section "
          "title on plain text, a row label on a paragraph) fails with 1028, the item "
          "unchanged. Names are read without regard to case. Text values are in the platform's "
          "character set (LMBCS). Fonts change with `ChangeFont`, paragraphs with "
          "`ChangeParagraph`, tables with `ChangeTable`.\n\n"
          "| name | value | set with |\n|---|---|---|\n";
  for (size_t i = 0; i < kChunkPropertyRows && ChunkPropertyTable[i].name; ++i) {
    const ChunkPropertyRow& row = ChunkPropertyTable[i];
    const Setter setter = SetWith(row);
    CheckSetter(sourceDir, row, setter);
    page << "| " << Code(row.name) << " | " << (row.valueType == 3 ? "number" : "text") << " | "
         << setter.text << " |\n";
  }
  page << "\n";
}

// The keys ChangeTable reads, from the table field map: the key, the older
// name it also reads, the keys written and read with its value, and whether
// the table listing gives it.
void TableKeys(std::ostream& page) {
  page << "## Table strings\n\n"
          "`ChangeTable` takes an option string of these keys (and `GetTableProperties` lists "
          "a table's values in the same form, which `ChangeTable` reads back). A key it does "
          "not know, or a value a table cannot take, refuses the whole call with 1028 and "
          "leaves the table as it was.\n\n"
          "| key | also read as | with it | listed |\n|---|---|---|---|\n";
  size_t count = 0;
  const tablekeys::TableField* fields = tablekeys::TableFieldMap(&count);
  std::vector<std::string> seen;
  for (size_t i = 0; i < count; ++i) {
    const tablekeys::TableField& f = fields[i];
    const std::string key = f.keys[0];
    if (std::find(seen.begin(), seen.end(), key) != seen.end()) continue;
    seen.push_back(key);
    std::vector<std::string> sub;
    for (const char* k : f.subKeys)
      if (k) sub.push_back(Code(std::string(k) + "="));
    page << "| " << Code(key + "=") << " | " << (f.keys[1] ? Code(std::string(f.keys[1]) + "=") : "-")
         << " | " << (sub.empty() ? "-" : Join(sub, ", ")) << " | "
         << (f.index >= 0 ? "yes" : "no (set only)") << " |\n";
  }
  page << "\n";
}

void Strings(std::ostream& page, const std::string& sourceDir) {
  page << "## Option strings\n\n"
          "Options of the chunk methods, render options and property texts are option "
          "strings.\n\n"
       << Quoted(HeaderNotes(sourceDir, "host/options.h", "Option strings", "#pragma"))
       << "\n## Paragraph strings\n\n"
          "`ChangeParagraph` takes a paragraph string (any of its keys).\n\n"
       << Quoted(HeaderNotes(sourceDir, "richtext/item/parastring.h", "Grammar.",
                             "ParagraphSpec receives"));
  // Every key, as the writer gives them back; it must parse to itself.
  auto spec = std::make_unique<ParagraphSpec>();
  const char* request = "Alignment=Center LeftMargin=1.5in Tabs='L0.5in R3in' List=Bullet "
                        "KeepWithNext=Yes Hide='Print Web'";
  if (ParseParagraphSpec(request, nullptr, spec.get()) != NN_OK) Fail("the paragraph example");
  const std::string written = FormatParagraphSpec(spec->definition, kPabFullLength);
  auto again = std::make_unique<ParagraphSpec>();
  if (ParseParagraphSpec(written.c_str(), nullptr, again.get()) != NN_OK ||
      FormatParagraphSpec(again->definition, kPabFullLength) != written)
    Fail("the paragraph string \"" + written + "\" does not read back");
  page << "\nFor example " << Code(request) << " reads back with every key as\n"
       << Code(written.substr(0, written.find_last_not_of(' ') + 1)) << ".\n\n";

  page << "## Font strings\n\n"
          "`ChangeFont` and the font arguments of the text methods take font strings.\n\n"
       << Quoted(HeaderNotes(sourceDir, "host/fonts.h", "Grammar of a font string",
                             "Other names go to"));
  FontState state;
  uint32_t mask = 0;
  const char* font = "+Bold -Italic red 12pt 'Courier New'";
  char text[256];
  if (ParseFontSpec(font, nullptr, nullptr, &state, &mask) != 0 ||
      FontSpecToText(&state, mask, text, sizeof text) != 0)
    Fail("the font example");
  FontState stateAgain;
  uint32_t maskAgain = 0;
  char textAgain[256];
  if (ParseFontSpec(text, nullptr, nullptr, &stateAgain, &maskAgain) != 0 || maskAgain != mask ||
      FontSpecToText(&stateAgain, maskAgain, textAgain, sizeof textAgain) != 0 ||
      std::strcmp(text, textAgain) != 0)
    Fail(std::string("the font string \"") + text + "\" does not read back");
  page << "\nFor example " << Code(font) << " is written back as " << Code(text) << ".\n";
}

// ---- render option keys ---------------------------------------------------------

// The string literals of a C++ source, each with the text just before it;
// comments are skipped.
std::vector<std::pair<std::string, std::string>> StringLiterals(const std::string& code) {
  std::vector<std::pair<std::string, std::string>> out;
  for (size_t i = 0; i < code.size(); ++i) {
    if (code.compare(i, 2, "//") == 0) {
      i = code.find('\n', i);
      if (i == std::string::npos) break;
    } else if (code.compare(i, 2, "/*") == 0) {
      i = code.find("*/", i + 2);
      if (i == std::string::npos) break;
      ++i;
    } else if (code[i] == '\'' || code[i] == '"') {
      const char quote = code[i];
      const size_t start = i + 1;
      for (++i; i < code.size() && code[i] != quote; ++i)
        if (code[i] == '\\') ++i;
      if (quote == '"')
        out.emplace_back(code.substr(start, i - start), code.substr(start > 6 ? start - 6 : 0,
                                                                    start > 6 ? 5 : start - 1));
    }
  }
  return out;
}

// The option keys the renderer's sources read: literals of a word and its
// "=" ("UsePTags="), but not a search for such a text in markup (`find(`).
std::set<std::string> KeysTheRendererReads(const std::string& sourceDir) {
  std::vector<std::string> files = {"host/renderoptions.cpp", "export/generate.cpp"};
  for (const auto& entry : std::filesystem::directory_iterator(sourceDir + "/render")) {
    const std::string ext = entry.path().extension().string();
    if (ext == ".cpp" || ext == ".h") files.push_back("render/" + entry.path().filename().string());
  }
  std::set<std::string> keys;
  for (const std::string& file : files) {
    std::ifstream in(sourceDir + "/" + file);
    if (!in) Fail("cannot read " + file);
    std::string code((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The table itself is what is checked.
    if (file == "host/renderoptions.cpp") code = code.substr(0, code.find("// ---- the keys"));
    for (const auto& [text, before] : StringLiterals(code)) {
      if (text.size() < 2 || text.size() > 40 || text.back() != '=' || before == "find(" ||
          !std::isalpha(static_cast<unsigned char>(text[0])))
        continue;
      if (std::all_of(text.begin(), text.end() - 1,
                      [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }))
        keys.insert(text);
    }
  }
  return keys;
}

// The option string without the pair of `key`.
std::string WithoutKey(const std::string& options, const std::string& key) {
  std::string out;
  const char* cursor = options.c_str();
  OptionPair pair;
  for (const char* start = cursor; NextOptionPair(&cursor, &pair) == 1; start = cursor) {
    const std::string whole(start, cursor);
    if (std::string(pair.key, pair.keyLength) + "=" != key) out += whole;
  }
  return out;
}

// The example document's body rendered as HTML under `options`.
std::string ExamplePage(const std::string& sourceDir, const std::string& options) {
  NnHandle db = 0, note = 0;
  OpenExample(sourceDir, &db, &note);
  std::string page;
  NnStatus status = NN_ERR_INVALID_ARG;
  {
    LSXLsiSession session;
    TorvoRTItem item(&session);
    std::unique_ptr<TorvoRTChunk> all(
        item.ConnectBackend(db, note, "Body") == NN_OK ? item.DefineChunk("") : nullptr);
    char* text = nullptr;
    uint32_t length = 0;
    if (all) status = all->GenerateHTML(nullptr, options.c_str(), &text, &length);
    if (text) {
      page.assign(text, length);
      PoolFree(&session, text);
    }
  }
  NnNoteClose(note);
  NnDbClose(db);
  if (status != NN_OK) Fail("the example page does not render under \"" + options + "\"");
  return page;
}

void RenderOptions(std::ostream& page, const std::string& sourceDir) {
  size_t count = 0;
  const RenderOptionKey* rows = RenderOptionKeys(&count);
  const std::set<std::string> read = KeysTheRendererReads(sourceDir);
  std::set<std::string> listed;
  std::vector<std::string> disagree;  // all of them at once
  for (size_t i = 0; i < count; ++i) {
    const RenderOptionKey& row = rows[i];
    if (!listed.insert(row.key).second) Fail(std::string("the render key ") + row.key + " twice");
    if (!read.count(row.key)) Fail(std::string("the renderer reads no ") + row.key);
    char value[kOptionValueMax + 1];
    if (!GetOptionValue(row.example, row.key, value))
      Fail(std::string("the example of ") + row.key + " does not hold it");
    // The example's values are ones the keys can use.
    std::string refused;
    if (!RenderOptionsUsable(row.example, &refused))
      disagree.push_back(std::string("\"") + row.example + "\" has a value its key refuses: " +
                         refused);
    // What the row says it changes on the example page, it changes; what
    // it says nothing depends on, changes nothing.
    if (row.shows == RenderOptionShows::kElsewhere) continue;
    const bool changed = ExamplePage(sourceDir, row.example) !=
                         ExamplePage(sourceDir, WithoutKey(row.example, row.key));
    if (changed != (row.shows == RenderOptionShows::kExamplePage))
      disagree.push_back(std::string("\"") + row.example + "\" " +
                         (changed ? "changes the example page" : "does not change the example page"));
  }
  for (const std::string& key : read)
    if (!listed.count(key)) disagree.push_back("the renderer reads " + key + ", which the key table lacks");
  if (!disagree.empty()) Fail("the render keys and the renderer disagree:\n  " + Join(disagree, "\n  "));

  page << "\n## Render options\n\n"
          "The render methods (`GenerateHTML`, `GenerateXML`, `GenerateHTMLToMime`, "
          "`GenerateHTMLToEPub`, `kvedit render --options`) take an option string of these "
          "keys (the grammar is under Option strings). A key the renderer does not know is "
          "passed over. Yes/no keys are on for `Yes`, `True`, `On` or `1` and off for `No`, "
          "`False`, `Off` or `0`. A value its key cannot use (a word the row does not list, a "
          "number out of its range, a colour, URL, tag or name of the wrong form) fails the "
          "render with 1028 and gives no page.\n\n"
          "| key | values | without it | what it changes |\n|---|---|---|---|\n";
  // Markup in a cell is code, and a "|" does not end the cell.
  auto cell = [](const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
      const size_t close = text[i] == '<' ? text.find('>', i) : std::string::npos;
      if (close != std::string::npos) {
        out += Code(text.substr(i, close + 1 - i));
        i = close;
      } else {
        out += text[i] == '|' ? "\\|" : std::string(1, text[i]);
      }
    }
    return out;
  };
  for (size_t i = 0; i < count; ++i)
    page << "| " << Code(rows[i].key) << " | " << cell(rows[i].values) << " | "
         << cell(rows[i].byDefault) << " | " << cell(rows[i].effect) << " |\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: kvref SOURCE_DIR OUTPUT.md\n");
    return 1;
  }
  try {
    LSXLsiSession session;
    if (!session.IsValid()) Fail("out of memory");
    std::ostringstream page;
    page << "# Kestrelvault Edit reference\n\n"
            "Written from the library's own tables when it was built. `rtchunk.h` and "
            "`rtitem.h` say what each method takes and returns; every text a chunk method "
            "takes or gives is in the platform's character set (LMBCS): convert with "
            "`NnUtf8ToLmbcs` and `NnLmbcsToUtf8` (`nn/nn.h`).\n\n";
    Definitions(page, &session);
    TargetTypes(page, &session);
    Properties(page, argv[1]);
    TableKeys(page);
    Strings(page, argv[1]);
    RenderOptions(page, argv[1]);
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out << page.str();
    out.close();
    if (!out) Fail(std::string("cannot write ") + argv[2]);
  } catch (const Failure& f) {
    std::fprintf(stderr, "kvref: %s\n", f.message.c_str());
    std::remove(argv[2]);
    return 1;
  }
  return 0;
}
