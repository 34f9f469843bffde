#pragma once
// The alarm process in a family whose main process plays the other roles
// itself: this process is the main process (sibling 0) and starts the alarm
// as sibling 5; the DBMS (2) and the alert process (6) are halcyx-relay
// processes, started first, that pass events between this process and the
// alarm. So every event reaches the alarm from a real
// sibling of the right id, through the messenger alone, while the roles
// (a simulator's, a test's) live here.
//
// Events are addressed the way a pipe-mode peer sees them: an event handed
// to send() names the sibling that sends it in `dest`; an event received
// names the sibling that received it (0, 2 or 6).
#include <optional>
#include <string>
#include <vector>

#include "family/family.h"
#include "htime/usec_time.h"
#include "io/selector.h"
#include "io/timer.h"
#include "os/child_process.h"
#include "queues/event.h"

namespace family {

class RelayedAlarm {
 public:
  // Starts the alarm; its standard error goes to `alarmErrors` when that is
  // 0 or more.
  RelayedAlarm(const std::string& alarmProgram, const std::string& relayProgram,
               Options options = {}, int alarmErrors = -1);

  [[nodiscard]] Family& family() { return family_; }

  // `ev` to the alarm from the sibling its `dest` names: directly from this
  // process for the main process, through the relay for the others. Throws
  // io::EEndOfStream when that way is gone.
  void send(queues::event& ev);

  // The next event the alarm sent, or null at the deadline or once the
  // alarm's own stream has ended (alarmEnded). Meanwhile the family's
  // control messages are served.
  [[nodiscard]] queues::EventPtr receive(htime::usec_time deadline);
  [[nodiscard]] bool alarmEnded() const;

  // SYS_EXIT to every relay that runs.
  void orderRelaysToExit();
  // Serves the family until sibling `id` has ended or the deadline passed;
  // its status, or nothing. Events that arrive meanwhile go to `received`
  // when given, else they are dropped.
  std::optional<os::ChildStatus> serveUntilEnded(int id, htime::usec_time deadline,
                                                 std::vector<queues::EventPtr>* received = nullptr);

 private:
  // One event, addressed to its receiver, or null when the deadline passed
  // or a stream ended.
  queues::EventPtr next(htime::usec_time deadline);

  Family family_;
  io::Timer timer_{htime::never};
  io::Selector<int> selector_;
};

}  // namespace family
