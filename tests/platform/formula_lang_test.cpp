// The formula language: compile errors, functions, list rules, item reads and
// the typed result blocks.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "nn/nn.h"

namespace {

struct Compiled {
  NnStatus status = 0;
  uint16_t offset = 0, length = 0;
};

Compiled compile(const std::string& text) {
  Compiled c;
  NnHandle h = 0;
  uint16_t len = 0;
  c.status = NnFormulaCompile(text.data(), uint16_t(text.size()), &h, &len, &c.offset, &c.length);
  if (c.status == NN_OK) {
    EXPECT_NE(h, 0u);
    EXPECT_EQ(len, text.size());
    NnMemFree(h);
  } else {
    EXPECT_EQ(h, 0u);
  }
  return c;
}

// Compiles and runs a formula; the result block (type word first) or empty on failure.
std::vector<uint8_t> run(const std::string& text, NnHandle hNote = 0, NnStatus* status = nullptr) {
  NnHandle hFormula = 0;
  uint16_t len = 0;
  NnStatus st = NnFormulaCompile(text.data(), uint16_t(text.size()), &hFormula, &len, nullptr,
                                 nullptr);
  EXPECT_EQ(st, NN_OK) << text;
  if (st != NN_OK) return {};
  NnHandle hCompute = 0;
  st = NnComputeStart(NnMemLock(hFormula), &hCompute);
  NnMemUnlock(hFormula);
  NnMemFree(hFormula);
  EXPECT_EQ(st, NN_OK) << text;
  if (st != NN_OK) return {};
  NnHandle hResult = 0;
  uint32_t resultLen = 0;
  st = NnComputeEvaluate(hCompute, hNote, &hResult, &resultLen);
  EXPECT_EQ(NnComputeStop(hCompute), NN_OK);
  if (status)
    *status = st;
  else
    EXPECT_EQ(st, NN_OK) << text;
  if (st != NN_OK) {
    EXPECT_EQ(hResult, 0u);
    return {};
  }
  EXPECT_EQ(NnMemSize(hResult), resultLen);
  const auto* p = static_cast<const uint8_t*>(NnMemLock(hResult));
  std::vector<uint8_t> out(p, p + resultLen);
  NnMemUnlock(hResult);
  NnMemFree(hResult);
  return out;
}

NnStatus runStatus(const std::string& text) {
  NnStatus st = NN_OK;
  run(text, 0, &st);
  return st;
}

uint16_t u16(const std::vector<uint8_t>& b, size_t at) { return uint16_t(b[at] | (b[at + 1] << 8)); }
uint32_t u32(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t(u16(b, at)) | (uint32_t(u16(b, at + 2)) << 16);
}
double f64(const std::vector<uint8_t>& b, size_t at) {
  double x;
  std::memcpy(&x, b.data() + at, 8);
  return x;
}
uint16_t type(const std::vector<uint8_t>& b) { return b.size() >= 2 ? u16(b, 0) : 0; }

// Renders a result for comparison: texts as is, numbers "%g", times by their text,
// list entries joined with ";".
std::string show(const std::vector<uint8_t>& b) {
  if (b.size() < 2) return "<none>";
  std::string out;
  auto num = [&](double x) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%g", x);
    return std::string(buf);
  };
  auto time = [&](size_t at) {
    tagTIMEDATE td{{u32(b, at), u32(b, at + 4)}};
    char buf[80];
    NnTimeToText(&td, buf, sizeof buf, nullptr);
    return std::string(buf);
  };
  switch (type(b)) {
    case NN_TYPE_TEXT:
      return std::string(b.begin() + 2, b.end());
    case NN_TYPE_TEXT_LIST: {
      const uint16_t n = u16(b, 2);
      size_t off = 4 + 2u * n;
      for (uint16_t i = 0; i < n; ++i) {
        const uint16_t l = u16(b, 4 + 2 * i);
        out += (i ? ";" : "") + std::string(b.begin() + long(off), b.begin() + long(off + l));
        off += l;
      }
      EXPECT_EQ(off, b.size());
      return out;
    }
    case NN_TYPE_NUMBER:
      EXPECT_EQ(b.size(), 10u);
      return num(f64(b, 2));
    case NN_TYPE_NUMBER_RANGE: {
      const uint16_t n = u16(b, 2);
      EXPECT_EQ(u16(b, 4), 0);
      EXPECT_EQ(b.size(), 6u + 8u * n);
      for (uint16_t i = 0; i < n; ++i) out += (i ? ";" : "") + num(f64(b, 6 + 8 * i));
      return out;
    }
    case NN_TYPE_TIME:
      EXPECT_EQ(b.size(), 10u);
      return time(2);
    case NN_TYPE_TIME_RANGE: {
      const uint16_t n = u16(b, 2);
      EXPECT_EQ(b.size(), 6u + 8u * n);
      for (uint16_t i = 0; i < n; ++i) out += (i ? ";" : "") + time(6 + 8 * i);
      return out;
    }
  }
  return "<type>";
}

std::string eval(const std::string& text, NnHandle hNote = 0) { return show(run(text, hNote)); }

TEST(FormulaCompile, SyntaxErrorsGivePositions) {
  struct Case {
    const char* text;
    uint16_t offset, length;
  } cases[] = {
      {"1 +", 3, 0},                  // ends early
      {"\"abc", 0, 4},                // unterminated string
      {"{abc", 0, 4},                 // unterminated braces
      {"a b", 2, 1},                  // two operands
      {"@Nope(FIELD 1)", 12, 1},      // not an assignment
      {"x := @Left(\"a\")", 5, 5},    // wrong argument count
      {"@If(1; 2)", 0, 3},            // @If needs an odd count
      {"(1 + 2", 6, 0},               // missing ")"
      {"1 + )", 4, 1},
      {"FIELD x = 1", 8, 1},          // FIELD assigns
      {"12abc", 0, 5},
      {"1 # 2", 2, 1},
      {"a := 1; b :=", 12, 0},
      {"@", 0, 1},
  };
  for (const Case& c : cases) {
    const Compiled r = compile(c.text);
    EXPECT_EQ(r.status, NN_ERR_FORMULA_SYNTAX) << c.text;
    EXPECT_EQ(r.offset, c.offset) << c.text;
    EXPECT_EQ(r.length, c.length) << c.text;
  }
  // A NUL inside the text cannot be part of a formula.
  const std::string withNul("\"a\0b\"", 5);
  EXPECT_EQ(compile(withNul).status, NN_ERR_FORMULA_SYNTAX);
  // Nor another control character, even inside a string: its compiled form
  // would read back as a binary formula. Tabs and line ends are layout.
  const Compiled control = compile("\"Crea\x17te\"");
  EXPECT_EQ(control.status, NN_ERR_FORMULA_SYNTAX);
  EXPECT_EQ(control.offset, 5);
  EXPECT_EQ(control.length, 1);
  EXPECT_EQ(compile("\"a\tb\"\r\n+ \"c\"").status, NN_OK);
}

TEST(FormulaCompile, AcceptsTheLanguage) {
  for (const char* ok :
       {"", "   ", "1", "\"a\\\"b\\\\\"", "{x\"y}", "Form = \"Memo\"", "a := 1; b := a + 1; b;",
        "@if(1; 2; 3)", "@TRUE", "@True()", "@Command([FileSave]; \"x\")", "REM \"note\"; 1",
        "SELECT @All", "-1 : 2", "!(a != b) & c <> d | e <= f", "$Title", "x.y_z$1 >= 2.5",
        "@Date(2020; 1; 2)", "@Date(@Now)", "@StatusBar(\"hi\")",
        // Functions not evaluated here, and the keywords that write, compile too.
        "@UserName", "@DbName", "@IsNewDoc", "@Subject", "@Do(x := 1; FIELD y := 2)",
        "@For(n := 1; n <= 3; n := n + 1; x)", "FIELD Status := \"Done\"; @Command([FileSave])",
        "@DbLookup(\"\":\"NoCache\"; \"\"; \"People\"; Name; 2)"}) {
    EXPECT_EQ(compile(ok).status, NN_OK) << ok;
  }
}

TEST(FormulaCompile, ToTextIsExact) {
  const std::string src = "  @If( Form = \"A\" ; {b} ; \"c\\\"\" )  ; REM \"x\"";
  NnHandle h = 0;
  uint16_t len = 0;
  ASSERT_EQ(NnFormulaCompile(src.data(), uint16_t(src.size()), &h, &len, nullptr, nullptr), NN_OK);
  const void* compiled = NnMemLock(h);
  NnHandle hText = 0;
  uint16_t textLen = 0;
  ASSERT_EQ(NnFormulaToText(compiled, len, &hText, &textLen), NN_OK);
  ASSERT_EQ(textLen, src.size());
  EXPECT_EQ(std::string(static_cast<const char*>(NnMemLock(hText)), textLen), src);
  NnMemUnlock(hText);
  NnMemFree(hText);
  NnMemUnlock(h);
  NnMemFree(h);
}

TEST(FormulaCompile, ForeignCompiledFormulasHaveNoText) {
  // A formula compiled by another platform: binary words, a NUL early on.
  const uint8_t foreign[] = {0x3C, 0x00, 0x01, 0x80, 0x12, 0x00, 0x00, 0x00};
  NnHandle hText = 5;
  uint16_t textLen = 5;
  EXPECT_EQ(NnFormulaToText(foreign, sizeof foreign, &hText, &textLen), NN_ERR_FORMULA_SYNTAX);
  EXPECT_EQ(hText, 0u);
  EXPECT_EQ(textLen, 0);
  const uint8_t control[] = {'a', 0x01, 'b', 0};
  EXPECT_EQ(NnFormulaToText(control, sizeof control, &hText, &textLen), NN_ERR_FORMULA_SYNTAX);
  // Source text with its NUL (and pad) still reads back.
  const char padded[] = {'1', '+', '2', 0, 0};
  ASSERT_EQ(NnFormulaToText(padded, sizeof padded, &hText, &textLen), NN_OK);
  EXPECT_EQ(std::string(static_cast<const char*>(NnMemLock(hText)), textLen), "1+2");
  NnMemUnlock(hText);
  NnMemFree(hText);
}

TEST(FormulaCompute, BadHandlesAreRefused) {
  NnHandle hResult = 7;
  EXPECT_EQ(NnComputeEvaluate(0x06FFFFFF, 0, &hResult, nullptr), NN_ERR_BAD_HANDLE);
  EXPECT_EQ(hResult, 0u);
  EXPECT_EQ(NnComputeStop(0x06FFFFFF), NN_ERR_BAD_HANDLE);
  NnHandle hc = 0;
  ASSERT_EQ(NnComputeStart("1", &hc), NN_OK);
  EXPECT_EQ(NnComputeStop(hc), NN_OK);
  EXPECT_EQ(NnComputeStop(hc), NN_ERR_BAD_HANDLE);
  EXPECT_EQ(NnComputeStart("1 +", &hc), NN_ERR_FORMULA_SYNTAX);
}

TEST(FormulaEval, TypedResults) {
  EXPECT_EQ(type(run("\"a\"")), NN_TYPE_TEXT);
  EXPECT_EQ(type(run("\"a\" : \"b\"")), NN_TYPE_TEXT_LIST);
  EXPECT_EQ(type(run("1")), NN_TYPE_NUMBER);
  EXPECT_EQ(type(run("1 : 2")), NN_TYPE_NUMBER_RANGE);
  EXPECT_EQ(type(run("@Now")), NN_TYPE_TIME);
  EXPECT_EQ(type(run("@Now : @Now")), NN_TYPE_TIME_RANGE);
  EXPECT_EQ(type(run("")), NN_TYPE_TEXT);
  EXPECT_EQ(run("1.5"), (std::vector<uint8_t>{0x00, 0x03, 0, 0, 0, 0, 0, 0, 0xF8, 0x3F}));
  EXPECT_EQ(run("\"ab\" : \"c\""),
            (std::vector<uint8_t>{0x01, 0x05, 2, 0, 2, 0, 1, 0, 'a', 'b', 'c'}));
}

TEST(FormulaEval, LiteralsAndOperators) {
  EXPECT_EQ(eval("\"a\\\"b\\\\c\""), "a\"b\\c");
  EXPECT_EQ(eval("{say \"hi\"}"), "say \"hi\"");
  EXPECT_EQ(eval("1 + 2 * 3"), "7");
  EXPECT_EQ(eval("(1 + 2) * 3"), "9");
  EXPECT_EQ(eval("10 - 4 - 3"), "3");
  EXPECT_EQ(eval("-2 * 3"), "-6");
  EXPECT_EQ(eval("7 / 2"), "3.5");
  EXPECT_EQ(eval("\"a\" + \"b\""), "ab");
  EXPECT_EQ(eval("1 < 2 & 2 < 3"), "1");
  EXPECT_EQ(eval("1 > 2 | 0"), "0");
  EXPECT_EQ(eval("!0"), "1");
  EXPECT_EQ(eval("!(1 = 1)"), "0");
  EXPECT_EQ(eval("\"abc\" < \"abd\""), "1");
  EXPECT_EQ(eval("\"a\" = \"A\""), "0");
  EXPECT_EQ(eval("x := 2; y := x * x; y + 1"), "5");
  EXPECT_EQ(eval("x := 2; X := x + 1"), "3");  // assignment is the last value; names ignore case
  EXPECT_EQ(eval("REM {a comment}; 4"), "4");
  EXPECT_EQ(eval("SELECT 1 = 1"), "1");
}

TEST(FormulaEval, ListsArePairwise) {
  EXPECT_EQ(eval("1 : 2 : 3"), "1;2;3");
  EXPECT_EQ(eval("(1 : 2 : 3) + 10"), "11;12;13");
  EXPECT_EQ(eval("(1 : 2 : 3) + (10 : 20)"), "11;22;23");  // the shorter list's last repeats
  EXPECT_EQ(eval("\"a\" : \"b\" + \"x\""), "ax;bx");
  EXPECT_EQ(eval("-1 : 2"), "-1;-2");                       // ":" binds tighter than minus
  EXPECT_EQ(eval("1 : -2"), "1;-2");
  EXPECT_EQ(eval("(1 : 2) = (3 : 2)"), "1");                // some pair matches
  EXPECT_EQ(eval("(1 : 2) = (2 : 1)"), "0");                // pairwise, not every pairing
  EXPECT_EQ(eval("(1 : 2) != (3 : 2)"), "0");
  EXPECT_EQ(eval("(1 : 2) != (3 : 4)"), "1");
  EXPECT_EQ(eval("(\"a\" : \"b\") = \"b\""), "1");
}

TEST(FormulaEval, Functions) {
  EXPECT_EQ(eval("@If(0; \"a\"; 1; \"b\"; \"c\")"), "b");
  EXPECT_EQ(eval("@If(0; \"a\"; 0; \"b\"; \"c\")"), "c");
  EXPECT_EQ(eval("@If(1; 1; 1 / 0)"), "1");  // branches not taken are not run
  EXPECT_EQ(eval("@Text(1.5 : 2)"), "1.5;2");
  EXPECT_EQ(eval("@Text(\"x\")"), "x");
  EXPECT_EQ(eval("@Text(@Date(2020; 2; 3))"), "2020-02-03");
  EXPECT_EQ(eval("@Trim(\"  a b  \" : \"   \" : \"c\")"), "a b;c");
  EXPECT_EQ(eval("@Trim(\" \")"), "");
  EXPECT_EQ(eval("@UpperCase(\"aBc1\")"), "ABC1");
  EXPECT_EQ(eval("@LowerCase(\"aBc1\" : \"X\")"), "abc1;x");
  EXPECT_EQ(eval("@Left(\"hello\"; 2)"), "he");
  EXPECT_EQ(eval("@Left(\"hello\"; 99)"), "hello");
  EXPECT_EQ(eval("@Left(\"hello\"; -1)"), "");
  EXPECT_EQ(eval("@Left(\"a,b,c\"; \",\")"), "a");
  EXPECT_EQ(eval("@Left(\"abc\"; \"z\")"), "");
  EXPECT_EQ(eval("@Right(\"hello\"; 3)"), "llo");
  EXPECT_EQ(eval("@Right(\"a,b,c\"; \",\")"), "b,c");
  EXPECT_EQ(eval("@Right(\"ab\" : \"cd\"; 1)"), "b;d");
  EXPECT_EQ(eval("@Implode(\"a\" : \"b\" : \"c\")"), "a b c");
  EXPECT_EQ(eval("@Implode(\"a\" : \"b\"; \", \")"), "a, b");
  EXPECT_EQ(eval("@Elements(\"a\" : \"b\" : \"c\")"), "3");
  EXPECT_EQ(eval("@Elements(\"\")"), "0");
  EXPECT_EQ(eval("@Elements(5)"), "1");
  EXPECT_EQ(eval("@True + @False()"), "1");
  EXPECT_EQ(eval("@Date(2021; 3; 4)"), "2021-03-04");
  EXPECT_EQ(eval("@Date(@Date(2021; 3; 4; 5; 6; 7))"), "2021-03-04");
  EXPECT_EQ(eval("@Date(2021; 3; 4; 5; 6; 7) + 60"), "2021-03-04 05:07:07");
  EXPECT_EQ(eval("@Date(2021; 3; 5; 0; 0; 0) - @Date(2021; 3; 4; 0; 0; 0)"), "86400");
  EXPECT_EQ(eval("@Command([FileSave]; \"x\")"), "1");
  EXPECT_EQ(eval("@Now > @Date(2020; 1; 1)"), "1");
}

TEST(FormulaEval, EvaluationErrors) {
  for (const char* bad : {"1 / 0", "\"a\" + 1", "\"a\" * \"b\"", "1 = \"1\"", "\"a\" : 1",
                          "@UpperCase(1)", "@If(\"x\"; 1; 2)", "-\"a\"", "@Date(\"x\")",
                          "@Date(\"1\"; 1; 1)"}) {
    const Compiled c = compile(bad);
    if (c.status != NN_OK) continue;  // some of these are refused already at compile
    EXPECT_EQ(runStatus(bad), NN_ERR_FORMULA_EVAL) << bad;
  }
  EXPECT_EQ(runStatus("\"a\" + 1"), NN_ERR_FORMULA_EVAL);
}

// Functions the evaluator does not know, and the keywords that write (they
// compile: see above), fail when (and only when) they are reached, naming
// themselves in the log.
TEST(FormulaEval, UnknownFunctionsFailWhenReached) {
  struct Case {
    const char* text;
    const char* named;
  } cases[] = {{"@UserName", "@UserName"}, {"\"a\" + @subject", "@subject"},
               {"DEFAULT x := 1; x", "DEFAULT"}, {"@Do(FIELD y := 2)", "@Do"}};
  for (const Case& c : cases) {
    NnLogClear();
    EXPECT_EQ(runStatus(c.text), NN_ERR_FORMULA_FUNCTION) << c.text;
    EXPECT_NE(NnLogCaptured().find(std::string("Formula: ") + c.named + " is not evaluated here"),
              std::string::npos)
        << NnLogCaptured();
  }
  EXPECT_EQ(eval("@If(@False; @UserName; \"x\")"), "x");
}

TEST(FormulaEval, HostileFormulasGetAStatus) {
  // Deep nesting is refused at compile rather than exhausting the stack.
  EXPECT_EQ(compile(std::string(5000, '(') + "1" + std::string(5000, ')')).status,
            NN_ERR_FORMULA_SYNTAX);
  EXPECT_EQ(compile(std::string(5000, '-') + "1").status, NN_ERR_FORMULA_SYNTAX);
  std::string calls;
  for (int i = 0; i < 500; ++i) calls += "@Trim(";
  calls += "\"a\"" + std::string(500, ')');
  EXPECT_EQ(compile(calls).status, NN_ERR_FORMULA_SYNTAX);
  // Long flat chains are fine: they do not nest.
  std::string sum = "1";
  for (int i = 0; i < 5000; ++i) sum += "+1";
  EXPECT_EQ(eval(sum), "5001");
  // Doubling a list or a text soon hits the caps.
  std::string grow = "x := \"ab\"";
  for (int i = 0; i < 40; ++i) grow += "; x := x : x";
  EXPECT_EQ(runStatus(grow), NN_ERR_FORMULA_EVAL);
  grow = "x := \"ab\"";
  for (int i = 0; i < 40; ++i) grow += "; x := x + x";
  EXPECT_EQ(runStatus(grow), NN_ERR_FORMULA_EVAL);
}

class FormulaItems : public ::testing::Test {
 protected:
  void SetUp() override {
    if (NnDbOpen("formula-items-test.nsf", NN_DB_CREATE, &db_) != NN_OK || db_ == 0)
      GTEST_SKIP() << "databases are not available";
    ASSERT_EQ(NnNoteCreate(db_, NN_CLASS_DOCUMENT, &note_), NN_OK);
  }
  void TearDown() override {
    if (note_) NnNoteClose(note_);
    if (db_) NnDbClose(db_);
  }
  NnHandle db_ = 0, note_ = 0;
};

TEST_F(FormulaItems, ReadsItemsByType) {
  ASSERT_EQ(NnItemSetText(note_, "Subject", "Hello", 5), NN_OK);
  ASSERT_EQ(NnItemSetNumber(note_, "Count", 3), NN_OK);
  const tagTIMEDATE when = NnTimeFromParts(2020, 5, 6, 7, 8, 9, 0);
  ASSERT_EQ(NnItemSetTime(note_, "When", &when), NN_OK);
  ASSERT_EQ(NnItemAppendTextList(note_, "Tags", "red", 3, true), NN_OK);
  ASSERT_EQ(NnItemAppendTextList(note_, "Tags", "blue", 4, true), NN_OK);

  EXPECT_EQ(eval("Subject + \"!\"", note_), "Hello!");
  EXPECT_EQ(eval("subject", note_), "Hello");  // names ignore case
  EXPECT_EQ(eval("Count * 2", note_), "6");
  EXPECT_EQ(type(run("When", note_)), NN_TYPE_TIME);
  EXPECT_EQ(eval("When", note_), "2020-05-06 07:08:09");
  EXPECT_EQ(eval("Tags", note_), "red;blue");
  EXPECT_EQ(eval("@Elements(Tags)", note_), "2");
  EXPECT_EQ(eval("Tags = \"blue\"", note_), "1");
  EXPECT_EQ(eval("Missing", note_), "");
  EXPECT_EQ(eval("Subject := \"temp\"; Subject", note_), "temp");  // a temporary shadows
  EXPECT_EQ(eval("Subject", 0), "");                                // no note
}

TEST_F(FormulaItems, RangesAndMalformedValues) {
  // A number range: two numbers, no range pairs.
  std::vector<uint8_t> range = {2, 0, 0, 0};
  for (double x : {1.5, -2.0}) {
    uint8_t b[8];
    std::memcpy(b, &x, 8);
    range.insert(range.end(), b, b + 8);
  }
  ASSERT_EQ(NnItemAppend(note_, 0, "Nums", 4, NN_TYPE_NUMBER_RANGE, range.data(),
                         uint32_t(range.size())), NN_OK);
  EXPECT_EQ(eval("Nums * 2", note_), "3;-4");
  // A text list claiming more entries than it holds reads as "" (never past its end).
  const uint8_t shortList[] = {5, 0, 3, 0, 'a'};
  if (NnItemAppend(note_, 0, "Bad", 3, NN_TYPE_TEXT_LIST, shortList, sizeof shortList) == NN_OK) {
    EXPECT_EQ(eval("Bad", note_), "");
  }
  const uint8_t shortNumber[] = {1, 2, 3};
  if (NnItemAppend(note_, 0, "BadNum", 6, NN_TYPE_NUMBER, shortNumber, sizeof shortNumber) ==
      NN_OK) {
    EXPECT_EQ(eval("BadNum", note_), "");
  }
}

TEST(FormulaMemory, NoHandlesLeft) {
  const size_t before = NnMemLiveCount();
  run("@Text(1 : 2) + \"x\"");
  compile("1 +");
  EXPECT_EQ(runStatus("1 / 0"), NN_ERR_FORMULA_EVAL);
  EXPECT_EQ(NnMemLiveCount(), before);
}

}  // namespace
