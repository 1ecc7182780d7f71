// Bit writer: byte patterns, alignment, buffer sizes and wrap-around addressing.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "enc/bit_writer.h"

namespace aacs::enc {
namespace {

TEST(BitWriter, BufferHoldsCapacityRoundedUpToBytes) {
  BitWriter* a = BitWriterCreate(200);
  BitWriter* b = BitWriterCreate(7);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  // The whole rounded-up buffer is there and zeroed (the sanitizer build checks the bounds).
  EXPECT_EQ(a->capacityBits, 200);
  EXPECT_EQ(b->capacityBits, 7);
  for (int i = 0; i < 25; ++i) EXPECT_EQ(a->data[i], 0);
  EXPECT_EQ(b->data[0], 0);
  BitWriterFree(a);
  BitWriterFree(b);
}

TEST(BitWriter, TwelveOnesThenAlignmentGiveFFF0) {
  BitWriter* w = BitWriterCreate(64);
  w->data[1] = 0x0F;  // stale contents must be cleared by the first bit of the byte
  BitWriterPutBits(w, 0xFFF, 12);
  EXPECT_EQ(w->data[0], 0xFF);
  EXPECT_EQ(w->data[1], 0xF0);
  EXPECT_EQ(BitWriterBitsUsed(w), 12);
  EXPECT_EQ(BitWriterByteAlign(w, 1), 4);
  EXPECT_EQ(BitWriterBitsUsed(w), 16);
  EXPECT_EQ(w->data[1], 0xF0);
  EXPECT_EQ(BitWriterByteAlign(w, 1), 0);
  EXPECT_EQ(BitWriterBitsUsed(w), 16);
  BitWriterFree(w);
}

TEST(BitWriter, CountingAlignmentWritesNothing) {
  BitWriter* w = BitWriterCreate(64);
  BitWriterPutBits(w, 1, 3);
  EXPECT_EQ(BitWriterByteAlign(w, 0), 5);
  EXPECT_EQ(BitWriterBitsUsed(w), 3);
  BitWriterFree(w);
}

TEST(BitWriter, OnlyTheLowBitsOfAValueAreWritten) {
  BitWriter* w = BitWriterCreate(64);
  BitWriterPutBits(w, 6, 3);       // 110
  BitWriterPutBits(w, 0xFFF8, 5);  // 11000
  BitWriterPutBits(w, 0x141, 8);   // 0x41
  BitWriterPutBits(w, 0xABCD, 0);  // nothing
  EXPECT_EQ(w->data[0], 0xD8);
  EXPECT_EQ(w->data[1], 0x41);
  EXPECT_EQ(BitWriterBitsUsed(w), 16);
  BitWriterFree(w);
}

TEST(BitWriter, FieldsSpanningBytesAndFull32BitValues) {
  BitWriter* w = BitWriterCreate(128);
  BitWriterPutBits(w, 1, 1);
  BitWriterPutBits(w, 0x89ABCDEFu, 32);
  BitWriterPutInByte(w, 0x7F, 7);
  const uint8_t expected[5] = {0xC4, 0xD5, 0xE6, 0xF7, 0xFF};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(w->data[i], expected[i]) << i;
  EXPECT_EQ(w->writePos, 40);
  BitWriterFree(w);
}

TEST(BitWriter, StreamWriterIsResetPerFrameAndKeepsItsBuffer) {
  BitWriter w{};
  ASSERT_EQ(BitWriterInit(w, 80), 0);
  uint8_t* buffer = w.data;
  BitWriterPutBits(&w, 0xFFFF, 16);
  BitWriterReset(w);
  EXPECT_EQ(BitWriterBitsUsed(&w), 0);
  BitWriterPutBits(&w, 0x1, 4);
  EXPECT_EQ(w.data, buffer);
  EXPECT_EQ(w.data[0], 0x10);
  BitWriterRelease(w);
  EXPECT_EQ(w.data, nullptr);
}

#ifdef NDEBUG
// Whole-field writes away from the buffer's end must leave exactly the bytes that writing one
// bit at a time leaves, also in a reused buffer whose bytes still hold an earlier frame.
TEST(BitWriter, FieldWritesEqualBitByBitWritesInAReusedBuffer) {
  std::mt19937 rng(9);
  BitWriter* fast = BitWriterCreate(8 * 64);
  BitWriter* slow = BitWriterCreate(8 * 64);
  for (int frame = 0; frame < 50; ++frame) {
    BitWriterReset(*fast);
    BitWriterReset(*slow);
    while (BitWriterBitsUsed(fast) < 8 * 64 - 40) {
      const int n = static_cast<int>(rng() % 33);
      const uint32_t value = static_cast<uint32_t>(rng());
      BitWriterPutBits(fast, value, n);
      for (int i = n - 1; i >= 0; --i) BitWriterPutInByte(slow, static_cast<int>((value >> i) & 1u), 1);
    }
    ASSERT_EQ(BitWriterBitsUsed(fast), BitWriterBitsUsed(slow));
    const int bytes = (BitWriterBitsUsed(fast) + 7) / 8;
    for (int i = 0; i < bytes; ++i) ASSERT_EQ(fast->data[i], slow->data[i]) << frame << " byte " << i;
  }
  BitWriterFree(fast);
  BitWriterFree(slow);
}

TEST(BitWriter, AListOfFieldsWritesWhatFieldAfterFieldWrites) {
  std::mt19937 rng(10);
  for (int trial = 0; trial < 50; ++trial) {
    BitWriter* list = BitWriterCreate(8 * 2000);
    BitWriter* one = BitWriterCreate(8 * 2000);
    std::fill(list->data, list->data + 2000, uint8_t{0xA5});  // a reused buffer
    std::fill(one->data, one->data + 2000, uint8_t{0xA5});
    const int lead = static_cast<int>(rng() % 13);  // start inside a byte
    BitWriterPutBits(list, 0x1555, lead);
    BitWriterPutBits(one, 0x1555, lead);
    std::vector<uint32_t> values(300);
    std::vector<int32_t> lengths(300);
    int total = 0;
    for (int i = 0; i < 300; ++i) {
      values[i] = static_cast<uint32_t>(rng());
      lengths[i] = static_cast<int32_t>(rng() % 34) - 1;  // -1 and 0 write nothing
      total += std::max(lengths[i], 0);
      BitWriterPutBits(one, values[i], std::max(lengths[i], 0));
    }
    EXPECT_EQ(BitWriterPutFields(list, values.data(), lengths.data(), 300), total);
    ASSERT_EQ(BitWriterBitsUsed(list), BitWriterBitsUsed(one));
    const int bytes = (BitWriterBitsUsed(one) + 7) / 8;
    for (int i = 0; i < bytes; ++i) ASSERT_EQ(list->data[i], one->data[i]) << trial << " byte " << i;
    BitWriterFree(list);
    BitWriterFree(one);
  }
}

TEST(BitWriter, WritingPastTheBufferWrapsToByteZero) {
  BitWriter* w = BitWriterCreate(7);  // one byte
  BitWriterPutBits(w, 0xAA, 8);
  BitWriterPutBits(w, 1, 1);
  EXPECT_EQ(w->data[0], 0x80);
  EXPECT_EQ(BitWriterBitsUsed(w), 9);
  BitWriterFree(w);

  w = BitWriterCreate(200);  // 25 bytes: bit 200 is bit 7 of byte 0 again
  for (int i = 0; i < 25; ++i) BitWriterPutBits(w, 0xFF, 8);
  BitWriterPutBits(w, 0, 1);
  EXPECT_EQ(w->data[0], 0x00);
  EXPECT_EQ(w->data[24], 0xFF);
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
