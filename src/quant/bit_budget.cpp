// quant/bit_budget.cpp — per-frame grant from the reservoir, per-channel budgets and the
// ceilings up to which the rate loops may borrow from the reservoir.
#include "quant/bit_budget.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "api/stream_context.h"
#include "quant/rate_control.h"

namespace aacs::quant {
namespace {

constexpr int kMinChannelGrant = 300;
constexpr double kMaxDemandPe = 1.0e6;  // keeps the demand arithmetic inside int range
constexpr int kVbrReservoirBits = 24000;
constexpr int kMaxReservoirFill = 10000000;
// Average rate: a frame may take up to this share of the reservoir's usable bits, and at most
// this many times its mean share on top of it.
constexpr float kLendShare = 0.5f;
constexpr float kMaxLendFactor = 2.0f;
// The frame's grant goes to its channels half in equal parts, half by their demands.
constexpr float kDemandWeight = 0.5f;

// Rounds toward minus infinity to a multiple of 8.
int FloorTo8(int v) { return v >= 0 ? v & ~7 : -((-v + 7) & ~7); }

// Bits a channel asks for: 24 sqrt(PE) + 0.6 PE of the frame's own block type.
int ChannelDemand(const StreamContext& ctx, int ch) {
  const float pe = ctx.windowSequence[ch] == kEightShort ? ctx.budgetPeShort[ch] : ctx.budgetPeLong[ch];
  const double p = std::clamp(static_cast<double>(pe), 0.0, kMaxDemandPe);
  return static_cast<int>(24.0 * std::sqrt(p) + double{0.6000000238418579f} * p);
}

bool HasLfeElement(const StreamContext& ctx) {
  for (int ch = 0; ch < ctx.numChannels && ch < kMaxChannels; ++ch)
    if (ctx.channelInfo[ch].present && ctx.channelInfo[ch].isLfe) return true;
  return false;
}

void ChannelBudgets(const StreamContext& ctx, int share, int usable, FrameBudget& out) {
  const int n = std::clamp(ctx.numChannels, 1, kMaxChannels);
  if (n < 2 || !HasLfeElement(ctx)) {
    for (int ch = 0; ch < n; ++ch) out.budget[ch] = share / n;
    return;
  }
  // With an LFE element the LFE channel gets a small fixed part; the others share the rest.
  const int others = n - 1;
  const int low = std::max(200, static_cast<int>(0.14 * share / others));
  const int lfeBudget = low + static_cast<int>(0.028 * usable / others);
  const int fullBudget =
      (share - low) / others + static_cast<int>(0.2 * usable * (1.0 - 0.14 / others) / others);
  for (int ch = 0; ch < n; ++ch)
    out.budget[ch] = ctx.channelInfo[ch].isLfe ? lfeBudget : fullBudget;
}

// Average rate: the frame may take reservoir bits in proportion to what the reservoir holds (or
// must pay back what it owes); the full channels share that grant half equally, half by their
// demands, and LFE channels keep their budgets.
void AverageRateCeilings(const StreamContext& ctx, int share, int usable, FrameBudget& out) {
  const int n = std::clamp(ctx.numChannels, 1, kMaxChannels);
  const int lend = usable < 0 ? usable
                              : std::min(static_cast<int>(kLendShare * static_cast<float>(usable)),
                                         static_cast<int>(kMaxLendFactor * static_cast<float>(share)));
  int rest = share + lend, demandSum = 0, full = 0;
  int demand[kMaxChannels] = {};
  for (int ch = 0; ch < n; ++ch) {
    if (ctx.channelInfo[ch].isLfe) {
      rest -= out.budget[ch];
      continue;
    }
    demand[ch] = std::max(ChannelDemand(ctx, ch), 1);
    demandSum += demand[ch];
    ++full;
  }
  for (int ch = 0; ch < n; ++ch) {
    int ceiling = out.budget[ch];
    if (!ctx.channelInfo[ch].isLfe) {
      const float byDemand = static_cast<float>(rest) * static_cast<float>(demand[ch]) / static_cast<float>(demandSum);
      const float equal = static_cast<float>(rest) / static_cast<float>(full);
      ceiling = std::max(static_cast<int>(kDemandWeight * byDemand + (1.0f - kDemandWeight) * equal), kMinChannelGrant);
    }
    out.ceilingA[ch] = out.ceilingB[ch] = ceiling;
  }
}

// Quality levels borrow without limit but the decoder's per-channel maximum.
int QualityCapacity(const StreamContext& ctx) { return kMaxChannelFrameBits * std::max(ctx.numChannels, 1); }

int ReservoirCapacity(const StreamContext& ctx) {
  if (ctx.vbrMode != 0) return ctx.reservoirSize;
  return ctx.rateMode == kRateQuality ? QualityCapacity(ctx) : RateReservoirCapacity(ctx);
}

// The frame's share of the target rate: the mean rounded down, the remainder carried so that
// frames add up to the rate exactly.
int NextFrameShare(StreamContext& ctx) {
  const int rate = std::max(ctx.sampleRate, 1);
  ctx.shareRemainder += static_cast<int64_t>(ctx.bitRate) * kFrameLength;
  const int share = static_cast<int>(ctx.shareRemainder / rate);
  ctx.shareRemainder -= static_cast<int64_t>(share) * rate;
  return share;
}

// Constant rate: the channels' ceilings may not hand out more than the frame's share and the
// reservoir's fill together, or the decoder's buffer would run dry.
void LimitToReservoir(int share, int usable, int n, FrameBudget& out) {
  const int available = share + std::max(usable, 0);
  int sum = 0;
  for (int ch = 0; ch < n; ++ch) sum += out.ceilingA[ch];
  if (sum <= available) return;
  for (int ch = 0; ch < n; ++ch) {
    out.ceilingA[ch] = static_cast<int>(static_cast<int64_t>(out.ceilingA[ch]) * available / sum);
    out.ceilingB[ch] = out.ceilingA[ch];
  }
}

}  // namespace

void InitBitBudget(StreamContext& ctx) {
  const int rate = ctx.sampleRate > 0 ? ctx.sampleRate : 1;
  ctx.meanFrameBits = static_cast<int>(static_cast<int64_t>(ctx.bitRate) * kFrameLength / rate);
  // The decoder's input buffer (6144 bits per channel) less what one frame of the mean rate
  // occupies.
  ctx.reservoirSize = std::max(0, kMaxChannelFrameBits * ctx.numChannels - ctx.meanFrameBits);
  ctx.shareRemainder = 0;
  ctx.rateOffsetDb = ctx.rateOffsetIntegral = 0.0f;
  if (ctx.vbrMode != 0)
    ctx.reservoirBits = kVbrReservoirBits;
  else if (ctx.rateMode == kRateQuality)
    ctx.reservoirBits = QualityCapacity(ctx), ctx.rateOffsetDb = QualityLevelOffsetDb(ctx.vbrLevel);
  else
    ctx.reservoirBits = RateSetpoint(ctx);
}

void ReservoirBeforeFrame(StreamContext& ctx) {
  ctx.reservoirBits = std::max(ctx.reservoirBits, 0);
  if (ctx.vbrMode != 0) ctx.reservoirBits = ctx.reservoirSize = kVbrReservoirBits;
  if (ctx.rateMode == kRateQuality && ctx.vbrMode == 0) ctx.reservoirBits = QualityCapacity(ctx);
  // The frames' padding never lets the reservoir pass its size; the clamp only guards the
  // variable-rate modes.
  ctx.reservoirBits = std::min(ctx.reservoirBits, ctx.vbrMode != 0 ? kMaxReservoirFill : ReservoirCapacity(ctx));
  ctx.frameShareBits = NextFrameShare(ctx);
  ctx.reservoirBits += ctx.frameShareBits;
}

void ReservoirAfterFrame(StreamContext& ctx, int frameBits) {
  ctx.reservoirBits -= frameBits;
  if (ctx.vbrMode == 0) UpdateRateOffset(ctx);
}

void ComputeFrameBudget(StreamContext& ctx, int fixedSideBits, FrameBudget& out) {
  out = FrameBudget{};
  const int mean = ctx.frameShareBits;
  const int levelBefore = ctx.reservoirBits - mean;
  // The frame is byte aligned and ends in a 3-bit marker; what is left is the usable level.
  const int usable = FloorTo8(levelBefore - fixedSideBits + mean) - mean - 3;
  const int capacity = ReservoirCapacity(ctx);
  out.usableReservoir = usable;
  out.reservoirMax = capacity;
  out.lendable = std::min(std::max(usable, 0), capacity - 10);

  const int share = mean - fixedSideBits;
  const int n = std::clamp(ctx.numChannels, 1, kMaxChannels);
  ChannelBudgets(ctx, share, usable, out);
  const int sideShare = (fixedSideBits + n - 1) / n;
  for (int ch = 0; ch < n; ++ch) ctx.coding[ch].fixedSideShare = std::max(sideShare, 0);

  if (ctx.vbrMode != 0) {
    for (int ch = 0; ch < n; ++ch) {
      out.ceilingA[ch] = ctx.loopThresholdA;
      out.ceilingB[ch] = ctx.loopThresholdB;
    }
  } else if (ctx.rateMode == kRateQuality) {
    for (int ch = 0; ch < n; ++ch) out.ceilingA[ch] = out.ceilingB[ch] = kMaxChannelFrameBits - sideShare;
  } else {
    AverageRateCeilings(ctx, share, usable, out);
    if (ctx.rateMode == kRateConstant) LimitToReservoir(share, usable, n, out);
  }
}

void ApplyChannelCeilings(StreamContext& ctx, const FrameBudget& budget, int ch) {
  ctx.loopThresholdA = budget.ceilingA[ch];
  ctx.loopThresholdB = budget.ceilingB[ch];
}

}  // namespace aacs::quant
