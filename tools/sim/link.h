#pragma once
// The simulator's connection to the alarm process it drives: events go in
// addressed as if each came from the sibling that plays its sender, events
// come out addressed to the sibling that receives them. Everything the
// simulator needs from the transport is this small interface, so that the
// process can be reached over pipes now and over the sibling messenger
// later without the simulator noticing.
#include <memory>
#include <string>
#include <vector>

#include "htime/usec_time.h"
#include "queues/event.h"
#include "sim/scenario.h"

namespace sim {

struct AlarmEnd {
  bool clean = false;       // exit code 0
  std::string description;  // "exit code 0", "killed by signal 6 (Aborted)", ...
};

class AlarmLink {
 public:
  virtual ~AlarmLink() = default;

  // What is running, for the output ("build/bin/halcyx-alarm-pipe").
  virtual std::string program() const = 0;

  // Hands the alarm process one event; its `dest` names the sibling that
  // sends it. Never blocks on a busy process and never throws: an event for
  // a process that is gone is dropped (the end of its output says so).
  virtual void send(const queues::event& ev) = 0;

  // The next event the alarm process sent, or null when `deadline` passes
  // first or its output has ended.
  virtual queues::EventPtr receive(htime::usec_time deadline) = 0;

  // True once the alarm process's output has ended.
  virtual bool ended() const = 0;

  // Lines the alarm process wrote besides its events (its error output),
  // since the last call.
  virtual std::vector<std::string> takeOutputLines() = 0;

  // Whether the transport carries the main process's exit order (SYS_EXIT).
  // Over pipes the end of the input is the only way to end the process.
  virtual bool takesExitOrder() const = 0;

  // Ends the stream from every sibling at once (after what was sent).
  virtual void closeInput() = 0;

  // Waits until the process has ended, ending it by force at `deadline`.
  virtual AlarmEnd finish(htime::usec_time deadline) = 0;

  // Kills the process that plays `sibling` with SIGKILL; false when that
  // sibling is not a process of its own on this transport.
  virtual bool kill(Sibling sibling) = 0;
};

using AlarmLinkPtr = std::unique_ptr<AlarmLink>;

// Starts `program` with its standard input and output as the event streams
// (the pipe mode of the child queue). Throws error::ESystemError when it
// cannot be started.
AlarmLinkPtr startAlarmOverPipes(const std::string& program);

// Makes this process the main process of a process family and starts
// `program` (halcyx-alarm) in it, with `relay` (halcyx-relay) standing in
// for the DBMS and the alert process, which stay played here. Throws
// error::ESystemError when it cannot be started.
AlarmLinkPtr startAlarmInFamily(const std::string& program, const std::string& relay);

}  // namespace sim
