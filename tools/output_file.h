// tools/output_file.h — output files that appear whole or not at all.
//
// Each output is written to a hidden temporary file in its target directory and renamed over
// the final name only when it is complete, so a failure (or Ctrl-C) never leaves a truncated
// file and never destroys an existing one.  Temporary files are also removed when the process
// is stopped by SIGINT, SIGTERM or SIGHUP.
#pragma once
#include <cstdio>
#include <string>

namespace aacs::tools {

struct OutputFile {
  std::string path;      // final name
  std::string tempPath;  // where the bytes go until commit
  FILE* file = nullptr;
  int slot = -1;         // entry in the cleanup table used by the signal handler
};

// Installs the signal handlers and reads the umask.  Call once, before any thread starts.
void InstallOutputCleanup();

// Checks the target (its directory exists; an existing file only with `overwrite`) and opens the
// temporary file.  Returns 0, or 1 with a one-line message in `error`.
int OutputCreate(OutputFile& out, const std::string& path, bool overwrite, std::string& error);

// Flushes, syncs and closes the temporary file, gives it the usual permissions and renames it
// to the final name (without `overwrite`, never over a file that appeared meanwhile).  On
// failure the temporary file is removed.  Returns 0, or 1 with the message in `error`.
int OutputCommit(OutputFile& out, bool overwrite, std::string& error);

// Closes and removes the temporary file (nothing else is touched).
void OutputDiscard(OutputFile& out);

}  // namespace aacs::tools
