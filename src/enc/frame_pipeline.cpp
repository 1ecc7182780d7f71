// enc/frame_pipeline.cpp — the fixed order of stages of one frame.
//
// The encoder runs one frame behind its input: the model analyses newFrame while the filterbank
// transforms olderFrame + previousFrame, and each frame is coded with the model results written
// when it was the newest frame (two result copies alternate).
#include "enc/frame_pipeline.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "api/report.h"
#include "api/stream_context.h"
#include "dsp/primitives.h"
#include "enc/band_tables.h"
#include "enc/decoder_mirror.h"
#include "enc/filterbank.h"
#include "enc/ltp.h"
#include "enc/prediction.h"
#include "enc/syntax.h"
#include "enc/tns.h"
#include "psych/ath.h"
#include "psych/block_switch.h"
#include "psych/psy_model.h"
#include "psych/stereo.h"
#include "quant/bit_budget.h"
#include "quant/rate_loop.h"

namespace aacs::enc {
namespace {

using quant::ChannelCodingRecord;

constexpr int kLfeBands = 10;  // an LFE channel keeps the lines of its first ten bands

float* PreviousFrame(StreamContext& ctx, int c) { return ctx.channelWindow[c]; }
float* NewFrame(StreamContext& ctx, int c) { return ctx.channelWindow[c] + kFrameLength; }

// Level-dependent scaling of the absolute-threshold floor in variable-rate mode.  The peak
// carries over from channel to channel on purpose.
void DerivePeakGains(StreamContext& ctx) {
  float peak = 0.0f;
  for (int c = 0; c < ctx.numChannels; ++c) {
    float m = 0.0f;
    dsp::VecMaxAbs(PreviousFrame(ctx, c), kFrameLength, &m);
    peak = std::max(peak, m);
    const float r = peak * (1.0f / 32768.0f);
    ctx.peakGain[c] = r > 0.5f ? 1.0f : (r > 0.3f ? 0.955f : 0.93f);
  }
}

// Long-term prediction matches its estimate against the block this call transforms:
// olderFrame (zeros for a channel's first transform) followed by previousFrame.
void KeepCodedBlock(StreamContext& ctx, int c) {
  if (ctx.fbFirstCall[c])
    dsp::VecZero(ctx.ltpHistory[c], kFrameLength);
  else
    dsp::VecCopy(ctx.olderFrame[c], ctx.ltpHistory[c], kFrameLength);
  dsp::VecCopy(PreviousFrame(ctx, c), ctx.ltpHistory[c] + kFrameLength, kFrameLength);
}

void PrepareChannels(StreamContext& ctx) {
  for (int c = 0; c < ctx.numChannels; ++c) {
    ctx.peakGain[c] = 1.0f;
    if (ctx.ltpEnabled) KeepCodedBlock(ctx, c);
  }
  if (ctx.vbrMode) DerivePeakGains(ctx);
}

// Analysis of every channel's newest frame into the fresh result copy.
void RunModel(StreamContext& ctx) {
  const float* inputs[kMaxChannels];
  for (int c = 0; c < ctx.numChannels; ++c) inputs[c] = NewFrame(ctx, c);
  const int fresh = 1 - ctx.psyResultToggle;
  psych::AnalyseFrame(ctx, inputs, ctx.psyLong[fresh], ctx.psyShort[fresh],
                      std::max(ctx.reservoirBits - ctx.meanFrameBits, 0), ctx.meanFrameBits);
  for (int c = 0; c < ctx.numChannels; ++c) {
    if (ctx.forceBlockType[c] == 1) ctx.blockType[c] = kLongBlock;
    if (ctx.forceBlockType[c] == 2) ctx.blockType[c] = kShortBlock;
  }
}

// The frame being coded uses the copy written when it was the newest frame.
void TakeBudgetEntropies(StreamContext& ctx) {
  for (int c = 0; c < ctx.numChannels; ++c) {
    ctx.budgetPeLong[c] = ctx.psyLong[ctx.psyResultToggle][c].pe;
    ctx.budgetPeShort[c] = ctx.psyShort[ctx.psyResultToggle][c].window[0].pe;
  }
}

// Window shapes, band layout and grouping of the coded block.
void SetBlockLayout(StreamContext& ctx, int c) {
  ChannelCodingRecord& rec = ctx.coding[c];
  const int sfi = ctx.sampleRateIndex;
  ctx.prevWindowShape[c] = ctx.windowShape[c];
  ctx.windowShape[c] = ctx.channelInfo[c].isLfe ? kSineWindow : kKbdWindow;
  rec.windowSequence = ctx.windowSequence[c];
  rec.windowShape = ctx.windowShape[c];
  rec.prevWindowShape = ctx.prevWindowShape[c];
  if (rec.windowSequence != kEightShort) {
    rec.numSwb = kNumSwbLong[sfi];
    std::memcpy(rec.swbOffset, kSwbOffsetLong[sfi], sizeof(int) * (rec.numSwb + 1));
    rec.numWindowGroups = 1;
    std::memset(rec.groupLength, 0, sizeof(rec.groupLength));
    rec.groupLength[0] = 1;
    return;
  }
  rec.numSwb = kNumSwbShort[sfi];
  std::memcpy(rec.swbOffset, kSwbOffsetShort[sfi], sizeof(int) * (rec.numSwb + 1));
  const psych::PsyShortWindowResult& r0 = ctx.psyShort[ctx.psyResultToggle][c].window[0];
  rec.numWindowGroups = r0.numGroups;
  std::memcpy(rec.groupLength, r0.groupLength, sizeof(rec.groupLength));
  int windows = 0;
  for (int g = 0; g < rec.numWindowGroups; ++g) windows += rec.groupLength[g];
  if (rec.numWindowGroups < 1 || windows != kNumShortWindows) {
    // No valid grouping from the model (it never analysed this block short): one window a group.
    rec.numWindowGroups = kNumShortWindows;
    for (int g = 0; g < kNumShortWindows; ++g) rec.groupLength[g] = 1;
  }
}

// Keeps lines below the bandwidth of every window, zeroes the rest.
void LimitBandwidth(StreamContext& ctx, int c) {
  const bool isShort = ctx.windowSequence[c] == kEightShort;
  const int length = isShort ? kShortLength : kFrameLength;
  const int keep = std::min(length, ctx.bandwidth * length / (ctx.sampleRate / 2) + 1);
  for (int w = 0; w < (isShort ? kNumShortWindows : 1); ++w)
    std::fill(ctx.spectrum[c] + w * length + keep, ctx.spectrum[c] + (w + 1) * length, 0.0f);
}

void Transform(StreamContext& ctx, int c) {
  const int seq = ctx.windowSequence[c];
  const bool reuse = ctx.pipelineFrameCount > 4 && !ctx.channelInfo[c].isLfe;
  const float* modelSpectrum = nullptr;
  if (reuse && seq == kOnlyLong) modelSpectrum = psych::PsyPreviousLongSpectrum(ctx, c);
  if (reuse && seq == kEightShort) modelSpectrum = psych::PsyPreviousShortSpectrum(ctx, c);
  if (modelSpectrum != nullptr) {
    // The model transformed the same block with KBD halves on both sides in its previous call.
    dsp::VecCopy(modelSpectrum, ctx.spectrum[c], kFrameLength);
    dsp::VecCopy(PreviousFrame(ctx, c), ctx.olderFrame[c], kFrameLength);
    ctx.fbFirstCall[c] = 0;
  } else {
    AnalysisFilterbank(PreviousFrame(ctx, c), ctx.spectrum[c], ctx.olderFrame[c], &ctx.fbFirstCall[c], seq,
                       ctx.windowShape[c], ctx.prevWindowShape[c], 0, ctx.filterbank);
  }
  if (ctx.pipelineOptionA == 1) LimitBandwidth(ctx, c);
}

// An LFE channel carries only its first ten bands; zeroing them before max_sfb is derived keeps
// its element small.
void ZeroLfeHighBands(StreamContext& ctx) {
  for (int c = 0; c < ctx.numChannels; ++c) {
    if (!ctx.channelInfo[c].isLfe) continue;
    const ChannelCodingRecord& rec = ctx.coding[c];
    std::fill(ctx.spectrum[c] + rec.swbOffset[std::min(kLfeBands, rec.numSwb)], ctx.spectrum[c] + kFrameLength, 0.0f);
  }
}

int LastNonzeroLine(const StreamContext& ctx, int c) {
  const float* x = ctx.spectrum[c];
  if (ctx.windowSequence[c] != kEightShort) {
    for (int i = kFrameLength - 1; i > 0; --i)
      if (x[i] != 0.0f) return i;
    return 0;
  }
  int last = 0;
  for (int w = 0; w < kNumShortWindows; ++w)
    for (int i = kShortLength - 1; i > last; --i)
      if (x[w * kShortLength + i] != 0.0f) {
        last = i;
        break;
      }
  return last;
}

// max_sfb from the highest nonzero line (the larger of a pair's two), at least 3.
void SetMaxSfb(StreamContext& ctx) {
  for (int c = 0; c < ctx.numChannels; ++c) ctx.lastNonzeroLine[c] = LastNonzeroLine(ctx, c);
  for (int c = 0; c < ctx.numChannels; ++c) {
    const ChannelInfo& info = ctx.channelInfo[c];
    int last = ctx.lastNonzeroLine[c];
    if (info.isPair) last = std::max(last, ctx.lastNonzeroLine[info.pairedChannel]);
    ChannelCodingRecord& rec = ctx.coding[c];
    int k = 0;
    for (int b = 0; b < rec.numSwb; ++b)
      if (rec.swbOffset[b] <= last) ++k;
    rec.maxSfb = std::max(std::min(rec.numSwb, k), 3);
    rec.totalBands = rec.maxSfb * rec.numWindowGroups;
  }
}

void CopyNoiseMarks(StreamContext& ctx, int c) {
  ChannelCodingRecord& rec = ctx.coding[c];
  const psych::PsyLongResult& r = ctx.psyLong[ctx.psyResultToggle][c];
  const bool isLong = rec.windowSequence != kEightShort && !ctx.channelInfo[c].isLfe;
  for (int b = 0; b < kMaxCodedBands; ++b) rec.psyNoiseBand[b] = (isLong && b < kMaxLongBands) ? r.noiseBand[b] : 0;
  // A pair codes a noise band left/right in both channels (see the stereo decision).
}

void RunTns(StreamContext& ctx) {
  const int cap = std::min(((ctx.meanFrameBits - ctx.reservedBits) / ctx.numChannels) / 20, 80);
  for (int c = 0; c < ctx.numChannels; ++c) {
    if (ctx.channelInfo[c].isLfe) {
      ctx.tns[c].present = 0;
      continue;
    }
    ChannelCodingRecord& rec = ctx.coding[c];
    if (TNS_Encode_Frame(rec.numSwb, rec.maxSfb, rec.windowSequence, rec.swbOffset, ctx.spectrum[c], ctx.tns[c],
                         ctx.tnsEnabled, cap) != 0)
      api::ReportError(-1, "Encoding failure - TNS_Encode_Frame()\n%s, %d", __FILE__, __LINE__);
  }
}

// Main: backward-adaptive prediction; LTP: long-term prediction; LC: neither.
void Predict(StreamContext& ctx) {
  if (ctx.profile == kProfileMain) {
    PredictFrame(ctx);
  } else if (ctx.profile == kProfileLtp) {
    PredictLtpFrame(ctx);
  } else {
    for (int c = 0; c < ctx.numChannels; ++c) {
      ctx.coding[c].predictionUsed = 0;
      ctx.ltp[c].present = 0;
    }
  }
}

// The decoder's view of the frame: the predictors learn from the full reconstruction, and the
// long-term state (or the test hook) from its synthesis.
void UpdatePredictionState(StreamContext& ctx) {
  if (ctx.profile == kProfileMain) {
    UpdatePredictors(ctx);
    if (ctx.reconSink)
      for (int c = 0; c < ctx.numChannels; ++c)
        if (ctx.channelInfo[c].present) SynthesiseChannel(ctx, c);
  } else if (ctx.profile == kProfileLtp) {
    UpdateLtp(ctx);
  }
}

int CodeChannels(StreamContext& ctx) {
  quant::FrameBudget budget;
  quant::ComputeFrameBudget(ctx, CountFixedSideBits(ctx), budget);
  for (int c = 0; c < ctx.numChannels; ++c) {
    quant::ApplyChannelCeilings(ctx, budget, c);
    if (quant::ChannelRateLoop(ctx, c, ctx.spectrum[c], ctx.bandEnergy[c], ctx.bandThreshold[c], budget.budget[c],
                               budget.lendable, budget.reservoirMax) != 0)
      return 1;
  }
  return 0;
}

// Priming call: the first frame is analysed (so the first coded frame has its own analysis and
// the model starts warm) but nothing is coded; the first transform of every channel starts from
// zeros.
void Prime(StreamContext& ctx) {
  ctx.pipelineFrameCount = 1;
  RunModel(ctx);
  for (int c = 0; c < ctx.numChannels; ++c) dsp::VecCopy(NewFrame(ctx, c), ctx.olderFrame[c], kFrameLength);
}

}  // namespace

int RunFramePipeline(StreamContext& ctx, BitWriter* writer) {
  ctx.psyResultToggle = 1 - ctx.psyResultToggle;
  BuildChannelMap(ctx.channelInfo, ctx.numChannels, ctx.lastChannelIsLfe);
  PrepareChannels(ctx);
  if (writer == nullptr) {
    Prime(ctx);
    return 0;
  }
  ctx.pipelineFrameCount += 1;
  RunModel(ctx);
  TakeBudgetEntropies(ctx);
  psych::UpdateWindowSequence(ctx);
  for (int c = 0; c < ctx.numChannels; ++c) SetBlockLayout(ctx, c);
  ctx.reservedBits = ctx.numChannels;
  for (int c = 0; c < ctx.numChannels; ++c) Transform(ctx, c);
  ZeroLfeHighBands(ctx);
  SetMaxSfb(ctx);
  if (!ctx.athTablesReady) {
    psych::BuildAthTables(ctx);
    ctx.athTablesReady = 1;
  }
  for (int c = 0; c < ctx.numChannels; ++c) CopyNoiseMarks(ctx, c);
  psych::StereoDecision(ctx);
  psych::BandEnergies(ctx);
  RunTns(ctx);
  Predict(ctx);
  if (ctx.stereoMode >= 0) psych::ApplyMidSide(ctx);
  if (CodeChannels(ctx) != 0) return 1;
  if (ctx.stereoMode >= 0) psych::RestoreLeftRight(ctx);
  UpdatePredictionState(ctx);
  WriteFrame(ctx, writer);
  return 0;
}

}  // namespace aacs::enc
