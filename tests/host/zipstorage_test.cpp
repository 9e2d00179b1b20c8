// Zip archives built in memory and read back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/zip/zipstor.h"
#include "support/testutil.h"

namespace {

TEST(ZipStorage, EntriesWrittenInPiecesReadBackStoredOrDeflated) {
  zipstorage zip(nullptr);
  std::string big(100000, 'z');
  ASSERT_EQ(ZipStorageAddEntry(&zip, "mimetype", "application/epub+zip", 20, 1, 1, 1), NN_OK);
  ASSERT_EQ(ZipStorageAddEntry(&zip, "OEBPS/page.html", "<p>", 3, 1, 0, 0), NN_OK);
  ASSERT_EQ(ZipStorageAddEntry(&zip, nullptr, big.data(), uint32_t(big.size()), 0, 1, 0), NN_OK);
  ASSERT_EQ(ZipStorageFinish(&zip), NN_OK);
  EXPECT_LT(zip.archive.size(), 2000u) << "the repeated text is deflated";

  std::string dir = kvtest::MakeTempDir();
  std::string path = dir + "/book.zip";
  ASSERT_EQ(ZipStorageSaveFile(&zip, path.c_str()), NN_OK);
  zipstorage* loaded = nullptr;
  ASSERT_EQ(ZipStorageLoadFile(nullptr, path.c_str(), &loaded), NN_OK);
  std::vector<std::string> names;
  ASSERT_EQ(ZipStorageListEntries(loaded, &names), NN_OK);
  EXPECT_EQ(names, (std::vector<std::string>{"mimetype", "OEBPS/page.html"}));
  ASSERT_EQ(ZipStorageReadEntry(loaded, "mimetype", 1, 1), 0);
  EXPECT_EQ(std::string(loaded->buffer.begin(), loaded->buffer.end()), "application/epub+zip");
  ASSERT_EQ(ZipStorageReadEntry(loaded, "OEBPS/page.html", 1, 1), 0);
  EXPECT_EQ(std::string(loaded->buffer.begin(), loaded->buffer.end()), "<p>" + big);
  EXPECT_EQ(ZipStorageReadEntry(loaded, "missing", 1, 1), 1);
  ZipStorageCloseReader(loaded);
  delete loaded;
  kvtest::RemoveTree(dir);
}

TEST(ZipStorage, DamagedArchivesAreRefused) {
  zipstorage zip(nullptr);
  ASSERT_EQ(ZipStorageAddEntry(&zip, "a.txt", "hello hello hello", 17, 1, 1, 0), NN_OK);
  ASSERT_EQ(ZipStorageFinish(&zip), NN_OK);
  // Flip a byte of the compressed data: the read fails its check.
  zipstorage damaged(nullptr);
  damaged.archive = zip.archive;
  damaged.archive[40] ^= 0xFF;
  int rc = ZipStorageReadEntry(&damaged, "a.txt", 1, 1);
  EXPECT_EQ(rc, 2);
  EXPECT_TRUE(damaged.buffer.empty());
  zipstorage garbage(nullptr);
  garbage.archive.assign(100, 0x41);
  std::vector<std::string> names;
  EXPECT_NE(ZipStorageListEntries(&garbage, &names), NN_OK);
  EXPECT_EQ(ZipStorageAddEntry(&zip, "", "x", 1, 1, 1, 0), NN_ERR_INVALID_ARG);
}

}  // namespace
