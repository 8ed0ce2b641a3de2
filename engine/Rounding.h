#pragma once
// Round means to the nearest integer with ties to even, everywhere in the program.

#include <cmath>
#include <cstdint>

namespace ruvo {

// Relies on the default floating-point rounding mode (to nearest, ties to even).
inline double RoundEven(double x) { return std::nearbyint(x); }
inline std::int64_t RoundToInt(double x) { return static_cast<std::int64_t>(std::nearbyint(x)); }

}  // namespace ruvo
