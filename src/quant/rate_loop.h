// quant/rate_loop.h — the nested rate/distortion loops of one channel: an inner loop that
// raises the global gain until the channel fits its budget and an outer loop that amplifies
// the scalefactors of badly distorted bands, keeping the best iteration seen.
#pragma once

struct StreamContext;

namespace aacs::quant {

// Builds the quantiser and Huffman length tables; thread-safe, idempotent.
void InitQuantiserTables();

// Codes channel ch of the current frame into ctx.coding[ch].  spectrum: 1024 lines (8 x 128
// window-major for eight-short).  bandEnergy/bandRatio: per coded band in coding order (group
// by group for eight-short; energy summed over the group's windows), allowed distortion =
// energy x ratio.  The record's layout (window sequence, groups, swbOffset/numSwb, maxSfb,
// noise marks, fixedSideShare) is set by the pipeline and ComputeFrameBudget; with numSwb 0 the
// rate's standard layout is taken.  budget: the channel's bits beyond the frame's fixed side
// bits; its TNS/prediction/LTP bits (rec.sideBits) come off it, and rec.lastBits (spectral,
// section, scalefactor and pulse data) stays within what is left (at least 300 bits; more when
// the loops borrow from the reservoir up to the channel's ceiling), and never lets the channel
// pass the decoder's 6144-bit input buffer.  The reconstruction goes to ctx.reconSpectrum[ch]
// unless the profile is LC.  Returns 0 (1 only for a channel index outside the stream's arrays).
int ChannelRateLoop(StreamContext& ctx, int ch, const float* spectrum, const float* bandEnergy,
                    const float* bandRatio, int budget, int lendable, int reservoirMax);

}  // namespace aacs::quant
