// Directory creation and whole-file writes in a temporary directory.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "host/fileops.h"

using namespace kv;
namespace fs = std::filesystem;

namespace {

class FileOps : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "fileops_XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    root_ = tmpl;
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  std::string root_;
};

std::string ReadAll(const std::string& p) {
  std::ifstream f(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

}  // namespace

TEST_F(FileOps, MakesEveryLevelWithEitherSeparator) {
  std::string p = root_ + "\\a/b\\c";
  EXPECT_NE(MakeDirectoryPath(p.c_str()), 0);
  EXPECT_TRUE(fs::is_directory(root_ + "/a/b/c"));
  // Existing directories, and a trailing separator, are fine.
  EXPECT_NE(MakeDirectoryPath((root_ + "/a/b/c/").c_str()), 0);
  EXPECT_NE(MakeDirectoryPath((root_ + "//a//d\\\\").c_str()), 0);
  EXPECT_TRUE(fs::is_directory(root_ + "/a/d"));
}

TEST_F(FileOps, RefusesBadPaths) {
  EXPECT_EQ(MakeDirectoryPath(nullptr), 0);
  EXPECT_EQ(MakeDirectoryPath(""), 0);
  // A file in the way of a level.
  std::ofstream(root_ + "/file") << "x";
  EXPECT_EQ(MakeDirectoryPath((root_ + "/file").c_str()), 0);
  EXPECT_EQ(MakeDirectoryPath((root_ + "/file/sub").c_str()), 0);
  // Over 256 characters fails and creates nothing; 256 itself is allowed.
  std::string base = root_ + "/long/";
  std::string longPath = base + std::string(257 - base.size(), 'x');
  ASSERT_EQ(longPath.size(), 257u);
  EXPECT_EQ(MakeDirectoryPath(longPath.c_str()), 0);
  EXPECT_FALSE(fs::exists(root_ + "/long"));
  longPath.pop_back();
  if (fs::path(longPath).filename().string().size() < 255) {
    EXPECT_NE(MakeDirectoryPath(longPath.c_str()), 0);
  }
}

TEST_F(FileOps, WritesTruncatesAndFails) {
  std::string p = root_ + "/out.bin";
  const char data[] = {'a', '\0', '\r', '\n', 'b'};
  ASSERT_EQ(WriteBufferToFile(p.c_str(), data, sizeof data), NN_OK);
  EXPECT_EQ(ReadAll(p), std::string(data, sizeof data));
  // A shorter write truncates the old content.
  ASSERT_EQ(WriteBufferToFile(p.c_str(), "xy", 2), NN_OK);
  EXPECT_EQ(ReadAll(p), "xy");
  ASSERT_EQ(WriteBufferToFile(p.c_str(), nullptr, 0), NN_OK);
  EXPECT_EQ(fs::file_size(p), 0u);
  EXPECT_EQ(WriteBufferToFile((root_ + "/missing/dir/f").c_str(), "x", 1), NN_ERR_INVALID_ARG);
  EXPECT_EQ(WriteBufferToFile(root_.c_str(), "x", 1), NN_ERR_INVALID_ARG);
  EXPECT_EQ(WriteBufferToFile(nullptr, "x", 1), NN_ERR_INVALID_ARG);
  EXPECT_EQ(WriteBufferToFile(p.c_str(), nullptr, 3), NN_ERR_INVALID_ARG);
}
