// bench/prediction_report.cpp — LC, Main and LTP side by side on a set of clips: how often the
// prediction tools are used, the decoded SNR (FFmpeg) and the stream size at one bit rate.
//
// Usage: prediction_report KBPS FILE.wav...   (16-bit PCM WAV files)
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "aacstream/aacstream.h"
#include "support/aac_parser.h"
#include "support/audio_support.h"

namespace {

using namespace aacs::testing;

struct Usage {
  int longFrames = 0, predicted = 0;
};

// Long channel frames, and those whose ics_info carries a used prediction (Main: a band flag;
// LTP: ltp_data_present).
Usage CountUsage(const std::vector<uint8_t>& stream) {
  std::vector<aacs::test::ParsedFrame> frames;
  std::string error;
  Usage u;
  if (!aacs::test::ParseAdtsStream(stream.data(), stream.size(), 56, &frames, &error)) {
    std::fprintf(stderr, "parse error: %s\n", error.c_str());
    return u;
  }
  for (const auto& f : frames)
    for (const auto& e : f.elements)
      for (int c = 0; c < e.numChannels; ++c) {
        const auto& ics = e.commonWindow ? e.ch[0].ics : e.ch[c].ics;
        if (ics.windowSequence == 2) continue;
        ++u.longFrames;
        bool used = false;
        if (f.adts.profile == 0) {
          for (int b = 0; b < ics.numPredictionUsed; ++b) used = used || (ics.predictorDataPresent && ics.predictionUsed[b]);
        } else if (f.adts.profile == 3) {
          used = ics.predictorDataPresent && (e.commonWindow ? ics.ltp[c] : ics.ltp[0]).present;
        }
        u.predicted += used;
      }
  return u;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s KBPS FILE.wav...\n", argv[0]);
    return 2;
  }
  const int kbps = std::atoi(argv[1]);
  std::printf("%-36s %5s | %8s | %8s %6s | %8s %6s\n", "clip", "kbps", "LC SNR", "Main SNR", "used", "LTP SNR", "used");
  for (int i = 2; i < argc; ++i) {
    Audio in;
    if (!ReadWav(argv[i], in)) {
      std::fprintf(stderr, "%s: not a 16-bit WAV file\n", argv[i]);
      continue;
    }
    double snr[4] = {};
    double usage[4] = {};
    for (int profile : {1, 0, 3}) {
      EncodeOptions o;
      o.kbps = kbps * in.channels / 2 > 8 ? kbps : 8;
      o.lfe = in.channels == 6;
      o.extra = {{AACSTREAM_OPT_PROFILE, profile}};
      const Encoded e = EncodeAudio(in, o);
      const Decoded d = DecodeFfmpeg(e.bytes);
      snr[profile] = SnrDb(in, d.audio, 1024);
      const Usage u = CountUsage(e.bytes);
      usage[profile] = u.longFrames ? 100.0 * u.predicted / u.longFrames : 0.0;
    }
    std::string name = argv[i];
    name = name.substr(name.find_last_of('/') + 1);
    std::printf("%-36s %5d | %8.2f | %8.2f %5.0f%% | %8.2f %5.0f%%\n", name.c_str(), kbps, snr[1], snr[0], usage[0],
                snr[3], usage[3]);
  }
  return 0;
}
