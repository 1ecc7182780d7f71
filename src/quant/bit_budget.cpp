// quant/bit_budget.cpp — per-frame grant from the reservoir, per-channel budgets and the
// ceilings up to which the rate loops may borrow from the reservoir.
#include "quant/bit_budget.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "api/stream_context.h"

namespace aacs::quant {
namespace {

constexpr int kMinChannelGrant = 300;
constexpr int kStereoLowFillPenalty = 80;      // a stereo frame below the low-water mark gives these back
constexpr double kGrantReservoirFactor = 13.913;
constexpr double kCeilingReservoirFactor = 0.07187522461007691;
constexpr double kMaxDemandPe = 1.0e6;         // keeps the demand arithmetic inside int range
constexpr int kVbrReservoirBits = 24000;
constexpr int kMaxReservoirFill = 10000000;

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

void StereoCeilings(const StreamContext& ctx, int share, int usable, FrameBudget& out) {
  const int reservoir = ctx.reservoirSize;
  int total;
  if (usable > ctx.reservoirLowMark || ctx.windowSequence[0] == kEightShort) {
    const int limit = std::min(share / 4, static_cast<int>(kGrantReservoirFactor * reservoir / 2));
    total = share + (usable < limit ? usable : limit);
  } else {
    total = share - kStereoLowFillPenalty;
  }
  const int d0 = ChannelDemand(ctx, 0);
  const int d1 = ChannelDemand(ctx, 1);
  const int spare = (total - (d0 + d1)) / 2;
  out.ceilingA[0] = out.ceilingB[0] = std::max(d0 + spare, kMinChannelGrant);
  out.ceilingA[1] = out.ceilingB[1] = std::max(d1 + spare, kMinChannelGrant);
}

void MultiChannelCeilings(StreamContext& ctx, int share, int usable, FrameBudget& out) {
  const int n = std::clamp(ctx.numChannels, 1, kMaxChannels);
  const int mean = share / n;
  const int burst = static_cast<int>(ctx.reservoirSize * kCeilingReservoirFactor);
  ctx.loopThresholdB = mean + std::min(mean / 2, burst);
  // Between the marks the long ceiling keeps its value: it only moves when the reservoir is
  // clearly short of or clearly rich in bits.
  if (usable <= ctx.reservoirLowMark)
    ctx.loopThresholdA = mean - 40;
  else if (usable >= ctx.reservoirHighMark)
    ctx.loopThresholdA = static_cast<int>(mean + usable * kCeilingReservoirFactor);
  for (int ch = 0; ch < n; ++ch) {
    out.ceilingA[ch] = ctx.loopThresholdA;
    out.ceilingB[ch] = ctx.loopThresholdB;
  }
}

}  // namespace

void InitBitBudget(StreamContext& ctx) {
  const int rate = ctx.sampleRate > 0 ? ctx.sampleRate : 1;
  ctx.meanFrameBits = static_cast<int>(static_cast<int64_t>(ctx.bitRate) * kFrameLength / rate);
  // Six kilobits per channel of decoder buffer, less what one frame of the mean rate occupies.
  ctx.reservoirSize = std::max(0, (6 * ctx.numChannels - ctx.bitRate / rate) * 1024);
  ctx.reservoirLowMark = ctx.reservoirSize / 2;
  ctx.reservoirHighMark = ctx.reservoirSize / 4 * 3;
  ctx.reservoirBits = ctx.vbrMode != 0 ? kVbrReservoirBits : ctx.reservoirSize;
}

void ReservoirBeforeFrame(StreamContext& ctx) {
  ctx.reservoirBits = std::max(ctx.reservoirBits, 0);
  if (ctx.vbrMode != 0) ctx.reservoirBits = ctx.reservoirSize = kVbrReservoirBits;
  ctx.reservoirBits = std::min(ctx.reservoirBits, kMaxReservoirFill);
  ctx.reservoirBits += ctx.meanFrameBits;
}

void ReservoirAfterFrame(StreamContext& ctx, int frameBits) { ctx.reservoirBits -= frameBits; }

void ComputeFrameBudget(StreamContext& ctx, int fixedSideBits, FrameBudget& out) {
  out = FrameBudget{};
  const int mean = ctx.meanFrameBits;
  const int levelBefore = ctx.reservoirBits - mean;
  // The frame is byte aligned and ends in a 3-bit marker; what is left is the usable level.
  const int usable = FloorTo8(levelBefore - fixedSideBits + mean) - mean - 3;
  out.usableReservoir = usable;
  out.reservoirMax = ctx.reservoirSize;
  out.lendable = std::min(std::max(usable, 0), ctx.reservoirSize - 10);

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
  } else if (n == 2) {
    StereoCeilings(ctx, share, usable, out);
  } else {
    MultiChannelCeilings(ctx, share, usable, out);
  }
}

void ApplyChannelCeilings(StreamContext& ctx, const FrameBudget& budget, int ch) {
  ctx.loopThresholdA = budget.ceilingA[ch];
  ctx.loopThresholdB = budget.ceilingB[ch];
}

}  // namespace aacs::quant
