#pragma once
// The simulator's connection to the alarm process it drives: events go in
// addressed as if each came from the sibling that plays its sender, events
// come out addressed to the sibling that receives them. Everything the
// simulator needs from the transport is this small interface.
//
// The DBMS and the alert process are played in this process, or, where the
// transport says so (rolesApart), by role processes of their own: then
// events come out addressed to the role that passes them on (its copies of
// what the alarm sent it, and its records), and the main process's orders
// go to a role with sendToRole.
#include <memory>
#include <optional>
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

  // Whether the DBMS and the alert process run as processes of their own.
  virtual bool rolesApart() const = 0;
  // Hands the role process `role` (dbms or alert) an event from the main
  // process. Never throws: an event for a role that is gone is dropped.
  virtual void sendToRole(Sibling role, const queues::event& ev) = 0;
  // Once the role process's stream has ended: how the process ended (or
  // that its stream did); nothing while it runs or when it is no process.
  virtual std::optional<std::string> roleEnded(Sibling role) = 0;
};

using AlarmLinkPtr = std::unique_ptr<AlarmLink>;

// Starts `program` with its standard input and output as the event streams
// (the pipe mode of the child queue). Throws error::ESystemError when it
// cannot be started.
AlarmLinkPtr startAlarmOverPipes(const std::string& program);

// How to start a role process: `program` with "--role", the role's name
// and then `args` (halcyx-sim --role dbms SCENARIO.json).
struct RoleCommand {
  std::string program;
  std::vector<std::string> args;
};

// Makes this process the main process of a process family and starts
// `program` (halcyx-alarm) in it as sibling 5, after the DBMS (2) and the
// alert process (6) as role processes started by `roles`. Throws
// error::ESystemError when they cannot be started.
AlarmLinkPtr startAlarmInFamily(const std::string& program, const RoleCommand& roles);

}  // namespace sim
