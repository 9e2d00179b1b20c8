// The formula calls of the platform layer: compile, back to text, and the
// compute handles that run a parsed formula on notes.
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>

#include "formula.h"
#include "store.h"

using nnformula::Program;

namespace {

std::mutex gComputeMutex;
std::map<NnHandle, std::shared_ptr<const Program>> gComputes;
uint32_t gNextCompute = 1;

// A new memory handle holding the bytes and a NUL after them.
NnStatus newTextBlock(const void* data, size_t len, NnHandle* out) {
  NnHandle h = 0;
  NnStatus st = NnMemAlloc(uint32_t(len + 1), 0, &h);
  if (st != NN_OK) return st;
  auto* p = static_cast<char*>(NnMemLock(h));
  if (!p) {
    NnMemFree(h);
    return NN_ERR_MEMORY;
  }
  if (len) std::memcpy(p, data, len);
  p[len] = '\0';
  NnMemUnlock(h);
  *out = h;
  return NN_OK;
}

}  // namespace

NnStatus NnFormulaCompile(const char* text, uint16_t textLen, NnHandle* hFormula,
                          uint16_t* compiledLen, uint16_t* errorOffset, uint16_t* errorLength) {
  if (hFormula) *hFormula = 0;
  if (compiledLen) *compiledLen = 0;
  if (errorOffset) *errorOffset = 0;
  if (errorLength) *errorLength = 0;
  if (!hFormula || (!text && textLen > 0)) return NN_ERR_INVALID_ARG;
  Program program;
  const NnStatus st = nnformula::parse(text, textLen, &program, errorOffset, errorLength);
  if (st != NN_OK) return st;
  NnHandle h = 0;
  const NnStatus mst = newTextBlock(text, textLen, &h);
  if (mst != NN_OK) return mst;
  *hFormula = h;
  if (compiledLen) *compiledLen = textLen;
  return NN_OK;
}

NnStatus NnFormulaToText(const void* compiled, uint16_t compiledLen, NnHandle* hText,
                         uint16_t* textLen) {
  if (hText) *hText = 0;
  if (textLen) *textLen = 0;
  if (!hText || (!compiled && compiledLen > 0)) return NN_ERR_INVALID_ARG;
  // A length that counts the terminating NUL still gives the source exactly.
  const size_t len = compiled ? strnlen(static_cast<const char*>(compiled), compiledLen) : 0;
  // Formulas compiled elsewhere are binary: they have no text here, and
  // their bytes up to the first NUL are not their source.
  const auto* bytes = static_cast<const uint8_t*>(compiled);
  for (size_t i = 0; i < compiledLen; ++i) {
    const uint8_t b = bytes[i];
    if (i >= len ? b != 0 : (b < 0x20 && b != '\t' && b != '\r' && b != '\n'))
      return NN_ERR_FORMULA_SYNTAX;
  }
  const NnStatus st = newTextBlock(compiled, len, hText);
  if (st == NN_OK && textLen) *textLen = uint16_t(len);
  return st;
}

NnStatus NnComputeStart(const void* compiled, NnHandle* hCompute) {
  if (hCompute) *hCompute = 0;
  if (!compiled || !hCompute) return NN_ERR_INVALID_ARG;
  const char* text = static_cast<const char*>(compiled);
  const size_t len = strnlen(text, 0x10000);
  if (len > 0xFFFF) return NN_ERR_FORMULA_SYNTAX;
  try {
    auto program = std::make_shared<Program>();
    const NnStatus st = nnformula::parse(text, len, program.get(), nullptr, nullptr);
    if (st != NN_OK) return st;
    std::lock_guard<std::mutex> lock(gComputeMutex);
    NnHandle h;
    do {
      h = nnstore::kComputeHandle | (gNextCompute++ & 0x00FFFFFF);
    } while ((h & 0x00FFFFFF) == 0 || gComputes.count(h));
    gComputes.emplace(h, std::move(program));
    *hCompute = h;
    return NN_OK;
  } catch (const std::bad_alloc&) {
    return NN_ERR_MEMORY;
  }
}

NnStatus NnComputeEvaluate(NnHandle hCompute, NnHandle hNote, NnHandle* hResult,
                           uint32_t* resultLen) {
  if (hResult) *hResult = 0;
  if (resultLen) *resultLen = 0;
  std::shared_ptr<const Program> program;
  {
    std::lock_guard<std::mutex> lock(gComputeMutex);
    auto it = gComputes.find(hCompute);
    if (it == gComputes.end()) return NN_ERR_BAD_HANDLE;
    program = it->second;
  }
  if (!hResult) return NN_ERR_INVALID_ARG;
  if (hNote != 0) {
    uint16_t noteClass = 0;
    if (NnNoteGetInfo(hNote, NN_NOTE_INFO_CLASS, &noteClass) == NN_ERR_BAD_HANDLE)
      return NN_ERR_BAD_HANDLE;
  }
  std::vector<uint8_t> block;
  NnStatus st;
  try {
    st = nnformula::evaluate(*program, hNote, &block);
  } catch (const std::bad_alloc&) {
    return NN_ERR_MEMORY;
  }
  if (st != NN_OK) return st;
  NnHandle h = 0;
  st = NnMemAlloc(uint32_t(block.size()), 0, &h);
  if (st != NN_OK) return st;
  void* p = NnMemLock(h);
  if (!p) {
    NnMemFree(h);
    return NN_ERR_MEMORY;
  }
  std::memcpy(p, block.data(), block.size());
  NnMemUnlock(h);
  *hResult = h;
  if (resultLen) *resultLen = uint32_t(block.size());
  return NN_OK;
}

NnStatus NnComputeStop(NnHandle hCompute) {
  std::lock_guard<std::mutex> lock(gComputeMutex);
  return gComputes.erase(hCompute) ? NN_OK : NN_ERR_BAD_HANDLE;
}
