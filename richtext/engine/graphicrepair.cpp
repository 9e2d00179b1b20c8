// Graphic repair operations: FixupGraphics (2822) re-emits each graphic of the
// target with its records made to agree with their headers, VerifyGraphics
// (2823) only reports whether they agree, and ConvertBitmaps (2807), which
// needs a graphic converter this platform does not have, refuses.
#include "lsxsessi.h"
#include "richtext/compose/composers.h"
#include "richtext/engine/opfamily.h"
#include "richtext/engine/rtproc.h"

namespace {

constexpr uint16_t kSigGraphic = 153;
constexpr uint16_t kSigBitmapHeader = 149;
constexpr uint16_t kSigStorageLink = 0xFFC4;

NnStatus Fixup(uint8_t* data, uint16_t sig, uint32_t len, RTProcessContext* ctx,
               RecordEmission* out) {
  if (sig != kSigGraphic) return 0;
  const NnStatus st = RepairGraphicRecords(data, sig, len, ctx);
  if (st == 0) out->length = 0;  // emitted with the repaired sequence
  return st;
}

NnStatus Verify(uint8_t* data, uint16_t sig, uint32_t len, RTProcessContext* ctx,
                RecordEmission* out) {
  out->length = 0;  // a read-only walk
  if (sig != kSigGraphic) return 0;
  return RepairGraphicRecords(data, sig, len, ctx);
}

// No converter: the first bitmap ends the call with the item as it was, and
// says so, rather than reporting a conversion that did not happen.
NnStatus ConvertBitmap(uint16_t sig, RTProcessContext* ctx) {
  if (sig != kSigBitmapHeader || ctx->PreviousSignature == kSigStorageLink) return 0;
  const NnStatus st = NN_ERR_INVALID_ARG;
  NnLogMessage(st, "Unable to convert bitmap graphic");
  return st;
}

bool Record(uint8_t* data, uint16_t sig, uint32_t len, RTProcessContext* ctx, RecordEmission* out,
            NnStatus* status) {
  switch (ctx->OperationCode) {
    case 2822:
      *status = Fixup(data, sig, len, ctx, out);
      return true;
    case 2823:
      *status = Verify(data, sig, len, ctx, out);
      return true;
    case 2807:
      *status = ConvertBitmap(sig, ctx);
      return true;
    default:
      return false;
  }
}

const OperationFamily kGraphicRepair = {"graphic repair", nullptr, nullptr, nullptr, Record,
                                        nullptr, nullptr};

}  // namespace

KV_REGISTER_OPERATION_FAMILY(kGraphicRepair);
