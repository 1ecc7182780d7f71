// api/resampler.cpp — overlap-save lowpass and windowed-sinc interpolation.
//
// Positions are counted in samples of the filtered block (twice the input rate when upsampling
// by two).  A block holds the kept history and the new samples; after filtering, the samples
// from `overlap` onwards are exact linear convolutions, and the interpolator reads output k at
// block position k * step - (block start).  The FFT is the converter's own radix-2 pair: the
// forward pass leaves bit-reversed bins, the gains are stored in that order, and the inverse pass
// takes them back, so no reordering pass is needed.
#include "api/resampler.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "api/stream_context.h"

namespace aacs::api {

static_assert(kResamplerMaxOutputFrames + 1023 <= kMaxWorkFrames,
              "one call's output and the leftover must fit the frame driver's working array");

namespace {

constexpr int kDefaultLength = 485;
constexpr double kDefaultBeta = 10.0;
constexpr double kStopbandPower = 1e-10;   // -100 dB marks the end of the transition band
constexpr double kKernelBeta = 12.5;
constexpr double kKernelCutoff = 0.97;
constexpr float kPiOver128 = 0.024543693f;
constexpr double kKernelWindowSpan = 1047552.0;  // 1023 x 1024
constexpr int kMinHalfLength = 8;
constexpr int kMaxHalfLength = 8192;
constexpr double kPi = 3.14159265358979323846;

// ---- Filter design (creation only, in double) -----------------------------------------------

// Modified Bessel function I0 from its power series sum ((x/2)^k / k!)^2.
double BesselI0(double x) {
  double sum = 1.0, term = 1.0, half = 0.5 * x;
  for (int k = 1; k < 1000; ++k) {
    double f = half / k;
    term *= f * f;
    sum += term;
    if (term < 1e-17 * sum) break;
  }
  return sum;
}

// Taps h[0..L] of a zero-phase Kaiser-windowed sinc; `c` is the cutoff relative to Nyquist.
void KaiserSinc(double* h, int L, double beta, double c) {
  double i0Beta = BesselI0(beta);
  h[0] = c;
  for (int n = 1; n <= L; ++n) {
    double r = n / (L + 0.5);
    h[n] = BesselI0(beta * std::sqrt(1.0 - r * r)) / i0Beta * std::sin(kPi * n * c) / (kPi * n);
  }
}

// H[k] for k = 0..N/2 of the symmetric filter placed at 0 with wrap-around (real, since
// h[N-n] = h[n]).
void SymmetricSpectrum(const double* h, int L, int N, const double* cosTable, double* H) {
  for (int k = 0; k <= N / 2; ++k) {
    double sum = h[0];
    for (int n = 1; n <= L; ++n) sum += 2.0 * h[n] * cosTable[(int64_t(k) * n) & (N - 1)];
    H[k] = sum;
  }
}

void BuildInterpolationKernel(Resampler& rs) {
  float* t = rs.interpTable;
  double i0 = BesselI0(kKernelBeta);
  t[0] = float(kKernelCutoff);
  for (int i = 1; i < 8 * kInterpPhases; ++i) {
    double x = i * double(kPiOver128);
    double w = BesselI0(kKernelBeta * std::sqrt(1.0 - double(i) * i / kKernelWindowSpan)) / i0;
    t[i] = float(w * std::sin(kKernelCutoff * x) / x);
  }
  for (int i = 8 * kInterpPhases; i < kInterpTableSize; ++i) t[i] = 0.0f;
  // Tap j of phase p weighs block sample (index - 7 + j) for a read position index + p/128.
  for (int p = 0; p <= kInterpPhases; ++p) {
    for (int j = 0; j < kInterpTaps; ++j) {
      int offset = j - 7;
      int at = offset <= 0 ? -offset * kInterpPhases + p : offset * kInterpPhases - p;
      rs.kernel[p * kInterpTaps + j] = t[at];
    }
  }
}

int BitReverse(int v, int bits) {
  int r = 0;
  for (int b = 0; b < bits; ++b, v >>= 1) r = (r << 1) | (v & 1);
  return r;
}

// Designs the prototype (cutoff 0.5) to learn the transition width, chooses the cutoff and the
// mode, and fills response[] and binGain[] with the final lowpass.  Returns false when no
// positive cutoff results.
bool DesignLowpass(Resampler& rs, double beta, double cutoffA, double cutoffB) {
  const int L = rs.halfLength, N = rs.fftLength;
  std::unique_ptr<double[]> h(new (std::nothrow) double[L + 1]);
  std::unique_ptr<double[]> H(new (std::nothrow) double[N / 2 + 1]);
  std::unique_ptr<double[]> cosTable(new (std::nothrow) double[N]);
  if (!h || !H || !cosTable) return false;
  for (int i = 0; i < N; ++i) cosTable[i] = std::cos(2.0 * kPi * i / N);

  KaiserSinc(h.get(), L, beta, 0.5);
  SymmetricSpectrum(h.get(), L, N, cosTable.get(), H.get());
  int k = N / 2;
  while (k > 0 && H[k] * H[k] < H[0] * H[0] * kStopbandPower) --k;
  double t = double(k - N / 4) / (N / 4);

  double ratio = rs.ratio, cutoff;
  int decimating = 0;
  if (cutoffA >= 0) {
    decimating = cutoffA < 0.5 - t;
    cutoff = decimating ? 2.0 * cutoffA : cutoffA;
  } else if (cutoffB >= 0) {
    decimating = cutoffB <= 0.5;
    cutoff = decimating ? 2.0 * cutoffB - t : cutoffB - t;
  } else {
    // The stopband starts at the new Nyquist frequency; when that is well below the input's,
    // filter at the input rate, otherwise upsample by two so the interpolator sees a signal
    // that fills at most half its band.
    cutoff = ratio - t;
    if (cutoff < 0.5 - t / 2) {
      decimating = 1;
      cutoff = 2.0 * ratio - t;
    }
    cutoff = std::min(cutoff, 1.0 - t);
  }
  cutoff = std::min(cutoff, 2.0);
  if (!(cutoff > 0.0)) return false;
  rs.transition = float(t);
  rs.cutoff = float(cutoff);
  rs.decimating = decimating;

  KaiserSinc(h.get(), L, beta, cutoff / 2);
  SymmetricSpectrum(h.get(), L, N, cosTable.get(), H.get());
  double scale = 1.0 / ((decimating + 1) * (N / 2));
  for (int i = 0; i <= N / 2; ++i) rs.response[i] = float(H[i] * scale);
  for (int p = 0; p < N; ++p) {
    int bin = BitReverse(p, rs.order);
    rs.binGain[p] = rs.response[bin <= N / 2 ? bin : N - bin];
  }
  return true;
}

// ---- FFT ------------------------------------------------------------------------------------

// Forward transform of n complex values in place, decimation in frequency: natural order in,
// bit-reversed order out.  Twiddles come from the N-point table with stride N/n.
void FftForward(float* z, int n, const float* tw, int N) {
  for (int half = n / 2, tstep = N / n; half >= 1; half /= 2, tstep *= 2) {
    for (int j = 0; j < half; ++j) {
      float wr = tw[2 * j * tstep], wi = tw[2 * j * tstep + 1];
      for (int s = j; s < n; s += 2 * half) {
        float* a = z + 2 * s;
        float* b = z + 2 * (s + half);
        float dr = a[0] - b[0], di = a[1] - b[1];
        a[0] += b[0];
        a[1] += b[1];
        b[0] = dr * wr - di * wi;
        b[1] = dr * wi + di * wr;
      }
    }
  }
}

// Unnormalised inverse transform of N complex values, decimation in time: bit-reversed in,
// natural out.
void FftInverse(float* z, int N, const float* tw) {
  for (int half = 1, tstep = N / 2; half < N; half *= 2, tstep /= 2) {
    for (int j = 0; j < half; ++j) {
      float wr = tw[2 * j * tstep], wi = -tw[2 * j * tstep + 1];
      for (int s = j; s < N; s += 2 * half) {
        float* a = z + 2 * s;
        float* b = z + 2 * (s + half);
        float tr = b[0] * wr - b[1] * wi, ti = b[0] * wi + b[1] * wr;
        b[0] = a[0] - tr;
        b[1] = a[1] - ti;
        a[0] += tr;
        a[1] += ti;
      }
    }
  }
}

// Lowpass of the complex block in fftBuffer; with upsampling the N/2-point spectrum repeats
// into both halves of the N-point one, which zero-stuffs the block before filtering (the gain
// of two in response[] makes up for the stuffed zeros).
void FilterBlock(Resampler& rs) {
  float* z = rs.fftBuffer;
  const int N = rs.fftLength;
  const float* g = rs.binGain;
  if (rs.decimating) {
    FftForward(z, N, rs.twiddles, N);
    for (int p = 0; p < N; ++p) {
      z[2 * p] *= g[p];
      z[2 * p + 1] *= g[p];
    }
  } else {
    FftForward(z, N / 2, rs.twiddles, N);
    // Bit-reversed position q of the half-size spectrum feeds positions 2q and 2q+1 of the
    // full one; going downwards never overwrites a value still to be read.
    for (int q = N / 2 - 1; q >= 0; --q) {
      float xr = z[2 * q], xi = z[2 * q + 1];
      z[4 * q] = xr * g[2 * q];
      z[4 * q + 1] = xi * g[2 * q];
      z[4 * q + 2] = xr * g[2 * q + 1];
      z[4 * q + 3] = xi * g[2 * q + 1];
    }
  }
  FftInverse(z, N, rs.twiddles);
}

// ---- Blocks and interpolation ---------------------------------------------------------------

// Real part: `nRe` new samples of channel a after the history; imaginary part: `nIm` samples of
// channel b starting `offsetIm` samples into its stretch.  The rest of the block is zero.
void LoadBlock(Resampler& rs, int a, int nRe, int b, int offsetIm, int nIm) {
  float* z = rs.fftBuffer;
  const int H = rs.historyLength, len = rs.blockLength;
  const float* re = rs.input + a * rs.inputStride;
  const float* im = rs.input + b * rs.inputStride + offsetIm;
  for (int j = 0; j < len; ++j) {
    z[2 * j] = j < H + nRe ? re[j] : 0.0f;
    z[2 * j + 1] = j < H + nIm ? im[j] : 0.0f;
  }
}

enum Parts { kRealAndImag, kRealOnly, kImagOnly };

// Output frames [from, to) of this call for one lane; `shift` moves the call's positions into a
// block that starts later.
void Interpolate(Resampler& rs, int from, int to, int shift, int channel, Parts parts) {
  const float* g = rs.fftBuffer;
  const int C = rs.channels;
  for (int j = from; j < to; ++j) {
    const InterpPosition& q = rs.positions[j];
    const float* w0 = rs.kernel + q.phase * kInterpTaps;
    const float* w1 = w0 + kInterpTaps;
    const float* x = g + 2 * (q.index - shift - 7);
    float re = 0.0f, im = 0.0f;
    for (int t = 0; t < kInterpTaps; ++t) {
      float w = w0[t] + q.rem * (w1[t] - w0[t]);
      re += w * x[2 * t];
      im += w * x[2 * t + 1];
    }
    float* o = rs.outBuffer + int64_t(j) * C + channel;
    if (parts == kRealAndImag) {
      o[0] = re;
      o[1] = im;
    } else {
      o[0] = parts == kRealOnly ? re : im;
    }
  }
}

int Upsampling(const Resampler& rs) { return rs.decimating ? 1 : 2; }

// Runs `frames` new frames (already in `input`) through every lane and produces the output
// frames whose positions these frames complete, but none at or beyond `limit`.
int RunBlocks(Resampler& rs, int frames, double limit) {
  const int U = Upsampling(rs), C = rs.channels, ov = rs.overlap;
  const double blockStart = double(U) * double(rs.inputCount) - 2.0 * ov;
  const double bound = std::min(double(U) * double(rs.inputCount + frames) - ov, limit);
  int n = 0;
  for (int64_t k = rs.outputCount; n < rs.outCapacity; ++k, ++n) {
    double p = double(k) * rs.step;
    if (p >= bound) break;
    double at = p - blockStart;
    double whole = std::floor(at);
    double phase = (at - whole) * kInterpPhases;
    InterpPosition& q = rs.positions[n];
    q.index = int(whole);
    q.phase = std::min(int(phase), kInterpPhases - 1);
    q.rem = float(phase - q.phase);
  }
  for (int c = 0; c + 1 < C; c += 2) {
    LoadBlock(rs, c, frames, c + 1, 0, frames);
    FilterBlock(rs);
    Interpolate(rs, 0, n, 0, c, kRealAndImag);
  }
  if (C & 1) {
    // The first half of the frames in the real part, the second half (with its own history,
    // the end of the first half) in the imaginary part.
    const int first = (frames + 1) / 2, c = C - 1;
    LoadBlock(rs, c, first, c, first, frames - first);
    FilterBlock(rs);
    int split = 0;
    while (split < n && rs.positions[split].index < ov + U * first) ++split;
    Interpolate(rs, 0, split, 0, c, kRealOnly);
    Interpolate(rs, split, n, U * first, c, kImagOnly);
  }
  rs.outputCount += n;
  return n;
}

// Frames per call: one block per lane (two for a single channel), fewer when the ratio would
// make one call's output exceed kResamplerMaxOutputFrames.  A span of F input frames holds at
// most floor(F * ratio) + 1 output positions; the margin of one more frame covers rounding.
int ChooseFramesPerCall(const Resampler& rs) {
  int frames = rs.channels == 1 ? 2 * rs.validLength : rs.validLength;
  double cap = std::floor((kResamplerMaxOutputFrames - 2) / double(rs.ratio));
  return int(std::min<double>(frames, cap));
}

size_t Floats32(size_t count) { return (count + 7) & ~size_t(7); }

bool AllocateBuffers(Resampler& rs) {
  const int N = rs.fftLength;
  size_t positionsFloats = Floats32(size_t(rs.outCapacity) * sizeof(InterpPosition) / sizeof(float));
  size_t sizes[] = {Floats32(2 * size_t(N)),        Floats32(size_t(N)),
                    Floats32(size_t(N) / 2 + 1),    Floats32(size_t(N)),
                    Floats32(kInterpTableSize),     Floats32((kInterpPhases + 1) * kInterpTaps),
                    Floats32(size_t(rs.channels) * rs.inputStride), positionsFloats,
                    Floats32(size_t(rs.channels) * rs.outCapacity)};
  size_t total = 0;
  for (size_t s : sizes) total += s;
  auto* base = static_cast<float*>(::operator new(total * sizeof(float), std::align_val_t{32}, std::nothrow));
  if (!base) return false;
  std::memset(base, 0, total * sizeof(float));
  rs.arena = base;
  float* p = base;
  float** slots[] = {&rs.fftBuffer, &rs.binGain, &rs.response, &rs.twiddles, &rs.interpTable,
                     &rs.kernel,    &rs.input};
  for (int i = 0; i < 7; ++i) {
    *slots[i] = p;
    p += sizes[i];
  }
  rs.positions = reinterpret_cast<InterpPosition*>(p);
  p += sizes[7];
  rs.outBuffer = p;
  return true;
}

// Sets the block geometry for the chosen mode; false when the lowpass leaves no room for new
// samples (a very short filter).
bool SetGeometry(Resampler& rs) {
  const int U = Upsampling(rs);
  rs.overlap = rs.halfLength + 9;
  rs.blockLength = rs.fftLength / U;
  rs.historyLength = 2 * rs.overlap / U;
  rs.validLength = rs.blockLength - rs.historyLength;
  rs.flushFrames = (rs.overlap + U - 1) / U;
  if (rs.validLength < rs.flushFrames) return false;
  rs.step = U / double(rs.ratio);
  rs.framesPerCall = ChooseFramesPerCall(rs);
  if (rs.framesPerCall < 1) return false;
  rs.inputStride = int(Floats32(size_t(rs.historyLength) + std::max(rs.framesPerCall, rs.flushFrames)));
  int callFrames = int(std::floor(rs.framesPerCall * double(rs.ratio))) + 2;
  int flushFrames = int(std::floor(rs.overlap / rs.step)) + 2;
  rs.outCapacity = std::max(callFrames, flushFrames);
  return true;
}

}  // namespace

Resampler* ResamplerCreate(float ratio, int channels, int length, float beta, float cutoffA,
                           float cutoffB, int* samplesPerCall) {
  if (channels < 1 || channels > kResamplerMaxChannels) return nullptr;
  if (length == -1) length = kDefaultLength;
  double kaiserBeta = beta < 0 ? kDefaultBeta : beta;
  if (ratio < 0) ratio = 1.0f;
  if (!(ratio > 0) || !std::isfinite(ratio)) return nullptr;
  const int L = length / 2;
  if (L < kMinHalfLength || L > kMaxHalfLength) return nullptr;

  auto* rs = static_cast<Resampler*>(::operator new(sizeof(Resampler), std::align_val_t{32}, std::nothrow));
  if (!rs) return nullptr;
  std::memset(static_cast<void*>(rs), 0, sizeof *rs);
  rs->channels = channels;
  rs->ratio = ratio;
  rs->halfLength = L;
  rs->order = 2;
  while ((1 << rs->order) < 8 * L) rs->order += 2;
  rs->fftLength = 1 << rs->order;

  // The lowpass is designed into a scratch record first: the geometry (and so the buffer sizes)
  // depends on the mode it picks.
  Resampler design = *rs;
  std::unique_ptr<float[]> gains(new (std::nothrow) float[size_t(rs->fftLength) * 3 / 2 + 1]);
  if (!gains) {
    ResamplerFree(rs);
    return nullptr;
  }
  design.binGain = gains.get();
  design.response = gains.get() + rs->fftLength;
  if (!DesignLowpass(design, kaiserBeta, cutoffA, cutoffB)) {
    ResamplerFree(rs);
    return nullptr;
  }
  rs->decimating = design.decimating;
  rs->transition = design.transition;
  rs->cutoff = design.cutoff;
  if (!SetGeometry(*rs) || !AllocateBuffers(*rs)) {
    ResamplerFree(rs);
    return nullptr;
  }
  std::memcpy(rs->binGain, design.binGain, sizeof(float) * rs->fftLength);
  std::memcpy(rs->response, design.response, sizeof(float) * (rs->fftLength / 2 + 1));
  for (int k = 0; k < rs->fftLength / 2; ++k) {
    rs->twiddles[2 * k] = float(std::cos(2.0 * kPi * k / rs->fftLength));
    rs->twiddles[2 * k + 1] = float(-std::sin(2.0 * kPi * k / rs->fftLength));
  }
  BuildInterpolationKernel(*rs);
  if (samplesPerCall) *samplesPerCall = rs->framesPerCall * channels;
  return rs;
}

int ResamplerProcess(Resampler* rs, const int16_t* in, int count, const float** out) {
  if (!rs) return -1;
  if (out) *out = rs->outBuffer;
  const int C = rs->channels;
  if (rs->flushed || count < 0 || count % C != 0 || count > rs->framesPerCall * C || (count && !in))
    return -1;
  const int frames = count / C, H = rs->historyLength;
  for (int c = 0; c < C; ++c) {
    float* dst = rs->input + c * rs->inputStride + H;
    for (int j = 0; j < frames; ++j) dst[j] = float(in[j * C + c]);
  }
  int produced = frames ? RunBlocks(*rs, frames, HUGE_VAL) : 0;
  for (int c = 0; c < C; ++c) {
    float* lane = rs->input + c * rs->inputStride;
    std::memmove(lane, lane + frames, sizeof(float) * H);
  }
  rs->inputCount += frames;
  return produced * C;
}

int ResamplerFlush(Resampler* rs, const float** out) {
  if (!rs) return 0;
  if (out) *out = rs->outBuffer;
  if (rs->flushed) return 0;
  rs->flushed = 1;
  const int C = rs->channels, H = rs->historyLength;
  for (int c = 0; c < C; ++c)
    std::fill_n(rs->input + c * rs->inputStride + H, rs->flushFrames, 0.0f);
  // Positions before the end of the input only: the zeros fed here are not part of it.
  double end = double(Upsampling(*rs)) * double(rs->inputCount);
  return RunBlocks(*rs, rs->flushFrames, end) * C;
}

void ResamplerFree(Resampler* rs) {
  if (!rs) return;
  if (rs->arena) ::operator delete(rs->arena, std::align_val_t{32});
  std::memset(static_cast<void*>(rs), 0, sizeof *rs);
  ::operator delete(rs, std::align_val_t{32});
}

}  // namespace aacs::api
