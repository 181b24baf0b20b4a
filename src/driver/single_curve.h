// The single-curve form of regional curve standardisation: every classified
// series goes into one class, number 1, fitted with one regional curve.
#pragma once

#include <cstdint>
#include <vector>

#include "driver/series_store.h"

namespace kavrel {

// Moves every classified series (class 1..5) into class 1, in input order,
// with the class counts and pith offsets to match.
void mergeIntoOneClass(SeriesStore& store, std::vector<int32_t>& classes);

}  // namespace kavrel
