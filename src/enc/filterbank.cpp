// enc/filterbank.cpp — the switched MDCT filterbank: window tables, the MDCT and IMDCT as
// N/4-point complex FFTs between a pre- and a post-rotation, and the analysis and synthesis
// transforms of the four window sequences.  The rotation factors are the values of a float
// recurrence, run once into a table so that the rotations do not wait on one another.
#include "enc/filterbank.h"

#include <cmath>
#include <cstring>
#include <numbers>

#include "enc/aac_constants.h"

namespace aacs::enc {
namespace {

constexpr int kLongN = 2048;
constexpr int kShortN = 256;
constexpr int kLongHalf = kLongN / 2;
constexpr int kShortHalf = kShortN / 2;
// The short windows of LONG_START / LONG_STOP and the first eight-short window start here.
constexpr int kShortBlockOffset = 448;

struct WindowTables {
  // Rising halves and the same halves reversed, so that every windowing step is a VecMul.
  alignas(32) float sineLong[kLongHalf];
  alignas(32) float sineShort[kShortHalf];
  alignas(32) float kbdLong[kLongHalf];
  alignas(32) float kbdShort[kShortHalf];
  alignas(32) float sineLongFall[kLongHalf];
  alignas(32) float sineShortFall[kShortHalf];
  alignas(32) float kbdLongFall[kLongHalf];
  alignas(32) float kbdShortFall[kShortHalf];
};

// I0(x) = sum_k ((x/2)^k / k!)^2.  The terms rise until k ~ x/2 and then fall quickly, so for
// the arguments used here (up to 6 pi) a few dozen terms reach double precision.
double BesselI0(double x) {
  const double q = x * x / 4.0;
  double term = 1.0;
  double sum = 1.0;
  for (int k = 1; k < 500 && term > sum * 1e-20; ++k) {
    term *= q / (static_cast<double>(k) * k);
    sum += term;
  }
  return sum;
}

// Rising half of the n-point KBD window of ISO/IEC 14496-3: the square root of the running sum
// of a Kaiser kernel over n/2 + 1 points, normalised by the kernel's total.  The kernel's
// symmetry makes w[k]^2 + w[n/2 - 1 - k]^2 = 1 exactly in exact arithmetic.
void BuildKbdHalf(float* half, int n, double alpha) {
  const int quarter = n / 4;
  double kernel[kLongHalf + 1];
  double total = 0.0;
  for (int p = 0; p <= n / 2; ++p) {
    const double r = static_cast<double>(p - quarter) / quarter;
    kernel[p] = BesselI0(std::numbers::pi * alpha * std::sqrt(1.0 - r * r));
    total += kernel[p];
  }
  double running = 0.0;
  for (int p = 0; p < n / 2; ++p) {
    running += kernel[p];
    half[p] = static_cast<float>(std::sqrt(running / total));
  }
}

void BuildSineHalf(float* half, int n) {
  for (int k = 0; k < n / 2; ++k)
    half[k] = static_cast<float>(std::sin((k + 0.5) * std::numbers::pi / n));
}

void Reverse(const float* src, float* dst, int len) {
  for (int k = 0; k < len; ++k) dst[k] = src[len - 1 - k];
}

WindowTables BuildWindowTables() {
  WindowTables t;
  BuildSineHalf(t.sineLong, kLongN);
  BuildSineHalf(t.sineShort, kShortN);
  BuildKbdHalf(t.kbdLong, kLongN, 4.0);
  BuildKbdHalf(t.kbdShort, kShortN, 6.0);
  Reverse(t.sineLong, t.sineLongFall, kLongHalf);
  Reverse(t.sineShort, t.sineShortFall, kShortHalf);
  Reverse(t.kbdLong, t.kbdLongFall, kLongHalf);
  Reverse(t.kbdShort, t.kbdShortFall, kShortHalf);
  return t;
}

// Built on first use; the function-local static makes that thread-safe.
const WindowTables& Windows() {
  static const WindowTables tables = BuildWindowTables();
  return tables;
}

const float* LongRise(int shape) { return shape == kKbdWindow ? Windows().kbdLong : Windows().sineLong; }
const float* LongFall(int shape) { return shape == kKbdWindow ? Windows().kbdLongFall : Windows().sineLongFall; }
const float* ShortRise(int shape) { return shape == kKbdWindow ? Windows().kbdShort : Windows().sineShort; }
const float* ShortFall(int shape) { return shape == kKbdWindow ? Windows().kbdShortFall : Windows().sineShortFall; }

// cos/sin of an angle advanced by a fixed step, in float as the transforms expect.
struct Rotation {
  float c, s;
  float stepC, stepS;
  void Advance() {
    const float c0 = c;
    c = c0 * stepC - s * stepS;
    s = s * stepC + c0 * stepS;
  }
};

// theta_n = 2 pi (n + 1/8) / N: starts at pi / (4N), steps by 2 pi / N.  The constants are the
// float values of those angles' cosines and sines.
constexpr Rotation kLongRotation = {0.99999994f, 0.0003834952f, 0.9999953f, 0.0030679568f};
constexpr Rotation kShortRotation = {0.9999953f, 0.0030679568f, 0.9996988f, 0.024541229f};

// The inverse transform's rotation: the same angles from the double-precision cosines.
Rotation InverseRotation(int n) {
  const double step = 2.0 * std::numbers::pi / n;
  const double start = step / 8.0;
  return {static_cast<float>(std::cos(start)), static_cast<float>(std::sin(start)),
          static_cast<float>(std::cos(step)), static_cast<float>(std::sin(step))};
}

// The first n/4 values of a rotation's recurrence.
struct RotationTable {
  alignas(32) float c[kLongN / 4];
  alignas(32) float s[kLongN / 4];
};

void FillRotation(RotationTable& t, Rotation r, int n) {
  for (int i = 0; i < n / 4; ++i) {
    t.c[i] = r.c;
    t.s[i] = r.s;
    r.Advance();
  }
}

struct RotationTables {
  RotationTable longForward, shortForward, longInverse, shortInverse;
};

const RotationTables& Rotations() {
  static const RotationTables tables = [] {
    RotationTables t;
    FillRotation(t.longForward, kLongRotation, kLongN);
    FillRotation(t.shortForward, kShortRotation, kShortN);
    FillRotation(t.longInverse, InverseRotation(kLongN), kLongN);
    FillRotation(t.shortInverse, InverseRotation(kShortN), kShortN);
    return t;
  }();
  return tables;
}

// Forward MDCT of n windowed samples in place: fold into n/4 complex values, pre-rotate,
// FFT, post-rotate, and write X[k] with its mirror X[n-1-k] = -X[k].
void Mdct(float* buf, int n, const dsp::FftSpec* spec, const RotationTable& rot, FilterbankState& fb) {
  const int n2 = n / 2, n4 = n / 4, n8 = n / 8, n34 = 3 * n / 4, n54 = 5 * n / 4;
  float* folded = fb.fftWork[0];
  float* fft = fb.fftWork[0] + kLongHalf;
  const float* c = rot.c;
  const float* s = rot.s;
  for (int i = 0; i < n8; ++i) {
    const float re = buf[n34 + 2 * i] + buf[n34 - 1 - 2 * i];
    const float im = buf[n4 + 2 * i] - buf[n4 - 1 - 2 * i];
    folded[2 * i] = re * c[i] + im * s[i];
    folded[2 * i + 1] = im * c[i] - re * s[i];
  }
  for (int i = n8; i < n4; ++i) {
    const float re = buf[n34 - 1 - 2 * i] - buf[2 * i - n4];
    const float im = buf[n54 - 1 - 2 * i] + buf[n4 + 2 * i];
    folded[2 * i] = re * c[i] + im * s[i];
    folded[2 * i + 1] = im * c[i] - re * s[i];
  }
  dsp::FftComplexForward(folded, fft, spec, fb.fftWork[1]);
  for (int i = 0; i < n4; ++i) {
    const float a = fft[2 * i], b = fft[2 * i + 1];
    const float outA = 2.0f * (s[i] * b + c[i] * a);
    const float outB = 2.0f * (c[i] * b - s[i] * a);
    buf[2 * i] = -outA;
    buf[n - 1 - 2 * i] = outA;
    buf[n2 - 1 - 2 * i] = outB;
    buf[n2 + 2 * i] = -outB;
  }
}

// Multiplies a 2048-sample block by the window of a long sequence (ONLY_LONG, LONG_START,
// LONG_STOP); src and dst must not overlap.
void WindowLongBlock(const float* src, float* dst, int windowSequence, int windowShape,
                     int prevWindowShape) {
  constexpr int kFlatEnd = kLongHalf - kShortBlockOffset;  // 576: end of LONG_STOP's flat part
  if (windowSequence == kLongStop) {
    dsp::VecZero(dst, kShortBlockOffset);
    dsp::VecMul(src + kShortBlockOffset, ShortRise(prevWindowShape), dst + kShortBlockOffset, kShortHalf);
    dsp::VecCopy(src + kFlatEnd, dst + kFlatEnd, kLongHalf - kFlatEnd);
  } else {
    dsp::VecMul(src, LongRise(prevWindowShape), dst, kLongHalf);
  }
  if (windowSequence == kLongStart) {
    constexpr int kShortStart = kLongHalf + kShortBlockOffset;  // 1472
    constexpr int kZeroStart = kShortStart + kShortHalf;        // 1600
    dsp::VecCopy(src + kLongHalf, dst + kLongHalf, kShortBlockOffset);
    dsp::VecMul(src + kShortStart, ShortFall(windowShape), dst + kShortStart, kShortHalf);
    dsp::VecZero(dst + kZeroStart, kLongN - kZeroStart);
  } else {
    dsp::VecMul(src + kLongHalf, LongFall(windowShape), dst + kLongHalf, kLongHalf);
  }
}

// One short window: [rise of leftShape | fall of rightShape] over 256 samples.
void WindowShortBlock(const float* src, float* dst, int leftShape, int rightShape) {
  dsp::VecMul(src, ShortRise(leftShape), dst, kShortHalf);
  dsp::VecMul(src + kShortHalf, ShortFall(rightShape), dst + kShortHalf, kShortHalf);
}

}  // namespace

const float* SineWindowLong() { return Windows().sineLong; }
const float* SineWindowShort() { return Windows().sineShort; }
const float* KbdWindowLong() { return Windows().kbdLong; }
const float* KbdWindowShort() { return Windows().kbdShort; }

int FilterbankInit(FilterbankState& fb) {
  Windows();  // build the tables here rather than inside the first frame
  Rotations();
  FilterbankRelease(fb);
  std::memset(fb.fftWork, 0, sizeof(fb.fftWork));
  const int status512 = dsp::FftComplexSpecCreate(&fb.fft512, 9, dsp::kFftDivInvByN, 0);
  const int status64 = dsp::FftComplexSpecCreate(&fb.fft64, 6, dsp::kFftDivInvByN, 0);
  if (status512 != dsp::kStsOk || status64 != dsp::kStsOk || !fb.fft512 || !fb.fft64) {
    FilterbankRelease(fb);
    return 1;
  }
  return 0;
}

void FilterbankRelease(FilterbankState& fb) {
  if (fb.fft512) dsp::FftComplexSpecFree(fb.fft512);
  if (fb.fft64) dsp::FftComplexSpecFree(fb.fft64);
  fb.fft512 = nullptr;
  fb.fft64 = nullptr;
}

void LongMdct(float* buffer, FilterbankState& fb) { Mdct(buffer, kLongN, fb.fft512, Rotations().longForward, fb); }

void ShortMdct(float* buffer, FilterbankState& fb) { Mdct(buffer, kShortN, fb.fft64, Rotations().shortForward, fb); }

// x[n] = (2/N) sum_k X[k] cos(2 pi / N (n + (N/2 + 1)/2)(k + 1/2)), times 4/N because the
// FFT spec divides its inverse by N/4.
void Imdct(float* buffer, int n, FilterbankState& fb) {
  if (n != kLongN && n != kShortN) return;
  const dsp::FftSpec* spec = n == kLongN ? fb.fft512 : fb.fft64;
  const int n2 = n / 2, n4 = n / 4, n8 = n / 8, n34 = 3 * n / 4, n54 = 5 * n / 4;
  const RotationTable& rot = n == kLongN ? Rotations().longInverse : Rotations().shortInverse;
  const float* c = rot.c;
  const float* s = rot.s;
  float* folded = fb.fftWork[0];
  float* fft = fb.fftWork[0] + kLongHalf;
  for (int k = 0; k < n4; ++k) {
    const float re = -buffer[2 * k];
    const float im = buffer[n2 - 1 - 2 * k];
    folded[2 * k] = re * c[k] - im * s[k];
    folded[2 * k + 1] = im * c[k] + re * s[k];
  }
  dsp::FftComplexInverse(folded, fft, spec, fb.fftWork[1]);
  const float scale = 2.0f / static_cast<float>(n);
  for (int k = 0; k < n4; ++k) {
    const float a = fft[2 * k], b = fft[2 * k + 1];
    const float outA = (c[k] * a - s[k] * b) * scale;
    const float outB = (s[k] * a + c[k] * b) * scale;
    buffer[n34 - 1 - 2 * k] = outA;
    if (k < n8) {
      buffer[n34 + 2 * k] = outA;
      buffer[n4 - 1 - 2 * k] = -outB;
    } else {
      buffer[2 * k - n4] = -outA;
      buffer[n54 - 1 - 2 * k] = outB;
    }
    buffer[n4 + 2 * k] = outB;
  }
}

void AnalysisFilterbank(const float* time, float* spectrum, float* olderFrame, int* firstCall,
                        int windowSequence, int windowShape, int prevWindowShape, int mode,
                        FilterbankState& fb) {
  alignas(32) float block[kLongN];
  if (mode == 0) {
    if (firstCall && *firstCall) {
      dsp::VecZero(block, kLongHalf);
      *firstCall = 0;
    } else {
      dsp::VecCopy(olderFrame, block, kLongHalf);
    }
    dsp::VecCopy(time, block + kLongHalf, kLongHalf);
    dsp::VecCopy(time, olderFrame, kLongHalf);
  } else {
    dsp::VecCopy(time, block, kLongN);
  }

  if (windowSequence != kEightShort) {
    WindowLongBlock(block, spectrum, windowSequence, windowShape, prevWindowShape);
    LongMdct(spectrum, fb);
    return;
  }
  alignas(32) float shortBlock[kShortN];
  for (int w = 0; w < kNumShortWindows; ++w) {
    const int offset = mode == 0 ? kShortBlockOffset + kShortHalf * w : kShortN * w;
    WindowShortBlock(block + offset, shortBlock, w == 0 ? prevWindowShape : windowShape, windowShape);
    ShortMdct(shortBlock, fb);
    dsp::VecCopy(shortBlock, spectrum + kShortLength * w, kShortLength);
  }
}

void SynthesisFilterbank(const float* spectrum, float* out, int windowSequence, int windowShape,
                         int prevWindowShape, int mode, FilterbankState& fb) {
  if (windowSequence != kEightShort) {
    alignas(32) float block[kLongN];
    dsp::VecCopy(spectrum, block, kLongHalf);
    Imdct(block, kLongN, fb);
    WindowLongBlock(block, out, windowSequence, windowShape, prevWindowShape);
    return;
  }
  alignas(32) float shortBlock[kShortN];
  alignas(32) float windowed[kShortN];
  if (mode == 0) dsp::VecZero(out, kLongN);
  for (int w = 0; w < kNumShortWindows; ++w) {
    dsp::VecCopy(spectrum + kShortLength * w, shortBlock, kShortLength);
    Imdct(shortBlock, kShortN, fb);
    const int leftShape = w == 0 ? prevWindowShape : windowShape;
    if (mode == 0) {
      WindowShortBlock(shortBlock, windowed, leftShape, windowShape);
      float* dst = out + kShortBlockOffset + kShortHalf * w;
      dsp::VecAdd(windowed, dst, dst, kShortN);
    } else {
      WindowShortBlock(shortBlock, out + kShortN * w, leftShape, windowShape);
    }
  }
}

}  // namespace aacs::enc
