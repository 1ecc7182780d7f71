// dsp/primitives.h — the table of signal-processing primitives and its binding.
//
// Every numeric inner loop of the encoder (vector arithmetic on floats, FFTs, an FIR filter)
// is called through one of 31 slots.  Each slot has an implementation per processor class
// (generic, MMX, SSE, SSE2) that computes the same function; BindPrimitives installs one
// column.  Until a binding happens every slot holds its generic implementation.  The table is
// the only mutable process-wide state of the library; it is written with relaxed atomics so
// that a stream opening on one thread never races with another stream encoding on another.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace aacs::dsp {

enum CpuClass : int { kCpuGeneric = 0, kCpuMmx = 1, kCpuSse = 2, kCpuSse2 = 3 };

constexpr int kNumPrimitiveSlots = 31;
// Kernel slots after the 31 primitives: the inner loops of quantisation, distortion and the
// model's band sums, bound by the same walk.  kNumTableSlots counts both.
constexpr int kNumKernelSlots = 4;
constexpr int kNumTableSlots = kNumPrimitiveSlots + kNumKernelSlots;

// Primitive statuses.  No caller in the encoder examines them; tests do.
constexpr int kStsOk = 0;
constexpr int kStsSizeErr = -6;          // a length below 1
constexpr int kStsNullPtrErr = -8;       // a required pointer is null
constexpr int kStsMemAllocErr = -9;      // memory could not be obtained
constexpr int kStsFftOrderErr = -15;     // FFT order outside 0..30
constexpr int kStsFftFlagErr = -16;      // unknown scaling flag
constexpr int kStsContextMatchErr = -17; // spec record of the wrong kind
constexpr int kStsFirLenErr = -26;       // FIR tap count below 1

// Scaling flags of the FFT spec constructors.
constexpr int kFftDivFwdByN = 1;
constexpr int kFftDivInvByN = 2;
constexpr int kFftDivBySqrtN = 4;
constexpr int kFftNoDiv = 8;

struct FftSpec;   // opaque: kind mark, order, scaling, twiddle and bit-reversal tables
struct FirState;  // opaque: mark "10IF" (or "30IF"), taps reversed, delay line

// FFT work buffers: a transform given a null work buffer allocates one itself (and fails
// with kStsMemAllocErr when it cannot); a caller that wants no allocation passes a buffer of
// at least FftWorkBufferFloats(spec) floats (2 * 2^order for a complex spec, 2^order
// for a real one), 32-byte aligned and overlapping neither source nor destination.  Source
// and destination may be the same buffer.
std::size_t FftWorkBufferFloats(const FftSpec* spec);

// Slot numbers (table positions).  Slots 0-3, 9, 23 and 29 hold helper primitives that the
// frame path does not need.
enum PrimitiveSlot : int {
  kSlotAlignedAlloc = 0,
  kSlotAlignedFree = 1,
  kSlotFirStateFree = 2,
  kSlotVecMaxAbs = 3,
  kSlotFftRealSpecCreate = 4,
  kSlotVecMulInPlace = 5,
  kSlotFftRealForward = 6,
  kSlotVecZero = 7,
  kSlotVecMagnitude = 8,
  kSlotVecSum = 9,
  kSlotVecMulConstInPlace = 10,
  kSlotVecSquareInPlace = 11,
  kSlotVecAbs = 12,
  kSlotVecCopy = 13,
  kSlotFftComplexForward = 14,
  kSlotFftComplexInverse = 15,
  kSlotFftComplexSpecCreate = 16,
  kSlotFftComplexSpecFree = 17,
  kSlotFftRealSpecFree = 18,
  kSlotVecSet = 19,
  kSlotVecMul = 20,
  kSlotVecSub = 21,
  kSlotVecAdd = 22,
  kSlotVecAddInPlace = 23,
  kSlotVecMulConst = 24,
  kSlotFirFilter = 25,
  kSlotFirStateCreate = 26,
  kSlotVecAbsInPlace = 27,
  kSlotVecDotProduct = 28,
  kSlotVecMaxIndex = 29,
  kSlotVecSubInPlace = 30,
  kSlotQuantiseBands = 31,
  kSlotBandError = 32,
  kSlotBandSums = 33,
  kSlotRowDots = 34,
};

// Function types of the slots.
using AlignedAllocFn = void* (*)(std::size_t bytes);
using AlignedFreeFn = void (*)(void* p);
using FirStateFreeFn = int (*)(FirState* state);
using VecMaxAbsFn = int (*)(const float* src, int len, float* result);
using FftSpecCreateFn = int (*)(FftSpec** spec, int order, int flag, int hint);
using FftSpecFreeFn = int (*)(FftSpec* spec);
using FftTransformFn = int (*)(const float* src, float* dst, const FftSpec* spec, float* work);
using VecSrcDstFn = int (*)(const float* src, float* srcDst, int len);
using VecSrcToDstFn = int (*)(const float* src, float* dst, int len);
using VecDstFn = int (*)(float* dst, int len);
using VecInPlaceFn = int (*)(float* srcDst, int len);
using VecConstInPlaceFn = int (*)(float value, float* srcDst, int len);
using VecSetFn = int (*)(float value, float* dst, int len);
using VecBinaryFn = int (*)(const float* src1, const float* src2, float* dst, int len);
using VecMulConstFn = int (*)(const float* src, float value, float* dst, int len);
using VecReduceFn = int (*)(const float* src, int len, float* result);
using VecDotProductFn = int (*)(const float* src1, const float* src2, int len, float* result);
using VecMaxIndexFn = int (*)(const float* src, int len, float* maxValue, int* index);
using FirFilterFn = int (*)(const float* src, float* dst, int count, FirState* state);
using FirStateCreateFn = int (*)(FirState** state, const float* taps, int tapCount, const float* delayLine);
using QuantiseBandsFn = int (*)(const float* y, int32_t* q, const int* bandOffset, int bands, double step,
                               uint8_t* changed, int32_t* peak);
using BandErrorFn = float (*)(const float* power43, float scale, const int32_t* q, const float* a, int n);
using BandSumsFn = void (*)(const float* x, const float* weights, const int* start, const int* width, int n,
                            float* sums, float* dots, float* peaks);
using RowDotsFn = void (*)(const float* rows, int stride, const int* first, const int* count, int n, const float* x1,
                           const float* x2, float* out1, float* out2);

using PrimitiveFn = void (*)();

// The bound table.  Read through the inline wrappers below.
extern std::atomic<PrimitiveFn> gPrimitiveSlots[kNumTableSlots];

// One row of the variant table: the slot and its four implementations (generic, MMX, SSE, SSE2).
struct PrimitiveVariants {
  int slot;
  PrimitiveFn impl[4];
};
// The kNumTableSlots rows in slot order.  Every row has all four entries; MMX repeats the
// generic code and the SSE2 column holds AVX2+FMA kernels where the processor has them.
const PrimitiveVariants* VariantTable();

// Installs one column; result 1 on success, 0 on failure (class outside 0..3 or no candidate
// complete), after showing " No primitive set matching the CPU was found during the Waterfall"
// with the caption "Primitive library error" on stderr.
int BindPrimitives(int cpuClass);
// The class installed by the last successful binding (0 before any).
int BoundCpuClass();
// The binding walk over an explicit table of `rowCount` rows: for each candidate class of the
// fallback row of `cpuClass`, store that column slot by slot until an entry is missing; the
// first complete column is recorded as the bound class.  BindPrimitives uses VariantTable().
int BindPrimitivesFrom(const PrimitiveVariants* rows, int rowCount, int cpuClass);

template <typename Fn>
inline Fn Slot(int slot) {
  return reinterpret_cast<Fn>(gPrimitiveSlots[slot].load(std::memory_order_relaxed));
}

// ---- Wrappers: the names the encoder calls. -------------------------------------------------
// Vector primitives take lengths >= 1 (else kStsSizeErr, nothing written) and non-null
// pointers (else kStsNullPtrErr); sources and destinations may be the same array.
// AlignedAlloc: 32-byte aligned, uninitialised, null for 0 bytes or without memory.
inline void* AlignedAlloc(std::size_t bytes) { return Slot<AlignedAllocFn>(kSlotAlignedAlloc)(bytes); }
inline void AlignedFree(void* p) { Slot<AlignedFreeFn>(kSlotAlignedFree)(p); }
inline int FirStateFree(FirState* s) { return Slot<FirStateFreeFn>(kSlotFirStateFree)(s); }
inline int VecMaxAbs(const float* src, int len, float* result) { return Slot<VecMaxAbsFn>(kSlotVecMaxAbs)(src, len, result); }
// FFT spec records: order 0..30, flag one of kFftDivFwdByN, kFftDivInvByN, kFftDivBySqrtN,
// kFftNoDiv; the hint is ignored.  *spec is null after a failure.  A spec whose
// tables and transform buffers could not fit into the installed memory fails with
// kStsMemAllocErr.
inline int FftRealSpecCreate(FftSpec** spec, int order, int flag, int hint) {
  return Slot<FftSpecCreateFn>(kSlotFftRealSpecCreate)(spec, order, flag, hint);
}
inline int VecMulInPlace(const float* src, float* srcDst, int len) { return Slot<VecSrcDstFn>(kSlotVecMulInPlace)(src, srcDst, len); }
// Packed order: R0, R(N/2), R1, I1, ..., R(N/2-1), I(N/2-1).
inline int FftRealForward(const float* src, float* dst, const FftSpec* spec, float* work) {
  return Slot<FftTransformFn>(kSlotFftRealForward)(src, dst, spec, work);
}
inline int VecZero(float* dst, int len) { return Slot<VecDstFn>(kSlotVecZero)(dst, len); }
// dst[i] = |src[2i] + j src[2i+1]| for len complex pairs.
inline int VecMagnitude(const float* src, float* dst, int len) { return Slot<VecSrcToDstFn>(kSlotVecMagnitude)(src, dst, len); }
inline int VecSum(const float* src, int len, float* result) { return Slot<VecReduceFn>(kSlotVecSum)(src, len, result); }
inline int VecMulConstInPlace(float value, float* srcDst, int len) {
  return Slot<VecConstInPlaceFn>(kSlotVecMulConstInPlace)(value, srcDst, len);
}
inline int VecSquareInPlace(float* srcDst, int len) { return Slot<VecInPlaceFn>(kSlotVecSquareInPlace)(srcDst, len); }
inline int VecAbs(const float* src, float* dst, int len) { return Slot<VecSrcToDstFn>(kSlotVecAbs)(src, dst, len); }
inline int VecCopy(const float* src, float* dst, int len) { return Slot<VecSrcToDstFn>(kSlotVecCopy)(src, dst, len); }
// X[k] = sum x[n] e^(-j 2 pi k n / N), interleaved complex, 2^order points.
inline int FftComplexForward(const float* src, float* dst, const FftSpec* spec, float* work) {
  return Slot<FftTransformFn>(kSlotFftComplexForward)(src, dst, spec, work);
}
inline int FftComplexInverse(const float* src, float* dst, const FftSpec* spec, float* work) {
  return Slot<FftTransformFn>(kSlotFftComplexInverse)(src, dst, spec, work);
}
inline int FftComplexSpecCreate(FftSpec** spec, int order, int flag, int hint) {
  return Slot<FftSpecCreateFn>(kSlotFftComplexSpecCreate)(spec, order, flag, hint);
}
inline int FftComplexSpecFree(FftSpec* spec) { return Slot<FftSpecFreeFn>(kSlotFftComplexSpecFree)(spec); }
inline int FftRealSpecFree(FftSpec* spec) { return Slot<FftSpecFreeFn>(kSlotFftRealSpecFree)(spec); }
inline int VecSet(float value, float* dst, int len) { return Slot<VecSetFn>(kSlotVecSet)(value, dst, len); }
inline int VecMul(const float* a, const float* b, float* dst, int len) { return Slot<VecBinaryFn>(kSlotVecMul)(a, b, dst, len); }
// dst[i] = src2[i] - src1[i]: the first argument is subtracted from the second.
inline int VecSub(const float* src1, const float* src2, float* dst, int len) { return Slot<VecBinaryFn>(kSlotVecSub)(src1, src2, dst, len); }
inline int VecAdd(const float* a, const float* b, float* dst, int len) { return Slot<VecBinaryFn>(kSlotVecAdd)(a, b, dst, len); }
inline int VecAddInPlace(const float* src, float* srcDst, int len) { return Slot<VecSrcDstFn>(kSlotVecAddInPlace)(src, srcDst, len); }
inline int VecMulConst(const float* src, float value, float* dst, int len) {
  return Slot<VecMulConstFn>(kSlotVecMulConst)(src, value, dst, len);
}
// dst[n] = sum taps[k] * x[n - k]; the last tapCount - 1 inputs stay in the state for the next
// call.  src and dst may be the same array.
inline int FirFilter(const float* src, float* dst, int count, FirState* state) {
  return Slot<FirFilterFn>(kSlotFirFilter)(src, dst, count, state);
}
// taps: tapCount coefficients, taps[0] weighting the newest sample.  delayLine: null for a
// silent past, else the tapCount - 1 samples before the first input, oldest first.
inline int FirStateCreate(FirState** state, const float* taps, int tapCount, const float* delayLine) {
  return Slot<FirStateCreateFn>(kSlotFirStateCreate)(state, taps, tapCount, delayLine);
}
inline int VecAbsInPlace(float* srcDst, int len) { return Slot<VecInPlaceFn>(kSlotVecAbsInPlace)(srcDst, len); }
inline int VecDotProduct(const float* a, const float* b, int len, float* result) {
  return Slot<VecDotProductFn>(kSlotVecDotProduct)(a, b, len, result);
}
// The largest value and the index of its first occurrence.
inline int VecMaxIndex(const float* src, int len, float* maxValue, int* index) {
  return Slot<VecMaxIndexFn>(kSlotVecMaxIndex)(src, len, maxValue, index);
}
// srcDst[i] = srcDst[i] - src[i].
inline int VecSubInPlace(const float* src, float* srcDst, int len) { return Slot<VecSrcDstFn>(kSlotVecSubInPlace)(src, srcDst, len); }

// ---- Kernels. -------------------------------------------------------------------------------
// Quantises the lines of bands 0..bands-1 (band b holds lines bandOffset[b] up to
// bandOffset[b + 1]), band after band: q[i] = the bits of float(step * y[i] + (2^23 - 0.0946))
// minus those of 2^23 (the nearest integer to step * y[i] - 0.0946 for y >= 0), with the product
// and the sum in double precision.  Sets changed[b] to 1 when a line of band b now differs from
// what q held before (and leaves it alone otherwise) and peak[b] to the band's largest value
// (at least 0).  Stops after the first band holding a value above 8191 and returns 1 (later
// bands, flags and peaks are untouched); returns 0 when every band was quantised.  Every column
// gives the same bits.
inline int QuantiseBands(const float* y, int32_t* q, const int* bandOffset, int bands, double step, uint8_t* changed,
                         int32_t* peak) {
  return Slot<QuantiseBandsFn>(kSlotQuantiseBands)(y, q, bandOffset, bands, step, changed, peak);
}
// Squared reconstruction error of n lines: the sum of (scale * power43[min(|q[i]|, 16383)] - a[i])^2
// in four partial sums over the lines i = 0, 1, 2, 3 mod 4 (in order), the lines past the last
// multiple of four added to the first, then (s0 + s1) + (s2 + s3).  Every column gives the same
// float.
inline float BandError(const float* power43, float scale, const int32_t* q, const float* a, int n) {
  return Slot<BandErrorFn>(kSlotBandError)(power43, scale, q, a, n);
}
// Per band b < n of the lines x[start[b]] .. x[start[b] + width[b] - 1] (width >= 1): sums[b]
// their sum, dots[b] (when weights is not null) the sum of their products with
// weights[start[b]] ..., peaks[b] (when not null) their largest value, at least 0 (no NaN).
// The sums run in VecSum's and VecDotProduct's generic order (four partial sums over the lines
// i = 0, 1, 2, 3 mod 4, the rest added to the first, then (s0 + s1) + (s2 + s3)), so every
// column gives the generic column's bits.
inline void BandSums(const float* x, const float* weights, const int* start, const int* width, int n, float* sums,
                     float* dots, float* peaks) {
  Slot<BandSumsFn>(kSlotBandSums)(x, weights, start, width, n, sums, dots, peaks);
}
// Row b < n of a matrix (rows `stride` floats apart) against a vector over the row's columns
// first[b] .. first[b] + count[b] - 1 (count >= 1): out1[b] = sum rows[b][j] * x1[j] and, when
// x2 is not null, out2[b] likewise with x2; VecDotProduct's generic order, the same bits in every
// column.
inline void RowDots(const float* rows, int stride, const int* first, const int* count, int n, const float* x1,
                    const float* x2, float* out1, float* out2) {
  Slot<RowDotsFn>(kSlotRowDots)(rows, stride, first, count, n, x1, x2, out1, out2);
}

}  // namespace aacs::dsp
