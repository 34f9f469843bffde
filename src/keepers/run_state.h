#pragma once
// What one run of the alarm process owns in process-wide state, in one
// place below the driver so that the keepers fill it, the driver drains it,
// and one call (resetRun) empties all of it:
//
// - registries from object id to keeper (`countKeepers`, `planKeepers`, and
//   `scoreKeepers`, a view of the score keepers among the count keepers),
//   maintained by the keepers' constructors and destructors; keepers refer
//   to each other by id and look each other up here when used;
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

// Every keeper but the plan keepers is a count keeper, and a score keeper is
// one too: this one table finds both (CountKeeper::asScoreKeeper tells a
// score keeper), so a result for a check costs one lookup and a check one
// slot.
//
// A score keeper is the score keeper of its id from the end of its own
// constructor until its destructor withdraws it, unless a later score
// keeper of the id takes over. A keeper built under the same id while it
// lives takes the id's slot here; while that one is not a score keeper (a
// plain count keeper, or a score keeper whose ScoreKeeper part is not built
// yet) the displaced score keeper waits in a side table, which is empty but
// for such overlaps, and stays the id's score keeper.
class CountRegistry : public Registry<CountKeeper> {
 public:
  // Registers `keeper`, which must be the keeper of `id`, in place of the
  // keeper registered there before.
  void insert_or_assign(const tql::id_t& id, CountKeeper* keeper);
  // The score keeper of `id`, or null.
  [[nodiscard]] ScoreKeeper* score(const tql::id_t& id) const;
  // The ScoreKeeper part of the keeper of `id` is built: it takes over
  // from a displaced score keeper of its id.
  void scoreKeeperBuilt(const tql::id_t& id);
  // `keeper`'s destructor withdraws it as the score keeper of its id.
  void scoreKeeperLeaving(const ScoreKeeper& keeper);
  // No id has a score keeper. Walks the table: for checks at the end of a run.
  [[nodiscard]] bool noScoreKeepers() const;
  void clear() {
    Registry<CountKeeper>::clear();
    displaced_.clear();
  }

 private:
  Registry<ScoreKeeper> displaced_;
};

// The score keepers, looked up through `countKeepers`.
struct ScoreKeeperView {
  [[nodiscard]] ScoreKeeper* get(const tql::id_t& id) const;
  [[nodiscard]] bool empty() const;
};

extern CountRegistry countKeepers;
extern const ScoreKeeperView scoreKeepers;
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
inline ScoreKeeper* findKeeper(const ScoreKeeperView& view, const tql::id_t& id) {
  return view.get(id);
}

// Counts one sent status notification; logs "Sent N status notifications"
// (level 0) after 1, 2, 4, ..., 1024, 2048, 3072, ... of them.
void countStatusNotification();

// Everything above back to its start-of-process value, the notification
// count included. Only when no keeper exists: a keeper's registrations
// would be left dangling.
void resetRun();

}  // namespace keepers
