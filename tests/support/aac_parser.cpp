// Test helper: independent AAC bitstream parser (see aac_parser.h).  Tables come from the
// data/*.tsv files; nothing is taken from the encoder.
#include "support/aac_parser.h"

#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

namespace aacs::test {
namespace {

constexpr int kRates[12] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000};

std::vector<std::vector<std::string>> ReadTsv(const std::string& name) {
  std::ifstream in(std::string(AACS_SOURCE_DIR) + "/data/" + name);
  std::vector<std::vector<std::string>> rows;
  std::string line;
  bool header = true;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    if (header) {
      header = false;
      continue;
    }
    std::vector<std::string> cols;
    std::stringstream ss(line);
    std::string col;
    while (std::getline(ss, col, '\t')) cols.push_back(col);
    rows.push_back(cols);
  }
  return rows;
}

struct Book {
  std::map<uint64_t, int> byCode;  // (length << 32 | codeword) -> row
  std::vector<std::vector<int>> values;
};

struct Tables {
  Book spectral[12];
  Book scalefactor;
  std::vector<int> swbLong[12], swbShort[12];
  int predSfbMax[12] = {};
  bool ok = false;
};

const Tables& GetTables() {
  static Tables t;
  static std::once_flag once;
  std::call_once(once, [] {
    for (const auto& r : ReadTsv("huffman_spectral.tsv")) {
      Book& b = t.spectral[std::stoi(r[0])];
      const uint64_t key = static_cast<uint64_t>(std::stoul(r[2])) << 32 | std::stoul(r[3], nullptr, 16);
      b.byCode[key] = static_cast<int>(b.values.size());
      std::vector<int> v;
      for (size_t i = 4; i < r.size(); ++i)
        if (!r[i].empty()) v.push_back(std::stoi(r[i]));
      b.values.push_back(v);
    }
    for (const auto& r : ReadTsv("huffman_scalefactor.tsv")) {
      const uint64_t key = static_cast<uint64_t>(std::stoul(r[1])) << 32 | std::stoul(r[2], nullptr, 16);
      t.scalefactor.byCode[key] = static_cast<int>(t.scalefactor.values.size());
      t.scalefactor.values.push_back({std::stoi(r[0]) - 60});
    }
    for (const auto& r : ReadTsv("swb_offsets.tsv")) {
      for (int i = 0; i < 12; ++i) {
        if (kRates[i] != std::stoi(r[0])) continue;
        std::vector<int>& dst = r[1] == "long" ? t.swbLong[i] : t.swbShort[i];
        std::stringstream ss(r[3]);
        std::string v;
        while (std::getline(ss, v, ',')) dst.push_back(std::stoi(v));
      }
    }
    for (const auto& r : ReadTsv("pred_sfb_max.tsv")) t.predSfbMax[std::stoi(r[1])] = std::stoi(r[2]);
    t.ok = t.spectral[11].values.size() == 289 && t.scalefactor.values.size() == 121 && !t.swbLong[11].empty();
  });
  return t;
}

// Bounded MSB-first reader; the first problem is kept as the error.
struct Reader {
  const uint8_t* data;
  size_t sizeBits;
  size_t pos = 0;
  std::string error{};

  bool Fail(const std::string& message) {
    if (error.empty()) {
      char where[48];
      std::snprintf(where, sizeof where, " (bit %zu)", pos);
      error = message + where;
    }
    return false;
  }
  uint32_t Get(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) {
      if (pos >= sizeBits) {
        Fail("read past the end of the data");
        return 0;
      }
      v = (v << 1) | ((data[pos >> 3] >> (7 - (pos & 7))) & 1u);
      ++pos;
    }
    return v;
  }
  int Int(int n) { return static_cast<int>(Get(n)); }
  bool Ok() const { return error.empty(); }
  // Reads one codeword of book; returns its row or -1.
  int Decode(const Book& book) {
    uint32_t code = 0;
    for (int len = 1; len <= 32 && Ok(); ++len) {
      code = (code << 1) | Get(1);
      auto it = book.byCode.find(static_cast<uint64_t>(len) << 32 | code);
      if (it != book.byCode.end()) return it->second;
    }
    Fail("invalid Huffman codeword");
    return -1;
  }
};

struct Layout {
  const std::vector<int>* swb;
  int numSwb;
  bool shortFrame;
};

Layout LayoutOf(const ParsedIcsInfo& ics, int sfIndex) {
  const Tables& t = GetTables();
  const bool shortFrame = ics.windowSequence == 2;
  const std::vector<int>* swb = shortFrame ? &t.swbShort[sfIndex] : &t.swbLong[sfIndex];
  return {swb, static_cast<int>(swb->size()) - 1, shortFrame};
}

bool ParseLtp(Reader& r, ParsedLtp& ltp, int maxSfb) {
  ltp = {};
  ltp.present = r.Int(1);
  if (!ltp.present) return r.Ok();
  ltp.lag = r.Int(11);
  ltp.coef = r.Int(3);
  ltp.numLongUsed = std::min(maxSfb, 40);
  for (int b = 0; b < ltp.numLongUsed; ++b) ltp.longUsed[b] = r.Int(1);
  return r.Ok();
}

bool ParseIcsInfo(Reader& r, const StreamFormat& fmt, bool commonWindow, ParsedIcsInfo& ics) {
  ics = {};
  if (r.Get(1)) return r.Fail("ics_reserved_bit set");
  ics.windowSequence = r.Int(2);
  ics.windowShape = r.Int(1);
  const Layout layout = LayoutOf(ics, fmt.sfIndex);
  if (layout.shortFrame) {
    ics.maxSfb = r.Int(4);
    ics.scaleFactorGrouping = r.Int(7);
    ics.numWindowGroups = 1;
    ics.groupLength[0] = 1;
    for (int w = 1; w < 8; ++w) {
      if ((ics.scaleFactorGrouping >> (7 - w)) & 1)
        ++ics.groupLength[ics.numWindowGroups - 1];
      else
        ics.groupLength[ics.numWindowGroups++] = 1;
    }
  } else {
    ics.maxSfb = r.Int(6);
    ics.numWindowGroups = 1;
    ics.groupLength[0] = 1;
    ics.predictorDataPresent = r.Int(1);
    if (ics.predictorDataPresent) {
      if (fmt.profile == 0) {
        ics.predictorReset = r.Int(1);
        if (ics.predictorReset) ics.predictorResetGroup = r.Int(5);
        ics.numPredictionUsed = std::min(ics.maxSfb, GetTables().predSfbMax[fmt.sfIndex]);
        for (int b = 0; b < ics.numPredictionUsed; ++b) ics.predictionUsed[b] = r.Int(1);
      } else if (fmt.profile == 3) {
        if (!ParseLtp(r, ics.ltp[0], ics.maxSfb)) return false;
        if (commonWindow && !ParseLtp(r, ics.ltp[1], ics.maxSfb)) return false;
      } else {
        return r.Fail("predictor data in a profile without prediction");
      }
    }
  }
  if (ics.maxSfb > layout.numSwb) return r.Fail("max_sfb larger than the band count");
  return r.Ok();
}

bool ParseSections(Reader& r, ParsedChannel& c, const Layout& layout) {
  const int lenBits = layout.shortFrame ? 3 : 5;
  const int esc = (1 << lenBits) - 1;
  c.numSections = 0;
  for (int g = 0; g < c.ics.numWindowGroups; ++g) {
    int k = 0;
    while (k < c.ics.maxSfb && r.Ok()) {
      const int book = r.Int(4);
      if (book == 12) return r.Fail("reserved codebook 12");
      int len = 0, inc;
      do len += inc = r.Int(lenBits);
      while (inc == esc && r.Ok());
      if (len == 0 || k + len > c.ics.maxSfb) return r.Fail("section runs past max_sfb");
      for (int i = 0; i < len; ++i) c.codebook[g * c.ics.maxSfb + k + i] = book;
      k += len;
      ++c.numSections;
    }
  }
  return r.Ok();
}

bool ParseScalefactors(Reader& r, ParsedChannel& c) {
  const Book& sfBook = GetTables().scalefactor;
  int sf = c.globalGain, noise = c.globalGain, intensity = 0;
  bool firstNoise = true;
  for (int b = 0; b < c.numBands && r.Ok(); ++b) {
    const int book = c.codebook[b];
    if (book == 0) continue;
    if (book == 13 && firstNoise) {
      firstNoise = false;
      noise += r.Int(9) - 256;
      c.scalefactor[b] = noise;
      continue;
    }
    const int row = r.Decode(sfBook);
    if (row < 0) return false;
    const int d = sfBook.values[row][0];
    int& ref = book == 13 ? noise : book >= 14 ? intensity : sf;
    ref += d;
    if (book <= 11 && (ref < 0 || ref > 255)) return r.Fail("scalefactor outside 0..255");
    c.scalefactor[b] = ref;
  }
  return r.Ok();
}

bool ParsePulses(Reader& r, ParsedChannel& c, bool shortFrame) {
  c.pulseDataPresent = r.Int(1);
  if (!c.pulseDataPresent) return r.Ok();
  if (shortFrame) return r.Fail("pulse data in an eight-short frame");
  c.numPulse = r.Int(2) + 1;
  c.pulseStartSfb = r.Int(6);
  for (int i = 0; i < c.numPulse; ++i) {
    c.pulseOffset[i] = r.Int(5);
    c.pulseAmp[i] = r.Int(4);
  }
  return r.Ok();
}

bool ParseTns(Reader& r, ParsedChannel& c, bool shortFrame) {
  c.tnsDataPresent = r.Int(1);
  if (!c.tnsDataPresent) return r.Ok();
  const int windows = shortFrame ? 8 : 1;
  for (int w = 0; w < windows && r.Ok(); ++w) {
    ParsedTnsWindow& tw = c.tns[w];
    tw.nFilt = r.Int(shortFrame ? 1 : 2);
    if (!tw.nFilt) continue;
    tw.coefRes = r.Int(1) + 3;
    for (int f = 0; f < tw.nFilt; ++f) {
      ParsedTnsFilter& flt = tw.filter[f];
      flt.length = r.Int(shortFrame ? 4 : 6);
      flt.order = r.Int(shortFrame ? 3 : 5);
      if (!flt.order) continue;
      flt.direction = r.Int(1);
      flt.coefCompress = r.Int(1);
      for (int i = 0; i < flt.order; ++i) flt.coef[i] = r.Int(tw.coefRes - flt.coefCompress);
    }
  }
  return r.Ok();
}

int Escape(Reader& r) {
  int prefix = 0;
  while (r.Get(1) && r.Ok())
    if (++prefix > 8) return r.Fail("escape prefix too long"), 0;
  const int n = prefix + 4;
  return (1 << n) + r.Int(n);
}

// One band of one window: width values of book into out.
bool DecodeBandWindow(Reader& r, int book, int width, int* out) {
  const Book& b = GetTables().spectral[book];
  const int tuple = book <= 4 ? 4 : 2;
  const bool unsignedBook = book == 3 || book == 4 || book >= 7;
  for (int i = 0; i < width && r.Ok(); i += tuple) {
    const int row = r.Decode(b);
    if (row < 0) return false;
    int v[4];
    for (int k = 0; k < tuple; ++k) v[k] = b.values[row][k];
    if (unsignedBook)
      for (int k = 0; k < tuple; ++k)
        if (v[k] && r.Get(1)) v[k] = -v[k];
    if (book == 11)
      for (int k = 0; k < tuple; ++k)
        if (v[k] == 16 || v[k] == -16) v[k] = v[k] > 0 ? Escape(r) : -Escape(r);
    for (int k = 0; k < tuple; ++k) out[i + k] = v[k];
  }
  return r.Ok();
}

bool ParseSpectrum(Reader& r, ParsedChannel& c, const Layout& layout) {
  const std::vector<int>& swb = *layout.swb;
  int coded = 0, window = 0;
  for (int g = 0; g < c.ics.numWindowGroups; ++g) {
    for (int b = 0; b < c.ics.maxSfb; ++b) {
      const int book = c.codebook[g * c.ics.maxSfb + b];
      const int width = swb[b + 1] - swb[b];
      for (int w = 0; w < c.ics.groupLength[g]; ++w) {
        int* dst = c.qCoded + coded;
        if (book >= 1 && book <= 11 && !DecodeBandWindow(r, book, width, dst)) return false;
        const int base = layout.shortFrame ? (window + w) * 128 : 0;
        for (int i = 0; i < width; ++i) c.q[base + swb[b] + i] = dst[i];
        coded += width;
      }
    }
    window += c.ics.groupLength[g];
  }
  if (c.pulseDataPresent) {
    if (c.pulseStartSfb >= layout.numSwb) return r.Fail("pulse_start_sfb beyond the bands");
    int line = swb[c.pulseStartSfb];
    for (int i = 0; i < c.numPulse; ++i) {
      line += c.pulseOffset[i];
      if (line >= 1024) return r.Fail("pulse beyond the spectrum");
      int& v = c.q[line];
      v += v > 0 ? c.pulseAmp[i] : -c.pulseAmp[i];
      c.qCoded[line] = v;
    }
  }
  return r.Ok();
}

bool ParseChannelStream(Reader& r, const StreamFormat& fmt, bool commonWindow, ParsedChannel& c) {
  c.globalGain = r.Int(8);
  if (!commonWindow && !ParseIcsInfo(r, fmt, false, c.ics)) return false;
  const Layout layout = LayoutOf(c.ics, fmt.sfIndex);
  c.numBands = c.ics.maxSfb * c.ics.numWindowGroups;
  if (!ParseSections(r, c, layout) || !ParseScalefactors(r, c) || !ParsePulses(r, c, layout.shortFrame) ||
      !ParseTns(r, c, layout.shortFrame))
    return false;
  if (r.Get(1)) return r.Fail("gain control data present");
  return ParseSpectrum(r, c, layout);
}

bool ParseElements(Reader& r, const StreamFormat& fmt, ParsedFrame& out) {
  const size_t start = r.pos;
  for (;;) {
    const int id = r.Int(3);
    if (!r.Ok()) return false;
    if (id == 7) break;
    if (id == 6) {  // fill element: count (escaped past 14), then that many payload bytes
      int count = r.Int(4);
      if (count == 15) count += r.Int(8) - 1;
      for (int i = 0; i < count; ++i) r.Get(8);
      out.fillBytes += count;
      continue;
    }
    if (id != 0 && id != 1 && id != 3) return r.Fail("unexpected element id " + std::to_string(id));
    ParsedElement e{};
    const size_t elementStart = r.pos - 3;
    e.id = id;
    e.tag = r.Int(4);
    e.numChannels = id == 1 ? 2 : 1;
    if (id == 1) {
      e.commonWindow = r.Int(1);
      if (e.commonWindow) {
        if (!ParseIcsInfo(r, fmt, true, e.ch[0].ics)) return false;
        e.ch[1].ics = e.ch[0].ics;
        e.msMaskPresent = r.Int(2);
        if (e.msMaskPresent == 3) return r.Fail("reserved ms_mask_present 3");
        if (e.msMaskPresent == 1)
          for (int b = 0; b < e.ch[0].ics.maxSfb * e.ch[0].ics.numWindowGroups; ++b)
            e.msUsed[b] = r.Int(1);
      }
    }
    for (int k = 0; k < e.numChannels; ++k)
      if (!ParseChannelStream(r, fmt, e.commonWindow, e.ch[k])) return false;
    e.bits = static_cast<int>(r.pos - elementStart);
    out.elements.push_back(e);
  }
  out.rawBits = static_cast<int>(r.pos - start);
  while (r.pos % 8) {
    if (r.Get(1)) return r.Fail("non-zero byte alignment bits");
  }
  return r.Ok();
}

bool Finish(Reader& r, std::string* error) {
  if (!r.Ok() && error) *error = r.error;
  return r.Ok();
}

}  // namespace

bool ParseAdtsFrame(const uint8_t* data, size_t size, int headerBits, ParsedFrame* out, std::string* error) {
  Reader r{data, size * 8};
  if (!GetTables().ok) return r.Fail("cannot read the data/*.tsv tables"), Finish(r, error);
  *out = ParsedFrame{};
  out->hasAdts = true;
  AdtsHeader& h = out->adts;
  int* fields[] = {&h.syncword, &h.id, &h.layer, &h.protectionAbsent, &h.profile, &h.sfIndex, &h.privateBit,
                   &h.channelConfig, &h.originalCopy, &h.home, &h.emphasis, &h.copyrightIdBit, &h.copyrightIdStart,
                   &h.frameLength, &h.bufferFullness, &h.numRawDataBlocks};
  const int widths[] = {12, 1, 2, 1, 2, 4, 1, 3, 1, 1, headerBits == 58 ? 2 : 0, 1, 1, 13, 11, 2};
  for (int i = 0; i < 16; ++i) *fields[i] = r.Int(widths[i]);
  if (headerBits != 58) h.emphasis = -1;
  h.headerBits = static_cast<int>(r.pos);
  if (!r.Ok()) return Finish(r, error);
  if (h.syncword != 0xFFF) r.Fail("no ADTS syncword");
  else if (h.layer != 0 || !h.protectionAbsent) r.Fail("unexpected layer or CRC");
  else if (h.sfIndex > 11) r.Fail("sampling-frequency index out of range");
  else if (h.numRawDataBlocks != 0) r.Fail("more than one raw data block");
  else if (static_cast<size_t>(h.frameLength) > size || h.frameLength * 8 < h.headerBits)
    r.Fail("frame length field does not fit the data");
  if (!r.Ok()) return Finish(r, error);
  r.sizeBits = static_cast<size_t>(h.frameLength) * 8;
  if (!ParseElements(r, StreamFormat{h.profile, h.sfIndex}, *out)) return Finish(r, error);
  out->totalBits = static_cast<int>(r.pos);
  if (r.pos != r.sizeBits) r.Fail("frame length field " + std::to_string(h.frameLength) + " but the frame has " +
                                  std::to_string(r.pos / 8) + " bytes");
  return Finish(r, error);
}

bool ParseRawDataBlock(const uint8_t* data, size_t size, const StreamFormat& format, ParsedFrame* out,
                       std::string* error) {
  Reader r{data, size * 8};
  if (!GetTables().ok) return r.Fail("cannot read the data/*.tsv tables"), Finish(r, error);
  *out = ParsedFrame{};
  if (!ParseElements(r, format, *out)) return Finish(r, error);
  out->totalBits = static_cast<int>(r.pos);
  return Finish(r, error);
}

bool ParseAdtsStream(const uint8_t* data, size_t size, int headerBits, std::vector<ParsedFrame>* out,
                     std::string* error) {
  out->clear();
  size_t pos = 0;
  while (pos < size) {
    ParsedFrame f;
    std::string e;
    if (!ParseAdtsFrame(data + pos, size - pos, headerBits, &f, &e)) {
      if (error) *error = "frame " + std::to_string(out->size()) + ": " + e;
      return false;
    }
    pos += static_cast<size_t>(f.adts.frameLength);
    out->push_back(std::move(f));
  }
  return true;
}

bool ParseAdifHeader(const uint8_t* data, size_t size, AdifHeader* out, std::string* error) {
  Reader r{data, size * 8};
  *out = AdifHeader{};
  if (r.Get(32) != 0x41444946u) r.Fail("no ADIF id");
  if (r.Get(1)) r.Get(72);  // copyright id
  r.Get(2);                 // original/copy, home
  out->bitstreamType = r.Int(1);
  out->bitRate = r.Int(23);
  out->numProgramConfigs = r.Int(4) + 1;
  for (int i = 0; i < out->numProgramConfigs && r.Ok(); ++i) {
    if (out->bitstreamType == 0) r.Get(20);  // buffer fullness
    r.Get(4);                                // element instance tag
    const int objectType = r.Int(2), sfIndex = r.Int(4), front = r.Int(4), side = r.Int(4), back = r.Int(4);
    const int lfe = r.Int(2), assoc = r.Int(3), cc = r.Int(4);
    for (int mixdownBits : {4, 4, 3})
      if (r.Get(1)) r.Get(mixdownBits);
    r.Get(5 * (front + side + back + cc) + 4 * (lfe + assoc));
    while (r.pos % 8 && r.Ok())
      if (r.Get(1)) r.Fail("non-zero byte alignment bits");
    r.Get(8 * r.Int(8));  // comment field
    if (i == 0) out->objectType = objectType, out->sfIndex = sfIndex;
  }
  out->headerBytes = static_cast<int>(r.pos / 8);
  return Finish(r, error);
}

}  // namespace aacs::test
