// Test helper: a small, independent parser of the AAC bitstreams this encoder writes (ADTS or
// raw data blocks with SCE/CPE/LFE/END, and the ADIF header).
//
// It shares no code or tables with the encoder: codebooks, band offsets and prediction limits
// are read from the data/*.tsv files under AACS_SOURCE_DIR.  Every parse function returns true
// on success, or false with a message in *error on malformed input.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace aacs::test {

constexpr int kParsedMaxBands = 8 * 16;

struct AdtsHeader {
  int syncword, id, layer, protectionAbsent, profile, sfIndex, privateBit, channelConfig;
  int originalCopy, home;
  int emphasis;  // -1 in the 56-bit header, which has no emphasis field
  int copyrightIdBit, copyrightIdStart, frameLength, bufferFullness, numRawDataBlocks;
  int headerBits;  // 56 or 58
};

struct ParsedLtp {
  int present, lag, coef, numLongUsed;
  int longUsed[40];
};

struct ParsedIcsInfo {
  int windowSequence, windowShape, maxSfb;
  int scaleFactorGrouping;           // the 7 bits, window 1 most significant (eight-short only)
  int numWindowGroups, groupLength[8];
  int predictorDataPresent;
  int predictorReset, predictorResetGroup, numPredictionUsed;  // Main profile
  int predictionUsed[64];
  ParsedLtp ltp[2];                  // LTP profile: this channel's, then the partner's (common window)
};

struct ParsedTnsFilter {
  int length, order, direction, coefCompress;
  int coef[32];  // raw field values (coef_res - coef_compress bits, two's complement)
};

struct ParsedTnsWindow {
  int nFilt, coefRes;  // coefRes is 3 or 4
  ParsedTnsFilter filter[4];
};

struct ParsedChannel {
  int globalGain;
  ParsedIcsInfo ics;
  int numBands;                      // maxSfb x numWindowGroups, in coding order
  int numSections;
  int codebook[kParsedMaxBands];
  // Books 1-11: scalefactor; 13: noise energy (reference starts at global_gain); 14, 15:
  // intensity position; 0 for zero bands.
  int scalefactor[kParsedMaxBands];
  int pulseDataPresent, numPulse, pulseStartSfb, pulseOffset[4], pulseAmp[4];
  int tnsDataPresent;
  ParsedTnsWindow tns[8];
  // Decoded quantised values with the pulses applied.  qCoded is in coding order (eight-short
  // bands grouped and window-interleaved, as the encoder's channel record holds them); q is
  // window-major after un-grouping (line k of window w at w * 128 + k; long frames: q = qCoded).
  int qCoded[1024];
  int q[1024];
};

struct ParsedElement {
  int id;  // 0 SCE, 1 CPE, 3 LFE
  int tag;
  int commonWindow, msMaskPresent;
  int msUsed[kParsedMaxBands];  // group by group, maxSfb flags per group
  int numChannels;
  ParsedChannel ch[2];
  int bits;  // the whole element, from its id to its last spectral bit
};

struct ParsedFrame {
  bool hasAdts = false;
  AdtsHeader adts{};
  std::vector<ParsedElement> elements;
  int fillBytes = 0;  // payload of fill elements (padding)
  int rawBits = 0;    // from the first element to the end of the END identifier
  int totalBits = 0;  // header, elements, END and byte alignment
};

struct StreamFormat {
  int profile = 1;  // 0 Main, 1 LC, 3 LTP
  int sfIndex = 4;
};

// One ADTS frame at data[0..size); headerBits 56 or 58 says which header form to expect.
// The frame length field must equal the frame's real byte count.
bool ParseAdtsFrame(const uint8_t* data, size_t size, int headerBits, ParsedFrame* out, std::string* error);
// One raw data block at data[0..size) ending in END and byte alignment.
bool ParseRawDataBlock(const uint8_t* data, size_t size, const StreamFormat& format, ParsedFrame* out,
                       std::string* error);
// Splits an ADTS stream into frames and parses them all.
bool ParseAdtsStream(const uint8_t* data, size_t size, int headerBits, std::vector<ParsedFrame>* out,
                     std::string* error);

// The ADIF header up to the end of its program configurations (of which the first one's object
// type and sampling-frequency index are kept).
struct AdifHeader {
  int bitstreamType, bitRate, numProgramConfigs, objectType, sfIndex;
  int headerBytes;
};

bool ParseAdifHeader(const uint8_t* data, size_t size, AdifHeader* out, std::string* error);

}  // namespace aacs::test
