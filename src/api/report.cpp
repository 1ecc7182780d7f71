// api/report.cpp — warning and error output of the encoding core.
#include "api/report.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace aacs::api {

void ReportWarning(const char* format, ...) {
  std::fflush(stdout);
  std::fputs("WARNING: ", stderr);
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
}

void ReportError(int code, const char* format, ...) {
  std::fflush(stdout);
  std::fprintf(stderr, "ERROR[%d]: ", code);
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
  std::exit(code);
}

}  // namespace aacs::api
