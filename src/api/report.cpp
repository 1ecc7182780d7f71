// api/report.cpp — warning and error output of the encoding core.
#include "api/report.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace aacs::api {

void ReportLine(const char* prefix, const char* format, va_list args) {
  std::fflush(stdout);
  std::fputs(prefix, stderr);
  std::vfprintf(stderr, format, args);
  std::fputc('\n', stderr);
}

void ReportWarning(const char* format, ...) {
  va_list args;
  va_start(args, format);
  ReportLine("WARNING: ", format, args);
  va_end(args);
}

void ReportError(int code, const char* format, ...) {
  char prefix[32];
  std::snprintf(prefix, sizeof prefix, "ERROR[%d]: ", code);
  va_list args;
  va_start(args, format);
  ReportLine(prefix, format, args);
  va_end(args);
  std::exit(code);
}

}  // namespace aacs::api
