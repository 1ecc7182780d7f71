// enc/huffman_internal.h — pieces shared by the Huffman coding files: the length-only tables
// the counters read, the cost of one band in one codebook, and the codebook value ranges.
#pragma once
#include <bit>
#include <cstdint>

#include "enc/huffman.h"

namespace aacs::enc::detail {

constexpr int kMaxBookEntries = 289;
constexpr int kMaxEscapedMagnitude = 8191;  // 13-bit escape word: 2^12 + 4095
constexpr int kNumPackedGroups = 5;
constexpr int kPackedGroupEntries = 625;

struct LengthTables {
  int32_t length[12][kMaxBookEntries];  // length-only copy of every spectral book
  // Length plus one sign bit per non-zero value for the unsigned books (3, 4, 7-11), so a
  // tuple's whole cost is one lookup; equal to length for the signed books 1, 2, 5, 6.
  int32_t cost[12][kMaxBookEntries];
  int32_t scalefactor[121];
  // The candidate books of one band maximum priced by one lookup per tuple: entry i of group g
  // packs the costs of the group's books (in candidate order) into 16-bit fields.  Quads of
  // values -1..1 (books 1, 2, 3) and -2..2 (books 3, 4 and 5 as two pairs); pairs of -4..4
  // (5, 6, 7), -7..7 (7, 8, 9) and -12..12 (9, 10).  A band of at most 1024 lines costs well
  // below 2^16 bits in any book, so the fields never carry into each other.
  uint64_t packed[kNumPackedGroups][kPackedGroupEntries];
};

// Built on first use (thread-safe); InitHuffmanTables forces it at stream open.
const LengthTables& Lengths();

// Largest magnitude a spectral book can code directly (11: through escapes).
constexpr int kLargestValue[12] = {0, 1, 1, 2, 2, 4, 4, 7, 7, 12, 12, kMaxEscapedMagnitude};

// Escape sequence length for magnitude v >= 16: N - 4 prefix ones, a zero, N bits (N = log2 v).
inline int EscapeLength(int v) { return 2 * (std::bit_width(static_cast<unsigned>(v)) - 1) - 3; }

// Bands holding noise substitution or intensity keep their codebook and carry no spectral data.
inline bool IsKeptBook(int book) { return book >= kNoiseCodebook; }

// Bits of lines q[0..n) (n a multiple of 4) in spectral book 1..11, including sign bits and
// escapes.  Signed books index with the values as given: magnitudes are priced as positive.
int BandCost(const LengthTables& t, const int32_t* q, int n, int book);

// Candidate codebooks for a band maximum, in order of preference on equal cost.
int CandidateBooks(int maxValue, int* books);

// Costs of lines q[0..n) (n a multiple of 4, every |q| <= the group's largest value) in the
// candidate books of packed group 0..4, one 16-bit field per book in candidate order.
uint64_t PackedBandCosts(const LengthTables& t, const int32_t* q, int n, int group);
// The packed group of a band maximum 1..12 (-1 for 0 and for the escape book).
inline int PackedGroup(int maxValue) {
  constexpr int8_t kGroup[13] = {-1, 0, 1, 2, 2, 3, 3, 3, 4, 4, 4, 4, 4};
  return maxValue >= 0 && maxValue <= 12 ? kGroup[maxValue] : -1;
}
inline int PackedField(uint64_t packed, int k) { return static_cast<int>((packed >> (16 * k)) & 0xFFFF); }

// Cheapest book for lines q[0..n) with maximum maxValue: ties go to the earlier candidate.
struct BookChoice {
  int bits;
  int book;
};
BookChoice BestBook(const LengthTables& t, const int32_t* q, int n, int maxValue);

// Books 1..11: bands that carry spectral values and a scalefactor.
inline bool IsSpectralBook(int book) { return static_cast<unsigned>(book - 1) < static_cast<unsigned>(kEscCodebook); }

}  // namespace aacs::enc::detail
