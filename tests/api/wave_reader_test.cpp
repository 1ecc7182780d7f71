// WAV reader: status codes, chunk walk, sample conversions and the end of the data, on files the
// tests write themselves.
#include "api/wave_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "support/audio_support.h"

namespace aacs::api {
namespace {

// Little-endian byte builder for WAV files.
struct Bytes {
  std::vector<uint8_t> b;
  Bytes& Raw(std::initializer_list<uint8_t> v) { return b.insert(b.end(), v), *this; }
  Bytes& Id(const char* id) { return b.insert(b.end(), id, id + 4), *this; }
  Bytes& U16(uint32_t v) { return Raw({uint8_t(v), uint8_t(v >> 8)}); }
  Bytes& U32(uint32_t v) { return U16(v & 0xFFFF).U16(v >> 16); }
  Bytes& Fill(size_t n, uint8_t v = 0) { return b.insert(b.end(), n, v), *this; }
  Bytes& Append(const Bytes& o) { return b.insert(b.end(), o.b.begin(), o.b.end()), *this; }
};

Bytes Head() { return Bytes().Id("RIFF").U32(0).Id("WAVE"); }

// A plain "fmt " chunk (blockAlign -1: channels x bytes per sample), or an EXTENSIBLE one with
// `subFormat` and the channel mask.
Bytes Fmt(int tag, int channels, int rate, int bits, int blockAlign = -1, uint16_t subFormat = 0, uint32_t mask = 0) {
  if (blockAlign < 0) blockAlign = channels * ((bits + 7) / 8);
  Bytes f = Bytes().Id("fmt ").U32(tag == 0xFFFE ? 40 : 16).U16(tag).U16(channels).U32(rate);
  f.U32(rate * blockAlign).U16(blockAlign).U16(bits);
  if (tag != 0xFFFE) return f;
  return f.U16(22).U16(bits).U32(mask).U16(subFormat).Raw({0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71});
}
Bytes FmtExtensible(int channels, int rate, int bits, uint16_t subFormat, uint32_t mask) {
  return Fmt(0xFFFE, channels, rate, bits, -1, subFormat, mask);
}

Bytes Data(uint32_t size) { return Bytes().Id("data").U32(size); }

Bytes Finish(Bytes b) {
  uint32_t size = uint32_t(b.b.size() - 8);
  std::memcpy(b.b.data() + 4, &size, 4);
  return b;
}

Bytes PcmFile(int channels, int bits, const Bytes& samples) {
  return Finish(Head().Append(Fmt(1, channels, 44100, bits)).Append(Data(uint32_t(samples.b.size()))).Append(samples));
}

class WaveReaderTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const std::string& p : paths_) std::remove(p.c_str());
  }

  std::string Write(const Bytes& b) {
    paths_.push_back(aacs::testing::TempPath("input.wav"));
    EXPECT_TRUE(aacs::testing::WriteFile(paths_.back(), b.b));
    return paths_.back();
  }

  // Status of opening a file with these bytes (the reader is closed again on success).
  int OpenStatus(const Bytes& b) {
    WaveFormatReport report{};
    int status = -1;
    WaveReader* r = WaveReaderOpen(Write(b).c_str(), &report, &status);
    EXPECT_EQ(r != nullptr, status == kWaveOk);
    if (r) {
      EXPECT_EQ(WaveReaderClose(r), 0);
    }
    return status;
  }

  WaveReader* Open(const Bytes& b, WaveFormatReport* report) {
    int status = -1;
    WaveReader* r = WaveReaderOpen(Write(b).c_str(), report, &status);
    EXPECT_EQ(status, kWaveOk) << WaveReaderStatusText(status);
    return r;
  }

  std::vector<int16_t> ReadAll(const Bytes& b, int count) {
    WaveFormatReport report{};
    WaveReader* r = Open(b, &report);
    std::vector<int16_t> out(size_t(count), int16_t(0x5555));
    if (!r) return out;
    EXPECT_EQ(WaveReaderRead(r, out.data(), count), int(report.numFrames * report.numChannels));
    WaveReaderClose(r);
    return out;
  }

  std::vector<std::string> paths_;
};

TEST_F(WaveReaderTest, MissingFileOrReportIsRefused) {
  WaveFormatReport report{};
  auto refusal = [](const char* path, WaveFormatReport* r) {
    int status = -1;
    EXPECT_EQ(WaveReaderOpen(path, r, &status), nullptr);
    return status;
  };
  EXPECT_EQ(refusal(aacs::testing::TempPath("absent.wav").c_str(), &report), kWaveCannotOpen);
  EXPECT_EQ(refusal(nullptr, &report), kWaveCannotOpen);
  EXPECT_EQ(refusal(Write(PcmFile(1, 16, Bytes().Fill(4))).c_str(), nullptr), kWaveNoReport);
}

TEST_F(WaveReaderTest, HeadersAreRefusedWithTheStatusOfTheirFault) {
  const Bytes s8 = Bytes().Fill(8), s16 = Bytes().Fill(16);
  auto file = [](const Bytes& fmt, const Bytes& samples) {
    return Finish(Head().Append(fmt).Append(Data(uint32_t(samples.b.size()))).Append(samples));
  };
  const Bytes stereo = Fmt(1, 2, 44100, 16);
  const struct { const char* what; Bytes bytes; int status; } cases[] = {
      {"RIFX", Bytes().Id("RIFX").U32(100).Id("WAVE").Fill(40), kWaveNotRiffWave},
      {"RF64", Bytes().Id("RF64").U32(0xFFFFFFFF).Id("WAVE").Fill(40), kWaveRf64},
      {"AVI", Bytes().Id("RIFF").U32(100).Id("AVI ").Fill(40), kWaveNotRiffWave},
      {"8 bytes", Bytes().Id("RIFF").U32(4), kWaveNotRiffWave},
      {"empty", Bytes(), kWaveNotRiffWave},
      {"second RIFF", Finish(Head().Append(stereo).Id("RIFF").U32(4).Append(Data(8)).Append(s8)), kWaveSecondRiff},
      {"WAVE after fmt", Finish(Head().Append(stereo).Id("WAVE").Append(Data(8)).Append(s8)), kWaveMisplacedWave},
      {"second fmt", Finish(Head().Append(stereo).Append(stereo).Append(Data(8)).Append(s8)), kWaveFmtBeforeWave},
      {"data before fmt", Finish(Head().Append(Data(8)).Append(s8).Append(stereo)), kWaveDataBeforeFmt},
      {"no data", Finish(Head().Append(stereo).Id("LIST").U32(4).Id("INFO")), kWaveNoData},
      {"header only", Finish(Head()), kWaveNoData},
      {"fmt of 14", file(Bytes().Id("fmt ").U32(14).U16(1).U16(2).U32(44100).U32(176400).U16(4), s8), kWaveFmtTooShort},
      {"fmt cut off", Head().Id("fmt ").U32(16).U16(1).U16(2), kWaveFmtTooShort},
      {"fmt of 600", file(Bytes().Id("fmt ").U32(600).U16(1).U16(2).U32(44100).U32(176400).U16(4).U16(16).Fill(584), s8),
       kWaveFmtTooLong},
      {"fmt of 512", file(Bytes().Id("fmt ").U32(512).U16(1).U16(2).U32(44100).U32(176400).U16(4).U16(16).Fill(496), s8),
       kWaveOk},
      {"rate 0", file(Fmt(1, 2, 0, 16), s8), kWaveZeroField},
      {"no channels", file(Fmt(1, 0, 44100, 16, 4), s8), kWaveZeroField},
      {"0 bits", file(Fmt(1, 2, 44100, 0, 4), s8), kWaveZeroField},
      {"less than a frame", file(stereo, Bytes().Fill(3)), kWaveZeroField},
      {"empty data", Finish(Head().Append(stereo).Append(Data(0))), kWaveZeroField},
      {"block of 3 for 2 x 16 bits", file(Fmt(1, 2, 44100, 16, 3), Bytes().Fill(12)), kWaveInconsistent},
      {"block of 4 for 2 x 24 bits", file(Fmt(1, 2, 44100, 24, 4), Bytes().Fill(12)), kWaveInconsistent},
      {"IEEE float", file(Fmt(3, 2, 44100, 32), s16), kWaveNotPcm},
      {"ADPCM", file(Fmt(2, 2, 44100, 4), s16), kWaveNotPcm},
      {"64 bits", file(Fmt(1, 1, 44100, 64), s16), kWaveNotPcm},
      {"extensible float", file(FmtExtensible(2, 44100, 32, 3, 3), s16), kWaveNotPcm},
      {"extensible PCM", file(FmtExtensible(2, 44100, 16, 1, 3), s16), kWaveOk},
      {"eight channels", PcmFile(8, 16, Bytes().Fill(16 * 3)), kWaveOk},
  };
  for (const auto& c : cases) EXPECT_EQ(OpenStatus(c.bytes), c.status) << c.what;
}

TEST_F(WaveReaderTest, ExtensibleIntegerPcmReadsAsPcmAndReportsItsMask) {
  Bytes samples;
  for (int i = 0; i < 6; ++i) samples.Raw({0x00, uint8_t(i), 0x00});
  Bytes file = Finish(Head().Append(FmtExtensible(6, 48000, 24, 1, 0x3F)).Append(Data(18)).Append(samples));
  WaveFormatReport report{};
  WaveReader* r = Open(file, &report);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(std::tuple(report.formatTag, report.channelMask, report.numChannels, report.sampleRate,
                       report.bitsPerSample, report.numFrames),
            std::tuple(0xFFFE, 0x3Fu, 6, 48000, 24, 1));
  std::vector<int16_t> buf(6);
  EXPECT_EQ(WaveReaderRead(r, buf.data(), 6), 6);
  EXPECT_EQ(buf, (std::vector<int16_t>{0, 1, 2, 3, 4, 5}));
  WaveReaderClose(r);
}

TEST_F(WaveReaderTest, UnknownAndOddSizedChunksAreSkipped) {
  Bytes file = Head();
  file.Id("LIST").U32(9).Id("INFO").Raw({'a', 'b', 'c', 'd', 'e'}).Fill(1);  // odd size with its pad
  file.Append(Fmt(1, 2, 44100, 16));
  file.Id("fact").U32(4).U32(1);
  file.Id("junk").U32(3).Raw({1, 2, 3});  // odd size without a pad byte
  file.Raw({0x00, 0xFF, 0x80});           // stray bytes: resynchronise byte by byte
  file.Append(Data(4)).U16(0x1111).U16(0x2222);
  file.Id("LIST").U32(4).Id("INFO");     // after the data: not audio
  EXPECT_EQ(ReadAll(Finish(file), 4), (std::vector<int16_t>{0x1111, 0x2222, 0, 0}));
}

// Data sizes beyond the file, and the streaming sizes 0 and 0xFFFFFFFF, mean "to the end of the
// file" (whole frames only); the RIFF size is not trusted either.
TEST_F(WaveReaderTest, DataSizesBeyondTheFileAreReadToItsEnd) {
  for (uint32_t size : {1000u, 0u, 0xFFFFFFFFu}) {
    Bytes file = Head().Append(Fmt(1, 1, 44100, 16)).Append(Data(size)).U16(1).U16(2).U16(3).Raw({9});
    file.b[4] = file.b[5] = file.b[6] = file.b[7] = size == 1000 ? 0x00 : 0xFF;
    WaveFormatReport report{};
    WaveReader* r = Open(file, &report);
    ASSERT_NE(r, nullptr) << size;
    EXPECT_EQ(report.numFrames, 3) << size;
    WaveReaderClose(r);
    EXPECT_EQ(ReadAll(file, 5), (std::vector<int16_t>{1, 2, 3, 0, 0})) << size;
  }
}

// 8-bit samples are centred, not scaled; wider ones keep their upper 16 bits.
TEST_F(WaveReaderTest, SampleConvertersGiveSixteenBitValues) {
  const struct { int bits, channels; Bytes samples; std::vector<int16_t> want; } cases[] = {
      {8, 1, Bytes().Raw({0, 1, 127, 128, 129, 255}), {-128, -127, -1, 0, 1, 127}},
      {16, 2, Bytes().U16(0x8000).U16(0x7FFF).U16(0xFFFF).U16(0x0102), {-32768, 32767, -1, 0x0102}},
      {24, 2, Bytes().Raw({0x56, 0x34, 0x12, 0xBA, 0xDC, 0xFE, 0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x80}),
       {0x1234, int16_t(0xFEDC), 0x7FFF, -32768}},
      {20, 1, Bytes().Raw({0x50, 0x34, 0x12}), {0x1234}},  // 20-bit samples travel in 24-bit containers
      {32, 2, Bytes().U32(0x12345678).U32(0x80000000u).U32(0xFFFFFFFFu).U32(0x0000FFFF), {0x1234, -32768, -1, 0}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ReadAll(PcmFile(c.channels, c.bits, c.samples), int(c.want.size())), c.want) << c.bits << " bits";
}

// Reads larger than the staging buffer, in several calls, keep every sample in order; the end
// comes as a short count with zeros after it, then as 0.
TEST_F(WaveReaderTest, LongReadsKeepOrderAndTheEndIsZeroFilled) {
  for (int bits : {8, 16, 24, 32}) {
    SCOPED_TRACE(bits);
    const int channels = 3, frames = 5000, bytes = (bits + 7) / 8;
    Bytes s;
    for (int i = 0; i < frames * channels; ++i)
      bits == 8 ? s.Raw({uint8_t(i % 256)}) : s.Fill(size_t(bytes - 2)).U16(uint16_t(i * 7));
    WaveFormatReport report{};
    WaveReader* r = Open(PcmFile(channels, bits, s), &report);
    ASSERT_NE(r, nullptr);
    std::vector<int16_t> buf(3 * 1024 * 2);
    int seen = 0, n = 0;
    do {
      ASSERT_GE(n = WaveReaderRead(r, buf.data(), int(buf.size())), 0);
      for (int i = 0; i < n; ++i, ++seen) ASSERT_EQ(buf[i], int16_t(bits == 8 ? seen % 256 - 128 : seen * 7)) << seen;
      for (size_t i = size_t(n); i < buf.size(); ++i) ASSERT_EQ(buf[i], 0);
    } while (n == int(buf.size()));
    EXPECT_EQ(seen, frames * channels);
    EXPECT_EQ(WaveReaderRead(r, buf.data(), int(buf.size())), 0);
    EXPECT_EQ(r->framesRead, frames);
    EXPECT_EQ(WaveReaderClose(r), 0);
  }
}

TEST_F(WaveReaderTest, ReadsThatAreNotWholeFramesAreRefused) {
  WaveFormatReport report{};
  WaveReader* r = Open(PcmFile(2, 16, Bytes().Fill(8)), &report);
  ASSERT_NE(r, nullptr);
  int16_t buf[4];
  EXPECT_EQ(WaveReaderRead(r, buf, 3), -1);
  EXPECT_EQ(r->status, kWaveBadCount);
  EXPECT_EQ(WaveReaderRead(r, buf, -2), -1);
  EXPECT_EQ(WaveReaderRead(r, buf, 4), 4);
  EXPECT_EQ(r->status, kWaveOk);
  WaveReaderClose(r);
  EXPECT_EQ(WaveReaderRead(nullptr, buf, 4), -1);
  EXPECT_EQ(WaveReaderClose(nullptr), kWaveInvalidReader);
}

TEST_F(WaveReaderTest, FileCutShortAfterOpenGivesStatus19AndWholeFrames) {
  Bytes s;
  for (int i = 0; i < 100000; ++i) s.U16(uint16_t(i));
  WaveFormatReport report{};
  WaveReader* r = Open(PcmFile(2, 16, s), &report);
  ASSERT_NE(r, nullptr);
  // Cut well past what the open may have buffered: 30000.5 frames are left.
  std::filesystem::resize_file(paths_.back(), 44 + 2 * 60001);
  std::vector<int16_t> buf(100000, int16_t(-1));
  EXPECT_EQ(WaveReaderRead(r, buf.data(), 100000), 60000);
  EXPECT_EQ(r->status, kWaveShortRead);
  EXPECT_EQ(buf[59999], int16_t(59999));
  EXPECT_EQ(buf[60000], 0);
  EXPECT_EQ(WaveReaderRead(r, buf.data(), 2), 0);
  WaveReaderClose(r);
}

TEST(WaveReaderStatusText, NamesEveryStatus) {
  for (int s : {2, 4, 5, 6, 8, 11, 12, 14, 15, 18, 19, 21, 22, 23, 24, 25, 26, 29})
    EXPECT_STRNE(WaveReaderStatusText(s), WaveReaderStatusText(-1)) << s;
}

}  // namespace
}  // namespace aacs::api
