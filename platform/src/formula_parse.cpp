// Lexer and recursive-descent parser of the formula language (rules in formula.h).
#include <charconv>
#include <cstring>
#include <string_view>

#include "formula.h"

namespace nnformula {

namespace {

struct SyntaxError {
  size_t pos, len;
};

struct Token {
  enum Kind : uint8_t { End, Number, Text, Name, At, Punct } kind = End;
  size_t pos = 0, len = 0;
  std::string value;  // decoded text, name, function name or punctuation
  double num = 0;
};

bool isNameStart(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '$';
}
bool isNameChar(char c) { return isNameStart(c) || (c >= '0' && c <= '9') || c == '.'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::string lower(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return r;
}

std::string upper(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  return r;
}

struct FnInfo {
  const char* name;
  Fn fn;
  uint8_t minArgs, maxArgs;
};
constexpr uint8_t kMany = 255;
const FnInfo kFunctions[] = {
    {"if", Fn::If, 3, kMany},          {"text", Fn::Text, 1, 2},
    {"trim", Fn::Trim, 1, 1},          {"uppercase", Fn::UpperCase, 1, 1},
    {"lowercase", Fn::LowerCase, 1, 1}, {"left", Fn::Left, 2, 2},
    {"right", Fn::Right, 2, 2},        {"implode", Fn::Implode, 1, 2},
    {"elements", Fn::Elements, 1, 1},  {"true", Fn::True, 0, 0},
    {"false", Fn::False, 0, 0},        {"date", Fn::Date, 1, 6},
    {"now", Fn::Now, 0, 0},            {"command", Fn::Command, 1, kMany},
    {"all", Fn::All, 0, 0},            {"today", Fn::Today, 0, 0},
    {"newline", Fn::NewLine, 0, 0},    {"statusbar", Fn::StatusBar, 1, 2},
};

class Parser {
 public:
  Parser(const char* text, size_t len) : s_(text), n_(len) { advance(); }

  void formula(Program* out) {
    while (tok_.kind != Token::End) {
      if (isPunct(";")) {  // an empty statement
        advance();
        continue;
      }
      statement(out);
      if (tok_.kind == Token::End) break;
      if (!isPunct(";")) fail(tok_);
      advance();
    }
  }

 private:
  const char* s_;
  size_t n_;
  size_t p_ = 0;
  Token tok_;
  int depth_ = 0;

  [[noreturn]] static void fail(const Token& t) { throw SyntaxError{t.pos, t.len}; }
  [[noreturn]] static void failAt(size_t pos, size_t len) { throw SyntaxError{pos, len}; }

  bool isPunct(const char* p) const { return tok_.kind == Token::Punct && tok_.value == p; }
  bool isWord(const char* w) const { return tok_.kind == Token::Name && tok_.value == w; }

  void advance() {
    while (p_ < n_ && (s_[p_] == ' ' || s_[p_] == '\t' || s_[p_] == '\r' || s_[p_] == '\n')) ++p_;
    Token t;
    t.pos = p_;
    if (p_ >= n_) {
      tok_ = t;
      return;
    }
    const char c = s_[p_];
    if (c == '\0') failAt(p_, 1);
    if (c == '"') {
      size_t q = p_ + 1;
      while (q < n_ && s_[q] != '"') {
        if (s_[q] == '\0') failAt(q, 1);
        if (s_[q] == '\\') {
          if (++q >= n_) break;
          if (s_[q] == '\0') failAt(q, 1);
        }
        t.value.push_back(s_[q++]);
      }
      if (q >= n_) failAt(p_, n_ - p_);  // unterminated
      t.kind = Token::Text;
      p_ = q + 1;
    } else if (c == '{' || c == '[') {
      const char close = c == '{' ? '}' : ']';
      const char* e = static_cast<const char*>(std::memchr(s_ + p_ + 1, close, n_ - p_ - 1));
      if (!e) failAt(p_, n_ - p_);
      const size_t q = size_t(e - s_);
      if (std::memchr(s_ + p_, '\0', q - p_)) failAt(p_, q + 1 - p_);
      t.kind = Token::Text;
      t.value.assign(s_ + p_ + 1, q - p_ - 1);
      if (c == '[' && t.value.empty()) failAt(p_, 2);
      p_ = q + 1;
    } else if (isDigit(c)) {
      size_t q = p_;
      while (q < n_ && isDigit(s_[q])) ++q;
      if (q + 1 < n_ && s_[q] == '.' && isDigit(s_[q + 1])) {
        ++q;
        while (q < n_ && isDigit(s_[q])) ++q;
      }
      if (q < n_ && isNameChar(s_[q])) {  // "12abc", "1.2.3"
        size_t e = q;
        while (e < n_ && isNameChar(s_[e])) ++e;
        failAt(p_, e - p_);
      }
      t.kind = Token::Number;
      t.value.assign(s_ + p_, q - p_);
      if (std::from_chars(t.value.data(), t.value.data() + t.value.size(), t.num).ec !=
          std::errc())
        failAt(p_, q - p_);  // too large for a number
      p_ = q;
    } else if (isNameStart(c)) {
      size_t q = p_;
      while (q < n_ && isNameChar(s_[q])) ++q;
      t.kind = Token::Name;
      t.value = lower(std::string_view(s_ + p_, q - p_));
      p_ = q;
    } else if (c == '@') {
      size_t q = p_ + 1;
      while (q < n_ && (isNameStart(s_[q]) || isDigit(s_[q]))) ++q;
      if (q == p_ + 1) failAt(p_, 1);
      t.kind = Token::At;
      t.value = lower(std::string_view(s_ + p_ + 1, q - p_ - 1));
      p_ = q;
    } else {
      static const char* const kTwo[] = {":=", "!=", "<>", "<=", ">="};
      t.kind = Token::Punct;
      size_t opLen = 0;
      for (const char* two : kTwo) {
        if (p_ + 1 < n_ && c == two[0] && s_[p_ + 1] == two[1]) {
          opLen = 2;
          break;
        }
      }
      if (opLen == 0) {
        if (!std::strchr(":+-*/=<>&|!;()", c)) failAt(p_, 1);
        opLen = 1;
      }
      t.value = std::string(s_ + p_, opLen);
      p_ += t.value.size();
    }
    t.len = p_ - t.pos;
    tok_ = std::move(t);
  }

  void enter(const Token& at) {
    if (++depth_ > kMaxDepth) fail(at);
  }

  void statement(Program* out) {
    Statement st;
    if (isWord("rem")) {
      advance();
      if (tok_.kind != Token::Text) fail(tok_);
      advance();
      return;
    }
    std::string keyword, name;
    if (isWord("select")) {
      advance();
    } else if (assignment(&keyword, &name)) {
      st.kind = keyword.empty() ? Statement::Assign : Statement::Write;
      st.name = keyword.empty() ? name : keyword;
    }
    st.expr = expression();
    out->statements.push_back(std::move(st));
  }

  // Builds a Chain from operands separated by the operators `level` accepts.
  template <typename Next, typename Match>
  Node chain(Next next, Match match) {
    Node first = (this->*next)();
    Op op;
    if (!match(op)) return first;
    Node c;
    c.kind = Node::Chain;
    c.pos = first.pos;
    c.kids.push_back(std::move(first));
    while (match(op)) {
      advance();
      c.ops.push_back(op);
      c.kids.push_back((this->*next)());
    }
    return c;
  }

  Node expression() {
    return chain(&Parser::notExpr, [this](Op& op) {
      if (isPunct("&")) return op = And, true;
      if (isPunct("|")) return op = Or, true;
      return false;
    });
  }

  Node notExpr() {
    if (!isPunct("!")) return comparison();
    const Token at = tok_;
    enter(at);
    advance();
    Node n;
    n.kind = Node::Not;
    n.pos = uint16_t(at.pos);
    n.kids.push_back(notExpr());
    --depth_;
    return n;
  }

  Node comparison() {
    return chain(&Parser::additive, [this](Op& op) {
      if (tok_.kind != Token::Punct) return false;
      const std::string& v = tok_.value;
      if (v == "=") return op = Eq, true;
      if (v == "!=" || v == "<>") return op = Ne, true;
      if (v == "<") return op = Lt, true;
      if (v == ">") return op = Gt, true;
      if (v == "<=") return op = Le, true;
      if (v == ">=") return op = Ge, true;
      return false;
    });
  }

  Node additive() {
    return chain(&Parser::multiplicative, [this](Op& op) {
      if (isPunct("+")) return op = Add, true;
      if (isPunct("-")) return op = Sub, true;
      return false;
    });
  }

  Node multiplicative() {
    return chain(&Parser::unary, [this](Op& op) {
      if (isPunct("*")) return op = Mul, true;
      if (isPunct("/")) return op = Div, true;
      return false;
    });
  }

  // Unary signs, then a list. Also used for each element after a ":".
  Node signedPart(bool list) {
    if (isPunct("-") || isPunct("+")) {
      const Token at = tok_;
      enter(at);
      advance();
      Node inner = signedPart(list);
      --depth_;
      if (at.value == "+") return inner;
      Node n;
      n.kind = Node::Negate;
      n.pos = uint16_t(at.pos);
      n.kids.push_back(std::move(inner));
      return n;
    }
    return list ? listExpr() : primary();
  }

  Node unary() { return signedPart(true); }

  Node listExpr() {
    Node first = primary();
    if (!isPunct(":")) return first;
    Node l;
    l.kind = Node::List;
    l.pos = first.pos;
    l.kids.push_back(std::move(first));
    while (isPunct(":")) {
      advance();
      l.kids.push_back(signedPart(false));
    }
    return l;
  }

  Node primary() {
    Node n;
    n.pos = uint16_t(tok_.pos);
    switch (tok_.kind) {
      case Token::Number:
        n.kind = Node::Number;
        n.num = tok_.num;
        advance();
        return n;
      case Token::Text:
        n.kind = Node::Text;
        n.text = std::move(tok_.value);
        advance();
        return n;
      case Token::Name:
        if (isWord("field") || isWord("default") || isWord("environment") || isWord("rem") ||
            isWord("select"))
          fail(tok_);
        n.kind = Node::Name;
        n.text = std::move(tok_.value);
        advance();
        return n;
      case Token::At:
        return call();
      case Token::Punct:
        if (isPunct("(")) {
          const Token open = tok_;
          enter(open);
          advance();
          Node inner = expression();
          if (!isPunct(")")) fail(tok_);
          advance();
          --depth_;
          return inner;
        }
        fail(tok_);
      case Token::End:
        break;
    }
    fail(tok_);
  }

  // The start of an assignment, "name :=" or FIELD (DEFAULT, ENVIRONMENT) and
  // one: consumed, with the keyword (upper case; empty when none) and the
  // name. Anything else is left for an expression; a keyword not followed by
  // an assignment fails.
  bool assignment(std::string* keyword, std::string* name) {
    const bool writes = isWord("field") || isWord("default") || isWord("environment");
    if (writes) {
      *keyword = upper(tok_.value);
      advance();
      if (tok_.kind != Token::Name) fail(tok_);
    } else if (tok_.kind != Token::Name) {
      return false;
    }
    // Look ahead for ":=" without consuming.
    const size_t save = p_;
    Token nameTok = tok_;
    advance();
    if (!isPunct(":=")) {
      if (writes) fail(tok_);
      p_ = save;
      tok_ = std::move(nameTok);
      return false;
    }
    advance();
    *name = nameTok.value;
    return true;
  }

  // An argument of a function not evaluated here: also an assignment, as @Do
  // and @For take.
  Node statementArgument() {
    Node n;
    n.pos = uint16_t(tok_.pos);
    std::string keyword, name;
    if (!assignment(&keyword, &name)) return expression();
    n.kind = Node::Assign;
    n.text = keyword.empty() ? name : keyword + " " + name;
    n.kids.push_back(expression());
    return n;
  }

  Node call() {
    const Token name = tok_;
    const FnInfo* info = nullptr;
    for (const FnInfo& f : kFunctions)
      if (name.value == f.name) info = &f;
    Node n;
    n.kind = Node::Call;
    n.fn = info ? info->fn : Fn::Unknown;
    if (!info) n.text.assign(s_ + name.pos, name.len);
    n.pos = uint16_t(name.pos);
    advance();
    if (isPunct("(")) {
      enter(name);
      advance();
      if (!isPunct(")")) {
        for (;;) {
          n.kids.push_back(info ? expression() : statementArgument());
          if (isPunct(";")) {
            advance();
            continue;
          }
          if (!isPunct(")")) fail(tok_);
          break;
        }
      }
      advance();
      --depth_;
    }
    if (!info) return n;
    const size_t argc = n.kids.size();
    bool ok = argc >= info->minArgs && argc <= info->maxArgs;
    if (info->fn == Fn::If) ok = ok && argc % 2 == 1;
    if (info->fn == Fn::Date) ok = argc == 1 || argc == 3 || argc == 6;
    if (!ok) fail(name);
    return n;
  }
};

}  // namespace

NnStatus parse(const char* text, size_t len, Program* out, uint16_t* errorOffset,
               uint16_t* errorLength) {
  if (errorOffset) *errorOffset = 0;
  if (errorLength) *errorLength = 0;
  if (len > 0xFFFF) return NN_ERR_INVALID_ARG;
  // The compiled form is the source, and a source with control characters
  // reads back as a binary formula: refuse them here, where the caller learns
  // where.
  for (size_t i = 0; i < len; ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x20 && b != '\t' && b != '\r' && b != '\n') {
      if (errorOffset) *errorOffset = uint16_t(i);
      if (errorLength) *errorLength = 1;
      return NN_ERR_FORMULA_SYNTAX;
    }
  }
  try {
    Program program;
    Parser(text, len).formula(&program);
    *out = std::move(program);
    return NN_OK;
  } catch (const SyntaxError& e) {
    if (errorOffset) *errorOffset = uint16_t(e.pos);
    if (errorLength) *errorLength = uint16_t(e.len);
    return NN_ERR_FORMULA_SYNTAX;
  } catch (const std::bad_alloc&) {
    return NN_ERR_MEMORY;
  }
}

}  // namespace nnformula
