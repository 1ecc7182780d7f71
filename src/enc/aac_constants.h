// enc/aac_constants.h — sizes and codes shared by every subsystem of the encoder.
//
// Records are plain structs of fixed-size arrays sized by these constants, so the whole
// stream state is one block without per-frame allocation.
#pragma once

namespace aacs {

constexpr int kFrameLength = 1024;       // spectral lines (and new samples) per channel and frame
constexpr int kShortLength = 128;        // lines per short window
constexpr int kNumShortWindows = 8;
constexpr int kMaxChannels = 6;          // channels of a stream
constexpr int kMaxPsySlots = 12;         // channels plus the mid/side partners of pairs
constexpr int kMaxLongBands = 64;        // long scalefactor bands (51 at most in use)
constexpr int kMaxShortBands = 16;       // short scalefactor bands (15 at most in use)
constexpr int kMaxCodedBands = 136;      // coded bands of one channel (8 groups x 15 short bands fit)
constexpr int kMaxCodewords = 5120;      // entries of one channel's codeword list
constexpr int kMaxChannelFrameBits = 6144;  // decoder input buffer per channel
constexpr int kNumSampleRates = 12;

// Window sequences and shapes.
enum WindowSequence : int { kOnlyLong = 0, kLongStart = 1, kEightShort = 2, kLongStop = 3 };
enum WindowShape : int { kSineWindow = 0, kKbdWindow = 1 };
// Block decisions of the psychoacoustic model.
enum BlockType : int { kLongBlock = 0, kShortBlock = 2 };

// Profiles (object type - 1) and header types.
enum Profile : int { kProfileMain = 0, kProfileLc = 1, kProfileSsr = 2, kProfileLtp = 3 };
enum HeaderType : int { kHeaderRaw = 0, kHeaderAdif = 1, kHeaderAdts = 2 };
// How the bit rate is held: its average over the stream, every frame within the decoder's
// buffer model (constant), or a quality level with the rate following the material.
enum RateMode : int { kRateAverage = 0, kRateConstant = 1, kRateQuality = 2 };
constexpr int kMaxVbrLevel = 5;

// Special codebooks.
constexpr int kZeroCodebook = 0;
constexpr int kEscCodebook = 11;
constexpr int kNoiseCodebook = 13;
constexpr int kIntensityOutOfPhase = 14;
constexpr int kIntensityInPhase = 15;

// The twelve sampling rates in sampling-frequency-index order.
constexpr int kSampleRates[kNumSampleRates] = {96000, 88200, 64000, 48000, 44100, 32000,
                                               24000, 22050, 16000, 12000, 11025, 8000};

// Index of a rate in kSampleRates, or -1.
constexpr int SampleRateIndex(int rate) {
  for (int i = 0; i < kNumSampleRates; ++i)
    if (kSampleRates[i] == rate) return i;
  return -1;
}

}  // namespace aacs
