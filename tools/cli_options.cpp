// tools/cli_options.cpp — command-line parsing, value checks and output naming.
#include "cli_options.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <set>

namespace aacs::tools {
namespace {

enum OptionId : int {
  kOptBitrate, kOptQuality, kOptPreset, kOptBandwidth, kOptLfe, kOptProfile, kOptPsyNoise, kOptRate,
  kOptFormat, kOptAdtsLegacy, kOptTrailer, kOptYear, kOptTitle, kOptArtist, kOptAlbum, kOptComment,
  kOptJobs, kOptOutput, kOptOverwrite, kOptQuiet, kOptVersion, kOptHelp, kOptDemo, kOptAbr, kOptCbr, kOptVbr
};

struct OptionSpec {
  char shortName;    // 0: long form only
  const char* longName;
  int values;        // arguments taken (0, 1, or 3 for --trailer)
  int id;
};

constexpr OptionSpec kOptions[] = {
    {'b', "bitrate", 1, kOptBitrate},     {'q', "quality", 1, kOptQuality},
    {0, "preset", 1, kOptPreset},         {0, "bandwidth", 1, kOptBandwidth},
    {0, "lfe", 0, kOptLfe},               {0, "profile", 1, kOptProfile},
    {0, "psy-noise", 0, kOptPsyNoise},    {0, "rate", 1, kOptRate},
    {'f', "format", 1, kOptFormat},       {0, "adts-legacy", 0, kOptAdtsLegacy},
    {0, "trailer", 3, kOptTrailer},       {0, "year", 1, kOptYear},
    {0, "title", 1, kOptTitle},           {0, "artist", 1, kOptArtist},
    {0, "album", 1, kOptAlbum},           {0, "comment", 1, kOptComment},
    {'j', "jobs", 1, kOptJobs},           {'o', "output", 1, kOptOutput},
    {'y', "overwrite", 0, kOptOverwrite}, {0, "quiet", 0, kOptQuiet},
    {'V', "version", 0, kOptVersion},     {'h', "help", 0, kOptHelp},
    {0, "demo", 0, kOptDemo},             {0, "abr", 0, kOptAbr},
    {0, "cbr", 0, kOptCbr},               {0, "vbr", 1, kOptVbr},
};

constexpr int kRates[12] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000};

// Parses a whole decimal number within [low, high].
int ParseNumber(const std::string& name, const std::string& text, long low, long high, int& value,
                std::string& error, const char* unit = "") {
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno == ERANGE) {
    error = name + ": '" + text + "' is not a whole number";
    return 1;
  }
  if (v < low || v > high) {
    error = name + ": " + text + unit + " is out of range (" + std::to_string(low) + " to " +
            std::to_string(high) + ")";
    return 1;
  }
  value = int(v);
  return 0;
}

std::string Lower(std::string s) {
  for (char& c : s) c = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return s;
}

int ParseRate(const std::string& name, const std::string& text, int& rate, std::string& error) {
  int v = 0;
  if (ParseNumber(name, text, 1, INT_MAX, v, error) != 0) return 1;
  for (int r : kRates)
    if (r == v) {
      rate = v;
      return 0;
    }
  error = name + ": " + text + " Hz is not an AAC sampling rate (96000, 88200, 64000, 48000, 44100, 32000, "
          "24000, 22050, 16000, 12000, 11025 or 8000)";
  return 1;
}

int ParseFormat(const std::string& name, const std::string& text, int& format, std::string& error) {
  const std::string f = Lower(text);
  if (f == "m4a" || f == "mp4") format = kFormatM4a;
  else if (f == "adts" || f == "aac") format = kFormatAdts;
  else if (f == "adif") format = kFormatAdif;
  else if (f == "raw") format = kFormatRaw;
  else {
    error = name + ": unknown format '" + text + "' (m4a, adts, adif or raw)";
    return 1;
  }
  return 0;
}

int ParseProfile(const std::string& name, const std::string& text, int& profile, std::string& error) {
  const std::string p = Lower(text);
  if (p == "lc") profile = 1;
  else if (p == "main") profile = 0;
  else if (p == "ltp") profile = 3;
  else {
    error = name + ": unknown profile '" + text + "' (lc, main or ltp)";
    return 1;
  }
  return 0;
}

// Applies one option with its arguments (already collected).
int Apply(const OptionSpec& spec, const std::string& name, const std::string* args, CliOptions& o,
          std::string& error) {
  const std::string& v = args[0];
  switch (spec.id) {
    case kOptBitrate: return ParseNumber(name, v, 8, 3456, o.bitrateKbps, error, " kbit/s");
    case kOptQuality: return ParseNumber(name, v, 0, 9, o.quality, error);
    case kOptPreset: return ParseNumber(name, v, 1, 9, o.preset, error);
    case kOptBandwidth:
      if (ParseNumber(name, v, 0, 96000, o.bandwidthHz, error, " Hz") != 0) return 1;
      if (o.bandwidthHz > 0 && o.bandwidthHz <= 2000) {
        error = name + ": " + v + " Hz is out of range (2001 to 96000, or 0 for automatic)";
        return 1;
      }
      return 0;
    case kOptLfe: o.lfe = true; return 0;
    case kOptProfile: return ParseProfile(name, v, o.profile, error);
    case kOptPsyNoise: o.psyNoise = true; return 0;
    case kOptRate: return ParseRate(name, v, o.rateHz, error);
    case kOptFormat: return ParseFormat(name, v, o.format, error);
    case kOptAdtsLegacy: o.adtsLegacy = true; return 0;
    case kOptTrailer:
      o.trailer = o.trailerTexts = true;
      for (int i = 0; i < 3; ++i) o.text[i] = args[i];
      return 0;
    case kOptYear: o.trailer = true; return ParseNumber(name, v, 1, 9999, o.year, error);
    case kOptTitle: o.title = v; return 0;
    case kOptArtist: o.artist = v; return 0;
    case kOptAlbum: o.album = v; return 0;
    case kOptComment: o.comment = v; return 0;
    case kOptJobs: return ParseNumber(name, v, 1, 64, o.jobs, error);
    case kOptOutput:
      if (v.empty()) {
        error = name + ": the output name is empty";
        return 1;
      }
      o.output = v;
      return 0;
    case kOptOverwrite: o.overwrite = true; return 0;
    case kOptQuiet: o.quiet = true; return 0;
    case kOptVersion: o.version = true; return 0;
    case kOptHelp: o.help = true; return 0;
    case kOptDemo: o.demo = true; return 0;
    case kOptAbr: o.rateMode = kRateModeAverage; return 0;
    case kOptCbr: o.rateMode = kRateModeConstant; return 0;
    case kOptVbr: o.rateMode = kRateModeQuality; return ParseNumber(name, v, 1, 5, o.vbrLevel, error);
    default: return 1;
  }
}

const OptionSpec* FindLong(const std::string& name) {
  for (const OptionSpec& s : kOptions)
    if (name == s.longName) return &s;
  return nullptr;
}

const OptionSpec* FindShort(char c) {
  for (const OptionSpec& s : kOptions)
    if (s.shortName == c) return &s;
  return nullptr;
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string DirName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return "";
  return path.substr(0, slash + 1);
}

std::string StripExtension(const std::string& name) {
  const size_t dot = name.find_last_of('.');
  return (dot == std::string::npos || dot == 0) ? name : name.substr(0, dot);
}

// Same file when both exist, otherwise the same spelling.
bool SamePath(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  if (::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0) return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  return a == b;
}

// Rate modes: the last of --abr, --cbr, --vbr wins; a quality level sets its own rate and presets
// have their own variable-rate control.
int CheckRateOptions(const CliOptions& o, std::string& error) {
  if (o.rateMode == kRateModeQuality && o.bitrateKbps != 0) {
    error = "--vbr " + std::to_string(o.vbrLevel) + " chooses the quality and the rate follows it: leave out -b";
    return 1;
  }
  if (o.rateMode != kRateModeAverage && o.preset != 0) {
    error = std::string("--preset ") + std::to_string(o.preset) + " has its own variable rate: no " +
            (o.rateMode == kRateModeConstant ? "--cbr" : "--vbr") + " with it";
    return 1;
  }
  return 0;
}

int CheckFormatOptions(const CliOptions& o, int format, std::string& error) {
  if (CheckRateOptions(o, error) != 0) return 1;
  const bool tags = !o.title.empty() || !o.artist.empty() || !o.album.empty() || !o.comment.empty();
  if (tags && format != kFormatM4a) {
    error = "--title, --artist, --album and --comment apply to M4A output only (this is " +
            std::string(FormatName(format)) + ")";
    return 1;
  }
  if (o.trailer && format == kFormatM4a) {
    error = "--trailer and --year apply to ADTS, ADIF and raw output only (M4A files carry tags instead)";
    return 1;
  }
  if (o.adtsLegacy && format != kFormatAdts) {
    error = "--adts-legacy applies to ADTS output only (this is " + std::string(FormatName(format)) + ")";
    return 1;
  }
  return 0;
}

}  // namespace

bool IsAacRate(int hz) {
  for (int r : kRates)
    if (r == hz) return true;
  return false;
}

int AacRateForResampling(int hz) {
  int best = kRates[0];
  for (int r : kRates)
    if (r >= hz) best = r;  // the table runs from high to low: the last one not below hz
  return best;
}

const char* FormatName(int format) {
  switch (format) {
    case kFormatM4a: return "M4A";
    case kFormatAdts: return "ADTS";
    case kFormatAdif: return "ADIF";
    case kFormatRaw: return "raw";
    default: return "unknown";
  }
}

const char* FormatExtension(int format) {
  switch (format) {
    case kFormatAdts: return ".aac";
    case kFormatAdif: return ".adif";
    case kFormatRaw: return ".raw";
    default: return ".m4a";
  }
}

int FormatFromName(const std::string& path) {
  const std::string base = BaseName(path);
  const size_t dot = base.find_last_of('.');
  if (dot == std::string::npos) return kFormatAuto;
  const std::string ext = Lower(base.substr(dot));
  if (ext == ".m4a" || ext == ".mp4") return kFormatM4a;
  if (ext == ".aac") return kFormatAdts;
  if (ext == ".adif") return kFormatAdif;
  if (ext == ".raw") return kFormatRaw;
  return kFormatAuto;
}

int ParseCommandLine(int argc, char** argv, CliOptions& o, std::string& error) {
  o = CliOptions{};
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      if (arg == "-") {
        error = "reading from standard input ('-') is not supported: give the name of a WAV file";
        return 1;
      }
      o.inputs.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    const OptionSpec* spec = nullptr;
    std::string name, attached;
    bool hasAttached = false;
    if (arg[1] == '-') {
      const size_t eq = arg.find('=');
      name = arg.substr(0, eq);
      if (eq != std::string::npos) attached = arg.substr(eq + 1), hasAttached = true;
      spec = FindLong(name.substr(2));
    } else {
      name = arg.substr(0, 2);
      if (arg.size() > 2) attached = arg.substr(2), hasAttached = true;
      spec = FindShort(arg[1]);
    }
    if (spec == nullptr) {
      error = "unknown option '" + name + "' (see aacstream --help)";
      return 1;
    }
    std::string args[3];
    int have = 0;
    if (hasAttached) {
      if (spec->values == 0) {
        error = "option '" + name + "' takes no value";
        return 1;
      }
      args[have++] = attached;
    }
    while (have < spec->values) {
      if (i + 1 >= argc) {
        error = "option '" + name + "' needs " +
                (spec->values == 3 ? std::string("three values (TEXT1 TEXT2 TEXT3)") : std::string("a value"));
        return 1;
      }
      args[have++] = argv[++i];
    }
    if (Apply(*spec, name, args, o, error) != 0) return 1;
  }
  return 0;
}

int PlanJobs(const CliOptions& o, std::vector<EncodeJob>& jobs, std::string& error) {
  jobs.clear();
  if (o.inputs.empty()) {
    error = "no input file (usage: aacstream [options] INPUT.wav... [-o OUTPUT]; see aacstream --help)";
    return 1;
  }
  if (o.output == "-") {
    error = "writing to standard output is not supported: give an output file name with -o";
    return 1;
  }
  const bool outputIsDir = !o.output.empty() && (o.output.back() == '/' || IsDirectory(o.output));
  if (o.inputs.size() > 1 && !o.output.empty() && !outputIsDir) {
    error = "with several inputs, -o must name an existing directory ('" + o.output + "' is not one)";
    return 1;
  }
  int format = o.format;
  if (format == kFormatAuto && !o.output.empty() && !outputIsDir) {
    format = FormatFromName(o.output);
    if (format == kFormatAuto) {
      error = "cannot tell the output format from '" + o.output +
              "' (name it .m4a, .mp4, .aac, .adif or .raw, or use --format)";
      return 1;
    }
  }
  if (format == kFormatAuto) format = kFormatM4a;
  if (CheckFormatOptions(o, format, error) != 0) return 1;

  std::set<std::string> outputs;
  for (const std::string& input : o.inputs) {
    EncodeJob job{input, "", format};
    const std::string stem = StripExtension(BaseName(input)) + FormatExtension(format);
    if (o.output.empty())
      job.output = DirName(input) + stem;
    else if (outputIsDir)
      job.output = o.output + (o.output.back() == '/' ? "" : "/") + stem;
    else
      job.output = o.output;
    if (SamePath(job.input, job.output)) {
      error = "'" + input + "' would be overwritten by its own output: choose another name with -o";
      return 1;
    }
    if (!outputs.insert(job.output).second) {
      error = "two inputs would both be written to '" + job.output + "'";
      return 1;
    }
    jobs.push_back(job);
  }
  return 0;
}

std::string UsageText() {
  return R"(Usage: aacstream [options] INPUT.wav... [-o OUTPUT]
Encodes WAV files (8/16/24/32-bit integer PCM, 1 to 6 channels) to AAC.

Output:
  -o, --output FILE|DIR  output file (one input) or existing directory (several inputs);
                         default: each INPUT with the format's extension (.m4a)
  -f, --format FMT       m4a (MP4 audio, default), adts (.aac), adif or raw; by default
                         taken from the output name (.m4a/.mp4, .aac, .adif, .raw)
  -y, --overwrite        replace existing output files (refused otherwise)
Encoding:
  -b, --bitrate KBPS     bit rate of the whole stream in kbit/s (default 64 per channel,
                         e.g. 128 for stereo); the average over the stream unless --cbr
      --abr              average rate (the default): -b is the average over the stream,
                         within 5 % on anything of 10 s or more; hard passages borrow
                         from easy ones
      --cbr              constant rate for broadcasting and segmented streaming: every
                         frame keeps the decoder's buffer model, padded where needed
      --vbr N            quality-targeted variable rate, 1 (smallest) to 5 (best); the
                         rate follows the material.  Typical stereo 44.1 kHz music
                         (mono about half): 1 ~60, 2 ~90, 3 ~125, 4 ~160, 5 ~230 kbit/s
  -q, --quality N        0 (fastest) to 9 (best, default): encoder effort, not the rate
      --preset N         1-9: the legacy variable-rate tunings (see the README for
                         what each one does); -b and the rate modes do not apply
      --bandwidth HZ     audio bandwidth (2001-96000; default: chosen by bit rate)
      --rate HZ          encode at another sampling rate (the input is resampled):
                         96000 88200 64000 48000 44100 32000 24000 22050 16000 12000 11025 8000
      --profile P        lc (default), main or ltp
      --psy-noise        code noise-like high bands by perceptual noise substitution
      --lfe              the last channel of a 6-channel input is the LFE channel
ADTS, ADIF and raw output:
      --adts-legacy      write the legacy 58-bit ADTS header (default: the 56-bit form
                         that current decoders expect)
      --trailer T1 T2 T3 append the stream trailer record with three texts
      --year N           year in the trailer (default: this year); implies the trailer
M4A tags:
      --title TEXT  --artist TEXT  --album TEXT  --comment TEXT
Other:
  -j, --jobs N           encode N files at the same time (default 1)
      --quiet            print nothing but errors
      --demo             encode the bundled sample orchestral_desert.wav (to
                         orchestral_desert.m4a here, or to -o; replaces it)
  -V, --version          print the version
  -h, --help             print this help
  --                     end of options (for input names starting with '-')

Input is read from files only: '-' (standard input) is not accepted.
Exit status: 0 success, 1 a file could not be encoded, 2 bad command line.

Examples:
  aacstream song.wav                          song.m4a at 128 kbit/s (stereo input)
  aacstream -b 96 song.wav -o song.aac        ADTS stream at 96 kbit/s
  aacstream --rate 32000 -b 48 talk.wav       resample to 32 kHz, 48 kbit/s
  aacstream --title "Desert" --artist "S. P." song.wav
  aacstream -j 2 -o out/ *.wav                encode every WAV file, two at a time
)";
}

}  // namespace aacs::tools
