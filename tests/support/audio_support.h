// tests/support/audio_support.h — what end-to-end tests need around the encoder: WAV files,
// encoding through the public API (memory or file input), decoding with FFmpeg and faad, and the
// measures a listener would notice (delay, level, SNR, dominant frequency, bandwidth).
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "support/aac_parser.h"

struct StreamContext;

namespace aacs::testing {

struct Audio {
  int sampleRate = 0;
  int channels = 0;
  std::vector<float> samples;  // interleaved, 16-bit scale
  int Frames() const { return channels ? static_cast<int>(samples.size()) / channels : 0; }
  float At(int frame, int channel) const { return samples[static_cast<size_t>(frame) * channels + channel]; }
};

std::string DataPath(const std::string& name);  // tests/data/<name>
std::string TempPath(const std::string& name);  // a fresh path in the test temp directory
bool ReadWav(const std::string& path, Audio& out);  // 16-bit PCM (any chunk layout)
bool WriteWav(const std::string& path, const Audio& audio);  // 16-bit PCM
bool ReadFile(const std::string& path, std::vector<uint8_t>& bytes);
bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
Audio Load(const std::string& name);  // a clip of tests/data; a test failure when unreadable

// Synthetic signals at 16-bit scale; channel c carries hz + c * hzStep.
Audio Sine(int sampleRate, int channels, double seconds, double hz, double amplitude, double hzStep = 0.0);
Audio Downmix(const Audio& stereo);  // mono, floor of the mean of the two channels

struct EncodeOptions {
  int kbps = 128;
  int headerType = 2;
  int adtsBits = 56;
  int quality = 9;
  int preset = 0;
  int bandwidth = 0;
  int lfe = 0;
  int psyOption = 0;
  int lcOnly = 1;
  std::vector<std::pair<int, int>> extra{};  // further option keys
  std::function<void(StreamContext*)> configure{};  // test hook run right after open
  std::function<void(StreamContext*, int call)> beforeCall{};  // test hook run before every encode call
};

struct Encoded {
  std::vector<uint8_t> bytes;
  int calls = 0;
  int lastResult = -1;
  int flushResult = -1;
  bool opened = false;
};

// Encodes with memory input and output: full calls of channels x 1024 samples, a short last
// call (the remainder, at least one sample frame), then the flush frames.
Encoded EncodeAudio(const Audio& in, const EncodeOptions& options);
// The library reads the WAV file and writes the stream itself (resampling to sampleRate when it
// is not 0), with texts "ab", none, "xyz" and year 2020; `trailer` appends the trailer record.
Encoded EncodeFile(const std::string& wav, const EncodeOptions& options, int sampleRate = 0, bool trailer = false);

struct Decoded {
  Audio audio;
  std::string errors;  // what the decoder printed (FFmpeg with -v error: any line is a complaint)
  int status = -1;
};
// FFmpeg decode of a stream written to a file with the given extension (.aac, .adif, .m4a ...).
Decoded DecodeFfmpeg(const std::vector<uint8_t>& stream, const std::string& extension = ".aac");
// faad decode; legacyAdts adds -t (the 58-bit header form).
Decoded DecodeFaad(const std::vector<uint8_t>& stream, bool legacyAdts, const std::string& extension = ".aac");
// Both decoders take a 56-bit ADTS stream of `in` without complaint, each above minSnrDb (FFmpeg
// lags by 1024 samples, faad drops the first frame).
void ExpectBothDecodersClean(const Audio& in, const std::vector<uint8_t>& stream, double minSnrDb);

// ADTS walk: frame count (-1 when the lengths do not chain to the end) and the largest frame.
struct AdtsWalk {
  int frames = -1;
  int maxFrameBytes = 0;
  int profile = -1, sampleRateIndex = -1, channelConfig = -1;
};
AdtsWalk WalkAdts(const std::vector<uint8_t>& stream, int headerBits);
// Every frame of an ADTS stream through the independent parser (a test failure when one fails).
std::vector<test::ParsedFrame> ParseFrames(const std::vector<uint8_t>& stream, int headerBits = 56);

// Decoder output channel carrying element-order channel ch (C L R Ls Rs LFE): FFmpeg's order is
// L R C, L R C S, L R C Ls Rs and L R C LFE Ls Rs.
int FfmpegChannel(int channels, int ch);

// Delay of `decoded` against `reference` (positive: decoded lags), by cross-correlation of the
// channel mix over lags 0..maxLag.
int FindDelay(const Audio& reference, const Audio& decoded, int maxLag);
// SNR in dB of decoded (shifted by delay) against reference over their common frames.
double SnrDb(const Audio& reference, const Audio& decoded, int delay);
// RMS level in dBFS of all channels or one (frames from start, count frames; count < 0: to the end).
double LevelDb(const Audio& audio, int start = 0, int count = -1, int channel = -1);
// Frequency of the strongest spectral peak of one channel (parabolic interpolation).
double DominantFrequency(const Audio& audio, int channel, int start, int count);
// Highest frequency where the long-term power spectrum is within 60 dB of its peak.
double BandwidthHz(const Audio& audio);

}  // namespace aacs::testing
