// dsp/x86/coding_kernels_avx2.cpp — the quantisation and distortion kernels on AVX2 registers.
//
// Same operations in the same order as the generic kernels: the double-precision product and
// rounding sum run four lines per register; the error terms of eight lines are added to the
// four partial sums low half first, which is the generic order.  No fused multiply-add.
#include <immintrin.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "dsp/quantise_line.h"
#include "dsp/x86/simd_primitives.h"

namespace aacs::dsp::avx2 {

namespace {

// step * y - 0.0946 rounded to the nearest integer, the way the generic kernel gets it: product
// and sum in double precision, rounded to float at 2^23.
inline __m256i ExactEight(const float* y, __m256d step) {
  const __m256d bias = _mm256_set1_pd(kRoundingBias);
  const __m256 yv = _mm256_loadu_ps(y);
  const __m256d lo = _mm256_add_pd(_mm256_mul_pd(_mm256_cvtps_pd(_mm256_castps256_ps128(yv)), step), bias);
  const __m256d hi = _mm256_add_pd(_mm256_mul_pd(_mm256_cvtps_pd(_mm256_extractf128_ps(yv, 1)), step), bias);
  const __m256 sum = _mm256_set_m128(_mm256_cvtpd_ps(hi), _mm256_cvtpd_ps(lo));
  return _mm256_sub_epi32(_mm256_castps_si256(sum), _mm256_set1_epi32(0x4B000000));
}

// The same in float arithmetic.  Below 8190 the float product and difference stray less than
// 0.001 from the double ones, so wherever that value lies more than 0.001 from a half-integer
// both round to the same integer.  Lanes that do not (about one in five hundred), larger values
// and non-numbers take the double path for all eight.
inline __m256i FastEight(const float* y, __m256 step, __m256d exactStep) {
  const __m256 u = _mm256_sub_ps(_mm256_mul_ps(_mm256_loadu_ps(y), step), _mm256_set1_ps(0.0946f));
  const __m256 nearest = _mm256_round_ps(u, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
  const __m256 distance = _mm256_andnot_ps(_mm256_set1_ps(-0.0f), _mm256_sub_ps(u, nearest));
  const __m256 unsure = _mm256_or_ps(_mm256_cmp_ps(distance, _mm256_set1_ps(0.499f), _CMP_GT_OQ),
                                     _mm256_cmp_ps(u, _mm256_set1_ps(8190.0f), _CMP_NLE_UQ));
  if (!_mm256_testz_ps(unsure, unsure)) return ExactEight(y, exactStep);
  return _mm256_cvtps_epi32(nearest);
}

}  // namespace

int QuantiseBands(const float* y, int32_t* q, const int* bandOffset, int bands, double step, uint8_t* changed,
                  int32_t* peak) {
  const __m256d s = _mm256_set1_pd(step);
  const float stepFloat = static_cast<float>(step);
  const bool floatStep = static_cast<double>(stepFloat) == step;  // the quantiser's steps are floats
  const __m256 sf = _mm256_set1_ps(stepFloat);
  for (int b = 0; b < bands; ++b) {
    __m256i differs = _mm256_setzero_si256(), largest = _mm256_setzero_si256();
    int i = bandOffset[b];
    const int end = bandOffset[b + 1];
    for (; i + 8 <= end; i += 8) {
      const __m256i v = floatStep ? FastEight(y + i, sf, s) : ExactEight(y + i, s);
      auto* line = reinterpret_cast<__m256i*>(q + i);
      differs = _mm256_or_si256(differs, _mm256_xor_si256(v, _mm256_loadu_si256(line)));
      largest = _mm256_max_epi32(largest, v);
      _mm256_storeu_si256(line, v);
    }
    __m128i top4 = _mm_max_epi32(_mm256_castsi256_si128(largest), _mm256_extracti128_si256(largest, 1));
    top4 = _mm_max_epi32(top4, _mm_shuffle_epi32(top4, _MM_SHUFFLE(1, 0, 3, 2)));
    top4 = _mm_max_epi32(top4, _mm_shuffle_epi32(top4, _MM_SHUFFLE(2, 3, 0, 1)));
    int32_t rest = 0, top = _mm_cvtsi128_si32(top4);
    QuantiseLines(y, q, i, end, step, &rest, &top);  // the last four lines of a band of 4 (mod 8) lines
    if (!_mm256_testz_si256(differs, differs) || rest != 0) changed[b] = 1;
    peak[b] = top;
    if (top > 8191) return 1;
  }
  return 0;
}

float BandError(const float* power43, float scale, const int32_t* q, const float* a, int n) {
  const __m256i largest = _mm256_set1_epi32(16383);
  const __m256 sc = _mm256_set1_ps(scale);
  __m128 acc = _mm_setzero_ps();
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256i m = _mm256_min_epi32(_mm256_abs_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(q + i))), largest);
    const __m256 e = _mm256_sub_ps(_mm256_mul_ps(sc, _mm256_i32gather_ps(power43, m, 4)), _mm256_loadu_ps(a + i));
    const __m256 t = _mm256_mul_ps(e, e);
    acc = _mm_add_ps(acc, _mm256_castps256_ps128(t));
    acc = _mm_add_ps(acc, _mm256_extractf128_ps(t, 1));
  }
  if (i + 4 <= n) {
    const __m128i m = _mm_min_epi32(_mm_abs_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q + i))),
                                    _mm256_castsi256_si128(largest));
    const __m128 e = _mm_sub_ps(_mm_mul_ps(_mm256_castps256_ps128(sc), _mm_i32gather_ps(power43, m, 4)), _mm_loadu_ps(a + i));
    acc = _mm_add_ps(acc, _mm_mul_ps(e, e));
    i += 4;
  }
  alignas(16) float s[4];
  _mm_store_ps(s, acc);
  for (; i < n; ++i) {
    const float e = scale * power43[std::min(std::abs(q[i]), 16383)] - a[i];
    s[0] += e * e;
  }
  return (s[0] + s[1]) + (s[2] + s[3]);
}

}  // namespace aacs::dsp::avx2
