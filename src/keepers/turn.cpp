#include "keepers/turn.h"

#include <algorithm>
#include <set>
#include <utility>
#include <vector>

#include "keepers/count_keeper.h"
#include "keepers/plan_keeper.h"
#include "keepers/run_state.h"
#include "keepers/score_keeper.h"
#include "meter/log.h"
#include "queues/dbms.h"
#include "queues/devent.h"

namespace keepers {
namespace {

// A dependency fan-out that keeps changing counts is cut off here for this
// turn; what is still queued waits for the next turn.
constexpr int kMaxPasses = 3;

// Adds the keeper's id and those of every count keeper below it to `ids`;
// a subtree already there is not walked again. Nothing for null.
void addSubtree(std::set<tql::id_t>& ids, CountKeeper* keeper) {
  if (keeper == nullptr || !ids.insert(keeper->id()).second) return;
  for (const auto& [id, child] : keeper->children)
    addSubtree(ids, dynamic_cast<CountKeeper*>(child.get()));
}

// Drains both queues: every keeper below an object that depends on changed
// counts, or watches a source whose status class changed, joins `reconsider`.
// Nothing here changes a queue or a keeper, so the two are walked together
// in id order: an id in both (every keeper, after a full select) is looked
// up once.
void collectDependents(std::set<tql::id_t>& reconsider) {
  while (!count_queue.empty() || !status_change_queue.empty()) {
    const bool counts =
        !count_queue.empty() &&
        (status_change_queue.empty() || count_queue.first() <= status_change_queue.first());
    const tql::id_t changed = counts ? count_queue.first() : status_change_queue.first();
    const bool statuses = !status_change_queue.empty() && status_change_queue.first() == changed;
    if (counts) {
      count_queue.takeFirst();
      HX_LOG_DEBUG(meter::kAlarmDebug, "Counts for " + changed.toString() + " has changed");
    }
    if (statuses) status_change_queue.takeFirst();
    // Through the keeper only: a dependency that is gone by now reaches
    // nobody, and its dependents see that at their own next evaluation.
    CountKeeper* keeper = findKeeper(countKeepers, changed);
    if (keeper == nullptr) continue;
    if (counts) {
      for (const tql::id_t& dependent : IdSet(keeper->dependents()))
        addSubtree(reconsider, findKeeper(countKeepers, dependent));
    }
    if (statuses) {
      for (const tql::id_t& watcher : IdSet(keeper->statusWatchers()))
        addSubtree(reconsider, findKeeper(countKeepers, watcher));
    }
  }
}

void reconsiderStatuses(const std::set<tql::id_t>& ids) {
  for (const tql::id_t& id : ids) {
    ScoreKeeper* keeper = findKeeper(scoreKeepers, id);
    if (keeper == nullptr) continue;
    HX_LOG_DEBUG(meter::kAlarmDebug, "  Reconsidering status for " + id.toString());
    keeper->setCurStatus(keeper->curStatus());
  }
}

// Runs `process` of every touched owner once and empties `touched`.
void processTouched() {
  // Taken out first: an owner's processing must not meet the set changing
  // under it. Owners touched while processing are kept for the next turn.
  for (EventTrackerOwner* owner : touched.takeAll()) {
    HX_LOG_DEBUG(meter::kAlarmDebug, "ETO processing touched");
    owner->process();
    HX_LOG_DEBUG(meter::kAlarmDebug, "ETO done processing touched");
  }
}

void sendStatusNotifications() {
  notify_queue.drain([](ScoreKeeper& keeper, status_t old) { keeper.notifyStatusChange(old); });
}

}  // namespace

void settle() {
  HX_LOG_DEBUG(meter::kAlarmDebug, "Will process delayed...");
  perform_delayed_computations();
  HX_LOG_DEBUG(meter::kAlarmDebug, "Done processing delayed...");
  if (shuttingDown) {
    notify_queue.clear();
  } else {
    sendStatusNotifications();
  }
}

void perform_delayed_computations() {
  for (int passes = 0; passes < kMaxPasses; ++passes) {
    if (count_queue.empty() && status_change_queue.empty()) break;
    std::set<tql::id_t> reconsider;
    collectDependents(reconsider);
    // May queue further ids: the next pass takes them.
    reconsiderStatuses(reconsider);
  }
  processTouched();
}

void dispatchBoundary(BoundaryRecord& record) {
  const tql::id_t owner = record.owner().ownerId();
  HX_LOG_DEBUG(meter::kAlarmDebug, "Got boundary timeout for owner id " + owner.toString());
  if (CountKeeper* keeper = findKeeper(countKeepers, owner)) {
    keeper->boundaryReached();
  } else if (PlanKeeper* plan = findKeeper(planKeepers, owner)) {
    plan->planBoundaryReached();
  }
  reschedule(record, htime::never);
}

void expireSubPlans(htime::usec_time now, EventSink& sink) {
  while (!expiries.empty() && !TimeOrder{}(now, expiries.begin()->first)) {
    ExpiringSubPlanKeeper* element = expiries.begin()->second;
    expiries.erase(expiries.begin());
    element->expiryTaken();
    const std::uint32_t uid = sink.nextUid();
    sink.send(queues::devent_t<queues::TQL_DELETE>(
        queues::QUEUE_DBMS, uid,
        dbms::Tql_Delete_Data{element->object->id, element->object->version, tql::id_t(), false}));
    ignoredReplies.insert(uid);
  }
}

}  // namespace keepers
