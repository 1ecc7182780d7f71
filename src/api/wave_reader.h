// api/wave_reader.h — reads integer PCM from a RIFF/WAVE file as interleaved 16-bit samples.
//
// Open walks the chunks (tolerating unknown, odd-sized and streaming-style chunks), reports the
// format, and positions the file at the audio data; each read converts 8/16/24/32-bit samples
// to 16 bits in the file's own channel order.  Every status comes back through the caller: the
// reader keeps no process-wide state, so several streams may read files at once.
#pragma once
#include <cstdint>
#include <cstdio>

namespace aacs::api {

// Status codes of the reader (positive; 0 is success).
enum WaveStatus : int {
  kWaveOk = 0,
  kWaveCannotOpen = 2,        // the file could not be opened for reading
  kWaveInvalidReader = 4,     // no reader, or a record that is not a live reader
  kWaveNoReport = 5,          // no place for the format report
  kWaveNoFile = 6,            // the reader has no open file
  kWaveNoMemory = 8,
  kWaveNotPcm = 11,           // not integer PCM, or a sample size without a converter
  kWaveBadCount = 12,         // a read request that is not a whole number of sample frames
  kWaveNotRiffWave = 14,      // the file does not start with "RIFF" .... "WAVE"
  kWaveNotReading = 15,       // the reader is not in reading mode
  kWaveZeroField = 18,        // rate, length, channels or bits is zero
  kWaveShortRead = 19,        // the file held fewer samples than its header promised
  kWaveInconsistent = 21,     // block size differs from channels x bytes per sample
  kWaveSecondRiff = 22,
  kWaveMisplacedWave = 23,
  kWaveFmtBeforeWave = 24,
  kWaveFmtTooShort = 25,      // "fmt " chunk below 16 bytes
  kWaveFmtTooLong = 26,       // "fmt " chunk above 512 bytes
  kWaveNoData = 29,           // no "data" chunk after "fmt "
  kWaveRf64 = 30,             // an RF64 (64-bit size) file
  kWaveDataBeforeFmt = 31,    // "data" before "fmt "
};

constexpr uint32_t kWaveValidMark = 0xCAFEBABEu;
constexpr int kWaveStagingBytes = 4096;
constexpr int kWaveLogBytes = 4096;
constexpr int kWaveMaxFmtBytes = 512;
constexpr int kWaveFormatPcm = 1;
constexpr int kWaveFormatExtensible = 0xFFFE;
// Speaker masks the stream maps: 4.0 as AAC codes it (FL FR FC BC) and 5.1 with back or side
// surrounds (FL FR FC LFE BL BR, FL FR FC LFE SL SR).
constexpr uint32_t kWaveMask4Channels = 0x107;
constexpr uint32_t kWaveMask51Back = 0x3F;
constexpr uint32_t kWaveMask51Side = 0x60F;

// What open tells its caller.  The stream uses the first three; the rest are for diagnostics and
// channel mapping.
struct WaveFormatReport {
  int sampleRate;
  int64_t numFrames;     // whole sample frames of audio data
  int numChannels;
  int bitsPerSample;     // container bits (8, 16, 24, 32, or a size rounding up to those)
  int formatTag;         // as written in the file (1, or 0xFFFE for integer-PCM EXTENSIBLE)
  int blockAlign;        // bytes per sample frame
  uint32_t channelMask;  // EXTENSIBLE speaker mask, 0 when the file has none
};

struct WaveReader;
// Converts `count` samples of the file's format from `src` into 16-bit values.
using WaveSampleConverter = void (*)(const uint8_t* src, int16_t* dst, int count);

struct WaveReader {
  alignas(32) uint8_t staging[kWaveStagingBytes];
  char logText[kWaveLogBytes];     // chunk notes of the walk ("RIFF : %d\n", "WAVE\n", ...)
  int logLength;
  uint32_t validMark;              // kWaveValidMark while the record is live
  FILE* file;
  int mode;                        // 1 = reading
  int status;                      // status of the last operation
  char fileName[256];              // base name of the file
  int sampleRate;
  int64_t numFrames;
  int numChannels;
  int bitsPerSample;
  int formatTag;                   // effective tag: EXTENSIBLE integer PCM reads as 1
  int fileFormatTag;               // tag as written
  uint32_t channelMask;
  int fileBlockAlign;              // nBlockAlign as written
  int64_t dataStart;
  int64_t dataSize;
  int64_t fileSize;
  int bytesPerSample;
  int blockAlign;                  // bytesPerSample x numChannels
  int64_t framesRead;
  int readErrno;                   // errno of a failed read (0 when the file simply ended early)
  WaveSampleConverter convert;
};

// Opens `fileName` and parses its chunks.  Returns the reader, or null with the reason in
// `*status` (which may be null).  On success `*report` describes the audio data.
WaveReader* WaveReaderOpen(const char* fileName, WaveFormatReport* report, int* status);

// Fills `buffer` with `count` interleaved samples (a multiple of the channel count).  Returns the
// samples taken from the file; the rest of the buffer is zero-filled, so a return below `count`
// marks the end of the data and 0 means nothing was left.  A file that ends before its data does
// (it shrank, or a read failed) gives status kWaveShortRead, with the read's errno in readErrno.
// Returns -1 for a bad request
// (status 4, 12, 15 or 11 in reader->status when there is a reader).
int WaveReaderRead(WaveReader* reader, int16_t* buffer, int count);

// Closes the file and frees the record.  Result 0, or 4 / 6 for an invalid reader.
int WaveReaderClose(WaveReader* reader);

// Short text for a status code, for one-line error messages.
const char* WaveReaderStatusText(int status);

}  // namespace aacs::api
