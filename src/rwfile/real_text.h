// Reading a real number from text, as std::from_chars does for float, with a
// fast path for the short decimals that ring widths are written with.
#pragma once

#include <charconv>
#include <cmath>
#include <cstdint>
#include <string_view>

namespace kavrel::rw {

// True when `text` is all of one finite real number, stored in `out`. A
// decimal of at most 7 digits with at most 10 after the point is m / 10^k
// with m and 10^k both exact in single precision, so one division gives the
// correctly rounded value, the same as from_chars; anything else goes to
// from_chars.
inline bool parseReal(std::string_view text, float& out) {
  static constexpr float kPowers[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f,
                                      1e6f, 1e7f, 1e8f, 1e9f, 1e10f};
  const char* p = text.data();
  const char* const end = p + text.size();
  const bool negative = p != end && *p == '-';
  if (negative) ++p;
  int32_t m = 0;
  int32_t digits = 0;
  int32_t fraction = -1;  // digits after the point; -1 before it
  for (; p != end; ++p) {
    if (*p >= '0' && *p <= '9') {
      m = m * 10 + (*p - '0');
      if (++digits > 7) break;
      if (fraction >= 0) ++fraction;
    } else if (*p == '.' && fraction < 0) {
      fraction = 0;
    } else {
      break;
    }
  }
  if (p == end && digits > 0 && fraction <= 10) {
    const float v = static_cast<float>(m) / kPowers[fraction < 0 ? 0 : fraction];
    out = negative ? -v : v;
    return true;
  }
  float v = 0.0f;
  const auto [stop, ec] = std::from_chars(text.data(), end, v);
  if (ec != std::errc() || stop != end || !std::isfinite(v)) return false;
  out = v;
  return true;
}

}  // namespace kavrel::rw
