// tools/encode_job.cpp — one input through the stream calls into one output file.
//
// M4A: the stream is opened with 56-bit ADTS headers in memory; each header carries its frame's
// length, so the frames of every call (and the two flush frames) are split exactly and their
// raw data blocks go into the MP4 sample table with their true sizes.  ADTS, ADIF and raw
// output are the library's own bytes, written as they come.
#include "encode_job.h"

#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "aacstream/aacstream.h"
#include "adts_frames.h"
#include "mp4_writer.h"
#include "output_file.h"
#include "wav_peek.h"

#ifndef AACSTREAM_TOOL_VERSION
#define AACSTREAM_TOOL_VERSION "0"
#endif

namespace aacs::tools {
namespace {

constexpr int kFrameSamples = 1024;
constexpr int kEncoderDelay = 1024;  // the stream runs one frame behind its input
// WAVE_FORMAT_EXTENSIBLE speaker masks of 5.1 (back or side surrounds): the library gives such a
// file its LFE channel by itself.
constexpr uint32_t kMask51Back = 0x3F, kMask51Side = 0x60F;

struct EncodeRun {
  const CliOptions& options;
  const EncodeJob& job;
  ProgressBoard& board;
  int index;
  WavInfo wav{};
  int rate = 0;                  // encoding rate
  bool resampling = false;
  int64_t expectedSamples = 0;   // at the encoding rate
  int kbps = 0;
  bool lfe = false;              // --lfe, or a 5.1 speaker mask
  OutputFile out{};
  Mp4Writer mp4{};
  StreamContext* stream = nullptr;
  std::vector<uint8_t> buffer{};
  std::vector<uint8_t> asc{};
  int64_t frames = 0;            // counted from ADTS headers (M4A and ADTS output)
  int64_t calls = 0;
  uint64_t streamBytes = 0;
  int writeError = 0;            // errno of the first failed write
  bool badFrame = false;
};

void Fail(EncodeRun& run, const std::string& message) {
  ProgressPrint(run.board, stderr, "aacstream: " + message);
}

int HeaderType(int format) { return format == kFormatAdif ? 1 : format == kFormatRaw ? 0 : 2; }
int AdtsHeaderBits(const CliOptions& o) { return o.adtsLegacy ? 58 : 56; }
bool CountsFrames(int format) { return format == kFormatM4a || format == kFormatAdts; }

// The library's limits of 64 to 6144 bits per channel per frame, in whole kbit/s.
int MinKbps(int channels, int sampleRate) { return int((64LL * channels * sampleRate / kFrameSamples + 999) / 1000); }
int MaxKbps(int channels, int sampleRate) { return int(6144LL * channels * sampleRate / kFrameSamples / 1000); }

// -1 too low, 0 accepted, 1 too high.
int BitrateFit(int kbps, int channels, int sampleRate) {
  if (kbps > MaxKbps(channels, sampleRate)) return 1;
  if (kbps < MinKbps(channels, sampleRate)) return -1;
  return 0;
}

// Checks what the library would refuse for this file, so that the message can name the file,
// the value and what to do.  Returns 0, or 1 after the message.
int CheckEncodable(EncodeRun& run) {
  const std::string& in = run.job.input;
  const int channels = run.wav.channels;
  if (!IsAacRate(run.rate)) {
    Fail(run, "cannot encode '" + in + "': its sampling rate " + std::to_string(run.rate) +
                  " Hz is not one AAC codes: resample it with --rate " +
                  std::to_string(AacRateForResampling(run.rate)) + " (or another AAC rate)");
    return 1;
  }
  const int fit = BitrateFit(run.kbps, channels, run.rate);
  if (fit != 0) {
    const std::string where = std::to_string(channels) + (channels == 1 ? " channel" : " channels") + " at " +
                              std::to_string(run.rate) + " Hz";
    const int limit = fit > 0 ? MaxKbps(channels, run.rate) : MinKbps(channels, run.rate);
    Fail(run, "cannot encode '" + in + "' at " + std::to_string(run.kbps) + " kbit/s: " +
                  (fit > 0 ? "the most for " : "the least for ") + where + " is " + std::to_string(limit) +
                  " kbit/s (use -b " + std::to_string(limit) + (fit > 0 ? " or less)" : " or more)"));
    return 1;
  }
  return 0;
}

void WriteBytes(EncodeRun& run, const uint8_t* data, size_t bytes) {
  if (run.writeError != 0 || bytes == 0) return;
  if (std::fwrite(data, 1, bytes, run.out.file) != bytes) run.writeError = errno ? errno : EIO;
}

// Takes the bytes of one encode call (or of the flush).
void Consume(EncodeRun& run, const uint8_t* data, size_t bytes) {
  const int format = run.job.format;
  if (!CountsFrames(format)) {
    WriteBytes(run, data, bytes);
    run.streamBytes += bytes;
    return;
  }
  const int headerBits = format == kFormatM4a ? 56 : AdtsHeaderBits(run.options);
  size_t offset = 0;
  while (offset < bytes) {
    AdtsFrame frame;
    if (ReadAdtsFrame(data, bytes, offset, headerBits, frame) != 0) {
      run.badFrame = true;
      return;
    }
    run.frames += 1;
    if (format == kFormatM4a) {
      const size_t payload = frame.length - size_t(frame.headerBytes);
      if (Mp4AddSample(run.mp4, data + offset + frame.headerBytes, payload) != 0 && run.writeError == 0)
        run.writeError = errno ? errno : EIO;
      run.streamBytes += payload;
    } else {
      run.streamBytes += frame.length;
    }
    offset += frame.length;
  }
  if (format == kFormatAdts) WriteBytes(run, data, bytes);
}

// Fraction of the input encoded so far, from frames, calls or (raw/ADIF with resampling) bytes.
double Progress(const EncodeRun& run) {
  if (run.expectedSamples <= 0) return 0;
  double samples;
  if (CountsFrames(run.job.format))
    samples = double(run.frames) * kFrameSamples;
  else if (!run.resampling)
    samples = double(run.calls) * kFrameSamples;
  else
    samples = double(run.streamBytes) * 8.0 / (run.kbps * 1000.0) * run.rate;
  return std::min(1.0, samples / double(run.expectedSamples));
}

// Checks the input and the options that depend on it; picks rate and bit rate.
int Prepare(EncodeRun& run) {
  const CliOptions& o = run.options;
  struct stat st;
  if (::stat(run.job.input.c_str(), &st) != 0) {
    Fail(run, "cannot open '" + run.job.input + "': " + std::strerror(errno));
    return 1;
  }
  if (S_ISDIR(st.st_mode)) {
    Fail(run, "'" + run.job.input + "' is a directory, not a WAV file");
    return 1;
  }
  std::string error;
  if (PeekWav(run.job.input, run.wav, error) != 0) {
    Fail(run, "cannot encode '" + run.job.input + "': " + error);
    return 1;
  }
  if (o.lfe && run.wav.channels != 6) {
    Fail(run, "'" + run.job.input + "' has " + std::to_string(run.wav.channels) +
                  " channels: --lfe applies to 6-channel (5.1) input");
    return 1;
  }
  run.rate = o.rateHz != 0 ? o.rateHz : run.wav.sampleRate;
  run.resampling = run.rate != run.wav.sampleRate;
  run.expectedSamples = run.resampling
      ? (run.wav.frames * run.rate + run.wav.sampleRate / 2) / run.wav.sampleRate
      : run.wav.frames;
  run.kbps = o.bitrateKbps != 0 ? o.bitrateKbps : DefaultBitrateKbps(run.wav.channels, run.rate);
  run.lfe = o.lfe || (run.wav.channels == 6 && (run.wav.channelMask == kMask51Back || run.wav.channelMask == kMask51Side));
  if (CheckEncodable(run) != 0) return 1;
  if (run.wav.declaredFrames > run.wav.frames && !o.quiet)
    ProgressPrint(run.board, stderr, "aacstream: warning: '" + run.job.input + "' is cut short: its header promises " +
                                         std::to_string(run.wav.declaredFrames) + " sample frames, the file holds " +
                                         std::to_string(run.wav.frames));
  return 0;
}

int OpenStream(EncodeRun& run) {
  const CliOptions& o = run.options;
  std::vector<int> keys, values;
  if (o.profile != 1) keys.push_back(AACSTREAM_OPT_PROFILE), values.push_back(o.profile);
  if (CountsFrames(run.job.format))
    keys.push_back(AACSTREAM_OPT_ADTS_HEADER_BITS), values.push_back(run.job.format == kFormatM4a ? 56 : AdtsHeaderBits(o));
  if (o.rateMode == kRateModeConstant) keys.push_back(AACSTREAM_OPT_RATE_MODE), values.push_back(AACSTREAM_RATE_CONSTANT);
  if (o.rateMode == kRateModeQuality) keys.push_back(AACSTREAM_OPT_VBR_LEVEL), values.push_back(o.vbrLevel);
  const char* text[3] = {nullptr, nullptr, nullptr};
  if (o.trailerTexts)
    for (int i = 0; i < 3; ++i) text[i] = o.text[i].c_str();
  {
    // The library prints its own reason when it refuses: keep the progress line out of its way.
    auto hold = ProgressHold(run.board);
    run.stream = aacStreamOpenEx32(1, 0, o.rateHz, run.kbps, 0, run.lfe ? 1 : 0, o.preset, o.profile == 1 ? 1 : 0,
                                   HeaderType(run.job.format), o.bandwidthHz, o.psyNoise ? 1 : 0, o.quality,
                                   run.job.input.c_str(), nullptr, text[0], text[1], text[2], o.year, keys.data(),
                                   values.data(), int(keys.size()));
  }
  if (run.stream == nullptr) return 1;  // the library said why
  run.buffer.resize(size_t(aacStreamMaxOutputBytes32(run.stream)));
  unsigned char asc[8];
  int ascLength = 0;
  if (aacStreamAudioSpecificConfig32(run.stream, asc, &ascLength) != 0 || ascLength <= 0 || ascLength > 8) {
    Fail(run, "the encoder gave no AudioSpecificConfig for '" + run.job.input + "'");
    return 1;
  }
  run.asc.assign(asc, asc + ascLength);
  return 0;
}

// The encode loop: file input, memory output, then the two flush frames.
int EncodeAll(EncodeRun& run) {
  int result = 0, length = 0;
  do {
    length = 0;
    result = aacStreamEncodeFrame32(run.stream, nullptr, run.buffer.data(), 0, &length);
    if (result != 0 && result != 2) break;
    run.calls += 1;
    Consume(run, run.buffer.data(), size_t(length));
    ProgressUpdate(run.board, run.index, Progress(run) * double(run.wav.frames) / run.wav.sampleRate);
  } while (result == 0 && run.writeError == 0 && !run.badFrame);
  if (result == 2) {
    length = 0;
    if (aacStreamFlush32(run.stream, run.buffer.data(), &length) == 0) Consume(run, run.buffer.data(), size_t(length));
  }
  aacStreamClose32(run.stream);
  if (result == AACSTREAM_RESULT_IO_ERROR) return 1;  // the library named the file and the reason
  if (result == 1) {
    Fail(run, "encoding '" + run.job.input + "' failed inside the encoder");
    return 1;
  }
  if (run.writeError != 0) {
    Fail(run, "cannot write '" + run.job.output + "': " + std::strerror(run.writeError));
    return 1;
  }
  if (run.badFrame) {
    Fail(run, "the encoder returned a malformed frame for '" + run.job.input + "'");
    return 1;
  }
  return 0;
}

int FinishFile(EncodeRun& run) {
  const CliOptions& o = run.options;
  if (run.job.format == kFormatM4a) {
    Mp4TrackInfo track;
    track.sampleRate = run.rate;
    track.channels = run.wav.channels;
    track.audioSpecificConfig = run.asc;
    track.encoderDelay = kEncoderDelay;
    track.validSamples = std::min<int64_t>(run.expectedSamples, run.frames * kFrameSamples - kEncoderDelay);
    const Mp4Tags tags{o.title, o.artist, o.album, o.comment, std::string("aacstream ") + AACSTREAM_TOOL_VERSION};
    if (Mp4Finish(run.mp4, track, tags) != 0) run.writeError = errno ? errno : EIO;
  } else if (o.trailer) {
    // The library's output is ours (memory output), so the trailer goes on our open file.
    WriteVelmorAACHeader(run.stream, run.out.file);
    if (std::ferror(run.out.file)) run.writeError = errno ? errno : EIO;
  }
  if (run.writeError != 0) {
    Fail(run, "cannot write '" + run.job.output + "': " + std::strerror(run.writeError));
    return 1;
  }
  std::string error;
  if (OutputCommit(run.out, o.overwrite, error) != 0) {
    Fail(run, error);
    return 1;
  }
  return 0;
}

int Run(EncodeRun& run) {
  if (Prepare(run) != 0) return 1;
  std::string error;
  if (OutputCreate(run.out, run.job.output, run.options.overwrite, run.job.format == kFormatM4a, error) != 0) {
    Fail(run, error);
    return 1;
  }
  if (run.job.format == kFormatM4a && Mp4Begin(run.mp4, run.out.file, run.rate != 0 ? run.rate : 44100) != 0) {
    Fail(run, "cannot write '" + run.job.output + "': " + std::strerror(errno));
    return 1;
  }
  if (OpenStream(run) != 0 || EncodeAll(run) != 0 || FinishFile(run) != 0) return 1;
  return 0;
}

const char* ChannelText(int channels, bool lfe) {
  switch (channels) {
    case 1: return "mono";
    case 2: return "stereo";
    case 6: return lfe ? "5.1" : "6 channels";
    default: return nullptr;
  }
}

}  // namespace

int DefaultBitrateKbps(int channels, int sampleRate) {
  if (channels <= 0 || sampleRate <= 0) return 64;
  int kbps = 64 * channels;
  while (kbps > 8 && BitrateFit(kbps, channels, sampleRate) > 0) --kbps;
  while (BitrateFit(kbps, channels, sampleRate) < 0) ++kbps;
  return kbps;
}

double InputSeconds(const std::string& path) {
  WavInfo info;
  std::string error;
  if (PeekWav(path, info, error) != 0 || info.sampleRate <= 0) return 0;
  return double(info.frames) / info.sampleRate;
}

int RunEncodeJob(const CliOptions& options, const EncodeJob& job, int index, ProgressBoard& board,
                 JobReport& report) {
  const auto start = std::chrono::steady_clock::now();
  EncodeRun run{options, job, board, index};
  const int status = Run(run);
  if (run.stream != nullptr) aacStreamDestroy32(run.stream);
  if (status != 0) OutputDiscard(run.out);
  report = JobReport{};
  report.ok = status == 0;
  report.audioSeconds = run.wav.sampleRate > 0 ? double(run.wav.frames) / run.wav.sampleRate : 0;
  report.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  report.streamBytes = run.streamBytes;
  report.sampleRate = run.rate;
  report.channels = run.wav.channels;
  report.samples = run.expectedSamples;
  report.lfe = run.lfe;
  // The stream's own duration: every frame it holds, priming and padding included.
  const int64_t frames = CountsFrames(job.format) ? run.frames : (run.expectedSamples + kFrameSamples - 1) / kFrameSamples + 1;
  report.codedSeconds = run.rate > 0 ? double(frames) * kFrameSamples / run.rate : 0;
  return status;
}

std::string SummaryLine(const CliOptions& options, const EncodeJob& job, const JobReport& report) {
  static const char* kProfiles[4] = {"AAC Main", "AAC-LC", "AAC SSR", "AAC LTP"};
  const double seconds = report.audioSeconds;
  const double kbps = report.codedSeconds > 0 ? double(report.streamBytes) * 8.0 / report.codedSeconds / 1000.0 : 0.0;
  const double speed = report.wallSeconds > 0 ? seconds / report.wallSeconds : 0.0;
  const char* channels = ChannelText(report.channels, report.lfe);
  const std::string channelText = channels ? channels : std::to_string(report.channels) + " channels";
  const std::string mode = options.rateMode == kRateModeConstant ? " CBR"
                           : options.rateMode == kRateModeQuality ? " VBR " + std::to_string(options.vbrLevel)
                           : options.preset != 0                  ? " preset " + std::to_string(options.preset)
                                                                  : "";
  char text[200];
  std::snprintf(text, sizeof text, ": %s, %s %s %d Hz %s, %.1f kbit/s%s, %.1fx realtime",
                FormatDuration(seconds).c_str(), FormatName(job.format), kProfiles[options.profile & 3],
                report.sampleRate, channelText.c_str(), kbps, mode.c_str(), speed);
  return job.input + " -> " + job.output + text;
}

}  // namespace aacs::tools
