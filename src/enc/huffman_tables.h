// enc/huffman_tables.h — the twelve Huffman codebooks of ISO/IEC 13818-7 Annex A as compiled
// tables (generated from data/huffman_*.tsv by scripts/gen_huffman_tables.py).
#pragma once
#include "enc/huffman.h"

namespace aacs::enc {

extern const HuffmanEntry kSpectralBook1[81], kSpectralBook2[81], kSpectralBook3[81],
    kSpectralBook4[81], kSpectralBook5[81], kSpectralBook6[81], kSpectralBook7[64],
    kSpectralBook8[64], kSpectralBook9[169], kSpectralBook10[169], kSpectralBook11[289];
extern const HuffmanEntry kScalefactorBook[121];
// Indexed by book number 1..11 (entry 0 unused).
extern const HuffmanEntry* const kSpectralBooks[12];
extern const int kSpectralBookSizes[12];

}  // namespace aacs::enc
