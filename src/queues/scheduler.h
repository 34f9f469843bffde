#pragma once
// Payloads of the scheduler's events (namespace scheduler): an event to be
// delivered at a time. The nested event travels whole, header included,
// after the time.
#include <memory>

#include "error/check.h"
#include "htime/usec_time.h"
#include "queues/codec.h"
#include "queues/event.h"

namespace queues {

// A nested event: the complete event, header included. Its text form is the
// event's block.
template <>
struct codec<queues::EventPtr> {
  static void write(ioprim& io, const queues::EventPtr& value) {
    HX_CHECK(value != nullptr, "Missing nested event in event data");
    io.writeEvent(*value);
  }
  static void read(ioprim& io, queues::EventPtr& value) {
    ioprim::NestingGuard nested(io);
    value = io.readEvent();
  }
  static void print(std::ostream& out, const queues::EventPtr& value, int depth) {
    if (value == nullptr) {
      out << "(null)";
      return;
    }
    value->printBlock(out, depth);
  }
};

}  // namespace queues

namespace scheduler {

// An event and the time it is due. Copying copies the event.
struct Timed_Event {
  htime::usec_time time;
  queues::EventPtr ev;

  Timed_Event() = default;
  Timed_Event(htime::usec_time at, queues::EventPtr event) : time(at), ev(std::move(event)) {}
  Timed_Event(const Timed_Event& other)
      : time(other.time), ev(other.ev ? other.ev->clone() : nullptr) {}
  Timed_Event& operator=(const Timed_Event& other) {
    if (this != &other) *this = Timed_Event(other);
    return *this;
  }
  Timed_Event(Timed_Event&&) noexcept = default;
  Timed_Event& operator=(Timed_Event&&) noexcept = default;

  template <class S, class V>
  static void fields(S& s, V&& visit) {
    visit("time", s.time);
    visit("ev", s.ev);
  }
};

// SCHEDULE_EVENT_ABSOLUTE (128): deliver `ev` at the time `time`.
struct Schedule_Event_Absolute_Data : Timed_Event {
  using Timed_Event::Timed_Event;
};

// SCHEDULE_EVENT_RELATIVE (129): deliver `ev` after the delay `time`.
struct Schedule_Event_Relative_Data : Timed_Event {
  using Timed_Event::Timed_Event;
};

}  // namespace scheduler
