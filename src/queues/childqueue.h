#pragma once
// The child queue: the one object through which this process sends events to
// its sibling processes and receives events from them.
//
// It works in one of two modes:
// - over the sibling messenger: one event stream per peer, each event read
//   is stamped with the peer it came from (its `dest` is overwritten), and
//   the end of one peer's stream is that peer's alone;
// - in pipe mode, over one input and one output byte stream to the parent
//   (standard input and output when the process was started without a
//   messenger): every event sent goes to the output whatever its `dest`,
//   every event read keeps the `dest` its sender wrote, and the end of the
//   input is the end of the stream from every peer at once.
//
// The queue is a stacked selectable: its front, "parentqueue.in", is what the
// main loop's selector waits on. The front is ready when the underlying input
// (the messenger's "some sibling has input", or the input stream) signals,
// and while events that a dialog set aside are waiting.
//
// Dialogs (qdialog.h) block in waitReply for the reply to one request; events
// that arrive meanwhile are remembered and handed out by receive first, in
// arrival order.
//
// Single-threaded. The process publishes its queue with setCurrentQueue so
// that dialogs and logging reach it.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "io/selector.h"
#include "io/stacked.h"
#include "io/stream.h"
#include "queues/event.h"
#include "queues/ioprim.h"
#include "queues/messenger.h"
#include "queues/types.h"

namespace queues {

class childqueue : public io::StackedSelectableBack {
 public:
  class InFront : public io::StackedSelectableFront {
   public:
    explicit InFront(childqueue* queue) : StackedSelectableFront(queue) {}
    std::string name() const override { return "parentqueue.in"; }
  };

  // Over the sibling messenger, which must outlive the queue.
  explicit childqueue(Messenger& messenger);
  // Pipe mode over the two streams to the parent.
  childqueue(io::IStreamPtr in, io::OStreamPtr out);
  // Pipe mode over standard input and output (left open at the end).
  static std::unique_ptr<childqueue> overStandardStreams();
  ~childqueue() override;

  // What the main loop's selector waits on.
  InFront& front() { return front_; }

  // Encodes the event onto the stream for its `dest` and flushes it. The
  // event stays the caller's. In pipe mode the event goes to the output
  // stream and is held there rather than flushed on its own: held events go
  // out, in the order sent, when the output buffer fills, when the queue is
  // about to wait for input (in receive, waitReply, or a selector's wait on
  // the front), at flushOutput() and when the queue goes.
  void send(const event& ev);

  // Pipe mode: writes every held event, waiting for room as needed. Errors
  // of the output stream are thrown here at the latest.
  void flushOutput();

  // The next event, owned by the caller: a remembered one first, else one
  // read (blocking) from the input. Null when that read met the end of a
  // peer's stream; endOfStream() then tells whose.
  EventPtr receive();

  // Blocks until the reply with this uid from this peer arrives and returns
  // it; everything else that arrives meanwhile is remembered. Null when the
  // peer's stream ended first.
  EventPtr waitReply(std::uint32_t uid, queue_t peer);

  // Sets an event aside for receive, after those already set aside.
  void remember(EventPtr ev);
  std::size_t rememberedCount() const { return remembered_.size() - head_; }

  // A fresh request uid: never 0.
  std::uint32_t nextUid() {
    if (++last_uid_ == 0) last_uid_ = 1;
    return last_uid_;
  }

  // Starts the messenger's shutdown; without a messenger the process stops.
  void shutdown();

  // True once reading from the peer met the end of its stream, until an
  // event from it is read again.
  bool endOfStream(queue_t peer) const;

  // The underlying input signalled: the front becomes ready.
  void underlyingIsReady(io::Selectable* underlying) override;

  void setLastUidForTest(std::uint32_t uid) { last_uid_ = uid; }

 private:
  // Reads one event from the input (no remembered events), or null at the
  // end of a peer's stream.
  EventPtr readOne();
  EventPtr readFromMessenger();
  EventPtr readFromPipe();
  queues::ioprim& peerStream(queue_t peer);
  // The first remembered event with this uid and sender, taken out.
  EventPtr takeRemembered(std::uint32_t uid, queue_t peer);
  EventPtr popRemembered();
  // Ready exactly while remembered events wait, until the underlying input
  // signals again.
  void settleFront();

  Messenger* messenger_ = nullptr;
  io::IStreamPtr pipe_in_;
  io::OStreamPtr pipe_out_;
  std::unique_ptr<queues::ioprim> pipe_;
  // Pipe mode: stands beside the input on every selector where the front
  // stands, so that a selector about to wait first writes what is held
  // (poll), and goes on writing it while the output takes more.
  class OutputPusher final : public io::Selectable {
   public:
    explicit OutputPusher(childqueue* queue) : queue_(queue) {}
    std::string name() const override { return "parentqueue.out"; }
    io::OsHandle handle() const override { return queue_->pipe_out_->handle(); }
    // Never hands itself out: it only writes.
    bool isReady() override { return false; }
    void poll() override { queue_->pipe_->pushHeld(); }
    bool ignoreSignal() override {
      queue_->pipe_->pushHeld();
      return true;
    }

   private:
    childqueue* queue_;
  };
  std::unique_ptr<OutputPusher> pusher_;
  // One event stream per peer, made on first use (messenger mode).
  std::array<std::unique_ptr<queues::ioprim>, kQueueCount> peers_;
  io::Selectable* underlying_ = nullptr;

  // Remembered events in arrival order: the live ones are [head_, end).
  // Storage is reused once the list runs empty, so remembering and handing
  // out events costs no allocation in the steady state.
  std::vector<EventPtr> remembered_;
  std::size_t head_ = 0;

  std::uint32_t last_uid_ = 0;
  std::array<bool, kQueueCount> end_of_stream_{};
  // Used to block until the messenger has input.
  io::BareSelector bare_selector_;
  InFront front_;
};

using ChildQueuePtr = std::unique_ptr<childqueue>;

// The process's child queue, reached by dialogs and logging; null before the
// queue exists and after the run. While set, log lines go to the main
// process through it.
childqueue* currentQueue();
void setCurrentQueue(childqueue* queue);

// Publishes a queue for as long as it lives, then puts back what was there.
class CurrentQueueScope {
 public:
  explicit CurrentQueueScope(childqueue& queue);
  ~CurrentQueueScope();
  CurrentQueueScope(const CurrentQueueScope&) = delete;
  CurrentQueueScope& operator=(const CurrentQueueScope&) = delete;

 private:
  childqueue* previous_;
};

}  // namespace queues
