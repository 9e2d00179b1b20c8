// A renderer fixture with paragraph definitions and references built in memory.
#pragma once

#include "render/text_support.h"

namespace textwriters {

class ParagraphRecordsTest : public TextWriterTest {
 protected:
  RTRecordNode* AddDefinition(uint16_t id, uint16_t left, uint16_t first, uint16_t flags = 0x0100) {
    RTRecordNode* n = AddRecord(0xFF82, 72);
    Put(n, 0, 0xFF82);
    Put(n, 2, 72);
    Put(n, 4, id);
    Put(n, 14, left);
    Put(n, 18, first);
    Put(n, 62, flags);
    return n;
  }
  RTRecordNode* AddReference(uint16_t id) {
    RTRecordNode* n = AddRecord(0x0083, 4);
    Put(n, 2, id);
    return n;
  }
  static void Put(RTRecordNode* n, uint32_t off, uint16_t v) {
    n->data[off] = uint8_t(v);
    n->data[off + 1] = uint8_t(v >> 8);
  }
};

}  // namespace textwriters
