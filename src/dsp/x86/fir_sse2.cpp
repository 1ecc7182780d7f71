// dsp/x86/fir_sse2.cpp — the FIR filter primitive on 128-bit registers.
#include "dsp/x86/fir_kernels.h"
#include "dsp/x86/simd_primitives.h"

namespace aacs::dsp::sse2 {

int FirFilter(const float* src, float* dst, int count, FirState* state) { return KFirFilter<V128>(src, dst, count, state); }

}  // namespace aacs::dsp::sse2
