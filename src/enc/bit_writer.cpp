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
  // Away from the end of the buffer a field (at most 32 bits after up to 7 used bits of the
  // current byte) lands in five bytes at most: they are written whole, the current byte's
  // written bits kept and every later byte's unwritten bits cleared, as the bytewise path does.
  const int byte = w->writePos >> 3;
  if (n > 0 && n <= 32 && byte + 5 <= ByteSize(*w)) {
    const int used = w->writePos & 7;
    const uint64_t field = (static_cast<uint64_t>(value) & (~uint64_t{0} >> (64 - n))) << (40 - used - n);
    const uint64_t kept = used ? static_cast<uint64_t>(w->data[byte] & (0xFF00u >> used)) << 32 : 0;
    const uint64_t bits = kept | field;
    const int touched = (used + n + 7) >> 3;
    for (int i = 0; i < touched; ++i) w->data[byte + i] = static_cast<uint8_t>(bits >> (32 - 8 * i));
    w->writePos += n;
    w->bitsUsed = w->writePos;
    return 0;
  }
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

int BitWriterPutFields(BitWriter* w, const uint32_t* values, const int32_t* lengths, int count) {
  // The fields go through a 64-bit accumulator whose complete bytes are stored in order; the
  // byte index wraps like the field writer's.
  const int size = ByteSize(*w);
  int byte = (w->writePos >> 3) % size;
  int pending = w->writePos & 7;  // bits of the current byte already written
  uint64_t acc = pending ? static_cast<uint64_t>(w->data[byte] >> (8 - pending)) : 0;
  int written = 0;
  for (int i = 0; i < count; ++i) {
    const int n = lengths[i];
    if (n <= 0) continue;
    acc = (acc << n) | (static_cast<uint64_t>(values[i]) & (~uint64_t{0} >> (64 - n)));
    pending += n;
    written += n;
    while (pending >= 8) {
      pending -= 8;
      w->data[byte] = static_cast<uint8_t>(acc >> pending);
      if (++byte == size) byte = 0;
    }
  }
  if (pending > 0) w->data[byte] = static_cast<uint8_t>(acc << (8 - pending));
  assert(w->writePos + written <= size * 8 && "bit writer wrapped");
  w->writePos += written;
  w->bitsUsed = w->writePos;
  return written;
}

int BitWriterByteAlign(BitWriter* w, int write) {
  const int pad = (8 - (w->bitsUsed & 7)) & 7;
  if (write)
    for (int i = 0; i < pad; ++i) BitWriterPutInByte(w, 0, 1);
  return pad;
}

}  // namespace aacs::enc
