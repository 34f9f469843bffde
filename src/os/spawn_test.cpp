#include "os/spawn.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>

#include "error/exception.h"
#include "os/fd.h"

namespace os {
namespace {

std::string readAll(int fd) {
  std::string text;
  std::uint8_t buffer[256];
  for (;;) {
    const IoResult r = readSome(fd, buffer, sizeof buffer);
    if (r.bytes == 0) return text;
    text.append(reinterpret_cast<const char*>(buffer), r.bytes);
  }
}

void writeAll(int fd, const std::string& text) {
  const IoResult r = writeSome(fd, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  ASSERT_EQ(r.bytes, text.size());
}

TEST(SpawnWithPipes, ChildReadsInputToItsEndAndWritesBothOutputs) {
  SpawnedChild child =
      spawnWithPipes("/bin/sh", {"-c", "echo \"out:$(cat)\"; echo err >&2; exit 3"});
  writeAll(child.stdinFd, "hello\n");
  closeFd(child.stdinFd);  // the child's cat ends only if no other writer is left
  EXPECT_EQ(readAll(child.stdoutFd), "out:hello\n");
  EXPECT_EQ(readAll(child.stderrFd), "err\n");
  closeFd(child.stdoutFd);
  closeFd(child.stderrFd);
  const ChildStatus status = waitForExit(child.pid);
  EXPECT_FALSE(status.signalled);
  EXPECT_EQ(status.exitCode, 3);
}

TEST(ReapIfEnded, ReportsNothingWhileRunningAndTheSignalAfterAKill) {
  SpawnedChild child = spawnWithPipes("/bin/cat", {});
  EXPECT_FALSE(reapIfEnded(child.pid).has_value());
  sendSignal(child.pid, SIGKILL);
  const ChildStatus status = waitForExit(child.pid);
  EXPECT_TRUE(status.signalled);
  EXPECT_EQ(status.signal, SIGKILL);
  // Signalling a process that is gone is not an error.
  sendSignal(child.pid, SIGTERM);
  closeFd(child.stdinFd);
  closeFd(child.stdoutFd);
  closeFd(child.stderrFd);
}

TEST(StartProcess, ChildSeesAddedEnvironmentAndInheritedDescriptors) {
  // The pipe's write end is inheritable, as the pool descriptor is; the
  // child writes its environment into it by number.
  const PipeEnds pipe = makePipe(true);
  ::setenv("HX_SPAWN_TEST_KEPT", "kept", 1);
  ::setenv("HX_SPAWN_TEST_REPLACED", "old", 1);
  const int pid = startProcess(
      "/bin/sh",
      {"-c", "echo \"$HX_SPAWN_TEST_KEPT $HX_SPAWN_TEST_REPLACED $HX_SPAWN_TEST_ADDED\" >&" +
                 std::to_string(pipe.writeEnd)},
      {"HX_SPAWN_TEST_REPLACED=new", "HX_SPAWN_TEST_ADDED=added"});
  closeFd(pipe.writeEnd);
  EXPECT_EQ(readAll(pipe.readEnd), "kept new added\n");
  closeFd(pipe.readEnd);
  EXPECT_EQ(waitForExit(pid).exitCode, 0);
}

TEST(DescribeExit, NamesTheCodeOrTheSignal) {
  EXPECT_EQ(describeExit({false, 0, 3}), "exit code 3");
  EXPECT_EQ(describeExit({true, SIGKILL, 0}), "killed by signal 9 (Killed)");
}

TEST(IsExecutableFile, TellsProgramsFromOtherPathsAndMissingOnesAreNotStarted) {
  EXPECT_TRUE(isExecutableFile("/bin/sh"));
  EXPECT_FALSE(isExecutableFile("/nonexistent/program"));
  EXPECT_FALSE(isExecutableFile("/etc/passwd"));  // there, but not executable
  try {
    (void)spawnWithPipes("/nonexistent/program", {});
    ADD_FAILURE() << "no exception";
  } catch (const error::ESystemError& e) {
    EXPECT_NE(e.text().find("/nonexistent/program"), std::string::npos) << e.text();
  }
  EXPECT_THROW((void)startProcess("/nonexistent/program", {}, {}), error::ESystemError);
}

}  // namespace
}  // namespace os
