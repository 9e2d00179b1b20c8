// Shared by the fuzz targets: reading an input as a stream of fields, an item
// taken from the input, and the checks a changed item must pass.
#pragma once

#include <libxml/HTMLparser.h>
#include <libxml/parser.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host/pool.h"
#include "lsxsessi.h"
#include "nn/nn.h"
#include "rtchunk.h"
#include "rtitem.h"

namespace kvfuzz {

// Stops the run where the checks fail: the fuzzer and the replay both see it.
[[noreturn]] inline void Finding(const char* what) {
  std::fprintf(stderr, "fuzz finding: %s\n", what);
  __builtin_trap();
}

// Reads fields off the front of the input; past its end every field is empty.
class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : p_(data), n_(size) {}
  bool empty() const { return n_ == 0; }
  size_t left() const { return n_; }
  uint8_t U8() {
    if (n_ == 0) return 0;
    --n_;
    return *p_++;
  }
  uint16_t U16() { return uint16_t(U8() | (U8() << 8)); }
  std::string Bytes(size_t len) {
    if (len > n_) len = n_;
    std::string s(reinterpret_cast<const char*>(p_), len);
    p_ += len;
    n_ -= len;
    return s;
  }
  // A text of up to 255 bytes, its length first.
  std::string Text() { return Bytes(U8()); }
  std::string Rest() { return Bytes(n_); }

 private:
  const uint8_t* p_;
  size_t n_;
};

// The largest record stream one stored segment holds.
constexpr size_t kMaxSegment = 63358;

// An input that starts with an item: its length (16 bits, little-endian), its
// records, then what the target reads.
inline std::string TakeItem(Reader& in) {
  size_t len = in.U16();
  if (len > kMaxSegment) len = kMaxSegment;
  return in.Bytes(len);
}

// Every value of the item's segments, type words included, one after another.
inline std::vector<uint8_t> StoredItem(NnHandle note, const char* name = "Body") {
  std::vector<uint8_t> all;
  NnBlockId item, value;
  uint16_t type;
  uint32_t len;
  uint16_t nameLen = uint16_t(std::strlen(name));
  for (NnStatus st = NnItemInfo(note, name, nameLen, &item, &type, &value, &len); st == NN_OK;
       st = NnItemInfoNext(note, item, name, nameLen, &item, &type, &value, &len)) {
    const uint8_t* p = static_cast<const uint8_t*>(NnBlockLock(value));
    if (p) all.insert(all.end(), p, p + len);
    NnBlockUnlock(value);
    all.push_back(0xEE);  // segment boundary
  }
  return all;
}

// The records of the stored item walk cleanly to its end, BEGIN/END records
// pair up and tables open and close in order.
inline bool ItemSound(NnHandle note, const char* name = "Body") {
  NnBlockId item, value;
  uint16_t type;
  uint32_t len;
  uint16_t nameLen = uint16_t(std::strlen(name));
  long begins = 0;
  std::vector<uint8_t> tables;
  for (NnStatus st = NnItemInfo(note, name, nameLen, &item, &type, &value, &len); st == NN_OK;
       st = NnItemInfoNext(note, item, name, nameLen, &item, &type, &value, &len)) {
    const uint8_t* base = static_cast<const uint8_t*>(NnBlockLock(value));
    bool ok = base != nullptr && len >= 2;
    size_t pos = 2, n = len;
    while (ok && pos < n) {
      size_t left = n - pos;
      if (left < 2) { ok = false; break; }
      uint16_t w = uint16_t(base[pos] | (base[pos + 1] << 8));
      size_t header, rlen;
      if ((w >> 8) == 0xFF) {
        header = 4;
        if (left < 4) { ok = false; break; }
        rlen = size_t(base[pos + 2] | (base[pos + 3] << 8));
      } else if ((w >> 8) == 0) {
        header = 6;
        if (left < 6) { ok = false; break; }
        rlen = size_t(base[pos + 2]) | (size_t(base[pos + 3]) << 8) | (size_t(base[pos + 4]) << 16) |
               (size_t(base[pos + 5]) << 24);
      } else {
        header = 2;
        rlen = w >> 8;
      }
      if (rlen < header || rlen > left) { ok = false; break; }
      uint8_t sig = uint8_t(w & 0xFF);
      if ((w >> 8) != 0xFF) {
        if (sig == 221) ++begins;
        if (sig == 222 && --begins < 0) ok = false;
        if (sig == 163 || sig == 207) tables.push_back(sig);
        if (sig == 165 || sig == 209) {
          uint8_t open = sig == 165 ? 163 : 207;
          if (tables.empty() || tables.back() != open) ok = false;
          else tables.pop_back();
        }
      }
      pos += rlen + (rlen & 1);
    }
    NnBlockUnlock(value);
    if (!ok) return false;
  }
  return begins == 0 && tables.empty();
}

// XHTML parses as XML; HTML as HTML. With KV_FUZZ_DUMP set, a page that does
// not parse is written there, and the parser's complaint goes to stderr.
inline bool XmlParses(const char* page, uint32_t length) {
  xmlParserCtxtPtr ctxt = xmlNewParserCtxt();
  if (!ctxt) return true;
  xmlDocPtr doc = xmlCtxtReadMemory(ctxt, page, int(length), "page.xhtml", nullptr,
                                    XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  if (!doc) {
    if (const char* dump = std::getenv("KV_FUZZ_DUMP")) {
      if (std::FILE* f = std::fopen(dump, "wb")) {
        std::fwrite(page, 1, length, f);
        std::fclose(f);
      }
      const xmlError* e = xmlCtxtGetLastError(ctxt);
      if (e && e->message) std::fprintf(stderr, "line %d: %s", e->line, e->message);
    }
    xmlFreeParserCtxt(ctxt);
    return false;
  }
  xmlFreeDoc(doc);
  xmlFreeParserCtxt(ctxt);
  return true;
}

inline bool HtmlParses(const char* page, uint32_t length) {
  htmlDocPtr doc = htmlReadMemory(page, int(length), "page.html", "UTF-8",
                                  HTML_PARSE_NONET | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING);
  if (!doc) return false;
  bool ok = xmlDocGetRootElement(doc) != nullptr;
  xmlFreeDoc(doc);
  return ok;
}

// Renders the whole item as XHTML under the options: a failure status, or a
// page that parses.
inline void CheckRenders(LSXLsiSession* session, TorvoRTItem* item, const char* options = "") {
  TorvoRTChunk* all = item->DefineChunk("");
  if (!all) return;
  char* page = nullptr;
  uint32_t length = 0;
  if (all->GenerateXML(nullptr, options, &page, &length) == NN_OK) {
    if (!page) Finding("render succeeded without a page");
    if (!XmlParses(page, length)) Finding("XHTML page does not parse");
  }
  if (page) PoolFree(session, page);
  delete all;
}

// Saves the database as DXL, loads it back and compares the item.
inline void CheckReloads(NnHandle db, NnHandle note, const char* name = "Body") {
  char path[64];
  std::snprintf(path, sizeof path, "/tmp/kvfuzz-%d.dxl", int(getpid()));
  if (NnNoteUpdate(note, 0) != NN_OK) Finding("note update failed");
  if (NnDbSaveDxl(db, path) != NN_OK) Finding("saving the database failed");
  NnHandle again = 0;
  if (NnDbOpen(path, 0, &again) != NN_OK) Finding("saved database does not load");
  NOTEID id = 0;
  NnNoteGetInfo(note, NN_NOTE_INFO_ID, &id);
  NnHandle back = 0;
  if (NnNoteOpen(again, id, 0, &back) != NN_OK) Finding("saved note is missing");
  if (StoredItem(back, name) != StoredItem(note, name)) Finding("item differs after reload");
  NnNoteClose(back);
  NnDbClose(again);
  unlink(path);
}

// A fresh in-memory database with one note holding the records as "Body";
// closes both when it goes.
class ItemNote {
 public:
  explicit ItemNote(const std::string& records) {
    static unsigned counter = 0;
    std::string path = "mem-fuzz-" + std::to_string(++counter) + ".nsf";
    if (NnDbOpen(path.c_str(), NN_DB_CREATE, &db) != NN_OK) return;
    if (NnNoteCreate(db, NN_CLASS_DOCUMENT, &note) != NN_OK) return;
    NnItemAppend(note, 0, "Body", 4, NN_TYPE_COMPOSITE, records.data(), uint32_t(records.size()));
  }
  ~ItemNote() {
    if (note) NnNoteClose(note);
    if (db) NnDbClose(db);
  }
  ItemNote(const ItemNote&) = delete;
  ItemNote& operator=(const ItemNote&) = delete;
  bool ok() const { return note != 0; }

  NnHandle db = 0;
  NnHandle note = 0;
};

// After a call that may write: a failure leaves the stored item as it was; a
// change keeps a sound item sound, survives a DXL round trip and renders.
inline void CheckWrite(LSXLsiSession* session, TorvoRTItem* item, const ItemNote& doc,
                       const std::vector<uint8_t>& before, bool failed, bool wasSound) {
  std::vector<uint8_t> after = StoredItem(doc.note);
  if (failed) {
    if (after != before) Finding("a failed call changed the item");
    return;
  }
  if (after == before) return;
  if (wasSound && !ItemSound(doc.note)) Finding("a sound item lost its structure");
  CheckReloads(doc.db, doc.note);
  CheckRenders(session, item);
}

// The item at the front of the input, stored in a note of its own and bound to
// an item of a session: what the item targets call methods on.
struct BoundItem {
  explicit BoundItem(Reader& in)
      : doc(TakeItem(in)), wasSound(doc.ok() && ItemSound(doc.note)), item(&session) {
    bound = doc.ok() && item.ConnectBackend(doc.db, doc.note, "Body") == NN_OK;
  }
  std::vector<uint8_t> Stored() const { return StoredItem(doc.note); }
  void CheckWrite(const std::vector<uint8_t>& before, bool failed) {
    kvfuzz::CheckWrite(&session, &item, doc, before, failed, wasSound);
  }

  ItemNote doc;
  bool wasSound;
  LSXLsiSession session;
  TorvoRTItem item;
  bool bound = false;
};

}  // namespace kvfuzz
