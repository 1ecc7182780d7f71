// Test helper: a zeroed StreamContext (the stream's one large block) with the fields a single
// subsystem test needs, without going through stream open.
#pragma once
#include <memory>

#include "api/stream_context.h"

namespace aacs::test {

struct StreamDeleter {
  void operator()(StreamContext* ctx) const;
};
using StreamPtr = std::unique_ptr<StreamContext, StreamDeleter>;

// Zeroed context with the rate, channel count, bit rate and sampling-frequency index set, every
// channel present with peakGain 1, and each coding record's sampling-rate index filled in.
StreamPtr MakeZeroedStream(int sampleRate, int numChannels, int bitRate);

}  // namespace aacs::test
