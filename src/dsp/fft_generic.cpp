// dsp/fft_generic.cpp — the portable FFT passes and the transform primitives built on them.
#include "dsp/fft_internal.h"
#include "dsp/generic_primitives.h"

namespace aacs::dsp::generic {
namespace {

// Length-4 DFTs of x[r + t n/4] (t = 0..3), stored in natural order at rev4[r] in the
// split arrays.  sr/si step over interleaved pairs.
void FirstPass(const FftCore& core, const float* sr, const float* si, float* re, float* im) {
  const std::size_t q = core.n / 4;
  for (std::size_t r = 0; r < q; ++r) {
    const float a0r = sr[2 * r], a0i = si[2 * r];
    const float a1r = sr[2 * (r + q)], a1i = si[2 * (r + q)];
    const float a2r = sr[2 * (r + 2 * q)], a2i = si[2 * (r + 2 * q)];
    const float a3r = sr[2 * (r + 3 * q)], a3i = si[2 * (r + 3 * q)];
    const float s0r = a0r + a2r, s0i = a0i + a2i, s1r = a0r - a2r, s1i = a0i - a2i;
    const float s2r = a1r + a3r, s2i = a1i + a3i, s3r = a1r - a3r, s3i = a1i - a3i;
    const std::uint32_t p = core.rev4[r];
    re[p] = s0r + s2r;
    im[p] = s0i + s2i;
    re[p + 1] = s1r + s3i;  // s1 - i s3
    im[p + 1] = s1i - s3r;
    re[p + 2] = s0r - s2r;
    im[p + 2] = s0i - s2i;
    re[p + 3] = s1r - s3i;  // s1 + i s3
    im[p + 3] = s1i + s3r;
  }
}

// One group of the radix-4 pass.  The quarters and twiddle rows are disjoint arrays; saying
// so (restrict) lets the compiler vectorise the loop for whatever the target offers.
void Radix4Group(std::size_t h, const float* __restrict w1r, const float* __restrict w1i,
                 const float* __restrict w2r, const float* __restrict w2i, const float* __restrict w3r,
                 const float* __restrict w3i, float* __restrict r0, float* __restrict i0,
                 float* __restrict r1, float* __restrict i1, float* __restrict r2, float* __restrict i2,
                 float* __restrict r3, float* __restrict i3) {
  for (std::size_t j = 0; j < h; ++j) {
    const float t1r = w1r[j] * r2[j] - w1i[j] * i2[j], t1i = w1r[j] * i2[j] + w1i[j] * r2[j];
    const float t2r = w2r[j] * r1[j] - w2i[j] * i1[j], t2i = w2r[j] * i1[j] + w2i[j] * r1[j];
    const float t3r = w3r[j] * r3[j] - w3i[j] * i3[j], t3i = w3r[j] * i3[j] + w3i[j] * r3[j];
    const float s0r = r0[j] + t2r, s0i = i0[j] + t2i, s1r = r0[j] - t2r, s1i = i0[j] - t2i;
    const float s2r = t1r + t3r, s2i = t1i + t3i, s3r = t1r - t3r, s3i = t1i - t3i;
    r0[j] = s0r + s2r;
    i0[j] = s0i + s2i;
    r1[j] = s1r + s3i;  // s1 - i s3
    i1[j] = s1i - s3r;
    r2[j] = s0r - s2r;
    i2[j] = s0i - s2i;
    r3[j] = s1r - s3i;  // s1 + i s3
    i3[j] = s1i + s3r;
  }
}

// Combines four DFTs of length h into one of length 4h.  With bit-reversed ordering the
// quarters hold the subsequences of residue 0, 2, 1, 3 (mod 4), hence W^j on the third
// quarter and W^2j on the second.
void Radix4Pass(std::size_t n, std::size_t h, const float* tw, float* re, float* im) {
  for (std::size_t b = 0; b < n; b += 4 * h) {
    Radix4Group(h, tw, tw + h, tw + 2 * h, tw + 3 * h, tw + 4 * h, tw + 5 * h, re + b, im + b, re + b + h,
                im + b + h, re + b + 2 * h, im + b + 2 * h, re + b + 3 * h, im + b + 3 * h);
  }
}

void Radix2Halves(std::size_t h, const float* __restrict wr, const float* __restrict wi,
                  float* __restrict r0, float* __restrict i0, float* __restrict r1, float* __restrict i1) {
  for (std::size_t k = 0; k < h; ++k) {
    const float tr = wr[k] * r1[k] - wi[k] * i1[k];
    const float ti = wr[k] * i1[k] + wi[k] * r1[k];
    const float er = r0[k], ei = i0[k];
    r0[k] = er + tr;
    i0[k] = ei + ti;
    r1[k] = er - tr;
    i1[k] = ei - ti;
  }
}

// The closing pass of odd orders: X[k] = E[k] + W^k O[k], X[k + n/2] = E[k] - W^k O[k].
void Radix2Pass(std::size_t n, const float* tw, float* re, float* im) {
  const std::size_t h = n / 2;
  Radix2Halves(h, tw, tw + h, re, im, re + h, im + h);
}

// Interleaves the split result into dst (the inverse passes the parts swapped back).
void Interleave(std::size_t n, const float* __restrict first, const float* __restrict second, float scale,
                float* __restrict dst) {
  for (std::size_t k = 0; k < n; ++k) {
    dst[2 * k] = first[k] * scale;
    dst[2 * k + 1] = second[k] * scale;
  }
}

int ComplexTransform(const float* src, float* dst, const FftSpec* spec, float* work, bool inverse) {
  if (int st = CheckTransform(src, dst, spec, kFftKindComplex)) return st;
  FftWork buffer(spec, work);
  if (buffer.data == nullptr) return kStsMemAllocErr;
  const std::size_t n = spec->core.n;
  float* re = buffer.data;
  float* im = buffer.data + n;
  ComplexToSplit(spec->core, src, inverse, re, im);
  if (inverse) {
    Interleave(n, im, re, spec->inverseScale, dst);
  } else {
    Interleave(n, re, im, spec->forwardScale, dst);
  }
  return kStsOk;
}

}  // namespace

void ComplexToSplit(const FftCore& core, const float* src, bool swapInput, float* re, float* im) {
  const float* sr = src + (swapInput ? 1 : 0);
  const float* si = src + (swapInput ? 0 : 1);
  if (core.order == 0) {
    re[0] = sr[0];
    im[0] = si[0];
    return;
  }
  if (core.order == 1) {
    re[0] = sr[0] + sr[2];
    im[0] = si[0] + si[2];
    re[1] = sr[0] - sr[2];
    im[1] = si[0] - si[2];
    return;
  }
  FirstPass(core, sr, si, re, im);
  for (std::size_t h = 4; 4 * h <= core.n; h *= 4) {
    Radix4Pass(core.n, h, core.radix4Twiddles + Radix4PassOffset(h), re, im);
  }
  if (core.radix2Twiddles != nullptr) Radix2Pass(core.n, core.radix2Twiddles, re, im);
}

// X[k] = E[k] + W^k O[k] and X[N/2 - k] = conj(E[k] - W^k O[k]), where E and O are the
// spectra of the even and odd samples: E = (Z[k] + conj Z[n-k]) / 2, O = (Z[k] - conj Z[n-k]) / 2i.
void RealUntangle(const FftSpec& spec, const float* re, const float* im, float* dst) {
  const std::size_t n = spec.core.n;  // complex points = N / 2
  const float scale = spec.forwardScale;
  const float half = 0.5f * scale;
  dst[0] = (re[0] + im[0]) * scale;
  dst[1] = (re[0] - im[0]) * scale;
  for (std::size_t k = 1; k < n / 2; ++k) {
    const float ar = re[k], ai = im[k], br = re[n - k], bi = im[n - k];
    const float er = ar + br, ei = ai - bi, or_ = ai + bi, oi = br - ar;  // 2E and 2O
    const float c = spec.realCos[k], s = spec.realSin[k];
    const float tr = c * or_ - s * oi, ti = c * oi + s * or_;
    dst[2 * k] = (er + tr) * half;
    dst[2 * k + 1] = (ei + ti) * half;
    dst[2 * (n - k)] = (er - tr) * half;
    dst[2 * (n - k) + 1] = (ti - ei) * half;
  }
  if (n >= 2) {  // X[N/4] = conj Z[N/4]
    dst[n] = re[n / 2] * scale;
    dst[n + 1] = -im[n / 2] * scale;
  }
}

int FftComplexForward(const float* src, float* dst, const FftSpec* spec, float* work) {
  return ComplexTransform(src, dst, spec, work, false);
}

int FftComplexInverse(const float* src, float* dst, const FftSpec* spec, float* work) {
  return ComplexTransform(src, dst, spec, work, true);
}

int FftRealForward(const float* src, float* dst, const FftSpec* spec, float* work) {
  if (int st = CheckTransform(src, dst, spec, kFftKindReal)) return st;
  if (spec->order == 0) {
    dst[0] = src[0] * spec->forwardScale;
    return kStsOk;
  }
  FftWork buffer(spec, work);
  if (buffer.data == nullptr) return kStsMemAllocErr;
  const std::size_t n = spec->core.n;
  ComplexToSplit(spec->core, src, false, buffer.data, buffer.data + n);
  RealUntangle(*spec, buffer.data, buffer.data + n, dst);
  return kStsOk;
}

}  // namespace aacs::dsp::generic
