// dsp/coding_kernels.cpp — the portable quantisation and distortion kernels of the rate loops.
//
// The rate loops run them once per inner-loop step over the whole channel, so they are written
// for the compiler to vectorise (no branches inside the line loops).  The SIMD columns compute
// exactly the same bits.
#include <bit>
#include <cstring>

#include "dsp/generic_primitives.h"

namespace aacs::dsp::generic {
namespace {

// 2^23 - 0.0946: adding it to step * y and storing the sum as a float leaves the nearest
// integer to step * y - 0.0946 in the float's mantissa bits.
constexpr double kRoundingBias = 8388607.9054;
constexpr uint32_t kTwoPow23Bits = 0x4B000000u;
constexpr int32_t kLargestMagnitude = 8191;
constexpr int kLargestPowerIndex = 16383;

// Eight 0/1 bytes to eight bits, byte i to bit i.
uint32_t GatherBits(const uint8_t* flags) {
  uint64_t x;
  std::memcpy(&x, flags, 8);
  return static_cast<uint32_t>((x * 0x0102040810204080ull) >> 56);
}

}  // namespace

int QuantiseMark(const float* y, int32_t* q, int blocks, double step, uint32_t* changed) {
  for (int blk = 0; blk < blocks; ++blk, y += 32, q += 32) {
    int32_t v[32];
    uint8_t differs[32];
    int32_t peak = 0;
    for (int k = 0; k < 32; ++k) {
      const float sum = static_cast<float>(step * y[k] + kRoundingBias);
      v[k] = static_cast<int32_t>(std::bit_cast<uint32_t>(sum) - kTwoPow23Bits);
      differs[k] = v[k] != q[k];
      peak = peak > v[k] ? peak : v[k];
    }
    std::memcpy(q, v, sizeof v);
    changed[blk] = GatherBits(differs) | GatherBits(differs + 8) << 8 | GatherBits(differs + 16) << 16 |
                   GatherBits(differs + 24) << 24;
    if (peak > kLargestMagnitude) return 1;
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
