// psych/ath.cpp — absolute threshold of hearing per scalefactor band (a floor under every allowed
// distortion) and the solver that turns a bit budget into a perceptual-entropy target.
#include "psych/ath.h"

#include <algorithm>
#include <cmath>

#include "api/stream_context.h"
#include "enc/band_tables.h"

namespace aacs::psych {
namespace {

constexpr float kMinCurveKhz = 0.01f;
constexpr float kMaxCurveKhz = 18.0f;     // above it every line takes the 18 kHz value
constexpr float kMinLineKhz = 0.1f;       // the 0 Hz line is evaluated at 100 Hz
constexpr float kMaxLineKhz = 25.0f;
constexpr float kThresholdFloorDb = 25.0f;
constexpr float kFlagBThresholdDb = 0.01f;

// Shared start of both curves: the low-frequency rise.
double CurveBase(double f) { return 3.64 * std::pow(f, -0.8); }

// Threshold energy of every line of a band layout: width x the smallest line energy of the band.
void BuildBandTable(const StreamContext& ctx, const int* width, int numBands, int transformLength,
                    float lineScale, float* out) {
  const double fs = ctx.sampleRate;
  int line = 0;
  for (int b = 0; b < numBands && b < kMaxCodedBands; ++b) {
    float lowest = 1e32f;
    for (int i = line; i < line + width[b]; ++i) {
      float f = static_cast<float>(i * fs / transformLength / 1000.0);
      f = std::clamp(f, kMinLineKhz, kMaxLineKhz);
      const float e = static_cast<float>(std::pow(10.0, AbsoluteThreshold(f, ctx) / 10.0)) * lineScale;
      lowest = std::min(lowest, e);
    }
    out[b] = static_cast<float>(width[b]) * lowest;
    line += width[b];
  }
}

}  // namespace

float AthCurveA(float fKhz, const StreamContext& ctx) {
  const double f = std::clamp(fKhz, kMinCurveKhz, kMaxCurveKhz);
  const double a = CurveBase(f) - 6.5 * std::exp(-0.6 * (f - 3.3) * (f - 3.3)) +
                   0.001 * f * f * f * f - ctx.athOption;
  return static_cast<float>(std::max(a, 0.0));
}

float AthCurveB(float fKhz, const StreamContext& ctx) {
  const double f = std::clamp(fKhz, kMinCurveKhz, kMaxCurveKhz);
  const double b = CurveBase(f) - 6.8 * std::exp(-0.6 * (f - 3.4) * (f - 3.4)) +
                   6.0 * (std::exp(-0.15 * (f - 8.7) * (f - 8.7)) + 1.0) +
                   0.00055 * f * f * f * f - ctx.athOption;
  return static_cast<float>(std::max(b, 0.0));
}

float AbsoluteThreshold(float fKhz, const StreamContext& ctx) {
  if (ctx.athFlagB) return kFlagBThresholdDb;
  if (ctx.athFlagA) return std::max(std::min(AthCurveA(fKhz, ctx), AthCurveB(fKhz, ctx)), kThresholdFloorDb);
  return std::max(AthCurveA(fKhz, ctx), kThresholdFloorDb);
}

void BuildAthTables(StreamContext& ctx) {
  const PsyLongResult& longResult = ctx.psyLong[ctx.psyResultToggle & 1][0];
  const PsyShortWindowResult& shortResult = ctx.psyShort[ctx.psyResultToggle & 1][0].window[0];
  const enc::CbAdaptRow* row = enc::FindCbAdaptRow(ctx.sampleRate);
  // The model's own layout when it has run, else the rate's band table.
  const int* longWidth = longResult.bandWidth;
  int numLong = longResult.numBands;
  if (longWidth == nullptr && row != nullptr) {
    longWidth = row->longWidth;
    numLong = row->numLong;
  }
  const int* shortWidth = shortResult.bandWidth;
  int numShort = shortResult.numBands;
  if (shortWidth == nullptr && row != nullptr) {
    shortWidth = row->shortWidth;
    numShort = row->numShort;
  }
  std::fill(std::begin(ctx.athLongBand), std::end(ctx.athLongBand), 0.0f);
  std::fill(std::begin(ctx.athShortBand), std::end(ctx.athShortBand), 0.0f);
  if (longWidth != nullptr)
    BuildBandTable(ctx, longWidth, std::min(numLong, kMaxLongBands), 2048, std::sqrt(2048.0f), ctx.athLongBand);
  if (shortWidth != nullptr)
    BuildBandTable(ctx, shortWidth, std::min(numShort, kMaxShortBands), 256, 16.0f, ctx.athShortBand);
}

float SolvePeTarget(float x1, float x2, float x3) {
  // Roots of a*y^2 + c*y + x1^2 = 0, i.e. x2*y + x3*sqrt(y) = x1 squared out.
  const float a = x2 * x2;
  const float c = -2.0f * x1 * x2 - x3 * x3;
  const float disc = c * c - 4.0f * x1 * x1 * x2 * x2;
  if (x1 <= 0.0f || a <= 0.0f || disc < 0.0f) return 0.0f;  // no bits: the target is silence
  const float d = std::sqrt(disc);
  return d <= c ? (d - c) / (2.0f * a) : (-c - d) / (2.0f * a);
}

}  // namespace aacs::psych
