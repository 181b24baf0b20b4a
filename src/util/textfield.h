// Operations on fixed-length, blank-padded text fields (series identifiers of
// 8 characters, file names of 60): fill with blanks, left-align, squeeze out
// blanks, find a character. A field is any std::span<char> (a fixed-size
// std::string, std::array<char, N> or FixedField<N> converts to one); its
// length is the span's size, there is no terminator, and only ' ' (code 32)
// counts as a blank: tabs and NULs are ordinary characters.
// Character positions are counted from 1 in the comments below: position p
// of a field of length L (1 <= p <= L) is s[p-1].
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kavrel {

// Sets every position of s to a blank; an empty field is left alone.
void blank(std::span<char> s);

// Moves the text left so that its first non-blank character stands at
// position 1; the freed positions at the end become blanks. All-blank fields
// and fields that begin with a non-blank are unchanged.
void lalign(std::span<char> s);

// Removes every blank from positions 1..n: the non-blank characters in their
// order from position 1, then blanks up to position n (positions after n are
// untouched). n is clamped to the field length; n <= 0 does nothing. Gives the
// squeeze even when position n is not blank on entry.
void stringclean(std::span<char> s, int32_t n);

// Position (1-based) of the first occurrence of ch among positions 1..n of s,
// or n + 1 when it does not occur there; n <= 0 gives 1. Only the positions
// the field holds are searched when n exceeds its length.
int32_t fnd1char(std::span<const char> s, int32_t n, char ch);

// A fixed-length field of N characters, blank-padded, without terminator.
template <std::size_t N>
struct FixedField {
  std::array<char, N> chars;

  // A blank field.
  FixedField() { chars.fill(' '); }
  // The text cut to N characters or padded with blanks.
  explicit FixedField(std::string_view text) { assign(text); }

  // Replaces the contents by text, cut to N characters or padded with blanks.
  void assign(std::string_view text) {
    chars.fill(' ');
    std::copy_n(text.begin(), std::min(text.size(), N), chars.begin());
  }
  // All N characters, trailing blanks included.
  std::string str() const { return std::string(chars.begin(), chars.end()); }
  // The text without trailing blanks.
  std::string trimmed() const {
    std::size_t len = N;
    while (len > 0 && chars[len - 1] == ' ') --len;
    return std::string(chars.begin(), chars.begin() + static_cast<std::ptrdiff_t>(len));
  }
  std::span<char> span() { return chars; }
  std::span<const char> span() const { return chars; }
  static constexpr std::size_t size() { return N; }
  bool operator==(const FixedField&) const = default;
};

// A std::string field viewed as a span (no copy).
inline std::span<char> fieldOf(std::string& s) { return {s.data(), s.size()}; }

}  // namespace kavrel
