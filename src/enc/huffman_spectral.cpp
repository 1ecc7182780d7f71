// enc/huffman_spectral.cpp — pulse selection, the final coding pass into the codeword list,
// and the pulse and spectral data writers.
//
// Pulse data lets up to four large lines be sent as +-1 plus an amplitude, which pays when the
// smaller values let a band drop to a cheaper codebook.
#include <algorithm>
#include <cassert>
#include <cstdlib>

#include "enc/huffman.h"
#include "enc/huffman_internal.h"

namespace aacs::enc {
namespace {

constexpr int kMaxPulses = 4;
constexpr int kMaxPulseOffset = 31;    // 5-bit pulse_offset
constexpr int kMaxPulseMagnitude = 16; // 4-bit pulse_amp = |value| - 1

int ChannelCost(quant::ChannelCodingRecord& rec, int internal) {
  return CountChannelSpectralBits(rec, 0) + CountSideBitsFor(rec, rec.codebook, internal);
}

int BandOfLine(const quant::ChannelCodingRecord& rec, int line) {
  int b = 0;
  while (b + 1 < rec.totalBands && rec.bandOffset[b + 1] <= line) ++b;
  return b;
}

// Offsets of pulses at lines pos[0] > pos[1] > ... > pos[k-1], counted upward from the start
// of the band holding the lowest; all must fit the 5-bit field.
bool PulseOffsetsFit(const quant::ChannelCodingRecord& rec, const int* pos, int k) {
  int previous = rec.bandOffset[BandOfLine(rec, pos[k - 1])];
  for (int i = k - 1; i >= 0; --i) {
    if (pos[i] - previous > kMaxPulseOffset) return false;
    previous = pos[i];
  }
  return true;
}

int Sign(int v) { return v > 0 ? 1 : -1; }

}  // namespace

void SelectPulses(quant::ChannelCodingRecord& rec, int internal) {
  rec.pulseDataPresent = 0;
  rec.numPulse = 0;
  if (rec.windowSequence == kEightShort || rec.totalBands <= 0) return;
  const int cost = ChannelCost(rec, internal);

  int pos[kMaxPulses], value[kMaxPulses], band[kMaxPulses];
  int saving[kMaxPulses + 1] = {-1, -1, -1, -1, -1};
  int found = 0;
  bool tooLarge = false;
  int b = rec.totalBands - 1;
  for (int line = rec.bandOffset[rec.totalBands] - 1; line >= 0 && found < kMaxPulses; --line) {
    while (rec.bandOffset[b] > line) --b;
    if (std::abs(rec.q[line]) <= 1 || detail::IsKeptBook(rec.codebook[b])) continue;
    pos[found] = line;
    value[found] = rec.q[line];
    band[found] = b;
    ++found;
    rec.q[line] = Sign(rec.q[line]);
    rec.recompute[b] = 1;
    tooLarge = tooLarge || std::abs(value[found - 1]) > kMaxPulseMagnitude;
    if (tooLarge) break;  // every larger set holds this line too
    if (!PulseOffsetsFit(rec, pos, found)) continue;
    saving[found] = cost - ChannelCost(rec, internal) - (8 + 9 * found);
  }
  for (int i = 0; i < found; ++i) {
    rec.q[pos[i]] = value[i];
    rec.recompute[band[i]] = 1;
  }

  int best = 0;
  for (int k = 1; k <= kMaxPulses; ++k)
    if (saving[k] > 0 && saving[k] > (best ? saving[best] : 0)) best = k;
  if (best > 0) {
    rec.pulseDataPresent = 1;
    rec.numPulse = best;
    rec.pulseStartSfb = band[best - 1];
    int previous = rec.bandOffset[rec.pulseStartSfb];
    for (int i = 0; i < best; ++i) {  // ascending line order
      const int src = best - 1 - i;
      rec.pulseOffset[i] = pos[src] - previous;
      rec.pulseAmp[i] = std::abs(value[src]) - 1;
      previous = pos[src];
      rec.q[pos[src]] = Sign(value[src]);
    }
  }
  // Leave codebooks and band cache matching the spectrum as it will be coded.
  CountChannelSpectralBits(rec, 0);
}

int WritePulseData(const quant::ChannelCodingRecord& rec, BitWriter* w, int write) {
  const int present = rec.pulseDataPresent && rec.windowSequence != kEightShort && rec.numPulse > 0;
  if (!present) {
    if (write) BitWriterPutBits(w, 0, 1);
    return 1;
  }
  const int k = std::min(rec.numPulse, kMaxPulses);
  if (write) {
    BitWriterPutBits(w, 1, 1);
    BitWriterPutBits(w, static_cast<uint32_t>(k - 1), 2);
    BitWriterPutBits(w, static_cast<uint32_t>(rec.pulseStartSfb), 6);
    for (int i = 0; i < k; ++i) {
      BitWriterPutBits(w, static_cast<uint32_t>(rec.pulseOffset[i]), 5);
      BitWriterPutBits(w, static_cast<uint32_t>(rec.pulseAmp[i]), 4);
    }
  }
  return 9 + 9 * k;
}

namespace {

struct ListBuilder {
  quant::CodewordList& list;
  int n;
  void Add(uint32_t value, int length) {
    assert(n < kMaxCodewords);
    list.value[n] = value;
    list.length[n] = length;
    ++n;
  }
  void Codeword(int book, int index) {
    const HuffmanEntry& e = SpectralCodebook(book)[index];
    Add(e.codeword, static_cast<int>(e.length));
  }
  // One bit per nonzero value.  Written without branches (signs of music are unpredictable):
  // every value's bit is stored, and the position only advances past the nonzero ones.
  void Signs(const int32_t* q, int count) {
    assert(n + count <= kMaxCodewords);
    for (int i = 0; i < count; ++i) {
      list.value[n] = q[i] < 0 ? 1u : 0u;
      list.length[n] = 1;
      n += q[i] != 0;
    }
  }
  // N - 4 ones, a zero, then v - 2^N in N bits, N = floor(log2 v).
  void Escape(int v) {
    v = std::min(v, detail::kMaxEscapedMagnitude);
    const int nBits = std::bit_width(static_cast<unsigned>(v)) - 1;
    const uint32_t prefix = ((1u << (nBits - 4)) - 1) << (nBits + 1);
    Add(prefix + static_cast<uint32_t>(v - (1 << nBits)), 2 * nBits - 3);
  }
};

// Every |q[i]| at most largest (a comparison per value, no branch).
bool FitsBook(const int32_t* q, int n, int largest) {
  uint32_t outside = 0;
  for (int i = 0; i < n; ++i)
    outside |= static_cast<uint32_t>(q[i]) + static_cast<uint32_t>(largest) > static_cast<uint32_t>(2 * largest);
  return outside == 0;
}

void CodeBand(ListBuilder& out, const int32_t* q, int n, int book) {
  switch (book) {
    case 1:
    case 2:
      for (int i = 0; i < n; i += 4) out.Codeword(book, 27 * q[i] + 9 * q[i + 1] + 3 * q[i + 2] + q[i + 3] + 40);
      break;
    case 3:
    case 4:
      for (int i = 0; i < n; i += 4) {
        out.Codeword(book, 27 * std::abs(q[i]) + 9 * std::abs(q[i + 1]) + 3 * std::abs(q[i + 2]) + std::abs(q[i + 3]));
        out.Signs(q + i, 4);
      }
      break;
    case 5:
    case 6:
      for (int i = 0; i < n; i += 2) out.Codeword(book, 9 * q[i] + q[i + 1] + 40);
      break;
    default: {  // 7-11: unsigned pairs
      const int base = book <= 8 ? 8 : book <= 10 ? 13 : 17;
      for (int i = 0; i < n; i += 2) {
        const int a = std::abs(q[i]), b = std::abs(q[i + 1]);
        out.Codeword(book, base * std::min(a, 16) + std::min(b, 16));
        out.Signs(q + i, 2);
        if (book == kEscCodebook) {
          if (a >= 16) out.Escape(a);
          if (b >= 16) out.Escape(b);
        }
      }
      break;
    }
  }
}

}  // namespace

void BuildCodewordList(quant::ChannelCodingRecord& rec) {
  ListBuilder out{rec.codewords, 0};
  for (int b = 0; b < rec.totalBands; ++b) {
    int book = rec.codebook[b];
    if (book == kNoiseCodebook) continue;
    const int start = rec.bandOffset[b];
    const int n = rec.bandOffset[b + 1] - start;
    if (book != kIntensityOutOfPhase && book != kIntensityInPhase) {
      // A book that cannot hold the band's values would desynchronise the decoder; such a band
      // (never produced by the loops) is recoded with the cheapest book that can.
      const bool known = book >= 0 && book <= kEscCodebook;
      const int32_t* q = rec.q + start;
      if (!known || !FitsBook(q, n, detail::kLargestValue[book])) {
        int m = 0;
        for (int i = 0; i < n; ++i) m = std::max(m, std::abs(q[i]));
        rec.codebook[b] = book = detail::BestBook(detail::Lengths(), q, n, m).book;
      }
    }
    if (book == 0 || book == kIntensityOutOfPhase || book == kIntensityInPhase) {
      out.Add(0, 0);
      continue;
    }
    CodeBand(out, rec.q + start, n, book);
  }
  rec.numCodewords = out.n;
}

int WriteSpectralData(const quant::ChannelCodingRecord& rec, BitWriter* w, int write) {
  if (write) return BitWriterPutFields(w, rec.codewords.value, rec.codewords.length, rec.numCodewords);
  int bits = 0;
  for (int i = 0; i < rec.numCodewords; ++i) bits += std::max(rec.codewords.length[i], 0);
  return bits;
}

}  // namespace aacs::enc
