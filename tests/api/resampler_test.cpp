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

struct ConverterDeleter {
  void operator()(Resampler* rs) const { ResamplerFree(rs); }
};
using ConverterPtr = std::unique_ptr<Resampler, ConverterDeleter>;

ConverterPtr Make(int inRate, int outRate, int channels, int* samplesPerCall) {
  return ConverterPtr(ResamplerCreate(float(outRate) / float(inRate), channels, -1, -1, -1, -1, samplesPerCall));
}

// Runs whole interleaved input through a converter in calls of samplesPerCall (the last one
// short), then flushes.  Returns the interleaved output.
std::vector<float> Convert(Resampler* rs, int samplesPerCall, const std::vector<int16_t>& in) {
  std::vector<float> out;
  const float* values = nullptr;
  for (size_t at = 0; at < in.size(); at += size_t(samplesPerCall)) {
    int count = int(std::min<size_t>(size_t(samplesPerCall), in.size() - at));
    int n = ResamplerProcess(rs, in.data() + at, count, &values);
    EXPECT_GE(n, 0);
    out.insert(out.end(), values, values + n);
  }
  int n = ResamplerFlush(rs, &values);
  out.insert(out.end(), values, values + n);
  return out;
}

std::vector<int16_t> Tone(int frames, int channels, double freq, int rate, double amplitude) {
  std::vector<int16_t> s(size_t(frames) * channels);
  for (int i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c)
      s[size_t(i) * channels + c] = int16_t(std::lround(amplitude * std::sin(kTwoPi * freq * i / rate)));
  return s;
}

std::vector<float> Channel(const std::vector<float>& interleaved, int channels, int c) {
  std::vector<float> x;
  for (size_t i = c; i < interleaved.size(); i += size_t(channels)) x.push_back(interleaved[i]);
  return x;
}

// Least-squares fit of a*sin + b*cos at `freq` over [from, to): amplitude and the power of what
// the fit leaves, relative to the fitted tone, in dB.
struct ToneFit {
  double amplitude;
  double residualDb;
};
ToneFit FitTone(const std::vector<float>& y, int from, int to, double freq, int rate) {
  double ss = 0, sc = 0, cc = 0, ys = 0, yc = 0;
  for (int k = from; k < to; ++k) {
    double s = std::sin(kTwoPi * freq * k / rate), c = std::cos(kTwoPi * freq * k / rate);
    ss += s * s, sc += s * c, cc += c * c, ys += y[k] * s, yc += y[k] * c;
  }
  double det = ss * cc - sc * sc;
  double a = (ys * cc - yc * sc) / det, b = (yc * ss - ys * sc) / det;
  double residual = 0;
  for (int k = from; k < to; ++k) {
    double e = y[k] - a * std::sin(kTwoPi * freq * k / rate) - b * std::cos(kTwoPi * freq * k / rate);
    residual += e * e;
  }
  double amplitude = std::hypot(a, b);
  double tonePower = amplitude * amplitude / 2 * (to - from);
  return {amplitude, 10 * std::log10(residual / tonePower + 1e-30)};
}

double RmsDb(const std::vector<float>& y, int from, int to, double reference) {
  double sum = 0;
  for (int k = from; k < to; ++k) sum += double(y[k]) * y[k];
  return 10 * std::log10(sum / (to - from) / (reference * reference / 2) + 1e-30);
}

TEST(Resampler, UnusableArgumentsAndCountsAreRefused) {
  int spc = -7;
  EXPECT_EQ(ResamplerCreate(0.5f, 2, -1, -1, -1, 0.0f, &spc), nullptr);  // cutoff -t
  EXPECT_EQ(ResamplerCreate(0.0f, 2, -1, -1, -1, -1, &spc), nullptr);
  EXPECT_EQ(ResamplerCreate(NAN, 2, -1, -1, -1, -1, &spc), nullptr);
  EXPECT_EQ(ResamplerCreate(0.5f, 0, -1, -1, -1, -1, &spc), nullptr);
  EXPECT_EQ(ResamplerCreate(0.5f, 7, -1, -1, -1, -1, &spc), nullptr);
  EXPECT_EQ(ResamplerCreate(0.5f, 2, 4, -1, -1, -1, &spc), nullptr);
  EXPECT_EQ(spc, -7);
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
        int spc = 0;
        ConverterPtr rs = Make(inRate, outRate, channels, &spc);
        ASSERT_TRUE(rs);
        ASSERT_GT(spc, 0);
        EXPECT_EQ(spc % channels, 0);
        std::vector<int16_t> in(size_t(spc), int16_t(-32768));
        const float* out = nullptr;
        int most = 0;
        for (int call = 0; call < 2; ++call) {
          int n = ResamplerProcess(rs.get(), in.data(), spc, &out);
          EXPECT_EQ(n % channels, 0);
          most = std::max(most, n / channels);
        }
        most = std::max(most, ResamplerFlush(rs.get(), &out) / channels);
        EXPECT_LE(most, kResamplerMaxOutputFrames);
        EXPECT_LE(most, rs->outCapacity);
        if (outRate / inRate == 12) {
          EXPECT_GT(most, 20000);  // the bound is close to the real need
        }
      }
    }
  }
}

struct ToneCase {
  int inRate, outRate;
  double freq;
};

// A tone in the passband keeps its level (0.1 dB), frequency and phase: output k is the input
// signal at time k / outRate, nothing else above -60 dB.
TEST(Resampler, PassbandTonesKeepLevelFrequencyAndTime) {
  const ToneCase cases[] = {{48000, 44100, 1000}, {48000, 44100, 15000}, {48000, 44100, 19500},
                            {96000, 48000, 3000}, {96000, 48000, 20000}, {44100, 22050, 9000},
                            {22050, 44100, 5000}, {22050, 44100, 9500},  {8000, 16000, 1000},
                            {8000, 16000, 3300},  {44100, 48000, 12345}, {8000, 96000, 2500}};
  for (const ToneCase& tc : cases) {
    SCOPED_TRACE(testing::Message() << tc.inRate << " -> " << tc.outRate << " at " << tc.freq << " Hz");
    int spc = 0;
    ConverterPtr rs = Make(tc.inRate, tc.outRate, 1, &spc);
    ASSERT_TRUE(rs);
    const int frames = tc.inRate / 2;
    std::vector<float> y = Convert(rs.get(), spc, Tone(frames, 1, tc.freq, tc.inRate, 10000));
    const int from = tc.outRate / 50, to = int(y.size()) - tc.outRate / 50;
    ToneFit fit = FitTone(y, from, to, tc.freq, tc.outRate);
    EXPECT_NEAR(20 * std::log10(fit.amplitude / 10000), 0.0, 0.1);
    EXPECT_LT(fit.residualDb, -60.0);
    // Zero delay: the output matches the input tone sampled at k / outRate.
    double err = 0;
    for (int k = from; k < to; ++k) {
      double e = y[k] - 10000 * std::sin(kTwoPi * tc.freq * k / tc.outRate);
      err += e * e;
    }
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
    int spc = 0;
    ConverterPtr rs = Make(tc.inRate, tc.outRate, 2, &spc);
    ASSERT_TRUE(rs);
    std::vector<float> y = Channel(Convert(rs.get(), spc, Tone(tc.inRate / 2, 2, tc.freq, tc.inRate, 10000)), 2, 1);
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
      int spc = 0;
      ConverterPtr multi = Make(r.inRate, r.outRate, channels, &spc);
      ASSERT_TRUE(multi);
      std::vector<float> y = Convert(multi.get(), 499 * channels, in);
      for (int c = 0; c < channels; ++c) {
        std::vector<int16_t> mono(frames);
        for (int i = 0; i < frames; ++i) mono[i] = in[size_t(i) * channels + c];
        int monoSpc = 0;
        ConverterPtr single = Make(r.inRate, r.outRate, 1, &monoSpc);
        std::vector<float> expected = Convert(single.get(), monoSpc, mono);
        std::vector<float> got = Channel(y, channels, c);
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
      int spc = 0;
      ConverterPtr rs = Make(tc.inRate, tc.outRate, channels, &spc);
      ASSERT_TRUE(rs);
      const int frames = 12345;
      std::vector<float> all = Convert(rs.get(), spc, Tone(frames, channels, tc.freq, tc.inRate, 10000));
      const double exact = double(frames) * tc.outRate / tc.inRate;
      std::vector<float> y = Channel(all, channels, channels - 1);
      EXPECT_NEAR(double(y.size()), std::ceil(exact), 1.0);
      EXPECT_EQ(rs->outputCount, int64_t(y.size()));
      // The last 5 ms before the end, away from the final edge's ringing.
      int to = int(y.size()) - tc.outRate / 1000, from = to - tc.outRate / 200;
      ToneFit fit = FitTone(y, from, to, tc.freq, tc.outRate);
      EXPECT_NEAR(20 * std::log10(fit.amplitude / 10000), 0.0, 0.1);
    }
  }
}

}  // namespace
}  // namespace aacs::api
