// Settings: an in-memory nn.ini. Names match without regard to case;
// values are kept exactly as written.

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "nn/nn.h"

namespace {

struct CaseLess {
  bool operator()(const std::string& a, const std::string& b) const {
    size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
      int ca = std::tolower(static_cast<unsigned char>(a[i]));
      int cb = std::tolower(static_cast<unsigned char>(b[i]));
      if (ca != cb) return ca < cb;
    }
    return a.size() < b.size();
  }
};

using SettingMap = std::map<std::string, std::string, CaseLess>;

struct Settings {
  std::mutex mu;
  SettingMap values;
};

Settings& settings() {
  static Settings* s = new Settings;
  return *s;
}

// A settings file is a few kilobytes; anything this big is not one.
constexpr size_t kMaxIniFile = 16 * 1024 * 1024;

void copyCut(const std::string& text, char* buf, uint16_t bufSize) {
  if (buf == nullptr || bufSize == 0) return;
  size_t len = text.size() < size_t(bufSize) - 1 ? text.size() : size_t(bufSize) - 1;
  std::memcpy(buf, text.data(), len);
  buf[len] = '\0';
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

bool NnIniGetText(const char* name, char* buf, uint16_t bufSize) {
  if (name == nullptr) return false;
  Settings& s = settings();
  std::lock_guard<std::mutex> lock(s.mu);
  auto it = s.values.find(name);
  if (it == s.values.end()) {
    copyCut(std::string(), buf, bufSize);
    return false;
  }
  copyCut(it->second, buf, bufSize);
  return true;
}

long NnIniGetNumber(const char* name) {
  if (name == nullptr) return 0;
  std::string text;
  {
    Settings& s = settings();
    std::lock_guard<std::mutex> lock(s.mu);
    auto it = s.values.find(name);
    if (it == s.values.end()) return 0;
    text = it->second;
  }
  size_t i = 0;
  while (i < text.size() && isBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    int digit = text[i] - '0';
    // Saturate rather than overflow on a silly value.
    if (value > (LONG_MAX - digit) / 10) return negative ? LONG_MIN : LONG_MAX;
    value = value * 10 + digit;
  }
  return negative ? -value : value;
}

void NnIniSet(const char* name, const char* value) {
  if (name == nullptr || *name == '\0') return;
  Settings& s = settings();
  std::lock_guard<std::mutex> lock(s.mu);
  if (value == nullptr)
    s.values.erase(name);
  else
    s.values[name] = value;
}

void NnIniClear() {
  Settings& s = settings();
  std::lock_guard<std::mutex> lock(s.mu);
  s.values.clear();
}

NnStatus NnIniLoadFile(const char* path) {
  if (path == nullptr || *path == '\0') return NN_ERR_INVALID_ARG;
  std::FILE* f = std::fopen(path, "rb");
  if (f == nullptr) return errno == ENOENT ? NN_ERR_FILE_NOT_FOUND : NN_ERR_FILE_IO;
  std::string content;
  char chunk[8192];
  size_t got;
  bool tooBig = false;
  while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
    if (content.size() + got > kMaxIniFile) {
      tooBig = true;
      break;
    }
    content.append(chunk, got);
  }
  bool failed = tooBig || std::ferror(f);
  std::fclose(f);
  if (failed) return NN_ERR_FILE_IO;

  // Parse everything first so a file that fails half-way changes nothing.
  SettingMap loaded;
  size_t pos = 0;
  while (pos < content.size()) {
    size_t end = content.find('\n', pos);
    if (end == std::string::npos) end = content.size();
    std::string line = content.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t first = 0;
    while (first < line.size() && isBlank(line[first])) ++first;
    if (first == line.size() || line[first] == ';' || line[first] == '[') continue;
    size_t eq = line.find('=', first);
    if (eq == std::string::npos) continue;
    size_t nameEnd = eq;
    while (nameEnd > first && isBlank(line[nameEnd - 1])) --nameEnd;
    if (nameEnd == first) continue;
    loaded[line.substr(first, nameEnd - first)] = line.substr(eq + 1);
  }

  Settings& s = settings();
  std::lock_guard<std::mutex> lock(s.mu);
  for (auto& [name, value] : loaded) s.values[name] = std::move(value);
  return NN_OK;
}

void NnGetDataDirectory(char* buf, uint16_t bufSize) {
  if (buf == nullptr || bufSize == 0) return;
  std::string dir;
  {
    Settings& s = settings();
    std::lock_guard<std::mutex> lock(s.mu);
    auto it = s.values.find("Directory");
    if (it != s.values.end()) dir = it->second;
  }
  if (dir.empty()) {
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd) != nullptr) dir = cwd;
  }
  // "/" alone stays, as the root has no other spelling.
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  copyCut(dir, buf, bufSize);
}
