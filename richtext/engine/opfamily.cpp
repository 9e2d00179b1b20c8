#include "richtext/engine/opfamily.h"

#include <vector>

namespace {

std::vector<const OperationFamily*>& Families() {
  static std::vector<const OperationFamily*> families;
  return families;
}

}  // namespace

void RegisterOperationFamily(const OperationFamily* family) {
  if (family) Families().push_back(family);
}

bool FamilySetup(RTProcessContext* ctx, NnStatus* status) {
  for (const OperationFamily* f : Families())
    if (f->setup && f->setup(ctx, status)) return true;
  return false;
}

bool FamilyPreWalk(RTProcessContext* ctx, NnStatus* status) {
  for (const OperationFamily* f : Families())
    if (f->preWalk && f->preWalk(ctx, status)) return true;
  return false;
}

bool FamilyAtTarget(uint8_t* data, uint16_t signature, uint32_t length, RTProcessContext* ctx,
                    NnStatus* status) {
  for (const OperationFamily* f : Families())
    if (f->atTarget && f->atTarget(data, signature, length, ctx, status)) return true;
  return false;
}

bool FamilyRecord(uint8_t* data, uint16_t signature, uint32_t length, RTProcessContext* ctx,
                  RecordEmission* out, NnStatus* status) {
  for (const OperationFamily* f : Families())
    if (f->record && f->record(data, signature, length, ctx, out, status)) return true;
  return false;
}

bool FamilyElementEnd(uint8_t* data, uint16_t signature, uint32_t length, RTProcessContext* ctx,
                      NnStatus* status) {
  for (const OperationFamily* f : Families())
    if (f->elementEnd && f->elementEnd(data, signature, length, ctx, status)) return true;
  return false;
}

bool FamilyPostWalk(RTProcessContext* ctx, NnStatus* status) {
  for (const OperationFamily* f : Families())
    if (f->postWalk && f->postWalk(ctx, status)) return true;
  return false;
}
