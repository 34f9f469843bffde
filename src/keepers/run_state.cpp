#include "keepers/run_state.h"

#include <string>

#include "meter/log.h"

namespace keepers {

std::map<tql::id_t, CountKeeper*> countKeepers;
std::map<tql::id_t, ScoreKeeper*> scoreKeepers;
std::map<tql::id_t, PlanKeeper*> planKeepers;

Boundaries boundaries;
TouchedSet touched;

IdQueue count_queue;
IdQueue status_change_queue;
NotifyQueue notify_queue;

Expiries expiries;
std::set<std::uint32_t> ignoredReplies;

std::map<tql::id_t, IdSet> dependentsIndex;

namespace {

const IdSet kNoIds;

struct NotificationCount {
  std::uint64_t sent = 0;
  std::uint64_t nextMark = 1;
};
NotificationCount notificationCount;

}  // namespace

const IdSet& dependentsOf(const tql::id_t& id) {
  const auto it = dependentsIndex.find(id);
  return it == dependentsIndex.end() ? kNoIds : it->second;
}

void countStatusNotification() {
  NotificationCount& c = notificationCount;
  ++c.sent;
  if (c.sent != c.nextMark) return;
  meter::log("Sent " + std::to_string(c.sent) + " status notifications", 0);
  // Frequent reports at first, then one per 1024 so the log stays readable.
  c.nextMark = c.nextMark < 1024 ? c.nextMark * 2 : c.nextMark + 1024;
}

std::uint64_t statusNotificationCount() { return notificationCount.sent; }

void resetSharedStateForTesting() {
  countKeepers.clear();
  scoreKeepers.clear();
  planKeepers.clear();
  boundaries.clear();
  touched.clear();
  count_queue.clear();
  status_change_queue.clear();
  notify_queue.clear();
  expiries.clear();
  ignoredReplies.clear();
  dependentsIndex.clear();
  notificationCount = {};
}

}  // namespace keepers
