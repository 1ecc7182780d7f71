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
  int reservoirMax;                      // R: the reservoir's capacity
  int budget[kMaxChannels];
  int ceilingA[kMaxChannels];            // loopThresholdA before channel ch's loop
  int ceilingB[kMaxChannels];
};

// At stream open (after the configuration is final): meanFrameBits, reservoirSize (the decoder
// buffer's reservoir) and the starting fill: the average-rate setpoint, or 24000 bits in VBR
// streams.
void InitBitBudget(StreamContext& ctx);
// Frame driver, before each frame: clamps the fill to the reservoir (average rate: its capacity;
// VBR: fill and size pinned at 24000) and adds the frame's mean share.
void ReservoirBeforeFrame(StreamContext& ctx);
// Frame driver, after the frame is written: takes the frame's bits off the fill and, at average
// rate, moves the loops' threshold offset.
void ReservoirAfterFrame(StreamContext& ctx, int frameBits);

// Before the channels' rate loops: fixedSideBits = H of the frame's layout.  Reads
// ctx.reservoirBits (this frame's fill, mean share included), ctx.budgetPeLong/Short and the
// window sequences; updates the stream's ceiling fields where the rules keep them across frames,
// and stores each channel's share of H in ctx.coding[ch].fixedSideShare (the rate loops keep a
// channel's frame below the decoder's 6144-bit input buffer with it).
void ComputeFrameBudget(StreamContext& ctx, int fixedSideBits, FrameBudget& out);
// Sets ctx.loopThresholdA/B for channel ch just before its rate loop.
void ApplyChannelCeilings(StreamContext& ctx, const FrameBudget& budget, int ch);

}  // namespace aacs::quant
