// tools/output_file.cpp — temporary output files, atomic rename, and cleanup on signals.
#include "output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
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

// The descriptor a /dev/stdout-style name stands for, or -1.
int StandardStreamFd(const std::string& path) {
  if (path == "/dev/stdout") return STDOUT_FILENO;
  if (path == "/dev/stderr") return STDERR_FILENO;
  for (const char* prefix : {"/dev/fd/", "/proc/self/fd/"}) {
    const std::string p(prefix);
    if (path.compare(0, p.size(), p) == 0 && path.size() > p.size() &&
        path.find_first_not_of("0123456789", p.size()) == std::string::npos)
      return std::atoi(path.c_str() + p.size());
  }
  return -1;
}

bool IsSpecialPath(const std::string& path) {
  return path.rfind("/dev/", 0) == 0 || path.rfind("/proc/", 0) == 0;
}

const char* KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file, character device or FIFO";
}

// A hidden name beside the target; a shorter fixed one when the target's name is so long that
// the prefix and suffix would make it too long for the file system.
std::string TemporaryName(const std::string& target) {
  const std::string base = BaseName(target);
  const std::string dir = Directory(target);
  if (base.size() + 8 <= NAME_MAX) return dir + "/." + base + ".XXXXXX";
  return dir + "/.aacstream.XXXXXX";
}

// Written-through target: streamed to directly, or (a writer that seeks) through an anonymous
// temporary file copied at commit.
int OpenThrough(OutputFile& out, bool needsSeek, std::string& error) {
  const int standard = StandardStreamFd(out.path);
  const int fd = standard >= 0 ? ::dup(standard) : ::open(out.path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) {
    error = "cannot write '" + out.path + "': " + std::strerror(errno);
    return 1;
  }
  if (needsSeek) {
    out.throughFd = fd;
    out.file = std::tmpfile();
  } else {
    out.file = ::fdopen(fd, "wb");
    if (out.file == nullptr) ::close(fd);
  }
  if (out.file == nullptr) {
    error = "cannot write '" + out.path + "': " + std::strerror(errno);
    OutputDiscard(out);
    return 1;
  }
  return 0;
}

// Copies the finished anonymous file to the written-through target.
bool CopyToThrough(OutputFile& out, int& failure) {
  if (std::fseek(out.file, 0, SEEK_SET) != 0) return failure = errno, false;
  char buffer[1 << 16];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, out.file)) > 0) {
    for (size_t done = 0; done < n;) {
      const ssize_t w = ::write(out.throughFd, buffer + done, n - done);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return failure = errno ? errno : EIO, false;
      done += size_t(w);
    }
  }
  if (std::ferror(out.file)) return failure = errno ? errno : EIO, false;
  return true;
}

int CommitThrough(OutputFile& out, std::string& error) {
  int failure = 0;
  errno = 0;
  bool ok = std::fflush(out.file) == 0 && !std::ferror(out.file);
  if (!ok) failure = errno;
  if (ok && out.throughFd >= 0) ok = CopyToThrough(out, failure);
  if (std::fclose(out.file) != 0 && ok) ok = false, failure = errno;
  out.file = nullptr;
  if (out.throughFd >= 0 && ::close(out.throughFd) != 0 && ok && errno != EINTR) ok = false, failure = errno;
  out.throughFd = -1;
  if (ok) return 0;
  error = "cannot write '" + out.path + "': " + std::strerror(failure ? failure : EIO);
  return 1;
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
  // temporary file left behind; the same for a pipe whose reader has gone.
  std::signal(SIGXFSZ, SIG_IGN);
  std::signal(SIGPIPE, SIG_IGN);
}

int OutputCreate(OutputFile& out, const std::string& path, bool overwrite, bool needsSeek, std::string& error) {
  out = OutputFile{};
  out.path = out.target = path;
  struct stat st;
  const bool exists = ::stat(path.c_str(), &st) == 0;
  if (exists && (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode) || (S_ISREG(st.st_mode) && IsSpecialPath(path))))
    return OpenThrough(out, needsSeek, error);
  if (exists && !S_ISREG(st.st_mode)) {
    error = "cannot write '" + path + "': it is " + KindOf(st.st_mode);
    return 1;
  }
  struct stat link;
  if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
    char resolved[PATH_MAX];
    if (!exists || ::realpath(path.c_str(), resolved) == nullptr) {
      error = "cannot write '" + path + "': it is a symbolic link to a file that does not exist";
      return 1;
    }
    out.target = resolved;
  }
  if (exists && !overwrite) {
    error = "'" + path + "' already exists (use -y to overwrite it)";
    return 1;
  }
  const std::string dir = Directory(out.target);
  if (::stat(dir.c_str(), &st) != 0) {
    error = "cannot write '" + path + "': directory '" + dir + "' does not exist";
    return 1;
  }
  if (!S_ISDIR(st.st_mode)) {
    error = "cannot write '" + path + "': '" + dir + "' is not a directory";
    return 1;
  }
  std::string temp = TemporaryName(out.target);
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
  if (out.tempPath.empty()) return CommitThrough(out, error);
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
  const int renamed = overwrite ? ::rename(out.tempPath.c_str(), out.target.c_str())
                                : RenameNoReplace(out.tempPath.c_str(), out.target.c_str());
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
  if (out.throughFd >= 0) ::close(out.throughFd);
  out.throughFd = -1;
  if (!out.tempPath.empty()) ::unlink(out.tempPath.c_str());
  out.tempPath.clear();
  ReleaseSlot(out);
}

}  // namespace aacs::tools
