// dsp/quantise_line.h — the scalar quantisation of one line, shared by every column's kernel.
//
// 2^23 - 0.0946: adding it to step * y in double precision and storing the sum as a float
// leaves the nearest integer to step * y - 0.0946 in the float's mantissa bits.
#pragma once
#include <algorithm>
#include <bit>
#include <cstdint>

namespace aacs::dsp {

inline constexpr double kRoundingBias = 8388607.9054;
inline constexpr uint32_t kTwoPow23Bits = 0x4B000000u;

inline int32_t QuantiseLine(double step, float y) {
  const float sum = static_cast<float>(step * y + kRoundingBias);
  return static_cast<int32_t>(std::bit_cast<uint32_t>(sum) - kTwoPow23Bits);
}

// Lines [i, end) one by one (the SIMD kernels' remainder): changed bits ORed into *rest, the
// largest value kept in *top.
inline void QuantiseLines(const float* y, int32_t* q, int i, int end, double step, int32_t* rest, int32_t* top) {
  for (; i < end; ++i) {
    const int32_t v = QuantiseLine(step, y[i]);
    *rest |= v ^ q[i];
    *top = std::max(*top, v);
    q[i] = v;
  }
}

}  // namespace aacs::dsp
