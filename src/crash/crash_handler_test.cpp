#include "crash/crash_handler.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "os/child_process.h"
#include "os/temp_dir.h"
#include "testkit/run_program.h"

namespace crash {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

TEST(CrashDumpPath, ReplacesOrAppendsTheExtension) {
  EXPECT_EQ(crashDumpPath("/opt/hx/bin/alarm.exe"), "/opt/hx/bin/alarm.dmp");
  EXPECT_EQ(crashDumpPath("/opt/hx/bin/alarm"), "/opt/hx/bin/alarm.dmp");
  EXPECT_EQ(crashDumpPath("/opt/hx/bin/alarm.tar.gz"), "/opt/hx/bin/alarm.tar.dmp");
  // Only a dot in the file name itself counts.
  EXPECT_EQ(crashDumpPath("/opt/hx-1.2/alarm"), "/opt/hx-1.2/alarm.dmp");
  EXPECT_EQ(crashDumpPath("/opt/.alarm"), "/opt/.alarm.dmp");
  EXPECT_EQ(crashDumpPath("alarm.bin"), "alarm.dmp");
  EXPECT_EQ(crashDumpPath(""), "quilbrem.dmp");
}

TEST(FormatCrashText, FillsPathAndCode) {
  char out[kCrashTextSize];
  formatCrashText(out, "Failed to create dump file '%s' (error %d)", "/x/a.dmp", 13);
  EXPECT_STREQ(out, "Failed to create dump file '/x/a.dmp' (error 13)");
  // Other conversions stay as they are.
  formatCrashText(out, "%d/%s/%x%", "p", -2147483647 - 1);
  EXPECT_STREQ(out, "-2147483648/p/%x%");
}

TEST(FormatCrashText, CutsToTheBuffer) {
  char out[kCrashTextSize];
  const std::string path(600, 'p');
  formatCrashText(out, "in '%s' (error %d)", path.c_str(), 5);
  const std::string text(out);
  EXPECT_EQ(text.size(), kCrashTextSize - 1);
  EXPECT_EQ(text, "in '" + path.substr(0, kCrashTextSize - 5));
}

// Runs copies of the crash child program in a private directory and looks
// at what they leave behind.
class CrashHandlerTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = os::makeTemporaryDirectory("crash_tests"); }
  void TearDown() override { fs::remove_all(dir_); }

  // Copies the child into the directory as `name` (its dump is named after
  // that) and runs it with `args`.
  os::ChildStatus runChild(const std::string& name, const std::vector<std::string>& args) {
    const std::string program = dir_ + "/" + name;
    fs::copy_file(HX_CRASH_CHILD, program);
    return testkit::runProgram(program, args, dir_ + "/stderr");
  }

  std::string read(const std::string& name) const {
    std::ifstream in(dir_ + "/" + name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  std::string writtenText(const std::string& dumpName) const {
    return "An application error has been detected. Please report this error and submit the "
           "dump file in '" +
           dir_ + "/" + dumpName + "' along with your error report";
  }

  std::string dir_;
};

// Each case runs on its own copy of the child; "custom" installs the
// reporting function, without it the text goes to standard error.
TEST_F(CrashHandlerTest, FatalSignalsLeaveADumpAndKillTheProcess) {
  const struct {
    std::vector<std::string> args;
    int signal;
    const char* signalLine;
    const char* detailLine;
    const char* stderrStart;
  } cases[] = {
      {{"write", "custom"}, SIGSEGV, "Signal: SIGSEGV (11)\n", "Address: 0x10\n", "Reported: "},
      {{"abort"}, SIGABRT, "Signal: SIGABRT (6)\n", "Address: none\n", "Dump generated: "},
      {{"check", "custom"},
       SIGABRT,
       "Signal: SIGABRT (6)\n",
       "Backtrace:\n",
       "Assertion failed: crash child check\nReported: "},
      {{"overflow", "custom"}, SIGSEGV, "Signal: SIGSEGV (11)\n", "Backtrace:\n", "Reported: "},
      {{"trap", "custom"}, SIGILL, "Signal: SIGILL (4)\n", "Backtrace:\n", "Reported: "},
      {{"bus", "custom"}, SIGBUS, "Signal: SIGBUS (7)\n", "Backtrace:\n", "Reported: "},
      {{"fpe", "custom"}, SIGFPE, "Signal: SIGFPE (8)\n", "Backtrace:\n", "Reported: "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.front());
    const std::string name = "crasher-" + c.args.front();
    const os::ChildStatus status = runChild(name, c.args);
    EXPECT_TRUE(status.signalled);
    EXPECT_EQ(status.signal, c.signal);
    const std::string dump = read(name + ".dmp");
    EXPECT_THAT(dump, HasSubstr(c.signalLine));
    EXPECT_THAT(dump, HasSubstr(c.detailLine));
    EXPECT_THAT(dump, HasSubstr(name + "("));  // frames name the module
    EXPECT_EQ(read("stderr"), c.stderrStart + writtenText(name + ".dmp") + "\n");
  }
}

TEST_F(CrashHandlerTest, UncreatableDumpIsReported) {
  fs::create_directory(dir_ + "/crasher.dmp");  // opening it for writing fails, even for root
  const os::ChildStatus status = runChild("crasher", {"write", "custom"});
  EXPECT_TRUE(status.signalled);
  EXPECT_EQ(status.signal, SIGSEGV);
  EXPECT_EQ(read("stderr"),
            "Reported: Failed to create dump file '" + dir_ + "/crasher.dmp' (error 21)\n");
}

}  // namespace
}  // namespace crash
