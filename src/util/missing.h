// The missing-ring marker shared by every module: a ring position or cambial
// age without a value holds this value, compared with == (never a tolerance).
#pragma once

namespace kavrel {

// Marks a missing ring width or an age without a value, in memory and in the
// age-aligned files.
inline constexpr float kMissingValue = -999.0f;

}  // namespace kavrel
