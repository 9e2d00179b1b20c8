// Style mappings of an item: lookups by font and the internal mappings the
// renderer creates for fonts it has formatted.
#include <new>

#include "host/pool.h"
#include "rtitem.h"

_StyleMapping_Info* TorvoRTItem::GetStyleMappingByFontID(uint32_t fontId, int listSelector) const {
  if (!context) return nullptr;
  _StyleMapping_Info* node =
      listSelector == 1 ? context->internalStyleMappings : context->styleMappings;
  for (; node; node = node->next)
    if (node->hasFont && node->fontId == fontId) return node;
  return nullptr;
}

_StyleMapping_Info* TorvoRTItem::CreateInternalStyleMapping(const char* styleText,
                                                            const char* closingTags,
                                                            uint32_t fontId) {
  if (!context || !session) return nullptr;
  void* mem = POOL_ALLOC(session, sizeof(_StyleMapping_Info), true);
  if (!mem) return nullptr;
  auto* node = new (mem) _StyleMapping_Info();
  // Every text is a pool block of its own: the item's destructor frees them
  // one by one.
  node->elementName = POOL_STRDUP(session, styleText ? styleText : "");
  node->closingTags = POOL_STRDUP(session, closingTags ? closingTags : "");
  if (!node->elementName || !node->closingTags) {
    if (node->elementName) PoolFree(session, node->elementName);
    if (node->closingTags) PoolFree(session, node->closingTags);
    node->~_StyleMapping_Info();
    PoolFree(session, node);
    return nullptr;
  }
  node->fontId = fontId;
  node->hasFont = 1;
  // Appended at the end: the renderer walks the mappings in creation order.
  _StyleMapping_Info** tail = &context->internalStyleMappings;
  while (*tail) tail = &(*tail)->next;
  *tail = node;
  return node;
}
