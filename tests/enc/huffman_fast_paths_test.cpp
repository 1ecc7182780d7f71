// The shortcuts the counters take must give the bits of the plain walks: packed candidate
// costs against one book at a time, the counting twins against the writers, the local side-bit
// changes of section merging against whole-channel recounts, and the band cache carried across
// gain steps against a fresh count.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "enc/huffman.h"
#include "enc/huffman_internal.h"
#include "dsp/cpu_detect.h"
#include "dsp/primitives.h"
#include "quant/quantiser.h"
#include "support/coding_records.h"

namespace aacs::enc {
namespace {

using test::MakeLongRecord;
using test::MakeShortRecord;

constexpr int k44100 = 4;

test::RecordPtr RandomLayout(std::mt19937& rng, int trial) {
  if (trial % 3 != 0) return MakeLongRecord(trial % 2 ? k44100 : 11, 10 + static_cast<int>(rng() % 30));
  const int groups[4] = {1, 3, 2, 2};
  return MakeShortRecord(k44100, 2 + static_cast<int>(rng() % 13), groups, 4);
}

TEST(HuffmanPacked, CandidateCostsEqualEachBookPricedAlone) {
  const auto& t = detail::Lengths();
  std::mt19937 rng(11);
  const int largest[5] = {1, 2, 4, 7, 12};
  for (int group = 0; group < 5; ++group) {
    int books[3];
    const int count = detail::CandidateBooks(largest[group], books);
    for (int trial = 0; trial < 200; ++trial) {
      const int n = 4 * (1 + static_cast<int>(rng() % 16));
      std::uniform_int_distribution<int> value(-largest[group], largest[group]);
      std::vector<int32_t> q(n);
      for (int32_t& v : q) v = value(rng);
      const uint64_t packed = detail::PackedBandCosts(t, q.data(), n, group);
      for (int k = 0; k < count; ++k)
        ASSERT_EQ(detail::PackedField(packed, k), detail::BandCost(t, q.data(), n, books[k])) << group << " " << k;
      int m = 0;
      for (int32_t v : q) m = std::max(m, std::abs(v));
      if (m == 0) continue;
      detail::BookChoice best{1 << 30, 0};
      int mb[3];
      for (int k = 0, c = detail::CandidateBooks(m, mb); k < c; ++k) {
        const int bits = detail::BandCost(t, q.data(), n, mb[k]);
        if (bits < best.bits) best = {bits, mb[k]};
      }
      const detail::BookChoice got = detail::BestBook(t, q.data(), n, m);
      EXPECT_EQ(got.bits, best.bits);
      EXPECT_EQ(got.book, best.book);
    }
  }
}

// Books and scalefactors of every kind: spectral, zero, noise and intensity bands, and values
// that sometimes span more than the 120 scalefactor codes (so the clamps matter).
void RandomSideInfo(quant::ChannelCodingRecord& rec, std::mt19937& rng, bool wideSpan) {
  rec.globalGain = 80 + static_cast<int>(rng() % 80);
  for (int b = 0; b < rec.totalBands; ++b) {
    const int r = static_cast<int>(rng() % 20);
    rec.codebook[b] = r < 2 ? kNoiseCodebook : r < 3 ? kIntensityInPhase + static_cast<int>(rng() % 2) - 1
                                             : r < 8 ? 0 : 1 + static_cast<int>(rng() % 11);
    rec.scalefactor[b] = static_cast<int>(rng() % (wideSpan ? 200 : 60));
    rec.noiseEnergy[b] = rec.globalGain + static_cast<int>(rng() % 300) - 150;
  }
}

TEST(HuffmanCounters, CountingTwinsGiveTheWritersBits) {
  std::mt19937 rng(12);
  for (int trial = 0; trial < 300; ++trial) {
    auto rec = RandomLayout(rng, trial);
    RandomSideInfo(*rec, rng, trial % 2 == 0);
    if (trial % 5 == 0)  // long runs of one book: escape lengths
      for (int b = 0; b < rec->totalBands; ++b) rec->codebook[b] = b < rec->totalBands - 2 ? 3 : 0;
    BitWriter* w = BitWriterCreate(1 << 16);
    const int sections = WriteSectionData(*rec, w, 1);
    EXPECT_EQ(CountSectionBits(*rec), sections) << trial;
    BitWriterReset(*w);
    const int scalefactors = WriteScaleFactorData(*rec, w, 1);
    EXPECT_EQ(CountScaleFactorBits(*rec, 0), scalefactors) << trial;
    EXPECT_EQ(CountSideBitsFor(*rec, rec->codebook, 0), sections + scalefactors) << trial;
    BitWriterFree(w);
  }
}

TEST(HuffmanCounters, LocalSideBitChangesEqualWholeChannelRecounts) {
  std::mt19937 rng(13);
  int localChecked = 0;
  for (int trial = 0; trial < 400; ++trial) {
    auto rec = RandomLayout(rng, trial);
    RandomSideInfo(*rec, rng, trial % 4 == 0);
    const int internal = static_cast<int>(trial % 2);
    const int n = rec->totalBands;
    std::vector<int> books(rec->codebook, rec->codebook + n);
    const int level = 1 + static_cast<int>(rng() % 3);
    const int first = static_cast<int>(rng() % std::max(1, n - (1 << level))) & ~((1 << level) - 1);
    const int last = std::min(n, first + (1 << level));
    std::vector<int> old(books.begin() + first, books.begin() + last);
    const int book = 1 + static_cast<int>(rng() % 11);
    for (int b = first; b < last; ++b)
      if (!detail::IsKeptBook(books[b])) books[b] = book;
    const int sectionBefore = CountSectionBitsFor(*rec, rec->codebook);
    EXPECT_EQ(detail::SectionBitsDelta(*rec, books.data(), old.data(), first, last),
              CountSectionBitsFor(*rec, books.data()) - sectionBefore)
        << trial;
    if (!detail::ScalefactorChainIsLocal(*rec, rec->codebook, internal)) continue;
    int previous = detail::ScalefactorChainStart(*rec, internal);
    for (int b = 0; b < first; ++b)
      if (detail::IsSpectralBook(books[b])) previous = detail::ScalefactorValue(*rec, b, internal);
    EXPECT_EQ(detail::ScalefactorBitsDelta(*rec, books.data(), old.data(), first, last, internal, previous),
              CountScaleFactorBitsFor(*rec, books.data(), internal) - CountScaleFactorBitsFor(*rec, rec->codebook, internal))
        << trial;
    ++localChecked;
  }
  EXPECT_GT(localChecked, 100);
}

// The rate loops' cache: after any sequence of gain steps and band amplifications, the choice
// carried over from earlier counts equals a count from scratch, with every primitive column.
class HuffmanCache : public ::testing::Test {
 protected:
  void SetUp() override { dsp::BindPrimitivesOnce(); }
  void TearDown() override { dsp::BindPrimitives(dsp::DetectCpuClass()); }
};

TEST_F(HuffmanCache, CarriedBandChoicesEqualAFreshCountAfterGainSteps) {
  std::mt19937 rng(14);
  std::uniform_real_distribution<float> level(0.0f, 1.0f);
  for (int trial = 0; trial < 40; ++trial) {
    ASSERT_EQ(dsp::BindPrimitives(trial % 4), 1);
    auto rec = RandomLayout(rng, trial);
    rec->blocks32 = (rec->bandOffset[rec->totalBands] + 31) / 32;
    for (int i = 0; i < rec->bandOffset[rec->totalBands]; ++i) {
      const float u = level(rng);
      rec->y[i] = u < 0.4f ? 0.0f : 3000.0f * u * u * u * u;
    }
    for (int b = 0; b < rec->totalBands; ++b) {
      rec->bandNonzero[b] = 1;
      rec->recompute[b] = 1;
    }
    rec->globalGain = 20;
    for (int step = 0; step < 40; ++step) {
      if (rng() % 4 == 0) {
        const int b = static_cast<int>(rng() % rec->totalBands);
        for (int i = rec->bandOffset[b]; i < rec->bandOffset[b + 1]; ++i) rec->y[i] *= quant::kAmplifyStep;
      }
      rec->globalGain += static_cast<int>(rng() % 3);
      if (quant::QuantiseAndMark(*rec) != 0) continue;
      const int carried = ChooseBandCodebooks(*rec, kLoopVariantKnownMax);
      std::vector<quant::BandCodebookCache> cache(rec->cache, rec->cache + rec->totalBands);
      for (int b = 0; b < rec->totalBands; ++b) rec->recompute[b] = 1;
      ASSERT_EQ(ChooseBandCodebooks(*rec, 1), carried) << trial << " " << step;
      for (int b = 0; b < rec->totalBands; ++b) {
        ASSERT_EQ(rec->cache[b].bits, cache[b].bits) << b;
        ASSERT_EQ(rec->cache[b].codebook, cache[b].codebook) << b;
      }
    }
  }
}

}  // namespace
}  // namespace aacs::enc
