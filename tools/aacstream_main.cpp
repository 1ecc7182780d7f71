// tools/aacstream_main.cpp — the aacstream command: parse the command line, plan the outputs,
// run the encodes (several at once with -j) and report.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "aacstream/aacstream.h"
#include "cli_options.h"
#include "encode_job.h"
#include "output_file.h"
#include "progress.h"

#ifndef AACSTREAM_TOOL_VERSION
#define AACSTREAM_TOOL_VERSION "0"
#endif

namespace aacs::tools {
namespace {

constexpr int kUsageError = 2;
constexpr const char* kDemoSample = "orchestral_desert.wav";

bool IsFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The bundled sample: installed beside this binary, or in the source tree it was built from.
std::string FindDemoSample(std::string& looked) {
  std::vector<std::string> places;
  char exe[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n > 0) {
    std::string dir(exe, size_t(n));
    dir.erase(dir.find_last_of('/'));
    places.push_back(dir + "/../share/aacstream/samples");
  }
#ifdef AACSTREAM_SOURCE_SAMPLES
  places.push_back(AACSTREAM_SOURCE_SAMPLES);
#endif
#ifdef AACSTREAM_INSTALL_SAMPLES
  places.push_back(AACSTREAM_INSTALL_SAMPLES);
#endif
  for (const std::string& place : places) {
    if (IsFile(place + "/" + kDemoSample)) return place + "/" + kDemoSample;
    looked += (looked.empty() ? "" : ", ") + place;
  }
  return "";
}

// Opens a throw-away memory stream with the profile, with stderr silenced, to learn whether this
// library build codes it (the library may not have every profile yet).
bool LibraryCodesProfile(int profile) {
  std::fflush(stderr);
  const int saved = ::dup(STDERR_FILENO);
  const int null = ::open("/dev/null", O_WRONLY);
  if (saved >= 0 && null >= 0) ::dup2(null, STDERR_FILENO);
  if (null >= 0) ::close(null);
  const int keys[1] = {AACSTREAM_OPT_PROFILE}, values[1] = {profile};
  StreamContext* probe = aacStreamOpenEx32(0, 0, 44100, 128, 2, 0, 0, 0, 2, 0, 0, 9, nullptr, nullptr, nullptr,
                                           nullptr, nullptr, 0, keys, values, 1);
  std::fflush(stderr);
  if (saved >= 0) ::dup2(saved, STDERR_FILENO), ::close(saved);
  aacStreamDestroy32(probe);
  return probe != nullptr;
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "aacstream: %s\n", message.c_str());
  return kUsageError;
}

// True when an output is standard output itself (/dev/stdout, or the file or pipe it leads to):
// the summary lines then go to stderr, out of the stream's way.
bool WritesToStdout(const std::vector<EncodeJob>& jobs) {
  struct stat out, target;
  if (::fstat(STDOUT_FILENO, &out) != 0) return false;
  for (const EncodeJob& job : jobs)
    if (::stat(job.output.c_str(), &target) == 0 && target.st_dev == out.st_dev && target.st_ino == out.st_ino)
      return true;
  return false;
}

int RunJobs(const CliOptions& options, const std::vector<EncodeJob>& jobs) {
  ProgressBoard board;
  FILE* summary = WritesToStdout(jobs) ? stderr : stdout;
  std::vector<double> seconds;
  for (const EncodeJob& job : jobs) seconds.push_back(InputSeconds(job.input));
  const std::string label = jobs.size() == 1 ? jobs[0].input.substr(jobs[0].input.find_last_of('/') + 1) : "";
  ProgressStart(board, !options.quiet && ::isatty(STDERR_FILENO), seconds, label);

  std::atomic<size_t> next{0};
  std::atomic<int> failures{0};
  auto worker = [&]() {
    for (size_t i; (i = next.fetch_add(1)) < jobs.size();) {
      JobReport report;
      if (RunEncodeJob(options, jobs[i], int(i), board, report) != 0) {
        failures.fetch_add(1);
      } else if (!options.quiet) {
        ProgressPrint(board, summary, SummaryLine(options, jobs[i], report));
      }
      ProgressJobDone(board, int(i), seconds[i]);
    }
  };
  const size_t threads = std::min<size_t>(size_t(options.jobs), jobs.size());
  std::vector<std::thread> pool;
  for (size_t t = 1; t < threads; ++t) pool.emplace_back(worker);
  worker();
  for (std::thread& t : pool) t.join();
  ProgressClear(board);
  if (failures.load() > 0 && jobs.size() > 1)
    std::fprintf(stderr, "aacstream: %d of %zu files failed\n", failures.load(), jobs.size());
  // SIGPIPE is ignored: a reader that went away shows here, after every file was encoded.
  if (summary == stdout && (std::fflush(stdout) != 0 || std::ferror(stdout))) {
    std::fprintf(stderr, "aacstream: standard output was closed: the summary could not be written%s\n",
                 failures.load() == 0 ? " (every output is complete)" : "");
    return 1;
  }
  return failures.load() > 0 ? 1 : 0;
}

int Main(int argc, char** argv) {
  CliOptions options;
  std::string error;
  if (ParseCommandLine(argc, argv, options, error) != 0) return UsageError(error);
  if (options.help) {
    std::fputs(UsageText().c_str(), stdout);
    return 0;
  }
  if (options.version) {
    std::printf("aacstream %s (MPEG-2/MPEG-4 AAC encoder)\n", AACSTREAM_TOOL_VERSION);
    return 0;
  }
  if (options.demo) {
    if (!options.inputs.empty()) return UsageError("--demo encodes the bundled sample and takes no input file");
    std::string looked;
    const std::string sample = FindDemoSample(looked);
    if (sample.empty()) return UsageError(std::string("cannot find the bundled sample ") + kDemoSample + " (looked in " + looked + ")");
    options.inputs.push_back(sample);
    if (options.output.empty()) options.output = std::string("orchestral_desert") + ".m4a";
    options.overwrite = true;
  }
  std::vector<EncodeJob> jobs;
  if (PlanJobs(options, jobs, error) != 0) return UsageError(error);
  if (options.profile != 1 && !LibraryCodesProfile(options.profile)) {
    const char* name = options.profile == 0 ? "Main" : "LTP";
    std::fprintf(stderr, "aacstream: the %s profile is not available: this libaacstream refuses to open %s streams "
                 "(use --profile lc)\n", name, name);
    return 1;
  }
  InstallOutputCleanup();
  const int status = RunJobs(options, jobs);
  if (options.demo && status == 0 && !options.quiet) {
    char cwd[PATH_MAX];
    const std::string& out = jobs[0].output;
    const std::string where = (!out.empty() && out[0] == '/') || ::getcwd(cwd, sizeof cwd) == nullptr
        ? out : std::string(cwd) + "/" + out;
    std::printf("demo: the encoded sample is %s (play it with: ffplay -autoexit '%s')\n", where.c_str(), where.c_str());
  }
  return status;
}

}  // namespace
}  // namespace aacs::tools

int main(int argc, char** argv) { return aacs::tools::Main(argc, argv); }
