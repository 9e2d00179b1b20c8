// The formula language of the platform layer: its parse tree and the helpers
// shared between the parser, the evaluator and the time conversions.
//
// The compiled form of a formula is its source text verbatim followed by a NUL
// (compiledLen counts the source bytes only). Compiling validates the text;
// NnComputeStart reads the text up to its NUL and parses it again into the tree
// kept under the compute handle. A NUL inside formula text is refused, so the
// compiled form always reads back whole.
//
// The language
// - A formula is statements separated by ";" (a trailing ";" is allowed):
//     expression | name := expression | SELECT expression | REM "text"
//     | FIELD name := expression (also DEFAULT, ENVIRONMENT)
//   Its result is the value of the last statement that is not a REM; a formula
//   with none gives "". An assignment sets a temporary, which shadows an item of
//   that name for the rest of the formula. FIELD, DEFAULT and ENVIRONMENT
//   compile, but a formula that reaches one fails (formulas never write items
//   here).
// - Literals: "text" with \" and \\ (a backslash takes the next byte as it is),
//   {text} without escapes, numbers 12 and 1.5, [Keyword] (a text).
// - Names (letters, digits, _, $, ., not starting with a digit or .) and
//   @functions ignore case.
// - Operators, tightest first: ":" (list), unary - +, * /, + -,
//   = != <> < > <= >=, unary !, & | (left to right, equal rank).
// - Values are lists of one kind: texts, numbers or times; a list is never empty
//   (an empty result is the single text ""). Operators work pairwise; when one list
//   is shorter its last element repeats.
//     + concatenates texts, adds numbers; time + number and time - number move the
//     time by that many seconds; time - time gives seconds. * / take numbers.
//   Comparisons need operands of one kind and give the number 1 or 0. = < > <= >=
//   are true when any pair (in the pairwise sense above) satisfies them; != and <>
//   are true when no pair is equal, i.e. exactly not "=". Texts compare by bytes
//   (so case matters).
//   ! turns each number into 1 (for 0) or 0. & |, and the conditions of @If, take
//   the truth of a value: a number value whose first number is not 0; a text or
//   time there is an evaluation error.
// - Text lengths and positions (@Left, @Right) count bytes.
// - Functions: @If, @Text, @Trim, @UpperCase, @LowerCase, @Left, @Right, @Implode,
//   @Elements, @True, @False, @Date, @Now, @Command; also @All (1), @Today,
//   @NewLine and @StatusBar (does nothing, 1). A call of one of these with the
//   wrong number of arguments does not compile. Any other @name compiles, with
//   any arguments (assignments and FIELD among them, as @Do and @For take):
//   the formula is stored, and fails when (and only when) the call is evaluated,
//   with NN_ERR_FORMULA_FUNCTION and a log line naming the function.
// - Item names read the note's first item of that name: texts and text lists as
//   texts, numbers and number ranges as numbers, times and time ranges as times
//   (the list part only). A missing item, another type or no note gives "".
//
// Bounds (hostile formulas get a status, never a crash): nesting of parentheses,
// calls and unary operators is capped at kMaxDepth (a syntax error); a value holds
// at most kMaxEntries entries, each text at most 65,535 bytes and all at most
// kMaxValueBytes; and one evaluation may build at most kMaxWork entries plus bytes
// in all (evaluation errors).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "nn/nn.h"

namespace nnformula {

constexpr int kMaxDepth = 100;
constexpr size_t kMaxEntries = 65535;
constexpr size_t kMaxTextBytes = 65535;
constexpr size_t kMaxValueBytes = 4u << 20;
constexpr uint64_t kMaxWork = 256u << 20;

enum class Fn : uint8_t {
  If, Text, Trim, UpperCase, LowerCase, Left, Right, Implode, Elements, True, False, Date,
  Now, Command, All, Today, NewLine, StatusBar,
  Unknown,  // a function not evaluated here; the call's text is its name as written
};

struct Node {
  enum Kind : uint8_t {
    Number,  // num
    Text,    // text
    Name,    // text: the name folded to lower case
    Call,    // fn, kids: arguments
    List,    // kids joined by ":"
    Chain,   // kids[0] ops[0] kids[1] ops[1] kids[2] ..., left to right
    Negate,  // kids[0]
    Not,     // kids[0]
    Assign,  // text: the name (or keyword and name) assigned, kids[0]: its value;
             // an argument of an unknown function only
  };
  Kind kind = Number;
  Fn fn = Fn::True;
  uint16_t pos = 0;
  double num = 0;
  std::string text;
  std::vector<Node> kids;
  std::vector<uint8_t> ops;  // Op values of a Chain
};

enum Op : uint8_t { Add, Sub, Mul, Div, Eq, Ne, Lt, Gt, Le, Ge, And, Or };

struct Statement {
  enum Kind : uint8_t { Expression, Assign, Write } kind = Expression;
  std::string name;  // Assign: the temporary, lower case; Write: FIELD, DEFAULT or ENVIRONMENT
  Node expr;
};

struct Program {
  std::vector<Statement> statements;
};

// Parses formula text. On a syntax error returns NN_ERR_FORMULA_SYNTAX with the
// byte offset and length of the offending token (length 0 at the end of the text).
NnStatus parse(const char* text, size_t len, Program* out, uint16_t* errorOffset,
               uint16_t* errorLength);

// Runs a program on a note (0: none) and gives the typed result block: the
// 16-bit type word and the canonical data. NN_ERR_FORMULA_EVAL on an evaluation
// error, NN_ERR_FORMULA_FUNCTION (logged with its name) on a function or
// keyword not evaluated here, NN_ERR_MEMORY when out of memory.
NnStatus evaluate(const Program& program, NnHandle hNote, std::vector<uint8_t>* result);

}  // namespace nnformula

// Time helpers shared by time.cpp and the evaluator.
namespace nntime {
constexpr uint32_t kNoTime = 0xFFFFFFFF;  // ticks of a date-only value
constexpr uint32_t kNoDate = 0xFFFFFF;    // day of a time-only value
constexpr uint32_t kDayMask = 0xFFFFFF;
constexpr int64_t kMaxJulianDay = 0xFFFFFE;
bool isDateOnly(const tagTIMEDATE& td);
bool isTimeOnly(const tagTIMEDATE& td);
// Hundredths of a second since 1970-01-01 UTC (a date-only value at its midnight).
int64_t toSeconds100(const tagTIMEDATE& td);
tagTIMEDATE fromSeconds100(int64_t hundredths);
// A date-only value; months and days beyond their range carry over.
tagTIMEDATE dateOnly(int64_t year, int64_t month, int64_t day);
// Our fixed text form (see NnTimeToText).
std::string toText(const tagTIMEDATE& td);
}  // namespace nntime
