// dsp/x86/coding_kernels_sse2.cpp — the quantisation and distortion kernels on SSE2 registers.
//
// Same operations in the same order as the generic kernels (double-precision product and
// rounding sum; four partial error sums over the lines mod 4), so the results are identical.
#include <emmintrin.h>

#include <algorithm>
#include <cstdlib>

#include "dsp/x86/simd_primitives.h"

namespace aacs::dsp::sse2 {

int QuantiseMark(const float* y, int32_t* q, int blocks, double step, uint32_t* changed) {
  const __m128d s = _mm_set1_pd(step), bias = _mm_set1_pd(8388607.9054);
  const __m128i twoPow23 = _mm_set1_epi32(0x4B000000), largest = _mm_set1_epi32(8191);
  for (int blk = 0; blk < blocks; ++blk, y += 32, q += 32) {
    uint32_t mask = 0;
    __m128i over = _mm_setzero_si128();
    for (int k = 0; k < 32; k += 4) {
      const __m128 yv = _mm_loadu_ps(y + k);
      const __m128d lo = _mm_add_pd(_mm_mul_pd(_mm_cvtps_pd(yv), s), bias);
      const __m128d hi = _mm_add_pd(_mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(yv, yv)), s), bias);
      const __m128 sum = _mm_movelh_ps(_mm_cvtpd_ps(lo), _mm_cvtpd_ps(hi));
      const __m128i v = _mm_sub_epi32(_mm_castps_si128(sum), twoPow23);
      auto* line = reinterpret_cast<__m128i*>(q + k);
      const __m128i same = _mm_cmpeq_epi32(v, _mm_loadu_si128(line));
      mask |= static_cast<uint32_t>(~_mm_movemask_ps(_mm_castsi128_ps(same)) & 0xF) << k;
      over = _mm_or_si128(over, _mm_cmpgt_epi32(v, largest));
      _mm_storeu_si128(line, v);
    }
    changed[blk] = mask;
    if (_mm_movemask_epi8(over) != 0) return 1;
  }
  return 0;
}

float BandError(const float* power43, float scale, const int32_t* q, const float* a, int n) {
  auto power = [&](int k) { return power43[std::min(std::abs(q[k]), 16383)]; };
  const __m128 sc = _mm_set1_ps(scale);
  __m128 acc = _mm_setzero_ps();
  int i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m128 p = _mm_setr_ps(power(i), power(i + 1), power(i + 2), power(i + 3));
    const __m128 e = _mm_sub_ps(_mm_mul_ps(sc, p), _mm_loadu_ps(a + i));
    acc = _mm_add_ps(acc, _mm_mul_ps(e, e));
  }
  alignas(16) float s[4];
  _mm_store_ps(s, acc);
  for (; i < n; ++i) {
    const float e = scale * power(i) - a[i];
    s[0] += e * e;
  }
  return (s[0] + s[1]) + (s[2] + s[3]);
}

}  // namespace aacs::dsp::sse2
