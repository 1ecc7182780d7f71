// M4A writer: the boxes players and FFmpeg rely on (sample tables, edit list, esds, tags),
// checked by walking the bytes the writer produces.
#include "mp4_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
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
}

TEST(Mp4Writer, ChunksThatFillEvenlyNeedOneStscEntry) {
  const std::vector<uint8_t> moov = BuildMoov(Track(85 * 1024), Mp4Tags{}, Table(86, 43));
  const Box stsc = Find(moov, StblPath("stsc"));
  ASSERT_TRUE(stsc.found());
  EXPECT_EQ(Be32(stsc.body + 4), 1u);
  EXPECT_EQ(Be32(stsc.body + 12), 43u);
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

TEST(Mp4Writer, EditListSkipsThePrimingAndEndsAtTheLastInputSample) {
  const int64_t valid = 99 * 1024 - 300;
  const std::vector<uint8_t> moov = BuildMoov(Track(valid), Mp4Tags{}, Table(100, 43));
  const Box elst = Find(moov, {"moov", "trak", "edts", "elst"});
  ASSERT_TRUE(elst.found());
  EXPECT_EQ(elst.body[0], 0);  // version 0
  ASSERT_EQ(Be32(elst.body + 4), 1u);
  EXPECT_EQ(Be32(elst.body + 8), uint32_t(valid));  // segment duration, movie timescale
  EXPECT_EQ(Be32(elst.body + 12), 1024u);           // media time: the priming is skipped
  EXPECT_EQ(Be32(elst.body + 16), 0x00010000u);     // rate 1.0

  const Box mvhd = Find(moov, {"moov", "mvhd"});
  ASSERT_TRUE(mvhd.found());
  EXPECT_EQ(Be32(mvhd.body + 12), 44100u);
  EXPECT_EQ(Be32(mvhd.body + 16), uint32_t(valid));
  const Box mdhd = Find(moov, {"moov", "trak", "mdia", "mdhd"});
  ASSERT_TRUE(mdhd.found());
  EXPECT_EQ(Be32(mdhd.body + 12), 44100u);
  EXPECT_EQ(Be32(mdhd.body + 16), 100u * 1024u);  // the whole media, priming and padding included
  const Box tkhd = Find(moov, {"moov", "trak", "tkhd"});
  ASSERT_TRUE(tkhd.found());
  EXPECT_EQ(Be32(tkhd.body + 20), uint32_t(valid));
}

TEST(Mp4Writer, DurationsBeyond32BitsUseVersion1Boxes) {
  const int64_t valid = 6'000'000'000LL;
  const std::vector<uint8_t> moov = BuildMoov(Track(valid), Mp4Tags{}, Table(10, 43));
  const Box mvhd = Find(moov, {"moov", "mvhd"});
  ASSERT_TRUE(mvhd.found());
  EXPECT_EQ(mvhd.body[0], 1);
  EXPECT_EQ(Be32(mvhd.body + 20), 44100u);
  EXPECT_EQ(Be64(mvhd.body + 24), uint64_t(valid));
  const Box elst = Find(moov, {"moov", "trak", "edts", "elst"});
  ASSERT_TRUE(elst.found());
  EXPECT_EQ(elst.body[0], 1);
  EXPECT_EQ(Be64(elst.body + 8), uint64_t(valid));
  EXPECT_EQ(Be64(elst.body + 16), 1024u);
}

TEST(Mp4Writer, EsdsCarriesTheAudioSpecificConfigAndLargestBlock) {
  const Mp4SampleTable table = Table(50, 43);
  const std::vector<uint8_t> moov = BuildMoov(Track(49 * 1024), Mp4Tags{}, table);
  const Box stsd = Find(moov, StblPath("stsd"));
  ASSERT_TRUE(stsd.found());
  const uint8_t* mp4a = stsd.body + 8;
  ASSERT_EQ(std::string(reinterpret_cast<const char*>(mp4a + 4), 4), "mp4a");
  EXPECT_EQ(Be32(mp4a + 8 + 16) >> 16, 2u);             // channelcount
  EXPECT_EQ(Be32(mp4a + 8 + 24), 44100u << 16);         // samplerate 16.16
  const uint8_t* esds = mp4a + 8 + 28;
  ASSERT_EQ(std::string(reinterpret_cast<const char*>(esds + 4), 4), "esds");
  const uint8_t* es = esds + 12;
  ASSERT_EQ(es[0], 0x03);
  const uint8_t* dc = es + 2 + 3;
  ASSERT_EQ(dc[0], 0x04);
  EXPECT_EQ(dc[2], 0x40);  // MPEG-4 Audio
  EXPECT_EQ(dc[3], 0x15);  // audio stream
  const uint32_t largest = (uint32_t(dc[4]) << 16) | (uint32_t(dc[5]) << 8) | dc[6];
  EXPECT_EQ(largest, 100u + 6 * 13);
  const uint8_t* dsi = dc + 2 + 13;
  ASSERT_EQ(dsi[0], 0x05);
  ASSERT_EQ(dsi[1], 2);
  EXPECT_EQ(dsi[2], 0x12);
  EXPECT_EQ(dsi[3], 0x10);
  EXPECT_EQ(dsi[4], 0x06);  // SLConfigDescriptor follows
}

TEST(Mp4Writer, RatesAbove65535LeaveTheSampleEntryRateToTheConfig) {
  Mp4TrackInfo track = Track(9 * 1024);
  track.sampleRate = 96000;
  const std::vector<uint8_t> moov = BuildMoov(track, Mp4Tags{}, Table(10, 94));
  const Box stsd = Find(moov, StblPath("stsd"));
  ASSERT_TRUE(stsd.found());
  EXPECT_EQ(Be32(stsd.body + 8 + 8 + 24), 0u);
  const Box mdhd = Find(moov, {"moov", "trak", "mdia", "mdhd"});
  EXPECT_EQ(Be32(mdhd.body + 12), 96000u);
}

std::string ItemText(const std::vector<uint8_t>& moov, const std::string& name) {
  const Box item = Find(moov, {"moov", "udta", "meta", "ilst", name, "data"});
  if (!item.found()) return "<none>";
  return std::string(reinterpret_cast<const char*>(item.body + 8), item.size - 8);
}

TEST(Mp4Writer, TagsAppearOnlyWhenGiven) {
  Mp4Tags tags;
  tags.title = "Desert Night";
  tags.comment = "take 2";
  tags.tool = "aacstream 9.9";
  const std::vector<uint8_t> moov = BuildMoov(Track(9 * 1024), tags, Table(10, 43));
  EXPECT_EQ(ItemText(moov, "\xA9nam"), "Desert Night");
  EXPECT_EQ(ItemText(moov, "\xA9" "cmt"), "take 2");
  EXPECT_EQ(ItemText(moov, "\xA9too"), "aacstream 9.9");
  EXPECT_EQ(ItemText(moov, "\xA9" "ART"), "<none>");
  EXPECT_EQ(ItemText(moov, "\xA9" "alb"), "<none>");
  const Box hdlr = Find(moov, {"moov", "udta", "meta", "hdlr"});
  ASSERT_TRUE(hdlr.found());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(hdlr.body + 8), 4), "mdir");
}

TEST(Mp4Writer, ITunSmpbStatesDelayPaddingAndLength) {
  EXPECT_EQ(ITunSmpbText(1024, 820, 132300),
            " 00000000 00000400 00000334 00000000000204CC 00000000 00000000 00000000 00000000 00000000 "
            "00000000 00000000 00000000");
  const std::vector<uint8_t> moov = BuildMoov(Track(9 * 1024 - 100), Mp4Tags{}, Table(10, 43));
  const Box item = Find(moov, {"moov", "udta", "meta", "ilst", "----"});
  ASSERT_TRUE(item.found());
  const std::string all(reinterpret_cast<const char*>(item.body), item.size);
  EXPECT_NE(all.find("com.apple.iTunes"), std::string::npos);
  EXPECT_NE(all.find("iTunSMPB"), std::string::npos);
  EXPECT_NE(all.find(" 00000000 00000400 00000064 000000000000239C "), std::string::npos);  // padding 100
}

TEST(Mp4Writer, FileHoldsFtypMdatMoovWithBlocksAtTheirChunkOffsets) {
  FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  Mp4Writer w;
  ASSERT_EQ(Mp4Begin(w, f, 8000), 0);  // 8 blocks per chunk at 8 kHz
  std::vector<std::vector<uint8_t>> blocks;
  for (int i = 0; i < 20; ++i) {
    blocks.push_back(std::vector<uint8_t>(size_t(30 + i), uint8_t(i + 1)));
    ASSERT_EQ(Mp4AddSample(w, blocks.back().data(), blocks.back().size()), 0);
  }
  Mp4TrackInfo track = Track(19 * 1024 - 10);
  track.sampleRate = 8000;
  ASSERT_EQ(Mp4Finish(w, track, Mp4Tags{}), 0);
  std::vector<uint8_t> file(size_t(w.position));
  std::rewind(f);
  ASSERT_EQ(std::fread(file.data(), 1, file.size(), f), file.size());
  std::fclose(f);

  ASSERT_EQ(std::string(reinterpret_cast<const char*>(file.data() + 4), 4), "ftyp");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.data() + 8), 4), "M4A ");
  const Box mdat = Find(file, {"mdat"});
  ASSERT_TRUE(mdat.found());
  size_t payload = 0;
  for (const auto& b : blocks) payload += b.size();
  EXPECT_EQ(mdat.size, payload);
  ASSERT_TRUE(Find(file, {"moov"}).found());

  const Box stco = Find(file, StblPath("stco"));
  ASSERT_TRUE(stco.found());
  ASSERT_EQ(Be32(stco.body + 4), 3u);  // 8 + 8 + 4 blocks
  for (int c = 0; c < 3; ++c) {
    const uint32_t offset = Be32(stco.body + 8 + 4 * c);
    EXPECT_EQ(file[offset], uint8_t(8 * c + 1)) << "chunk " << c << " does not start with its first block";
  }
}

}  // namespace
}  // namespace aacs::tools
