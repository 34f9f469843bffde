#pragma once
// Scheduled downtime. A Plan below a domain, node, check or node class says
// when that object and everything below it is in downtime.
//
// PlanKeeper follows one plan: it asks the plan calendar whether the plan is
// in force now, and when the answer changes it moves the downtime count of
// its target (the plan's parent keeper) and the target's whole subtree by
// one through CountKeeper::adjust. It keeps one boundary record at the next
// change, so the main loop wakes it exactly then. Overlapping plans simply
// add up in the downtime count.
//
// The objects below a plan (planners, their entries, one-off events) are
// mirrored by SubPlanKeepers, whose only duty is to make the plan evaluate
// again when anything below it changes. One-off events (ExpectedEvent,
// UnexpectedEvent) get an ExpiringSubPlanKeeper, which also keeps the
// event's end time in `expiries`, so that the driver deletes the event in
// the DBMS once it has passed.
//
// Evaluating a plan costs time in the number of its elements; entering or
// leaving downtime costs one walk over the target's subtree. Nothing here
// runs on the path of a check state.
#include <cstdint>
#include <string>

#include "htime/usec_time.h"
#include "keepers/count_keeper.h"
#include "keepers/event_tracker.h"
#include "keepers/run_state.h"
#include "tql/subscription/incremental_subscriber.h"

namespace keepers {

class PlanKeeper final : public tql::IncrementalSubscriber::Object, public EventTrackerOwner {
 public:
  // Registers in `planKeepers` and evaluates the plan: a plan delivered in
  // force puts its target into downtime at once. `target` is the parent.
  PlanKeeper(CountKeeper* target, tql::object_ptr node);
  // Ends the downtime this plan caused, if any.
  ~PlanKeeper() override;

  // ExpectedEvent and UnexpectedEvent children expire; any other child is
  // a plain sub-plan object.
  tql::IncrementalSubscriber::ObjectPtr createChild(tql::object_ptr node) override;
  // The plan or something below it changed: evaluate, whatever the flag.
  void update(bool top) override;
  // An element was added or removed right below the plan: evaluate when
  // this is the top of the change.
  void childAdded(Object& child, bool top) override;
  void childRemoved(Object& child, bool top) override;

  tql::id_t ownerId() const override { return id_; }
  // Arms the wake-up at the plan's next change.
  void process() override;
  // The plan's wake-up came due: evaluate.
  void planBoundaryReached();

  // The plan entered (true) or left (false) force: the target's downtime
  // count moves by one, with the plan's comment.
  void adjust(bool inForce);

  const tql::id_t& id() const { return id_; }

 private:
  // Asks the calendar; on a change of the in-force answer takes the comment
  // and adjusts the target. Marks the keeper touched in every case. Reads
  // everything before changing anything, so a malformed plan that throws
  // leaves the keeper as it was.
  void evaluate();

  CountKeeper* target_;  // the parent: outlives the plan
  tql::id_t id_;
  bool in_force_ = false;
  std::string comment_;
  BoundaryRecord record_{*this};
};

// Any object below a plan. A change anywhere in its subtree makes its
// parent evaluate again, up to the PlanKeeper.
class SubPlanKeeper : public tql::IncrementalSubscriber::Object {
 public:
  SubPlanKeeper(Object* parent, tql::object_ptr node) : Object(parent, std::move(node)) {}

  // A SubPlanKeeper for any child.
  tql::IncrementalSubscriber::ObjectPtr createChild(tql::object_ptr node) override;
  // At the top of a change: the parent updates as the top of it too.
  void update(bool top) override;
  void childAdded(Object& child, bool top) override;
  void childRemoved(Object& child, bool top) override;

 protected:
  void passUp(bool top);
};

// A one-off event below a plan. It holds one entry in `expiries` at its
// `endTime` (whole seconds) while it is scheduled. The driver takes the
// entry out when the time has come and asks the DBMS to delete the event
// (expiryTaken); the keeper itself goes when the delete arrives as a patch.
// An event without an `endTime` (absent, null or not a date) is not
// scheduled: there is nothing to expire.
class ExpiringSubPlanKeeper final : public SubPlanKeeper {
 public:
  ExpiringSubPlanKeeper(Object* parent, tql::object_ptr node);
  // Leaves `expiries` if still scheduled.
  ~ExpiringSubPlanKeeper() override;

  // Re-reads `endTime`: the same time keeps the entry where it is, another
  // time moves it, and an event delivered again after its delete was
  // requested is scheduled again. Then passes the change up.
  void update(bool top) override;

  // The driver took the entry out of `expiries`.
  void expiryTaken() { scheduled_ = false; }

 private:
  void schedule();
  void unschedule();

  bool scheduled_ = false;
  Expiries::iterator entry_{};  // meaningful only while scheduled
};

}  // namespace keepers
