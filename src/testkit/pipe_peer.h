#pragma once
// Test-only: a child queue in pipe mode over two real pipes, and the other
// end of both pipes as an event stream, so one test plays both the process
// and its parent. Never include from library code.
#include <memory>

#include "io/fd_stream.h"
#include "os/fd.h"
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
  // The parent reads what the queue sent; blocks until it is there.
  EventPtr read() { return peer_->readEvent(); }
  template <event_t N>
  const devent_t<N>& readAs(EventPtr& holder) {
    holder = read();
    return dynamic_cast<const devent_t<N>&>(*holder);
  }
  // The parent goes away: the queue's input ends after what was written.
  void closeParentOutput() { peer_out_->close(); }

 private:
  ChildQueuePtr queue_;
  std::unique_ptr<io::FdOStream> peer_out_;
  std::unique_ptr<io::FdIStream> peer_in_;
  std::unique_ptr<queues::ioprim> peer_;
};

}  // namespace testkit
