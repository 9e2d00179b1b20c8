// The engine entry: one call builds its working context, loads the item's
// records, walks them through the dispatcher and, in write mode, replaces the
// item's records by the composed ones.
#include "richtext/engine/rtproc.h"
#include "richtext/engine/opfamily.h"
#include "richtext/engine/properties.h"
#include "richtext/engine/propwriters.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "host/options.h"
#include "host/pool.h"
#include "host/sortcmp.h"
#include "lsxsessi.h"
#include "richtext/engine/locatecache.h"
#include "richtext/engine/render2419.h"  // operation 2419
#include "richtext/item/cdlayout.h"
#include "richtext/item/itemhelpers.h"
#include "rtchunk.h"
#include "rtitem.h"

namespace {

constexpr NnStatus kStatusWalkDone = 546;
constexpr NnStatus kStatusNoSortKeys = 1026;

void FreeKeyEntries(LSXLsiSession* session, kv::SortKeyEntry*& entries, uint16_t& count) {
  if (entries) {
    for (uint16_t i = 0; i < count; ++i)
      if (entries[i].keyText) PoolFree(session, const_cast<char*>(entries[i].keyText));
    PoolFree(session, entries);
  }
  entries = nullptr;
  count = 0;
}

void FreeSavedParagraphDefinitions(LSXLsiSession* session) {
  SessionGlobals* g = session->globals;
  uint16_t n = g->savedParaDefCount < kMaxSavedParaDefs ? g->savedParaDefCount
                                                        : uint16_t(kMaxSavedParaDefs);
  for (uint16_t i = 0; i < n; ++i) {
    if (g->savedParaDefs[i]) PoolFree(session, g->savedParaDefs[i]);
    g->savedParaDefs[i] = nullptr;
  }
  g->savedParaDefCount = 0;
}

// Links the chain for this call: inner and outer links, engine fields zeroed.
// An extra definition continues inside the chunk's own innermost node.
chunkdef_info* LinkDefinition(chunkdef_info* chain, chunkdef_info* extra) {
  chunkdef_info* first = chain ? chain : extra;
  chunkdef_info* prev = nullptr;
  for (int part = 0; part < 2; ++part) {
    for (chunkdef_info* n = part == 0 ? chain : extra; n; n = n->next) {
      n->runningCount = 0;
      n->satisfied = 0;
      n->inside = 0;
      n->rearmRecord = 0;
      n->stylizedFont = 0;
      n->insideFirst = n->insideClose = 0;
      n->outer = prev;
      n->inner = nullptr;
      if (prev) prev->inner = n;
      prev = n;
    }
  }
  return first;
}

// A chain of EVERYTHING nodes (or none) names the whole item, which exists
// even when it holds no record.
bool NamesWholeItem(const chunkdef_info* first) {
  for (const chunkdef_info* n = first; n; n = n->inner)
    if (n->relation != REL_EVERYTHING) return false;
  return true;
}

uint32_t ItemDefaultFont(const TorvoRTItem* item) {
  return MakeFontId(item->defaultFace, 0, item->defaultColor, item->defaultPointSize);
}

// The font set-up of the text-writing operations: the call's font
// text, else the item's default one.
void ParseCallFont(RTProcessContext* ctx, const char* primary, const char* secondary) {
  FontState state;
  uint32_t mask = 0;
  if (ParseFontSpec(primary, secondary, ctx->Item, &state, &mask) == 0) {
    ctx->Font = state;
    ctx->FontMask = mask;
    ctx->FontGiven = mask != 0;
  }
}

// The caller's font of a font change or a text: one whose text does not read
// is refused (1028), so that no word of it reaches a run (an unread word
// would otherwise become a face, or be left out).
NnStatus ParseCallerFont(RTProcessContext* ctx, const char* primary, const char* secondary) {
  FontState state;
  uint32_t mask = 0;
  const ColorNames names = ItemColorNaming(ctx->Item) ? ColorNames::Standard : ColorNames::Web;
  const NnStatus st = ParseFontSpec(primary, secondary, ctx->Item, &state, &mask, names);
  if (st) return st;
  ctx->Font = state;
  ctx->FontMask = mask;
  ctx->FontGiven = mask != 0;
  return 0;
}

const char* StyleOr(const char* style, const char* fallback) {
  return style && *style ? style : fallback;
}

// The set-up by operation; 0 or the status that ends the call.
NnStatus OperationSetup(RTProcessContext* ctx) {
  TorvoRTItem* item = ctx->Item;
  TorvoRTChunk* chunk = ctx->Chunk;
  switch (ctx->OperationCode) {
    case STEP_TEXT_SET:
    case 2361:
      if (ctx->Text2 && *ctx->Text2) return ParseCallerFont(ctx, ctx->Text2, nullptr);
      [[fallthrough]];
    case 2354:
    case 2360:
    case 2392:
    case 2395:
    case 2399:
      if (item->defaultFontSpec && *item->defaultFontSpec)
        ParseCallFont(ctx, item->defaultFontSpec, nullptr);
      return 0;
    case 2644:
      ctx->FontId = (ctx->FontId & ~0xFFu) | 1u;
      return 0;
    case 2353: {
      // A target that looks like a URL or path takes the first link style.
      const char* t = ctx->Text1;
      bool url = t && *t && (std::strchr(t, ':') || std::strchr(t, '/') || std::strchr(t, '.'));
      ParseCallFont(ctx, StyleOr(url ? item->linkStyle : item->linkStyle2, "BLUE +UNDERLINE"),
                    nullptr);
      return 0;
    }
    case 2372:
    case 2373:
      ParseCallFont(ctx, StyleOr(item->highlightStyle, "RED +BOLD"), nullptr);
      return 0;
    case 2423:
      ParseCallFont(ctx, StyleOr(item->wikiLinkStyle, "DARKGREEN +UNDERLINE"), nullptr);
      return 0;
    case 2355:
      ctx->Compose.appendRows = 1;
      return 0;
    case 2363:
      return ParseCallerFont(ctx, ctx->Text1, ctx->Text2);
    case 2368: {
      FontState state;
      uint32_t mask = 0;
      NnStatus st = ParseFontSpec(ctx->Text1, ctx->Text1, item, &state, &mask);
      if (st == 0) {
        ctx->Font = state;
        ctx->FontMask = mask;
        ctx->FontGiven = mask != 0;
      }
      return st;
    }
    case 2404:
      ParseCallFont(ctx, ctx->Text2, nullptr);
      return 0;
    case 2396: {
      // The sort keys collected by an earlier step 11 pass to this call.
      _internal_RTChunk* in = chunk->internal;
      if (!in || in->rowKeyCount < 2 || !in->rowKeys) return kStatusNoSortKeys;
      bool anyKey = false;
      for (uint16_t i = 0; i < in->rowKeyCount; ++i)
        anyKey |= in->rowKeys[i].keyText && in->rowKeys[i].keyLength;
      if (!anyKey) return kStatusNoSortKeys;
      ctx->Positions = in->rowKeys;
      ctx->PositionCount = in->rowKeyCount;
      in->rowKeys = nullptr;
      in->rowKeyCount = 0;
      for (uint16_t i = 0; i < ctx->PositionCount; ++i) ctx->Positions[i].originalIndex = i;
      uint32_t flags = 0;
      if (chunk->AccentSensitive) flags |= kv::kSortAccentSensitive;
      if (chunk->CaseSensitive) flags |= kv::kSortCaseSensitive;
      kv::SortSetFlags(flags);
      const char* opts = ctx->Text1 ? ctx->Text1 : "";
      bool numeric = StrIStr(opts, "NUMERIC") != nullptr;
      bool reverse = StrIStr(opts, "REVERSE") != nullptr;
      int (*cmp)(const void*, const void*) =
          numeric ? (reverse ? kv::SortCompareNumDesc : kv::SortCompareNumAsc)
                  : (reverse ? kv::SortCompareTextDesc : kv::SortCompareTextAsc);
      std::qsort(ctx->Positions, ctx->PositionCount, sizeof(kv::SortKeyEntry), cmp);
      ctx->PositionCursor = 0;
      return 0;
    }
    // Paragraph strings (2364, 2417, 2442), the link-matching styles (2386,
    // 2816, 2819), removals (2366) and the work blocks (2416) are set up by
    // the families of those operations.
    default: {
      NnStatus st = 0;
      FamilySetup(ctx, &st);
      return st;
    }
  }
}

}  // namespace

const chunkdef_info* InnermostCallNode(const RTProcessContext* ctx) {
  const chunkdef_info* n = ctx ? ctx->FirstNode : nullptr;
  while (n && n->inner) n = n->inner;
  return n;
}

NnStatus FlushPendingRun(RTProcessContext* ctx, uint32_t upTo) {
  if (!ctx || !ctx->PendingRunStart) return 0;
  RTRecordNode* node = ctx->PendingRunNode;
  uint32_t number = ctx->PendingRunStart;
  if (!node) {
    // Find the run's first record by counting from the list's start.
    number = 1;
    node = ctx->Records ? ctx->Records->first : nullptr;
    while (node && number < ctx->PendingRunStart) {
      node = node->next;
      ++number;
    }
  }
  SessionGlobals* g = ctx->Session->globals;
  for (; node && (upTo == 0 || number < upTo); node = node->next, ++number) {
    if (node->flags & kNodeDrop) continue;
    if (node->signature == 131 && g->savedParaDefCount) {
      // A paragraph whose definition a handler replaced keeps its old one.
      uint16_t id = 0;
      kv::cd::ReadU16(node->data, node->length, 2, &id);
      uint16_t n = g->savedParaDefCount < kMaxSavedParaDefs ? g->savedParaDefCount
                                                            : uint16_t(kMaxSavedParaDefs);
      for (uint16_t i = 0; i < n; ++i) {
        const uint8_t* def = static_cast<const uint8_t*>(g->savedParaDefs[i]);
        if (!def) continue;
        uint16_t defLen = 0, defId = 0;
        kv::cd::ReadU16(def, 4, 2, &defLen);
        kv::cd::ReadU16(def, defLen, 4, &defId);
        if (defId == id && defLen >= 6) {
          NnStatus st = AppendRecord(def, 0xFF82, defLen, &ctx->Compose);
          if (st) return st;
          break;
        }
      }
    }
    NnStatus st = AppendRecord(node->data, node->signature, node->length, &ctx->Compose);
    if (st) return st;
  }
  ctx->PendingRunStart = 0;
  ctx->PendingRunNode = nullptr;
  return 0;
}

NnStatus ProcessChunkOperation(TorvoRTChunk* chunk, NnHandle hNote, const char* /*itemName*/,
                               ChunkOperationCode code, uint32_t subCode, uint32_t number1,
                               uint32_t number2, uint32_t number3, const char* text1,
                               const char* text2, uint64_t /*reserved*/,
                               chunkdef_info* extraDefinition, void* extra) {
  // 1.
  if (!chunk) return NN_ERR_INVALID_ARG;
  chunk->lastInternalError = 0;
  TorvoRTItem* item = chunk->item;
  LSXLsiSession* session = chunk->session;
  if (!item || !session || !session->IsValid() || !item->context) return NN_ERR_INVALID_ARG;
  InitTargetTypeDescriptors();  // filled once, by whichever thread comes first

  // 2.
  chunkdef_info* chain = chunk->internal ? chunk->internal->chain : nullptr;
  chunkdef_info* first = LinkDefinition(chain, extraDefinition);

  // 3. An option value cut on the way in is not what the caller gave: a
  // write that read one fails (below).
  const uint64_t valuesCutBefore = OptionValuesCut();
  SessionGlobals* g = session->globals;
  g->fontColor = 0;
  g->fontHighlight = 0;
  RTProcessContext* ctx = new (std::nothrow) RTProcessContext();
  if (!ctx) return NN_ERR_MEMORY;
  ctx->Session = session;
  ComposeInit(&ctx->Compose, session, item);
  ctx->Compose.hNote = hNote ? hNote : item->hNote;
  ctx->Compose.itemName = item->itemName;
  ctx->Compose.optionString = g->optionString;
  ctx->Compose.cleanup = code == STEP_CLEANUP_TEXT;
  ctx->Compose.newParagraph = code != 2356 && code != 2357;
  ctx->OperationCode = code;
  ctx->SubCode = subCode;
  ctx->Number1 = number1;
  ctx->Number2 = number2;
  ctx->Number3 = number3;
  ctx->Text1 = text1;
  ctx->Text2 = text2;
  ctx->Extra = extra;
  ctx->NoteHandle = ctx->Compose.hNote;
  ctx->Chunk = chunk;
  ctx->Item = item;
  ctx->FirstNode = first;
  ctx->NodeUnderTest = first;
  ctx->TextWildcards = chunk->TextWildcards;
  ctx->SetImpliedProperties = chunk->SetImpliedProperties;

  // 4. The item's current text font starts as face 1, plain, 10 points.
  const uint32_t savedFont = item->context->currentFont;
  const uint16_t savedModified = item->modified, savedChanged = item->changed;
  item->context->currentFont = MakeFontId(1, 0, 0, 10);

  // 5.
  char value[kOptionValueMax + 1];
  if (GetOptionValue(g->optionString, "WikiDelimiters=", value) && std::strlen(value) == 4) {
    ctx->WikiOpen[0] = value[0];
    ctx->WikiOpen[1] = value[1];
    ctx->WikiClose[0] = value[2];
    ctx->WikiClose[1] = value[3];
  }

  // 6.
  ComposePrimeParagraphRecords(&ctx->Compose);
  ctx->ParagraphStartPending = ctx->ParagraphDefinitionPending = ctx->ParagraphReferencePending = 1;

  // 7. Step 37 only notes the item's next free paragraph id.
  if (code == STEP_NEXT_PARAGRAPH_ID) {
    NnStatus st = 0;
    if (item->context->modeWord != 3) st = item->LoadRecords();
    if (st == 0) {
      uint16_t id = NewDefaultParagraph(kNextParagraphId, 2, &ctx->Compose);
      g->nextParagraphId = id ? id : 50;
    }
    delete ctx;
    return st;
  }
  // The link-matching operations bring a saved list of their own.
  if (code != 2386 && code != 2816 && code != 2819) FreeSavedParagraphDefinitions(session);

  // 8.
  ctx->WriteMode = ChunkOperationWriteMode(code, subCode);
  // Anything but a locate may change the records: earlier locates no longer hold.
  const bool locating = code == STEP_LOCATE && !ctx->WriteMode;
  if (!locating) LocateCacheInvalidate(item->context);
  if (ctx->TextWildcards && (code == 2373 || code == 2392 || code == 2398 || code == 2399) &&
      !(text2 && (std::strchr(text2, '*') || std::strchr(text2, '?'))))
    ctx->TextWildcards = 0;

  // 9, 10.
  NnStatus status = OperationSetup(ctx);
  // Operation 2419: the render context's set-up.
  if (status == 0 && code == 2419) status = Render2419Setup(ctx, extraDefinition);
  if (status == 0 && ctx->WriteMode) status = ComposeBufferGrow(&ctx->Compose);
  // 11. A failed load ends the call here: nothing was walked or written.
  RecordList* oldList = nullptr;
  if (status == 0) {
    status = item->LoadRecords();
    oldList = item->context->records;
    if (status == 0 && !oldList) status = NN_ERR_MEMORY;
    // An empty item is walked as the empty text run it shows as, so that
    // what a write puts at the whole item has a target to go to.
    if (status == 0 && ctx->WriteMode && !oldList->first && NamesWholeItem(first)) {
      uint8_t* run = item->context->defaultTextRun;
      const uint32_t font = ItemDefaultFont(item);
      const uint8_t head[4] = {0x85, 0xFF, sizeof item->context->defaultTextRun, 0};
      std::memcpy(run, head, sizeof head);
      std::memcpy(run + sizeof head, &font, sizeof font);
      if (!RecordListAppendNode(session, oldList, 0xFF85, run, sizeof item->context->defaultTextRun, 0))
        status = NN_ERR_MEMORY;
    }
  }
  if (status) {
    ComposeReleaseHandles(&ctx->Compose, 0);
    FreeKeyEntries(session, ctx->Positions, ctx->PositionCount);
    item->context->currentFont = savedFont;
    delete ctx;
    return status;
  }
  ctx->Records = oldList;
  ctx->CurrentNode = oldList->first;
  ctx->RecordNumber = 0;

  // 12. Pre-walk work of the paragraph operations.
  if (code == 2417 || code == 2364 || code == 25)
    ctx->NewParagraphId = NewDefaultParagraph(kNextParagraphId, 2, &ctx->Compose);
  // Operation 2419: the paragraph-definition table of the item.
  if (code == 2419) status = Render2419PreWalk(ctx);
  if (status == 0) FamilyPreWalk(ctx, &status);

  // 13. The walk, unless earlier locates of the chunk know its result or
  // where it can continue.
  LocateCache* located = status == 0 ? LocateCacheBegin(ctx) : nullptr;
  if (located && LocateCacheStart(ctx, located)) ctx->CurrentNode = nullptr;
  while (status == 0 && ctx->CurrentNode) {
    RTRecordNode* node = ctx->CurrentNode;
    if (node->length == 0) {
      // In write mode a record without length would cut the item short.
      if (ctx->WriteMode) {
        NnLogMessage(0, "Invalid RT record length of %ld", 0L);
        status = NN_ERR_CATASTROPHIC;
      }
      break;
    }
    if (ctx->WriteMode) {
      if (node->length > kInvalidRecordLength) {
        NnLogMessage(0, "Invalid RT record length of %ld", long(node->length));
        status = NN_ERR_CATASTROPHIC;
        break;
      }
      if (node->signature < kMinRecordSignature) {
        NnLogMessage(0, "Invalid RT record type of %ld", long(node->signature));
        status = NN_ERR_CATASTROPHIC;
        break;
      }
    } else if ((node->signature == 163 || node->signature == 207) &&
               ctx->Compose.tableDepth < kMaxEngineTableDepth) {
      ++ctx->Compose.tableDepth;
    }
    status = ProcessChunkRecord(node->data, node->signature, node->length, ctx);
    if (status) break;
    RTRecordNode* cur = ctx->CurrentNode;
    if (!cur) break;
    if (!ctx->WriteMode && (cur->signature == 165 || cur->signature == 209) &&
        ctx->Compose.tableDepth > 0)
      --ctx->Compose.tableDepth;
    ctx->PreviousSignature = cur->signature;
    ctx->CurrentNode = cur->next;
    if (located && LocateCacheAfterRecord(ctx, located)) break;
  }

  // 14. The rest of the item joins the composition unchanged.
  if (ctx->WriteMode && status == kStatusWalkDone && !ctx->PendingRunStart && ctx->CurrentNode &&
      ctx->CurrentNode->next) {
    ctx->PendingRunStart = ctx->RecordNumber + 1;
    ctx->PendingRunNode = ctx->CurrentNode->next;
  }
  if (ctx->WriteMode && (status == 0 || status == kStatusWalkDone) && ctx->PendingRunStart &&
      ctx->PendingRunStart <= ctx->RecordNumber + 1) {
    NnStatus st = FlushPendingRun(ctx, 0);
    if (st) status = st;
  }

  // 15. An element still open at the end of the item is finished.
  if (status == kStatusWalkDone) status = 0;
  if (status == 0 && ctx->ElementActionPending) {
    uint8_t run[8] = {0x85, 0xFF, 8, 0, 0, 0, 0, 0};
    uint32_t font = item->context->currentFont;
    std::memcpy(run + 4, &font, 4);
    ctx->EndingRecordOutside = 0;
    status = ApplyChunkElementAction(run, 0xFF85, 8, ctx);
    ctx->ElementActionPending = 0;
  }

  // A write or render whose walk never met its target names something the
  // item does not hold: it fails (a write leaves the item its records, a
  // render gives no page).
  if (status == 0 && (ctx->WriteMode || code == 2419) && !ctx->TargetReached &&
      code != STEP_CLEANUP_TEXT && !NamesWholeItem(first))
    status = NN_ERR_ITEM_NOT_FOUND;

  // 16. Operation 2419 of a sub-chunk: the finishing call.
  if (status == 0 && code == 2419) status = Render2419Finish(ctx);
  if (status == 0) FamilyPostWalk(ctx, &status);
  // A property set that met no record of its kind in the target, and
  // composed none, would report success with nothing changed: it fails, and
  // the item keeps its records.
  if (status == 0 && ctx->WriteMode && !ctx->SetRecordMet && RunsPropertySet(code, subCode))
    status = NN_ERR_INVALID_ARG;
  if (status == 0 && ctx->WriteMode && OptionValuesCut() != valuesCutBefore)
    status = NN_ERR_INVALID_ARG;

  LocateCacheEnd(ctx, located, status);

  // 17.
  if (code == 2405 && status == 0 && !ctx->TargetDone) status = NN_ERR_CATASTROPHIC;

  // 18. Write-back: on any failure the old records stay and nothing is stored.
  if (ctx->WriteMode) {
    if (status == 0 && ctx->Compose.composedCount == 0) {
      uint32_t font = ItemDefaultFont(item);
      status = EmitTextRecord("", 0, &font, &ctx->Compose);
    }
    if (status == 0) status = ComposeSaveFill(&ctx->Compose);
    if (status == 0) {
      RecordList* newList = ComposeTakeList(&ctx->Compose);
      // Records that post-walk steps took out leave gaps: every later call
      // finds records by their number.
      RecordListRenumber(newList);
      if (!newList) {
        status = NN_ERR_MEMORY;
      } else if (item->DeferCommitFlag) {
        item->InstallRecords(newList);
      } else {
        item->context->records = newList;
        status = item->Commit();
        item->context->records = oldList;
        if (status == 0)
          item->InstallRecords(newList);
        else
          RecordListFreeWithAllocator(session, newList);
      }
    }
    if (status) {
      ComposeReleaseHandles(&ctx->Compose, 0);
      item->context->currentFont = savedFont;
      item->modified = savedModified;
      item->changed = savedChanged;
    }
  }

  // 19.
  if (status == 0 && code == STEP_POSITIONS && chunk->internal) {
    FreeKeyEntries(session, chunk->internal->positions, chunk->internal->positionCount);
    chunk->internal->positions = ctx->Positions;
    chunk->internal->positionCount = ctx->PositionCount;
    ctx->Positions = nullptr;
    ctx->PositionCount = 0;
  } else if (status == 0 && code == STEP_SORT_KEYS && chunk->internal) {
    // The sort keys wait on the chunk for the sort (2396) that follows.
    FreeKeyEntries(session, chunk->internal->rowKeys, chunk->internal->rowKeyCount);
    chunk->internal->rowKeys = ctx->Positions;
    chunk->internal->rowKeyCount = ctx->PositionCount;
    ctx->Positions = nullptr;
    ctx->PositionCount = 0;
  }
  if ((code == 2396 || code == 2397) && chunk->internal) {
    FreeKeyEntries(session, chunk->internal->rowKeys, chunk->internal->rowKeyCount);
  }

  // 20.
  if (!ctx->WriteMode && (status == 0 || chunk->lastStatus == 0))
    chunk->lastStatus = NN_ERR_READONLY_DONE;
  if (ctx->Compose.internalError) chunk->lastInternalError = ctx->Compose.internalError;

  // 21.
  if (!locating) LocateCacheInvalidate(item->context);
  FreeSavedParagraphDefinitions(session);
  FreeKeyEntries(session, ctx->Positions, ctx->PositionCount);
  if (ctx->ScratchRecord) PoolFree(session, ctx->ScratchRecord);
  ComposeReleaseHandles(&ctx->Compose, 0);
  delete ctx;
  return status;
}
