// M4A writer: the boxes players rely on, checked by walking the bytes the writer produces, for
// what the command-line runs (checked by ffprobe and FFmpeg) cannot reach: uneven chunks, offsets
// past 4 GiB, durations past 32 bits and rates above 65535.
#include "mp4_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace aacs::tools {
namespace {

uint32_t Be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
uint64_t Be64(const uint8_t* p) { return uint64_t(Be32(p)) << 32 | Be32(p + 4); }

// The payload (after the 8-byte header) of the box at `path`, empty when missing.
std::vector<uint8_t> Find(const std::vector<uint8_t>& bytes, const std::vector<std::string>& path) {
  const uint8_t* data = bytes.data();
  size_t size = bytes.size();
  for (size_t depth = 0, pos = 0; pos + 8 <= size;) {
    const uint32_t boxSize = Be32(data + pos);
    if (boxSize < 8 || pos + boxSize > size) break;
    if (std::string(reinterpret_cast<const char*>(data + pos + 4), 4) != path[depth]) {
      pos += boxSize;
      continue;
    }
    if (++depth == path.size()) return {data + pos + 8, data + pos + boxSize};
    data += pos + 8, size = boxSize - 8, pos = 0;
  }
  return {};
}

// `count` big-endian words of a payload from byte `at`.
std::vector<uint64_t> Words(const std::vector<uint8_t>& b, size_t at, size_t count, size_t width = 4) {
  std::vector<uint64_t> w;
  for (size_t i = 0; i < count && at + (i + 1) * width <= b.size(); ++i)
    w.push_back(width == 4 ? Be32(&b[at + 4 * i]) : Be64(&b[at + 8 * i]));
  return w;
}
using W = std::vector<uint64_t>;

std::vector<uint8_t> Stbl(const std::vector<uint8_t>& moov, const char* leaf) {
  return Find(moov, {"moov", "trak", "mdia", "minf", "stbl", leaf});
}

Mp4TrackInfo Track(int64_t validSamples, int rate = 44100) {
  return {.sampleRate = rate, .channels = 2, .audioSpecificConfig = {0x12, 0x10}, .encoderDelay = 1024,
          .validSamples = validSamples};
}

Mp4SampleTable Table(int samples, uint32_t perChunk, uint64_t firstOffset = 48) {
  Mp4SampleTable table;
  table.samplesPerChunk = perChunk;
  uint64_t offset = firstOffset;
  for (int i = 0; i < samples; ++i) {
    const uint32_t size = 100 + uint32_t(i % 7) * 13;
    if (i % int(perChunk) == 0) table.chunkOffsets.push_back(offset);
    table.sampleSizes.push_back(size);
    offset += size;
  }
  return table;
}

W Offsets(const Mp4SampleTable& t) {
  W w{t.chunkOffsets.size()};
  w.insert(w.end(), t.chunkOffsets.begin(), t.chunkOffsets.end());
  return w;
}

TEST(Mp4Writer, SampleTablesListEverySizeAndAShorterLastChunk) {
  const Mp4SampleTable table = Table(100, 43);
  const std::vector<uint8_t> moov = BuildMoov(Track(99 * 1024 - 500), Mp4Tags{}, table);
  const std::vector<uint8_t> stsz = Stbl(moov, "stsz");
  EXPECT_EQ(Words(stsz, 4, 2), (W{0, 100}));  // no common size, 100 entries
  EXPECT_EQ(Words(stsz, 12, 100), W(table.sampleSizes.begin(), table.sampleSizes.end()));
  EXPECT_EQ(Words(Stbl(moov, "stts"), 4, 3), (W{1, 100, 1024}));
  // Chunks 1-2 hold 43 blocks, chunk 3 the remaining 14.
  EXPECT_EQ(Words(Stbl(moov, "stsc"), 4, 7), (W{2, 1, 43, 1, 3, 14, 1}));
  EXPECT_EQ(Words(Stbl(moov, "stco"), 4, 4), Offsets(table));
  EXPECT_TRUE(Stbl(moov, "co64").empty());
  // Chunks that fill evenly need one stsc entry.
  EXPECT_EQ(Words(Stbl(BuildMoov(Track(85 * 1024), Mp4Tags{}, Table(86, 43)), "stsc"), 4, 1), W{1});
}

TEST(Mp4Writer, ChunkOffsetsBeyond4GiBSwitchToCo64) {
  const Mp4SampleTable table = Table(90, 43, 0x1'0000'0000ULL - 5000);
  ASSERT_GT(table.chunkOffsets[2], 0xFFFFFFFFULL);
  const std::vector<uint8_t> moov = BuildMoov(Track(89 * 1024), Mp4Tags{}, table), co64 = Stbl(moov, "co64");
  EXPECT_TRUE(Stbl(moov, "stco").empty());
  EXPECT_EQ(Words(co64, 4, 1), W{3});
  EXPECT_EQ(Words(co64, 8, 3, 8), W(table.chunkOffsets.begin(), table.chunkOffsets.end()));
}

// The edit list skips the priming and ends at the last input sample; past 32 bits the movie
// header and the edit list take their version 1 forms.
TEST(Mp4Writer, EditListSkipsThePrimingAndLongDurationsUseVersion1Boxes) {
  const int64_t valid = 99 * 1024 - 300;
  std::vector<uint8_t> moov = BuildMoov(Track(valid), Mp4Tags{}, Table(100, 43));
  // Version 0, one entry: duration in the movie timescale, media time past the priming, rate 1.0.
  EXPECT_EQ(Words(Find(moov, {"moov", "trak", "edts", "elst"}), 0, 5), (W{0, 1, uint64_t(valid), 1024, 0x00010000}));
  // The media duration covers the whole media, priming and padding included.
  EXPECT_EQ(Words(Find(moov, {"moov", "trak", "mdia", "mdhd"}), 16, 1), W{100 * 1024});

  const uint64_t longValid = 6'000'000'000ULL;
  moov = BuildMoov(Track(int64_t(longValid)), Mp4Tags{}, Table(10, 43));
  const std::vector<uint8_t> mvhd = Find(moov, {"moov", "mvhd"}), elst = Find(moov, {"moov", "trak", "edts", "elst"});
  ASSERT_FALSE(mvhd.empty() || elst.empty());
  EXPECT_EQ(mvhd[0], 1);  // version 1
  EXPECT_EQ(Words(mvhd, 20, 1), W{44100});
  EXPECT_EQ(Words(mvhd, 24, 1, 8), W{longValid});
  EXPECT_EQ(elst[0], 1);
  EXPECT_EQ(Words(elst, 8, 2, 8), (W{longValid, 1024}));
}

TEST(Mp4Writer, RatesAbove65535LeaveTheSampleEntryRateToTheConfig) {
  const std::vector<uint8_t> moov = BuildMoov(Track(9 * 1024, 96000), Mp4Tags{}, Table(10, 94)), stsd = Stbl(moov, "stsd");
  ASSERT_GE(stsd.size(), 44u);
  ASSERT_EQ(std::string(stsd.begin() + 12, stsd.begin() + 16), "mp4a");
  EXPECT_EQ(Words(stsd, 40, 1), W{0});
  EXPECT_EQ(Words(Find(moov, {"moov", "trak", "mdia", "mdhd"}), 12, 1), W{96000});
}

// esds and btrt carry the real mean rate and the peak over one second of blocks.
TEST(Mp4Writer, SampleEntryStatesTheRealMeanAndPeakBitRates) {
  Mp4SampleTable table = Table(100, 43);
  for (int i = 50; i < 60; ++i) table.sampleSizes[size_t(i)] = 900;  // a burst
  const std::vector<uint8_t> stsd = Stbl(BuildMoov(Track(99 * 1024), Mp4Tags{}, table), "stsd");
  uint64_t total = 0, peak = 0;
  for (uint32_t v : table.sampleSizes) total += v;
  for (size_t i = 0; i + 43 <= 100; ++i) {
    uint64_t window = 0;
    for (size_t k = i; k < i + 43; ++k) window += table.sampleSizes[k];
    peak = std::max(peak, window);
  }
  const double blocksPerSecond = 44100.0 / 1024.0;
  const std::string text(stsd.begin(), stsd.end());
  const size_t btrt = text.find("btrt");
  ASSERT_NE(btrt, std::string::npos) << "no btrt box";
  EXPECT_EQ(Words(stsd, btrt + 4, 3),
            (W{900, uint64_t(double(peak) * 8 * blocksPerSecond / 43), uint64_t(double(total) * 8 * blocksPerSecond / 100)}));
  const size_t esds = text.find("esds");
  ASSERT_NE(esds, std::string::npos);
  // ES and decoder-config descriptors: the rates follow the 24-bit buffer size.
  const size_t config = text.find('\x40', esds);  // objectTypeIndication of MPEG-4 audio
  EXPECT_EQ(Words(stsd, config + 5, 2), (W{uint64_t(double(peak) * 8 * blocksPerSecond / 43),
                                           uint64_t(double(total) * 8 * blocksPerSecond / 100)}));
}

// The gapless record players read: delay, padding and length in its fixed hexadecimal layout.
TEST(Mp4Writer, ITunSmpbStatesDelayPaddingAndLength) {
  EXPECT_EQ(ITunSmpbText(1024, 820, 132300),
            " 00000000 00000400 00000334 00000000000204CC 00000000 00000000 00000000 00000000 00000000 "
            "00000000 00000000 00000000");
}

}  // namespace
}  // namespace aacs::tools
