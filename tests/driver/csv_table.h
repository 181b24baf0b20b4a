// A small CSV reader for the tests, written apart from the program's writers:
// a header row, comma-separated fields, fields in double quotes may hold
// commas and doubled quotes, rows end in LF.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace kavrel::test {

struct CsvTable {
  std::vector<std::string> header;
  std::vector<std::vector<std::string>> rows;

  size_t column(const std::string& name) const {
    for (size_t i = 0; i < header.size(); ++i) {
      if (header[i] == name) return i;
    }
    ADD_FAILURE() << "no column " << name;
    return 0;
  }
  const std::string& at(size_t row, const std::string& name) const {
    return rows.at(row).at(column(name));
  }
  bool empty(size_t row, const std::string& name) const { return at(row, name).empty(); }
  double number(size_t row, const std::string& name) const {
    const std::string& text = at(row, name);
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    EXPECT_TRUE(!text.empty() && *end == '\0') << name << " row " << row << ": '" << text << "'";
    return v;
  }
};

// Every row must have as many fields as the header.
inline CsvTable parseCsv(const std::string& text) {
  CsvTable table;
  std::vector<std::vector<std::string>> lines;
  std::vector<std::string> fields;
  std::string field;
  bool quoted = false;
  bool anything = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
      continue;
    }
    if (c == '"') {
      quoted = true;
      anything = true;
    } else if (c == ',') {
      fields.push_back(field);
      field.clear();
    } else if (c == '\n') {
      fields.push_back(field);
      lines.push_back(fields);
      fields.clear();
      field.clear();
      anything = false;
    } else {
      field += c;
      anything = true;
    }
  }
  EXPECT_FALSE(quoted) << "unterminated quote";
  EXPECT_TRUE(!anything && fields.empty()) << "last row without a line end";
  if (lines.empty()) {
    ADD_FAILURE() << "no header row";
    return table;
  }
  table.header = lines.front();
  for (size_t r = 1; r < lines.size(); ++r) {
    EXPECT_EQ(lines[r].size(), table.header.size()) << "row " << r;
    table.rows.push_back(lines[r]);
  }
  return table;
}

}  // namespace kavrel::test
