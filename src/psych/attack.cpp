// psych/attack.cpp — the time-domain attack detector and the window-grouping choice.
#include "psych/attack.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

#include "api/stream_context.h"
#include "psych/fast_log.h"

namespace aacs::psych {

const float kAttackFilterTaps[kAttackTaps] = {
    0.0038960001f, 0.0f,          -0.00546499994f, -0.00495800003f, 0.00744399987f, 0.0177810006f,
    0.0f,          -0.0357140005f, -0.0302109998f, 0.0407380015f,   0.0882660002f,  0.0f,
    -0.162136003f, -0.143059999f,  0.225153998f,   0.74970001f,     -1.49897397f,   0.74970001f,
    0.225153998f,  -0.143059999f,  -0.162136003f,  0.0f,            0.0882660002f,  0.0407380015f,
    -0.0302109998f, -0.0357140005f, 0.0f,           0.0177810006f,   0.00744399987f, -0.00495800003f,
    -0.00546499994f, 0.0f};

namespace {

constexpr float kAttackMinPeak = 100.0f;   // quieter frames never switch (16-bit scale)
constexpr float kGroupingLevel = 50.0f;    // entropy change that counts as a transient
constexpr float kGroupingStrong = 150.0f;  // all three above: four groups of two
constexpr float kPeGuard = 0.000001f;

struct GroupLayout {
  int numGroups;
  int length[4];
};
// Indexed by class - 1.
constexpr GroupLayout kGroupLayouts[10] = {
    {4, {2, 2, 2, 2}}, {2, {4, 4}},    {2, {6, 2}},    {2, {2, 6}},    {3, {4, 2, 2}},
    {3, {2, 4, 2}},    {3, {2, 2, 4}}, {3, {2, 3, 3}}, {3, {3, 2, 3}}, {3, {3, 3, 2}}};

// True when some segment's maximum exceeds the previous segment's by more than 1/factor.
bool Jumps(const float* maxima, int count, float factor) {
  for (int k = 1; k < count; ++k)
    if (maxima[k - 1] < factor * maxima[k]) return true;
  return false;
}

// Maxima of 32-sample segments of magnitudes.  A magnitude's bits order like its value, so
// the maxima are taken on the bits (which vectorises; a float maximum does not).
void SegmentMaxima(const float* magnitude, float* maxima) {
  for (int k = 0; k < kFrameLength / 32; ++k) {
    uint32_t largest = 0;
    for (int i = 0; i < 32; ++i) largest = std::max(largest, std::bit_cast<uint32_t>(magnitude[32 * k + i]));
    maxima[k] = std::bit_cast<float>(largest);
  }
}

}  // namespace

int AttackInSegments(const float* filtered, float peak) {
  if (peak <= kAttackMinPeak) return 0;
  // Segments of 64 and 128 samples take the maxima of their 32-sample halves and quarters.
  float m32[kFrameLength / 32], m64[kFrameLength / 64], m128[kFrameLength / 128];
  SegmentMaxima(filtered, m32);
  for (int k = 0; k < kFrameLength / 64; ++k) m64[k] = std::max(m32[2 * k], m32[2 * k + 1]);
  for (int k = 0; k < kFrameLength / 128; ++k) m128[k] = std::max(m64[2 * k], m64[2 * k + 1]);
  return (Jumps(m32, kFrameLength / 32, 0.05f) || Jumps(m64, kFrameLength / 64, 0.075f) ||
          Jumps(m128, kFrameLength / 128, 0.1f))
             ? 1
             : 0;
}

int DetectAttackSimple(StreamContext& ctx, int ch, const float* input) {
  PsyModelState& psy = ctx.psy;
  float peak = 0.0f;
  dsp::VecMaxAbs(input, kFrameLength, &peak);
  dsp::FirFilter(input, psy.attackFiltered, kFrameLength, psy.attackFir[ch]);
  dsp::VecAbsInPlace(psy.attackFiltered, kFrameLength);
  return AttackInSegments(psy.attackFiltered, peak);
}

void GroupingMeasure(const PsyTables& t, PsyChannelState& st, const PsyWorkArea& w) {
  const PartitionTable& p = t.shortPart;
  float pe[kNumShortWindows];
  for (int win = 0; win < kNumShortWindows; ++win) {
    float sum = 0.0f;
    for (int b = 0; b < p.numPartitions; ++b) {
      const float ratio = (st.preEchoThreshold[win][b] + kPeGuard) / (w.shortPartEnergy[win][b] + kPeGuard);
      sum += static_cast<float>(p.width[b]) * std::max(0.0f, -FastLog(ratio));
    }
    pe[win] = sum;
  }
  st.change[0] = std::fabs((pe[2] + pe[3]) - (pe[0] + pe[1]));
  st.change[1] = std::fabs((pe[4] + pe[5]) - (pe[2] + pe[3]));
  st.change[2] = std::fabs((pe[6] + pe[7]) - (pe[4] + pe[5]));
}

int ChooseGroupClass(float d1, float d2, float d3) {
  const float lv = kGroupingLevel;
  int cls = 2;
  if (d1 < lv && d2 < lv && d3 > lv) cls = 3;
  if (d1 > lv && d2 < lv && d3 < lv) cls = 4;
  if (d1 < lv && d2 > lv && d3 > lv) cls = 5;
  if (d1 > lv && d2 < lv && d3 > lv) cls = 6;
  if (d1 > lv && d2 > lv && d3 < lv) cls = 7;
  if (d1 > lv && d2 > lv && d3 > lv) {
    // The running maximum is kept truncated, so near-ties go to the later measure.
    int m = static_cast<int>(d1), index = 1;
    if (static_cast<float>(m) < d2) {
      m = static_cast<int>(d2);
      index = 2;
    }
    if (static_cast<float>(m) < d3) index = 3;
    cls = 7 + index;
  }
  if (d1 > kGroupingStrong && d2 > kGroupingStrong && d3 > kGroupingStrong) cls = 1;
  return cls;
}

void SetGrouping(PsyChannelState& st, int groupClass) {
  const GroupLayout& g = kGroupLayouts[groupClass - 1];
  st.groupClassMinus1 = groupClass - 1;
  st.numGroups = g.numGroups;
  for (int i = 0; i < kNumShortWindows; ++i) st.groupLength[i] = i < g.numGroups ? g.length[i] : 0;
}

}  // namespace aacs::psych
