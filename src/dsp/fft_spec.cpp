// dsp/fft_spec.cpp — FFT spec records: argument checks, memory rule and table building.
//
// A spec record is one aligned block: the record followed by its tables.  Twiddles are
// computed in double precision from exactly reduced angles, so that every table entry is
// the correctly rounded float of its root of unity.
#include <cmath>
#include <cstring>
#include <new>

#include "dsp/fft_internal.h"
#include "dsp/generic_primitives.h"
#include "dsp/platform.h"

namespace aacs::dsp {
namespace {

constexpr int kMaxFftOrder = 30;
constexpr double kTwoPi = 6.283185307179586476925286766559;

std::size_t AlignUp(std::size_t bytes) { return (bytes + kBufferAlignment - 1) & ~(kBufferAlignment - 1); }

// Byte sizes of the tables of one complex core.
struct CoreLayout {
  std::size_t rev4Bytes = 0;
  std::size_t radix4Bytes = 0;
  std::size_t radix2Bytes = 0;
  std::size_t Total() const { return AlignUp(rev4Bytes) + AlignUp(radix4Bytes) + AlignUp(radix2Bytes); }
};

CoreLayout LayoutCore(int order) {
  CoreLayout layout;
  const std::size_t n = std::size_t{1} << order;
  if (order >= 2) layout.rev4Bytes = n / 4 * sizeof(std::uint32_t);
  std::size_t floats = 0;
  for (std::size_t h = 4; 4 * h <= n; h *= 4) floats += 6 * h;
  layout.radix4Bytes = floats * sizeof(float);
  if (order >= 3 && (order & 1)) layout.radix2Bytes = n * sizeof(float);
  return layout;
}

// exp(-2 pi i k / period) with k reduced exactly before the angle is formed.
void Root(std::size_t k, std::size_t period, float* re, float* im) {
  const double angle = kTwoPi * static_cast<double>(k % period) / static_cast<double>(period);
  *re = static_cast<float>(std::cos(angle));
  *im = static_cast<float>(-std::sin(angle));
}

void FillRev4(int order, std::uint32_t* rev4) {
  const int bits = order - 2;
  const std::size_t count = std::size_t{1} << bits;
  std::uint32_t* rev = rev4;  // bit reversal first, then scaled by 4 in place
  rev[0] = 0;
  for (std::size_t r = 1; r < count; ++r) {
    rev[r] = (rev[r >> 1] >> 1) | (static_cast<std::uint32_t>(r & 1) << (bits - 1));
  }
  for (std::size_t r = 0; r < count; ++r) rev[r] *= 4;
}

void FillRadix4(std::size_t n, float* tw) {
  for (std::size_t h = 4; 4 * h <= n; h *= 4) {
    float* pass = tw + Radix4PassOffset(h);
    for (std::size_t j = 0; j < h; ++j) {
      for (std::size_t m = 1; m <= 3; ++m) {
        Root(m * j, 4 * h, &pass[(2 * m - 2) * h + j], &pass[(2 * m - 1) * h + j]);
      }
    }
  }
}

void FillRadix2(std::size_t n, float* tw) {
  for (std::size_t k = 0; k < n / 2; ++k) Root(k, n, &tw[k], &tw[n / 2 + k]);
}

// Lays the core tables out from `cursor` and fills them; returns the end of the tables.
unsigned char* BuildCore(int order, unsigned char* cursor, FftCore* core) {
  const CoreLayout layout = LayoutCore(order);
  core->order = order;
  core->n = std::size_t{1} << order;
  core->rev4 = nullptr;
  core->radix4Twiddles = nullptr;
  core->radix2Twiddles = nullptr;
  if (layout.rev4Bytes > 0) {
    auto* rev4 = reinterpret_cast<std::uint32_t*>(cursor);
    FillRev4(order, rev4);
    core->rev4 = rev4;
    cursor += AlignUp(layout.rev4Bytes);
  }
  if (layout.radix4Bytes > 0) {
    auto* tw = reinterpret_cast<float*>(cursor);
    FillRadix4(core->n, tw);
    core->radix4Twiddles = tw;
    cursor += AlignUp(layout.radix4Bytes);
  }
  if (layout.radix2Bytes > 0) {
    auto* tw = reinterpret_cast<float*>(cursor);
    FillRadix2(core->n, tw);
    core->radix2Twiddles = tw;
    cursor += AlignUp(layout.radix2Bytes);
  }
  return cursor;
}

float ScaleFor(int flag, int divideFlag, int order) {
  if (flag == divideFlag) return static_cast<float>(1.0 / std::ldexp(1.0, order));
  if (flag == kFftDivBySqrtN) return static_cast<float>(1.0 / std::sqrt(std::ldexp(1.0, order)));
  return 1.0f;
}

int CreateSpec(FftSpec** out, int order, int flag, int hint, bool real, std::uint64_t memoryLimit) {
  if (out == nullptr) return kStsNullPtrErr;
  *out = nullptr;
  if (order < 0 || order > kMaxFftOrder) return kStsFftOrderErr;
  if (flag != kFftDivFwdByN && flag != kFftDivInvByN && flag != kFftDivBySqrtN && flag != kFftNoDiv) {
    return kStsFftFlagErr;
  }
  const int coreOrder = real ? (order > 0 ? order - 1 : 0) : order;
  const std::size_t realFloats = real ? 2 * ((std::size_t{1} << order) / 4 + 1) : 0;
  const std::size_t bytes = AlignUp(sizeof(FftSpec)) + LayoutCore(coreOrder).Total() +
                            AlignUp(realFloats * sizeof(float));
  // Source, destination and work buffer of one transform come on top of the tables.
  const std::uint64_t bufferBytes = 3 * (std::uint64_t{1} << order) * (real ? 4 : 8);
  if (memoryLimit != 0 && bytes + bufferBytes > memoryLimit) return kStsMemAllocErr;
  auto* block = static_cast<unsigned char*>(AllocAlignedBuffer(bytes));
  if (block == nullptr) return kStsMemAllocErr;

  auto* spec = new (block) FftSpec{};
  spec->kind = real ? kFftKindReal : kFftKindComplex;
  spec->order = order;
  spec->flag = flag;
  spec->hint = hint;
  spec->forwardScale = ScaleFor(flag, kFftDivFwdByN, order);
  spec->inverseScale = ScaleFor(flag, kFftDivInvByN, order);
  unsigned char* cursor = BuildCore(coreOrder, block + AlignUp(sizeof(FftSpec)), &spec->core);
  if (real) {
    const std::size_t quarter = (std::size_t{1} << order) / 4;
    auto* cosTable = reinterpret_cast<float*>(cursor);
    float* sinTable = cosTable + quarter + 1;
    for (std::size_t k = 0; k <= quarter; ++k) Root(k, std::size_t{1} << order, &cosTable[k], &sinTable[k]);
    spec->realCos = cosTable;
    spec->realSin = sinTable;
  }
  *out = spec;
  return kStsOk;
}

int FreeSpec(FftSpec* spec, std::uint32_t kind) {
  if (spec == nullptr) return kStsNullPtrErr;
  if (spec->kind != kind) return kStsContextMatchErr;
  FreeAlignedBuffer(spec);
  return kStsOk;
}

}  // namespace

std::size_t FftWorkBufferFloats(const FftSpec* spec) {
  if (spec == nullptr) return 0;
  const std::size_t n = std::size_t{1} << spec->order;
  return spec->kind == kFftKindReal ? n : 2 * n;
}

FftWork::FftWork(const FftSpec* spec, float* callerWork) : data(callerWork), owned(nullptr) {
  if (data == nullptr) {
    owned = static_cast<float*>(AllocAlignedBuffer(FftWorkBufferFloats(spec) * sizeof(float)));
    data = owned;
  }
}

FftWork::~FftWork() { FreeAlignedBuffer(owned); }

int CreateFftSpecWithLimit(FftSpec** spec, int order, int flag, int hint, bool real,
                           std::uint64_t memoryLimit) {
  return CreateSpec(spec, order, flag, hint, real, memoryLimit);
}

namespace generic {

int FftComplexSpecCreate(FftSpec** spec, int order, int flag, int hint) {
  return CreateSpec(spec, order, flag, hint, false, PhysicalMemoryBytes());
}

int FftRealSpecCreate(FftSpec** spec, int order, int flag, int hint) {
  return CreateSpec(spec, order, flag, hint, true, PhysicalMemoryBytes());
}

int FftComplexSpecFree(FftSpec* spec) { return FreeSpec(spec, kFftKindComplex); }

int FftRealSpecFree(FftSpec* spec) { return FreeSpec(spec, kFftKindReal); }

}  // namespace generic
}  // namespace aacs::dsp
