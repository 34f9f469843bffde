#pragma once
// What one run of the alarm process owns in process-wide state, in one
// place below the driver so that the keepers fill it, the driver drains it,
// and one call (resetRun) empties all of it:
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
// - the count of sent status notifications;
// - the driver's part: the configuration, the standing select's uid, the
//   shutdown flag and the events remembered for objects without a keeper.
//
// Main thread only. Nothing here owns a keeper.
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>

#include "keepers/event_tracker.h"
#include "keepers/id_map.h"
#include "keepers/id_queue.h"
#include "keepers/notify_queue.h"
#include "queues/control.h"
#include "tql/id.h"

namespace keepers {

class CountKeeper;
class ScoreKeeper;
class PlanKeeper;
class ExpiringSubPlanKeeper;

using IdSet = std::set<tql::id_t>;
using Expiries = std::multimap<htime::usec_time, ExpiringSubPlanKeeper*, TimeOrder>;

// Object id to keeper. Flat and hashed: every event and every count change
// looks a keeper up, and nothing depends on the order of a registry.
template <class Keeper>
using Registry = IdMap<Keeper>;

extern Registry<CountKeeper> countKeepers;
extern Registry<ScoreKeeper> scoreKeepers;
extern Registry<PlanKeeper> planKeepers;

extern Boundaries boundaries;
extern TouchedOwners touched;

extern IdQueue count_queue;
extern IdQueue status_change_queue;
// Keepers with the DBMS status they had before their first unreported
// change (see NotifyQueue).
extern NotifyQueue<ScoreKeeper> notify_queue;

extern Expiries expiries;
// Uids of requests whose DBMS reply is dropped unread (expiry deletes).
extern std::set<std::uint32_t> ignoredReplies;

// --- The driver's part ---

// The server configuration as the main process sent it at start-up.
extern control::Server_Configuration_Fields configuration;

// The uid of the standing TQL_SELECT; a select reply with any other uid is
// a protocol violation.
extern std::uint32_t subscriptionUid;

// Set once the main process ordered the exit: status notifications and
// boundary wake-ups stop, events are still applied.
extern bool shuttingDown;

// Events naming an object that had no score keeper when they arrived,
// applied (or reported and dropped) at the next full select reply. A later
// state or check-in replaces an earlier one; a later acknowledgement is
// dropped in favour of the first.
extern std::map<tql::id_t, std::int32_t> remembered_states;
extern std::map<tql::id_t, std::pair<tql::id_t, std::string>> remembered_acknowledges;
extern std::map<tql::id_t, std::int64_t> remembered_checkins;

// The keeper registered under `id`, or null.
template <class Keeper>
Keeper* findKeeper(const Registry<Keeper>& registry, const tql::id_t& id) {
  return registry.get(id);
}

// Counts one sent status notification; logs "Sent N status notifications"
// (level 0) after 1, 2, 4, ..., 1024, 2048, 3072, ... of them.
void countStatusNotification();

// Everything above back to its start-of-process value, the notification
// count included. Only when no keeper exists: a keeper's registrations
// would be left dangling.
void resetRun();

}  // namespace keepers
