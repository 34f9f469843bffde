#pragma once
// The alarm process in a family whose main process stands behind the other
// roles: this process is the main process (sibling 0) and starts the alarm
// as sibling 5, after the DBMS (2) and the alert process (6). Those are
// halcyx-relay processes that pass events between this process and the
// alarm, so that the roles (a test's) live here, or programs given by the
// caller that play the roles themselves and report to this process as they
// please (the simulator's). Either way every event reaches the alarm from a
// real sibling of the right id, through the messenger alone.
//
// Events are addressed the way a pipe-mode peer sees them: an event handed
// to send() names the sibling that sends it in `dest` (with relays) or the
// sibling it is for (2 or 6 when they are programs of their own); an event
// received names the sibling that received it (0, 2 or 6), which is also
// the sibling that sent it on.
#include <map>
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

struct SiblingProgram {
  std::string path;
  std::vector<std::string> args;
};

class RelayedAlarm {
 public:
  // Starts relays as the DBMS and the alert process, then the alarm; its
  // standard error goes to `alarmErrors` when that is 0 or more. A relay
  // that died is started again when the alarm asks for it.
  RelayedAlarm(const std::string& alarmProgram, const std::string& relayProgram,
               Options options = {}, int alarmErrors = -1);
  // Starts `siblings` (by id), then the alarm. A sibling that died is not
  // started again.
  RelayedAlarm(const std::string& alarmProgram, const std::map<int, SiblingProgram>& siblings,
               Options options = {}, int alarmErrors = -1);

  [[nodiscard]] Family& family() { return family_; }

  // `ev` from this process: to the alarm when its `dest` is the main
  // process, else to the sibling `dest` names (a relay passes it on to the
  // alarm as its own). Throws io::EEndOfStream when that way is gone.
  void send(queues::event& ev);

  // The next event the alarm sent, or null at the deadline or once the
  // alarm's own stream has ended (alarmEnded). Meanwhile the family's
  // control messages are served.
  [[nodiscard]] queues::EventPtr receive(htime::usec_time deadline);
  // One wait: the next event, or null at the deadline, at the end of any
  // sibling's stream (ended() tells whose) or after a wake-up that brought
  // no event. For callers that watch the other siblings too.
  [[nodiscard]] queues::EventPtr receiveOnce(htime::usec_time deadline);
  [[nodiscard]] bool alarmEnded() const;
  // True once sibling `id`'s stream to this process has ended.
  [[nodiscard]] bool ended(int id) const;

  // SYS_EXIT to every sibling started besides the alarm that still runs.
  void orderSiblingsToExit();
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
  std::vector<int> siblings_;
  io::Timer timer_{htime::never};
  io::Selector<int> selector_;
};

}  // namespace family
