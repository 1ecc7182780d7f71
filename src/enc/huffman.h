// enc/huffman.h — noiseless coding of one channel: codebook choice per band, section merging,
// section/scalefactor/pulse/spectral data writers and their bit counters, pulse selection and
// the final pass that turns the quantised spectrum into a codeword list.
//
// Every writer has a counting twin with identical arithmetic: with write = 0 nothing is
// written (the writer may be null) and the element's bit count is returned.  The rate loops
// only count; the frame syntax writer counts, then writes.
//
// Scalefactors.  While the rate loops run (argument internal = 1) rec.scalefactor holds internal
// amplification steps s_b and the coded difference of a band is (s_ref - s_b) with s_ref
// starting at s_0; afterwards (internal = 0) it holds bitstream scalefactors
// (global gain - s_b + 100) and the difference is (sf_b - ref) with ref starting at
// rec.globalGain.  Both give the same codes.  Noise bands (codebook 13) code rec.noiseEnergy.
#pragma once
#include <cstdint>

#include "enc/bit_writer.h"
#include "quant/channel_coding_record.h"

namespace aacs::enc {

struct HuffmanEntry {
  uint32_t length;    // bits
  uint32_t codeword;  // right-aligned
};

// Builds the length-only copies of the codebooks; thread-safe, idempotent.
void InitHuffmanTables();
// Full entries of spectral book 1..11 (81, 81, 81, 81, 81, 81, 64, 64, 169, 169, 289 entries).
const HuffmanEntry* SpectralCodebook(int book);
int SpectralCodebookSize(int book);
// Scalefactor book: 121 entries, index = difference + 60.
const HuffmanEntry* ScalefactorCodebook();

// Band codebook chooser over rec.totalBands bands of rec.q.  loopVariant: q holds magnitudes,
// all-zero bands (rec.bandNonzero == 0) get codebook 0, signed books priced as if positive.
// Uses and refreshes rec.cache / rec.recompute / rec.cacheGain / rec.cacheVariant (a change of
// gain or of variant recounts every band); returns the sum of band bits.
// kLoopVariantKnownMax is the loop variant for a record whose rec.bandMax already holds every
// band's largest value (quant::QuantiseAndMark leaves it so): the bands are not scanned for it.
constexpr int kLoopVariantKnownMax = 2;
int ChooseBandCodebooks(quant::ChannelCodingRecord& rec, int loopVariant);
// ChooseBandCodebooks, then stores each band's choice in rec.codebook (bands holding 13, 14 or 15
// keep theirs and cost no spectral bits); returns the spectral bits.
int CountChannelSpectralBits(quant::ChannelCodingRecord& rec, int loopVariant);
// Section merging: the cheapest books for every band, section bits included (a trellis per window
// group over the codebooks); fills rec.trialCodebook (the caller copies it into rec.codebook).
// A band of zeros that ends up in a spectral book takes its neighbour's scalefactor (internal 1:
// rec.scalefactor holds amplification steps), so that it costs one scalefactor bit.
void MergeSections(quant::ChannelCodingRecord& rec, int internal);

int CountSectionBits(const quant::ChannelCodingRecord& rec);
int CountSectionBitsFor(const quant::ChannelCodingRecord& rec, const int* codebooks);
int CountScaleFactorBits(const quant::ChannelCodingRecord& rec, int internal);
int CountScaleFactorBitsFor(const quant::ChannelCodingRecord& rec, const int* codebooks, int internal);
// CountSectionBitsFor + CountScaleFactorBitsFor in one walk over the bands.
int CountSideBitsFor(const quant::ChannelCodingRecord& rec, const int* codebooks, int internal);

int WriteSectionData(const quant::ChannelCodingRecord& rec, BitWriter* w, int write);
int WriteScaleFactorData(const quant::ChannelCodingRecord& rec, BitWriter* w, int write);
int WritePulseData(const quant::ChannelCodingRecord& rec, BitWriter* w, int write);
int WriteSpectralData(const quant::ChannelCodingRecord& rec, BitWriter* w, int write);

// Pulse selection on the settled, signed spectrum (frames that are not eight-short): up to four
// lines of magnitude 2..16 become +-1 plus pulse data when that saves bits.  Leaves rec.codebook
// and the band cache matching the spectrum as coded (final variant).
void SelectPulses(quant::ChannelCodingRecord& rec, int internal);
// Final coding pass: rec.q (signed) and rec.codebook -> rec.codewords / rec.numCodewords.
// A band whose codebook cannot hold its values (never produced by the loops) is recoded with
// the cheapest book that can, so the decoder never loses step.
void BuildCodewordList(quant::ChannelCodingRecord& rec);

}  // namespace aacs::enc
