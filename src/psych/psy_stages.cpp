// psych/psy_stages.cpp — energies, spreading, thresholds, ratios and entropies of one signal.
//
// Partitions are the scalefactor bands, so partition values are band values: energies and
// thresholds are means per line until the short band sums of BandRatiosShort.
#include "psych/psy_stages.h"

#include <algorithm>

#include "api/stream_context.h"
#include "psych/fast_log.h"

namespace aacs::psych {
namespace {

constexpr float kChaosTonalLimit = 0.4989f;
constexpr float kChaosToIndex = 2052.1042f;  // 1024 / 0.499: unpredictability -> table entry
constexpr float kForwardMaskingMin = 1.0f;   // floors apply only above this level
constexpr float kPreEchoLimitMin = 0.1f;
constexpr float kPreEchoGrowth = 2.0f;

// Mid and side thresholds of a pair's partition.  Whatever is coded in mid or side comes back
// in both the left and the right channel, so each may carry the noise the stricter of the two
// allows; the side signal's own (much lower) level does not set its threshold.
void AdjustPartition(float tl, float tr, float& tm, float& ts) { tm = ts = std::min(tl, tr); }

// Ratios of one window group: mode 3 sum(T) / sum(E), mode 1 4 x smallest positive T / sum(E).
float GroupRatio(const PsyWorkArea& w, int firstWin, int len, int b, int mode) {
  float energy = 0.0f, thresholdSum = 0.0f, smallest = 0.0f;
  for (int win = firstWin; win < firstWin + len; ++win) {
    const float t = w.shortBandThreshold[win][b];
    energy += w.shortBandEnergy[win][b];
    thresholdSum += t;
    if (t > 0.0f && (smallest == 0.0f || t < smallest)) smallest = t;
  }
  if (energy == 0.0f) return 0.0f;
  return (mode == 3 ? thresholdSum : 4.0f * smallest) / energy;
}

}  // namespace

void PartitionEnergiesBlock(const PartitionTable& p, float* lines, const float* unpred,
                            float* energy, float* chaos, float* peak, float* sums) {
  const int n = p.numPartitions;
  const int total = p.end[n - 1];
  dsp::VecSquareInPlace(lines, total);
  float weighted[kMaxLongPartitions];
  dsp::BandSums(lines, chaos ? unpred : nullptr, p.start, p.width, n, sums, weighted, peak);
  for (int b = 0; b < n; ++b) energy[b] = sums[b] * p.invWidth[b];
  if (chaos)
    for (int b = 0; b < n; ++b) chaos[b] = weighted[b] * p.invWidth[b];
}

void PartitionEnergies(const PsyTables& t, PsyChannelState& st, PsyWorkArea& w, int analyseShort,
                       bool withTonality) {
  float sums[kMaxLongPartitions];
  PartitionEnergiesBlock(t.longPart, st.lineEnergy, w.unpredictability, w.partEnergy,
                         withTonality ? w.partChaos : nullptr, withTonality ? w.partPeak : nullptr, sums);
  if (!analyseShort) return;
  // The short sums are kept: the band ratios need them again.
  for (int win = 0; win < kNumShortWindows; ++win)
    PartitionEnergiesBlock(t.shortPart, st.shortLineEnergy[win], w.shortUnpredictability[win],
                           w.shortPartEnergy[win], withTonality ? w.shortPartChaos[win] : nullptr,
                           withTonality ? w.shortPartPeak[win] : nullptr, st.shortBandSum[win]);
}

void SpreadPartitionsBlock(const PartitionTable& p, const SpreadingTable& s, const float* energy,
                           const float* chaos, float* spread, float* zeroFlag, float* snr,
                           const float* table, int tableStride) {
  float spreadEnergy[kMaxLongPartitions], spreadChaos[kMaxLongPartitions];
  dsp::RowDots(&s.weight[0][0], kMaxLongPartitions, s.first, s.count, p.numPartitions, energy, chaos, spreadEnergy,
               spreadChaos);
  for (int b = 0; b < p.numPartitions; ++b) {
    const float es = spreadEnergy[b];
    if (es == 0.0f) {
      zeroFlag[b] = 1.0f;
      spread[b] = 0.0f;
      if (chaos) snr[b] = table[b * tableStride + kToneSnrEntries - 1];
      continue;
    }
    zeroFlag[b] = 0.0f;
    spread[b] = es;
    if (chaos) {
      const float r = spreadChaos[b] / es;
      // Entry 0 is noise: a partition more predictable than the first step still takes entry 1.
      const int k = (r <= 0.0f || r > kChaosTonalLimit) ? 0 : std::max(static_cast<int>(r * kChaosToIndex), 1);
      snr[b] = table[b * tableStride + k];
    }
  }
}

void SpreadPartitions(const PsyTables& t, PsyChannelState& st, PsyWorkArea& w, int analyseShort,
                      bool withChaosSnr) {
  SpreadPartitionsBlock(t.longPart, t.longSpread, w.partEnergy, withChaosSnr ? w.partChaos : nullptr,
                        st.spreadEnergy, w.zeroSpread, w.snr, &t.toneSnrLong[0][0],
                        kToneSnrEntries);
  if (!analyseShort) return;
  for (int win = 0; win < kNumShortWindows; ++win)
    SpreadPartitionsBlock(t.shortPart, t.shortSpread, w.shortPartEnergy[win],
                          withChaosSnr ? w.shortPartChaos[win] : nullptr, st.shortSpread[win],
                          w.shortZeroSpread[win], w.shortSnr[win], t.toneSnrShort, 0);
}

void FormThresholds(const PsyTables& t, PsyChannelState& st, const PsyWorkArea& snrFrom,
                    int analyseShort) {
  st.thresholdRingPos = (st.thresholdRingPos + kMaxLongBands) % (2 * kMaxLongBands);
  float* ring = st.thresholdRing + st.thresholdRingPos;
  dsp::VecMul(st.spreadEnergy, snrFrom.snr, ring, t.longPart.numPartitions);
  if (!analyseShort) return;
  for (int win = 0; win < kNumShortWindows; ++win)
    dsp::VecMul(st.shortSpread[win], snrFrom.shortSnr[win], st.rawThreshold[win],
                t.shortPart.numPartitions);
}

void StereoMaskingAdjust(const PsyTables& t, PsyChannelState* const* lrms, int analyseShort) {
  PsyChannelState& l = *lrms[0];
  PsyChannelState& r = *lrms[1];
  PsyChannelState& m = *lrms[2];
  PsyChannelState& s = *lrms[3];
  float* tl = l.thresholdRing + l.thresholdRingPos;
  float* tr = r.thresholdRing + r.thresholdRingPos;
  float* tm = m.thresholdRing + m.thresholdRingPos;
  float* ts = s.thresholdRing + s.thresholdRingPos;
  for (int b = 0; b < t.longPart.numPartitions; ++b) AdjustPartition(tl[b], tr[b], tm[b], ts[b]);
  if (!analyseShort) return;
  for (int win = 0; win < kNumShortWindows; ++win)
    for (int b = 0; b < t.shortPart.numPartitions; ++b)
      AdjustPartition(l.rawThreshold[win][b], r.rawThreshold[win][b], m.rawThreshold[win][b],
                      s.rawThreshold[win][b]);
}

void ShortPreEcho(const PsyTables& t, PsyChannelState& st) {
  for (int b = 0; b < t.shortPart.numPartitions; ++b) {
    const float ath = t.athShort[b];
    st.preEchoThreshold[0][b] = std::max(std::min(st.rawThreshold[0][b], st.lastRawThreshold[b]), ath);
    st.lastRawThreshold[b] = st.rawThreshold[kNumShortWindows - 1][b];
    for (int win = 1; win < kNumShortWindows; ++win)
      st.preEchoThreshold[win][b] =
          std::max(std::min(st.rawThreshold[win][b], st.rawThreshold[win - 1][b]), ath);
  }
}

void BandRatiosLong(const PsyTables& t, const StreamContext& ctx, PsyChannelState& st,
                    PsyWorkArea& w) {
  const bool limitGrowth = ctx.preEchoLimit == 1 || ctx.psyOptionA != 0;
  const float* ring = st.thresholdRing + st.thresholdRingPos;
  for (int b = 0; b < t.longPart.numPartitions; ++b) {
    float threshold = ring[b];
    const float energy = w.partEnergy[b];
    const float prev = st.prevThreshold[b];
    st.prevThreshold[b] = threshold;
    if (!limitGrowth) {
      // Forward masking from the previous frame, only where it is audible at all.
      const float floor = ctx.psyEnergyFloor * prev;
      if (floor > kForwardMaskingMin) threshold = std::max(threshold, floor);
    } else {
      // Pre-echo limit: the threshold may at most double from one frame to the next.
      const float limit = kPreEchoGrowth * prev;
      if (limit > kPreEchoLimitMin) threshold = std::min(threshold, limit);
    }
    st.ratio[b] = energy != 0.0f ? threshold / energy : 0.0f;
    w.bandEnergy[b] = energy;
    w.bandThreshold[b] = threshold;
  }
}

void BandRatiosShort(const PsyTables& t, const StreamContext& ctx, PsyChannelState& st,
                     PsyWorkArea& w) {
  const PartitionTable& p = t.shortPart;
  const int n = p.numPartitions;
  for (int win = 0; win < kNumShortWindows; ++win) {
    for (int b = 0; b < n; ++b) {
      w.shortBandEnergy[win][b] = st.shortBandSum[win][b];  // the partition sums of these lines
      w.shortBandThreshold[win][b] = static_cast<float>(p.width[b]) * st.rawThreshold[win][b];
    }
  }
  for (int b = 0; b < n; ++b) st.prevFirstThreshold[b] = w.shortBandThreshold[0][b];
  if (ctx.skipShortFloor != 1) {
    // Forward masking between consecutive short windows.
    for (int win = 1; win < kNumShortWindows; ++win)
      for (int b = 0; b < n; ++b) {
        const float carry = ctx.shortCarryFactor * w.shortBandThreshold[win - 1][b];
        if (carry > kForwardMaskingMin)
          w.shortBandThreshold[win][b] = std::max(w.shortBandThreshold[win][b], carry);
      }
  }
  w.groupingMode = ctx.psyOptionA == 0 ? 3 : 1;
  int firstWin = 0;
  for (int g = 0; g < st.numGroups; ++g) {
    const int len = st.groupLength[g];
    for (int b = 0; b < n; ++b) {
      const float ratio = GroupRatio(w, firstWin, len, b, w.groupingMode);
      for (int win = firstWin; win < firstWin + len; ++win) st.shortRatio[win][b] = ratio;
    }
    firstWin += len;
  }
}

float LongBlockPe(const PartitionTable& p, const float* energy, const float* threshold) {
  float pe = 0.0f;
  for (int b = 0; b < p.numPartitions; ++b) {
    if (energy[b] == 0.0f) continue;
    pe += static_cast<float>(p.width[b]) * std::max(0.0f, -FastLog(threshold[b] / energy[b]));
  }
  return pe;
}

float ShortBlockPe(const PartitionTable& p, const PsyWorkArea& w) {
  float pe = 0.0f;
  for (int b = 0; b < p.numPartitions; ++b) {
    float energy = 0.0f;
    for (int win = 0; win < kNumShortWindows; ++win) energy += w.shortBandEnergy[win][b];
    if (energy == 0.0f) continue;
    const float ratio = 8.0f * w.shortBandThreshold[0][b] / energy;
    pe += 8.0f * static_cast<float>(p.width[b]) * std::max(0.0f, -FastLog(ratio));
  }
  return pe;
}

}  // namespace aacs::psych
