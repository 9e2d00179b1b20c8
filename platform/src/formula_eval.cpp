// Evaluation of a parsed formula on a note (rules in formula.h).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <new>
#include <stdexcept>

#include "formula.h"

namespace nnformula {

namespace {

struct EvalError {};
// A function or keyword the formula reaches that is not evaluated here.
struct NotEvaluated {
  std::string name;
};

struct Value {
  enum Kind : uint8_t { Text, Number, Time } kind = Text;
  std::vector<std::string> t;
  std::vector<double> n;
  std::vector<tagTIMEDATE> d;

  size_t size() const { return kind == Text ? t.size() : kind == Number ? n.size() : d.size(); }
  static Value text(std::string s) {
    Value v;
    v.t.push_back(std::move(s));
    return v;
  }
  static Value number(double x) {
    Value v;
    v.kind = Number;
    v.n.push_back(x);
    return v;
  }
};

Value emptyText() { return Value::text(std::string()); }

uint16_t rd16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t rd32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
double rdf64(const uint8_t* p) {
  uint64_t bits = 0;
  for (int i = 7; i >= 0; --i) bits = (bits << 8) | p[i];
  double x;
  std::memcpy(&x, &bits, sizeof x);
  return x;
}
void wr16(std::vector<uint8_t>& v, uint16_t x) {
  v.push_back(uint8_t(x));
  v.push_back(uint8_t(x >> 8));
}
void wr32(std::vector<uint8_t>& v, uint32_t x) {
  for (int i = 0; i < 4; ++i) v.push_back(uint8_t(x >> (8 * i)));
}
void wrf64(std::vector<uint8_t>& v, double x) {
  uint64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  for (int i = 0; i < 8; ++i) v.push_back(uint8_t(bits >> (8 * i)));
}

// Decodes a canonical item value (type word first). Types not read by formulas,
// and values too short for what they claim, give "".
Value decodeItem(const uint8_t* p, uint32_t len) {
  if (len < 2) return emptyText();
  const uint16_t type = rd16(p);
  p += 2;
  len -= 2;
  Value v;
  switch (type) {
    case NN_TYPE_TEXT:
      return Value::text(std::string(reinterpret_cast<const char*>(p), len));
    case NN_TYPE_TEXT_LIST: {
      if (len < 2) break;
      const uint16_t count = rd16(p);
      if (len < 2u + 2u * count) break;
      size_t off = 2u + 2u * count;
      for (uint16_t i = 0; i < count; ++i) {
        const uint16_t l = rd16(p + 2 + 2 * i);
        if (off + l > len) return emptyText();
        v.t.emplace_back(reinterpret_cast<const char*>(p + off), l);
        off += l;
      }
      if (v.t.empty()) break;
      return v;
    }
    case NN_TYPE_NUMBER:
      if (len < 8) break;
      return Value::number(rdf64(p));
    case NN_TYPE_NUMBER_RANGE: {
      if (len < 4) break;
      const uint16_t count = rd16(p);
      if (count == 0 || len < 4u + 8u * count) break;
      v.kind = Value::Number;
      for (uint16_t i = 0; i < count; ++i) v.n.push_back(rdf64(p + 4 + 8 * i));
      return v;
    }
    case NN_TYPE_TIME:
      if (len < 8) break;
      v.kind = Value::Time;
      v.d.push_back({{rd32(p), rd32(p + 4)}});
      return v;
    case NN_TYPE_TIME_RANGE: {
      if (len < 4) break;
      const uint16_t count = rd16(p);
      if (count == 0 || len < 4u + 8u * count) break;
      v.kind = Value::Time;
      for (uint16_t i = 0; i < count; ++i)
        v.d.push_back({{rd32(p + 4 + 8 * i), rd32(p + 8 + 8 * i)}});
      return v;
    }
    default:
      break;
  }
  return emptyText();
}

class Evaluator {
 public:
  explicit Evaluator(NnHandle hNote) : note_(hNote) {}

  Value run(const Program& program) {
    Value result = emptyText();
    for (const Statement& st : program.statements) {
      if (st.kind == Statement::Write) throw NotEvaluated{st.name};
      Value v = eval(st.expr);
      if (st.kind == Statement::Assign) temps_[st.name] = v;
      result = std::move(v);
    }
    return result;
  }

 private:
  NnHandle note_;
  std::map<std::string, Value> temps_;
  uint64_t work_ = 0;

  // Every value built passes here: the size caps and the work budget.
  Value checked(Value v) {
    const size_t count = v.size();
    if (count == 0 || count > kMaxEntries) throw EvalError{};
    size_t bytes = count * 8;
    if (v.kind == Value::Text) {
      bytes = 0;
      for (const std::string& s : v.t) {
        if (s.size() > kMaxTextBytes) throw EvalError{};
        bytes += s.size() + 2;
      }
    }
    if (bytes > kMaxValueBytes) throw EvalError{};
    work_ += bytes + count;
    if (work_ > kMaxWork) throw EvalError{};
    return v;
  }

  static size_t at(size_t i, size_t size) { return std::min(i, size - 1); }

  static bool truth(const Value& v) {
    if (v.kind != Value::Number) throw EvalError{};
    return v.n[0] != 0;
  }

  Value readItem(const std::string& name) {
    if (note_ == 0) return emptyText();
    NnBlockId valueBlock;
    uint16_t type = 0;
    uint32_t valueLen = 0;
    if (NnItemInfo(note_, name.data(), uint16_t(name.size()), nullptr, &type, &valueBlock,
                   &valueLen) != NN_OK)
      return emptyText();
    const void* p = NnBlockLock(valueBlock);
    if (!p) return emptyText();
    Value v = decodeItem(static_cast<const uint8_t*>(p), valueLen);
    NnBlockUnlock(valueBlock);
    return v;
  }

  Value eval(const Node& node) {
    switch (node.kind) {
      case Node::Number:
        return Value::number(node.num);
      case Node::Text:
        return checked(Value::text(node.text));
      case Node::Name: {
        auto it = temps_.find(node.text);
        if (it != temps_.end()) return checked(it->second);
        return checked(readItem(node.text));
      }
      case Node::Call:
        return checked(call(node));
      case Node::List: {
        Value out = eval(node.kids[0]);
        for (size_t i = 1; i < node.kids.size(); ++i) {
          Value next = eval(node.kids[i]);
          if (next.kind != out.kind) throw EvalError{};
          if (out.size() + next.size() > kMaxEntries) throw EvalError{};
          out.t.insert(out.t.end(), next.t.begin(), next.t.end());
          out.n.insert(out.n.end(), next.n.begin(), next.n.end());
          out.d.insert(out.d.end(), next.d.begin(), next.d.end());
        }
        return checked(std::move(out));
      }
      case Node::Chain:
        return chain(node);
      case Node::Negate: {
        Value v = eval(node.kids[0]);
        if (v.kind != Value::Number) throw EvalError{};
        for (double& x : v.n) x = -x;
        return v;
      }
      case Node::Not: {
        Value v = eval(node.kids[0]);
        if (v.kind != Value::Number) throw EvalError{};
        for (double& x : v.n) x = x == 0 ? 1 : 0;
        return v;
      }
      case Node::Assign:  // only in the arguments of a call that is not evaluated
        break;
    }
    throw EvalError{};
  }

  Value chain(const Node& node) {
    Value acc = eval(node.kids[0]);
    for (size_t i = 0; i < node.ops.size(); ++i) {
      const Op op = Op(node.ops[i]);
      if (op == And || op == Or) {
        // Decided once the left side settles it; the right side is not run then.
        const bool left = truth(acc);
        if ((op == And && !left) || (op == Or && left)) {
          acc = Value::number(left ? 1 : 0);
          continue;
        }
        acc = Value::number(truth(eval(node.kids[i + 1])) ? 1 : 0);
        continue;
      }
      Value rhs = eval(node.kids[i + 1]);
      acc = (op >= Eq) ? compare(op, acc, rhs) : checked(arithmetic(op, acc, rhs));
    }
    return acc;
  }

  static Value compare(Op op, const Value& a, const Value& b) {
    if (a.kind != b.kind) throw EvalError{};
    const size_t n = std::max(a.size(), b.size());
    bool anyEqual = false, any = false;
    for (size_t i = 0; i < n; ++i) {
      int c;
      if (a.kind == Value::Text) {
        const int r = a.t[at(i, a.size())].compare(b.t[at(i, b.size())]);
        c = r < 0 ? -1 : r > 0;
      } else if (a.kind == Value::Number) {
        const double x = a.n[at(i, a.size())], y = b.n[at(i, b.size())];
        c = x < y ? -1 : x > y ? 1 : 0;
        if (std::isnan(x) || std::isnan(y)) c = 2;  // unordered: matches nothing
      } else {
        const int64_t x = nntime::toSeconds100(a.d[at(i, a.size())]);
        const int64_t y = nntime::toSeconds100(b.d[at(i, b.size())]);
        c = x < y ? -1 : x > y ? 1 : 0;
      }
      anyEqual = anyEqual || c == 0;
      switch (op) {
        case Eq: any = any || c == 0; break;
        case Lt: any = any || c == -1; break;
        case Gt: any = any || c == 1; break;
        case Le: any = any || c == -1 || c == 0; break;
        case Ge: any = any || c == 1 || c == 0; break;
        default: break;
      }
    }
    if (op == Ne) any = !anyEqual;
    return Value::number(any ? 1 : 0);
  }

  static tagTIMEDATE moveTime(const tagTIMEDATE& t, double seconds) {
    if (nntime::isTimeOnly(t) || !std::isfinite(seconds) || std::fabs(seconds) > 1e12)
      throw EvalError{};
    return nntime::fromSeconds100(nntime::toSeconds100(t) + int64_t(std::llround(seconds * 100)));
  }

  static Value arithmetic(Op op, const Value& a, const Value& b) {
    const size_t n = std::max(a.size(), b.size());
    Value out;
    if (a.kind == Value::Text && b.kind == Value::Text && op == Add) {
      for (size_t i = 0; i < n; ++i) {
        const std::string& x = a.t[at(i, a.size())];
        const std::string& y = b.t[at(i, b.size())];
        if (x.size() + y.size() > kMaxTextBytes) throw EvalError{};
        out.t.push_back(x + y);
      }
      return out;
    }
    if (a.kind == Value::Number && b.kind == Value::Number) {
      out.kind = Value::Number;
      for (size_t i = 0; i < n; ++i) {
        const double x = a.n[at(i, a.size())], y = b.n[at(i, b.size())];
        switch (op) {
          case Add: out.n.push_back(x + y); break;
          case Sub: out.n.push_back(x - y); break;
          case Mul: out.n.push_back(x * y); break;
          case Div:
            if (y == 0) throw EvalError{};
            out.n.push_back(x / y);
            break;
          default: throw EvalError{};
        }
      }
      return out;
    }
    if (a.kind == Value::Time && b.kind == Value::Number && (op == Add || op == Sub)) {
      out.kind = Value::Time;
      for (size_t i = 0; i < n; ++i) {
        const double s = b.n[at(i, b.size())];
        out.d.push_back(moveTime(a.d[at(i, a.size())], op == Add ? s : -s));
      }
      return out;
    }
    if (a.kind == Value::Number && b.kind == Value::Time && op == Add) return arithmetic(op, b, a);
    if (a.kind == Value::Time && b.kind == Value::Time && op == Sub) {
      out.kind = Value::Number;
      for (size_t i = 0; i < n; ++i) {
        const tagTIMEDATE& x = a.d[at(i, a.size())];
        const tagTIMEDATE& y = b.d[at(i, b.size())];
        if (nntime::isTimeOnly(x) != nntime::isTimeOnly(y)) throw EvalError{};
        out.n.push_back(double(nntime::toSeconds100(x) - nntime::toSeconds100(y)) / 100.0);
      }
      return out;
    }
    throw EvalError{};
  }

  const Value& needText(const Value& v) {
    if (v.kind != Value::Text) throw EvalError{};
    return v;
  }

  static int64_t whole(double x, double lo, double hi) {
    if (!std::isfinite(x) || x < lo || x > hi) throw EvalError{};
    return int64_t(x);
  }

  Value call(const Node& node) {
    const std::vector<Node>& args = node.kids;
    switch (node.fn) {
      case Fn::Unknown:
        throw NotEvaluated{node.text};
      case Fn::If:
        for (size_t i = 0; i + 1 < args.size(); i += 2)
          if (truth(eval(args[i]))) return eval(args[i + 1]);
        return eval(args.back());
      case Fn::True:
      case Fn::All:
      case Fn::Command:  // commands do nothing here
      case Fn::StatusBar:
        return Value::number(1);
      case Fn::False:
        return Value::number(0);
      case Fn::NewLine:
        return Value::text("\n");
      case Fn::Now: {
        Value v;
        v.kind = Value::Time;
        v.d.push_back(NnTimeNow());
        return v;
      }
      case Fn::Today: {
        const tagTIMEDATE now = NnTimeNow();
        Value v;
        v.kind = Value::Time;
        v.d.push_back({{nntime::kNoTime, now.Innards[1] & nntime::kDayMask}});
        return v;
      }
      case Fn::Text: {
        Value v = eval(args[0]);
        if (args.size() > 1) eval(args[1]);  // the format is accepted and not used
        Value out;
        if (v.kind == Value::Text) return v;
        if (v.kind == Value::Number) {
          for (double x : v.n) {
            char buf[64];
            const int len = std::snprintf(buf, sizeof buf, "%g", x);
            out.t.emplace_back(buf, size_t(std::clamp(len, 0, int(sizeof buf) - 1)));
          }
        } else {
          for (const tagTIMEDATE& d : v.d) out.t.push_back(nntime::toText(d));
        }
        return out;
      }
      case Fn::Trim: {
        const Value v = needText(eval(args[0]));
        Value out;
        for (const std::string& s : v.t) {
          const size_t b = s.find_first_not_of(' ');
          if (b == std::string::npos) continue;
          out.t.push_back(s.substr(b, s.find_last_not_of(' ') - b + 1));
        }
        if (out.t.empty()) out.t.emplace_back();
        return out;
      }
      case Fn::UpperCase:
      case Fn::LowerCase: {
        Value v = eval(args[0]);
        needText(v);
        const bool up = node.fn == Fn::UpperCase;
        for (std::string& s : v.t)
          for (char& c : s) {
            if (up && c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
            if (!up && c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
          }
        return v;
      }
      case Fn::Left:
      case Fn::Right: {
        Value v = eval(args[0]);
        needText(v);
        const Value how = eval(args[1]);
        const bool left = node.fn == Fn::Left;
        for (std::string& s : v.t) {
          if (how.kind == Value::Number) {
            const size_t count = size_t(std::min<int64_t>(
                std::max<int64_t>(whole(how.n[0], -1e15, 1e15), 0), int64_t(s.size())));
            s = left ? s.substr(0, count) : s.substr(s.size() - count);
          } else if (how.kind == Value::Text) {
            const std::string& sub = how.t[0];
            const size_t found = sub.empty() ? std::string::npos : s.find(sub);
            if (found == std::string::npos)
              s.clear();
            else
              s = left ? s.substr(0, found) : s.substr(found + sub.size());
          } else {
            throw EvalError{};
          }
        }
        return v;
      }
      case Fn::Implode: {
        const Value v = needText(eval(args[0]));
        std::string sep = " ";
        if (args.size() > 1) sep = needText(eval(args[1])).t[0];
        std::string out;
        for (size_t i = 0; i < v.t.size(); ++i) {
          if (i) out += sep;
          out += v.t[i];
          if (out.size() > kMaxTextBytes) throw EvalError{};
        }
        return Value::text(std::move(out));
      }
      case Fn::Elements: {
        const Value v = eval(args[0]);
        if (v.kind == Value::Text && v.t.size() == 1 && v.t[0].empty()) return Value::number(0);
        return Value::number(double(v.size()));
      }
      case Fn::Date: {
        if (args.size() == 1) {
          Value v = eval(args[0]);
          if (v.kind != Value::Time) throw EvalError{};
          for (tagTIMEDATE& d : v.d) {
            if (nntime::isTimeOnly(d)) throw EvalError{};
            d = {{nntime::kNoTime, d.Innards[1] & nntime::kDayMask}};
          }
          return v;
        }
        int64_t part[6] = {};
        for (size_t i = 0; i < args.size(); ++i) {
          const Value v = eval(args[i]);
          if (v.kind != Value::Number) throw EvalError{};
          part[i] = whole(v.n[0], -100000, 100000);
        }
        Value v;
        v.kind = Value::Time;
        if (args.size() == 3)
          v.d.push_back(nntime::dateOnly(part[0], part[1], part[2]));
        else
          v.d.push_back(NnTimeFromParts(int(part[0]), int(part[1]), int(part[2]), int(part[3]),
                                        int(part[4]), int(part[5]), 0));
        return v;
      }
    }
    throw EvalError{};
  }
};

void encode(const Value& v, std::vector<uint8_t>* out) {
  out->clear();
  const bool single = v.size() == 1;
  switch (v.kind) {
    case Value::Text:
      if (single) {
        wr16(*out, NN_TYPE_TEXT);
        out->insert(out->end(), v.t[0].begin(), v.t[0].end());
      } else {
        wr16(*out, NN_TYPE_TEXT_LIST);
        wr16(*out, uint16_t(v.t.size()));
        for (const std::string& s : v.t) wr16(*out, uint16_t(s.size()));
        for (const std::string& s : v.t) out->insert(out->end(), s.begin(), s.end());
      }
      break;
    case Value::Number:
      wr16(*out, single ? NN_TYPE_NUMBER : NN_TYPE_NUMBER_RANGE);
      if (!single) {
        wr16(*out, uint16_t(v.n.size()));
        wr16(*out, 0);
      }
      for (double x : v.n) wrf64(*out, x);
      break;
    case Value::Time:
      wr16(*out, single ? NN_TYPE_TIME : NN_TYPE_TIME_RANGE);
      if (!single) {
        wr16(*out, uint16_t(v.d.size()));
        wr16(*out, 0);
      }
      for (const tagTIMEDATE& d : v.d) {
        wr32(*out, d.Innards[0]);
        wr32(*out, d.Innards[1]);
      }
      break;
  }
}

}  // namespace

NnStatus evaluate(const Program& program, NnHandle hNote, std::vector<uint8_t>* result) {
  try {
    Evaluator ev(hNote);
    encode(ev.run(program), result);
    return NN_OK;
  } catch (const EvalError&) {
    return NN_ERR_FORMULA_EVAL;
  } catch (const NotEvaluated& e) {
    NnLogMessage(NN_ERR_FORMULA_FUNCTION, "Formula: %s is not evaluated here", e.name.c_str());
    return NN_ERR_FORMULA_FUNCTION;
  } catch (const std::bad_alloc&) {
    return NN_ERR_MEMORY;
  } catch (const std::length_error&) {
    return NN_ERR_MEMORY;
  }
}

}  // namespace nnformula
