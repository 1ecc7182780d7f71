// tests/psych/psy_test_util.h — a zeroed stream with the model's configuration defaults, a
// channel layout, and helpers to feed frames through the model.
#pragma once
#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
#include <vector>

#include "api/stream_context.h"
#include "enc/channel_info.h"
#include "psych/psy_model.h"

namespace aacs::psych::test {

// The configuration the model reads, at the defaults of a quality-9 stream, and the channel
// layout (1 SCE, 2 CPE, 6 SCE CPE CPE and an LFE or SCE).
inline void SetModelDefaults(StreamContext& ctx, int sampleRate, int channels, bool lfe = false) {
  ctx.sampleRate = sampleRate;
  ctx.bandwidth = 16000;
  ctx.lowpassCutoff = std::min(sampleRate / 2, 16500);
  ctx.noiseFlagStartHz = 6000;
  ctx.switchThreshold = 128.0f;
  ctx.psyEnergyFloor = 0.00001f;
  ctx.shortCarryFactor = 0.1f;
  ctx.psyWeight = 5.0f;
  ctx.noiseFlagLevel = 0.15f;
  ctx.spreadSlopeUpper = 3.0f;
  ctx.spreadSlopeLower = 1.5f;
  ctx.tonalSnr = 18.0f;
  ctx.noiseSnr = 6.0f;
  ctx.quality = 9;
  ctx.numChannels = channels;
  enc::BuildChannelMap(ctx.channelInfo, channels, lfe);
}

// A zeroed stream; with a rate, configured by SetModelDefaults.
struct Stream {
  std::unique_ptr<StreamContext> ctx = std::make_unique<StreamContext>();
  Stream() = default;
  Stream(int sampleRate, int channels, bool lfe = false) { SetModelDefaults(*ctx, sampleRate, channels, lfe); }
  ~Stream() { ReleasePsyModel(*ctx); }
  StreamContext& operator*() { return *ctx; }
  StreamContext* operator->() { return ctx.get(); }
};

using Frame = std::vector<std::vector<float>>;  // [channel][1024]

// Analyses one frame into result copy 0.
inline void Analyse(StreamContext& ctx, const Frame& frame) {
  const float* input[kMaxChannels] = {};
  for (size_t c = 0; c < frame.size(); ++c) input[c] = frame[c].data();
  AnalyseFrame(ctx, input, ctx.psyLong[0], ctx.psyShort[0], 0, 2000);
}

// Samples n0 .. n0 + 1023 of a sum of sines (frequency in Hz, amplitude at 16-bit scale).
inline std::vector<float> Tones(int n0, int sampleRate, const std::vector<std::pair<double, double>>& tones) {
  std::vector<float> x(kFrameLength, 0.0f);
  for (int i = 0; i < kFrameLength; ++i) {
    double v = 0.0;
    for (auto [f, a] : tones) v += a * std::sin(2.0 * std::numbers::pi * f * (n0 + i) / sampleRate);
    x[i] = static_cast<float>(v);
  }
  return x;
}

// Deterministic white noise, uniform in [-amplitude, amplitude].
struct Noise {
  uint32_t state;
  explicit Noise(uint32_t seed) : state(seed) {}
  std::vector<float> Frame(float amplitude) {
    std::vector<float> x(kFrameLength);
    for (float& v : x) {
      state = state * 1664525u + 1013904223u;
      v = amplitude * (static_cast<float>(state >> 8) / 8388608.0f - 1.0f);
    }
    return x;
  }
};

}  // namespace aacs::psych::test
