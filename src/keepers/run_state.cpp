#include "keepers/run_state.h"

#include <string>

#include "error/check.h"
#include "keepers/score_keeper.h"
#include "meter/log.h"

namespace keepers {

Registry<CountKeeper> countKeepers;
Registry<ScoreKeeper> scoreKeepers;
Registry<PlanKeeper> planKeepers;

Boundaries boundaries;
TouchedOwners touched;

IdQueue count_queue;
IdQueue status_change_queue;
NotifyQueue<ScoreKeeper> notify_queue;

Expiries expiries;
std::set<std::uint32_t> ignoredReplies;

control::Server_Configuration_Fields configuration;
std::uint32_t subscriptionUid = 0;
bool shuttingDown = false;

std::map<tql::id_t, std::int32_t> remembered_states;
std::map<tql::id_t, std::pair<tql::id_t, std::string>> remembered_acknowledges;
std::map<tql::id_t, std::int64_t> remembered_checkins;

namespace {

struct NotificationCount {
  std::uint64_t sent = 0;
  std::uint64_t nextMark = 1;
};
NotificationCount notificationCount;

}  // namespace

void countStatusNotification() {
  NotificationCount& c = notificationCount;
  ++c.sent;
  if (c.sent != c.nextMark) return;
  meter::log("Sent " + std::to_string(c.sent) + " status notifications", 0);
  // Frequent reports at first, then one per 1024 so the log stays readable.
  c.nextMark = c.nextMark < 1024 ? c.nextMark * 2 : c.nextMark + 1024;
}

void resetRun() {
  HX_CHECK(countKeepers.empty() && planKeepers.empty(), "resetRun while keepers remain");
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
  notificationCount = {};
  configuration = {};
  subscriptionUid = 0;
  shuttingDown = false;
  remembered_states.clear();
  remembered_acknowledges.clear();
  remembered_checkins.clear();
}

}  // namespace keepers
