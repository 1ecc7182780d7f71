// The compiled band, tool-limit and Huffman tables against the validated table files.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "enc/band_tables.h"
#include "enc/huffman.h"

namespace aacs::enc {
namespace {

std::vector<std::vector<std::string>> ReadTsv(const std::string& name) {
  std::ifstream in(std::string(AACS_SOURCE_DIR) + "/data/" + name);
  EXPECT_TRUE(in.good()) << name;
  std::vector<std::vector<std::string>> rows;
  std::string line;
  bool header = true;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    if (std::exchange(header, false)) continue;
    std::vector<std::string> cols;
    std::stringstream ss(line);
    for (std::string col; std::getline(ss, col, '\t');) cols.push_back(col);
    rows.push_back(cols);
  }
  return rows;
}

TEST(BandTables, OffsetsAndToolLimitsMatchTheTableFiles) {
  const auto rows = ReadTsv("swb_offsets.tsv");
  ASSERT_EQ(rows.size(), 24u);
  for (const auto& r : rows) {
    const int sfi = SampleRateIndex(std::stoi(r[0]));
    ASSERT_GE(sfi, 0);
    const bool isLong = r[1] == "long";
    EXPECT_EQ(std::stoi(r[2]), isLong ? kNumSwbLong[sfi] : kNumSwbShort[sfi]) << r[0];
    std::stringstream ss(r[3]);
    std::string v;
    for (int i = 0; std::getline(ss, v, ','); ++i)
      EXPECT_EQ(std::stoi(v), isLong ? kSwbOffsetLong[sfi][i] : kSwbOffsetShort[sfi][i]) << r[0] << " " << i;
  }
  for (const auto& r : ReadTsv("pred_sfb_max.tsv")) EXPECT_EQ(std::stoi(r[2]), kPredSfbMax[std::stoi(r[1])]);
  for (const auto& r : ReadTsv("tns_max_bands.tsv")) {
    EXPECT_EQ(std::stoi(r[2]), kTnsMaxBandsLong[std::stoi(r[1])]);
    EXPECT_EQ(std::stoi(r[3]), kTnsMaxBandsShort[std::stoi(r[1])]);
  }
  // The model's band rows cover exactly one frame; unknown rates have no row.
  int count = 0;
  for (const CbAdaptRow* row = CbAdaptTable(); row->sampleRate != -1; ++row, ++count) {
    int sumLong = 0, sumShort = 0;
    for (int b = 0; b < row->numLong; ++b) sumLong += row->longWidth[b];
    for (int b = 0; b < row->numShort; ++b) sumShort += row->shortWidth[b];
    EXPECT_EQ(sumLong, 1024) << row->sampleRate;
    EXPECT_EQ(sumShort, 128) << row->sampleRate;
  }
  EXPECT_EQ(count, 12);
  EXPECT_EQ(FindCbAdaptRow(37800), nullptr);
}

TEST(HuffmanTables, SpectralAndScalefactorBooksMatchTheTableFiles) {
  const auto rows = ReadTsv("huffman_spectral.tsv");
  ASSERT_EQ(rows.size(), 1241u);
  int perBook[12] = {};
  for (const auto& r : rows) {
    const int book = std::stoi(r[0]), index = std::stoi(r[1]);
    ASSERT_TRUE(book >= 1 && book <= 11 && index < SpectralCodebookSize(book)) << book << " " << index;
    const HuffmanEntry& e = SpectralCodebook(book)[index];
    EXPECT_EQ(e.length, std::stoul(r[2])) << "book " << book << " index " << index;
    EXPECT_EQ(e.codeword, std::stoul(r[3], nullptr, 16)) << "book " << book << " index " << index;
    ++perBook[book];
  }
  for (int book = 1; book <= 11; ++book) EXPECT_EQ(perBook[book], SpectralCodebookSize(book)) << book;
  const auto sf = ReadTsv("huffman_scalefactor.tsv");
  ASSERT_EQ(sf.size(), 121u);
  for (const auto& r : sf) {
    const int index = std::stoi(r[0]);
    ASSERT_LT(index, 121);
    EXPECT_EQ(ScalefactorCodebook()[index].length, std::stoul(r[1])) << index;
    EXPECT_EQ(ScalefactorCodebook()[index].codeword, std::stoul(r[2], nullptr, 16)) << index;
  }
}

}  // namespace
}  // namespace aacs::enc
