// Perceptual quality: short clips of the test data encoded at 64 and 128 kbit/s stereo, decoded
// by FFmpeg and graded by the project's PEAQ meter.  The mean grade must not fall below the
// floor recorded when the tuning last changed (docs/quality.md): a change that lowers it is a
// quality regression even when every stream still decodes.  The VBR levels must rise in quality.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "peaq/peaq.h"
#include "peaq/resample.h"
#include "aacstream/aacstream.h"
#include "support/audio_support.h"

namespace aacs::testing {
namespace {

// Recorded means less 0.05: room for the float differences between processors' columns.
constexpr double kFloor64 = -1.43;
constexpr double kFloor128 = -0.39;

peaq::AudioSignal ToSignal(const Audio& a, int start, int frames) {
  peaq::AudioSignal s;
  s.sampleRate = a.sampleRate;
  s.channels = a.channels;
  s.length = frames;
  for (int c = 0; c < a.channels; ++c) {
    s.samples[c].resize(static_cast<size_t>(frames));
    for (int i = 0; i < frames; ++i) s.samples[c][static_cast<size_t>(i)] = a.At(start + i, c);
  }
  return s;
}

double Odg(const Audio& in, int kbps, int vbrLevel = 0) {
  const Encoded enc = EncodeAudio(in, {.kbps = kbps, .extra = {{AACSTREAM_OPT_VBR_LEVEL, vbrLevel}}});
  const Decoded dec = DecodeFfmpeg(enc.bytes);
  EXPECT_EQ(dec.errors, "");
  EXPECT_GE(dec.audio.Frames(), in.Frames() + 1024);
  peaq::AudioSignal ref = ToSignal(in, 0, in.Frames()), test = ToSignal(dec.audio, 1024, in.Frames());
  EXPECT_EQ(peaq::ResampleToModelRate(ref), peaq::kPeaqOk);
  EXPECT_EQ(peaq::ResampleToModelRate(test), peaq::kPeaqOk);
  peaq::PeaqResult result{};
  EXPECT_EQ(peaq::MeasureQuality(ref, test, peaq::PeaqOptions{}, result), peaq::kPeaqOk);
  return result.odg;
}

TEST(QualityFloor, MeanGradeOfShortClipsHoldsItsFloor) {
  const char* clips[] = {"castanets_3s.wav", "drums_3s.wav", "harpsichord_3s.wav", "music_pop_3s.wav",
                         "orchestral_3s.wav"};
  for (const auto& [kbps, floor] : {std::pair{64, kFloor64}, std::pair{128, kFloor128}}) {
    double sum = 0.0;
    for (const char* clip : clips) {
      const double odg = Odg(Load(clip), kbps);
      std::printf("[ quality  ] %-20s %3d kbit/s  ODG %.3f\n", clip, kbps, odg);
      sum += odg;
    }
    const double mean = sum / std::size(clips);
    std::printf("[ quality  ] mean at %d kbit/s: %.3f (floor %.2f)\n", kbps, mean, floor);
    EXPECT_GE(mean, floor) << kbps << " kbit/s";
  }
}

// The quality levels: every step up sounds better on average over a fixed set of clips.
TEST(QualityFloor, VbrLevelsRiseInQuality) {
  const char* clips[] = {"drums_3s.wav", "harpsichord_3s.wav", "orchestral_3s.wav"};
  double previous = -5.0;
  for (int level = 1; level <= 5; ++level) {
    double sum = 0.0;
    for (const char* clip : clips) sum += Odg(Load(clip), 128, level);
    const double mean = sum / std::size(clips);
    std::printf("[ quality  ] VBR level %d: mean ODG %.3f\n", level, mean);
    EXPECT_GT(mean, previous) << "level " << level;
    previous = mean;
  }
}

}  // namespace
}  // namespace aacs::testing
