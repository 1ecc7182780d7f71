// enc/ltp.cpp — long-term prediction: lag search against the decoder's state, gain, the
// estimate's spectrum as the decoder forms it, band selection, and the state update.
#include "enc/ltp.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "api/stream_context.h"
#include "dsp/primitives.h"
#include "enc/decoder_mirror.h"
#include "enc/filterbank.h"
#include "enc/prediction.h"
#include "enc/tns.h"

namespace aacs::enc {

const float kLtpGains[8] = {0.570829f, 0.696616f, 0.813004f, 0.911304f,
                            0.984900f, 1.067894f, 1.194601f, 1.369533f};

namespace {

constexpr int kMaxLag = 2 * kFrameLength - 1;  // 11 bits
constexpr int kBlockLength = 2 * kFrameLength;
constexpr int kSideBitsOn = 15;  // ltp_data_present, lag, coefficient; plus one flag per band
constexpr int kCandidates = 6;   // lags re-evaluated directly after the FFT search

// Samples of the estimate taken from the history: the rest lies beyond the state.
int EstimateLength(int lag) { return lag < kFrameLength ? lag + kFrameLength : kBlockLength; }

// sum of history[j]^2 over the samples the estimate of `lag` takes.
double SegmentEnergy(const LtpSearchState& s, int lag) {
  const int start = kBlockLength - lag;
  return s.energyPrefix[start + EstimateLength(lag)] - s.energyPrefix[start];
}

void DirectMatch(const float* block, const float* history, int lag, float& corr, float& energy) {
  const float* x = history + kBlockLength - lag;
  const int n = EstimateLength(lag);
  dsp::VecDotProduct(block, x, n, &corr);
  dsp::VecDotProduct(x, x, n, &energy);
}

int NearestGain(float g) {
  int best = 0;
  for (int i = 1; i < 8; ++i)
    if (std::fabs(g - kLtpGains[i]) < std::fabs(g - kLtpGains[best])) best = i;
  return best;
}

void ClearRecord(LtpRecord& lr) {
  lr.present = 0;
  lr.sideBits = 1;
  std::memset(lr.bandUsed, 0, sizeof(lr.bandUsed));
}

// Keeps the predicted lines of the bands where they save bits and returns the estimated
// saving; the other lines of the estimate are zeroed.
float SelectBands(const StreamContext& ctx, int c, LtpRecord& lr, int bands) {
  const quant::ChannelCodingRecord& rec = ctx.coding[c];
  float saving = 0.0f;
  for (int b = 0; b < kMaxCodedBands; ++b) lr.bandUsed[b] = 0;
  for (int b = 0; b < bands; ++b) {
    const int start = rec.swbOffset[b], end = rec.swbOffset[b + 1];
    const float allowed = ctx.bandThreshold[c][b] * ctx.bandEnergy[c][b];
    const float bits = rec.psyNoiseBand[b] ? 0.0f : PredictionSavingBits(ctx.spectrum[c], lr.predSpectrum, start, end, allowed);
    if (bits > 0.0f) {
      lr.bandUsed[b] = 1;
      saving += bits;
    } else {
      std::fill(lr.predSpectrum + start, lr.predSpectrum + end, 0.0f);
    }
  }
  std::fill(lr.predSpectrum + rec.swbOffset[bands], lr.predSpectrum + 2 * kFrameLength, 0.0f);
  return saving;
}

// The decoder's predicted lines for a lag and gain: the estimate windowed and transformed like the block, through the frame's TNS
// analysis filter.  Returns the estimated saving with the bands chosen, or 0.
float TryLag(StreamContext& ctx, int c, int lag, int gainIndex, LtpRecord& lr) {
  const quant::ChannelCodingRecord& rec = ctx.coding[c];
  lr.lag = lag;
  lr.gainIndex = gainIndex;
  alignas(32) float estimate[kBlockLength];
  LtpEstimate(lr.history, lag, lr.gainIndex, estimate);
  AnalysisFilterbank(estimate, lr.predSpectrum, nullptr, nullptr, rec.windowSequence, rec.windowShape,
                     rec.prevWindowShape, 1, ctx.filterbank);
  TnsAnalysisFilter(rec.numSwb, rec.maxSfb, rec.windowSequence, rec.swbOffset, lr.predSpectrum, ctx.tns[c]);
  return SelectBands(ctx, c, lr, std::min(rec.maxSfb, kLtpMaxLongBands));
}

// The candidate lags of the correlation search are tried in full and the one saving the most
// bits is kept; it must pay for its side information.
void AnalyseChannel(StreamContext& ctx, int c) {
  LtpRecord& lr = ctx.ltp[c];
  const quant::ChannelCodingRecord& rec = ctx.coding[c];
  int lags[kCandidates];
  const int count = LtpLagCandidates(ctx.ltpHistory[c], lr.history, ctx.ltpSearch, lags, kCandidates);
  const int bands = std::min(rec.maxSfb, kLtpMaxLongBands);
  float best = static_cast<float>(kSideBitsOn + bands);
  int bestLag = -1, bestGain = 0;
  auto consider = [&](int lag, int gainIndex) {
    const float saving = TryLag(ctx, c, lag, gainIndex, lr);
    if (saving > best) best = saving, bestLag = lag, bestGain = gainIndex;
  };
  // Each candidate at its least-squares gain (the nearest table gain), then the best lag with
  // the neighbouring gains: the band selection can prefer a smaller or larger one.
  for (int i = 0; i < count; ++i) {
    float corr = 0.0f, energy = 0.0f;
    DirectMatch(ctx.ltpHistory[c], lr.history, lags[i], corr, energy);
    if (corr > 0.0f && energy > 0.0f) consider(lags[i], NearestGain(corr / energy));
  }
  if (bestLag < 0) {
    ClearRecord(lr);
    return;
  }
  const int centre = bestGain;
  if (centre > 0) consider(bestLag, centre - 1);
  if (centre < 7) consider(bestLag, centre + 1);
  if (lr.lag != bestLag || lr.gainIndex != bestGain) TryLag(ctx, c, bestLag, bestGain, lr);
  lr.present = 1;
  lr.sideBits = kSideBitsOn + bands;
  dsp::VecSub(lr.predSpectrum, ctx.spectrum[c], ctx.spectrum[c], rec.swbOffset[bands]);  // spectrum - prediction
}

// A second channel with its own ics_info can carry prediction only when the first channel's
// ics_info has predictor data too: some decoders look at the first channel's flag for both.
bool MayPredict(const StreamContext& ctx, int c) {
  const ChannelInfo& info = ctx.channelInfo[c];
  if (!info.present || info.isLfe || ctx.coding[c].windowSequence == kEightShort) return false;
  if (info.isPair && !info.isFirstOfPair && !info.commonWindow)
    return ctx.coding[info.pairedChannel].windowSequence != kEightShort;
  return true;
}

}  // namespace

int LtpSearchInit(LtpSearchState& s) {
  LtpSearchRelease(s);
  if (dsp::FftComplexSpecCreate(&s.fft, kLtpFftOrder, dsp::kFftDivInvByN, 0) != dsp::kStsOk || !s.fft) {
    LtpSearchRelease(s);
    return 1;
  }
  return 0;
}

void LtpSearchRelease(LtpSearchState& s) {
  if (s.fft) dsp::FftComplexSpecFree(s.fft);
  s.fft = nullptr;
}

void LtpInit(LtpRecord& rec) {
  std::memset(rec.history, 0, sizeof(rec.history));
  std::memset(rec.predSpectrum, 0, sizeof(rec.predSpectrum));
  rec.gainIndex = 0;
  rec.lag = 0;
  rec.synthesisShape = kSineWindow;
  ClearRecord(rec);
}

// One complex FFT carries both real sequences (block in the real part, history in the
// imaginary part); their spectra are separated by conjugate symmetry, multiplied, and one
// inverse FFT gives r[m] = sum_i block[i] history[i + m] for m = 0..4095 without wrap-around
// (2047 + 2048 < 4096, and the history is zero beyond 3072).
void LtpCorrelations(const float* block, const float* history, LtpSearchState& s, float* correlation) {
  constexpr int n = kLtpFftLength;
  float* z = s.packed;
  for (int i = 0; i < n; ++i) {
    z[2 * i] = i < kBlockLength ? block[i] : 0.0f;
    z[2 * i + 1] = i < kLtpHistoryLength ? history[i] : 0.0f;
  }
  dsp::FftComplexForward(z, s.transformed, s.fft, s.work);
  const float* t = s.transformed;
  for (int k = 0; k < n; ++k) {
    const int m = (n - k) & (n - 1);
    const float zr = t[2 * k], zi = t[2 * k + 1], cr = t[2 * m], ci = -t[2 * m + 1];
    const float br = 0.5f * (zr + cr), bi = 0.5f * (zi + ci);  // block's spectrum
    const float sr = 0.5f * (zi - ci), si = -0.5f * (zr - cr);  // history's spectrum
    z[2 * k] = br * sr + bi * si;  // conj(B) * S
    z[2 * k + 1] = br * si - bi * sr;
  }
  dsp::FftComplexInverse(z, s.transformed, s.fft, s.work);
  for (int lag = 0; lag <= kMaxLag; ++lag) correlation[lag] = s.transformed[2 * (kBlockLength - lag)];
}

int LtpLagCandidates(const float* block, const float* history, LtpSearchState& s, int* lags, int maxCount) {
  double sum = 0.0;
  s.energyPrefix[0] = 0.0;
  for (int i = 0; i < kLtpHistoryLength; ++i) {
    sum += static_cast<double>(history[i]) * history[i];
    s.energyPrefix[i + 1] = sum;
  }
  if (!(sum > 0.0) || maxCount < 1) return 0;
  alignas(32) float correlation[kMaxLag + 1];
  LtpCorrelations(block, history, s, correlation);
  maxCount = std::min(maxCount, kCandidates);
  double score[kCandidates];
  int count = 0;
  for (int lag = 0; lag <= kMaxLag; ++lag) {
    const double e = SegmentEnergy(s, lag);
    if (!(correlation[lag] > 0.0f) || !(e > 0.0)) continue;
    const double v = correlation[lag] / std::sqrt(e);
    if (count == maxCount && !(v > score[count - 1])) continue;
    int i = count < maxCount ? count++ : count - 1;
    for (; i > 0 && v > score[i - 1]; --i) score[i] = score[i - 1], lags[i] = lags[i - 1];
    score[i] = v;
    lags[i] = lag;
  }
  return count;
}

int LtpLagSearch(const float* block, const float* history, LtpSearchState& s) {
  int lags[kCandidates];
  const int count = LtpLagCandidates(block, history, s, lags, kCandidates);
  // The FFT ranks the lags; the normalised correlation of the best few is computed directly.
  int best = -1;
  double bestScore = 0.0;
  for (int i = 0; i < count; ++i) {
    float corr = 0.0f, energy = 0.0f;
    DirectMatch(block, history, lags[i], corr, energy);
    if (!(corr > 0.0f) || !(energy > 0.0f)) continue;
    const double v = corr / std::sqrt(static_cast<double>(energy));
    if (v > bestScore) bestScore = v, best = lags[i];
  }
  return best;
}

void LtpEstimate(const float* history, int lag, int gainIndex, float* estimate) {
  const int n = EstimateLength(lag);
  const float gain = kLtpGains[std::clamp(gainIndex, 0, 7)];
  for (int i = 0; i < n; ++i) estimate[i] = history[i + kBlockLength - lag] * gain;
  std::fill(estimate + n, estimate + kBlockLength, 0.0f);
}

void PredictLtpFrame(StreamContext& ctx) {
  for (int c = 0; c < ctx.numChannels; ++c) ClearRecord(ctx.ltp[c]);
  if (!ctx.ltpEnabled) return;
  for (int c = 0; c < ctx.numChannels; ++c)
    if (MayPredict(ctx, c)) AnalyseChannel(ctx, c);
}

void UpdateLtp(StreamContext& ctx) {
  for (int c = 0; c < ctx.numChannels; ++c) {
    if (!ctx.channelInfo[c].present) continue;
    const LtpRecord& lr = ctx.ltp[c];
    const quant::ChannelCodingRecord& rec = ctx.coding[c];
    if (lr.present && rec.windowSequence != kEightShort) {
      const int bands = std::min(rec.maxSfb, kLtpMaxLongBands);
      dsp::VecAdd(ctx.reconSpectrum[c], lr.predSpectrum, ctx.reconSpectrum[c], rec.swbOffset[bands]);
    }
    SynthesiseChannel(ctx, c);
  }
}

}  // namespace aacs::enc
