// dsp/generic_primitives.h — the portable implementations behind every slot.
//
// They fill the slot table before any binding, form the generic and MMX columns, and are the
// reference the SIMD kernels are tested against (and fall back to for tiny inputs).
#pragma once
#include "dsp/primitives.h"

namespace aacs::dsp::generic {

void* AlignedAlloc(std::size_t bytes);
void AlignedFree(void* p);

int VecMaxAbs(const float* src, int len, float* result);
int VecMulInPlace(const float* src, float* srcDst, int len);
int VecZero(float* dst, int len);
int VecMagnitude(const float* src, float* dst, int len);
int VecSum(const float* src, int len, float* result);
int VecMulConstInPlace(float value, float* srcDst, int len);
int VecSquareInPlace(float* srcDst, int len);
int VecAbs(const float* src, float* dst, int len);
int VecCopy(const float* src, float* dst, int len);
int VecSet(float value, float* dst, int len);
int VecMul(const float* src1, const float* src2, float* dst, int len);
int VecSub(const float* src1, const float* src2, float* dst, int len);
int VecAdd(const float* src1, const float* src2, float* dst, int len);
int VecAddInPlace(const float* src, float* srcDst, int len);
int VecMulConst(const float* src, float value, float* dst, int len);
int VecAbsInPlace(float* srcDst, int len);
int VecDotProduct(const float* src1, const float* src2, int len, float* result);
int VecMaxIndex(const float* src, int len, float* maxValue, int* index);
int VecSubInPlace(const float* src, float* srcDst, int len);

int FftComplexSpecCreate(FftSpec** spec, int order, int flag, int hint);
int FftRealSpecCreate(FftSpec** spec, int order, int flag, int hint);
int FftComplexSpecFree(FftSpec* spec);
int FftRealSpecFree(FftSpec* spec);
int FftComplexForward(const float* src, float* dst, const FftSpec* spec, float* work);
int FftComplexInverse(const float* src, float* dst, const FftSpec* spec, float* work);
int FftRealForward(const float* src, float* dst, const FftSpec* spec, float* work);

int FirStateCreate(FirState** state, const float* taps, int tapCount, const float* delayLine);
int FirStateFree(FirState* state);
int FirFilter(const float* src, float* dst, int count, FirState* state);

int QuantiseBands(const float* y, int32_t* q, const int* bandOffset, int bands, double step, uint8_t* changed,
                  int32_t* peak);
float BandError(const float* power43, float scale, const int32_t* q, const float* a, int n);
void BandSums(const float* x, const float* weights, const int* start, const int* width, int n, float* sums,
              float* dots, float* peaks);
void RowDots(const float* rows, int stride, const int* first, const int* count, int n, const float* x1,
             const float* x2, float* out1, float* out2);

}  // namespace aacs::dsp::generic
