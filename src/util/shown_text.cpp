#include "util/shown_text.h"

#include <cstdio>

namespace kavrel {

bool hasControlCharacter(std::string_view text) {
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f) return true;
  }
  return false;
}

std::string escapedText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (u < 0x20 || u == 0x7f) {
      char code[5];
      std::snprintf(code, sizeof code, "\\x%02x", u);
      out += code;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::string shownText(std::string_view text) {
  if (text.size() <= kMaxQuotedLength) return escapedText(text);
  return escapedText(text.substr(0, kMaxQuotedLength)) + "... (" + std::to_string(text.size()) +
         " bytes)";
}

}  // namespace kavrel
