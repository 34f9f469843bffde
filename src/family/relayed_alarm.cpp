#include "family/relayed_alarm.h"

#include <algorithm>
#include <utility>

#include "error/exception.h"
#include "queues/devent.h"

namespace family {

namespace {

std::map<int, SiblingProgram> relays(const std::string& relayProgram) {
  std::map<int, SiblingProgram> siblings;
  for (const queues::queue_t role : {queues::QUEUE_DBMS, queues::QUEUE_ALRT}) {
    siblings[role] = {relayProgram, {std::to_string(role), std::to_string(queues::QUEUE_ALRM)}};
  }
  return siblings;
}

}  // namespace

RelayedAlarm::RelayedAlarm(const std::string& alarmProgram, const std::string& relayProgram,
                           Options options, int alarmErrors)
    : RelayedAlarm(alarmProgram, relays(relayProgram), std::move(options), alarmErrors) {
  // Should a relay die, the alarm's next request for it starts it again.
  for (const auto& [id, relay] : relays(relayProgram))
    family_.setProgram(id, relay.path, relay.args);
}

RelayedAlarm::RelayedAlarm(const std::string& alarmProgram,
                           const std::map<int, SiblingProgram>& siblings, Options options,
                           int alarmErrors)
    : family_(std::move(options)) {
  // The siblings run before the alarm, as the main process starts the
  // siblings the alarm depends on: a sibling that only comes up once the
  // alarm is shutting down is never introduced to it, and the alarm's
  // messages to it would stay outstanding.
  for (const auto& [id, sibling] : siblings) {
    family_.start(id, sibling.path, sibling.args);
    siblings_.push_back(id);
  }
  family_.start(queues::QUEUE_ALRM, alarmProgram, {}, alarmErrors);
  selector_.add(&family_.queue().front(), 0);
  selector_.add(&timer_, 1);
}

void RelayedAlarm::send(queues::event& ev) {
  const queues::queue_t from = ev.dest;
  ev.dest = from == queues::QUEUE_MAIN ? queues::QUEUE_ALRM : from;
  family_.queue().send(ev);
}

queues::EventPtr RelayedAlarm::next(htime::usec_time deadline) {
  queues::childqueue& queue = family_.queue();
  timer_.setDeadline(deadline);
  if (queue.rememberedCount() == 0 && selector_.select().first == &timer_) return nullptr;
  queues::EventPtr ev = queue.receive();
  // Stamped with its sender: the alarm's own events are for the main
  // process, a relay's are what the alarm sent to its role.
  if (ev != nullptr && ev->dest == queues::QUEUE_ALRM) ev->dest = queues::QUEUE_MAIN;
  return ev;
}

queues::EventPtr RelayedAlarm::receive(htime::usec_time deadline) {
  while (!alarmEnded() && htime::now() < deadline) {
    if (queues::EventPtr ev = next(deadline)) return ev;
  }
  return nullptr;
}

queues::EventPtr RelayedAlarm::receiveOnce(htime::usec_time deadline) {
  if (alarmEnded()) return nullptr;
  return next(deadline);
}

bool RelayedAlarm::alarmEnded() const { return ended(queues::QUEUE_ALRM); }

bool RelayedAlarm::ended(int id) const {
  return family_.queue().endOfStream(static_cast<queues::queue_t>(id));
}

void RelayedAlarm::orderSiblingsToExit() {
  for (const int id : siblings_) {
    if (family_.poll(id)) continue;
    queues::devent_t<queues::SYS_EXIT> exitOrder(static_cast<queues::queue_t>(id), 0, {0});
    try {
      family_.queue().send(exitOrder);
    } catch (const error::Exception&) {
      // Gone already: there is nothing to tell it.
    }
  }
}

std::optional<os::ChildStatus> RelayedAlarm::serveUntilEnded(
    int id, htime::usec_time deadline, std::vector<queues::EventPtr>* received) {
  for (;;) {
    if (auto status = family_.poll(id)) return status;
    const htime::usec_time now = htime::now();
    if (!(now < deadline)) return std::nullopt;
    // Short waits: a child's end is seen here by polling for it.
    queues::EventPtr ev = next(std::min(deadline, now + htime::usec_time(0, 20000)));
    if (ev != nullptr && received != nullptr) received->push_back(std::move(ev));
  }
}

}  // namespace family
