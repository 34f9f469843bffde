#include "keepers/run_state.h"

#include <algorithm>
#include <string>

#include "error/check.h"
#include "keepers/count_keeper.h"
#include "keepers/score_keeper.h"
#include "meter/log.h"

namespace keepers {

CountRegistry countKeepers;
const ScoreKeeperView scoreKeepers;
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

void CountRegistry::insert_or_assign(const tql::id_t& id, CountKeeper* keeper) {
  // A score keeper losing its slot to a keeper that is not one yet stays
  // the score keeper of its id.
  if (CountKeeper* before = get(id)) {
    if (ScoreKeeper* score = before->asScoreKeeper()) displaced_.insert_or_assign(id, score);
  }
  Registry<CountKeeper>::insert_or_assign(id, keeper);
}

ScoreKeeper* CountRegistry::score(const tql::id_t& id) const {
  if (CountKeeper* keeper = get(id)) {
    if (ScoreKeeper* score = keeper->asScoreKeeper()) return score;
  }
  return displaced_.empty() ? nullptr : displaced_.get(id);
}

void CountRegistry::scoreKeeperBuilt(const tql::id_t& id) {
  if (!displaced_.empty()) displaced_.erase(id);
}

void CountRegistry::scoreKeeperLeaving(const ScoreKeeper& keeper) {
  // Registered here, the keeper stops being a score keeper as its
  // ScoreKeeper part goes; displaced, it leaves the side table now.
  if (!displaced_.empty() && displaced_.get(keeper.id()) == &keeper) displaced_.erase(keeper.id());
}

bool CountRegistry::noScoreKeepers() const {
  return displaced_.empty() &&
         std::none_of(begin(), end(), [](CountKeeper* k) { return k->asScoreKeeper() != nullptr; });
}

ScoreKeeper* ScoreKeeperView::get(const tql::id_t& id) const { return countKeepers.score(id); }

bool ScoreKeeperView::empty() const { return countKeepers.noScoreKeepers(); }

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
