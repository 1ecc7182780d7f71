// dsp/x86/band_kernels.h — the model's per-band sums on 128-bit registers, lane j holding the
// generic code's partial sum j: the generic order, so the generic bits, in every column.
// Internal linkage: each column's file compiles its own copy with its own target flags.
#pragma once
#include <immintrin.h>

#include <cstddef>

namespace aacs::dsp {
namespace {

// Lanes added to the first partial sum after the quads, as the generic code does.
inline float FinishSum(__m128 acc, const float* x, int i, int len) {
  alignas(16) float s[4];
  _mm_store_ps(s, acc);
  for (; i < len; ++i) s[0] += x[i];
  return (s[0] + s[1]) + (s[2] + s[3]);
}

inline float FinishDot(__m128 acc, const float* a, const float* b, int i, int len) {
  alignas(16) float s[4];
  _mm_store_ps(s, acc);
  for (; i < len; ++i) s[0] += a[i] * b[i];
  return (s[0] + s[1]) + (s[2] + s[3]);
}

inline void KBandSums(const float* x, const float* weights, const int* start, const int* width, int n, float* sums,
                      float* dots, float* peaks) {
  for (int b = 0; b < n; ++b) {
    const float* e = x + start[b];
    const float* w = weights != nullptr ? weights + start[b] : nullptr;
    const int len = width[b];
    __m128 sum = _mm_setzero_ps(), dot = _mm_setzero_ps(), peak = _mm_setzero_ps();
    int i = 0;
    for (; i + 4 <= len; i += 4) {
      const __m128 v = _mm_loadu_ps(e + i);
      sum = _mm_add_ps(sum, v);
      peak = _mm_max_ps(v, peak);  // equal to the generic comparison without NaN
      if (w != nullptr) dot = _mm_add_ps(dot, _mm_mul_ps(v, _mm_loadu_ps(w + i)));
    }
    sums[b] = FinishSum(sum, e, i, len);
    if (w != nullptr) dots[b] = FinishDot(dot, e, w, i, len);
    if (peaks != nullptr) {
      alignas(16) float lanes[4];
      _mm_store_ps(lanes, peak);
      float largest = 0.0f;
      for (float v : lanes) largest = largest < v ? v : largest;
      for (; i < len; ++i) largest = largest < e[i] ? e[i] : largest;
      peaks[b] = largest;
    }
  }
}

inline void KRowDots(const float* rows, int stride, const int* first, const int* count, int n, const float* x1,
                     const float* x2, float* out1, float* out2) {
  for (int b = 0; b < n; ++b) {
    const float* row = rows + static_cast<std::ptrdiff_t>(b) * stride + first[b];
    const float* a = x1 + first[b];
    const float* c = x2 != nullptr ? x2 + first[b] : nullptr;
    const int len = count[b];
    __m128 d1 = _mm_setzero_ps(), d2 = _mm_setzero_ps();
    int i = 0;
    for (; i + 4 <= len; i += 4) {
      const __m128 r = _mm_loadu_ps(row + i);
      d1 = _mm_add_ps(d1, _mm_mul_ps(r, _mm_loadu_ps(a + i)));
      if (c != nullptr) d2 = _mm_add_ps(d2, _mm_mul_ps(r, _mm_loadu_ps(c + i)));
    }
    out1[b] = FinishDot(d1, row, a, i, len);
    if (c != nullptr) out2[b] = FinishDot(d2, row, c, i, len);
  }
}

}  // namespace
}  // namespace aacs::dsp
