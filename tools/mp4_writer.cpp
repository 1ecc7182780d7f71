// tools/mp4_writer.cpp — box layout of the M4A file (ISO/IEC 14496-12 and 14496-14, plus the
// iTunes metadata conventions that players read for tags and gapless playback).
#include "mp4_writer.h"

#include <algorithm>
#include <cstring>

namespace aacs::tools {
namespace {

constexpr uint32_t kMaxU32 = 0xFFFFFFFFu;
constexpr int kFrameSamples = 1024;
constexpr uint8_t kCopyright = 0xA9;  // the '©' that starts iTunes text tag names

// A growing big-endian byte buffer; boxes are opened with their size left at 0 and closed by
// patching it once their content is written.
struct Bytes {
  std::vector<uint8_t> v;
};

void Put8(Bytes& b, uint32_t x) { b.v.push_back(uint8_t(x)); }
void Put16(Bytes& b, uint32_t x) { Put8(b, x >> 8), Put8(b, x); }
void Put24(Bytes& b, uint32_t x) { Put8(b, x >> 16), Put16(b, x); }
void Put32(Bytes& b, uint32_t x) { Put16(b, x >> 16), Put16(b, x); }
void Put64(Bytes& b, uint64_t x) { Put32(b, uint32_t(x >> 32)), Put32(b, uint32_t(x)); }
void PutType(Bytes& b, const char* type) { b.v.insert(b.v.end(), type, type + 4); }
void PutText(Bytes& b, const std::string& s) { b.v.insert(b.v.end(), s.begin(), s.end()); }
void PutZeros(Bytes& b, size_t n) { b.v.insert(b.v.end(), n, 0); }

size_t OpenBox(Bytes& b, const char* type) {
  const size_t start = b.v.size();
  Put32(b, 0);
  PutType(b, type);
  return start;
}
size_t OpenFullBox(Bytes& b, const char* type, int version, uint32_t flags) {
  const size_t start = OpenBox(b, type);
  Put8(b, uint32_t(version));
  Put24(b, flags);
  return start;
}
void CloseBox(Bytes& b, size_t start) {
  const uint32_t size = uint32_t(b.v.size() - start);
  for (int i = 0; i < 4; ++i) b.v[start + i] = uint8_t(size >> (24 - 8 * i));
}

void PutMatrix(Bytes& b) {
  const uint32_t m[9] = {0x00010000, 0, 0, 0, 0x00010000, 0, 0, 0, 0x40000000};
  for (uint32_t x : m) Put32(b, x);
}

// Creation and modification times in the width the version selects: 0, so that the same input
// always gives the same bytes.
void PutTimes(Bytes& b, int version) {
  if (version == 1)
    Put64(b, 0), Put64(b, 0);
  else
    Put32(b, 0), Put32(b, 0);
}

void PutDuration(Bytes& b, int version, uint64_t duration) {
  if (version == 1)
    Put64(b, duration);
  else
    Put32(b, uint32_t(duration));
}

int VersionFor(uint64_t value) { return value > kMaxU32 ? 1 : 0; }

void PutMvhd(Bytes& b, uint32_t timescale, uint64_t duration) {
  const int version = VersionFor(duration);
  const size_t box = OpenFullBox(b, "mvhd", version, 0);
  PutTimes(b, version);
  Put32(b, timescale);
  PutDuration(b, version, duration);
  Put32(b, 0x00010000);  // rate 1.0
  Put16(b, 0x0100);      // volume 1.0
  PutZeros(b, 10);
  PutMatrix(b);
  PutZeros(b, 24);  // pre_defined
  Put32(b, 2);      // next_track_ID
  CloseBox(b, box);
}

void PutTkhd(Bytes& b, uint64_t duration) {
  const int version = VersionFor(duration);
  const size_t box = OpenFullBox(b, "tkhd", version, 0x000003);  // enabled, in movie
  PutTimes(b, version);
  Put32(b, 1);  // track_ID
  Put32(b, 0);  // reserved
  PutDuration(b, version, duration);
  PutZeros(b, 8);
  Put16(b, 0);       // layer
  Put16(b, 1);       // alternate_group: the one audio group
  Put16(b, 0x0100);  // volume
  Put16(b, 0);
  PutMatrix(b);
  Put32(b, 0), Put32(b, 0);  // width, height
  CloseBox(b, box);
}

// One edit: play `duration` movie ticks starting at media time `start` (the priming skipped).
void PutEdts(Bytes& b, uint64_t start, uint64_t duration) {
  const size_t edts = OpenBox(b, "edts");
  const int version = std::max(VersionFor(start), VersionFor(duration));
  const size_t elst = OpenFullBox(b, "elst", version, 0);
  Put32(b, 1);
  PutDuration(b, version, duration);
  PutDuration(b, version, start);
  Put16(b, 1), Put16(b, 0);  // media_rate 1.0
  CloseBox(b, elst);
  CloseBox(b, edts);
}

void PutMdhd(Bytes& b, uint32_t timescale, uint64_t duration) {
  const int version = VersionFor(duration);
  const size_t box = OpenFullBox(b, "mdhd", version, 0);
  PutTimes(b, version);
  Put32(b, timescale);
  PutDuration(b, version, duration);
  Put16(b, ('u' - 0x60) << 10 | ('n' - 0x60) << 5 | ('d' - 0x60));  // language "und"
  Put16(b, 0);
  CloseBox(b, box);
}

void PutHdlr(Bytes& b, const char* handler, const char* reserved0, const char* name) {
  const size_t box = OpenFullBox(b, "hdlr", 0, 0);
  Put32(b, 0);
  PutType(b, handler);
  if (reserved0)
    PutType(b, reserved0);
  else
    Put32(b, 0);
  Put32(b, 0), Put32(b, 0);
  PutText(b, name);
  Put8(b, 0);
  CloseBox(b, box);
}

// MPEG-4 descriptor header: tag and a size in the one-byte form, or four bytes when larger.
void PutDescriptor(Bytes& b, int tag, size_t size) {
  Put8(b, uint32_t(tag));
  if (size < 0x80) {
    Put8(b, uint32_t(size));
    return;
  }
  for (int shift = 21; shift > 0; shift -= 7) Put8(b, 0x80 | uint32_t(size >> shift));
  Put8(b, uint32_t(size) & 0x7F);
}

// Peak bit rate over one-second windows of blocks, and the mean over the whole track.
void Bitrates(const Mp4TrackInfo& track, const Mp4SampleTable& table, uint32_t& maxRate, uint32_t& avgRate) {
  const std::vector<uint32_t>& sizes = table.sampleSizes;
  const double blocksPerSecond = double(track.sampleRate) / kFrameSamples;
  const size_t window = std::max<size_t>(1, size_t(blocksPerSecond + 0.5));
  uint64_t sum = 0, total = 0, peak = 0;
  for (size_t i = 0; i < sizes.size(); ++i) {
    sum += sizes[i];
    total += sizes[i];
    if (i >= window) sum -= sizes[i - window];
    peak = std::max(peak, sum);
  }
  const size_t peakBlocks = std::min(window, sizes.size());
  maxRate = peakBlocks ? uint32_t(double(peak) * 8 * blocksPerSecond / double(peakBlocks)) : 0;
  avgRate = sizes.empty() ? 0 : uint32_t(double(total) * 8 * blocksPerSecond / double(sizes.size()));
}

void PutEsds(Bytes& b, const Mp4TrackInfo& track, const Mp4SampleTable& table) {
  uint32_t maxRate = 0, avgRate = 0, largest = 0;
  Bitrates(track, table, maxRate, avgRate);
  for (uint32_t s : table.sampleSizes) largest = std::max(largest, s);
  const size_t ascBytes = track.audioSpecificConfig.size();
  const size_t decSpecific = 2 + ascBytes;
  const size_t decConfig = 13 + decSpecific;
  const size_t slConfig = 3;
  const size_t esBytes = 3 + (decConfig + 2) + slConfig;
  const size_t box = OpenFullBox(b, "esds", 0, 0);
  PutDescriptor(b, 0x03, esBytes);  // ES_Descriptor
  Put16(b, 0);                      // ES_ID: 0 inside a file
  Put8(b, 0);                       // no dependency, URL or OCR stream
  PutDescriptor(b, 0x04, decConfig);  // DecoderConfigDescriptor
  Put8(b, 0x40);                      // objectTypeIndication: MPEG-4 Audio
  Put8(b, 0x05 << 2 | 1);             // streamType audio, upStream 0, reserved 1
  Put24(b, std::min<uint32_t>(largest, 0xFFFFFF));  // bufferSizeDB
  Put32(b, maxRate);
  Put32(b, avgRate);
  PutDescriptor(b, 0x05, ascBytes);  // DecoderSpecificInfo: the AudioSpecificConfig
  b.v.insert(b.v.end(), track.audioSpecificConfig.begin(), track.audioSpecificConfig.end());
  PutDescriptor(b, 0x06, 1);  // SLConfigDescriptor
  Put8(b, 0x02);              // predefined: MP4 file
  CloseBox(b, box);
}

// The bit-rate box: the largest block, the peak over one second and the mean.
void PutBtrt(Bytes& b, const Mp4TrackInfo& track, const Mp4SampleTable& table) {
  uint32_t maxRate = 0, avgRate = 0, largest = 0;
  Bitrates(track, table, maxRate, avgRate);
  for (uint32_t s : table.sampleSizes) largest = std::max(largest, s);
  const size_t box = OpenBox(b, "btrt");
  Put32(b, largest);  // bufferSizeDB
  Put32(b, maxRate);
  Put32(b, avgRate);
  CloseBox(b, box);
}

void PutStsd(Bytes& b, const Mp4TrackInfo& track, const Mp4SampleTable& table) {
  const size_t stsd = OpenFullBox(b, "stsd", 0, 0);
  Put32(b, 1);
  const size_t mp4a = OpenBox(b, "mp4a");
  PutZeros(b, 6);
  Put16(b, 1);  // data_reference_index
  PutZeros(b, 8);
  Put16(b, uint32_t(track.channels));
  Put16(b, 16);  // samplesize
  Put16(b, 0), Put16(b, 0);
  // 16.16 fixed point; rates above 65535 do not fit and are left to the AudioSpecificConfig.
  Put32(b, track.sampleRate <= 0xFFFF ? uint32_t(track.sampleRate) << 16 : 0);
  PutEsds(b, track, table);
  PutBtrt(b, track, table);
  CloseBox(b, mp4a);
  CloseBox(b, stsd);
}

void PutSampleTables(Bytes& b, const Mp4SampleTable& table) {
  const uint32_t count = uint32_t(table.sampleSizes.size());
  size_t box = OpenFullBox(b, "stts", 0, 0);
  Put32(b, count ? 1 : 0);
  if (count) Put32(b, count), Put32(b, kFrameSamples);
  CloseBox(b, box);

  // Every chunk holds samplesPerChunk blocks except perhaps the last.
  const uint32_t chunks = uint32_t(table.chunkOffsets.size());
  const uint32_t perChunk = table.samplesPerChunk;
  const uint32_t last = chunks ? count - perChunk * (chunks - 1) : 0;
  box = OpenFullBox(b, "stsc", 0, 0);
  const bool split = chunks > 1 && last != perChunk;
  Put32(b, chunks == 0 ? 0 : split ? 2 : 1);
  if (chunks) Put32(b, 1), Put32(b, chunks > 1 ? perChunk : last), Put32(b, 1);
  if (split) Put32(b, chunks), Put32(b, last), Put32(b, 1);
  CloseBox(b, box);

  box = OpenFullBox(b, "stsz", 0, 0);
  Put32(b, 0);  // sizes differ: one entry per block
  Put32(b, count);
  for (uint32_t s : table.sampleSizes) Put32(b, s);
  CloseBox(b, box);

  const bool wide = !table.chunkOffsets.empty() && table.chunkOffsets.back() > kMaxU32;
  box = OpenFullBox(b, wide ? "co64" : "stco", 0, 0);
  Put32(b, chunks);
  for (uint64_t off : table.chunkOffsets) wide ? Put64(b, off) : Put32(b, uint32_t(off));
  CloseBox(b, box);
}

// One iTunes text item: the tag box with a 'data' child of type 1 (UTF-8).
void PutTextItem(Bytes& b, const char* name, const std::string& value) {
  if (value.empty()) return;
  const size_t item = OpenBox(b, name);
  const size_t data = OpenBox(b, "data");
  Put32(b, 1), Put32(b, 0);
  PutText(b, value);
  CloseBox(b, data);
  CloseBox(b, item);
}

void PutFreeformItem(Bytes& b, const char* mean, const char* name, const std::string& value) {
  const size_t item = OpenBox(b, "----");
  size_t box = OpenFullBox(b, "mean", 0, 0);
  PutText(b, mean);
  CloseBox(b, box);
  box = OpenFullBox(b, "name", 0, 0);
  PutText(b, name);
  CloseBox(b, box);
  box = OpenBox(b, "data");
  Put32(b, 1), Put32(b, 0);
  PutText(b, value);
  CloseBox(b, box);
  CloseBox(b, item);
}

void PutUdta(Bytes& b, const Mp4TrackInfo& track, const Mp4Tags& tags, uint64_t mediaSamples) {
  const size_t udta = OpenBox(b, "udta");
  const size_t meta = OpenFullBox(b, "meta", 0, 0);
  PutHdlr(b, "mdir", "appl", "");
  const size_t ilst = OpenBox(b, "ilst");
  const char nam[5] = {char(kCopyright), 'n', 'a', 'm', 0}, art[5] = {char(kCopyright), 'A', 'R', 'T', 0};
  const char alb[5] = {char(kCopyright), 'a', 'l', 'b', 0}, cmt[5] = {char(kCopyright), 'c', 'm', 't', 0};
  const char too[5] = {char(kCopyright), 't', 'o', 'o', 0};
  PutTextItem(b, nam, tags.title);
  PutTextItem(b, art, tags.artist);
  PutTextItem(b, alb, tags.album);
  PutTextItem(b, cmt, tags.comment);
  PutTextItem(b, too, tags.tool);
  const int64_t padding = int64_t(mediaSamples) - track.encoderDelay - track.validSamples;
  PutFreeformItem(b, "com.apple.iTunes", "iTunSMPB", ITunSmpbText(track.encoderDelay, padding, track.validSamples));
  CloseBox(b, ilst);
  CloseBox(b, meta);
  CloseBox(b, udta);
}

bool WriteAll(Mp4Writer& w, const void* data, size_t bytes) {
  if (w.failed) return false;
  if (bytes > 0 && std::fwrite(data, 1, bytes, w.file) != bytes) w.failed = true;
  w.position += bytes;
  return !w.failed;
}

}  // namespace

std::string ITunSmpbText(int64_t delay, int64_t padding, int64_t validSamples) {
  char text[160];
  std::snprintf(text, sizeof text, " 00000000 %08X %08X %016llX 00000000 00000000 00000000 00000000 "
                "00000000 00000000 00000000 00000000", uint32_t(delay), uint32_t(padding),
                static_cast<unsigned long long>(validSamples));
  return text;
}

std::vector<uint8_t> BuildMoov(const Mp4TrackInfo& track, const Mp4Tags& tags, const Mp4SampleTable& table) {
  Bytes b;
  const uint32_t timescale = uint32_t(track.sampleRate);  // movie and media: one tick per sample
  const uint64_t mediaSamples = uint64_t(table.sampleSizes.size()) * kFrameSamples;
  const uint64_t shown = uint64_t(track.validSamples);
  const size_t moov = OpenBox(b, "moov");
  PutMvhd(b, timescale, shown);
  const size_t trak = OpenBox(b, "trak");
  PutTkhd(b, shown);
  PutEdts(b, uint64_t(track.encoderDelay), shown);
  const size_t mdia = OpenBox(b, "mdia");
  PutMdhd(b, timescale, mediaSamples);
  PutHdlr(b, "soun", nullptr, "SoundHandler");
  const size_t minf = OpenBox(b, "minf");
  size_t box = OpenFullBox(b, "smhd", 0, 0);
  Put32(b, 0);  // balance, reserved
  CloseBox(b, box);
  const size_t dinf = OpenBox(b, "dinf");
  const size_t dref = OpenFullBox(b, "dref", 0, 0);
  Put32(b, 1);
  box = OpenFullBox(b, "url ", 0, 1);  // the data is in this file
  CloseBox(b, box);
  CloseBox(b, dref);
  CloseBox(b, dinf);
  const size_t stbl = OpenBox(b, "stbl");
  PutStsd(b, track, table);
  PutSampleTables(b, table);
  CloseBox(b, stbl);
  CloseBox(b, minf);
  CloseBox(b, mdia);
  CloseBox(b, trak);
  PutUdta(b, track, tags, mediaSamples);
  CloseBox(b, moov);
  return std::move(b.v);
}

int Mp4Begin(Mp4Writer& w, FILE* file, int sampleRate) {
  w = Mp4Writer{};
  w.file = file;
  // Chunks of about one second keep the chunk table short and reads large.
  w.table.samplesPerChunk = uint32_t(std::max(1, (sampleRate + kFrameSamples / 2) / kFrameSamples));
  Bytes b;
  const size_t ftyp = OpenBox(b, "ftyp");
  PutType(b, "M4A ");
  Put32(b, 0);
  PutType(b, "M4A "), PutType(b, "mp42"), PutType(b, "isom");
  CloseBox(b, ftyp);
  w.mdatStart = b.v.size();
  PutZeros(b, 16);  // free + mdat headers, or one 64-bit mdat header: decided at the end
  return WriteAll(w, b.v.data(), b.v.size()) ? 0 : 1;
}

int Mp4AddSample(Mp4Writer& w, const uint8_t* data, size_t bytes) {
  if (bytes == 0 || bytes > kMaxU32) return 1;
  if (w.samplesInChunk == 0 || w.samplesInChunk == w.table.samplesPerChunk) {
    w.table.chunkOffsets.push_back(w.position);
    w.samplesInChunk = 0;
  }
  w.samplesInChunk += 1;
  w.table.sampleSizes.push_back(uint32_t(bytes));
  w.payloadBytes += bytes;
  return WriteAll(w, data, bytes) ? 0 : 1;
}

int Mp4Finish(Mp4Writer& w, const Mp4TrackInfo& track, const Mp4Tags& tags) {
  const std::vector<uint8_t> moov = BuildMoov(track, tags, w.table);
  if (!WriteAll(w, moov.data(), moov.size())) return 1;
  Bytes h;
  if (w.payloadBytes + 8 <= kMaxU32) {
    Put32(h, 8), PutType(h, "free");
    Put32(h, uint32_t(w.payloadBytes + 8)), PutType(h, "mdat");
  } else {
    Put32(h, 1), PutType(h, "mdat"), Put64(h, w.payloadBytes + 16);
  }
  if (fseeko(w.file, off_t(w.mdatStart), SEEK_SET) != 0 || std::fwrite(h.v.data(), 1, 16, w.file) != 16 ||
      fseeko(w.file, 0, SEEK_END) != 0)
    w.failed = true;
  return w.failed ? 1 : 0;
}

}  // namespace aacs::tools
