#pragma once
// The process-wide structures that keepers fill and the driver drains, kept
// in one place below both so that either can reach them and tests can reset
// them between cases:
//
// - registries from object id to keeper (`countKeepers`, `scoreKeepers`,
//   `planKeepers`), maintained by the keepers' constructors and destructors;
//   keepers refer to each other by id and look each other up here when used;
// - the wake-up schedule `boundaries` and the `touched` owners;
// - the queues of the delayed pass: `count_queue` (ids whose worst counted
//   class changed), `status_change_queue` (ids whose own counted class
//   changed) and `notify_queue` (keepers whose DBMS status changed, with the
//   status they had before the first change);
// - `expiries` of one-off downtime elements and the `ignoredReplies` uids;
// - `dependentsIndex`: for each object id, the ids of the objects whose
//   `dependsOn` names it. It lives here rather than in the named keeper so
//   that the link survives the keeper being deleted and created again;
// - the count of sent status notifications.
//
// Main thread only. Nothing here owns a keeper.
#include <cstdint>
#include <map>
#include <set>

#include "keepers/event_tracker.h"
#include "keepers/node_pool.h"
#include "tql/id.h"

namespace keepers {

class CountKeeper;
class ScoreKeeper;
class PlanKeeper;
class ExpiringSubPlanKeeper;

using IdSet = std::set<tql::id_t>;
// The queues and `touched` recycle their nodes (see NodePool); otherwise
// they are the ordinary ordered containers.
using IdQueue = std::set<tql::id_t, std::less<tql::id_t>, NodePool<tql::id_t>>;
using TouchedSet =
    std::set<EventTrackerOwner*, std::less<EventTrackerOwner*>, NodePool<EventTrackerOwner*>>;
using NotifyQueue = std::map<ScoreKeeper*, std::uint32_t, std::less<ScoreKeeper*>,
                             NodePool<std::pair<ScoreKeeper* const, std::uint32_t>>>;
using Expiries = std::multimap<htime::usec_time, ExpiringSubPlanKeeper*, TimeOrder>;

extern std::map<tql::id_t, CountKeeper*> countKeepers;
extern std::map<tql::id_t, ScoreKeeper*> scoreKeepers;
extern std::map<tql::id_t, PlanKeeper*> planKeepers;

extern Boundaries boundaries;
extern TouchedSet touched;

extern IdQueue count_queue;
extern IdQueue status_change_queue;
// Keeper to the DBMS status it had before its first unreported change.
extern NotifyQueue notify_queue;

extern Expiries expiries;
extern std::set<std::uint32_t> ignoredReplies;

extern std::map<tql::id_t, IdSet> dependentsIndex;

// The ids of the objects whose `dependsOn` names `id`, whether or not a
// keeper for `id` exists: when a dependency is deleted, its dependents must
// still be reconsidered.
const IdSet& dependentsOf(const tql::id_t& id);

// The keeper registered under `id`, or null.
template <class Keeper>
Keeper* findKeeper(const std::map<tql::id_t, Keeper*>& registry, const tql::id_t& id) {
  const auto it = registry.find(id);
  return it == registry.end() ? nullptr : it->second;
}

// Counts one sent status notification; logs "Sent N status notifications"
// (level 0) after 1, 2, 4, ..., 1024, 2048, 3072, ... of them.
void countStatusNotification();
std::uint64_t statusNotificationCount();

// Empties every structure above and restarts the notification count. Only
// for tests, and only when no keeper exists any more.
void resetSharedStateForTesting();

}  // namespace keepers
