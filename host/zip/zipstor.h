// zipstorage: a zip archive built in memory (entries stored or deflated) or
// loaded from a file and read entry by entry. Packages (EPUB and the like) are
// written and read through it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "nn/nn.h"

class LSXLsiSession;

class zipstorage {
 public:
  explicit zipstorage(LSXLsiSession* session);
  ~zipstorage();
  zipstorage(const zipstorage&) = delete;
  zipstorage& operator=(const zipstorage&) = delete;

  LSXLsiSession* session = nullptr;
  std::string fileName;            // the file it was loaded from or saved to
  std::vector<uint8_t> archive;    // the archive's bytes
  std::vector<uint8_t> buffer;     // the entry read last
  std::string currentEntry;        // the entry being written, when one is open

  // Internal: the minizip handles and the stream over `archive`.
  void* writer = nullptr;
  void* reader = nullptr;
  struct Stream;
  Stream* stream = nullptr;
};

// Adds data to the entry of that name in the archive being written: the call
// with `open` set opens the entry (closing one still open), the call with
// `close` set closes it; `store` 1 keeps the data uncompressed (else deflated).
NnStatus ZipStorageAddEntry(zipstorage* zip, const char* name, const void* data, uint32_t length,
                            int open, int close, int store);
// Writes the archive's directory; the archive is then complete in `archive`.
NnStatus ZipStorageFinish(zipstorage* zip);
NnStatus ZipStorageSaveFile(zipstorage* zip, const char* path);
// Loads a file into a new storage (0 on success; the caller deletes it).
NnStatus ZipStorageLoadFile(LSXLsiSession* session, const char* path, zipstorage** out);
NnStatus ZipStorageOpenForRead(zipstorage* zip);
NnStatus ZipStorageListEntries(zipstorage* zip, std::vector<std::string>* names);
// Reads the entry into zip->buffer: 0 read, 1 not found, 2 failure. Entries
// larger than 256 MB are refused (2).
int ZipStorageReadEntry(zipstorage* zip, const char* entry, int reserved1, int reserved2);
void ZipStorageCloseReader(zipstorage* zip);
