// enc/huffman_sections.cpp — section data and scalefactor data, written or counted.
//
// Writers and counters share one routine per element, so the rate loops' counts are exactly
// what the frame later carries.  Sections are coded per window group; the three scalefactor
// references (scalefactor, noise energy, intensity position) run across all groups.
#include <algorithm>

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

}  // namespace

int CountSectionBits(const quant::ChannelCodingRecord& rec) { return SectionData<false>(rec, rec.codebook, nullptr); }
int CountSectionBitsFor(const quant::ChannelCodingRecord& rec, const int* codebooks) {
  return SectionData<false>(rec, codebooks, nullptr);
}
int WriteSectionData(const quant::ChannelCodingRecord& rec, BitWriter* w, int write) {
  return write ? SectionData<true>(rec, rec.codebook, w) : SectionData<false>(rec, rec.codebook, nullptr);
}

int CountScaleFactorBits(const quant::ChannelCodingRecord& rec, int internal) {
  return ScaleFactorData<false>(rec, rec.codebook, internal, nullptr);
}
int CountScaleFactorBitsFor(const quant::ChannelCodingRecord& rec, const int* codebooks, int internal) {
  return ScaleFactorData<false>(rec, codebooks, internal, nullptr);
}
int WriteScaleFactorData(const quant::ChannelCodingRecord& rec, BitWriter* w, int write) {
  return write ? ScaleFactorData<true>(rec, rec.codebook, 0, w) : ScaleFactorData<false>(rec, rec.codebook, 0, nullptr);
}

}  // namespace aacs::enc
