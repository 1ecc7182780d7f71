// tools/adts_frames.h — finds the frames in a buffer of ADTS frames and the raw data block
// inside each.
//
// The tool asks the library for ADTS frames (56-bit headers) when it builds an M4A file: each
// header carries its frame's length, so the concatenated frames of one encode call (and the two
// flush frames) split without parsing the raw data blocks themselves.
#pragma once
#include <cstddef>
#include <cstdint>

namespace aacs::tools {

struct AdtsFrame {
  size_t offset = 0;       // of the header in the buffer
  size_t length = 0;       // whole frame, header included
  int headerBytes = 0;     // 7 for the 56-bit form (the payload starts byte-aligned after it)
  int profile = 0;         // object type - 1
  int sampleRateIndex = 0;
  int channelConfig = 0;
};

// Reads the frame starting at `offset`.  headerBits is 56 or 58 (the legacy form carries two
// more bits before the length field).  Returns 0, or 1 when the bytes there are not a complete
// frame of that form.
int ReadAdtsFrame(const uint8_t* data, size_t size, size_t offset, int headerBits, AdtsFrame& frame);

}  // namespace aacs::tools
