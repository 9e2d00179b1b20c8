// Checks of what a write call left in an item: the records' structure, the
// item reloaded from saved DXL, and its page rendered as XHTML.
#pragma once

#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "engine_fixture.h"
#include "host/pool.h"
#include "richtext/item/recordlist.h"
#include "support/testutil.h"

namespace writecheck {

using enginetest::Bytes;

// A paragraph definition (canonical fixed part, 70 bytes) with an id and flags.
inline Bytes Pab(uint16_t id, uint16_t flags = 0) {
  Bytes b;
  enginetest::Put16(b, 0xFF82);
  enginetest::Put16(b, 70);
  b.resize(70, 0);
  b[4] = uint8_t(id);
  b[5] = uint8_t(id >> 8);
  b[62] = uint8_t(flags);
  b[63] = uint8_t(flags >> 8);
  return b;
}

// One record of a list, host layout.
struct Record {
  uint16_t sig;
  Bytes bytes;
  bool operator==(const Record& o) const { return sig == o.sig && bytes == o.bytes; }
};

inline void PrintTo(const Record& r, std::ostream* os) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%u", unsigned(r.sig));
  *os << "{" << buf << ":";
  for (size_t i = 0; i < r.bytes.size() && i < 48; ++i) {
    std::snprintf(buf, sizeof buf, " %02X", r.bytes[i]);
    *os << buf;
  }
  *os << (r.bytes.size() > 48 ? " ...}" : "}");
}

inline std::vector<Record> Records(const RecordList* list) {
  std::vector<Record> out;
  for (const RTRecordNode* n = list ? list->first : nullptr; n; n = n->next)
    out.push_back({n->signature, Bytes(n->data, n->data + n->length)});
  return out;
}

inline std::vector<Record> ItemRecords(TorvoRTItem* item) {
  if (item->LoadRecords() != 0 || !item->context) return {};
  return Records(item->context->records);
}

inline int Count(const std::vector<Record>& records, uint16_t sig) {
  int n = 0;
  for (const Record& r : records) n += r.sig == sig;
  return n;
}

// The positions whose records differ between two lists of one length (all
// positions of the longer list when the lengths differ).
inline std::vector<size_t> ChangedRecords(const std::vector<Record>& before,
                                          const std::vector<Record>& after) {
  std::vector<size_t> changed;
  const size_t n = std::max(before.size(), after.size());
  for (size_t i = 0; i < n; ++i)
    if (before.size() != after.size() || !(before[i] == after[i])) changed.push_back(i);
  return changed;
}

inline std::vector<uint16_t> Signatures(const std::vector<Record>& records) {
  std::vector<uint16_t> out;
  for (const Record& r : records) out.push_back(r.sig);
  return out;
}

inline uint16_t Word(const Bytes& b, size_t off) {
  return off + 2 <= b.size() ? uint16_t(b[off] | (b[off + 1] << 8)) : 0;
}

// Does an END of `end` close a BEGIN of `begin`? A hotspot's group is closed
// by the END of its hotspot end record.
inline bool Pairs(uint16_t begin, uint16_t end) {
  if (begin == end) return true;
  const bool hotspot = begin == 0xFFA9 || begin == 0xFFAD || begin == 0xFF7E || begin == 0xFF74;
  return hotspot && (end == 0x7F || end == 0xAA || end == 0xAE);
}

// What is wrong with the records' structure: BEGIN/END records that do not
// pair up, paragraph references without their definition or their paragraph
// start (outside groups and OLE objects, where no paragraph begins), a
// hotspot begun inside another, tables whose starts, cells and ends do not
// nest, whose signatures disagree with their depth, whose cells overlap or
// whose row count disagrees with their rows. Empty when sound.
inline std::string StructureProblems(const std::vector<Record>& records) {
  std::string problems;
  std::vector<uint16_t> groups;
  std::map<uint16_t, bool> defined;
  for (const Record& r : records)
    if (r.sig == 0xFF82) defined[Word(r.bytes, 4)] = true;
  struct Table {
    uint16_t kind;      // 163 or 207
    int rowsDeclared;   // -1 when no 0xFFFB announced it
    int rows = 0;
    std::map<int, std::vector<bool>> grid;  // the columns each row's cells cover
    bool cellSeen = false;
  };
  std::vector<Table> tables;
  int declared = -1, hotspots = 0, ole = 0;
  bool head = true;  // in a paragraph's head: the item's start, or after 129
  for (size_t i = 0; i < records.size(); ++i) {
    const Record& r = records[i];
    const std::string at = " at record " + std::to_string(i + 1) + ";";
    const bool nested = r.sig == 207 || r.sig == 208 || r.sig == 209;
    const size_t depth = tables.size() + (r.sig == 163 || r.sig == 207);
    if ((nested || r.sig == 163 || r.sig == 164 || r.sig == 165) && depth &&
        nested != (depth > 1))
      problems += " table record " + std::to_string(r.sig) + " at depth " +
                  std::to_string(depth) + at;
    ole += r.sig == 0xFFA7 ? 1 : r.sig == 0xFFA8 && ole ? -1 : 0;
    if (r.sig == 131 && !head && groups.empty() && !ole)
      problems += " paragraph reference without its paragraph start" + at;
    head = r.sig == 129 || (head && (r.sig == 0xFF82 || r.sig == 0xFFBB || r.sig == 166 ||
                                     r.sig == 183 || r.sig == 184 || r.sig == 186 ||
                                     r.sig == 192 || r.sig == 194));
    const bool legacyPair = r.sig == 0xFFA9 && i > 0 && records[i - 1].sig == 0xFFAD;
    if ((r.sig == 0xFFA9 || r.sig == 0xFFAD || r.sig == 0xFF7E || r.sig == 0xFF74) && !legacyPair &&
        hotspots++ > 0)
      problems += " hotspot begun inside another" + at;
    if ((r.sig == 0x7F || r.sig == 0xAA || r.sig == 0xAE) && hotspots > 0) --hotspots;
    switch (r.sig) {
      case 221:
        groups.push_back(Word(r.bytes, 4));
        break;
      case 222:
        if (groups.empty() || !Pairs(groups.back(), Word(r.bytes, 4)))
          problems += " END of " + std::to_string(Word(r.bytes, 4)) + " unopened" + at;
        else
          groups.pop_back();
        break;
      case 131:
        if (!defined.count(Word(r.bytes, 2)))
          problems += " reference to undefined paragraph " + std::to_string(Word(r.bytes, 2)) + at;
        break;
      case 0xFFFB:
        declared = r.bytes.size() > 8 ? r.bytes[8] : -1;
        break;
      case 163:
      case 207:
        tables.push_back({r.sig, declared, 0, {}, false});
        declared = -1;
        break;
      case 164:
      case 208:
        if (tables.empty() || tables.back().kind != (r.sig == 164 ? 163 : 207)) {
          problems += " cell outside its table" + at;
        } else if (r.bytes.size() >= 16) {
          Table& t = tables.back();
          t.cellSeen = true;
          if (r.bytes[2] + 1 > t.rows) t.rows = r.bytes[2] + 1;
          const int rowSpan = std::max(1, int(r.bytes[14]));
          const int colSpan = std::max(1, int(r.bytes[15]));
          for (int row = r.bytes[2]; row < r.bytes[2] + rowSpan; ++row) {
            std::vector<bool>& cols = t.grid[row];
            if (cols.size() < size_t(r.bytes[3] + colSpan)) cols.resize(r.bytes[3] + colSpan);
            for (int c = r.bytes[3]; c < r.bytes[3] + colSpan; ++c) {
              if (cols[c]) problems += " cell over another" + at;
              cols[c] = true;
            }
          }
        }
        break;
      case 165:
      case 209:
        if (tables.empty() || tables.back().kind != (r.sig == 165 ? 163 : 207)) {
          problems += " table end without its start" + at;
        } else {
          const Table& t = tables.back();
          if (t.rowsDeclared >= 0 && t.rowsDeclared != t.rows)
            problems += " table of " + std::to_string(t.rowsDeclared) + " rows holds " +
                        std::to_string(t.rows) + at;
          // Every row covers as many columns as the first.
          const auto covered = [](const std::vector<bool>& c) {
            return std::count(c.begin(), c.end(), true);
          };
          for (const auto& [row, cols] : t.grid)
            if (covered(cols) != covered(t.grid.begin()->second))
              problems += " row " + std::to_string(row + 1) + " of a table covers " +
                          std::to_string(covered(cols)) + " columns" + at;
          tables.pop_back();
        }
        break;
      default:
        break;
    }
    // Between a table's begin and its first cell nothing is shown.
    const bool content = r.sig == 0xFF85 || r.sig == 129 || r.sig == 131 || r.sig == 0xFF82;
    if (content && !tables.empty() && !tables.back().cellSeen)
      problems += " content before the table's first cell" + at;
  }
  if (!groups.empty()) problems += " " + std::to_string(groups.size()) + " BEGIN left open;";
  if (!tables.empty()) problems += " " + std::to_string(tables.size()) + " table left open;";
  return problems;
}

// The number of faults StructureProblems names.
inline size_t ProblemCount(const std::vector<Record>& records) {
  const std::string p = StructureProblems(records);
  size_t n = 0;
  for (char c : p) n += c == ';';
  return n;
}

// Every text run of a chunk of the item, joined as they stand.
inline std::string AllText(TorvoRTItem* item, const std::string& definition) {
  std::vector<char> buffer(1 << 16);
  const unsigned long n = item->DefineChunk("")->GetText(definition.c_str(), buffer.data(),
                                                         buffer.size(), 1, nullptr);
  return std::string(buffer.data(), n);
}

// The XHTML page of the whole item; empty when it does not render.
inline std::string RenderXhtml(TorvoRTItem* item) {
  TorvoRTChunk* everything = item->DefineChunk("");
  if (!everything) return "";
  char* text = nullptr;
  uint32_t length = 0;
  NnStatus st = everything->GenerateXML(nullptr, "", &text, &length);
  std::string page;
  if (text) {
    page.assign(text, length);
    PoolFree(item->session, text);
  }
  delete everything;
  return st == 0 ? page : "";
}

inline bool ParsesAsXml(const std::string& page) { return kvtest::ParsesAsXml(page); }

// Saves the database as DXL, opens the saved file and compares the item's
// records there with `expected`; renders the reloaded item as XHTML. Returns
// what went wrong, empty when all is well.
inline std::string ReloadAndRender(NnHandle db, NnHandle note, const char* itemName,
                                   const std::vector<Record>& expected) {
  static std::atomic<int> counter{0};
  const std::string path = std::string(::testing::TempDir()) + "write-check-" +
                           std::to_string(::getpid()) + "-" + std::to_string(++counter) + ".dxl";
  if (NnNoteUpdate(note, 0) != NN_OK) return "the note does not save";
  if (NnDbSaveDxl(db, path.c_str()) != NN_OK) return "the database does not save as DXL";
  NOTEID id = 0;
  if (NnNoteGetInfo(note, NN_NOTE_INFO_ID, &id) != NN_OK) return "the note has no id";
  std::string problem;
  NnHandle db2 = 0, note2 = 0;
  if (NnDbOpen(path.c_str(), 0, &db2) != NN_OK) {
    problem = "the saved DXL does not open";
  } else if (NnNoteOpen(db2, id, 0, &note2) != NN_OK) {
    problem = "the saved note does not open";
  } else {
    LSXLsiSession session;
    TorvoRTItem* reloaded = new TorvoRTItem(&session);
    if (reloaded->ConnectBackend(db2, note2, itemName) != NN_OK) {
      problem = "the saved item does not bind";
    } else {
      std::vector<Record> got = ItemRecords(reloaded);
      if (!(got == expected)) {
        size_t k = 0;
        while (k < got.size() && k < expected.size() && got[k] == expected[k]) ++k;
        problem = "reloaded records differ from record " + std::to_string(k + 1) + " (" +
                  std::to_string(got.size()) + " against " + std::to_string(expected.size()) +
                  ")";
      } else if (!ParsesAsXml(RenderXhtml(reloaded))) {
        problem = "the reloaded item does not render to XHTML that parses";
      }
    }
    delete reloaded;
  }
  if (note2) NnNoteClose(note2);
  if (db2) NnDbClose(db2);
  std::remove(path.c_str());
  return problem;
}

}  // namespace writecheck
