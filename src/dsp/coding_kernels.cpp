// dsp/coding_kernels.cpp — the portable quantisation and distortion kernels of the rate loops.
//
// The rate loops run them once per inner-loop step over the whole channel, so they are written
// for the compiler to vectorise (no branches inside the line loops).  The SIMD columns compute
// exactly the same bits.
#include <algorithm>
#include <bit>
#include <cmath>

#include "dsp/generic_primitives.h"
#include "dsp/quantise_line.h"

namespace aacs::dsp::generic {
namespace {

constexpr int32_t kLargestMagnitude = 8191;
constexpr int kLargestPowerIndex = 16383;

}  // namespace

namespace {

// Lines of a band in float arithmetic into v: step * y - 0.0946 rounded to the nearest integer by the
// 1.5 * 2^23 trick.  Below 8190 the float product and difference stray less than 0.001 from the
// double-precision ones, so wherever that value lies more than 0.001 from a half-integer both
// round alike; returns false when some line does not (about one in five hundred), is larger
// or is not a number, and the band then takes the double path.
bool QuantiseBandFloat(const float* y, int32_t* v, int n, float step) {
  constexpr float kRound = 12582912.0f;  // 1.5 * 2^23
  int unsure = 0;
  for (int i = 0; i < n; ++i) {
    const float u = y[i] * step - 0.0946f;
    const bool inRange = u <= 8190.0f;  // false for NaN
    const float nearest = (u + kRound) - kRound;
    const float distance = std::fabs(u - nearest);
    unsure |= (distance > 0.499f) | !inRange;
    v[i] = static_cast<int32_t>(inRange ? nearest : 0.0f);
  }
  return unsure == 0;
}

}  // namespace

int QuantiseBands(const float* y, int32_t* q, const int* bandOffset, int bands, double step, uint8_t* changed,
                  int32_t* peak) {
  const float stepFloat = static_cast<float>(step);
  const bool floatStep = static_cast<double>(stepFloat) == step;  // the quantiser's steps are floats
  constexpr int kChunk = 256;
  int32_t v[kChunk];
  for (int b = 0; b < bands; ++b) {
    int32_t differs = 0, largest = 0;
    for (int start = bandOffset[b]; start < bandOffset[b + 1]; start += kChunk) {
      const int n = std::min(kChunk, bandOffset[b + 1] - start);
      if (!floatStep || !QuantiseBandFloat(y + start, v, n, stepFloat))
        for (int i = 0; i < n; ++i) v[i] = QuantiseLine(step, y[start + i]);
      for (int i = 0; i < n; ++i) {
        differs |= v[i] ^ q[start + i];
        largest = largest > v[i] ? largest : v[i];
        q[start + i] = v[i];
      }
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
