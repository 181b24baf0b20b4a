// Helpers shared by the fuzz harnesses: the fuzzer's bytes as text, split
// into a first line and the rest, and C streams over memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>

namespace kavrel::fuzz {

inline std::string_view asText(const uint8_t* data, size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// The text up to the first line end, and everything after it.
inline std::pair<std::string_view, std::string_view> firstLineAndRest(std::string_view text) {
  const size_t end = text.find('\n');
  if (end == std::string_view::npos) return {text, {}};
  return {text.substr(0, end), text.substr(end + 1)};
}

// A read stream over a copy of `text` (fmemopen needs a non-empty buffer);
// the caller closes it.
inline std::FILE* memoryStream(std::string& buffer) {
  if (buffer.empty()) return std::fopen("/dev/null", "rb");
  return fmemopen(buffer.data(), buffer.size(), "rb");
}

}  // namespace kavrel::fuzz
