// Package paths: normalised comparison of a relative path with entry names.
#include "import/package.h"

#include <strings.h>

#include <cctype>

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = char(std::tolower(static_cast<unsigned char>(c)));
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string NormalizePackagePath(const char* path) {
  if (!path) return {};
  std::string decoded;
  for (const char* p = path; *p; ++p) {
    if (*p == '%' && HexDigit(p[1]) >= 0 && HexDigit(p[2]) >= 0) {
      const char c = char(HexDigit(p[1]) * 16 + HexDigit(p[2]));
      // An escaped separator is a separator; an escaped NUL ends nothing.
      if (c != 0) decoded += c == '\\' ? '/' : c;
      p += 2;
    } else {
      decoded += *p == '\\' ? '/' : *p;
    }
  }
  // A query or fragment is not part of the entry's name.
  const size_t cut = decoded.find_first_of("?#");
  if (cut != std::string::npos) decoded.resize(cut);
  std::vector<std::string> segments;
  size_t start = 0;
  while (start <= decoded.size()) {
    size_t slash = decoded.find('/', start);
    if (slash == std::string::npos) slash = decoded.size();
    const std::string segment = decoded.substr(start, slash - start);
    if (segment == "..") {
      if (segments.empty()) return {};
      segments.pop_back();
    } else if (!segment.empty() && segment != ".") {
      segments.push_back(segment);
    }
    start = slash + 1;
  }
  std::string out;
  for (const std::string& s : segments) {
    if (!out.empty()) out += '/';
    out += s;
  }
  return out;
}

const std::string* FileListFindByPath(const std::vector<std::string>* list, const char* path,
                                      int ignoreCase) {
  if (!list || !path) return nullptr;
  const std::string wanted = NormalizePackagePath(path);
  if (wanted.empty()) return nullptr;
  const std::string* folded = nullptr;
  int foldedMatches = 0;
  for (const std::string& name : *list) {
    const std::string entry = NormalizePackagePath(name.c_str());
    if (entry == wanted) return &name;
    if (ignoreCase && entry.size() == wanted.size() &&
        strcasecmp(entry.c_str(), wanted.c_str()) == 0) {
      folded = &name;
      ++foldedMatches;
    }
  }
  return foldedMatches == 1 ? folded : nullptr;
}
