// kvedit render: the example to HTML and XHTML, to a file and to stdout.
#include <gtest/gtest.h>
#include <libxml/parser.h>

#include <string>

#include "support/testutil.h"

namespace {

using kvtest::KveditPath;
using kvtest::RunCommand;

std::string Example() { return std::string(KV_SOURCE_DIR) + "/examples/sample.dxl"; }

TEST(KveditRender, ExampleToStdoutAsHtml) {
  auto r = RunCommand({KveditPath(), "render", Example(), "--options", "UsePTags=Yes"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out.rfind("<!DOCTYPE html>", 0), 0u);
  EXPECT_NE(r.out.find("<title>A sample document</title>"), std::string::npos);
  EXPECT_NE(r.out.find("<p "), std::string::npos) << "the options reach the renderer";
  EXPECT_NE(r.out.find("</html>"), std::string::npos);
  EXPECT_NE(r.out.find("A sample document"), std::string::npos);
}

TEST(KveditRender, XhtmlToAFileParsesAsXml) {
  std::string dir = kvtest::MakeTempDir();
  std::string out = dir + "/page.xhtml";
  auto r = RunCommand({KveditPath(), "render", Example(), "--xhtml", "--out", out});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(r.out.empty());
  std::string page = kvtest::ReadFile(out);
  xmlDoc* doc = xmlReadMemory(page.data(), int(page.size()), "page.xhtml", nullptr,
                              XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  EXPECT_NE(doc, nullptr) << page.substr(0, 400);
  if (doc) xmlFreeDoc(doc);
  kvtest::RemoveTree(dir);
}

TEST(KveditRender, InputErrorsGiveOneLineAndStatusTwo) {
  auto missing = RunCommand({KveditPath(), "render", "/nonexistent/file.dxl"});
  EXPECT_EQ(missing.exitCode, 2);
  auto noItem = RunCommand({KveditPath(), "render", Example(), "--item", "NoSuchItem"});
  EXPECT_EQ(noItem.exitCode, 2);
  EXPECT_EQ(kvtest::SplitLines(noItem.err).size(), 1u) << noItem.err;
  auto badOut = RunCommand({KveditPath(), "render", Example(), "--out", "/nonexistent/dir/x.html"});
  EXPECT_EQ(badOut.exitCode, 2);
  auto usage = RunCommand({KveditPath(), "render"});
  EXPECT_EQ(usage.exitCode, 1);
}

}  // namespace
