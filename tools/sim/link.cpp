#include "sim/link.h"

#include <csignal>
#include <map>
#include <optional>
#include <utility>

#include "error/exception.h"
#include "family/relayed_alarm.h"
#include "io/exceptions.h"
#include "io/fd_stream.h"
#include "io/memory_stream.h"
#include "io/selector.h"
#include "io/timer.h"
#include "os/fd.h"
#include "os/spawn.h"
#include "queues/ioprim.h"

namespace sim {

namespace {

// Pipes this large hold a whole select reply of a big tree or a long burst
// of debug lines, so neither side waits on the other in practice.
constexpr int kPipeBytes = 1 << 20;

void growPipe(int fd) {
  try {
    os::setPipeBufferSize(fd, kPipeBytes);
  } catch (const error::Exception&) {
    // A system that allows less keeps its default size, which still works.
  }
}

std::string encode(const queues::event& ev) {
  io::MemoryStreamPair streams;
  queues::ioprim writer(nullptr, &streams.out);
  writer.writeEvent(ev);
  writer.flush();
  std::string bytes;
  while (streams.pipe.unread() > 0) {
    const std::uint8_t* data = nullptr;
    const std::size_t n = streams.in.readBegin(data);
    bytes.append(reinterpret_cast<const char*>(data), n);
    streams.in.readCommit(n);
  }
  return bytes;
}

// The alarm process's standard input. Bytes are queued and written whenever
// the pipe has room, also while this process waits for the alarm's output:
// a writer that blocked on a full pipe could deadlock with an alarm process
// that blocks writing its own output.
class InputWriter : public io::Selectable {
 public:
  explicit InputWriter(int fd) : fd_(fd) { os::setNonblocking(fd_, true); }
  ~InputWriter() override { close(); }

  std::string name() const override { return "alarm standard input"; }
  io::OsHandle handle() const override { return {fd_, pending() ? os::kWritable : short{0}}; }
  // Never hands itself out: writing is all it does when woken.
  bool isReady() override { return false; }
  bool ignoreSignal() override {
    push();
    return true;
  }

  void append(const std::string& bytes) {
    if (fd_ < 0 || failed_) return;
    bytes_ += bytes;
    push();
  }
  bool pending() const { return fd_ >= 0 && !failed_ && sent_ < bytes_.size(); }

  // Writes what the pipe takes now. A process that is gone takes nothing
  // more: the bytes are dropped.
  void push() {
    while (pending()) {
      const os::IoResult r = os::writeSome(
          fd_, reinterpret_cast<const std::uint8_t*>(bytes_.data()) + sent_, bytes_.size() - sent_);
      if (r.wouldBlock) return;
      if (r.error != 0) {
        failed_ = true;
        return;
      }
      sent_ += r.bytes;
    }
    bytes_.clear();
    sent_ = 0;
  }

  void close() {
    if (fd_ < 0) return;
    os::closeFdQuietly(fd_);
    fd_ = -1;
  }
  bool closed() const { return fd_ < 0; }

 private:
  int fd_;
  std::string bytes_;
  std::size_t sent_ = 0;
  bool failed_ = false;
};

// The alarm process's standard error, read without waiting and cut into
// lines.
class ErrorLines {
 public:
  explicit ErrorLines(int fd) : errors_(fd, "alarm error output") {}

  io::FdIStream& stream() { return errors_; }
  bool ended() const { return ended_; }

  // Takes whatever has arrived; true when the output ended just now.
  bool read() {
    if (ended_) return false;
    try {
      for (;;) {
        const std::uint8_t* data = nullptr;
        const std::size_t n = errors_.readBegin(data);
        if (n == 0) return false;
        partial_.append(reinterpret_cast<const char*>(data), n);
        errors_.readCommit(n);
        for (std::size_t eol; (eol = partial_.find('\n')) != std::string::npos;) {
          lines_.push_back(partial_.substr(0, eol));
          partial_.erase(0, eol + 1);
        }
      }
    } catch (const error::Exception&) {
      // The end of the error output (or a failed read: nothing more to get).
      ended_ = true;
      return true;
    }
  }
  void add(std::string line) { lines_.push_back(std::move(line)); }
  // A last line without its end of line counts too.
  void finish() {
    if (!partial_.empty()) lines_.push_back(std::exchange(partial_, {}));
  }
  std::vector<std::string> take() { return std::exchange(lines_, {}); }

 private:
  io::FdIStream errors_;
  bool ended_ = false;
  std::string partial_;
  std::vector<std::string> lines_;
};

class PipeAlarmLink final : public AlarmLink {
 public:
  explicit PipeAlarmLink(const std::string& program)
      : program_(program),
        child_(os::spawnWithPipes(program, {})),
        input_(child_.stdinFd),
        output_(child_.stdoutFd, "alarm standard output"),
        errors_(child_.stderrFd),
        reader_(&output_, nullptr) {
    growPipe(child_.stdinFd);
    growPipe(child_.stdoutFd);
    // Bytes that do not decode are the alarm process's fault, reported as
    // the end of its output rather than ending this process.
    reader_.throwOnBadEventForTest(true);
    selector_.add(&output_, 0);
    selector_.add(&errors_.stream(), 1);
    selector_.add(&input_, 2);
    selector_.add(&timer_, 3);
  }

  ~PipeAlarmLink() override {
    if (!reaped_) {
      os::sendSignal(child_.pid, SIGKILL);
      (void)os::waitForExit(child_.pid);  // killed on purpose: only the reaping matters
    }
  }

  std::string program() const override { return program_; }

  void send(const queues::event& ev) override {
    if (closing_) return;
    input_.append(encode(ev));
  }

  queues::EventPtr receive(htime::usec_time deadline) override {
    for (;;) {
      settleInput();
      if (output_ended_) {
        readErrors();
        return nullptr;
      }
      if (output_.isReady()) {
        try {
          return reader_.readEvent();
        } catch (const io::EEndOfStream&) {
          endOutput();
        } catch (const error::Exception& e) {
          errors_.add("(output that does not decode as events: " + e.text() + ")");
          endOutput();
        }
        continue;
      }
      timer_.setDeadline(deadline);
      io::Selectable* ready = selector_.select().first;
      if (ready == &timer_) return nullptr;
      if (ready == &errors_.stream()) readErrors();
    }
  }

  bool ended() const override { return output_ended_; }

  std::vector<std::string> takeOutputLines() override {
    readErrors();
    return errors_.take();
  }

  bool takesExitOrder() const override { return false; }

  bool kill(Sibling sibling) override {
    if (sibling != Sibling::alarm) return false;
    if (!reaped_) os::sendSignal(child_.pid, SIGKILL);
    return true;
  }

  // Every role but the alarm is played in this process.
  bool rolesApart() const override { return false; }
  void sendToRole(Sibling, const queues::event&) override {}
  std::optional<std::string> roleEnded(Sibling) override { return std::nullopt; }

  void closeInput() override {
    closing_ = true;
    settleInput();
  }

  AlarmEnd finish(htime::usec_time deadline) override {
    closeInput();
    os::ChildStatus status;
    bool forced = false;
    for (;;) {
      settleInput();
      readErrors();
      if (auto s = os::reapIfEnded(child_.pid)) {
        status = *s;
        break;
      }
      if (htime::now() >= deadline) {
        os::sendSignal(child_.pid, SIGKILL);
        status = os::waitForExit(child_.pid);
        forced = true;
        break;
      }
      // Short waits: there is no descriptor that says "the child ended".
      timer_.setDeadline(std::min(deadline, htime::now() + htime::usec_time(0, 20000)));
      while (selector_.select().first != &timer_) readErrors();
    }
    reaped_ = true;
    input_.close();
    readErrors();
    errors_.finish();
    AlarmEnd end;
    end.clean = !forced && !status.signalled && status.exitCode == 0;
    end.description = os::describeExit(status);
    if (forced) end.description = "did not end in time; " + end.description;
    return end;
  }

 private:
  // Closes the input once everything queued is written (or cannot be).
  void settleInput() {
    input_.push();
    if (closing_ && !input_.pending() && !input_.closed()) {
      selector_.remove(&input_);
      input_.close();
    }
  }

  void endOutput() {
    output_ended_ = true;
    selector_.remove(&output_);
  }

  // Takes whatever error output has arrived, without waiting.
  void readErrors() {
    if (errors_.read()) selector_.remove(&errors_.stream());
  }

  std::string program_;
  os::SpawnedChild child_;
  InputWriter input_;
  io::FdIStream output_;
  ErrorLines errors_;
  queues::ioprim reader_;
  io::Timer timer_;
  io::Selector<int> selector_;
  bool closing_ = false;
  bool output_ended_ = false;
  bool reaped_ = false;
};

// The alarm process in a process family whose main process is this one,
// with the DBMS and the alert process as role processes of their own
// (halcyx-sim --role), started before the alarm.
class FamilyAlarmLink final : public AlarmLink {
 public:
  FamilyAlarmLink(const std::string& program, const RoleCommand& roles)
      : program_(program), errorPipe_(os::makePipe()), errors_(errorPipe_.readEnd) {
    std::map<int, family::SiblingProgram> siblings;
    for (const Sibling role : {Sibling::dbms, Sibling::alert}) {
      std::vector<std::string> args = roles.args;
      args.insert(args.begin(), {"--role", siblingName(role)});
      siblings[idOf(role)] = {roles.program, std::move(args)};
    }
    alarm_ = std::make_unique<family::RelayedAlarm>(program, siblings, family::Options{},
                                                    errorPipe_.writeEnd);
    // The alarm holds its own copy of the write end: the output ends with it.
    os::closeFd(errorPipe_.writeEnd);
  }

  std::string program() const override { return program_; }

  void send(const queues::event& ev) override { sendTo(queues::QUEUE_MAIN, ev); }

  // One wait at a time, so that the end of a role's stream is news at once.
  queues::EventPtr receive(htime::usec_time deadline) override {
    queues::EventPtr ev = alarm_->receiveOnce(deadline);
    errors_.read();
    return ev;
  }

  bool ended() const override { return alarm_->alarmEnded(); }

  std::vector<std::string> takeOutputLines() override {
    errors_.read();
    return errors_.take();
  }

  // SYS_EXIT starts the shutdown in which every stream to the alarm ends.
  bool takesExitOrder() const override { return true; }
  void closeInput() override {}

  bool rolesApart() const override { return true; }
  void sendToRole(Sibling role, const queues::event& ev) override { sendTo(idOf(role), ev); }

  std::optional<std::string> roleEnded(Sibling role) override {
    const int id = idOf(role);
    if (!alarm_->ended(id)) return std::nullopt;
    const std::optional<os::ChildStatus> status = alarm_->family().poll(id);
    return status ? os::describeExit(*status) : "its stream ended";
  }

  bool kill(Sibling sibling) override {
    alarm_->family().kill(idOf(sibling), SIGKILL);
    return true;
  }

  AlarmEnd finish(htime::usec_time deadline) override {
    alarm_->orderSiblingsToExit();
    AlarmEnd end;
    for (const Sibling who : {Sibling::alarm, Sibling::dbms, Sibling::alert}) {
      const int id = idOf(who);
      std::optional<os::ChildStatus> status = alarm_->serveUntilEnded(id, deadline);
      const bool forced = !status;
      if (forced) {
        alarm_->family().kill(id, SIGKILL);
        status = alarm_->family().wait(id);
      }
      std::string description = os::describeExit(*status);
      if (forced) description = "did not end in time; " + description;
      if (who == Sibling::alarm) {
        end.clean = !forced && !status->signalled && status->exitCode == 0;
        end.description = description;
      } else if (forced || status->signalled || status->exitCode != 0) {
        errors_.add("(the " + siblingName(who) + " process: " + description + ")");
      }
    }
    while (!errors_.ended() && !errors_.read()) {
      (void)os::waitForFd(errorPipe_.readEnd, os::kReadable);
    }
    errors_.finish();
    return end;
  }

 private:
  static int idOf(Sibling who) {
    return who == Sibling::dbms    ? queues::QUEUE_DBMS
           : who == Sibling::alert ? queues::QUEUE_ALRT
                                   : queues::QUEUE_ALRM;
  }

  void sendTo(int id, const queues::event& ev) {
    const queues::EventPtr copy = ev.clone();
    copy->dest = static_cast<queues::queue_t>(id);
    try {
      alarm_->send(*copy);
    } catch (const error::Exception&) {
      // The receiver is gone; what it would have said shows in the output.
    }
  }

  std::string program_;
  os::PipeEnds errorPipe_;
  ErrorLines errors_;
  std::unique_ptr<family::RelayedAlarm> alarm_;
};

}  // namespace

AlarmLinkPtr startAlarmOverPipes(const std::string& program) {
  return std::make_unique<PipeAlarmLink>(program);
}

AlarmLinkPtr startAlarmInFamily(const std::string& program, const RoleCommand& roles) {
  return std::make_unique<FamilyAlarmLink>(program, roles);
}

}  // namespace sim
