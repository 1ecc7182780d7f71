// tools/progress.cpp — progress line drawing and throttling.
#include "progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

namespace aacs::tools {
namespace {

constexpr double kRedrawSeconds = 0.1;
constexpr double kShowAfterSeconds = 0.5;  // short encodes finish before a bar is worth drawing

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

int TerminalWidth() {
  struct winsize ws {};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col >= 40) return std::min<int>(ws.ws_col, 160);
  return 80;
}

// Caller holds the mutex.
void EraseLine(ProgressBoard& board) {
  if (!board.lineShown) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  board.lineShown = false;
}

void Draw(ProgressBoard& board) {
  double done = 0;
  for (double d : board.doneSeconds) done += d;
  const double elapsed = Seconds(std::chrono::steady_clock::now() - board.start);
  const std::string line = ProgressLine(board.label, board.filesDone, board.filesTotal, done, board.totalSeconds,
                                        elapsed, TerminalWidth() - 1);
  std::fprintf(stderr, "\r%s\033[K", line.c_str());
  std::fflush(stderr);
  board.lineShown = true;
}

}  // namespace

std::string FormatDuration(double seconds) {
  if (!(seconds >= 0) || !std::isfinite(seconds)) seconds = 0;
  char text[32];
  if (seconds < 3600) {
    const int minutes = int(seconds / 60);
    std::snprintf(text, sizeof text, "%d:%04.1f", minutes, seconds - 60.0 * minutes);
  } else {
    const long s = long(seconds + 0.5);
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  }
  return text;
}

std::string ProgressLine(const std::string& label, int filesDone, int filesTotal, double done, double total,
                         double elapsed, int width) {
  const double fraction = total > 0 ? std::clamp(done / total, 0.0, 1.0) : 0.0;
  const double speed = elapsed > 0 ? done / elapsed : 0.0;
  char tail[96];
  std::string eta = speed > 0 ? FormatDuration(std::ceil((total - done) / speed)) : std::string("?");
  if (const size_t dot = eta.find('.'); dot != std::string::npos) eta.erase(dot);  // whole seconds
  std::snprintf(tail, sizeof tail, " %3d%%  %.1fx  ETA %s", int(fraction * 100), speed, eta.c_str());
  std::string head = filesTotal > 1 ? std::to_string(filesDone) + "/" + std::to_string(filesTotal) + " files "
                                    : label + " ";
  int barWidth = width - int(head.size() + std::string(tail).size()) - 2;
  if (barWidth < 10) {
    head.clear();
    barWidth = std::max(10, width - int(std::string(tail).size()) - 2);
  }
  const int filled = int(fraction * barWidth);
  return head + "[" + std::string(size_t(filled), '#') + std::string(size_t(barWidth - filled), '.') + "]" + tail;
}

void ProgressStart(ProgressBoard& board, bool enabled, const std::vector<double>& jobSeconds, const std::string& label) {
  std::lock_guard<std::mutex> lock(board.mutex);
  board.enabled = enabled;
  board.label = label;
  board.filesTotal = int(jobSeconds.size());
  board.filesDone = 0;
  board.totalSeconds = 0;
  for (double s : jobSeconds) board.totalSeconds += s;
  board.doneSeconds.assign(jobSeconds.size(), 0.0);
  board.start = board.lastDraw = std::chrono::steady_clock::now();
}

void ProgressUpdate(ProgressBoard& board, int job, double seconds) {
  if (!board.enabled) return;
  std::unique_lock<std::mutex> lock(board.mutex, std::try_to_lock);
  if (!lock.owns_lock()) return;  // another thread is drawing: this report is not needed
  board.doneSeconds[size_t(job)] = seconds;
  const auto now = std::chrono::steady_clock::now();
  if (Seconds(now - board.start) < kShowAfterSeconds || Seconds(now - board.lastDraw) < kRedrawSeconds) return;
  board.lastDraw = now;
  Draw(board);
}

void ProgressJobDone(ProgressBoard& board, int job, double seconds) {
  std::lock_guard<std::mutex> lock(board.mutex);
  board.filesDone += 1;
  board.doneSeconds[size_t(job)] = seconds;
}

void ProgressPrint(ProgressBoard& board, FILE* stream, const std::string& line) {
  std::lock_guard<std::mutex> lock(board.mutex);
  const bool redraw = board.lineShown;
  EraseLine(board);
  std::fprintf(stream, "%s\n", line.c_str());
  std::fflush(stream);
  if (redraw) Draw(board);
}

std::unique_lock<std::mutex> ProgressHold(ProgressBoard& board) {
  std::unique_lock<std::mutex> lock(board.mutex);
  EraseLine(board);
  return lock;
}

void ProgressClear(ProgressBoard& board) {
  std::lock_guard<std::mutex> lock(board.mutex);
  EraseLine(board);
}

}  // namespace aacs::tools
