#include "meter/metric.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "meter/process_metrics.h"

namespace meter {
namespace {

std::vector<std::string> namesOf(const auto& list) {
  std::vector<std::string> names;
  for (const Object* object : list) names.push_back(object->name());
  return names;
}

Object* at(std::vector<std::string> path) { return find(path); }

class MeterTest : public ::testing::Test {
 protected:
  void SetUp() override { resetForTest(); }
  void TearDown() override { resetForTest(); }
};

TEST_F(MeterTest, PendingObjectsJoinTheTreeAtStartMostRecentFirst) {
  Group group(nullptr, "grp");
  IntegerCounter first(&group, "first", "", "");
  IntegerCounter second(&group, "second", "", "");
  IntegerGauge top(nullptr, "top", "", "");
  EXPECT_EQ(at({"grp", "first"}), nullptr);

  start();
  EXPECT_EQ(at({"grp", "first"}), &first);
  EXPECT_EQ(at({"top"}), &top);
  EXPECT_EQ(namesOf(group.metrics()), (std::vector<std::string>{"second", "first"}));
  EXPECT_EQ(first.group(), &group);
  EXPECT_EQ(top.group(), &root());

  // Constructed after start: joins its group at once, in construction order.
  IntegerCounter third(&group, "third", "", "");
  EXPECT_EQ(at({"grp", "third"}), &third);
  EXPECT_EQ(group.metrics().back(), &third);
}

TEST_F(MeterTest, FindDesignatesOnlyWholePaths) {
  Group group(nullptr, "grp");
  Group sub(&group, "sub");
  IntegerGauge leaf(&sub, "leaf", "", "");
  start();
  EXPECT_EQ(at({}), nullptr);
  EXPECT_EQ(at({"grp"}), nullptr);  // a group is not a metric
  EXPECT_EQ(at({"grp", "sub", "leaf"}), &leaf);
  EXPECT_EQ(at({"grp", "sub", "leaf", "more"}), nullptr);
  EXPECT_EQ(at({"grp", "missing"}), nullptr);
  EXPECT_EQ(at({"leaf"}), nullptr);
}

TEST_F(MeterTest, DestroyedObjectsLeaveTheTreeAndFreeTheirName) {
  Group group(nullptr, "grp");
  start();
  {
    IntegerCounter temporary(&group, "x", "", "");
    EXPECT_EQ(at({"grp", "x"}), &temporary);
  }
  EXPECT_EQ(at({"grp", "x"}), nullptr);
  EXPECT_TRUE(group.metrics().empty());
  IntegerCounter again(&group, "x", "", "");
  EXPECT_EQ(at({"grp", "x"}), &again);

  // A pending object destroyed before start never shows up.
  resetForTest();
  { IntegerCounter gone(&group, "gone", "", ""); }
  start();
  EXPECT_EQ(at({"grp", "gone"}), nullptr);
}

TEST_F(MeterTest, GroupDestroyedBeforeItsMembersLeavesThemDetached) {
  auto group = std::make_unique<Group>(nullptr, "grp");
  auto metric = std::make_unique<IntegerCounter>(group.get(), "m", "", "");
  start();
  group.reset();
  EXPECT_EQ(metric->group(), nullptr);
  EXPECT_EQ(namesOf(root().groups()), (std::vector<std::string>{"metering", "queues", "tqlutil"}));
  metric.reset();  // must not touch the destroyed group
}

TEST_F(MeterTest, TimingKeepsCountExtremesAndSums) {
  MicroSecondTiming timing(nullptr, "t", "");
  EXPECT_EQ(timing.stats().min, UINT64_MAX);
  EXPECT_EQ(timing.stats().max, 0u);
  timing.add(5);
  timing.add(2);
  timing.addElapsed(htime::usec_time(10, 999999), htime::usec_time(12, 2));  // 1000003 us
  timing.addElapsed(htime::usec_time(12), htime::usec_time(11));             // backwards: 0
  const TimingStats expected{4, 0, 1000003, 1000010, 25 + 4 + 1000003ull * 1000003ull};
  EXPECT_EQ(timing.stats(), expected);
}

TEST(MeterDeathTest, DuplicateNameInOneGroupAborts) {
  EXPECT_DEATH(
      {
        resetForTest();
        Group group(nullptr, "grp");
        Group sub(&group, "dup");
        IntegerCounter metric(&group, "dup", "", "");
        start();
      },
      "Assertion failed: Attempt to add duplicate metric name: dup");
}

}  // namespace
}  // namespace meter
