// dsp/fir.cpp — the FIR filter primitive and its state.
//
// The state keeps the taps reversed next to a buffer of the last tapCount - 1 inputs followed
// by room for a chunk of new ones, so that every output is one contiguous dot product.  Long
// filters ("30IF") accumulate in double precision; the rest ("10IF") in float.
#include <cstring>
#include <new>

#include "dsp/generic_primitives.h"
#include "dsp/platform.h"

namespace aacs::dsp {

struct FirState {
  char mark[4];
  int tapCount;
  float* tapsReversed;  // tapsReversed[j] = taps[tapCount - 1 - j]
  float* window;        // tapCount - 1 past inputs, then kFirChunk new ones
};

namespace generic {
namespace {

constexpr int kFirChunk = 256;
constexpr int kWideTapCount = 256;  // from here on float sums lose too much
constexpr char kMarkFloat[4] = {'1', '0', 'I', 'F'};
constexpr char kMarkWide[4] = {'3', '0', 'I', 'F'};

std::size_t AlignFloats(std::size_t floats) { return (floats + 7) & ~std::size_t{7}; }
std::size_t AlignBytes(std::size_t bytes) { return (bytes + kBufferAlignment - 1) & ~(kBufferAlignment - 1); }

float Dot(const float* taps, const float* x, int count) {
  float s0 = 0.0f, s1 = 0.0f, s2 = 0.0f, s3 = 0.0f;
  int k = 0;
  for (; k + 4 <= count; k += 4) {
    s0 += taps[k] * x[k];
    s1 += taps[k + 1] * x[k + 1];
    s2 += taps[k + 2] * x[k + 2];
    s3 += taps[k + 3] * x[k + 3];
  }
  for (; k < count; ++k) s0 += taps[k] * x[k];
  return (s0 + s1) + (s2 + s3);
}

float DotWide(const float* taps, const float* x, int count) {
  double sum = 0.0;
  for (int k = 0; k < count; ++k) sum += static_cast<double>(taps[k]) * x[k];
  return static_cast<float>(sum);
}

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
  std::memcpy(s->mark, tapCount >= kWideTapCount ? kMarkWide : kMarkFloat, 4);
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
  if (std::memcmp(state->mark, kMarkFloat, 4) != 0 && std::memcmp(state->mark, kMarkWide, 4) != 0) {
    return kStsContextMatchErr;
  }
  FreeAlignedBuffer(state);
  return kStsOk;
}

int FirFilter(const float* src, float* dst, int count, FirState* state) {
  if (src == nullptr || dst == nullptr || state == nullptr) return kStsNullPtrErr;
  const bool wide = std::memcmp(state->mark, kMarkWide, 4) == 0;
  if (!wide && std::memcmp(state->mark, kMarkFloat, 4) != 0) return kStsContextMatchErr;
  if (count < 1) return kStsSizeErr;
  const int taps = state->tapCount;
  const std::size_t history = static_cast<std::size_t>(taps) - 1;
  float* window = state->window;
  for (int done = 0; done < count;) {
    const int chunk = count - done < kFirChunk ? count - done : kFirChunk;
    // The chunk is copied before any output of it is written, so src may equal dst.
    std::memcpy(window + history, src + done, static_cast<std::size_t>(chunk) * sizeof(float));
    for (int n = 0; n < chunk; ++n) {
      dst[done + n] = wide ? DotWide(state->tapsReversed, window + n, taps)
                           : Dot(state->tapsReversed, window + n, taps);
    }
    std::memmove(window, window + chunk, history * sizeof(float));
    done += chunk;
  }
  return kStsOk;
}

}  // namespace generic
}  // namespace aacs::dsp
