#include "halarm/event_handler.h"

#include <string>

#include "error/check.h"
#include "error/exception.h"
#include "halarm/checked_cast.h"
#include "halarm/subscription.h"
#include "keepers/node_score_keeper.h"
#include "keepers/run_state.h"
#include "keepers/score_keeper.h"
#include "meter/log.h"
#include "queues/devent.h"
#include "queues/metering.h"
#include "queues/qdialog.h"

namespace halarm {
namespace {

using namespace queues;

keepers::ScoreKeeper* scoreKeeper(const tql::id_t& id) {
  return keepers::findKeeper(keepers::scoreKeepers, id);
}

template <event_t N>
const event_data_t<N>& payload(const event& ev) {
  return checked_cast<const devent_t<N>&>(ev).data;
}

// Check-ins are only for nodes; one for anything else is dropped.
void checkin(keepers::ScoreKeeper& keeper, std::int64_t time) {
  if (keepers::NodeScoreKeeper* node = keeper.asNode()) {
    node->checkin(time);
    return;
  }
  meter::log("Checkin for " + keeper.id().toString() + " ignored: not a node", 0);
}

void applyState(const alarms::Immediate_State_Data& data) {
  if (keepers::ScoreKeeper* keeper = scoreKeeper(data.id)) {
    keeper->setCurState(static_cast<std::uint32_t>(data.state));
    return;
  }
  keepers::remembered_states.insert_or_assign(data.id, data.state);
}

void handleCheckin(const alarms::Checkin_Data& data) {
  if (keepers::ScoreKeeper* keeper = scoreKeeper(data.id)) {
    checkin(*keeper, data.checkin_time);
    return;
  }
  keepers::remembered_checkins.insert_or_assign(data.id, data.checkin_time);
}

void handleAcknowledge(const alarms::Acknowledge_Alert_Data& data) {
  if (keepers::ScoreKeeper* keeper = scoreKeeper(data.object)) {
    keeper->acknowledgeAlert(data.user, data.comment);
    return;
  }
  // The first acknowledgement of an object stays.
  keepers::remembered_acknowledges.try_emplace(data.object, data.user, data.comment);
}

void handleReset(const alarms::Reset_Score_Data& data) {
  keepers::ScoreKeeper* keeper = scoreKeeper(data.object);
  if (keeper == nullptr) return;  // resets are not remembered
  if (data.recursive) {
    // A keeper other than a node logs that it ignores the request.
    keeper->resetAllScores(data.user, data.comment);
  } else {
    keeper->resetScore(data.user, data.comment);
  }
}

// Applies and erases the entries whose object has a keeper by now.
template <class Table, class Apply>
void applyWhereKept(Table& table, Apply apply) {
  for (auto it = table.begin(); it != table.end();) {
    keepers::ScoreKeeper* keeper = scoreKeeper(it->first);
    if (keeper == nullptr) {
      ++it;
      continue;
    }
    apply(*keeper, it->second);
    it = table.erase(it);
  }
}

template <class Table>
void dropRemembered(Table& table, const char* what) {
  for (const auto& entry : table) {
    meter::log(std::string("Got remembered ") + what + " for nonexistant node (" +
                   entry.first.toString() + ")",
               0);
  }
  table.clear();
}

// Applies the remembered events whose object now has a keeper; the rest
// are logged and dropped.
void replayRemembered() {
  applyWhereKept(keepers::remembered_states, [](keepers::ScoreKeeper& keeper, std::int32_t state) {
    keeper.setCurState(static_cast<std::uint32_t>(state));
  });
  applyWhereKept(keepers::remembered_acknowledges,
                 [](keepers::ScoreKeeper& keeper, const auto& ack) {
                   keeper.acknowledgeAlert(ack.first, ack.second);
                 });
  applyWhereKept(keepers::remembered_checkins, checkin);
  dropRemembered(keepers::remembered_states, "notification");
  dropRemembered(keepers::remembered_acknowledges, "acknowledge");
  dropRemembered(keepers::remembered_checkins, "checkin");
}

void handleSelectReply(event& ev) {
  auto* reply = dynamic_cast<devent_t<RETURN_TQL_SELECT>*>(&ev);
  HX_CHECK(reply != nullptr, "Dynamic cast failed");
  if (reply->inresponse != keepers::subscriptionUid)
    throw error::EFatal("Alarm got unsolicited select reply");
  const dbms::Return_Tql_Select_Data& data = reply->data;
  if (data.status != 0) {
    std::string text = "Alarm: error in select (" + std::to_string(data.status);
    if (!data.details.empty()) text += ", " + data.details.front().second;
    throw error::EFatal(text + ")");
  }
  HX_LOG_DEBUG(meter::kAlarmDebug, "Got new subscription update");
  alarmSubscriber().handleSelect(reply->data);
  replayRemembered();
}

void handleExit(childqueue& queue) {
  meter::log("Initiating shutdown", 0);
  keepers::shuttingDown = true;
  // Whatever the DBMS answers, the subscription is over for this process.
  (void)forgetSubscription(keepers::subscriptionUid);
  queue.shutdown();
}

}  // namespace

void handleEvent(event& ev, childqueue& queue) {
  HX_LOG_DEBUG(meter::kAlarmDebug,
               "Processing event: " + eventName(ev.type) + " from " + queueName(ev.dest));
  if (handleMetricEvent(ev)) return;
  // Replies to requests whose outcome does not matter (expired downtime
  // deletes) are dropped whatever they are.
  if (ev.dest == QUEUE_DBMS && keepers::ignoredReplies.contains(ev.inresponse)) return;

  switch (ev.type) {
    case SYS_EXIT:
      handleExit(queue);
      return;
    case RETURN_TQL_SELECT:
      handleSelectReply(ev);
      return;
    case RETURN_TQL_SELECT_PATCH:
      alarmSubscriber().handlePatch(checked_cast<devent_t<RETURN_TQL_SELECT_PATCH>&>(ev).data);
      return;
    case RETURN_TQL_SELECT_DELETE_PATCH:
      alarmSubscriber().handleDeletePatch(payload<RETURN_TQL_SELECT_DELETE_PATCH>(ev));
      return;
    case IMMEDIATE_STATE:
      HX_LOG_DEBUG(meter::kAlarmDebug, "immediate state received from dbms");
      applyState(payload<IMMEDIATE_STATE>(ev));
      return;
    case IMMEDIATE_STATES:
      for (const alarms::Immediate_State_Data& state : payload<IMMEDIATE_STATES>(ev).states)
        applyState(state);
      return;
    case CHECKIN:
      handleCheckin(payload<CHECKIN>(ev));
      return;
    case ACKNOWLEDGE_ALERT:
      handleAcknowledge(payload<ACKNOWLEDGE_ALERT>(ev));
      return;
    case RESET_SCORE:
      handleReset(payload<RESET_SCORE>(ev));
      return;
    default:
      throw error::EFatal("Alarm got unexpected event " + eventName(ev.type) +
                          " inside BROADCAST_WRITE");
  }
}

}  // namespace halarm
