// enc/bit_writer.h — the bit buffer every bit of the output goes through.
//
// Bits fill each byte from its most significant bit down.  The buffer is addressed modulo its
// byte size, so a writer that ran past its capacity would wrap instead of writing outside the
// buffer (the stream sizes its writer for the largest legal frame, so this never happens; debug
// builds assert it).  A byte is cleared when its first bit is written.
#pragma once
#include <cstdint>

namespace aacs::enc {

struct BitWriter {
  uint8_t* data;      // ceil(capacityBits / 8) bytes
  int32_t bitsUsed;   // bits written so far
  int32_t capacityBits;
  int32_t writePos;   // position of the next bit; equals bitsUsed after any write
};

// Heap writer: record and zeroed buffer of ceil(capacityBits / 8) bytes; null when out of memory.
BitWriter* BitWriterCreate(int capacityBits);
void BitWriterFree(BitWriter* w);

// In-place writer owned by a stream: allocates the buffer once (returns 0, or 1 without memory);
// BitWriterReset rewinds it for the next frame; BitWriterRelease frees the buffer.
int BitWriterInit(BitWriter& w, int capacityBits);
void BitWriterReset(BitWriter& w);
void BitWriterRelease(BitWriter& w);

int BitWriterBitsUsed(const BitWriter* w);
// Writes the low n bits (1..8) of value; they must fit in the current byte.
void BitWriterPutInByte(BitWriter* w, int value, int n);
// Writes the low n bits (0..32) of value, most significant first.  Returns 0.
int BitWriterPutBits(BitWriter* w, uint32_t value, int n);
// Writes count fields in order (field i: the low lengths[i] bits of values[i], lengths 0..32);
// the same bytes as one BitWriterPutBits per field.  Returns the bits written.
int BitWriterPutFields(BitWriter* w, const uint32_t* values, const int32_t* lengths, int count);
// Zero bits needed to reach a byte boundary; writes them when write is non-zero.
int BitWriterByteAlign(BitWriter* w, int write);

}  // namespace aacs::enc
