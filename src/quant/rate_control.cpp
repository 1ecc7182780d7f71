// quant/rate_control.cpp — reservoir sizes, the offset controller and the quality levels.
#include "quant/rate_control.h"

#include <algorithm>

#include "api/stream_context.h"

namespace aacs::quant {
namespace {

constexpr float kAverageReservoirSeconds = 0.6f;  // the bank: 0.6 s of the stream's bits
constexpr float kAverageSetpointSeconds = 0.25f;  // the fill the controller holds
constexpr float kAverageErrorSeconds = 0.5f;      // a fill this far above the setpoint is an error of 1
constexpr float kConstantSetpoint = 0.5f;         // constant rate: half the decoder reservoir ...
constexpr float kConstantErrorScale = 0.5f;       // ... and an error of 1 at half of it again
// Offset per unit of error and offset added per frame and unit of error.  The average rate
// follows its reservoir closely (measured: stiffer gains than these, or gentler ones down to a
// quarter, grade the same or worse); the decoder's small reservoir at constant rate wants it
// gentler.
constexpr float kAverageProportionalDb = 40.0f, kAverageIntegralDb = 1.0f;
constexpr float kConstantProportionalDb = 11.0f, kConstantIntegralDb = 0.5f;
// Never above the model's thresholds (when bits are short the loops' budget already limits the
// frame); at most 40 dB below them, which sparse material such as isolated clicks needs to use
// its rate.
constexpr float kMinOffsetDb = 0.0f;
constexpr float kMaxOffsetDb = 40.0f;

// Quality levels: the offset each codes at and the nominal rate per channel it is tuned for
// (docs/quality.md lists the rates they reach).
struct QualityLevel {
  float offsetDb;
  int nominalRate;
};
constexpr QualityLevel kQualityLevels[kMaxVbrLevel + 1] = {
    {0.0f, 64000}, {4.5f, 32000}, {7.0f, 48000}, {8.5f, 64000}, {9.5f, 80000}, {14.5f, 112000},
};

}  // namespace

int RateReservoirCapacity(const StreamContext& ctx) {
  if (ctx.rateMode == kRateConstant) return ctx.reservoirSize;
  return std::max(ctx.reservoirSize, static_cast<int>(kAverageReservoirSeconds * static_cast<float>(ctx.bitRate)));
}

int RateSetpoint(const StreamContext& ctx) {
  if (ctx.rateMode == kRateConstant) return static_cast<int>(kConstantSetpoint * static_cast<float>(ctx.reservoirSize));
  return static_cast<int>(kAverageSetpointSeconds * static_cast<float>(ctx.bitRate));
}

void UpdateRateOffset(StreamContext& ctx) {
  if (ctx.rateMode == kRateQuality) return;
  const float scale = ctx.rateMode == kRateConstant ? kConstantErrorScale * static_cast<float>(ctx.reservoirSize)
                                                    : kAverageErrorSeconds * static_cast<float>(ctx.bitRate);
  const float error = static_cast<float>(ctx.reservoirBits - RateSetpoint(ctx)) / std::max(scale, 1.0f);
  const bool constant = ctx.rateMode == kRateConstant;
  const float integral = constant ? kConstantIntegralDb : kAverageIntegralDb;
  const float proportional = constant ? kConstantProportionalDb : kAverageProportionalDb;
  ctx.rateOffsetIntegral = std::clamp(ctx.rateOffsetIntegral + integral * error, kMinOffsetDb, kMaxOffsetDb);
  ctx.rateOffsetDb = std::clamp(ctx.rateOffsetIntegral + proportional * error, kMinOffsetDb, kMaxOffsetDb);
}

float QualityLevelOffsetDb(int level) { return kQualityLevels[std::clamp(level, 0, kMaxVbrLevel)].offsetDb; }

int QualityLevelNominalRate(int level) { return kQualityLevels[std::clamp(level, 0, kMaxVbrLevel)].nominalRate; }

int RateFillBits(const StreamContext& ctx, int frameBits) {
  if (ctx.rateMode == kRateQuality || ctx.vbrMode != 0) return 0;
  const int alignedBits = (frameBits + 7) / 8 * 8;
  const int over = ctx.reservoirBits - alignedBits - RateReservoirCapacity(ctx);
  return over > 0 ? (over + 7) / 8 * 8 : 0;
}

}  // namespace aacs::quant
