// enc/huffman_sections.cpp — section data and scalefactor data, written or counted.
//
// Writers and counters share one routine per element, so the rate loops' counts are exactly
// what the frame later carries.  Sections are coded per window group; the three scalefactor
// references (scalefactor, noise energy, intensity position) run across all groups.
#include <algorithm>
#include <array>

#include "enc/huffman.h"
#include "enc/huffman_internal.h"
#include "enc/huffman_tables.h"

namespace aacs::enc {
namespace {

int NumGroups(const quant::ChannelCodingRecord& rec) {
  return rec.windowSequence == kEightShort ? rec.numWindowGroups : 1;
}

// sect_len is 3 bits (escape 7) in eight-short frames, 5 bits (escape 31) otherwise.  The
// counting instance (kWrite false) runs inside the rate loops and section merging.
template <bool kWrite>
int SectionData(const quant::ChannelCodingRecord& rec, const int* books, BitWriter* w) {
  const bool shortFrame = rec.windowSequence == kEightShort;
  const int lenBits = shortFrame ? 3 : 5;
  const int esc = (1 << lenBits) - 1;
  const int groups = NumGroups(rec);
  int bits = 0;
  auto emit = [&](int value, int n) {
    if constexpr (kWrite) BitWriterPutBits(w, static_cast<uint32_t>(value), n);
    bits += n;
  };
  for (int g = 0; g < groups && rec.maxSfb > 0; ++g) {
    const int* cb = books + g * rec.maxSfb;
    int current = cb[0];
    int run = 1;
    emit(current, 4);
    for (int k = 1; k < rec.maxSfb; ++k) {
      if (cb[k] == current) {
        if (run == esc) {
          emit(esc, lenBits);
          run = 1;
        } else {
          ++run;
        }
        continue;
      }
      emit(run, lenBits);
      if (run == esc) emit(0, lenBits);
      current = cb[k];
      emit(current, 4);
      run = 1;
    }
    emit(run, lenBits);
    if (run == esc) emit(0, lenBits);
  }
  return bits;
}

// Every reference advances by the difference actually coded, so a clamped difference keeps
// the decoder in step with the encoder.
template <bool kWrite>
int ScaleFactorData(const quant::ChannelCodingRecord& rec, const int* books, int internal, BitWriter* w) {
  const auto& t = detail::Lengths();
  const int total = NumGroups(rec) * rec.maxSfb;
  // Internally s_b counts amplification steps, so the bitstream value falls as s_b rises.
  const int sign = internal ? -1 : 1;
  int sfRef = internal ? -rec.scalefactor[0] : rec.globalGain;
  int noiseRef = internal ? rec.globalGain - rec.scalefactor[0] + 100 : rec.globalGain;
  int intensityRef = 0;
  bool firstNoise = true;
  int bits = 0;
  auto huffman = [&](int& ref, int value) {
    const int d = std::clamp(value - ref, -60, 60);
    ref += d;
    bits += t.scalefactor[d + 60];
    if constexpr (kWrite) BitWriterPutBits(w, kScalefactorBook[d + 60].codeword, t.scalefactor[d + 60]);
  };
  for (int b = 0; b < total; ++b) {
    const int book = books[b];
    if (book >= 1 && book <= kEscCodebook) {
      huffman(sfRef, sign * rec.scalefactor[b]);
    } else if (book == kNoiseCodebook) {
      if (firstNoise) {
        firstNoise = false;
        const int field = std::clamp(rec.noiseEnergy[b] - noiseRef + 256, 0, 511);
        noiseRef += field - 256;
        bits += 9;
        if constexpr (kWrite) BitWriterPutBits(w, static_cast<uint32_t>(field), 9);
      } else {
        huffman(noiseRef, rec.noiseEnergy[b]);
      }
    } else if (book == kIntensityOutOfPhase || book == kIntensityInPhase) {
      huffman(intensityRef, rec.scalefactor[b]);
    }
  }
  return bits;
}

// Bits of one section of r bands: the codebook, then sect_len fields of lenBits each, one per
// complete escape value plus the final length (a final length equal to the escape value is
// followed by a zero): 4 + lenBits * (r / esc + 1).
template <int kLenBits>
constexpr std::array<int, kMaxLongBands + 1> SectionCosts() {
  std::array<int, kMaxLongBands + 1> cost{};
  for (int r = 1; r <= kMaxLongBands; ++r) cost[r] = 4 + kLenBits * (r / ((1 << kLenBits) - 1) + 1);
  return cost;
}
constexpr std::array<int, kMaxLongBands + 1> kLongSectionCost = SectionCosts<5>();
constexpr std::array<int, kMaxLongBands + 1> kShortSectionCost = SectionCosts<3>();

// The noise energies and intensity positions of the counting twin (bands 13 to 15: rare).
int CountSpecialScaleFactors(const quant::ChannelCodingRecord& rec, const int* books, int internal) {
  const int32_t* length = detail::Lengths().scalefactor + 60;  // indexed by the difference
  const int total = NumGroups(rec) * rec.maxSfb;
  int noiseRef = internal ? rec.globalGain - rec.scalefactor[0] + 100 : rec.globalGain;
  int intensityRef = 0;
  bool firstNoise = true;
  int bits = 0;
  for (int b = 0; b < total; ++b) {
    const int book = books[b];
    if (book == kNoiseCodebook) {
      if (firstNoise) {
        firstNoise = false;
        noiseRef += std::clamp(rec.noiseEnergy[b] - noiseRef + 256, 0, 511) - 256;
        bits += 9;
      } else {
        const int d = std::clamp(rec.noiseEnergy[b] - noiseRef, -60, 60);
        noiseRef += d;
        bits += length[d];
      }
    } else if (book == kIntensityOutOfPhase || book == kIntensityInPhase) {
      const int d = std::clamp(rec.scalefactor[b] - intensityRef, -60, 60);
      intensityRef += d;
      bits += length[d];
    }
  }
  return bits;
}

// The spectral bands' scalefactor chain walked with its clamps.
int ClampedChainBits(const quant::ChannelCodingRecord& rec, const int* books, int internal) {
  const int32_t* length = detail::Lengths().scalefactor + 60;  // indexed by the difference
  const int total = NumGroups(rec) * rec.maxSfb;
  const int sign = internal ? -1 : 1;
  int ref = internal ? -rec.scalefactor[0] : rec.globalGain;
  int bits = 0;
  for (int b = 0; b < total; ++b) {
    if (static_cast<unsigned>(books[b] - 1) >= static_cast<unsigned>(kEscCodebook)) continue;
    const int d = std::clamp(sign * rec.scalefactor[b] - ref, -60, 60);
    ref += d;
    bits += length[d];
  }
  return bits;
}

// The counting twins of SectionData and ScaleFactorData in one walk.  The spectral bands'
// scalefactor chain is first priced as if no difference needed clamping (each reference is then
// just the previous coded value, so the bands do not wait on each other); when the values span
// more than the 120 codes the chain is walked again with the clamps.
struct SideBits {
  int section;
  int scalefactor;
};

SideBits CountSide(const quant::ChannelCodingRecord& rec, const int* books, int internal, bool sections) {
  const int32_t* length = detail::Lengths().scalefactor + 60;  // indexed by the difference
  const int maxSfb = rec.maxSfb;
  const int* cost = rec.windowSequence == kEightShort ? kShortSectionCost.data() : kLongSectionCost.data();
  const int sign = internal ? -1 : 1;
  const int start = internal ? -rec.scalefactor[0] : rec.globalGain;
  int last = start, lo = start, hi = start;
  SideBits bits{0, 0};
  bool special = false;
  for (int g = 0, groups = maxSfb > 0 ? NumGroups(rec) : 0; g < groups; ++g) {
    const int* cb = books + g * maxSfb;
    const int* sf = rec.scalefactor + g * maxSfb;
    int runStart = 0;
    for (int k = 0; k < maxSfb; ++k) {  // without branches: books change unpredictably
      const int book = cb[k];
      const bool change = k > 0 && book != cb[k > 0 ? k - 1 : 0];
      bits.section += change ? cost[k - runStart] : 0;
      runStart = change ? k : runStart;
      const bool coded = static_cast<unsigned>(book - 1) < static_cast<unsigned>(kEscCodebook);
      const int v = sign * sf[k];
      const int d = std::clamp(v - last, -60, 60);  // unclamped whenever the span check passes
      bits.scalefactor += coded ? length[d] : 0;
      last = coded ? v : last;
      lo = std::min(lo, last);
      hi = std::max(hi, last);
      special |= book >= kNoiseCodebook;
    }
    bits.section += cost[maxSfb - runStart];
  }
  if (!sections) bits.section = 0;
  if (hi - lo > 60) bits.scalefactor = ClampedChainBits(rec, books, internal);
  if (special) bits.scalefactor += CountSpecialScaleFactors(rec, books, internal);
  return bits;
}

int CountSections(const quant::ChannelCodingRecord& rec, const int* books) {
  const int maxSfb = rec.maxSfb;
  if (maxSfb <= 0) return 0;
  const int* cost = rec.windowSequence == kEightShort ? kShortSectionCost.data() : kLongSectionCost.data();
  int bits = 0;
  for (int g = 0, groups = NumGroups(rec); g < groups; ++g) {
    const int* cb = books + g * maxSfb;
    int runStart = 0;
    for (int k = 1; k < maxSfb; ++k) {  // without branches: book changes are unpredictable
      const bool change = cb[k] != cb[k - 1];
      bits += change ? cost[k - runStart] : 0;
      runStart = change ? k : runStart;
    }
    bits += cost[maxSfb - runStart];
  }
  return bits;
}

int CountScaleFactors(const quant::ChannelCodingRecord& rec, const int* books, int internal) {
  return CountSide(rec, books, internal, false).scalefactor;
}

}  // namespace


int CountSectionBits(const quant::ChannelCodingRecord& rec) { return CountSections(rec, rec.codebook); }
int CountSectionBitsFor(const quant::ChannelCodingRecord& rec, const int* codebooks) {
  return CountSections(rec, codebooks);
}
int WriteSectionData(const quant::ChannelCodingRecord& rec, BitWriter* w, int write) {
  return write ? SectionData<true>(rec, rec.codebook, w) : SectionData<false>(rec, rec.codebook, nullptr);
}

int CountScaleFactorBits(const quant::ChannelCodingRecord& rec, int internal) {
  return CountScaleFactors(rec, rec.codebook, internal);
}
int CountScaleFactorBitsFor(const quant::ChannelCodingRecord& rec, const int* codebooks, int internal) {
  return CountScaleFactors(rec, codebooks, internal);
}
int CountSideBitsFor(const quant::ChannelCodingRecord& rec, const int* codebooks, int internal) {
  const SideBits bits = CountSide(rec, codebooks, internal, true);
  return bits.section + bits.scalefactor;
}
int WriteScaleFactorData(const quant::ChannelCodingRecord& rec, BitWriter* w, int write) {
  return write ? ScaleFactorData<true>(rec, rec.codebook, 0, w) : ScaleFactorData<false>(rec, rec.codebook, 0, nullptr);
}

}  // namespace aacs::enc
