// PEAQ measurement (bench/peaq/): grades of generated signals ordered as a listener would order
// them, and the one-line refusals of pairs that cannot be compared.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <random>
#include <vector>
#include <string>

#include "peaq/pattern_processing.h"
#include "peaq/peaq.h"
#include "peaq/resample.h"

namespace aacs::peaq {
namespace {

constexpr double kSeconds = 3.0;

// Three seconds of a stereo "instrument": harmonic tones up to 12 kHz (fundamentals 440 and
// 660 Hz) with a slow tremolo, peaking near -10 dBFS, in 16-bit units.
AudioSignal MusicLikeSignal(int rate) {
  AudioSignal s;
  s.sampleRate = rate;
  s.channels = 2;
  s.length = long(kSeconds * rate);
  for (int c = 0; c < 2; ++c) {
    const double f0 = 440.0 * (1.0 + 0.5 * c);
    s.samples[c].resize(s.length);
    for (long n = 0; n < s.length; ++n) {
      const double t = double(n) / rate, tremolo = 0.6 + 0.4 * std::sin(2.0 * M_PI * 3.0 * t);
      double x = 0.0;
      for (int h = 1; h * f0 <= 12000.0; ++h) x += std::sin(2.0 * M_PI * f0 * h * t + h) / h;
      s.samples[c][n] = float(3000.0 * tremolo * x);
    }
  }
  return s;
}

// The signal plus white noise at `snrDb` below its power.
AudioSignal WithNoise(const AudioSignal& s, double snrDb) {
  AudioSignal out = s;
  std::mt19937 rng(11);
  for (int c = 0; c < s.channels; ++c) {
    double power = 0.0;
    for (float x : s.samples[c]) power += double(x) * x;
    std::normal_distribution<double> noise(0.0, std::sqrt(power / s.length / std::pow(10.0, snrDb / 10.0)));
    for (float& x : out.samples[c]) x += float(noise(rng));
  }
  return out;
}

double Grade(const AudioSignal& ref, const AudioSignal& test) {
  PeaqResult result{};
  EXPECT_EQ(MeasureQuality(ref, test, PeaqOptions{}, result), kPeaqOk);
  return result.odg;
}

std::string WriteWav(const char* name, int rate, long frames) {
  const std::string path = (std::filesystem::temp_directory_path() / name).string();
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  EXPECT_NE(f, nullptr);
  std::vector<short> zeros(frames, 100);
  sf_writef_short(f, zeros.data(), frames);
  sf_close(f);
  return path;
}

TEST(Peaq, IdenticalSignalsGradeAtTheTopOfTheScale) {
  const AudioSignal ref = MusicLikeSignal(48000);
  EXPECT_GT(Grade(ref, ref), -0.2);
}

TEST(Peaq, IdenticalSignalsAt44100GradeAtTheTopAfterConversionTo48k) {
  AudioSignal ref = MusicLikeSignal(44100);
  ASSERT_EQ(ResampleToModelRate(ref), kPeaqOk);
  EXPECT_EQ(ref.sampleRate, 48000);
  EXPECT_NEAR(double(ref.length), kSeconds * 48000, 2.0);
  EXPECT_GT(Grade(ref, ref), -0.2);
}

TEST(Peaq, LouderNoiseGradesClearlyLower) {
  const AudioSignal ref = MusicLikeSignal(48000);
  const double mild = Grade(ref, WithNoise(ref, 65.0)), strong = Grade(ref, WithNoise(ref, 20.0));
  EXPECT_GT(mild, -1.0);
  EXPECT_LT(strong, mild - 1.5);
  EXPECT_GE(strong, -3.98);
}

// Pattern adaptation only ever lowers: where the test is 10 dB stronger in some bands, the test
// is brought down there (and the reference elsewhere), never the weaker signal raised.
TEST(Peaq, PatternAdaptationLowersTheStrongerSignal) {
  auto ear = std::make_unique<EarTables>();
  ASSERT_EQ(BuildEarTables(48000.0, kDefaultListeningLevelDb, *ear), 0);
  auto state = std::make_unique<AdaptationState>();
  ResetAdaptation(*state);
  double ref[kNumBands], test[kNumBands];
  for (int k = 0; k < kNumBands; ++k) {
    ref[k] = 1e6;
    test[k] = k >= 40 && k < 60 ? 1e7 : 1e6;
  }
  AdaptedPatterns out{};
  for (int n = 0; n < 200; ++n) AdaptPatterns(*ear, ref, test, *state, out);
  for (int k = 0; k < kNumBands; ++k) {
    EXPECT_LE(out.ref[k], ref[k] * (1.0 + 1e-9)) << "band " << k;
    EXPECT_LE(out.test[k], test[k] * (1.0 + 1e-9)) << "band " << k;
  }
  EXPECT_NEAR(out.test[50] / out.ref[50], 1.0, 0.25);
  FreeEarTables(*ear);
}

TEST(Peaq, MismatchedLengthIsRefusedInOneLineNamingTheTestFile) {
  const std::string ref = WriteWav("peaq_ref.wav", 48000, 48000), test = WriteWav("peaq_short.wav", 48000, 47000);
  AudioSignal a, b;
  std::string error;
  EXPECT_EQ(ReadAudioPair(ref.c_str(), test.c_str(), a, b, error), kPeaqMismatch);
  EXPECT_NE(error.find(test), std::string::npos);
  EXPECT_EQ(error.find('\n'), std::string::npos);
}

TEST(Peaq, MismatchedRateAndUnreadableFileAreRefused) {
  const std::string ref = WriteWav("peaq_ref48.wav", 48000, 48000), test = WriteWav("peaq_44.wav", 44100, 48000);
  AudioSignal a, b;
  std::string error;
  EXPECT_EQ(ReadAudioPair(ref.c_str(), test.c_str(), a, b, error), kPeaqMismatch);
  EXPECT_NE(error.find("44100"), std::string::npos);
  EXPECT_EQ(ReadAudioPair(ref.c_str(), "/nonexistent/peaq.wav", a, b, error), kPeaqUnreadable);
  EXPECT_EQ(error.rfind("/nonexistent/peaq.wav", 0), 0u);
}

}  // namespace
}  // namespace aacs::peaq
