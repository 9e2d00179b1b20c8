// Releasing a link-matching context.
#include "richtext/item/linkmatch.h"

#include "host/pool.h"
#include "rtitem.h"

void LinkMatchContextDelete(LinkMatchContext* context, int freeSelf) {
  if (!context) return;
  for (NnHandle& h : context->keyLists) {
    if (h) NnMemFree(h);
    h = 0;
  }
  if (context->noteIdBlock) {
    if (context->noteIds) NnMemUnlock(context->noteIdBlock);
    NnMemFree(context->noteIdBlock);
  }
  context->noteIdBlock = 0;
  context->noteIds = nullptr;
  if (context->session) {
    if (context->firstLetters) PoolFree(context->session, context->firstLetters);
    if (context->matchedFlags) PoolFree(context->session, context->matchedFlags);
  }
  context->firstLetters = nullptr;
  context->matchedFlags = nullptr;
  context->keyCount = 0;
  context->shortestKeyLength = 0;
  if (freeSelf) delete context;
}
