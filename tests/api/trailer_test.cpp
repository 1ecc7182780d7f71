// Stream trailer: layout, strings, frame figure, bit rate and 32-bit saturation.
#include "api/trailer.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "api/stream_context.h"

namespace aacs::api {
namespace {

std::unique_ptr<StreamContext> MakeContext(int64_t frames = 0, int64_t bits = 0) {
  auto ctx = std::make_unique<StreamContext>();
  ctx->sampleRate = 44100;
  ctx->numChannels = 2;
  ctx->framesPerSecond = 44100 * (1.0f / 1024);
  ctx->trailerYear = 2026;
  ctx->pipelineFrameCount = frames;
  ctx->pipelineBits = bits;
  return ctx;
}

std::vector<uint8_t> Write(StreamContext& ctx) {
  FILE* f = std::tmpfile();
  EXPECT_NE(f, nullptr);
  EXPECT_EQ(WriteTrailer(ctx, f), 0);
  std::vector<uint8_t> bytes(size_t(std::ftell(f)));
  std::rewind(f);
  EXPECT_EQ(std::fread(bytes.data(), 1, bytes.size(), f), bytes.size());
  std::fclose(f);
  return bytes;
}

int32_t Int(const std::vector<uint8_t>& b, size_t at) {
  return int32_t(uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24);
}

float Float(const std::vector<uint8_t>& b, size_t at) {
  int32_t v = Int(b, at);
  float f;
  std::memcpy(&f, &v, 4);
  return f;
}

TEST(Trailer, StringsCarryTheirLengthWithTheZeroAndTheSizeWordCountsThem) {
  auto ctx = MakeContext();
  std::vector<uint8_t> b = Write(*ctx);
  ASSERT_EQ(b.size(), 48u);
  std::vector<int32_t> words(12);
  for (size_t i = 0; i < 12; ++i) words[i] = Int(b, 4 * i);
  // Rate, channels, frame figure, rate 0.0, three null strings, year, two zero words, size, magic.
  EXPECT_EQ(words, (std::vector<int32_t>{44100, 2, -3, 0, 0, 0, 0, 2026, 0, 0, 40, int32_t(kTrailerMagic)}));
  EXPECT_EQ(b[44], 0xCC);
  ctx = MakeContext();
  ctx->trailerText1 = "ab";
  ctx->trailerText3 = "";
  b = Write(*ctx);
  ASSERT_EQ(b.size(), 48u + 3 + 1);
  // "ab" as 3, 'a', 'b', 0; the null second string as 0; the empty third one as 1 and its zero byte.
  EXPECT_EQ(std::vector<uint8_t>(b.begin() + 16, b.begin() + 32),
            (std::vector<uint8_t>{3, 0, 0, 0, 'a', 'b', 0, 0, 0, 0, 0, 1, 0, 0, 0, 0}));
  EXPECT_EQ(Int(b, 32), 2026);
  EXPECT_EQ(Int(b, 44), 44);
  EXPECT_EQ(uint32_t(Int(b, 48)), kTrailerMagic);
}

// The frame figure leaves out three frames (and lowers the counter by as much), saturating into
// 32 bits; the rate uses the whole mean frame bits.
TEST(Trailer, FrameFigureAndAverageRateFromTheSixtyFourBitCounters) {
  const double fps = 44100 / 1024.0;
  const struct { int64_t frames, bits; int32_t wantFrames; double wantKbps; } cases[] = {
      {100, 100 * 3000, 97, 3000 * fps * 0.001},
      {12, 0, 9, 0.0},
      {7, 7 * 2972 + 6, 4, 2972 * fps * 0.001},  // mean 2972.86 bits: the fraction is dropped
      {0, 0, -3, 0.0},
      {int64_t(5) << 32, (int64_t(5) << 32) * 6000, INT32_MAX, 6000 * fps * 0.001},
      {-(int64_t(5) << 32), 0, INT32_MIN, 0.0}};
  for (const auto& c : cases) {
    auto ctx = MakeContext(c.frames, c.bits);
    const std::vector<uint8_t> b = Write(*ctx);
    EXPECT_EQ(Int(b, 8), c.wantFrames) << c.frames;
    EXPECT_NEAR(Float(b, 12), c.wantKbps, 1e-3) << c.frames;
    EXPECT_EQ(ctx->pipelineFrameCount, c.frames - 3);
  }
}

TEST(Trailer, FailedOrMissingStreamIsReported) {
  auto ctx = MakeContext(10);
  EXPECT_EQ(WriteTrailer(*ctx, nullptr), -1);
  EXPECT_EQ(ctx->pipelineFrameCount, 10);
  FILE* readOnly = std::fopen("/dev/null", "rb");
  ASSERT_NE(readOnly, nullptr);
  EXPECT_EQ(WriteTrailer(*ctx, readOnly), -1);
  std::fclose(readOnly);
}

}  // namespace
}  // namespace aacs::api
