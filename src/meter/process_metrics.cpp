#include "meter/process_metrics.h"

namespace meter {
namespace {

Group& meteringGroup() {
  static Group group(nullptr, "metering");
  return group;
}

Group& queuesGroup() {
  static Group group(nullptr, "queues");
  return group;
}

}  // namespace

IntegerGauge& numObjs() {
  static IntegerGauge gauge(nullptr, "num_objs", "",
                            "The number of Checks/Nodes that have a status color");
  return gauge;
}

MicroSecondTiming& meteringTime() {
  static MicroSecondTiming timing(&meteringGroup(), "time", "Time spent in metering routines");
  return timing;
}

MicroSecondTiming& blockings() {
  static MicroSecondTiming timing(&queuesGroup(), "blockings",
                                  "The time spent blocked awaiting reply from another process");
  return timing;
}

IntegerCounter& noblockings() {
  static IntegerCounter counter(
      &queuesGroup(), "noblockings", "",
      "The number of times a reply from another process was immediately available");
  return counter;
}

TqlUtilMetrics::TqlUtilMetrics()
    : group(nullptr, "tqlutil"),
      deleteIter(&group, "delete_iter", "", ""),
      deletes(&group, "delete", "", ""),
      relocateIter(&group, "relocate_iter", "", ""),
      relocate(&group, "relocate", "", ""),
      replaceIter(&group, "replace_iter", "", ""),
      replace(&group, "replace", "", "") {}

TqlUtilMetrics& tqlutil() {
  static TqlUtilMetrics metrics;
  return metrics;
}

namespace {

// Builds the whole table before main. Groups are constructed in reverse of the
// order they should be listed in (pending objects are added most recent
// first): "metering", "queues", "tqlutil"; within "queues", "blockings" then
// "noblockings".
[[maybe_unused]] const bool kBuilt = [] {
  tqlutil();
  queuesGroup();
  meteringGroup();
  noblockings();
  blockings();
  meteringTime();
  numObjs();
  return true;
}();

}  // namespace
}  // namespace meter
