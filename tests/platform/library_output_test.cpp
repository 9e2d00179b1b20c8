// The library prints nothing on the caller's standard output or error: what
// libxml2 would report goes to the platform log.
#include <gtest/gtest.h>
#include <unistd.h>

#include <libxml/globals.h>

#include <cstdio>
#include <string>
#include <vector>

#include "host/pool.h"
#include "lsxsessi.h"
#include "nn/nn.h"
#include "rtchunk.h"
#include "rtitem.h"
#include "support/testutil.h"

namespace {

// Captures what the process writes on file descriptors 1 and 2 meanwhile.
class CaptureOutput {
 public:
  CaptureOutput() {
    std::fflush(stdout);
    std::fflush(stderr);
    dir_ = kvtest::MakeTempDir();
    for (int fd : {1, 2}) {
      saved_[fd - 1] = dup(fd);
      std::FILE* f = std::fopen((dir_ + "/fd" + std::to_string(fd)).c_str(), "w");
      dup2(fileno(f), fd);
      std::fclose(f);
    }
  }
  // Restores the descriptors and gives what was written on both.
  std::string Finish() {
    std::fflush(stdout);
    std::fflush(stderr);
    for (int fd : {1, 2}) {
      dup2(saved_[fd - 1], fd);
      close(saved_[fd - 1]);
    }
    std::string text = kvtest::ReadFile(dir_ + "/fd1") + kvtest::ReadFile(dir_ + "/fd2");
    kvtest::RemoveTree(dir_);
    return text;
  }

 private:
  std::string dir_;
  int saved_[2] = {-1, -1};
};

// A file whose declared encoding cannot read its bytes: libxml2's converter
// reports "input conversion failed".
const char kBadEncoding[] =
    "<?xml version='1.0' encoding='windows-1252'?>\n"
    "<note class='document'><item name='A'><text>x\x81\x8d\x90y</text></item></note>\n";

TEST(LibraryOutput, ADamagedDxlFileIsReportedInTheLogOnly) {
  std::string dir = kvtest::MakeTempDir();
  std::string path = dir + "/damaged.dxl";
  kvtest::WriteFile(path, kBadEncoding);
  NnLogClear();
  CaptureOutput capture;
  NnHandle db = 0;
  NnStatus st = NnDbOpen(path.c_str(), 0, &db);
  std::string printed = capture.Finish();
  EXPECT_NE(st, NN_OK);
  EXPECT_EQ(printed, "");
  EXPECT_NE(NnLogCaptured().find("libxml2: input conversion failed"), std::string::npos) << NnLogCaptured();
  EXPECT_NE(NnDbLastLoadError(), "");
  if (st == NN_OK) NnDbClose(db);
  kvtest::RemoveTree(dir);
}

TEST(LibraryOutput, TheCallersOwnLibxmlHandlersComeBack) {
  // After a load the process's libxml2 error handling is what it was: the
  // default handler writes to stderr again.
  std::string dir = kvtest::MakeTempDir();
  std::string path = dir + "/damaged.dxl";
  kvtest::WriteFile(path, kBadEncoding);
  NnHandle db = 0;
  EXPECT_NE(NnDbOpen(path.c_str(), 0, &db), NN_OK);
  CaptureOutput capture;
  xmlGenericError(xmlGenericErrorContext, "caller's own message\n");
  EXPECT_EQ(capture.Finish(), "caller's own message\n");
  kvtest::RemoveTree(dir);
}

TEST(LibraryOutput, KveditPrintsOneLineForADamagedFile) {
  std::string dir = kvtest::MakeTempDir();
  std::string path = dir + "/damaged.dxl";
  kvtest::WriteFile(path, kBadEncoding);
  kvtest::CommandResult r = kvtest::RunCommand({kvtest::KveditPath(), "info", path});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(kvtest::SplitLines(r.err).size(), 1u) << r.err;
  EXPECT_EQ(r.err.find("encoding error"), std::string::npos) << r.err;
  kvtest::RemoveTree(dir);
}

// Rendering real forms (passthru HTML, hotspots, tables) as HTML and XHTML
// prints nothing either.
TEST(LibraryOutput, RenderingPrintsNothing) {
  std::string corpus = kvtest::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "corpus absent";
  std::vector<std::string> files = kvtest::FilesBelow(corpus + "/dxl/jnx/testDbDesignForms");
  if (files.empty()) GTEST_SKIP() << "no forms in the corpus";
  files.push_back(std::string(KV_SOURCE_DIR) + "/examples/sample.dxl");
  size_t pages = 0;
  CaptureOutput capture;
  for (const std::string& file : files) {
    NnHandle db = 0;
    if (NnDbOpen(file.c_str(), 0, &db) != NN_OK) continue;
    NOTEID id = 0;
    NnHandle note = 0;
    if (NnDbNoteIdAt(db, 0, &id) == NN_OK && NnNoteOpen(db, id, 0, &note) == NN_OK) {
      for (const char* name : {"$Body", "Body"}) {
        LSXLsiSession session;
        TorvoRTItem item(&session);
        if (item.ConnectBackend(db, note, name) != NN_OK) continue;
        TorvoRTChunk* all = item.DefineChunk("");
        for (bool xhtml : {false, true}) {
          char* page = nullptr;
          uint32_t length = 0;
          NnStatus st = xhtml ? all->GenerateXML(nullptr, "", &page, &length)
                              : all->GenerateHTML(nullptr, "", &page, &length);
          if (st == NN_OK && page) ++pages;
          if (page) PoolFree(&session, page);
        }
        delete all;
      }
      NnNoteClose(note);
    }
    NnDbClose(db);
  }
  EXPECT_EQ(capture.Finish(), "");
  EXPECT_GT(pages, 0u);
}

// The separator of `kvedit text --all` arrives whole, controls included.
TEST(LibraryOutput, KveditTextKeepsAControlSeparator) {
  std::string sample = std::string(KV_SOURCE_DIR) + "/examples/sample.dxl";
  kvtest::CommandResult r = kvtest::RunCommand(
      {kvtest::KveditPath(), "text", sample, "--all", "--sep", "\x1f", "Table 1"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "Name\x1fValue\x1f" "Colour\x1fRed\n");
}

}  // namespace
