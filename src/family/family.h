#pragma once
// The main process's side of a process family, for the tools and tests that
// play the main process: the shared pool, the private directory where every
// member publishes its input pipe, the parent's messenger, and starting,
// watching and ending the siblings.
//
//   family::Family family;                      // pool, directory, messenger
//   family.start(5, "build/bin/halcyx-alarm");  // sibling 5, environment set
//   ... family.queue().send(...) / receive() ...
//   family.wait(5);
//
// A sibling that asks for another one that is not running (RequestPeer) has
// it started when the family knows a program for that id (setProgram), or
// when the options' decision says so; otherwise it is told that the sibling
// died. Every child is watched from its start: its death is the family
// messenger's news at once, whether it had come up or not.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "io/sibling_messenger.h"
#include "os/child_process.h"
#include "os/owned_fd.h"
#include "queues/childqueue.h"
#include "queues/sibling_messenger_adapter.h"

namespace family {

struct Options {
  // The pool, split into the parent's area and one area per child.
  std::uint64_t poolSize = 64 * 1024 * 1024;
  std::uint64_t areaSize = 4 * 1024 * 1024;
  // Sizes for particular siblings (the main process is 0); multiples of 8.
  std::map<int, std::uint64_t> areaSizes;
  // The prefix of the environment values a child reads ("smem" for the
  // alarm process).
  std::string envPrefix = "smem";
  // Asked when a sibling wants one that the family has no program for:
  // true when the caller starts it (with start()) before long.
  std::function<bool(int requested, int requester)> onRequestPeer;
  // Messenger trace lines, when set.
  std::function<void(std::string_view)> trace;
};

class Family {
 public:
  explicit Family(Options options = {});
  // Kills every child still running, reaps it and removes the directory.
  ~Family();
  Family(const Family&) = delete;
  Family& operator=(const Family&) = delete;

  [[nodiscard]] io::SiblingMessengerParent& messenger() { return *messenger_; }
  // The parent's child queue: events to and from every sibling by id.
  [[nodiscard]] queues::childqueue& queue() { return *queue_; }
  [[nodiscard]] const queues::childqueue& queue() const { return *queue_; }
  // The environment entries a child is started with ("smem::mapfile=7", ...).
  [[nodiscard]] std::vector<std::string> environment() const;
  [[nodiscard]] const std::string& directory() const { return directory_; }

  // The program to start for sibling `id` when another sibling asks for it.
  void setProgram(int id, std::string program, std::vector<std::string> args = {});
  // Starts `program` as sibling `id` now, its standard error going to
  // `standardError` when that is 0 or more; returns its process id. Throws
  // error::ESystemError when it cannot be started.
  int start(int id, const std::string& program, const std::vector<std::string>& args = {},
            int standardError = -1);
  // The child's process id, or nothing when it was never started.
  [[nodiscard]] std::optional<int> pid(int id) const;
  // Sends `signal` to sibling `id` (a child that has ended is not an error).
  void kill(int id, int signal);
  // Waits for sibling `id` to end and reaps it; the status is kept, so a
  // second call returns it again.
  os::ChildStatus wait(int id);
  // The child's status once it has ended (reaped then), or nothing.
  std::optional<os::ChildStatus> poll(int id);

 private:
  struct Child {
    int pid = -1;
    std::optional<os::ChildStatus> status;
  };
  struct Program {
    std::string path;
    std::vector<std::string> args;
  };
  bool grantPeer(int requested, int requester);

  Options options_;
  std::string directory_;
  os::OwnedFd pool_;
  std::unique_ptr<io::SiblingMessengerParent> messenger_;
  std::unique_ptr<queues::SiblingMessengerAdapter> adapter_;
  std::unique_ptr<queues::childqueue> queue_;
  std::map<int, Child> children_;
  std::map<int, Program> programs_;
};

}  // namespace family
