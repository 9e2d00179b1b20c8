// Status texts, memory handles, settings, the log and the data directory.

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "nn/nn.h"

namespace {

std::string statusText(NnStatus s) {
  char buf[256];
  NnLoadStatusText(s, buf, sizeof buf);
  return buf;
}

std::string tempPath(const char* stem) {
  return std::string(::testing::TempDir()) + stem + std::to_string(::getpid());
}

TEST(RuntimeStatusText, EveryKnownStatusHasItsOwnText) {
  const NnStatus known[] = {NN_ERR_CATASTROPHIC, NN_ERR_MEMORY,       NN_ERR_ITEM_NOT_FOUND,
                            NN_ERR_NOTE_NOT_FOUND, NN_ERR_BAD_HANDLE, NN_ERR_NO_MORE,
                            NN_ERR_FILE_NOT_FOUND, NN_ERR_FILE_IO,    NN_ERR_DXL,
                            NN_ERR_BAD_ITEM,     NN_ERR_CD_STRUCTURE, NN_ERR_INVALID_ARG,
                            NN_ERR_READONLY_DONE, NN_ERR_FORMULA_SYNTAX, NN_ERR_FORMULA_EVAL,
                            NN_ERR_CHARSET,      NN_ERR_NOT_FOUND,    NN_ERR_FT_NO_MATCH,
                            20014, 20016, 20017, 20020};
  for (NnStatus s : known) {
    std::string text = statusText(s);
    EXPECT_FALSE(text.empty()) << s;
    EXPECT_EQ(text.find("Unknown"), std::string::npos) << s << ": " << text;
  }
  EXPECT_EQ(statusText(NN_ERR_MEMORY), "Insufficient memory");
}

TEST(RuntimeStatusText, HighBitsAreIgnoredAndUnknownIsNumbered) {
  EXPECT_EQ(statusText(NN_ERR_MEMORY | 0x4000), statusText(NN_ERR_MEMORY));
  EXPECT_EQ(statusText(NN_ERR_BAD_HANDLE | 0x8000), statusText(NN_ERR_BAD_HANDLE));
  EXPECT_EQ(statusText(999), "Unknown status 999");
}

TEST(RuntimeStatusText, CutToTheBuffer) {
  char buf[6];
  std::memset(buf, 'x', sizeof buf);
  EXPECT_EQ(NnLoadStatusText(NN_ERR_MEMORY, buf, 6), 5);
  EXPECT_STREQ(buf, "Insuf");
  char one[1] = {'x'};
  EXPECT_EQ(NnLoadStatusText(NN_ERR_MEMORY, one, 1), 0);
  EXPECT_EQ(one[0], '\0');
  EXPECT_EQ(NnLoadStatusText(NN_ERR_MEMORY, nullptr, 10), 0);
}

TEST(RuntimeMemory, AllocZeroFillsAndLocksNest) {
  size_t before = NnMemLiveCount();
  NnHandle h = 0;
  ASSERT_EQ(NnMemAlloc(100, NN_MEM_GROWABLE, &h), NN_OK);
  EXPECT_EQ(NnMemLiveCount(), before + 1);
  EXPECT_EQ(NnMemSize(h), 100u);
  auto* p = static_cast<uint8_t*>(NnMemLock(h));
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(p[i], 0) << i;
  std::memset(p, 0xAB, 100);
  EXPECT_EQ(NnMemLock(h), p);  // nested lock, same block
  EXPECT_EQ(NnMemUnlock(h), NN_OK);
  EXPECT_EQ(NnMemUnlock(h), NN_OK);
  EXPECT_EQ(NnMemFree(h), NN_OK);
  EXPECT_EQ(NnMemLiveCount(), before);
}

TEST(RuntimeMemory, FreedAndForeignHandlesAreRefused) {
  size_t before = NnMemLiveCount();
  NnHandle h = 0;
  ASSERT_EQ(NnMemAlloc(8, 0, &h), NN_OK);
  ASSERT_EQ(NnMemFree(h), NN_OK);
  EXPECT_EQ(NnMemLock(h), nullptr);
  EXPECT_EQ(NnMemFree(h), NN_ERR_BAD_HANDLE);
  EXPECT_EQ(NnMemUnlock(h), NN_ERR_BAD_HANDLE);
  EXPECT_EQ(NnMemRealloc(h, 16), NN_ERR_BAD_HANDLE);
  EXPECT_EQ(NnMemSize(h), 0u);
  // A new block never takes the freed number.
  NnHandle again = 0;
  ASSERT_EQ(NnMemAlloc(8, 0, &again), NN_OK);
  EXPECT_NE(again, h);
  EXPECT_EQ(NnMemLock(h), nullptr);
  EXPECT_EQ(NnMemFree(again), NN_OK);
  // Numbers of other kinds and nonsense.
  EXPECT_EQ(NnMemLock(0), nullptr);
  EXPECT_EQ(NnMemLock(0x02000001), nullptr);
  EXPECT_EQ(NnMemFree(0xFFFFFFFF), NN_ERR_BAD_HANDLE);
  EXPECT_EQ(NnMemLiveCount(), before);
}

TEST(RuntimeMemory, ZeroSizeAndAbsurdSizes) {
  NnHandle h = 0;
  ASSERT_EQ(NnMemAlloc(0, 0, &h), NN_OK);
  EXPECT_EQ(NnMemSize(h), 0u);
  EXPECT_NE(NnMemLock(h), nullptr);
  NnMemUnlock(h);
  NnHandle big = 0;
  EXPECT_EQ(NnMemAlloc(0xFFFFFFFFu, 0, &big), NN_ERR_MEMORY);
  EXPECT_EQ(NnMemAlloc(10, 0, nullptr), NN_ERR_INVALID_ARG);
  // A refused growth leaves the block as it was.
  EXPECT_EQ(NnMemRealloc(h, 0xFFFFFFFFu), NN_ERR_MEMORY);
  EXPECT_EQ(NnMemSize(h), 0u);
  EXPECT_EQ(NnMemFree(h), NN_OK);
}

TEST(RuntimeMemory, ReallocKeepsContentAndZeroFillsGrowth) {
  NnHandle h = 0;
  ASSERT_EQ(NnMemAlloc(4, 0, &h), NN_OK);
  std::memcpy(NnMemLock(h), "abcd", 4);
  NnMemUnlock(h);
  ASSERT_EQ(NnMemRealloc(h, 4000), NN_OK);
  EXPECT_EQ(NnMemSize(h), 4000u);
  auto* p = static_cast<uint8_t*>(NnMemLock(h));
  EXPECT_EQ(std::memcmp(p, "abcd", 4), 0);
  for (int i = 4; i < 4000; ++i) ASSERT_EQ(p[i], 0) << i;
  NnMemUnlock(h);
  ASSERT_EQ(NnMemRealloc(h, 2), NN_OK);
  p = static_cast<uint8_t*>(NnMemLock(h));
  EXPECT_EQ(std::memcmp(p, "ab", 2), 0);
  NnMemUnlock(h);
  EXPECT_EQ(NnMemFree(h), NN_OK);
}

class RuntimeSettings : public ::testing::Test {
 protected:
  void SetUp() override { NnIniClear(); }
  void TearDown() override {
    NnIniClear();
    if (!path_.empty()) std::remove(path_.c_str());
  }
  std::string writeFile(const std::string& content) {
    path_ = tempPath("kv_runtime_ini_");
    std::FILE* f = std::fopen(path_.c_str(), "wb");
    EXPECT_NE(f, nullptr);
    std::fwrite(content.data(), 1, content.size(), f);
    std::fclose(f);
    return path_;
  }
  std::string path_;
};

TEST_F(RuntimeSettings, NamesIgnoreCaseAndValuesCanBeRemoved) {
  NnIniSet("KestrelvaultDebug", "3");
  char buf[32];
  EXPECT_TRUE(NnIniGetText("KESTRELVAULTDEBUG", buf, sizeof buf));
  EXPECT_STREQ(buf, "3");
  EXPECT_EQ(NnIniGetNumber("kestrelvaultdebug"), 3);
  NnIniSet("kestrelvaultDEBUG", nullptr);
  EXPECT_FALSE(NnIniGetText("KestrelvaultDebug", buf, sizeof buf));
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(NnIniGetNumber("KestrelvaultDebug"), 0);
}

TEST_F(RuntimeSettings, NumbersTakeTheLeadingDigits) {
  NnIniSet("A", "-42abc");
  NnIniSet("B", "+7");
  NnIniSet("C", "x12");
  NnIniSet("D", "99999999999999999999999");
  NnIniSet("E", "");
  EXPECT_EQ(NnIniGetNumber("A"), -42);
  EXPECT_EQ(NnIniGetNumber("B"), 7);
  EXPECT_EQ(NnIniGetNumber("C"), 0);
  EXPECT_EQ(NnIniGetNumber("D"), LONG_MAX);
  EXPECT_EQ(NnIniGetNumber("E"), 0);
}

TEST_F(RuntimeSettings, TextIsCutToTheBuffer) {
  NnIniSet("Quillantor", "Twitter account");
  char buf[8];
  EXPECT_TRUE(NnIniGetText("quillantor", buf, sizeof buf));
  EXPECT_STREQ(buf, "Twitter");
}

TEST_F(RuntimeSettings, LoadsAFile) {
  std::string path = writeFile(
      "[Notes]\r\n"
      "; a comment=not a setting\n"
      "\n"
      "  IconPtSize  =14\r\n"
      "IconFont=Default Sans \r\n"
      "Empty=\n"
      "NoEquals\n"
      "=nameless\n"
      "Path=a=b\n"
      "Last=no newline");
  ASSERT_EQ(NnIniLoadFile(path.c_str()), NN_OK);
  char buf[64];
  EXPECT_EQ(NnIniGetNumber("iconptsize"), 14);
  ASSERT_TRUE(NnIniGetText("IconFont", buf, sizeof buf));
  EXPECT_STREQ(buf, "Default Sans ");  // the value as written, less the CR
  ASSERT_TRUE(NnIniGetText("Empty", buf, sizeof buf));
  EXPECT_STREQ(buf, "");
  ASSERT_TRUE(NnIniGetText("Path", buf, sizeof buf));
  EXPECT_STREQ(buf, "a=b");
  ASSERT_TRUE(NnIniGetText("Last", buf, sizeof buf));
  EXPECT_STREQ(buf, "no newline");
  EXPECT_FALSE(NnIniGetText("NoEquals", buf, sizeof buf));
  EXPECT_FALSE(NnIniGetText("; a comment", buf, sizeof buf));
  EXPECT_FALSE(NnIniGetText("[Notes]", buf, sizeof buf));
}

TEST_F(RuntimeSettings, MissingFileChangesNothing) {
  NnIniSet("Keep", "1");
  EXPECT_EQ(NnIniLoadFile("/nonexistent/kv/nn.ini"), NN_ERR_FILE_NOT_FOUND);
  EXPECT_EQ(NnIniLoadFile(nullptr), NN_ERR_INVALID_ARG);
  EXPECT_EQ(NnIniGetNumber("Keep"), 1);
}

TEST_F(RuntimeSettings, DataDirectoryFromSettingOrCurrentDirectory) {
  char buf[512];
  NnIniSet("Directory", "/srv/data///");
  NnGetDataDirectory(buf, sizeof buf);
  EXPECT_STREQ(buf, "/srv/data");
  NnGetDataDirectory(buf, 5);
  EXPECT_STREQ(buf, "/srv");
  NnIniSet("Directory", nullptr);
  NnGetDataDirectory(buf, sizeof buf);
  char cwd[512];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  std::string expected = cwd;
  if (expected.size() > 1 && expected.back() == '/') expected.pop_back();
  EXPECT_EQ(std::string(buf), expected);
}

TEST(RuntimeLog, CapturesLinesWithStatusText) {
  NnLogClear();
  NnLogMessage(0, "Kestrelvault inside new %s at %d in %s", "TorvoRTChunk", 12, "rtchunki");
  NnLogMessage(NN_ERR_MEMORY, "Zelko: Unable to allocate %lu bytes of memory", 70000UL);
  NnLogMessage(NN_ERR_CATASTROPHIC | 0x8000, "Catastrophic error");
  EXPECT_EQ(NnLogCaptured(),
            "Kestrelvault inside new TorvoRTChunk at 12 in rtchunki\n"
            "Zelko: Unable to allocate 70000 bytes of memory: Insufficient memory\n"
            "Catastrophic error: " + statusText(NN_ERR_CATASTROPHIC) + "\n");
  NnLogClear();
  EXPECT_EQ(NnLogCaptured(), "");
}

TEST(RuntimeLog, LongLinesAreKeptWhole) {
  NnLogClear();
  std::string longText(5000, 'z');
  NnLogMessage(0, "[%s]", longText.c_str());
  EXPECT_EQ(NnLogCaptured(), "[" + longText + "]\n");
  NnLogClear();
}

TEST(RuntimeLog, EchoGoesToStderr) {
  NnLogClear();
  ::testing::internal::CaptureStderr();
  NnLogSetEcho(true);
  NnLogMessage(0, "echoed %d", 1);
  NnLogSetEcho(false);
  NnLogMessage(0, "quiet");
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("echoed 1\n"), std::string::npos);
  const char* env = std::getenv("KV_LOG_ECHO");
  if (env == nullptr || std::strcmp(env, "1") != 0) {
    EXPECT_EQ(err.find("quiet"), std::string::npos);
  }
  EXPECT_EQ(NnLogCaptured(), "echoed 1\nquiet\n");
  NnLogClear();
}

}  // namespace
