// dsp/coding_kernels.cpp — the portable quantisation and distortion kernels of the rate loops.
//
// The rate loops run them once per inner-loop step over the whole channel, so they are written
// for the compiler to vectorise (no branches inside the line loops).  The SIMD columns compute
// exactly the same bits.
#include <bit>

#include "dsp/generic_primitives.h"

namespace aacs::dsp::generic {
namespace {

// 2^23 - 0.0946: adding it to step * y and storing the sum as a float leaves the nearest
// integer to step * y - 0.0946 in the float's mantissa bits.
constexpr double kRoundingBias = 8388607.9054;
constexpr uint32_t kTwoPow23Bits = 0x4B000000u;
constexpr int32_t kLargestMagnitude = 8191;
constexpr int kLargestPowerIndex = 16383;

inline int32_t Quantise(double step, float y) {
  const float sum = static_cast<float>(step * y + kRoundingBias);
  return static_cast<int32_t>(std::bit_cast<uint32_t>(sum) - kTwoPow23Bits);
}

}  // namespace

int QuantiseBands(const float* y, int32_t* q, const int* bandOffset, int bands, double step, uint8_t* changed,
                  int32_t* peak) {
  for (int b = 0; b < bands; ++b) {
    int32_t differs = 0, largest = 0;
    for (int i = bandOffset[b]; i < bandOffset[b + 1]; ++i) {
      const int32_t v = Quantise(step, y[i]);
      differs |= v ^ q[i];
      largest = largest > v ? largest : v;
      q[i] = v;
    }
    if (differs != 0) changed[b] = 1;
    peak[b] = largest;
    if (largest > kLargestMagnitude) return 1;
  }
  return 0;
}

float BandError(const float* power43, float scale, const int32_t* q, const float* a, int n) {
  float s0 = 0.0f, s1 = 0.0f, s2 = 0.0f, s3 = 0.0f;
  auto term = [&](int k) {
    int m = q[k] < 0 ? -q[k] : q[k];
    m = m < kLargestPowerIndex ? m : kLargestPowerIndex;
    const float e = scale * power43[m] - a[k];
    return e * e;
  };
  int i = 0;
  for (; i + 4 <= n; i += 4) {
    s0 += term(i);
    s1 += term(i + 1);
    s2 += term(i + 2);
    s3 += term(i + 3);
  }
  for (; i < n; ++i) s0 += term(i);
  return (s0 + s1) + (s2 + s3);
}

}  // namespace aacs::dsp::generic
