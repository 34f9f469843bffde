#include "meter/log.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace meter {
namespace {

class RecordingSink : public LogSink {
 public:
  void writeLog(std::string_view text, std::uint32_t level) override {
    lines.emplace_back(std::string(text), level);
  }
  std::vector<std::pair<std::string, std::uint32_t>> lines;
};

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setLogMask(0);
    setLogSink(&sink_);
  }
  void TearDown() override {
    setLogSink(nullptr);
    setLogMask(0);
  }
  RecordingSink sink_;
};

TEST_F(LogTest, DebugLinesAreBuiltOnlyWhenTheirBitIsSet) {
  int built = 0;
  auto text = [&built] {
    ++built;
    return std::string("debug line");
  };
  HX_LOG_DEBUG(32, text());
  EXPECT_EQ(built, 0);
  EXPECT_TRUE(sink_.lines.empty());

  setLogMask(2 | 32);
  HX_LOG_DEBUG(32, text());
  log("other subsystem", 4);
  log("always", 0);
  EXPECT_EQ(built, 1);
  using Line = std::pair<std::string, std::uint32_t>;
  EXPECT_EQ(sink_.lines, (std::vector<Line>{{"debug line", 32}, {"always", 0}}));
}

TEST_F(LogTest, IndentAddsTwoSpacesPerLevel) {
  log("a", 0);
  {
    LogIndent once;
    log("b", 0);
    LogIndent twice;
    log("c", 0);
  }
  log("d", 0);
  ASSERT_EQ(sink_.lines.size(), 4u);
  EXPECT_EQ(sink_.lines[1].first, "  b");
  EXPECT_EQ(sink_.lines[2].first, "    c");
  EXPECT_EQ(sink_.lines[3].first, "d");
}

TEST_F(LogTest, WithoutSinkLinesGoToStandardError) {
  setLogSink(nullptr);
  ::testing::internal::CaptureStderr();
  log("Alarm logic running", 0);
  log("hidden", 32);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Log: Alarm logic running\n");
}

}  // namespace
}  // namespace meter
