#include <gtest/gtest.h>

#include <string>

#include "host/options.h"

namespace {

std::string Value(const char* options, const char* key) {
  char out[4096] = "untouched";
  return GetOptionValue(options, key, out) ? std::string(out) : std::string("<absent>");
}

TEST(OptionString, PlainValuesRunToTheNextBlank) {
  const char* opts = "HeadTag=<meta> AttachmentHandling=DISK\tIconPtSize=14";
  EXPECT_EQ(Value(opts, "HeadTag="), "<meta>");
  EXPECT_EQ(Value(opts, "AttachmentHandling="), "DISK");
  EXPECT_EQ(Value(opts, "IconPtSize="), "14");
  EXPECT_EQ(Value(opts, "Missing="), "<absent>");
  EXPECT_EQ(Value("Empty= Next=1", "Empty="), "");
  EXPECT_EQ(Value("Empty=", "Empty="), "");
}

TEST(OptionString, KeysMatchWithoutRegardToCase) {
  EXPECT_EQ(Value("iconfont=Arial", "IconFont="), "Arial");
  EXPECT_EQ(Value("ICONFONT=Arial", "iconfont="), "Arial");
  // The "=" belongs to the key: a longer key with the same start is another key.
  EXPECT_EQ(Value("IconFontSize=3", "IconFont="), "<absent>");
}

TEST(OptionString, BoundaryRule) {
  // Glued to a letter or digit: part of another key.
  EXPECT_EQ(Value("XIconFont=A", "IconFont="), "<absent>");
  EXPECT_EQ(Value("9IconFont=A", "IconFont="), "<absent>");
  // After a quote character: inside another value.
  EXPECT_EQ(Value("Opt='Key=inner' Key=outer", "Key="), "outer");
  EXPECT_EQ(Value("Opt=|Key=inner| ", "Key="), "<absent>");
  EXPECT_EQ(Value("~Key=1", "Key="), "<absent>");
  EXPECT_EQ(Value("\"Key=1", "Key="), "<absent>");
  // Punctuation and blanks are fine boundaries; the first good one wins.
  EXPECT_EQ(Value("a;Key=1 Key=2", "Key="), "1");
  EXPECT_EQ(Value("XKey=1 Key=2", "Key="), "2");
  EXPECT_EQ(Value("Key=1", "Key="), "1");
}

TEST(OptionString, QuotedValuesRunToTheSameQuote) {
  EXPECT_EQ(Value("Title='Hello world' X=1", "Title="), "Hello world");
  EXPECT_EQ(Value("Title=\"It's here\" X=1", "Title="), "It's here");
  EXPECT_EQ(Value("Title=|a 'b' \"c\"| X=1", "Title="), "a 'b' \"c\"");
  EXPECT_EQ(Value("Title=~x|y~", "Title="), "x|y");
  EXPECT_EQ(Value("Title='unterminated value", "Title="), "unterminated value");
  EXPECT_EQ(Value("Title=''", "Title="), "");
}

TEST(OptionString, NoKeyIsFoundInsideAQuotedValue) {
  // The blank before "Class=" inside the quotes is no boundary: the value is quoted.
  EXPECT_EQ(Value("Title='a Class=x' Class=y", "Class="), "y");
  EXPECT_EQ(Value("Title='a Class=x' Class=y", "Title="), "a Class=x");
  EXPECT_EQ(Value("Title=\"b Class=x\"", "Class="), "<absent>");
  EXPECT_EQ(Value("Title=|Text=in| Text=out", "Text="), "out");
  EXPECT_EQ(Value("A=~Key=1 ~ B='Key=2' Key=3", "Key="), "3");
  // An unclosed quoted value swallows the rest of the text.
  EXPECT_EQ(Value("Title='never closed Key=1", "Key="), "<absent>");
  // A quote that does not open a value leaves the scan as it was.
  EXPECT_EQ(Value("Text=It's Key=1", "Key="), "1");
  // Nor inside an unquoted one.
  EXPECT_EQ(Value("AltText=Attach=Yes", "Attach="), "<absent>");
  EXPECT_EQ(Value("URL=http://x/?a=b a=c", "a="), "c");
}

// A reader's keys, each once: another key, or a second value of one, would
// be dropped.
TEST(OptionString, KeysAmongTheReadersOnce) {
  EXPECT_TRUE(OptionKeysAmong("Width=2in CellHTMLID='a b'", {"Width", "CellHTMLID"}));
  EXPECT_TRUE(OptionKeysAmong("", {"Width"}));
  EXPECT_FALSE(OptionKeysAmong("Wide=2in", {"Width"}));
  EXPECT_FALSE(OptionKeysAmong("Width=2in width=3in", {"Width"}));
  EXPECT_FALSE(OptionKeysAmong("Width", {"Width"}));
}

// A cut value is counted, for the call that read it to refuse; the whole
// value is there for the readers that take it whole.
TEST(OptionString, ValueIsCutAtTheMaximum) {
  std::string opts = "Big=" + std::string(5000, 'v') + " After=1";
  char out[4096];
  const uint64_t cut = OptionValuesCut();
  ASSERT_TRUE(GetOptionValue(opts.c_str(), "Big=", out));
  EXPECT_EQ(std::string(out).size(), 4095u);
  EXPECT_EQ(OptionValuesCut(), cut + 1);
  ASSERT_TRUE(GetOptionValue(opts.c_str(), "After=", out));
  EXPECT_EQ(OptionValuesCut(), cut + 1);
  std::string whole;
  ASSERT_TRUE(GetOptionValueString(opts.c_str(), "Big=", &whole));
  EXPECT_EQ(whole, std::string(5000, 'v'));
  EXPECT_FALSE(GetOptionValueString(opts.c_str(), "Small=", &whole));
  char small[8];
  ASSERT_TRUE(GetOptionValueN("Name='Times New Roman'", "Name=", small, 7));
  EXPECT_STREQ(small, "Times N");
  char none[1];
  ASSERT_TRUE(GetOptionValueN("Name=abc", "Name=", none, 0));
  EXPECT_STREQ(none, "");
}

TEST(OptionString, NullSafeAndAbsentLeavesOutput) {
  char out[16] = "default";
  EXPECT_EQ(GetOptionValue(nullptr, "Key=", out), 0);
  EXPECT_EQ(GetOptionValue("Key=1", nullptr, out), 0);
  EXPECT_EQ(GetOptionValue("Key=1", "", out), 0);
  EXPECT_EQ(GetOptionValue("Other=1", "Key=", out), 0);
  EXPECT_STREQ(out, "default");
  EXPECT_NE(GetOptionValue("Key=1", "Key=", nullptr), 0);
}

TEST(StrIStrTest, FindsWithoutCase) {
  const char* text = "Hello World";
  EXPECT_EQ(StrIStr(text, "WORLD"), text + 6);
  EXPECT_EQ(StrIStr(text, "xyz"), nullptr);
  EXPECT_EQ(StrIStr("", "a"), nullptr);
  EXPECT_EQ(StrIStr(nullptr, "a"), nullptr);
  EXPECT_EQ(StrIStr(text, nullptr), nullptr);
  EXPECT_EQ(StrIStr("ab", "abc"), nullptr);
}

}  // namespace
