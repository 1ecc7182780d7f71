// Long streams: the bit and frame counters of a three-hour stream pass 32 bits, yet the
// trailer's average bit rate comes out right, and the ADIF header of the variable-rate stream
// carries its peak frame rate.  The counters are seeded in the
// stream context instead of encoding three hours; real frames run before and after the seed so
// that the frame driver and the pipeline keep counting on top of it.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "aacstream/aacstream.h"
#include "api/stream_context.h"
#include "support/aac_parser.h"
#include "support/audio_support.h"

namespace {

void FeedTone(StreamContext* s, int calls, int start) {
  std::vector<short> pcm(2048);
  for (int k = 0; k < calls; ++k) {
    for (int i = 0; i < 1024; ++i)
      pcm[2 * i] = pcm[2 * i + 1] = static_cast<short>(9000 * std::sin(0.05 * ((start + k) * 1024 + i)));
    int length = 0;
    ASSERT_EQ(aacStreamEncodeFrame32(s, pcm.data(), nullptr, 2048, &length), 0);
  }
}

TEST(LongStream, ThreeHourStereoAt320ReportsItsRateInTheAdifHeaderAndTheTrailer) {
  const std::string path = aacs::testing::TempPath("long_stream.adif");
  StreamContext* s = aacStreamOpen32(0, 1, 44100, 320, 2, 0, 0, 1, 1, 0, 0, 9, nullptr, path.c_str(), nullptr,
                                     nullptr, nullptr, 2026);
  ASSERT_NE(s, nullptr);
  FeedTone(s, 3, 0);
  // Three hours at 44.1 kHz: 465117 frames of 7430.4 bits, 3.456e9 bits in all.
  const int64_t frames = int64_t{3} * 3600 * 44100 / 1024;
  const int64_t bits = std::llround(static_cast<double>(frames) * 320000.0 * 1024.0 / 44100.0);
  s->frameCount += frames;
  s->totalBits += bits;
  s->pipelineFrameCount += frames;
  s->pipelineBits += bits;
  FeedTone(s, 3, 3);
  int length = 0;
  const short tail[2] = {0, 0};
  ASSERT_EQ(aacStreamEncodeFrame32(s, tail, nullptr, 2, &length), 2);
  EXPECT_GT(s->pipelineBits, int64_t{INT32_MAX});  // a 32-bit total would have wrapped
  aacStreamClose32(s);

  std::vector<uint8_t> bytes;
  ASSERT_TRUE(aacs::testing::ReadFile(path, bytes));
  aacs::test::AdifHeader header;
  std::string error;
  ASSERT_TRUE(aacs::test::ParseAdifHeader(bytes.data(), bytes.size(), &header, &error)) << error;
  EXPECT_EQ(header.bitstreamType, 1);  // average rate: a variable-rate stream
  EXPECT_EQ(header.bitRate, s->peakFrameBits * 44100 / 1024);
  EXPECT_GT(s->peakFrameBits, 0);

  FILE* f = std::fopen(path.c_str(), "ab");
  ASSERT_NE(f, nullptr);
  WriteVelmorAACHeader(s, f);
  std::fclose(f);
  aacStreamDestroy32(s);
  ASSERT_TRUE(aacs::testing::ReadFile(path, bytes));
  std::remove(path.c_str());
  ASSERT_GE(bytes.size(), 48u);
  struct { int32_t rate, channels, frames; float kbps; int32_t rest[7]; uint32_t magic; } trailer;  // no strings
  std::memcpy(&trailer, bytes.data() + bytes.size() - 48, 48);
  EXPECT_EQ(trailer.magic, 0xABCCABCCu);
  EXPECT_EQ(std::pair(trailer.rate, trailer.channels), std::pair(44100, 2));
  EXPECT_NEAR(trailer.frames, frames, 10);
  EXPECT_NEAR(trailer.kbps, 320.0f, 0.5f);
}

}  // namespace
