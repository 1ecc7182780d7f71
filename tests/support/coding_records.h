// Test helpers: channel coding records with the real band layouts, ready for the Huffman
// coders and the syntax writers.
#pragma once
#include <memory>
#include <random>

#include "quant/channel_coding_record.h"

namespace aacs::test {

using RecordPtr = std::unique_ptr<quant::ChannelCodingRecord>;

// Zeroed record for a long frame (window sequence seq) at sampling-frequency index sfIndex.
RecordPtr MakeLongRecord(int sfIndex, int maxSfb, int seq = 0);
// Zeroed eight-short record with the given group lengths (summing to 8), bands grouped and
// interleaved in coding order.
RecordPtr MakeShortRecord(int sfIndex, int maxSfb, const int* groupLengths, int numGroups);

// Fills every coded band with random signed values up to maxValue (per band, a random limit
// drawn from the whole range so that every codebook is exercised), zero bands included.
void FillRandomSpectrum(quant::ChannelCodingRecord& rec, std::mt19937& rng, int maxValue);

// Bitstream scalefactors: random walk within +-20 per band around gain, codebooks from the
// plain chooser, noise energies for codebook-13 bands.
void ChooseFinalCodebooks(quant::ChannelCodingRecord& rec, std::mt19937& rng, int globalGain);

}  // namespace aacs::test
