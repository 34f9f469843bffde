// halcyx-alarm: the alarm process, sibling 5 of the process family. The main
// process starts it with the environment values smem::mapfile (the
// inherited descriptor of the shared pool), smem::mapsize (its size) and
// smem::fifoprefix (where every member publishes its input pipe); it then
// talks to its siblings through the sibling messenger.
//
// Exit codes:
//   0  orderly end: the main process ordered the exit (SYS_EXIT), the
//      shutdown was acknowledged and completed;
//   1  an error ended the run ("Caught: " and its text on standard error),
//      a missing or bad environment value included;
//   2  the main process went away without ordering the exit ("Log: Main
//      process went away without ordering the exit" on standard error).
// A failed internal check aborts with "Assertion failed: " and its text.
//
// First of all the program runs itself again with the C library's heap in
// transparent huge pages, when the system has them (os/huge_pages.h).
//
// No arguments; any given are ignored.
#include <cstdio>

#include "crash/crash_handler.h"
#include "error/exception.h"
#include "halarm/messenger_connection.h"
#include "halarm/run.h"
#include "os/huge_pages.h"

int main(int /*argc*/, char** argv) {
  os::restartWithHugePageHeap(argv);
  try {
    crash::installCrashHandler();
  } catch (const error::Exception& e) {
    std::fprintf(stderr, "Caught: %s\n", e.text().c_str());
    return 1;
  }
  // The run is all the process does: an orderly end exits without taking
  // the mirror down object by object.
  halarm::RunOptions options;
  options.endProcess = true;
  return halarm::run(halarm::MessengerConnection::forAlarmProcess, options);
}
