#include "io/area_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "error/exception.h"
#include "testkit/matcher.h"

namespace io {
namespace {

class AreaTableTest : public ::testing::Test {
 protected:
  std::vector<std::string> traces;
  AreaTable table{64, 1024, [this](std::string_view line) { traces.emplace_back(line); }};
};

TEST_F(AreaTableTest, FirstFitFillsGapsAndKeepsAreasOfKnownSiblings) {
  EXPECT_EQ(table.allocate(1, 128).start, 64u);
  EXPECT_EQ(table.allocate(-3, 256).start, 192u);
  EXPECT_EQ(table.allocate(2, 64).start, 448u);
  EXPECT_EQ(traces[0], " Allocated area at 64 of size 128 for child sibling 1");
  table.release(-3);  // dropped: the gap is reused first-fit
  EXPECT_EQ(traces.back(), " Deallocated area at 192 for sibling -3");
  EXPECT_EQ(table.allocate(-4, 200).start, 192u);
  EXPECT_EQ(table.allocate(-5, 64).start, 512u);  // 56 bytes left at 392: too small
  table.release(1);  // kept for sibling 1, whatever size it asks for next
  EXPECT_EQ(table.allocate(3, 128).start, 576u);
  EXPECT_EQ(table.allocate(1, 512).start, 64u);
  EXPECT_EQ(table.find(1)->size, 128u);
  table.release(-4);
  EXPECT_EQ(table.allocate(-4, 256).start, 192u);
  EXPECT_EQ(table.allocate(6, 320).start, 704u);  // up to the end of the pool
  HX_EXPECT_THROW_TEXT(table.allocate(7, 8), error::EFatal, "No room for write area for ID 7");
  HX_EXPECT_THROW_TEXT(AreaTable(64, 128).allocate(0, std::uint64_t{1} << 63), error::EFatal,
                       "No room for write area for ID 0");
}

using AreaTableDeathTest = AreaTableTest;

TEST_F(AreaTableDeathTest, InconsistentRequestsEndInAssertions) {
  table.allocate(2, 64);
  EXPECT_DEATH(table.allocate(5, 60), "Slice size for sibling id 5 is not 8 byte aligned!");
  EXPECT_DEATH(table.allocate(2, 64),
               "Found shared memory area for sibling 2 at offset 64 of "
               "size 64 but it is already in use.");
  EXPECT_DEATH(table.release(9), "Assertion failed: Could not find area for sibling 9");
  table.release(2);
  EXPECT_DEATH(table.release(2),
               "About to mark shared memory area for sibling 2 at offset 64 of "
               "size 64 as unused, but it was not marked as used in the first "
               "place.");
  EXPECT_DEATH(table.allocate(8, 0), "Failed insertion into SiblingMessengerParent::areas");
}

}  // namespace
}  // namespace io
