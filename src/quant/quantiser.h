// quant/quantiser.h — non-uniform quantisation of one channel's spectrum.
//
// Lines are quantised as nint(|x|^(3/4) * 2^(3s/16) * 2^(-3g/16) - 0.0946) with the 2^23 rounding
// trick; the reconstruction is |q|^(4/3) * 2^(-(s-g)/4).  The tables are immutable and shared by
// every stream; everything that changes lives in the channel's coding record.
#pragma once
#include <cstdint>

#include "quant/channel_coding_record.h"

namespace aacs::quant {

constexpr int kPowerTableSize = 16384;
constexpr int kStepTableSize = 512;               // gains -511..511 are representable
constexpr int kMaxGain = kStepTableSize - 1;
constexpr int kMaxQuantisedMagnitude = 8191;      // the largest value an escape sequence carries
constexpr int kMaxScalefactor = 59;               // internal amplification steps of one band
constexpr int kNoCachedDiff = -32767;             // invalidates a band's distortion cache
constexpr float kAmplifyStep = 1.1387885808944702f;  // 2^(3/16): one scalefactor step on y
constexpr int kMinQuantBlocks = 8;                // the quantiser always covers 256 lines

struct QuantiserTables {
  float power43[kPowerTableSize];                 // i^(4/3), exponent rounded to single precision
  float stepPos[kStepTableSize];                  // 2^(-3i/16): step factor of gain i >= 0
  float stepNeg[kStepTableSize];                  // 2^(3i/16): step factor of gain -i
  float reconPos[kStepTableSize];                 // 2^(-i/4): reconstruction scale of d = i > 0
  float reconNeg[kStepTableSize];                 // 2^(i/4): reconstruction scale of d = -i <= 0
};

// Built on first use, thread-safely; never changes afterwards.
const QuantiserTables& QuantTables();

// Step factor 2^(-3g/16) for a gain in -kMaxGain..kMaxGain.
float StepFactor(int gain);
// Reconstruction scale 2^(-d/4) for a scalefactor difference d = s - g in -kMaxGain..kMaxGain.
float ReconScale(int diff);

// The quantiser's own natural logarithm (about 1e-7 relative error; v > 0).
float QuantFastLog(float v);

// Magnitude floor of the preparation: lines below it are treated as zero.
float MagnitudeFloor(int vbrMode, int bitRate);

// Prepares rec.y (3/4-power magnitudes), rec.magnitude (floored |x|) and the sign of every line
// from x (coding order) over the record's coded lines rounded up to 32; sets rec.codedLines32
// and rec.blocks32 and zeroes everything above.  Returns the largest y.
float PrepareMagnitudes(ChannelCodingRecord& rec, const float* x, float floor, int* signTable);

// Quantises y at rec.globalGain over rec.blocks32 blocks of 32 lines into q (magnitudes).
void Quantise(const ChannelCodingRecord& rec, const float* y, int32_t* q);
// The same; returns 1 as soon as a magnitude exceeds kMaxQuantisedMagnitude, else 0.
int QuantiseChecked(const ChannelCodingRecord& rec, const float* y, int32_t* q);
// Quantises rec.y at rec.globalGain into rec.q over the coded bands (the lines past them are
// not touched), sets rec.recompute for every band whose values changed and rec.bandMax to every
// band's largest value (so enc::kLoopVariantKnownMax may count them); returns 1 when a
// magnitude exceeds kMaxQuantisedMagnitude, else 0.  Bands not marked keep values their cached
// codebook choice was made for, so the band cache carries over to the new gain
// (rec.cacheGain follows rec.globalGain).  At the gain of the previous call (rec.quantValid),
// only the bands flagged in rec.requantise are quantised: the others cannot have changed.
int QuantiseAndMark(ChannelCodingRecord& rec);

struct DistortionSums {
  int count;         // n: bands whose weighted distortion exceeds 1.0
  float overSum;     // A: sum of the distortions above 1.0
  float normSum;     // B: those distortions divided by (product / n), when that exceeds 1.0
  float totalSum;    // C: sum of all band distortions
};

// Weighted reconstruction error of every band of rec (rec.magnitude against rec.q at the record's
// scalefactors and gain) into rec.distortion, reusing rec.cachedDiff/cachedDistortion.
DistortionSums MeasureDistortion(ChannelCodingRecord& rec);
// Marks every band's cached distortion as stale.
void InvalidateDistortionCache(ChannelCodingRecord& rec);

// What a decoder reconstructs, in coding order, into rec.recon: sign * |q|^(4/3) * 2^(-(s-g)/4)
// for bands with codebook below 14 (pulse amplitudes added back), a marker for intensity bands,
// 0 elsewhere.  internal = 1: rec.scalefactor holds amplification steps and rec.globalGain the
// internal gain; internal = 0: bitstream scalefactors (the scale is 2^((sf - 100)/4)).
void Reconstruct(ChannelCodingRecord& rec, int internal);

// Builds the coding-order layout (rec.bandOffset, rec.totalBands) from rec.swbOffset, maxSfb and
// the window groups, and copies x into rec.grouped in that order (eight-short blocks are
// interleaved group by group, band by band, window by window).  Lines past the last coded band
// are zero.  Returns the number of coded lines.
int BuildCodingOrder(ChannelCodingRecord& rec, const float* x);
// Inverse of BuildCodingOrder for a coding-order array: writes the lines back to their window
// positions in out (1024 values; lines that are not coded become fill).
void ScatterCodingOrder(const ChannelCodingRecord& rec, const float* in, float* out, float fill);

}  // namespace aacs::quant
