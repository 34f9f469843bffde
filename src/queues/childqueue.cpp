#include "queues/childqueue.h"

#include <algorithm>
#include <utility>

#include "error/check.h"
#include "error/exception.h"
#include "htime/usec_time.h"
#include "io/exceptions.h"
#include "io/fd_stream.h"
#include "meter/log.h"
#include "meter/process_metrics.h"
#include "os/fd.h"
#include "queues/devent.h"

namespace queues {
namespace {

bool isRealQueue(queue_t queue) {
  return queue >= 0 && static_cast<std::size_t>(queue) < kQueueCount;
}

// Past this many consumed slots at the front of the remembered list, the
// live entries move down so the list does not grow while it never runs empty.
constexpr std::size_t kCompactAfter = 64;

}  // namespace

childqueue::childqueue(Messenger& messenger)
    : messenger_(&messenger), underlying_(&messenger.inputSelectable()), front_(this) {
  setUnderlying(underlying_, true);
  bare_selector_.add(underlying_);
}

childqueue::childqueue(io::IStreamPtr in, io::OStreamPtr out)
    : pipe_in_(std::move(in)),
      pipe_out_(std::move(out)),
      pipe_(std::make_unique<queues::ioprim>(pipe_in_.get(), pipe_out_.get())),
      underlying_(pipe_in_.get()),
      front_(this) {
  HX_CHECK(pipe_in_ != nullptr && pipe_out_ != nullptr, "childqueue pipe mode needs two streams");
  setUnderlying(underlying_, true);
  pusher_ = std::make_unique<OutputPusher>(this);
  setUnderlying(pusher_.get(), true);
}

std::unique_ptr<childqueue> childqueue::overStandardStreams() {
  return std::make_unique<childqueue>(
      std::make_unique<io::FdIStream>(os::kStandardInput, "stdin", io::FdOwnership::borrow),
      std::make_unique<io::FdOStream>(os::kStandardOutput, "stdout", io::FdOwnership::borrow));
}

childqueue::~childqueue() {
  if (currentQueue() == this) setCurrentQueue(nullptr);
  // The underlying input may be a member that goes before the back does.
  setUnderlying(underlying_, false);
  if (pusher_ != nullptr) {
    setUnderlying(pusher_.get(), false);
    try {
      pipe_->flushHeld();
    } catch (const error::Exception&) {
      // Going anyway (an exception is passing, or the caller chose not to
      // call flushOutput): the output's trouble has no one left to tell.
    }
  }
}

void childqueue::send(const event& ev) {
  if (pipe_ != nullptr) {
    pipe_->writeEvent(ev);
    pipe_->hold();
    return;
  }
  queues::ioprim& stream = peerStream(ev.dest);
  stream.writeEvent(ev);
  stream.flush();
}

void childqueue::flushOutput() {
  if (pipe_ != nullptr) pipe_->flushHeld();
}

EventPtr childqueue::receive() {
  if (rememberedCount() > 0) {
    EventPtr ev = popRemembered();
    settleFront();
    return ev;
  }
  EventPtr ev = readOne();
  front_.setReady(false);
  return ev;
}

EventPtr childqueue::waitReply(std::uint32_t uid, queue_t peer) {
  if (EventPtr ev = takeRemembered(uid, peer)) {
    ++meter::noblockings();
    settleFront();
    return ev;
  }
  const htime::usec_time start = htime::now();
  EventPtr reply;
  while (reply == nullptr) {
    if (endOfStream(peer)) {
      settleFront();
      return nullptr;
    }
    EventPtr ev = readOne();
    if (ev == nullptr) continue;  // some peer's stream ended: check ours again
    if (ev->inresponse == uid && ev->dest == peer) {
      reply = std::move(ev);
    } else {
      remember(std::move(ev));
    }
  }
  meter::blockings().addElapsed(start, htime::now());
  settleFront();
  return reply;
}

void childqueue::remember(EventPtr ev) {
  HX_CHECK(ev != nullptr, "childqueue::remember got a null event");
  if (head_ >= kCompactAfter && head_ * 2 >= remembered_.size()) {
    remembered_.erase(remembered_.begin(),
                      remembered_.begin() + static_cast<std::ptrdiff_t>(head_));
    head_ = 0;
  }
  remembered_.push_back(std::move(ev));
  front_.setReady(true);
}

void childqueue::shutdown() {
  HX_CHECK(messenger_ != nullptr, "Queue shutdown with no messenger");
  messenger_->initiateShutdown();
}

bool childqueue::endOfStream(queue_t peer) const {
  return isRealQueue(peer) && end_of_stream_[static_cast<std::size_t>(peer)];
}

void childqueue::underlyingIsReady(io::Selectable* underlying) {
  HX_CHECK(underlying == underlying_, "childqueue::underlyingIsReady got wrong Selectable");
  // The underlying stays registered while the front is ready: the selector
  // hands out a ready front before it waits on anything, and taking the
  // underlying off and back on every selector for each event would cost
  // allocations in every selector for every event.
  front_.setReady(true);
}

EventPtr childqueue::readOne() { return pipe_ != nullptr ? readFromPipe() : readFromMessenger(); }

EventPtr childqueue::readFromMessenger() {
  io::Selectable& input = messenger_->inputSelectable();
  // The input is all this selector holds, so what it returns is known: the
  // call is only a wait.
  if (!input.isReady()) (void)bare_selector_.select(false);
  const queue_t sibling = messenger_->readySibling();
  HX_CHECK(isRealQueue(sibling), "Input from unknown sibling " + queueName(sibling));
  const auto index = static_cast<std::size_t>(sibling);
  EventPtr ev;
  try {
    ev = peerStream(sibling).readEvent();
  } catch (const io::EEndOfStream&) {
    end_of_stream_[index] = true;
    messenger_->dropEndOfStream(sibling);
    return nullptr;
  }
  end_of_stream_[index] = false;
  ev->dest = sibling;
  return ev;
}

EventPtr childqueue::readFromPipe() {
  try {
    return pipe_->readEvent();
  } catch (const io::EEndOfStream&) {
    // The parent's stream carries every peer's events: its end is the end
    // of all of them.
    end_of_stream_.fill(true);
    return nullptr;
  }
}

queues::ioprim& childqueue::peerStream(queue_t peer) {
  HX_CHECK(isRealQueue(peer), "No event stream for queue " + queueName(peer));
  std::unique_ptr<queues::ioprim>& stream = peers_[static_cast<std::size_t>(peer)];
  if (stream == nullptr) {
    stream = std::make_unique<queues::ioprim>(&messenger_->inputStream(peer),
                                              &messenger_->outputStream(peer));
  }
  return *stream;
}

EventPtr childqueue::takeRemembered(std::uint32_t uid, queue_t peer) {
  const auto first = remembered_.begin() + static_cast<std::ptrdiff_t>(head_);
  const auto it = std::find_if(first, remembered_.end(), [&](const EventPtr& ev) {
    return ev->inresponse == uid && ev->dest == peer;
  });
  if (it == remembered_.end()) return nullptr;
  if (it == first) return popRemembered();
  EventPtr ev = std::move(*it);
  remembered_.erase(it);
  return ev;
}

EventPtr childqueue::popRemembered() {
  EventPtr ev = std::move(remembered_[head_++]);
  if (head_ == remembered_.size()) {
    remembered_.clear();  // keeps the storage
    head_ = 0;
  }
  return ev;
}

void childqueue::settleFront() { front_.setReady(rememberedCount() > 0); }

// --- The process's current queue and the log lines sent through it ---

namespace {

childqueue* current_queue = nullptr;

// Sends each log line to the main process.
class QueueLogSink final : public meter::LogSink {
 public:
  void writeLog(std::string_view text, std::uint32_t level) override {
    childqueue* queue = currentQueue();
    HX_CHECK(queue != nullptr, "Log sink used without a current queue");
    const devent_t<SYSTEM_LOG_REQUEST> ev(QUEUE_MAIN, queue->nextUid(),
                                          control::Log_Request_Data{std::string(text), level});
    queue->send(ev);
  }
};

QueueLogSink queue_log_sink;

}  // namespace

childqueue* currentQueue() { return current_queue; }

void setCurrentQueue(childqueue* queue) {
  current_queue = queue;
  meter::setLogSink(queue != nullptr ? &queue_log_sink : nullptr);
}

CurrentQueueScope::CurrentQueueScope(childqueue& queue) : previous_(currentQueue()) {
  setCurrentQueue(&queue);
}

CurrentQueueScope::~CurrentQueueScope() { setCurrentQueue(previous_); }

}  // namespace queues
