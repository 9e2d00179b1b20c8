// Shared set-up of the engine tests: an in-memory note with one rich-text
// item built from canonical records, an item and a chunk over it, and
// definition chains built node by node.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "host/sortcmp.h"
#include "lsxsessi.h"
#include "nn/nn.h"
#include "richtext/engine/rtproc.h"
#include "rtchunk.h"
#include "rtitem.h"

#include "richtext/item/cdlayout.h"

namespace enginetest {

using Bytes = std::vector<uint8_t>;

inline void Put16(Bytes& b, uint16_t v) {
  b.push_back(uint8_t(v));
  b.push_back(uint8_t(v >> 8));
}
inline void Put32(Bytes& b, uint32_t v) {
  Put16(b, uint16_t(v));
  Put16(b, uint16_t(v >> 16));
}

// Canonical records.
inline Bytes Text(const std::string& s, uint32_t font = 0x0A000001u) {
  Bytes b;
  Put16(b, 0xFF85);
  Put16(b, uint16_t(8 + s.size()));
  Put32(b, font);
  b.insert(b.end(), s.begin(), s.end());
  return b;
}
// A record of a 12-byte head (its text's length at 4) and a text: alternate
// text (0xFFCA), a frame target (0xFFF2).
inline Bytes HeadAndText(uint16_t sig, const std::string& text) {
  Bytes b;
  Put16(b, sig);
  Put16(b, uint16_t(12 + text.size()));
  Put16(b, uint16_t(text.size()));
  b.resize(12, 0);
  b.insert(b.end(), text.begin(), text.end());
  return b;
}
inline Bytes Para() { return {129, 2}; }
inline Bytes PabRef(uint16_t id) { return {131, 4, uint8_t(id), uint8_t(id >> 8)}; }
inline Bytes TableBegin(bool nested = false) {
  Bytes b{uint8_t(nested ? 207 : 163), 14};
  b.resize(14, 0);
  return b;
}
inline Bytes Cell(uint8_t row, uint8_t col, bool nested = false) {
  Bytes b{uint8_t(nested ? 208 : 164), 18, row, col};
  b.resize(18, 0);
  return b;
}
inline Bytes TableEnd(bool nested = false) { return {uint8_t(nested ? 209 : 165), 6, 0, 0, 0, 0}; }
inline Bytes Begin(uint16_t obj) { return {221, 6, 0, 0, uint8_t(obj), uint8_t(obj >> 8)}; }
inline Bytes End(uint16_t obj) { return {222, 6, 0, 0, uint8_t(obj), uint8_t(obj >> 8)}; }
// A hotspot begin (0xFFA9 or 0xFFAD) of a kind, with its data text.
inline Bytes Hotspot(uint16_t sig, uint16_t kind, uint32_t flags = 0, const std::string& d = "") {
  Bytes b;
  Put16(b, sig);
  Put16(b, uint16_t(12 + d.size()));
  Put16(b, kind);
  Put32(b, flags);
  Put16(b, uint16_t(d.size()));
  b.insert(b.end(), d.begin(), d.end());
  return b;
}
inline Bytes HotspotEnd(uint8_t sig = 174) { return {sig, 2}; }
inline Bytes SectionBar(const std::string& title) {
  Bytes b;
  Put16(b, 0xFFAC);
  Put16(b, uint16_t(12 + title.size()));
  Put32(b, 0);
  Put32(b, 0x0A000001u);
  b.insert(b.end(), title.begin(), title.end());
  return b;
}
inline Bytes Doclink() {
  Bytes b;
  Put16(b, 0xFF92);
  Put16(b, 44);
  b.resize(44, 0);
  return b;
}
// An HTML attribute record with an ID and a Name.
inline Bytes IdName(const std::string& id, const std::string& name) {
  Bytes b;
  Put16(b, 0xFF7A);
  Put16(b, uint16_t(26 + id.size() + name.size()));
  Put16(b, uint16_t(id.size()));
  for (int i = 0; i < 4; ++i) Put16(b, 0);
  Put16(b, uint16_t(name.size()));
  b.resize(26, 0);
  b.insert(b.end(), id.begin(), id.end());
  b.insert(b.end(), name.begin(), name.end());
  return b;
}

// Joins records into one segment, odd lengths padded.
inline Bytes Join(const std::vector<Bytes>& records) {
  Bytes out;
  for (const Bytes& r : records) {
    out.insert(out.end(), r.begin(), r.end());
    if (r.size() % 2) out.push_back(0);
  }
  return out;
}

// A definition node (heap memory: the chunk frees its chain).
inline chunkdef_info* Node(uint16_t relation, uint16_t type, std::vector<uint32_t> occ = {},
                           const char* match = nullptr, uint16_t mode = 0) {
  auto* n = new chunkdef_info();
  n->relation = relation;
  n->targetType = type;
  n->occurrenceCount = uint32_t(occ.size());
  for (size_t i = 0; i < occ.size(); ++i) n->occurrences[i] = occ[i];
  if (match) {
    n->matchText = new char[std::strlen(match) + 1];
    std::strcpy(n->matchText, match);
    n->matchMode = mode;
  }
  return n;
}
inline chunkdef_info* Chain(std::vector<chunkdef_info*> nodes) {
  for (size_t i = 0; i + 1 < nodes.size(); ++i) nodes[i]->next = nodes[i + 1];
  return nodes.empty() ? nullptr : nodes[0];
}

class EngineDoc : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    session = new LSXLsiSession();
    ASSERT_TRUE(session->IsValid());
    std::string path = "mem-engine-" + std::to_string(++counter) + ".nsf";
    ASSERT_EQ(NnDbOpen(path.c_str(), NN_DB_CREATE, &db), NN_OK);
    ASSERT_EQ(NnNoteCreate(db, NN_CLASS_DOCUMENT, &note), NN_OK);
  }
  void TearDown() override {
    delete session;  // deletes the chunks and items left
    if (note) NnNoteClose(note);
    if (db) NnDbClose(db);
  }

  // Stores the records as the item "Body" (one segment per group) and binds
  // an item and a chunk with the chain.
  void Make(const std::vector<Bytes>& records, chunkdef_info* chain = nullptr) {
    MakeSegments({Join(records)}, chain);
  }
  void MakeSegments(const std::vector<Bytes>& segments, chunkdef_info* chain = nullptr) {
    for (const Bytes& s : segments)
      ASSERT_EQ(NnItemAppend(note, 0, "Body", 4, NN_TYPE_COMPOSITE, s.data(), uint32_t(s.size())),
                NN_OK);
    item = new TorvoRTItem(session);
    ASSERT_EQ(item->ConnectBackend(db, note, "Body"), NN_OK);
    chunk = new TorvoRTChunk(session, item);
    chunk->internal->chain = chain;
  }

  // The item's stored bytes, all segments joined (type words left out).
  Bytes Stored() {
    Bytes out;
    NnBlockId it, value;
    uint16_t type = 0;
    uint32_t len = 0;
    NnStatus st = NnItemInfo(note, "Body", 4, &it, &type, &value, &len);
    while (st == NN_OK) {
      const uint8_t* p = static_cast<const uint8_t*>(NnBlockLock(value));
      if (p && len >= 2) out.insert(out.end(), p + 2, p + len);
      NnBlockUnlock(value);
      NnBlockId prev = it;
      st = NnItemInfoNext(note, prev, "Body", 4, &it, &type, &value, &len);
    }
    return out;
  }

  NnStatus Run(uint16_t code, uint32_t sub = 0, uint32_t n1 = 0, const char* t1 = nullptr,
               const char* t2 = nullptr, uint32_t n2 = 0, uint32_t n3 = 0) {
    return ProcessChunkOperation(chunk, note, "Body", code, sub, n1, n2, n3, t1, t2, 0, nullptr,
                                 nullptr);
  }

  // The locate step over the whole item: first and last record of the targets.
  std::pair<uint32_t, uint32_t> Locate() {
    session->globals->FirstMatchRecord = 0;
    session->globals->LastMatchRecord = 0;
    EXPECT_EQ(Run(STEP_LOCATE, PROP_LAST_RECORD), 0);
    return {session->globals->FirstMatchRecord, session->globals->LastMatchRecord};
  }

  // The ranges collected by step 2.
  std::vector<std::pair<uint32_t, uint32_t>> Positions(const char* keyKind = nullptr) {
    EXPECT_EQ(Run(STEP_POSITIONS, 0, 0, nullptr, keyKind), 0);
    std::vector<std::pair<uint32_t, uint32_t>> out;
    for (uint16_t i = 0; i < chunk->internal->positionCount; ++i)
      out.push_back({chunk->internal->positions[i].firstRecord,
                     chunk->internal->positions[i].lastRecord});
    return out;
  }

  LSXLsiSession* session = nullptr;
  NnHandle db = 0, note = 0;
  TorvoRTItem* item = nullptr;
  TorvoRTChunk* chunk = nullptr;
};

// The stored records of an item's bytes, one by one (canonical, header included).
struct Rec {
  uint16_t sig;
  Bytes bytes;
};

inline std::vector<Rec> Split(const Bytes& data) {
  std::vector<Rec> out;
  size_t pos = 0;
  while (pos < data.size()) {
    uint16_t sig;
    kv::cd::HeaderKind kind;
    uint32_t len = 0, header = 0;
    if (!kv::cd::ReadCanonicalHeader(data.data() + pos, data.size() - pos, &sig, &kind, &len,
                                     &header) ||
        len < header || len > data.size() - pos)
      break;
    out.push_back({sig, Bytes(data.begin() + long(pos), data.begin() + long(pos + len))});
    pos += len + (len % 2);
  }
  return out;
}

// How many records of the signature the list holds.
inline size_t CountRecords(const std::vector<Rec>& recs, uint16_t sig) {
  size_t n = 0;
  for (const Rec& r : recs) n += r.sig == sig;
  return n;
}

}  // namespace enginetest
