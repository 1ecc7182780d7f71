// tools/wav_peek.h — reads only the header of a WAV file: its format and how many sample frames
// the library's reader will deliver.
//
// The encoder library reads the audio itself; the tool peeks at the header to learn the length
// (for the M4A edit list, the progress bar and the completeness check) and to turn unusable
// files away with a precise message before a stream is opened.  The chunk walk follows the
// library's reader: unknown chunks are skipped, a data size of 0, 0xFFFFFFFF or one past the end
// of the file means "to the end of the file".
#pragma once
#include <cstdint>
#include <string>

namespace aacs::tools {

struct WavInfo {
  int sampleRate = 0;
  int channels = 0;
  int bitsPerSample = 0;
  uint32_t channelMask = 0;    // WAVE_FORMAT_EXTENSIBLE speaker mask, 0 when there is none
  int64_t frames = 0;          // whole sample frames of audio the reader will deliver
  int64_t declaredFrames = 0;  // what the data chunk's size promises (larger for a cut file)
};

// Returns 0 and fills `info`, or 1 with a one-line reason in `error` (without the file name).
int PeekWav(const std::string& path, WavInfo& info, std::string& error);

}  // namespace aacs::tools
