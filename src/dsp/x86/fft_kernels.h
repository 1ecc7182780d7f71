// dsp/x86/fft_kernels.h — the FFT passes as templates over the SIMD traits.
//
// The same passes as the generic code, a register of consecutive butterflies at a time: the
// first pass runs the length-4 DFTs on the interleaved input and splits them into their
// bit-reversed groups while transposing; radix-4 and radix-2 passes work in place on the split
// arrays; the last pass of a complex transform writes the interleaved, scaled result straight
// into the destination.
#pragma once
#include <cstddef>

#include "dsp/fft_internal.h"
#include "dsp/generic_primitives.h"
#include "dsp/x86/simd_traits.h"

namespace aacs::dsp {
namespace {

// Where the results of the last pass go: dst null keeps them in the split arrays (real
// transforms); otherwise interleaved and scaled into dst, swapped back for the inverse.
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

// Pass outputs: back into the split arrays, or interleaved and scaled into dst (parts
// swapped back for the inverse).  Each is its own type so that the loops carry no branch.
template <class S>
struct InPlaceOut {
  float* re;
  float* im;
  void Put(std::size_t k, Cx<S> x) const {
    S::Store(re + k, x.re);
    S::Store(im + k, x.im);
  }
};

template <class S, bool kSwap>
struct InterleavedOut {
  float* dst;
  typename S::V scale;
  void Put(std::size_t k, Cx<S> x) const {
    S::StoreInterleaved(dst + 2 * k, S::Mul(kSwap ? x.im : x.re, scale), S::Mul(kSwap ? x.re : x.im, scale));
  }
};

// Calls fn with the output object that `out` describes.
template <class S, class Fn>
inline void WithOutput(const PassOutput& out, float* re, float* im, Fn fn) {
  if (out.dst == nullptr) {
    fn(InPlaceOut<S>{re, im});
  } else if (out.swap) {
    fn(InterleavedOut<S, true>{out.dst, S::Set(out.scale)});
  } else {
    fn(InterleavedOut<S, false>{out.dst, S::Set(out.scale)});
  }
}

// Length-4 DFTs straight on the interleaved input, kComplexPerRegister values of r at a
// time; the stores split and transpose them into their groups.  The inverse computes the
// inverse DFT (outputs 1 and 3 exchanged) and swaps the real and imaginary arrays, which
// equals the forward DFT of the swapped input.
template <class S, bool kSwap>
void FirstPassSimd(const FftCore& core, const float* src, float* re, float* im) {
  const std::size_t q = core.n / 4;
  for (std::size_t r = 0; r < q; r += S::kComplexPerRegister) {
    const typename S::V a0 = S::Load(src + 2 * r), a1 = S::Load(src + 2 * (r + q));
    const typename S::V a2 = S::Load(src + 2 * (r + 2 * q)), a3 = S::Load(src + 2 * (r + 3 * q));
    const typename S::V s0 = S::Add(a0, a2), s1 = S::Sub(a0, a2), s2 = S::Add(a1, a3);
    const typename S::V u = S::MulMinusI(S::Sub(a1, a3));
    const typename S::V x0 = S::Add(s0, s2), x2 = S::Sub(s0, s2);
    const typename S::V x1 = S::Add(s1, u), x3 = S::Sub(s1, u);  // s1 - i s3, s1 + i s3
    if (kSwap) {
      S::StoreGroups(x0, x3, x2, x1, im, re, core.rev4 + r);
    } else {
      S::StoreGroups(x0, x1, x2, x3, re, im, core.rev4 + r);
    }
  }
}

// Needs h to be a multiple of the register width.  Quarters hold residues 0, 2, 1, 3.
template <class S, class Out>
void Radix4PassSimd(std::size_t n, std::size_t h, const float* tw, const float* re, const float* im, const Out& out) {
  for (std::size_t base = 0; base < n; base += 4 * h) {
    for (std::size_t j = 0; j < h; j += S::kWidth) {
      const std::size_t k = base + j;
      const Cx<S> q0 = LoadCx<S>(re, im, k);
      const Cx<S> t2 = Twiddle<S>(tw + 2 * h + j, tw + 3 * h + j, LoadCx<S>(re, im, k + h));
      const Cx<S> t1 = Twiddle<S>(tw + j, tw + h + j, LoadCx<S>(re, im, k + 2 * h));
      const Cx<S> t3 = Twiddle<S>(tw + 4 * h + j, tw + 5 * h + j, LoadCx<S>(re, im, k + 3 * h));
      const Cx<S> s0 = Add<S>(q0, t2), s1 = Sub<S>(q0, t2), s2 = Add<S>(t1, t3), s3 = Sub<S>(t1, t3);
      out.Put(k, Add<S>(s0, s2));
      out.Put(k + h, SubTimesI<S>(s1, s3));
      out.Put(k + 2 * h, Sub<S>(s0, s2));
      out.Put(k + 3 * h, AddTimesI<S>(s1, s3));
    }
  }
}

template <class S, class Out>
void Radix2PassSimd(std::size_t n, const float* tw, const float* re, const float* im, const Out& out) {
  const std::size_t h = n / 2;
  for (std::size_t k = 0; k < h; k += S::kWidth) {
    const Cx<S> e = LoadCx<S>(re, im, k);
    const Cx<S> t = Twiddle<S>(tw + k, tw + h + k, LoadCx<S>(re, im, k + h));
    out.Put(k, Add<S>(e, t));
    out.Put(k + h, Sub<S>(e, t));
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
  if (n / 4 >= static_cast<std::size_t>(Wide::kComplexPerRegister)) {
    swap ? FirstPassSimd<Wide, true>(core, src, re, im) : FirstPassSimd<Wide, false>(core, src, re, im);
  } else {
    swap ? FirstPassSimd<V128, true>(core, src, re, im) : FirstPassSimd<V128, false>(core, src, re, im);
  }
  for (std::size_t h = 4; 4 * h <= n; h *= 4) {
    const bool isLast = 16 * h > n && core.radix2Twiddles == nullptr;
    const float* tw = core.radix4Twiddles + Radix4PassOffset(h);
    const PassOutput& out = isLast ? last : inPlace;
    if (h >= static_cast<std::size_t>(Wide::kWidth)) {
      WithOutput<Wide>(out, re, im, [&](const auto& o) { Radix4PassSimd<Wide>(n, h, tw, re, im, o); });
    } else {
      WithOutput<V128>(out, re, im, [&](const auto& o) { Radix4PassSimd<V128>(n, h, tw, re, im, o); });
    }
  }
  if (core.radix2Twiddles != nullptr) {
    const float* tw = core.radix2Twiddles;
    if (n / 2 >= static_cast<std::size_t>(Wide::kWidth)) {
      WithOutput<Wide>(last, re, im, [&](const auto& o) { Radix2PassSimd<Wide>(n, tw, re, im, o); });
    } else {
      WithOutput<V128>(last, re, im, [&](const auto& o) { Radix2PassSimd<V128>(n, tw, re, im, o); });
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
