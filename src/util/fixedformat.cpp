// Fixed layouts with Fortran-style edit descriptors, and free-format lines.
#include "util/fixedformat.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <vector>

namespace kavrel {

namespace {

// One primitive step of a layout, after groups and repeat counts are expanded.
struct Step {
  enum Kind { Data, Literal, Blanks, Slash, TabTo, TabLeft, TabRight, Colon } kind = Data;
  char code = 0;        // data descriptor: 'I', 'F', 'A' or 'L'
  int32_t width = -1;   // field width; -1 when not given (A)
  int32_t digits = -1;  // F: decimals; I: minimum digits; -1 when not given
  int32_t count = 0;    // X, T, TL, TR: the column count
  std::string text;     // literal text
};

// A parsed item: a step or a repeated group of items.
struct Item {
  int32_t repeat = 1;
  bool isGroup = false;
  Step step;
  std::vector<Item> children;
};

class LayoutParser {
 public:
  explicit LayoutParser(std::string_view layout) : s_(layout) {}

  std::vector<Item> parse() {
    skipBlanks();
    expect('(');
    std::vector<Item> items = parseList();
    expect(')');
    skipBlanks();
    if (i_ != s_.size()) fail("text after the closing parenthesis");
    return items;
  }

 private:
  [[noreturn]] void fail(const std::string& what) const {
    throw std::invalid_argument("layout \"" + std::string(s_) + "\": " + what);
  }
  void skipBlanks() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t')) ++i_;
  }
  char peek() {
    skipBlanks();
    return i_ < s_.size() ? upper(s_[i_]) : '\0';
  }
  static char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
  static bool isDigit(char c) { return c >= '0' && c <= '9'; }
  void expect(char c) {
    if (peek() != c) fail(std::string("expected '") + c + "'");
    ++i_;
  }
  // Digits at the current place, or -1 when there are none.
  int32_t number() {
    skipBlanks();
    if (i_ >= s_.size() || !isDigit(s_[i_])) return -1;
    int64_t v = 0;
    while (i_ < s_.size() && isDigit(s_[i_])) {
      v = v * 10 + (s_[i_++] - '0');
      if (v > 100000) fail("number too large");
    }
    return static_cast<int32_t>(v);
  }

  // Items up to the closing parenthesis of the current group.
  std::vector<Item> parseList() {
    std::vector<Item> items;
    for (;;) {
      const char c = peek();
      if (c == ')' || c == '\0') return items;
      if (c == ',') {
        ++i_;
        continue;
      }
      items.push_back(parseItem());
    }
  }

  Item parseItem() {
    Item item;
    const int32_t rep = number();
    const char c = peek();
    if (c == '\0') fail("unexpected end");
    if (c == '(') {
      ++i_;
      item.isGroup = true;
      item.children = parseList();
      expect(')');
      item.repeat = rep < 0 ? 1 : rep;
      return item;
    }
    if (c == '\'' || c == '"') {
      item.step.kind = Step::Literal;
      item.step.text = quoted(c);
      item.repeat = rep < 0 ? 1 : rep;
      return item;
    }
    ++i_;
    switch (c) {
      case '/':
        item.step.kind = Step::Slash;
        item.repeat = rep < 0 ? 1 : rep;
        return item;
      case ':':
        item.step.kind = Step::Colon;
        return item;
      case 'X':
        item.step.kind = Step::Blanks;
        item.step.count = rep < 0 ? 1 : rep;
        return item;
      case 'T': {
        item.step.kind = Step::TabTo;
        const char d = peek();
        if (d == 'L' || d == 'R') {
          item.step.kind = d == 'L' ? Step::TabLeft : Step::TabRight;
          ++i_;
        }
        item.step.count = number();
        if (item.step.count < 0) fail("T needs a column");
        return item;
      }
      case 'I':
      case 'F':
      case 'A':
      case 'L': {
        item.repeat = rep < 0 ? 1 : rep;
        item.step.kind = Step::Data;
        item.step.code = c;
        item.step.width = number();
        if (peek() == '.') {
          ++i_;
          item.step.digits = number();
          if (item.step.digits < 0) fail("digits expected after '.'");
        }
        if (c == 'F' && (item.step.width < 0 || item.step.digits < 0)) fail("F needs w.d");
        if (c == 'I' && item.step.width < 0) fail("I needs a width");
        if (c == 'L' && item.step.width < 0) item.step.width = 2;
        return item;
      }
      default:
        fail(std::string("unknown edit descriptor '") + c + "'");
    }
  }

  std::string quoted(char q) {
    ++i_;
    std::string out;
    while (i_ < s_.size()) {
      const char c = s_[i_++];
      if (c != q) {
        out += c;
      } else if (i_ < s_.size() && s_[i_] == q) {
        out += q;
        ++i_;
      } else {
        return out;
      }
    }
    fail("unterminated literal");
  }

  std::string_view s_;
  std::size_t i_ = 0;
};

// Upper bound on the expanded steps of one layout, so that nested repeat
// counts cannot exhaust memory.
constexpr std::size_t kMaxSteps = 1000000;

void expandItem(const Item& item, std::vector<Step>& out, std::string_view layout) {
  for (int32_t r = 0; r < item.repeat; ++r) {
    if (out.size() > kMaxSteps) {
      throw std::invalid_argument("layout \"" + std::string(layout) + "\": repeat counts too large");
    }
    if (item.isGroup) {
      for (const Item& child : item.children) expandItem(child, out, layout);
    } else {
      out.push_back(item.step);
    }
  }
}

std::string asterisks(int32_t w) { return std::string(static_cast<std::size_t>(w), '*'); }

std::string rightJustify(const std::string& s, int32_t w) {
  if (w <= 0) return s;  // width 0: as many columns as needed
  if (static_cast<int32_t>(s.size()) > w) return asterisks(w);
  return std::string(static_cast<std::size_t>(w) - s.size(), ' ') + s;
}

std::string formatInteger(int64_t v, int32_t w, int32_t m) {
  if (m == 0 && v == 0) return std::string(static_cast<std::size_t>(std::max(w, 0)), ' ');
  const uint64_t mag = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
  std::string digits = std::to_string(mag);
  if (m > 0 && static_cast<int32_t>(digits.size()) < m) {
    digits.insert(0, static_cast<std::size_t>(m) - digits.size(), '0');
  }
  if (v < 0) digits.insert(digits.begin(), '-');
  return rightJustify(digits, w);
}

std::string formatFixed(double v, int32_t w, int32_t d) {
  std::string s;
  if (std::isnan(v)) {
    s = "NaN";
  } else if (std::isinf(v)) {
    s = w >= 9 || w == 0 ? "Infinity" : "Inf";
    if (v < 0) s.insert(s.begin(), '-');
  } else {
    // The binary value is rounded correctly to d decimals; "%#" keeps the
    // decimal point when d is 0, as a Fortran F field does.
    const int len = std::snprintf(nullptr, 0, "%#.*f", d, v);
    s.resize(static_cast<std::size_t>(len) + 1);
    std::snprintf(s.data(), s.size(), "%#.*f", d, v);
    s.resize(static_cast<std::size_t>(len));
    // The zero before the point is optional: drop it when it does not fit.
    if (w > 0 && static_cast<int32_t>(s.size()) > w) {
      if (s.rfind("0.", 0) == 0) {
        s.erase(0, 1);
      } else if (s.rfind("-0.", 0) == 0) {
        s.erase(1, 1);
      }
    }
  }
  return rightJustify(s, w);
}

std::string formatText(const std::string& s, int32_t w) {
  if (w < 0) return s;
  if (static_cast<int32_t>(s.size()) >= w) return s.substr(0, static_cast<std::size_t>(w));
  return std::string(static_cast<std::size_t>(w) - s.size(), ' ') + s;
}

std::string formatData(const Step& step, const FmtArg& arg, std::string_view layout) {
  const FmtArg::Value& v = arg.value();
  auto wrongKind = [&]() -> std::string {
    throw std::invalid_argument("layout \"" + std::string(layout) + "\": argument of the wrong kind for " +
                                step.code);
  };
  switch (step.code) {
    case 'I':
      if (const auto* i = std::get_if<int64_t>(&v)) return formatInteger(*i, step.width, step.digits);
      return wrongKind();
    case 'F':
      if (const auto* f = std::get_if<float>(&v)) return formatFixed(static_cast<double>(*f), step.width, step.digits);
      if (const auto* d = std::get_if<double>(&v)) return formatFixed(*d, step.width, step.digits);
      return wrongKind();
    case 'A':
      if (const auto* s = std::get_if<std::string>(&v)) return formatText(*s, step.width);
      return wrongKind();
    case 'L':
      if (const auto* b = std::get_if<bool>(&v)) return rightJustify(*b ? "T" : "F", step.width);
      return wrongKind();
    default:
      return wrongKind();
  }
}

// One output record under construction, with a column position that X and T
// move; positioning past the end writes blanks only when text follows.
class Record {
 public:
  void put(const std::string& s) {
    if (text_.size() < pos_) text_.resize(pos_, ' ');
    text_.replace(pos_, std::min(s.size(), text_.size() - pos_), s);
    pos_ += s.size();
  }
  void moveTo(std::size_t col) { pos_ = col; }
  std::size_t pos() const { return pos_; }
  std::string take() {
    std::string t = std::move(text_);
    text_.clear();
    pos_ = 0;
    return t;
  }

 private:
  std::string text_;
  std::size_t pos_ = 0;
};

}  // namespace

std::string formatLayout(std::string_view layout, std::span<const FmtArg> args) {
  const std::vector<Item> items = LayoutParser(layout).parse();
  // Format reversion restarts at the last top-level group (or at the start).
  std::vector<Step> steps;
  std::size_t reversion = 0;
  for (const Item& item : items) {
    if (item.isGroup) reversion = steps.size();
    expandItem(item, steps, layout);
  }
  bool reversionHasData = false;
  for (std::size_t k = reversion; k < steps.size(); ++k) {
    if (steps[k].kind == Step::Data) reversionHasData = true;
  }

  std::string out;
  Record rec;
  auto endRecord = [&]() {
    out += rec.take();
    out += '\n';
  };
  std::size_t next = 0;
  std::size_t k = 0;
  for (;;) {
    if (k == steps.size()) {
      if (next == args.size()) break;
      if (!reversionHasData) {
        throw std::invalid_argument("layout \"" + std::string(layout) + "\": more arguments than descriptors");
      }
      endRecord();
      k = reversion;
      continue;
    }
    const Step& step = steps[k++];
    switch (step.kind) {
      case Step::Data:
        if (next == args.size()) {
          out += rec.take();
          return out;
        }
        rec.put(formatData(step, args[next++], layout));
        break;
      case Step::Colon:
        if (next == args.size()) {
          out += rec.take();
          return out;
        }
        break;
      case Step::Literal:
        rec.put(step.text);
        break;
      case Step::Blanks:
      case Step::TabRight:
        rec.moveTo(rec.pos() + static_cast<std::size_t>(step.count));
        break;
      case Step::TabLeft:
        rec.moveTo(rec.pos() - std::min(rec.pos(), static_cast<std::size_t>(step.count)));
        break;
      case Step::TabTo:
        rec.moveTo(static_cast<std::size_t>(std::max(step.count, 1) - 1));
        break;
      case Step::Slash:
        endRecord();
        break;
    }
  }
  out += rec.take();
  return out;
}

std::string formatLayout(std::string_view layout, std::initializer_list<FmtArg> args) {
  return formatLayout(layout, std::span<const FmtArg>(args.begin(), args.size()));
}

void appendFreeReal(std::string& out, double v) {
  if (std::isnan(v)) {
    out += "NaN";
    return;
  }
  if (std::isinf(v)) {
    out += v < 0 ? "-Infinity" : "Infinity";
    return;
  }
  if (v == 0.0) {
    out += "0.0";
    return;
  }
  char buf[40];
  const double a = std::fabs(v);
  if (a >= 1e-4 && a < 1e7) {
    // Shortest of fixed and scientific with 7 significant digits, exactly as
    // printf's %.7g writes it, but without the cost of a formatted print.
    const std::to_chars_result r =
        std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 7);
    const std::string_view s(buf, static_cast<std::size_t>(r.ptr - buf));
    if (s.find('e') == std::string_view::npos) {
      out += s;
      if (s.find('.') == std::string_view::npos) out += ".0";
      return;
    }
  }
  // Scientific form; trailing zeros of the mantissa dropped, one kept.
  std::snprintf(buf, sizeof buf, "%.6E", v);
  std::string s = buf;
  const std::size_t e = s.find('E');
  std::size_t last = e - 1;
  while (s[last] == '0' && s[last - 1] != '.') --last;
  s.erase(last + 1, e - last - 1);
  out += s;
}

std::string freeReal(double v) {
  std::string s;
  appendFreeReal(s, v);
  return s;
}

namespace {

std::string freeItem(const FmtArg& arg) {
  const FmtArg::Value& v = arg.value();
  if (const auto* i = std::get_if<int64_t>(&v)) return std::to_string(*i);
  if (const auto* f = std::get_if<float>(&v)) return freeReal(static_cast<double>(*f));
  if (const auto* d = std::get_if<double>(&v)) return freeReal(*d);
  if (const auto* b = std::get_if<bool>(&v)) return *b ? "T" : "F";
  return std::get<std::string>(v);
}

}  // namespace

std::string freeLine(std::span<const FmtArg> items) {
  std::string out;
  for (const FmtArg& item : items) {
    const std::string s = freeItem(item);
    if (s.empty()) continue;
    if ((out.empty() || out.back() != ' ') && s.front() != ' ') out += ' ';
    out += s;
  }
  return out;
}

std::string freeLine(std::initializer_list<FmtArg> items) {
  return freeLine(std::span<const FmtArg>(items.begin(), items.size()));
}

}  // namespace kavrel
