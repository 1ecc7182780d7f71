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
// energy x ratio.  The record's layout (window sequence, groups, swb offsets, maxSfb, noise
// marks) is set by the pipeline.  Returns 0.
int ChannelRateLoop(StreamContext& ctx, int ch, const float* spectrum, const float* bandEnergy,
                    const float* bandRatio, int budget, int lendable, int reservoirMax);

}  // namespace aacs::quant
