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
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sim/link.h"
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
  void statusChange(const queues::event& ev);
  void perform(const Action& action);
  void send(Outbox& out);
  void reportOutput();
  double elapsed() const;
  htime::usec_time at(double seconds) const;
  FinalReport finalReport(const AlarmEnd& end, std::vector<std::string>& unmet) const;

  const Scenario& scenario_;
  AlarmLink& link_;
  Observer& observer_;
  SimOptions options_;
  MainRole main_;
  DbmsRole dbms_;
  std::optional<htime::usec_time> start_;
  // Who last acted on an object, so that a status change caused by a user
  // says whether it was an acknowledgement or a reset.
  std::map<tql::id_t, std::string> verbs_;
};

}  // namespace sim
