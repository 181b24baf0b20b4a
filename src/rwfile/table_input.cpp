// What the table inputs share: the format names, telling the formats apart
// by content, and the eight-character identifiers of the decade files.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <map>
#include <set>
#include <string>
#include <utility>

#include "rwfile/series_table.h"

namespace kavrel {

namespace {

constexpr std::size_t kDecadeIdWidth = 8;

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(s[i])) != prefix[i]) return false;
  }
  return true;
}

// The next non-blank line of `text` from `pos`, without its line end; empty
// at the end. `complete` tells whether the line ended before the text did.
std::string_view nextNonBlankLine(std::string_view text, std::size_t& pos, bool& complete) {
  while (pos < text.size()) {
    std::size_t end = text.find_first_of("\r\n", pos);
    complete = end != std::string_view::npos;
    if (!complete) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    if (line.find_first_not_of(" \t") != std::string_view::npos) return line;
  }
  complete = false;
  return {};
}

bool printable(unsigned char c) { return c >= 0x20 && c < 0x7f; }

std::string trimmedRight(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// The form of a name whose first eight characters are taken: a stem of its
// first 8 - d characters and the lowest free number of d digits, for d = 1,
// 2, ... `next` keeps for each stem and d the lowest number that may still be
// free, so that many names of one stem take linear time.
std::string numbered(const std::string& clean, const std::set<std::string>& taken,
                     std::map<std::pair<std::string, int32_t>, int32_t>& next) {
  int32_t low = 1;
  for (int32_t digits = 1;; ++digits) {
    const std::string stem = clean.substr(0, kDecadeIdWidth - static_cast<std::size_t>(digits));
    int32_t& n = next.try_emplace({stem, digits}, low).first->second;
    const int32_t high = low * 10 - 1;
    while (n <= high && taken.count(stem + std::to_string(n)) != 0) ++n;
    if (n <= high) return stem + std::to_string(n++);
    low *= 10;
  }
}

}  // namespace

std::string_view inputFormatName(InputFormat format) {
  switch (format) {
    case InputFormat::decade:
      return "decade";
    case InputFormat::heidelberg:
      return "heidelberg";
    case InputFormat::csv:
      return "csv";
    case InputFormat::automatic:
      break;
  }
  return "auto";
}

std::optional<InputFormat> inputFormatNamed(std::string_view name) {
  for (InputFormat f : {InputFormat::decade, InputFormat::heidelberg, InputFormat::csv}) {
    if (name == inputFormatName(f)) return f;
  }
  return std::nullopt;
}

char csvSeparator(std::string_view firstLine) {
  std::size_t commas = 0;
  std::size_t tabs = 0;
  bool quoted = false;
  for (char c : firstLine) {
    if (c == '"') quoted = !quoted;
    if (quoted) continue;
    commas += c == ',';
    tabs += c == '\t';
  }
  if (commas + tabs == 0) return 0;
  return commas >= tabs ? ',' : '\t';
}

InputFormat detectInputFormat(std::string_view head) {
  if (head.substr(0, 3) == "\xEF\xBB\xBF") head.remove_prefix(3);
  std::size_t pos = 0;
  bool complete = false;
  std::string_view first = nextNonBlankLine(head, pos, complete);
  const std::size_t lead = first.find_first_not_of(" \t");
  if (lead != std::string_view::npos) {
    const std::string_view text = first.substr(lead);
    if (startsWithNoCase(text, "HEADER:") || startsWithNoCase(text, "DATA:")) {
      return InputFormat::heidelberg;
    }
  }
  const char sep = csvSeparator(first);
  if (sep == 0 || !complete) return InputFormat::decade;
  std::string_view second = nextNonBlankLine(head, pos, complete);
  const std::size_t cut = second.find(sep);
  if (cut == std::string_view::npos) return InputFormat::decade;
  std::string_view year = second.substr(0, cut);
  while (!year.empty() && (year.front() == ' ' || year.front() == '"')) year.remove_prefix(1);
  while (!year.empty() && (year.back() == ' ' || year.back() == '"')) year.remove_suffix(1);
  int32_t value = 0;
  const auto [end, ec] = std::from_chars(year.data(), year.data() + year.size(), value);
  return ec == std::errc() && end == year.data() + year.size() && !year.empty()
             ? InputFormat::csv
             : InputFormat::decade;
}

void assignDecadeIds(SeriesTable& table) {
  auto fits = [](const std::string& name) {
    // Trailing blanks would be lost in the decade files' columns.
    return name.size() <= kDecadeIdWidth && (name.empty() || name.back() != ' ') &&
           std::all_of(name.begin(), name.end(), [](char c) { return printable(c); });
  };
  // Forms taken by the names kept as they are; shortened forms join as given.
  std::set<std::string> taken;
  std::map<std::pair<std::string, int32_t>, int32_t> nextNumber;
  for (const TableSeries& s : table.series) {
    if (fits(s.name)) taken.insert(trimmedRight(s.name));
  }
  for (std::size_t i = 0; i < table.series.size(); ++i) {
    TableSeries& s = table.series[i];
    if (fits(s.name)) {
      s.decadeId = s.name;
      continue;
    }
    std::string clean = s.name;
    for (char& c : clean) {
      if (!printable(static_cast<unsigned char>(c))) c = '_';
    }
    std::string id = trimmedRight(clean.substr(0, kDecadeIdWidth));
    if (id.empty() || taken.count(id) != 0) id = numbered(clean, taken, nextNumber);
    taken.insert(id);
    s.decadeId = id;
    table.warnings.push_back(TableWarning{
        i, RwWarning{
               RwWarning::Kind::NameShortened, s.line, std::string(),
               "series name \"" + clean + "\" is written as \"" + id + "\" in the decade files"}});
  }
  std::stable_sort(
      table.warnings.begin(), table.warnings.end(),
      [](const TableWarning& a, const TableWarning& b) { return a.before < b.before; });
}

}  // namespace kavrel
