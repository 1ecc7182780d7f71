// api/stream_io.h — the stream's own files: writing the coded bytes, finishing the output file,
// and what happens when a read or a write fails.
//
// The first failure is kept in ctx.ioStatus and named in one line on stderr; from then on the
// stream writes nothing more and every encode call reports the failure, so a host never takes a
// damaged file for a finished one.
#pragma once
#include <cstdint>

struct StreamContext;

namespace aacs::api {

// Keeps the host's file name for messages (shortened when longer than the field).
void KeepFileName(char* field, const char* name);

// Records the stream's first I/O failure (kIoReadFailed or kIoWriteFailed) and prints it with
// `reason` (for example strerror's text).  Later failures are not reported again.
void FailStreamIo(StreamContext& ctx, int status, const char* reason);

// Appends bytes to the output file.  Returns 0, or 1 after recording a write failure.
int WriteOutputBytes(StreamContext& ctx, const uint8_t* data, int bytes);

// Pushes buffered bytes to the output file at the end of the stream, so that a full disk shows
// in the call that ends it.  Returns 0, or 1 after recording a write failure.
int FlushOutputFile(StreamContext& ctx);

// Closes the output file; a failure to write its last bytes is recorded.
void CloseOutputFile(StreamContext& ctx);

}  // namespace aacs::api
