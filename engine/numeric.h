#pragma once
#include <cmath>
#include <cstdint>

// Conversion of a double to a signed 32-bit integer by discarding the fraction. Values outside the
// range (and NaN, which a zero sample rate produces) would be undefined behaviour in a plain cast;
// they saturate (NaN gives 0). In range the result equals the plain cast.
inline int32_t truncToInt32(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 2147483647.0) return INT32_MAX;
  if (v <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(v);
}

// The same for unsigned 32-bit targets (negative values give 0).
inline uint32_t truncToUint32(double v) {
  if (std::isnan(v) || v <= 0.0) return 0;
  if (v >= 4294967295.0) return UINT32_MAX;
  return static_cast<uint32_t>(v);
}
