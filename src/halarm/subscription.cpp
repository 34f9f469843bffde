#include "halarm/subscription.h"

#include <initializer_list>
#include <utility>

#include "error/check.h"
#include "keepers/domain_keeper.h"
#include "keepers/run_state.h"
#include "tql/property.h"
#include "tql/schema.h"

namespace halarm {
namespace {

namespace cls = tql::cls;
namespace prop = tql::prop;

// Pattern flags, passed through to the DBMS.
constexpr std::int32_t kPlain = 0;
constexpr std::int32_t kGroupFlag = 1;
constexpr std::int32_t kPlanFlag = 2;
constexpr std::int32_t kScoredFlag = 4;

tql::pattern_t pattern(std::uint32_t cls, std::int32_t flags,
                       std::initializer_list<std::uint32_t> wanted = {},
                       std::vector<tql::pattern_t> next = {}) {
  tql::pattern_t p;
  p.class_ = cls;
  p.flags = flags;
  p.next = std::move(next);
  p.wanted_properties = wanted;
  return p;
}

// A downtime plan with the elements the plan calendar reads. Every place
// that can carry a plan gets its own copy.
tql::pattern_t planSubtree() {
  return pattern(
      cls::Plan, kPlanFlag, {},
      {pattern(cls::ExpectedEvent, kPlanFlag), pattern(cls::UnexpectedEvent, kPlanFlag),
       pattern(cls::WeekPlanner, kPlanFlag, {},
               {pattern(cls::DayPlanner, kPlanFlag, {}, {pattern(cls::Event, kPlanFlag)})})});
}

tql::pattern_t domainExport() {
  return pattern(
      cls::DomainExport, kPlain,
      {prop::gid, prop::alertStrategy, prop::acknowledgeAlerts, prop::warn, prop::alert,
       prop::warnCeiling, prop::alertCeiling, prop::goodScore, prop::warnScore, prop::alertScore});
}

// Node classes are mirrored only for the plans configured inside them.
tql::pattern_t nodeClass() {
  tql::pattern_t accumulationConfig =
      pattern(cls::NodeClassCheckAccumulationConfig, kPlain, {}, {planSubtree()});
  tql::pattern_t checkConfig = pattern(cls::NodeClassCheckConfig, kPlain, {},
                                       {planSubtree(), std::move(accumulationConfig)});
  tql::pattern_t groupConfig =
      pattern(cls::NodeClassCheckGroupConfig, kGroupFlag, {}, {std::move(checkConfig)});
  tql::pattern_t nodeConfig =
      pattern(cls::NodeClassNodeConfig, kPlain, {}, {planSubtree(), std::move(groupConfig)});
  return pattern(cls::NodeClass, kPlain, {}, {std::move(nodeConfig)});
}

constexpr std::initializer_list<std::uint32_t> kCheckProperties = {
    prop::active,        prop::longLabel, prop::alertStrategy, prop::acknowledgeAlerts,
    prop::goodScore,     prop::warnScore, prop::alertScore,    prop::dependsOn,
    prop::stationLocale, prop::checkType};

tql::pattern_t check() {
  tql::pattern_t accumulation =
      pattern(cls::CheckAccumulation, kScoredFlag, kCheckProperties, {planSubtree()});
  tql::pattern_t p =
      pattern(cls::Check, kScoredFlag, kCheckProperties, {planSubtree(), std::move(accumulation)});
  // Inactive checks are left out of the mirror altogether.
  p.where.emplace_back(std::make_unique<tql::property_boolean_t>(prop::active, true),
                       tql::kRelEqual);
  return p;
}

tql::pattern_t node() {
  tql::pattern_t group = pattern(cls::CheckGroup, kGroupFlag, {prop::siblingName}, {check()});
  return pattern(cls::Node, kScoredFlag,
                 {prop::checkinFrequency, prop::alertStrategy, prop::acknowledgeAlerts,
                  prop::checkinScore, prop::missedCheckinScore, prop::warn, prop::alert,
                  prop::warnCeiling, prop::alertCeiling, prop::dependsOn, prop::stationLocale},
                 {planSubtree(), std::move(group)});
}

}  // namespace

tql::pattern_t subscriptionPattern() {
  return pattern(cls::Domain, kGroupFlag, {prop::dependsOn, prop::stationLocale},
                 {planSubtree(), domainExport(), nodeClass(), node()});
}

dbms::Tql_Select_Data subscriptionRequest() {
  dbms::Tql_Select_Data request;
  request.root_ids.push_back(kRootObjectId);
  request.pattern = subscriptionPattern();
  request.flags = kSubscriptionFlags;
  request.min_eval_interval = kMinEvalInterval;
  return request;
}

// --- AlarmSubscriber ---

AlarmSubscriber::~AlarmSubscriber() {
  // The keepers' destructors reach the sink: they must go first.
  deleteTree();
}

void AlarmSubscriber::setQueue(queues::childqueue* queue) {
  if (queue == nullptr) {
    HX_CHECK(root() == nullptr, "AlarmSubscriber lost its queue while keepers remain");
    sink_.reset();
    return;
  }
  sink_ = std::make_unique<keepers::QueueSink<queues::childqueue>>(*queue);
}

void AlarmSubscriber::treeArriving(std::size_t objects) {
  // Nearly every object gets a count keeper: making room once spares the
  // registry a rehash at every doubling.
  keepers::countKeepers.reserve(keepers::countKeepers.size() + objects);
}

tql::IncrementalSubscriber::ObjectPtr AlarmSubscriber::createRoot(tql::object_ptr node) {
  HX_CHECK(sink_ != nullptr, "AlarmSubscriber has no queue");
  // The keeper reads its object (its update) as it is built.
  return std::make_unique<keepers::DomainKeeper>(nullptr, std::move(node), *sink_);
}

AlarmSubscriber& alarmSubscriber() {
  // Built on first use, so that it goes before the keepers' registries at
  // exit (they are built earlier, during static initialisation).
  static AlarmSubscriber subscriber;
  return subscriber;
}

}  // namespace halarm
