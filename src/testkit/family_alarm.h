#pragma once
// Test-only: halcyx-alarm in its process family (family::RelayedAlarm),
// driven by a script like the pipe-mode harness. This test process is the
// main process and plays the DBMS and the alert process through relays.
// Every wait has a deadline: a process that stops answering fails the test
// instead of hanging it.
#include <string>
#include <utility>
#include <vector>

#include "error/exception.h"
#include "family/relayed_alarm.h"
#include "os/child_process.h"
#include "queues/devent.h"
#include "testkit/events.h"
#include "testkit/script.h"

namespace testkit {

class FamilyAlarm {
 public:
  // How long any one wait may take before the harness gives up.
  static constexpr std::int32_t kPatienceSeconds = 20;

  FamilyAlarm(const std::string& alarmProgram, const std::string& relayProgram,
              family::Options options = {})
      : alarm_(alarmProgram, relayProgram, std::move(options)) {}

  family::Family& family() { return alarm_.family(); }
  family::RelayedAlarm& relayed() { return alarm_; }

  // Sends the script's events in order, each from the sibling its `from`
  // names. A reply waits until the alarm has sent the request it answers.
  void play(Script& script) {
    for (Step& step : script.take()) {
      if (step.kind != Step::kEvent) throw error::EFatal("A process family has no script time");
      while (!step.resolved() && !requests_.of(step.request)) keep(next());
      step.resolve(requests_);
      Loopback loop;
      loop.feed(step.bytes);
      alarm_.send(*loop.receive());
    }
  }

  // The next event the alarm sent; throws when none comes in time or the
  // alarm's stream has ended.
  queues::EventPtr next() {
    queues::EventPtr ev = alarm_.receive(deadline());
    if (ev == nullptr) throw error::EFatal("The alarm process sent nothing more");
    return ev;
  }

  // What was read and not yet handed out, then what comes until `pred`
  // holds for one event (included).
  template <typename Pred>
  std::vector<queues::EventPtr> readUntil(Pred pred) {
    for (;;) {
      keep(next());
      if (pred(*kept_.back())) return std::exchange(kept_, {});
    }
  }

  // The main process orders the exit: SYS_EXIT, the DBMS answers the
  // subscription's forget, and everything the alarm sends until its stream
  // ends is returned. Throws when its stream does not end in time.
  std::vector<queues::EventPtr> exitInOrder() {
    queues::devent_t<queues::SYS_EXIT> exitOrder(queues::QUEUE_MAIN, 0, {0});
    alarm_.send(exitOrder);
    while (queues::EventPtr ev = alarm_.receive(deadline())) {
      if (ev->type == queues::TQL_FORGET) {
        queues::devent_t<queues::RETURN_TQL_FORGET> reply(queues::QUEUE_DBMS, 0, {});
        reply.inresponse = ev->inresponse;
        alarm_.send(reply);
      }
      keep(std::move(ev));
    }
    if (!alarm_.alarmEnded()) throw error::EFatal("The alarm process did not end after SYS_EXIT");
    return std::exchange(kept_, {});
  }

  // Waits for sibling `id` to end while serving the family; throws when it
  // does not end in time.
  os::ChildStatus waitForExit(int id) {
    const auto status = alarm_.serveUntilEnded(id, deadline(), &kept_);
    if (!status) throw error::EFatal("Sibling " + std::to_string(id) + " did not end in time");
    return *status;
  }

  // Tells the relays to exit; true when every one that was started ended
  // with exit code 0.
  bool endRelays() {
    alarm_.orderSiblingsToExit();
    bool clean = true;
    for (const queues::queue_t role : {queues::QUEUE_DBMS, queues::QUEUE_ALRT}) {
      if (!family().pid(role)) continue;
      const os::ChildStatus status = waitForExit(role);
      clean = clean && !status.signalled && status.exitCode == 0;
    }
    return clean;
  }

 private:
  static htime::usec_time deadline() { return htime::now() + htime::usec_time(kPatienceSeconds); }
  void keep(queues::EventPtr ev) {
    requests_.observe(*ev);
    kept_.push_back(std::move(ev));
  }

  family::RelayedAlarm alarm_;
  RequestUids requests_;
  std::vector<queues::EventPtr> kept_;
};

}  // namespace testkit
