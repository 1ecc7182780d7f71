// tests/support/audio_support.cpp — WAV files, encoding, decoding and measures for e2e tests.
#include "support/audio_support.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "aacstream/aacstream.h"

namespace aacs::testing {
namespace {

uint32_t Le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }
uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
void Put(std::vector<uint8_t>& v, uint32_t x, int bytes) {
  for (int i = 0; i < bytes; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}
void PutTag(std::vector<uint8_t>& v, const char* tag) { v.insert(v.end(), tag, tag + std::strlen(tag)); }

short ToPcm(float s) { return static_cast<short>(std::clamp(std::lround(s), -32768L, 32767L)); }

struct CommandResult {
  int status = -1;
  std::string output;  // stdout and stderr together
};

CommandResult RunCommand(const std::string& command) {
  CommandResult r;
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (!p) return r;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) r.output.append(buffer, n);
  const int status = pclose(p);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

// Runs `command` (with IN and OUT replaced by temporary paths) on the stream and reads its WAV.
Decoded RunDecoder(const std::vector<uint8_t>& stream, const std::string& command, const std::string& extension) {
  Decoded d;
  const std::string in = TempPath("in" + extension), out = TempPath("decoded.wav");
  WriteFile(in, stream);
  std::string c = command;
  c.replace(c.find("IN"), 2, "'" + in + "'");
  c.replace(c.find("OUT"), 3, "'" + out + "'");
  const CommandResult r = RunCommand(c);
  d.status = r.status;
  d.errors = r.output;
  ReadWav(out, d.audio);
  std::remove(in.c_str());
  std::remove(out.c_str());
  return d;
}

// Spectrum of n values of x (n a power of two) under a Hann window, by an in-place radix-2 FFT
// (test code, independent of the encoder's primitives).
std::vector<std::complex<double>> HannSpectrum(const std::function<double(size_t)>& x, size_t n) {
  std::vector<std::complex<double>> a(n);
  for (size_t i = 0; i < n; ++i) a[i] = x(i) * (0.5 - 0.5 * std::cos(2 * M_PI * static_cast<double>(i) / static_cast<double>(n)));
  for (size_t i = 1, j = 0; i < n; ++i) {
    size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(a[i], a[j]);
  }
  for (size_t len = 2; len <= n; len <<= 1) {
    const double angle = -2.0 * M_PI / static_cast<double>(len);
    const std::complex<double> step(std::cos(angle), std::sin(angle));
    for (size_t i = 0; i < n; i += len) {
      std::complex<double> w(1.0, 0.0);
      for (size_t k = 0; k < len / 2; ++k) {
        const std::complex<double> u = a[i + k], v = a[i + k + len / 2] * w;
        a[i + k] = u + v;
        a[i + k + len / 2] = u - v;
        w *= step;
      }
    }
  }
  return a;
}

std::vector<double> Mix(const Audio& a) {
  std::vector<double> m(static_cast<size_t>(a.Frames()));
  for (int i = 0; i < a.Frames(); ++i) {
    double s = 0;
    for (int c = 0; c < a.channels; ++c) s += a.At(i, c);
    m[static_cast<size_t>(i)] = s;
  }
  return m;
}

}  // namespace

std::string DataPath(const std::string& name) { return std::string(AACS_TEST_DATA_DIR) + "/" + name; }

std::string TempPath(const std::string& name) {
  static std::atomic<int> counter{0};
  return ::testing::TempDir() + "aacs_" + std::to_string(getpid()) + "_" + std::to_string(counter++) + "_" + name;
}

bool ReadFile(const std::string& path, std::vector<uint8_t>& bytes) {
  std::ifstream in(path, std::ios::binary);
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return in.is_open();
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return out.good();
}

bool ReadWav(const std::string& path, Audio& out) {
  std::vector<uint8_t> b;
  if (!ReadFile(path, b) || b.size() < 12 || std::memcmp(b.data(), "RIFF", 4) || std::memcmp(b.data() + 8, "WAVE", 4))
    return false;
  size_t pos = 12;
  int bits = 0;
  out = Audio{};
  while (pos + 8 <= b.size()) {
    const uint32_t size = Le32(&b[pos + 4]);
    const uint8_t* body = &b[pos + 8];
    if (!std::memcmp(&b[pos], "fmt ", 4) && size >= 16) {
      out.channels = Le16(body + 2);
      out.sampleRate = static_cast<int>(Le32(body + 4));
      bits = Le16(body + 14);
    } else if (!std::memcmp(&b[pos], "data", 4)) {
      if (bits != 16 || out.channels == 0) return false;
      const size_t bytes = std::min<size_t>(size, b.size() - pos - 8) & ~size_t{1};
      out.samples.resize(bytes / 2);
      for (size_t i = 0; i < bytes / 2; ++i) out.samples[i] = static_cast<int16_t>(Le16(body + 2 * i));
      return true;
    }
    pos += 8 + size + (size & 1);
  }
  return false;
}

bool WriteWav(const std::string& path, const Audio& audio) {
  std::vector<uint8_t> v;
  const uint32_t dataBytes = static_cast<uint32_t>(audio.samples.size() * 2), rate = static_cast<uint32_t>(audio.sampleRate);
  const uint32_t channels = static_cast<uint32_t>(audio.channels);
  PutTag(v, "RIFF");
  Put(v, 36 + dataBytes, 4);
  PutTag(v, "WAVEfmt ");
  for (uint32_t x : {16u, 1u | channels << 16, rate, rate * channels * 2, channels * 2 | 16u << 16}) Put(v, x, 4);
  PutTag(v, "data");
  Put(v, dataBytes, 4);
  for (float s : audio.samples) Put(v, static_cast<uint16_t>(ToPcm(s)), 2);
  return WriteFile(path, v);
}

Audio Load(const std::string& name) {
  Audio a;
  EXPECT_TRUE(ReadWav(DataPath(name), a)) << name;
  return a;
}

Audio Sine(int sampleRate, int channels, double seconds, double hz, double amplitude, double hzStep) {
  Audio a{sampleRate, channels, {}};
  const int frames = static_cast<int>(seconds * sampleRate);
  for (int i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c)
      a.samples.push_back(static_cast<float>(std::lround(amplitude * std::sin(2 * M_PI * (hz + c * hzStep) * i / sampleRate))));
  return a;
}

Audio Downmix(const Audio& in) {
  Audio out{in.sampleRate, 1, {}};
  for (int i = 0; i < in.Frames(); ++i) out.samples.push_back(std::floor(0.5f * (in.At(i, 0) + in.At(i, 1))));
  return out;
}

namespace {

StreamContext* Open(const EncodeOptions& o, int rate, int channels, const char* wav, const char* out) {
  std::vector<int> keys{AACSTREAM_OPT_ADTS_HEADER_BITS}, values{o.adtsBits};
  for (auto [k, v] : o.extra) keys.push_back(k), values.push_back(v);
  const bool file = wav != nullptr;
  return aacStreamOpenEx32(file, file, rate, o.kbps, channels, o.lfe, o.preset, o.lcOnly, o.headerType, o.bandwidth,
                           o.psyOption, o.quality, wav, out, file ? "ab" : nullptr, nullptr, file ? "xyz" : nullptr,
                           file ? 2020 : 2024, keys.data(), values.data(), static_cast<int>(keys.size()));
}

}  // namespace

Encoded EncodeAudio(const Audio& in, const EncodeOptions& o) {
  Encoded e;
  StreamContext* s = Open(o, in.sampleRate, in.channels, nullptr, nullptr);
  if (!s) return e;
  e.opened = true;
  if (o.configure) o.configure(s);
  std::vector<uint8_t> out(static_cast<size_t>(aacStreamMaxOutputBytes32(s)));
  std::vector<short> pcm(in.samples.size());
  std::transform(in.samples.begin(), in.samples.end(), pcm.begin(), ToPcm);
  const int perCall = 1024 * in.channels, total = static_cast<int>(pcm.size());
  int length = 0;
  for (int pos = 0; e.lastResult != 1 && e.lastResult != 2; pos += perCall) {
    if (o.beforeCall) o.beforeCall(s, e.calls);
    e.lastResult = aacStreamEncodeFrame32(s, pcm.data() + pos, out.data(), std::min(perCall, total - pos), &length);
    ++e.calls;
    if (e.lastResult != 1) e.bytes.insert(e.bytes.end(), out.begin(), out.begin() + length);
  }
  e.flushResult = aacStreamFlush32(s, out.data(), &length);
  if (e.flushResult == 0) e.bytes.insert(e.bytes.end(), out.begin(), out.begin() + length);
  aacStreamClose32(s);
  aacStreamDestroy32(s);
  return e;
}

Encoded EncodeFile(const std::string& wav, const EncodeOptions& o, int sampleRate, bool trailer) {
  Encoded e;
  const std::string out = TempPath("file_output.aac");
  StreamContext* s = Open(o, sampleRate, 0, wav.c_str(), out.c_str());
  if (!s) return e;
  e.opened = true;
  int length = 0;
  do ++e.calls;
  while ((e.lastResult = aacStreamEncodeFrame32(s, nullptr, nullptr, 0, &length)) == 0);
  aacStreamClose32(s);
  if (trailer) {
    FILE* f = std::fopen(out.c_str(), "ab");
    WriteVelmorAACHeader(s, f);
    std::fclose(f);
  }
  aacStreamDestroy32(s);
  ReadFile(out, e.bytes);
  std::remove(out.c_str());
  return e;
}

Decoded DecodeFfmpeg(const std::vector<uint8_t>& stream, const std::string& extension) {
  return RunDecoder(stream, "ffmpeg -nostdin -hide_banner -v error -y -i IN -c:a pcm_s16le -f wav OUT", extension);
}

Decoded DecodeFaad(const std::vector<uint8_t>& stream, bool legacyAdts, const std::string& extension) {
  return RunDecoder(stream, std::string("faad -q ") + (legacyAdts ? "-t " : "") + "-o OUT IN", extension);
}

void ExpectBothDecodersClean(const Audio& in, const std::vector<uint8_t>& stream, double minSnrDb) {
  const Decoded ffmpeg = DecodeFfmpeg(stream), faad = DecodeFaad(stream, false);
  EXPECT_EQ(ffmpeg.errors, "");
  EXPECT_EQ(faad.status, 0) << faad.errors;
  EXPECT_GT(SnrDb(in, ffmpeg.audio, 1024), minSnrDb);
  EXPECT_GT(SnrDb(in, faad.audio, 0), minSnrDb);
}

AdtsWalk WalkAdts(const std::vector<uint8_t>& b, int headerBits) {
  AdtsWalk w;
  size_t pos = 0;
  int frames = 0;
  while (pos + 8 <= b.size()) {
    const uint8_t* h = &b[pos];
    if (h[0] != 0xFF || (h[1] & 0xF6) != 0xF0) return w;
    // Fields after the 2 bits of emphasis (58-bit form) are shifted by 2 bits.
    uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits = (bits << 8) | h[i];
    const int shift = headerBits == 58 ? 2 : 0;
    const int length = static_cast<int>((bits >> (64 - 30 - 13 - shift)) & 0x1FFF);
    if (length < 7 || pos + static_cast<size_t>(length) > b.size()) return w;
    w.profile = (h[2] >> 6) & 3;
    w.sampleRateIndex = (h[2] >> 2) & 15;
    w.channelConfig = ((h[2] & 1) << 2) | (h[3] >> 6);
    w.maxFrameBytes = std::max(w.maxFrameBytes, length);
    pos += static_cast<size_t>(length);
    ++frames;
  }
  if (pos == b.size()) w.frames = frames;
  return w;
}

std::vector<test::ParsedFrame> ParseFrames(const std::vector<uint8_t>& stream, int headerBits) {
  std::vector<test::ParsedFrame> frames;
  std::string error;
  EXPECT_TRUE(test::ParseAdtsStream(stream.data(), stream.size(), headerBits, &frames, &error)) << error;
  return frames;
}

int FfmpegChannel(int channels, int ch) {
  static const int kFromFfmpeg[7][6] = {{0}, {0}, {0, 1}, {2, 0, 1}, {2, 0, 1, 3}, {2, 0, 1, 3, 4}, {2, 0, 1, 4, 5, 3}};
  return kFromFfmpeg[channels][ch];
}

int FindDelay(const Audio& reference, const Audio& decoded, int maxLag) {
  const std::vector<double> r = Mix(reference), d = Mix(decoded);
  const int n = static_cast<int>(std::min<size_t>(r.size(), 65536));
  int best = 0;
  double bestScore = -1e300;
  for (int lag = 0; lag <= maxLag; ++lag) {
    double c = 0, e = 0;
    for (int i = 0; i < n && i + lag < static_cast<int>(d.size()); ++i) {
      c += r[static_cast<size_t>(i)] * d[static_cast<size_t>(i + lag)];
      e += d[static_cast<size_t>(i + lag)] * d[static_cast<size_t>(i + lag)];
    }
    const double score = e > 0 ? c / std::sqrt(e) : 0;
    if (score > bestScore) bestScore = score, best = lag;
  }
  return best;
}

double SnrDb(const Audio& reference, const Audio& decoded, int delay) {
  double signal = 0, noise = 0;
  const int frames = std::min(reference.Frames(), decoded.Frames() - delay);
  for (int i = 0; i < frames; ++i)
    for (int c = 0; c < reference.channels; ++c) {
      const double x = reference.At(i, c), y = decoded.At(i + delay, c);
      signal += x * x;
      noise += (x - y) * (x - y);
    }
  if (noise == 0) return 200.0;
  return 10.0 * std::log10(signal / noise);
}

double LevelDb(const Audio& audio, int start, int count, int channel) {
  const int end = count < 0 ? audio.Frames() : std::min(audio.Frames(), start + count);
  double sum = 0;
  long n = 0;
  for (int i = start; i < end; ++i)
    for (int c = channel < 0 ? 0 : channel; c < (channel < 0 ? audio.channels : channel + 1); ++c, ++n)
      sum += static_cast<double>(audio.At(i, c)) * audio.At(i, c);
  if (n == 0 || sum == 0) return -200.0;
  return 10.0 * std::log10(sum / n / (32768.0 * 32768.0));
}

double DominantFrequency(const Audio& audio, int channel, int start, int count) {
  size_t n = 1;
  while (n * 2 <= static_cast<size_t>(count)) n *= 2;
  const auto a = HannSpectrum([&](size_t i) { return audio.At(start + static_cast<int>(i), channel); }, n);
  size_t peak = 1;
  for (size_t k = 1; k < n / 2; ++k)
    if (std::abs(a[k]) > std::abs(a[peak])) peak = k;
  const double l = std::log(std::abs(a[peak - 1]) + 1e-12), m = std::log(std::abs(a[peak]) + 1e-12),
               r = std::log(std::abs(a[peak + 1]) + 1e-12);
  return (static_cast<double>(peak) + 0.5 * (l - r) / (l - 2 * m + r)) * audio.sampleRate / static_cast<double>(n);
}

double BandwidthHz(const Audio& audio) {
  const size_t n = 4096, lowest = static_cast<size_t>(20.0 * n / audio.sampleRate) + 1;
  std::vector<double> power(n / 2, 0.0);
  const std::vector<double> mix = Mix(audio);
  for (size_t start = 0; start + n <= mix.size(); start += n / 2) {
    const auto a = HannSpectrum([&](size_t i) { return mix[start + i]; }, n);
    for (size_t k = 0; k < n / 2; ++k) power[k] += std::norm(a[k]);
  }
  const double peak = *std::max_element(power.begin() + static_cast<long>(lowest), power.end());
  if (peak == 0) return 0;
  size_t top = lowest;
  for (size_t k = lowest; k < n / 2; ++k)
    if (power[k] >= peak * 1e-6) top = k;
  return static_cast<double>(top) * audio.sampleRate / static_cast<double>(n);
}

}  // namespace aacs::testing
