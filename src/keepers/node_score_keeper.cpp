#include "keepers/node_score_keeper.h"

#include "error/exception.h"
#include "keepers/group_keeper.h"
#include "keepers/plan_keeper.h"
#include "meter/log.h"
#include "queues/dbms.h"
#include "queues/devent.h"
#include "tql/property_access.h"
#include "tql/schema.h"

namespace keepers {

NodeScoreKeeper::NodeScoreKeeper(CountKeeper* parentKeeper, tql::object_ptr node, EventSink& sink)
    : NodeLikeScoreKeeper(parentKeeper, std::move(node), sink) {
  update(true);
}

void NodeScoreKeeper::update(bool /*top*/) {
  const tql::object_t& o = *object;
  const tql::property_t* frequency = optionalProperty(o, tql::prop::checkinFrequency);
  if (frequency != nullptr) {
    const std::uint32_t value = tql::getUint(*frequency);
    // A new or changed frequency restarts the wait from now.
    if (!active() || value != frequency_) {
      frequency_ = value;
      last_checkin_ = htime::now().sec;
    }
  }
  freeze();
  setActive(frequency != nullptr);
  updateNodeLike();
  setAlertStrategy(tql::getEnum(o, tql::prop::alertStrategy, 0));
  setAcknowledgeRequired(tql::getBoolean(o, tql::prop::acknowledgeAlerts));
  const std::int32_t missed = tql::getInt(o, tql::prop::missedCheckinScore);
  setRates({tql::getInt(o, tql::prop::checkinScore), missed, missed});
  unfreeze();
  touch();
}

htime::usec_time NodeScoreKeeper::expectedCheckinTime() const {
  const double base =
      last_checkin_ == 0 ? htime::now().toDouble() : static_cast<double>(last_checkin_);
  return htime::usec_time::fromDouble(base + (frequency_ * 2.5 + 30.0));
}

void NodeScoreKeeper::process() {
  HX_LOG_DEBUG(meter::kAlarmDebug, "in NodeScoreeKeeper process");
  ScoreKeeper::process();
  reschedule(late_record_, active() && !late_ ? expectedCheckinTime() : htime::never);
}

void NodeScoreKeeper::boundaryReached() {
  const htime::usec_time expected = expectedCheckinTime();
  HX_LOG_DEBUG(meter::kAlarmDebug, std::string("NSK: al=") + (late_ ? "true" : "false") +
                                       ", eCT=" + htime::calendarText(expected.sec));
  if (!late_ && !TimeOrder{}(htime::now(), expected)) {
    sink().send(queues::devent_t<queues::LATE_CHECKIN>(queues::QUEUE_DBMS, 0,
                                                       dbms::Late_Checkin_Data{id()}));
    late_ = true;
    HX_LOG_DEBUG(meter::kAlarmDebug, "Told DBMS node is late");
  }
  freeze();
  unfreeze();
}

void NodeScoreKeeper::checkin(std::int64_t time) {
  last_checkin_ = time;
  setCurState(kStateGood);
  late_ = false;
  touch();
}

namespace {

// Every score keeper at or below `keeper` whose levels come from `node`.
template <class F>
void forEachCheckOf(CountKeeper& keeper, const NodeScoreKeeper& node, F&& f) {
  if (auto* score = dynamic_cast<ScoreKeeper*>(&keeper);
      score != nullptr && score->thresholdSource() == &node) {
    f(*score);
  }
  for (auto& entry : keeper.children) {
    if (auto* child = dynamic_cast<CountKeeper*>(entry.second.get()))
      forEachCheckOf(*child, node, f);
  }
}

}  // namespace

void NodeScoreKeeper::resetAllScores(const tql::id_t& user, const std::string& comment) {
  resetScore(user, comment);
  // The checks that take their levels from this node are exactly the score
  // keepers of its subtree: walking it costs the node's size, not the tree's.
  forEachCheckOf(*this, *this, [&](ScoreKeeper& k) { k.resetScore(user, comment); });
}

tql::IncrementalSubscriber::ObjectPtr NodeScoreKeeper::createChild(tql::object_ptr node) {
  switch (node->class_) {
    case tql::cls::Check:
      return std::make_unique<CheckScoreKeeper>(this, std::move(node), this, false, sink());
    case tql::cls::CheckGroup: {
      const bool agent = tql::getString(*node, tql::prop::siblingName) == "agentchecks";
      return std::make_unique<GroupKeeper>(this, std::move(node), *this, agent, sink());
    }
    case tql::cls::Plan:
      return std::make_unique<PlanKeeper>(this, std::move(node));
    default:
      throw error::EFatal("Got " + tql::className(node->class_) + " as child of Node");
  }
}

}  // namespace keepers
