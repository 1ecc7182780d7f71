// tests/tools/cli_support.cpp — process, file and ffprobe helpers for the command-line tests.
#include "cli_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

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
  for (char c : s) c == '\'' ? q.append("'\\''") : q.append(1, c);
  return q + '\'';
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
  const std::vector<uint8_t> err = ReadBytes(errFile);
  run.err.assign(err.begin(), err.end());
  std::remove(errFile.c_str());
  return run;
}

std::string MakeTempDir() {
  std::string pattern = ::testing::TempDir() + "aacs_cli_XXXXXX";
  return mkdtemp(pattern.data()) ? pattern : "";
}

std::vector<std::string> ListDir(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(dir, ec)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

bool FileExists(const std::string& path) { return std::filesystem::exists(path); }

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

std::map<std::string, std::string> Probe(const std::string& path) {
  std::istringstream text(ShellOutput(
      "ffprobe -v error -select_streams a:0 -show_entries "
      "stream=codec_name,profile,sample_rate,channels,channel_layout,duration_ts:format=duration:format_tags "
      "-of default=noprint_wrappers=1 " + ShellQuote(path) + " 2>&1"));
  std::map<std::string, std::string> fields;
  for (std::string line; std::getline(text, line);)
    if (const size_t eq = line.find('='); eq != std::string::npos) fields[line.substr(0, eq)] = line.substr(eq + 1);
  return fields;
}

}  // namespace aacs::testing
