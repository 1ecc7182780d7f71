// tools/output_file.cpp — temporary output files, atomic rename, and cleanup on signals.
#include "output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>

namespace aacs::tools {
namespace {

// The table the signal handler walks: fixed storage, no allocation, lock-free flags.
constexpr int kCleanupSlots = 128;
struct CleanupSlot {
  std::atomic<int> state{0};  // 0 free, 1 being filled, 2 holds a path to remove
  char path[PATH_MAX];
};
CleanupSlot gCleanup[kCleanupSlots];
mode_t gFileMode = 0644;

void RemoveTemporaryFiles(int sig) {
  for (CleanupSlot& slot : gCleanup)
    if (slot.state.load(std::memory_order_acquire) == 2) ::unlink(slot.path);
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

int ClaimSlot(const std::string& path) {
  if (path.size() >= PATH_MAX) return -1;
  for (int i = 0; i < kCleanupSlots; ++i) {
    int expected = 0;
    if (gCleanup[i].state.compare_exchange_strong(expected, 1, std::memory_order_acq_rel)) {
      std::memcpy(gCleanup[i].path, path.c_str(), path.size() + 1);
      gCleanup[i].state.store(2, std::memory_order_release);
      return i;
    }
  }
  return -1;
}

void ReleaseSlot(OutputFile& out) {
  if (out.slot >= 0) gCleanup[out.slot].state.store(0, std::memory_order_release);
  out.slot = -1;
}

std::string Directory(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Renames without replacing an existing file: renameat2 where the file system supports it,
// otherwise a hard link (which fails on an existing name) and an unlink.
int RenameNoReplace(const char* from, const char* to) {
  if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
  if (::link(from, to) != 0) return -1;
  ::unlink(from);
  return 0;
}

}  // namespace

void InstallOutputCleanup() {
  const mode_t mask = ::umask(022);
  ::umask(mask);
  gFileMode = 0666 & ~mask;
  struct sigaction action {};
  action.sa_handler = RemoveTemporaryFiles;
  sigemptyset(&action.sa_mask);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(sig, &action, nullptr);
  // Past a file-size limit a write should fail (and be reported), not kill the process with the
  // temporary file left behind.
  std::signal(SIGXFSZ, SIG_IGN);
}

int OutputCreate(OutputFile& out, const std::string& path, bool overwrite, std::string& error) {
  out = OutputFile{};
  out.path = path;
  const std::string dir = Directory(path);
  struct stat st;
  if (::stat(dir.c_str(), &st) != 0) {
    error = "cannot write '" + path + "': directory '" + dir + "' does not exist";
    return 1;
  }
  if (!S_ISDIR(st.st_mode)) {
    error = "cannot write '" + path + "': '" + dir + "' is not a directory";
    return 1;
  }
  if (::stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) {
      error = "cannot write '" + path + "': it is a directory";
      return 1;
    }
    if (!overwrite) {
      error = "'" + path + "' already exists (use -y to overwrite it)";
      return 1;
    }
  }
  std::string temp = dir + "/." + BaseName(path) + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    error = "cannot create a file in '" + dir + "': " + std::strerror(errno);
    return 1;
  }
  out.tempPath = temp;
  out.slot = ClaimSlot(temp);
  out.file = ::fdopen(fd, "w+b");
  if (out.file == nullptr) {
    error = "cannot write '" + path + "': " + std::strerror(errno);
    ::close(fd);
    OutputDiscard(out);
    return 1;
  }
  return 0;
}

int OutputCommit(OutputFile& out, bool overwrite, std::string& error) {
  const int fd = ::fileno(out.file);
  bool ok = std::fflush(out.file) == 0 && !std::ferror(out.file);
  int failure = errno;
  if (ok && (::fchmod(fd, gFileMode) != 0 || ::fsync(fd) != 0)) ok = false, failure = errno;
  if (std::fclose(out.file) != 0 && ok) ok = false, failure = errno;
  out.file = nullptr;
  if (!ok) {
    error = "cannot write '" + out.path + "': " + std::strerror(failure);
    OutputDiscard(out);
    return 1;
  }
  const int renamed = overwrite ? ::rename(out.tempPath.c_str(), out.path.c_str())
                                : RenameNoReplace(out.tempPath.c_str(), out.path.c_str());
  if (renamed != 0) {
    error = errno == EEXIST ? "'" + out.path + "' appeared while encoding and was left alone (use -y to overwrite it)"
                            : "cannot write '" + out.path + "': " + std::strerror(errno);
    OutputDiscard(out);
    return 1;
  }
  ReleaseSlot(out);
  out.tempPath.clear();
  return 0;
}

void OutputDiscard(OutputFile& out) {
  if (out.file != nullptr) std::fclose(out.file);
  out.file = nullptr;
  if (!out.tempPath.empty()) ::unlink(out.tempPath.c_str());
  out.tempPath.clear();
  ReleaseSlot(out);
}

}  // namespace aacs::tools
