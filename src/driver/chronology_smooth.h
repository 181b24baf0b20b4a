// The smoothed line of the chronology page: a cubic smoothing spline of a
// given stiffness through each stretch of consecutive years with values.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace kavrel {

// The spline of `stiffness` years (10 or more) through values, one result per
// value: empty where the year has no value, or where its stretch of
// consecutive values is too short (fewer than 4) or too long for the spline.
std::vector<std::optional<double>> smoothedChronology(std::span<const std::optional<double>> values,
                                                      int32_t stiffness);

}  // namespace kavrel
