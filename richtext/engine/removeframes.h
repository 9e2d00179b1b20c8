// The frame of the structures a removal cuts through. A removed range (after
// a nested table, before a table in a layer, inside a table) may hold one end
// of a structure and not the other: a BEGIN whose END lies beyond it, a
// table's end whose begin lies before it, a hotspot's begin or end. Dropping
// that end alone would leave the item unbalanced, so such frame records stay
// (a BEGIN with the records that lead its content, a table's pre-table group,
// begin, cells and end, a hotspot's begin or end), and a structure that lies
// in the range whole goes with it.
#pragma once

#include <cstdint>
#include <unordered_set>
#include <vector>

#include "nn/nn.h"

struct RTRecordNode;
struct RecordList;
struct ComposeContext;
class LSXLsiSession;

namespace kv::removal {

// A hotspot's begin and end records: the pairs a removal must keep whole.
inline bool IsHotspotBegin(uint16_t s) {
  return s == 0xFF74 || s == 0xFF7E || s == 0xFFA9 || s == 0xFFAD;
}
inline bool IsHotspotEnd(uint16_t s) { return s == 0x7F || s == 0xAA || s == 0xAE; }

class CutFrames {
 public:
  // A walked record the removal drops. A frame record is written for now
  // (`*written` set; the caller writes nothing); any other is only noted as
  // part of the range.
  NnStatus Take(const RTRecordNode* walked, ComposeContext* compose, bool* written);

  // After the walk: the frame records of every structure that lies in the
  // range whole leave the composition. With `rowTarget` the cells of the
  // removed row go although their table stays.
  void Settle(LSXLsiSession* session, const RecordList* walked, RecordList* composed,
              bool rowTarget);

 private:
  struct Frame {
    RTRecordNode* composed;        // the copy written for now
    const RTRecordNode* walked;    // the record itself
    const RTRecordNode* leader;    // the BEGIN whose content it leads; null for a frame record
  };
  std::vector<Frame> frames_;
  std::unordered_set<const RTRecordNode*> range_;
  const RTRecordNode* leading_ = nullptr;  // a BEGIN written for now, before its content
};

}  // namespace kv::removal
