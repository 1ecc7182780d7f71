// tools/output_file.h — output files that appear whole or not at all.
//
// A regular file is written to a hidden temporary file in its directory and renamed over the
// final name only when it is complete, so a failure (or Ctrl-C) never leaves a truncated file and
// never destroys an existing one; a symbolic link is followed and its target replaced that way.
// Character devices and FIFOs (/dev/null, a named pipe, /dev/stdout) are written through: opened
// and streamed to, never replaced.  Temporary files are removed when the process is stopped by
// SIGINT, SIGTERM or SIGHUP; SIGPIPE is ignored, so a closed pipe is a write error like any other.
#pragma once
#include <cstdio>
#include <string>

namespace aacs::tools {

struct OutputFile {
  std::string path;      // the name given
  std::string target;    // the file the name leads to (through symbolic links)
  std::string tempPath;  // where the bytes go until commit ("" when written through)
  FILE* file = nullptr;  // what the writer writes to
  int throughFd = -1;    // written-through target; when the writer needs to seek, `file` is an
                         // anonymous temporary file copied to this descriptor at commit
  int slot = -1;         // entry in the cleanup table used by the signal handler
};

// Installs the signal handlers and reads the umask.  Call once, before any thread starts.
void InstallOutputCleanup();

// Checks the target (its directory exists; an existing regular file only with `overwrite`;
// devices and FIFOs are written through) and opens what the bytes go to.  `needsSeek`: the
// writer seeks back (M4A), so a written-through target gets the bytes at commit.  Returns 0, or
// 1 with a one-line message in `error`.
int OutputCreate(OutputFile& out, const std::string& path, bool overwrite, bool needsSeek, std::string& error);

// Regular files: flushes, syncs and closes the temporary file, gives it the usual permissions and
// renames it over the target (without `overwrite`, never over a file that appeared meanwhile).
// Written-through targets: flushes (or copies) and closes.  On failure the temporary file is
// removed.  Returns 0, or 1 with the message in `error`.
int OutputCommit(OutputFile& out, bool overwrite, std::string& error);

// Closes and removes the temporary file (nothing else is touched).
void OutputDiscard(OutputFile& out);

}  // namespace aacs::tools
