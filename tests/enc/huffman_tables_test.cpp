// The compiled Huffman codebooks against the validated table files, entry by entry.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

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
    if (header) {
      header = false;
      continue;
    }
    std::vector<std::string> cols;
    std::stringstream ss(line);
    std::string col;
    while (std::getline(ss, col, '\t')) cols.push_back(col);
    rows.push_back(cols);
  }
  return rows;
}

TEST(HuffmanTables, SpectralBooksMatchTableFile) {
  const auto rows = ReadTsv("huffman_spectral.tsv");
  ASSERT_EQ(rows.size(), 1241u);
  int perBook[12] = {};
  for (const auto& r : rows) {
    const int book = std::stoi(r[0]), index = std::stoi(r[1]);
    ASSERT_GE(book, 1);
    ASSERT_LE(book, 11);
    ASSERT_LT(index, SpectralCodebookSize(book));
    const HuffmanEntry& e = SpectralCodebook(book)[index];
    EXPECT_EQ(e.length, std::stoul(r[2])) << "book " << book << " index " << index;
    EXPECT_EQ(e.codeword, std::stoul(r[3], nullptr, 16)) << "book " << book << " index " << index;
    ++perBook[book];
  }
  for (int book = 1; book <= 11; ++book) EXPECT_EQ(perBook[book], SpectralCodebookSize(book)) << book;
}

TEST(HuffmanTables, ScalefactorBookMatchesTableFile) {
  const auto rows = ReadTsv("huffman_scalefactor.tsv");
  ASSERT_EQ(rows.size(), 121u);
  for (const auto& r : rows) {
    const int index = std::stoi(r[0]);
    ASSERT_LT(index, 121);
    EXPECT_EQ(ScalefactorCodebook()[index].length, std::stoul(r[1])) << index;
    EXPECT_EQ(ScalefactorCodebook()[index].codeword, std::stoul(r[2], nullptr, 16)) << index;
  }
}

}  // namespace
}  // namespace aacs::enc
