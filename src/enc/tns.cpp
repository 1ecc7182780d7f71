// enc/tns.cpp — temporal noise shaping encoder: per window, linear prediction over the lines of
// the TNS band range, 4-bit quantisation of the reflection coefficients, and the all-zero
// filter in place.  The decoder's all-pole filter is here too, for the long-term-prediction
// reconstruction.
#include "enc/tns.h"

#include <algorithm>
#include <cmath>

#include "dsp/primitives.h"
#include "enc/aac_constants.h"
#include "enc/band_tables.h"
#include "enc/side_info.h"

namespace aacs::enc {
namespace {

// Lowest band of the filter range, by sampling-frequency index (96000 ... 8000 Hz).
constexpr int kStartBandLong[kNumSampleRates] = {11, 12, 15, 16, 17, 20, 25, 26, 24, 28, 30, 31};
constexpr int kStartBandShort[kNumSampleRates] = {2, 2, 2, 3, 3, 4, 6, 6, 8, 10, 10, 12};

constexpr int kMainLongOrder = 20;  // Main profile at 32000 Hz and below
constexpr int kLcLongOrder = 12;
constexpr int kShortOrder = 7;
constexpr int kCoefRes = 4;

// A filter pays only when the prediction gain exceeds this (about 1.46 dB).
constexpr float kMinPredictionGain = 1.4f;
// Index scales of 4-bit coefficients: (2^3 - 1/2) / (pi/2) for positive values and
// (2^3 + 1/2) / (pi/2) for negative ones, as the decoder's inverse quantiser uses.
constexpr float kIndexScalePos = 4.774648f;
constexpr float kIndexScaleNeg = 5.411268f;
constexpr int kMinIndex = -8;
constexpr int kMaxIndex = 7;
// Trailing coefficients no larger than this are not worth their bits.
constexpr float kMinCoefMagnitude = 0.1f;

struct TnsRange {
  int startBand;
  int endBand;
  int length;  // bands signalled: layout band count - start band
  int maxOrder;
};

// The decoder derives the same range: bottom = bandCount - length, then both ends limited by
// the TNS band limit and max_sfb.
TnsRange RangeFor(const TnsRecord& rec, bool isShort, int bandCount, int maxSfb) {
  const int startBand = isShort ? rec.shortStartBand : rec.longStartBand;
  const int maxBands = isShort ? rec.shortMaxBands : rec.longMaxBands;
  TnsRange r;
  r.startBand = std::max(0, std::min({startBand, maxBands, maxSfb}));
  r.endBand = std::max(0, std::min({bandCount, maxBands, maxSfb}));
  r.length = std::max(0, bandCount - startBand);
  r.maxOrder = std::clamp(isShort ? rec.shortMaxOrder : rec.longMaxOrder, 0, kTnsMaxOrder);
  return r;
}

bool AnyFilter(const TnsRecord& rec, int numWindows) {
  for (int w = 0; w < numWindows; ++w)
    if (rec.window[w].nFilt > 0) return true;
  return false;
}

void StepUp(TnsFilter& f) {
  f.lpc[0] = 1.0f;
  for (int j = 1; j <= kTnsMaxOrder; ++j) f.lpc[j] = 0.0f;
  float prev[kTnsMaxOrder + 1];
  for (int m = 1; m <= f.order; ++m) {
    std::copy(f.lpc, f.lpc + m, prev);
    for (int j = 1; j < m; ++j) f.lpc[j] = prev[j] + f.parcor[m] * prev[m - j];
    f.lpc[m] = f.parcor[m];
  }
}

}  // namespace

void TnsInit(int sampleRate, int profile, TnsRecord& rec) {
  rec = TnsRecord{};
  const int sfi = SampleRateIndex(sampleRate);
  if (sfi < 0) return;
  rec.longStartBand = kStartBandLong[sfi];
  rec.shortStartBand = kStartBandShort[sfi];
  if (profile != kProfileMain && profile != kProfileLc && profile != kProfileLtp) return;
  // Decoders reject order 20 outside the Main profile.
  rec.longMaxOrder = profile == kProfileMain && sampleRate <= 32000 ? kMainLongOrder : kLcLongOrder;
  rec.shortMaxOrder = kShortOrder;
  rec.longMaxBands = kTnsMaxBandsLong[sfi];
  rec.shortMaxBands = kTnsMaxBandsShort[sfi];
}

float TnsLpc(int order, int n, const float* x, float* parcor) {
  const int p = std::clamp(order, 0, kTnsMaxOrder);
  float r[kTnsMaxOrder + 1];
  for (int i = 0; i <= p; ++i) {
    r[i] = 0.0f;
    if (n - i > 0) dsp::VecDotProduct(x, x + i, n - i, &r[i]);
  }
  parcor[0] = 1.0f;
  for (int i = 1; i <= p; ++i) parcor[i] = 0.0f;
  if (!(r[0] > 0.0f)) return 0.0f;

  float a[kTnsMaxOrder + 1] = {1.0f};
  float prev[kTnsMaxOrder + 1];
  float error = r[0];
  for (int m = 1; m <= p; ++m) {
    float acc = 0.0f;
    for (int j = 0; j < m; ++j) acc += a[j] * r[m - j];
    const float k = -acc / error;
    if (!(std::fabs(k) < 1.0f)) break;
    const float nextError = (1.0f - k * k) * error;
    if (!(nextError > 0.0f)) break;
    parcor[m] = k;
    std::copy(a, a + m, prev);
    for (int j = 1; j < m; ++j) a[j] = prev[j] + k * prev[m - j];
    a[m] = k;
    error = nextError;
  }
  return r[0] / error;
}

void TnsQuantiseFilter(TnsFilter& f, int maxOrder) {
  maxOrder = std::clamp(maxOrder, 0, kTnsMaxOrder);
  f.parcor[0] = 1.0f;
  f.index[0] = 0;
  for (int i = 1; i <= maxOrder; ++i) {
    const float k = f.parcor[i];
    // Truncation toward zero after adding 0.5.
    int index = static_cast<int>(std::asin(k) * (k >= 0.0f ? kIndexScalePos : kIndexScaleNeg) + 0.5f);
    index = std::clamp(index, kMinIndex, kMaxIndex);
    f.index[i] = index;
    f.parcor[i] = std::sin(static_cast<float>(index) / (index >= 0 ? kIndexScalePos : kIndexScaleNeg));
  }
  for (int i = maxOrder + 1; i <= kTnsMaxOrder; ++i) {
    f.parcor[i] = 0.0f;
    f.index[i] = 0;
  }
  int order = maxOrder;
  while (order > 0 && std::fabs(f.parcor[order]) <= kMinCoefMagnitude) {
    f.parcor[order] = 0.0f;
    f.index[order] = 0;
    --order;
  }
  f.order = order;
  StepUp(f);
}

int TnsFilterLines(int n, float* x, const TnsFilter& f) {
  const int order = std::clamp(f.order, 0, kTnsMaxOrder);
  if (f.direction == 0) {
    // Top down, so that every line still reads unfiltered lines below it.
    for (int i = n - 1; i >= 0; --i) {
      float acc = x[i];
      const int taps = std::min(i, order);
      for (int j = 1; j <= taps; ++j) acc += f.lpc[j] * x[i - j];
      x[i] = acc;
    }
  } else {
    for (int i = 0; i < n; ++i) {
      float acc = x[i];
      const int taps = std::min(n - 1 - i, order);
      for (int j = 1; j <= taps; ++j) acc += f.lpc[j] * x[i + j];
      x[i] = acc;
    }
  }
  return 0;
}

void TnsInverseFilterLines(int n, float* x, const TnsFilter& f) {
  const int order = std::clamp(f.order, 0, kTnsMaxOrder);
  if (f.direction == 0) {
    for (int i = 0; i < n; ++i) {
      float acc = x[i];
      const int taps = std::min(i, order);
      for (int j = 1; j <= taps; ++j) acc -= f.lpc[j] * x[i - j];
      x[i] = acc;
    }
  } else {
    for (int i = n - 1; i >= 0; --i) {
      float acc = x[i];
      const int taps = std::min(n - 1 - i, order);
      for (int j = 1; j <= taps; ++j) acc -= f.lpc[j] * x[i + j];
      x[i] = acc;
    }
  }
}

int TNS_Encode_Frame(int bandCount, int maxSfb, int windowSequence, const int* bandOffsets,
                     float* spectrum, TnsRecord& rec, int tnsEnabled, int bitCap) {
  const bool isShort = windowSequence == kEightShort;
  const int numWindows = isShort ? kNumShortWindows : 1;
  const int windowLength = isShort ? kShortLength : kFrameLength;
  if (isShort) bitCap /= 2;
  const TnsRange range = RangeFor(rec, isShort, bandCount, maxSfb);

  rec.present = 0;
  for (TnsWindow& win : rec.window) {
    win.nFilt = 0;
    win.coefRes = kCoefRes;
    win.filter.order = 0;
  }
  if (!tnsEnabled || windowSequence == kLongStop) return 0;
  if (range.endBand <= range.startBand || range.maxOrder == 0) return 0;

  const int firstLine = bandOffsets[range.startBand];
  const int n = bandOffsets[range.endBand] - firstLine;
  for (int w = 0; w < numWindows; ++w) {
    TnsWindow& win = rec.window[w];
    TnsFilter& f = win.filter;
    float* x = spectrum + w * windowLength + firstLine;
    const float gain = TnsLpc(range.maxOrder, n, x, f.parcor);
    if (!(gain > kMinPredictionGain)) continue;
    win.nFilt = 1;
    rec.present = 1;
    f.length = range.length;
    f.direction = 0;
    f.coefCompress = 0;
    TnsQuantiseFilter(f, range.maxOrder);
    // The cap covers the channel's whole TNS side information so far, this filter included.
    if (WriteTnsData(rec, windowSequence, nullptr, 0) > bitCap) {
      win.nFilt = 0;
      f.order = 0;
      rec.present = AnyFilter(rec, numWindows) ? 1 : 0;
      continue;
    }
    if (TnsFilterLines(n, x, f) != 0) return 1;
  }
  return 0;
}

namespace {

// Runs filter(n, lines, filter) over each window's range as decoders derive it: the filter
// covers `length` bands below the layout's band count, both ends limited by the TNS band
// limit and max_sfb.
template <typename Filter>
void ForEachDecoderRange(int bandCount, int maxSfb, int windowSequence, const int* bandOffsets, float* lines,
                         const TnsRecord& rec, Filter filter) {
  if (!rec.present) return;
  const bool isShort = windowSequence == kEightShort;
  const int numWindows = isShort ? kNumShortWindows : 1;
  const int windowLength = isShort ? kShortLength : kFrameLength;
  const int limit = std::max(0, std::min(isShort ? rec.shortMaxBands : rec.longMaxBands, maxSfb));
  for (int w = 0; w < numWindows; ++w) {
    const TnsWindow& win = rec.window[w];
    if (win.nFilt < 1 || win.filter.order < 1) continue;
    const int bottom = std::max(bandCount - win.filter.length, 0);
    const int start = std::min(bottom, limit);
    const int end = std::min(bandCount, limit);
    if (end <= start) continue;
    filter(bandOffsets[end] - bandOffsets[start], lines + w * windowLength + bandOffsets[start], win.filter);
  }
}

}  // namespace

void TnsInverseFilter(int bandCount, int maxSfb, int windowSequence, const int* bandOffsets,
                      float* lines, const TnsRecord& rec) {
  ForEachDecoderRange(bandCount, maxSfb, windowSequence, bandOffsets, lines, rec, TnsInverseFilterLines);
}

void TnsAnalysisFilter(int bandCount, int maxSfb, int windowSequence, const int* bandOffsets,
                       float* lines, const TnsRecord& rec) {
  ForEachDecoderRange(bandCount, maxSfb, windowSequence, bandOffsets, lines, rec,
                      [](int n, float* x, const TnsFilter& f) { TnsFilterLines(n, x, f); });
}

}  // namespace aacs::enc
