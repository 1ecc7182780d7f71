// Configuration at open: the tuning row lookup, and the rules that combine quality, presets,
// bandwidth and bit rate into the stream's settings.
#include <gtest/gtest.h>

#include <climits>
#include <ctime>

#include "aacstream/aacstream.h"
#include "api/parameters.h"
#include "api/stream_context.h"

namespace aacs::api {
namespace {

// Rates are normalised to 44.1 kHz from the sampling rate clamped to 8..48 kHz; halfway between
// two keys picks the lower row, and rates beyond the table pick its ends.
TEST(Tuning, RowFollowsTheNormalisedRatePerChannel) {
  const struct { int ratePerChannel; float sampleRate; int key; } cases[] = {
      {36000, 44100.0f, 32000}, {32000, 22050.0f, 64000}, {64000, 96000.0f, 56000}, {64000, 48000.0f, 56000},
      {8000, 7350.0f, 48000},   {500000, 44100.0f, 160000}, {8000, 44100.0f, 32000}};
  for (const auto& c : cases) {
    TuningRow row{};
    EXPECT_EQ(SelectTuning(row, c.ratePerChannel, c.sampleRate), 0);
    EXPECT_EQ(row.key, c.key) << c.ratePerChannel << " at " << c.sampleRate;
  }
}

constexpr int kAny = INT_MIN;  // a field the case does not check

// Settings derived at open; kAny leaves a field unchecked.
TEST(Parameters, QualityPresetBandwidthAndRateCombineIntoTheSettings) {
  struct Want {
    int bandwidth = kAny, lowpass = kAny, bitRate = kAny, meanFrameBits = kAny, reservoirBits = kAny;
    int vbr = kAny, stereo = kAny, patience1 = kAny, patience3 = kAny, patience2 = kAny, peakTonality = kAny;
    int attack = kAny;
  };
  const struct Case {
    const char* what;
    int rate, kbps, channels, preset, bandwidth, quality;
    Want want;
  } cases[] = {
      {"defaults: 64000 per channel", 44100, 128, 2, 0, 0, 9,
       {16590, 17090, 128000, 2972, 32000, 0, 0, 32, 8, 8, 0, 0}},  // fill: 0.25 s of bits
      {"mono codes without stereo", 48000, 64, 1, 0, 0, 9, {.stereo = -1}},
      {"quality below the levels", 44100, 128, 2, 0, 0, -3,
       {.patience1 = 8, .patience3 = 10, .patience2 = 16, .peakTonality = 1, .attack = 1}},
      {"quality above the levels", 44100, 128, 2, 0, 0, 12,
       {.patience1 = 8, .patience3 = 10, .patience2 = 16, .peakTonality = 0, .attack = 0}},
      {"quality 6 detects attacks in time", 44100, 128, 2, 0, 0, 6, {.attack = 1}},
      {"quality 7 does not", 44100, 128, 2, 0, 0, 7, {.attack = 0}},
      {"bandwidth at half the rate", 44100, 128, 2, 0, 22050, 9, {.bandwidth = 22050, .lowpass = 22050}},
      {"lowpass 500 Hz above the bandwidth", 44100, 128, 2, 0, 16000, 9, {.bandwidth = 16000, .lowpass = 16500}},
      {"preset 6 keeps its own bandwidth", 44100, 128, 2, 6, 16000, 9, {.bandwidth = 18500, .bitRate = 128000, .vbr = 1}},
      {"preset 2 takes the given bandwidth", 44100, 128, 2, 2, 16000, 9, {.bandwidth = 16000, .vbr = 1}},
      {"preset rate does not reach the budget", 44100, 96, 2, 9, 0, 9,
       {.bitRate = 288000, .meanFrameBits = 96000 * 1024 / 44100, .reservoirBits = 24000}},
      {"negative preset with bit 8", 44100, 200, 2, -256, 0, 9,
       {.bandwidth = 20217, .patience1 = 10, .patience3 = 10, .patience2 = 32}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    StreamContext* s = aacStreamOpen32(0, 0, c.rate, c.kbps, c.channels, 0, c.preset, 1, 2, c.bandwidth, 0, c.quality,
                                       nullptr, nullptr, nullptr, nullptr, nullptr, 2001);
    ASSERT_NE(s, nullptr);
    const int got[] = {s->bandwidth,   s->lowpassCutoff,  s->bitRate,        s->meanFrameBits,
                       s->reservoirBits, s->vbrMode,      s->stereoMode,     s->patienceLimit1,
                       s->patienceLimit3, s->patienceLimit2, s->peakTonality, s->timeDomainAttack};
    const Want& w = c.want;
    const int want[] = {w.bandwidth, w.lowpass,   w.bitRate,   w.meanFrameBits, w.reservoirBits, w.vbr,
                        w.stereo,    w.patience1, w.patience3, w.patience2,     w.peakTonality,  w.attack};
    for (size_t i = 0; i < std::size(want); ++i)
      EXPECT_TRUE(want[i] == kAny || got[i] == want[i]) << "field " << i << ": " << got[i] << ", want " << want[i];
    aacStreamDestroy32(s);
  }
}

TEST(Parameters, YearZeroTakesTheCurrentUtcYear) {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  for (int year : {0, 1999}) {
    StreamContext* s = aacStreamOpen32(0, 0, 44100, 128, 2, 0, 0, 1, 2, 0, 0, 9, nullptr, nullptr, nullptr, nullptr,
                                       nullptr, year);
    ASSERT_NE(s, nullptr);
    const int want = year ? year : utc.tm_year + 1900;
    EXPECT_TRUE(s->trailerYear == want || (!year && s->trailerYear == want + 1)) << s->trailerYear;  // New Year's Eve
    aacStreamDestroy32(s);
  }
}

}  // namespace
}  // namespace aacs::api
