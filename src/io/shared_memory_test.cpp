#include "io/shared_memory.h"

#include <gtest/gtest.h>

#include "error/exception.h"
#include "os/shared_memory.h"
#include "testkit/matcher.h"

namespace io {
namespace {

TEST(SharedMemoryTest, TwoMappingsOfANewPoolShareTheirBytes) {
  const os::OwnedFd fd = createSharedMemoryPool(1 << 16);
  // The parent's view and a child's view of the same inherited descriptor.
  SharedMemory parent(fd.get(), 1 << 16);
  SharedMemory child(fd.get(), 1 << 16);
  ASSERT_NE(parent.address(), child.address());
  EXPECT_EQ(child.mapsize(), 1u << 16);
  // The magic, little-endian.
  EXPECT_EQ(child.address()[0], 0x28);
  EXPECT_EQ(child.address()[1], 0x82);
  EXPECT_EQ(child.address()[2], 0x17);
  EXPECT_EQ(child.address()[3], 0x71);
  parent.address()[(1 << 16) - 1] = 0xA5;
  child.view().initFree(4096, 0, 8192);
  EXPECT_EQ(child.address()[(1 << 16) - 1], 0xA5);
  EXPECT_EQ(parent.view().nextOffset(4096), 8192u);
}

TEST(SharedMemoryTest, RefusesWhatCannotBeMapped) {
  HX_EXPECT_THROW_TEXT(SharedMemory(-1, 4096), error::ESystemError,
                       "Cannot map view for sibling messenger: Bad file descriptor");
  HX_EXPECT_THROW_TEXT(createSharedMemoryPool(4), error::EFatal,
                       "Shared memory pool size 4 is not between 8 bytes and 4 GiB");
  HX_EXPECT_THROW_TEXT(SharedMemory(0, (std::uint64_t{1} << 32) + 8), error::EFatal,
                       "Shared memory pool of 4294967304 bytes is too large for 32-bit offsets");
}

TEST(SharedMemoryDeathTest, APoolWithoutTheMagicIsRefused) {
  const os::OwnedFd blank = os::createSharedMemory(4096);
  EXPECT_DEATH(SharedMemory(blank.get(), 4096),
               "Assertion failed: Wrong header of shared memory pool");
}

}  // namespace
}  // namespace io
