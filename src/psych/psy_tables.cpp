// psych/psy_tables.cpp — builds the model's partition, spreading and SNR tables once per stream.
//
// All logarithms and exponentials of the model are spent here: per frame the model only sums
// over each spreading row's nonzero range and looks the SNR factor up by tonality.
#include "psych/psy_tables.h"

#include <algorithm>
#include <cmath>

#include "api/stream_context.h"
#include "psych/fast_log.h"

namespace aacs::psych {
namespace {

constexpr float kChaosStep = 0.0004873047f;   // ~0.499 / 1024: unpredictability per table entry
constexpr float kChaosTonalLimit = 0.4989f;   // above this a line counts as pure noise
constexpr float kMinShortAth = 1e32f;

void BuildPartitions(const int* widths, int count, int sampleRate, PartitionTable& p) {
  p.sampleRate = sampleRate;
  p.numPartitions = count;
  int start = 0;
  for (int b = 0; b < count; ++b) {
    p.start[b] = start;
    p.width[b] = widths[b];
    p.end[b] = start + widths[b];
    p.invWidth[b] = 1.0f / static_cast<float>(widths[b]);
    start = p.end[b];
  }
}

// Bark values and the normalised spreading matrix; lineScale is fs / transform size.
void BuildSpreading(const PartitionTable& p, float lineScale, const StreamContext& ctx,
                    SpreadingTable& s) {
  const int n = p.numPartitions;
  for (int b = 0; b < n; ++b) {
    const float centre = (static_cast<float>(p.width[b] - 1) * 0.5f + static_cast<float>(p.start[b])) * lineScale;
    s.bark[b] = BarkOfFrequency(centre);
  }
  for (int i = 0; i < n; ++i) {
    float sum = 0.0f;
    for (int j = 0; j < n; ++j) {
      s.weight[i][j] = SpreadingValue(s.bark[i] - s.bark[j], ctx.spreadSlopeUpper, ctx.spreadSlopeLower);
      sum += s.weight[i][j];
    }
    // The diagonal is about 1 (t = 0 gives y ~ 0 dB), so the sum is never zero.
    s.first[i] = n;
    s.last[i] = -1;
    for (int j = 0; j < n; ++j) {
      s.weight[i][j] /= sum;
      if (s.weight[i][j] != 0.0f) {
        s.first[i] = std::min(s.first[i], j);
        s.last[i] = j;
      }
    }
    s.count[i] = s.last[i] - s.first[i] + 1;
  }
}

// TMN and NMT in dB for a partition at z Bark, optionally limited by the Bark position.
void MaskingSnrs(float z, bool limited, const StreamContext& ctx, float& tmn, float& nmt) {
  tmn = ctx.tonalSnr;
  nmt = ctx.noiseSnr;
  if (limited) {
    tmn = std::min(tmn, z + 15.5f);
    nmt = std::min(nmt, 6.56f - 0.1176923077f * z);
  }
}

float SnrFactor(float tonality, float tmn, float nmt) {
  return std::pow(10.0f, -(tmn * tonality + nmt * (1.0f - tonality)) / 10.0f);
}

// Unpredictability c -> tonality: 0 for pure noise (c > 0.4989) and for c <= 0, else
// -0.299 - 0.43 ln c, at most 1.
void BuildToneSnr(float tmn, float nmt, float* table) {
  float c = 0.0f;
  for (int k = 0; k < kToneSnrEntries; ++k) {
    float tb = 0.0f;
    if (c > 0.0f && c <= kChaosTonalLimit) tb = std::min(1.0f, -0.299f - 0.43f * FastLog(c));
    table[k] = SnrFactor(tb, tmn, nmt);
    c += kChaosStep;
  }
}

void BuildPeakSnr(float tmn, float nmt, float* table) {
  for (int k = 0; k < kToneSnrEntries; ++k)
    table[k] = SnrFactor(static_cast<float>(k) / kToneSnrEntries, tmn, nmt);
}

void BuildShortAth(const PartitionTable& p, float fs, float* ath) {
  for (int b = 0; b < p.numPartitions; ++b) {
    float lowest = kMinShortAth;
    for (int k = p.start[b]; k < p.end[b]; ++k)
      lowest = std::min(lowest, ShortLineAthDb(static_cast<float>(k) * fs / 256.0f / 1000.0f));
    ath[b] = std::pow(10.0f, lowest / 10.0f);
  }
}

}  // namespace

float BarkOfFrequency(float f) {
  if (f <= 200.0f) return f * 0.009718173f;
  return 26.81f / (1960.0f / f + 1.0f) - 0.53f;
}

float SpreadingValue(float dz, float slopeUpper, float slopeLower) {
  const float t = dz * (dz >= 0.0f ? slopeUpper : slopeLower);
  const float u = (t - 0.5f) * (t - 0.5f) - 2.0f * (t - 0.5f);
  const float dip = u < 0.0f ? 8.0f * u : 0.0f;
  const float v = t + 0.474f;
  const float y = 15.811389f + 7.5f * v - 17.5f * std::sqrt(1.0f + v * v);
  if (y < -100.0f) return 0.0f;
  return std::pow(10.0f, (dip + y) / 10.0f);
}

float ShortLineAthDb(float fKhz) {
  const float f = std::clamp(fKhz, 0.1f, 18.0f);
  const float a = 3.64f * std::pow(f, -0.8f) - 6.5f * std::exp(-0.6f * (f - 3.3f) * (f - 3.3f)) +
                  0.001f * f * f * f * f;
  return std::clamp(a, 0.0f, 72.0f);
}

void BuildPsyTables(float sampleRate, const enc::CbAdaptRow& row, StreamContext& ctx) {
  PsyModelState& psy = ctx.psy;
  PsyTables& t = psy.tables;
  const int rate = static_cast<int>(sampleRate);
  const float fs = static_cast<float>(rate);
  t.row = &row;
  BuildPartitions(row.longWidth, row.numLong, rate, t.longPart);
  BuildPartitions(row.shortWidth, row.numShort, rate, t.shortPart);
  BuildSpreading(t.longPart, fs / 2048.0f, ctx, t.longSpread);
  BuildSpreading(t.shortPart, fs / 256.0f, ctx, t.shortSpread);

  const bool limited = ctx.snrBarkLimit != 0;
  for (int b = 0; b < t.longPart.numPartitions; ++b) {
    float tmn, nmt;
    MaskingSnrs(t.longSpread.bark[b], limited, ctx, tmn, nmt);
    BuildToneSnr(tmn, nmt, t.toneSnrLong[b]);
    BuildPeakSnr(tmn, nmt, t.peakSnrLong[b]);
  }
  BuildToneSnr(ctx.tonalSnr, ctx.noiseSnr, t.toneSnrShort);
  BuildPeakSnr(ctx.tonalSnr, ctx.noiseSnr, t.peakSnrShort);
  BuildShortAth(t.shortPart, fs, t.athShort);

  // Band 600 Hz .. 4 kHz that the forced chaos measure treats as tonal (limits exclusive).
  psy.chaosLongLo = static_cast<int>(600.0f / fs * 2048.0f);
  psy.chaosLongHi = static_cast<int>(4000.0f / fs * 2048.0f);
  psy.chaosShortLo = static_cast<int>(600.0f / fs * 256.0f);
  psy.chaosShortHi = static_cast<int>(4000.0f / fs * 256.0f);
  // Short lines watched by the first block-switching variant: 1.5 kHz up to the lowpass.
  psy.attackLineLo = static_cast<int>(1500.0f / fs * 256.0f);
  psy.attackLineHi = std::min(static_cast<int>(static_cast<float>(ctx.lowpassCutoff) / fs * 256.0f),
                              kShortLength - 1);
}

}  // namespace aacs::psych
