// dsp/x86/band_kernels.h — the model's per-band sums on 128-bit registers, lane j holding the
// generic code's partial sum j: the generic order, so the generic bits, in every column.
// Internal linkage: each column's file compiles its own copy with its own target flags.
#pragma once
#include <immintrin.h>

#include <algorithm>
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

// The rest of a row's dot product from line i on, with the partial sums so far.
inline void FinishRow(const float* row, const float* x, int len, int i, __m128 acc, float* out) {
  for (; i + 4 <= len; i += 4) acc = _mm_add_ps(acc, _mm_mul_ps(_mm_loadu_ps(row + i), _mm_loadu_ps(x + i)));
  *out = FinishDot(acc, row, x, i, len);
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

// One row's dot products (each a chain of dependent additions); two rows run side by side.
inline void RowDot(const float* rows, int stride, const int* first, const int* count, int b, const float* x1,
                   const float* x2, float* out1, float* out2) {
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

inline void KRowDots(const float* rows, int stride, const int* first, const int* count, int n, const float* x1,
                     const float* x2, float* out1, float* out2) {
  int b = 0;
  for (; b + 2 <= n; b += 2) {
    const float* rowA = rows + static_cast<std::ptrdiff_t>(b) * stride + first[b];
    const float* rowB = rowA + stride + first[b + 1] - first[b];
    const int lenA = count[b], lenB = count[b + 1];
    const int common = std::min(lenA, lenB) & ~3;
    const float* a1 = x1 + first[b];
    const float* b1 = x1 + first[b + 1];
    __m128 da1 = _mm_setzero_ps(), db1 = _mm_setzero_ps(), da2 = _mm_setzero_ps(), db2 = _mm_setzero_ps();
    int i = 0;
    if (x2 == nullptr) {
      for (; i < common; i += 4) {
        da1 = _mm_add_ps(da1, _mm_mul_ps(_mm_loadu_ps(rowA + i), _mm_loadu_ps(a1 + i)));
        db1 = _mm_add_ps(db1, _mm_mul_ps(_mm_loadu_ps(rowB + i), _mm_loadu_ps(b1 + i)));
      }
    } else {
      const float* a2 = x2 + first[b];
      const float* b2 = x2 + first[b + 1];
      for (; i < common; i += 4) {
        const __m128 ra = _mm_loadu_ps(rowA + i), rb = _mm_loadu_ps(rowB + i);
        da1 = _mm_add_ps(da1, _mm_mul_ps(ra, _mm_loadu_ps(a1 + i)));
        db1 = _mm_add_ps(db1, _mm_mul_ps(rb, _mm_loadu_ps(b1 + i)));
        da2 = _mm_add_ps(da2, _mm_mul_ps(ra, _mm_loadu_ps(a2 + i)));
        db2 = _mm_add_ps(db2, _mm_mul_ps(rb, _mm_loadu_ps(b2 + i)));
      }
    }
    // Each row goes on alone with its partial sums where the shorter one ended.
    FinishRow(rowA, a1, lenA, i, da1, out1 + b);
    FinishRow(rowB, b1, lenB, i, db1, out1 + b + 1);
    if (x2 != nullptr) {
      FinishRow(rowA, x2 + first[b], lenA, i, da2, out2 + b);
      FinishRow(rowB, x2 + first[b + 1], lenB, i, db2, out2 + b + 1);
    }
  }
  for (; b < n; ++b) RowDot(rows, stride, first, count, b, x1, x2, out1, out2);
}

}  // namespace
}  // namespace aacs::dsp
