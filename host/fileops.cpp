#include "host/fileops.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace kv {

namespace {

bool IsDirectory(const std::string& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Creates one level; an existing directory counts as success.
bool MakeLevel(const std::string& p) {
  if (p.empty() || IsDirectory(p)) return true;
  if (::mkdir(p.c_str(), 0777) == 0) return true;
  return errno == EEXIST && IsDirectory(p);
}

}  // namespace

int MakeDirectoryPath(const char* path) {
  if (path == nullptr || *path == '\0') return 0;
  size_t len = std::strlen(path);
  if (len > kMaxDirectoryPath) return 0;
  std::string p(path, len);
  for (char& c : p) {
    if (c == '\\') c = '/';
  }
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  // Each prefix ending before a separator is one level; the root needs no work.
  for (size_t i = 1; i < p.size(); ++i) {
    if (p[i] != '/' || p[i - 1] == '/') continue;
    if (!MakeLevel(p.substr(0, i))) return 0;
  }
  return MakeLevel(p) ? 1 : 0;
}

NnStatus WriteBufferToFile(const char* path, const void* buf, uint32_t count) {
  if (path == nullptr || *path == '\0' || (buf == nullptr && count > 0)) return NN_ERR_INVALID_ARG;
  std::FILE* f = std::fopen(path, "wb");
  if (f == nullptr) return NN_ERR_INVALID_ARG;
  bool ok = count == 0 || std::fwrite(buf, 1, count, f) == count;
  ok = (std::fclose(f) == 0) && ok;
  if (!ok) {
    std::remove(path);
    return NN_ERR_INVALID_ARG;
  }
  return NN_OK;
}

}  // namespace kv
