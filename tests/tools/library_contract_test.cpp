// What the command-line tool relies on from the stream calls, checked through the public header.
#include <gtest/gtest.h>

#include <vector>

#include "aacstream/aacstream.h"

namespace aacs::testing {
namespace {

// With a short final call (at least one sample) the count is right: the tool's frame
// accounting relies on it.
TEST(LibraryContract, ShortFinalCallReportsItsOwnFrame) {
  const int keys[] = {AACSTREAM_OPT_ADTS_HEADER_BITS}, values[] = {56};
  StreamContext* s = aacStreamOpenEx32(0, 0, 44100, 128, 2, 0, 0, 1, 2, 0, 0, 9, nullptr, nullptr, nullptr,
                                       nullptr, nullptr, 0, keys, values, 1);
  ASSERT_NE(s, nullptr);
  std::vector<short> pcm(2 * 1024, 1000);
  std::vector<unsigned char> out(size_t(aacStreamMaxOutputBytes32(s)));
  int length = -1, frames = 0;
  for (int call = 0; call < 3; ++call) {
    ASSERT_EQ(aacStreamEncodeFrame32(s, pcm.data(), out.data(), 2048, &length), 0);
    frames += length > 0;
  }
  out[0] = 0;
  ASSERT_EQ(aacStreamEncodeFrame32(s, pcm.data(), out.data(), 2 * 100, &length), 2);
  EXPECT_GT(length, 0);
  EXPECT_EQ(out[0], 0xFF);
  EXPECT_EQ(frames, 2);
  aacStreamDestroy32(s);
}

}  // namespace
}  // namespace aacs::testing
