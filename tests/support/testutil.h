// Helpers shared by the test programs.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "nn/nn.h"

namespace kvtest {

struct CommandResult {
  int exitCode = -1;
  std::string out;   // standard output
  std::string err;   // standard error
};

// Runs argv[0] with the given arguments (no shell), capturing both streams.
CommandResult RunCommand(const std::vector<std::string>& argv);

// The kvedit binary under test.
std::string KveditPath();

// The corpus folder (KV_CORPUS env var, else the build-time default); empty when absent.
std::string CorpusDir();

// Every regular file below dir, sorted.
std::vector<std::string> FilesBelow(const std::string& dir);

// A new empty folder under the system temp folder, removed by the caller.
std::string MakeTempDir();
void RemoveTree(const std::string& path);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& data);

std::vector<std::string> SplitLines(const std::string& text);

// A formula compiled by the platform, as hotspots store it; empty when it
// does not compile.
std::string CompiledFormula(const std::string& text);

// True when the text parses as a whole XML document, namespaces included (no
// network, no messages).
bool ParsesAsXml(const std::string& text);

// The elements of a page in document order, parsed as XML (XHTML) or, with
// `html`, as HTML: name, attributes (values decoded) and all text inside.
struct PageElement {
  std::string name, text;
  std::map<std::string, std::string> attributes;
  std::string Attribute(const std::string& k) const {
    return attributes.count(k) ? attributes.at(k) : "";
  }
};
std::vector<PageElement> PageElements(const std::string& page, bool html = false);

// How many times `what` occurs in `text` (overlapping occurrences count).
size_t Count(const std::string& text, const std::string& what);

// The parts of an item that page sweeps render, each a page of its own where
// the item has one: the whole item (""), the text around the first table, the
// table, its first two rows (two ranges of one table), the second paragraph
// and the first section.
const std::vector<std::string>& PageRangeDefinitions();

// Decodes base64 written independently of the library (tests compare the two):
// white space and "=" are skipped; false on any other stray character.
bool DecodeBase64(const std::string& text, std::vector<uint8_t>* out);

// A note's universal id as document markers write it (File then Note, each
// high word first); empty when the note gives none.
std::string UnidText(NnHandle note);
// The marker a collection writes ahead of its document `number`, a note of `db`.
std::string DocumentMarker(NnHandle db, NnHandle note, int number);

// A rich-text item of a database: its note (position in document order and
// id) and its name.
struct RichTextItemRef {
  uint32_t index;
  NOTEID noteId;
  std::string name;
};
// The rich-text items of a database in document order: every composite item
// name once per note (names compare without regard to case), "$Fonts" left out.
std::vector<RichTextItemRef> RichTextItems(NnHandle db);

}  // namespace kvtest
