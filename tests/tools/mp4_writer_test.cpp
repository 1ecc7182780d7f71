// M4A writer: the boxes players rely on, checked by walking the bytes the writer produces, for
// what the command-line runs (checked by ffprobe and FFmpeg) cannot reach: uneven chunks, offsets
// past 4 GiB, durations past 32 bits and rates above 65535.
#include "mp4_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace aacs::tools {
namespace {

uint32_t Be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
uint64_t Be64(const uint8_t* p) { return uint64_t(Be32(p)) << 32 | Be32(p + 4); }

// A box found by path: its payload (after the 8-byte header) inside the buffer.
struct Box {
  const uint8_t* body = nullptr;
  size_t size = 0;
  bool found() const { return body != nullptr; }
};

// Boxes whose payload starts with other boxes after `skip` bytes (meta is a full box).
size_t ChildOffset(const std::string& type) { return type == "meta" ? 4 : 0; }

Box FindIn(const uint8_t* data, size_t size, const std::vector<std::string>& path, size_t depth = 0) {
  size_t pos = 0;
  while (pos + 8 <= size) {
    const uint32_t boxSize = Be32(data + pos);
    if (boxSize < 8 || pos + boxSize > size) return {};
    const std::string type(reinterpret_cast<const char*>(data + pos + 4), 4);
    if (type == path[depth]) {
      const uint8_t* body = data + pos + 8;
      const size_t bodySize = boxSize - 8;
      if (depth + 1 == path.size()) return {body, bodySize};
      const size_t skip = ChildOffset(type);
      return FindIn(body + skip, bodySize - skip, path, depth + 1);
    }
    pos += boxSize;
  }
  return {};
}

Box Find(const std::vector<uint8_t>& bytes, const std::vector<std::string>& path) {
  return FindIn(bytes.data(), bytes.size(), path);
}

const std::vector<std::string> kStbl = {"moov", "trak", "mdia", "minf", "stbl"};
std::vector<std::string> StblPath(const std::string& leaf) {
  std::vector<std::string> p = kStbl;
  p.push_back(leaf);
  return p;
}

Mp4TrackInfo Track(int64_t validSamples) {
  Mp4TrackInfo t;
  t.sampleRate = 44100;
  t.channels = 2;
  t.audioSpecificConfig = {0x12, 0x10};
  t.encoderDelay = 1024;
  t.validSamples = validSamples;
  return t;
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

TEST(Mp4Writer, SampleTablesListEverySizeAndAShorterLastChunk) {
  const Mp4SampleTable table = Table(100, 43);
  const std::vector<uint8_t> moov = BuildMoov(Track(99 * 1024 - 500), Mp4Tags{}, table);

  const Box stsz = Find(moov, StblPath("stsz"));
  ASSERT_TRUE(stsz.found());
  EXPECT_EQ(Be32(stsz.body + 4), 0u);  // no common size
  ASSERT_EQ(Be32(stsz.body + 8), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(Be32(stsz.body + 12 + 4 * i), table.sampleSizes[size_t(i)]) << i;

  const Box stts = Find(moov, StblPath("stts"));
  ASSERT_TRUE(stts.found());
  EXPECT_EQ(Be32(stts.body + 4), 1u);
  EXPECT_EQ(Be32(stts.body + 8), 100u);
  EXPECT_EQ(Be32(stts.body + 12), 1024u);

  // Chunks 1-2 hold 43 blocks, chunk 3 the remaining 14.
  const Box stsc = Find(moov, StblPath("stsc"));
  ASSERT_TRUE(stsc.found());
  ASSERT_EQ(Be32(stsc.body + 4), 2u);
  EXPECT_EQ(Be32(stsc.body + 8), 1u);
  EXPECT_EQ(Be32(stsc.body + 12), 43u);
  EXPECT_EQ(Be32(stsc.body + 20), 3u);
  EXPECT_EQ(Be32(stsc.body + 24), 14u);

  const Box stco = Find(moov, StblPath("stco"));
  ASSERT_TRUE(stco.found());
  ASSERT_EQ(Be32(stco.body + 4), 3u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Be32(stco.body + 8 + 4 * i), table.chunkOffsets[size_t(i)]);
  EXPECT_FALSE(Find(moov, StblPath("co64")).found());

  // Chunks that fill evenly need one stsc entry.
  const std::vector<uint8_t> evenMoov = BuildMoov(Track(85 * 1024), Mp4Tags{}, Table(86, 43));
  const Box even = Find(evenMoov, StblPath("stsc"));
  ASSERT_TRUE(even.found());
  EXPECT_EQ(Be32(even.body + 4), 1u);
}

TEST(Mp4Writer, ChunkOffsetsBeyond4GiBSwitchToCo64) {
  const Mp4SampleTable table = Table(90, 43, 0x1'0000'0000ULL - 5000);
  const std::vector<uint8_t> moov = BuildMoov(Track(89 * 1024), Mp4Tags{}, table);
  EXPECT_FALSE(Find(moov, StblPath("stco")).found());
  const Box co64 = Find(moov, StblPath("co64"));
  ASSERT_TRUE(co64.found());
  ASSERT_EQ(Be32(co64.body + 4), 3u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Be64(co64.body + 8 + 8 * i), table.chunkOffsets[size_t(i)]);
  EXPECT_GT(table.chunkOffsets[2], 0xFFFFFFFFULL);
}

// The edit list skips the priming and ends at the last input sample; past 32 bits the movie
// header and the edit list take their version 1 forms.
TEST(Mp4Writer, EditListSkipsThePrimingAndLongDurationsUseVersion1Boxes) {
  const int64_t valid = 99 * 1024 - 300;
  std::vector<uint8_t> moov = BuildMoov(Track(valid), Mp4Tags{}, Table(100, 43));
  Box elst = Find(moov, {"moov", "trak", "edts", "elst"});
  ASSERT_TRUE(elst.found());
  EXPECT_EQ(elst.body[0], 0);
  ASSERT_EQ(Be32(elst.body + 4), 1u);
  EXPECT_EQ(Be32(elst.body + 8), uint32_t(valid));  // segment duration, movie timescale
  EXPECT_EQ(Be32(elst.body + 12), 1024u);           // media time: the priming is skipped
  EXPECT_EQ(Be32(elst.body + 16), 0x00010000u);     // rate 1.0
  const Box mdhd = Find(moov, {"moov", "trak", "mdia", "mdhd"});
  ASSERT_TRUE(mdhd.found());
  EXPECT_EQ(Be32(mdhd.body + 16), 100u * 1024u);  // the whole media, priming and padding included

  const int64_t longValid = 6'000'000'000LL;
  moov = BuildMoov(Track(longValid), Mp4Tags{}, Table(10, 43));
  const Box mvhd = Find(moov, {"moov", "mvhd"});
  ASSERT_TRUE(mvhd.found());
  EXPECT_EQ(mvhd.body[0], 1);
  EXPECT_EQ(Be32(mvhd.body + 20), 44100u);
  EXPECT_EQ(Be64(mvhd.body + 24), uint64_t(longValid));
  elst = Find(moov, {"moov", "trak", "edts", "elst"});
  ASSERT_TRUE(elst.found());
  EXPECT_EQ(elst.body[0], 1);
  EXPECT_EQ(Be64(elst.body + 8), uint64_t(longValid));
  EXPECT_EQ(Be64(elst.body + 16), 1024u);
}

TEST(Mp4Writer, RatesAbove65535LeaveTheSampleEntryRateToTheConfig) {
  Mp4TrackInfo track = Track(9 * 1024);
  track.sampleRate = 96000;
  const std::vector<uint8_t> moov = BuildMoov(track, Mp4Tags{}, Table(10, 94));
  const Box stsd = Find(moov, StblPath("stsd"));
  ASSERT_TRUE(stsd.found());
  ASSERT_EQ(std::string(reinterpret_cast<const char*>(stsd.body + 12), 4), "mp4a");
  EXPECT_EQ(Be32(stsd.body + 8 + 8 + 24), 0u);
  const Box mdhd = Find(moov, {"moov", "trak", "mdia", "mdhd"});
  ASSERT_TRUE(mdhd.found());
  EXPECT_EQ(Be32(mdhd.body + 12), 96000u);
}

// The gapless record players read: delay, padding and length in its fixed hexadecimal layout.
TEST(Mp4Writer, ITunSmpbStatesDelayPaddingAndLength) {
  EXPECT_EQ(ITunSmpbText(1024, 820, 132300),
            " 00000000 00000400 00000334 00000000000204CC 00000000 00000000 00000000 00000000 00000000 "
            "00000000 00000000 00000000");
}

}  // namespace
}  // namespace aacs::tools
