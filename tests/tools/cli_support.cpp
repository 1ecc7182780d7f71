// tests/tools/cli_support.cpp — process, file and ffprobe helpers for the command-line tests.
#include "cli_support.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>

#include <gtest/gtest.h>

namespace aacs::testing {
namespace {

std::string ReadAll(FILE* f) {
  std::string s;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) s.append(buffer, n);
  return s;
}

std::string ShellOutput(const std::string& command) {
  FILE* p = popen(command.c_str(), "r");
  if (!p) return "";
  std::string s = ReadAll(p);
  pclose(p);
  return s;
}

}  // namespace

std::string ShellQuote(const std::string& s) {
  std::string q(1, '\'');
  for (char c : s) {
    if (c == '\'')
      q.append("'\\''");
    else
      q.push_back(c);
  }
  q.push_back('\'');
  return q;
}

CliRun RunCli(const std::vector<std::string>& args, const std::string& shellPrefix) {
  static std::atomic<int> counter{0};
  const std::string errFile = ::testing::TempDir() + "aacs_cli_err_" + std::to_string(getpid()) + "_" +
                              std::to_string(counter++);
  std::string command(1, '(');
  command.append(shellPrefix).append(" exec ").append(ShellQuote(AACS_CLI_BINARY));
  for (const std::string& a : args) command.append(1, ' ').append(ShellQuote(a));
  command.append(") </dev/null 2>").append(ShellQuote(errFile));
  CliRun run;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return run;
  run.out = ReadAll(p);
  const int status = pclose(p);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (FILE* f = std::fopen(errFile.c_str(), "rb")) {
    run.err = ReadAll(f);
    std::fclose(f);
  }
  std::remove(errFile.c_str());
  return run;
}

std::string MakeTempDir() {
  std::string pattern = ::testing::TempDir() + "aacs_cli_XXXXXX";
  if (!mkdtemp(pattern.data())) return "";
  return pattern;
}

std::vector<std::string> ListDir(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      const std::string name = e->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::vector<uint8_t> bytes;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    const std::string s = ReadAll(f);
    bytes.assign(s.begin(), s.end());
    std::fclose(f);
  }
  return bytes;
}

std::map<std::string, std::string> Probe(const std::string& path) {
  std::string command =
      "ffprobe -v error -select_streams a:0 -show_entries "
      "stream=codec_name,profile,sample_rate,channels,channel_layout,duration_ts:format=duration:format_tags "
      "-of default=noprint_wrappers=1 ";
  command.append(ShellQuote(path)).append(" 2>&1");
  const std::string text = ShellOutput(command);
  std::map<std::string, std::string> fields;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    const size_t eq = line.find('=');
    if (eq != std::string::npos) fields[line.substr(0, eq)] = line.substr(eq + 1);
    start = end + 1;
  }
  return fields;
}

}  // namespace aacs::testing
