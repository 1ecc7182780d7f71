// api/parameters.cpp — defaults, the numbered setter, quality levels, presets and the tuning table.
#include "api/parameters.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "api/stream_context.h"

namespace aacs::api {
namespace {

constexpr float kInv44100 = 2.2675737e-5f;  // the float nearest 1/44100

// Tuning by bit rate per channel (normalised to 44.1 kHz), used when no preset is chosen.
constexpr TuningRow kTuningTable[] = {
    {32000, 9.0f, 5.5f, -1.5f, 2.5f, 1.5f, 1000, 900, 966, 1, 0},
    {40000, 9.0f, 6.0f, 0.0f, 1.9f, 1.5f, 1300, 900, 1207, 1, 0},
    {48000, 10.0f, 6.5f, -0.9f, 2.3f, 1.5f, 1400, 1079, 1450, 1, 1},
    {56000, 15.5f, 5.5f, -0.25f, 2.5f, 1.3f, 1800, 1450, 1649, 1, 1},
    {64000, 18.0f, 6.0f, 0.0f, 3.0f, 1.5f, 2250, 1900, 2172, 1, 1},
    {77000, 19.0f, 7.0f, 0.0f, 3.0f, 1.5f, 22050, 2600, 2600, 0, 1},
    {80000, 19.0f, 8.0f, 0.0f, 3.0f, 1.5f, 22050, 3000, 3000, 0, 1},
    {96000, 20.0f, 9.0f, 0.0f, 3.0f, 1.5f, 22050, 3600, 3600, 0, 1},
    {112000, 20.0f, 9.0f, 0.0f, 3.0f, 1.5f, 22050, 4000, 4000, 0, 1},
    {128000, 20.0f, 9.0f, 0.0f, 3.0f, 1.5f, 22050, 5000, 5000, 0, 1},
    {144000, 20.0f, 9.0f, 0.3f, 3.0f, 1.5f, 22050, 5500, 5500, 0, 1},
    {160000, 21.0f, 10.0f, 1.0f, 3.0f, 1.5f, 22050, 6000, 6000, 0, 1},
    {-1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
};

// Patience limits (strategy 1, 3, 2) and peak tonality per quality level 0..9.
struct QualityLevel {
  int patience1, patience3, patience2, peakTonality;
};
constexpr QualityLevel kQualityLevels[10] = {
    {4, 0, 0, 1}, {4, 1, 0, 1}, {4, 2, 0, 1}, {4, 2, 1, 1}, {4, 2, 1, 1},
    {4, 3, 1, 1}, {6, 3, 2, 1}, {6, 3, 2, 0}, {8, 10, 12, 0}, {32, 8, 8, 0},
};

// Presets 3..9: the fields they fix (presets 1 and 2 only switch modes).
void ApplyPreset(StreamContext& ctx, int preset) {
  switch (preset) {
    case 1:
      ctx.vbrMode = 1;
      ctx.psyOptionA = 1;
      break;
    case 2:
      ctx.vbrMode = 1;
      break;
    case 3:
      ctx.bitRate = 64000, ctx.bandwidth = 13000, ctx.vbrMode = 1, ctx.psyOptionA = 0;
      ctx.tonalSnr = 10.5f, ctx.noiseSnr = 4.0f, ctx.loopBias = -1.5f;
      ctx.snrBarkLimit = 1, ctx.spreadSlopeUpper = 1.0f, ctx.spreadSlopeLower = 1.5f;
      break;
    case 4:
      ctx.bitRate = 80000, ctx.bandwidth = 14000, ctx.vbrMode = 1, ctx.psyOptionA = 0;
      ctx.tonalSnr = 12.0f, ctx.noiseSnr = 5.0f, ctx.loopBias = -1.5f;
      ctx.snrBarkLimit = 1, ctx.spreadSlopeUpper = 2.0f, ctx.spreadSlopeLower = 1.2f;
      break;
    case 5:
      ctx.bitRate = 96000, ctx.bandwidth = 15000, ctx.vbrMode = 1, ctx.psyOptionA = 0;
      ctx.tonalSnr = 15.5f, ctx.noiseSnr = 5.5f, ctx.loopBias = 0.0f;
      ctx.snrBarkLimit = 1, ctx.spreadSlopeUpper = 2.0f, ctx.spreadSlopeLower = 1.5f;
      break;
    case 6:
      ctx.bitRate = 128000, ctx.bandwidth = 18500, ctx.vbrMode = 1, ctx.psyOptionA = 0;
      ctx.loopBias = 0.0f, ctx.snrBarkLimit = 1;
      break;
    case 7:
      ctx.bitRate = 132000, ctx.bandwidth = 20000, ctx.vbrMode = 1, ctx.psyOptionA = 1;
      ctx.tonalSnr = 20.0f, ctx.noiseSnr = 8.0f, ctx.loopBias = 0.2f;
      ctx.psyWeight = 4.5f, ctx.athFlagA = 1;
      break;
    case 8:
      ctx.bitRate = 160000, ctx.bandwidth = 22050, ctx.vbrMode = 1, ctx.psyOptionA = 1;
      ctx.tonalSnr = 24.0f, ctx.noiseSnr = 9.2f, ctx.loopBias = 1.0f;
      ctx.psyWeight = 4.0f, ctx.athFlagA = 1, ctx.chaosBandForce = 1;
      break;
    case 9:
      ctx.bitRate = 288000, ctx.bandwidth = 22050, ctx.vbrMode = 1, ctx.psyOptionA = 1;
      ctx.tonalSnr = 24.5f, ctx.noiseSnr = 9.0f, ctx.loopBias = 1.5f;
      ctx.athFlagA = 1, ctx.athFlagB = 1, ctx.preEchoLimit = 1, ctx.skipShortFloor = 1;
      ctx.chaosBandForce = 1;
      break;
    default:
      break;
  }
}

void ApplyTuningTable(StreamContext& ctx) {
  TuningRow row;
  SelectTuning(row, ctx.bitRate / ctx.numChannels, static_cast<float>(ctx.sampleRate));
  if (ctx.sampleRate <= 32000) ctx.switchThreshold = 290.0f;
  if (ctx.sampleRate <= 24000) ctx.switchThreshold = 270.0f;
  // These still hold their defaults here; the guard keeps a value set on purpose.
  if (ctx.tonalSnr == 18.0f) ctx.tonalSnr = row.tonalSnr;
  if (ctx.noiseSnr == 6.0f) ctx.noiseSnr = row.noiseSnr;
  if (ctx.loopThresholdA == 3000) ctx.loopThresholdA = row.loopThresholdA;
  if (ctx.loopThresholdB == 3000) ctx.loopThresholdB = row.loopThresholdB;
  if (ctx.loopBias == 0.0f) ctx.loopBias = row.loopBias;
  ctx.spreadSlopeUpper = row.spreadSlopeUpper;
  ctx.spreadSlopeLower = row.spreadSlopeLower;
  ctx.psyLimitLong = row.psyLimit;
  ctx.psyLimitShort = row.psyLimit;
  ctx.snrBarkLimit = row.snrBarkLimit;
  ctx.athFlagA = row.athFlagA;
}

}  // namespace

void SetDefaults(StreamContext& ctx) {
  ctx.profile = kProfileLc;
  ctx.headerType = kHeaderAdts;
  ctx.adtsHeaderBits = 58;
  ctx.stereoMode = 0;
  ctx.peakTonality = 0;
  ctx.patienceLimit1 = 8;
  ctx.patienceLimit3 = 10;
  ctx.patienceLimit2 = 16;
  ctx.analyseShort = 0;
  ctx.noiseFlagStartHz = 6000;
  ctx.switchThreshold = 128.0f;
  ctx.timeDomainAttack = 0;
  ctx.psyEnergyFloor = 0.00001f;
  ctx.shortCarryFactor = 0.1f;
  ctx.psyWeight = 5.0f;
  ctx.lowpassCutoff = 18000;
  ctx.psyLimitLong = 22050;
  ctx.psyLimitShort = 22050;
  ctx.noiseFlagLevel = 0.15f;
  ctx.spreadSlopeUpper = 3.0f;
  ctx.spreadSlopeLower = 1.5f;
  ctx.loopOption = 0;
  ctx.psy.psyInitDone = 0;
  ctx.snrBarkLimit = 0;
  ctx.pipelineOptionB = 0;
  ctx.noiseSnr = 6.0f;
  ctx.tnsEnabled = 1;
  ctx.loopThresholdA = 3000;
  ctx.loopThresholdB = 3000;
  ctx.ltpEnabled = 1;
  ctx.psyOptionB = 0;
  ctx.vbrMode = 0;
  ctx.pipelineOptionA = 1;
  ctx.psyOptionA = 0;
  ctx.athOption = 0.0f;
  ctx.quality = 9;
  ctx.lastChannelIsLfe = 0;
  ctx.bandwidth = 0;
  ctx.altBandwidthRule = 0;
  ctx.bitRate = 128000;
  ctx.sampleRate = 0;
  ctx.chaosOption = 0;
  ctx.preEchoLimit = 0;
  ctx.chaosBandForce = 0;
  ctx.mpeg4Signalling = 1;
  ctx.athFlagA = 0;
  ctx.athFlagB = 0;
  ctx.skipShortFloor = 0;
  ctx.tonalSnr = 18.0f;
  ctx.forceLong = 0;
}

void SetParameter(StreamContext& ctx, int id, int value) {
  switch (id) {
    case 1: ctx.profile = value; break;
    case 2: ctx.headerType = value; break;
    case 3: ctx.stereoMode = value; break;
    case 5:  // saturated, so that absurd figures reach the open's range check instead of wrapping
      ctx.bitRate = static_cast<int>(std::clamp<int64_t>(int64_t{value} * 1000, INT32_MIN, INT32_MAX));
      break;
    case 6: ctx.bandwidth = value; break;
    case 7: ctx.sampleRate = value; break;
    case 8: ctx.parameter8 = value; break;
    case 9: ctx.tnsEnabled = value; break;
    case 10: ctx.ltpEnabled = value; break;
    case 11: ctx.psyOptionB = value; break;
    case 12: ctx.inputSampleRate = value; break;
    case 13: ctx.numChannels = value; break;
    case 14: ctx.lastChannelIsLfe = value; break;
    case 15: ctx.vbrMode = value; break;
    case 16: ctx.quality = value; break;
    default: break;  // 0, 4 and above 16 are not parameters
  }
}

int SelectTuning(TuningRow& row, int bitRatePerChannel, float sampleRate) {
  const float rate = std::clamp(sampleRate, 8000.0f, 48000.0f);
  const int normalised = static_cast<int>(static_cast<float>(bitRatePerChannel) / (rate * kInv44100));
  const TuningRow* best = &kTuningTable[0];
  int bestDistance = std::abs(best->key - normalised);
  for (const TuningRow* r = &kTuningTable[1]; r->key != -1; ++r) {
    const int distance = std::abs(r->key - normalised);
    if (distance < bestDistance) best = r, bestDistance = distance;  // ties keep the earlier row
  }
  row = *best;
  return 0;
}

void ApplyQualityLevel(StreamContext& ctx, int quality) {
  if (quality >= 0 && quality <= 9) {
    const QualityLevel& q = kQualityLevels[quality];
    ctx.patienceLimit1 = q.patience1;
    ctx.patienceLimit3 = q.patience3;
    ctx.patienceLimit2 = q.patience2;
    ctx.peakTonality = q.peakTonality;
    return;
  }
  ctx.patienceLimit1 = 8;
  ctx.patienceLimit3 = 10;
  ctx.patienceLimit2 = 16;
  ctx.peakTonality = quality < 0 ? 1 : 0;
}

void ApplyOpenArguments(StreamContext& ctx, const OpenArguments& args) {
  if (args.preset > 0) ctx.vbrMode = 1;
  SetParameter(ctx, 5, args.bitRateKbps);
  if (args.bandwidthHz > 2000) SetParameter(ctx, 6, args.bandwidthHz);
  SetParameter(ctx, 2, args.headerType);
  if (args.preset == 2) ctx.vbrMode = 1;
  ctx.loopBias = 0.0f;
  ctx.athFlagA = 0;
  ctx.psyOptionA = 0;
  if (args.preset == 1) ctx.vbrMode = 1, ctx.psyOptionA = 1;
  if (args.lcOnly == 1) {
    ctx.profile = kProfileLc;
    ctx.mpeg4Signalling = 1;
    SetParameter(ctx, 10, 0);
  }
  if (args.quality >= 0 && args.quality <= 9) SetParameter(ctx, 16, args.quality);
  ctx.quality = args.quality;
  if (args.lfe != 0) SetParameter(ctx, 14, 1);
  ApplyQualityLevel(ctx, args.quality);
  // Bit 8 of a negative preset selects the alternative bandwidth rule and its loop limits.
  if ((args.preset & 256) != 0 && ctx.vbrMode == 0 && ctx.psyOptionA == 0) {
    ctx.altBandwidthRule = 1;
    ctx.patienceLimit1 = 10;
    ctx.patienceLimit3 = 10;
    ctx.patienceLimit2 = 32;
  }
}

void ApplyPresetTuning(StreamContext& ctx, const OpenArguments& args) {
  if (args.preset == 0)
    ApplyTuningTable(ctx);
  else
    ApplyPreset(ctx, args.preset);
  if (args.bandwidthHz > 2000 && args.preset < 3) ctx.bandwidth = args.bandwidthHz;
  if (args.psyOption == 1) ctx.psyOptionB = 1;
  ctx.lowpassCutoff = std::min(ctx.sampleRate / 2, ctx.bandwidth + 500);
  if (args.quality <= 6) ctx.timeDomainAttack = 1;
}

}  // namespace aacs::api
