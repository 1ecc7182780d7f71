// tools/mp4_writer.h — writes an M4A (MPEG-4 audio) file around AAC raw data blocks.
//
// The file is ftyp, then mdat (the blocks, streamed to the file as they come), then moov (built
// at the end, when every block size is known): one audio track with an mp4a sample entry whose
// esds carries the AudioSpecificConfig (with btrt beside it: buffer size, peak and mean bit
// rate), the sample tables (stts, stsc, stsz, stco or co64), an
// edit list that hides the encoder's start delay and the padding after the last input sample,
// the iTunSMPB gapless tag and the iTunes-style text tags.  Creation times are left at 0 so that
// the same input gives the same bytes.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace aacs::tools {

struct Mp4Tags {
  std::string title, artist, album, comment;  // empty: not written
  std::string tool;                           // encoder name and version (©too)
};

struct Mp4TrackInfo {
  int sampleRate = 0;
  int channels = 0;
  std::vector<uint8_t> audioSpecificConfig;
  int64_t encoderDelay = 0;  // decoded samples before the first input sample (priming)
  int64_t validSamples = 0;  // input samples per channel the decode must give back
};

// The sample tables the moov describes: per-block sizes, and the file offsets of the chunks
// the blocks are grouped into (samplesPerChunk blocks each, the last chunk possibly fewer).
struct Mp4SampleTable {
  std::vector<uint32_t> sampleSizes;
  std::vector<uint64_t> chunkOffsets;
  uint32_t samplesPerChunk = 0;
};

struct Mp4Writer {
  FILE* file = nullptr;
  uint64_t mdatStart = 0;     // offset of the 16 bytes reserved for the mdat header
  uint64_t position = 0;      // current end of the file
  uint32_t samplesInChunk = 0;
  uint32_t maxSampleBytes = 0;
  uint64_t payloadBytes = 0;  // sum of the block sizes
  Mp4SampleTable table;
  bool failed = false;        // a write failed (errno tells why)
};

// Writes ftyp and reserves the mdat header.  Returns 0, or 1 when writing failed.
int Mp4Begin(Mp4Writer& w, FILE* file, int sampleRate);
// Appends one raw data block (one AAC frame of 1024 samples per channel).
int Mp4AddSample(Mp4Writer& w, const uint8_t* data, size_t bytes);
// Fixes the mdat size and appends moov.  The file stays open (the caller closes it).
int Mp4Finish(Mp4Writer& w, const Mp4TrackInfo& track, const Mp4Tags& tags);

// The moov box for the given track and tables (exposed for tests).
std::vector<uint8_t> BuildMoov(const Mp4TrackInfo& track, const Mp4Tags& tags, const Mp4SampleTable& table);
// The gapless-playback tag text: delay, padding and valid sample count in Apple's hex layout.
std::string ITunSmpbText(int64_t delay, int64_t padding, int64_t validSamples);

}  // namespace aacs::tools
