// tools/encode_job.h — encodes one WAV file into one output file through the public stream API.
//
// The library reads the WAV file itself (so every file it accepts works and --rate resamples)
// and hands the coded bytes back in memory; the job writes them to a temporary file (muxing
// them into M4A when asked) and renames it into place only when everything succeeded.
#pragma once
#include <cstdint>
#include <string>

#include "cli_options.h"
#include "progress.h"

namespace aacs::tools {

struct JobReport {
  bool ok = false;
  double audioSeconds = 0;   // duration of the input
  double wallSeconds = 0;
  uint64_t streamBytes = 0;  // coded audio (without container boxes or trailer)
  int sampleRate = 0;        // encoding rate
  int channels = 0;
  int64_t samples = 0;       // sample frames per channel the output plays
  double codedSeconds = 0;   // duration of every frame in the stream (the bit rate's time base)
  bool lfe = false;          // coded as 5.1
};

// Seconds of audio in the input (0 when its header cannot be read); for the progress total.
double InputSeconds(const std::string& path);

// Encodes `job`.  Errors are printed (one line each) through the board.  Returns 0 or 1.
int RunEncodeJob(const CliOptions& options, const EncodeJob& job, int index, ProgressBoard& board,
                 JobReport& report);

// "in.wav -> out.m4a: 0:10.0, AAC-LC 44100 Hz stereo, 128.4 kbit/s, 40.2x realtime"
std::string SummaryLine(const CliOptions& options, const EncodeJob& job, const JobReport& report);

// The bit rate used when -b is not given: 64 kbit/s per channel, within what the library
// accepts for the channel count and encoding rate.
int DefaultBitrateKbps(int channels, int sampleRate);

}  // namespace aacs::tools
