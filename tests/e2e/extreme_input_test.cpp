// The error routine ends the process, so it must be unreachable from any stream that open
// accepted.  The call sites are enumerated from the sources (a new one fails the first test until
// it is added here with the reason it cannot be reached), and the extreme accepted inputs (the
// lowest and highest bit rate of every rate and channel layout, with silence, full-scale noise,
// square waves, a full-scale Nyquist tone, full-scale DC and lone impulses in one stream) encode to
// the end with every frame parsing.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <utility>
#include <string>
#include <vector>

#include "aacstream/aacstream.h"
#include "api/stream_context.h"
#include "support/audio_support.h"

namespace aacs::testing {
namespace {

// Call sites of ReportError per source file, and why validated input cannot reach each:
//  enc/frame_pipeline.cpp (1): TNS_Encode_Frame fails only when its filter does, and the filter
//    works in place without allocating, so it always succeeds.
//  psych/psy_model.cpp (3): the band-table lookup fails only for a rate outside the twelve, which
//    open refuses (every accepted rate has its table: BadInput.EveryAcceptedRateHasItsModelBandTable);
//    the two allocation failures cannot happen after open, which creates the model's buffers
//    and fails itself when it cannot (checked below).
const std::map<std::string, int> kKnownSites = {{"enc/frame_pipeline.cpp", 1}, {"psych/psy_model.cpp", 3}};

TEST(FatalPaths, ErrorRoutineIsCalledOnlyFromSitesValidatedInputCannotReach) {
  const std::filesystem::path src = std::filesystem::path(AACS_SOURCE_DIR) / "src";
  std::map<std::string, int> sites;
  int files = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(src)) {
    const std::string name = entry.path().lexically_relative(src).string(), ext = entry.path().extension().string();
    if (ext != ".cpp" && ext != ".h") continue;
    ++files;
    if (name.rfind("api/report.", 0) == 0) continue;
    std::ifstream in(entry.path());
    const std::string s{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    for (size_t pos = s.find("ReportError("); pos != std::string::npos; pos = s.find("ReportError(", pos + 1)) ++sites[name];
    for (const char* exitCall : {"std::exit(", " exit(", "std::abort(", "abort()", "std::terminate("})
      EXPECT_EQ(s.find(exitCall), std::string::npos) << name << " ends the process with " << exitCall;
  }
  EXPECT_GT(files, 50);
  EXPECT_EQ(sites, kKnownSites);
}

TEST(FatalPaths, OpenCreatesTheModelBuffersSoEncodingNeverAllocatesThem) {
  StreamContext* s = aacStreamOpen32(0, 0, 44100, 128, 2, 0, 0, 1, 2, 0, 0, 9, nullptr, nullptr, nullptr, nullptr,
                                     nullptr, 0);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->psy.allocated, 1);
  aacStreamDestroy32(s);
}

// Twelve calls: two each of silence, full-scale noise, a full-scale square wave, a full-scale
// Nyquist tone, full-scale DC and lone full-scale impulses; then a one-sample-frame last call.
Audio ExtremeSignal(int rate, int channels, uint32_t seed) {
  Audio a{rate, channels, std::vector<float>(static_cast<size_t>(12 * 1024 + 1) * channels)};
  uint32_t x = seed;
  for (size_t i = 0; i < a.samples.size(); ++i) {
    const size_t frame = i / static_cast<size_t>(channels);
    x = x * 1664525u + 1013904223u;
    const int values[6] = {0, static_cast<short>(x >> 16), (frame / 50) % 2 ? SHRT_MAX : SHRT_MIN,
                             frame % 2 ? SHRT_MAX : SHRT_MIN, (i % channels) % 2 ? SHRT_MIN : SHRT_MAX,
                             frame % 1500 == 0 ? SHRT_MIN : 0};
    a.samples[i] = static_cast<float>(values[std::min<size_t>(frame / 2048, 5)]);
  }
  return a;
}

TEST(FatalPaths, ExtremeAcceptedInputsEncodeToTheEndAtBothEndsOfTheRateRange) {
  const int qualities[] = {-1, 0, 5, 9, 10};
  int run = 0;
  for (int rate : {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000, 64000, 88200, 96000})
    for (const auto& [channels, lfe] : {std::pair{1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}, {6, 1}, {6, 0}}) {
      const int low = std::max(8, static_cast<int>((64LL * channels * rate + 1023999) / 1024000));
      for (const int kbps : {low, static_cast<int>(6144LL * channels * rate / 1024000)}) {
        ++run;
        const EncodeOptions o{.kbps = kbps, .adtsBits = run % 2 ? 56 : 58, .quality = qualities[run % 5],
                              .preset = run % 10, .lfe = lfe, .psyOption = run % 3 == 0};
        SCOPED_TRACE(::testing::Message() << rate << " Hz, " << channels << " ch, lfe " << lfe << ", " << kbps
                                        << " kbit/s, preset " << o.preset << ", quality " << o.quality);
        const Encoded enc = EncodeAudio(ExtremeSignal(rate, channels, static_cast<uint32_t>(run)), o);
        ASSERT_TRUE(enc.opened);
        ASSERT_EQ(enc.lastResult, 2);
        ASSERT_EQ(enc.flushResult, 0);
        const std::vector<aacs::test::ParsedFrame> frames = ParseFrames(enc.bytes, o.adtsBits);
        EXPECT_EQ(static_cast<int>(frames.size()), enc.calls + 1);
        for (const auto& f : frames)
          for (const auto& e : f.elements) EXPECT_LE(e.bits, 6144 * e.numChannels);  // the decoder's input buffer
      }
    }
}

}  // namespace
}  // namespace aacs::testing
