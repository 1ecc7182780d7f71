// api/parameters.h — configuration of a stream: defaults, the numbered parameter setter, quality
// levels, the nine presets, the bit-rate tuning table and the lowpass rule.
//
// Open applies them in a fixed order around stream initialisation: defaults and arguments
// first (ApplyOpenArguments), then InitStream, then the preset and tuning tables
// (ApplyPresetTuning), which therefore do not reach the budget InitStream already derived.
#pragma once

struct StreamContext;

namespace aacs::api {

// One row of the tuning table, the columns the encoder reads.
struct TuningRow {
  int key;  // bit/s per channel at 44.1 kHz; -1 ends the table
  float tonalSnr;
  float noiseSnr;
  float loopBias;
  float spreadSlopeUpper;
  float spreadSlopeLower;
  int psyLimit;  // psyLimitLong and psyLimitShort
  int loopThresholdA;
  int loopThresholdB;
  int snrBarkLimit;
  int athFlagA;
};

// The open arguments that configuration reads.
struct OpenArguments {
  int bitRateKbps;
  int lfe;
  int preset;
  int lcOnly;
  int headerType;
  int bandwidthHz;
  int psyOption;
  int quality;
};

void SetDefaults(StreamContext& ctx);
// Stores one value by id (1..16); unknown ids are ignored.
void SetParameter(StreamContext& ctx, int id, int value);
// The table row nearest to the per-channel rate normalised to 44.1 kHz; returns 0.
int SelectTuning(TuningRow& row, int bitRatePerChannel, float sampleRate);
// Configuration steps before InitStream: presets' vbr flag, bit rate, bandwidth, header type,
// profile, quality levels, LFE, the alternative bandwidth rule.
void ApplyOpenArguments(StreamContext& ctx, const OpenArguments& args);
// Quality level table: patience limits and peak tonality for a quality value.
void ApplyQualityLevel(StreamContext& ctx, int quality);
// Configuration steps after InitStream: preset or tuning table, bandwidth argument,
// noise substitution, lowpass cutoff and the time-domain attack detector.
void ApplyPresetTuning(StreamContext& ctx, const OpenArguments& args);

}  // namespace aacs::api
