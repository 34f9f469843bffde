#include "keepers/score_keeper.h"

#include <algorithm>
#include <string>

#include "error/check.h"
#include "error/exception.h"
#include "keepers/node_like_score_keeper.h"
#include "keepers/plan_keeper.h"
#include "meter/log.h"
#include "meter/process_metrics.h"
#include "queues/alarms.h"
#include "queues/alert.h"
#include "queues/dbms.h"
#include "queues/devent.h"
#include "tql/property_access.h"
#include "tql/schema.h"

namespace keepers {

namespace {

std::string signedText(std::uint32_t v) { return std::to_string(static_cast<std::int32_t>(v)); }

// A status as the keeper stores it, in a byte: every status it derives or
// codes for the DBMS is at most 13.
std::uint8_t statusByte(status_t status) {
  HX_CHECK(status <= UINT8_MAX, "Status " + std::to_string(status) + " out of range");
  return static_cast<std::uint8_t>(status);
}

}  // namespace

ScoreKeeper::ScoreKeeper(CountKeeper* parentKeeper, tql::object_ptr node,
                         NodeLikeScoreKeeper* thresholdSource, bool agentCheck, EventSink& sink)
    : CheckParent(parentKeeper, std::move(node), agentCheck),
      sink_(&sink),
      threshold_source_(thresholdSource),
      last_accumulation_(htime::now()) {
  countKeepers.scoreKeeperBuilt(id());
  ++meter::numObjs();
}

ScoreKeeper::~ScoreKeeper() {
  // Passing through "no status" withdraws this keeper from every counter.
  setCurStatus(kNoStatus);
  notify_queue.erase(*this);
  --meter::numObjs();
  countKeepers.scoreKeeperLeaving(*this);
  HX_CHECK(counted_ <= kGood, "ScoreKeeper[" + id().toString() + "] still counted on destruction");
  if (own_unknown_ != 0 || own_warn_ != 0 || own_alert_ != 0) {
    std::string text = "Non-zero counts upon destruction of ScoreKeeper[" + id().toString() + "]";
    if (parentKeeper() != nullptr) text += " parent[" + parentKeeper()->id().toString() + "]";
    error::assertionFailed(text);
  }
  cancel(threshold_record_);
  cancel(grace_record_);
  touched.erase(this);
}

Thresholds ScoreKeeper::thresholds() const {
  return threshold_source_ == nullptr ? Thresholds{} : threshold_source_->levels();
}

void ScoreKeeper::freeze() {
  HX_CHECK(freeze_depth_ != UINT8_MAX, "ScoreKeeper[" + id().toString() + "] frozen too deeply");
  if (freeze_depth_++ != 0) return;
  if (active_ && alert_strategy_ == kScoreDriven) accumulate(htime::now());
}

void ScoreKeeper::freezeAt(htime::usec_time now) {
  HX_CHECK(freeze_depth_ != UINT8_MAX, "ScoreKeeper[" + id().toString() + "] frozen too deeply");
  if (freeze_depth_++ != 0) return;
  if (active_ && alert_strategy_ == kScoreDriven) accumulate(now);
}

void ScoreKeeper::accumulate(htime::usec_time now) {
  score_ = accumulateScore(score_, elapsedSeconds(last_accumulation_, now), state_, rates_,
                           thresholds());
  last_accumulation_ = now;
}

void ScoreKeeper::unfreeze() {
  // The clock is read only when the outermost unfreeze derives a status.
  if (freeze_depth_ == 1) {
    unfreezeAt(htime::now());
    return;
  }
  HX_CHECK(freeze_depth_ != 0, "ScoreKeeper[" + id().toString() + "] unfrozen while not frozen");
  --freeze_depth_;
  HX_LOG_DEBUG(meter::kAlarmDebug, "Nothing frozen in unfreeze");
}

void ScoreKeeper::unfreezeAt(htime::usec_time now) {
  HX_CHECK(freeze_depth_ != 0, "ScoreKeeper[" + id().toString() + "] unfrozen while not frozen");
  if (--freeze_depth_ != 0) {
    HX_LOG_DEBUG(meter::kAlarmDebug, "Nothing frozen in unfreeze");
    return;
  }
  if (no_status_) {
    setCurStatusAt(kNoStatus, now);
    return;
  }
  deadline_ = htime::never;
  if (!active_) {
    HX_LOG_DEBUG(meter::kAlarmDebug, "Not active");
    setCurStatusAt(kNoStatus, now);
    return;
  }
  last_accumulation_ = now;
  saveOrRestoreScore();
  const Derivation d = deriveStatus(alert_strategy_, state_, score_, rates_, thresholds(), now);
  deadline_ = d.deadline;
  HX_LOG_DEBUG(meter::kAlarmDebug, "*Calling setCurStatus");
  setCurStatusAt(d.status, now);
  HX_LOG_DEBUG(meter::kAlarmDebug, "*Calling touched");
  touch();
}

void ScoreKeeper::saveOrRestoreScore() {
  // Whatever the score gathers during downtime is dropped when it ends.
  if (planDownCount() > 0 && saved_score_ == -1) {
    HX_LOG_DEBUG(meter::kAlarmDebug, "We are entering scheduled downtime, save score");
    saved_score_ = score_;
  } else if (planDownCount() == 0 && saved_score_ != -1) {
    HX_LOG_DEBUG(meter::kAlarmDebug, "We are leaving scheduled downtime, restore score");
    score_ = saved_score_;
    saved_score_ = -1;
  }
}

void ScoreKeeper::setCurState(std::uint32_t state) {
  HX_LOG_DEBUG(meter::kAlarmDebug,
               "ScoreKeeper::setCurState[" + id().toString() + "](" + signedText(state) + ")");
  // One clock reading: the score accumulates up to the instant from which
  // the new state counts.
  const htime::usec_time now = htime::now();
  freezeAt(now);
  state_ = state;
  unfreezeAt(now);
}

void ScoreKeeper::setCurStatus(status_t status) { setCurStatusAt(status, htime::now()); }

void ScoreKeeper::setCurStatusAt(status_t status, htime::usec_time now) {
  HX_LOG_DEBUG(meter::kAlarmDebug, "setCurStatus[" + id().toString() + "](" +
                                       std::string(statusName(status)) +
                                       "), cur: " + std::string(statusName(cur_)) +
                                       ", sticky: " + std::string(statusName(sticky_)));
  cur_ = statusByte(graceRule(status, now));
  applyStatusAt(stickyRule(), now);
  HX_LOG_DEBUG(meter::kAlarmDebug, "After cur: " + std::string(statusName(cur_)) +
                                       ", sticky: " + std::string(statusName(sticky_)));
}

status_t ScoreKeeper::graceRule(status_t requested, htime::usec_time now) {
  // A freshly active object that is still unknown gets a minute to report
  // before it counts as UNKNOWN.
  if (requested != kUnknown && requested != kUninitialized) {
    uninitialized_since_ = htime::never;
    touch();
    return requested;
  }
  if (cur_ == kNoStatus) {
    uninitialized_since_ = now;
    touch();
    return kUninitialized;
  }
  if (cur_ != kUninitialized) return requested;
  // A grace period that was never started (an UNINITIALIZED taken as such)
  // counts as over, so the object cannot stay UNINITIALIZED for good.
  if (uninitialized_since_ != htime::never &&
      TimeOrder{}(now, uninitialized_since_ + htime::usec_time{kUninitializedGraceSeconds})) {
    return kUninitialized;
  }
  uninitialized_since_ = htime::never;
  touch();
  return requested;
}

status_t ScoreKeeper::stickyRule() {
  if (!acknowledge_required_) {
    sticky_ = cur_;
    return sticky_;
  }
  if (cur_ == kNoStatus) sticky_ = kNoStatus;
  // Trouble during downtime shows but is not remembered past its end.
  if (planDownCount() > 0) return std::max(sticky_, cur_);
  if (cur_ > sticky_ || (cur_ == kGood && (sticky_ == kUnknown || sticky_ == kUninitialized))) {
    sticky_ = cur_;
  }
  return sticky_;
}

bool ScoreKeeper::statusSourceFailed() const {
  for (const tql::id_t& s : statusSources()) {
    const ScoreKeeper* source = findKeeper(scoreKeepers, s);
    if (source != nullptr && source->counted_ > kGood) return true;
  }
  return false;
}

bool ScoreKeeper::explainedByDependency(status_t s) const {
  if (s == kNoStatus || s == kGood) return false;
  const bool unknownish = s == kUninitialized || s == kUnknown;
  const bool upToWarn = unknownish || s == kWarn;
  const bool upToAlert = upToWarn || s == kAlert;
  for (const CountKeeper* k = this; k != nullptr; k = k->parentKeeper()) {
    for (const tql::id_t& d : k->dependencies()) {
      const CountKeeper* dep = findKeeper(countKeepers, d);
      if (dep == nullptr) continue;
      if (unknownish && dep->unknownCount() != 0) return true;
      if (upToWarn && dep->warnCount() != 0) return true;
      if (upToAlert && dep->alertCount() != 0) return true;
    }
  }
  return false;
}

void ScoreKeeper::applyStatus(status_t s) { applyStatusAt(s, htime::now()); }

void ScoreKeeper::applyStatusAt(status_t s, htime::usec_time now) {
  pending_.reset();
  bool explained = false;
  if (s != kNoStatus && statusSourceFailed()) {
    s = kUnknown;
    explained = true;
  }
  updateCounters(s);
  status_t code;
  if (planDownCount() > 0) {
    code = downtimeCode(s);
  } else {
    explained = explained || explainedByDependency(s);
    code = explained ? explainedCode(s) : s;
  }
  const EnteredTimes entered =
      updateEnteredTimes(EnteredTimes{entered_warn_, entered_alert_}, code, dbms_, now.sec);
  // Either the old value or now's seconds: both fit 32 bits.
  entered_warn_ = static_cast<std::int32_t>(entered.warn);
  entered_alert_ = static_cast<std::int32_t>(entered.alert);
  if (code == dbms_) {
    HX_LOG_DEBUG(meter::kAlarmDebug, "New status equals dbms status - not adding to notify queue");
    return;
  }
  HX_LOG_DEBUG(meter::kAlarmDebug, "New status differs from dbms status - will queue for notify");
  // The oldest unreported status stays: a change and its reversal within
  // one turn report nothing.
  notify_queue.insert(*this, dbms_);
  dbms_ = statusByte(code);
}

void ScoreKeeper::updateCounters(status_t status) {
  const status_t old = counted_;
  if (status == old) return;
  std::int32_t d[3] = {0, 0, 0};  // unknown, warn, alert
  const auto slot = [](CountClass c) { return static_cast<int>(c) - 1; };
  const CountClass oldClass = countClass(old);
  HX_CHECK(oldClass != CountClass::kInvalid, "Unexpected counted_status in updateCounters");
  const CountClass newClass = countClass(status);
  HX_CHECK(newClass != CountClass::kInvalid,
           "Unexpected status (" + std::to_string(status) + ") in updateCounters");
  if (oldClass != CountClass::kNone) --d[slot(oldClass)];
  if (newClass != CountClass::kNone) ++d[slot(newClass)];
  if (d[0] == 0 && d[1] == 0 && d[2] == 0) return;
  status_change_queue.insert(id());
  propagate(d[0], d[1], d[2]);
  own_unknown_ = static_cast<std::uint8_t>(own_unknown_ + d[0]);
  own_warn_ = static_cast<std::uint8_t>(own_warn_ + d[1]);
  own_alert_ = static_cast<std::uint8_t>(own_alert_ + d[2]);
  counted_ = statusByte(status);
}

void ScoreKeeper::setPending(const tql::id_t& user, const std::string& comment) {
  pending_ = std::make_unique<Pending>(Pending{user, comment});
}

tql::id_t ScoreKeeper::pendingUser() const { return pending_ ? pending_->user : tql::id_t{}; }
std::string ScoreKeeper::pendingComment() const {
  return pending_ ? pending_->comment : std::string{};
}

void ScoreKeeper::acknowledgeAlert(const tql::id_t& user, const std::string& comment) {
  freeze();
  score_ = 0;
  state_ = kStateGood;
  unfreeze();
  sticky_ = cur_;
  applyStatus(cur_);
  // After the last applyStatus, so that they travel with the notification.
  setPending(user, comment);
}

void ScoreKeeper::resetScore(const tql::id_t& user, const std::string& comment) {
  zeroScore(user, comment);
}

void ScoreKeeper::zeroScore(const tql::id_t& user, const std::string& comment) {
  freeze();
  score_ = 0;
  unfreeze();
  setPending(user, comment);
}

void ScoreKeeper::resetAllScores(const tql::id_t& /*user*/, const std::string& /*comment*/) {
  meter::log("Recursive score reset for " + id().toString() + " ignored: not a node", 0);
}

void ScoreKeeper::checkin(std::int64_t /*time*/) {
  meter::log("Checkin for " + id().toString() + " ignored: not a node", 0);
}

void ScoreKeeper::setAlertStrategy(std::uint32_t strategy) {
  alert_strategy_ = strategy == kFollowState || strategy == kScoreDriven
                        ? static_cast<std::uint8_t>(strategy)
                        : kOtherStrategy;
}

void ScoreKeeper::adjustedForDowntime() {
  freeze();
  unfreeze();
}

void ScoreKeeper::boundaryReached() {
  freeze();
  unfreeze();
}

void ScoreKeeper::process() {
  reschedule(threshold_record_, deadline_);
  reschedule(grace_record_,
             uninitialized_since_ == htime::never
                 ? htime::never
                 : uninitialized_since_ + htime::usec_time{kUninitializedGraceSeconds});
  HX_LOG_DEBUG(meter::kAlarmDebug, "in ScoreKeeper process");
}

void ScoreKeeper::notifyStatusChange(status_t old) {
  if (dbms_ == old) return;
  const tql::id_t node = threshold_source_ != nullptr ? threshold_source_->id() : id();
  // The label, the comment and the clock only for a line that is written:
  // the first statuses after a full select write none.
  if (writesIncidentLog() && writesIncidentText(dbms_, old)) {
    const std::string text = incidentText(label(), downtimeComment(), dbms_, old);
    sink_->send(queues::devent_t<queues::PUT_INCIDENTLOG>(
        queues::QUEUE_DBMS, 0,
        dbms::Put_IncidentLog_Data{htime::now().sec, node, text, incidentSeverity(dbms_)}));
  }
  sink_->send(queues::devent_t<queues::OBJECT_STATUS_CHANGE>(
      queues::QUEUE_ALRT, 0,
      alert::Object_Status_Change_Data{id(), node, old, dbms_, pendingUser(), pendingComment()}));
  HX_LOG_DEBUG(meter::kAlarmDebug, "StatusChange for Object " + id().toString() + ": " +
                                       std::to_string(old) + " to " + std::to_string(dbms_));
  countStatusNotification();
  pending_.reset();
  submitStatus();
}

void ScoreKeeper::submitStatus() {
  HX_LOG_DEBUG(meter::kAlarmDebug, "Set status submit to dbms for id " + id().toString() +
                                       " status " + std::string(statusName(dbms_)));
  sink_->send(queues::devent_t<queues::SET_STATUS>(
      queues::QUEUE_DBMS, 0, alarms::Set_Status_Data{id(), dbms_, entered_warn_, entered_alert_}));
}

// --- CheckScoreKeeper ---

CheckScoreKeeper::CheckScoreKeeper(CountKeeper* parentKeeper, tql::object_ptr node,
                                   NodeLikeScoreKeeper* thresholdSource, bool agentCheck,
                                   EventSink& sink)
    : ScoreKeeper(parentKeeper, std::move(node), thresholdSource, agentCheck, sink) {
  if (agentCheck) rebuildStatusSources();
  // The first reading at the time the keeper was made: one clock reading per
  // check of a full select instead of two.
  updateAt(lastAccumulation());
}

const CountKeeper* CheckScoreKeeper::fixedStatusSource() const {
  return agentCheck() ? thresholdSource() : nullptr;
}

void CheckScoreKeeper::update(bool /*top*/) { updateAt(htime::now()); }

void CheckScoreKeeper::updateAt(htime::usec_time now) {
  freezeAt(now);
  updateLinks();
  const tql::object_t& o = *object;
  setActive(tql::getBoolean(o, tql::prop::active));
  tql::getString(o, tql::prop::longLabel);  // required: read again for each incident
  setAlertStrategy(tql::getEnum(o, tql::prop::alertStrategy, 0));
  setAcknowledgeRequired(tql::getBoolean(o, tql::prop::acknowledgeAlerts));
  setRates({tql::getInt(o, tql::prop::goodScore), tql::getInt(o, tql::prop::warnScore),
            tql::getInt(o, tql::prop::alertScore)});
  if (const tql::property_t* p = optionalProperty(o, tql::prop::checkType)) {
    setNoStatus(tql::getUint(*p) == 8);
  }
  unfreezeAt(now);
}

std::string_view CheckScoreKeeper::label() const {
  return tql::getString(*object, tql::prop::longLabel);
}

tql::IncrementalSubscriber::ObjectPtr CheckScoreKeeper::createChild(tql::object_ptr node) {
  switch (node->class_) {
    case tql::cls::Plan:
      return std::make_unique<PlanKeeper>(this, std::move(node));
    case tql::cls::CheckAccumulation:
      return std::make_unique<CheckScoreKeeper>(this, std::move(node), thresholdSource(),
                                                agentCheck(), sink());
    default:
      throw error::EFatal("Got " + tql::className(node->class_) +
                          " as child of Check(Accumulation)");
  }
}

}  // namespace keepers
