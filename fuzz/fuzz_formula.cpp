// Fuzz target: the formula language. Arbitrary text either fails to compile
// with an error inside the text, or compiles to something that gives its
// source back unchanged and evaluates on a note to a well-formed typed value
// or a failure status.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/fuzzsupport.h"

namespace {

bool KnownResultType(uint16_t type) {
  return type == NN_TYPE_TEXT || type == NN_TYPE_TEXT_LIST || type == NN_TYPE_NUMBER ||
         type == NN_TYPE_NUMBER_RANGE || type == NN_TYPE_TIME || type == NN_TYPE_TIME_RANGE;
}

NnHandle SampleNote() {
  static NnHandle note = 0;
  if (note) return note;
  NnHandle db = 0;
  if (NnDbOpen("mem-fuzz-formula.nsf", NN_DB_CREATE, &db) != NN_OK) return 0;
  if (NnNoteCreate(db, NN_CLASS_DOCUMENT, &note) != NN_OK) return 0;
  NnItemSetText(note, "Subject", "A subject", 9);
  NnItemSetText(note, "Form", "Memo", 4);
  NnItemSetNumber(note, "Count", 42.5);
  tagTIMEDATE when = NnTimeFromParts(2026, 12, 7, 11, 0, 0, 0);
  NnItemSetTime(note, "When", &when);
  NnItemAppendTextList(note, "Tags", "one", 3, true);
  NnItemAppendTextList(note, "Tags", "two", 3, true);
  return note;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4000) return 0;
  // The formula text lives in a buffer of its exact size.
  char* text = new char[size ? size : 1];
  if (size) std::memcpy(text, data, size);
  NnHandle compiled = 0;
  uint16_t compiledLen = 0, errorOffset = 0, errorLength = 0;
  NnStatus st = NnFormulaCompile(text, uint16_t(size), &compiled, &compiledLen, &errorOffset,
                                 &errorLength);
  if (st != NN_OK) {
    if (compiled != 0) kvfuzz::Finding("failed compile left a handle");
    if (st == NN_ERR_FORMULA_SYNTAX && size_t(errorOffset) + errorLength > size)
      kvfuzz::Finding("syntax error outside the text");
    delete[] text;
    return 0;
  }
  const void* code = NnMemLock(compiled);
  NnHandle hText = 0;
  uint16_t textLen = 0;
  if (NnFormulaToText(code, compiledLen, &hText, &textLen) != NN_OK)
    kvfuzz::Finding("compiled formula gives no text");
  if (textLen != size || std::memcmp(NnMemLock(hText), text, size) != 0)
    kvfuzz::Finding("compiled formula gives another text");
  NnMemUnlock(hText);
  NnMemFree(hText);
  NnHandle hCompute = 0;
  if (NnComputeStart(code, &hCompute) == NN_OK) {
    for (NnHandle note : {NnHandle(0), SampleNote()}) {
      NnHandle hResult = 0;
      uint32_t resultLen = 0;
      if (NnComputeEvaluate(hCompute, note, &hResult, &resultLen) == NN_OK) {
        if (NnMemSize(hResult) != resultLen || resultLen < 2)
          kvfuzz::Finding("result size is wrong");
        const auto* p = static_cast<const uint8_t*>(NnMemLock(hResult));
        if (!KnownResultType(uint16_t(p[0] | (p[1] << 8)))) kvfuzz::Finding("unknown result type");
        NnMemUnlock(hResult);
        NnMemFree(hResult);
      } else if (hResult != 0) {
        kvfuzz::Finding("failed evaluation left a result");
      }
    }
    NnComputeStop(hCompute);
  }
  NnMemUnlock(compiled);
  NnMemFree(compiled);
  delete[] text;
  return 0;
}
