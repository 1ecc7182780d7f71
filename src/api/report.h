// api/report.h — the two failure routines of the encoding core.
//
// ReportWarning flushes stdout, prints "WARNING: <message>\n" on stderr and returns.
// ReportError flushes stdout, prints "ERROR[<code>]: <message>\n" on stderr and ends the
// process with the code as exit status; it is reserved for states that validated input cannot
// reach.  Messages that name a source position pass __FILE__ and __LINE__ through "%s, %d".
#pragma once

#include <cstdarg>

namespace aacs::api {

// Flushes stdout, then prints prefix, the formatted message and a newline on stderr.
void ReportLine(const char* prefix, const char* format, va_list args);

void ReportWarning(const char* format, ...) __attribute__((format(printf, 1, 2)));
[[noreturn]] void ReportError(int code, const char* format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace aacs::api
