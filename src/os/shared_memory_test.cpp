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

  const MapResult first = mapShared(fd.get(), 12288);
  const MapResult second = mapShared(fd.get(), 12288);
  ASSERT_NE(first.address, nullptr);
  ASSERT_NE(second.address, nullptr);
  static_cast<unsigned char*>(first.address)[12287] = 7;
  EXPECT_EQ(static_cast<unsigned char*>(second.address)[12287], 7);
  unmapShared(first.address, 12288);
  unmapShared(second.address, 12288);

  const MapResult failed = mapShared(-1, 4096);
  EXPECT_EQ(failed.address, nullptr);
  EXPECT_EQ(failed.error, EBADF);
}

TEST(OwnedFdTest, ClosesOnceWhenMovedAndReleased) {
  OwnedFd a = createSharedMemory(8);
  const int raw = a.get();
  OwnedFd b = std::move(a);
  EXPECT_FALSE(a.valid());
  EXPECT_EQ(b.get(), raw);
  b = OwnedFd();
  EXPECT_EQ(::fcntl(raw, F_GETFD), -1);  // closed by the assignment
  OwnedFd c = createSharedMemory(8);
  const int kept = c.release();
  c.reset();
  EXPECT_NE(::fcntl(kept, F_GETFD), -1);
  ::close(kept);
}

}  // namespace
}  // namespace os
