// tests/tools/cli_support.h — running the built aacstream binary and looking at what it wrote.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace aacs::testing {

struct CliRun {
  int status = -1;   // exit status, -1 when killed by a signal
  std::string out;   // standard output
  std::string err;   // standard error
};

// Runs aacstream with `args` (each quoted for the shell).  `shellPrefix` runs first in the same
// shell, e.g. "ulimit -f 16;".
CliRun RunCli(const std::vector<std::string>& args, const std::string& shellPrefix = "");

std::string ShellQuote(const std::string& s);
std::string MakeTempDir();                                // a fresh empty directory
std::vector<std::string> ListDir(const std::string& dir);  // names, sorted, hidden ones included
bool FileExists(const std::string& path);
std::vector<uint8_t> ReadBytes(const std::string& path);

// ffprobe's view of the first stream and the format tags: "codec_name", "profile",
// "sample_rate", "channels", "channel_layout", "duration_ts", "TAG:title", ...
std::map<std::string, std::string> Probe(const std::string& path);

}  // namespace aacs::testing
