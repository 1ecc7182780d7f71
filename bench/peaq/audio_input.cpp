// peaq/audio_input.cpp — libsndfile reading and the pair checks.
#include "peaq/audio_input.h"

#include <sndfile.h>

namespace aacs::peaq {
namespace {

constexpr long kReadChunkFrames = 8192;

bool SupportedRate(int rate) { return rate == 44100 || rate == 48000; }

// Splits interleaved float frames into the per-channel arrays, scaled to 16-bit units.
void Deinterleave(const float* block, long frames, int channels, AudioSignal& out) {
  for (long i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c) out.samples[c].push_back(float(block[i * channels + c] * kSixteenBitScale));
}

}  // namespace

int ReadAudioFile(const char* path, AudioSignal& out, std::string& error) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path, SFM_READ, &info);
  if (!file) {
    error = std::string(path) + ": cannot read audio (" + sf_strerror(nullptr) + ")";
    return kPeaqUnreadable;
  }
  out = AudioSignal{};
  out.sampleRate = info.samplerate;
  out.channels = info.channels;
  if (info.channels < 1 || info.channels > kMaxChannels) {
    error = std::string(path) + ": " + std::to_string(info.channels) + " channels (mono or stereo only)";
    sf_close(file);
    return kPeaqUnsupported;
  }
  // Floats read back in [-1, 1) whatever the file's sample format; no clipping of float files.
  sf_command(file, SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);
  std::vector<float> block(kReadChunkFrames * info.channels);
  for (int c = 0; c < info.channels; ++c) out.samples[c].reserve(info.frames > 0 ? info.frames : 0);
  for (;;) {
    const sf_count_t got = sf_readf_float(file, block.data(), kReadChunkFrames);
    if (got <= 0) break;
    Deinterleave(block.data(), long(got), info.channels, out);
  }
  const int status = sf_error(file);
  sf_close(file);
  out.length = long(out.samples[0].size());
  if (status != SF_ERR_NO_ERROR) {
    error = std::string(path) + ": decoding failed (" + sf_error_number(status) + ")";
    return kPeaqUnreadable;
  }
  return kPeaqOk;
}

int CheckAudioPair(const AudioSignal& ref, const AudioSignal& test, const char* refPath, const char* testPath,
                   std::string& error) {
  if (!SupportedRate(ref.sampleRate)) {
    error = std::string(refPath) + ": sample rate " + std::to_string(ref.sampleRate) + " Hz (44100 or 48000 only)";
    return kPeaqUnsupported;
  }
  if (test.sampleRate != ref.sampleRate) {
    error = std::string(testPath) + ": sample rate " + std::to_string(test.sampleRate) + " Hz, reference has " +
            std::to_string(ref.sampleRate) + " Hz";
    return kPeaqMismatch;
  }
  if (test.channels != ref.channels) {
    error = std::string(testPath) + ": " + std::to_string(test.channels) + " channels, reference has " +
            std::to_string(ref.channels);
    return kPeaqMismatch;
  }
  if (test.length != ref.length) {
    error = std::string(testPath) + ": " + std::to_string(test.length) + " samples, reference has " +
            std::to_string(ref.length) + " (the files must be aligned and of equal length)";
    return kPeaqMismatch;
  }
  return kPeaqOk;
}

int ReadAudioPair(const char* refPath, const char* testPath, AudioSignal& ref, AudioSignal& test,
                  std::string& error) {
  int status = ReadAudioFile(refPath, ref, error);
  if (status == kPeaqOk) status = ReadAudioFile(testPath, test, error);
  if (status == kPeaqOk) status = CheckAudioPair(ref, test, refPath, testPath, error);
  return status;
}

}  // namespace aacs::peaq
