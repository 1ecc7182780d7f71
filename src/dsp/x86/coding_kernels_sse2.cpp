// dsp/x86/coding_kernels_sse2.cpp — the quantisation and distortion kernels on SSE2 registers.
//
// Same operations in the same order as the generic kernels (double-precision product and
// rounding sum; four partial error sums over the lines mod 4), so the results are identical.
#include <emmintrin.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "dsp/quantise_line.h"
#include "dsp/x86/simd_primitives.h"

namespace aacs::dsp::sse2 {

namespace {

// Four lines: the new values, with the changed lanes ORed into *differs and the lane maxima
// kept in *largest.
inline void QuantiseFour(const float* y, int32_t* q, __m128d step, __m128d bias, __m128i* differs, __m128i* largest) {
  const __m128 yv = _mm_loadu_ps(y);
  const __m128d lo = _mm_add_pd(_mm_mul_pd(_mm_cvtps_pd(yv), step), bias);
  const __m128d hi = _mm_add_pd(_mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(yv, yv)), step), bias);
  const __m128 sum = _mm_movelh_ps(_mm_cvtpd_ps(lo), _mm_cvtpd_ps(hi));
  const __m128i v = _mm_sub_epi32(_mm_castps_si128(sum), _mm_set1_epi32(0x4B000000));
  auto* line = reinterpret_cast<__m128i*>(q);
  *differs = _mm_or_si128(*differs, _mm_xor_si128(v, _mm_loadu_si128(line)));
  const __m128i greater = _mm_cmpgt_epi32(v, *largest);  // SSE2 has no 32-bit maximum
  *largest = _mm_or_si128(_mm_and_si128(greater, v), _mm_andnot_si128(greater, *largest));
  _mm_storeu_si128(line, v);
}

}  // namespace

int QuantiseBands(const float* y, int32_t* q, const int* bandOffset, int bands, double step, uint8_t* changed,
                  int32_t* peak) {
  const __m128d s = _mm_set1_pd(step), bias = _mm_set1_pd(kRoundingBias);
  for (int b = 0; b < bands; ++b) {
    __m128i differs = _mm_setzero_si128(), largest = _mm_setzero_si128();
    int i = bandOffset[b];
    const int end = bandOffset[b + 1];
    for (; i + 4 <= end; i += 4) QuantiseFour(y + i, q + i, s, bias, &differs, &largest);
    alignas(16) int32_t lanes[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), largest);
    int32_t rest = 0, top = std::max(std::max(lanes[0], lanes[1]), std::max(lanes[2], lanes[3]));
    QuantiseLines(y, q, i, end, step, &rest, &top);  // widths are multiples of 4 in practice
    if (_mm_movemask_epi8(_mm_cmpeq_epi32(differs, _mm_setzero_si128())) != 0xFFFF || rest != 0) changed[b] = 1;
    peak[b] = top;
    if (top > 8191) return 1;
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
