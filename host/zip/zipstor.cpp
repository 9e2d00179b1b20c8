#include "host/zip/zipstor.h"

#include <unzip.h>
#include <zip.h>

#include <cstring>
#include <fstream>
#include <iterator>

namespace {

constexpr uLong kMaxEntrySize = 256u << 20;

}  // namespace

// A read/write stream over the storage's archive bytes.
struct zipstorage::Stream {
  std::vector<uint8_t>* data = nullptr;
  size_t pos = 0;
  bool failed = false;
};

namespace {

voidpf ZCALLBACK MemOpen(voidpf opaque, const void*, int mode) {
  auto* s = static_cast<zipstorage::Stream*>(opaque);
  if (mode & ZLIB_FILEFUNC_MODE_CREATE) s->data->clear();
  s->pos = 0;
  s->failed = false;
  return s;
}

uLong ZCALLBACK MemRead(voidpf, voidpf stream, void* buf, uLong size) {
  auto* s = static_cast<zipstorage::Stream*>(stream);
  if (s->pos >= s->data->size()) return 0;
  uLong n = uLong(std::min<size_t>(size, s->data->size() - s->pos));
  std::memcpy(buf, s->data->data() + s->pos, n);
  s->pos += n;
  return n;
}

uLong ZCALLBACK MemWrite(voidpf, voidpf stream, const void* buf, uLong size) {
  auto* s = static_cast<zipstorage::Stream*>(stream);
  if (s->pos + size > s->data->size()) s->data->resize(s->pos + size);
  std::memcpy(s->data->data() + s->pos, buf, size);
  s->pos += size;
  return size;
}

ZPOS64_T ZCALLBACK MemTell(voidpf, voidpf stream) {
  return static_cast<zipstorage::Stream*>(stream)->pos;
}

long ZCALLBACK MemSeek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
  auto* s = static_cast<zipstorage::Stream*>(stream);
  ZPOS64_T base = origin == ZLIB_FILEFUNC_SEEK_SET ? 0
                  : origin == ZLIB_FILEFUNC_SEEK_CUR ? s->pos
                                                     : s->data->size();
  ZPOS64_T target = base + offset;
  if (target > s->data->size()) return -1;
  s->pos = size_t(target);
  return 0;
}

int ZCALLBACK MemClose(voidpf, voidpf) { return 0; }
int ZCALLBACK MemError(voidpf, voidpf stream) {
  return static_cast<zipstorage::Stream*>(stream)->failed ? 1 : 0;
}

zlib_filefunc64_def MemoryFunctions(zipstorage::Stream* s) {
  zlib_filefunc64_def f{};
  f.zopen64_file = MemOpen;
  f.zread_file = MemRead;
  f.zwrite_file = MemWrite;
  f.ztell64_file = MemTell;
  f.zseek64_file = MemSeek;
  f.zclose_file = MemClose;
  f.zerror_file = MemError;
  f.opaque = s;
  return f;
}

zipstorage::Stream* StreamOf(zipstorage* zip) {
  if (!zip->stream) {
    zip->stream = new zipstorage::Stream();
    zip->stream->data = &zip->archive;
  }
  return zip->stream;
}

}  // namespace

zipstorage::zipstorage(LSXLsiSession* s) : session(s) {}

zipstorage::~zipstorage() {
  if (writer) zipClose(static_cast<zipFile>(writer), nullptr);
  ZipStorageCloseReader(this);
  delete stream;
}

NnStatus ZipStorageAddEntry(zipstorage* zip, const char* name, const void* data, uint32_t length,
                            int open, int close, int store) {
  if (!zip || (open && (!name || !*name)) || (length && !data)) return NN_ERR_INVALID_ARG;
  if (zip->reader) return NN_ERR_INVALID_ARG;
  if (!zip->writer) {
    zlib_filefunc64_def f = MemoryFunctions(StreamOf(zip));
    zip->writer = zipOpen2_64("memory", APPEND_STATUS_CREATE, nullptr, &f);
    if (!zip->writer) return NN_ERR_FILE_IO;
  }
  zipFile zf = static_cast<zipFile>(zip->writer);
  if (open) {
    if (!zip->currentEntry.empty()) zipCloseFileInZip(zf);
    zip_fileinfo info{};
    if (zipOpenNewFileInZip64(zf, name, &info, nullptr, 0, nullptr, 0, nullptr,
                              store ? 0 : Z_DEFLATED, store ? 0 : Z_DEFAULT_COMPRESSION,
                              length >= 0xFFFFFFFFu) != ZIP_OK)
      return NN_ERR_FILE_IO;
    zip->currentEntry = name;
  }
  if (zip->currentEntry.empty()) return NN_ERR_INVALID_ARG;
  if (length && zipWriteInFileInZip(zf, data, length) != ZIP_OK) return NN_ERR_FILE_IO;
  if (close) {
    zipCloseFileInZip(zf);
    zip->currentEntry.clear();
  }
  return NN_OK;
}

NnStatus ZipStorageFinish(zipstorage* zip) {
  if (!zip) return NN_ERR_INVALID_ARG;
  if (!zip->writer) return NN_OK;
  zipFile zf = static_cast<zipFile>(zip->writer);
  if (!zip->currentEntry.empty()) zipCloseFileInZip(zf);
  zip->currentEntry.clear();
  int rc = zipClose(zf, nullptr);
  zip->writer = nullptr;
  return rc == ZIP_OK ? NN_OK : NN_ERR_FILE_IO;
}

NnStatus ZipStorageSaveFile(zipstorage* zip, const char* path) {
  if (!zip || !path) return NN_ERR_INVALID_ARG;
  NnStatus st = ZipStorageFinish(zip);
  if (st) return st;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(zip->archive.data()), std::streamsize(zip->archive.size()));
  if (!out) return NN_ERR_FILE_IO;
  zip->fileName = path;
  return NN_OK;
}

NnStatus ZipStorageLoadFile(LSXLsiSession* session, const char* path, zipstorage** out) {
  if (!path || !out) return NN_ERR_INVALID_ARG;
  std::ifstream in(path, std::ios::binary);
  if (!in) return NN_ERR_FILE_NOT_FOUND;
  auto* zip = new zipstorage(session);
  zip->archive.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  zip->fileName = path;
  *out = zip;
  return NN_OK;
}

NnStatus ZipStorageOpenForRead(zipstorage* zip) {
  if (!zip || zip->writer) return NN_ERR_INVALID_ARG;
  if (zip->reader) return NN_OK;
  zlib_filefunc64_def f = MemoryFunctions(StreamOf(zip));
  zip->reader = unzOpen2_64("memory", &f);
  return zip->reader ? NN_OK : NN_ERR_FILE_IO;
}

NnStatus ZipStorageListEntries(zipstorage* zip, std::vector<std::string>* names) {
  if (!zip || !names) return NN_ERR_INVALID_ARG;
  NnStatus st = ZipStorageOpenForRead(zip);
  if (st) return st;
  unzFile uf = static_cast<unzFile>(zip->reader);
  names->clear();
  for (int rc = unzGoToFirstFile(uf); rc == UNZ_OK; rc = unzGoToNextFile(uf)) {
    char name[1024];
    unz_file_info64 info;
    if (unzGetCurrentFileInfo64(uf, &info, name, sizeof name, nullptr, 0, nullptr, 0) != UNZ_OK)
      return NN_ERR_FILE_IO;
    names->push_back(name);
  }
  return NN_OK;
}

int ZipStorageReadEntry(zipstorage* zip, const char* entry, int, int) {
  if (!zip || !entry) return 2;
  if (ZipStorageOpenForRead(zip) != NN_OK) return 2;
  unzFile uf = static_cast<unzFile>(zip->reader);
  if (unzLocateFile(uf, entry, 0) != UNZ_OK) return 1;
  unz_file_info64 info;
  if (unzGetCurrentFileInfo64(uf, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) return 2;
  if (info.uncompressed_size > kMaxEntrySize) return 2;
  if (unzOpenCurrentFile(uf) != UNZ_OK) return 2;
  zip->buffer.resize(size_t(info.uncompressed_size));
  size_t got = 0;
  while (got < zip->buffer.size()) {
    int n = unzReadCurrentFile(uf, zip->buffer.data() + got, unsigned(zip->buffer.size() - got));
    if (n <= 0) break;
    got += size_t(n);
  }
  int closeRc = unzCloseCurrentFile(uf);  // checks the CRC
  if (got != zip->buffer.size() || closeRc != UNZ_OK) {
    zip->buffer.clear();
    return 2;
  }
  return 0;
}

void ZipStorageCloseReader(zipstorage* zip) {
  if (zip && zip->reader) {
    unzClose(static_cast<unzFile>(zip->reader));
    zip->reader = nullptr;
  }
}
