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
#include "halarm/messenger_connection.h"
#include "halarm/run.h"

int main(int /*argc*/, char** argv) {
  return halarm::runProgram(argv, halarm::MessengerConnection::forAlarmProcess);
}
