// The encoding core's warning and error routines: exact formats, and the error routine ending
// the process with its code.
#include <gtest/gtest.h>

#include "api/report.h"

namespace aacs::api {
namespace {

TEST(Report, WarningPrintsItsPrefixAndMessageOnStderr) {
  ::testing::internal::CaptureStderr();
  ReportWarning("MeasureChaos(): Unknown chaos method (%s, %d)", "chaos.cpp", 42);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "WARNING: MeasureChaos(): Unknown chaos method (chaos.cpp, 42)\n");
}

TEST(ReportDeathTest, ErrorPrintsItsCodeAndEndsTheProcessWithIt) {
  EXPECT_EXIT(ReportError(-41, "request for %d bits is impossible! %s, %d", 17, "rate_loop.cpp", 7),
              ::testing::ExitedWithCode(256 - 41),
              "^ERROR\\[-41\\]: request for 17 bits is impossible! rate_loop.cpp, 7\n$");
  EXPECT_EXIT(ReportError(1, "PredictorInit() - unsupported sampling rate parameter!"), ::testing::ExitedWithCode(1),
              "ERROR\\[1\\]: PredictorInit");
}

}  // namespace
}  // namespace aacs::api
