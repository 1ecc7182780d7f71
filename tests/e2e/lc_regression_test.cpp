// End to end: the LC streams of a few clips, pinned by a hash of their bytes.  The profile
// tools (Main prediction, long-term prediction) share the pipeline and the rate loops with LC;
// any change that alters an LC stream by one bit shows up here.  The streams are those of the
// generic primitive column, which every processor can bind (the SIMD columns differ from it by
// float rounding).
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "aacstream/aacstream.h"
#include "dsp/cpu_detect.h"
#include "dsp/primitives.h"
#include "support/audio_support.h"

namespace aacs::testing {
namespace {

uint64_t Fnv1a(const std::vector<uint8_t>& bytes) {
  uint64_t h = 1469598103934665603ull;
  for (uint8_t b : bytes) h = (h ^ b) * 1099511628211ull;
  return h;
}

struct Pinned {
  const char* clip;
  int kbps;
  uint64_t hash;
  size_t size;
};

// Recorded from the LC encoder before the Main and LTP profiles were opened, and again from the
// LC encoder of the mainline after it changed the first frame's analysis (the same bytes with
// and without the prediction tools); with the generic column from the mainline once more.
constexpr Pinned kPinned[] = {
    {"castanets_3s.wav", 64, 0x27c395182c6538dcull, 12401},
    {"harpsichord_3s.wav", 64, 0x74c9dcfda11a75a1ull, 19798},
    {"music_pop_3s.wav", 128, 0x3e8bc5ee15896117ull, 48229},
    {"speech_16k_mono_3s.wav", 24, 0x3244bc263f3f389full, 9546},
    {"surround_5.1_48k_1.5s.wav", 256, 0x5a3110c5981077a2ull, 51424},
};

TEST(LcRegression, StreamsOfPinnedClipsAreUnchangedToTheByte) {
  dsp::BindPrimitivesOnce();  // the process binding first, so that no stream open replaces this one
  ASSERT_EQ(dsp::BindPrimitives(dsp::kCpuGeneric), 1);
  for (const Pinned& p : kPinned) {
    Audio in;
    ASSERT_TRUE(ReadWav(DataPath(p.clip), in)) << p.clip;
    EncodeOptions o;
    o.kbps = p.kbps;
    o.lfe = in.channels == 6;
    const Encoded e = EncodeAudio(in, o);
    ASSERT_TRUE(e.opened) << p.clip;
    EXPECT_EQ(e.bytes.size(), p.size) << p.clip;
    EXPECT_EQ(Fnv1a(e.bytes), p.hash) << p.clip;
  }
  dsp::BindPrimitives(dsp::DetectCpuClass());
}

}  // namespace
}  // namespace aacs::testing
