// Stream trailer: layout, strings, frame figure, bit rate and 32-bit saturation.
#include "api/trailer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "api/stream_context.h"

namespace aacs::api {
namespace {

std::unique_ptr<StreamContext> MakeContext() {
  auto ctx = std::make_unique<StreamContext>();
  ctx->sampleRate = 44100;
  ctx->numChannels = 2;
  ctx->framesPerSecond = 44100 * (1.0f / 1024);
  ctx->trailerYear = 2026;
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

TEST(Trailer, WithoutStringsIs48BytesWithSize40AndTheMagicLast) {
  auto ctx = MakeContext();
  ctx->pipelineFrameCount = 100;
  ctx->pipelineBits = 100 * 3000;
  std::vector<uint8_t> b = Write(*ctx);
  ASSERT_EQ(b.size(), 48u);
  EXPECT_EQ(Int(b, 0), 44100);
  EXPECT_EQ(Int(b, 4), 2);
  EXPECT_EQ(Int(b, 8), 97);
  for (size_t at : {16, 20, 24}) EXPECT_EQ(Int(b, at), 0);  // three null strings
  EXPECT_EQ(Int(b, 28), 2026);
  EXPECT_EQ(Int(b, 32), 0);
  EXPECT_EQ(Int(b, 36), 0);
  EXPECT_EQ(Int(b, 40), 40);
  EXPECT_EQ((std::vector<uint8_t>(b.end() - 4, b.end())), (std::vector<uint8_t>{0xCC, 0xAB, 0xCC, 0xAB}));
}

TEST(Trailer, StringsCarryTheirLengthWithTheTerminatingZero) {
  auto ctx = MakeContext();
  ctx->trailerText1 = "ab";
  ctx->trailerText3 = "";
  std::vector<uint8_t> b = Write(*ctx);
  ASSERT_EQ(b.size(), 48u + 3 + 1);
  EXPECT_EQ(Int(b, 16), 3);
  EXPECT_EQ((std::vector<uint8_t>(b.begin() + 20, b.begin() + 23)), (std::vector<uint8_t>{'a', 'b', 0}));
  EXPECT_EQ(Int(b, 23), 0);  // null second string
  EXPECT_EQ(Int(b, 27), 1);  // empty third string: just its zero byte
  EXPECT_EQ(b[31], 0);
  EXPECT_EQ(Int(b, 32), 2026);
  EXPECT_EQ(Int(b, 44), 44);
  EXPECT_EQ(uint32_t(Int(b, 48)), kTrailerMagic);
}

TEST(Trailer, FrameFigureLeavesOutThreeFramesAndLowersTheCounter) {
  auto ctx = MakeContext();
  ctx->pipelineFrameCount = 12;  // a stream of 10 calls after its flush
  std::vector<uint8_t> b = Write(*ctx);
  EXPECT_EQ(Int(b, 8), 9);
  EXPECT_EQ(ctx->pipelineFrameCount, 9);
}

TEST(Trailer, AverageBitRateUsesWholeMeanFrameBits) {
  auto ctx = MakeContext();
  ctx->pipelineFrameCount = 7;
  ctx->pipelineBits = 7 * 2972 + 6;  // mean 2972.86 bits: the fraction is dropped
  std::vector<uint8_t> b = Write(*ctx);
  EXPECT_EQ(Float(b, 12), float(2972.0 * double(ctx->framesPerSecond) * 0.001));
  EXPECT_NEAR(Float(b, 12), 128.0, 0.1);
}

TEST(Trailer, SixtyFourBitCountersSaturateIntoTheirFields) {
  auto ctx = MakeContext();
  ctx->pipelineFrameCount = int64_t(5) << 32;
  ctx->pipelineBits = ctx->pipelineFrameCount * 6000;  // beyond 64-bit-free float arithmetic in int32
  std::vector<uint8_t> b = Write(*ctx);
  EXPECT_EQ(Int(b, 8), INT32_MAX);
  EXPECT_NEAR(Float(b, 12), 6000 * 44100 / 1024.0 * 0.001, 0.01);
  ctx->pipelineFrameCount = -(int64_t(5) << 32);
  EXPECT_EQ(Int(Write(*ctx), 8), INT32_MIN);
}

TEST(Trailer, NoFramesGiveARateOfZero) {
  auto ctx = MakeContext();
  std::vector<uint8_t> b = Write(*ctx);
  EXPECT_EQ(Int(b, 8), -3);
  EXPECT_EQ(Float(b, 12), 0.0f);
}

TEST(Trailer, FailedOrMissingStreamIsReported) {
  auto ctx = MakeContext();
  ctx->pipelineFrameCount = 10;
  EXPECT_EQ(WriteTrailer(*ctx, nullptr), -1);
  EXPECT_EQ(ctx->pipelineFrameCount, 10);
  FILE* readOnly = std::fopen("/dev/null", "rb");
  ASSERT_NE(readOnly, nullptr);
  EXPECT_EQ(WriteTrailer(*ctx, readOnly), -1);
  std::fclose(readOnly);
}

}  // namespace
}  // namespace aacs::api
