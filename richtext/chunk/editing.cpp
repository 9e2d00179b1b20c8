// The chunk's editing and query methods: each is one or two runs of the method
// frame with a fixed operation code and the arguments the engine expects.
#include <strings.h>

#include <cctype>
#include <cstdio>
#include <cstring>

#include "host/logging.h"
#include "host/pool.h"
#include "richtext/chunk/editing_util.h"
#include "richtext/engine/opcodes.h"
#include "richtext/engine/rtproc.h"
#include "rtchunk.h"
#include "rtitem.h"

namespace kv::chunkedit {

NnStatus RunWithOptions(TorvoRTChunk* chunk, const char* options,
                        const std::function<NnStatus()>& body) {
  SessionGlobals* g = chunk->session->globals;
  char* copy = nullptr;
  if (options) {
    const size_t n = std::strlen(options);
    copy = static_cast<char*>(POOL_ALLOC(chunk->session, n + 1, false));
    if (!copy) return NN_ERR_MEMORY;
    std::memcpy(copy, options, n + 1);
  }
  const char* saved = g->optionString;
  g->optionString = copy;
  NnStatus st = body();
  g->optionString = saved == copy ? nullptr : saved;
  if (copy) PoolFree(chunk->session, copy);
  return st;
}

NnStatus CompileToResult(LSXLsiSession* session, const char* text, uint16_t length) {
  NnHandle h = 0;
  uint16_t compiledLength = 0, errOffset = 0, errLength = 0;
  NnStatus st = NnFormulaCompile(text, length, &h, &compiledLength, &errOffset, &errLength);
  if (st) {
    session->ClearResultText();
    return st;
  }
  const void* p = NnMemLock(h);
  if (!p || compiledLength > kResultTextSize - 1) {
    if (p) NnMemUnlock(h);
    NnMemFree(h);
    session->ClearResultText();
    return NN_ERR_MEMORY;
  }
  std::memcpy(session->ResultText, p, compiledLength);
  session->ResultText[compiledLength] = 0;
  session->ResultTextLength = compiledLength;
  NnMemUnlock(h);
  NnMemFree(h);
  return 0;
}

bool NoteHasFileItem(const TorvoRTItem* item) {
  return item && item->hNote &&
         NnItemInfo(item->hNote, "$FILE", 5, nullptr, nullptr, nullptr, nullptr) == NN_OK;
}

}  // namespace kv::chunkedit

using namespace kv::chunkedit;

namespace {

constexpr NnStatus kStatusMissingText = 20017;

bool Usable(const TorvoRTChunk* c) { return c->session && c->item && c->session->globals; }

void ReleaseEventStrings(TorvoRTChunk* c) {
  for (int i = 1; i <= 6; ++i) {
    delete[] c->eventReturn[i];
    c->eventReturn[i] = nullptr;
  }
}

}  // namespace

NnStatus TorvoRTChunk::RemoveSections() { return RunFrame(2391, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr); }
NnStatus TorvoRTChunk::RemoveLinks(int keepText) {
  return RunFrame(2390, uint32_t(keepText), 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
}
NnStatus TorvoRTChunk::RemoveHotspots() { return RunFrame(2389, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr); }

NnStatus TorvoRTChunk::RemoveFields(const char* name, uint16_t length) {
  uint32_t n = length;
  if (n == 0 && name) n = uint32_t(std::strlen(name));
  return RunFrame(2430, n, 0, 0, 0, name, nullptr, nullptr, nullptr);
}

NnStatus TorvoRTChunk::Highlight(int flag) {
  return RunFrame(2372, uint32_t(flag), 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
}

NnStatus TorvoRTChunk::HighlightText(const char* text, uint16_t length) {
  if (!text) return lastStatus = kStatusMissingText;
  uint32_t bytes = 0;
  const uint32_t whole = uint32_t(std::strlen(text));
  NnStatus st = NnCharsetByteSize(text, length ? length : 65535u, whole + 1, &bytes, nullptr);
  if (st) {
    bytes = whole;
  } else if (!length && bytes > whole) {
    bytes = whole;  // the counted final zero byte is not part of the text
  }
  if (bytes > whole) bytes = whole;
  return RunFrame(2373, 0, bytes, 0, 0, nullptr, text, nullptr, nullptr);
}

int TorvoRTChunk::FontInUse(const char* font) {
  if (!font || !Usable(this)) return 0;
  session->PropertyText[0] = '0';
  session->PropertyText[1] = 0;
  RunFrame(2368, 0, 0, 0, 0, font, nullptr, nullptr, nullptr);
  return session->PropertyText[0] == '1' ? 1 : 0;
}

NnStatus TorvoRTChunk::VerifyGraphics(uint16_t flags) {
  return RunFrame(2823, flags, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
}
NnStatus TorvoRTChunk::FixupGraphics(uint16_t flags, const char* options) {
  return RunFrame(2822, flags, 0, 0, 0, options, nullptr, nullptr, nullptr);
}
NnStatus TorvoRTChunk::ExtractOLEFile(const char* a, const char* b) {
  return RunFrame(2826, 0, 0, 0, 0, a, b, nullptr, nullptr);
}

NnStatus TorvoRTChunk::ExportGraphic(const char* file, const char* options) {
  if (!file) return lastStatus = NN_ERR_INVALID_ARG;
  if (!Usable(this)) return lastStatus = NN_ERR_INVALID_ARG;
  RunFrame(STEP_GRAPHIC_EXPORT, 2367, 0, 0, 0, "inline", nullptr, nullptr, nullptr);
  if (NoteHasFileItem(item)) {
    RunFrame(STEP_GRAPHIC_EXPORT, 2367, 0, 0, 0, "inline", nullptr, nullptr, nullptr);
    if (item->context && !item->context->records) item->LoadRecords();
  }
  return RunFrame(2367, 0, 0, 0, 0, file, options, nullptr, nullptr);
}

void TorvoRTChunk::ConvertBitmaps(const char* options) {
  if (!Usable(this)) return;
  if (options && *options && !std::strchr(options, 'S')) return;
  if (NoteHasFileItem(item)) return;
  RunFrame(STEP_GRAPHIC_EXPORT, 2367, 0, 0, 0, "inline", nullptr, nullptr, nullptr);
  if (item->context && !item->context->records) item->LoadRecords();
}

void TorvoRTChunk::ExpandPabDefs(const char* options) {
  RunFrame(69, 0, 0, 0, 0, options, nullptr, nullptr, nullptr);
}

NnStatus TorvoRTChunk::ChangeTable(const char* properties, uint16_t) {
  return RunFrame(2413, 0, 0, 0, 0, properties, nullptr, nullptr, nullptr);
}
NnStatus TorvoRTChunk::ChangeParagraph(const char* properties, const char* b, int flag) {
  return RunFrame(2364, uint32_t(flag), 0, 0, 0, properties, b, nullptr, nullptr);
}
NnStatus TorvoRTChunk::ChangeFont(const char* font, const char* b, int flag) {
  return RunFrame(2363, uint32_t(flag), 0, 0, 0, font, b, nullptr, nullptr);
}

NnStatus TorvoRTChunk::Remove() {
  if (!Usable(this)) return lastStatus = NN_ERR_INVALID_ARG;
  SessionGlobals* g = session->globals;
  g->FirstMatchRecord = 0;
  g->LastMatchRecord = 0;
  if (NoteHasFileItem(item))
    RunFrame(STEP_LOCATE, PROP_LAST_RECORD, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  return RunFrame(2366, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
}

NnStatus TorvoRTChunk::InsertText(const char* text, uint16_t length, const char* font) {
  insertPosition = 0;
  return AppendText(text, length, font);
}

NnStatus TorvoRTChunk::AppendText(const char* text, uint16_t length, const char* font) {
  if (!Usable(this)) return lastStatus = NN_ERR_INVALID_ARG;
  RTItemContext* ic = item->context;
  if (ic) ic->textFollowUp = 0;
  // The insertion and the tidying of its runs are one change: both passes
  // work on the records in memory and the item is written once, so that a
  // failure in either leaves the stored item as it was.
  const uint16_t savedDefer = item->DeferCommitFlag;
  const uint16_t modifiedBefore = item->modified;
  item->modified = 0;  // raised again by this call's own changes
  item->DeferCommitFlag = 1;
  NnStatus st = RunFrame(2361, 0, length, 0, 0, text, font, nullptr, nullptr);
  if (st == 0 && ic && ic->textFollowUp && length > 0)
    st = RunFrame(STEP_CLEANUP_TEXT, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  if (ic) ic->textFollowUp = 0;
  item->DeferCommitFlag = savedDefer;
  const bool changedHere = item->modified != 0;
  if (st == 0 && !savedDefer && changedHere) {
    st = item->Commit();
    if (st == 0 && item->autoSave) NnNoteUpdate(item->hNote, 1);
  }
  // Without a caller's deferred changes to keep, the records in memory are
  // read again from the note when next used.
  if (st != 0 && (!savedDefer || !modifiedBefore)) item->ReleaseRecords();
  item->modified = uint16_t(modifiedBefore || (st == 0 && changedHere));
  if (st != 0) lastStatus = st;
  return lastStatus = st;
}

NnStatus TorvoRTChunk::InsertRTItem(TorvoRTItem* other) { return AppendRTItemInternal(other, 0); }
NnStatus TorvoRTChunk::AppendRTItem(TorvoRTItem* other) { return AppendRTItemInternal(other, 1); }

NnStatus TorvoRTChunk::AppendRTItemInternal(TorvoRTItem* other, int position) {
  if (!Usable(this)) return lastStatus = NN_ERR_INVALID_ARG;
  if (!other || !other->connected || !other->hDb || !other->hNote) return lastStatus = kStatusMissingText;
  insertPosition = uint32_t(position);
  SessionGlobals* g = session->globals;
  g->srcDb = other->hDb;
  g->srcNote = other->hNote;
  std::strncpy(g->srcItemName, other->itemName, sizeof g->srcItemName - 1);
  g->srcItemName[sizeof g->srcItemName - 1] = 0;
  return RunFrame(2357, 0, 0, 0, 0, g->srcItemName, nullptr, nullptr, nullptr);
}

NnStatus TorvoRTChunk::AppendRTItem(const char* server, const char* database, unsigned long noteId,
                                    const char* itemName) {
  if (!database || !itemName) return lastStatus = kStatusMissingText;
  if (!Usable(this)) return lastStatus = NN_ERR_INVALID_ARG;
  SessionGlobals* g = session->globals;
  NnHandle hDb = 0, hNote = 0;
  NnStatus st = kv::OpenDbAndDesignNote(server, database, NOTEID(noteId), &hDb, &hNote);
  if (st) return lastStatus = st;
  std::strncpy(g->srcItemName, itemName, sizeof g->srcItemName - 1);
  g->srcItemName[sizeof g->srcItemName - 1] = 0;
  g->srcDb = hDb;
  g->srcNote = hNote;
  st = RunFrame(STEP_NEXT_PARAGRAPH_ID, 5, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  if (st == 0) st = RunFrame(2357, g->stepResult, 0, 0, 0, itemName, nullptr, nullptr, nullptr);
  if (st && !lastInternalError) lastInternalError = 20014;
  g->srcDb = 0;
  g->srcNote = 0;
  kv::CloseNoteAndDatabase(hNote, hDb);
  return lastStatus = st;
}

NnStatus TorvoRTChunk::InsertParagraph(const char* text, const char* font, const char* formula,
                                       uint16_t formulaLength) {
  return AppendParagraphInternal(text, font, formula, formulaLength, 0);
}
NnStatus TorvoRTChunk::AppendParagraph(const char* text, const char* font, const char* formula,
                                       uint16_t formulaLength) {
  return AppendParagraphInternal(text, font, formula, formulaLength, 1);
}

NnStatus TorvoRTChunk::AppendParagraphInternal(const char* text, const char* font,
                                               const char* formula, uint16_t formulaLength,
                                               int position) {
  if (!Usable(this)) return lastStatus = NN_ERR_INVALID_ARG;
  insertPosition = uint32_t(position);
  session->ClearResultText();
  if (formula && formulaLength > 0) {
    if (CompileToResult(session, formula, formulaLength) != 0) {
      lastStatus = NN_ERR_CATASTROPHIC;
      session->ClearResultText();
      return lastStatus;
    }
  }
  // The compiled formula stays in the session's result; its length tells the
  // paragraph to hide by it.
  const NnStatus st =
      RunFrame(2417, 0, session->ResultTextLength, 0, 0, text, font, nullptr, nullptr);
  session->ClearResultText();
  return lastStatus = st;
}

NnStatus TorvoRTChunk::AppendTabs(uint16_t count) {
  return RunFrame(2360, count, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
}
NnStatus TorvoRTChunk::AppendPageBreak() { return RunFrame(2409, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr); }
NnStatus TorvoRTChunk::AppendNewLines(uint16_t count, int flag) {
  return RunFrame(2354, count, uint32_t(flag), 0, 0, nullptr, nullptr, nullptr, nullptr);
}

namespace {

// Copies the body ("$Body") of a design element of the item's database, a
// form, subform or page (`kind`, a "$Flags" pattern) found by its title or an
// alias. A name that names none, or a design note without a body (the
// database's other notes of the form class: shared actions, resources), is a
// failure, with the item unchanged.
NnStatus AppendBody(TorvoRTChunk* c, uint16_t code, const char* kind, const char* name) {
  // No name names no design element: nothing to copy is a failure.
  if (!name || !Usable(c)) return c->lastStatus = NN_ERR_INVALID_ARG;
  NOTEID id = 0;
  NnHandle source = 0;
  if (NnDesignFindByNameFlags(c->item->hDb, NN_CLASS_FORM, name, uint16_t(strnlen(name, 0xFFFF)),
                              kind, &id) != NN_OK ||
      NnNoteOpen(c->item->hDb, id, 0, &source) != NN_OK)
    return c->lastStatus = NN_ERR_ITEM_NOT_FOUND;
  if (NnItemInfo(source, "$Body", 5, nullptr, nullptr, nullptr, nullptr) != NN_OK) {
    NnNoteClose(source);
    return c->lastStatus = NN_ERR_ITEM_NOT_FOUND;
  }
  SessionGlobals* g = c->session->globals;
  g->srcDb = c->item->hDb;
  g->srcNote = source;
  std::snprintf(g->srcItemName, sizeof g->srcItemName, "%s", "$Body");
  NnStatus st = c->RunFrame(STEP_NEXT_PARAGRAPH_ID, 2, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  if (st == 0)
    st = c->RunFrame(code, g->stepResult, 0, 0, 0, name, nullptr, nullptr, c);
  g->srcDb = 0;
  g->srcNote = 0;
  NnNoteClose(source);
  return st;
}

}  // namespace

NnStatus TorvoRTChunk::AppendSubformBody(const char* name) {
  return AppendBody(this, 2358, "+U", name);
}
NnStatus TorvoRTChunk::AppendPageBody(const char* name) {
  return AppendBody(this, 2809, "+W", name);
}
NnStatus TorvoRTChunk::AppendFormBody(const char* name) {
  // Not a subform (U), a page (W) nor the shared actions (y).
  return AppendBody(this, 2808, "-UWy", name);
}

NnStatus TorvoRTChunk::AppendImportFile(const char* file, const char* filter) {
  if (!Usable(this)) return lastStatus = NN_ERR_INVALID_ARG;
  NnStatus st = RunFrame(STEP_NEXT_PARAGRAPH_ID, 3, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  if (st) return lastStatus = st;
  // A GIF, JPEG or PNG file comes in as a picture.
  const uint16_t imageSwitch = item->imageSwitch;
  item->imageSwitch = 1;
  st = RunFrame(2352, session->globals->stepResult, 0, 0, 0, file, filter, nullptr, nullptr);
  item->imageSwitch = imageSwitch;
  return lastStatus = st;
}

NnStatus TorvoRTChunk::AppendAnchor(const char* name, uint16_t flag) {
  // The flag is the second number; the first is the name's length (0: all of it).
  return RunFrame(2351, 0, 0, flag, 0, name, nullptr, nullptr, nullptr);
}

NnStatus TorvoRTChunk::AppendLink(const char* a, uint16_t n1, const char* target, const char* s2,
                                  const char* s3, const char* s4, uint16_t n2, const char* s5,
                                  uint16_t n3, const char* s6, uint16_t n4) {
  if (!Usable(this)) return lastStatus = NN_ERR_INVALID_ARG;
  ReleaseEventStrings(this);
  session->globals->optionString = nullptr;
  if (!target || !*target) return lastStatus = NN_ERR_INVALID_ARG;
  linkKind = a && *a ? 3 : 1;
  if (std::strchr(target, ':')) linkKind = 4;
  // The slots borrow the caller's texts for the one call; they are cleared,
  // not released, afterwards.
  const char* borrowed[7] = {nullptr, target, s2, s3, s4, s5, s6};
  for (int i = 1; i <= 6; ++i) eventReturn[i] = const_cast<char*>(borrowed[i]);
  // The frame's failure (a target the item does not hold) is the caller's.
  const NnStatus st = RunFrame(2353, n1, n2, n3, n4, a, nullptr, nullptr, nullptr);
  for (int i = 1; i <= 6; ++i) eventReturn[i] = nullptr;
  return lastStatus = st;
}

NnStatus TorvoRTChunk::AppendFileAttachment(const char* file, const char* name, int flag,
                                            const char* options) {
  if (!Usable(this)) return lastStatus = NN_ERR_INVALID_ARG;
  return RunWithOptions(this, options, [&] {
    return RunFrame(2812, uint32_t(flag), 0, 0, 0, file, name, nullptr, nullptr);
  });
}

NnStatus TorvoRTChunk::RenameAttachment(const char* name, int flag, const char* options) {
  if (!Usable(this)) return lastStatus = NN_ERR_INVALID_ARG;
  // A missing name would blank the display name, a longer one than the
  // icon's caption holds would be cut: both are refused.
  constexpr size_t kDisplayNameMax = 130;
  if (!name || !*name || std::strlen(name) > kDisplayNameMax)
    return lastStatus = NN_ERR_INVALID_ARG;
  return RunWithOptions(this, options, [&] {
    return RunFrame(2815, uint32_t(flag), 0, 0, 0, nullptr, name, nullptr, nullptr);
  });
}

NnStatus TorvoRTChunk::ResetGraphicDimensions(int flag, const char* options) {
  if (!Usable(this)) return lastStatus = NN_ERR_INVALID_ARG;
  return RunWithOptions(this, options, [&] {
    return RunFrame(2827, uint32_t(flag), 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  });
}

NnStatus TorvoRTChunk::RefreshAttachmentIcon(int flag, const char* options) {
  if (!Usable(this)) return lastStatus = NN_ERR_INVALID_ARG;
  return RunWithOptions(this, options, [&] {
    return RunFrame(2814, uint32_t(flag), 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  });
}

NnStatus TorvoRTChunk::SwitchRTFieldsToHTMLEditor(int flag, const char* options, const char*) {
  if (!Usable(this)) return lastStatus = NN_ERR_INVALID_ARG;
  return RunWithOptions(this, options, [&] {
    return RunFrame(71, uint32_t(flag), 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  });
}

NnStatus TorvoRTChunk::SwitchRTFieldToNotSaveAsMIME(const char* field) {
  if (!field || !*field) return lastStatus = NN_ERR_INVALID_ARG;
  return RunFrame(72, uint32_t(std::strlen(field)), 0, 0, 0, field, nullptr, nullptr, nullptr);
}

uint32_t TorvoRTChunk::ReplaceScopeBits(const char* scope) {
  if (!scope || !*scope) return 1;
  // Whole words only: "NONTEXT TEXT" names both scopes.
  static const struct {
    const char* word;
    uint32_t bits;
  } kWords[] = {{"EVERYTHING", 31}, {"TEXT", 1},     {"NONTEXT", 2},
                {"FORMULA", 4},     {"HIDEWHEN", 8}, {"URL", 16}};
  uint32_t bits = 0;
  for (const char* p = scope; *p;) {
    while (*p && !std::isalpha(static_cast<unsigned char>(*p))) ++p;
    const char* start = p;
    while (std::isalpha(static_cast<unsigned char>(*p))) ++p;
    const size_t n = size_t(p - start);
    if (n == 0) break;
    bool known = false;
    for (const auto& w : kWords)
      if (n == std::strlen(w.word) && std::strncmp(start, w.word, n) == 0) {
        bits |= w.bits;
        known = true;
      }
    // A word that names no scope would be dropped: the scope is refused.
    if (!known) return 0;
  }
  return bits;
}

NnStatus TorvoRTChunk::ReplaceTextQuick(const char* find, uint16_t findLength, const char* replace,
                                        uint16_t replaceLength, const char* scope) {
  if (!find || !replace) return lastStatus = kStatusMissingText;
  // A length of 0 means the text's own length, for the replacement as for the
  // find text: a caller who means to delete passes an empty replacement.
  if (replaceLength == 0) {
    size_t own = std::strlen(replace);
    replaceLength = uint16_t(own < 0xFFFF ? own : 0xFFFF);
  }
  const uint32_t scopeBits = ReplaceScopeBits(scope);
  if (scopeBits == 0) return lastStatus = NN_ERR_INVALID_ARG;
  return RunFrame(2392, replaceLength, findLength, scopeBits, 0, replace, find, nullptr, nullptr);
}

NnStatus TorvoRTChunk::AlterMIME(uint16_t, uint16_t, uint16_t, uint16_t, uint16_t, const char*,
                                 const char*, const char* definition, TorvoRTChunk*) {
  lastStatus = 0;
  if (!Usable(this)) return lastStatus = NN_ERR_INVALID_ARG;
  if (definition && *definition) {
    uint32_t simple = 0;
    chunkdef_info* extra = ParseChunkDefinition(session, InnermostNode(), definition, &simple);
    chunkdef_info* inner = InnermostNode();
    if (extra && inner && inner->next == extra) inner->next = nullptr;
    if (extra && internal && internal->chain == extra) internal->chain = nullptr;
    FreeChunkDefinition(extra);
  }
  if (item->autoSave) NnNoteUpdate(item->hNote, 1);
  return 0;
}

NnStatus TorvoRTChunk::AppendField() {
  if (!internal) return lastStatus = NN_ERR_INVALID_ARG;
  NnStatus st = 0;
  for (int i = 0; i < 3; ++i) {
    if (internal->workBlocks[i]) continue;  // kept from an earlier call
    NnHandle h = 0;
    st = NnMemAlloc(kWorkBlockSize, 0x8000, &h);
    if (st) return lastStatus = st;
    internal->workBlocks[i] = h;
    if (i < 2) {
      void* p = NnMemLock(h);
      internal->workBlockAddress[i] = p;
      if (p) std::memset(p, 0, kWorkBlockSize);
    }
  }
  return lastStatus = st;
}
