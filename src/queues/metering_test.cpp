#include "queues/metering.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "htime/fake_clock.h"
#include "meter/metric.h"
#include "meter/process_metrics.h"
#include "testkit/pipe_peer.h"

namespace queues {
namespace {

// A metric whose instance is gone.
class VanishedMetric : public meter::Metric {
 public:
  explicit VanishedMetric(meter::Group* parent) : Metric(parent, "vanished", "", "") {}
  std::uint32_t type() const override { return meter::kIntegerGaugeType; }
  void reply(meter::Replier&) const override { throw meter::ENoSuchInstance(); }
};

// One line per group and metric: its path, then unit and type for metrics.
void flatten(const control::Metric_Group& group, const std::string& path,
             std::vector<std::string>& out) {
  out.push_back(path + "/");
  for (const auto& metric : group.metrics) {
    out.push_back(path + "/" + metric.name + " [" + metric.unit + "] " +
                  std::to_string(metric.type));
  }
  for (const auto& sub : group.groups) flatten(sub, path + "/" + sub.name, out);
  EXPECT_TRUE(group.tables.empty());
}

class MeteringTest : public ::testing::Test {
 protected:
  MeteringTest() : current_(peer_.queue()) {
    meter::resetForTest();
    startMetering();
    EventPtr holder;
    const auto& supports = peer_.readAs<SUPPORTS_METRICS>(holder);
    EXPECT_EQ(supports.dest, QUEUE_MAIN);
    EXPECT_EQ(supports.inresponse, 0u);
    EXPECT_EQ(supports.data, 0);
  }
  ~MeteringTest() override { meter::resetForTest(); }

  // Handles a request from `requester` and returns the reply, checking that
  // it goes back to the requester under the request's uid.
  template <event_t Reply, event_t Request>
  event_data_t<Reply> ask(queue_t requester, event_data_t<Request> data = {}) {
    const std::uint32_t uid = ++uid_;
    EXPECT_TRUE(handleMetricEvent(devent_t<Request>(requester, uid, std::move(data))));
    EventPtr holder = peer_.read();
    EXPECT_EQ(holder->type, Reply) << holder->toString();
    EXPECT_EQ(holder->dest, requester);
    EXPECT_EQ(holder->inresponse, uid);
    auto* reply = dynamic_cast<devent_t<Reply>*>(holder.get());
    return reply != nullptr ? reply->data : event_data_t<Reply>{};
  }
  std::string metricError(std::list<std::string> path) {
    return ask<RETURN_METRIC_ERROR, GET_METRIC>(QUEUE_MAIN, {std::move(path)});
  }

  htime::FakeClock clock_;
  testkit::PipePeer peer_;
  CurrentQueueScope current_;
  std::uint32_t uid_ = 100;
};

TEST_F(MeteringTest, ListMetricsDescribesNestedGroupsWithUnitsAndTypes) {
  const control::Metric_Group tree = ask<RETURN_LIST_METRICS, LIST_METRICS>(QUEUE_MAIN, 0);
  EXPECT_EQ(tree.name, "");
  std::vector<std::string> lines;
  flatten(tree, "", lines);
  EXPECT_THAT(lines, testing::IsSupersetOf({"/", "/num_objs [] 0", "/metering/time [us] 3",
                                            "/queues/noblockings [] 2"}));
  EXPECT_EQ(tree.metrics.front().desc, "The number of Checks/Nodes that have a status color");
}

TEST_F(MeteringTest, GetMetricAnswersValuesAndCountsItsOwnTime) {
  // Every reading of the clock is 250 us after the previous one.
  htime::usec_time now(5000);
  htime::setClockForTesting([&now] {
    now += htime::usec_time(0, 250);
    return now;
  });
  const meter::TimingStats before = meter::meteringTime().stats();
  meter::numObjs().set(2);

  EXPECT_EQ((ask<RETURN_METRIC_UINT64, GET_METRIC>(QUEUE_DBMS, {{"num_objs"}})), 2u);
  EXPECT_EQ(metricError({"metering"}), "Unknown metric");  // a group
  EXPECT_EQ(metricError({}), "Unknown metric");
  EXPECT_EQ(metricError({"metering", "time", "n"}), "Unknown metric");
  const control::Return_Metric_Timing_Data timing =
      ask<RETURN_METRIC_TIMING, GET_METRIC>(QUEUE_MAIN, {{"metering", "time"}});
  htime::setClockForTesting([this] { return clock_.now(); });

  // The four earlier requests, not this one.
  EXPECT_EQ(timing.n, before.n + 4);
  EXPECT_EQ(timing.sum, before.sum + 4 * 250);
  EXPECT_EQ(timing.max, std::max<std::uint64_t>(before.max, 250));
  EXPECT_EQ(meter::meteringTime().stats().n, before.n + 5);
  meter::numObjs().set(0);
}

TEST_F(MeteringTest, TimingWithoutSamplesAndMissingInstances) {
  meter::Group group(nullptr, "test");  // registered at once: metering runs
  meter::MicroSecondTiming idle(&group, "idle", "");
  VanishedMetric vanished(&group);

  const auto timing = ask<RETURN_METRIC_TIMING, GET_METRIC>(QUEUE_MAIN, {{"test", "idle"}});
  EXPECT_EQ(timing.n, 0u);
  EXPECT_EQ(timing.min, std::numeric_limits<std::uint64_t>::max());
  EXPECT_EQ(timing.max, 0u);
  EXPECT_EQ(metricError({"test", "vanished"}), "No such instance");
}

TEST_F(MeteringTest, GetMetricTypeDescribesOneMetric) {
  const control::Metric metric =
      ask<RETURN_GET_METRIC_TYPE, GET_METRIC_TYPE>(QUEUE_MAIN, {{"queues", "noblockings"}});
  EXPECT_EQ(metric.name, "noblockings");
  EXPECT_EQ(metric.type, meter::kIntegerCounterType);
  EXPECT_EQ((ask<RETURN_METRIC_ERROR, GET_METRIC_TYPE>(QUEUE_MAIN, {{"queues"}})),
            "Unknown metric");
}

TEST_F(MeteringTest, OtherEventsAreLeftAlone) {
  EXPECT_FALSE(handleMetricEvent(devent_t<SYS_EXIT>(QUEUE_MAIN, 3)));
  EXPECT_FALSE(handleMetricEvent(exevent(QUEUE_MAIN, 3, "x")));
  EXPECT_FALSE(handleMetricEvent(devent_t<RETURN_METRIC_UINT64>(QUEUE_MAIN, 3)));
  // Nothing was sent: the next event the parent sees is this one.
  peer_.queue().send(devent_t<SUPPORTS_METRICS>(QUEUE_MAIN, 0, 7));
  EventPtr holder;
  EXPECT_EQ(peer_.readAs<SUPPORTS_METRICS>(holder).data, 7);
}

}  // namespace
}  // namespace queues
