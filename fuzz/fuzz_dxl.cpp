// Fuzz target: arbitrary bytes as a DXL file. The load either fails cleanly
// or gives a database that saves and loads back.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "nn/nn.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  char path[] = "/tmp/kvfuzz-XXXXXX.dxl";
  int fd = mkstemps(path, 4);
  if (fd < 0) return 0;
  if (write(fd, data, size) != ssize_t(size)) {
    close(fd);
    unlink(path);
    return 0;
  }
  close(fd);
  NnHandle db = 0;
  if (NnDbOpen(path, 0, &db) == NN_OK) {
    std::string out = std::string(path) + ".out.dxl";
    NnDbSaveDxl(db, out.c_str());
    NnDbClose(db);
    NnHandle again = 0;
    if (NnDbOpen(out.c_str(), 0, &again) != NN_OK) __builtin_trap();
    NnDbClose(again);
    unlink(out.c_str());
  }
  unlink(path);
  return 0;
}
