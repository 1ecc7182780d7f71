// quant/channel_coding_record.h — everything one channel's coding of one frame needs.
//
// The frame pipeline fills the layout (window sequence, groups, band offsets), the rate loops
// fill the quantised values, scalefactors and codebooks, Huffman coding turns them into a
// codeword list, and the syntax writer emits the record.  Bands are in coding order: for
// eight-short frames the bands of all windows are interleaved group by group.
#pragma once
#include <cstdint>
#include "enc/aac_constants.h"

namespace aacs::quant {

// One band's cached codebook choice; valid while the band's recompute flag is clear and the
// record's cacheGain equals the current global gain.
struct BandCodebookCache {
  int bits;
  int codebook;
};

// The final Huffman pass: codeword values and lengths, emitted in order by the spectral writer.
struct CodewordList {
  uint32_t value[kMaxCodewords];
  int32_t length[kMaxCodewords];
};

struct ChannelCodingRecord {
  // Quantiser arrays (32-byte aligned by the record's placement in the stream).
  alignas(32) float y[kFrameLength];          // amplified 3/4-power magnitudes
  alignas(32) float magnitude[kFrameLength];  // |x| after the magnitude floor (distortion reference)
  alignas(32) int32_t q[kFrameLength];        // quantised values (magnitudes inside the loops)
  alignas(32) float recon[kFrameLength];      // reconstruction of the lines
  alignas(32) float grouped[kFrameLength];    // spectrum in coding order (eight-short regrouped)

  // Band layout of one window as the pipeline sets it: long offsets up to 1024, or short
  // offsets up to 128 (the same layout for every window of an eight-short block).
  int swbOffset[kMaxLongBands + 1];
  int numSwb;

  // Band layout in coding order (built by the rate loops from swbOffset, maxSfb and the groups).
  int bandOffset[kMaxCodedBands + 1];  // start line of every band, plus the end of the last
  int maxSfb;                          // bands per window group as coded
  int totalBands;                      // maxSfb x numWindowGroups
  int codedLines32;                    // coded lines rounded up to a multiple of 32
  int blocks32;                        // 32-line blocks to quantise (at least 8)
  int windowSequence;
  int windowShape;
  int prevWindowShape;
  int numWindowGroups;
  int groupLength[kNumShortWindows];
  int sampleRateIndex;
  int channelIndex;

  // Per-band state of the rate loops.
  int scalefactor[kMaxCodedBands];     // internal amplification steps; bitstream value after the loops
  float distortion[kMaxCodedBands];
  int cachedDiff[kMaxCodedBands];      // scalefactor difference of the cached distortion (-32767: none)
  float cachedDistortion[kMaxCodedBands];
  float weight[kMaxCodedBands];        // inverse allowed distortion
  uint8_t recompute[kMaxCodedBands];   // quantised values changed since the cached codebook choice
  uint8_t bandNonzero[kMaxCodedBands]; // some prepared magnitude of the band is above 0
  int bandMax[kMaxCodedBands];         // largest |q| of the band
  BandCodebookCache cache[kMaxCodedBands];
  int cacheGain;                       // global gain the band cache belongs to
  int cacheVariant;                    // chooser variant the band cache belongs to (1 loop, 0 final)
  // Quantisation state of the loops: while quantValid is 1, rec.q holds rec.y quantised at
  // quantGain for every band whose requantise flag is clear (quant::QuantiseAndMark then
  // quantises only the flagged bands at that gain).  Whoever changes y or q clears quantValid
  // or flags the band.
  int quantValid;
  int quantGain;
  uint8_t requantise[kMaxCodedBands];
  int codebook[kMaxCodedBands];
  int trialCodebook[kMaxCodedBands];   // section merging output
  int globalGain;                      // internal gain in the loops, bitstream global_gain after
  int lastBits;                        // cost of the last inner loop; after the loops the final
                                       // spectral + section + scalefactor + pulse data bits
                                       // (the pulse flag excluded)
  int loopIterations;                  // outer iterations of the last rate-loop call (diagnostics)
  int sideBits;                        // TNS, prediction and LTP bits beyond the fixed side bits
  int fixedSideShare;                  // the channel's share of the frame's fixed side bits
  float pe;                            // perceptual entropy estimate of the loops
  float shortPe;                       // the coded frame's short-block entropy (budget input)

  // Noise substitution.
  int noiseFlag[kMaxCodedBands];       // band is coded as perceptual noise (codebook 13)
  int noiseEnergy[kMaxCodedBands];
  int psyNoiseBand[kMaxCodedBands];    // the model's noise-substitution marks for this frame

  // Stereo: 1 where the band's threshold is the channel's own analysis, 0 for a side band.
  int ownThreshold[kMaxCodedBands];
  // Intensity stereo (bands flagged in the channel's ChannelInfo): position and phase.
  int intensityPosition[kMaxCodedBands];
  int intensityOutOfPhase[kMaxCodedBands];  // 1: codebook 14, 0: codebook 15

  // Pulse data.
  int pulseDataPresent;
  int numPulse;
  int pulseStartSfb;
  int pulseOffset[4];
  int pulseAmp[4];

  // Main-profile prediction.
  int predictionUsed;                  // predictor_data_present
  int resetGroup;                      // 1..30, or -1 when no reset is signalled
  int bandPredicted[kMaxCodedBands];   // prediction_used per band

  // Codewords of the final pass.
  int numCodewords;
  CodewordList codewords;
};

}  // namespace aacs::quant
