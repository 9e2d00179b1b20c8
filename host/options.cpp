#include "host/options.h"

#include <cctype>
#include <cstring>

namespace {

bool IsQuote(char c) { return c == '\'' || c == '"' || c == '|' || c == '~'; }
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool MatchesAt(const char* text, const char* key, size_t keyLen) {
  for (size_t i = 0; i < keyLen; i++) {
    if (!text[i] || Lower(text[i]) != Lower(key[i])) return false;
  }
  return true;
}

}  // namespace

const char* StrIStr(const char* text, const char* pattern) {
  if (!text || !pattern || !*text) return nullptr;
  size_t len = std::strlen(pattern);
  for (const char* p = text; *p; p++) {
    if (MatchesAt(p, pattern, len)) return p;
  }
  return len == 0 ? text : nullptr;
}

namespace {

thread_local uint64_t g_valuesCut = 0;

// The value of `key` in `optionString` (pointers into it): where the key
// stands on its boundary, the value to its next blank or its closing quote.
bool FindOptionValue(const char* optionString, const char* key, const char** value,
                     size_t* length) {
  if (!optionString || !key || !*key) return false;
  size_t keyLen = std::strlen(key);
  const char* found = nullptr;
  for (const char* p = optionString; *p; p++) {
    bool boundary = true;
    if (p != optionString) {
      unsigned char prev = static_cast<unsigned char>(p[-1]);
      // A key glued to a word, or right after a quote, is part of another value.
      boundary = !std::isalnum(prev) && !IsQuote(static_cast<char>(prev));
    }
    if (boundary && MatchesAt(p, key, keyLen)) {
      found = p;
      break;
    }
    // A value runs to its closing quote, or unquoted to the next blank:
    // nothing inside it is a key ("AltText=Attach=Yes" names no Attach).
    if (*p == '=' && IsQuote(p[1])) {
      const char* close = std::strchr(p + 2, p[1]);
      if (!close) break;
      p = close;
    } else if (*p == '=') {
      while (p[1] && !IsBlank(p[1])) ++p;
    }
  }
  if (!found) return false;
  const char* v = found + keyLen;
  const char* end;
  if (IsQuote(*v)) {
    char q = *v++;
    end = std::strchr(v, q);
    if (!end) end = v + std::strlen(v);
  } else {
    end = v;
    while (*end && !IsBlank(*end)) end++;
  }
  *value = v;
  *length = static_cast<size_t>(end - v);
  return true;
}

}  // namespace

int GetOptionValueN(const char* optionString, const char* key, char* out, size_t max) {
  const char* v = nullptr;
  size_t len = 0;
  if (!FindOptionValue(optionString, key, &v, &len)) return 0;
  if (!out) return 1;
  if (len > max) {
    len = max;
    ++g_valuesCut;
  }
  std::memmove(out, v, len);
  out[len] = 0;
  return 1;
}

bool GetOptionValueString(const char* optionString, const char* key, std::string* out) {
  const char* v = nullptr;
  size_t len = 0;
  if (!FindOptionValue(optionString, key, &v, &len)) return false;
  if (out) out->assign(v, len);
  return true;
}

uint64_t OptionValuesCut() { return g_valuesCut; }

int NextOptionPair(const char** cursor, OptionPair* pair) {
  if (!cursor || !*cursor || !pair) return 0;
  const char* p = *cursor;
  while (IsBlank(*p)) p++;
  if (!*p) {
    *cursor = p;
    return 0;
  }
  const char* key = p;
  while (*p && *p != '=' && !IsBlank(*p)) p++;
  if (*p != '=' || p == key) {
    while (*p && !IsBlank(*p)) p++;
    *cursor = p;
    return -1;
  }
  pair->key = key;
  pair->keyLength = static_cast<size_t>(p - key);
  const char* v = ++p;
  if (IsQuote(*v)) {
    const char* close = std::strchr(v + 1, *v);
    if (!close) {
      *cursor = v + std::strlen(v);
      return -1;
    }
    pair->value = v + 1;
    pair->valueLength = static_cast<size_t>(close - v - 1);
    *cursor = close + 1;
    return 1;
  }
  while (*p && !IsBlank(*p)) p++;
  pair->value = v;
  pair->valueLength = static_cast<size_t>(p - v);
  *cursor = p;
  return 1;
}

bool OptionKeyAmong(const char* key, size_t length, std::initializer_list<const char*> keys) {
  for (const char* k : keys)
    if (std::strlen(k) == length && MatchesAt(key, k, length)) return true;
  return false;
}

bool OptionKeysDistinct(const char* optionString) {
  const char* p = optionString;
  OptionPair pair;
  int r;
  while ((r = NextOptionPair(&p, &pair)) != 0) {
    if (r < 0) continue;
    const char* rest = p;
    OptionPair later{};
    int q;
    while ((q = NextOptionPair(&rest, &later)) != 0)
      if (q > 0 && later.keyLength == pair.keyLength &&
          MatchesAt(later.key, pair.key, pair.keyLength))
        return false;
  }
  return true;
}

bool OptionKeysAmong(const char* optionString, std::initializer_list<const char*> keys) {
  const char* p = optionString;
  OptionPair pair;
  int r;
  while ((r = NextOptionPair(&p, &pair)) != 0)
    if (r < 0 || !OptionKeyAmong(pair.key, pair.keyLength, keys)) return false;
  return OptionKeysDistinct(optionString);
}

bool OptionValuesFit(const char* optionString) {
  const char* p = optionString;
  OptionPair pair;
  int r;
  while ((r = NextOptionPair(&p, &pair)) != 0)
    if (r > 0 && pair.valueLength > kOptionValueMax) return false;
  return true;
}

int GetOptionValue(const char* optionString, const char* key, char* out) {
  return GetOptionValueN(optionString, key, out, kOptionValueMax);
}
