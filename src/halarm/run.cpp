#include "halarm/run.h"

#include <cstdio>
#include <string>
#include <utility>

#include "crash/crash_handler.h"
#include "error/check.h"
#include "error/exception.h"
#include "halarm/event_handler.h"
#include "halarm/subscription.h"
#include "io/timer.h"
#include "keepers/event_sink.h"
#include "keepers/event_tracker.h"
#include "keepers/run_state.h"
#include "keepers/turn.h"
#include "meter/log.h"
#include "os/huge_pages.h"
#include "os/poll.h"
#include "os/spawn.h"
#include "queues/devent.h"
#include "queues/metering.h"
#include "queues/qdialog.h"

namespace halarm {
namespace {

using namespace queues;

// What a run changes in process-wide state, undone when it ends however it
// ends: the run state starts empty and is emptied again once the mirror and
// its keepers are gone, and the log settings taken from the configuration
// are put back, so that the keepers' last debug lines are not sent anywhere.
class RunScope {
 public:
  explicit RunScope(childqueue& queue)
      : log_mask_(meter::logMask()), stop_on_log_match_(meter::stopOnLogMatch()) {
    HX_CHECK(keepers::countKeepers.empty() && keepers::planKeepers.empty(),
             "Alarm run started with keepers left from an earlier run");
    keepers::resetRun();
    alarmSubscriber().setQueue(&queue);
  }
  ~RunScope() {
    meter::setLogMask(log_mask_);
    meter::setStopOnLogMatch(stop_on_log_match_);
    if (keep_tree_) return;
    alarmSubscriber().deleteTree();
    alarmSubscriber().setQueue(nullptr);
    // The teardown queues the ids whose counts it withdrew.
    keepers::resetRun();
  }
  // The process ends right after the run: the mirror and the keepers' state
  // stay as they are, for nothing will look at them again.
  void keepTree() { keep_tree_ = true; }
  RunScope(const RunScope&) = delete;
  RunScope& operator=(const RunScope&) = delete;

 private:
  std::uint32_t log_mask_;
  std::string stop_on_log_match_;
  bool keep_tree_ = false;
};

void startUp() {
  meter::log("Alarm logic running", 0);
  keepers::configuration = requestServerConfiguration();
  meter::setLogMask(static_cast<std::uint32_t>(keepers::configuration.log_mask));
  meter::setStopOnLogMatch(keepers::configuration.stop_on_log_match);
  startMetering();
}

void subscribe(childqueue& queue) {
  keepers::subscriptionUid = queue.nextUid();
  queue.send(devent_t<TQL_SELECT>(QUEUE_DBMS, keepers::subscriptionUid, subscriptionRequest()));
  // The siblings this process needs: scheduler, DBMS and alert process.
  queue.send(devent_t<INIT_OK>(QUEUE_MAIN, 0,
                               control::Init_Ok_Data{{QUEUE_SCHD, QUEUE_DBMS, QUEUE_ALRT}}));
}

class MainLoop {
 public:
  MainLoop(childqueue& queue, const io::OsWaitFunction& wait)
      : queue_(queue), selector_(wait ? wait : io::OsWaitFunction(os::pollFor)) {
    selector_.add(&queue_.front(), 0);
    selector_.add(&timer_, 0);
  }

  void run() {
    bool exitRequested = false;
    while (!exitRequested) {
      keepers::settle();
      if (keepers::BoundaryRecord* boundary = keepers::first()) {
        if (waitForBoundary(*boundary)) {
          keepers::dispatchBoundary(*boundary);
          tookBoundary_ = true;
          continue;
        }
      }
      tookBoundary_ = false;
      const EventPtr ev = queue_.receive();
      if (ev != nullptr) {
        handleEvent(*ev, queue_);
      } else if (queue_.endOfStream(QUEUE_MAIN)) {
        exitRequested = true;
      }
      if (!keepers::expiries.empty()) keepers::expireSubPlans(htime::now(), sink_);
    }
  }

 private:
  // Waits for input or the boundary; true when the boundary came due.
  // While shutting down, boundaries stay scheduled but never come due.
  bool waitForBoundary(const keepers::BoundaryRecord& boundary) {
    if (keepers::shuttingDown) {
      timer_.setDeadline(htime::never);
    } else {
      timer_.setDeadline(boundary.time());
      // The selector hands out ready input before a timer that is due: a
      // boundary already due is taken first, or a steady stream of events
      // would hold it off indefinitely. Not twice in a row while input
      // waits, though: a boundary that comes due again at once (a score
      // deadline microseconds ahead) would hold off the input, and with it
      // the end of the run.
      const bool due = !keepers::TimeOrder{}(htime::now(), boundary.time());
      if (due && !tookBoundary_) return true;
      // Input already waiting is what the selector would hand out: taking
      // it at once saves a pass over every selectable for each event.
      if (inputWaiting()) return false;
      // Otherwise the selector looks for input that has arrived, and hands
      // out the timer when there is none.
    }
    io::Selectable* ready = selector_.select().first;
    if (ready == &timer_) return true;
    HX_CHECK(ready == &queue_.front(), "Alarm got unexpected selectable: " + ready->name());
    return false;
  }

  bool inputWaiting() {
    if (queue_.front().isReady()) return true;
    for (io::Selectable* underlying : queue_.underlying()) {
      if (underlying->isReady()) return true;
    }
    return false;
  }

  childqueue& queue_;
  keepers::QueueSink<childqueue> sink_{queue_};
  io::Selector<int> selector_;
  io::Timer timer_{htime::never};
  // The last turn handled a boundary rather than an event.
  bool tookBoundary_ = false;
};

int runProcess(const ConnectFunction& connect, const RunOptions& options) {
  const ConnectionPtr connection = connect();
  childqueue& queue = connection->queue();
  int exitCode = 0;
  {
    RunScope scope(queue);
    CurrentQueueScope current(queue);
    startUp();
    MainLoop loop(queue, options.wait);
    subscribe(queue);
    loop.run();
    // Everything sent is out before the run counts as ended: a failed write
    // ends it with an error.
    queue.flushOutput();
    exitCode = connection->completeShutdown(keepers::shuttingDown);
    if (exitCode == 0 && options.endProcess) scope.keepTree();
  }
  // Said once the queue is no longer current: the main process that would
  // have received it is gone, so the line goes to standard error.
  if (exitCode != 0) meter::log("Main process went away without ordering the exit", 0);
  return exitCode;
}

void writeStandardError(std::string_view line) {
  std::string text(line);
  text.push_back('\n');
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

}  // namespace

int run(const ConnectFunction& connect, const RunOptions& options) {
  try {
    const int code = runProcess(connect, options);
    if (code == 0 && options.endProcess) {
      // Before the mirror's destructors (of process-wide objects) could run.
      std::fflush(nullptr);
      os::exitAtOnce(0);
    }
    return code;
  } catch (const error::Exception& e) {
    const std::string line = "Caught: " + e.text();
    if (options.reportError) {
      options.reportError(line);
    } else {
      writeStandardError(line);
    }
    return 1;
  }
}

int runProgram(char** argv, const ConnectFunction& connect) {
  os::restartWithHugePageHeap(argv);
  os::growHeapInLargeSteps();
  try {
    crash::installCrashHandler();
  } catch (const error::Exception& e) {
    std::fprintf(stderr, "Caught: %s\n", e.text().c_str());
    return 1;
  }
  // The run is all the process does: an orderly end exits without taking
  // the mirror down object by object.
  RunOptions options;
  options.endProcess = true;
  return run(connect, options);
}

}  // namespace halarm
