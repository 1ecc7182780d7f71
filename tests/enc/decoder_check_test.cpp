// Real decoders as judges: frames written by the syntax writers from synthetic coded channels
// (long and grouped eight-short frames, pulses, noise bands, TNS, mid/side pairs) must decode
// without a single error line and with one 1024-sample block per frame.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "api/stream_context.h"
#include "enc/syntax.h"
#include "support/coding_records.h"

namespace aacs::enc {
namespace {

constexpr int kFrames = 12;
// A legal window sequence pattern: long, start, short, stop.
constexpr int kSequence[kFrames] = {0, 0, 1, 2, 3, 0, 1, 2, 2, 3, 0, 0};

struct CommandResult {
  int status;
  std::string output;
};

CommandResult RunCommand(const std::string& command) {
  CommandResult r{-1, {}};
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (!p) return r;
  char buf[512];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.output.append(buf, n);
  r.status = pclose(p);
  return r;
}

std::string TempPath(const std::string& name) {
  return (std::filesystem::temp_directory_path() / ("aacs_" + std::to_string(getpid()) + "_" + name)).string();
}

void CodeFrame(StreamContext& ctx, std::mt19937& rng, int frame) {
  const int seq = kSequence[frame];
  static const int kGroups[2][8] = {{3, 2, 3}, {1, 1, 2, 4}};
  const int* groups = seq == kEightShort ? kGroups[frame % 2] : nullptr;
  const int numGroups = frame % 2 ? 4 : 3;
  for (int ch = 0; ch < ctx.numChannels; ++ch) {
    const ChannelInfo& info = ctx.channelInfo[ch];
    const int maxSfb = groups ? 12 : info.isLfe ? 10 : 35;
    test::CodeRandomChannel(ctx, ch, rng, frame % 3 ? 15 : 300, maxSfb, groups, numGroups, !groups && !info.isLfe);
    ctx.coding[ch].windowSequence = seq;
    TnsRecord& tns = ctx.tns[ch];
    tns = {};
    if (frame % 4 == 1 && !info.isLfe) {
      tns.present = 1;
      for (int w = 0; w < (groups ? 8 : 1); ++w) {
        tns.window[w] = {1, 4, {}};
        tns.window[w].filter.length = groups ? 8 : 20;
        tns.window[w].filter.order = groups ? 3 : 6;
        for (int i = 1; i <= tns.window[w].filter.order; ++i) tns.window[w].filter.index[i] = (i % 3) - 1;
      }
    }
  }
  for (int ch = 0; ch < ctx.numChannels; ++ch) {
    ChannelInfo& info = ctx.channelInfo[ch];
    if (!info.isPair || !info.isFirstOfPair) continue;
    info.commonWindow = 1;  // both channels were coded with the same layout
    info.msInfo.msMode = 1;
    for (int b = 0; b < kMaxCodedBands; ++b) info.msInfo.msUsed[b] = (b + frame) % 3 != 0;
  }
}

// Writes kFrames frames of the stream's header type; returns the file's bytes.
std::vector<uint8_t> EncodeFrames(StreamContext& ctx, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> out;
  BitWriter* w = BitWriterCreate(kMaxChannels * 60000);
  for (int f = 0; f < kFrames; ++f) {
    BuildChannelMap(ctx.channelInfo, ctx.numChannels, ctx.lastChannelIsLfe);
    CodeFrame(ctx, rng, f);
    BitWriterReset(*w);
    WriteFrame(ctx, w);
    out.insert(out.end(), w->data, w->data + BitWriterBitsUsed(w) / 8);
  }
  BitWriterFree(w);
  return out;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& a, const std::vector<uint8_t>& b = {}) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(a.data()), static_cast<std::streamsize>(a.size()));
  f.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

void ExpectFfmpegDecodes(int channels, int lfe) {
  auto ctx = test::MakeStream(channels, lfe, 4, kHeaderAdts, 56);
  const auto bytes = EncodeFrames(*ctx, 40 + static_cast<uint32_t>(channels));
  const std::string in = TempPath("ffmpeg.aac"), pcm = TempPath("ffmpeg.pcm");
  WriteFile(in, bytes);
  const CommandResult r = RunCommand("ffmpeg -nostdin -v error -y -i " + in + " -f s16le " + pcm);
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output, "") << channels << " channels";
  std::error_code ec;
  EXPECT_EQ(std::filesystem::file_size(pcm, ec), static_cast<uintmax_t>(kFrames * 1024 * channels * 2));
  std::filesystem::remove(in, ec);
  std::filesystem::remove(pcm, ec);
}

TEST(DecoderCheck, FfmpegDecodesMonoAdtsFramesWithoutErrors) { ExpectFfmpegDecodes(1, 0); }
TEST(DecoderCheck, FfmpegDecodesStereoPairsWithMidSideWithoutErrors) { ExpectFfmpegDecodes(2, 0); }
TEST(DecoderCheck, FfmpegDecodesFivePointOneWithoutErrors) { ExpectFfmpegDecodes(6, 1); }
TEST(DecoderCheck, FfmpegDecodesOtherMultichannelLayoutsWithoutErrors) {
  ExpectFfmpegDecodes(3, 0);
  ExpectFfmpegDecodes(4, 0);
  ExpectFfmpegDecodes(5, 0);
  ExpectFfmpegDecodes(6, 0);
}

TEST(DecoderCheck, FaadDecodesLegacyAdtsAndAdif) {
  for (int headerType : {kHeaderAdts, kHeaderAdif}) {
    auto ctx = test::MakeStream(2, 0, 3, headerType, 58);
    ctx->sampleRate = 48000;
    const auto frames = EncodeFrames(*ctx, 77);
    std::vector<uint8_t> header(64);
    if (headerType == kHeaderAdif) header.resize(static_cast<size_t>(BuildAdifHeader(*ctx, 256000, header.data())));
    else header.clear();
    const std::string in = TempPath(headerType == kHeaderAdif ? "faad.adif" : "faad.aac"), wav = TempPath("faad.wav");
    WriteFile(in, header, frames);
    const CommandResult r = RunCommand(std::string("faad ") + (headerType == kHeaderAdts ? "-t " : "") + "-o " + wav + " " + in);
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output.find("rror"), std::string::npos) << r.output;
    std::error_code ec;
    EXPECT_GE(std::filesystem::file_size(wav, ec), static_cast<uintmax_t>((kFrames - 1) * 1024 * 2 * 2)) << r.output;
    std::filesystem::remove(in, ec);
    std::filesystem::remove(wav, ec);
  }
}

}  // namespace
}  // namespace aacs::enc
