#pragma once
// Where keepers send their events: notifications and new statuses to the
// DBMS and the alert process, late check-ins to the DBMS. The process's
// child queue is the real sink (QueueSink adapts it); tests record what is
// sent. Sending only borrows the event.
#include <cstdint>

#include "queues/event.h"

namespace keepers {

class EventSink {
 public:
  virtual ~EventSink() = default;
  virtual void send(const queues::event& ev) = 0;
  // A fresh request uid (never 0).
  virtual std::uint32_t nextUid() = 0;
};

// Any queue with send(const queues::event&) and nextUid(), such as the
// child queue, as a sink. The queue must outlive the adapter.
template <class Queue>
class QueueSink final : public EventSink {
 public:
  explicit QueueSink(Queue& queue) : queue_(queue) {}
  void send(const queues::event& ev) override { queue_.send(ev); }
  std::uint32_t nextUid() override { return queue_.nextUid(); }

 private:
  Queue& queue_;
};

}  // namespace keepers
