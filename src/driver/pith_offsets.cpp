#include "driver/pith_offsets.h"

#include <cctype>
#include <limits>

#include "util/cfile.h"

namespace kavrel {

namespace {

// Largest column count or width accepted in a format item; far beyond any
// record a pith-offset file holds, small enough to keep sums in range.
constexpr int32_t kMaxFormatNumber = 100000;

bool parseCount(std::string_view digits, int32_t& n) {
  if (digits.empty()) return false;
  int64_t v = 0;
  for (char c : digits) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    v = v * 10 + (c - '0');
    if (v > kMaxFormatNumber) return false;
  }
  n = static_cast<int32_t>(v);
  return true;
}

// "'item' text", built by appending (GCC 12 warns falsely on a chain of +).
std::string quoted(std::string_view item, std::string_view text) {
  std::string r;
  r.reserve(item.size() + text.size() + 2);
  r.push_back('\'');
  r.append(item);
  r.push_back('\'');
  r.append(text);
  return r;
}

}  // namespace

std::optional<PithFormat> parsePithFormat(std::string_view format, std::string* why) {
  auto fail = [why](const std::string& reason) -> std::optional<PithFormat> {
    if (why != nullptr) *why = reason;
    return std::nullopt;
  };
  std::string s;
  for (char c : format) {
    if (c != ' ' && c != '\t') s += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  if (s.size() < 2 || s.front() != '(' || s.back() != ')') {
    return fail("the format must be enclosed in parentheses");
  }
  std::string_view body(s);
  body = body.substr(1, body.size() - 2);
  PithFormat result;
  bool haveField = false;
  size_t pos = 0;
  while (pos <= body.size()) {
    size_t comma = body.find(',', pos);
    if (comma == std::string_view::npos) comma = body.size();
    std::string_view item = body.substr(pos, comma - pos);
    pos = comma + 1;
    if (item.empty()) return fail("empty item in the format");
    if (item.back() == 'x') {
      // nX, or X alone for one column.
      int32_t n = 1;
      if (item.size() > 1 && !parseCount(item.substr(0, item.size() - 1), n)) {
        return fail(quoted(item, " is not a column skip nX"));
      }
      if (!haveField) result.skip += n;
      if (result.skip > kMaxFormatNumber) return fail("too many columns skipped");
    } else if (item.front() == 'i') {
      int32_t w = 0;
      if (!parseCount(item.substr(1), w) || w < 1) {
        return fail(quoted(item, " is not an integer field Iw"));
      }
      if (!haveField) {
        result.width = w;
        haveField = true;
      }
    } else {
      return fail(quoted(item, " is not one of the forms nX or Iw"));
    }
  }
  if (!haveField) return fail("the format has no integer field Iw");
  return result;
}

bool readPithField(std::string_view record, const PithFormat& format, int32_t& value) {
  std::string_view field;
  const size_t skip = static_cast<size_t>(format.skip);
  if (skip < record.size()) {
    field = record.substr(skip, static_cast<size_t>(format.width));
  }
  // Blanks (and tabs) anywhere in the field are ignored, as are the blanks
  // that pad a short record: an empty field reads 0.
  bool negative = false;
  bool signSeen = false;
  bool digitSeen = false;
  int64_t v = 0;
  for (char c : field) {
    if (c == ' ' || c == '\t') continue;
    if ((c == '+' || c == '-') && !signSeen && !digitSeen) {
      signSeen = true;
      negative = (c == '-');
      continue;
    }
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    digitSeen = true;
    v = v * 10 + (c - '0');
    if (v > static_cast<int64_t>(std::numeric_limits<int32_t>::max()) + 1) return false;
  }
  if (signSeen && !digitSeen) return false;
  if (negative) v = -v;
  if (v > std::numeric_limits<int32_t>::max() || v < std::numeric_limits<int32_t>::min()) {
    return false;
  }
  value = static_cast<int32_t>(v);
  return true;
}

PithReadResult readPithOffsets(std::FILE* file, const PithFormat& format, int32_t maxRecords) {
  PithReadResult result;
  std::string record;
  while (static_cast<int32_t>(result.offsets.size()) < maxRecords) {
    if (!readTextLine(file, record)) break;  // end of file
    int32_t value = 0;
    if (!readPithField(record, format, value)) {
      result.badRecord = static_cast<int32_t>(result.offsets.size()) + 1;
      break;
    }
    if (value < 0) {
      result.badRecord = static_cast<int32_t>(result.offsets.size()) + 1;
      result.negative = true;
      break;
    }
    result.offsets.push_back(value);
  }
  return result;
}

}  // namespace kavrel
