// dsp/x86/band_kernels_avx2.cpp — the model's per-band sums in the avx2 column.
#include "dsp/x86/band_kernels.h"
#include "dsp/x86/simd_primitives.h"

namespace aacs::dsp::avx2 {

void BandSums(const float* x, const float* weights, const int* start, const int* width, int n, float* sums,
              float* dots, float* peaks) {
  KBandSums(x, weights, start, width, n, sums, dots, peaks);
}

void RowDots(const float* rows, int stride, const int* first, const int* count, int n, const float* x1,
             const float* x2, float* out1, float* out2) {
  KRowDots(rows, stride, first, count, n, x1, x2, out1, out2);
}

}  // namespace aacs::dsp::avx2
