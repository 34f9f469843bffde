// halcyx-alarm-pipe: the alarm process without the rest of the server. Its
// child queue runs in pipe mode: it reads the events of every peer from
// standard input (wire form, back to back; each event's `dest` names its
// sender: 0 main, 2 dbms, 6 alrt) and writes every event it sends to
// standard output in the same form, in the order sent. Sent events are held
// and written when the process is about to wait for input, when the output
// buffer fills, and at the end: a peer sees everything sent before the
// process waits for its next event.
//
// The end of standard input is the end of every peer's stream: once the
// main loop runs it is an orderly end (exit 0); during the configuration or
// the subscription-forget dialog it is an error. An error ends the program
// with "Caught: " and its text on standard error and exit code 1; a failed
// internal check aborts with "Assertion failed: " and its text. SYS_EXIT
// forgets the subscription over the pipes and then stops at the queue's
// shutdown, which needs the sibling messenger.
//
// First of all the program runs itself again with the C library's heap in
// transparent huge pages, when the system has them (os/huge_pages.h).
//
// No arguments; any given are ignored, as the process proper ignores its
// command line.
#include "halarm/pipe_connection.h"
#include "halarm/run.h"

int main(int /*argc*/, char** argv) {
  return halarm::runProgram(argv, halarm::PipeConnection::overStandardStreams);
}
