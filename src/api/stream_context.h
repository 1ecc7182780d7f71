// api/stream_context.h — the whole state of one encoder stream, one zeroed 32-byte aligned block.
//
// Configuration fields (set at open), framing and bit-budget fields, every per-channel sample
// and spectrum buffer, the coding records and tool states, and the psychoacoustic model's state.
// Nothing mutable lives outside it, so streams on different threads never share state.
#pragma once
#include <cstdint>
#include <cstdio>

#include "enc/aac_constants.h"
#include "enc/bit_writer.h"
#include "enc/channel_info.h"
#include "enc/filterbank_state.h"
#include "enc/ltp_record.h"
#include "enc/predictor_state.h"
#include "enc/tns_record.h"
#include "psych/psy_results.h"
#include "psych/psy_state.h"
#include "quant/channel_coding_record.h"

namespace aacs::api {
struct Resampler;
struct WaveReader;
}  // namespace aacs::api

// Largest number of sample frames one encode call can hand to the frame loop: the resampler's
// output for one call at the largest ratio (8000 -> 96000 Hz) plus the leftover of the previous
// call.  The converter chooses its samples per call so that it never produces more.
constexpr int kMaxWorkFrames = 23552;
constexpr int kMaxWorkSamples = aacs::kMaxChannels * kMaxWorkFrames;

// File names longer than this are shortened in messages.
constexpr int kMaxFileNameChars = 1024;

// The stream's I/O state (what aacStreamStatus32 reports).
enum IoStatus : int { kIoOk = 0, kIoReadFailed = 1, kIoWriteFailed = 2 };

struct StreamContext {
  // ---- Host arguments and the stream's life -----------------------------------------------
  int readInputFile;
  int writeOutputFile;
  int numChannels;
  int sampleRate;
  int inputSampleRate;
  int sampleRateIndex;
  const char* trailerText1;
  const char* trailerText2;
  const char* trailerText3;
  int trailerYear;
  int closed;          // aacStreamClose32 has run
  int ended;           // a short call ended the stream
  int failed;          // the frame pipeline failed; only close is allowed
  int ioStatus;        // kIoOk, or the first failed read or write of the stream's own files

  // ---- Configuration (defaults, presets, quality levels, tuning table) -------------------
  int profile;
  int headerType;
  int adtsHeaderBits;  // 58 (legacy, with emphasis) or 56
  int stereoMode;
  int peakTonality;
  int patienceLimit1, patienceLimit3, patienceLimit2;
  int analyseShort;
  int noiseFlagStartHz;
  float switchThreshold;
  int timeDomainAttack;
  float psyEnergyFloor;
  float shortCarryFactor;
  float psyWeight;
  int lowpassCutoff;
  int psyLimitLong, psyLimitShort;
  float noiseFlagLevel;
  float spreadSlopeUpper, spreadSlopeLower;
  int loopOption;
  int snrBarkLimit;
  int pipelineOptionA, pipelineOptionB;
  float noiseSnr;
  float tonalSnr;
  int tnsEnabled;
  int loopThresholdA, loopThresholdB;
  int ltpEnabled;
  int psyOptionA, psyOptionB;
  int vbrMode;
  float athOption;
  int quality;
  int lastChannelIsLfe;
  int bandwidth;
  int altBandwidthRule;
  int bitRate;
  int chaosOption;
  int preEchoLimit;
  int chaosBandForce;
  int mpeg4Signalling;
  int athFlagA, athFlagB;
  int skipShortFloor;
  float loopBias;
  int forceLong;
  int parameter8;  // id 8: accepted and stored, read by nobody

  // ---- Files and buffers ------------------------------------------------------------------
  aacs::api::WaveReader* inputReader;
  FILE* outputFile;
  char inputName[kMaxFileNameChars];   // the files' names as the host gave them, for messages
  char outputName[kMaxFileNameChars];
  int resampling;
  aacs::api::Resampler* resampler;
  int16_t* pcmBuffer;         // staging buffer of samplesPerCall samples; null after the end
  int samplesPerCall;
  uint8_t* outputBuffer;      // maxOutputBytes bytes
  int outputBytes;
  int maxOutputBytes;         // size of outputBuffer: enough for any one call or flush
  uint8_t* flushBuffer;       // memory output: the two flush frames kept for aacStreamFlush32
  int flushBytes;
  int flushPending;
  int adifDelivered;          // memory output: the ADIF header went out in front of the first frame
  aacs::enc::BitWriter frameWriter;  // one writer per stream, reset per frame

  // ---- Framing and bit budget ---------------------------------------------------------------
  int meanFrameBits;          // bits per frame at the target rate, rounded down
  int frameShareBits;         // this frame's share: the mean, with the remainder carried
  int64_t shareRemainder;     // what the rounding of earlier shares left (units: 1 / sampleRate bit)
  int rateMode;               // kRateAverage, kRateConstant or kRateQuality
  int vbrLevel;               // kRateQuality: 1 (smallest) .. kMaxVbrLevel
  int peakFrameBits;          // the largest frame so far (the ADIF header's rate of variable streams)
  int adifFullness;           // constant rate: the reservoir after the first coded frame
  int maxFrameBytes;
  int reservoirSize;
  int reservoirBits;
  float rateOffsetDb;         // average rate: how far below the model's thresholds the loops code
  float rateOffsetIntegral;   // the controller's integral part (dB)
  int64_t totalBits;
  int64_t frameCount;         // frames run, from -2
  float framesPerSecond;
  int firstFrame;
  int leftoverCount;
  alignas(32) float leftoverSamples[aacs::kMaxChannels * 1024];
  alignas(32) float workSamples[kMaxWorkSamples];

  // ---- Frame pipeline -------------------------------------------------------------------------
  int64_t pipelineFrameCount;
  int64_t pipelineBits;
  int psyResultToggle;
  int athTablesReady;
  int windowSequence[aacs::kMaxChannels];
  int prevBlockType[aacs::kMaxChannels];
  int blockType[aacs::kMaxPsySlots];
  float peakGain[aacs::kMaxChannels];
  int lastNonzeroLine[aacs::kMaxChannels];
  int windowShape[aacs::kMaxChannels];
  int prevWindowShape[aacs::kMaxChannels];
  int fbFirstCall[aacs::kMaxChannels];   // the channel's first analysis transform starts from zeros
  int reservedBits;
  int forceBlockType[aacs::kMaxChannels];  // tests: 1 forces long blocks, 2 eight-short; 0 the model decides
  float budgetPeLong[aacs::kMaxChannels];
  float budgetPeShort[aacs::kMaxChannels];
  int startGain[aacs::kMaxChannels];     // rate loops: the next frame's initial gain
  int signTable[aacs::kFrameLength];     // quantiser scratch: sign of every line

  alignas(32) float channelWindow[aacs::kMaxChannels][2048];  // previousFrame | newFrame
  alignas(32) float olderFrame[aacs::kMaxChannels][1024];
  alignas(32) float spectrum[aacs::kMaxChannels][2048];
  alignas(32) float reconSpectrum[aacs::kMaxChannels][1024 + 32];
  alignas(32) float ltpHistory[aacs::kMaxChannels][2048];  // the block being coded (long-term prediction)

  // Stereo decisions and the rate loops' inputs, per channel in coding order.
  float bandThreshold[aacs::kMaxChannels][aacs::kMaxCodedBands];
  float bandEnergy[aacs::kMaxChannels][aacs::kMaxCodedBands];
  float athLongBand[aacs::kMaxCodedBands];
  float athShortBand[aacs::kMaxCodedBands];

  aacs::enc::ChannelInfo channelInfo[aacs::kMaxPsySlots];
  aacs::quant::ChannelCodingRecord coding[aacs::kMaxChannels];
  aacs::enc::TnsRecord tns[aacs::kMaxChannels];
  aacs::enc::LtpRecord ltp[aacs::kMaxChannels];
  aacs::enc::PredictorState predictor[aacs::kMaxChannels];
  int predictorBandLimit;
  aacs::enc::LtpSearchState ltpSearch;
  // Test hook: receives the decoder-side synthesis of every coded frame and channel (Main and
  // LTP profiles), see enc/decoder_mirror.h.
  void (*reconSink)(void* user, int channel, const float* samples);
  void* reconSinkUser;

  // ---- Filterbank and psychoacoustic model ----------------------------------------------------
  aacs::enc::FilterbankState filterbank;
  aacs::psych::PsyLongResult psyLong[2][aacs::kMaxPsySlots];
  aacs::psych::PsyShortResult psyShort[2][aacs::kMaxPsySlots];
  aacs::psych::PsyModelState psy;
};
