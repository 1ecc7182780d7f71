// dsp/fir.cpp — the FIR filter primitive and its state (layout in fir_internal.h).
#include <cstring>
#include <new>

#include "dsp/fir_internal.h"
#include "dsp/generic_primitives.h"
#include "dsp/platform.h"

namespace aacs::dsp {

namespace generic {
namespace {

std::size_t AlignFloats(std::size_t floats) { return (floats + 7) & ~std::size_t{7}; }
std::size_t AlignBytes(std::size_t bytes) { return (bytes + kBufferAlignment - 1) & ~(kBufferAlignment - 1); }

}  // namespace

int FirStateCreate(FirState** state, const float* taps, int tapCount, const float* delayLine) {
  if (state == nullptr || taps == nullptr) return kStsNullPtrErr;
  *state = nullptr;
  if (tapCount < 1) return kStsFirLenErr;
  const std::size_t taps8 = AlignFloats(static_cast<std::size_t>(tapCount));
  const std::size_t window = static_cast<std::size_t>(tapCount) - 1 + kFirChunk;
  const std::size_t bytes = AlignBytes(sizeof(FirState)) + (taps8 + window) * sizeof(float);
  auto* block = static_cast<unsigned char*>(AllocAlignedBuffer(bytes));
  if (block == nullptr) return kStsMemAllocErr;
  auto* s = new (block) FirState{};
  std::memcpy(s->mark, tapCount >= kWideTapCount ? kFirMarkWide : kFirMarkFloat, 4);
  s->tapCount = tapCount;
  s->tapsReversed = reinterpret_cast<float*>(block + AlignBytes(sizeof(FirState)));
  s->window = s->tapsReversed + taps8;
  for (int j = 0; j < tapCount; ++j) s->tapsReversed[j] = taps[tapCount - 1 - j];
  const std::size_t history = static_cast<std::size_t>(tapCount) - 1;
  if (delayLine != nullptr) {
    std::memcpy(s->window, delayLine, history * sizeof(float));
  } else {
    std::memset(s->window, 0, history * sizeof(float));
  }
  *state = s;
  return kStsOk;
}

int FirStateFree(FirState* state) {
  if (state == nullptr) return kStsNullPtrErr;
  if (std::memcmp(state->mark, kFirMarkFloat, 4) != 0 && std::memcmp(state->mark, kFirMarkWide, 4) != 0) {
    return kStsContextMatchErr;
  }
  FreeAlignedBuffer(state);
  return kStsOk;
}

int FirFilter(const float* src, float* dst, int count, FirState* state) {
  return FirFilterWith(src, dst, count, state, [](const float* taps, const float* window, float* out, int outputs,
                                                  int tapCount) {
    for (int n = 0; n < outputs; ++n) out[n] = FirDot(taps, window + n, tapCount);
  });
}

}  // namespace generic
}  // namespace aacs::dsp
