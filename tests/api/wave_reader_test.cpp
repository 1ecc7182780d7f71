// WAV reader: status codes, chunk walk, sample conversions and the end of the data, on files the
// tests write themselves.
#include "api/wave_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace aacs::api {
namespace {

namespace fs = std::filesystem;

// Little-endian byte builder for WAV files.
struct Bytes {
  std::vector<uint8_t> b;
  Bytes& Id(const char* id) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(id[i]));
    return *this;
  }
  Bytes& U16(uint32_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
    return *this;
  }
  Bytes& U32(uint32_t v) { return U16(v & 0xFFFF).U16(v >> 16); }
  Bytes& Raw(std::initializer_list<uint8_t> v) {
    b.insert(b.end(), v);
    return *this;
  }
  Bytes& Fill(size_t n, uint8_t v = 0) {
    b.insert(b.end(), n, v);
    return *this;
  }
  Bytes& Append(const Bytes& o) {
    b.insert(b.end(), o.b.begin(), o.b.end());
    return *this;
  }
};

Bytes Head() { return Bytes().Id("RIFF").U32(0).Id("WAVE"); }

// A plain "fmt " chunk; blockAlign -1 means channels x bytes per sample.
Bytes Fmt(int tag, int channels, int rate, int bits, int blockAlign = -1) {
  if (blockAlign < 0) blockAlign = channels * ((bits + 7) / 8);
  return Bytes().Id("fmt ").U32(16).U16(tag).U16(channels).U32(rate).U32(rate * blockAlign).U16(blockAlign).U16(bits);
}

const uint8_t kGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

Bytes FmtExtensible(int channels, int rate, int bits, uint16_t subFormat, uint32_t mask) {
  int blockAlign = channels * ((bits + 7) / 8);
  Bytes f;
  f.Id("fmt ").U32(40).U16(0xFFFE).U16(channels).U32(rate).U32(rate * blockAlign).U16(blockAlign).U16(bits);
  f.U16(22).U16(bits).U32(mask).U16(subFormat);
  f.b.insert(f.b.end(), kGuidTail, kGuidTail + 14);
  return f;
}

Bytes Data(uint32_t size) { return Bytes().Id("data").U32(size); }

// Sets the RIFF size to the real one.
Bytes Finish(Bytes b) {
  uint32_t size = uint32_t(b.b.size() - 8);
  std::memcpy(b.b.data() + 4, &size, 4);
  return b;
}

Bytes PcmFile(int channels, int bits, const Bytes& samples) {
  return Finish(Head().Append(Fmt(1, channels, 44100, bits)).Append(Data(uint32_t(samples.b.size()))).Append(samples));
}

class WaveReaderTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = testing::TempDir() + "wave_reader_XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    ASSERT_NE(mkdtemp(name.data()), nullptr);
    dir_ = name.data();
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  std::string Write(const Bytes& b, const char* name = "input.wav") {
    std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.b.data()), std::streamsize(b.b.size()));
    return path;
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

  fs::path dir_;
};

TEST_F(WaveReaderTest, MissingFileGivesStatus2) {
  WaveFormatReport report{};
  int status = -1;
  EXPECT_EQ(WaveReaderOpen((dir_ / "absent.wav").c_str(), &report, &status), nullptr);
  EXPECT_EQ(status, kWaveCannotOpen);
  EXPECT_EQ(WaveReaderOpen(nullptr, &report, &status), nullptr);
  EXPECT_EQ(status, kWaveCannotOpen);
}

TEST_F(WaveReaderTest, NoReportGivesStatus5) {
  int status = -1;
  EXPECT_EQ(WaveReaderOpen(Write(PcmFile(1, 16, Bytes().Fill(4))).c_str(), nullptr, &status), nullptr);
  EXPECT_EQ(status, kWaveNoReport);
}

TEST_F(WaveReaderTest, FilesThatAreNotRiffWaveGiveStatus14) {
  EXPECT_EQ(OpenStatus(Bytes().Id("RIFX").U32(100).Id("WAVE").Fill(40)), kWaveNotRiffWave);
  EXPECT_EQ(OpenStatus(Bytes().Id("RIFF").U32(100).Id("AVI ").Fill(40)), kWaveNotRiffWave);
  EXPECT_EQ(OpenStatus(Bytes().Id("RIFF").U32(4)), kWaveNotRiffWave);  // 8 bytes only
  EXPECT_EQ(OpenStatus(Bytes()), kWaveNotRiffWave);
}

TEST_F(WaveReaderTest, ChunkOrderViolationsGiveTheirStatus) {
  Bytes samples = Bytes().Fill(8);
  // A second RIFF before the data.
  EXPECT_EQ(OpenStatus(Finish(Head().Append(Fmt(1, 2, 44100, 16)).Id("RIFF").U32(4).Append(Data(8)).Append(samples))),
            kWaveSecondRiff);
  // WAVE again after the format.
  EXPECT_EQ(OpenStatus(Finish(Head().Append(Fmt(1, 2, 44100, 16)).Id("WAVE").Append(Data(8)).Append(samples))),
            kWaveMisplacedWave);
  // A second fmt chunk.
  EXPECT_EQ(OpenStatus(Finish(Head().Append(Fmt(1, 2, 44100, 16)).Append(Fmt(1, 2, 44100, 16)).Append(Data(8)).Append(samples))),
            kWaveFmtBeforeWave);
  // data before fmt, and no data at all.
  EXPECT_EQ(OpenStatus(Finish(Head().Append(Data(8)).Append(samples).Append(Fmt(1, 2, 44100, 16)))), kWaveNoData);
  EXPECT_EQ(OpenStatus(Finish(Head().Append(Fmt(1, 2, 44100, 16)).Id("LIST").U32(4).Id("INFO"))), kWaveNoData);
  EXPECT_EQ(OpenStatus(Finish(Head())), kWaveNoData);
}

TEST_F(WaveReaderTest, FmtChunkSizesOutsideSixteenTo512AreRefused) {
  Bytes samples = Bytes().Fill(8);
  Bytes shortFmt = Bytes().Id("fmt ").U32(14).U16(1).U16(2).U32(44100).U32(176400).U16(4);
  EXPECT_EQ(OpenStatus(Finish(Head().Append(shortFmt).Append(Data(8)).Append(samples))), kWaveFmtTooShort);
  Bytes longFmt = Bytes().Id("fmt ").U32(600).U16(1).U16(2).U32(44100).U32(176400).U16(4).U16(16).Fill(584);
  EXPECT_EQ(OpenStatus(Finish(Head().Append(longFmt).Append(Data(8)).Append(samples))), kWaveFmtTooLong);
  // 512 bytes is still fine.
  Bytes fmt512 = Bytes().Id("fmt ").U32(512).U16(1).U16(2).U32(44100).U32(176400).U16(4).U16(16).Fill(496);
  EXPECT_EQ(OpenStatus(Finish(Head().Append(fmt512).Append(Data(8)).Append(samples))), kWaveOk);
  // A fmt chunk cut off by the end of the file.
  EXPECT_EQ(OpenStatus(Head().Id("fmt ").U32(16).U16(1).U16(2)), kWaveFmtTooShort);
}

TEST_F(WaveReaderTest, ZeroFormatFieldsGiveStatus18) {
  Bytes samples = Bytes().Fill(8);
  auto with = [&](Bytes fmt, Bytes s) { return Finish(Head().Append(fmt).Append(Data(uint32_t(s.b.size()))).Append(s)); };
  EXPECT_EQ(OpenStatus(with(Fmt(1, 2, 0, 16), samples)), kWaveZeroField);
  EXPECT_EQ(OpenStatus(with(Fmt(1, 0, 44100, 16, 4), samples)), kWaveZeroField);
  EXPECT_EQ(OpenStatus(with(Fmt(1, 2, 44100, 0, 4), samples)), kWaveZeroField);
  EXPECT_EQ(OpenStatus(with(Fmt(1, 2, 44100, 16), Bytes().Fill(3))), kWaveZeroField);  // less than a frame
  EXPECT_EQ(OpenStatus(Finish(Head().Append(Fmt(1, 2, 44100, 16)).Append(Data(0)))), kWaveZeroField);
}

TEST_F(WaveReaderTest, BlockSizeThatDoesNotMatchTheChannelsGivesStatus21) {
  EXPECT_EQ(OpenStatus(Finish(Head().Append(Fmt(1, 2, 44100, 16, 3)).Append(Data(12)).Fill(12))), kWaveInconsistent);
  EXPECT_EQ(OpenStatus(Finish(Head().Append(Fmt(1, 2, 44100, 24, 4)).Append(Data(12)).Fill(12))), kWaveInconsistent);
}

TEST_F(WaveReaderTest, AnythingButIntegerPcmGivesStatus11) {
  Bytes samples = Bytes().Fill(16);
  auto with = [&](Bytes fmt) { return Finish(Head().Append(fmt).Append(Data(16)).Append(samples)); };
  EXPECT_EQ(OpenStatus(with(Fmt(3, 2, 44100, 32))), kWaveNotPcm);   // IEEE float
  EXPECT_EQ(OpenStatus(with(Fmt(2, 2, 44100, 4))), kWaveNotPcm);    // ADPCM
  EXPECT_EQ(OpenStatus(with(Fmt(1, 1, 44100, 64))), kWaveNotPcm);   // no 64-bit converter
  EXPECT_EQ(OpenStatus(with(FmtExtensible(2, 44100, 32, 3, 3))), kWaveNotPcm);  // float sub-format
  EXPECT_EQ(OpenStatus(with(FmtExtensible(2, 44100, 16, 1, 3))), kWaveOk);
}

TEST_F(WaveReaderTest, ExtensibleIntegerPcmReadsAsPcmAndReportsItsMask) {
  Bytes samples;
  for (int i = 0; i < 6; ++i) samples.Raw({0x00, uint8_t(i), 0x00});
  Bytes file = Finish(Head().Append(FmtExtensible(6, 48000, 24, 1, 0x3F)).Append(Data(18)).Append(samples));
  WaveFormatReport report{};
  WaveReader* r = Open(file, &report);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(report.formatTag, 0xFFFE);
  EXPECT_EQ(report.channelMask, 0x3Fu);
  EXPECT_EQ(report.numChannels, 6);
  EXPECT_EQ(report.sampleRate, 48000);
  EXPECT_EQ(report.bitsPerSample, 24);
  EXPECT_EQ(report.numFrames, 1);
  int16_t buf[6];
  EXPECT_EQ(WaveReaderRead(r, buf, 6), 6);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(buf[i], i);
  WaveReaderClose(r);
}

TEST_F(WaveReaderTest, MoreThanSixChannelsOpen) {
  Bytes samples = Bytes().Fill(16 * 3);
  WaveFormatReport report{};
  WaveReader* r = Open(PcmFile(8, 16, samples), &report);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(report.numChannels, 8);
  EXPECT_EQ(report.numFrames, 3);
  WaveReaderClose(r);
}

TEST_F(WaveReaderTest, UnknownAndOddSizedChunksAreSkipped) {
  Bytes samples = Bytes().U16(0x1111).U16(0x2222);
  Bytes file = Head();
  file.Id("LIST").U32(9).Id("INFO").Raw({'a', 'b', 'c', 'd', 'e'}).Fill(1);  // odd size with its pad
  file.Append(Fmt(1, 2, 44100, 16));
  file.Id("fact").U32(4).U32(1);
  file.Id("junk").U32(3).Raw({1, 2, 3});  // odd size without a pad byte
  file.Raw({0x00, 0xFF, 0x80});           // stray bytes: resynchronise byte by byte
  file.Append(Data(4)).Append(samples);
  file.Id("LIST").U32(4).Id("INFO");     // after the data: not audio
  std::vector<int16_t> got = ReadAll(Finish(file), 4);
  EXPECT_EQ(got, (std::vector<int16_t>{0x1111, 0x2222, 0, 0}));
}

TEST_F(WaveReaderTest, DataSizeBeyondTheFileIsReadToTheEnd) {
  Bytes file = Head().Append(Fmt(1, 1, 44100, 16)).Append(Data(1000)).U16(1).U16(2).U16(3).Raw({9});
  WaveFormatReport report{};
  WaveReader* r = Open(file, &report);  // RIFF size 0 too: taken from the file
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(report.numFrames, 3);
  WaveReaderClose(r);
  EXPECT_EQ(ReadAll(file, 5), (std::vector<int16_t>{1, 2, 3, 0, 0}));
}

TEST_F(WaveReaderTest, StreamingDataSizesMeanToTheEndOfTheFile) {
  for (uint32_t size : {0u, 0xFFFFFFFFu}) {
    Bytes file = Head().Append(Fmt(1, 2, 44100, 16)).Append(Data(size)).U16(7).U16(8).U16(9).U16(10);
    file.b[4] = file.b[5] = file.b[6] = file.b[7] = 0xFF;
    EXPECT_EQ(ReadAll(file, 4), (std::vector<int16_t>{7, 8, 9, 10})) << size;
  }
}

TEST_F(WaveReaderTest, EightBitSamplesAreCentredNotScaled) {
  std::vector<int16_t> got = ReadAll(PcmFile(1, 8, Bytes().Raw({0, 1, 127, 128, 129, 255})), 6);
  EXPECT_EQ(got, (std::vector<int16_t>{-128, -127, -1, 0, 1, 127}));
}

TEST_F(WaveReaderTest, TwentyFourBitSamplesKeepTheirUpperSixteenBits) {
  Bytes s = Bytes().Raw({0x56, 0x34, 0x12, 0xBA, 0xDC, 0xFE, 0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x80});
  EXPECT_EQ(ReadAll(PcmFile(2, 24, s), 4), (std::vector<int16_t>{0x1234, int16_t(0xFEDC), 0x7FFF, -32768}));
  // 20-bit samples travel in 24-bit containers.
  EXPECT_EQ(ReadAll(PcmFile(1, 20, Bytes().Raw({0x50, 0x34, 0x12})), 1), (std::vector<int16_t>{0x1234}));
}

TEST_F(WaveReaderTest, ThirtyTwoBitSamplesShiftRightBySixteen) {
  Bytes s = Bytes().U32(0x12345678).U32(0x80000000u).U32(0xFFFFFFFFu).U32(0x0000FFFF);
  EXPECT_EQ(ReadAll(PcmFile(2, 32, s), 4), (std::vector<int16_t>{0x1234, -32768, -1, 0}));
}

TEST_F(WaveReaderTest, SixteenBitSamplesAreUnchanged) {
  Bytes s = Bytes().U16(0x8000).U16(0x7FFF).U16(0xFFFF).U16(0x0102);
  EXPECT_EQ(ReadAll(PcmFile(2, 16, s), 4), (std::vector<int16_t>{-32768, 32767, -1, 0x0102}));
}

// Reads larger than the staging buffer, in several calls, keep every sample in order; the end
// comes as a short count with zeros after it, then as 0.
TEST_F(WaveReaderTest, LongReadsKeepOrderAndTheEndIsZeroFilled) {
  for (int bits : {8, 16, 24, 32}) {
    SCOPED_TRACE(bits);
    const int channels = 3, frames = 5000, bytes = (bits + 7) / 8;
    Bytes s;
    for (int i = 0; i < frames * channels; ++i) {
      int16_t v = int16_t(i * 7);
      if (bits == 8) {
        s.Raw({uint8_t(i % 256)});
        continue;
      }
      s.Fill(size_t(bytes - 2));
      s.U16(uint16_t(v));
    }
    WaveFormatReport report{};
    WaveReader* r = Open(PcmFile(channels, bits, s), &report);
    ASSERT_NE(r, nullptr);
    std::vector<int16_t> buf(3 * 1024 * 2);
    int seen = 0;
    for (;;) {
      int n = WaveReaderRead(r, buf.data(), int(buf.size()));
      ASSERT_GE(n, 0);
      for (int i = 0; i < n; ++i, ++seen) {
        int16_t expected = bits == 8 ? int16_t(seen % 256 - 128) : int16_t(seen * 7);
        ASSERT_EQ(buf[i], expected) << seen;
      }
      for (size_t i = size_t(n); i < buf.size(); ++i) ASSERT_EQ(buf[i], 0);
      if (n < int(buf.size())) {
        EXPECT_EQ(seen, frames * channels);
        EXPECT_EQ(WaveReaderRead(r, buf.data(), int(buf.size())), 0);
        break;
      }
    }
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
  fs::resize_file(dir_ / "input.wav", 44 + 2 * 60001);
  std::vector<int16_t> buf(100000, int16_t(-1));
  EXPECT_EQ(WaveReaderRead(r, buf.data(), 100000), 60000);
  EXPECT_EQ(r->status, kWaveShortRead);
  EXPECT_EQ(buf[59999], int16_t(59999));
  EXPECT_EQ(buf[60000], 0);
  EXPECT_EQ(WaveReaderRead(r, buf.data(), 2), 0);
  WaveReaderClose(r);
}

TEST_F(WaveReaderTest, KeepsTheBaseNameAndAChunkLog) {
  WaveFormatReport report{};
  int status = -1;
  std::string path = Write(PcmFile(1, 16, Bytes().Fill(2)), "named.wav");
  WaveReader* r = WaveReaderOpen(path.c_str(), &report, &status);
  ASSERT_NE(r, nullptr);
  EXPECT_STREQ(r->fileName, "named.wav");
  EXPECT_NE(std::strstr(r->logText, "RIFF : 38\nWAVE\n"), nullptr) << r->logText;
  EXPECT_NE(std::strstr(r->logText, "data : 2\n"), nullptr) << r->logText;
  WaveReaderClose(r);
}

TEST(WaveReaderStatusText, NamesEveryStatus) {
  EXPECT_STREQ(WaveReaderStatusText(kWaveNotRiffWave), "not a RIFF/WAVE file");
  EXPECT_STREQ(WaveReaderStatusText(kWaveFmtTooLong), "fmt chunk longer than 512 bytes");
  EXPECT_STREQ(WaveReaderStatusText(kWaveNoData), "no data chunk after the fmt chunk");
  for (int s : {2, 4, 5, 6, 8, 11, 12, 14, 15, 18, 19, 21, 22, 23, 24, 25, 26, 29})
    EXPECT_STRNE(WaveReaderStatusText(s), WaveReaderStatusText(-1)) << s;
}

}  // namespace
}  // namespace aacs::api
