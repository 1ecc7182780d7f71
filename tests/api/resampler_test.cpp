// Sample-rate converter: call sizes, passband tones, aliases and images, channel lanes, and the
// flushed tail.
#include "api/resampler.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "api/stream_context.h"
#include "enc/aac_constants.h"

namespace aacs::api {
namespace {

constexpr double kTwoPi = 6.283185307179586;

using ConverterPtr = std::unique_ptr<Resampler, decltype(&ResamplerFree)>;

ConverterPtr Make(int inRate, int outRate, int channels, int* samplesPerCall) {
  return {ResamplerCreate(float(outRate) / float(inRate), channels, -1, -1, -1, -1, samplesPerCall), &ResamplerFree};
}

// Runs whole interleaved input through a new converter in calls of its own size (or `callSize`;
// the last call short), then flushes.  Returns the interleaved output (channel `only` alone when
// it is not -1).
std::vector<float> Convert(int inRate, int outRate, int channels, const std::vector<int16_t>& in, int only = -1,
                           int callSize = 0, int64_t* outputCount = nullptr) {
  int spc = 0;
  ConverterPtr rs = Make(inRate, outRate, channels, &spc);
  EXPECT_TRUE(rs);
  if (!rs) return {};
  if (callSize) spc = callSize;
  std::vector<float> out;
  const float* values = nullptr;
  for (size_t at = 0; at < in.size(); at += size_t(spc)) {
    int n = ResamplerProcess(rs.get(), in.data() + at, int(std::min<size_t>(size_t(spc), in.size() - at)), &values);
    EXPECT_GE(n, 0);
    out.insert(out.end(), values, values + n);
  }
  int n = ResamplerFlush(rs.get(), &values);
  out.insert(out.end(), values, values + n);
  if (outputCount) *outputCount = rs->outputCount;
  if (only < 0) return out;
  std::vector<float> x;
  for (size_t i = size_t(only); i < out.size(); i += size_t(channels)) x.push_back(out[i]);
  return x;
}

std::vector<int16_t> Tone(int frames, int channels, double freq, int rate, double amplitude) {
  std::vector<int16_t> s(size_t(frames) * channels);
  for (int i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c)
      s[size_t(i) * channels + c] = int16_t(std::lround(amplitude * std::sin(kTwoPi * freq * i / rate)));
  return s;
}

// Least-squares fit of a*sin + b*cos at `freq` over [from, to): amplitude and the power of what
// the fit leaves, relative to the fitted tone, in dB.
struct ToneFit {
  double amplitude;
  double residualDb;
};
ToneFit FitTone(const std::vector<float>& y, int from, int to, double freq, int rate) {
  double ss = 0, sc = 0, cc = 0, ys = 0, yc = 0, residual = 0;
  for (int k = from; k < to; ++k) {
    double s = std::sin(kTwoPi * freq * k / rate), c = std::cos(kTwoPi * freq * k / rate);
    ss += s * s, sc += s * c, cc += c * c, ys += y[k] * s, yc += y[k] * c;
  }
  const double det = ss * cc - sc * sc, a = (ys * cc - yc * sc) / det, b = (yc * ss - ys * sc) / det;
  for (int k = from; k < to; ++k)
    residual += std::pow(y[k] - a * std::sin(kTwoPi * freq * k / rate) - b * std::cos(kTwoPi * freq * k / rate), 2);
  const double amplitude = std::hypot(a, b);
  return {amplitude, 10 * std::log10(residual / (amplitude * amplitude / 2 * (to - from)) + 1e-30)};
}

double RmsDb(const std::vector<float>& y, int from, int to, double reference) {
  double sum = 0;
  for (int k = from; k < to; ++k) sum += double(y[k]) * y[k];
  return 10 * std::log10(sum / (to - from) / (reference * reference / 2) + 1e-30);
}

TEST(Resampler, UnusableArgumentsAndCountsAreRefused) {
  int spc = -7;
  const struct { float ratio; int channels, length; float cutoff; } refused[] = {
      {0.5f, 2, -1, 0.0f}, {0.0f, 2, -1, -1}, {NAN, 2, -1, -1}, {0.5f, 0, -1, -1}, {0.5f, 7, -1, -1}, {0.5f, 2, 4, -1}};
  for (const auto& c : refused)
    EXPECT_EQ(ResamplerCreate(c.ratio, c.channels, c.length, -1, -1, c.cutoff, &spc), nullptr) << c.ratio << " " << c.channels;
  EXPECT_EQ(spc, -7);
  ASSERT_TRUE(Make(48000, 44100, 2, &spc));
  EXPECT_EQ(spc, 3594);  // 1797 stereo frames per call
  ConverterPtr rs = Make(48000, 32000, 3, &spc);
  ASSERT_TRUE(rs);
  std::vector<int16_t> in(size_t(spc) + 3);
  const float* out = nullptr;
  EXPECT_EQ(ResamplerProcess(rs.get(), in.data(), 4, &out), -1);
  EXPECT_EQ(ResamplerProcess(rs.get(), in.data(), spc + 3, &out), -1);
  EXPECT_EQ(ResamplerProcess(rs.get(), in.data(), 0, &out), 0);
  EXPECT_GE(ResamplerProcess(rs.get(), in.data(), spc, &out), 0);
  EXPECT_GE(ResamplerFlush(rs.get(), &out), 0);
  EXPECT_EQ(ResamplerProcess(rs.get(), in.data(), spc, &out), -1);  // after the flush
  EXPECT_EQ(ResamplerFlush(rs.get(), &out), 0);
}

// Every pair of AAC rates: whole frames per call, and no call (or flush) produces more than the
// frame driver's working array can take beside a leftover of 1023 frames.
TEST(Resampler, NoCallProducesMoreThan22528FramesAtAnyRatePair) {
  static_assert(kResamplerMaxOutputFrames + 1023 < kMaxWorkFrames);
  for (int inRate : kSampleRates) {
    for (int outRate : kSampleRates) {
      if (inRate == outRate) continue;
      for (int channels : {1, 2, 5}) {
        SCOPED_TRACE(testing::Message() << inRate << " -> " << outRate << ", " << channels << " ch");
        int spc = 0, most = 0;
        ConverterPtr rs = Make(inRate, outRate, channels, &spc);
        ASSERT_TRUE(rs && spc > 0 && spc % channels == 0) << spc;
        std::vector<int16_t> in(size_t(spc), int16_t(-32768));
        const float* out = nullptr;
        for (int call = 0; call < 3; ++call) {  // two calls, then the flush
          const int n = call < 2 ? ResamplerProcess(rs.get(), in.data(), spc, &out) : ResamplerFlush(rs.get(), &out);
          EXPECT_EQ(n % channels, 0);
          most = std::max(most, n / channels);
        }
        EXPECT_LE(most, std::min(kResamplerMaxOutputFrames, rs->outCapacity));
        if (outRate / inRate == 12) {
          EXPECT_GT(most, 20000);  // the bound is close to the real need
        }
      }
    }
  }
}

struct ToneCase { int inRate, outRate; double freq; };

// A tone in the passband keeps its level (0.1 dB), frequency and phase: output k is the input
// signal at time k / outRate, nothing else above -60 dB.
TEST(Resampler, PassbandTonesKeepLevelFrequencyAndTime) {
  const ToneCase cases[] = {{48000, 44100, 1000}, {48000, 44100, 15000}, {48000, 44100, 19500},
                            {96000, 48000, 3000}, {96000, 48000, 20000}, {44100, 22050, 9000},
                            {22050, 44100, 5000}, {22050, 44100, 9500},  {8000, 16000, 1000},
                            {8000, 16000, 3300},  {44100, 48000, 12345}, {8000, 96000, 2500}};
  for (const ToneCase& tc : cases) {
    SCOPED_TRACE(testing::Message() << tc.inRate << " -> " << tc.outRate << " at " << tc.freq << " Hz");
    const std::vector<float> y = Convert(tc.inRate, tc.outRate, 1, Tone(tc.inRate / 2, 1, tc.freq, tc.inRate, 10000));
    const int from = tc.outRate / 50, to = int(y.size()) - tc.outRate / 50;
    ToneFit fit = FitTone(y, from, to, tc.freq, tc.outRate);
    EXPECT_NEAR(20 * std::log10(fit.amplitude / 10000), 0.0, 0.1);
    EXPECT_LT(fit.residualDb, -60.0);
    // Zero delay: the output matches the input tone sampled at k / outRate.
    double err = 0;
    for (int k = from; k < to; ++k) err += std::pow(y[k] - 10000 * std::sin(kTwoPi * tc.freq * k / tc.outRate), 2);
    EXPECT_LT(10 * std::log10(err / (to - from) / 5e7), -40.0);
  }
}

// Tones that the new rate cannot carry leave nothing (no aliases) above -60 dB, and upsampling
// leaves no image of a tone mirrored at the old Nyquist frequency above -80 dB.
TEST(Resampler, NoAliasesAndNoImages) {
  const ToneCase cases[] = {{48000, 44100, 22800}, {48000, 44100, 23900}, {96000, 48000, 25000},
                            {96000, 48000, 40000}, {44100, 22050, 11600}, {44100, 22050, 20000},
                            {32000, 8000, 5000},   {22050, 44100, 7000},  {8000, 16000, 2500}};
  for (const ToneCase& tc : cases) {
    SCOPED_TRACE(testing::Message() << tc.inRate << " -> " << tc.outRate << " at " << tc.freq << " Hz");
    const std::vector<float> y = Convert(tc.inRate, tc.outRate, 2, Tone(tc.inRate / 2, 2, tc.freq, tc.inRate, 10000), 1);
    const int from = tc.outRate / 50, to = int(y.size()) - tc.outRate / 50;
    if (tc.outRate < tc.inRate) {
      EXPECT_LT(RmsDb(y, from, to, 10000), -60.0);
    } else {
      EXPECT_LT(20 * std::log10(FitTone(y, from, to, tc.inRate - tc.freq, tc.outRate).amplitude / 10000), -80.0);
    }
  }
}

std::vector<int16_t> Noise(int frames, int channels, unsigned seed) {
  std::vector<int16_t> s(size_t(frames) * channels);
  for (auto& v : s) {
    seed = seed * 1664525u + 1013904223u;
    v = int16_t(int(seed >> 16) - 32768);
  }
  return s;
}

// Each channel of a multichannel converter fed in short calls matches a mono converter fed that
// channel alone in full calls, whatever lane (pair or odd single) carries it.
TEST(Resampler, ChannelsMatchSeparateMonoRuns) {
  const struct { int inRate, outRate; } rates[] = {{48000, 44100}, {96000, 48000}, {22050, 44100}};
  for (auto r : rates) {
    for (int channels : {2, 3, 5, 6}) {
      SCOPED_TRACE(testing::Message() << r.inRate << " -> " << r.outRate << ", " << channels << " ch");
      const int frames = 20000;
      std::vector<int16_t> in = Noise(frames, channels, 99u + channels);
      for (int c = 0; c < channels; ++c) {
        std::vector<int16_t> mono(frames);
        for (int i = 0; i < frames; ++i) mono[i] = in[size_t(i) * channels + c];
        const std::vector<float> expected = Convert(r.inRate, r.outRate, 1, mono),
                                 got = Convert(r.inRate, r.outRate, channels, in, c, 499 * channels);
        ASSERT_EQ(got.size(), expected.size());
        float worst = 0;
        for (size_t k = 0; k < got.size(); ++k) worst = std::max(worst, std::fabs(got[k] - expected[k]));
        EXPECT_LT(worst, 0.1f) << "channel " << c;  // float rounding on a +-32768 signal
      }
    }
  }
}

// The flush delivers the tail: the output covers exactly the input's duration, and the last
// frames before the end still carry the tone at full level.
TEST(Resampler, FlushDeliversTheTail) {
  const ToneCase cases[] = {{48000, 44100, 1000}, {96000, 48000, 1000}, {8000, 96000, 1000}};
  for (const ToneCase& tc : cases) {
    for (int channels : {1, 2, 3}) {
      SCOPED_TRACE(testing::Message() << tc.inRate << " -> " << tc.outRate << ", " << channels << " ch");
      const int frames = 12345;
      int64_t outputCount = -1;
      const std::vector<float> y =
          Convert(tc.inRate, tc.outRate, channels, Tone(frames, channels, tc.freq, tc.inRate, 10000), channels - 1, 0, &outputCount);
      EXPECT_NEAR(double(y.size()), std::ceil(double(frames) * tc.outRate / tc.inRate), 1.0);
      EXPECT_EQ(outputCount, int64_t(y.size()));
      // The last 5 ms before the end, away from the final edge's ringing.
      int to = int(y.size()) - tc.outRate / 1000, from = to - tc.outRate / 200;
      EXPECT_NEAR(20 * std::log10(FitTone(y, from, to, tc.freq, tc.outRate).amplitude / 10000), 0.0, 0.1);
    }
  }
}

}  // namespace
}  // namespace aacs::api
