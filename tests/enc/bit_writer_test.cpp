// Bit writer: alignment, whole-field and field-list writes against one bit at a time in a
// reused buffer, and what happens at the buffer's end.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "enc/bit_writer.h"

namespace aacs::enc {
namespace {

TEST(BitWriter, TwelveOnesThenAlignmentGiveFFF0AndCountingAlignmentWritesNothing) {
  BitWriter* w = BitWriterCreate(64);
  w->data[1] = 0x0F;  // stale contents must be cleared by the first bit of the byte
  BitWriterPutBits(w, 0xFFF, 12);
  EXPECT_EQ(BitWriterByteAlign(w, 0), 4);
  EXPECT_EQ(BitWriterBitsUsed(w), 12);
  EXPECT_EQ(BitWriterByteAlign(w, 1), 4);
  EXPECT_EQ(BitWriterByteAlign(w, 1), 0);
  EXPECT_EQ(BitWriterBitsUsed(w), 16);
  EXPECT_EQ(w->data[0], 0xFF);
  EXPECT_EQ(w->data[1], 0xF0);
  BitWriterFree(w);
}

#ifdef NDEBUG
// Random fields of 0..32 bits (values with garbage above their width), starting inside a byte
// of a buffer that still holds an earlier frame, written whole, as a list (lengths -1 and 0
// write nothing) and one bit at a time: the same bytes.
TEST(BitWriter, FieldAndListWritesEqualBitByBitWritesInAReusedBuffer) {
  std::mt19937 rng(9);
  BitWriter stream{};
  ASSERT_EQ(BitWriterInit(stream, 8 * 2000), 0);
  BitWriter* list = BitWriterCreate(8 * 2000);
  BitWriter* slow = BitWriterCreate(8 * 2000);
  for (int trial = 0; trial < 40; ++trial) {
    for (BitWriter* w : {&stream, list, slow}) {
      BitWriterReset(*w);
      std::fill(w->data, w->data + 2000, uint8_t{0xA5});
    }
    const int lead = static_cast<int>(rng() % 13);
    BitWriterPutBits(&stream, 0x1555, lead);
    BitWriterPutBits(list, 0x1555, lead);
    for (int i = lead - 1; i >= 0; --i) BitWriterPutInByte(slow, (0x1555 >> i) & 1, 1);
    std::vector<uint32_t> values(300);
    std::vector<int32_t> lengths(300);
    int total = 0;
    for (int i = 0; i < 300; ++i) {
      values[i] = static_cast<uint32_t>(rng());
      lengths[i] = static_cast<int32_t>(rng() % 34) - 1;
      const int n = std::max(lengths[i], 0);
      total += n;
      BitWriterPutBits(&stream, values[i], n);
      for (int k = n - 1; k >= 0; --k) BitWriterPutInByte(slow, static_cast<int>((values[i] >> k) & 1u), 1);
    }
    EXPECT_EQ(BitWriterPutFields(list, values.data(), lengths.data(), 300), total);
    ASSERT_EQ(BitWriterBitsUsed(&stream), lead + total);
    ASSERT_EQ(BitWriterBitsUsed(list), lead + total);
    ASSERT_EQ(BitWriterBitsUsed(slow), lead + total);
    for (int i = 0; i < (lead + total + 7) / 8; ++i) {
      ASSERT_EQ(stream.data[i], slow->data[i]) << trial << " byte " << i;
      ASSERT_EQ(list->data[i], slow->data[i]) << trial << " byte " << i;
    }
  }
  BitWriterRelease(stream);
  EXPECT_EQ(stream.data, nullptr);
  BitWriterFree(list);
  BitWriterFree(slow);
}

TEST(BitWriter, WritingPastTheBufferWrapsToByteZero) {
  BitWriter* w = BitWriterCreate(200);  // 25 bytes: bit 200 is bit 7 of byte 0 again
  for (int i = 0; i < 25; ++i) BitWriterPutBits(w, 0xFF, 8);
  BitWriterPutBits(w, 0, 1);
  EXPECT_EQ(w->data[0], 0x00);
  EXPECT_EQ(w->data[24], 0xFF);
  EXPECT_EQ(BitWriterBitsUsed(w), 201);
  BitWriterFree(w);
}
#else
TEST(BitWriterDeathTest, DebugBuildsRefuseToWrap) {
  BitWriter* w = BitWriterCreate(7);
  BitWriterPutBits(w, 0xAA, 8);
  EXPECT_DEATH(BitWriterPutBits(w, 1, 1), "wrapped");
  BitWriterFree(w);
}
#endif

}  // namespace
}  // namespace aacs::enc
