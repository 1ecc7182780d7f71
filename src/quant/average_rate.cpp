// quant/average_rate.cpp — the reservoir size and the offset controller of average-rate streams.
#include "quant/average_rate.h"

#include <algorithm>

#include "api/stream_context.h"

namespace aacs::quant {
namespace {

constexpr float kReservoirSeconds = 2.0f;   // the bank: two seconds of the stream's bits
constexpr float kSetpointSeconds = 0.25f;   // the fill the controller holds
constexpr float kErrorScaleSeconds = 0.5f;  // a fill this far above the setpoint is an error of 1
constexpr float kProportionalDb = 11.0f;    // offset per unit of error
constexpr float kIntegralDb = 0.5f;         // offset added per frame and unit of error
// Never above the model's thresholds (when bits are short the loops' budget already limits the
// frame); at most 40 dB below them, which sparse material such as isolated clicks needs to use
// its rate.
constexpr float kMinOffsetDb = 0.0f;
constexpr float kMaxOffsetDb = 40.0f;

}  // namespace

int AverageRateCapacity(const StreamContext& ctx) {
  return std::max(ctx.reservoirSize, static_cast<int>(kReservoirSeconds * static_cast<float>(ctx.bitRate)));
}

int AverageRateSetpoint(const StreamContext& ctx) {
  return static_cast<int>(kSetpointSeconds * static_cast<float>(ctx.bitRate));
}

void UpdateRateOffset(StreamContext& ctx) {
  const float scale = kErrorScaleSeconds * static_cast<float>(ctx.bitRate);
  const float error = static_cast<float>(ctx.reservoirBits - AverageRateSetpoint(ctx)) / scale;
  ctx.rateOffsetIntegral = std::clamp(ctx.rateOffsetIntegral + kIntegralDb * error, kMinOffsetDb, kMaxOffsetDb);
  ctx.rateOffsetDb = std::clamp(ctx.rateOffsetIntegral + kProportionalDb * error, kMinOffsetDb, kMaxOffsetDb);
}

}  // namespace aacs::quant
