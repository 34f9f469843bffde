#include "sim/simulator.h"

#include <algorithm>

#include "error/exception.h"
#include "queues/devent.h"
#include "sim/role_record.h"

namespace sim {

namespace {

class QuietObserver final : public Observer {
 public:
  void started(const Scenario&, const std::string&, std::int32_t) override {}
  void note(double, const std::string&) override {}
  void action(double, const std::string&) override {}
  void log(double, std::uint32_t, const std::string&) override {}
  void statusChange(const StatusChange&) override {}
  void problem(double, const std::string&) override {}
  void alarmOutput(double, const std::string&) override {}
  void finished(const FinalReport&) override {}
};

// The node an object is or lies below; for an object outside every node,
// its parent (the domain of a domain export).
std::string nodePath(const ObjectTree& tree, const SimObject& object) {
  for (const SimObject* o = &object; o != nullptr; o = o->parent) {
    if (o->kind == Kind::node) return tree.displayPath(*o);
  }
  return tree.displayPath(object.parent != nullptr ? *object.parent : object);
}

}  // namespace

Simulator::Simulator(const Scenario& scenario, AlarmLink& link, Observer& observer,
                     SimOptions options)
    : scenario_(scenario),
      link_(link),
      observer_(observer),
      quiet_(std::make_unique<QuietObserver>()),
      options_(options),
      apart_(link.rolesApart()),
      main_(options.logMask.value_or(scenario.logMask)),
      dbms_(scenario) {}

double Simulator::elapsed() const {
  if (!start_) return 0;
  return std::max(0.0, (htime::now() - *start_).toDouble());
}

htime::usec_time Simulator::at(double seconds) const {
  return htime::usec_time::fromDouble(start_->toDouble() + seconds);
}

Outcome Simulator::run() {
  observer_.started(scenario_, link_.program(), options_.logMask.value_or(scenario_.logMask));
  bool alive = waitForSubscription() && playTimeline();
  shutDown();
  Outcome outcome;
  const AlarmEnd end =
      link_.finish(htime::now() + htime::usec_time::fromDouble(options_.exitTimeout));
  // The roles were told to end by now: only the last output is news.
  reportOutput();
  // What the DBMS never got comes without its incident.
  showChanges(pairing_.flush());
  outcome.alarmClean = alive && end.clean;
  observer_.finished(finalReport(end, outcome.unmet));
  return outcome;
}

bool Simulator::waitForSubscription() {
  const htime::usec_time deadline =
      htime::now() + htime::usec_time::fromDouble(options_.subscribeTimeout);
  while (!dbms_.started()) {
    queues::EventPtr ev = link_.receive(deadline);
    takeNews();
    if (ev) {
      dispatch(*ev);
      continue;
    }
    if (!link_.ended() && htime::now() < deadline) continue;
    if (link_.ended()) {
      observer_.problem(elapsed(), "the alarm process ended before it subscribed to the dbms");
    } else {
      observer_.problem(elapsed(), "the alarm process did not subscribe to the dbms within " +
                                       std::to_string(static_cast<int>(options_.subscribeTimeout)) +
                                       " s");
    }
    return false;
  }
  return true;
}

bool Simulator::playTimeline() {
  std::size_t next = 0;
  const std::vector<Action>& timeline = scenario_.timeline;
  for (;;) {
    const double due =
        next < timeline.size() ? std::min(timeline[next].at, scenario_.endsAt) : scenario_.endsAt;
    queues::EventPtr ev = link_.receive(at(due));
    takeNews();
    if (ev) {
      dispatch(*ev);
      continue;
    }
    if (link_.ended()) {
      observer_.problem(elapsed(), "the alarm process ended before the scenario did");
      return false;
    }
    if (htime::now() < at(due)) continue;
    while (next < timeline.size() && timeline[next].at <= due) {
      const Action& action = timeline[next++];
      if (action.type == ActionType::end) return true;
      perform(action);
    }
    if (due >= scenario_.endsAt) return true;
  }
}

void Simulator::shutDown() {
  if (link_.takesExitOrder() && !link_.ended()) {
    // The alarm process forgets its subscription before it goes: serve
    // events until the DBMS has answered that, or the wait runs out.
    const std::size_t forgets = dbms_.forgetsAnswered();
    link_.send(queues::devent_t<queues::SYS_EXIT>(queues::QUEUE_MAIN, 0, {0}));
    const htime::usec_time deadline =
        htime::now() + htime::usec_time::fromDouble(options_.drainTimeout);
    while (dbms_.forgetsAnswered() == forgets && !link_.ended() && htime::now() < deadline) {
      if (queues::EventPtr ev = link_.receive(deadline)) dispatch(*ev);
      takeNews();
    }
  }
  link_.closeInput();
  const htime::usec_time deadline =
      htime::now() + htime::usec_time::fromDouble(options_.drainTimeout);
  while (!link_.ended() && htime::now() < deadline) {
    if (queues::EventPtr ev = link_.receive(deadline)) dispatch(*ev);
    takeNews();
  }
  if (!link_.ended()) observer_.problem(elapsed(), "the alarm process did not end its output");
}

void Simulator::dispatch(const queues::event& ev) {
  Outbox out;
  const double t = elapsed();
  switch (ev.dest) {
    case queues::QUEUE_MAIN:
      main_.handle(ev, out, observer_, t);
      break;
    case queues::QUEUE_DBMS:
      if (apart_ && isRecord(ev)) {
        record(ev, Sibling::dbms);
      } else {
        toDbms(ev);
      }
      break;
    case queues::QUEUE_ALRT:
      if (apart_ && isRecord(ev)) {
        record(ev, Sibling::alert);
      } else if (ev.type == queues::OBJECT_STATUS_CHANGE) {
        statusChange(ev);
      } else {
        observer_.problem(t, "alrt got " + queues::eventName(ev.type) +
                                 ", which it does not expect from the alarm process");
      }
      break;
    default:
      observer_.problem(t, "the alarm process sent " + queues::eventName(ev.type) + " to " +
                               queues::queueName(ev.dest) + ", which nobody plays here");
  }
  send(out);
  showChanges(pairing_.ready());
}

void Simulator::toDbms(const queues::event& ev) {
  const double t = elapsed();
  // Played here, the DBMS starts the clock at the first select; apart, its
  // start record came before the select.
  if (!apart_ && ev.type == queues::TQL_SELECT && !dbms_.started()) {
    start_ = htime::now();
    dbms_.start(start_->sec);
  }
  if (!dbms_.started()) {
    observer_.problem(
        t, "dbms got " + queues::eventName(ev.type) + " before the alarm process subscribed");
    return;
  }
  if (const auto* i = dynamic_cast<const queues::devent_t<queues::PUT_INCIDENTLOG>*>(&ev)) {
    pairing_.incident({i->data.time, i->data.host_id, i->data.text, i->data.level});
  } else if (const auto* s = dynamic_cast<const queues::devent_t<queues::SET_STATUS>*>(&ev)) {
    pairing_.stored(s->data.id);
  }
  Outbox out;
  dbms_.handle(ev, out, apart_ ? *quiet_ : observer_, t);
  if (!apart_) send(out);
}

void Simulator::statusChange(const queues::event& ev) {
  const auto* change = dynamic_cast<const queues::devent_t<queues::OBJECT_STATUS_CHANGE>*>(&ev);
  if (change == nullptr) return;
  const alert::Object_Status_Change_Data& data = change->data;
  StatusChange c;
  c.t = elapsed();
  c.object = data.object;
  c.oldStatus = data.old_status;
  c.newStatus = data.new_status;
  c.comment = data.comment;
  const SimObject* object = dbms_.started() ? dbms_.tree().find(data.object) : nullptr;
  c.path = object != nullptr ? dbms_.tree().displayPath(*object) : data.object.toString();
  c.node = object != nullptr ? nodePath(dbms_.tree(), *object) : c.path;
  if (!data.user.empty()) {
    c.user = dbms_.userName(data.user);
    if (const auto it = verbs_.find(data.object); it != verbs_.end()) c.verb = it->second;
  }
  // Shown once the DBMS has stored the status, with the incident written
  // just before it.
  pairing_.change(c, data.node);
}

void Simulator::showChanges(std::vector<StatusChange> changes) {
  for (const StatusChange& c : changes) observer_.statusChange(c);
}

void Simulator::record(const queues::event& ev, Sibling from) {
  const std::string who = "the " + siblingName(from) + " process";
  RoleRecord r;
  try {
    r = readRecord(ev);
  } catch (const error::Exception& e) {
    observer_.problem(elapsed(), who + " sent " + e.text());
    return;
  }
  switch (r.kind) {
    case RoleRecord::Kind::action:
      observer_.action(r.t, r.text);
      return;
    case RoleRecord::Kind::problem:
      observer_.problem(r.t, r.text);
      return;
    case RoleRecord::Kind::start:
      if (from == Sibling::dbms && !dbms_.started()) {
        start_ = r.start;
        dbms_.start(start_->sec);
        return;
      }
      break;
    case RoleRecord::Kind::perform:
      break;
  }
  observer_.problem(elapsed(), who + " sent a record it has no business sending: " + recordText(r));
}

void Simulator::reportOutput() {
  for (const std::string& line : link_.takeOutputLines()) observer_.alarmOutput(elapsed(), line);
}

void Simulator::takeNews() {
  reportOutput();
  for (const Sibling role : {Sibling::dbms, Sibling::alert}) {
    if (rolesGone_.contains(role)) continue;
    const std::optional<std::string> how = link_.roleEnded(role);
    if (!how) continue;
    rolesGone_.insert(role);
    observer_.problem(elapsed(), "the " + siblingName(role) + " process ended (" + *how + ")");
    // The DBMS will not store the statuses these changes wait for.
    if (role == Sibling::dbms) showChanges(pairing_.flush());
  }
}

void Simulator::perform(const Action& action) {
  const double t = elapsed();
  Outbox out;
  switch (action.type) {
    case ActionType::note:
      observer_.note(t, action.text);
      return;
    case ActionType::kill: {
      const std::string who = siblingName(action.sibling);
      if (link_.kill(action.sibling)) {
        observer_.action(t, "the " + who + " process is killed (SIGKILL)");
      } else {
        observer_.problem(t, "cannot kill the " + who + " process: over " +
                                 "pipes only the alarm process runs on its own");
      }
      return;
    }
    case ActionType::end:
      return;
    case ActionType::acknowledge:
    case ActionType::reset:
      if (const SimObject* o = dbms_.tree().findPath(action.object)) {
        verbs_[o->id] = action.type == ActionType::acknowledge ? "acknowledged" : "reset";
      }
      break;
    default:
      break;
  }
  if (!apart_) {
    dbms_.perform(action, out, observer_, t);
    send(out);
    return;
  }
  if (rolesGone_.contains(Sibling::dbms)) {
    observer_.problem(t, "skipped the action at " + action.pointer + ": the dbms process is gone");
    return;
  }
  dbms_.perform(action, out, *quiet_, t);
  link_.sendToRole(
      Sibling::dbms,
      *recordEvent({RoleRecord::Kind::perform, 0, {}, {}, action.pointer}, queues::QUEUE_DBMS));
}

void Simulator::send(Outbox& out) {
  for (const queues::EventPtr& ev : out) link_.send(*ev);
  out.clear();
}

FinalReport Simulator::finalReport(const AlarmEnd& end, std::vector<std::string>& unmet) const {
  FinalReport report;
  report.t = elapsed();
  report.alarm = end;
  report.expectations = scenario_.expect.size();
  if (!dbms_.started()) {
    for (const Expectation& e : scenario_.expect) {
      unmet.push_back(e.object + ": the run never started");
    }
    report.unmet = unmet;
    return report;
  }
  const ObjectTree& tree = dbms_.tree();
  const auto statusOf = [&](const SimObject& o) -> std::uint32_t {
    const auto it = dbms_.statuses().find(o.id);
    return it == dbms_.statuses().end() ? 0 : it->second.status;
  };
  tree.forEach([&](const SimObject& o) {
    if (hasStatus(o.kind))
      report.objects.push_back({tree.displayPath(o), o.id, statusOf(o), nodePath(tree, o)});
  });
  for (const Expectation& e : scenario_.expect) {
    const SimObject* o = tree.findPath(e.object);
    if (o == nullptr) {
      unmet.push_back(e.object + " no longer exists; expected " + statusName(e.status));
    } else if (statusOf(*o) != e.status) {
      unmet.push_back(tree.displayPath(*o) + " is " + statusName(statusOf(*o)) + ", expected " +
                      statusName(e.status));
    }
  }
  report.unmet = unmet;
  return report;
}

}  // namespace sim
