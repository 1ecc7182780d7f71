// api/stream_api.cpp — the exported stream calls: open (processor binding, configuration,
// stream and encoder initialisation), encode, flush, close and destroy.
//
// An open that cannot succeed prints one line on stderr naming the problem, releases
// everything and returns null; a stream is never left half-initialised.
#include <sys/stat.h>

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <new>

#include "aacstream/aacstream.h"
#include "api/frame_driver.h"
#include "api/parameters.h"
#include "api/report.h"
#include "api/resampler.h"
#include "api/stream_context.h"
#include "api/stream_io.h"
#include "api/trailer.h"
#include "api/wave_reader.h"
#include "dsp/cpu_detect.h"
#include "dsp/platform.h"
#include "enc/band_tables.h"
#include "enc/bit_writer.h"
#include "enc/filterbank.h"
#include "enc/huffman.h"
#include "enc/ltp.h"
#include "enc/prediction.h"
#include "enc/syntax.h"
#include "enc/tns.h"
#include "psych/block_switch.h"
#include "psych/psy_model.h"
#include "quant/bit_budget.h"
#include "quant/rate_control.h"
#include "quant/rate_loop.h"

namespace aacs::api {
namespace {

constexpr int kMaxFramesPerResampledCall = kMaxWorkFrames / kFrameLength + 1;
constexpr int kMaxBandwidthHz = 96000;

// Prints the one-line reason an open fails.
void OpenError(const char* format, ...) __attribute__((format(printf, 1, 2)));
void OpenError(const char* format, ...) {
  va_list args;
  va_start(args, format);
  ReportLine("aacstream: ", format, args);
  va_end(args);
}

// The same for a stream's format, naming the input file when the library reads one (a host that
// encodes a batch of files learns which file was refused).
void FormatError(const StreamContext& ctx, const char* format, ...) __attribute__((format(printf, 2, 3)));
void FormatError(const StreamContext& ctx, const char* format, ...) {
  char message[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof message, format, args);
  va_end(args);
  if (ctx.readInputFile == 1)
    OpenError("cannot encode '%s': %s", ctx.inputName, message);
  else
    OpenError("%s", message);
}

int MaxChannelFrameBytes(const StreamContext& ctx) {
  // The rate loops keep every channel within the decoder's 6144-bit input buffer; headers,
  // element bits and alignment are bounded by a few hundred bits more.
  return (ctx.numChannels * kMaxChannelFrameBits + 1024) / 8;
}

void* AllocAligned(size_t bytes) { return dsp::AllocAlignedBuffer(bytes); }

void ReleaseEncoder(StreamContext& ctx) {
  enc::FilterbankRelease(ctx.filterbank);
  enc::LtpSearchRelease(ctx.ltpSearch);
  psych::ReleasePsyModel(ctx);
}

// Releases every buffer and file the stream holds; safe on a partly initialised stream.
void ReleaseStream(StreamContext& ctx) {
  ReleaseEncoder(ctx);
  if (ctx.resampler) ResamplerFree(ctx.resampler), ctx.resampler = nullptr;
  if (ctx.inputReader) WaveReaderClose(ctx.inputReader), ctx.inputReader = nullptr;
  if (ctx.outputFile) std::fclose(ctx.outputFile), ctx.outputFile = nullptr;  // after a failed open
  dsp::FreeAlignedBuffer(ctx.pcmBuffer), ctx.pcmBuffer = nullptr;
  dsp::FreeAlignedBuffer(ctx.outputBuffer), ctx.outputBuffer = nullptr;
  dsp::FreeAlignedBuffer(ctx.flushBuffer), ctx.flushBuffer = nullptr;
  enc::BitWriterRelease(ctx.frameWriter);
}

void InitEncoder(StreamContext& ctx) {
  ctx.sampleRateIndex = SampleRateIndex(ctx.sampleRate);
  if (ctx.profile == kProfileMain || ctx.profile == kProfileLc) ctx.ltpEnabled = 0;
  quant::InitQuantiserTables();
  enc::InitHuffmanTables();
  ctx.predictorBandLimit = enc::kPredSfbMax[ctx.sampleRateIndex];
  for (int c = 0; c < kMaxChannels; ++c) {
    ctx.fbFirstCall[c] = 1;
    ctx.prevWindowShape[c] = kKbdWindow;
    ctx.windowShape[c] = kKbdWindow;
    enc::TnsInit(ctx.sampleRate, ctx.profile, ctx.tns[c]);
    enc::LtpInit(ctx.ltp[c]);
    enc::PredictorInit(ctx.predictor[c]);
    ctx.coding[c].sampleRateIndex = ctx.sampleRateIndex;
    ctx.coding[c].channelIndex = c;
  }
  ctx.psyResultToggle = 1;
  ctx.pipelineFrameCount = 0;
  ctx.pipelineBits = 0;
  ctx.athTablesReady = 0;
}

const char* ProfileRefusal(int profile) {
  return profile == kProfileSsr ? "profile 2 (SSR) is not supported: use 0 (Main), 1 (LC) or 3 (LTP)"
                                : "unknown profile: use 0 (Main), 1 (LC) or 3 (LTP)";
}

// Channel count, rates and bit-rate limits, checked once the input file (if any) has supplied
// its format.  Returns 0, or 1 after printing the reason.
int ValidateFormat(const StreamContext& ctx) {
  if (ctx.numChannels < 1 || ctx.numChannels > kMaxChannels) {
    FormatError(ctx, "%d channels are not supported (1 to 6)", ctx.numChannels);
    return 1;
  }
  if (SampleRateIndex(ctx.sampleRate) < 0) {
    FormatError(ctx, "sampling rate %d Hz is not supported (96000, 88200, 64000, 48000, 44100, 32000, "
              "24000, 22050, 16000, 12000, 11025 or 8000)", ctx.sampleRate);
    return 1;
  }
  if (ctx.inputSampleRate != ctx.sampleRate &&
      (static_cast<int64_t>(ctx.inputSampleRate) * 12 < ctx.sampleRate ||
       static_cast<int64_t>(ctx.sampleRate) * 12 < ctx.inputSampleRate)) {
    FormatError(ctx, "cannot convert %d Hz input to %d Hz (ratio above 12)", ctx.inputSampleRate, ctx.sampleRate);
    return 1;
  }
  if (ctx.numChannels == 4 && ctx.lastChannelIsLfe) {
    FormatError(ctx, "4 channels with an LFE channel have no standard layout");
    return 1;
  }
  if (ctx.bitRate < 8000 || ctx.bitRate % 1000 != 0) {
    FormatError(ctx, "bit rate %d bit/s is not supported (whole kbit/s, at least 8)", ctx.bitRate);
    return 1;
  }
  const int64_t frameBits = static_cast<int64_t>(ctx.bitRate) * kFrameLength / ctx.sampleRate;
  if (frameBits > static_cast<int64_t>(kMaxChannelFrameBits) * ctx.numChannels) {
    FormatError(ctx, "bit rate %d kbit/s is above the %d-channel maximum at %d Hz (%lld kbit/s)",
              ctx.bitRate / 1000, ctx.numChannels, ctx.sampleRate,
              static_cast<long long>(static_cast<int64_t>(kMaxChannelFrameBits) * ctx.numChannels * ctx.sampleRate / kFrameLength / 1000));
    return 1;
  }
  if (frameBits < 64LL * ctx.numChannels) {
    FormatError(ctx, "bit rate %d kbit/s is too low for %d channels at %d Hz (at least %lld kbit/s)",
              ctx.bitRate / 1000, ctx.numChannels, ctx.sampleRate,
              static_cast<long long>((64LL * ctx.numChannels * ctx.sampleRate / kFrameLength + 999) / 1000));
    return 1;
  }
  if (ctx.profile != kProfileMain && ctx.profile != kProfileLc && ctx.profile != kProfileLtp) {
    FormatError(ctx, "%s", ProfileRefusal(ctx.profile));
    return 1;
  }
  return 0;
}

// Rate modes that exclude each other; a quality level takes its nominal rate (scaled to the
// sampling rate, within what the channel count allows) for the model's tuning and bandwidth.
int SettleRateMode(StreamContext& ctx) {
  if (ctx.vbrLevel > 0 && ctx.rateMode == kRateConstant) {
    OpenError("a VBR quality level and constant rate exclude each other");
    return 1;
  }
  if ((ctx.vbrLevel > 0 || ctx.rateMode == kRateConstant) && ctx.vbrMode != 0) {
    OpenError("presets and the variable-rate option have their own rate control: no %s with them",
              ctx.vbrLevel > 0 ? "VBR quality level" : "constant rate");
    return 1;
  }
  if (ctx.vbrLevel == 0) return 0;
  ctx.rateMode = kRateQuality;
  if (ctx.numChannels < 1 || SampleRateIndex(ctx.sampleRate) < 0) return 0;  // refused by the format check
  const int64_t perChannel = int64_t{quant::QualityLevelNominalRate(ctx.vbrLevel)} * ctx.sampleRate / 44100;
  const int64_t lowest = (64LL * ctx.numChannels * ctx.sampleRate / kFrameLength + 999) / 1000 * 1000;
  const int64_t highest = int64_t{kMaxChannelFrameBits} * ctx.numChannels * ctx.sampleRate / kFrameLength / 1000 * 1000;
  ctx.bitRate = static_cast<int>(std::clamp(perChannel * ctx.numChannels / 1000 * 1000, std::max<int64_t>(lowest, 8000),
                                            highest));
  return 0;
}

// Opens the input reader and takes the file's format.  Returns 0, or 1 after the message.
int OpenInputReader(StreamContext& ctx, const char* inputFileName) {
  WaveFormatReport report{};
  int status = 0;
  ctx.inputReader = WaveReaderOpen(inputFileName, &report, &status);
  if (ctx.inputReader == nullptr) {
    OpenError("cannot read '%s': %s", inputFileName, WaveReaderStatusText(status));
    return 1;
  }
  if (report.numChannels > kMaxChannels) {
    OpenError("'%s' has %d channels (at most 6 are supported)", inputFileName, report.numChannels);
    return 1;
  }
  if (report.numChannels == 4 && report.channelMask != 0 && report.channelMask != kWaveMask4Channels) {
    OpenError("cannot encode '%s': its 4 channels are laid out as speaker mask 0x%X, which AAC cannot carry "
              "(4-channel AAC is front left, right, centre and back centre, mask 0x%X): remix it first",
              inputFileName, report.channelMask, kWaveMask4Channels);
    return 1;
  }
  // A 6-channel file whose mask says 5.1 (back or side surrounds) has its LFE in the fourth place.
  if (report.numChannels == 6 && (report.channelMask == kWaveMask51Back || report.channelMask == kWaveMask51Side))
    ctx.lastChannelIsLfe = 1;
  ctx.numChannels = report.numChannels;
  ctx.inputSampleRate = report.sampleRate;
  if (ctx.sampleRate == 0) ctx.sampleRate = report.sampleRate;
  return 0;
}

void DeriveBitBudget(StreamContext& ctx) {
  ctx.samplesPerCall = ctx.numChannels * kFrameLength;
  quant::InitBitBudget(ctx);
  ctx.maxFrameBytes = (5 * ctx.meanFrameBits + 7) / 8;
  ctx.framesPerSecond = static_cast<float>(ctx.sampleRate) * (1.0f / 1024.0f);
  ctx.frameCount = -2;
}

// Output buffer, staging buffer and the per-stream frame writer, sized for the worst case.
int AllocateStreamBuffers(StreamContext& ctx) {
  const int frameBytes = MaxChannelFrameBytes(ctx);
  const int framesPerCall = ctx.resampling ? kMaxFramesPerResampledCall : 1;
  const int adifBytes = ctx.headerType == kHeaderAdif ? enc::AdifHeaderBytes(ctx) : 0;
  ctx.maxOutputBytes = framesPerCall * frameBytes + adifBytes + 100;
  // The flush returns the converter's tail (at most two frames) and the two flush frames.
  const int flushBytes = 4 * frameBytes;
  if (ctx.maxOutputBytes < flushBytes) ctx.maxOutputBytes = flushBytes;
  if (ctx.maxOutputBytes < ctx.maxFrameBytes + 100) ctx.maxOutputBytes = ctx.maxFrameBytes + 100;
  ctx.pcmBuffer = static_cast<int16_t*>(AllocAligned(static_cast<size_t>(ctx.samplesPerCall) * sizeof(int16_t)));
  ctx.outputBuffer = static_cast<uint8_t*>(AllocAligned(static_cast<size_t>(ctx.maxOutputBytes)));
  ctx.flushBuffer = static_cast<uint8_t*>(AllocAligned(static_cast<size_t>(ctx.maxOutputBytes)));
  if (!ctx.pcmBuffer || !ctx.outputBuffer || !ctx.flushBuffer) return 1;
  std::memset(ctx.pcmBuffer, 0, static_cast<size_t>(ctx.samplesPerCall) * sizeof(int16_t));
  return enc::BitWriterInit(ctx.frameWriter, ctx.numChannels * kMaxChannelFrameBits + 1024);
}

// Stream initialisation: input format, automatic bandwidth, output file, validation, encoder
// state, bit budget, converter, ADIF placeholder, buffers.  Returns 0, or 1 after the message.
int InitStream(StreamContext& ctx, const char* inputFileName, const char* outputFileName) {
  if (ctx.readInputFile == 1 && OpenInputReader(ctx, inputFileName) != 0) return 1;
  if (SettleRateMode(ctx) != 0 || ValidateFormat(ctx) != 0) return 1;
  if (ctx.bandwidth == 0) {
    const int perChannel = ctx.bitRate / ctx.numChannels;
    if (ctx.vbrMode || ctx.psyOptionA)
      ctx.bandwidth = ctx.sampleRate / 2;
    else
      ctx.bandwidth = ctx.altBandwidthRule ? psych::DefaultBandwidthAlt(perChannel) : psych::DefaultBandwidth(perChannel);
  }
  if (ctx.writeOutputFile == 1) {
    ctx.outputFile = std::fopen(outputFileName, "wb");
    if (ctx.outputFile == nullptr) {
      OpenError("cannot create '%s': %s", outputFileName, std::strerror(errno));
      return 1;
    }
  }
  if (ctx.numChannels == 1) ctx.stereoMode = -1;
  ctx.totalBits = 0;
  ctx.frameCount = 0;
  ctx.firstFrame = 1;
  ctx.resampling = ctx.inputSampleRate != ctx.sampleRate;
  InitEncoder(ctx);
  // The model's transforms and filters are created here rather than in the first encode call,
  // so that a memory shortage fails the open instead of the encoding.
  const bool ltpSearch = ctx.profile == kProfileLtp && ctx.ltpEnabled;
  if (enc::FilterbankInit(ctx.filterbank) != 0 || psych::PsyModelAllocate(ctx) != 0 ||
      (ltpSearch && enc::LtpSearchInit(ctx.ltpSearch) != 0)) {
    OpenError("out of memory");
    return 1;
  }
  DeriveBitBudget(ctx);
  if (ctx.resampling) {
    const float ratio = static_cast<float>(ctx.sampleRate) / static_cast<float>(ctx.inputSampleRate);
    ctx.resampler = ResamplerCreate(ratio, ctx.numChannels, -1, -1.0f, -1.0f, -1.0f, &ctx.samplesPerCall);
    if (ctx.resampler == nullptr) {
      OpenError("cannot create the sample-rate converter for %d -> %d Hz", ctx.inputSampleRate, ctx.sampleRate);
      return 1;
    }
  }
  ctx.leftoverCount = 0;
  if (AllocateStreamBuffers(ctx) != 0) {
    OpenError("out of memory");
    return 1;
  }
  if (ctx.headerType == kHeaderAdif && ctx.writeOutputFile == 1) {
    // Placeholder of the header's real size; close writes the header over it.
    uint8_t zeros[64] = {};
    const int bytes = enc::AdifHeaderBytes(ctx);
    if (std::fwrite(zeros, 1, static_cast<size_t>(bytes), ctx.outputFile) != static_cast<size_t>(bytes)) {
      OpenError("cannot write '%s': %s", outputFileName, std::strerror(errno));
      return 1;
    }
  }
  return 0;
}

// Option keys that stand for an open argument replace it before configuration; the others are
// stored after the arguments.  Returns 0, or 1 after the message.
int CheckOption(int key, int value) {
  switch (key) {
    case 1: return (value == 0 || value == 1 || value == 3) ? 0 : 1;
    case 2: return (value >= 0 && value <= 2) ? 0 : 1;
    case 3: return (value >= -1 && value <= 1) ? 0 : 1;
    case 5: return (value >= 8 && value <= 6144 * 6 * 96) ? 0 : 1;
    case 6: return (value == 0 || (value > 2000 && value <= kMaxBandwidthHz)) ? 0 : 1;
    case 7: return SampleRateIndex(value) >= 0 ? 0 : 1;
    case 8: return 0;
    case 9: case 10: case 11: case 14: case 15: return (value == 0 || value == 1) ? 0 : 1;
    case 12: return (value >= 1000 && value <= 384000) ? 0 : 1;
    case 13: return (value >= 1 && value <= kMaxChannels) ? 0 : 1;
    case 16: return (value >= -1000 && value <= 1000) ? 0 : 1;
    case 100: return (value == 56 || value == 58) ? 0 : 1;
    case 101: return (value == kRateAverage || value == kRateConstant) ? 0 : 1;
    case 102: return (value >= 0 && value <= kMaxVbrLevel) ? 0 : 1;
    default: return 2;
  }
}

struct OpenRequest {
  int readInputFile, writeOutputFile, sampleRate, numChannels;
  OpenArguments args;
  const char *inputFileName, *outputFileName, *text1, *text2, *text3;
  int year;
  const int* optionKeys;
  const int* optionValues;
  int optionCount;
};

int ValidateOptions(const OpenRequest& req) {
  if (req.optionCount < 0 || (req.optionCount > 0 && (!req.optionKeys || !req.optionValues))) {
    OpenError("option arrays are missing");
    return 1;
  }
  for (int i = 0; i < req.optionCount; ++i) {
    const int status = CheckOption(req.optionKeys[i], req.optionValues[i]);
    if (status == 2) {
      OpenError("unknown option key %d", req.optionKeys[i]);
      return 1;
    }
    if (status != 0 && req.optionKeys[i] == 1) {
      OpenError("%s", ProfileRefusal(req.optionValues[i]));
      return 1;
    }
    if (status != 0) {
      OpenError("option %d: value %d is out of range", req.optionKeys[i], req.optionValues[i]);
      return 1;
    }
  }
  return 0;
}

// Keys that replace an open argument.
void MergeArgumentOptions(OpenRequest& req) {
  for (int i = 0; i < req.optionCount; ++i) {
    const int value = req.optionValues[i];
    switch (req.optionKeys[i]) {
      case 2: req.args.headerType = value; break;
      case 5: req.args.bitRateKbps = value; break;
      case 6: req.args.bandwidthHz = value; break;
      case 7: req.sampleRate = value; break;
      case 11: req.args.psyOption = value; break;
      case 13: req.numChannels = value; break;
      case 14: req.args.lfe = value; break;
      case 16: req.args.quality = value; break;
      default: break;
    }
  }
}

// Keys without an open argument, stored after the arguments.
void ApplyParameterOptions(StreamContext& ctx, const OpenRequest& req) {
  for (int i = 0; i < req.optionCount; ++i) {
    const int key = req.optionKeys[i], value = req.optionValues[i];
    switch (key) {
      case 1:
        SetParameter(ctx, 1, value);
        if (value == kProfileLtp) ctx.ltpEnabled = 1;  // the LTP object type means the tool
        break;
      case 3: case 8: case 9: case 10: case 12: case 15: SetParameter(ctx, key, value); break;
      case 100: ctx.adtsHeaderBits = value; break;
      case 101: ctx.rateMode = value; break;
      case 102: ctx.vbrLevel = value; break;
      default: break;
    }
  }
}

// The same name, or the same file through another name (a link): same device and inode.
bool SameFile(const char* input, const char* output) {
  if (std::strcmp(input, output) == 0) return true;
  struct stat in, out;
  return ::stat(input, &in) == 0 && ::stat(output, &out) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino;
}

int CheckFileArguments(const OpenRequest& req) {
  if (req.readInputFile == 1) {
    FILE* f = req.inputFileName ? std::fopen(req.inputFileName, "rb") : nullptr;
    if (f == nullptr) {
      OpenError("cannot open input file '%s'", req.inputFileName ? req.inputFileName : "(null)");
      return 1;
    }
    std::fclose(f);
  }
  if (req.writeOutputFile == 1 && (req.outputFileName == nullptr || req.outputFileName[0] == '\0')) {
    OpenError("no output file name");
    return 1;
  }
  if (req.readInputFile == 1 && req.writeOutputFile == 1 && SameFile(req.inputFileName, req.outputFileName)) {
    OpenError("'%s' is both the input and the output: writing the stream would destroy the input", req.outputFileName);
    return 1;
  }
  if (req.args.bandwidthHz > kMaxBandwidthHz) {
    OpenError("bandwidth %d Hz is out of range (2001 to %d Hz; 2000 or less: automatic)", req.args.bandwidthHz,
              kMaxBandwidthHz);
    return 1;
  }
  if (req.args.headerType < 0 || req.args.headerType > 2) {
    OpenError("header type %d is not supported (0 raw, 1 ADIF, 2 ADTS)", req.args.headerType);
    return 1;
  }
  return 0;
}

StreamContext* AllocateContext() {
  void* block = dsp::AllocZeroedBlock(sizeof(StreamContext));
  if (block == nullptr) return nullptr;
  return new (block) StreamContext;  // trivially constructible: the zeroed bytes are its state
}

void FreeContext(StreamContext* ctx) {
  ReleaseStream(*ctx);
  dsp::FreeBlock(ctx);
}

StreamContext* OpenStream(OpenRequest req) {
  dsp::BindPrimitivesOnce();
  if (ValidateOptions(req) != 0) return nullptr;
  MergeArgumentOptions(req);
  if (CheckFileArguments(req) != 0) return nullptr;
  StreamContext* ctx = AllocateContext();
  if (ctx == nullptr) {
    OpenError("out of memory");
    return nullptr;
  }
  ctx->mpeg4Signalling = 1;
  ctx->profile = kProfileLc;
  SetDefaults(*ctx);
  // Only 1 selects file input or output; any other value means memory.
  ctx->readInputFile = req.readInputFile == 1 ? 1 : 0;
  ctx->writeOutputFile = req.writeOutputFile == 1 ? 1 : 0;
  if (ctx->readInputFile) KeepFileName(ctx->inputName, req.inputFileName);
  if (ctx->writeOutputFile) KeepFileName(ctx->outputName, req.outputFileName);
  ctx->numChannels = req.numChannels;
  ctx->sampleRate = req.sampleRate;
  ctx->inputSampleRate = req.sampleRate;
  ApplyOpenArguments(*ctx, req.args);
  ctx->trailerYear = req.year != 0 ? req.year : dsp::CurrentUtcYear();
  ctx->trailerText1 = req.text1;
  ctx->trailerText2 = req.text2;
  ctx->trailerText3 = req.text3;
  ApplyParameterOptions(*ctx, req);
  if (req.readInputFile != 1 && ctx->inputSampleRate != ctx->sampleRate) {
    OpenError("input rate %d Hz differs from the encoding rate %d Hz: resampling needs file input",
              ctx->inputSampleRate, ctx->sampleRate);
    FreeContext(ctx);
    return nullptr;
  }
  if (InitStream(*ctx, req.inputFileName, req.outputFileName) != 0) {
    FreeContext(ctx);
    return nullptr;
  }
  ApplyPresetTuning(*ctx, req.args);
  return ctx;
}

int CopyOut(StreamContext& ctx, unsigned char* out) {
  if (!ctx.writeOutputFile && ctx.outputBytes > 0) std::memcpy(out, ctx.outputBuffer, static_cast<size_t>(ctx.outputBytes));
  return ctx.outputBytes;
}

// Fills the staging buffer for one call; returns the valid sample count, or -1 after a read
// failure (recorded in ctx.ioStatus).
int StageSamples(StreamContext& ctx, const short* pcm, int sampleCount) {
  if (ctx.readInputFile == 1) {
    const int n = WaveReaderRead(ctx.inputReader, ctx.pcmBuffer, ctx.samplesPerCall);
    if (n < 0 || ctx.inputReader->status == kWaveShortRead) {
      const int err = ctx.inputReader->readErrno;
      FailStreamIo(ctx, kIoReadFailed, err != 0 ? std::strerror(err)
                                                : "the file ended before its audio data did (did it change while "
                                                  "being encoded?)");
      return -1;
    }
    ReorderWaveChannels(ctx.pcmBuffer, n, ctx.numChannels);
    return n;
  }
  if (sampleCount > 0) std::memcpy(ctx.pcmBuffer, pcm, static_cast<size_t>(sampleCount) * sizeof(int16_t));
  return sampleCount;
}

// The short call's end of stream: converter tail, then the two flush frames.  With memory
// output their bytes are kept for aacStreamFlush32.
int FlushStream(StreamContext& ctx) {
  dsp::FreeAlignedBuffer(ctx.pcmBuffer);
  ctx.pcmBuffer = nullptr;
  ctx.ended = 1;
  ctx.flushBytes = 0;
  auto keep = [&ctx]() {
    if (ctx.writeOutputFile) return;
    std::memcpy(ctx.flushBuffer + ctx.flushBytes, ctx.outputBuffer, static_cast<size_t>(ctx.outputBytes));
    ctx.flushBytes += ctx.outputBytes;
  };
  const int savedBytes = ctx.outputBytes;
  if (ctx.resampling) {
    if (EncodeResamplerTail(ctx) != 0) return 1;
    keep();
  }
  for (int run = 0; run < 2; ++run) {
    if (EncodeChunk(ctx, 0) != 0) return 1;
    keep();
  }
  ctx.flushPending = ctx.writeOutputFile ? 0 : 1;
  ctx.outputBytes = savedBytes;
  if (ctx.writeOutputFile) FlushOutputFile(ctx);
  return 0;
}

}  // namespace
}  // namespace aacs::api

using namespace aacs;
using namespace aacs::api;

extern "C" {

StreamContext* aacStreamOpenEx32(int readInputFile, int writeOutputFile, int sampleRate, int bitRateKbps,
                                 int numChannels, int lfe, int preset, int lcOnly, int headerType,
                                 int bandwidthHz, int psyOption, int quality, const char* inputFileName,
                                 const char* outputFileName, const char* text1, const char* text2,
                                 const char* text3, int year, const int* optionKeys,
                                 const int* optionValues, int optionCount) {
  OpenRequest req{readInputFile, writeOutputFile, sampleRate, numChannels,
                  OpenArguments{bitRateKbps, lfe, preset, lcOnly, headerType, bandwidthHz, psyOption, quality},
                  inputFileName, outputFileName, text1, text2, text3, year, optionKeys, optionValues, optionCount};
  return OpenStream(req);
}

StreamContext* aacStreamOpen32(int readInputFile, int writeOutputFile, int sampleRate, int bitRateKbps,
                               int numChannels, int lfe, int preset, int lcOnly, int headerType,
                               int bandwidthHz, int psyOption, int quality, const char* inputFileName,
                               const char* outputFileName, const char* text1, const char* text2,
                               const char* text3, int year) {
  return aacStreamOpenEx32(readInputFile, writeOutputFile, sampleRate, bitRateKbps, numChannels, lfe,
                           preset, lcOnly, headerType, bandwidthHz, psyOption, quality, inputFileName,
                           outputFileName, text1, text2, text3, year, nullptr, nullptr, 0);
}

int aacStreamEncodeFrame32(StreamContext* handle, const short* pcm, unsigned char* out, int sampleCount,
                           int* outLength) {
  if (handle == nullptr || handle->closed || handle->failed) return 1;
  StreamContext& ctx = *handle;
  if (ctx.ioStatus != kIoOk) {
    if (outLength) *outLength = 0;
    return AACSTREAM_RESULT_IO_ERROR;
  }
  const bool memoryOutput = ctx.writeOutputFile != 1;
  if (memoryOutput && (out == nullptr || outLength == nullptr)) return 1;
  if (ctx.ended) {
    if (outLength) *outLength = 0;
    return 2;
  }
  if (ctx.readInputFile != 1 && (sampleCount < 0 || sampleCount > ctx.samplesPerCall ||
                                 (pcm == nullptr && sampleCount > 0)))
    return 1;
  const int n = StageSamples(ctx, pcm, sampleCount);
  ctx.outputBytes = 0;
  if (n > 0) {
    if (EncodeChunk(ctx, n) != 0) {
      ctx.failed = 1;
      return 1;
    }
    CopyOut(ctx, out);
  }
  if (outLength) *outLength = ctx.outputBytes;
  if (ctx.ioStatus != kIoOk) return AACSTREAM_RESULT_IO_ERROR;
  if (n >= ctx.samplesPerCall) return 0;
  if (FlushStream(ctx) != 0) {
    ctx.failed = 1;
    return 1;
  }
  return ctx.ioStatus != kIoOk ? AACSTREAM_RESULT_IO_ERROR : 2;
}

int aacStreamFlush32(StreamContext* handle, unsigned char* out, int* outLength) {
  if (outLength) *outLength = 0;
  if (handle == nullptr || out == nullptr || outLength == nullptr || !handle->flushPending) return 1;
  std::memcpy(out, handle->flushBuffer, static_cast<size_t>(handle->flushBytes));
  *outLength = handle->flushBytes;
  handle->flushPending = 0;
  return 0;
}

void aacStreamClose32(StreamContext* handle) {
  if (handle == nullptr || handle->closed) return;
  StreamContext& ctx = *handle;
  if (ctx.headerType == kHeaderAdif && ctx.writeOutputFile == 1 && ctx.outputFile) {
    const int headerBytes = aacs::enc::AdifHeaderBytes(ctx);
    ctx.totalBits += 8 * headerBytes;
    const uint32_t bitRate = aacs::enc::AdifBitRate(ctx, true);
    uint8_t header[64];
    const int bytes = aacs::enc::BuildAdifHeader(ctx, bitRate, header);
    if (ctx.ioStatus == kIoOk && std::fseek(ctx.outputFile, 0, SEEK_SET) != 0)
      FailStreamIo(ctx, kIoWriteFailed, std::strerror(errno));
    WriteOutputBytes(ctx, header, bytes);
  }
  CloseOutputFile(ctx);
  ReleaseStream(ctx);
  ctx.flushPending = 0;
  ctx.closed = 1;
}

void aacStreamDestroy32(StreamContext* handle) {
  if (handle == nullptr) return;
  aacStreamClose32(handle);
  aacs::dsp::FreeBlock(handle);
}

void WriteVelmorAACHeader(StreamContext* handle, FILE* stream) {
  if (handle == nullptr || stream == nullptr) return;
  WriteTrailer(*handle, stream);
}

int aacStreamMaxOutputBytes32(StreamContext* handle) { return handle ? handle->maxOutputBytes : 0; }

int aacStreamStatus32(StreamContext* handle) { return handle ? handle->ioStatus : -1; }

int aacStreamAudioSpecificConfig32(StreamContext* handle, unsigned char* out, int* outLength) {
  if (handle == nullptr || out == nullptr || outLength == nullptr) return 1;
  const int objectType = handle->profile + 1;
  const int sfi = SampleRateIndex(handle->sampleRate);
  const int channelConfig = handle->numChannels;
  // audioObjectType(5) samplingFrequencyIndex(4) channelConfiguration(4) GASpecificConfig(3 zero bits)
  out[0] = static_cast<unsigned char>((objectType << 3) | (sfi >> 1));
  out[1] = static_cast<unsigned char>(((sfi & 1) << 7) | (channelConfig << 3));
  *outLength = 2;
  return 0;
}

}  // extern "C"
