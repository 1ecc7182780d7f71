// peaq/resample.cpp — 44.1 kHz to 48 kHz through api::Resampler.
#include "peaq/resample.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "api/resampler.h"

namespace aacs::peaq {
namespace {

int16_t ToInt16(float x) { return int16_t(std::clamp(std::lrint(x), -32768L, 32767L)); }

void AppendInterleaved(const float* values, int count, int channels, std::vector<float>* out) {
  for (int i = 0; i < count; ++i) out[i % channels].push_back(values[i]);
}

}  // namespace

int ResampleToModelRate(AudioSignal& signal) {
  if (signal.sampleRate == kModelSampleRate) return kPeaqOk;
  const int channels = signal.channels;
  int perCall = 0;
  api::Resampler* rs = api::ResamplerCreate(float(kModelSampleRate) / float(signal.sampleRate), channels, -1, -1.0f,
                                            -1.0f, -1.0f, &perCall);
  if (!rs) return kPeaqInternal;
  std::vector<float> out[kMaxChannels];
  std::vector<int16_t> block(perCall);
  const float* produced = nullptr;
  const long total = signal.length * channels;
  for (long start = 0; start < total; start += perCall) {
    const int count = int(std::min<long>(perCall, total - start));
    for (int i = 0; i < count; ++i) {
      const long index = start + i;
      block[i] = ToInt16(signal.samples[index % channels][index / channels]);
    }
    const int got = api::ResamplerProcess(rs, block.data(), count, &produced);
    if (got < 0) break;
    AppendInterleaved(produced, got, channels, out);
  }
  const int rest = api::ResamplerFlush(rs, &produced);
  if (rest > 0) AppendInterleaved(produced, rest, channels, out);
  api::ResamplerFree(rs);
  for (int c = 0; c < channels; ++c) signal.samples[c].swap(out[c]);
  signal.length = long(signal.samples[0].size());
  signal.sampleRate = kModelSampleRate;
  return kPeaqOk;
}

}  // namespace aacs::peaq
