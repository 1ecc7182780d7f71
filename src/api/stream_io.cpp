// api/stream_io.cpp — output-file writes and the stream's I/O failure state.
#include "api/stream_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "api/stream_context.h"

namespace aacs::api {
namespace {

const char* ErrnoText(int err) { return std::strerror(err != 0 ? err : EIO); }

}  // namespace

void KeepFileName(char* field, const char* name) {
  std::snprintf(field, kMaxFileNameChars, "%s", name != nullptr ? name : "");
}

void FailStreamIo(StreamContext& ctx, int status, const char* reason) {
  if (ctx.ioStatus != kIoOk) return;
  ctx.ioStatus = status;
  std::fflush(stdout);
  if (status == kIoWriteFailed)
    std::fprintf(stderr, "aacstream: cannot write '%s': %s\n", ctx.outputName, reason);
  else
    std::fprintf(stderr, "aacstream: reading '%s' failed: %s\n", ctx.inputName, reason);
}

int WriteOutputBytes(StreamContext& ctx, const uint8_t* data, int bytes) {
  if (ctx.ioStatus != kIoOk || ctx.outputFile == nullptr) return 1;
  if (bytes <= 0) return 0;
  errno = 0;
  // A buffered fwrite may report every byte taken while the write beneath it failed: the error
  // flag tells.
  if (std::fwrite(data, 1, static_cast<size_t>(bytes), ctx.outputFile) == static_cast<size_t>(bytes) &&
      !std::ferror(ctx.outputFile))
    return 0;
  FailStreamIo(ctx, kIoWriteFailed, ErrnoText(errno));
  return 1;
}

int FlushOutputFile(StreamContext& ctx) {
  if (ctx.ioStatus != kIoOk || ctx.outputFile == nullptr) return ctx.ioStatus != kIoOk;
  errno = 0;
  if (std::fflush(ctx.outputFile) == 0) return 0;
  FailStreamIo(ctx, kIoWriteFailed, ErrnoText(errno));
  return 1;
}

void CloseOutputFile(StreamContext& ctx) {
  if (ctx.outputFile == nullptr) return;
  errno = 0;
  const bool failed = std::ferror(ctx.outputFile) != 0;
  if (std::fclose(ctx.outputFile) != 0 || failed) FailStreamIo(ctx, kIoWriteFailed, ErrnoText(errno));
  ctx.outputFile = nullptr;
}

}  // namespace aacs::api
