#include "os/shared_memory.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace os {
namespace {

TEST(SharedMemoryTest, APoolIsPrivateToItsUserSizedAndInheritedByChildren) {
  const OwnedFd fd = createSharedMemory(12288);
  struct stat st {};
  ASSERT_EQ(::fstat(fd.get(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(st.st_uid, ::getuid());
  EXPECT_EQ(st.st_size, 12288);
  EXPECT_EQ(::fcntl(fd.get(), F_GETFD) & FD_CLOEXEC, 0);
  const MapResult failed = mapShared(-1, 4096);
  EXPECT_EQ(failed.address, nullptr);
  EXPECT_EQ(failed.error, EBADF);
}

}  // namespace
}  // namespace os
