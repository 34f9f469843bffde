#pragma once
// The alarm process from start to end: start-up, the main loop and the
// teardown, over whatever connects the process to its siblings.
//
//   return halarm::run(halarm::PipeConnection::overStandardStreams);
//
// Start-up, in order: the connection and its child queue (published as the
// current queue), "Alarm logic running", the server configuration from the
// main process (dialog), the log mask, metering, the selector with the
// queue and the boundary timer, the standing TQL_SELECT to the DBMS, and
// INIT_OK to the main process. Then one loop until the main process's
// stream ends: each turn settles the tree, sends the status notifications
// (not while shutting down), waits for the next event or the earliest
// boundary, and handles what came.
//
// Main thread only; one run at a time. The process-wide state of the driver
// and the keepers starts empty and is empty again when run returns.
#include <functional>
#include <memory>
#include <string_view>

#include "io/selector.h"
#include "queues/childqueue.h"

namespace halarm {

// The process's link to its siblings: the child queue and whatever it runs
// over (the sibling messenger, or the parent's pipes).
class Connection {
 public:
  virtual ~Connection() = default;
  virtual queues::childqueue& queue() = 0;
  // The main process's stream has ended and the loop is over. `ordered` is
  // true when the main process ordered the exit first (the queue's shutdown
  // was started); false when it simply went away. Returns the process's exit
  // code: 0 for an orderly end.
  virtual int completeShutdown(bool ordered) = 0;
};

using ConnectionPtr = std::unique_ptr<Connection>;
// Builds the connection; called once, as the first step of the start-up.
using ConnectFunction = std::function<ConnectionPtr()>;

struct RunOptions {
  // The selector's wait; empty for the operating system's. Tests move a
  // fake clock here instead of sleeping.
  io::OsWaitFunction wait;
  // Receives the "Caught: ..." line of a run ended by an exception; empty
  // for standard error.
  std::function<void(std::string_view line)> reportError;
  // The run is the last thing the process does: after an orderly end (code
  // 0) the process exits with 0 at once instead of returning. Everything
  // of the run is taken down first as usual (the connection included)
  // except the mirror with its keepers and the keepers' process-wide
  // state: freeing them object by object takes about as long as loading
  // them did, and has no effect outside the process. Any other end returns
  // as without it.
  bool endProcess = false;
};

// Runs the process. Returns 0 after an orderly end (the main process's
// stream ended), 1 after an error::Exception, whose text was reported as
// "Caught: " + text, and the connection's code when it could not end in
// order (the main process went away), after the level-0 line "Main process
// went away without ordering the exit". A failed internal check aborts
// instead. With `endProcess`, an orderly end does not return (see there).
int run(const ConnectFunction& connect, const RunOptions& options = {});

// The whole life of an alarm program, for its main: runs itself again with
// the C library's heap in huge pages when the system has them
// (os/huge_pages.h), installs the crash handler ("Caught: " and exit code 1
// when it cannot), then runs with `endProcess`.
int runProgram(char** argv, const ConnectFunction& connect);

}  // namespace halarm
