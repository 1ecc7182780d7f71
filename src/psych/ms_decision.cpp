// psych/ms_decision.cpp — long-band and short-group mid/side flags of a channel pair.
#include "psych/ms_decision.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "psych/fast_log.h"

namespace aacs::psych {
namespace {

constexpr float kMaxSpreadLog = 3.0f;  // thresholds 1000x apart (or both zero): never mid/side
constexpr float kMsSlope = 0.7f;

float ThresholdSpread(float lo, float hi, float guard) {
  if (hi >= 1000.0f * lo) return kMaxSpreadLog;
  return std::log10(hi / (lo + guard));
}

// width x ln(E / T) summed over the group's windows, where the summed threshold is positive
// and below the summed energy.
float GroupTerm(const PsyWorkArea& w, int firstWin, int len, int b) {
  float e = 0.0f, t = 0.0f;
  for (int win = firstWin; win < firstWin + len; ++win) {
    e += w.shortBandEnergy[win][b];
    t += w.shortBandThreshold[win][b];
  }
  return (t > 0.0f && t < e) ? FastLog(e / t) : 0.0f;
}

void ShortGroupFlags(const PsyTables& t, const PsyWorkArea* lrms, PsyChannelState& left,
                     float level, int firstWin, int len) {
  const PartitionTable& p = t.shortPart;
  float peLr = 0.0f, peMs = 0.0f;
  for (int b = 0; b < p.numPartitions; ++b) {
    const float width = static_cast<float>(p.width[b]);
    peLr += width * (GroupTerm(lrms[0], firstWin, len, b) + GroupTerm(lrms[1], firstWin, len, b));
    peMs += width * (GroupTerm(lrms[2], firstWin, len, b) + GroupTerm(lrms[3], firstWin, len, b));
  }
  for (int b = 0; b < p.numPartitions; ++b) {
    float lo = 0.0f, hi = 0.0f;
    for (int win = firstWin; win < firstWin + len; ++win) {
      const float tl = lrms[0].shortBandThreshold[win][b], tr = lrms[1].shortBandThreshold[win][b];
      lo += std::min(tl, tr);
      hi += std::max(tl, tr);
    }
    const int flag = (kMsSlope * ThresholdSpread(lo, hi, 0.00000001f) < level && peMs < peLr) ? 1 : 0;
    for (int win = firstWin; win < firstWin + len; ++win) left.msShort[win][b] = flag;
  }
}

}  // namespace

void MsDecision(const PsyTables& t, const PsyWorkArea* lrms, PsyChannelState& left, float level,
                int analyseShort) {
  for (int b = 0; b < t.longPart.numPartitions; ++b) {
    const float tl = lrms[0].bandThreshold[b], tr = lrms[1].bandThreshold[b];
    const float q = ThresholdSpread(std::min(tl, tr), std::max(tl, tr), 0.0000001f);
    left.msLong[b] = kMsSlope * q < level ? 1 : 0;
  }
  if (!analyseShort) {
    // No short analysis this frame: no short-window flags rather than stale ones.
    for (auto& row : left.msShort) std::fill(std::begin(row), std::end(row), 0);
    return;
  }
  int firstWin = 0;
  for (int g = 0; g < left.numGroups; ++g) {
    ShortGroupFlags(t, lrms, left, level, firstWin, left.groupLength[g]);
    firstWin += left.groupLength[g];
  }
}

}  // namespace aacs::psych
