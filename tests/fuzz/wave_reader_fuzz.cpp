// libFuzzer target for the WAV reader: every input is written to a temporary file, opened, and
// read to the end in whole frames (plus one request that is not), so the chunk walk, the format
// checks and all sample converters see hostile files.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "api/wave_reader.h"

namespace {

std::string gPath;

void RemoveTempFile() { unlink(gPath.c_str()); }

const char* TempPath() {
  if (gPath.empty()) {
    const char* dir = std::getenv("TMPDIR");
    std::string name = std::string(dir && *dir ? dir : "/tmp") + "/aacs_wav_fuzz_XXXXXX";
    const int fd = mkstemp(name.data());
    if (fd < 0) std::abort();
    close(fd);
    gPath = name;
    std::atexit(RemoveTempFile);
  }
  return gPath.c_str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace aacs::api;
  FILE* f = std::fopen(TempPath(), "wb");
  if (!f || (size && std::fwrite(data, 1, size, f) != size)) std::abort();
  std::fclose(f);

  WaveFormatReport report{};
  int status = -1;
  WaveReader* r = WaveReaderOpen(TempPath(), &report, &status);
  if (!r && status == kWaveOk) std::abort();
  if (!r) return 0;
  if (report.numChannels < 1 || report.numFrames < 1 || report.blockAlign < 1 ||
      report.numFrames * report.blockAlign > int64_t(size))
    std::abort();

  // Reads of a size that depends on the input, so short and long requests both occur; at most
  // 64k samples, whatever the channel count.
  const int framesPerRead = 1 + int(size % size_t(std::max(1, 65536 / report.numChannels)));
  std::vector<int16_t> buffer(size_t(framesPerRead) * size_t(report.numChannels));
  if (report.numChannels > 1 && WaveReaderRead(r, buffer.data(), 1) != -1) std::abort();
  int64_t total = 0;
  for (;;) {
    int n = WaveReaderRead(r, buffer.data(), int(buffer.size()));
    if (n < 0 || n % report.numChannels != 0) std::abort();
    total += n;
    if (n < int(buffer.size())) break;
  }
  if (total != report.numFrames * report.numChannels) std::abort();
  if (WaveReaderRead(r, buffer.data(), int(buffer.size())) != 0) std::abort();
  if (WaveReaderClose(r) != 0) std::abort();
  return 0;
}
