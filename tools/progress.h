// tools/progress.h — the progress line on a terminal and the message output around it.
//
// Worker threads report how much audio they have encoded; the board draws one line on stderr
// (bar, percent, speed in multiples of real time, time left) at most ten times a second, and
// only once an encode has run long enough to be worth watching.  Messages go through the board
// so that they never end up in the middle of the bar.
#pragma once
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace aacs::tools {

struct ProgressBoard {
  std::mutex mutex;
  bool enabled = false;  // stderr is a terminal and --quiet was not given
  bool lineShown = false;
  std::string label;     // the input's name when there is one file
  int filesTotal = 0;
  int filesDone = 0;
  double totalSeconds = 0;           // audio of every job
  std::vector<double> doneSeconds;   // per job
  std::chrono::steady_clock::time_point start;
  std::chrono::steady_clock::time_point lastDraw;
};

void ProgressStart(ProgressBoard& board, bool enabled, const std::vector<double>& jobSeconds,
                   const std::string& label);
// A job has encoded `seconds` of its audio; redraws when it is time.
void ProgressUpdate(ProgressBoard& board, int job, double seconds);
// A job has finished; `seconds` is the audio it accounts for from now on.
void ProgressJobDone(ProgressBoard& board, int job, double seconds);
// Prints one line on `stream`, taking the bar off the screen first and back after.
void ProgressPrint(ProgressBoard& board, FILE* stream, const std::string& line);
// Takes the bar off the screen (at the end).
void ProgressClear(ProgressBoard& board);
// Takes the bar off the screen and keeps it off while the returned lock is held: for calls into
// the library, which prints its own one-line errors on stderr.
std::unique_lock<std::mutex> ProgressHold(ProgressBoard& board);

// The progress line for the given state (exposed for tests).
std::string ProgressLine(const std::string& label, int filesDone, int filesTotal, double done, double total,
                         double elapsed, int width);
// "m:ss.s" or "h:mm:ss".
std::string FormatDuration(double seconds);

}  // namespace aacs::tools
