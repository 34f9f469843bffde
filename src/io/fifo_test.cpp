#include "io/fifo.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "error/exception.h"
#include "io/pipe_stream.h"
#include "io/process_watch.h"
#include "io/selector.h"
#include "os/fd.h"
#include "os/process_fd.h"
#include "os/temp_dir.h"
#include "testkit/matcher.h"

namespace io {
namespace {

namespace fs = std::filesystem;

std::string cannotOpen(int id) {
  return "Cannot duplicate sibling id " + std::to_string(id) + " FIFO for writing";
}

std::string hexText(int value) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "%x", value);
  return hex;
}

unsigned modeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

// A private directory for a family's publications.
class FifoTest : public ::testing::Test {
 protected:
  FifoTest() : dir_(os::makeTemporaryDirectory("fifo")), prefix_(dir_ + "/halcyxsmem") {}
  ~FifoTest() override { fs::remove_all(dir_); }

  // A child process that publishes its pipe as sibling `id` and then waits
  // until the write end of `release` is closed (or exits at once when
  // release is null).
  pid_t startSibling(int id, const os::PipeEnds* release) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      try {
        const InputFifo own = setupFifo(publicationPath(prefix_, id));
        if (release != nullptr) {
          ::close(release->writeEnd);  // the parent's alone
          std::uint8_t byte;
          (void)os::readSome(release->readEnd, &byte, 1);
        }
      } catch (...) {
        ::_exit(2);
      }
      ::_exit(0);
    }
    return pid;
  }

  std::string dir_;
  std::string prefix_;
};

TEST_F(FifoTest, APublishedPipeCanBeOpenedAndWrittenByItsOwnProcess) {
  const std::string path = publicationPath(prefix_, 3);
  EXPECT_EQ(path, dir_ + "/halcyxsmem.3");
  EXPECT_EQ(publicationPath(prefix_, -1), dir_ + "/halcyxsmem.-1");
  const InputFifo own = setupFifo(path);
  EXPECT_TRUE(os::isNonblocking(own.readEnd.get()));

  std::ifstream file(path);
  std::string line;
  std::getline(file, line);
  EXPECT_EQ(line, std::to_string(::getpid()) + ":0x" + hexText(own.writeEnd.get()));
  EXPECT_EQ(modeOf(path), 0600u);
  EXPECT_FALSE(fs::exists(path + ".tmp" + std::to_string(::getpid())));

  const SiblingFifo sibling = openFifo(prefix_, 3);
  EXPECT_EQ(sibling.pid, ::getpid());
  EXPECT_FALSE(os::pidFdEnded(sibling.pidfd.get()));
  EXPECT_TRUE(os::isNonblocking(sibling.writeEnd.get()));
  std::uint8_t bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8}, got[16] = {};
  ASSERT_EQ(os::writeSome(sibling.writeEnd.get(), bytes, 8).bytes, 8u);
  ASSERT_EQ(os::readSome(own.readEnd.get(), got, sizeof got).bytes, 8u);
  EXPECT_EQ(std::memcmp(got, bytes, 8), 0);
}

TEST_F(FifoTest, ASiblingThatIsNotThereCannotBeOpened) {
  // Never published.
  HX_EXPECT_THROW_TEXT(openFifo(prefix_, 7), error::EFileNotFoundError,
                       cannotOpen(7) + ": No such file or directory");

  // Published by a process that has exited: reaped, and a zombie.
  for (const bool reap : {true, false}) {
    SCOPED_TRACE(reap ? "reaped" : "zombie");
    const pid_t child = startSibling(4, nullptr);
    if (reap) {
      int status = 0;
      ASSERT_EQ(::waitpid(child, &status, 0), child);
      ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    } else {
      siginfo_t info{};
      ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT), 0);
    }
    ASSERT_TRUE(fs::exists(publicationPath(prefix_, 4)));
    try {
      (void)openFifo(prefix_, 4);
      ADD_FAILURE() << "opened the pipe of an exited process";
    } catch (const error::ESystemError& e) {
      EXPECT_EQ(e.text().rfind(cannotOpen(4) + ": ", 0), 0u) << e.text();
    }
    if (!reap) ::waitpid(child, nullptr, 0);
  }

  // A publication naming something of a live process that is not a pipe.
  const os::OwnedFd not_pipe(::open((dir_ + "/plain").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600));
  ASSERT_TRUE(not_pipe.valid());
  os::writeFileAtomically(publicationPath(prefix_, 8),
                          std::to_string(::getpid()) + ":0x" + hexText(not_pipe.get()) + "\n");
  HX_EXPECT_THROW_TEXT(openFifo(prefix_, 8), error::ESystemError,
                       cannotOpen(8) + ": descriptor " + std::to_string(not_pipe.get()) +
                           " of process " + std::to_string(::getpid()) + " is not a pipe");

  // A malformed publication.
  os::writeFileAtomically(publicationPath(prefix_, 5), "4711:5\n");
  HX_EXPECT_THROW_TEXT(
      openFifo(prefix_, 5), error::ESystemError,
      cannotOpen(5) + ": malformed publication " + publicationPath(prefix_, 5) + " \"4711:5\\n\"");
}

TEST_F(FifoTest, FilesAndDirectoriesThatOthersCouldUseAreRefused) {
  const InputFifo own = setupFifo(publicationPath(prefix_, 1));
  const std::string file = publicationPath(prefix_, 1);
  const std::string wide_dir = dir_ + "/wide";
  const std::string refused = " gives rights to group or others (0600/0700 needed)";

  for (const char* mode : {"0644", "0604", "0620"}) {
    ASSERT_EQ(::chmod(file.c_str(), static_cast<mode_t>(std::stoul(mode, nullptr, 8))), 0);
    HX_EXPECT_THROW_TEXT(openFifo(prefix_, 1), error::ESystemError,
                         "File " + file + " refused: mode " + mode + refused);
  }
  ASSERT_EQ(::chmod(file.c_str(), 0700), 0);
  EXPECT_NO_THROW((void)openFifo(prefix_, 1));  // the owner's bits are the owner's

  ASSERT_EQ(::mkdir(wide_dir.c_str(), 0700), 0);
  ASSERT_EQ(::chmod(wide_dir.c_str(), 0755), 0);
  const std::string wide = "Directory " + wide_dir + " refused: mode 0755" + refused;
  HX_EXPECT_THROW_TEXT(createFifoDirectory(wide_dir), error::ESystemError, wide);
  HX_EXPECT_THROW_TEXT(setupFifo(wide_dir + "/p.0"), error::ESystemError, wide);
  EXPECT_FALSE(fs::exists(wide_dir + "/p.0"));
  HX_EXPECT_THROW_TEXT(openFifo(wide_dir + "/p", 0), error::ESystemError, wide);
  HX_EXPECT_THROW_TEXT(createFifoDirectory(file), error::ESystemError,
                       "Directory " + file + " refused: not a directory");

  // A new directory is private, and so is an existing private one.
  const std::string fresh = dir_ + "/family";
  createFifoDirectory(fresh);
  EXPECT_EQ(modeOf(fresh), 0700u);
  EXPECT_NO_THROW(createFifoDirectory(fresh));
  // A publication written under a permissive umask is still private.
  const mode_t old_umask = ::umask(0);
  os::writeFileAtomically(fresh + "/p.2", "1:0x1\n");
  ::umask(old_umask);
  EXPECT_EQ(modeOf(fresh + "/p.2"), 0600u);
}

TEST_F(FifoTest, ASiblingsEndIsSeenThroughItsProcessDescriptor) {
  const os::PipeEnds release = os::makePipe();
  const pid_t child = startSibling(6, &release);
  os::closeFdQuietly(release.readEnd);
  // The publication appears by rename, whole.
  while (!fs::exists(publicationPath(prefix_, 6))) ::usleep(1000);

  SiblingFifo sibling = openFifo(prefix_, 6);
  EXPECT_EQ(sibling.pid, child);
  PipeOStream out("sibling 6");
  out.setHandle(std::move(sibling.writeEnd));
  ProcessWatch watch(std::move(sibling.pidfd), "sibling 6");
  watch.poll();
  EXPECT_FALSE(watch.isReady());
  EXPECT_EQ(watch.handle().events, os::kReadable);

  Selector<int> selector;
  selector.add(&watch, 6);
  os::closeFdQuietly(release.writeEnd);  // the child ends now
  EXPECT_EQ(selector.select().second, 6);
  EXPECT_TRUE(watch.ended());
  EXPECT_EQ(watch.handle().events, 0);

  // Its pipe has no reader any more: writing breaks the stream.
  std::uint8_t* data = nullptr;
  ASSERT_GE(out.writeBegin(data), 8u);
  out.writeCommit(8);
  EXPECT_TRUE(out.flush());
  EXPECT_TRUE(out.broken());
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(SiblingMessengerConfTest, ReadsTheThreeValuesOrSaysWhatIsWrong) {
  struct Case {
    const char* mapfile;
    const char* fifoprefix;
    const char* mapsize;
    const char* error;  // nullptr: accepted
    bool parse;         // EParseError rather than ESystemError
  };
  const Case cases[] = {
      {"7", "/run/x/halcyxsmem", "65536", nullptr, false},
      {nullptr, "/p", "1", "No mapfile passed in environment", false},
      {"7", nullptr, "1", "No FIFO prefix passed in environment", false},
      {"7", "/p", nullptr, "No mapsize passed in environment", false},
      {"12x", "/p", "1", "Error parsing: \"12x\"", true},
      {"7", "/p", " 5", "Error parsing: \" 5\"", true},
      {"7", "/p", "", "Error parsing: \"\"", true},
      {"-1", "/p", "1", "Error parsing: \"-1\"", true},
      {"7", "/p", "4294967296", "Error parsing: \"4294967296\"", true},
      {"2147483648", "/p", "1", "Error parsing: \"2147483648\"", true},
  };
  const char* const keys[] = {"hxtest::mapfile", "hxtest::fifoprefix", "hxtest::mapsize"};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error != nullptr ? c.error : "accepted");
    const char* const values[] = {c.mapfile, c.fifoprefix, c.mapsize};
    for (int i = 0; i < 3; ++i) {
      if (values[i] != nullptr)
        ::setenv(keys[i], values[i], 1);
      else
        ::unsetenv(keys[i]);
    }
    if (c.error == nullptr) {
      const siblingmessenger_conf_t conf = readSiblingMessengerConf("hxtest");
      EXPECT_EQ(conf.mapfile, 7);
      EXPECT_EQ(conf.fifoprefix, "/run/x/halcyxsmem");
      EXPECT_EQ(conf.mapsize, 65536u);
    } else if (c.parse) {
      HX_EXPECT_THROW_TEXT(readSiblingMessengerConf("hxtest"), error::EParseError, c.error);
    } else {
      HX_EXPECT_THROW_TEXT(readSiblingMessengerConf("hxtest"), error::ESystemError, c.error);
    }
  }
  for (const char* key : keys) ::unsetenv(key);
}

}  // namespace
}  // namespace io
