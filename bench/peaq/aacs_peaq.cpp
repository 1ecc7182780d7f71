// aacs_peaq — PEAQ (ITU-R BS.1387-1, basic version) objective difference grade of a decode.
//
// Usage: aacs_peaq [-v] [-n] [-l DB] REF TEST.  Prints "ODG x.xxx"; -v adds the eleven MOVs and
// the distortion index; -l sets the listening level of a full-scale sine (default 92 dB SPL);
// -n runs the model at 44.1 kHz instead of converting such pairs to 48 kHz (for comparison).
// Exits 1 with one line on stderr when a file cannot be read or the pair does not match.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "peaq/peaq.h"
#include "peaq/resample.h"

namespace {

constexpr const char* kUsage = "usage: aacs_peaq [-v] [-n] [-l LEVEL_DB] REF TEST";

struct Arguments {
  bool verbose = false;
  bool nativeRate = false;
  double level = aacs::peaq::kDefaultListeningLevelDb;
  const char* ref = nullptr;
  const char* test = nullptr;
};

// 0 on success, else 1 after printing the usage line.
int ParseArguments(int argc, char** argv, Arguments& args) {
  int positional = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-v") == 0) {
      args.verbose = true;
    } else if (std::strcmp(argv[i], "-n") == 0) {
      args.nativeRate = true;
    } else if (std::strcmp(argv[i], "-l") == 0 && i + 1 < argc) {
      char* end = nullptr;
      args.level = std::strtod(argv[++i], &end);
      if (!end || *end) positional = -100;
    } else if (positional == 0) {
      args.ref = argv[i], ++positional;
    } else if (positional == 1) {
      args.test = argv[i], ++positional;
    } else {
      positional = -100;
    }
  }
  if (positional == 2) return 0;
  std::fprintf(stderr, "%s\n", kUsage);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace aacs::peaq;
  Arguments args;
  if (ParseArguments(argc, argv, args)) return 2;
  AudioSignal ref, test;
  std::string error;
  if (ReadAudioPair(args.ref, args.test, ref, test, error) != kPeaqOk) {
    std::fprintf(stderr, "aacs_peaq: %s\n", error.c_str());
    return 1;
  }
  if (!args.nativeRate && (ResampleToModelRate(ref) != kPeaqOk || ResampleToModelRate(test) != kPeaqOk)) {
    std::fprintf(stderr, "aacs_peaq: internal error (sample-rate converter)\n");
    return 1;
  }
  PeaqOptions options;
  options.listeningLevelDb = args.level;
  PeaqResult result;
  const int status = MeasureQuality(ref, test, options, result);
  if (status == kPeaqTooShort) {
    std::fprintf(stderr, "aacs_peaq: %s: shorter than one 2048-sample frame\n", args.ref);
    return 1;
  }
  if (status != kPeaqOk) {
    std::fprintf(stderr, "aacs_peaq: internal error (FFT tables)\n");
    return 1;
  }
  std::printf("ODG %.3f\n", result.odg);
  if (args.verbose) {
    for (int i = 0; i < kNumMovs; ++i) std::printf("%s %.6f\n", kMovNames[i], result.movs[i]);
    std::printf("DI %.6f\n", result.distortionIndex);
  }
  return 0;
}
