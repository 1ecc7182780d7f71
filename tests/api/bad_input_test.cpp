// Misuse of the public calls: every bad argument or call order is refused with an error result
// (or at open) and nothing is written where it should not be.  Out-of-range values that the
// interface documents as accepted (quality, preset, odd flags) give a stream that parses.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "aacstream/aacstream.h"
#include "api/stream_context.h"
#include "enc/band_tables.h"
#include "support/aac_parser.h"

namespace {

constexpr unsigned char kCanary = 0xA5;

StreamContext* Open(int rate, int kbps, int channels, int lfe = 0, int preset = 0, int headerType = 2,
                    int bandwidth = 0, int quality = 9) {
  return aacStreamOpen32(0, 0, rate, kbps, channels, lfe, preset, 1, headerType, bandwidth, 0, quality, nullptr,
                         nullptr, nullptr, nullptr, nullptr, 2026);
}

StreamContext* OpenWithOptions(std::vector<int> keys, std::vector<int> values, int count) {
  return aacStreamOpenEx32(0, 0, 44100, 128, 2, 0, 0, 1, 2, 0, 0, 9, nullptr, nullptr, nullptr, nullptr, nullptr,
                           2026, keys.empty() ? nullptr : keys.data(), values.empty() ? nullptr : values.data(),
                           count);
}

bool AllCanary(const std::vector<unsigned char>& b, size_t from = 0) {
  for (size_t i = from; i < b.size(); ++i)
    if (b[i] != kCanary) return false;
  return true;
}

// Encodes `calls` calls of a tone then a short call and the flush; returns the ADTS bytes (58-bit
// header, the default) or an empty vector when a call misbehaved.
std::vector<unsigned char> EncodeShort(StreamContext* s, int channels, int calls) {
  std::vector<unsigned char> stream, out(static_cast<size_t>(aacStreamMaxOutputBytes32(s)));
  std::vector<short> pcm(static_cast<size_t>(1024 * channels));
  for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<short>((i * 7919) % 20000 - 10000);
  for (int k = 0; k <= calls; ++k) {
    int length = -1;
    const int count = k < calls ? 1024 * channels : 100 * channels;
    const int result = aacStreamEncodeFrame32(s, pcm.data(), out.data(), count, &length);
    if (result != (k < calls ? 0 : 2) || length < 0) return {};
    stream.insert(stream.end(), out.begin(), out.begin() + length);
  }
  int length = 0;
  if (aacStreamFlush32(s, out.data(), &length) != 0) return {};
  stream.insert(stream.end(), out.begin(), out.begin() + length);
  return stream;
}

int ParsedFrames(const std::vector<unsigned char>& stream, int headerBits = 58) {
  std::vector<aacs::test::ParsedFrame> frames;
  std::string error;
  if (!aacs::test::ParseAdtsStream(stream.data(), stream.size(), headerBits, &frames, &error)) return -1;
  return static_cast<int>(frames.size());
}

TEST(BadInput, OpenRefusesArgumentsOutsideTheirRange) {
  EXPECT_EQ(Open(0, 128, 2), nullptr);  // memory input has no file to take the rate from
  EXPECT_EQ(Open(-44100, 128, 2), nullptr);
  EXPECT_EQ(Open(INT_MAX, 128, 2), nullptr);
  EXPECT_EQ(Open(INT_MIN, 128, 2), nullptr);
  EXPECT_EQ(Open(44100, 128, -1), nullptr);
  EXPECT_EQ(Open(44100, 128, INT_MAX), nullptr);
  EXPECT_EQ(Open(44100, 0, 2), nullptr);
  EXPECT_EQ(Open(44100, -128, 2), nullptr);
  EXPECT_EQ(Open(44100, INT_MAX, 2), nullptr);  // kbit/s x 1000 would wrap
  EXPECT_EQ(Open(44100, INT_MIN, 2), nullptr);
  EXPECT_EQ(Open(44100, 2147484, 2), nullptr);  // wraps to a small positive figure in 32 bits
  EXPECT_EQ(Open(8000, 97, 2), nullptr);        // 6208 bits per channel and frame
  EXPECT_EQ(Open(96000, 11, 2), nullptr);       // 58 bits per channel and frame
  EXPECT_EQ(Open(44100, 128, 2, 0, 0, -1), nullptr);
  EXPECT_EQ(Open(44100, 128, 2, 0, 0, INT_MIN), nullptr);
  EXPECT_EQ(Open(44100, 128, 2, 0, 0, 2, 96001), nullptr);
  EXPECT_EQ(Open(44100, 128, 2, 0, 0, 2, INT_MAX), nullptr);  // bandwidth arithmetic would wrap
  EXPECT_EQ(Open(44100, 128, 4, INT_MIN), nullptr);            // any non-zero lfe means LFE
  // Files: missing names, missing files, a directory as output.
  EXPECT_EQ(aacStreamOpen32(1, 0, 0, 128, 2, 0, 0, 1, 2, 0, 0, 9, nullptr, nullptr, nullptr, nullptr, nullptr, 0),
            nullptr);
  EXPECT_EQ(aacStreamOpen32(1, 0, 0, 128, 2, 0, 0, 1, 2, 0, 0, 9, "", nullptr, nullptr, nullptr, nullptr, 0),
            nullptr);
  EXPECT_EQ(aacStreamOpen32(0, 1, 44100, 128, 2, 0, 0, 1, 2, 0, 0, 9, nullptr, nullptr, nullptr, nullptr, nullptr, 0),
            nullptr);
  EXPECT_EQ(aacStreamOpen32(0, 1, 44100, 128, 2, 0, 0, 1, 2, 0, 0, 9, nullptr, "", nullptr, nullptr, nullptr, 0),
            nullptr);
  const std::string dir = testing::TempDir();
  EXPECT_EQ(aacStreamOpen32(0, 1, 44100, 128, 2, 0, 0, 1, 2, 0, 0, 9, nullptr, dir.c_str(), nullptr, nullptr,
                            nullptr, 0),
            nullptr);
  EXPECT_EQ(aacStreamOpen32(1, 0, 0, 128, 2, 0, 0, 1, 2, 0, 0, 9, dir.c_str(), nullptr, nullptr, nullptr, nullptr, 0),
            nullptr);
}

TEST(BadInput, OpenRefusesBadOptionLists) {
  EXPECT_EQ(OpenWithOptions({}, {}, -1), nullptr);
  EXPECT_EQ(OpenWithOptions({}, {}, 1), nullptr);          // count without arrays
  EXPECT_EQ(OpenWithOptions({9}, {}, 1), nullptr);         // values missing
  EXPECT_EQ(OpenWithOptions({0}, {0}, 1), nullptr);        // not a key
  EXPECT_EQ(OpenWithOptions({17}, {0}, 1), nullptr);
  EXPECT_EQ(OpenWithOptions({INT_MIN}, {0}, 1), nullptr);
  EXPECT_EQ(OpenWithOptions({AACSTREAM_OPT_PROFILE}, {2}, 1), nullptr);
  EXPECT_EQ(OpenWithOptions({AACSTREAM_OPT_BIT_RATE_KBPS}, {INT_MAX}, 1), nullptr);
  EXPECT_EQ(OpenWithOptions({AACSTREAM_OPT_CHANNELS}, {7}, 1), nullptr);
  EXPECT_EQ(OpenWithOptions({AACSTREAM_OPT_SAMPLE_RATE}, {44101}, 1), nullptr);
  EXPECT_EQ(OpenWithOptions({AACSTREAM_OPT_INPUT_SAMPLE_RATE}, {48000}, 1), nullptr);  // memory input cannot resample
  EXPECT_EQ(OpenWithOptions({AACSTREAM_OPT_BANDWIDTH}, {96001}, 1), nullptr);
  EXPECT_EQ(OpenWithOptions({AACSTREAM_OPT_TNS}, {2}, 1), nullptr);
  EXPECT_EQ(OpenWithOptions({AACSTREAM_OPT_STEREO_MODE}, {-2}, 1), nullptr);
  EXPECT_EQ(OpenWithOptions({AACSTREAM_OPT_ADTS_HEADER_BITS}, {0}, 1), nullptr);
  StreamContext* none = OpenWithOptions({}, {}, 0);  // no options with null arrays is fine
  EXPECT_NE(none, nullptr);
  aacStreamDestroy32(none);
}

TEST(BadInput, DocumentedOddArgumentsStillGiveAStream) {
  struct Case {
    int read, write, lfe, preset, lcOnly, quality, psyOption, year;
  };
  const Case cases[] = {
      {2, 2, 0, 0, 0, INT_MIN, INT_MIN, INT_MIN},  // flags other than 1 mean memory I/O
      {-1, -1, 0, INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MAX},
      {0, 0, 0, INT_MIN, -5, -3, 2, -1},
      {0, 0, 0, -256, 1, 12, 1, 0},  // negative preset with bit 8: the alternative bandwidth rule
      {0, 0, 0, 256, 1, 10, 0, 0},
      {0, 0, INT_MIN, 10, 1, -1, 0, 0},  // five channels: lfe has nothing to act on
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "preset " << c.preset << " quality " << c.quality);
    StreamContext* s = aacStreamOpen32(c.read, c.write, 32000, 160, 5, c.lfe, c.preset, c.lcOnly, 2, 0, c.psyOption,
                                       c.quality, nullptr, nullptr, nullptr, nullptr, nullptr, c.year);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(ParsedFrames(EncodeShort(s, 5, 3)), 5);
    aacStreamDestroy32(s);
  }
}

TEST(BadInput, EncodeRefusesBadArgumentsWithoutWritingAnything) {
  StreamContext* s = Open(44100, 128, 2);
  ASSERT_NE(s, nullptr);
  const size_t outSize = static_cast<size_t>(aacStreamMaxOutputBytes32(s));
  ASSERT_GE(outSize, static_cast<size_t>(s->maxFrameBytes + 100));
  std::vector<unsigned char> out(outSize, kCanary);
  std::vector<short> pcm(2048, 1000);
  int length = 12345;
  EXPECT_EQ(aacStreamEncodeFrame32(nullptr, pcm.data(), out.data(), 2048, &length), 1);
  EXPECT_EQ(aacStreamEncodeFrame32(s, pcm.data(), out.data(), -1, &length), 1);
  EXPECT_EQ(aacStreamEncodeFrame32(s, pcm.data(), out.data(), INT_MIN, &length), 1);
  EXPECT_EQ(aacStreamEncodeFrame32(s, pcm.data(), out.data(), 2049, &length), 1);
  EXPECT_EQ(aacStreamEncodeFrame32(s, pcm.data(), out.data(), INT_MAX, &length), 1);
  EXPECT_EQ(aacStreamEncodeFrame32(s, nullptr, out.data(), 1, &length), 1);
  EXPECT_EQ(aacStreamEncodeFrame32(s, pcm.data(), nullptr, 2048, &length), 1);
  EXPECT_EQ(aacStreamEncodeFrame32(s, pcm.data(), out.data(), 2048, nullptr), 1);
  EXPECT_EQ(length, 12345);
  EXPECT_TRUE(AllCanary(out));
  EXPECT_EQ(s->frameCount, -2);  // nothing ran
  // The stream is still whole: it encodes normally afterwards.
  const std::vector<unsigned char> stream = EncodeShort(s, 2, 3);
  EXPECT_EQ(ParsedFrames(stream), 5);
  aacStreamDestroy32(s);
}

TEST(BadInput, CallsAfterTheEndAndAfterCloseTouchNoBuffer) {
  StreamContext* s = Open(48000, 96, 1);
  ASSERT_NE(s, nullptr);
  std::vector<unsigned char> out(static_cast<size_t>(aacStreamMaxOutputBytes32(s)), kCanary);
  std::vector<short> pcm(1024, 500);
  int length = -1;
  ASSERT_EQ(aacStreamEncodeFrame32(s, pcm.data(), out.data(), 1024, &length), 0);
  ASSERT_EQ(aacStreamEncodeFrame32(s, pcm.data(), out.data(), 10, &length), 2);
  EXPECT_GT(length, 0);
  std::fill(out.begin(), out.end(), kCanary);
  // Ended: every call returns 2 with no bytes, whatever it passes.
  length = -1;
  EXPECT_EQ(aacStreamEncodeFrame32(s, pcm.data(), out.data(), 1024, &length), 2);
  EXPECT_EQ(length, 0);
  EXPECT_EQ(aacStreamEncodeFrame32(s, nullptr, out.data(), INT_MAX, &length), 2);
  EXPECT_TRUE(AllCanary(out));
  // The flush is delivered once, only with its arguments.
  EXPECT_EQ(aacStreamFlush32(s, nullptr, &length), 1);
  EXPECT_EQ(aacStreamFlush32(s, out.data(), nullptr), 1);
  EXPECT_TRUE(AllCanary(out));
  EXPECT_EQ(aacStreamFlush32(s, out.data(), &length), 0);
  EXPECT_GT(length, 0);
  EXPECT_LE(length, static_cast<int>(out.size()));
  std::fill(out.begin(), out.end(), kCanary);
  EXPECT_EQ(aacStreamFlush32(s, out.data(), &length), 1);
  EXPECT_EQ(length, 0);
  aacStreamClose32(s);
  // Closed: encode and flush are refused, close is a no-op, the small queries still answer.
  length = -1;
  EXPECT_EQ(aacStreamEncodeFrame32(s, pcm.data(), out.data(), 1024, &length), 1);
  EXPECT_EQ(aacStreamFlush32(s, out.data(), &length), 1);
  EXPECT_TRUE(AllCanary(out));
  aacStreamClose32(s);
  unsigned char asc[2];
  EXPECT_EQ(aacStreamAudioSpecificConfig32(s, asc, &length), 0);
  EXPECT_EQ(aacStreamAudioSpecificConfig32(s, nullptr, &length), 1);
  EXPECT_EQ(aacStreamAudioSpecificConfig32(s, asc, nullptr), 1);
  EXPECT_EQ(aacStreamAudioSpecificConfig32(nullptr, asc, &length), 1);
  EXPECT_GT(aacStreamMaxOutputBytes32(s), 0);
  EXPECT_EQ(aacStreamMaxOutputBytes32(nullptr), 0);
  WriteVelmorAACHeader(s, nullptr);
  WriteVelmorAACHeader(nullptr, stdout);
  aacStreamDestroy32(s);
  aacStreamClose32(nullptr);
  aacStreamDestroy32(nullptr);
  EXPECT_EQ(aacStreamFlush32(nullptr, out.data(), &length), 1);
}

TEST(BadInput, CloseWithoutEncodingLeavesAValidEmptyStream) {
  for (int header : {0, 1, 2}) {
    const std::string path = testing::TempDir() + "close_without_encode_" + std::to_string(header) + ".aac";
    StreamContext* s = aacStreamOpen32(0, 1, 22050, 64, 2, 0, 0, 1, header, 0, 0, 9, nullptr, path.c_str(), nullptr,
                                       nullptr, nullptr, 0);
    ASSERT_NE(s, nullptr);
    int length = -1;
    EXPECT_EQ(aacStreamFlush32(s, nullptr, &length), 1);
    aacStreamClose32(s);
    aacStreamDestroy32(s);
    FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    unsigned char head[64];
    const size_t n = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
    std::remove(path.c_str());
    if (header == 1) {  // the ADIF header, with a bit rate of 0 for no frames
      aacs::test::AdifHeader adif;
      std::string error;
      ASSERT_TRUE(aacs::test::ParseAdifHeader(head, n, &adif, &error)) << error;
      EXPECT_EQ(static_cast<size_t>(adif.headerBytes), n);
      EXPECT_EQ(adif.bitRate, 0);
    } else {
      EXPECT_EQ(n, 0u);
    }
  }
  // Destroy without close closes first.
  StreamContext* s = Open(16000, 32, 1);
  ASSERT_NE(s, nullptr);
  aacStreamDestroy32(s);
}

TEST(BadInput, FileInputIgnoresPcmAndCountsAndFileOutputIgnoresOut) {
  // A WAV of 2.5 frames; pcm, out and sampleCount are ignored (null, negative, huge).
  const std::string wav = testing::TempDir() + "bad_input_in.wav", aac = testing::TempDir() + "bad_input_out.aac";
  const int frames = 2560;
  std::vector<unsigned char> bytes = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
                                      16, 0, 0, 0, 1, 0, 1, 0, 0x80, 0x3E, 0, 0, 0, 0x7D, 0, 0, 2, 0, 16, 0,
                                      'd', 'a', 't', 'a'};
  const uint32_t dataBytes = frames * 2;
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<unsigned char>(dataBytes >> (8 * i)));
  for (int i = 0; i < frames; ++i) {
    const short v = static_cast<short>((i * 977) % 16000 - 8000);
    bytes.push_back(static_cast<unsigned char>(v & 0xFF));
    bytes.push_back(static_cast<unsigned char>((v >> 8) & 0xFF));
  }
  const uint32_t riff = static_cast<uint32_t>(bytes.size() - 8);
  for (int i = 0; i < 4; ++i) bytes[4 + i] = static_cast<unsigned char>(riff >> (8 * i));
  FILE* f = std::fopen(wav.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  const int keys[] = {AACSTREAM_OPT_ADTS_HEADER_BITS}, values[] = {56};
  StreamContext* s = aacStreamOpenEx32(1, 1, 0, 32, 0, 0, 0, 1, 2, 0, 0, 9, wav.c_str(), aac.c_str(), nullptr,
                                       nullptr, nullptr, 0, keys, values, 1);
  ASSERT_NE(s, nullptr);
  int length = 0, result = 0, calls = 0;
  const int counts[] = {-1, INT_MAX, INT_MIN, 0};
  while ((result = aacStreamEncodeFrame32(s, nullptr, nullptr, counts[calls % 4], &length)) == 0) ++calls;
  EXPECT_EQ(result, 2);
  EXPECT_EQ(calls, 2);  // two full frames, then the half frame ends the stream
  EXPECT_EQ(aacStreamEncodeFrame32(s, nullptr, nullptr, 0, nullptr), 2);
  aacStreamClose32(s);
  aacStreamDestroy32(s);
  std::vector<unsigned char> stream;
  f = std::fopen(aac.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  unsigned char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) stream.insert(stream.end(), buffer, buffer + n);
  std::fclose(f);
  std::remove(wav.c_str());
  std::remove(aac.c_str());
  EXPECT_EQ(ParsedFrames(stream, 56), 4);
}

// Every rate that open accepts has the psychoacoustic band table the model needs at its first
// frame (its absence would end the process).
TEST(BadInput, EveryAcceptedRateHasItsModelBandTable) {
  for (int rate : {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000})
    EXPECT_NE(aacs::enc::FindCbAdaptRow(rate), nullptr) << rate;
}

}  // namespace
