#include "keepers/plan_keeper.h"

#include <algorithm>
#include <limits>

#include "keepers/plan_calendar.h"
#include "meter/log.h"
#include "tql/property_access.h"
#include "tql/schema.h"

namespace keepers {

namespace {

// The `comment` of a plan element, or "" when it has none. A comment that is
// not text is left out with a log line rather than failing the plan: it
// only decorates incident texts.
std::string commentOf(const tql::object_t& element, const tql::id_t& planId) {
  const tql::property_t* p = optionalProperty(element, tql::prop::comment);
  if (p == nullptr) return {};
  if (p->typeCode() != tql::property_string_t::kTypeCode) {
    meter::log("Plan " + planId.toString() + ": comment of " +
                   tql::IncrementalSubscriber::indexId(element).toString() +
                   " is not text, ignored",
               0);
    return {};
  }
  return tql::getString(*p);
}

// `endTime` of a one-off event as whole seconds, or never when it has none
// that can come due (absent, null, not a date, or beyond the last second a
// time value holds).
htime::usec_time expiryTimeOf(const tql::object_t& event) {
  const tql::property_t* p = optionalProperty(event, tql::prop::endTime);
  if (p == nullptr || p->typeCode() != tql::property_date_t::kTypeCode) return htime::never;
  constexpr std::int64_t kLowest = std::numeric_limits<std::int32_t>::min();
  const std::int64_t seconds =
      std::clamp(tql::getDate(*p), kLowest, std::int64_t{htime::never.sec});
  return htime::usec_time(static_cast<std::int32_t>(seconds));
}

}  // namespace

// --- PlanKeeper ---

PlanKeeper::PlanKeeper(CountKeeper* target, tql::object_ptr node)
    : Object(target, std::move(node)),
      target_(target),
      id_(tql::IncrementalSubscriber::indexId(*object)) {
  // Evaluated before registering: a malformed plan throws from here and
  // must leave no entry behind.
  evaluate();
  planKeepers.insert_or_assign(id_, this);
}

PlanKeeper::~PlanKeeper() {
  if (in_force_) adjust(false);
  if (planKeepers.get(id_) == this) planKeepers.erase(id_);
  cancel(record_);
  touched.erase(this);
}

tql::IncrementalSubscriber::ObjectPtr PlanKeeper::createChild(tql::object_ptr node) {
  if (node->class_ == tql::cls::ExpectedEvent || node->class_ == tql::cls::UnexpectedEvent) {
    return std::make_unique<ExpiringSubPlanKeeper>(this, std::move(node));
  }
  return std::make_unique<SubPlanKeeper>(this, std::move(node));
}

void PlanKeeper::update(bool /*top*/) { evaluate(); }

void PlanKeeper::childAdded(Object& /*child*/, bool top) {
  if (top) evaluate();
}

void PlanKeeper::childRemoved(Object& /*child*/, bool top) {
  // The subscriber has already taken the child's node out of the plan's
  // node, so the evaluation no longer sees it.
  if (top) evaluate();
}

void PlanKeeper::planBoundaryReached() { evaluate(); }

void PlanKeeper::evaluate() {
  const PlanIntervals now = get_plan_intervals(object.get());
  if (now.in_force != in_force_) {
    in_force_ = now.in_force;
    comment_.clear();
    // Taken only on entering force: editing the comment later does not
    // rewrite what the incident log already says about this downtime.
    if (in_force_ && now.deciding != nullptr) comment_ = commentOf(*now.deciding, id_);
    adjust(in_force_);
  }
  touch();
}

void PlanKeeper::process() {
  HX_LOG_DEBUG(meter::kAlarmDebug, "in PlanKeeper process");
  const PlanIntervals now = get_plan_intervals(object.get());
  // When the answer changed since this turn's evaluation (the clock passed
  // a window's edge in between), the next change it names is past the one
  // that was missed: wake at once and evaluate again instead.
  reschedule(record_, now.in_force == in_force_ ? now.next_change : htime::now());
}

void PlanKeeper::adjust(bool inForce) {
  HX_LOG_DEBUG(meter::kAlarmDebug, "PlanKeeper::adjust[" + id_.toString() + "]");
  target_->adjust(!inForce, comment_);
}

// --- SubPlanKeeper ---

tql::IncrementalSubscriber::ObjectPtr SubPlanKeeper::createChild(tql::object_ptr node) {
  return std::make_unique<SubPlanKeeper>(this, std::move(node));
}

void SubPlanKeeper::update(bool top) { passUp(top); }

void SubPlanKeeper::childAdded(Object& /*child*/, bool top) { passUp(top); }

void SubPlanKeeper::childRemoved(Object& /*child*/, bool top) { passUp(top); }

void SubPlanKeeper::passUp(bool top) {
  // Only the top of a change passes it on: the objects below it were told
  // with the flag clear, and the plan must evaluate once, not once each.
  if (top && parent != nullptr) parent->update(true);
}

// --- ExpiringSubPlanKeeper ---

ExpiringSubPlanKeeper::ExpiringSubPlanKeeper(Object* parent, tql::object_ptr node)
    : SubPlanKeeper(parent, std::move(node)) {
  schedule();
}

ExpiringSubPlanKeeper::~ExpiringSubPlanKeeper() { unschedule(); }

void ExpiringSubPlanKeeper::update(bool top) {
  schedule();
  passUp(top);
}

void ExpiringSubPlanKeeper::schedule() {
  const htime::usec_time at = expiryTimeOf(*object);
  if (scheduled_ && entry_->first == at) return;
  unschedule();
  if (at == htime::never) return;
  // After any entries of the same time: multimap::emplace inserts at the
  // upper end of the equal range.
  entry_ = expiries.emplace(at, this);
  scheduled_ = true;
}

void ExpiringSubPlanKeeper::unschedule() {
  if (!scheduled_) return;
  expiries.erase(entry_);
  scheduled_ = false;
}

}  // namespace keepers
