// dsp/band_kernels.cpp — the psychoacoustic model's per-band sums, one call for all bands.
//
// The model sums a few lines per band over dozens of bands per window; one call per band
// costs more than the sum.  The arithmetic is that of the generic VecSum and VecDotProduct.
#include "dsp/generic_primitives.h"

namespace aacs::dsp::generic {
namespace {

float Sum(const float* x, int len) {
  float s0 = 0.0f, s1 = 0.0f, s2 = 0.0f, s3 = 0.0f;
  int i = 0;
  for (; i + 4 <= len; i += 4) {
    s0 += x[i];
    s1 += x[i + 1];
    s2 += x[i + 2];
    s3 += x[i + 3];
  }
  for (; i < len; ++i) s0 += x[i];
  return (s0 + s1) + (s2 + s3);
}

float Dot(const float* a, const float* b, int len) {
  float s0 = 0.0f, s1 = 0.0f, s2 = 0.0f, s3 = 0.0f;
  int i = 0;
  for (; i + 4 <= len; i += 4) {
    s0 += a[i] * b[i];
    s1 += a[i + 1] * b[i + 1];
    s2 += a[i + 2] * b[i + 2];
    s3 += a[i + 3] * b[i + 3];
  }
  for (; i < len; ++i) s0 += a[i] * b[i];
  return (s0 + s1) + (s2 + s3);
}

}  // namespace

void BandSums(const float* x, const float* weights, const int* start, const int* width, int n, float* sums,
              float* dots, float* peaks) {
  for (int b = 0; b < n; ++b) {
    const float* e = x + start[b];
    sums[b] = Sum(e, width[b]);
    if (weights != nullptr) dots[b] = Dot(e, weights + start[b], width[b]);
    if (peaks != nullptr) {
      float largest = 0.0f;
      for (int k = 0; k < width[b]; ++k) largest = largest < e[k] ? e[k] : largest;
      peaks[b] = largest;
    }
  }
}

void RowDots(const float* rows, int stride, const int* first, const int* count, int n, const float* x1,
             const float* x2, float* out1, float* out2) {
  for (int b = 0; b < n; ++b) {
    const float* row = rows + static_cast<std::ptrdiff_t>(b) * stride + first[b];
    out1[b] = Dot(row, x1 + first[b], count[b]);
    if (x2 != nullptr) out2[b] = Dot(row, x2 + first[b], count[b]);
  }
}

}  // namespace aacs::dsp::generic
