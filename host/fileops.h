// File helpers of the exporters: directory creation and whole-file writes.
#pragma once

#include <cstdint>

#include "nn/nn.h"

namespace kv {

// Longest path MakeDirectoryPath accepts.
constexpr uint32_t kMaxDirectoryPath = 256;

// Creates every level of the directory path in turn ("\\" and "/" both
// separate levels; a trailing separator is allowed). Returns non-zero when the
// directory exists afterwards, 0 when the path is null, empty, longer than
// kMaxDirectoryPath, or a level cannot be created (for instance because a file
// holds its name).
int MakeDirectoryPath(const char* path);

// Writes count bytes as a new file (created or truncated, binary). 0 on
// success; NN_ERR_INVALID_ARG (1028) on any failure, when no partial file is
// left behind.
NnStatus WriteBufferToFile(const char* path, const void* buf, uint32_t count);

}  // namespace kv
