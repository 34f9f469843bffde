#pragma once
// ScoreKeeper: the companion of every object with a status of its own
// (checks, check accumulations, nodes, domain exports). It holds the check
// state, the score and the current, sticky and DBMS statuses; applies the
// status rules whenever an input changes; keeps the counters of its
// ancestors in step; queues itself for notification when its DBMS status
// changes; and, when the main loop asks, sends the incident, the status
// change notification and the new status.
//
// Every change of a score input runs inside freeze()/unfreeze(): the
// outermost freeze accumulates the score up to now, the outermost unfreeze
// derives the status from the new inputs. Work that can wait (arming the
// threshold and grace wake-ups) happens in process(), once per turn.
//
// CheckParent carries the agent-check flag shared by checks and check
// groups; CheckScoreKeeper is the keeper of Check and CheckAccumulation.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "htime/usec_time.h"
#include "keepers/count_keeper.h"
#include "keepers/event_sink.h"
#include "keepers/event_tracker.h"
#include "keepers/notify_queue.h"
#include "keepers/status.h"

namespace keepers {

class NodeLikeScoreKeeper;
class NodeScoreKeeper;

class CheckParent : public CountKeeper {
 public:
  CheckParent(CountKeeper* parentKeeper, tql::object_ptr node, bool agentCheck)
      : CountKeeper(parentKeeper, std::move(node)), agent_check_(agentCheck) {}

  // Inside a check group named "agentchecks": the check reports UNKNOWN
  // while its node is in trouble.
  bool agentCheck() const { return agent_check_; }

 protected:
  // A ScoreKeeper's place in `notify_queue`. It lives here because the
  // room behind agent_check_ holds it without making any keeper larger.
  NotifyMark notify_mark_;

 private:
  bool agent_check_;
};

class ScoreKeeper : public CheckParent, public EventTrackerOwner {
 public:
  // thresholdSource: the node whose levels apply (null for a node-like
  // keeper, which sets itself). Registers as its id's score keeper; the concrete
  // keeper runs its update.
  ScoreKeeper(CountKeeper* parentKeeper, tql::object_ptr node, NodeLikeScoreKeeper* thresholdSource,
              bool agentCheck, EventSink& sink);
  ~ScoreKeeper() override;

  // --- Inputs from events and the delayed pass ---
  void setCurState(std::uint32_t state);
  // Applies a status through the grace and sticky rules; the delayed pass
  // calls it with the current status to reconsider an object.
  void setCurStatus(status_t status);
  void acknowledgeAlert(const tql::id_t& user, const std::string& comment);
  void resetScore(const tql::id_t& user, const std::string& comment);
  // Resets the node and every check that takes its levels from it. Only
  // nodes can; any other keeper logs that it ignores the request.
  virtual void resetAllScores(const tql::id_t& user, const std::string& comment);
  // The object checked in at `time` (seconds since the epoch). Only nodes
  // check in; any other keeper logs that it ignores the check-in.
  virtual void checkin(std::int64_t time);
  // The node keeper behind this keeper, or null: check-ins and recursive
  // resets are only for nodes.
  virtual NodeScoreKeeper* asNode() { return nullptr; }
  ScoreKeeper* asScoreKeeper() override { return this; }

  // --- Notification, run by the main loop for each notify_queue entry ---
  // Reports the change from `old` to the current DBMS status, unless the
  // status went back to `old` before it was reported.
  void notifyStatusChange(status_t old);
  // Sends SET_STATUS with the DBMS status and the entered times.
  void submitStatus();

  // --- Rule steps, public for the keepers that drive them ---
  void freeze();
  void unfreeze();
  // The same steps at an instant the caller read: one reading serves a
  // freeze, the input change and the unfreeze that follows it.
  void freezeAt(htime::usec_time now);
  void unfreezeAt(htime::usec_time now);
  // Recodes an applied status for the DBMS (status source failure, counts,
  // downtime, dependencies), moves the entered times and queues the
  // notification when the DBMS status changes.
  void applyStatus(status_t status);
  // Moves the counters from the counted status to `status`.
  void updateCounters(status_t status);

  void adjustedForDowntime() override;
  void boundaryReached() override;
  tql::id_t ownerId() const override { return id(); }
  // Arms the threshold and grace wake-ups.
  void process() override;

  virtual bool writesIncidentLog() const { return true; }
  // The object's name in incident texts.
  virtual std::string_view label() const { return {}; }

  NodeLikeScoreKeeper* thresholdSource() const { return threshold_source_; }
  // The levels that apply: the threshold source's, or all zero without one.
  Thresholds thresholds() const;
  status_t curStatus() const { return cur_; }
  // The status this keeper adds to its ancestors' counts.
  status_t countedStatus() const { return counted_; }

 protected:
  bool active() const { return active_; }
  // The time the score was last brought up to date; until the first
  // accumulation, the time the keeper was made.
  htime::usec_time lastAccumulation() const { return last_accumulation_; }
  EventSink& sink() const { return *sink_; }
  void setThresholdSource(NodeLikeScoreKeeper* source) { threshold_source_ = source; }
  void setActive(bool active) { active_ = active; }
  void setAlertStrategy(std::uint32_t strategy);
  void setAcknowledgeRequired(bool required) { acknowledge_required_ = required; }
  void setRates(const Rates& rates) { rates_ = rates; }
  void setNoStatus(bool noStatus) { no_status_ = noStatus; }
  // Score to 0 inside a freeze, with the acting user kept for the
  // notification.
  void zeroScore(const tql::id_t& user, const std::string& comment);

 private:
  // Every strategy other than following the state or a score derives no
  // status: they are all kept as this one.
  static constexpr std::uint8_t kOtherStrategy = 2;

  struct Pending {
    tql::id_t user;
    std::string comment;
  };

  friend class NotifyQueue<ScoreKeeper>;
  NotifyMark& notifyMark() { return notify_mark_; }

  void accumulate(htime::usec_time now);
  void saveOrRestoreScore();
  void setCurStatusAt(status_t status, htime::usec_time now);
  void applyStatusAt(status_t status, htime::usec_time now);
  status_t graceRule(status_t requested, htime::usec_time now);
  status_t stickyRule();
  bool statusSourceFailed() const;
  bool explainedByDependency(status_t status) const;
  void setPending(const tql::id_t& user, const std::string& comment);
  // Who caused the pending change and why (empty when nobody).
  tql::id_t pendingUser() const;
  std::string pendingComment() const;

  // The fields are ordered for size: the first 4-byte field fills the
  // room behind the EventTrackerOwner base, then come the 8-byte aligned
  // fields, the 4-byte ones and the bytes. Statuses (0 to 13) and the
  // keeper's own contributions (0 or 1 each) fit in a byte.
  std::int32_t score_ = 0;
  EventSink* sink_;
  NodeLikeScoreKeeper* threshold_source_;
  std::unique_ptr<Pending> pending_;  // rare: only after an acknowledgement or reset
  BoundaryRecord threshold_record_{*this};
  BoundaryRecord grace_record_{*this};
  htime::usec_time last_accumulation_;
  htime::usec_time uninitialized_since_ = htime::never;
  htime::usec_time deadline_ = htime::never;
  Rates rates_;
  std::uint32_t state_ = kStateUnknown;
  std::int32_t saved_score_ = -1;  // -1: nothing saved
  // Seconds of the clock's 32-bit range when the DBMS status entered warn
  // and alert; 0 when it is not there.
  std::int32_t entered_warn_ = 0;
  std::int32_t entered_alert_ = 0;
  std::uint8_t alert_strategy_ = kFollowState;  // kFollowState, kScoreDriven or kOtherStrategy
  std::uint8_t cur_ = kNoStatus;
  std::uint8_t sticky_ = kNoStatus;
  std::uint8_t counted_ = kNoStatus;
  std::uint8_t dbms_ = kNoStatus;
  std::uint8_t freeze_depth_ = 0;
  // What this keeper added to its own counters, to prove it withdrew it.
  std::uint8_t own_unknown_ = 0;
  std::uint8_t own_warn_ = 0;
  std::uint8_t own_alert_ = 0;
  bool active_ = false;
  bool acknowledge_required_ = false;
  bool no_status_ = false;
};

class CheckScoreKeeper final : public ScoreKeeper {
 public:
  // Reads the object at once.
  CheckScoreKeeper(CountKeeper* parentKeeper, tql::object_ptr node,
                   NodeLikeScoreKeeper* thresholdSource, bool agentCheck, EventSink& sink);

  // Plan and CheckAccumulation children; anything else is EFatal.
  tql::IncrementalSubscriber::ObjectPtr createChild(tql::object_ptr node) override;
  void update(bool top) override;
  std::string_view label() const override;

 protected:
  const CountKeeper* fixedStatusSource() const override;

 private:
  // update() with the clock read once, at `now`.
  void updateAt(htime::usec_time now);
};

}  // namespace keepers
