// The two lists of open elements: list 0 holds block elements (div, p, lists,
// tables), list 1 inline ones (span, font, a). Each entry keeps a copy of the
// element's closing text (in the entry when short, else in the pool); the
// newest entry is the head. Closing walks from the head, so elements are
// always closed in the reverse order of opening.
//
// The lists mirror the output: an entry is popped only once its closing text
// is written. When the output has no room for a closing text, closing stops
// there and reports failure; the entries left still describe what is open.
#include <cstring>

#include "host/pool.h"
#include "lsxsessi.h"
#include "render/render.h"

namespace {

OpenElement** ListHead(RenderContext* ctx, int list) {
  if (ctx == nullptr) return nullptr;
  if (list == 0) return &ctx->blockElementList;
  if (list == 1) return &ctx->inlineElementList;
  return nullptr;
}

const OpenElement* ListHeadConst(const RenderContext* ctx, int list) {
  if (ctx == nullptr) return nullptr;
  if (list == 0) return ctx->blockElementList;
  if (list == 1) return ctx->inlineElementList;
  return nullptr;
}

bool SameText(const char* a, const char* b) {
  return a != nullptr && b != nullptr && std::strcmp(a, b) == 0;
}

void FreeEntry(RenderContext* ctx, OpenElement* entry) {
  if (entry == nullptr) return;
  if (entry->closingText != entry->shortText) PoolFree(ctx->session, entry->closingText);
  PoolFree(ctx->session, entry);
}

// A section's entry fences off what was open before it: an element opened
// outside a section is never found (or closed) by its text from inside it.
// Only the section's opener closes the section (or closing everything).
bool Fence(const OpenElement* e) { return e->kind == OpenElementKind::kSection; }

bool OnList(const OpenElement* head, const char* closingText) {
  for (const OpenElement* e = head; e != nullptr && !Fence(e); e = e->next)
    if (SameText(e->closingText, closingText)) return true;
  return false;
}

// Closes from the head down to and including the first entry with the text
// ("" or null: everything). flags 0x1 pops without writing.
int CloseDown(RenderContext* ctx, int list, const char* closingText, uint32_t flags) {
  OpenElement** head = ListHead(ctx, list);
  if (head == nullptr || *head == nullptr) return 0;
  const bool all = closingText == nullptr || closingText[0] == 0;
  if (!all && !OnList(*head, closingText)) return 0;
  int closed = 0;
  while (*head != nullptr) {
    OpenElement* top = *head;
    const bool last = !all && SameText(top->closingText, closingText);
    if ((flags & 0x1) == 0 && top->closingText != nullptr &&
        !RenderAppend(ctx, top->closingText))
      return 0;  // no room: what stays open stays listed
    *head = top->next;
    FreeEntry(ctx, top);
    closed = 1;
    if (last) break;
  }
  return closed;
}

}  // namespace

OpenElement* PushOpenElement(RenderContext* ctx, int list, const char* closingText,
                             uint32_t level) {
  OpenElement** head = ListHead(ctx, list);
  if (head == nullptr || closingText == nullptr || ctx->session == nullptr) return nullptr;
  auto* entry =
      static_cast<OpenElement*>(POOL_ALLOC(ctx->session, sizeof(OpenElement), true));
  if (entry == nullptr) return nullptr;
  // Most closing texts are a short tag: they need no pool text of their own.
  const size_t length = std::strlen(closingText);
  char* copy = entry->shortText;
  if (length < sizeof entry->shortText) {
    std::memcpy(copy, closingText, length + 1);
  } else {
    copy = POOL_STRDUP(ctx->session, closingText);
    if (copy == nullptr) {
      PoolFree(ctx->session, entry);
      return nullptr;
    }
  }
  entry->closingText = copy;
  entry->level = level;
  entry->serial = ++ctx->elementSerial;
  entry->next = *head;
  *head = entry;
  return entry;
}

void PushOpenTag(RenderContext* ctx, int list, const char* closingText) {
  PushOpenElement(ctx, list, closingText, 0);
}

int IsElementOpen(const RenderContext* ctx, int list, const char* closingText, int anywhere) {
  const OpenElement* head = ListHeadConst(ctx, list);
  if (head == nullptr || closingText == nullptr) return 0;
  if (anywhere) return OnList(head, closingText) ? 1 : 0;
  return SameText(head->closingText, closingText) ? 1 : 0;
}

int IsElementOpenAbove(const RenderContext* ctx, int list, const char* closingText,
                       const char* barrier, const char* barrier2) {
  return IsElementOpenBefore(ctx, list, closingText, barrier, barrier2, nullptr);
}

int IsElementOpenBefore(const RenderContext* ctx, int list, const char* closingText,
                        const char* barrier, const char* barrier2, const char* barrier3) {
  if (closingText == nullptr) return 0;
  for (const OpenElement* e = ListHeadConst(ctx, list); e != nullptr && !Fence(e); e = e->next) {
    if (SameText(e->closingText, closingText)) return 1;
    if (SameText(e->closingText, barrier) || SameText(e->closingText, barrier2) ||
        SameText(e->closingText, barrier3))
      return 0;
  }
  return 0;
}

int IsOpenElementListed(const RenderContext* ctx, int list, uint32_t serial) {
  if (serial == 0) return 0;
  for (const OpenElement* e = ListHeadConst(ctx, list); e != nullptr; e = e->next)
    if (e->serial == serial) return 1;
  return 0;
}

int CloseOpenElementsThrough(RenderContext* ctx, int list, uint32_t serial) {
  OpenElement** head = ListHead(ctx, list);
  if (head == nullptr || !IsOpenElementListed(ctx, list, serial)) return 0;
  while (*head != nullptr) {
    OpenElement* top = *head;
    const bool last = top->serial == serial;
    if (top->closingText != nullptr && !RenderAppend(ctx, top->closingText)) return 0;
    *head = top->next;
    FreeEntry(ctx, top);
    if (last) return 1;
  }
  return 1;
}

uint32_t FindOpenElementLevel(const RenderContext* ctx, int list, const char* closingText,
                              int /*flags*/) {
  for (const OpenElement* e = ListHeadConst(ctx, list); e != nullptr && !Fence(e); e = e->next)
    if (SameText(e->closingText, closingText)) return e->level;
  return 0;
}

int CloseOpenElements(RenderContext* ctx, int list, const char* closingText, uint32_t flags) {
  return CloseDown(ctx, list, closingText, flags);
}

int CloseOpenElementsTo(RenderContext* ctx, int list, const char* closingText, uint32_t flags) {
  return CloseDown(ctx, list, closingText, flags);
}

void PopOpenElementsInto(RenderContext* ctx, int list, OpenElement* savedHead, char* buffer,
                         size_t bufferSize) {
  OpenElement** head = ListHead(ctx, list);
  if (head == nullptr) return;
  // A saved head that is no longer on the list means everything goes.
  bool found = savedHead == nullptr;
  for (const OpenElement* e = *head; e != nullptr && !found; e = e->next)
    if (e == savedHead) found = true;
  if (!found) savedHead = nullptr;
  size_t used = 0;
  if (buffer != nullptr && bufferSize > 0) {
    used = strnlen(buffer, bufferSize - 1);
    buffer[used] = 0;
  }
  while (*head != nullptr && *head != savedHead) {
    OpenElement* top = *head;
    if (buffer != nullptr && bufferSize > 0 && top->closingText != nullptr) {
      size_t n = std::strlen(top->closingText);
      if (used + n < bufferSize) {  // a closing text is appended whole or not at all
        std::memcpy(buffer + used, top->closingText, n);
        used += n;
        buffer[used] = 0;
      }
    }
    *head = top->next;
    FreeEntry(ctx, top);
  }
}

void FreeOpenElements(RenderContext* ctx) {
  if (ctx == nullptr) return;
  for (int list = 0; list < 2; ++list) {
    OpenElement** head = ListHead(ctx, list);
    while (*head != nullptr) {
      OpenElement* top = *head;
      *head = top->next;
      FreeEntry(ctx, top);
    }
  }
}
