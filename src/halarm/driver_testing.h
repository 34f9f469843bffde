#pragma once
// Test-only (GoogleTest): runs the whole alarm process in this process over
// a script of input (testkit/script.h), with the test clock, and collects
// what it sent.
//
// In pipe mode the script is the input stream, and a pause holds it back
// while the selector "waits": the fake wait moves the clock up to the next
// deadline at most, so boundaries that fall inside a pause come due at
// their own time, before the events after it. Over a messenger the script
// is every sibling's input in turn (the step's sender is the sibling),
// pauses pass at once, and after the script the DBMS's and then the main
// process's streams end. Replies to the process's requests take their uids
// from what it has sent by the time it reads them.
//
// Never include from library code.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
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

// The peers' side of a run: the script as one input stream, which over a
// messenger is every sibling's.
class ScriptedPeers final : public io::IStream, public queues::Messenger {
 public:
  using Requests = std::function<const testkit::RequestUids&()>;  // what was sent so far

  ScriptedPeers(std::deque<Step> steps, bool messenger, htime::FakeClock& clock,
                io::MemoryPipe& sent, Requests requests, int& shutdowns)
      : steps_(std::move(steps)),
        messenger_(messenger),
        clock_(clock),
        sent_(sent),
        requests_(std::move(requests)),
        shutdowns_(shutdowns) {
    if (!messenger_) {
      std::erase_if(steps_, [](const Step& s) { return s.kind == Step::kEnd; });
      return;
    }
    for (queue_t q : {queues::QUEUE_DBMS, queues::QUEUE_MAIN}) {
      if (std::none_of(steps_.begin(), steps_.end(),
                       [q](const Step& s) { return s.kind == Step::kEnd && s.from == q; }))
        steps_.push_back(Step{Step::kEnd, q, {}, nullptr, {}, {}});
    }
  }

  // --- The input stream ---
  std::string name() const override { return "ScriptedPeers"; }
  bool isReady() override {
    if (messenger_) {
      passPauses();
      return !steps_.empty();
    }
    return steps_.empty() || steps_.front().kind == Step::kEvent;  // bytes, or the end
  }
  std::size_t readBegin(const std::uint8_t*& data) override {
    passPauses();  // nothing else can happen while the reader blocks
    if (steps_.empty() || steps_.front().kind == Step::kEnd)
      throw io::EEndOfStream(name(), "end of script");
    Step& step = steps_.front();
    step.resolve(requests_());
    data = step.bytes.data() + offset_;
    return step.bytes.size() - offset_;
  }
  void readCommit(std::size_t n) override {
    offset_ += n;
    if (offset_ < steps_.front().bytes.size()) return;
    offset_ = 0;
    steps_.pop_front();
  }
  void close() override {}

  // The selector waits at most `timeoutMs` (negative: no limit): a pending
  // pause passes as far as that; without one only the deadline ends the wait.
  void elapse(int timeoutMs) {
    const bool paused = !steps_.empty() && steps_.front().kind == Step::kPause;
    htime::usec_time by = paused ? steps_.front().pause : htime::never;
    if (timeoutMs >= 0)
      by = std::min(by, htime::usec_time(timeoutMs / 1000, timeoutMs % 1000 * 1000));
    if (by == htime::never) throw error::EFatal("The script would wait forever");
    clock_.advance(by);
    if (!paused) return;
    steps_.front().pause = steps_.front().pause - by;
    if (steps_.front().pause == htime::zero_time) steps_.pop_front();
  }

  // --- The messenger ---
  io::Selectable& inputSelectable() override { return *this; }
  queue_t readySibling() override { return isReady() ? steps_.front().from : queues::QUEUE_NONE; }
  io::IStream& inputStream(queue_t) override { return *this; }
  io::OStream& outputStream(queue_t) override { return sent_; }
  void dropEndOfStream(queue_t) override { steps_.pop_front(); }
  void initiateShutdown() override { ++shutdowns_; }

 private:
  void passPauses() {
    while (!steps_.empty() && steps_.front().kind == Step::kPause) {
      clock_.advance(steps_.front().pause);
      steps_.pop_front();
    }
  }

  std::deque<Step> steps_;
  std::size_t offset_ = 0;
  bool messenger_;
  htime::FakeClock& clock_;
  io::MemoryOStream sent_;
  Requests requests_;
  int& shutdowns_;
};

// Over the scripted messenger; `completed` receives what completeShutdown
// was told.
class ScriptedMessengerConnection final : public Connection {
 public:
  ScriptedMessengerConnection(std::unique_ptr<ScriptedPeers> peers, std::vector<bool>& completed)
      : peers_(std::move(peers)), queue_(*peers_), completed_(completed) {}
  queues::childqueue& queue() override { return queue_; }
  int completeShutdown(bool ordered) override {
    completed_.push_back(ordered);
    return 0;
  }

 private:
  std::unique_ptr<ScriptedPeers> peers_;
  queues::childqueue queue_;
  std::vector<bool>& completed_;
};

// The fixture: build a script, run the process over it, look at what it
// sent. Every test starts and ends with empty process-wide state.
class DriverTest : public ::testing::Test {
 protected:
  static constexpr std::int32_t kStart = 1700000000;

  DriverTest() { keepers::resetRun(); }
  ~DriverTest() override { keepers::resetRun(); }

  int runPipe() { return run(false); }
  // `completed` and `shutdowns` tell how the messenger was left.
  int runMessenger() { return run(true); }

  template <event_t N>
  std::vector<event_data_t<N>> sentOf() const {
    return testkit::payloadsOf<N>(sent);
  }

  testkit::Script script;  // what the peers send; a run plays and empties it
  htime::FakeClock clock{htime::usec_time(kStart)};
  // What the last run sent, and the uids of its requests.
  std::vector<EventPtr> sent;
  testkit::RequestUids requests;
  std::string caught;
  std::vector<bool> completed;
  int shutdowns = 0;
  bool endProcess = false;  // RunOptions::endProcess of the next run

 private:
  int run(bool messenger) {
    Output out;
    sent.clear();
    requests = {};
    // Takes in what the process has sent so far. A peer looks at it when it
    // is about to answer; a real process would have been waiting for that
    // answer, so what its queue holds goes out first.
    const auto read = [this, &out]() -> const testkit::RequestUids& {
      if (queues::childqueue* queue = queues::currentQueue()) queue->flushOutput();
      while (out.pipe.unread() > 0) {
        sent.push_back(out.reader.readEvent());
        requests.observe(*sent.back());
      }
      return requests;
    };
    auto peers =
        std::make_unique<ScriptedPeers>(script.take(), messenger, clock, out.pipe, read, shutdowns);
    ScriptedPeers* scripted = peers.get();
    RunOptions options;
    options.wait = [scripted](std::span<os::PollSlot>, int timeoutMs) {
      scripted->elapse(timeoutMs);
      return os::PollResult{os::PollResult::timedOut, 0};
    };
    options.reportError = [this](std::string_view line) { caught = std::string(line); };
    options.endProcess = endProcess;
    const int code = halarm::run(
        [&]() -> ConnectionPtr {
          if (messenger)
            return std::make_unique<ScriptedMessengerConnection>(std::move(peers), completed);
          return std::make_unique<PipeConnection>(std::move(peers),
                                                  std::make_unique<io::MemoryOStream>(out.pipe));
        },
        options);
    read();
    return code;
  }

  struct Output {
    io::MemoryPipe pipe;
    io::MemoryIStream in{pipe};
    queues::ioprim reader{&in, nullptr};
  };
};

}  // namespace halarm::testing
