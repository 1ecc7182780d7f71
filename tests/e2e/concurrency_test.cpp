// Streams share no mutable state: two streams encoding at once on two threads produce exactly
// the bytes each produces alone.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "aacstream/aacstream.h"
#include "support/audio_support.h"

namespace aacs::testing {
namespace {

TEST(Concurrency, TwoStreamsOnTwoThreadsMatchTheirSoloBytes) {
  Audio music, drums, speech;
  ASSERT_TRUE(ReadWav(DataPath("music_pop_3s.wav"), music));
  ASSERT_TRUE(ReadWav(DataPath("drums_3s.wav"), drums));
  ASSERT_TRUE(ReadWav(DataPath("speech_16k_mono_3s.wav"), speech));
  EncodeOptions a, b, c;
  b.kbps = 96;
  b.quality = 5;  // other paths of the model (peak tonality, time-domain attacks)
  c.kbps = 24;
  c.headerType = 1;
  const Encoded soloA = EncodeAudio(music, a), soloB = EncodeAudio(drums, b), soloC = EncodeAudio(speech, c);
  ASSERT_FALSE(soloA.bytes.empty());
  for (int round = 0; round < 2; ++round) {
    Encoded togetherA, togetherB, togetherC;
    std::thread ta([&] { togetherA = EncodeAudio(music, a); });
    std::thread tb([&] { togetherB = EncodeAudio(drums, b); });
    std::thread tc([&] { togetherC = EncodeAudio(speech, c); });
    ta.join();
    tb.join();
    tc.join();
    EXPECT_EQ(togetherA.bytes, soloA.bytes);
    EXPECT_EQ(togetherB.bytes, soloB.bytes);
    EXPECT_EQ(togetherC.bytes, soloC.bytes);
  }
}

// The ADIF header of a memory-output stream comes in front of the first frame's bytes and the
// whole stream decodes in faad.
TEST(AdifOutput, MemoryOutputStreamStartsWithTheHeaderAndDecodes) {
  Audio music;
  ASSERT_TRUE(ReadWav(DataPath("orchestral_3s.wav"), music));
  EncodeOptions o;
  o.headerType = 1;
  const Encoded enc = EncodeAudio(music, o);
  ASSERT_GT(enc.bytes.size(), 17u);
  EXPECT_EQ(std::string(enc.bytes.begin(), enc.bytes.begin() + 4), "ADIF");
  const Decoded dec = DecodeFaad(enc.bytes, false, ".adif");
  EXPECT_EQ(dec.status, 0) << dec.errors;
  ASSERT_EQ(dec.audio.channels, 2);
  EXPECT_GT(SnrDb(music, dec.audio, FindDelay(music, dec.audio, 4096)), 10.0);
}

}  // namespace
}  // namespace aacs::testing
