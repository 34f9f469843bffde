#pragma once
// Runs halcyx-alarm-pipe as a child process and plays its peers: events are
// written to its standard input (each `dest` naming the peer that sends
// it), and everything it sends is read back from its standard output.
//
// Tests play a script (testkit/script.h) and then finish(): standard input
// is closed (the end of every peer's stream), the output is read to its
// end, and the exit status and standard error are collected. The event order
// of the output is then the program's own, whatever the pipes' timing. A
// reply to one of the program's requests is written once the request has
// been read from the output, with its uid; tests that need a uid of their
// own choosing from the program read while it runs, up to the reply to a
// metric request of theirs.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "error/exception.h"
#include "io/exceptions.h"
#include "io/fd_stream.h"
#include "os/fd.h"
#include "os/spawn.h"
#include "queues/devent.h"
#include "queues/ioprim.h"
#include "testkit/script.h"

namespace testkit {

struct Outcome {
  os::ChildStatus status;
  std::string standardError;
  std::vector<queues::EventPtr> events;  // everything sent, in order

  bool exited(int code) const { return !status.signalled && status.exitCode == code; }
  bool aborted() const { return status.signalled && status.signal == 6; }
};

class AlarmProcess {
 public:
  AlarmProcess() : child_(os::spawnWithPipes(HX_ALARM_PIPE, {HX_ALARM_PIPE})) {
    // Room for a whole test's traffic either way, so neither side waits.
    os::setPipeBufferSize(child_.stdinFd, 1 << 20);
    os::setPipeBufferSize(child_.stdoutFd, 1 << 20);
    in_ = std::make_unique<io::FdOStream>(child_.stdinFd, "alarm stdin");
    out_ = std::make_unique<io::FdIStream>(child_.stdoutFd, "alarm stdout");
    writer_ = std::make_unique<queues::ioprim>(nullptr, in_.get());
    reader_ = std::make_unique<queues::ioprim>(out_.get(), nullptr);
  }
  ~AlarmProcess() {
    if (!finished_) {
      os::sendSignal(child_.pid, 9);
      (void)os::waitForExit(child_.pid);
    }
    os::closeFdQuietly(child_.stderrFd);
  }
  AlarmProcess(const AlarmProcess&) = delete;
  AlarmProcess& operator=(const AlarmProcess&) = delete;

  // Writes the script's events in order. A reply waits until the program
  // has sent the request it answers; the events read meanwhile come first
  // in what the next read-out returns. Pauses and ends have no meaning for
  // a real process and are refused.
  void play(Script& script) {
    for (Step& step : script.take()) {
      if (step.kind != Step::kEvent) throw error::EFatal("A child process has no script time");
      while (!step.resolved() && !requests_.of(step.request)) keep(reader_->readEvent());
      step.resolve(requests_);
      sendBytes(step.bytes);
    }
  }

  // Raw bytes, for input that is not a well-formed event too. Once the
  // program has stopped reading (it ended), further input is dropped.
  void sendBytes(const std::vector<std::uint8_t>& bytes) {
    if (input_gone_) return;
    try {
      writer_->putBytes(bytes.data(), bytes.size());
      writer_->flush();
    } catch (const error::Exception&) {
      input_gone_ = true;
    }
  }

  // Everything the program sent since the last read-out, up to and
  // including its answer to the metric request `uid` (Script::probe), which
  // it handles after all input sent before it.
  std::vector<queues::EventPtr> readThroughProbe(std::uint32_t uid) {
    sendBytes(
        encode(queues::devent_t<queues::GET_METRIC>(queues::QUEUE_MAIN, uid, {{"num_objs"}})));
    for (;;) {
      keep(reader_->readEvent());
      const queues::event& last = *kept_.back();
      if (last.type == queues::RETURN_METRIC_UINT64 && last.inresponse == uid)
        return std::exchange(kept_, {});
    }
  }

  // Ends the input and collects everything until the program has exited.
  Outcome finish() {
    Outcome outcome;
    outcome.events = std::exchange(kept_, {});
    try {
      in_->close();
    } catch (const error::Exception&) {
      // The program stopped reading first.
    }
    for (;;) {
      try {
        outcome.events.push_back(reader_->readEvent());
        requests_.observe(*outcome.events.back());
      } catch (const io::EEndOfStream&) {
        break;
      }
    }
    outcome.standardError = readAll(child_.stderrFd);
    outcome.status = os::waitForExit(child_.pid);
    finished_ = true;
    return outcome;
  }

 private:
  void keep(queues::EventPtr ev) {
    requests_.observe(*ev);
    kept_.push_back(std::move(ev));
  }
  static std::string readAll(int fd) {
    std::string text;
    std::uint8_t buffer[4096];
    for (;;) {
      const os::IoResult r = os::readSome(fd, buffer, sizeof buffer);
      if (r.bytes == 0) break;
      text.append(reinterpret_cast<const char*>(buffer), r.bytes);
    }
    return text;
  }

  os::SpawnedChild child_;
  std::unique_ptr<io::FdOStream> in_;
  std::unique_ptr<io::FdIStream> out_;
  std::unique_ptr<queues::ioprim> writer_;
  std::unique_ptr<queues::ioprim> reader_;
  std::vector<queues::EventPtr> kept_;  // read, not yet handed out
  RequestUids requests_;
  bool input_gone_ = false;
  bool finished_ = false;
};

}  // namespace testkit
