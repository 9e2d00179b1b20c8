// The rich-text items of the corpus, each copied alone into a database of
// its own (a Workspace) where a test may write to it: the corpus-wide sweeps
// share them.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "engine_fixture.h"
#include "lsxsessi.h"
#include "nn/nn.h"
#include "rtitem.h"
#include "support/testutil.h"
#include "write_records_support.h"

namespace corpusitems {

using enginetest::Bytes;
using writecheck::Record;

struct CorpusItem {
  std::string where;
  std::string name;
  std::vector<Bytes> segments;  // canonical, type words left out
  std::vector<Bytes> fonts;     // the note's "$Fonts" segments
};

inline std::vector<Bytes> Segments(NnHandle note, const std::string& name) {
  std::vector<Bytes> out;
  NnBlockId it, value;
  uint16_t type = 0;
  uint32_t len = 0;
  NnStatus st = NnItemInfo(note, name.c_str(), uint16_t(name.size()), &it, &type, &value, &len);
  while (st == NN_OK) {
    const uint8_t* p = static_cast<const uint8_t*>(NnBlockLock(value));
    if (p && len >= 2 && type == NN_TYPE_COMPOSITE) out.emplace_back(p + 2, p + len);
    NnBlockUnlock(value);
    NnBlockId prev = it;
    st = NnItemInfoNext(note, prev, name.c_str(), uint16_t(name.size()), &it, &type, &value, &len);
  }
  return out;
}

inline std::vector<CorpusItem> CorpusItems(const std::string& dir) {
  std::vector<CorpusItem> items;
  for (const std::string& file : kvtest::FilesBelow(dir)) {
    NnHandle db = 0;
    if (NnDbOpen(file.c_str(), 0, &db) != NN_OK) continue;
    for (const kvtest::RichTextItemRef& ref : kvtest::RichTextItems(db)) {
      NnHandle note = 0;
      if (NnNoteOpen(db, ref.noteId, 0, &note) != NN_OK) continue;
      CorpusItem item{
          file.substr(dir.size()) + " note " + std::to_string(ref.index + 1) + " " + ref.name,
          ref.name, Segments(note, ref.name), Segments(note, "$Fonts")};
      if (!item.segments.empty()) items.push_back(std::move(item));
      NnNoteClose(note);
    }
    NnDbClose(db);
  }
  return items;
}

// One item alone in a database of its own, bound to an item and a chunk.
class Workspace {
 public:
  explicit Workspace(const CorpusItem& source) : source_(source), name_(source.name) {
    static std::atomic<int> counter{0};
    const std::string path = "mem-write-corpus-" + std::to_string(++counter) + ".nsf";
    if (NnDbOpen(path.c_str(), NN_DB_CREATE, &db_) != NN_OK) return;
    if (NnNoteCreate(db_, NN_CLASS_DOCUMENT, &note_) != NN_OK) return;
    ok_ = Reset();
  }
  // The item as stored again (fonts too), bound to a new TorvoRTItem.
  bool Reset() {
    delete item_;
    item_ = nullptr;
    // Every segment of either item goes.
    while (NnItemDelete(note_, "$Fonts", 6) == NN_OK) {
    }
    while (NnItemDelete(note_, name_.c_str(), uint16_t(name_.size())) == NN_OK) {
    }
    for (const Bytes& s : source_.fonts)
      NnItemAppend(note_, 0, "$Fonts", 6, NN_TYPE_COMPOSITE, s.data(), uint32_t(s.size()));
    for (const Bytes& s : source_.segments)
      if (NnItemAppend(note_, 0, name_.c_str(), uint16_t(name_.size()), NN_TYPE_COMPOSITE, s.data(),
                       uint32_t(s.size())) != NN_OK)
        return false;
    item_ = new TorvoRTItem(&session_);
    return item_->ConnectBackend(db_, note_, name_.c_str()) == NN_OK;
  }
  ~Workspace() {
    delete item_;  // its chunks go with the session
    if (note_) NnNoteClose(note_);
    if (db_) NnDbClose(db_);
  }
  bool ok() const { return ok_; }
  TorvoRTItem* item() { return item_; }
  NnHandle db() const { return db_; }
  NnHandle note() const { return note_; }
  std::vector<Record> Records() { return writecheck::ItemRecords(item_); }
  std::string Reload(const std::vector<Record>& expected) {
    return writecheck::ReloadAndRender(db_, note_, name_.c_str(), expected);
  }

 private:
  LSXLsiSession session_;
  CorpusItem source_;
  std::string name_;
  NnHandle db_ = 0, note_ = 0;
  TorvoRTItem* item_ = nullptr;
  bool ok_ = false;
};

// The item of that name of the first note holding it in a corpus file; empty
// segments when the corpus or the item is missing.
inline CorpusItem CorpusFileItem(const std::string& relative, const std::string& name) {
  CorpusItem item{relative + " " + name, name, {}, {}};
  const std::string corpus = kvtest::CorpusDir();
  if (corpus.empty()) return item;
  NnHandle db = 0;
  if (NnDbOpen((corpus + "/dxl/" + relative).c_str(), 0, &db) != NN_OK) return item;
  for (uint32_t i = 0; i < NnDbNoteCount(db) && item.segments.empty(); ++i) {
    NOTEID id = 0;
    NnHandle note = 0;
    if (NnDbNoteIdAt(db, i, &id) != NN_OK || NnNoteOpen(db, id, 0, &note) != NN_OK) continue;
    item.segments = Segments(note, name);
    item.fonts = Segments(note, "$Fonts");
    NnNoteClose(note);
  }
  NnDbClose(db);
  return item;
}

}  // namespace corpusitems
