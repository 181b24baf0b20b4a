#include "rwfile/fields.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

namespace kavrel::rw {

bool readIntField(std::string_view field, int32_t& value) {
  int64_t magnitude = 0;
  bool negative = false;
  bool sawSign = false;
  bool sawDigit = false;
  for (char c : field) {
    if (c == ' ') continue;  // blanks inside a numeric field carry no meaning
    if ((c == '-' || c == '+') && !sawSign && !sawDigit) {
      sawSign = true;
      negative = (c == '-');
    } else if (c >= '0' && c <= '9') {
      sawDigit = true;
      magnitude = magnitude * 10 + (c - '0');
      if (magnitude > int64_t{std::numeric_limits<int32_t>::max()} + 1) return false;
    } else {
      return false;
    }
  }
  if (sawSign && !sawDigit) return false;
  const int64_t signedValue = negative ? -magnitude : magnitude;
  if (signedValue > std::numeric_limits<int32_t>::max()) return false;
  value = static_cast<int32_t>(signedValue);
  return true;
}

bool readRealField(std::string_view field, int32_t decimals, float& value) {
  // The mantissa's digits are gathered without the point and the point's
  // place is carried in the exponent, so the conversion does not depend on
  // the locale's decimal separator.
  std::string digits;
  bool negative = false;
  bool sawSign = false;
  bool sawPoint = false;
  int32_t fractionDigits = 0;
  std::size_t i = 0;
  auto skipBlanks = [&] {
    while (i < field.size() && field[i] == ' ') ++i;
  };
  skipBlanks();
  if (i < field.size() && (field[i] == '-' || field[i] == '+')) {
    negative = field[i] == '-';
    sawSign = true;
    ++i;
  }
  for (; i < field.size(); ++i) {
    const char c = field[i];
    if (c == ' ') continue;
    if (c >= '0' && c <= '9') {
      if (digits.size() < 40) {
        digits.push_back(c);
        if (sawPoint) ++fractionDigits;
      } else if (!sawPoint) {
        return false;  // absurdly long integer part
      }
    } else if (c == '.' && !sawPoint) {
      sawPoint = true;
    } else {
      break;
    }
  }
  if (digits.empty()) {
    // An all-blank field reads as zero; a lone sign or point does not.
    if (i >= field.size() && !sawSign && !sawPoint) {
      value = 0.0f;
      return true;
    }
    return false;
  }
  int32_t exponent = 0;
  if (i < field.size()) {
    const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(field[i])));
    if (c == 'E' || c == 'D' || c == 'Q') {
      ++i;
    } else if (c != '+' && c != '-') {
      return false;
    }
    skipBlanks();
    int32_t expValue = 0;
    std::string_view rest = field.substr(i);
    if (rest.find_first_not_of(' ') == std::string_view::npos) return false;
    if (!readIntField(rest, expValue) || expValue > 1000 || expValue < -1000) return false;
    exponent = expValue;
  }
  exponent -= sawPoint ? fractionDigits : decimals;
  std::string text = (negative ? "-" : "") + digits + "e" + std::to_string(exponent);
  char* end = nullptr;
  const float parsed = std::strtof(text.c_str(), &end);
  if (end == nullptr || *end != '\0' || !std::isfinite(parsed)) return false;
  value = parsed;
  return true;
}

namespace {

// Expanding repeat counts stops here; no sensible read format comes near it.
constexpr std::size_t kMaxExpandedItems = 10000;

class FormatParser {
 public:
  explicit FormatParser(std::string_view text) : text_(text) {}

  std::optional<ReadFormat> parse() {
    skipBlanks();
    if (!take('(')) return std::nullopt;
    ReadFormat format;
    if (!parseList(format.items, /*topLevel=*/true, format.reversion)) return std::nullopt;
    // Reading goes on from the reversion item whenever the items are used up,
    // so the items from there to the end must hold a numeric field: "(i3,())"
    // or "(i3,(/))" would read nothing, or past the item list, forever.
    const auto isData = [](const FormatItem& item) {
      return item.kind == FormatItem::Kind::Int || item.kind == FormatItem::Kind::Real;
    };
    if (std::none_of(format.items.begin() + static_cast<std::ptrdiff_t>(format.reversion),
                     format.items.end(), isData)) {
      return std::nullopt;
    }
    return format;
  }

 private:
  void skipBlanks() {
    while (pos_ < text_.size() && text_[pos_] == ' ') ++pos_;
  }
  bool take(char c) {
    skipBlanks();
    if (pos_ < text_.size() && std::tolower(static_cast<unsigned char>(text_[pos_])) == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  char peek() {
    skipBlanks();
    return pos_ < text_.size()
               ? static_cast<char>(std::tolower(static_cast<unsigned char>(text_[pos_])))
               : '\0';
  }
  // Reads an unsigned number; -1 when none is present.
  int32_t number() {
    skipBlanks();
    int64_t n = -1;
    while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') {
      n = (n < 0 ? 0 : n) * 10 + (text_[pos_] - '0');
      if (n > 100000) return -2;
      ++pos_;
      skipBlanks();
    }
    return static_cast<int32_t>(n);
  }

  // Parses items up to the closing parenthesis of the current group.
  bool parseList(std::vector<FormatItem>& out, bool topLevel, std::size_t& reversion) {
    while (true) {
      const char c = peek();
      if (c == ')') {
        ++pos_;
        return true;
      }
      if (c == ',') {
        ++pos_;
        continue;
      }
      if (c == '/') {
        ++pos_;
        out.push_back({FormatItem::Kind::NextRecord});
        continue;
      }
      if (c == '\0') return false;
      int32_t repeat = number();
      if (repeat == -2 || repeat == 0) return false;
      const char d = peek();
      if (d == '(') {
        // Groups nest a few levels in any real format; a limit keeps the
        // recursion bounded whatever the text.
        if (depth_ == kMaxGroupDepth) return false;
        ++pos_;
        std::vector<FormatItem> group;
        std::size_t innerReversion = 0;
        ++depth_;
        const bool ok = parseList(group, false, innerReversion);
        --depth_;
        if (!ok) return false;
        if (topLevel) reversion = out.size();
        if (!append(out, group, repeat < 0 ? 1 : repeat)) return false;
        continue;
      }
      FormatItem item{FormatItem::Kind::Skip};
      if (d == 'x') {
        ++pos_;
        item = {FormatItem::Kind::Skip, repeat < 0 ? 1 : repeat};
        repeat = 1;
      } else if (d == 't') {
        ++pos_;
        FormatItem::Kind kind = FormatItem::Kind::TabTo;
        if (take('l')) kind = FormatItem::Kind::TabLeft;
        else if (take('r')) kind = FormatItem::Kind::TabRight;
        const int32_t n = number();
        if (n < 0 || repeat >= 0) return false;
        item = {kind, n};
        repeat = 1;
      } else if (d == 'i') {
        ++pos_;
        const int32_t w = number();
        if (w <= 0) return false;
        if (take('.')) {
          if (number() < 0) return false;  // a minimum-digits count has no effect on input
        }
        item = {FormatItem::Kind::Int, w};
      } else if (d == 'f' || d == 'e' || d == 'd' || d == 'g') {
        ++pos_;
        const int32_t w = number();
        if (w <= 0 || !take('.')) return false;
        const int32_t dd = number();
        if (dd < 0) return false;
        if (d != 'f' && take('e') && number() < 0) return false;
        item = {FormatItem::Kind::Real, w, dd};
      } else {
        return false;
      }
      const std::vector<FormatItem> single{item};
      if (!append(out, single, repeat < 0 ? 1 : repeat)) return false;
    }
  }

  static bool append(std::vector<FormatItem>& out, const std::vector<FormatItem>& items,
                     int32_t times) {
    if (out.size() + items.size() * static_cast<std::size_t>(times) > kMaxExpandedItems) {
      return false;
    }
    for (int32_t r = 0; r < times; ++r) out.insert(out.end(), items.begin(), items.end());
    return true;
  }

  static constexpr int32_t kMaxGroupDepth = 16;

  std::string_view text_;
  std::size_t pos_ = 0;
  int32_t depth_ = 0;  // groups open around the current item
};

}  // namespace

std::optional<ReadFormat> parseReadFormat(std::string_view text) {
  return FormatParser(text).parse();
}

}  // namespace kavrel::rw
