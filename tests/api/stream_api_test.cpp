// The stream calls: open refusals, framing of encode calls, end of stream, flush and edges.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "aacstream/aacstream.h"
#include "api/stream_context.h"

namespace {

StreamContext* OpenMemory(int sampleRate, int kbps, int channels, int lfe = 0, int headerType = 2,
                          const int* keys = nullptr, const int* values = nullptr, int count = 0) {
  return aacStreamOpenEx32(0, 0, sampleRate, kbps, channels, lfe, 0, 1, headerType, 0, 0, 9, nullptr, nullptr,
                           nullptr, nullptr, nullptr, 2024, keys, values, count);
}

// ADTS frames in a byte string, walking the frame length fields (56-bit header form).
int CountAdtsFrames(const std::vector<unsigned char>& bytes) {
  size_t pos = 0;
  int frames = 0;
  while (pos + 7 <= bytes.size()) {
    if (bytes[pos] != 0xFF || (bytes[pos + 1] & 0xF0) != 0xF0) return -1;
    const size_t length = ((bytes[pos + 3] & 3u) << 11) | (bytes[pos + 4] << 3) | (bytes[pos + 5] >> 5);
    if (length < 7 || pos + length > bytes.size()) return -1;
    pos += length;
    ++frames;
  }
  return pos == bytes.size() ? frames : -1;
}

std::vector<short> Tone(int frames, int channels, double hz, double rate) {
  std::vector<short> pcm(static_cast<size_t>(frames) * channels);
  for (int i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c)
      pcm[static_cast<size_t>(i) * channels + c] = static_cast<short>(8000.0 * std::sin(2 * M_PI * hz * (i + 37 * c) / rate));
  return pcm;
}

TEST(StreamOpen, RefusesWhatCannotBeEncoded) {
  EXPECT_EQ(OpenMemory(44100, 7, 2), nullptr);     // below 8 kbit/s
  EXPECT_EQ(OpenMemory(44100, 128, 0), nullptr);   // no channels
  EXPECT_EQ(OpenMemory(44100, 128, 7), nullptr);   // more than six
  EXPECT_EQ(OpenMemory(37800, 128, 2), nullptr);   // not one of the twelve rates
  EXPECT_EQ(OpenMemory(44100, 256, 4, 1), nullptr);  // 4 channels with LFE
  EXPECT_EQ(OpenMemory(96000, 577, 1), nullptr);   // above 6144 bits per channel and frame
  StreamContext* highest = OpenMemory(96000, 576, 1);  // exactly 6144 bits per frame
  EXPECT_NE(highest, nullptr);
  aacStreamDestroy32(highest);
  EXPECT_EQ(OpenMemory(96000, 8, 6), nullptr);     // far below 64 bits per channel and frame
  EXPECT_EQ(OpenMemory(44100, 128, 2, 0, 3), nullptr);  // no header type 3
  const int profileKey[] = {AACSTREAM_OPT_PROFILE}, ssr[] = {2};
  EXPECT_EQ(OpenMemory(44100, 128, 2, 0, 2, profileKey, ssr, 1), nullptr);
  const int unknownKey[] = {4}, one[] = {1};
  EXPECT_EQ(OpenMemory(44100, 128, 2, 0, 2, unknownKey, one, 1), nullptr);
  const int headerBitsKey[] = {AACSTREAM_OPT_ADTS_HEADER_BITS}, badBits[] = {57};
  EXPECT_EQ(OpenMemory(44100, 128, 2, 0, 2, headerBitsKey, badBits, 1), nullptr);
  EXPECT_EQ(aacStreamOpen32(1, 0, 44100, 128, 2, 0, 0, 1, 2, 0, 0, 9, "/nonexistent/in.wav", nullptr, nullptr,
                            nullptr, nullptr, 0),
            nullptr);
  EXPECT_EQ(aacStreamOpen32(0, 1, 44100, 128, 2, 0, 0, 1, 2, 0, 0, 9, nullptr, "/nonexistent/dir/out.aac",
                            nullptr, nullptr, nullptr, 0),
            nullptr);
}

TEST(StreamOpen, OptionsOverrideTheArguments) {
  const int keys[] = {AACSTREAM_OPT_BIT_RATE_KBPS, AACSTREAM_OPT_QUALITY, AACSTREAM_OPT_ADTS_HEADER_BITS,
                      AACSTREAM_OPT_TNS};
  const int values[] = {96, 5, 56, 0};
  StreamContext* s = OpenMemory(44100, 128, 2, 0, 2, keys, values, 4);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->bitRate, 96000);
  EXPECT_EQ(s->quality, 5);
  EXPECT_EQ(s->timeDomainAttack, 1);
  EXPECT_EQ(s->adtsHeaderBits, 56);
  EXPECT_EQ(s->tnsEnabled, 0);
  unsigned char asc[2];
  int ascLength = 0;
  ASSERT_EQ(aacStreamAudioSpecificConfig32(s, asc, &ascLength), 0);
  EXPECT_EQ(ascLength, 2);
  EXPECT_EQ(asc[0], 0x12);  // object type 2 (LC), index 4 (44100) ...
  EXPECT_EQ(asc[1], 0x10);  // ... 2 channels
  aacStreamDestroy32(s);
}

struct EncodeRun {
  std::vector<unsigned char> bytes;
  std::vector<int> callBytes;
  int lastResult = -1;
};

// Feeds `calls` calls (the last one with `lastCount` samples) and collects every byte.
EncodeRun Encode(StreamContext* s, int calls, int lastCount, int channels) {
  EncodeRun run;
  std::vector<unsigned char> out(static_cast<size_t>(aacStreamMaxOutputBytes32(s)));
  const std::vector<short> pcm = Tone(1024 * calls, channels, 997.0, 44100.0);
  for (int k = 0; k < calls; ++k) {
    const int count = k + 1 < calls ? 1024 * channels : lastCount;
    int length = -1;
    run.lastResult = aacStreamEncodeFrame32(s, pcm.data() + static_cast<size_t>(k) * 1024 * channels, out.data(),
                                            count, &length);
    run.callBytes.push_back(length);
    run.bytes.insert(run.bytes.end(), out.begin(), out.begin() + length);
  }
  int length = 0;
  if (aacStreamFlush32(s, out.data(), &length) == 0) run.bytes.insert(run.bytes.end(), out.begin(), out.begin() + length);
  return run;
}

TEST(FrameDriver, KCallsGiveKPlusOneFramesAndTheFirstCallPrimes) {
  const int keys[] = {AACSTREAM_OPT_ADTS_HEADER_BITS}, values[] = {56};
  StreamContext* s = OpenMemory(44100, 128, 2, 0, 2, keys, values, 1);
  ASSERT_NE(s, nullptr);
  const EncodeRun run = Encode(s, 6, 100, 2);
  EXPECT_EQ(run.callBytes[0], 0);
  EXPECT_GT(run.callBytes[1], 0);
  EXPECT_EQ(run.lastResult, 2);
  EXPECT_EQ(CountAdtsFrames(run.bytes), 7);
  EXPECT_EQ(s->frameCount, 6);
  EXPECT_EQ(s->pipelineFrameCount, 8);
  // After the end every call returns 2 with no bytes, and the flush is delivered once.
  std::vector<unsigned char> out(static_cast<size_t>(aacStreamMaxOutputBytes32(s)));
  int length = -1;
  EXPECT_EQ(aacStreamEncodeFrame32(s, nullptr, out.data(), 2048, &length), 2);
  EXPECT_EQ(length, 0);
  EXPECT_EQ(aacStreamFlush32(s, out.data(), &length), 1);
  EXPECT_EQ(length, 0);
  aacStreamClose32(s);
  aacStreamDestroy32(s);
}

TEST(FrameDriver, ZeroSampleCallEndsTheStreamRepeatingTheLastByteCount) {
  StreamContext* s = OpenMemory(44100, 128, 2);
  ASSERT_NE(s, nullptr);
  const EncodeRun run = Encode(s, 4, 0, 2);
  EXPECT_EQ(run.lastResult, 2);
  EXPECT_EQ(run.callBytes[3], run.callBytes[2]);
  aacStreamDestroy32(s);
}

TEST(FrameDriver, BadCallsChangeNothing) {
  StreamContext* s = OpenMemory(44100, 128, 2);
  ASSERT_NE(s, nullptr);
  std::vector<unsigned char> out(static_cast<size_t>(aacStreamMaxOutputBytes32(s)));
  std::vector<short> pcm(2048, 0);
  int length = 0;
  EXPECT_EQ(aacStreamEncodeFrame32(nullptr, pcm.data(), out.data(), 2048, &length), 1);
  EXPECT_EQ(aacStreamEncodeFrame32(s, pcm.data(), out.data(), -1, &length), 1);
  EXPECT_EQ(aacStreamEncodeFrame32(s, pcm.data(), out.data(), 2049, &length), 1);
  EXPECT_EQ(aacStreamEncodeFrame32(s, nullptr, out.data(), 2048, &length), 1);
  EXPECT_EQ(aacStreamEncodeFrame32(s, pcm.data(), nullptr, 2048, &length), 1);
  EXPECT_EQ(aacStreamEncodeFrame32(s, pcm.data(), out.data(), 2048, nullptr), 1);
  EXPECT_EQ(s->frameCount, -2);  // nothing ran
  EXPECT_EQ(aacStreamEncodeFrame32(s, pcm.data(), out.data(), 2048, &length), 0);
  EXPECT_EQ(length, 0);
  EXPECT_EQ(aacStreamFlush32(s, out.data(), &length), 1);  // not ended yet
  aacStreamClose32(s);
  aacStreamClose32(s);  // a second close does nothing
  EXPECT_EQ(aacStreamEncodeFrame32(s, pcm.data(), out.data(), 2048, &length), 1);
  aacStreamDestroy32(s);
  aacStreamDestroy32(nullptr);
  aacStreamClose32(nullptr);
}

TEST(FrameDriver, FileOutputAppendsEveryCallAndTheFlush) {
  const std::string path = testing::TempDir() + "frame_driver_out.aac";
  const int keys[] = {AACSTREAM_OPT_ADTS_HEADER_BITS}, values[] = {56};
  StreamContext* s = aacStreamOpenEx32(0, 1, 44100, 64, 1, 0, 0, 1, 2, 0, 0, 9, nullptr, path.c_str(), nullptr,
                                       nullptr, nullptr, 0, keys, values, 1);
  ASSERT_NE(s, nullptr);
  const std::vector<short> pcm = Tone(1024 * 5, 1, 440.0, 44100.0);
  int length = 0, total = 0, result = 0;
  for (int k = 0; k < 5; ++k) {
    result = aacStreamEncodeFrame32(s, pcm.data() + 1024 * k, nullptr, k < 4 ? 1024 : 512, &length);
    total += length;
  }
  EXPECT_EQ(result, 2);
  aacStreamClose32(s);
  aacStreamDestroy32(s);
  FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  std::vector<unsigned char> bytes(1 << 16);
  bytes.resize(std::fread(bytes.data(), 1, bytes.size(), f));
  std::fclose(f);
  std::remove(path.c_str());
  EXPECT_EQ(CountAdtsFrames(bytes), 6);
  EXPECT_GT(static_cast<int>(bytes.size()), total);  // the flush frames follow the calls' bytes
}

}  // namespace
