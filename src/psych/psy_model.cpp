// psych/psy_model.cpp — the per-frame driver of the psychoacoustic model: first-frame set-up,
// the analysis of single channels, channel pairs (with their mid and side signals) and LFE
// channels, and the result records handed to the coder.
//
// Channel slots 0..5 are the channels; a pair starting at l also analyses its mid signal in
// slot l + 6 and its side signal in slot r + 6.  Work areas 0..3 hold L, R, M, S of a pair;
// single channels use work area 0.
#include "psych/psy_model.h"

#include <algorithm>
#include <cstring>

#include "api/report.h"
#include "api/stream_context.h"
#include "enc/filterbank.h"
#include "psych/attack.h"
#include "psych/block_switch.h"
#include "psych/chaos.h"
#include "psych/fast_log.h"
#include "psych/ms_decision.h"
#include "psych/psy_stages.h"
#include "psych/psy_tables.h"
#include "psych/psy_transform.h"

namespace aacs::psych {
namespace {

constexpr float kInvSqrt2048 = 0.022097087f;  // scales long MDCT lines to per-line energy
constexpr float kInvSqrt256 = 0.0625f;        // the same for short lines
constexpr float kInitialThreshold = 90.0f;
constexpr float kInitialUnpredictability = 0.4f;
constexpr float kLfeLowRatio = 0.004f;  // LFE: tight noise in the first ten bands, none above
constexpr int kLfeLowBands = 10;
constexpr int kKbdWindowKind = 3;
constexpr int kMsSlotOffset = kMaxChannels;

void ResetChannelStates(PsyModelState& psy) {
  for (PsyChannelState& st : psy.channel) {
    std::fill(std::begin(st.prevThreshold), std::end(st.prevThreshold), kInitialThreshold);
    std::fill(std::begin(st.thresholdRing), std::end(st.thresholdRing), kInitialThreshold);
    std::fill(std::begin(st.lastRawThreshold), std::end(st.lastRawThreshold), kInitialThreshold);
    st.thresholdRingPos = kMaxLongBands;
    SetGrouping(st, 2);
  }
  for (PsyChannelHistory& h : psy.history) {
    std::memset(h.magnitude, 0, sizeof(h.magnitude));
    std::fill(&h.phaseCos[0][0], &h.phaseCos[0][0] + 3 * kFrameLength, 1.0f);
    std::fill(&h.phaseSin[0][0], &h.phaseSin[0][0] + 3 * kFrameLength, 1.0f);
    std::fill(&h.shortCos[0][0], &h.shortCos[0][0] + kNumShortWindows * kShortLength, 1.0f);
    std::fill(&h.shortSin[0][0], &h.shortSin[0][0] + kNumShortWindows * kShortLength, 1.0f);
    std::memset(h.carriedMagnitude, 0, sizeof(h.carriedMagnitude));
    std::fill(&h.carriedCos[0][0], &h.carriedCos[0][0] + 2 * kShortLength, 1.0f);
    std::fill(&h.carriedSin[0][0], &h.carriedSin[0][0] + 2 * kShortLength, 1.0f);
    h.ringPos = 0;
    h.longBufferIndex = 1;
    h.shortBufferIndex = 1;
  }
  std::fill(std::begin(psy.blockType), std::end(psy.blockType), 0);
}

// First frame of the stream: tables, windows and initial state.
void InitModel(StreamContext& ctx) {
  PsyModelState& psy = ctx.psy;
  const float fs = static_cast<float>(ctx.sampleRate);
  const enc::CbAdaptRow* row = enc::FindCbAdaptRow(ctx.sampleRate);
  if (!row)
    api::ReportError(-1, "cb_adapt_init(): sampling rate %f not found in cb_adapt table, valid "
                     "options are: 8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000, "
                     "64000 and 96000 Hz. This setting will lead to unexpected results\n(%s, %d)",
                     static_cast<double>(fs), __FILE__, __LINE__);
  if (PsyModelAllocate(ctx) != 0)
    api::ReportError(-1, "AnalyseFrame(): out of memory for the psychoacoustic model (%s, %d)",
                     __FILE__, __LINE__);
  std::memset(psy.work, 0, sizeof(psy.work));
  GenerateWindow(kKbdWindowKind, kKbdWindowKind, psy.longWindow, psy.shortWindow);
  ResetChannelStates(psy);
  BuildPsyTables(fs, *row, ctx);
  psy.noiseFlagStartLine = static_cast<int>(static_cast<float>(ctx.noiseFlagStartHz) / fs * 2048.0f);
  psy.analysedLines = std::clamp(static_cast<int>(static_cast<float>(ctx.lowpassCutoff) / fs * 2048.0f),
                                 0, kFrameLength);
  for (PsyWorkArea& w : psy.work) {
    std::fill(std::begin(w.unpredictability), std::end(w.unpredictability), kInitialUnpredictability);
    std::fill(&w.shortUnpredictability[0][0],
              &w.shortUnpredictability[0][0] + kNumShortWindows * kShortLength, kInitialUnpredictability);
  }
  psy.psyInitDone = 1;
}

// The model's transform of the channel's block, scaled spectra, and the unpredictability.
void ComputeSpectra(StreamContext& ctx, int ch, PsyChannelState& st, PsyWorkArea& w,
                    const float* input, int analyseShort) {
  PsyModelState& psy = ctx.psy;
  PsyChannelHistory& h = psy.history[ch];
  h.ringPos = (h.ringPos + 1) % 3;
  const bool wantFft = ctx.peakTonality == 0;
  PsyTransform(psy, ch, input, analyseShort, wantFft);
  dsp::VecMulConst(h.longSpectrum[h.longBufferIndex], kInvSqrt2048, st.lineEnergy, kFrameLength);
  if (analyseShort)
    dsp::VecMulConst(h.shortSpectrum[h.shortBufferIndex], kInvSqrt256, &st.shortLineEnergy[0][0],
                     kNumShortWindows * kShortLength);
  if (!wantFft) return;
  LongUnpredictability(psy.fftLongOut, psy.analysedLines, h, psy.prediction, w);
  if (analyseShort) ShortUnpredictability(psy.fftShortOut, h, psy.prediction, w);
  MeasureChaos(ctx, w, 1);
}

// Energies, spreading and tonality of a channel's own signal (SNR factors into w).
void ToneAndSpread(const StreamContext& ctx, PsyChannelState& st, PsyWorkArea& w, int analyseShort) {
  const PsyTables& t = ctx.psy.tables;
  PartitionEnergies(t, st, w, analyseShort, true);
  SpreadPartitions(t, st, w, analyseShort, ctx.peakTonality == 0);
  if (ctx.psyOptionB == 1 || ctx.peakTonality == 1)
    PeakTonality(t, w, analyseShort, ctx.peakTonality == 1);
}

void RunBlockSwitch(const StreamContext& ctx, PsyChannelState& st, PsyWorkArea& w) {
  const PsyModelState& psy = ctx.psy;
  if (ctx.psyOptionA == 0)
    PerformAwsA(psy.tables, st, w, psy.attackLineLo, psy.attackLineHi, kAwsDecide, ctx);
  else
    PerformAwsB(psy.tables, st, w, kAwsDecide, ctx);
}

void SetBlockType(StreamContext& ctx, int slot, int blockType) {
  ctx.blockType[slot] = blockType;
  ctx.psy.blockType[slot] = blockType;
}

// Noise substitution only above noiseFlagStartLine, for bands whose peak tonality is low.
void MarkNoiseBands(const StreamContext& ctx, const float* tonalityA, const float* tonalityB,
                    int* noiseA, int* noiseB) {
  const PsyModelState& psy = ctx.psy;
  const PartitionTable& p = psy.tables.longPart;
  for (int b = 0; b < kMaxLongBands; ++b) {
    int flag = 0;
    if (b < p.numPartitions && ctx.psyOptionB == 1 && p.start[b] >= psy.noiseFlagStartLine)
      flag = tonalityA[b] < ctx.noiseFlagLevel && (!tonalityB || tonalityB[b] < ctx.noiseFlagLevel);
    noiseA[b] = flag;
    if (noiseB) noiseB[b] = flag;
  }
}

void FillResults(const PsyTables& t, const PsyChannelState& st, const int* msLong,
                 const int (*msShort)[kMaxShortBands], PsyLongResult& lr, PsyShortResult& sr) {
  const enc::CbAdaptRow& row = *t.row;
  std::copy(std::begin(st.ratio), std::end(st.ratio), lr.ratio);
  lr.pe = st.longPe;
  lr.bandWidth = row.longWidth;
  for (int b = 0; b < kMaxLongBands; ++b) {
    lr.msUsed[b] = msLong ? msLong[b] : 0;
    lr.noiseBand[b] = st.noiseBand[b];
    lr.intensity[b] = 0;
  }
  lr.numBands = row.numLong;
  for (int win = 0; win < kNumShortWindows; ++win) {
    PsyShortWindowResult& r = sr.window[win];
    std::copy(std::begin(st.shortRatio[win]), std::end(st.shortRatio[win]), r.ratio);
    r.bandWidth = row.shortWidth;
    for (int b = 0; b < kMaxShortBands; ++b) {
      r.msUsed[b] = msShort ? msShort[win][b] : 0;
      r.intensity[b] = 0;
    }
    r.numBands = row.numShort;
    // The frame-level fields belong to window 0; the others carry copies.
    r.pe = st.shortPe;
    r.groupClassMinus1 = st.groupClassMinus1;
    r.numGroups = st.numGroups;
    std::copy(std::begin(st.groupLength), std::end(st.groupLength), r.groupLength);
  }
}

}  // namespace

namespace {

// Block decision and the attack flag of the time-domain detector (timeDomainAttack 1).
int DetectorDecision(StreamContext& ctx, const int* channels, int count, const float* const* input) {
  int attack = 0;
  for (int i = 0; i < count; ++i)  // every channel runs, to keep its filter history
    attack |= DetectAttackSimple(ctx, channels[i], input[channels[i]]);
  return ctx.forceLong == 1 ? 0 : attack;
}

void AnalyseSingle(StreamContext& ctx, int c, const float* const* input, PsyLongResult& lr,
                   PsyShortResult& sr) {
  PsyModelState& psy = ctx.psy;
  const PsyTables& t = psy.tables;
  PsyChannelState& st = psy.channel[c];
  PsyWorkArea& w = psy.work[0];
  ctx.channelInfo[c].analysed = 1;
  int analyseShort = 1;
  int blockType = kLongBlock;
  if (ctx.timeDomainAttack == 1) {
    const int attack = DetectorDecision(ctx, &c, 1, input);
    w.attackFlag = attack ? 1.0f : 0.0f;
    analyseShort = attack;
  }
  ctx.analyseShort = analyseShort;
  ComputeSpectra(ctx, c, st, w, input[c], analyseShort);
  ToneAndSpread(ctx, st, w, analyseShort);
  FormThresholds(t, st, w, analyseShort);
  if (ctx.timeDomainAttack == 0) {
    if (analyseShort) ShortPreEcho(t, st);
    RunBlockSwitch(ctx, st, w);
  }
  if (ctx.forceLong == 1) w.attackFlag = 0.0f;
  blockType = w.attackFlag == 1.0f ? kShortBlock : kLongBlock;
  SetBlockType(ctx, c, blockType);

  GroupingMeasure(t, st, w);
  SetGrouping(st, ChooseGroupClass(st.change[0], st.change[1], st.change[2]));
  BandRatiosLong(t, ctx, st, w);
  if (analyseShort) BandRatiosShort(t, ctx, st, w);
  if (ctx.psyOptionB == 1) std::copy(std::begin(w.peakTonality), std::end(w.peakTonality), st.bandPeakTonality);
  MarkNoiseBands(ctx, st.bandPeakTonality, nullptr, st.noiseBand, nullptr);
  st.longPe = LongBlockPe(t.longPart, w.bandEnergy, w.bandThreshold);
  // Without a short analysis this frame the long figure is the best estimate of the block.
  st.shortPe = analyseShort ? ShortBlockPe(t.shortPart, w) : st.longPe;
  FillResults(t, st, nullptr, nullptr, lr, sr);
}

// Mid and side spectra of a pair from the scaled left and right lines.
void MidSideSpectra(const PsyChannelState& l, const PsyChannelState& r, PsyChannelState& m,
                    PsyChannelState& s, int analyseShort) {
  dsp::VecAdd(l.lineEnergy, r.lineEnergy, m.lineEnergy, kFrameLength);
  dsp::VecMulConstInPlace(0.5f, m.lineEnergy, kFrameLength);
  dsp::VecSub(r.lineEnergy, l.lineEnergy, s.lineEnergy, kFrameLength);  // L - R
  dsp::VecMulConstInPlace(0.5f, s.lineEnergy, kFrameLength);
  if (!analyseShort) return;
  constexpr int n = kNumShortWindows * kShortLength;
  dsp::VecAdd(&l.shortLineEnergy[0][0], &r.shortLineEnergy[0][0], &m.shortLineEnergy[0][0], n);
  dsp::VecMulConstInPlace(0.5f, &m.shortLineEnergy[0][0], n);
  dsp::VecSub(&r.shortLineEnergy[0][0], &l.shortLineEnergy[0][0], &s.shortLineEnergy[0][0], n);
  dsp::VecMulConstInPlace(0.5f, &s.shortLineEnergy[0][0], n);
}

// Long entropy of a pair's channel on the signal that will be coded: mid (or side) where the
// band is mid/side, left (or right) elsewhere; bands above the bandwidth count nothing.
float PairLongPe(const StreamContext& ctx, const PsyWorkArea& own, const PsyWorkArea& ms,
                 const int* msFlags) {
  const PartitionTable& p = ctx.psy.tables.longPart;
  const int limit = static_cast<int>(static_cast<float>(ctx.bandwidth) / static_cast<float>(ctx.sampleRate) * 2048.0f);
  float energy[kMaxLongBands], threshold[kMaxLongBands];
  for (int b = 0; b < p.numPartitions; ++b) {
    const PsyWorkArea& src = msFlags[b] ? ms : own;
    const bool inBand = p.start[b] <= limit;
    energy[b] = inBand ? src.bandEnergy[b] : 0.0f;
    threshold[b] = inBand ? src.bandThreshold[b] : 0.0f;
  }
  return LongBlockPe(p, energy, threshold);
}

float PairShortPe(const StreamContext& ctx, const PsyWorkArea& own, const PsyWorkArea& ms,
                  const PsyChannelState& left) {
  const PartitionTable& p = ctx.psy.tables.shortPart;
  const int limit = static_cast<int>(static_cast<float>(ctx.bandwidth) / static_cast<float>(ctx.sampleRate) * 256.0f);
  float pe = 0.0f;
  for (int win = 0; win < kNumShortWindows; ++win) {
    for (int b = 0; b < p.numPartitions && p.start[b] <= limit; ++b) {
      const PsyWorkArea& src = left.msShort[win][b] ? ms : own;
      const float e = src.shortBandEnergy[win][b], th = src.shortBandThreshold[win][b];
      if (th > 0.0f && th < e) pe += static_cast<float>(p.width[b]) * FastLog(e / th);
    }
  }
  return pe;
}

// The four signals of a pair: L, R and the mid and side partners, with their work areas.
struct PairSignals {
  int slot[4];
  PsyChannelState* st[4];
  PsyWorkArea* w;
};

PairSignals MakePairSignals(PsyModelState& psy, int l, int r) {
  PairSignals p;
  const int slots[4] = {l, r, l + kMsSlotOffset, r + kMsSlotOffset};
  for (int i = 0; i < 4; ++i) {
    p.slot[i] = slots[i];
    p.st[i] = &psy.channel[slots[i]];
  }
  p.w = psy.work;
  return p;
}

// Spectra of L and R, mid and side, and the raw thresholds of all four after the stereo
// masking adjustment.
void PairThresholds(StreamContext& ctx, const PairSignals& p, const float* const* input,
                    int analyseShort) {
  const PsyTables& t = ctx.psy.tables;
  PsyChannelState* const* st = p.st;
  ComputeSpectra(ctx, p.slot[0], *st[0], p.w[0], input[p.slot[0]], analyseShort);
  ComputeSpectra(ctx, p.slot[1], *st[1], p.w[1], input[p.slot[1]], analyseShort);
  MidSideSpectra(*st[0], *st[1], *st[2], *st[3], analyseShort);
  ToneAndSpread(ctx, *st[0], p.w[0], analyseShort);
  ToneAndSpread(ctx, *st[1], p.w[1], analyseShort);
  for (int i = 2; i < 4; ++i) {
    PartitionEnergies(t, *st[i], p.w[i], analyseShort, false);
    SpreadPartitions(t, *st[i], p.w[i], analyseShort, false);
  }
  // Mid takes the left channel's SNR factors, side the right channel's.
  for (int i = 0; i < 4; ++i) FormThresholds(t, *st[i], p.w[i % 2], analyseShort);
  StereoMaskingAdjust(t, st, analyseShort);
}

// One block type and one window grouping for the whole pair.
void PairDecisions(StreamContext& ctx, const PairSignals& p, int analyseShort) {
  const PsyTables& t = ctx.psy.tables;
  PsyChannelState* const* st = p.st;
  if (ctx.timeDomainAttack == 0) {
    if (analyseShort)
      for (int i = 0; i < 4; ++i) ShortPreEcho(t, *st[i]);
    RunBlockSwitch(ctx, *st[0], p.w[0]);
    RunBlockSwitch(ctx, *st[1], p.w[1]);
    if (ctx.forceLong == 1) p.w[0].attackFlag = p.w[1].attackFlag = 0.0f;
  }
  const bool attack = p.w[0].attackFlag == 1.0f || p.w[1].attackFlag == 1.0f;
  for (int slot : p.slot) SetBlockType(ctx, slot, attack ? kShortBlock : kLongBlock);

  GroupingMeasure(t, *st[0], p.w[0]);
  GroupingMeasure(t, *st[1], p.w[1]);
  const int groupClass = ChooseGroupClass(std::max(st[0]->change[0], st[1]->change[0]),
                                          std::max(st[0]->change[1], st[1]->change[1]),
                                          std::max(st[0]->change[2], st[1]->change[2]));
  for (int i = 0; i < 4; ++i) SetGrouping(*st[i], groupClass);
}

// Ratios, mid/side flags, noise-substitution marks and entropies of the pair.
void PairRatios(StreamContext& ctx, const PairSignals& p, int analyseShort) {
  const PsyTables& t = ctx.psy.tables;
  PsyChannelState* const* st = p.st;
  for (int i = 0; i < 4; ++i) {
    BandRatiosLong(t, ctx, *st[i], p.w[i]);
    if (analyseShort) BandRatiosShort(t, ctx, *st[i], p.w[i]);
  }
  MsDecision(t, p.w, *st[0], MsDecisionLevel(ctx.psyWeight), analyseShort);

  if (ctx.psyOptionB == 1)
    for (int i = 0; i < 2; ++i)
      std::copy(std::begin(p.w[i].peakTonality), std::end(p.w[i].peakTonality), st[i]->bandPeakTonality);
  MarkNoiseBands(ctx, st[0]->bandPeakTonality, st[1]->bandPeakTonality, st[0]->noiseBand,
                 st[1]->noiseBand);
  std::fill(std::begin(st[2]->noiseBand), std::end(st[2]->noiseBand), 0);
  std::fill(std::begin(st[3]->noiseBand), std::end(st[3]->noiseBand), 0);

  for (int i = 0; i < 2; ++i) {
    st[i]->longPe = PairLongPe(ctx, p.w[i], p.w[i + 2], st[0]->msLong);
    st[i]->shortPe = analyseShort ? PairShortPe(ctx, p.w[i], p.w[i + 2], *st[0]) : st[i]->longPe;
  }
  for (int i = 2; i < 4; ++i) {
    st[i]->longPe = LongBlockPe(t.longPart, p.w[i].bandEnergy, p.w[i].bandThreshold);
    st[i]->shortPe = analyseShort ? ShortBlockPe(t.shortPart, p.w[i]) : st[i]->longPe;
  }
}

void AnalysePair(StreamContext& ctx, int l, int r, const float* const* input, PsyLongResult* lo,
                 PsyShortResult* so) {
  PsyModelState& psy = ctx.psy;
  const PairSignals p = MakePairSignals(psy, l, r);
  ctx.channelInfo[l].analysed = 1;
  ctx.channelInfo[r].analysed = 1;
  int analyseShort = 1;
  if (ctx.timeDomainAttack == 1) {
    const int channels[2] = {l, r};
    const int attack = DetectorDecision(ctx, channels, 2, input);
    p.w[0].attackFlag = p.w[1].attackFlag = attack ? 1.0f : 0.0f;
    analyseShort = attack;
  }
  ctx.analyseShort = analyseShort;
  PairThresholds(ctx, p, input, analyseShort);
  PairDecisions(ctx, p, analyseShort);
  PairRatios(ctx, p, analyseShort);
  // The mid/side flags travel in the second channel's results.
  const PsyChannelState& left = *p.st[0];
  for (int i = 0; i < 4; ++i) {
    const bool second = i == 1;
    FillResults(psy.tables, *p.st[i], second ? left.msLong : nullptr, second ? left.msShort : nullptr,
                lo[p.slot[i]], so[p.slot[i]]);
  }
}

// LFE: fixed ratios and a long block, no analysis.  The model still transforms the channel, so
// that its previous spectrum is available for reuse like every other channel's.
void AnalyseLfe(StreamContext& ctx, int c, const float* const* input, PsyLongResult& lr,
                PsyShortResult& sr) {
  PsyModelState& psy = ctx.psy;
  PsyChannelState& st = psy.channel[c];
  ctx.channelInfo[c].analysed = 1;
  PsyTransform(psy, c, input[c], 0, false);
  for (int b = 0; b < kMaxLongBands; ++b) st.ratio[b] = b < kLfeLowBands ? kLfeLowRatio : 1.0f;
  std::fill(std::begin(st.noiseBand), std::end(st.noiseBand), 0);
  st.longPe = 0.0f;
  st.shortPe = 0.0f;
  SetBlockType(ctx, c, kLongBlock);
  FillResults(psy.tables, st, nullptr, nullptr, lr, sr);
}

}  // namespace

int PsyModelAllocate(StreamContext& ctx) {
  PsyModelState& psy = ctx.psy;
  if (psy.allocated) return 0;
  bool ok = dsp::FftRealSpecCreate(&psy.fftLong, 11, dsp::kFftNoDiv, 0) == dsp::kStsOk &&
            dsp::FftRealSpecCreate(&psy.fftShort, 8, dsp::kFftNoDiv, 0) == dsp::kStsOk &&
            enc::FilterbankInit(psy.mdct) == 0;
  for (int ch = 0; ok && ch < kMaxChannels; ++ch)
    ok = dsp::FirStateCreate(&psy.attackFir[ch], kAttackFilterTaps, kAttackTaps, nullptr) == dsp::kStsOk;
  if (!ok) {
    ReleasePsyModel(ctx);
    return 1;
  }
  psy.allocated = 1;
  return 0;
}

void ReleasePsyModel(StreamContext& ctx) {
  PsyModelState& psy = ctx.psy;
  if (psy.fftLong) dsp::FftRealSpecFree(psy.fftLong);
  if (psy.fftShort) dsp::FftRealSpecFree(psy.fftShort);
  psy.fftLong = nullptr;
  psy.fftShort = nullptr;
  enc::FilterbankRelease(psy.mdct);
  for (dsp::FirState*& fir : psy.attackFir) {
    if (fir) dsp::FirStateFree(fir);
    fir = nullptr;
  }
  psy.allocated = 0;
}

void AnalyseFrame(StreamContext& ctx, const float* const* input, PsyLongResult* longOut,
                  PsyShortResult* shortOut, int bitsAboveMean, int meanBits) {
  // The budget figures reach the model's interface but no decision of the model uses them.
  (void)bitsAboveMean;
  (void)meanBits;
  PsyModelState& psy = ctx.psy;
  if (!psy.psyInitDone) InitModel(ctx);
  if (!psy.allocated && PsyModelAllocate(ctx) != 0)
    api::ReportError(-1, "AnalyseFrame(): out of memory for the psychoacoustic model (%s, %d)",
                     __FILE__, __LINE__);
  for (enc::ChannelInfo& info : ctx.channelInfo) info.analysed = 0;
  for (PsyChannelHistory& h : psy.history) {
    h.longBufferIndex ^= 1;
    h.shortBufferIndex ^= 1;
  }
  const int channels = std::min(ctx.numChannels, kMaxChannels);
  for (int c = 0; c < channels; ++c) {
    const enc::ChannelInfo& info = ctx.channelInfo[c];
    if (!info.present || info.analysed) continue;
    const int partner = info.pairedChannel;
    if (info.isLfe) {
      AnalyseLfe(ctx, c, input, longOut[c], shortOut[c]);
    } else if (info.isPair && info.isFirstOfPair && partner > c && partner < channels) {
      AnalysePair(ctx, c, partner, input, longOut, shortOut);
    } else {
      AnalyseSingle(ctx, c, input, longOut[c], shortOut[c]);
    }
  }
}

const float* PsyPreviousLongSpectrum(const StreamContext& ctx, int ch) {
  const PsyChannelHistory& h = ctx.psy.history[ch];
  return h.longSpectrum[h.longBufferIndex ^ 1];
}

const float* PsyPreviousShortSpectrum(const StreamContext& ctx, int ch) {
  const PsyChannelHistory& h = ctx.psy.history[ch];
  return h.shortSpectrum[h.shortBufferIndex ^ 1];
}

}  // namespace aacs::psych
