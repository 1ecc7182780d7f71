// enc/huffman.cpp — spectral codebook choice per band, its band cache, and section merging.
//
// The counters read only the length-only tables; a band's (bits, codebook) choice is cached in
// the channel record and reused while its values, the global gain and the chooser variant are
// unchanged, which is what makes the rate loops' many recounts cheap.  The final sectioning is a
// trellis: per band and codebook the cheapest way to get there, a new section costing its book
// and length fields.
#include <algorithm>
#include <cassert>
#include <cstdlib>
#include <iterator>

#include "enc/huffman.h"
#include "enc/huffman_internal.h"
#include "enc/huffman_tables.h"

namespace aacs::enc {
namespace detail {
namespace {

// Number of values per codeword: quadruples for books 1-4, pairs for 5-11.
int TupleSize(int book) { return book <= 4 ? 4 : 2; }
bool IsUnsignedBook(int book) { return book == 3 || book == 4 || book >= 7; }

uint64_t Pack(int a, int b, int c) {
  return static_cast<uint64_t>(a) | static_cast<uint64_t>(b) << 16 | static_cast<uint64_t>(c) << 32;
}

// Unsigned index of a tuple in a book of the given base (sign bits are in the cost table).
int Unsigned(int base, int a, int b) { return base * std::abs(a) + std::abs(b); }
int Unsigned4(int a, int b, int c, int d) { return 27 * std::abs(a) + 9 * std::abs(b) + 3 * std::abs(c) + std::abs(d); }

void BuildPackedTables(LengthTables& t) {
  const auto& c = t.cost;
  for (int i = 0; i < 81; ++i) {  // quads of -1..1
    const int a = i / 27 - 1, b = i / 9 % 3 - 1, e = i / 3 % 3 - 1, d = i % 3 - 1;
    t.packed[0][i] = Pack(c[1][i], c[2][i], c[3][Unsigned4(a, b, e, d)]);
  }
  for (int i = 0; i < 625; ++i) {  // quads of -2..2
    const int a = i / 125 - 2, b = i / 25 % 5 - 2, e = i / 5 % 5 - 2, d = i % 5 - 2;
    const int u = Unsigned4(a, b, e, d);
    t.packed[1][i] = Pack(c[3][u], c[4][u], c[5][9 * a + b + 40] + c[5][9 * e + d + 40]);
  }
  for (int i = 0; i < 81; ++i) {  // pairs of -4..4
    const int a = i / 9 - 4, b = i % 9 - 4;
    t.packed[2][i] = Pack(c[5][i], c[6][i], c[7][Unsigned(8, a, b)]);
  }
  for (int i = 0; i < 225; ++i) {  // pairs of -7..7
    const int a = i / 15 - 7, b = i % 15 - 7;
    t.packed[3][i] = Pack(c[7][Unsigned(8, a, b)], c[8][Unsigned(8, a, b)], c[9][Unsigned(13, a, b)]);
  }
  for (int i = 0; i < 625; ++i) {  // pairs of -12..12
    const int a = i / 25 - 12, b = i % 25 - 12;
    t.packed[4][i] = Pack(c[9][Unsigned(13, a, b)], c[10][Unsigned(13, a, b)], 0);
  }
}

LengthTables BuildLengthTables() {
  LengthTables t{};
  for (int book = 1; book <= 11; ++book) {
    const HuffmanEntry* e = kSpectralBooks[book];
    const int size = kSpectralBookSizes[book];
    const int tuple = TupleSize(book);
    const int base = book == 9 || book == 10 ? 13 : book == 11 ? 17 : book >= 7 ? 8 : 3;
    for (int i = 0; i < size; ++i) {
      t.length[book][i] = static_cast<int32_t>(e[i].length);
      int signs = 0;
      if (IsUnsignedBook(book)) {
        for (int k = 0, rest = i; k < tuple; ++k, rest /= base) signs += rest % base != 0;
      }
      t.cost[book][i] = t.length[book][i] + signs;
    }
  }
  for (int i = 0; i < 121; ++i) t.scalefactor[i] = static_cast<int32_t>(kScalefactorBook[i].length);
  BuildPackedTables(t);
  return t;
}

}  // namespace

const LengthTables& Lengths() {
  static const LengthTables tables = BuildLengthTables();
  return tables;
}

int BandCost(const LengthTables& t, const int32_t* q, int n, int book) {
  assert(n % 4 == 0);
  const int32_t* c = t.cost[book];
  int bits = 0;
  switch (book) {
    case 1:
    case 2:
      for (int i = 0; i < n; i += 4) bits += c[27 * q[i] + 9 * q[i + 1] + 3 * q[i + 2] + q[i + 3] + 40];
      break;
    case 3:
    case 4:
      for (int i = 0; i < n; i += 4)
        bits += c[27 * std::abs(q[i]) + 9 * std::abs(q[i + 1]) + 3 * std::abs(q[i + 2]) + std::abs(q[i + 3])];
      break;
    case 5:
    case 6:
      for (int i = 0; i < n; i += 2) bits += c[9 * q[i] + q[i + 1] + 40];
      break;
    case 7:
    case 8:
      for (int i = 0; i < n; i += 2) bits += c[8 * std::abs(q[i]) + std::abs(q[i + 1])];
      break;
    case 9:
    case 10:
      for (int i = 0; i < n; i += 2) bits += c[13 * std::abs(q[i]) + std::abs(q[i + 1])];
      break;
    case 11:
      for (int i = 0; i < n; i += 2) {
        const int a = std::abs(q[i]), b = std::abs(q[i + 1]);
        bits += c[17 * std::min(a, 16) + std::min(b, 16)];
        if (a >= 16) bits += EscapeLength(a);
        if (b >= 16) bits += EscapeLength(b);
      }
      break;
    default:
      break;
  }
  return bits;
}

int CandidateBooks(int maxValue, int* books) {
  if (maxValue <= 0) return books[0] = 0, 1;
  if (maxValue >= 13) return books[0] = 11, 1;
  if (maxValue >= 8) return books[0] = 9, books[1] = 10, 2;
  const int first = maxValue == 1 ? 1 : maxValue == 2 ? 3 : maxValue <= 4 ? 5 : 7;
  for (int k = 0; k < 3; ++k) books[k] = first + k;
  return 3;
}

uint64_t PackedBandCosts(const LengthTables& t, const int32_t* q, int n, int group) {
  assert(n % 4 == 0 && group >= 0 && group < kNumPackedGroups);
  const uint64_t* p = t.packed[group];
  uint64_t sum0 = 0, sum1 = 0;
  switch (group) {
    case 0:
      for (int i = 0; i < n; i += 4) sum0 += p[27 * q[i] + 9 * q[i + 1] + 3 * q[i + 2] + q[i + 3] + 40];
      break;
    case 1:
      for (int i = 0; i < n; i += 4) sum0 += p[125 * q[i] + 25 * q[i + 1] + 5 * q[i + 2] + q[i + 3] + 312];
      break;
    case 2:
      for (int i = 0; i < n; i += 4) {
        sum0 += p[9 * q[i] + q[i + 1] + 40];
        sum1 += p[9 * q[i + 2] + q[i + 3] + 40];
      }
      break;
    case 3:
      for (int i = 0; i < n; i += 4) {
        sum0 += p[15 * q[i] + q[i + 1] + 112];
        sum1 += p[15 * q[i + 2] + q[i + 3] + 112];
      }
      break;
    default:
      for (int i = 0; i < n; i += 4) {
        sum0 += p[25 * q[i] + q[i + 1] + 312];
        sum1 += p[25 * q[i + 2] + q[i + 3] + 312];
      }
      break;
  }
  return sum0 + sum1;
}

BookChoice BestBook(const LengthTables& t, const int32_t* q, int n, int maxValue) {
  if (maxValue <= 0) return {0, 0};
  const int group = PackedGroup(maxValue);
  if (group < 0) return {BandCost(t, q, n, kEscCodebook), kEscCodebook};
  // The candidates of each group (the first book of group g is 2g + 1, as CandidateBooks lists
  // them); the two-book group has no third.
  const int first = 2 * group + 1;
  const uint64_t costs = PackedBandCosts(t, q, n, group);
  const int c0 = PackedField(costs, 0), c1 = PackedField(costs, 1);
  const int c2 = group == 4 ? 1 << 30 : PackedField(costs, 2);
  BookChoice best{c0, first};
  if (c1 < best.bits) best = {c1, first + 1};
  if (c2 < best.bits) best = {c2, first + 2};
  return best;
}

}  // namespace detail

using detail::BandCost;
using detail::IsKeptBook;
using detail::Lengths;

void InitHuffmanTables() { (void)Lengths(); }

const HuffmanEntry* SpectralCodebook(int book) {
  return book >= 1 && book <= 11 ? kSpectralBooks[book] : nullptr;
}
int SpectralCodebookSize(int book) { return book >= 1 && book <= 11 ? kSpectralBookSizes[book] : 0; }
const HuffmanEntry* ScalefactorCodebook() { return kScalefactorBook; }

namespace {

int BandMaxSigned(const int32_t* q, int n) {
  int m = 0;
  for (int i = 0; i < n; ++i) m = std::max(m, std::abs(q[i]));
  return m;
}

// Inside the loops q holds magnitudes: four running maxima, unrolled.  The absolute value costs
// nothing here and keeps a stray signed value from picking a book too small for it.
int BandMaxMagnitudes(const int32_t* q, int n) {
  int m0 = 0, m1 = 0, m2 = 0, m3 = 0;
  for (int i = 0; i < n; i += 4) {
    m0 = std::max(m0, std::abs(q[i]));
    m1 = std::max(m1, std::abs(q[i + 1]));
    m2 = std::max(m2, std::abs(q[i + 2]));
    m3 = std::max(m3, std::abs(q[i + 3]));
  }
  return std::max(std::max(m0, m1), std::max(m2, m3));
}

// A band's cached choice made afresh for its current values.
void RecountBand(quant::ChannelCodingRecord& rec, int b, bool knownMax, int loopVariant) {
  rec.recompute[b] = 0;
  const int start = rec.bandOffset[b];
  const int n = rec.bandOffset[b + 1] - start;
  if (loopVariant && !rec.bandNonzero[b]) {
    rec.bandMax[b] = 0;
    rec.cache[b] = {0, 0};
    return;
  }
  const int m = knownMax      ? rec.bandMax[b]
                : loopVariant ? BandMaxMagnitudes(rec.q + start, n)
                              : BandMaxSigned(rec.q + start, n);
  rec.bandMax[b] = m;
  const detail::BookChoice c = detail::BestBook(Lengths(), rec.q + start, n, m);
  rec.cache[b] = {c.bits, c.book};
}

bool CacheValid(const quant::ChannelCodingRecord& rec, int loopVariant) {
  return rec.cacheGain == rec.globalGain && rec.cacheVariant == loopVariant;
}

void KeepCacheKey(quant::ChannelCodingRecord& rec, int loopVariant) {
  rec.cacheGain = rec.globalGain;
  rec.cacheVariant = loopVariant;
}

}  // namespace

namespace {

// One walk over the bands: recount what the cache does not hold and sum the bits; with
// kUpdateBooks the chosen books also replace the channel's codebooks, except kept ones (noise,
// intensity), which cost no spectral bits.
template <bool kUpdateBooks>
int WalkBandCodebooks(quant::ChannelCodingRecord& rec, int variant) {
  const bool knownMax = variant == kLoopVariantKnownMax;
  const int loopVariant = variant != 0 ? 1 : 0;
  const bool cacheValid = CacheValid(rec, loopVariant);
  int sum = 0;
  for (int b = 0; b < rec.totalBands; ++b) {
    if (!cacheValid || rec.recompute[b]) RecountBand(rec, b, knownMax, loopVariant);
    if constexpr (kUpdateBooks) {
      const bool kept = IsKeptBook(rec.codebook[b]);
      rec.codebook[b] = kept ? rec.codebook[b] : rec.cache[b].codebook;
      sum += kept ? 0 : rec.cache[b].bits;
    } else {
      sum += rec.cache[b].bits;
    }
  }
  KeepCacheKey(rec, loopVariant);
  return sum;
}

}  // namespace

int ChooseBandCodebooks(quant::ChannelCodingRecord& rec, int variant) {
  return WalkBandCodebooks<false>(rec, variant);
}

// ChooseBandCodebooks and the codebook update in one walk over the bands.
int CountChannelSpectralBits(quant::ChannelCodingRecord& rec, int variant) {
  return WalkBandCodebooks<true>(rec, variant);
}

namespace {

// The trellis runs over the books 0..15 as states; kept books (noise, intensity) are states of
// their own, so that runs of them share a section too.
constexpr int kTrellisStates = 16;
constexpr int kUnreachable = 1 << 28;

// Bits of band b in book `book`, or kUnreachable when the book cannot hold it.  A band of zeros
// in a spectral book also carries a scalefactor, which then repeats its neighbour's (1 bit).
int TrellisBandCost(const quant::ChannelCodingRecord& rec, int b, int book) {
  const int current = rec.codebook[b];
  if (IsKeptBook(current)) return book == current ? 0 : kUnreachable;
  if (book > kEscCodebook) return kUnreachable;  // 12 is reserved, 13-15 are kept books
  const int maxValue = rec.bandMax[b];
  if (book == 0) return maxValue == 0 ? 0 : kUnreachable;
  if (maxValue > detail::kLargestValue[book]) return kUnreachable;
  const int start = rec.bandOffset[b];
  return BandCost(Lengths(), rec.q + start, rec.bandOffset[b + 1] - start, book) + (maxValue == 0 ? 1 : 0);
}

// Cheapest books for bands [first, first + count): band bits plus 4 + lenBits per section
// (the rare length escapes of very long sections are left out of the search).
void TrellisGroup(const quant::ChannelCodingRecord& rec, int first, int count, int sectionBits, int* books) {
  int cost[kTrellisStates], next[kTrellisStates];
  uint8_t from[kMaxCodedBands][kTrellisStates];
  for (int k = 0; k < kTrellisStates; ++k) {
    const int c = TrellisBandCost(rec, first, k);
    cost[k] = c >= kUnreachable ? kUnreachable : c + sectionBits;
    from[0][k] = static_cast<uint8_t>(k);
  }
  for (int i = 1; i < count; ++i) {
    int bestPrev = 0;
    for (int k = 1; k < kTrellisStates; ++k)
      if (cost[k] < cost[bestPrev]) bestPrev = k;
    for (int k = 0; k < kTrellisStates; ++k) {
      const int c = TrellisBandCost(rec, first + i, k);
      if (c >= kUnreachable) {
        next[k] = kUnreachable;
        from[i][k] = static_cast<uint8_t>(k);
        continue;
      }
      const bool stay = cost[k] <= cost[bestPrev] + sectionBits;
      next[k] = c + (stay ? cost[k] : cost[bestPrev] + sectionBits);
      from[i][k] = static_cast<uint8_t>(stay ? k : bestPrev);
    }
    std::copy(next, next + kTrellisStates, cost);
  }
  int state = 0;
  for (int k = 1; k < kTrellisStates; ++k)
    if (cost[k] < cost[state]) state = k;
  for (int i = count - 1; i >= 0; --i) {
    books[first + i] = state;
    state = from[i][state];
  }
}

// A band of zeros coded in a spectral book takes its neighbour's scalefactor, so that its
// difference costs one bit and the chain after it is unchanged.
void RepeatNeighbourScalefactors(quant::ChannelCodingRecord& rec, const int* books) {
  int previous = -1;
  for (int b = 0; b < rec.totalBands; ++b) {
    if (!detail::IsSpectralBook(books[b])) continue;
    if (rec.bandMax[b] != 0) {
      previous = b;
      continue;
    }
    int source = previous;
    for (int n = b + 1; source < 0 && n < rec.totalBands; ++n)
      if (detail::IsSpectralBook(books[n]) && rec.bandMax[n] != 0) source = n;
    if (source >= 0) rec.scalefactor[b] = rec.scalefactor[source];
    previous = source >= 0 ? source : previous;
  }
}

}  // namespace

void MergeSections(quant::ChannelCodingRecord& rec, int internal) {
  const int n = rec.totalBands;
  if (n <= 0) return;
  ChooseBandCodebooks(rec, 0);  // the band maxima
  const bool shortFrame = rec.windowSequence == kEightShort;
  const int sectionBits = 4 + (shortFrame ? 3 : 5);
  const int groups = shortFrame ? rec.numWindowGroups : 1;
  for (int g = 0; g < groups; ++g) TrellisGroup(rec, g * rec.maxSfb, rec.maxSfb, sectionBits, rec.trialCodebook);
  if (internal) RepeatNeighbourScalefactors(rec, rec.trialCodebook);
}

}  // namespace aacs::enc
