#pragma once
// The keeper of a downtime Plan below a domain, node, check or node class.
// It follows one plan and, while the plan is in force, holds its target (the
// plan's parent keeper) and the target's subtree in downtime through
// CountKeeper::adjust. Its planner and event children are mirrored as plain
// subscription objects.
//
// This keeper does not evaluate plan calendars yet: a plan is never in
// force, so it never puts anything into downtime.
#include <string>

#include "keepers/count_keeper.h"
#include "keepers/shared/event_tracker.h"

namespace keepers {

class PlanKeeper final : public tql::IncrementalSubscriber::Object, public EventTrackerOwner {
 public:
  // Registers in `planKeepers` and evaluates the plan.
  PlanKeeper(CountKeeper* target, tql::object_ptr node);
  // Ends the downtime this plan caused, if any.
  ~PlanKeeper() override;

  void update(bool top) override;
  void childAdded(Object& child, bool top) override;
  void childRemoved(Object& child, bool top) override;

  tql::id_t ownerId() const override { return id_; }
  // Arms the wake-up at the plan's next change.
  void process() override;
  // The plan's wake-up came due: evaluate again.
  void planBoundaryReached();

  // The plan entered (true) or left (false) force: the target's downtime
  // count moves by one.
  void adjust(bool inForce);

  const tql::id_t& id() const { return id_; }
  CountKeeper& target() const { return *target_; }
  bool inForce() const { return in_force_; }
  const std::string& comment() const { return comment_; }
  const BoundaryRecord& boundaryRecord() const { return record_; }

 private:
  void evaluate();

  CountKeeper* target_;  // the parent: outlives the plan
  tql::id_t id_;
  bool in_force_ = false;
  std::string comment_;
  BoundaryRecord record_{*this};
};

}  // namespace keepers
