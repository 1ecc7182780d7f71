// The model frame by frame: silence, block decisions on real transients, mid/side flags of
// pairs, LFE and noise-substitution results, and the spectra kept for reuse.
#include <gtest/gtest.h>

#include <tuple>

#include "enc/filterbank.h"
#include "psych/psy_model.h"
#include "psy_test_util.h"

namespace aacs::psych {
namespace {

using test::Analyse;
using test::Frame;

const std::vector<std::pair<double, double>> kChord = {{440.0, 3000.0}, {1250.0, 2000.0}, {3300.0, 800.0}};

TEST(PsyModel, DigitalSilenceGivesZeroRatiosZeroEntropyAndTwoGroupsOfFour) {
  for (int channels : {1, 2}) {
    test::Stream s(44100, channels);
    const Frame silence(channels, std::vector<float>(kFrameLength, 0.0f));
    for (int i = 0; i < 3; ++i) Analyse(*s, silence);
    for (int c = 0; c < channels; ++c) {
      const PsyLongResult& lr = s->psyLong[0][c];
      const PsyShortResult& sr = s->psyShort[0][c];
      const auto& w0 = sr.window[0];
      EXPECT_EQ(std::tuple(lr.numBands, lr.pe, w0.pe, w0.groupClassMinus1, w0.numGroups, w0.groupLength[0],
                           w0.groupLength[1], s->blockType[c]),
                std::tuple(49, 0.0f, 0.0f, 1, 2, 4, 4, 0));
      for (int b = 0; b < 49; ++b) EXPECT_EQ(std::tuple(lr.ratio[b], lr.msUsed[b]), std::tuple(0.0f, 0)) << b;
      for (int w = 0; w < 8; ++w)
        for (int b = 0; b < 14; ++b) EXPECT_EQ(sr.window[w].ratio[b], 0.0f);
    }
  }
}

// Blocks decided for a stationary chord with a click at sample `at` of frame `clickFrame`.
std::vector<int> Decisions(int channels, int tda, int clickFrame, int clickChannel, int at = 300) {
  test::Stream s(44100, channels);
  s->timeDomainAttack = tda;
  s->peakTonality = tda;  // both belong to the lower quality levels
  std::vector<int> blocks;
  for (int f = 0; f < 10; ++f) {
    Frame frame;
    for (int c = 0; c < channels; ++c) frame.push_back(test::Tones(f * 1024, 44100, kChord));
    if (f == clickFrame)
      for (int i = at; i < at + 16; ++i) frame[clickChannel][i] += (i % 2 ? 20000.0f : -20000.0f);
    Analyse(*s, frame);
    for (int c = 1; c < channels; ++c) EXPECT_EQ(s->blockType[c], s->blockType[0]) << "pair members decide together";
    blocks.push_back(s->blockType[0]);
  }
  return blocks;
}

TEST(PsyModel, AClickInTheNewestFrameSwitchesToShortWhileSteadyTonesStayLong) {
  for (int tda : {0, 1}) {
    const std::vector<int> pair = Decisions(2, tda, 6, 1);  // one channel's click switches both
    EXPECT_EQ(pair[5], 0) << tda;
    EXPECT_EQ(pair[6], 2) << tda;
    const std::vector<int> steady = Decisions(1, tda, -1, 0);
    for (int f = 3; f < 10; ++f) EXPECT_EQ(steady[f], 0) << "tda " << tda << " frame " << f;
    const std::vector<int> click = Decisions(1, tda, 6, 0);
    for (int f = 3; f < 6; ++f) EXPECT_EQ(click[f], 0) << "tda " << tda << " frame " << f;
    EXPECT_EQ(click[6], 2) << "tda " << tda;
  }
  // The short analysis covers the newest frame up to sample 575 (the short windows of the next
  // coded block); a later click is decided by the following frame, when that block is coded.
  const std::vector<int> late = Decisions(1, 0, 6, 0, 700);
  EXPECT_EQ(late[6], 0);
  EXPECT_EQ(late[7], 2);
  // The time-domain detector looks at the whole newest frame.
  EXPECT_EQ(Decisions(1, 1, 6, 0, 700)[6], 2);
}

TEST(PsyModel, IdenticalChannelsAreMidSideInEveryBandAndASilentPartnerInNone) {
  test::Stream s(44100, 2);
  test::Noise noise(11);
  for (int f = 0; f < 4; ++f) {
    std::vector<float> x = noise.Frame(4000.0f);
    Analyse(*s, {x, x});
  }
  const PsyLongResult& right = s->psyLong[0][1];
  for (int b = 0; b < 49; ++b) {
    EXPECT_EQ(right.msUsed[b], 1) << b;
    EXPECT_EQ(s->psyLong[0][0].msUsed[b], 0) << "only the second channel carries the flags";
  }
  for (int w = 0; w < 8; ++w)
    for (int b = 0; b < 14; ++b) EXPECT_EQ(s->psyShort[0][1].window[w].msUsed[b], 1) << w << " " << b;
  // Mid carries the common signal; side is silent.
  for (int b = 0; b < 49; ++b) EXPECT_EQ(s->psyLong[0][7].ratio[b], 0.0f);
  EXPECT_GT(s->psyLong[0][6].pe, 0.0f);

  test::Stream q(44100, 2);
  for (int f = 0; f < 4; ++f) Analyse(*q, {noise.Frame(4000.0f), std::vector<float>(kFrameLength, 0.0f)});
  for (int b = 0; b < 49; ++b) EXPECT_EQ(q->psyLong[0][1].msUsed[b], 0) << b;
  for (int w = 0; w < 8; ++w)
    for (int b = 0; b < 14; ++b) EXPECT_EQ(q->psyShort[0][1].window[w].msUsed[b], 0);
}

TEST(PsyModel, LfeReportsFixedRatiosAndALongBlock) {
  test::Stream s(48000, 6, true);
  test::Noise noise(2);
  for (int f = 0; f < 3; ++f) {
    Frame frame;
    for (int c = 0; c < 6; ++c) frame.push_back(noise.Frame(5000.0f));
    for (int i = 500; i < 520; ++i) frame[5][i] = 30000.0f;
    Analyse(*s, frame);
    EXPECT_EQ(s->blockType[5], 0);
  }
  const PsyLongResult& lfe = s->psyLong[0][5];
  for (int b = 0; b < 10; ++b) EXPECT_FLOAT_EQ(lfe.ratio[b], 0.004f);
  for (int b = 10; b < 64; ++b) EXPECT_FLOAT_EQ(lfe.ratio[b], 1.0f);
  EXPECT_EQ(lfe.numBands, 49);
  // Every channel of the layout was analysed, the pairs' mid/side slots too.
  for (int c = 0; c < 6; ++c) EXPECT_EQ(s->channelInfo[c].analysed, 1) << c;
  EXPECT_GT(s->psyLong[0][1 + 6].pe, 0.0f);
  EXPECT_GT(s->psyLong[0][4 + 6].pe, 0.0f);
  // The LFE is still transformed, so its spectrum can be reused like every other channel's.
  const float* lfeSpectrum = PsyPreviousLongSpectrum(*s, 5);
  float energy = 0.0f;
  for (int k = 0; k < kFrameLength; ++k) energy += lfeSpectrum[k] * lfeSpectrum[k];
  EXPECT_GT(energy, 0.0f);
}

TEST(PsyModel, NoiseLikeBandsAboveTheStartFrequencyAreMarkedOnlyWithOptionB) {
  for (int optionB : {0, 1}) {
    test::Stream s(44100, 1);
    s->psyOptionB = optionB;
    test::Noise noise(9);
    for (int f = 0; f < 3; ++f) Analyse(*s, {noise.Frame(8000.0f)});
    const PsyLongResult& lr = s->psyLong[0][0];
    int marked = 0, start = 0;
    for (int b = 0; b < lr.numBands; start += lr.bandWidth[b++]) {
      EXPECT_TRUE(start >= 278 || !lr.noiseBand[b]) << b;  // 6000 / 44100 * 2048
      if (start >= 278 && start < 743) marked += lr.noiseBand[b];
    }
    EXPECT_TRUE(optionB ? marked >= 12 : marked == 0) << marked;
  }
  // A pure tone is not noise: its band stays unmarked.
  test::Stream s(44100, 1);
  s->psyOptionB = 1;
  for (int f = 0; f < 3; ++f) Analyse(*s, {test::Tones(f * 1024, 44100, {{10000.0, 8000.0}})});
  const int line = static_cast<int>(10000.0 / 44100.0 * 2048.0);
  int start = 0, b = 0;
  while (start + s->psyLong[0][0].bandWidth[b] <= line) start += s->psyLong[0][0].bandWidth[b++];
  EXPECT_EQ(s->psyLong[0][0].noiseBand[b], 0);
}

TEST(PsyModel, PreviousSpectraEqualTheFilterbankTransformOfTheSameBlock) {
  test::Stream s(48000, 1);
  enc::FilterbankState fb{};
  ASSERT_EQ(enc::FilterbankInit(fb), 0);
  test::Noise noise(4);
  std::vector<std::vector<float>> frames;
  for (int f = 0; f < 4; ++f) {
    frames.push_back(noise.Frame(6000.0f));
    Analyse(*s, {frames.back()});
  }
  // The previous call analysed frames[2] with frames[1] before it.
  std::vector<float> block(frames[1]);
  block.insert(block.end(), frames[2].begin(), frames[2].end());
  std::vector<float> spectrum(2048);
  enc::AnalysisFilterbank(block.data(), spectrum.data(), nullptr, nullptr, kOnlyLong, kKbdWindow,
                          kKbdWindow, 1, fb);
  const float* reuse = PsyPreviousLongSpectrum(*s, 0);
  for (int k = 0; k < kFrameLength; ++k) ASSERT_NEAR(reuse[k], spectrum[k], 1e-3f + 1e-5f * std::fabs(spectrum[k])) << k;

  std::vector<float> padded(2048, 0.0f);  // mode 1 takes short windows at 256 w: rebuild them
  std::vector<float> shortSpec(8 * 128);
  for (int w = 0; w < 8; ++w) std::copy_n(block.begin() + 448 + 128 * w, 256, padded.begin() + 256 * w);
  enc::AnalysisFilterbank(padded.data(), shortSpec.data(), nullptr, nullptr, kEightShort, kKbdWindow,
                          kKbdWindow, 1, fb);
  const float* shortReuse = PsyPreviousShortSpectrum(*s, 0);
  for (int k = 0; k < 8 * 128; ++k)
    ASSERT_NEAR(shortReuse[k], shortSpec[k], 1e-3f + 1e-5f * std::fabs(shortSpec[k])) << k;
  enc::FilterbankRelease(fb);
}

TEST(PsyModelDeathTest, ARateWithoutBandTablesEndsWithTheCbAdaptMessage) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        test::Stream s(37800, 1);
        Analyse(*s, {std::vector<float>(kFrameLength, 0.0f)});
      },
      testing::ExitedWithCode(255), "cb_adapt_init\\(\\): sampling rate 37800.000000 not found");
}

}  // namespace
}  // namespace aacs::psych
