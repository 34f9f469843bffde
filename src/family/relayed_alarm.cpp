#include "family/relayed_alarm.h"

#include <algorithm>
#include <utility>

#include "error/exception.h"
#include "queues/devent.h"

namespace family {

RelayedAlarm::RelayedAlarm(const std::string& alarmProgram, const std::string& relayProgram,
                           Options options, int alarmErrors)
    : family_(std::move(options)) {
  // The relays run before the alarm, as the main process starts the
  // siblings the alarm depends on: a sibling that only comes up once the
  // alarm is shutting down is never introduced to it, and the alarm's
  // messages to it would stay outstanding. Should one die, the alarm's next
  // request for it starts it again.
  for (const queues::queue_t role : {queues::QUEUE_DBMS, queues::QUEUE_ALRT}) {
    const std::vector<std::string> args{std::to_string(role), "5"};
    family_.setProgram(role, relayProgram, args);
    family_.start(role, relayProgram, args);
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

bool RelayedAlarm::alarmEnded() const { return family_.queue().endOfStream(queues::QUEUE_ALRM); }

void RelayedAlarm::orderRelaysToExit() {
  for (const queues::queue_t role : {queues::QUEUE_DBMS, queues::QUEUE_ALRT}) {
    if (!family_.pid(role) || family_.poll(role)) continue;
    queues::devent_t<queues::SYS_EXIT> exitOrder(role, 0, {0});
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
