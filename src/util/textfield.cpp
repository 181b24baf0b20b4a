// Fixed-length blank-padded text fields.
#include "util/textfield.h"

namespace kavrel {

void blank(std::span<char> s) { std::fill(s.begin(), s.end(), ' '); }

void lalign(std::span<char> s) {
  const auto first = std::find_if(s.begin(), s.end(), [](char c) { return c != ' '; });
  if (first == s.end() || first == s.begin()) return;
  const auto end = std::copy(first, s.end(), s.begin());
  std::fill(end, s.end(), ' ');
}

void stringclean(std::span<char> s, int32_t n) {
  if (n <= 0) return;
  const auto part = s.first(std::min(static_cast<std::size_t>(n), s.size()));
  const auto end = std::remove(part.begin(), part.end(), ' ');
  std::fill(end, part.end(), ' ');
}

int32_t fnd1char(std::span<const char> s, int32_t n, char ch) {
  const int32_t limit = std::min(n, static_cast<int32_t>(s.size()));
  for (int32_t i = 0; i < limit; ++i) {
    if (s[static_cast<std::size_t>(i)] == ch) return i + 1;
  }
  return n <= 0 ? 1 : n + 1;
}

}  // namespace kavrel
