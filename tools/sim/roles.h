#pragma once
// The siblings the simulator plays for the alarm process.
//
// MainRole answers the configuration request and collects log lines.
//
// DbmsRole holds the scenario's object tree and serves the alarm's standing
// select: it answers TQL_SELECT with those objects of the tree the pattern asks
// for, and after every change of the tree sends the patches that keep each
// subscriber's mirror equal to the tree (a patch when the changed object is
// selected afterwards, a delete patch when it was selected before and is not
// now). It sends the scenario's check states, check-ins, acknowledgements
// and score resets, stores the statuses and incident-log lines the alarm
// writes, reports a late node with the node's late state, and answers
// TQL_DELETE (reply first, then the deletion and its patch) and TQL_FORGET.
//
// Events for the alarm process are appended to an outbox, each addressed to
// the queue of the sibling that sends it.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "queues/event.h"
#include "sim/object_tree.h"
#include "sim/report.h"
#include "sim/scenario.h"
#include "sim/subscription.h"

namespace sim {

using Outbox = std::vector<queues::EventPtr>;

class MainRole {
 public:
  explicit MainRole(std::int32_t logMask) : log_mask_(logMask) {}

  // An event the alarm process sent to the main process.
  void handle(const queues::event& ev, Outbox& out, Observer& observer, double t);

  bool alarmReady() const { return init_ok_; }

 private:
  std::int32_t log_mask_;
  bool init_ok_ = false;
};

struct StoredStatus {
  std::uint32_t status = 0;
  std::int64_t enteredWarn = 0;
  std::int64_t enteredAlert = 0;
};

struct Incident {
  std::int64_t time = 0;
  tql::id_t host;
  std::string text;
  std::uint32_t level = 0;
};

class DbmsRole {
 public:
  explicit DbmsRole(const Scenario& scenario) : scenario_(scenario) {}

  // Builds the tree; times the scenario gives relative to the start count
  // from `startSeconds` (seconds since 1970).
  void start(std::int64_t startSeconds);
  bool started() const { return tree_ != nullptr; }
  ObjectTree& tree() { return *tree_; }
  const ObjectTree& tree() const { return *tree_; }

  // An event the alarm process sent to the DBMS.
  void handle(const queues::event& ev, Outbox& out, Observer& observer, double t);

  // Carries out a timeline action that belongs to the DBMS: states,
  // check-ins, acknowledgements, score resets and changes of the tree. An
  // action whose object is gone by now (the alarm process may have had it
  // deleted) is skipped and reported.
  void perform(const Action& action, Outbox& out, Observer& observer, double t);

  const std::map<tql::id_t, StoredStatus>& statuses() const { return statuses_; }
  const std::vector<Incident>& incidents() const { return incidents_; }
  std::size_t subscriptionCount() const { return subscriptions_.size(); }
  std::size_t forgetsAnswered() const { return forgets_; }

  // Users are database objects too: ids 2.N, in order of first mention.
  tql::id_t userId(const std::string& name);
  std::string userName(const tql::id_t& id) const;

 private:
  void select(const queues::event& ev, Outbox& out, Observer& observer, double t);
  void forget(const queues::event& ev, Outbox& out, Observer& observer, double t);
  void remove(const queues::event& ev, Outbox& out, Observer& observer, double t);
  void late(const queues::event& ev, Outbox& out, Observer& observer, double t);
  // Which subscriptions select the object now.
  std::vector<bool> selection(const SimObject& object) const;
  // Patches for every subscriber after the object (with its subtree)
  // changed; `before` is selection() from before the change.
  void patch(const SimObject& object, const std::vector<bool>& before, Outbox& out);
  void deletePatch(const tql::id_t& id, const std::vector<bool>& before, Outbox& out);
  // What the database reports about objects that just appeared: their
  // check states and the nodes' check-ins, for the selected ones.
  void announce(const SimObject& top, Outbox& out, Observer& observer, double t);
  // Tells the observer which objects with a status below `top` no
  // subscription selects: the alarm process will never give them one.
  void reportUnselected(const SimObject& top, Observer& observer, double t) const;
  tql::version_t nextSeq() { return {++seq_, 0}; }
  void performOn(const Action& action, Outbox& out, Observer& observer, double t);

  const Scenario& scenario_;
  std::unique_ptr<ObjectTree> tree_;
  std::vector<Subscription> subscriptions_;
  std::map<tql::id_t, StoredStatus> statuses_;
  std::vector<Incident> incidents_;
  std::vector<std::string> users_;
  std::uint64_t seq_ = 0;
  std::size_t forgets_ = 0;
};

}  // namespace sim
