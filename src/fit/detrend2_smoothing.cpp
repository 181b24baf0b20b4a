#include "fit/detrend2_smoothing.h"

#include <stdexcept>
#include <string>

namespace kavrel {

void detrendSmoothing(std::span<float>, std::span<float>, int32_t&, int32_t option, int32_t,
                      int32_t&, float&, int32_t) {
  throw std::logic_error("detrend2: smoothing method " + std::to_string(option) +
                         " is not available in this build");
}

}  // namespace kavrel
