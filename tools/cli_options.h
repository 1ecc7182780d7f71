// tools/cli_options.h — the aacstream command line: options, their checks, and the list of
// (input, output, format) jobs they describe.
//
// Conventions of common encoders: short and long forms, values attached (-b128, --bitrate=128)
// or separate, options and inputs in any order, "--" ends the options.  Every check that does
// not need the input file happens here, so a bad command line fails before anything is written.
#pragma once
#include <string>
#include <vector>

namespace aacs::tools {

enum OutputFormat : int { kFormatAuto = 0, kFormatM4a, kFormatAdts, kFormatAdif, kFormatRaw };
enum RateModeOption : int { kRateModeAverage = 0, kRateModeConstant, kRateModeQuality };

struct CliOptions {
  std::vector<std::string> inputs;
  std::string output;          // -o: a file, or a directory for several inputs
  int bitrateKbps = 0;         // 0: 64 kbit/s per channel
  int rateMode = kRateModeAverage;
  int vbrLevel = 0;            // --vbr 1..5
  int quality = 9;
  int preset = 0;              // 0: tuning by bit rate
  int bandwidthHz = 0;         // 0: automatic
  bool lfe = false;
  int profile = 1;             // AACSTREAM_OPT_PROFILE value: 0 Main, 1 LC, 3 LTP
  bool psyNoise = false;
  int rateHz = 0;              // 0: the input's rate
  int format = kFormatAuto;
  bool adtsLegacy = false;
  bool trailer = false;        // --trailer or --year given
  bool trailerTexts = false;   // --trailer given
  std::string text[3];
  int year = 0;                // 0: the current year
  std::string title, artist, album, comment;
  int jobs = 1;
  bool overwrite = false;
  bool quiet = false;
  bool demo = false;
  bool help = false;
  bool version = false;
};

// Returns 0 with `options` filled, or 1 with a one-line message in `error`.
int ParseCommandLine(int argc, char** argv, CliOptions& options, std::string& error);

struct EncodeJob {
  std::string input;
  std::string output;
  int format = kFormatM4a;
};

// Output names and formats for every input: -o as a file (one input) or a directory, or the
// input's name with the format's extension.  Checks the combinations of options that only make
// sense for some formats.  Returns 0, or 1 with the message in `error`.
int PlanJobs(const CliOptions& options, std::vector<EncodeJob>& jobs, std::string& error);

bool IsAacRate(int hz);
// The AAC rate to suggest for resampling an input of `hz`: the lowest one not below it (the
// highest for inputs above 96 kHz), so nothing of the input's band is lost.
int AacRateForResampling(int hz);

const char* FormatName(int format);
const char* FormatExtension(int format);
// The format an output name's extension implies, or kFormatAuto when it implies none.
int FormatFromName(const std::string& path);

std::string UsageText();

}  // namespace aacs::tools
