// quant/bit_budget.h — how many bits each channel of a frame may spend: the mean share per
// frame, the reservoir that absorbs the difference between frames, and the per-channel
// budgets and ceilings derived from the channels' perceptual entropies.
#pragma once
#include "enc/aac_constants.h"

struct StreamContext;

namespace aacs::quant {

struct FrameBudget {
  int usableReservoir;                   // F: reservoir level after alignment and end marker
  int lendable;                          // min(max(F, 0), R - 10)
  int reservoirMax;                      // R
  int budget[kMaxChannels];
  int ceilingA[kMaxChannels];            // loopThresholdA before channel ch's loop
  int ceilingB[kMaxChannels];
};

// Before the channels' rate loops: fixedSideBits = H of the frame's layout.  Reads
// ctx.reservoirBits (this frame's fill, mean share included), ctx.budgetPeLong/Short and the
// window sequences; updates the stream's ceiling fields where the rules keep them across frames.
void ComputeFrameBudget(StreamContext& ctx, int fixedSideBits, FrameBudget& out);
// Sets ctx.loopThresholdA/B for channel ch just before its rate loop.
void ApplyChannelCeilings(StreamContext& ctx, const FrameBudget& budget, int ch);

}  // namespace aacs::quant
