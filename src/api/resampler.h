// api/resampler.h — block-wise sample-rate converter for 1 to 6 channels.
//
// An overlap-save FFT lowpass removes what the new rate cannot carry (at the input rate when
// decimating, otherwise while upsampling each block by two), then a Kaiser-windowed sinc with
// 128 phases per sample reads the filtered block at positions k / ratio.  Channels share the
// complex FFT in pairs (real and imaginary parts); an odd last channel puts two consecutive
// stretches of itself into the two parts.  Output frame k sits exactly at input position
// k / ratio: the converter adds no delay, and ResamplerFlush pushes out what it still holds.
#pragma once
#include <cstdint>

namespace aacs::api {

constexpr int kResamplerMaxChannels = 6;
// Most sample frames one ResamplerProcess call produces at any ratio: the frame driver's working
// array (kMaxWorkFrames = 23552) less room for up to 1023 leftover frames.
constexpr int kResamplerMaxOutputFrames = 22528;
constexpr int kInterpPhases = 128;      // kernel entries per sample of distance
constexpr int kInterpTaps = 16;         // 8 samples on each side of the read position
constexpr int kInterpTableSize = 1153;  // 8 x 128 kernel values, then zeros

// Where one output frame is read in the filtered block.
struct InterpPosition {
  int index;  // block sample at or before the position
  int phase;  // 0..127: the fraction in 1/128 steps
  float rem;  // what is left of the fraction within that step, 0..1
};

struct Resampler {
  int channels;
  int64_t inputCount;   // sample frames taken, per channel
  int64_t outputCount;  // sample frames produced, per channel
  int order;            // log2 N
  int fftLength;        // N, a power of 4
  int halfLength;       // L: lowpass taps on each side of the centre
  int overlap;          // L + 9: filtered samples the interpolator needs beyond the lowpass' reach
  int decimating;       // 1: filter at the input rate; 0: filter while upsampling by two
  int blockLength;      // input samples per FFT block: N, or N/2 when upsampling by two
  int validLength;      // most new input samples per block
  int historyLength;    // input samples a block keeps from the one before
  int framesPerCall;    // sample frames one ResamplerProcess call takes
  int flushFrames;      // zero frames the flush feeds through
  int inputStride;      // floats per channel in `input`
  int outCapacity;      // sample frames outBuffer holds
  float ratio;          // output rate / input rate
  float transition;     // lowpass transition width relative to its cutoff region
  float cutoff;         // twice the final lowpass cutoff, relative to the filtering rate's Nyquist
  double step;          // filtered-block samples per output frame
  int flushed;
  float* fftBuffer;     // N complex values
  float* binGain;       // N lowpass gains in the bit-reversed order of the forward FFT
  float* response;      // N/2 + 1 real lowpass gains, scaled for the unnormalised inverse FFT
  float* twiddles;      // N/2 complex exp(-2 pi i k / N)
  float* interpTable;   // the interpolation kernel, 128 entries per sample of distance
  float* kernel;        // (128 + 1) phases x 16 tap weights taken from interpTable
  float* input;         // per channel: historyLength kept samples, then the new ones
  InterpPosition* positions;  // read positions of the current call
  float* outBuffer;     // interleaved output
  void* arena;
};

// Creates a converter for `channels` (1..6) interleaved channels.  ratio = output rate / input
// rate; length, beta, cutoffA and cutoffB are -1 for the defaults (485 lowpass taps, Kaiser beta
// 10, cutoff from the ratio).  Stores in *samplesPerCall the interleaved samples each call
// takes, a whole number of frames chosen so that no call yields more than
// kResamplerMaxOutputFrames frames.  Returns null when the arguments leave no usable lowpass
// (cutoff at or below 0) or memory runs out.
Resampler* ResamplerCreate(float ratio, int channels, int length, float beta, float cutoffA,
                           float cutoffB, int* samplesPerCall);

// Converts `count` interleaved 16-bit samples (a multiple of the channel count, at most
// samplesPerCall).  Samples keep their scale (1000 stays near 1000.0).  Returns the number of
// float values produced, interleaved like the input, and points *out at them; -1 for a bad
// count or after the flush.
int ResamplerProcess(Resampler* rs, const int16_t* in, int count, const float** out);

// Ends the input: feeds zeros until every output frame whose position lies inside the input
// has been produced, and returns those values (*out points at them).  Later calls return 0.
int ResamplerFlush(Resampler* rs, const float** out);

void ResamplerFree(Resampler* rs);

}  // namespace aacs::api
