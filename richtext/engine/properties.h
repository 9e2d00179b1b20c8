// The chunk's properties by name: the property table, and the lookups the
// chunk's property methods use. The get and set steps named by the table run
// inside the engine's walk (properties.cpp and the families of the other
// steps).
#pragma once

#include <cstddef>
#include <cstdint>

struct ChunkPropertyRow {
  const char* name;       // null in the closing row
  uint16_t valueType;     // 3 number, 5 text (descriptive)
  uint16_t group;         // where the value travels (see the chunk's property methods)
  uint16_t code;          // property code, the engine's sub-code
  uint16_t getStep;       // 0: the chunk answers itself
  uint16_t setStep;       // 0: no handler
  uint32_t readOnly;      // 1: setting is refused
  uint32_t chunkHandled;  // 1: the chunk's methods treat the row themselves
};

constexpr size_t kChunkPropertyRows = 70;
// Alphabetical by name, then one empty row.
extern const ChunkPropertyRow ChunkPropertyTable[kChunkPropertyRows + 1];

// The row of a name (without regard to case); the search stops at the first
// row that sorts after the name. Null when there is none.
const ChunkPropertyRow* FindChunkProperty(const char* name);
// The same over the whole table, without the early stop.
const ChunkPropertyRow* FindChunkPropertyAnywhere(const char* name);

// Whether an engine call runs the set step of a property: the operation is
// the set step of a row and the sub-code that row's property code, or one
// of the set steps nothing but a property's setter runs (their sub-code may
// carry the value). Such a call that meets no record of the property's kind
// in its target, and composes none, fails.
bool RunsPropertySet(uint16_t code, uint32_t subCode);

struct RTRecordNode;
// Whether the record lies in pass-through HTML (a 0xFFCC marker opens it, a
// 0xFFCD ends it): the nearest marker at or before it opens one. What the
// PassthruHTML property reads of a target's first record.
bool PassthruAt(const RTRecordNode* node);

// Property codes the engine steps test.
enum : uint16_t {
  PROPC_ACTION_FORMULA = 2301,
  PROPC_DEFINITION = 2306,
  PROPC_FILE_NAME = 2337,
  PROPC_OLE_NAME = 2326,
  PROPC_ORIGINAL_NAME = 2621,
  PROPC_LINK_NOTE = 2322,
  PROPC_LINK_REPLICA = 2323,
  PROPC_LINK_VIEW = 2324,
  PROPC_LINK_ANCHOR = 2338,
  PROPC_LINK_SERVER = 2339,
  PROPC_LINK_POPUP = 2340,
  PROPC_LINK_URL = 2341,
  PROPC_HIDE_FORMULA = 2333,
  PROPC_MAX_RIGHT = 2604,
  PROPC_PASSTHRU = 2612,
  PROPC_CELL_COLOR = 2606,
  PROPC_FONT_COLOR = 2318,
};
