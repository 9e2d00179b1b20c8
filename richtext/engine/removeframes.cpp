#include "richtext/engine/removeframes.h"

#include <unordered_map>

#include "richtext/engine/tablerows.h"
#include "richtext/item/cdlayout.h"
#include "richtext/item/compose.h"
#include "richtext/item/recordlist.h"

namespace kv::removal {

namespace {

constexpr uint16_t kSigBegin = 221;
constexpr uint16_t kSigEnd = 222;
constexpr uint16_t kSigPreTable = 0xFFFB;

using kv::tables::IsCell;
using kv::tables::IsTableBegin;
using kv::tables::IsTableEnd;


// The records with a partner elsewhere in the item.
bool IsFrameRecord(uint16_t s) {
  return s == kSigBegin || s == kSigEnd || s == kSigPreTable || IsTableBegin(s) ||
         IsTableEnd(s) || IsCell(s) || IsHotspotBegin(s) || IsHotspotEnd(s);
}

// The records a group's content begins with: its text, a paragraph's head, a
// table, another group. A hotspot's begin record still leads its group.
bool BeginsContent(uint16_t s) {
  switch (s) {
    case 0xFF85: case 0xFFE4: case 129: case 131: case 0xFF82: case 0xFFBB: case 166:
      return true;
    default:
      return !IsHotspotBegin(s) && IsFrameRecord(s);
  }
}

uint16_t GroupObject(const RTRecordNode* n) { return kv::cd::U16(n->data, n->length, 4); }

}  // namespace

NnStatus CutFrames::Take(const RTRecordNode* walked, ComposeContext* compose, bool* written) {
  *written = false;
  if (!walked || !compose || !compose->newList) return 0;
  range_.insert(walked);
  const uint16_t sig = walked->signature;
  if (leading_ && BeginsContent(sig)) leading_ = nullptr;
  const RTRecordNode* leader = IsFrameRecord(sig) ? nullptr : leading_;
  if (!leader && !IsFrameRecord(sig)) return 0;
  NnStatus st = AppendRecord(walked->data, sig, walked->length, compose);
  if (st) return st;
  frames_.push_back({compose->newList->last, walked, leader});
  if (sig == kSigBegin) leading_ = walked;
  *written = true;
  return 0;
}

void CutFrames::Settle(LSXLsiSession* session, const RecordList* walked, RecordList* composed,
                       bool rowTarget) {
  if (frames_.empty() || !walked || !composed) return;
  // Pair every structure's ends over the item; a structure goes only when
  // both lie in the range. Cells and the pre-table group share their table's
  // fate, the records that lead a group's content their BEGIN's.
  std::unordered_map<const RTRecordNode*, bool> goes;
  const auto inRange = [&](const RTRecordNode* n) { return range_.count(n) != 0; };
  const auto pair = [&](const RTRecordNode* a, const RTRecordNode* b) {
    goes[a] = goes[b] = inRange(a) && inRange(b);
  };
  struct OpenTable {
    const RTRecordNode* begin;
    std::vector<const RTRecordNode*> members;
  };
  std::vector<const RTRecordNode*> groups, hotspots, preTable;
  std::vector<OpenTable> tables;
  for (const RTRecordNode* n = walked->first; n; n = n->next) {
    const uint16_t s = n->signature;
    if (s == kSigBegin) {
      groups.push_back(n);
      if (GroupObject(n) == kSigPreTable) preTable.push_back(n);
    } else if (s == kSigEnd && !groups.empty()) {
      const RTRecordNode* begin = groups.back();
      groups.pop_back();
      if (GroupObject(begin) == kSigPreTable)
        preTable.push_back(n);
      else
        pair(begin, n);
    } else if (s == kSigPreTable) {
      preTable.push_back(n);
    } else if (IsTableBegin(s)) {
      tables.push_back({n, std::move(preTable)});
      preTable.clear();
    } else if (IsCell(s) && !tables.empty()) {
      tables.back().members.push_back(n);
    } else if (IsTableEnd(s) && !tables.empty()) {
      const OpenTable table = std::move(tables.back());
      tables.pop_back();
      pair(table.begin, n);
      const bool whole = goes[n];
      for (const RTRecordNode* m : table.members)
        goes[m] = whole || (rowTarget && IsCell(m->signature) && inRange(m));
    } else if (IsHotspotBegin(s)) {
      hotspots.push_back(n);
    } else if (IsHotspotEnd(s) && !hotspots.empty()) {
      pair(hotspots.back(), n);
      hotspots.pop_back();
    }
  }
  // A record without a partner goes, as any other of the range.
  for (const Frame& f : frames_) {
    const auto it = goes.find(f.leader ? f.leader : f.walked);
    if (it == goes.end() || it->second) RecordListUnlink(session, composed, f.composed);
  }
  frames_.clear();
}

}  // namespace kv::removal
