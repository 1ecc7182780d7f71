// Test helpers: channel coding records with the real band layouts, ready for the Huffman
// coders and the syntax writers.
#pragma once
#include <memory>
#include <random>
#include <vector>

#include "api/stream_context.h"
#include "quant/channel_coding_record.h"

namespace aacs::test {

using RecordPtr = std::unique_ptr<quant::ChannelCodingRecord>;
using StreamPtr = std::unique_ptr<StreamContext>;

// Zeroed record for a long frame (window sequence seq) at sampling-frequency index sfIndex.
RecordPtr MakeLongRecord(int sfIndex, int maxSfb, int seq = 0);
// Zeroed eight-short record with the given group lengths (summing to 8), bands grouped and
// interleaved in coding order.
RecordPtr MakeShortRecord(int sfIndex, int maxSfb, const int* groupLengths, int numGroups);

// Fills every coded band with random signed values up to maxValue (per band, a random limit
// drawn from the whole range so that every codebook is exercised), zero bands included.
void FillRandomSpectrum(quant::ChannelCodingRecord& rec, std::mt19937& rng, int maxValue);

// Zeroed stream with its channel map built: LC, 56- or 58-bit ADTS (headerType 2) or raw.
StreamPtr MakeStream(int numChannels, int lastChannelIsLfe, int sfIndex, int headerType = 2, int adtsBits = 56);

// Gives channel ch a random coded frame ready for the writers: long (groups null) or
// eight-short, random values up to maxValue, noise bands in long frames when noise is set,
// bitstream scalefactors, pulses selected, codeword list built.  Returns the quantised values
// in coding order as a decoder must reconstruct them (before the pulses were split off).
std::vector<int> CodeRandomChannel(StreamContext& ctx, int ch, std::mt19937& rng, int maxValue, int maxSfb,
                                   const int* groups = nullptr, int numGroups = 1, bool noise = false);

}  // namespace aacs::test
