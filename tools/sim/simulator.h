#pragma once
// Runs a scenario against an alarm process: plays its siblings (main, DBMS,
// alert), performs the timeline in real time and reports what the alarm
// process does to an observer.
//
// The clock starts when the alarm process subscribes to the DBMS (so its
// start-up time does not shift the timeline). At the end of the scenario the
// main process orders the exit where the transport can carry that order,
// then closes the alarm's input, collects what is still coming and waits for
// the process to end.
//
// When the DBMS and the alert process run apart (AlarmLink::rolesApart),
// this process keeps the one clock and the timeline: it orders the DBMS to
// carry out each action and passes on the role processes' records. Its own
// DbmsRole is then an account of what the DBMS holds, kept by doing the same
// actions and taking the copies of the alarm's events the DBMS passes on,
// with what it would send and say dropped: it names the objects of status
// changes and gives the final table, also after the DBMS process died.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "sim/link.h"
#include "sim/pairing.h"
#include "sim/report.h"
#include "sim/roles.h"
#include "sim/scenario.h"

namespace sim {

struct SimOptions {
  std::optional<std::int32_t> logMask;  // overrides the scenario's
  double subscribeTimeout = 15;         // seconds to wait for the alarm to subscribe
  double drainTimeout = 10;             // seconds to wait for its output to end
  double exitTimeout = 5;               // seconds to wait for it to exit after that
};

struct Outcome {
  bool alarmClean = false;         // subscribed, ran to the end, exited with code 0
  std::vector<std::string> unmet;  // expectations that did not hold
};

class Simulator {
 public:
  Simulator(const Scenario& scenario, AlarmLink& link, Observer& observer, SimOptions options);

  Outcome run();

  const DbmsRole& dbms() const { return dbms_; }

 private:
  bool waitForSubscription();
  // Returns false when the alarm process ended before the scenario did.
  bool playTimeline();
  void shutDown();
  void dispatch(const queues::event& ev);
  void toDbms(const queues::event& ev);
  void statusChange(const queues::event& ev);
  // A role process's record.
  void record(const queues::event& ev, Sibling from);
  void perform(const Action& action);
  void send(Outbox& out);
  // What came besides events: the alarm's error output, the end of a role
  // process.
  void takeNews();
  void reportOutput();
  void showChanges(std::vector<StatusChange> changes);
  double elapsed() const;
  htime::usec_time at(double seconds) const;
  FinalReport finalReport(const AlarmEnd& end, std::vector<std::string>& unmet) const;

  const Scenario& scenario_;
  AlarmLink& link_;
  Observer& observer_;
  // Where what the account of the DBMS would say goes when the roles run
  // apart: nowhere, the DBMS process says it.
  std::unique_ptr<Observer> quiet_;
  SimOptions options_;
  bool apart_;
  MainRole main_;
  DbmsRole dbms_;
  ChangePairing pairing_;
  std::set<Sibling> rolesGone_;
  std::optional<htime::usec_time> start_;
  // Who last acted on an object, so that a status change caused by a user
  // says whether it was an acknowledgement or a reset.
  std::map<tql::id_t, std::string> verbs_;
};

}  // namespace sim
