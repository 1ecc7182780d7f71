// psych/chaos.cpp — unpredictability of the long and short lines, the forced tonal band, and
// the peak tonality per partition.
//
// The phase prediction works on stored unit phasors, so no trigonometric function runs per
// line; magnitudes and predictions go through the vector primitives.
#include "psych/chaos.h"

#include <cmath>

#include "api/report.h"
#include "api/stream_context.h"

namespace aacs::psych {
namespace {

constexpr float kSilentUnpredictability = 0.05f;  // value where magnitude and prediction are 0
constexpr float kForcedTonal = 0.05f;

// rp = 2 r1 - r2.
void PredictMagnitude(const float* r1, const float* r2, float* rp, int count) {
  dsp::VecMulConst(r1, 2.0f, rp, count);
  dsp::VecSubInPlace(r2, rp, count);
}

}  // namespace

// Without branches and over arrays that never overlap (the history rings hold separate
// frames), so that the divisions and square roots run a register at a time.
void UnpredictabilityKernel(const float* __restrict bins, const float* __restrict magnitude,
                            const float* __restrict rp, const float* __restrict c1, const float* __restrict s1,
                            const float* __restrict c2, const float* __restrict s2, float* __restrict cosOut,
                            float* __restrict sinOut, float* __restrict unpred, int count) {
  for (int k = 0; k < count; ++k) {
    const float re = bins[2 * k], im = bins[2 * k + 1];
    const float r = magnitude[k];
    const bool phase = r > 0.0f;
    const float inv = 1.0f / r;
    cosOut[k] = phase ? re * inv : 1.0f;
    sinOut[k] = phase ? im * inv : 0.0f;
    // The predicted phase is 2 f1 - f2: the last phase advanced by the last phase step.
    const float stepCos = c1[k] * c2[k] + s1[k] * s2[k], stepSin = s1[k] * c2[k] - c1[k] * s2[k];
    const float dr = rp[k] * (c1[k] * stepCos - s1[k] * stepSin) - re;
    const float di = rp[k] * (s1[k] * stepCos + c1[k] * stepSin) - im;
    const float den = r + std::fabs(rp[k]);
    const float distance = std::sqrt(dr * dr + di * di) / den;
    unpred[k] = den != 0.0f ? distance : kSilentUnpredictability;
  }
}

void LongUnpredictability(const float* bins, int analysedLines, PsyChannelHistory& h,
                          float* prediction, PsyWorkArea& w) {
  if (analysedLines <= 0) return;
  const int p0 = h.ringPos, p1 = (h.ringPos + 2) % 3, p2 = (h.ringPos + 1) % 3;
  dsp::VecMagnitude(bins, h.magnitude[p0], analysedLines);
  PredictMagnitude(h.magnitude[p1], h.magnitude[p2], prediction, analysedLines);
  UnpredictabilityKernel(bins, h.magnitude[p0], prediction, h.phaseCos[p1], h.phaseSin[p1],
                         h.phaseCos[p2], h.phaseSin[p2], h.phaseCos[p0], h.phaseSin[p0],
                         w.unpredictability, analysedLines);
}

void ShortUnpredictability(const float (*bins)[2 * kShortLength], PsyChannelHistory& h,
                           float* prediction, PsyWorkArea& w) {
  constexpr int n = kShortLength;
  for (int win = 0; win < kNumShortWindows; ++win)
    dsp::VecMagnitude(bins[win], h.shortMagnitude[win], n);
  // Windows 0 and 1 predict from the previous frame's windows 6 (carried 0) and 7 (carried 1).
  float* rp0 = prediction;
  float* rp1 = prediction + n;
  PredictMagnitude(h.carriedMagnitude[1], h.carriedMagnitude[0], rp0, n);
  PredictMagnitude(h.shortMagnitude[0], h.carriedMagnitude[1], rp1, n);
  // The phasors of windows 6 and 7 still belong to the previous frame here.
  dsp::VecCopy(h.shortMagnitude[6], h.carriedMagnitude[0], 2 * n);
  dsp::VecCopy(h.shortCos[6], h.carriedCos[0], 2 * n);
  dsp::VecCopy(h.shortSin[6], h.carriedSin[0], 2 * n);
  UnpredictabilityKernel(bins[0], h.shortMagnitude[0], rp0, h.carriedCos[1], h.carriedSin[1],
                         h.carriedCos[0], h.carriedSin[0], h.shortCos[0], h.shortSin[0],
                         w.shortUnpredictability[0], n);
  UnpredictabilityKernel(bins[1], h.shortMagnitude[1], rp1, h.shortCos[0], h.shortSin[0],
                         h.carriedCos[1], h.carriedSin[1], h.shortCos[1], h.shortSin[1],
                         w.shortUnpredictability[1], n);
  for (int win = 2; win < kNumShortWindows; ++win) {
    PredictMagnitude(h.shortMagnitude[win - 1], h.shortMagnitude[win - 2], rp0, n);
    UnpredictabilityKernel(bins[win], h.shortMagnitude[win], rp0, h.shortCos[win - 1],
                           h.shortSin[win - 1], h.shortCos[win - 2], h.shortSin[win - 2],
                           h.shortCos[win], h.shortSin[win], w.shortUnpredictability[win], n);
  }
}

void MeasureChaos(const StreamContext& ctx, PsyWorkArea& w, int method) {
  if (method != 1)
    api::ReportWarning("MeasureChaos(): Unknown chaos method, valid options are: 0 - Euclidic "
                       "Distance, 1 - Fast Euclidic Distance, 2 - Peak Filter, 3 - Combination of "
                       "0 and 2\n (%s, %d)", __FILE__, __LINE__);
  if (ctx.chaosBandForce != 1) return;
  const PsyModelState& psy = ctx.psy;
  for (int k = psy.chaosLongLo + 1; k < psy.chaosLongHi && k < kFrameLength; ++k)
    w.unpredictability[k] = kForcedTonal;
  for (int win = 0; win < kNumShortWindows; ++win)
    for (int k = psy.chaosShortLo + 1; k < psy.chaosShortHi && k < kShortLength; ++k)
      w.shortUnpredictability[win][k] = kForcedTonal;
}

void PeakTonalityBlock(const PartitionTable& p, const float* energy, const float* peak,
                       float* tonality, float* snr, const float* table, int tableStride) {
  const int n = p.numPartitions;
  for (int b = 0; b < n; ++b) {
    float sum = 0.0f, largest = 0.0f;
    int parts = 0, lines = 0;
    for (int j = b - 1; j <= b + 1; ++j) {
      if (j < 0 || j >= n) continue;
      sum += energy[j];
      largest = std::fmax(largest, peak[j]);
      lines += p.width[j];
      ++parts;
    }
    const float mean = sum / static_cast<float>(parts);
    float t = 0.0f;
    if (mean != 0.0f && lines > 1)
      t = (largest / mean - 1.0f) / static_cast<float>(lines - 1);
    t = t > 1.0f ? 1.0f : (t < 0.0f ? 0.0f : t);
    tonality[b] = t;
    if (snr) {
      const float pos = t * kToneSnrEntries;
      const int k = pos < kToneSnrEntries - 1 ? static_cast<int>(pos) : kToneSnrEntries - 1;
      snr[b] = table[b * tableStride + k];
    }
  }
}

void PeakTonality(const PsyTables& t, PsyWorkArea& w, int analyseShort, bool setSnr) {
  PeakTonalityBlock(t.longPart, w.partEnergy, w.partPeak, w.peakTonality, setSnr ? w.snr : nullptr,
                    &t.peakSnrLong[0][0], kToneSnrEntries);
  if (!analyseShort) return;
  for (int win = 0; win < kNumShortWindows; ++win)
    PeakTonalityBlock(t.shortPart, w.shortPartEnergy[win], w.shortPartPeak[win],
                      w.shortPeakTonality[win], setSnr ? w.shortSnr[win] : nullptr,
                      t.peakSnrShort, 0);
}

}  // namespace aacs::psych
