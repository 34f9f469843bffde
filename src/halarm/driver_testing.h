#pragma once
// Test-only (GoogleTest): runs the whole alarm process in this process over
// a script of input, with the test clock, and collects what it sent.
//
// The script (testkit/script.h) is a list of steps: events from a peer,
// pauses during which the clock moves, and (over a messenger) the end of one
// peer's stream. Replies to the process's requests take their uids from
// what the process has sent by the time it reads them. In pipe
// mode the script becomes the input stream, and a pause holds the input back
// while the selector "waits": the fake wait moves the clock up to the next
// deadline at most, so boundaries that fall inside a pause come due at
// their own time, before the events after it. Over a messenger the steps go
// to the siblings' streams one at a time, in script order; pauses pass at
// once there.
//
// Never include from library code.
#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "halarm/pipe_connection.h"
#include "halarm/run.h"
#include "htime/fake_clock.h"
#include "io/exceptions.h"
#include "io/memory_stream.h"
#include "keepers/run_state.h"
#include "queues/devent.h"
#include "queues/ioprim.h"
#include "queues/messenger.h"
#include "testkit/script.h"

namespace halarm::testing {

using queues::event_data_t;
using queues::event_t;
using queues::EventPtr;
using queues::queue_t;
using testkit::Step;
using tql::id_t;
using tql::object_ptr;

// What the process has sent so far, as far as the replies need to know.
using Requests = std::function<const testkit::RequestUids&()>;

// A wait that only a deadline can end: the clock moves up to it.
inline void waitFor(htime::FakeClock& clock, int timeoutMs) {
  if (timeoutMs < 0) throw error::EFatal("The script would wait forever");
  clock.advance(htime::usec_time(timeoutMs / 1000, (timeoutMs % 1000) * 1000));
}

// The input of pipe mode: the script's bytes, held back during pauses.
class ScriptedInput final : public io::IStream {
 public:
  ScriptedInput(std::deque<Step> steps, htime::FakeClock& clock, Requests requests)
      : steps_(std::move(steps)), clock_(clock), requests_(std::move(requests)) {
    std::erase_if(steps_, [](const Step& s) { return s.kind == Step::kEnd; });
  }

  std::string name() const override { return "ScriptedInput"; }
  // Bytes are waiting, or the script is over (the end of the stream).
  bool isReady() override { return steps_.empty() || steps_.front().kind == Step::kEvent; }

  std::size_t readBegin(const std::uint8_t*& data) override {
    for (;;) {
      if (steps_.empty()) throw io::EEndOfStream(name(), "end of script");
      Step& step = steps_.front();
      if (step.kind == Step::kEvent) {
        step.resolve(requests_());
        data = step.bytes.data() + offset_;
        return step.bytes.size() - offset_;
      }
      // Nothing else can happen while the reader blocks: the pause passes.
      clock_.advance(step.pause);
      steps_.pop_front();
    }
  }
  void readCommit(std::size_t n) override {
    offset_ += n;
    if (offset_ < steps_.front().bytes.size()) return;
    offset_ = 0;
    steps_.pop_front();
  }
  void close() override {}

  // The selector waits at most `timeoutMs` (negative: no limit): a pending
  // pause passes as far as that.
  void elapse(int timeoutMs) {
    if (steps_.empty() || steps_.front().kind != Step::kPause) {
      waitFor(clock_, timeoutMs);  // no pause pending: only a deadline ends this wait
      return;
    }
    Step& step = steps_.front();
    htime::usec_time by = step.pause;
    if (timeoutMs >= 0) {
      const std::int64_t limit = std::int64_t{timeoutMs} * 1000;
      const std::int64_t left = std::int64_t{by.sec} * 1000000 + by.usec;
      if (limit < left) {
        by = htime::usec_time(static_cast<std::int32_t>(limit / 1000000),
                              static_cast<std::int32_t>(limit % 1000000));
      }
    }
    clock_.advance(by);
    step.pause = step.pause - by;
    if (step.pause == htime::zero_time) steps_.pop_front();
  }

 private:
  std::deque<Step> steps_;
  std::size_t offset_ = 0;
  htime::FakeClock& clock_;
  Requests requests_;
};

// Siblings over in-memory streams, fed from the script one step at a time
// so that the order across siblings is the script's. Everything the
// process sends goes into one stream, in order (each event names its
// destination). When the script is over, the DBMS's and then the main
// process's streams end.
class ScriptedMessenger final : public queues::Messenger {
 public:
  // `shutdowns` counts the shutdowns started.
  ScriptedMessenger(std::deque<Step> steps, htime::FakeClock& clock, io::OStream& sent,
                    Requests requests, int& shutdowns)
      : shutdowns_(shutdowns),
        steps_(std::move(steps)),
        clock_(clock),
        sent_(sent),
        requests_(std::move(requests)) {}

  io::Selectable& inputSelectable() override { return input_; }
  queue_t readySibling() override {
    pump();
    return current_;
  }
  io::IStream& inputStream(queue_t q) override { return sibling(q).in; }
  io::OStream& outputStream(queue_t) override { return sent_; }
  void dropEndOfStream(queue_t q) override { sibling(q).dropped = true; }
  void initiateShutdown() override { ++shutdowns_; }

 private:
  struct Sibling {
    io::MemoryPipe pipe;
    io::MemoryIStream in{pipe};
    bool dropped = false;
  };
  class Input final : public io::Selectable {
   public:
    explicit Input(ScriptedMessenger& m) : m_(m) {}
    std::string name() const override { return "ScriptedSiblings"; }
    bool isReady() override { return m_.readySibling() != queues::QUEUE_NONE; }

   private:
    ScriptedMessenger& m_;
  };

  Sibling& sibling(queue_t q) {
    std::unique_ptr<Sibling>& s = siblings_[q];
    if (s == nullptr) s = std::make_unique<Sibling>();
    return *s;
  }
  bool pending(queue_t q) {
    Sibling& s = sibling(q);
    return s.pipe.unread() > 0 || (s.pipe.writerClosed() && !s.dropped);
  }
  void endOfScript() {
    for (queue_t q : {queues::QUEUE_DBMS, queues::QUEUE_MAIN}) {
      if (!sibling(q).pipe.writerClosed())
        steps_.push_back(Step{Step::kEnd, q, {}, nullptr, {}, {}});
    }
  }
  // Makes the next step visible once the current one has been read.
  void pump() {
    while (current_ == queues::QUEUE_NONE || !pending(current_)) {
      current_ = queues::QUEUE_NONE;
      if (steps_.empty()) endOfScript();
      if (steps_.empty()) return;
      // A reply comes into view once the process has made its request (the
      // queue asks what is ready before it sends anything).
      if (!steps_.front().resolved() && !requests_().of(steps_.front().request)) return;
      Step step = std::move(steps_.front());
      steps_.pop_front();
      switch (step.kind) {
        case Step::kPause:
          clock_.advance(step.pause);
          continue;
        case Step::kEnd:
          sibling(step.from).pipe.closeWriter();
          break;
        case Step::kEvent:
          step.resolve(requests_());
          sibling(step.from).pipe.deliver(step.bytes.data(), step.bytes.size());
          break;
      }
      current_ = step.from;
    }
  }

  int& shutdowns_;
  std::deque<Step> steps_;
  htime::FakeClock& clock_;
  io::OStream& sent_;
  Requests requests_;
  std::map<queue_t, std::unique_ptr<Sibling>> siblings_;
  queue_t current_ = queues::QUEUE_NONE;
  Input input_{*this};
};

// A connection over the scripted messenger; `completed` receives what
// completeShutdown was told.
class ScriptedMessengerConnection final : public Connection {
 public:
  ScriptedMessengerConnection(std::deque<Step> steps, htime::FakeClock& clock, io::MemoryPipe& sent,
                              Requests requests, int& shutdowns, std::vector<bool>& completed)
      : completed_(completed),
        sent_(sent),
        messenger_(std::move(steps), clock, sent_, std::move(requests), shutdowns),
        queue_(messenger_) {}
  queues::childqueue& queue() override { return queue_; }
  void completeShutdown(bool ordered) override { completed_.push_back(ordered); }

 private:
  std::vector<bool>& completed_;
  io::MemoryOStream sent_;
  ScriptedMessenger messenger_;
  queues::childqueue queue_;
};

// The fixture: build a script, run the process over it, look at what it
// sent. Every test starts and ends with empty process-wide state.
class DriverTest : public ::testing::Test {
 protected:
  static constexpr std::int32_t kStart = 1700000000;

  DriverTest() { keepers::resetRun(); }
  ~DriverTest() override { keepers::resetRun(); }

  // The script of what the peers send; run*() plays it.
  testkit::Script script;

  // --- Running ---
  int runPipe() {
    fresh();
    auto input = std::make_unique<ScriptedInput>(script.take(), clock, requests());
    ScriptedInput* scripted = input.get();
    return runWith(
        [&] {
          return std::make_unique<PipeConnection>(std::move(input),
                                                  std::make_unique<io::MemoryOStream>(out_->pipe));
        },
        [scripted](int timeoutMs) { scripted->elapse(timeoutMs); });
  }

  // Over the scripted messenger; `completed` receives what completeShutdown
  // was told, `shutdowns` how often the messenger's shutdown was started.
  int runMessenger() {
    fresh();
    return runWith(
        [&] {
          return std::make_unique<ScriptedMessengerConnection>(script.take(), clock, out_->pipe,
                                                               requests(), shutdowns, completed);
        },
        [this](int timeoutMs) { waitFor(clock, timeoutMs); });
  }

  // --- What was sent ---
  template <event_t N>
  std::vector<event_data_t<N>> sentOf() const {
    return testkit::payloadsOf<N>(sent);
  }

  // The uids of the requests the process sent in the last run.
  const testkit::RequestUids& requestUids() const { return requests_; }

  htime::FakeClock clock{htime::usec_time(kStart)};
  std::vector<EventPtr> sent;
  std::string caught;
  std::vector<bool> completed;
  int shutdowns = 0;

 private:
  // Takes in what the process has sent so far (whole events: it flushes
  // each one).
  const testkit::RequestUids& read() {
    while (out_->pipe.unread() > 0) {
      sent.push_back(out_->reader.readEvent());
      requests_.observe(*sent.back());
    }
    return requests_;
  }
  template <class Connect>
  int runWith(Connect connect, std::function<void(int)> elapse) {
    RunOptions options;
    options.wait = [elapse](std::span<os::PollSlot>, int timeoutMs) {
      elapse(timeoutMs);
      return os::PollResult{os::PollResult::timedOut, 0};
    };
    options.reportError = [this](std::string_view line) { caught = std::string(line); };
    const int code = run(connect, options);
    read();
    return code;
  }
  Requests requests() {
    return [this]() -> const testkit::RequestUids& { return read(); };
  }

  // Each run sends into a pipe of its own.
  void fresh() {
    out_ = std::make_unique<Output>();
    requests_ = {};
  }

  struct Output {
    io::MemoryPipe pipe;
    io::MemoryIStream in{pipe};
    queues::ioprim reader{&in, nullptr};
  };
  std::unique_ptr<Output> out_;
  testkit::RequestUids requests_;
};

}  // namespace halarm::testing
