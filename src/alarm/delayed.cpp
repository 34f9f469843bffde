#include "alarm/delayed.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "alarm/event_handler.h"
#include "keepers/plan_keeper.h"
#include "keepers/score_keeper.h"
#include "meter/log.h"

namespace halarm {
namespace {

// A dependency fan-out that keeps changing counts is cut off here for this
// turn; what is still queued waits for the next turn.
constexpr int kMaxPasses = 3;

// Drains both queues: every keeper below an object that depends on changed
// counts, or watches a source whose status class changed, joins `reconsider`.
void collectDependents(std::set<tql::id_t>& reconsider) {
  while (!keepers::count_queue.empty()) {
    const tql::id_t changed = keepers::count_queue.extract(keepers::count_queue.begin()).value();
    HX_LOG_DEBUG(meter::kAlarmDebug, "Counts for " + changed.toString() + " has changed");
    // The dependents are found by id, also when the changed object's keeper
    // is gone: a deleted dependency withdrew its counts, and whoever it
    // explained must look again.
    for (const tql::id_t& dependent : keepers::IdSet(keepers::dependentsOf(changed)))
      addSubtree(reconsider, keepers::findKeeper(keepers::countKeepers, dependent));
  }
  while (!keepers::status_change_queue.empty()) {
    const tql::id_t changed =
        keepers::status_change_queue.extract(keepers::status_change_queue.begin()).value();
    keepers::CountKeeper* keeper = keepers::findKeeper(keepers::countKeepers, changed);
    if (keeper == nullptr) continue;
    for (const tql::id_t& watcher : keepers::IdSet(keeper->statusWatchers()))
      addSubtree(reconsider, keepers::findKeeper(keepers::countKeepers, watcher));
  }
}

void reconsiderStatuses(const std::set<tql::id_t>& ids) {
  for (const tql::id_t& id : ids) {
    keepers::ScoreKeeper* keeper = keepers::findKeeper(keepers::scoreKeepers, id);
    if (keeper == nullptr) continue;
    HX_LOG_DEBUG(meter::kAlarmDebug, "  Reconsidering status for " + id.toString());
    keeper->setCurStatus(keeper->curStatus());
  }
}

}  // namespace

void perform_delayed_computations() {
  for (int passes = 0; passes < kMaxPasses; ++passes) {
    if (keepers::count_queue.empty() && keepers::status_change_queue.empty()) break;
    std::set<tql::id_t> reconsider;
    collectDependents(reconsider);
    // May queue further ids: the next pass takes them.
    reconsiderStatuses(reconsider);
  }
  processTouched();
}

void addSubtree(std::set<tql::id_t>& ids, keepers::CountKeeper* keeper) {
  if (keeper == nullptr || !ids.insert(keeper->id()).second) return;
  for (const auto& [id, child] : keeper->children)
    addSubtree(ids, dynamic_cast<keepers::CountKeeper*>(child.get()));
}

void processTouched() {
  // Taken out first: an owner's processing must not meet the set changing
  // under it. Owners touched while processing are kept for the next turn.
  const auto owners = std::move(keepers::touched);
  keepers::touched.clear();
  for (keepers::EventTrackerOwner* owner : owners) {
    HX_LOG_DEBUG(meter::kAlarmDebug, "ETO processing touched");
    owner->process();
    HX_LOG_DEBUG(meter::kAlarmDebug, "ETO done processing touched");
  }
}

void sendStatusNotifications() {
  if (keepers::notify_queue.empty()) return;
  if (keepers::notify_queue.size() == 1) {
    // The usual turn: one event changed one status.
    const auto [keeper, old] = *keepers::notify_queue.begin();
    keepers::notify_queue.clear();
    keeper->notifyStatusChange(old);
    return;
  }
  // In id order rather than by address, so that a replayed input gives the
  // same output.
  struct Queued {
    tql::id_t id;
    keepers::ScoreKeeper* keeper;
    std::uint32_t old;
  };
  std::vector<Queued> queued;
  queued.reserve(keepers::notify_queue.size());
  for (const auto& [keeper, old] : keepers::notify_queue)
    queued.push_back({keeper->id(), keeper, old});
  keepers::notify_queue.clear();
  std::sort(queued.begin(), queued.end(),
            [](const Queued& a, const Queued& b) { return a.id < b.id; });
  for (const Queued& q : queued) q.keeper->notifyStatusChange(q.old);
}

void expireSubPlans(htime::usec_time now, queues::childqueue& queue) {
  expireDue(keepers::expiries, now, queue);
}

}  // namespace halarm
