// quant/quantiser.cpp — tables, magnitude preparation, the 2^23-rounding quantiser, the
// per-band distortion measure with its caches, and the eight-short regrouping.
#include "quant/quantiser.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "dsp/primitives.h"
#include "dsp/quantise_line.h"

namespace aacs::quant {
namespace {

constexpr float kPower43Exponent = 1.3333333730697632f;  // 4/3 rounded to single precision
constexpr float kIntensityMarker = 673.0f;               // tells the prediction tools "not coded"

QuantiserTables BuildTables() {
  QuantiserTables t{};
  for (int i = 0; i < kPowerTableSize; ++i)
    t.power43[i] = static_cast<float>(std::pow(static_cast<double>(i), double{kPower43Exponent}));
  for (int i = 0; i < kStepTableSize; ++i) {
    t.stepPos[i] = static_cast<float>(std::exp2(-0.1875 * i));
    t.stepNeg[i] = static_cast<float>(std::exp2(0.1875 * i));
    t.reconPos[i] = static_cast<float>(std::exp2(-0.25 * i));
    t.reconNeg[i] = static_cast<float>(std::exp2(0.25 * i));
  }
  return t;
}

// |q| of one line by the 2^23 rounding trick.  Values too large for the mantissa (or infinite)
// come out far above kMaxQuantisedMagnitude, which the check catches.
inline int32_t RoundMagnitude(double step, float y) { return dsp::QuantiseLine(step, y); }

// One block of 32 lines; returns the largest magnitude of the block.
inline int32_t QuantiseBlock(double step, const float* y, int32_t* q) {
  int32_t peak = 0;
  for (int k = 0; k < 32; ++k) {
    q[k] = RoundMagnitude(step, y[k]);
    peak = std::max(peak, q[k]);
  }
  return peak;
}

// Coding-order walk shared by the regrouping and its inverse: calls f(codingLine, windowLine,
// count) for every contiguous run of lines.
template <typename F>
int WalkCodingOrder(const ChannelCodingRecord& rec, F f) {
  if (rec.windowSequence != kEightShort) {
    const int n = rec.bandOffset[rec.totalBands];
    if (n > 0) f(0, 0, n);
    return n;
  }
  int pos = 0;
  int firstWindow = 0;
  for (int g = 0; g < rec.numWindowGroups; ++g) {
    for (int b = 0; b < rec.maxSfb; ++b) {
      const int start = rec.swbOffset[b];
      const int width = rec.swbOffset[b + 1] - start;
      for (int w = firstWindow; w < firstWindow + rec.groupLength[g]; ++w) {
        f(pos, w * kShortLength + start, width);
        pos += width;
      }
    }
    firstWindow += rec.groupLength[g];
  }
  return pos;
}

}  // namespace

const QuantiserTables& QuantTables() {
  static const QuantiserTables tables = BuildTables();  // thread-safe one-time initialisation
  return tables;
}

float StepFactor(int gain) {
  const QuantiserTables& t = QuantTables();
  gain = std::clamp(gain, -kMaxGain, kMaxGain);
  return gain >= 0 ? t.stepPos[gain] : t.stepNeg[-gain];
}

float ReconScale(int diff) {
  const QuantiserTables& t = QuantTables();
  diff = std::clamp(diff, -kMaxGain, kMaxGain);
  return diff > 0 ? t.reconPos[diff] : t.reconNeg[-diff];
}

float QuantFastLog(float v) {
  const uint32_t bits = std::bit_cast<uint32_t>(v);
  const int e = static_cast<int>((bits >> 23) & 0xFF) - 127;
  const float m = std::bit_cast<float>((bits & 0x007FFFFFu) | 0x3F800000u);  // in [1, 2)
  const float t = (m - 1.4142135623730951f) / (m + 1.4142135623730951f);
  const float t2 = t * t;
  return (static_cast<float>(e) + 0.5f) * 0.6931471805599453f +
         t * ((0.4139745831489563f * t2 + 0.6664778590202332f) * t2 + 2.0000007152557373f);
}

float MagnitudeFloor(int vbrMode, int bitRate) {
  // At low constant rates, lines this small never survive quantisation anyway; dropping them
  // early keeps them out of the start-gain estimate and the distortion reference.
  return (vbrMode == 0 && bitRate <= 128000) ? 50.0f : 1.0f;
}

float PrepareMagnitudes(ChannelCodingRecord& rec, const float* x, float floor, int* signTable) {
  const int coded = std::clamp(rec.bandOffset[rec.totalBands], 0, kFrameLength);
  const int lines = (coded + 31) & ~31;
  rec.codedLines32 = lines;
  rec.blocks32 = std::max(kMinQuantBlocks, lines / 32);
  rec.quantValid = 0;
  float peak = 0.0f;
  if (lines > 0) {
    dsp::VecAbs(x, rec.magnitude, lines);
    // Branch-free over arrays that do not overlap, so that the square roots run a register at
    // a time.
    float* __restrict magnitude = rec.magnitude;
    float* __restrict y = rec.y;
    for (int i = 0; i < lines; ++i) {
      const float a = magnitude[i];
      const bool keep = a >= floor;  // also false for NaN, which is thereby cleared
      const float root = std::sqrt(std::sqrt(a) * a);
      y[i] = keep ? root : 0.0f;
      magnitude[i] = keep ? a : 0.0f;
    }
    for (int i = 0; i < lines; ++i) signTable[i] = x[i] > 0.0f ? 1 : -1;
    dsp::VecMaxAbs(rec.y, lines, &peak);  // every y is a finite value >= 0
  }
  for (int i = lines; i < kFrameLength; ++i) {
    rec.magnitude[i] = 0.0f;
    rec.y[i] = 0.0f;
    signTable[i] = -1;
  }
  return peak;
}

void Quantise(const ChannelCodingRecord& rec, const float* y, int32_t* q) {
  const double step = StepFactor(rec.globalGain);
  for (int blk = 0; blk < rec.blocks32; ++blk) QuantiseBlock(step, y + blk * 32, q + blk * 32);
}

int QuantiseChecked(const ChannelCodingRecord& rec, const float* y, int32_t* q) {
  const double step = StepFactor(rec.globalGain);
  for (int blk = 0; blk < rec.blocks32; ++blk)
    if (QuantiseBlock(step, y + blk * 32, q + blk * 32) > kMaxQuantisedMagnitude) return 1;
  return 0;
}

int QuantiseAndMark(ChannelCodingRecord& rec) {
  const double step = StepFactor(rec.globalGain);
  int overflow = 0;
  if (rec.quantValid && rec.quantGain == rec.globalGain) {
    // Runs of flagged bands; every other band already holds its values at this gain.
    for (int b = 0; b < rec.totalBands && !overflow;) {
      if (!rec.requantise[b]) {
        ++b;
        continue;
      }
      int end = b + 1;
      while (end < rec.totalBands && rec.requantise[end]) ++end;
      overflow = dsp::QuantiseBands(rec.y, rec.q, rec.bandOffset + b, end - b, step, rec.recompute + b, rec.bandMax + b);
      b = end;
    }
  } else {
    overflow = dsp::QuantiseBands(rec.y, rec.q, rec.bandOffset, rec.totalBands, step, rec.recompute, rec.bandMax);
  }
  // After an overflow the bands behind the offending one still hold another gain's values.
  rec.quantValid = !overflow;
  rec.quantGain = rec.globalGain;
  std::memset(rec.requantise, 0, sizeof(rec.requantise));
  rec.cacheGain = rec.globalGain;
  return overflow;
}

void InvalidateDistortionCache(ChannelCodingRecord& rec) {
  for (int b = 0; b < kMaxCodedBands; ++b) rec.cachedDiff[b] = kNoCachedDiff;
}

DistortionSums MeasureDistortion(ChannelCodingRecord& rec) {
  const QuantiserTables& t = QuantTables();
  DistortionSums s{};
  for (int b = 0; b < rec.totalBands; ++b) {
    const int diff = rec.scalefactor[b] - rec.globalGain;
    if (diff == rec.cachedDiff[b]) continue;
    const int start = rec.bandOffset[b];
    const int width = rec.bandOffset[b + 1] - start;
    float d = dsp::BandError(t.power43, ReconScale(diff), rec.q + start, rec.magnitude + start, width);
    if (d < 1.0f) d = 0.0f;  // errors below one unit are inaudible at any weight
    d *= rec.weight[b];
    rec.cachedDiff[b] = diff;
    rec.cachedDistortion[b] = d;
  }
  // The sums in band order without branches (adding 0 and multiplying by 1 change nothing).
  float product = 1.0f;
  for (int b = 0; b < rec.totalBands; ++b) {
    const float d = rec.cachedDistortion[b];
    const bool over = d > 1.0f;
    rec.distortion[b] = d;
    s.totalSum += d;
    s.count += over ? 1 : 0;
    s.overSum += over ? d : 0.0f;
    product *= over ? d : 1.0f;
  }
  // The "mean" is the product divided by the count: it grows quickly with a few very bad bands.
  if (s.count > 0) {
    const float mean = product / static_cast<float>(s.count);
    if (mean > 1.0f) s.normSum = s.overSum / mean;
  }
  return s;
}

void Reconstruct(ChannelCodingRecord& rec, int internal) {
  const QuantiserTables& t = QuantTables();
  std::memset(rec.recon, 0, sizeof(rec.recon));
  auto bandScale = [&](int b) {
    return ReconScale(internal ? rec.scalefactor[b] - rec.globalGain : 100 - rec.scalefactor[b]);
  };
  auto value = [&](int32_t v, float scale) {
    const float r = scale * t.power43[std::min(v < 0 ? -v : v, kPowerTableSize - 1)];
    return v < 0 ? -r : r;
  };
  for (int b = 0; b < rec.totalBands; ++b) {
    const int start = rec.bandOffset[b];
    const int end = rec.bandOffset[b + 1];
    if (rec.codebook[b] >= kIntensityOutOfPhase) {
      for (int i = start; i < end; ++i) rec.recon[i] = kIntensityMarker;
      continue;
    }
    if (rec.codebook[b] == kZeroCodebook || rec.codebook[b] == kNoiseCodebook) continue;
    const float scale = bandScale(b);
    for (int i = start; i < end; ++i) rec.recon[i] = value(rec.q[i], scale);
  }
  if (!rec.pulseDataPresent || rec.pulseStartSfb < 0 || rec.pulseStartSfb >= rec.totalBands) return;
  // Pulses: the coded line holds +-1; the decoder adds the amplitude before inverse quantisation.
  int line = rec.bandOffset[rec.pulseStartSfb];
  int band = rec.pulseStartSfb;
  for (int k = 0; k < rec.numPulse && k < 4; ++k) {
    line += rec.pulseOffset[k];
    if (line >= rec.bandOffset[rec.totalBands]) break;
    while (rec.bandOffset[band + 1] <= line) ++band;
    if (rec.codebook[band] == kZeroCodebook || rec.codebook[band] >= kNoiseCodebook) continue;
    const int32_t q = rec.q[line];
    const int32_t full = q < 0 ? q - rec.pulseAmp[k] : q + rec.pulseAmp[k];
    rec.recon[line] = value(full, bandScale(band));
  }
}

int BuildCodingOrder(ChannelCodingRecord& rec, const float* x) {
  if (rec.windowSequence == kEightShort) {
    rec.numSwb = std::clamp(rec.numSwb, 0, kMaxShortBands);
    rec.numWindowGroups = std::clamp(rec.numWindowGroups, 1, kNumShortWindows);
    int windows = 0;
    for (int g = 0; g < rec.numWindowGroups; ++g) {
      rec.groupLength[g] = std::clamp(rec.groupLength[g], 0, kNumShortWindows - windows);
      windows += rec.groupLength[g];
    }
  } else {
    rec.numSwb = std::clamp(rec.numSwb, 0, kMaxLongBands);
    rec.numWindowGroups = 1;
    rec.groupLength[0] = 1;
  }
  // Only bands of a sane layout are coded: increasing offsets inside the window.
  const int windowLength = rec.windowSequence == kEightShort ? kShortLength : kFrameLength;
  int validBands = 0;
  if (rec.swbOffset[0] == 0)
    while (validBands < rec.numSwb && rec.swbOffset[validBands + 1] > rec.swbOffset[validBands] &&
           rec.swbOffset[validBands + 1] <= windowLength)
      ++validBands;
  rec.maxSfb = std::clamp(rec.maxSfb, 0, validBands);
  const int bandsPerGroup = rec.maxSfb;
  int k = 0;
  int pos = 0;
  for (int g = 0; g < rec.numWindowGroups; ++g) {
    const int len = rec.windowSequence == kEightShort ? rec.groupLength[g] : 1;
    for (int b = 0; b < bandsPerGroup; ++b) {
      rec.bandOffset[k++] = pos;
      pos += (rec.swbOffset[b + 1] - rec.swbOffset[b]) * len;
    }
  }
  rec.bandOffset[k] = pos;
  rec.totalBands = k;

  std::memset(rec.grouped, 0, sizeof(rec.grouped));
  return WalkCodingOrder(rec, [&](int to, int from, int n) {
    std::memcpy(rec.grouped + to, x + from, sizeof(float) * static_cast<size_t>(n));
  });
}

void ScatterCodingOrder(const ChannelCodingRecord& rec, const float* in, float* out, float fill) {
  for (int i = 0; i < kFrameLength; ++i) out[i] = fill;
  WalkCodingOrder(rec, [&](int from, int to, int n) {
    std::memcpy(out + to, in + from, sizeof(float) * static_cast<size_t>(n));
  });
}

}  // namespace aacs::quant
