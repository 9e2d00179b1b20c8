// The render driver: the bounded output helpers every writer appends through,
// the context's allocation, and PrXMLStr, the walk over one record range.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "host/logging.h"
#include "host/pool.h"
#include "lsxsessi.h"
#include "rtitem.h"
#include "richtext/item/cdlayout.h"
#include "render/render.h"
#include "richtext/item/recordlist.h"

// ---- bounded output ---------------------------------------------------------

bool RenderAppendf(RenderContext* ctx, const char* format, ...) {
  if (!ctx || !format) return false;
  if (ctx->driver.outputFull) return false;
  size_t room = RenderRoom(ctx);
  if (room == 0) {
    // Even an empty result needs no room; anything else does not fit.
    va_list probe;
    va_start(probe, format);
    int need = std::vsnprintf(nullptr, 0, format, probe);
    va_end(probe);
    if (need == 0) return true;
    ctx->driver.outputFull = 1;
    return false;
  }
  va_list args;
  va_start(args, format);
  // The formatted text goes straight to the cursor; room + 1 includes the NUL.
  char saved = ctx->outputCursor[room];
  int written = std::vsnprintf(ctx->outputCursor, room + 1, format, args);
  va_end(args);
  if (written < 0 || static_cast<size_t>(written) > room) {
    // Did not fit: leave the output as it was.
    *ctx->outputCursor = 0;
    ctx->outputCursor[room] = saved;
    ctx->driver.outputFull = 1;
    return false;
  }
  ctx->outputCursor += written;
  *ctx->outputCursor = 0;
  return true;
}

// ---- context allocation -------------------------------------------------------

RenderContext* RenderContextCreate(LSXLsiSession* session, uint32_t capacity) {
  if (!session) return nullptr;
  void* storage = POOL_ALLOC(session, sizeof(RenderContext), true);
  if (!storage) return nullptr;
  char* buffer = nullptr;
  if (capacity) {
    buffer = static_cast<char*>(POOL_ALLOC(session, capacity, true));
    if (!buffer) {
      PoolFree(session, storage);
      return nullptr;
    }
  }
  RenderContext* ctx = new (storage) RenderContext();
  ctx->session = session;
  ctx->outputBuffer = buffer;
  ctx->outputCursor = buffer;
  ctx->outputCapacity = buffer ? capacity : 0;
  return ctx;
}

// Frees the pool texts the per-render tables own (the driver's release step).
void RenderReleaseTables(RenderContext* ctx) {
  if (!ctx) return;
  for (uint32_t i = 0; i < kBorderClassSlots; ++i) {
    if (ctx->borderClassCss[i]) PoolFree(ctx->session, ctx->borderClassCss[i]);
    ctx->borderClassCss[i] = nullptr;
    ctx->borderClassCodes[i][0] = 0;
  }
  ctx->borderClassCount = 0;
  // Class texts are interned strings: the string table owns them (the
  // spilled ones too).
  for (uint32_t i = 0; i < kParagraphClassSlots; ++i) ctx->paragraphClassCss[i] = nullptr;
  ctx->paragraphClassCount = 0;
  ctx->head.classSpillCount = 0;
  for (uint32_t i = 0; i < kStringTableSize; ++i) {
    if (ctx->stringTable[i]) PoolFree(ctx->session, ctx->stringTable[i]);
    ctx->stringTable[i] = nullptr;
  }
  ctx->stringTableCount = 0;
  for (uint32_t i = 0; i < ctx->stringOverflowCount; ++i)
    PoolFree(ctx->session, ctx->stringOverflow[i]);
  if (ctx->stringOverflow) PoolFree(ctx->session, ctx->stringOverflow);
  ctx->stringOverflow = nullptr;
  ctx->stringOverflowCount = ctx->stringOverflowCapacity = 0;
}

void RenderContextFree(RenderContext* ctx) {
  if (!ctx) return;
  LSXLsiSession* session = ctx->session;
  RenderReleaseTables(ctx);
  FreeOpenElements(ctx);
  char** texts[] = {&ctx->imageURLDirectory, &ctx->attachmentURLDirectory, &ctx->imageDirectory,
                    &ctx->attachmentDirectory, &ctx->inPlaceAttachmentURLDirectory,
                    &ctx->dbResource, &ctx->imageFilePath, &ctx->basePathname, &ctx->formName,
                    &ctx->formPath, &ctx->expandIcon, &ctx->collapseIcon, &ctx->stylesheetUrl,
                    &ctx->bulletGraphics[0], &ctx->bulletGraphics[1], &ctx->bulletGraphics[2],
                    &ctx->bulletGraphics[3], &ctx->tabColours[0], &ctx->tabColours[1],
                    &ctx->tabColours[2], &ctx->tabColours[3]};
  for (char** text : texts) {
    if (*text) PoolFree(session, *text);
    *text = nullptr;
  }
  if (ctx->outputBuffer) PoolFree(session, ctx->outputBuffer);
  ctx->~RenderContext();
  PoolFree(session, ctx);
}

// ---- flushing and the output check ------------------------------------------

NnStatus RenderFlushPart(RenderContext* ctx, int finalPart) {
  if (ctx->renderFlagsA & 0x1000) TranslateTextForOutput(ctx, finalPart);
  if (ctx->encodingFlags & 0x3F) EncodeTextForOutput(ctx, finalPart);
  return WriteMIMEHTMLPart(ctx);
}

static size_t OutputLength(const RenderContext* ctx) {
  return static_cast<size_t>(ctx->outputCursor - ctx->outputBuffer);
}

// Closes the start tag of an automatic link left open at a part boundary: its
// target text doubles as the link text, so the part is complete on its own.
static void ClosePendingAnchor(RenderContext* ctx) {
  char* anchor = ctx->pendingAnchor;
  ctx->pendingAnchor = nullptr;
  if (!anchor || anchor < ctx->outputBuffer || anchor > ctx->outputCursor) return;
  size_t targetLength = static_cast<size_t>(ctx->outputCursor - anchor);
  if (!RenderAppend(ctx, "\">")) return;
  // The target text lies before the cursor; RenderAppendN copies with memmove.
  if (!RenderAppendN(ctx, anchor, targetLength)) return;
  RenderAppend(ctx, "</a>");
}

NnStatus RenderOutputCheck(RenderContext* ctx) {
  if (ctx->driver.outputFull) return NN_ERR_MEMORY;
  size_t length = OutputLength(ctx);
  if (ctx->flushThreshold == 0) {
    if (ctx->outputCapacity <= kOutputReserve || length > ctx->outputCapacity - kOutputReserve)
      return NN_ERR_MEMORY;
    return NN_OK;
  }
  size_t threshold = ctx->flushThreshold > 40 ? ctx->flushThreshold - 40 : 0;
  if (length <= threshold) return NN_OK;
  if (ctx->pendingAnchor) ClosePendingAnchor(ctx);
  if (ctx->driver.outputFull) return NN_ERR_MEMORY;
  return RenderFlushPart(ctx, 0);
}

// A flush at the end of a range is only wanted where output leaves in parts;
// otherwise the whole text stays in the buffer for the caller.
static bool FlushesParts(const RenderContext* ctx) {
  return ctx->flushThreshold != 0 || ctx->partWriter != nullptr;
}

// Closes a table that a later range was to continue.
static void CloseContinuedTable(RenderContext* ctx) {
  if (!ctx->tableContinues) return;
  if (ctx->tableRowOpen) RenderAppend(ctx, "</tr>");
  RenderAppend(ctx, "</table>");
  if (ctx->tableCloseText) RenderAppend(ctx, ctx->tableCloseText);
  ctx->tableContinues = 0;
  ctx->tableRowOpen = 0;
}

// Closes a table that a later range was to continue, then the elements
// opened around it (after the table: closing them first would misnest it).
static void EndContinuedTable(RenderContext* ctx) {
  CloseContinuedTable(ctx);
  CloseOpenElementsTo(ctx, 0, "", 0);
}

void FinishRenderPage(RenderContext* ctx) {
  if (!ctx) return;
  EndContinuedTable(ctx);
  WritePageClosings(ctx);
  ctx->head.pageOpened = 0;
  RenderReleaseTables(ctx);
}

// ---- the walk -------------------------------------------------------------------

static bool PastRange(const RenderContext* ctx, const RTRecordNode* node) {
  if (!node) return true;
  return ctx->lastRecord && node->sequence > ctx->lastRecord->sequence;
}

bool RenderNestedEndReached(const RenderContext* ctx, const RenderWalk* walk) {
  if (walk->endType == 0 || walk->depth == 0 || !ctx->currentRecord) return false;
  const RTRecordNode* before = ctx->currentRecord->prev;
  if (!before || before->signature != 0x00DE) return false;
  uint16_t type = 0;
  if (!kv::cd::ReadU16(before->data, before->length, 4, &type)) return false;
  if (SignaturesMatch(walk->endType, type)) return true;
  return walk->endType == 0xFFAD && type == 0xFF85;
}

static void Trace(const RenderContext* ctx, NnStatus status, const char* text) {
  if (ctx->debugLevel > 2) NnLogMessage(status, "%s", text);
}

static void ReleaseStep(RenderContext* ctx) {
  // The head's tables (paragraph classes, hidden paragraphs, border classes)
  // serve every range of the page: they go when the page ends.
  if (!ctx->head.pageOpened) RenderReleaseTables(ctx);
  if (ctx->item && ctx->item->hRenderNote == ctx->item->hNote) ctx->item->hRenderNote = 0;
}

// Plain text or passthrough output: the characters of the text records only.
static NnStatus PlainTextWalk(RenderContext* ctx) {
  NnStatus status = NN_OK;
  while (status == NN_OK && !PastRange(ctx, ctx->currentRecord)) {
    RTRecordNode* node = ctx->currentRecord;
    uint16_t sig = node->signature;
    if ((sig == 0xFF85 || sig == 0xFFE4) && node->data) {
      const char* text = reinterpret_cast<const char*>(node->data);
      uint32_t pos = kv::cd::host::kTextFixed;
      while (pos < node->length) {
        uint32_t size = 1;
        if (NnCharsetByteSize(text + pos, 1, node->length - pos, &size, ctx->charsetTable) !=
                NN_OK ||
            size == 0 || size > node->length - pos)
          size = 1;
        unsigned char c = static_cast<unsigned char>(text[pos]);
        bool ok = true;
        if (size == 1 && c == 0) {
          ok = RenderAppend(ctx, "\r\n");
        } else if (size == 1 && c == 0xFF) {
          ok = RenderAppend(ctx, " ");
        } else if (size == 1 && c == '\t') {
          uint16_t blanks = ctx->tabSpaces ? ctx->tabSpaces : 1;
          for (uint16_t i = 0; ok && i < blanks; ++i) ok = RenderAppend(ctx, " ");
        } else {
          ok = RenderAppendN(ctx, text + pos, size);
        }
        if (!ok) return NN_ERR_MEMORY;
        pos += size;
      }
      status = RenderOutputCheck(ctx);
    } else if (sig == 0x0081) {
      if (ctx->newlineOnParagraph && !RenderAppend(ctx, "\r\n")) return NN_ERR_MEMORY;
      status = RenderOutputCheck(ctx);
    } else if (sig == 0x0099) {
      // The graphic's alternative text stands for it.
      for (RTRecordNode* scan = node->next; scan && !PastRange(ctx, scan); scan = scan->next) {
        if (scan->signature == 0xFF85 || scan->signature == 0x0081 || scan->signature == 0x0083)
          break;
        if (scan->signature != 0xFFCA) continue;
        uint16_t nameLength = 0;
        if (!kv::cd::ReadU16(scan->data, scan->length, 4, &nameLength) || nameLength == 0)
          continue;
        char name[512];
        size_t out = 0;
        for (uint32_t i = 0; i < nameLength && 12 + i < scan->length && out + 1 < sizeof name;
             ++i) {
          unsigned char c = scan->data[12 + i];
          if (c == 0xFF || c == ' ') {
            name[out++] = ' ';
          } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
            name[out++] = static_cast<char>(c);
          }
        }
        if (!RenderAppend(ctx, "[") || !RenderAppendN(ctx, name, out) || !RenderAppend(ctx, "]"))
          return NN_ERR_MEMORY;
        break;
      }
    }
    ctx->currentRecord = node->next;
  }
  if (status != NN_OK) return status;
  if (FlushesParts(ctx)) status = RenderFlushPart(ctx, 1);
  return status;
}

NnStatus PrXMLStr(RenderContext* ctx, uint16_t endType, uint16_t depth, uint32_t mode) {
  if (!ctx) return NN_ERR_INVALID_ARG;
  if (!ctx->outputBuffer || !ctx->outputCursor || ctx->outputCapacity == 0) return NN_ERR_MEMORY;
  ctx->debugLevel = GetDebugLevel(ctx->session);
  Trace(ctx, NN_OK, "PrXMLStr - IN");
  if (depth > 8 && ctx->debugLevel > 2) NnLogMessage(NN_OK, "PrXMLStr - Nesting deep at %d", depth);

  ctx->scratchText[0] = 0;
  // The cursor goes to the end of the text, never past the buffer.
  if (ctx->outputCursor < ctx->outputBuffer ||
      ctx->outputCursor >= ctx->outputBuffer + ctx->outputCapacity)
    ctx->outputCursor = ctx->outputBuffer;
  {
    size_t left = ctx->outputCapacity - OutputLength(ctx);
    size_t len = strnlen(ctx->outputCursor, left);
    if (len == left) {
      // No terminator in the buffer: end the text at the last byte.
      len = left - 1;
      ctx->outputCursor[len] = 0;
    }
    ctx->outputCursor += len;
  }

  if (depth == 0) {
    ctx->driver.outputFull = 0;
    if (ctx->item && ctx->item->hRenderNote == 0) ctx->item->hRenderNote = ctx->item->hNote;
    if (ctx->renderFlagsE & 0x800) CollectClassRules(ctx);
    size_t length = OutputLength(ctx);
    if (ctx->tableContinues && length > 8 &&
        std::memcmp(ctx->outputCursor - 8, "</table>", 8) == 0) {
      ctx->outputCursor -= 8;
      *ctx->outputCursor = 0;
    }
    // A table left open is continued only by a range that starts at one of
    // its cells; anything else stands after it.
    if (mode != 2 && ctx->currentRecord && !RangeContinuesTable(ctx, ctx->currentRecord))
      EndContinuedTable(ctx);
  }

  if (mode == 2) {
    Trace(ctx, NN_OK, "PrXMLStr - Step 2");
    CloseContinuedTable(ctx);
    FinishRenderPage(ctx);
    NnStatus status = ctx->driver.outputFull ? NnStatus{NN_ERR_MEMORY} : RenderFlushPart(ctx, 1);
    if (depth == 0) ReleaseStep(ctx);
    return status;
  }

  if (ctx->outputKind != kOutputHtml && ctx->outputKind != kOutputXhtml) {
    NnStatus status = PlainTextWalk(ctx);
    if (depth == 0) ReleaseStep(ctx);
    return status;
  }

  NnStatus status = NN_OK;
  if (depth == 0 && !ctx->head.pageOpened) {
    // The first range of the page writes its head and body opening; the
    // ranges after it continue the same body.
    Trace(ctx, NN_OK, "PrXMLStr - Step 3");
    status = WriteDocumentHead(ctx);
    if (status == NN_OK) status = WriteBodyOpening(ctx);
    if (status != NN_OK) {
      ReleaseStep(ctx);
      return status;
    }
    ctx->head.pageOpened = 1;
  }
  status = RenderOutputCheck(ctx);
  if (status != NN_OK) {
    if (depth == 0) ReleaseStep(ctx);
    return status;
  }

  RenderWalk walk;
  walk.endType = endType;
  walk.depth = depth;
  walk.mode = mode;
  walk.startOffset = OutputLength(ctx);
  // The table preamble's break flag belongs to this call; nested calls and the
  // paragraph writer may change it, the caller gets its own value back.
  uint32_t savedNoBreak = ctx->head.noBreakBeforeTable;
  ctx->head.noBreakBeforeTable = 0;

  // A range that begins inside a pass-through block begins with its markup.
  if (depth == 0 && ctx->currentRecord && ctx->currentRecord->signature != 0xFFCC &&
      EnclosingPassthruBegin(ctx->currentRecord))
    status = RenderPassthruRecord(ctx, &walk);
  while (status == NN_OK && !PastRange(ctx, ctx->currentRecord)) {
    Trace(ctx, NN_OK, "PrXMLStr - Step 5");
    RTRecordNode* before = ctx->currentRecord;
    status = RenderHandleRecord(ctx, &walk);
    if (walk.leave) break;
    // A writer that consumed nothing must not stall the walk.
    if (status == NN_OK && ctx->currentRecord == before) ctx->currentRecord = before->next;
    if (status == NN_OK) status = RenderOutputCheck(ctx);
  }
  // A writer may have lost text without saying so: the append helpers know.
  if (status == NN_OK && ctx->driver.outputFull) status = NN_ERR_MEMORY;
  ctx->head.noBreakBeforeTable = savedNoBreak;

  if (depth > 0) return status;

  // Elements opened around a table that the range ends inside close after the
  // table, not before it (closing them first would misnest the page). A range
  // that another call continues (mode 1), or that a later range of the same
  // page may continue, keeps both open; the next range or the end of the page
  // closes them in that order.
  if (mode == 0 && ctx->tableContinues && !ctx->head.pageEndsLater) {
    EndContinuedTable(ctx);
    if (FlushesParts(ctx)) {
      NnStatus flushed = ctx->driver.outputFull ? NnStatus{NN_ERR_MEMORY} : RenderFlushPart(ctx, 0);
      if (status == NN_OK) status = flushed;
    }
  }
  if (!ctx->tableContinues) CloseOpenElementsTo(ctx, 0, "", 0);
  // The page ends with this range unless a later call continues it.
  if (mode == 0 && !ctx->head.pageEndsLater) FinishRenderPage(ctx);
  if (status == NN_OK && ctx->driver.outputFull) status = NN_ERR_MEMORY;
  ReleaseStep(ctx);
  return status;
}
