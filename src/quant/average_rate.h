// quant/average_rate.h — holds a stream at its average bit rate.
//
// The rate loops code each band down to the model's threshold moved by one stream-wide offset
// (dB): positive, they code below it.  A reservoir of a few seconds of bits banks what easy
// frames leave and lends it to hard ones; after every frame the offset follows the reservoir's
// fill (proportional plus integral), so the bits the model would leave unspent are spent and the
// stream's rate settles on its target whatever the material.
#pragma once

struct StreamContext;

namespace aacs::quant {

// Size of the average-rate reservoir in bits (at least the decoder buffer's reservoir).
int AverageRateCapacity(const StreamContext& ctx);
// The fill the stream starts with and keeps coming back to.
int AverageRateSetpoint(const StreamContext& ctx);
// After a frame (ctx.reservoirBits already settled): moves ctx.rateOffsetDb.
void UpdateRateOffset(StreamContext& ctx);

}  // namespace aacs::quant
