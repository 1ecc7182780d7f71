// api/trailer.cpp — writes the stream trailer record.
//
// The record keeps its historical 32-bit layout: 64-bit counters of long streams saturate into
// the 32-bit fields, and the average bit rate is worked out in double before it is stored as a
// 32-bit float.
#include "api/trailer.h"

#include <cstring>
#include <limits>

#include "api/stream_context.h"

namespace aacs::api {
namespace {

int32_t Saturate32(int64_t v) {
  if (v > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (v < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return int32_t(v);
}

struct TrailerWriter {
  FILE* stream;
  int64_t bytes;
  bool ok;

  void Bytes(const void* p, size_t n) {
    if (n && std::fwrite(p, 1, n, stream) != n) ok = false;
    bytes += int64_t(n);
  }
  void Word(uint32_t v) {
    const uint8_t le[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    Bytes(le, 4);
  }
  void Int(int64_t v) { Word(uint32_t(Saturate32(v))); }
  // Length including the terminating zero, then the bytes; a null string is a bare 0 length.
  void String(const char* s) {
    if (!s) {
      Word(0);
      return;
    }
    size_t len = std::strlen(s);
    const size_t maxLen = size_t(std::numeric_limits<int32_t>::max()) - 1;
    if (len > maxLen) len = maxLen;
    Word(uint32_t(len + 1));
    Bytes(s, len);
    Bytes("", 1);
  }
};

}  // namespace

int WriteTrailer(StreamContext& ctx, FILE* stream) {
  if (!stream) return -1;
  // Average bit rate in kbit/s: the mean frame size in whole bits times the frame rate.
  int64_t meanFrameBits = ctx.pipelineFrameCount > 0 ? ctx.pipelineBits / ctx.pipelineFrameCount : 0;
  float kbps = float(double(meanFrameBits) * double(ctx.framesPerSecond) * 0.001);
  uint32_t kbpsBits;
  std::memcpy(&kbpsBits, &kbps, 4);

  ctx.pipelineFrameCount -= kTrailerFrameOffset;

  TrailerWriter w{stream, 0, true};
  w.Int(ctx.sampleRate);
  w.Int(ctx.numChannels);
  w.Int(ctx.pipelineFrameCount);
  w.Word(kbpsBits);
  w.String(ctx.trailerText1);
  w.String(ctx.trailerText2);
  w.String(ctx.trailerText3);
  w.Int(ctx.trailerYear);
  w.Word(0);
  w.Word(0);
  w.Int(w.bytes);
  w.Word(kTrailerMagic);
  return w.ok ? 0 : -1;
}

}  // namespace aacs::api
