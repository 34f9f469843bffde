#include "keepers/plan_keeper.h"

#include "meter/log.h"

namespace keepers {

PlanKeeper::PlanKeeper(CountKeeper* target, tql::object_ptr node)
    : Object(target, std::move(node)),
      target_(target),
      id_(tql::IncrementalSubscriber::indexId(*object)) {
  planKeepers.insert_or_assign(id_, this);
  evaluate();
}

PlanKeeper::~PlanKeeper() {
  if (in_force_) adjust(false);
  const auto it = planKeepers.find(id_);
  if (it != planKeepers.end() && it->second == this) planKeepers.erase(it);
  cancel(record_);
  touched.erase(this);
}

void PlanKeeper::update(bool /*top*/) { evaluate(); }

void PlanKeeper::childAdded(Object& /*child*/, bool top) {
  if (top) evaluate();
}

void PlanKeeper::childRemoved(Object& /*child*/, bool top) {
  if (top) evaluate();
}

void PlanKeeper::evaluate() {
  // Without a calendar the plan is never in force.
  constexpr bool kInForceNow = false;
  if (kInForceNow != in_force_) {
    in_force_ = kInForceNow;
    comment_.clear();
    adjust(in_force_);
  }
  touch();
}

void PlanKeeper::planBoundaryReached() { evaluate(); }

void PlanKeeper::process() {
  HX_LOG_DEBUG(32, "in PlanKeeper process");
  reschedule(record_, htime::never);
}

void PlanKeeper::adjust(bool inForce) {
  HX_LOG_DEBUG(32, "PlanKeeper::adjust[" + id_.toString() + "]");
  target_->adjust(!inForce, comment_);
}

}  // namespace keepers
