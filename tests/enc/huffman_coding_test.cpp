// Pulse selection and the final coding pass into the codeword list.
#include <gtest/gtest.h>

#include "enc/huffman.h"
#include "support/coding_records.h"

namespace aacs::enc {
namespace {

using test::MakeLongRecord;

constexpr int k44100 = 4;

// Band 29 at 44.1 kHz spans lines 320..351: small values plus spikes.
test::RecordPtr SpikyRecord() {
  auto rec = MakeLongRecord(k44100, 40);
  for (int i = 0; i < rec->bandOffset[40]; ++i) rec->q[i] = (i % 5 == 0) - (i % 7 == 0);
  for (int b = 0; b < 40; ++b) {
    rec->scalefactor[b] = 100;
    rec->recompute[b] = 1;
  }
  rec->globalGain = 100;
  return rec;
}

TEST(HuffmanPulses, ALoneSpikeBecomesOnePulseWithItsOffsetAndAmplitude) {
  auto rec = SpikyRecord();
  ASSERT_EQ(rec->bandOffset[29], 320);
  rec->q[333] = -9;
  SelectPulses(*rec, 0);
  ASSERT_EQ(rec->pulseDataPresent, 1);
  EXPECT_EQ(rec->numPulse, 1);
  EXPECT_EQ(rec->pulseStartSfb, 29);
  EXPECT_EQ(rec->pulseOffset[0], 13);
  EXPECT_EQ(rec->pulseAmp[0], 8);
  EXPECT_EQ(rec->q[333], -1);
  EXPECT_EQ(WritePulseData(*rec, nullptr, 0), 18);
}

TEST(HuffmanPulses, TwoSpikesAreListedInAscendingLineOrder) {
  auto rec = SpikyRecord();
  rec->q[330] = 7;
  rec->q[350] = -12;
  SelectPulses(*rec, 0);
  ASSERT_EQ(rec->numPulse, 2);
  EXPECT_EQ(rec->pulseStartSfb, 29);
  EXPECT_EQ(rec->pulseOffset[0], 10);
  EXPECT_EQ(rec->pulseOffset[1], 20);
  EXPECT_EQ(rec->pulseAmp[0], 6);
  EXPECT_EQ(rec->pulseAmp[1], 11);
  EXPECT_EQ(rec->q[330], 1);
  EXPECT_EQ(rec->q[350], -1);
}

TEST(HuffmanPulses, SpikesTooLargeOrTooFarApartAreNotPaired) {
  auto rec = SpikyRecord();
  rec->q[340] = 17;  // pulse_amp cannot carry 16
  SelectPulses(*rec, 0);
  EXPECT_EQ(rec->pulseDataPresent, 0);
  EXPECT_EQ(rec->q[340], 17) << "rejected trials restore the values";

  rec = SpikyRecord();
  rec->q[290] = 9;  // band 28 (288..319)
  rec->q[350] = 9;  // band 29: 60 lines above, too far for a second pulse offset
  SelectPulses(*rec, 0);
  ASSERT_EQ(rec->numPulse, 1);
  EXPECT_EQ(rec->pulseStartSfb, 29);
  EXPECT_EQ(rec->q[290], 9);
}

TEST(HuffmanPulses, EightShortFramesNeverCarryPulses) {
  const int groups[1] = {8};
  auto rec = test::MakeShortRecord(k44100, 14, groups, 1);
  rec->q[100] = 12;
  rec->pulseDataPresent = 1;
  SelectPulses(*rec, 0);
  EXPECT_EQ(rec->pulseDataPresent, 0);
  EXPECT_EQ(rec->q[100], 12);
  EXPECT_EQ(WritePulseData(*rec, nullptr, 0), 1);
}

TEST(HuffmanCodewords, EscapesFollowTheirPairCodewordAndSigns) {
  auto rec = MakeLongRecord(k44100, 3);
  rec->q[4] = 16;
  rec->q[5] = -8191;
  rec->codebook[0] = 0;
  rec->codebook[1] = kEscCodebook;
  rec->codebook[2] = kNoiseCodebook;
  BuildCodewordList(*rec);
  // band 0: one empty entry; band 1: pair (16, 8191) + 2 signs + 2 escapes, pair (0, 0);
  // band 2 (noise): nothing.
  ASSERT_EQ(rec->numCodewords, 1 + 5 + 1);
  EXPECT_EQ(rec->codewords.length[0], 0);
  EXPECT_EQ(rec->codewords.value[1], SpectralCodebook(11)[17 * 16 + 16].codeword);
  EXPECT_EQ(rec->codewords.value[2], 0u);  // + sign
  EXPECT_EQ(rec->codewords.value[3], 1u);  // - sign
  EXPECT_EQ(rec->codewords.length[4], 5);  // 16: prefix 0, then 0000
  EXPECT_EQ(rec->codewords.value[4], 0u);
  EXPECT_EQ(rec->codewords.length[5], 21);  // 8191: 11111111 0 111111111111
  EXPECT_EQ(rec->codewords.value[5], (0xFFu << 13) | 0xFFFu);
  EXPECT_EQ(rec->codewords.value[6], SpectralCodebook(11)[0].codeword);
  int expected = 0;
  for (int i = 0; i < rec->numCodewords; ++i) expected += rec->codewords.length[i];
  EXPECT_EQ(WriteSpectralData(*rec, nullptr, 0), expected);
}

TEST(HuffmanCodewords, ABookTooSmallForItsBandIsReplacedNotOverrun) {
  auto rec = MakeLongRecord(k44100, 1);
  rec->q[0] = 5;
  rec->codebook[0] = 1;  // cannot hold 5
  BuildCodewordList(*rec);
  EXPECT_GE(rec->codebook[0], 7);
}

}  // namespace
}  // namespace aacs::enc
