// tools/wav_peek.cpp — RIFF/WAVE header walk (format and data size only, no samples).
#include "wav_peek.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace aacs::tools {
namespace {

constexpr int kFormatPcm = 1;
constexpr int kFormatFloat = 3;
constexpr int kFormatExtensible = 0xFFFE;
constexpr uint32_t kMaxFmtBytes = 512;

// The GUID tails shared by the KSDATAFORMAT subtypes; the first two bytes name the format.
constexpr uint8_t kSubFormatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                        0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

uint32_t Le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
bool IdIs(const uint8_t* id, const char* name) { return std::memcmp(id, name, 4) == 0; }
bool Printable(const uint8_t* id) {
  for (int i = 0; i < 4; ++i)
    if (id[i] < 0x20 || id[i] > 0x7E) return false;
  return true;
}

struct Walk {
  FILE* file;
  int64_t fileSize;
  int formatTag = 0;      // effective tag: integer-PCM EXTENSIBLE reads as 1
  int fileBlockAlign = 0;
  bool sawFmt = false;
  int64_t dataSize = -1;
  int64_t declaredSize = -1;
};

bool ReadAt(FILE* f, int64_t offset, void* dst, size_t bytes) {
  return fseeko(f, off_t(offset), SEEK_SET) == 0 && std::fread(dst, 1, bytes, f) == bytes;
}

const char* ParseFmt(Walk& w, WavInfo& info, int64_t offset, uint32_t size) {
  uint8_t fmt[kMaxFmtBytes] = {};
  const int64_t available = std::min<int64_t>(size, w.fileSize - offset);
  if (available < 16 || !ReadAt(w.file, offset, fmt, size_t(available))) return "its fmt chunk is cut short";
  w.formatTag = Le16(fmt);
  info.channels = Le16(fmt + 2);
  info.sampleRate = int(std::min<uint32_t>(Le32(fmt + 4), 0x7FFFFFFF));
  w.fileBlockAlign = Le16(fmt + 12);
  info.bitsPerSample = Le16(fmt + 14);
  if (w.formatTag == kFormatExtensible && available >= 40 && Le16(fmt + 16) >= 22) {
    info.channelMask = Le32(fmt + 20);
    if (std::memcmp(fmt + 26, kSubFormatTail, sizeof kSubFormatTail) == 0) w.formatTag = Le16(fmt + 24);
  }
  return nullptr;
}

// Mirrors the library reader: chunks in order RIFF, WAVE, fmt, data; anything that is not an
// identifier is stepped over one byte at a time (which absorbs pad bytes of odd chunks).
const char* WalkChunks(Walk& w, WavInfo& info) {
  int state = 0;
  int64_t pos = 0;
  uint8_t id[4];
  bool haveId = false;
  for (;;) {
    if (!haveId && (w.fileSize - pos < 4 || !ReadAt(w.file, pos, id, 4))) break;
    haveId = false;
    if (IdIs(id, "WAVE")) {
      if (state != 1) return "its WAVE identifier is out of place";
      state = 2;
      pos += 4;
      continue;
    }
    const bool known = IdIs(id, "RIFF") || IdIs(id, "fmt ") || IdIs(id, "data");
    if (known || Printable(id)) {
      uint8_t sizeBytes[4];
      if (w.fileSize - pos < 8 || std::fread(sizeBytes, 1, 4, w.file) != 4) break;
      const uint32_t size = Le32(sizeBytes);
      if (IdIs(id, "RIFF")) {
        if (state != 0) return "it holds a second RIFF chunk";
        state = 1;
        pos += 8;
      } else if (IdIs(id, "fmt ")) {
        if (state != 2) return "its fmt chunk is out of place";
        if (size < 16) return "its fmt chunk is shorter than 16 bytes";
        if (size > kMaxFmtBytes) return "its fmt chunk is longer than 512 bytes";
        if (const char* e = ParseFmt(w, info, pos + 8, size)) return e;
        w.sawFmt = true;
        state = 3;
        pos += 8 + int64_t(size);
      } else if (IdIs(id, "data")) {
        if (state == 2)
          return "its data chunk comes before its fmt chunk, which is not supported (rewrite it, e.g. with sox)";
        if (state != 3) break;
        const int64_t available = w.fileSize - (pos + 8);
        const bool toEnd = size == 0 || size == 0xFFFFFFFFu || size > available;
        w.dataSize = toEnd ? available : size;
        w.declaredSize = (size == 0 || size == 0xFFFFFFFFu) ? w.dataSize : size;
        return nullptr;
      } else {
        pos += 8 + int64_t(size);
      }
      continue;
    }
    const int next = std::fgetc(w.file);
    if (next == EOF) break;
    std::memmove(id, id + 1, 3);
    id[3] = uint8_t(next);
    pos += 1;
    haveId = true;
  }
  return w.sawFmt ? "it has no data chunk after its fmt chunk" : "it has no fmt chunk";
}

const char* CheckFormat(const Walk& w, WavInfo& info) {
  if (w.formatTag == kFormatFloat) return "floating-point samples are not supported (integer PCM only)";
  if (w.formatTag != kFormatPcm) return "compressed or unknown sample format (integer PCM only)";
  const int bytesPerSample = (info.bitsPerSample + 7) / 8;
  if (info.bitsPerSample == 0 || bytesPerSample > 4) return "unsupported sample size (8, 16, 24 or 32-bit only)";
  if (info.sampleRate == 0) return "its sample rate is 0";
  if (info.channels == 0) return "it has no channels";
  if (info.channels > 6) return "more than 6 channels are not supported";
  const int blockAlign = bytesPerSample * info.channels;
  if (w.fileBlockAlign != blockAlign) return "its block size does not match its channels and sample size";
  info.frames = w.dataSize / blockAlign;
  info.declaredFrames = w.declaredSize / blockAlign;
  if (info.frames == 0) return "it holds no audio";
  return nullptr;
}

}  // namespace

int PeekWav(const std::string& path, WavInfo& info, std::string& error) {
  info = WavInfo{};
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    error = std::strerror(errno);
    return 1;
  }
  Walk w{f, 0};
  const char* problem = nullptr;
  uint8_t head[12] = {};
  if (fseeko(f, 0, SEEK_END) != 0 || (w.fileSize = ftello(f)) < 0 || fseeko(f, 0, SEEK_SET) != 0) {
    problem = "it cannot be read";
  } else if (std::fread(head, 1, 12, f) == 12 && IdIs(head, "RF64") && IdIs(head + 8, "WAVE")) {
    problem = "RF64 (64-bit WAV) files are not supported: convert it to WAV, e.g. with sox";
  } else if (!IdIs(head, "RIFF") || !IdIs(head + 8, "WAVE")) {
    problem = std::ferror(f) ? "it cannot be read" : "not a WAV file (no RIFF/WAVE header)";
  } else if ((problem = WalkChunks(w, info)) == nullptr) {
    problem = CheckFormat(w, info);
  }
  std::fclose(f);
  if (problem != nullptr) {
    error = problem;
    return 1;
  }
  return 0;
}

}  // namespace aacs::tools
