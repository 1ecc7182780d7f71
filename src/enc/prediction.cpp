// enc/prediction.cpp — Main-profile backward-adaptive prediction.
//
// The predictor of each line is the decoder's (ISO/IEC 13818-7, 8.3.2, as FFmpeg and faad
// implement it): alpha = 29/32, a = b = 61/64, states truncated to 16-bit floats after every
// update, the reciprocal a / var rounded to 16 bits, the prediction rounded to 16 bits.  The
// encoder predicts from the same state, subtracts the prediction where a band pays, and updates
// the state with exactly what a decoder reconstructs.
#include "enc/prediction.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "api/stream_context.h"

namespace aacs::enc {
namespace {

constexpr float kAlpha = 0.90625f;     // 29/32: smoothing of correlations and energies
constexpr float kAttenuation = 0.953125f;  // 61/64: a = b of the lattice
constexpr float kMinSavingBits = 50.0f;    // the flags and reset cost about this much
constexpr int kResetCycle = 240;           // 30 groups, one every 8 frames
constexpr int kFramesPerReset = 8;
constexpr int kNumResetGroups = 30;

float Coefficient(float cor, float var) {
  return var > 1.0f ? cor * RoundReciprocalTo16(kAttenuation / var) : 0.0f;
}

bool IsLongChannel(const StreamContext& ctx, int c) {
  const ChannelInfo& info = ctx.channelInfo[c];
  return info.present && !info.isLfe && ctx.coding[c].windowSequence != kEightShort;
}

// Lines below the predictor band limit of the channel's long layout.
int PredictedBands(const StreamContext& ctx, int c) {
  return std::clamp(std::min(ctx.predictorBandLimit, ctx.coding[c].numSwb), 0, kMaxLongBands);
}

// The rate loops' allowed noise of long band b: the model's ratio times the band energy.
float AllowedNoise(const StreamContext& ctx, int c, int b) {
  return ctx.bandThreshold[c][b] * ctx.bandEnergy[c][b];
}

bool BandTrusted(const PredictorState& st, int start, int end) {
  for (int n = start; n < end; ++n)
    if (st.untrusted[n]) return false;
  return true;
}

// A band may be predicted in channel c: no noise substitution, no intensity, and a state every
// decoder shares.
bool BandEligible(const StreamContext& ctx, int c, int b) {
  const quant::ChannelCodingRecord& rec = ctx.coding[c];
  if (rec.psyNoiseBand[b] || ctx.channelInfo[c].intensityFlag[b]) return false;
  return BandTrusted(ctx.predictor[c], rec.swbOffset[b], rec.swbOffset[b + 1]);
}

// Decoders that keep prediction_used flags apply old flags above max_sfb, where nothing is
// sent: prediction data can only go out when none of those is set.
bool FlagsAboveMaxSfbClear(const PredictorState& st, int codedBands, int limit) {
  for (int b = codedBands; b < limit; ++b)
    if (st.decoderFlag[b]) return false;
  return true;
}

// The next reset group of the channel (1..30), or -1 when none is due.
int AdvanceResetCounter(PredictorState& st) {
  st.resetCounter = st.resetCounter % kResetCycle + 1;
  return st.resetCounter % kFramesPerReset == 0 ? st.resetCounter / kFramesPerReset : -1;
}

// Predicts and decides for one ics_info: a single channel or a pair sharing one.
void PredictGroup(StreamContext& ctx, const int* channels, int count) {
  const int lead = channels[0];
  quant::ChannelCodingRecord& leadRec = ctx.coding[lead];
  const int limit = PredictedBands(ctx, lead);
  const int lines = leadRec.swbOffset[limit];
  for (int i = 0; i < count; ++i) {
    PredictorState& st = ctx.predictor[channels[i]];
    for (int n = 0; n < lines; ++n) st.predicted[n] = PredictLine(st, n);
    std::fill(st.predicted + lines, st.predicted + kFrameLength, 0.0f);
  }
  const int codedBands = std::min(limit, leadRec.maxSfb);
  PredictorState& leadState = ctx.predictor[lead];
  if (!FlagsAboveMaxSfbClear(leadState, codedBands, limit)) return;

  int flags[kMaxLongBands] = {};
  float saving = 0.0f;
  bool any = false;
  for (int b = 0; b < codedBands; ++b) {
    const int start = leadRec.swbOffset[b], end = leadRec.swbOffset[b + 1];
    float bits = 0.0f;
    bool eligible = true;
    for (int i = 0; i < count && eligible; ++i) {
      const int c = channels[i];
      eligible = BandEligible(ctx, c, b);
      bits += PredictionSavingBits(ctx.spectrum[c], ctx.predictor[c].predicted, start, end, AllowedNoise(ctx, c, b));
    }
    if (!eligible || !(bits > 0.0f)) continue;
    flags[b] = 1;
    any = true;
    saving += bits;
  }
  if (!(saving >= kMinSavingBits)) {
    std::fill(flags, flags + kMaxLongBands, 0);
    any = false;
  }
  const int group = AdvanceResetCounter(leadState);
  const int used = any || group > 0;
  for (int i = 0; i < count; ++i) {
    const int c = channels[i];
    quant::ChannelCodingRecord& rec = ctx.coding[c];
    rec.predictionUsed = used;
    rec.resetGroup = used ? group : -1;
    for (int b = 0; b < codedBands; ++b) rec.bandPredicted[b] = flags[b];
    ctx.predictor[c].resetCounter = leadState.resetCounter;
    for (int b = 0; b < codedBands; ++b)
      if (flags[b])
        for (int n = rec.swbOffset[b]; n < rec.swbOffset[b + 1]; ++n) ctx.spectrum[c][n] -= ctx.predictor[c].predicted[n];
  }
  if (used)
    for (int b = 0; b < codedBands; ++b) leadState.decoderFlag[b] = static_cast<uint8_t>(flags[b]);
}

void ClearPredictionFields(quant::ChannelCodingRecord& rec) {
  rec.predictionUsed = 0;
  rec.resetGroup = -1;
  std::memset(rec.bandPredicted, 0, sizeof(rec.bandPredicted));
}

void ResetAllLines(PredictorState& st) {
  for (int n = 0; n < kFrameLength; ++n) {
    ResetLine(st, n);
    st.untrusted[n] = 0;
  }
}

void UpdateChannel(StreamContext& ctx, int c) {
  PredictorState& st = ctx.predictor[c];
  const quant::ChannelCodingRecord& rec = ctx.coding[c];
  if (rec.windowSequence == kEightShort) {  // decoders reset every predictor on short blocks
    ResetAllLines(st);
    return;
  }
  float* recon = ctx.reconSpectrum[c];
  const int limit = PredictedBands(ctx, c);
  const int codedBands = std::min(limit, rec.maxSfb);
  for (int b = 0; b < limit; ++b) {
    const bool used = rec.predictionUsed && b < codedBands && rec.bandPredicted[b];
    const bool special = b < rec.maxSfb && rec.codebook[b] >= kNoiseCodebook;
    for (int n = rec.swbOffset[b]; n < rec.swbOffset[b + 1]; ++n) {
      if (used) recon[n] += st.predicted[n];
      UpdateLine(st, n, special ? 0.0f : recon[n]);
    }
  }
  // Noise and intensity lines: decoders feed them differently (random noise, zeros, and some
  // reset them), so they are reset here and not trusted until a reset reaches them everywhere.
  for (int b = 0; b < rec.maxSfb && b < kMaxLongBands; ++b) {
    if (rec.codebook[b] < kNoiseCodebook) continue;
    for (int n = rec.swbOffset[b]; n < rec.swbOffset[b + 1]; ++n) {
      ResetLine(st, n);
      st.untrusted[n] = 1;
    }
  }
  if (rec.predictionUsed && rec.resetGroup >= 1 && rec.resetGroup <= kNumResetGroups) {
    for (int n = rec.resetGroup - 1; n < kFrameLength; n += kNumResetGroups) {
      ResetLine(st, n);
      st.untrusted[n] = 0;
    }
  }
}

}  // namespace

float TruncateTo16(float x) { return std::bit_cast<float>(std::bit_cast<uint32_t>(x) & 0xFFFF0000u); }

float RoundTo16(float x) {
  return std::bit_cast<float>((std::bit_cast<uint32_t>(x) + 0x00008000u) & 0xFFFF0000u);
}

// The decoders' rounding of the reciprocal: nearest, with a tie (low half exactly 0x8000)
// rounded up only when the lowest bit is set.  For every mantissa a 16-bit energy can have,
// 61/64 / var never falls on such a tie, so this is round to nearest.
float RoundReciprocalTo16(float x) {
  const uint32_t bits = std::bit_cast<uint32_t>(x);
  return std::bit_cast<float>((bits + 0x00007FFFu + (bits & 1u)) & 0xFFFF0000u);
}

void ResetLine(PredictorState& st, int n) {
  st.r0[n] = st.r1[n] = 0.0f;
  st.cor1[n] = st.cor2[n] = 0.0f;
  st.var1[n] = st.var2[n] = 1.0f;
}

void PredictorInit(PredictorState& st) {
  ResetAllLines(st);
  std::memset(st.predicted, 0, sizeof(st.predicted));
  std::memset(st.decoderFlag, 0, sizeof(st.decoderFlag));
  st.resetCounter = 0;
}

float PredictLine(const PredictorState& st, int n) {
  const float k1 = Coefficient(st.cor1[n], st.var1[n]);
  const float k2 = Coefficient(st.cor2[n], st.var2[n]);
  return RoundTo16(k1 * st.r0[n] + k2 * st.r1[n]);
}

void UpdateLine(PredictorState& st, int n, float reconstructed) {
  const float r0 = st.r0[n], r1 = st.r1[n];
  const float k1 = Coefficient(st.cor1[n], st.var1[n]);
  const float e0 = reconstructed;
  const float e1 = e0 - k1 * r0;
  st.cor2[n] = TruncateTo16(kAlpha * st.cor2[n] + r1 * e1);
  st.var2[n] = TruncateTo16(kAlpha * st.var2[n] + 0.5f * (r1 * r1 + e1 * e1));
  st.cor1[n] = TruncateTo16(kAlpha * st.cor1[n] + r0 * e0);
  st.var1[n] = TruncateTo16(kAlpha * st.var1[n] + 0.5f * (r0 * r0 + e0 * e0));
  st.r1[n] = TruncateTo16(kAttenuation * (r0 - k1 * e0));
  st.r0[n] = TruncateTo16(kAttenuation * e0);
}

float PredictionSavingBits(const float* x, const float* p, int start, int end, float allowedNoise) {
  float energy = 0.0f, residual = 0.0f;
  for (int n = start; n < end; ++n) {
    energy += x[n] * x[n];
    residual += (x[n] - p[n]) * (x[n] - p[n]);
  }
  const float floor = std::max(allowedNoise, 1e-20f);
  return 0.5f * static_cast<float>(end - start) * std::log2(std::max(energy, floor) / std::max(residual, floor));
}

void PredictFrame(StreamContext& ctx) {
  for (int c = 0; c < ctx.numChannels; ++c) ClearPredictionFields(ctx.coding[c]);
  for (int c = 0; c < ctx.numChannels; ++c) {
    const ChannelInfo& info = ctx.channelInfo[c];
    if (!IsLongChannel(ctx, c)) continue;
    if (info.isPair && info.commonWindow) {
      if (!info.isFirstOfPair) continue;
      const int pair[2] = {c, info.pairedChannel};
      PredictGroup(ctx, pair, 2);
      continue;
    }
    PredictGroup(ctx, &c, 1);
  }
  // A decoder copies the first channel's ics_info, flags included, into the second.
  for (int c = 0; c < ctx.numChannels; ++c) {
    const ChannelInfo& info = ctx.channelInfo[c];
    if (info.present && info.isPair && info.isFirstOfPair && info.commonWindow)
      std::memcpy(ctx.predictor[info.pairedChannel].decoderFlag, ctx.predictor[c].decoderFlag,
                  sizeof(ctx.predictor[c].decoderFlag));
  }
}

void UpdatePredictors(StreamContext& ctx) {
  for (int c = 0; c < ctx.numChannels; ++c) {
    const ChannelInfo& info = ctx.channelInfo[c];
    if (!info.present || info.isLfe) continue;
    UpdateChannel(ctx, c);
  }
}

}  // namespace aacs::enc
