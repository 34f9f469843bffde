#pragma once
// Test-only: a child queue in pipe mode over two real pipes, and the other
// end of both pipes as an event stream, so one test plays both the process
// and its parent. Never include from library code.
#include <memory>

#include "io/fd_stream.h"
#include "os/fd.h"
#include "os/poll.h"
#include "queues/childqueue.h"
#include "queues/devent.h"
#include "queues/ioprim.h"

namespace testkit {

using queues::childqueue;
using queues::ChildQueuePtr;
using queues::devent_t;
using queues::event;
using queues::event_data_t;
using queues::event_t;
using queues::EventPtr;
using queues::queue_t;

class PipePeer {
 public:
  PipePeer() {
    const os::PipeEnds to_queue = os::makePipe();
    const os::PipeEnds from_queue = os::makePipe();
    queue_ = std::make_unique<childqueue>(
        std::make_unique<io::FdIStream>(to_queue.readEnd, "to queue"),
        std::make_unique<io::FdOStream>(from_queue.writeEnd, "from queue"));
    peer_out_ = std::make_unique<io::FdOStream>(to_queue.writeEnd, "peer out");
    peer_in_ = std::make_unique<io::FdIStream>(from_queue.readEnd, "peer in");
    peer_ = std::make_unique<queues::ioprim>(peer_in_.get(), peer_out_.get());
  }

  childqueue& queue() { return *queue_; }

  // The parent writes an event to the queue's input.
  void write(const event& ev) {
    peer_->writeEvent(ev);
    peer_->flush();
  }
  template <event_t N>
  void write(queue_t sender, std::uint32_t uid, event_data_t<N> data = {}) {
    write(devent_t<N>(sender, uid, std::move(data)));
  }
  // The parent reads what the queue sent; blocks until it is there. The
  // queue holds what it sends until it waits for input; in a test that
  // plays both ends on one thread, the parent reading is the queue at rest,
  // so what it holds goes out first.
  EventPtr read() {
    if (queue_ != nullptr) queue_->flushOutput();
    return peer_->readEvent();
  }
  // Reads what the queue has written, as a parent on another thread would:
  // blocks until the queue writes it.
  EventPtr readWhenWritten() { return peer_->readEvent(); }
  // True when bytes from the queue arrive within `timeoutMs`, without
  // making the queue write what it holds.
  bool arrivesWithin(int timeoutMs) {
    if (peer_in_->isReady()) return true;
    os::PollSlot slot{peer_in_->handle().fd, os::kReadable, 0};
    return os::pollFor({&slot, 1}, timeoutMs).outcome == os::PollResult::ready;
  }
  // The parent writes raw bytes to the queue's input (part of an event).
  void writeBytes(const void* data, std::size_t size) {
    peer_->putBytes(data, size);
    peer_->flush();
  }
  template <event_t N>
  const devent_t<N>& readAs(EventPtr& holder) {
    holder = read();
    return dynamic_cast<const devent_t<N>&>(*holder);
  }
  // The queue goes (the process ends); the parent's ends stay.
  void destroyQueue() { queue_.reset(); }
  // The parent goes away: the queue's input ends after what was written.
  void closeParentOutput() { peer_out_->close(); }

 private:
  ChildQueuePtr queue_;
  std::unique_ptr<io::FdOStream> peer_out_;
  std::unique_ptr<io::FdIStream> peer_in_;
  std::unique_ptr<queues::ioprim> peer_;
};

}  // namespace testkit
