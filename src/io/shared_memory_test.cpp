#include "io/shared_memory.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>

#include "error/exception.h"
#include "os/shared_memory.h"
#include "testkit/matcher.h"

namespace io {
namespace {

TEST(SharedMemoryTest, TwoMappingsOfANewPoolShareTheirBytes) {
  const os::OwnedFd fd = createSharedMemoryPool(1 << 16);
  // The parent's view and a child's view of the same inherited descriptor.
  SharedMemory parent(fd.get(), 1 << 16), child(fd.get(), 1 << 16);
  ASSERT_NE(parent.address(), child.address());
  EXPECT_EQ(std::memcmp(child.address(), "\x28\x82\x17\x71", 4), 0);  // little-endian magic
  parent.address()[(1 << 16) - 1] = 0xA5;
  EXPECT_EQ(child.address()[(1 << 16) - 1], 0xA5);
  child.view().initFree(4096, 0, 8192);
  EXPECT_EQ(parent.view().nextOffset(4096), 8192u);
}

TEST(SharedMemoryDeathTest, RefusesWhatCannotBeMappedOrHasNoMagic) {
  HX_EXPECT_THROW_TEXT(SharedMemory(-1, 4096), error::ESystemError,
                       "Cannot map view for sibling messenger: Bad file descriptor");
  HX_EXPECT_THROW_TEXT(createSharedMemoryPool(4), error::EFatal,
                       "Shared memory pool size 4 is not between 8 bytes and 4 GiB");
  const os::OwnedFd blank = os::createSharedMemory(4096);
  EXPECT_DEATH(SharedMemory(blank.get(), 4096),
               "Assertion failed: Wrong header of shared memory pool");
}

TEST(SharedMemoryTest, RefusesAnInheritedPoolThatOthersCouldOpen) {
  const os::OwnedFd fd = createSharedMemoryPool(4096);
  struct stat st {};
  ASSERT_EQ(::fstat(fd.get(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);  // what the main process creates
  ASSERT_EQ(::fchmod(fd.get(), 0640), 0);
  HX_EXPECT_THROW_TEXT(SharedMemory(fd.get(), 4096), error::ESystemError,
                       "Shared memory pool descriptor " + std::to_string(fd.get()) +
                           " refused: mode 0640 gives rights to group or others (0600/0700 "
                           "needed)");
}

}  // namespace
}  // namespace io
