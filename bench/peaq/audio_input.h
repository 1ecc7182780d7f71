// peaq/audio_input.h — reading the reference and the test file of a measurement.
//
// Both files go through libsndfile (WAV, FLAC, ...) and come back as per-channel samples in the
// 16-bit range that the recommendation's level constants assume.  A pair must agree in sample
// rate, channel count and length; the first disagreement is reported as one line of text.
#pragma once
#include <string>
#include <vector>

namespace aacs::peaq {

constexpr int kMaxChannels = 2;
constexpr double kSixteenBitScale = 32768.0;  // float full scale to 16-bit sample units

// Statuses of the audio and measurement calls.
constexpr int kPeaqOk = 0;
constexpr int kPeaqUnreadable = 1;  // the file cannot be opened or decoded
constexpr int kPeaqUnsupported = 2; // a rate or channel count the model does not take
constexpr int kPeaqMismatch = 3;    // reference and test disagree in rate, channels or length
constexpr int kPeaqTooShort = 4;    // not even one analysis frame
constexpr int kPeaqInternal = 5;    // FFT tables could not be built

struct AudioSignal {
  int sampleRate = 0;
  int channels = 0;
  long length = 0;                           // samples per channel
  std::vector<float> samples[kMaxChannels];  // 16-bit units (full scale 32768)
};

// Reads one file; on failure `error` holds "PATH: what is wrong".
int ReadAudioFile(const char* path, AudioSignal& out, std::string& error);

// Checks that a test signal can be compared with a reference: 44.1 or 48 kHz, one or two
// channels, the same rate, channel count and length.  `testPath` names the culprit in `error`.
int CheckAudioPair(const AudioSignal& ref, const AudioSignal& test, const char* refPath, const char* testPath,
                   std::string& error);

// Both steps for a pair of files.
int ReadAudioPair(const char* refPath, const char* testPath, AudioSignal& ref, AudioSignal& test,
                  std::string& error);

}  // namespace aacs::peaq
