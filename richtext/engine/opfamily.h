// Families of engine operations. Each family (table and cell operations, text
// replacement, link matching, ...) lives in a file of its own and registers
// here the blocks it provides for the codes it knows; the engine's entry, walk
// and handlers ask the registered families in turn. A block returns true when
// it took the call (the operation is its own), false to let others look.
#pragma once

#include <cstdint>

#include "nn/nn.h"

struct RTProcessContext;

// What the per-record handler emits for the record: a block may drop it
// (length 0), replace it (data/signature/length of a new record; a pool block
// in `replacement` is freed after the emission), or leave it.
struct RecordEmission {
  const uint8_t* data;
  uint16_t signature;
  uint32_t length;
  void* replacement;
};

struct OperationFamily {
  const char* name;
  // Operation-specific set-up before the walk (after the common set-up).
  bool (*setup)(RTProcessContext* ctx, NnStatus* status);
  // Work before the walk, once the records are loaded (e.g. one pass over the list).
  bool (*preWalk)(RTProcessContext* ctx, NnStatus* status);
  // At the first record of each element of the target (insertions, queries of a position).
  bool (*atTarget)(uint8_t* data, uint16_t signature, uint32_t length, RTProcessContext* ctx,
                   NnStatus* status);
  // Each record of the target.
  bool (*record)(uint8_t* data, uint16_t signature, uint32_t length, RTProcessContext* ctx,
                 RecordEmission* out, NnStatus* status);
  // After an element of the target ends (appends, closing records, element options).
  bool (*elementEnd)(uint8_t* data, uint16_t signature, uint32_t length, RTProcessContext* ctx,
                     NnStatus* status);
  // After the walk, before the write-back.
  bool (*postWalk)(RTProcessContext* ctx, NnStatus* status);
};

// Registers a family (at start-up, from a static initialiser of its file).
void RegisterOperationFamily(const OperationFamily* family);

// The engine's calls into the families; false when no family took the call.
bool FamilySetup(RTProcessContext* ctx, NnStatus* status);
bool FamilyPreWalk(RTProcessContext* ctx, NnStatus* status);
bool FamilyAtTarget(uint8_t* data, uint16_t signature, uint32_t length, RTProcessContext* ctx,
                    NnStatus* status);
bool FamilyRecord(uint8_t* data, uint16_t signature, uint32_t length, RTProcessContext* ctx,
                  RecordEmission* out, NnStatus* status);
bool FamilyElementEnd(uint8_t* data, uint16_t signature, uint32_t length, RTProcessContext* ctx,
                      NnStatus* status);
bool FamilyPostWalk(RTProcessContext* ctx, NnStatus* status);

// Registers a family from a file's static initialiser:
//   static const OperationFamily kTables = {"tables", ...};
//   KV_REGISTER_OPERATION_FAMILY(kTables);
#define KV_REGISTER_OPERATION_FAMILY(family)                     \
  namespace {                                                    \
  const bool family##_registered = [] {                         \
    RegisterOperationFamily(&family);                            \
    return true;                                                 \
  }();                                                           \
  }
