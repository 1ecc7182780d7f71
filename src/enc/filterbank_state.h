// enc/filterbank_state.h — per-stream state of the switched MDCT filterbank.
#pragma once
#include "dsp/primitives.h"

namespace aacs::enc {

struct FilterbankState {
  dsp::FftSpec* fft512;  // 512-point complex FFT of the long MDCT (inverse divided by N)
  dsp::FftSpec* fft64;   // 64-point complex FFT of the short MDCT
  alignas(32) float fftWork[2][2048];
};

}  // namespace aacs::enc
