// enc/huffman_internal.h — pieces shared by the Huffman coding files: the length-only tables
// the counters read, the cost of one band in one codebook, and the codebook value ranges.
#pragma once
#include <bit>
#include <cstdint>

#include "enc/huffman.h"

namespace aacs::enc::detail {

constexpr int kMaxBookEntries = 289;
constexpr int kMaxEscapedMagnitude = 8191;  // 13-bit escape word: 2^12 + 4095

struct LengthTables {
  int32_t length[12][kMaxBookEntries];  // length-only copy of every spectral book
  // Length plus one sign bit per non-zero value for the unsigned books (3, 4, 7-11), so a
  // tuple's whole cost is one lookup; equal to length for the signed books 1, 2, 5, 6.
  int32_t cost[12][kMaxBookEntries];
  int32_t scalefactor[121];
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

// Cheapest book for lines q[0..n) with maximum maxValue: ties go to the earlier candidate.
struct BookChoice {
  int bits;
  int book;
};
BookChoice BestBook(const LengthTables& t, const int32_t* q, int n, int maxValue);

}  // namespace aacs::enc::detail
