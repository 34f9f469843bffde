#include "sim/role_process.h"

#include <algorithm>
#include <optional>

#include "error/check.h"
#include "io/exceptions.h"
#include "io/sibling_messenger.h"
#include "queues/childqueue.h"
#include "queues/sibling_messenger_adapter.h"
#include "sim/role_record.h"
#include "sim/roles.h"

namespace sim {

namespace {

class RoleProcess : public Observer {
 public:
  RoleProcess(Sibling role, const Scenario& scenario, queues::childqueue& queue)
      : role_(role), scenario_(scenario), queue_(queue), dbms_(scenario) {}

  void handle(const queues::event& ev) {
    switch (ev.dest) {
      case queues::QUEUE_MAIN:
        fromMain(ev);
        return;
      case queues::QUEUE_ALRM:
        if (role_ == Sibling::dbms) {
          toDbms(ev);
        } else {
          toAlert(ev);
        }
        return;
      default:
        problem(elapsed(), name() + " got " + queues::eventName(ev.type) + " from " +
                               queues::queueName(ev.dest) + ", which is no sibling of this run");
    }
  }

  // What the DBMS does and what goes wrong goes to the main process; no
  // other record comes from a role.
  void action(double t, const std::string& text) override {
    report({RoleRecord::Kind::action, t, text, {}, {}});
  }
  void problem(double t, const std::string& text) override {
    report({RoleRecord::Kind::problem, t, text, {}, {}});
  }
  void started(const Scenario&, const std::string&, std::int32_t) override { notMine(); }
  void note(double, const std::string&) override { notMine(); }
  void log(double, std::uint32_t, const std::string&) override { notMine(); }
  void statusChange(const StatusChange&) override { notMine(); }
  void alarmOutput(double, const std::string&) override { notMine(); }
  void finished(const FinalReport&) override { notMine(); }

 private:
  static void notMine() { HX_CHECK(false, "A role process reports only actions and problems"); }

  std::string name() const { return role_ == Sibling::dbms ? "dbms" : "alrt"; }

  double elapsed() const {
    if (!start_) return 0;
    return std::max(0.0, (htime::now() - *start_).toDouble());
  }

  void fromMain(const queues::event& ev) {
    if (ev.type == queues::SYS_EXIT) {
      if (!exiting_) queue_.shutdown();
      exiting_ = true;
      return;
    }
    RoleRecord order;
    try {
      order = readRecord(ev);
    } catch (const error::Exception& e) {
      problem(elapsed(), name() + " got from the main process " + e.text());
      return;
    }
    const auto& timeline = scenario_.timeline;
    const auto action = std::find_if(timeline.begin(), timeline.end(),
                                     [&](const Action& a) { return a.pointer == order.action; });
    if (order.kind != RoleRecord::Kind::perform || role_ != Sibling::dbms ||
        action == timeline.end() || !dbms_.started()) {
      problem(elapsed(), name() + " cannot carry out " + recordText(order));
      return;
    }
    Outbox out;
    dbms_.perform(*action, out, *this, elapsed());
    toAlarm(out);
  }

  void toDbms(const queues::event& ev) {
    if (ev.type == queues::TQL_SELECT && !dbms_.started()) {
      start_ = htime::now();
      dbms_.start(start_->sec);
      report({RoleRecord::Kind::start, 0, {}, *start_, {}});
    }
    if (!dbms_.started()) {
      problem(elapsed(),
              "dbms got " + queues::eventName(ev.type) + " before the alarm process subscribed");
      return;
    }
    // A log line the alarm sent here by mistake would read as a record there:
    // only the DBMS's own complaint about it goes on.
    if (!isRecord(ev)) pass(ev);
    Outbox out;
    dbms_.handle(ev, out, *this, elapsed());
    toAlarm(out);
  }

  void toAlert(const queues::event& ev) {
    if (ev.type == queues::OBJECT_STATUS_CHANGE) {
      pass(ev);
    } else {
      problem(elapsed(), "alrt got " + queues::eventName(ev.type) +
                             ", which it does not expect from the alarm process");
    }
  }

  // The alarm's event, as this role got it, for the main process.
  void pass(const queues::event& ev) {
    const queues::EventPtr copy = ev.clone();
    copy->dest = queues::QUEUE_MAIN;
    send(*copy);
  }

  void report(const RoleRecord& record) { send(*recordEvent(record, queues::QUEUE_MAIN)); }

  void toAlarm(Outbox& out) {
    for (const queues::EventPtr& ev : out) {
      ev->dest = queues::QUEUE_ALRM;
      send(*ev);
    }
    out.clear();
  }

  void send(const queues::event& ev) {
    try {
      queue_.send(ev);
    } catch (const io::EEndOfStream&) {
      // The receiver is gone, or writing is over because of the shutdown.
    }
  }

  Sibling role_;
  const Scenario& scenario_;
  queues::childqueue& queue_;
  DbmsRole dbms_;
  std::optional<htime::usec_time> start_;
  bool exiting_ = false;
};

}  // namespace

int runRoleProcess(Sibling role, const Scenario& scenario) {
  HX_CHECK(role == Sibling::dbms || role == Sibling::alert, "Only the dbms and alert are roles");
  const queues::queue_t id = role == Sibling::dbms ? queues::QUEUE_DBMS : queues::QUEUE_ALRT;
  io::SiblingMessenger messenger(id, "smem");
  queues::SiblingMessengerAdapter adapter(messenger);
  queues::childqueue queue(adapter);
  RoleProcess process(role, scenario, queue);
  for (;;) {
    const queues::EventPtr ev = queue.receive();
    if (ev != nullptr) {
      process.handle(*ev);
    } else if (queue.endOfStream(queues::QUEUE_MAIN)) {
      break;
    }
    // Another stream's end (the alarm's) changes nothing: the main process
    // decides when this one goes.
  }
  if (!messenger.shutdownAcknowledged()) return 2;
  messenger.completeShutdown();
  return 0;
}

}  // namespace sim
