// Hotspots that carry program code: AppendHotspot wraps the chunk in a new
// hotspot, SetImageHotspot gives the chunk's image a click action. Both
// prepare the code in the session's result buffer (its length in
// ResultTextLength), describe the hotspot in the session globals and run one
// engine operation through the method frame.
#include <strings.h>

#include <cstdio>
#include <cstring>

#include "host/logging.h"
#include "host/options.h"
#include "host/pool.h"
#include "lsxsessi.h"
#include "richtext/engine/opcodes.h"
#include "rtchunk.h"
#include "rtitem.h"

namespace {

constexpr uint16_t kOpAppendHotspot = 2423;
constexpr uint16_t kOpImageHotspot = 2447;
constexpr uint16_t kInternalArgumentError = 20017;
constexpr uint32_t kAppendCodeOffset = 16;  // the engine fills the 16 bytes in front

constexpr uint32_t kKindFormula = 0x10;
constexpr uint32_t kKindComputedText = 0x40010;
constexpr uint32_t kKindKvScript = 0x100;
constexpr uint32_t kKindJavaScript = 0x200000;

// The event module a KvScript click action is stored as.
const char* const kScriptModule =
    "'++KvScript Development Environment:2:5:(Options):0:66\n"
    "\n"
    "'++KvScript Development Environment:2:5:(Forward):0:1\n"
    "Declare Sub Click(Source As Button)\n"
    "\n"
    "'++KvScript Development Environment:2:5:(Declarations):0:2\n"
    "\n"
    "'++KvScript Development Environment:2:2:BindEvents:1:129\n"
    "Private Sub BindEvents(Byval Objectname_ As String)\n"
    "  Static Source As BUTTON\n"
    "  Set Source = Bind(Objectname_)\n"
    "  On Event Click From Source Call Click\n"
    "End Sub\n"
    "\n"
    "'++KvScript Development Environment:2:2:Click:1:12\n";
const char* const kClickWrapper = "Sub Click(Source As Button)\n";

void Log(LSXLsiSession* s, const char* message) {
  char line[1200];
  std::snprintf(line, sizeof line, "%s: %s", s->ProductName(), message);
  LogMessage(s, line);
}

bool ContainsNoCase(const char* text, uint32_t length, const char* word) {
  size_t w = std::strlen(word);
  for (uint32_t i = 0; i + w <= length; ++i)
    if (strncasecmp(text + i, word, w) == 0) return true;
  return false;
}

// A caller's code length, cut where the code's text ends: the code is never
// read past its end, whatever length the caller gave.
uint16_t CodeLength(const char* code, uint16_t length) {
  return code ? uint16_t(strnlen(code, length)) : 0;
}

// Puts `length` bytes at `offset` of the result buffer; false when they do not fit.
bool PutResult(LSXLsiSession* s, uint32_t offset, const void* data, uint32_t length) {
  if (offset > kResultTextSize || length > kResultTextSize - offset) return false;
  std::memcpy(s->ResultText + offset, data, length);
  return true;
}

// Compiles a formula into the result buffer. 0, NN_ERR_INVALID_ARG for an
// empty compiled formula, NN_ERR_MEMORY when it does not fit, or the compile
// status (already logged).
NnStatus CompileInto(LSXLsiSession* s, uint32_t offset, const char* code, uint16_t codeLength,
                     uint16_t* written) {
  NnHandle h = 0;
  uint16_t compiledLength = 0, errOffset = 0, errLength = 0;
  NnStatus st = NnFormulaCompile(code, codeLength, &h, &compiledLength, &errOffset, &errLength);
  if (st != 0) {
    char text[1025];
    NnLoadStatusText(NnStatus(st & 0x3FFF), text, sizeof text);
    Log(s, text);
    if (h) NnMemFree(h);
    return st;
  }
  NnStatus result = 0;
  const void* p = NnMemLock(h);
  if (compiledLength == 0 || !p) {
    result = NN_ERR_INVALID_ARG;
  } else if (!PutResult(s, offset, p, compiledLength)) {
    result = NN_ERR_MEMORY;
  } else {
    *written = compiledLength;
  }
  if (p) NnMemUnlock(h);
  NnMemFree(h);
  return result;
}

// Builds the KvScript event module at `offset`; false when it does not fit.
bool BuildScriptModule(LSXLsiSession* s, uint32_t offset, const char* code, uint16_t codeLength,
                       uint16_t* written) {
  const bool hasClick = ContainsNoCase(code, codeLength, "Sub Click");
  const uint32_t moduleLength = uint32_t(std::strlen(kScriptModule));
  const uint32_t wrapperLength = hasClick ? 0 : uint32_t(std::strlen(kClickWrapper));
  const uint32_t total = moduleLength + wrapperLength + codeLength + (hasClick ? 0 : 8);
  if (total > 0xFFFF || offset > kResultTextSize || total + 1 > kResultTextSize - offset)
    return false;
  char* out = s->ResultText + offset;
  std::memcpy(out, kScriptModule, moduleLength);
  out += moduleLength;
  if (!hasClick) {
    std::memcpy(out, kClickWrapper, wrapperLength);
    out += wrapperLength;
  }
  std::memcpy(out, code, codeLength);
  out += codeLength;
  if (!hasClick) {
    std::memcpy(out, "\nEnd Sub", 8);
    out += 8;
  }
  *out = 0;
  *written = uint16_t(total);
  return true;
}

// Raw code, ended by a zero word and counted one more.
bool CopyRaw(LSXLsiSession* s, uint32_t offset, const char* code, uint16_t codeLength,
             uint16_t* written) {
  if (uint32_t(codeLength) + 1 > 0xFFFF || offset > kResultTextSize ||
      uint32_t(codeLength) + 2 > kResultTextSize - offset)
    return false;
  std::memcpy(s->ResultText + offset, code, codeLength);
  s->ResultText[offset + codeLength] = 0;
  s->ResultText[offset + codeLength + 1] = 0;
  *written = uint16_t(codeLength + 1);
  return true;
}

uint16_t HotspotTypeOf(const char* type) {
  if (StrIStr(type, "ACTION")) return 2;
  if (StrIStr(type, "BUTTON")) return 3;
  if (StrIStr(type, "POPUP")) return 1;
  if (StrIStr(type, "MOUSEOVER")) return 22;
  if (StrIStr(type, "COMPUTEDTEXT")) return 1;
  if (StrIStr(type, "SUBFORM")) return 14;
  if (StrIStr(type, "FILEUPLOAD") || StrIStr(type, "FILE UPLOAD")) return 24;
  return 0;
}

uint32_t CodeKindOf(const char* type) {
  if (StrIStr(type, "COMPUTEDTEXT")) return kKindComputedText;
  if (StrIStr(type, "FORMULA")) return kKindFormula;
  if (StrIStr(type, "KVSCRIPT") || StrIStr(type, "KVSCRPT")) return kKindKvScript;
  if (StrIStr(type, "JAVASCRIPT")) return kKindJavaScript;
  if (StrIStr(type, "FILEUPLOAD") || StrIStr(type, "FILE UPLOAD") || StrIStr(type, "SUBFORM"))
    return 0;
  if (StrIStr(type, "TEXT")) return 0;
  return kKindFormula;
}

}  // namespace

uint16_t TorvoRTChunk::AppendHotspot(const char* type, const char* code, uint16_t codeLength,
                                     const char* options, const char* label,
                                     uint16_t labelLength) {
  if (!session || !session->IsValid() || !item) return lastStatus = NN_ERR_INVALID_ARG;
  SessionGlobals* g = session->globals;
  // 1.
  g->hotspotExtra = 0;
  linkKind = 0;
  g->codeKind = kKindFormula;
  const char* t = type ? type : "";
  const uint16_t hotspotType = HotspotTypeOf(t);
  if (hotspotType == 0) return lastStatus = NN_ERR_INVALID_ARG;
  const uint32_t kind = CodeKindOf(t);
  const bool script = kind == kKindKvScript || kind == kKindJavaScript;
  const bool dataDocument = !item->context || item->context->designNote == 0;

  // 2.
  auto refuse = [&](const char* message) -> uint16_t {
    Log(session, message);
    lastInternalError = kInternalArgumentError;
    return lastStatus = NN_ERR_INVALID_ARG;
  };
  if ((hotspotType == 1 || hotspotType == 22) && script) return refuse("Error in argument #1");
  if (hotspotType == 14 && dataDocument)
    return refuse("Attempt to add subform to data document failed");
  if (hotspotType == 14 && script)
    return refuse("Subform specified by other than simple name or formula");
  if (hotspotType == 24 && dataDocument)
    return refuse("Attempt to add file upload to data document failed");

  // 3. The code goes behind the 16 bytes the engine fills.
  uint16_t prepared = 0;
  codeLength = CodeLength(code, codeLength);
  if (code) {
    bool fits = true;
    if (kind & kKindFormula) {
      NnStatus st = CompileInto(session, kAppendCodeOffset, code, codeLength, &prepared);
      if (st == NN_ERR_MEMORY) return lastStatus = NN_ERR_MEMORY;
      if (st != 0) {
        if (st != NN_ERR_INVALID_ARG) lastInternalError = kInternalArgumentError;
        return lastStatus = NN_ERR_INVALID_ARG;
      }
    } else if (kind & kKindKvScript) {
      fits = BuildScriptModule(session, kAppendCodeOffset, code, codeLength, &prepared);
    } else {
      fits = CopyRaw(session, kAppendCodeOffset, code, codeLength, &prepared);
    }
    if (!fits) return lastStatus = NN_ERR_MEMORY;
  }
  g->hotspotType = hotspotType;
  g->codeKind = kind;
  session->ResultTextLength = prepared;

  // 4.
  if (labelLength == 0 || !label) {
    label = "Action Hotspot";
    labelLength = 14;
  }
  // 5.
  return RunFrame(kOpAppendHotspot, 0, 0, codeLength, labelLength, options, label, nullptr,
                  nullptr);
}

uint16_t TorvoRTChunk::SetImageHotspot(const char* language, const char* code,
                                       uint16_t codeLength, const char* options,
                                       const char* target, uint16_t number) {
  if (!session || !session->IsValid() || !item) return lastStatus = NN_ERR_INVALID_ARG;
  SessionGlobals* g = session->globals;
  // 1.
  g->hotspotExtra = 0;
  char* languageCopy = POOL_STRDUP(session, language ? language : "");
  if (!languageCopy) return lastStatus = NN_ERR_MEMORY;
  g->hotspotLanguage = languageCopy;
  auto finish = [&](uint16_t status) -> uint16_t {
    g->hotspotLanguage = nullptr;
    PoolFree(session, languageCopy);
    return lastStatus = status;
  };

  // 2.
  uint32_t kind = 0;
  if (strcasecmp(languageCopy, "FORMULA") == 0)
    kind = 1;
  else if (strcasecmp(languageCopy, "KVSCRIPT") == 0 ||
           strcasecmp(languageCopy, "KVSCRPT") == 0)
    kind = 3;
  else if (strcasecmp(languageCopy, "JAVASCRIPT") == 0)
    kind = 4;
  else
    return finish(lastStatus = NN_ERR_CATASTROPHIC);
  g->codeKind = kind;

  // 3. The code goes at the start of the result buffer. A length of 0 means
  // the whole text (an empty action is never what a caller with code meant).
  uint16_t prepared = 0;
  codeLength = CodeLength(code, codeLength == 0 ? 0xFFFF : codeLength);
  if (code) {
    if (kind == 1) {
      NnStatus st = CompileInto(session, 0, code, codeLength, &prepared);
      if (st == NN_ERR_INVALID_ARG) {
        // An empty formula gives the image no action.
        g->codeKind = 0;
        return finish(lastStatus = 0);
      }
      if (st == NN_ERR_MEMORY) return finish(lastStatus = NN_ERR_MEMORY);
      if (st != 0) return finish(lastStatus = kInternalArgumentError);
    } else {
      bool fits = kind == 3 ? BuildScriptModule(session, 0, code, codeLength, &prepared)
                            : CopyRaw(session, 0, code, codeLength, &prepared);
      if (!fits) return finish(lastStatus = NN_ERR_MEMORY);
    }
  }
  session->ResultTextLength = prepared;

  // 4.
  if (!target || !*target) target = "Default";
  // 5. The picture: the chunk's first graphic. Its hotspot goes around its
  // records, which an earlier call's hotspot may already hold: the walk
  // covers the whole item.
  g->FirstMatchRecord = 0;
  g->LastMatchRecord = 0;
  // An image map chunk stands for the picture whose map it is.
  RunFrame(STEP_LOCATE, PROP_LAST_RECORD, 0, 0, 0, nullptr, nullptr,
           targetType == GRAPHIC || targetType == ImageMap ? nullptr : "Graphic 1", nullptr);
  const uint32_t first = g->FirstMatchRecord, last = g->LastMatchRecord;
  if (!first) return finish(lastStatus = NN_ERR_NOT_FOUND);
  TorvoRTChunk* whole = item->DefineChunk("");
  if (!whole) return finish(lastStatus = NN_ERR_MEMORY);
  lastStatus = whole->RunFrame(kOpImageHotspot, first, last, codeLength, number, options, target,
                               nullptr, nullptr);
  delete whole;
  return finish(lastStatus);
}
