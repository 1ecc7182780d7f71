// quant/rate_control.h — how a stream holds its bit rate: its average (the default), every frame
// within the decoder's buffer (constant rate), or a quality level with the rate following the
// material.
//
// The rate loops code each band down to the model's threshold moved by one stream-wide offset
// (dB): positive, they code below it.  At average and constant rate a reservoir banks what easy
// frames leave and lends it to hard ones, and after every frame the offset follows the
// reservoir's fill (proportional plus integral), so that the bits the model would leave unspent
// are spent.  A quality level fixes the offset instead.
#pragma once

struct StreamContext;

namespace aacs::quant {

// Size of the reservoir in bits: a few seconds of the stream's bits at average rate, the decoder
// buffer's reservoir (6144 bits per channel less one mean frame) at constant rate.
int RateReservoirCapacity(const StreamContext& ctx);
// The fill the stream starts with and the controller keeps coming back to.
int RateSetpoint(const StreamContext& ctx);
// After a frame (ctx.reservoirBits already settled): moves ctx.rateOffsetDb.
void UpdateRateOffset(StreamContext& ctx);

// Quality levels 1..kMaxVbrLevel: the offset the level codes at, and its nominal rate per
// channel in bit/s at 44.1 kHz (what the model's tuning and the bandwidth are chosen for).
float QualityLevelOffsetDb(int level);
int QualityLevelNominalRate(int level);

// The padding (bits, a whole number of bytes' worth) a frame of `frameBits` must carry so that
// the reservoir does not pass its size: at constant rate the decoder's buffer model demands it;
// at average rate those are bits nothing could use (long silence, isolated clicks at a high
// rate), and the stream still keeps its average.  0 for quality levels and legacy presets.
int RateFillBits(const StreamContext& ctx, int frameBits);

}  // namespace aacs::quant
