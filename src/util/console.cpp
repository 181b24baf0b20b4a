// The answer reader and screen writer over C stdio.
#include "util/console.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "util/fatal.h"

namespace kavrel {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }
bool isSeparator(char c) { return isBlank(c) || c == ',' || c == '/'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The first unquoted item of a line: from the first non-blank character up to
// a blank, comma or slash (empty when the line holds none).
std::string_view firstItem(std::string_view line) {
  std::size_t b = 0;
  while (b < line.size() && isBlank(line[b])) ++b;
  std::size_t e = b;
  while (e < line.size() && !isSeparator(line[e])) ++e;
  return line.substr(b, e - b);
}

// Drops a repeat count "r*" from a value item; a null value "r*" stays empty.
std::string_view withoutRepeat(std::string_view item) {
  const std::size_t star = item.find('*');
  if (star == std::string_view::npos || star == 0) return item;
  for (std::size_t i = 0; i < star; ++i) {
    if (!isDigit(item[i])) return item;
  }
  return item.substr(star + 1);
}

// Digits with an optional sign: the whole item must be used.
bool isIntegerText(std::string_view s) {
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  if (i == s.size()) return false;
  for (; i < s.size(); ++i) {
    if (!isDigit(s[i])) return false;
  }
  return true;
}

// A real in list-directed form; returns it rewritten for strtof (d -> e), or
// an empty string when the item is not a number.
std::string realText(std::string_view s) {
  std::string out;
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) out += s[i++];
  std::size_t digits = 0;
  while (i < s.size() && isDigit(s[i])) {
    out += s[i++];
    ++digits;
  }
  if (i < s.size() && s[i] == '.') {
    out += s[i++];
    while (i < s.size() && isDigit(s[i])) {
      out += s[i++];
      ++digits;
    }
  }
  if (digits == 0) return {};
  if (i < s.size()) {
    const char c = s[i];
    if (c != 'e' && c != 'E' && c != 'd' && c != 'D') return {};
    out += 'e';
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) out += s[i++];
    std::size_t expDigits = 0;
    while (i < s.size() && isDigit(s[i])) {
      out += s[i++];
      ++expDigits;
    }
    if (expDigits == 0 || i != s.size()) return {};
  }
  return out;
}

}  // namespace

std::optional<bool> parseLogical(std::string_view line) {
  std::string_view item = withoutRepeat(firstItem(line));
  if (!item.empty() && item[0] == '.') item.remove_prefix(1);
  if (item.empty()) return std::nullopt;
  switch (item[0]) {
    case 't':
    case 'T':
      return true;
    case 'f':
    case 'F':
      return false;
    default:
      return std::nullopt;
  }
}

std::optional<int32_t> parseInteger(std::string_view line) {
  const std::string_view item = withoutRepeat(firstItem(line));
  if (!isIntegerText(item)) return std::nullopt;
  const std::string text(item);
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(text.c_str(), &end, 10);
  if (errno == ERANGE || v < std::numeric_limits<int32_t>::min() ||
      v > std::numeric_limits<int32_t>::max()) {
    return std::nullopt;
  }
  return static_cast<int32_t>(v);
}

std::optional<float> parseReal(std::string_view line) {
  const std::string text = realText(withoutRepeat(firstItem(line)));
  if (text.empty()) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  // Straight from decimal to single precision: one correct rounding.
  const float v = std::strtof(text.c_str(), &end);
  if (errno == ERANGE && std::isinf(v)) return std::nullopt;
  if (!std::isfinite(v)) return std::nullopt;
  return v;
}

std::optional<std::string> parseText(std::string_view line) {
  std::size_t b = 0;
  while (b < line.size() && isBlank(line[b])) ++b;
  if (b == line.size()) return std::nullopt;
  const char q = line[b];
  if (q == '\'' || q == '"') {
    std::string out;
    for (std::size_t i = b + 1; i < line.size(); ++i) {
      if (line[i] != q) {
        out += line[i];
      } else if (i + 1 < line.size() && line[i + 1] == q) {
        out += q;  // a doubled quote is one quote
        ++i;
      } else if (out.empty()) {
        return std::nullopt;  // '' holds no text
      } else {
        return out;
      }
    }
    return std::nullopt;  // no closing quote
  }
  const std::string_view item = firstItem(line);
  if (item.empty()) return std::nullopt;
  return std::string(item);
}

std::string unquotedAnswer(std::string_view line) {
  std::size_t b = 0;
  while (b < line.size() && isBlank(line[b])) ++b;
  std::size_t e = line.size();
  while (e > b && isBlank(line[e - 1])) --e;
  line = line.substr(b, e - b);
  if (line.empty() || (line.front() != '\'' && line.front() != '"')) return std::string(line);
  return parseText(line).value_or(std::string());
}

Console::Console(std::FILE* in, std::FILE* out) : in_(in), out_(out) {}

std::optional<std::string> Console::readBoundedLine(bool& tooLong) {
  std::fflush(out_);
  // Character by character, so that a NUL byte in the input is kept as an
  // ordinary character instead of cutting the line short. Beyond
  // kMaxAnswerBytes (and a CR) the line is read to its end but not kept.
  std::string line;
  tooLong = false;
  int c = std::getc(in_);
  if (c == EOF) return std::nullopt;
  while (c != EOF && c != '\n') {
    if (line.size() <= kMaxAnswerBytes)
      line += static_cast<char>(c);
    else
      tooLong = true;
    c = std::getc(in_);
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.size() > kMaxAnswerBytes) tooLong = true;
  if (tooLong) line.clear();
  return line;
}

std::optional<std::string> Console::tryReadLine() {
  bool tooLong = false;
  return readBoundedLine(tooLong);
}

std::string Console::readLine() {
  for (;;) {
    bool tooLong = false;
    std::optional<std::string> line = readBoundedLine(tooLong);
    if (!line) {
      // The cursor may stand after a prompt: end that line, so the message
      // that ends the run gets a line of its own.
      if (!atLineStart_) writeLine("");
      std::fflush(out_);
      throw Fatal(kEndOfInputMessage);
    }
    if (!tooLong) return *line;
    if (!atLineStart_) writeLine("");
    writeLine(kAnswerTooLong);
  }
}

namespace {

// Writes the block, reads answers until one parses.
template <typename Parse>
auto ask(Console& c, std::string_view block, Parse parse) {
  for (;;) {
    c.write(block);
    if (auto v = parse(c.readLine())) return *v;
  }
}

}  // namespace

bool Console::askLogical(std::string_view block) { return ask(*this, block, parseLogical); }
int32_t Console::askInteger(std::string_view block) { return ask(*this, block, parseInteger); }
float Console::askReal(std::string_view block) { return ask(*this, block, parseReal); }
std::string Console::askText(std::string_view block) { return ask(*this, block, parseText); }

std::string Console::askQuotedText(std::string_view block) {
  for (;;) {
    write(block);
    const std::string line = readLine();
    std::size_t b = 0;
    while (b < line.size() && isBlank(line[b])) ++b;
    const bool quoted = b < line.size() && (line[b] == '\'' || line[b] == '"');
    std::optional<std::string> text = parseText(line);
    if (!text) continue;
    // Unquoted, the item must be all there is: "(10x,i3)" would lose ",i3)".
    std::size_t e = line.size();
    while (e > b && isBlank(line[e - 1])) --e;
    if (quoted || text->size() == e - b) return *text;
    writeLine(kFormatInQuotes);
  }
}

void Console::pause(std::string_view line) {
  writeLine(line);
  readLine();
}

void Console::write(std::string_view text) {
  if (text.empty()) return;
  std::fwrite(text.data(), 1, text.size(), out_);
  atLineStart_ = text.back() == '\n';
}

void Console::writeLine(std::string_view text) {
  write(text);
  std::fputc('\n', out_);
  atLineStart_ = true;
}

void Console::flush() { std::fflush(out_); }

Console& stdConsole() {
  static Console console(stdin, stdout);
  return console;
}

}  // namespace kavrel
