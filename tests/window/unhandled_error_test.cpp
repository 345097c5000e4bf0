// The report of an unhandled error: it names the error and the step, and nothing escapes.
#include "app/unhandled_error.h"

#include "app/runtime_error.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>

namespace vorse {
namespace {

TEST(UnhandledErrorTest, AHandlerThatEndsNormallyReportsNothing) {
  bool ran = false;
  EXPECT_EQ(RunHandler("Find and Fix", [&] { ran = true; }), std::nullopt);
  EXPECT_TRUE(ran);
}

TEST(UnhandledErrorTest, EveryEscapingErrorIsNamedWithItsStep) {
  struct Case {
    const char *Name;
    void (*Throw)();
    const char *Named;
  };
  const Case cases[] = {
      {"RuntimeError",
       [] { throw RuntimeError("Cannot write C:\\WINDOWS\\wininit.ini: Permission denied"); },
       "Cannot write C:\\WINDOWS\\wininit.ini: Permission denied"},
      {"other standard error", [] { throw std::out_of_range("row 40000"); }, "row 40000"},
      {"out of memory", [] { throw std::bad_alloc(); }, "Out of memory."},
      {"not a standard error", [] { throw 42; }, "An error of unknown kind."},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    const std::optional<std::string> report = RunHandler("Find and Fix", c.Throw);
    ASSERT_TRUE(report.has_value());
    EXPECT_NE(report->find("Find and Fix"), std::string::npos) << *report;
    EXPECT_NE(report->find(c.Named), std::string::npos) << *report;
    EXPECT_NE(report->find("will now end"), std::string::npos) << *report;
  }
}

} // namespace
} // namespace vorse
