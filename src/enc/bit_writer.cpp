// enc/bit_writer.cpp — most-significant-bit-first bit buffer with wrap-around byte addressing.
//
// Every field is split at byte boundaries and written one byte piece at a time, so a field
// write touches at most one byte per chunk and never tests the capacity.
#include "enc/bit_writer.h"

#include <cassert>
#include <cstdlib>
#include <cstring>

namespace aacs::enc {
namespace {

int ByteSize(const BitWriter& w) { return (w.capacityBits + 7) / 8; }

}  // namespace

BitWriter* BitWriterCreate(int capacityBits) {
  auto* w = static_cast<BitWriter*>(std::malloc(sizeof(BitWriter)));
  if (!w) return nullptr;
  if (BitWriterInit(*w, capacityBits) != 0) {
    std::free(w);
    return nullptr;
  }
  return w;
}

void BitWriterFree(BitWriter* w) {
  if (!w) return;
  BitWriterRelease(*w);
  std::free(w);
}

int BitWriterInit(BitWriter& w, int capacityBits) {
  if (capacityBits < 1) capacityBits = 1;
  w.capacityBits = capacityBits;
  w.bitsUsed = 0;
  w.writePos = 0;
  w.data = static_cast<uint8_t*>(std::calloc(static_cast<size_t>(ByteSize(w)), 1));
  return w.data ? 0 : 1;
}

void BitWriterReset(BitWriter& w) {
  w.bitsUsed = 0;
  w.writePos = 0;
}

void BitWriterRelease(BitWriter& w) {
  std::free(w.data);
  w.data = nullptr;
  w.bitsUsed = 0;
  w.writePos = 0;
}

int BitWriterBitsUsed(const BitWriter* w) { return w->bitsUsed; }

void BitWriterPutInByte(BitWriter* w, int value, int n) {
  const int o = w->writePos & 7;
  assert(n >= 1 && n <= 8 - o);
  assert(w->writePos + n <= ByteSize(*w) * 8 && "bit writer wrapped");
  uint8_t& byte = w->data[(w->writePos >> 3) % ByteSize(*w)];
  if (o == 0) byte = 0;
  byte = static_cast<uint8_t>(byte | ((static_cast<unsigned>(value) & ((1u << n) - 1)) << (8 - o - n)));
  w->writePos += n;
  w->bitsUsed = w->writePos;
}

int BitWriterPutBits(BitWriter* w, uint32_t value, int n) {
  int done = 0;
  while (done < n) {
    const int room = 8 - (w->writePos & 7);
    const int c = (n - done < room) ? n - done : room;
    // Shift in 64 bits: a 32-bit field's first chunk shifts by up to 31.
    BitWriterPutInByte(w, static_cast<int>((static_cast<uint64_t>(value) >> (n - done - c)) & 0xFF), c);
    done += c;
  }
  return 0;
}

int BitWriterByteAlign(BitWriter* w, int write) {
  const int pad = (8 - (w->bitsUsed & 7)) & 7;
  if (write)
    for (int i = 0; i < pad; ++i) BitWriterPutInByte(w, 0, 1);
  return pad;
}

}  // namespace aacs::enc
