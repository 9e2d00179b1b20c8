// What happens after an element of the target ends.
#include "lsxsessi.h"
#include "host/sortcmp.h"
#include "richtext/engine/render2419.h"  // operation 2419
#include "richtext/engine/rtproc.h"
#include "richtext/engine/opfamily.h"

NnStatus ApplyChunkElementAction(uint8_t* data, uint16_t signature, uint32_t length,
                                 RTProcessContext* ctx) {
  switch (ctx->OperationCode) {
    case STEP_POSITIONS:
      // The range closes at the element's last record; an ending record that
      // already belongs to what follows is not part of it.
      if (ctx->PositionCount && ctx->Positions) {
        kv::SortKeyEntry& e = ctx->Positions[ctx->PositionCount - 1];
        uint32_t last = ctx->RecordNumber;
        if (ctx->EndingRecordOutside && last > e.firstRecord) --last;
        e.lastRecord = last;
      }
      return 0;
    case 2419:  // the element is rendered
      return Render2419Element(ctx);
    // The appends after the element (insert position not 0), the closing
    // records of removals and wrappings and element options act here with
    // their families.
    default: {
      NnStatus st = 0;
      FamilyElementEnd(data, signature, length, ctx, &st);
      return st;
    }
  }
}
