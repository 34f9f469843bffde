#include "error/system_error.h"

#include <errno.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "error/exception.h"
#include "testkit/matcher.h"

namespace error {
namespace {

TEST(SystemError, MessageIsContextAndDescription) {
  HX_EXPECT_THROW_TEXT(throwSystemError("open /x", EACCES), ESystemError,
                       "open /x: Permission denied");
  HX_EXPECT_THROW_TEXT(throwSystemError("read", EINTR), ESystemError,
                       "read: Interrupted system call");
  HX_EXPECT_THROW_TEXT(throwSystemError("No mapfile passed in environment"), ESystemError,
                       "No mapfile passed in environment");  // no code: the context alone
}

TEST(SystemError, FileCodesGetTheirOwnTypes) {
  HX_EXPECT_THROW_TEXT(throwSystemError("open a", ENOENT), EFileNotFoundError,
                       "open a: No such file or directory");
  HX_EXPECT_THROW_TEXT(throwSystemError("mkdir b", EEXIST), EFileExistsError,
                       "mkdir b: File exists");
  // Both are system errors to a caller that does not care which.
  EXPECT_THROW(throwSystemError("c", ENOENT), ESystemError);
}

TEST(SystemError, CodeWithoutTextStillDescribed) {
  // No library text ends in a line end or is empty, but an unknown code must
  // still produce something that names it.
  const std::string text = describeSystemError(99999);
  EXPECT_NE(text.find("99999"), std::string::npos) << text;
  EXPECT_NE(text.back(), '\n');
}

// The test helper itself: each way of not matching is a failure.
TEST(ThrowsWithText, ReportsEachMismatch) {
  EXPECT_TRUE(testkit::throwsWithText<EFatal>([] { throw EFatal("x"); }, "x"));
  EXPECT_FALSE(testkit::throwsWithText<EFatal>([] { throw EFatal("x"); }, "y"));
  EXPECT_FALSE(testkit::throwsWithText<ESystemError>([] { throw EFileNotFoundError("x"); }, "x"));
  EXPECT_FALSE(testkit::throwsWithText<EFatal>([] { throw std::runtime_error("x"); }, "x"));
  EXPECT_FALSE(testkit::throwsWithText<EFatal>([] { throw 3; }, "x"));
  EXPECT_FALSE(testkit::throwsWithText<EFatal>([] {}, "x"));
}

}  // namespace
}  // namespace error
