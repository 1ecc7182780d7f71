// tools/adts_frames.cpp — ADTS header fields (ISO/IEC 14496-3, 1.A.2.2) as far as splitting needs.
#include "adts_frames.h"

namespace aacs::tools {

int ReadAdtsFrame(const uint8_t* data, size_t size, size_t offset, int headerBits, AdtsFrame& frame) {
  if (headerBits != 56 && headerBits != 58) return 1;
  if (offset > size || size - offset < 8) return 1;
  const uint8_t* h = data + offset;
  if (h[0] != 0xFF || (h[1] & 0xF0) != 0xF0 || (h[1] & 0x06) != 0) return 1;  // syncword, layer 0
  uint64_t bits = 0;
  for (int i = 0; i < 8; ++i) bits = bits << 8 | h[i];
  const int shift = headerBits - 56;  // the legacy emphasis field moves everything after it
  frame.offset = offset;
  frame.profile = int(bits >> 46) & 3;
  frame.sampleRateIndex = int(bits >> 42) & 15;
  frame.channelConfig = int(bits >> 38) & 7;
  frame.length = size_t(bits >> (21 - shift)) & 0x1FFF;
  const bool protectionAbsent = (h[1] & 1) != 0;
  frame.headerBytes = protectionAbsent ? 7 : 9;
  if (shift != 0) frame.headerBytes = 0;  // the payload is not byte-aligned after 58 bits
  if (frame.length < 8 || frame.length > size - offset) return 1;
  return 0;
}

}  // namespace aacs::tools
