// dsp/x86/fft_kernels.h — the FFT passes as templates over the SIMD traits.
//
// The same passes as the generic code, a register of consecutive butterflies at a time: the
// first pass gathers four strided registers and scatters the length-4 DFTs through a
// transpose; radix-4 and radix-2 passes work in place on the split arrays; the last pass of a
// complex transform writes the interleaved, scaled result straight into the destination.
#pragma once
#include <cstddef>

#include "dsp/fft_internal.h"
#include "dsp/generic_primitives.h"
#include "dsp/x86/simd_traits.h"

namespace aacs::dsp {
namespace {

// Where the results of a pass go: back into the split arrays, or (last pass of a complex
// transform) interleaved and scaled into dst, with the parts swapped back for the inverse.
struct PassOutput {
  float* dst;  // null: in place
  bool swap;
  float scale;
};

template <class S>
struct Cx {
  typename S::V re, im;
};

template <class S>
inline Cx<S> Add(Cx<S> a, Cx<S> b) { return {S::Add(a.re, b.re), S::Add(a.im, b.im)}; }
template <class S>
inline Cx<S> Sub(Cx<S> a, Cx<S> b) { return {S::Sub(a.re, b.re), S::Sub(a.im, b.im)}; }
// a - i b and a + i b.
template <class S>
inline Cx<S> SubTimesI(Cx<S> a, Cx<S> b) { return {S::Add(a.re, b.im), S::Sub(a.im, b.re)}; }
template <class S>
inline Cx<S> AddTimesI(Cx<S> a, Cx<S> b) { return {S::Sub(a.re, b.im), S::Add(a.im, b.re)}; }
template <class S>
inline Cx<S> Twiddle(const float* wr, const float* wi, Cx<S> q) {
  const typename S::V cr = S::Load(wr), ci = S::Load(wi);
  return {S::MulSub(cr, q.re, S::Mul(ci, q.im)), S::MulAdd(cr, q.im, S::Mul(ci, q.re))};
}

template <class S>
inline Cx<S> LoadCx(const float* re, const float* im, std::size_t k) {
  return {S::Load(re + k), S::Load(im + k)};
}

template <class S>
inline void StoreCx(const PassOutput& out, float* re, float* im, std::size_t k, Cx<S> x) {
  if (out.dst == nullptr) {
    S::Store(re + k, x.re);
    S::Store(im + k, x.im);
    return;
  }
  const typename S::V scale = S::Set(out.scale);
  const typename S::V a = S::Mul(out.swap ? x.im : x.re, scale), b = S::Mul(out.swap ? x.re : x.im, scale);
  S::StoreInterleaved(out.dst + 2 * k, a, b);
}

// Needs n / 4 to be a multiple of the register width.
template <class S, bool kSwap>
void FirstPassSimd(const FftCore& core, const float* src, float* re, float* im) {
  const std::size_t q = core.n / 4;
  for (std::size_t r = 0; r < q; r += S::kWidth) {
    Cx<S> a[4];
    for (int t = 0; t < 4; ++t) {
      if (kSwap) {
        S::LoadSplit(src + 2 * (r + t * q), &a[t].im, &a[t].re);
      } else {
        S::LoadSplit(src + 2 * (r + t * q), &a[t].re, &a[t].im);
      }
    }
    const Cx<S> s0 = Add<S>(a[0], a[2]), s1 = Sub<S>(a[0], a[2]);
    const Cx<S> s2 = Add<S>(a[1], a[3]), s3 = Sub<S>(a[1], a[3]);
    const Cx<S> x0 = Add<S>(s0, s2), x1 = SubTimesI<S>(s1, s3), x2 = Sub<S>(s0, s2), x3 = AddTimesI<S>(s1, s3);
    S::Scatter4(x0.re, x1.re, x2.re, x3.re, re, core.rev4 + r);
    S::Scatter4(x0.im, x1.im, x2.im, x3.im, im, core.rev4 + r);
  }
}

// Needs h to be a multiple of the register width.  Quarters hold residues 0, 2, 1, 3.
template <class S>
void Radix4PassSimd(std::size_t n, std::size_t h, const float* tw, float* re, float* im, const PassOutput& out) {
  for (std::size_t base = 0; base < n; base += 4 * h) {
    for (std::size_t j = 0; j < h; j += S::kWidth) {
      const std::size_t k = base + j;
      const Cx<S> q0 = LoadCx<S>(re, im, k);
      const Cx<S> t2 = Twiddle<S>(tw + 2 * h + j, tw + 3 * h + j, LoadCx<S>(re, im, k + h));
      const Cx<S> t1 = Twiddle<S>(tw + j, tw + h + j, LoadCx<S>(re, im, k + 2 * h));
      const Cx<S> t3 = Twiddle<S>(tw + 4 * h + j, tw + 5 * h + j, LoadCx<S>(re, im, k + 3 * h));
      const Cx<S> s0 = Add<S>(q0, t2), s1 = Sub<S>(q0, t2), s2 = Add<S>(t1, t3), s3 = Sub<S>(t1, t3);
      StoreCx<S>(out, re, im, k, Add<S>(s0, s2));
      StoreCx<S>(out, re, im, k + h, SubTimesI<S>(s1, s3));
      StoreCx<S>(out, re, im, k + 2 * h, Sub<S>(s0, s2));
      StoreCx<S>(out, re, im, k + 3 * h, AddTimesI<S>(s1, s3));
    }
  }
}

template <class S>
void Radix2PassSimd(std::size_t n, const float* tw, float* re, float* im, const PassOutput& out) {
  const std::size_t h = n / 2;
  for (std::size_t k = 0; k < h; k += S::kWidth) {
    const Cx<S> e = LoadCx<S>(re, im, k);
    const Cx<S> t = Twiddle<S>(tw + k, tw + h + k, LoadCx<S>(re, im, k + h));
    StoreCx<S>(out, re, im, k, Add<S>(e, t));
    StoreCx<S>(out, re, im, k + h, Sub<S>(e, t));
  }
}

// The untangling pass of the real transform (see generic::RealUntangle); needs n / 2 to be a
// multiple of the register width.  X[n - k] runs downwards, hence the lane reversals.
template <class S>
void RealUntangleSimd(const FftSpec& spec, const float* re, const float* im, float* dst) {
  constexpr std::size_t w = S::kWidth;
  const std::size_t n = spec.core.n;
  const float scale = spec.forwardScale;
  const typename S::V half = S::Set(0.5f * scale);
  for (std::size_t k = w; k < n / 2; k += w) {
    const std::size_t mirror = n - k - (w - 1);
    const typename S::V ar = S::Load(re + k), ai = S::Load(im + k);
    const typename S::V br = S::Reverse(S::Load(re + mirror)), bi = S::Reverse(S::Load(im + mirror));
    const typename S::V er = S::Add(ar, br), ei = S::Sub(ai, bi), odr = S::Add(ai, bi), odi = S::Sub(br, ar);
    const typename S::V c = S::Load(spec.realCos + k), s = S::Load(spec.realSin + k);
    const typename S::V tr = S::MulSub(c, odr, S::Mul(s, odi)), ti = S::MulAdd(c, odi, S::Mul(s, odr));
    S::StoreInterleaved(dst + 2 * k, S::Mul(S::Add(er, tr), half), S::Mul(S::Add(ei, ti), half));
    S::StoreInterleaved(dst + 2 * mirror, S::Reverse(S::Mul(S::Sub(er, tr), half)),
                        S::Reverse(S::Mul(S::Sub(ti, ei), half)));
  }
  // The first register's worth of k, and the two lines without a partner.
  const float h = 0.5f * scale;
  for (std::size_t k = 1; k < w; ++k) {
    const float ar = re[k], ai = im[k], br = re[n - k], bi = im[n - k];
    const float er = ar + br, ei = ai - bi, odr = ai + bi, odi = br - ar;
    const float c = spec.realCos[k], s = spec.realSin[k];
    const float tr = c * odr - s * odi, ti = c * odi + s * odr;
    dst[2 * k] = (er + tr) * h;
    dst[2 * k + 1] = (ei + ti) * h;
    dst[2 * (n - k)] = (er - tr) * h;
    dst[2 * (n - k) + 1] = (ti - ei) * h;
  }
  dst[0] = (re[0] + im[0]) * scale;
  dst[1] = (re[0] - im[0]) * scale;
  dst[n] = re[n / 2] * scale;
  dst[n + 1] = -im[n / 2] * scale;
}

constexpr int kMinSimdOrder = 4;  // smaller complex cores run the generic code

// Every pass of a complex core of order >= kMinSimdOrder.  Passes narrower than a Wide
// register fall back to 128-bit registers.
template <class Wide>
void ComplexPassesSimd(const FftCore& core, const float* src, bool swap, float* re, float* im,
                       const PassOutput& last) {
  const std::size_t n = core.n;
  const PassOutput inPlace{nullptr, false, 1.0f};
  if (n / 4 >= static_cast<std::size_t>(Wide::kWidth)) {
    swap ? FirstPassSimd<Wide, true>(core, src, re, im) : FirstPassSimd<Wide, false>(core, src, re, im);
  } else {
    swap ? FirstPassSimd<V128, true>(core, src, re, im) : FirstPassSimd<V128, false>(core, src, re, im);
  }
  for (std::size_t h = 4; 4 * h <= n; h *= 4) {
    const bool isLast = 16 * h > n && core.radix2Twiddles == nullptr;
    const float* tw = core.radix4Twiddles + Radix4PassOffset(h);
    if (h >= static_cast<std::size_t>(Wide::kWidth)) {
      Radix4PassSimd<Wide>(n, h, tw, re, im, isLast ? last : inPlace);
    } else {
      Radix4PassSimd<V128>(n, h, tw, re, im, isLast ? last : inPlace);
    }
  }
  if (core.radix2Twiddles != nullptr) {
    if (n / 2 >= static_cast<std::size_t>(Wide::kWidth)) {
      Radix2PassSimd<Wide>(n, core.radix2Twiddles, re, im, last);
    } else {
      Radix2PassSimd<V128>(n, core.radix2Twiddles, re, im, last);
    }
  }
}

template <class Wide>
int ComplexTransformSimd(const float* src, float* dst, const FftSpec* spec, float* work, bool inverse) {
  if (int st = CheckTransform(src, dst, spec, kFftKindComplex)) return st;
  if (spec->core.order < kMinSimdOrder) {
    return inverse ? generic::FftComplexInverse(src, dst, spec, work) : generic::FftComplexForward(src, dst, spec, work);
  }
  FftWork buffer(spec, work);
  if (buffer.data == nullptr) return kStsMemAllocErr;
  const PassOutput last{dst, inverse, inverse ? spec->inverseScale : spec->forwardScale};
  ComplexPassesSimd<Wide>(spec->core, src, inverse, buffer.data, buffer.data + spec->core.n, last);
  return kStsOk;
}

template <class Wide>
int RealTransformSimd(const float* src, float* dst, const FftSpec* spec, float* work) {
  if (int st = CheckTransform(src, dst, spec, kFftKindReal)) return st;
  if (spec->order < 1 || spec->core.order < kMinSimdOrder) return generic::FftRealForward(src, dst, spec, work);
  FftWork buffer(spec, work);
  if (buffer.data == nullptr) return kStsMemAllocErr;
  const std::size_t n = spec->core.n;
  float* re = buffer.data;
  float* im = buffer.data + n;
  ComplexPassesSimd<Wide>(spec->core, src, false, re, im, PassOutput{nullptr, false, 1.0f});
  if (n / 2 >= static_cast<std::size_t>(Wide::kWidth)) {
    RealUntangleSimd<Wide>(*spec, re, im, dst);
  } else {
    RealUntangleSimd<V128>(*spec, re, im, dst);
  }
  return kStsOk;
}

}  // namespace
}  // namespace aacs::dsp
