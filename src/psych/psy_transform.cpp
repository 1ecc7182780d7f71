// psych/psy_transform.cpp — windowing, FFTs and MDCTs of the model's analysis.
//
// The packed real FFT holds R0, R(N/2), R1, I1, ...; clearing the second value turns it into
// N/2 complex bins with bin 0 = (R0, 0), which is what the unpredictability reads.
#include "psych/psy_transform.h"

#include "enc/filterbank.h"

namespace aacs::psych {
namespace {

constexpr int kShortWindowStart = 448;  // first short window of the block (ISO/IEC 14496-3)

void FftToBins(const float* src, float* dst, const dsp::FftSpec* spec, float* work) {
  dsp::FftRealForward(src, dst, spec, work);
  dst[1] = 0.0f;
}

}  // namespace

void PsyTransform(PsyModelState& psy, int ch, const float* newFrame, int analyseShort, bool wantFft) {
  PsyChannelHistory& h = psy.history[ch];
  float* block = psy.block;
  dsp::VecCopy(h.delay, block, kFrameLength);
  dsp::VecCopy(newFrame, block + kFrameLength, kFrameLength);
  dsp::VecCopy(newFrame, h.delay, kFrameLength);

  float* longOut = h.longSpectrum[h.longBufferIndex];
  dsp::VecMul(block, psy.longWindow, longOut, 2 * kFrameLength);
  if (wantFft) FftToBins(longOut, psy.fftLongOut, psy.fftLong, psy.fftWork);
  enc::LongMdct(longOut, psy.mdct);

  if (!analyseShort) return;
  float* shortOut = h.shortSpectrum[h.shortBufferIndex];
  for (int win = 0; win < kNumShortWindows; ++win) {
    dsp::VecMul(block + kShortWindowStart + kShortLength * win, psy.shortWindow, psy.shortBlock,
                2 * kShortLength);
    if (wantFft) FftToBins(psy.shortBlock, psy.fftShortOut[win], psy.fftShort, psy.fftWork);
    enc::ShortMdct(psy.shortBlock, psy.mdct);
    dsp::VecCopy(psy.shortBlock, shortOut + kShortLength * win, kShortLength);
  }
}

}  // namespace aacs::psych
