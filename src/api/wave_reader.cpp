// api/wave_reader.cpp — RIFF/WAVE chunk walk and the 8/16/24/32-bit sample converters.
//
// The walk trusts as little as it can: sizes are unsigned 32-bit, a data size of 0 or
// 0xFFFFFFFF (streaming writers) or one past the end of the file means "to the end of the
// file", unknown printable chunks are skipped, and anything else is scanned byte by byte until
// a chunk identifier lines up again (which also absorbs the pad byte of odd-sized chunks).
#include "api/wave_reader.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <new>

namespace aacs::api {
namespace {

constexpr int kModeReading = 1;
constexpr int kFmtMinBytes = 16;
constexpr int kFmtExtensibleBytes = 40;
constexpr uint32_t kStreamingDataSize = 0xFFFFFFFFu;

// KSDATAFORMAT_SUBTYPE_PCM, 00000001-0000-0010-8000-00aa00389b71, as stored in the file.
constexpr uint8_t kPcmSubFormat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                       0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

uint32_t ReadLe32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t ReadLe16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

bool IdIs(const uint8_t* id, const char* name) { return std::memcmp(id, name, 4) == 0; }

bool IsPrintableId(const uint8_t* id) {
  for (int i = 0; i < 4; ++i)
    if (id[i] < 0x20 || id[i] > 0x7E) return false;
  return true;
}

void Note(WaveReader& r, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Note(WaveReader& r, const char* format, ...) {
  int room = kWaveLogBytes - 1 - r.logLength;
  if (room <= 0) return;
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(r.logText + r.logLength, size_t(room) + 1, format, args);
  va_end(args);
  if (n > 0) r.logLength += std::min(n, room);
}

// ---- Sample converters ----------------------------------------------------------------------

// 8-bit WAV samples are unsigned around 128; they are delivered as -128..127, not scaled up.
void ConvertU8(const uint8_t* src, int16_t* dst, int count) {
  for (int i = 0; i < count; ++i) dst[i] = int16_t(int(src[i]) - 128);
}
void ConvertS16(const uint8_t* src, int16_t* dst, int count) {
  for (int i = 0; i < count; ++i) dst[i] = int16_t(ReadLe16(src + 2 * i));
}
// 24- and 32-bit samples keep their upper 16 bits (an arithmetic shift, i.e. truncation).
void ConvertS24(const uint8_t* src, int16_t* dst, int count) {
  for (int i = 0; i < count; ++i) dst[i] = int16_t(ReadLe16(src + 3 * i + 1));
}
void ConvertS32(const uint8_t* src, int16_t* dst, int count) {
  for (int i = 0; i < count; ++i) dst[i] = int16_t(ReadLe16(src + 4 * i + 2));
}

WaveSampleConverter ConverterFor(int bytesPerSample) {
  switch (bytesPerSample) {
    case 1: return ConvertU8;
    case 2: return ConvertS16;
    case 3: return ConvertS24;
    case 4: return ConvertS32;
    default: return nullptr;
  }
}

// ---- Open -----------------------------------------------------------------------------------

bool ReadAt(FILE* f, int64_t offset, void* dst, size_t bytes) {
  if (fseeko(f, off_t(offset), SEEK_SET) != 0) return false;
  return std::fread(dst, 1, bytes, f) == bytes;
}

void KeepBaseName(WaveReader& r, const char* path) {
  const char* base = path;
  for (const char* p = path; *p; ++p)
    if (*p == '/' || *p == '\\') base = p + 1;
  std::snprintf(r.fileName, sizeof r.fileName, "%s", base);
}

// Reads the format fields of a "fmt " chunk of `size` bytes (16..512) at `offset`.
int ParseFmt(WaveReader& r, int64_t offset, uint32_t size) {
  uint8_t fmt[kWaveMaxFmtBytes] = {};
  int64_t available = std::min<int64_t>(size, r.fileSize - offset);
  if (available < kFmtMinBytes) return kWaveFmtTooShort;
  if (!ReadAt(r.file, offset, fmt, size_t(available))) return kWaveFmtTooShort;
  r.fileFormatTag = ReadLe16(fmt);
  r.formatTag = r.fileFormatTag;
  r.numChannels = ReadLe16(fmt + 2);
  r.sampleRate = int(std::min<uint32_t>(ReadLe32(fmt + 4), 0x7FFFFFFF));
  r.fileBlockAlign = ReadLe16(fmt + 12);
  r.bitsPerSample = ReadLe16(fmt + 14);
  if (r.fileFormatTag == kWaveFormatExtensible && available >= kFmtExtensibleBytes &&
      ReadLe16(fmt + 16) >= kFmtExtensibleBytes - 18) {
    r.channelMask = ReadLe32(fmt + 20);
    if (std::memcmp(fmt + 24, kPcmSubFormat, sizeof kPcmSubFormat) == 0) r.formatTag = kWaveFormatPcm;
  }
  r.bytesPerSample = (r.bitsPerSample + 7) / 8;
  r.blockAlign = r.bytesPerSample * r.numChannels;
  return kWaveOk;
}

// Walks the chunks from the start of the file until the first "data" chunk after "fmt ".
// States: 0 start, 1 after "RIFF", 2 after "WAVE", 3 after "fmt ".
int WalkChunks(WaveReader& r) {
  FILE* f = r.file;
  int state = 0;
  int64_t pos = 0;  // offset of the identifier in `id`
  uint8_t id[4];
  bool haveId = false;
  for (;;) {
    if (!haveId && (r.fileSize - pos < 4 || !ReadAt(f, pos, id, 4))) break;
    haveId = false;
    if (IdIs(id, "WAVE")) {  // a bare identifier inside the RIFF chunk, no size
      if (state != 1) return kWaveMisplacedWave;
      Note(r, "WAVE\n");
      state = 2;
      pos += 4;
      continue;
    }
    bool known = IdIs(id, "RIFF") || IdIs(id, "fmt ") || IdIs(id, "data");
    if (known || IsPrintableId(id)) {
      uint8_t sizeBytes[4];
      if (r.fileSize - pos < 8 || std::fread(sizeBytes, 1, 4, f) != 4) break;
      uint32_t size = ReadLe32(sizeBytes);
      if (IdIs(id, "RIFF")) {
        if (state != 0) return kWaveSecondRiff;
        if (int64_t(size) + 8 > r.fileSize) size = uint32_t(r.fileSize - 8);
        Note(r, "RIFF : %u\n", size);
        state = 1;
        pos += 8;
      } else if (IdIs(id, "fmt ")) {
        if (state != 2) return kWaveFmtBeforeWave;
        if (size < kFmtMinBytes) return kWaveFmtTooShort;
        if (size > kWaveMaxFmtBytes) return kWaveFmtTooLong;
        if (int st = ParseFmt(r, pos + 8, size); st != kWaveOk) return st;
        Note(r, "fmt  : %u\n", size);
        state = 3;
        pos += 8 + int64_t(size);
      } else if (IdIs(id, "data")) {
        if (state != 3) return state == 2 ? kWaveDataBeforeFmt : kWaveNoData;
        r.dataStart = pos + 8;
        int64_t available = r.fileSize - r.dataStart;
        r.dataSize = (size == 0 || size == kStreamingDataSize || size > available) ? available : size;
        Note(r, "data : %u\n", size);
        return kWaveOk;
      } else {
        Note(r, "%.4s : %u\n", reinterpret_cast<const char*>(id), size);
        pos += 8 + int64_t(size);
      }
      continue;
    }
    // Not an identifier: slide one byte on and look again.
    int next = std::fgetc(f);
    if (next == EOF) break;
    std::memmove(id, id + 1, 3);
    id[3] = uint8_t(next);
    pos += 1;
    haveId = true;
  }
  return kWaveNoData;
}

// Format checks once the walk found the data: PCM only, nothing zero, sizes consistent.
int CheckFormat(WaveReader& r) {
  if (r.formatTag != kWaveFormatPcm) return kWaveNotPcm;
  if (r.sampleRate == 0 || r.numChannels == 0 || r.bitsPerSample == 0) return kWaveZeroField;
  r.numFrames = r.dataSize / r.blockAlign;
  if (r.numFrames == 0) return kWaveZeroField;
  if (r.fileBlockAlign != r.blockAlign) return kWaveInconsistent;
  r.convert = ConverterFor(r.bytesPerSample);
  if (!r.convert) return kWaveNotPcm;
  return kWaveOk;
}

int OpenFile(WaveReader& r, const char* fileName) {
  if (!fileName || !*fileName) return kWaveCannotOpen;
  r.file = std::fopen(fileName, "rb");
  if (!r.file) return kWaveCannotOpen;
  r.mode = kModeReading;
  if (fseeko(r.file, 0, SEEK_END) != 0) return kWaveCannotOpen;
  r.fileSize = int64_t(ftello(r.file));
  if (r.fileSize < 0) return kWaveCannotOpen;
  KeepBaseName(r, fileName);
  uint8_t head[12];
  if (fseeko(r.file, 0, SEEK_SET) != 0) return kWaveCannotOpen;
  if (std::fread(head, 1, 12, r.file) != 12) return std::ferror(r.file) ? kWaveCannotOpen : kWaveNotRiffWave;
  if (IdIs(head, "RF64") && IdIs(head + 8, "WAVE")) return kWaveRf64;
  if (!IdIs(head, "RIFF") || !IdIs(head + 8, "WAVE")) return kWaveNotRiffWave;
  int st = WalkChunks(r);
  if (st != kWaveOk) return st;
  if (st = CheckFormat(r); st != kWaveOk) return st;
  if (fseeko(r.file, off_t(r.dataStart), SEEK_SET) != 0) return kWaveCannotOpen;
  r.framesRead = 0;
  return kWaveOk;
}

void FreeRecord(WaveReader* r) {
  std::memset(static_cast<void*>(r), 0, sizeof *r);
  ::operator delete(r, std::align_val_t{32});
}

// Reads and converts `count` samples; returns how many the file delivered.
int ReadSamples(WaveReader& r, int16_t* dst, int count) {
  const int bps = r.bytesPerSample;
  if (bps == 2 && std::endian::native == std::endian::little) {
    return int(std::fread(dst, 2, size_t(count), r.file));
  }
  const int chunkSamples = kWaveStagingBytes / bps;
  int done = 0;
  while (done < count) {
    int want = std::min(count - done, chunkSamples);
    int got = int(std::fread(r.staging, size_t(bps), size_t(want), r.file));
    r.convert(r.staging, dst + done, got);
    done += got;
    if (got < want) break;
  }
  return done;
}

}  // namespace

WaveReader* WaveReaderOpen(const char* fileName, WaveFormatReport* report, int* status) {
  int dummy;
  int& st = status ? *status : dummy;
  if (!report) {
    st = kWaveNoReport;
    return nullptr;
  }
  auto* r = static_cast<WaveReader*>(::operator new(sizeof(WaveReader), std::align_val_t{32}, std::nothrow));
  if (!r) {
    st = kWaveNoMemory;
    return nullptr;
  }
  std::memset(static_cast<void*>(r), 0, sizeof *r);
  r->validMark = kWaveValidMark;
  st = OpenFile(*r, fileName);
  if (st != kWaveOk) {
    if (r->file) std::fclose(r->file);
    FreeRecord(r);
    return nullptr;
  }
  r->status = kWaveOk;
  *report = WaveFormatReport{r->sampleRate, r->numFrames,    r->numChannels, r->bitsPerSample,
                             r->fileFormatTag, r->blockAlign, r->channelMask};
  return r;
}

int WaveReaderRead(WaveReader* r, int16_t* buffer, int count) {
  if (!r || r->validMark != kWaveValidMark) return -1;
  if (!r->file) {
    r->status = kWaveNoFile;
    return -1;
  }
  if (r->mode != kModeReading) {
    r->status = kWaveNotReading;
    return -1;
  }
  if (count < 0 || r->numChannels <= 0 || count % r->numChannels != 0 || (count > 0 && !buffer)) {
    r->status = kWaveBadCount;
    return -1;
  }
  r->status = kWaveOk;
  if (r->framesRead >= r->numFrames) {
    std::fill(buffer, buffer + count, int16_t(0));
    return 0;
  }
  if (!r->convert) {
    r->status = kWaveNotPcm;
    return -1;
  }
  int64_t left = (r->numFrames - r->framesRead) * r->numChannels;
  int want = int(std::min<int64_t>(count, left));
  errno = 0;
  int got = ReadSamples(*r, buffer, want);
  if (got < want) {
    r->readErrno = std::ferror(r->file) ? (errno != 0 ? errno : EIO) : 0;
    // The file ended (or failed) early: deliver whole frames only and stop there.
    r->status = kWaveShortRead;
    got -= got % r->numChannels;
    r->framesRead = r->numFrames;
  } else {
    r->framesRead += got / r->numChannels;
  }
  std::fill(buffer + got, buffer + count, int16_t(0));
  return got;
}

int WaveReaderClose(WaveReader* r) {
  if (!r || r->validMark != kWaveValidMark) return kWaveInvalidReader;
  int result = kWaveOk;
  if (r->file)
    std::fclose(r->file);
  else
    result = kWaveNoFile;
  FreeRecord(r);
  return result;
}

const char* WaveReaderStatusText(int status) {
  switch (status) {
    case kWaveOk: return "ok";
    case kWaveCannotOpen: return "cannot open the file for reading";
    case kWaveInvalidReader: return "invalid reader";
    case kWaveNoReport: return "no place for the format report";
    case kWaveNoFile: return "the reader has no open file";
    case kWaveNoMemory: return "out of memory";
    case kWaveNotPcm: return "not integer PCM with 8, 16, 24 or 32-bit samples";
    case kWaveBadCount: return "read request is not a whole number of sample frames";
    case kWaveNotRiffWave: return "not a RIFF/WAVE file";
    case kWaveNotReading: return "the reader is not in reading mode";
    case kWaveZeroField: return "zero sample rate, channel count, sample size or length";
    case kWaveShortRead: return "the file ended before its audio data did";
    case kWaveInconsistent: return "block size does not match channels and sample size";
    case kWaveSecondRiff: return "a second RIFF chunk";
    case kWaveMisplacedWave: return "WAVE identifier out of place";
    case kWaveFmtBeforeWave: return "fmt chunk before WAVE or repeated";
    case kWaveFmtTooShort: return "fmt chunk shorter than 16 bytes";
    case kWaveFmtTooLong: return "fmt chunk longer than 512 bytes";
    case kWaveNoData: return "no data chunk after the fmt chunk";
    case kWaveRf64: return "RF64 (64-bit WAV) files are not supported by this reader";
    case kWaveDataBeforeFmt: return "its data chunk comes before its fmt chunk, which this reader does not support";
    default: return "unknown reader status";
  }
}

}  // namespace aacs::api
