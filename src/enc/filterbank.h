// enc/filterbank.h — the switched MDCT of AAC: 2048-point long and 256-point short transforms
// with sine and Kaiser-Bessel-derived window halves, built on N/4-point complex FFTs with
// rotation recurrences.  The forward MDCT carries the factor 2 of ISO/IEC 14496-3; the inverse
// returns 4/N of the standard IMDCT because the FFT divides its inverse by its length.
#pragma once
#include "enc/filterbank_state.h"

namespace aacs::enc {

// Rising window halves (the falling half is the same table read backwards); immutable,
// built once per process.
const float* SineWindowLong();   // 1024 values
const float* SineWindowShort();  // 128
const float* KbdWindowLong();    // 1024, alpha 4
const float* KbdWindowShort();   // 128, alpha 6

// Creates the stream's FFT spec records (orders 9 and 6; inverse divided by N, forward
// unscaled) and builds the window tables; 0 on success, 1 without memory.  The state must be
// zeroed or released; a failed init leaves it released.
int FilterbankInit(FilterbankState& fb);
void FilterbankRelease(FilterbankState& fb);

// The transforms use fb's FFT work buffers, so calls on one state must not overlap in time.

// In place: 2048 windowed samples -> X[0..1023] followed by the mirror X[2047-k] = -X[k].
void LongMdct(float* buffer, FilterbankState& fb);
// In place: 256 windowed samples -> 128 lines (+128 mirrored).
void ShortMdct(float* buffer, FilterbankState& fb);
// In place: n/2 lines -> n time samples (n = 2048 or 256), 4/n of the standard IMDCT.
void Imdct(float* buffer, int n, FilterbankState& fb);

// mode 0: block = older half (zeros while *firstCall is set, which clears it) + time[0..1023],
//         then olderFrame := time.  mode 1: time holds the whole 2048-sample block.
// Writes 1024 lines (8 x 128 window-major for eight-short) to spectrum (2048 floats of room).
// The left window half follows prevWindowShape, the right one windowShape; eight-short windows
// start at 448 + 128w (mode 0) or 256w (mode 1), and only the first takes prevWindowShape.
void AnalysisFilterbank(const float* time, float* spectrum, float* olderFrame, int* firstCall,
                        int windowSequence, int windowShape, int prevWindowShape, int mode,
                        FilterbankState& fb);
// Inverse transform and windowing of one block (1024 lines, 8 x 128 for eight-short) into 2048
// samples.  Long sequences: the windowed block, the caller overlap-adds.  Eight-short: mode 1
// writes the eight windowed 256-sample blocks side by side, mode 0 overlap-adds them at
// 448 + 128w with zeros elsewhere.  Each inverse keeps the 4/N scale of Imdct, so a short block
// comes out 8 times larger than a long one would for the same time signal.
void SynthesisFilterbank(const float* spectrum, float* out, int windowSequence, int windowShape,
                         int prevWindowShape, int mode, FilterbankState& fb);

}  // namespace aacs::enc
