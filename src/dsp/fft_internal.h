// dsp/fft_internal.h — layout of the FFT spec record, shared by every FFT kernel.
//
// A complex transform of n = 2^order points runs as: a first pass that gathers the input in
// bit-reversed order and does the length-4 butterflies (or handles n < 4 directly), radix-4
// passes for quarter spans h = 4, 16, ..., and for odd orders a closing radix-2 pass of span
// n/2.  Data between passes is split into a real and an imaginary array in the work buffer.
// The inverse reuses the forward passes on swapped real and imaginary parts.  A real
// transform of N points is the complex transform of N/2 points on the interleaved input,
// untangled into the packed half spectrum by a last pass.
#pragma once
#include <cstddef>
#include <cstdint>

#include "dsp/primitives.h"

namespace aacs::dsp {

constexpr std::uint32_t kFftKindComplex = 0x43544646;  // "FFTC"
constexpr std::uint32_t kFftKindReal = 0x52544646;     // "FFTR"

// Tables of one complex transform of n = 2^order points (forward sign).
struct FftCore {
  int order;
  std::size_t n;
  // order >= 2: for r < n/4, 4 * bitreverse(r) over order - 2 bits: where the length-4 DFT of
  // x[r], x[r + n/4], x[r + n/2], x[r + 3n/4] lands in the split arrays.
  const std::uint32_t* rev4;
  // Radix-4 passes h = 4, 16, ... while 4h <= n; each holds six arrays of h floats:
  // Re/Im of W^j, W^2j, W^3j with W = exp(-2 pi i / 4h), j < h.
  const float* radix4Twiddles;
  // Odd orders >= 3: Re then Im of exp(-2 pi i k / n), k < n/2.
  const float* radix2Twiddles;
};

struct FftSpec {
  std::uint32_t kind;
  int order;       // log2 of the transform length (complex points, or real samples)
  int flag;        // the scaling flag it was created with
  int hint;
  float forwardScale;  // 1 when unscaled
  float inverseScale;
  FftCore core;        // complex: order points; real: order - 1 points (order >= 1)
  // Real spec records: cos and -sin of 2 pi k / N for k <= N/4, the untangling twiddles.
  const float* realCos;
  const float* realSin;
};

// Offset of the radix-4 pass with quarter span h inside radix4Twiddles:
// 6 (4 + 16 + ... + h/4) = 2 (h - 4).
inline std::size_t Radix4PassOffset(std::size_t h) { return 2 * (h - 4); }

// The argument checks shared by every transform.
inline int CheckTransform(const float* src, const float* dst, const FftSpec* spec,
                          std::uint32_t kind) {
  if (src == nullptr || dst == nullptr || spec == nullptr) return kStsNullPtrErr;
  return spec->kind == kind ? kStsOk : kStsContextMatchErr;
}

// A work buffer of FftWorkBufferFloats floats: the caller's, or a fresh one that the
// destructor releases.
struct FftWork {
  float* data;
  float* owned;
  FftWork(const FftSpec* spec, float* callerWork);
  ~FftWork();
  FftWork(const FftWork&) = delete;
  FftWork& operator=(const FftWork&) = delete;
};

// Spec constructor with an explicit memory limit in bytes (0: none) for tables plus
// one transform's buffers; the create primitives pass the installed memory.
int CreateFftSpecWithLimit(FftSpec** spec, int order, int flag, int hint, bool real,
                           std::uint64_t memoryLimit);

namespace generic {
// Forward DFT of core.n interleaved complex points into the split arrays re and im.
// swapInput treats each input pair as (im, re), which turns the forward pass into the
// inverse of the swapped result.
void ComplexToSplit(const FftCore& core, const float* src, bool swapInput, float* re, float* im);
// The untangling pass of the real transform: the half-length spectrum (split) into dst.
void RealUntangle(const FftSpec& spec, const float* re, const float* im, float* dst);
}  // namespace generic

}  // namespace aacs::dsp
