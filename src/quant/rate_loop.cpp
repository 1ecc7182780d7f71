// quant/rate_loop.cpp — the nested rate/distortion loops of one channel.
//
// Entry prepares the coding-order spectrum, the band weights (inverse allowed distortion) and a
// start gain; the inner loop raises the global gain until the channel's bits fit its budget; the
// outer loop amplifies badly distorted bands under three strategies in turn (1: every band above
// the mean, 3: the worst bands up to half the excess, 2: the single worst band) and keeps the
// best iteration; the final stage codes the best iteration.
#include "quant/rate_loop.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>

#include "api/stream_context.h"
#include "dsp/primitives.h"
#include "enc/band_tables.h"
#include "enc/huffman.h"
#include "enc/side_info.h"
#include "psych/ath.h"
#include "quant/dequantiser.h"
#include "quant/quantiser.h"

namespace aacs::quant {
namespace {

constexpr int kSearchFailCost = 1000000;    // overflow during the initial search: raise the gain
constexpr int kLoopFailCost = 10000000;     // overflow in later inner loops
constexpr int kSearchStartStep = 4;
constexpr int kSearchGainLimit = 255;
constexpr int kDefaultStartGain = 40;
constexpr int kMaxStoredStartGain = 200;
constexpr int kMinBudget = 300;
constexpr int kMaxCbrBudget = 5700;
constexpr int kMinVbrBudget = 200;
constexpr int kMaxVbrBudget = 6000;
constexpr int kMaxBitstreamScalefactor = 255;
constexpr int kMaxScalefactorDelta = 60;
constexpr int kNoiseEnergyOffset = 90;
constexpr int kFirstNoiseRange = 256;       // first noise energy: 9-bit field, offset 256
constexpr float kPeCap = 10000.0f;
constexpr float kEnergyFloorFactor = 0.00039810717055349724f;  // -34 dB below the band energy
constexpr float kMinAllowedDistortion = 0.001f;
constexpr float kPeTargetSlope = 0.6f;
constexpr float kPeTargetRoot = 24.0f;
constexpr int kMaxEntropySteps = 1 << 16;
constexpr float kEntropyBitShare = 0.5f;    // of the available bits, what the entropy may ask for
constexpr int kCoarsenSearchSpan = 64;      // gains above a clean one that the search looks at

// 10^(-0.15 / n): one step of the perceptual-entropy reduction spread over n bands.
const std::array<float, kMaxCodedBands + 1>& EntropyReductionFactors() {
  static const std::array<float, kMaxCodedBands + 1> factors = [] {
    std::array<float, kMaxCodedBands + 1> f{};
    f[0] = 1.0f;
    for (int n = 1; n <= kMaxCodedBands; ++n) f[n] = static_cast<float>(std::pow(10.0, -0.15 / n));
    return f;
  }();
  return factors;
}

struct BestIteration {
  int gain;
  int budget;  // the budget the iteration was fitted to
  DistortionSums sums;
  int scalefactor[kMaxCodedBands];
  alignas(32) float y[kFrameLength];
};

struct LoopState {
  StreamContext& ctx;
  ChannelCodingRecord& rec;
  int ch;
  int budget;
  int reservoir;      // the call's copy of the lendable bits
  int reservoirMax;
  int ceiling;        // loopThresholdA (long) or loopThresholdB (eight-short)
  int minBudget;
  int maxBudget;
  int fittedBudget = 0;  // the budget this iteration's inner loop fitted the channel to
  int adaptStep = 0;
  int iteration = 0;
  int phase = 1;
  int patience = 0;
  int strategy = 1;
  bool keepGoing = true;
  bool reservoirExhausted = false;
  bool bestSaved = false;  // best.y holds the lines of best.scalefactor
  DistortionSums sums{};
  BestIteration best{};
};

bool IsShort(const ChannelCodingRecord& rec) { return rec.windowSequence == kEightShort; }
int BandWidth(const ChannelCodingRecord& rec, int b) { return rec.bandOffset[b + 1] - rec.bandOffset[b]; }

void MarkAllBands(ChannelCodingRecord& rec) {
  std::memset(rec.recompute, 1, sizeof(rec.recompute));
}

// ---- Entry --------------------------------------------------------------------------------

// Takes the rate's standard layout when the pipeline left none, then regroups.
void SetupLayout(ChannelCodingRecord& rec, const float* spectrum) {
  if (rec.numSwb <= 0 && rec.sampleRateIndex >= 0 && rec.sampleRateIndex < kNumSampleRates) {
    const bool isShort = IsShort(rec);
    rec.numSwb = isShort ? enc::kNumSwbShort[rec.sampleRateIndex] : enc::kNumSwbLong[rec.sampleRateIndex];
    const int* offsets = isShort ? enc::kSwbOffsetShort[rec.sampleRateIndex] : enc::kSwbOffsetLong[rec.sampleRateIndex];
    std::copy(offsets, offsets + rec.numSwb + 1, rec.swbOffset);
  }
  if (!IsShort(rec)) {
    rec.numWindowGroups = 1;
    rec.groupLength[0] = 1;
  }
  BuildCodingOrder(rec, spectrum);
}

// The channel's TNS, prediction and LTP bits beyond the frame's fixed side bits (which already
// hold the TNS and pulse flags and ics_info with its predictor flag): they come off the
// channel's own budget.
int CountSideBits(const StreamContext& ctx, int ch) {
  const ChannelCodingRecord& rec = ctx.coding[ch];
  int bits = enc::WriteTnsData(ctx.tns[ch], rec.windowSequence, nullptr, 0) - 1;
  if (IsShort(rec)) return bits;
  const enc::ChannelInfo& info = ctx.channelInfo[ch];
  const bool pair = info.isPair && info.pairedChannel >= 0 && info.pairedChannel < kMaxChannels;
  const int first = pair && !info.isFirstOfPair ? info.pairedChannel : ch;
  const int common = pair && ctx.channelInfo[first].commonWindow;
  if (ctx.profile == kProfileMain) {
    // A pair sharing one ics_info sends one set of prediction data, counted with the first.
    if (common && first != ch) return bits;
    return bits + enc::WritePredictionData(rec, ctx.predictorBandLimit, nullptr, 0) - 1;
  }
  // With LTP, ics_info carries this channel's ltp_data whenever its predictor_data_present is set
  // (in a shared ics_info both channels' data follow the one flag).
  if (ctx.profile != kProfileLtp) return bits;
  const int flag = common ? enc::LtpPredictorDataPresent(ctx, first, 1, ctx.channelInfo[first].pairedChannel)
                          : enc::LtpPredictorDataPresent(ctx, ch, 0, ch);
  if (flag) bits += enc::WriteLtpData(ctx.ltp[ch], rec.windowSequence, rec.totalBands, nullptr, 0);
  return bits;
}

// Intensity bands get codebook 15/14 and keep their position; noise bands (long frames) get
// their energy and codebook 13.  The lines of both are cleared: they carry no spectral data.
void AssignSpecialBands(const StreamContext& ctx, int ch, ChannelCodingRecord& rec) {
  const enc::ChannelInfo& info = ctx.channelInfo[ch];
  for (int b = 0; b < rec.totalBands; ++b) {
    rec.noiseFlag[b] = 0;
    rec.noiseEnergy[b] = 0;
    float* lines = rec.grouped + rec.bandOffset[b];
    const int width = BandWidth(rec, b);
    if (info.intensityFlag[b]) {
      rec.codebook[b] = rec.intensityOutOfPhase[b] ? kIntensityOutOfPhase : kIntensityInPhase;
      rec.scalefactor[b] = rec.intensityPosition[b];
      std::fill(lines, lines + width, 0.0f);
      continue;
    }
    rec.codebook[b] = kZeroCodebook;
    rec.scalefactor[b] = 0;
    if (IsShort(rec) || !rec.psyNoiseBand[b]) continue;
    float energy = 0.0f;
    for (int i = 0; i < width; ++i) energy += lines[i] * lines[i];
    if (!(energy > 0.0f) || !std::isfinite(energy)) continue;
    rec.noiseFlag[b] = 1;
    rec.codebook[b] = kNoiseCodebook;
    const float log2Energy = QuantFastLog(energy) * 1.4426950408889634f;
    rec.noiseEnergy[b] = static_cast<int>(2.0f * log2Energy + 0.5f) + kNoiseEnergyOffset;
    std::fill(lines, lines + width, 0.0f);
  }
}

// Allowed distortion per band (model threshold, raised to the absolute threshold and to -34 dB
// of the band energy) and its inverse, the band weight, raised by the tuning bias and the
// average-rate offset (both in dB).
void ComputeWeights(const StreamContext& ctx, int ch, ChannelCodingRecord& rec, const float* energy,
                    const float* ratio) {
  const float peakGain = ctx.peakGain[ch];
  const float biasDb = ctx.loopBias + ctx.rateOffsetDb;
  const float bias = biasDb != 0.0f ? std::pow(10.0f, biasDb / 10.0f) : 1.0f;
  const int perGroup = std::max(rec.maxSfb, 1);
  for (int b = 0; b < rec.totalBands; ++b) {
    const float e = energy[b];
    float t = e * ratio[b];
    if (!IsShort(rec)) {
      t = std::max(t, peakGain * ctx.athLongBand[b]);
      t = std::max(t, e * kEnergyFloorFactor);
    } else {
      const int group = std::min(b / perGroup, kNumShortWindows - 1);
      t = std::max(t, peakGain * ctx.athShortBand[b % perGroup] * static_cast<float>(rec.groupLength[group]));
    }
    if (t <= kMinAllowedDistortion && e != 0.0f) t = kMinAllowedDistortion;
    // Bands the model allows less than one unit of error are not weighed at all (nor are broken
    // inputs); the bias moves the others' allowance, never that decision.
    rec.weight[b] = (t >= 1.0f && std::isfinite(t)) ? bias / t : 0.0f;
    rec.cachedDiff[b] = kNoCachedDiff;
  }
  MarkAllBands(rec);
}

float PerceptualEntropy(const ChannelCodingRecord& rec, const float* energy) {
  float pe = 0.0f;
  for (int b = 0; b < rec.totalBands; ++b) {
    if (rec.codebook[b] >= kIntensityOutOfPhase) continue;
    const float r = energy[b] * rec.weight[b];
    if (r > 1.0f && std::isfinite(r)) pe += static_cast<float>(BandWidth(rec, b)) * QuantFastLog(r);
  }
  return std::min(pe, kPeCap);
}

// Entropy after k more reduction steps, from the bands' current log ratios: every step takes
// ln(factor) off each log, and a band stops counting once its log reaches 0.
float EntropyAfterSteps(const float* logs, const float* widths, int n, float lnFactor, int k) {
  float pe = 0.0f;
  const float drop = lnFactor * static_cast<float>(k);
  for (int b = 0; b < n; ++b) pe += widths[b] * std::max(logs[b] + drop, 0.0f);
  return std::min(pe, kPeCap);
}

// The number of reduction steps after which the entropy meets the target, less one (so that
// rounding never makes the jump overshoot the step-by-step result).
int StepsToTarget(const ChannelCodingRecord& rec, const float* energy, float target, float factor) {
  float logs[kMaxCodedBands], widths[kMaxCodedBands];
  float largest = 0.0f;
  for (int b = 0; b < rec.totalBands; ++b) {
    const float r = energy[b] * rec.weight[b];
    const bool counted = rec.codebook[b] < kIntensityOutOfPhase && r > 1.0f && std::isfinite(r);
    logs[b] = counted ? QuantFastLog(r) : 0.0f;
    widths[b] = static_cast<float>(BandWidth(rec, b));
    largest = std::max(largest, logs[b]);
  }
  const float lnFactor = std::log(factor);
  int lo = 0, hi = std::min(static_cast<int>(largest / -lnFactor) + 2, kMaxEntropySteps);
  while (lo < hi) {  // smallest k whose entropy meets the target
    const int mid = lo + (hi - lo) / 2;
    if (EntropyAfterSteps(logs, widths, rec.totalBands, lnFactor, mid) <= target)
      hi = mid;
    else
      lo = mid + 1;
  }
  return std::max(lo - 1, 0);
}

// When the entropy asks for more than the available bits, lowers every weight by
// 10^(-0.15 / n) per step until the entropy meets the target that those bits can carry.  The
// steps up to just short of the target are found from one pass of band logarithms.  The
// entropy model (0.6 PE + 24 sqrt(PE) bits) promises about twice what the loops reach with the
// bits: the target is taken from half of them (measured on starved mono streams, docs/quality.md).
void LimitEntropy(ChannelCodingRecord& rec, const float* energy, int available) {
  const float v = kEntropyBitShare * static_cast<float>(available);
  if (kPeTargetSlope * rec.pe + kPeTargetRoot * std::sqrt(rec.pe) <= v) return;
  const float target = psych::SolvePeTarget(v, kPeTargetSlope, kPeTargetRoot);
  const int n = std::clamp(rec.totalBands, 0, kMaxCodedBands);
  if (n == 0) return;
  const float factor = EntropyReductionFactors()[n];
  // The jump multiplies step by step, so the weights are exactly those of the one-at-a-time
  // rule; only the entropy evaluations in between are skipped.
  const int jump = StepsToTarget(rec, energy, target, factor);
  for (int step = 0; step < jump; ++step) dsp::VecMulConstInPlace(factor, rec.weight, n);
  if (jump > 0) rec.pe = PerceptualEntropy(rec, energy);
  // Finite energies fall below one unit of weighted energy long before the weights could stall
  // in the denormal range; the bound only guards against broken inputs.
  for (int step = 0; rec.pe > target && step < kMaxEntropySteps; ++step) {
    dsp::VecMulConstInPlace(factor, rec.weight, n);
    rec.pe = PerceptualEntropy(rec, energy);
  }
}

// Prepared magnitudes are never negative, so a band has one above 0 when some line's bits are
// not all zero (an integer OR the compiler vectorises).
void FlagNonzeroBands(ChannelCodingRecord& rec) {
  for (int b = 0; b < rec.totalBands; ++b) {
    uint32_t any = 0;
    for (int i = rec.bandOffset[b]; i < rec.bandOffset[b + 1]; ++i) any |= std::bit_cast<uint32_t>(rec.y[i]);
    rec.bandNonzero[b] = any != 0;
  }
}

// G0 = trunc(5 ln(M / (8192 ln 2))); a stored gain outside 40..200 restarts at 40.
void UpdateStartGain(StreamContext& ctx, int ch, float peak) {
  const float g = 5.0f * QuantFastLog(peak / (8192.0f * 0.6931471805599453f));
  const int g0 = static_cast<int>(std::clamp(g, -1000.0f, 1000.0f));
  int& start = ctx.startGain[ch];
  start = std::max(start, g0);
  if (start > kMaxStoredStartGain || start < kDefaultStartGain) start = kDefaultStartGain;
}

// ---- Costs and loops ----------------------------------------------------------------------

// Noise bands code codebook 13 (the chooser keeps it from here on, so this is done once).
void SetNoiseBooks(ChannelCodingRecord& rec) {
  if (!IsShort(rec))
    for (int b = 0; b < rec.totalBands; ++b)
      if (rec.noiseFlag[b]) rec.codebook[b] = kNoiseCodebook;
}

int ChannelCost(ChannelCodingRecord& rec) {
  const int spectral = enc::CountChannelSpectralBits(rec, enc::kLoopVariantKnownMax);
  return spectral + enc::CountSideBitsFor(rec, rec.codebook, 1);
}

int QuantiseAndCost(ChannelCodingRecord& rec, int failCost) {
  if (QuantiseAndMark(rec)) return failCost;
  return ChannelCost(rec);
}

struct SearchResult {
  int cost;
  bool evaluated;  // the final gain is the one the cost belongs to
};

// Binary-like search from the start gain: steps of 4, halved once the direction turns.
SearchResult InitialGainSearch(StreamContext& ctx, int ch, ChannelCodingRecord& rec, int budget) {
  int step = kSearchStartStep;
  int direction = 0;  // +1 last move up, -1 down
  bool halving = false;
  int gain = std::max(ctx.startGain[ch], 0);
  SearchResult r{0, true};
  for (;;) {
    rec.globalGain = gain;
    r.cost = QuantiseAndCost(rec, kSearchFailCost);
    r.evaluated = true;
    if (step == 1) break;
    if (halving) step /= 2;
    if (r.cost > budget) {
      if (direction < 0 && !halving) {
        halving = true;
        step /= 2;
      }
      gain += step;
      direction = 1;
      r.evaluated = false;
      if (gain > kSearchGainLimit) break;
    } else {
      if (r.cost == budget) break;
      if (direction > 0 && !halving) {
        halving = true;
        step /= 2;
      }
      gain -= step;
      direction = -1;
      r.evaluated = false;
      if (gain <= 0) break;
    }
  }
  rec.globalGain = gain;
  ctx.startGain[ch] = gain;
  return r;
}

// Raises the gain until the channel fits the budget.  False when even the last gain of the step
// tables does not fit.
bool InnerLoop(LoopState& s) {
  ChannelCodingRecord& rec = s.rec;
  int cost = QuantiseAndCost(rec, kLoopFailCost);
  while (cost > s.budget) {
    if (rec.globalGain >= kMaxGain) return false;
    ++rec.globalGain;
    cost = QuantiseAndCost(rec, kLoopFailCost);
  }
  rec.lastBits = cost;
  return true;
}

// Lends reservoir bits to a channel with audible distortion, gives bits back from a clean one.
void AdaptBudget(LoopState& s) {
  const bool distorted = s.sums.overSum > 0.0f;
  if (s.iteration == 1) {
    const int top = s.ctx.vbrMode != 0 ? s.maxBudget : s.ceiling;
    s.adaptStep = distorted ? (top - s.budget) / 2 : s.budget / 2;
  }
  if (s.ctx.vbrMode != 0) {
    s.budget += distorted ? s.adaptStep : -s.adaptStep;
  } else if (distorted) {
    int lend = std::min(s.adaptStep, std::max(s.reservoir, 0));
    if (s.budget + lend > s.ceiling) lend = s.ceiling - s.budget;
    if (s.reservoir <= 0) s.reservoirExhausted = true;
    s.budget += lend;
    s.reservoir -= lend;
  } else {
    const int room = s.reservoirMax - std::max(s.reservoir, 0);
    int give = std::min(s.adaptStep, std::max(room, 0));
    if (s.budget - give < kMinBudget) give = s.budget - kMinBudget;
    s.budget -= give;
    s.reservoir += give;
  }
  s.budget = std::clamp(s.budget, s.minBudget, s.maxBudget);
  s.adaptStep /= 2;
}

bool Less(const DistortionSums& a, const DistortionSums& b) {
  if (a.overSum != b.overSum) return a.overSum < b.overSum;
  if (a.normSum != b.normSum) return a.normSum < b.normSum;
  return a.totalSum < b.totalSum;
}

// A band's prepared magnitudes amplified s times are always the same floats, so between two
// states only the bands whose amplification differs need their lines copied.
void CopyChangedBands(const ChannelCodingRecord& rec, const int* fromSf, const float* from, const int* toSf, float* to,
                      uint8_t* copied) {
  for (int b = 0; b < rec.totalBands; ++b) {
    if (fromSf[b] == toSf[b]) continue;
    const int start = rec.bandOffset[b];
    std::memcpy(to + start, from + start, sizeof(float) * static_cast<size_t>(BandWidth(rec, b)));
    if (copied) copied[b] = 1;
  }
}

void SaveBest(LoopState& s) {
  ChannelCodingRecord& rec = s.rec;
  s.best.gain = rec.globalGain;
  s.best.budget = s.fittedBudget;
  s.best.sums = s.sums;
  if (!s.bestSaved) {
    if (rec.codedLines32 > 0) dsp::VecCopy(rec.y, s.best.y, rec.codedLines32);
    s.bestSaved = true;
  } else {
    CopyChangedBands(rec, rec.scalefactor, rec.y, s.best.scalefactor, s.best.y, nullptr);
  }
  std::memcpy(s.best.scalefactor, rec.scalefactor, sizeof(int) * static_cast<size_t>(rec.totalBands));
}

void RestoreBest(LoopState& s) {
  ChannelCodingRecord& rec = s.rec;
  rec.globalGain = s.best.gain;
  CopyChangedBands(rec, s.best.scalefactor, s.best.y, rec.scalefactor, rec.y, rec.requantise);
  std::memcpy(rec.scalefactor, s.best.scalefactor, sizeof(int) * static_cast<size_t>(rec.totalBands));
  InvalidateDistortionCache(rec);
  QuantiseAndMark(rec);
  s.sums = MeasureDistortion(rec);
}

void UpdateBest(LoopState& s) {
  bool better = s.phase == 1 || Less(s.sums, s.best.sums);
  // Early in strategies 1 and 3, among clean iterations the newest wins: it was fitted to the
  // budget after the bits it did not need went back to the reservoir.
  if ((s.strategy == 1 || s.strategy == 3) && s.phase < 8 && !s.reservoirExhausted &&
      s.best.sums.overSum == 0.0f && s.sums.overSum == 0.0f)
    better = true;
  if (better) {
    SaveBest(s);
    s.patience = 0;
  } else {
    ++s.patience;
  }
}

void SwitchStrategy(LoopState& s, int next) {
  RestoreBest(s);
  s.strategy = next;
  s.phase = 8;
  s.patience = 0;
}

void AmplifyBand(ChannelCodingRecord& rec, int b) {
  dsp::VecMulConstInPlace(kAmplifyStep, rec.y + rec.bandOffset[b], BandWidth(rec, b));
  ++rec.scalefactor[b];
  rec.recompute[b] = 1;
  rec.requantise[b] = 1;
}

bool Eligible(const ChannelCodingRecord& rec, int b, float bar) {
  return rec.distortion[b] > bar && rec.codebook[b] < kIntensityOutOfPhase &&
         rec.scalefactor[b] < kMaxScalefactor;
}

// Amplifies the bands the current strategy picks; false when none was.
bool Amplify(LoopState& s) {
  ChannelCodingRecord& rec = s.rec;
  const int n = rec.totalBands;
  bool any = false;
  if (s.strategy == 1) {
    const float bar = s.sums.count < 2 ? 1.0f : s.sums.overSum / static_cast<float>(s.sums.count);
    for (int b = 0; b < n; ++b)
      if (Eligible(rec, b, bar)) {
        AmplifyBand(rec, b);
        any = true;
      }
    return any;
  }
  // Bands from the most distorted down, equal distortions in band order (a stable sort by
  // falling distortion).  Distortions are numbers >= 0, whose bits order like their values:
  // one integer key per band (inverted bits, then the band) sorts the same way.  Strategy 2
  // takes the first eligible band of that order, which a scan finds.
  int order[kMaxCodedBands];
  bool keys = true;
  for (int b = 0; b < n; ++b) {
    order[b] = b;
    keys &= rec.distortion[b] == rec.distortion[b] && !std::signbit(rec.distortion[b]);
  }
  if (!keys) {
    std::stable_sort(order, order + n, [&](int a, int b) { return rec.distortion[a] > rec.distortion[b]; });
  } else if (s.strategy == 2) {
    int worst = -1;
    for (int b = 0; b < n; ++b)
      if (Eligible(rec, b, 1.0f) && (worst < 0 || rec.distortion[b] > rec.distortion[worst])) worst = b;
    if (worst < 0) return false;
    AmplifyBand(rec, worst);
    return true;
  } else {
    uint64_t key[kMaxCodedBands];
    for (int b = 0; b < n; ++b)
      key[b] = static_cast<uint64_t>(~std::bit_cast<uint32_t>(rec.distortion[b])) << 32 | static_cast<uint32_t>(b);
    std::sort(key, key + n);
    for (int b = 0; b < n; ++b) order[b] = static_cast<int>(key[b] & 0xFFFFFFFFu);
  }
  float amplified = 0.0f;
  for (int k = 0; k < n; ++k) {
    const int b = order[k];
    if (!Eligible(rec, b, 1.0f)) continue;
    AmplifyBand(rec, b);
    any = true;
    if (s.strategy == 2) break;
    amplified += rec.distortion[b];
    if (amplified >= s.sums.overSum / 2.0f) break;
  }
  return any;
}

// A channel that meets every threshold at its first iteration needs no more bits than the
// coarsest gain that still meets them: a binary search over the gain finds it, and what the
// channel no longer needs goes back to the reservoir.
void CoarsenWhileClean(LoopState& s) {
  ChannelCodingRecord& rec = s.rec;
  int clean = rec.globalGain, distorted = std::min(rec.globalGain + kCoarsenSearchSpan, kMaxGain + 1);
  while (distorted - clean > 1) {
    rec.globalGain = (clean + distorted) / 2;
    const int cost = QuantiseAndCost(rec, kLoopFailCost);
    if (cost < kLoopFailCost && MeasureDistortion(rec).overSum == 0.0f)
      clean = rec.globalGain;
    else
      distorted = rec.globalGain;
  }
  rec.globalGain = clean;
  rec.lastBits = QuantiseAndCost(rec, kLoopFailCost);
  s.sums = MeasureDistortion(rec);
  s.reservoir += std::max(s.budget - rec.lastBits, 0);
  s.budget = s.fittedBudget = rec.lastBits;
}

// One outer iteration after the inner loop and the measurement.
void OuterStep(LoopState& s) {
  if (s.iteration == 1 && s.sums.overSum == 0.0f) {
    CoarsenWhileClean(s);
    SaveBest(s);
    s.keepGoing = false;
    return;
  }
  if (s.phase < 8) AdaptBudget(s);
  if (s.sums.count == 0) {
    if (s.strategy == 1 && s.iteration >= 8)
      SwitchStrategy(s, 3);
    else if (s.strategy != 1 && s.iteration >= 9)
      s.keepGoing = false;
  }
  UpdateBest(s);
  if (s.strategy == 1 && s.patience > s.ctx.patienceLimit1) {
    SwitchStrategy(s, 3);
  } else if (s.strategy == 3 && s.patience > s.ctx.patienceLimit3) {
    SwitchStrategy(s, 2);
    s.keepGoing = true;
  } else if (s.strategy == 2 && s.patience > s.ctx.patienceLimit2) {
    s.keepGoing = false;
  }
  if (s.keepGoing) s.keepGoing = Amplify(s);
  if (s.phase < 9) s.keepGoing = true;
  ++s.phase;
}

// ---- Final stage --------------------------------------------------------------------------

// Bitstream scalefactors g - s + 100 and global_gain (band 0's value).  A band whose value
// cannot be coded in 8 bits (only possible for absurd input levels) is dropped.
void ConvertScalefactors(ChannelCodingRecord& rec) {
  const int g = rec.globalGain;
  int firstCoded = -1;
  for (int b = 0; b < rec.totalBands; ++b) {
    const int cb = rec.codebook[b];
    if (cb >= kIntensityOutOfPhase) continue;
    const int sf = g - rec.scalefactor[b] + 100;
    const bool coded = cb != kZeroCodebook && cb != kNoiseCodebook;
    if (coded && (sf < 0 || sf > kMaxBitstreamScalefactor)) {
      rec.codebook[b] = kZeroCodebook;
      std::fill(rec.q + rec.bandOffset[b], rec.q + rec.bandOffset[b + 1], 0);
    } else if (coded && firstCoded < 0) {
      firstCoded = sf;
    }
    rec.scalefactor[b] = sf;
  }
  // Band 0's value when it has one that fits; every coded band then differs from it by at
  // most 59.  Otherwise the first coded band's value, which keeps the same property.
  const bool band0 = rec.totalBands > 0 && rec.codebook[0] < kIntensityOutOfPhase &&
                     rec.scalefactor[0] >= 0 && rec.scalefactor[0] <= kMaxBitstreamScalefactor;
  if (band0)
    rec.globalGain = rec.scalefactor[0];
  else
    rec.globalGain = std::clamp(firstCoded >= 0 ? firstCoded : g + 100, 0, kMaxBitstreamScalefactor);
}

// Noise energies and intensity positions are kept within what their difference codes carry.
void LimitSpecialBands(ChannelCodingRecord& rec) {
  int noiseRef = rec.globalGain;
  bool firstNoise = true;
  int intensityRef = 0;
  for (int b = 0; b < rec.totalBands; ++b) {
    if (rec.codebook[b] == kNoiseCodebook) {
      const int lo = firstNoise ? noiseRef - kFirstNoiseRange : noiseRef - kMaxScalefactorDelta;
      const int hi = firstNoise ? noiseRef + kFirstNoiseRange - 1 : noiseRef + kMaxScalefactorDelta;
      rec.noiseEnergy[b] = std::clamp(rec.noiseEnergy[b], lo, hi);
      noiseRef = rec.noiseEnergy[b];
      firstNoise = false;
    } else if (rec.codebook[b] >= kIntensityOutOfPhase) {
      rec.scalefactor[b] = std::clamp(rec.scalefactor[b], intensityRef - kMaxScalefactorDelta,
                                      intensityRef + kMaxScalefactorDelta);
      intensityRef = rec.scalefactor[b];
    }
  }
}

void ZeroChannel(ChannelCodingRecord& rec, bool keepSpecialBands) {
  rec.globalGain = 0;
  std::memset(rec.q, 0, sizeof(rec.q));
  rec.quantValid = 0;
  for (int b = 0; b < rec.totalBands; ++b) {
    const bool special = rec.codebook[b] == kNoiseCodebook || rec.codebook[b] >= kIntensityOutOfPhase;
    if (keepSpecialBands && special) continue;
    rec.codebook[b] = kZeroCodebook;
    rec.noiseFlag[b] = 0;
    rec.scalefactor[b] = 0;
  }
  MarkAllBands(rec);
}

// Codes the quantised values at the record's gain and internal scalefactors: signs, pulses,
// final codebooks, reconstruction, bitstream scalefactors and the codeword list.  Returns the
// channel's bits beyond its side bits.
int CodeChannel(StreamContext& ctx, int ch, bool zero) {
  ChannelCodingRecord& rec = ctx.coding[ch];
  rec.quantValid = 0;  // signs, pulses and dropped bands rewrite q from here on
  rec.pulseDataPresent = 0;
  rec.numPulse = 0;
  if (!zero) {
    const int* sign = ctx.signTable;
    const int lines = rec.blocks32 * 32;
    for (int i = 0; i < lines; ++i) rec.q[i] *= sign[i];
    MarkAllBands(rec);
    // Decoders add pulses to the dequantised Main-profile lines with different float
    // arithmetic; the predictors must see one value, so Main streams carry no pulses.
    if (!IsShort(rec) && ctx.profile != kProfileMain) enc::SelectPulses(rec, 1);
    if (ctx.quality > 3) {
      enc::MergeSections(rec, 1);
      std::memcpy(rec.codebook, rec.trialCodebook, sizeof(int) * static_cast<size_t>(rec.totalBands));
    } else {
      enc::CountChannelSpectralBits(rec, 0);
    }
    if (!IsShort(rec))
      for (int b = 0; b < rec.totalBands; ++b)
        if (rec.noiseFlag[b]) rec.codebook[b] = kNoiseCodebook;
  }
  if (!zero) ConvertScalefactors(rec);  // the silent channel keeps global gain and scalefactors 0
  LimitSpecialBands(rec);
  // The prediction tools learn from exactly what a decoder dequantises.
  if (ctx.profile != kProfileLc) DequantiseLikeDecoder(rec, ctx.reconSpectrum[ch]);
  enc::BuildCodewordList(rec);
  const int pulseBits = rec.pulseDataPresent ? enc::WritePulseData(rec, nullptr, 0) - 1 : 0;
  return enc::WriteSpectralData(rec, nullptr, 0) + enc::CountSectionBits(rec) +
         enc::CountScaleFactorBits(rec, 0) + pulseBits;
}

// Codes the best iteration; the signed final codebooks can price a little above the loops'
// magnitude-only count, so the gain rises until the channel fits what the loops granted it.
void FinalStage(LoopState& s) {
  ChannelCodingRecord& rec = s.rec;
  int gain = s.best.gain;
  for (;;) {
    rec.globalGain = gain;
    std::memcpy(rec.scalefactor, s.best.scalefactor, sizeof(int) * static_cast<size_t>(rec.totalBands));
    if (rec.codedLines32 > 0) dsp::VecCopy(s.best.y, rec.y, rec.codedLines32);
    rec.quantValid = 0;
    if (QuantiseChecked(rec, rec.y, rec.q) == 0) {
      rec.lastBits = CodeChannel(s.ctx, s.ch, false);
      if (rec.lastBits <= s.best.budget) return;
    }
    if (gain >= kMaxGain) break;
    ++gain;
  }
  ZeroChannel(rec, false);
  rec.lastBits = CodeChannel(s.ctx, s.ch, true);
}

void FinalZero(StreamContext& ctx, int ch, int budget) {
  ChannelCodingRecord& rec = ctx.coding[ch];
  ZeroChannel(rec, true);
  rec.lastBits = CodeChannel(ctx, ch, true);
  if (rec.lastBits > std::max(budget, kMinBudget)) {  // noise bands alone would not fit
    ZeroChannel(rec, false);
    rec.lastBits = CodeChannel(ctx, ch, true);
  }
}

}  // namespace

void InitQuantiserTables() {
  QuantTables();
  EntropyReductionFactors();
  enc::InitHuffmanTables();
}

int ChannelRateLoop(StreamContext& ctx, int ch, const float* spectrum, const float* bandEnergy,
                    const float* bandRatio, int budget, int lendable, int reservoirMax) {
  if (ch < 0 || ch >= kMaxChannels) return 1;  // no such channel: the pipeline reports a failed frame
  ChannelCodingRecord& rec = ctx.coding[ch];
  rec.channelIndex = ch;
  SetupLayout(rec, spectrum);
  rec.sideBits = CountSideBits(ctx, ch);

  // The side bits come off the budget; the loops then spend the rest on spectral data, section
  // data and scalefactors.  Whatever the budget rules do, the channel stays below the decoder's
  // input buffer.
  const int available = budget + std::max(lendable, 0) - rec.sideBits;
  budget -= rec.sideBits;
  const int hardCap = kMaxChannelFrameBits - rec.sideBits - rec.fixedSideShare;
  const int maxBudget = std::min(ctx.vbrMode != 0 ? kMaxVbrBudget : kMaxCbrBudget, hardCap);
  const int minBudget = ctx.vbrMode != 0 ? kMinVbrBudget : kMinBudget;
  budget = std::min(budget, maxBudget);

  AssignSpecialBands(ctx, ch, rec);
  ComputeWeights(ctx, ch, rec, bandEnergy, bandRatio);
  rec.pe = PerceptualEntropy(rec, bandEnergy);
  LimitEntropy(rec, bandEnergy, available);

  const float peak = PrepareMagnitudes(rec, rec.grouped, MagnitudeFloor(ctx.vbrMode, ctx.bitRate), ctx.signTable);
  FlagNonzeroBands(rec);
  SetNoiseBooks(rec);
  rec.loopIterations = 0;
  if (!(peak > 0.0f)) {
    FinalZero(ctx, ch, budget);
    return 0;
  }
  UpdateStartGain(ctx, ch, peak);
  const SearchResult search = InitialGainSearch(ctx, ch, rec, budget);
  budget = std::max(budget, kMinBudget);

  const int ceiling = (IsShort(rec) ? ctx.loopThresholdB : ctx.loopThresholdA) - rec.sideBits;
  LoopState s{ctx, rec, ch, budget, lendable, reservoirMax, ceiling, minBudget, maxBudget};
  bool fits = true;
  while (s.keepGoing) {
    ++s.iteration;
    if (s.iteration > 1 || search.cost > s.budget || !search.evaluated) {
      if (!InnerLoop(s)) {
        fits = false;
        break;
      }
    } else {
      rec.lastBits = search.cost;
    }
    s.fittedBudget = s.budget;
    s.sums = MeasureDistortion(rec);
    OuterStep(s);
  }
  rec.loopIterations = s.iteration;
  if (!fits && s.iteration == 1) {
    // Not even the first iteration fitted: the channel is coded silent (it always fits then).
    ZeroChannel(rec, false);
    rec.lastBits = CodeChannel(ctx, ch, true);
    return 0;
  }
  FinalStage(s);
  return 0;
}

}  // namespace aacs::quant
