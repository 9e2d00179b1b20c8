#include "host/sortcmp.h"

#include <unicode/ucnv.h>
#include <unicode/ucol.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace kv {

namespace {

// Per thread: the engine sets it and sorts in the same call, and sessions in
// other threads sort with flags of their own.
thread_local uint32_t g_sortFlags = 0;

struct CollatorCloser {
  void operator()(UCollator* c) const { ucol_close(c); }
};
struct ConverterCloser {
  void operator()(UConverter* c) const { ucnv_close(c); }
};

// One collator per flag combination, opened on first use.
UCollator* CollatorFor(uint32_t flags) {
  thread_local std::unique_ptr<UCollator, CollatorCloser> cache[4];
  uint32_t k = flags & 3;
  if (!cache[k]) {
    UErrorCode err = U_ZERO_ERROR;
    UCollator* c = ucol_open("", &err);
    if (U_FAILURE(err)) return nullptr;
    bool accents = (k & kSortAccentSensitive) != 0;
    bool cases = (k & kSortCaseSensitive) != 0;
    if (accents && cases) {
      ucol_setStrength(c, UCOL_TERTIARY);
    } else if (accents) {
      ucol_setStrength(c, UCOL_SECONDARY);
    } else {
      ucol_setStrength(c, UCOL_PRIMARY);
      if (cases) ucol_setAttribute(c, UCOL_CASE_LEVEL, UCOL_ON, &err);
    }
    cache[k].reset(c);
  }
  return cache[k].get();
}

// Platform text to UTF-16; bytes taken as Latin-1 when the converter is missing.
void ToUtf16(const char* text, uint32_t len, std::vector<UChar>* out) {
  out->clear();
  if (text == nullptr || len == 0) return;
  thread_local std::unique_ptr<UConverter, ConverterCloser> conv;
  thread_local bool tried = false;
  if (!tried) {
    tried = true;
    UErrorCode err = U_ZERO_ERROR;
    UConverter* c = ucnv_open("LMBCS-1", &err);
    if (U_SUCCESS(err)) conv.reset(c);
  }
  if (conv) {
    ucnv_reset(conv.get());
    out->resize(size_t(len) * 2 + 16);
    UErrorCode err = U_ZERO_ERROR;
    int32_t n = ucnv_toUChars(conv.get(), out->data(), int32_t(out->size()), text, int32_t(len),
                              &err);
    if (U_SUCCESS(err) || err == U_STRING_NOT_TERMINATED_WARNING) {
      out->resize(size_t(n));
      return;
    }
  }
  out->assign(len, 0);
  for (uint32_t i = 0; i < len; ++i) (*out)[i] = static_cast<unsigned char>(text[i]);
}

const SortKeyEntry& E(const void* p) { return *static_cast<const SortKeyEntry*>(p); }

int CompareIndex(const SortKeyEntry& a, const SortKeyEntry& b) {
  return a.originalIndex < b.originalIndex ? -1 : a.originalIndex > b.originalIndex ? 1 : 0;
}

int CompareKeys(const SortKeyEntry& a, const SortKeyEntry& b) {
  uint32_t la = a.keyText ? a.keyLength : 0;
  uint32_t lb = b.keyText ? b.keyLength : 0;
  if (la == 0 || lb == 0) return la == lb ? 0 : (la == 0 ? -1 : 1);
  thread_local std::vector<UChar> ua, ub;
  ToUtf16(a.keyText, la, &ua);
  ToUtf16(b.keyText, lb, &ub);
  if (UCollator* c = CollatorFor(g_sortFlags)) {
    UCollationResult r = ucol_strcoll(c, ua.data(), int32_t(ua.size()), ub.data(),
                                      int32_t(ub.size()));
    return r == UCOL_LESS ? -1 : r == UCOL_GREATER ? 1 : 0;
  }
  size_t n = la < lb ? la : lb;
  int r = std::memcmp(a.keyText, b.keyText, n);
  if (r != 0) return r < 0 ? -1 : 1;
  return la == lb ? 0 : (la < lb ? -1 : 1);
}

// Reads the key as a number; false when it does not start with one.
bool ParseNumber(const SortKeyEntry& e, double* out) {
  if (e.keyText == nullptr || e.keyLength == 0) return false;
  char buf[128];
  uint32_t i = 0;
  while (i < e.keyLength && (e.keyText[i] == ' ' || e.keyText[i] == '\t')) ++i;
  uint32_t n = 0;
  while (i < e.keyLength && n + 1 < sizeof buf) {
    char c = e.keyText[i++];
    if (!((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.' || c == 'e' || c == 'E'))
      break;
    buf[n++] = c;
  }
  buf[n] = '\0';
  if (n == 0) return false;
  char* end = nullptr;
  double v = std::strtod(buf, &end);
  if (end == buf || std::isnan(v)) return false;
  *out = v;
  return true;
}

int CompareNumbers(const SortKeyEntry& a, const SortKeyEntry& b, bool descending) {
  double x = 0, y = 0;
  bool hx = ParseNumber(a, &x), hy = ParseNumber(b, &y);
  int r = 0;
  if (hx && hy) {
    r = x < y ? -1 : x > y ? 1 : 0;
  } else if (hx != hy) {
    r = hx ? -1 : 1;
  }
  if (r == 0) r = CompareKeys(a, b);
  if (r != 0) return descending ? -r : r;
  return CompareIndex(a, b);
}

int CompareTexts(const SortKeyEntry& a, const SortKeyEntry& b, bool descending) {
  int r = CompareKeys(a, b);
  if (r != 0) return descending ? -r : r;
  return CompareIndex(a, b);
}

}  // namespace

void SortSetFlags(uint32_t flags) { g_sortFlags = flags; }
uint32_t SortGetFlags() { return g_sortFlags; }

int SortCompareNumAsc(const void* a, const void* b) { return CompareNumbers(E(a), E(b), false); }
int SortCompareNumDesc(const void* a, const void* b) { return CompareNumbers(E(a), E(b), true); }
int SortCompareTextAsc(const void* a, const void* b) { return CompareTexts(E(a), E(b), false); }
int SortCompareTextDesc(const void* a, const void* b) { return CompareTexts(E(a), E(b), true); }

}  // namespace kv
