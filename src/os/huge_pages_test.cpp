#include "os/huge_pages.h"

#include <gtest/gtest.h>

namespace os {
namespace {

TEST(HugePageHeapTest, TheTunableIsAddedUnlessAlreadySet) {
  const struct {
    const char* current;
    std::optional<std::string> wanted;
  } cases[] = {
      {nullptr, "glibc.malloc.hugetlb=1"},
      {"a=1:b=2", "a=1:b=2:glibc.malloc.hugetlb=1"},
      // Names that only begin or end like it are other tunables.
      {"glibc.malloc.hugetlbx=1", "glibc.malloc.hugetlbx=1:glibc.malloc.hugetlb=1"},
      {"x.glibc.malloc.hugetlb=1", "x.glibc.malloc.hugetlb=1:glibc.malloc.hugetlb=1"},
      // Set already, to anything and anywhere in the list: left alone.
      {"glibc.malloc.hugetlb=0", std::nullopt},
      {"a=1:glibc.malloc.hugetlb=2:b=3", std::nullopt},
      {"a=1:glibc.malloc.hugetlb", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(tunablesWithHugePageHeap(c.current), c.wanted)
        << (c.current == nullptr ? "(unset)" : c.current);
  }
}

}  // namespace
}  // namespace os
