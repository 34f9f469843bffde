#include "family/family.h"

#include <csignal>
#include <utility>

#include "error/system_error.h"
#include "io/fifo.h"
#include "io/shared_memory.h"
#include "os/process_fd.h"
#include "os/spawn.h"
#include "os/temp_dir.h"

namespace family {

Family::Family(Options options)
    : options_(std::move(options)),
      directory_(os::makeTemporaryDirectory("halcyx-family")),
      pool_(io::createSharedMemoryPool(options_.poolSize)) {
  io::siblingmessenger_conf_t conf;
  conf.mapfile = pool_.get();
  conf.fifoprefix = directory_ + "/fifo";
  conf.mapsize = static_cast<std::uint32_t>(options_.poolSize);
  io::SiblingMessengerParent::Decisions decisions;
  decisions.messageToNonexistantSibling = [this](int requested, int requester) {
    return grantPeer(requested, requester);
  };
  decisions.areaSize = [this](int sibling) {
    const auto it = options_.areaSizes.find(sibling);
    return it != options_.areaSizes.end() ? it->second : options_.areaSize;
  };
  messenger_ =
      std::make_unique<io::SiblingMessengerParent>(conf, std::move(decisions), options_.trace);
  adapter_ = std::make_unique<queues::SiblingMessengerAdapter>(*messenger_);
  queue_ = std::make_unique<queues::childqueue>(*adapter_);
}

Family::~Family() {
  for (auto& [id, child] : children_) {
    if (child.status) continue;
    os::sendSignal(child.pid, SIGKILL);
    try {
      child.status = os::waitForExit(child.pid);
    } catch (...) {
      // Reaped elsewhere: nothing is left to wait for.
    }
  }
  queue_.reset();
  adapter_.reset();
  messenger_.reset();
  os::removeDirectoryTree(directory_);
}

std::vector<std::string> Family::environment() const {
  const std::string& p = options_.envPrefix;
  return {p + "::mapfile=" + std::to_string(pool_.get()),
          p + "::fifoprefix=" + directory_ + "/fifo",
          p + "::mapsize=" + std::to_string(options_.poolSize)};
}

void Family::setProgram(int id, std::string program, std::vector<std::string> args) {
  programs_[id] = Program{std::move(program), std::move(args)};
}

int Family::start(int id, const std::string& program, const std::vector<std::string>& args,
                  int standardError) {
  const int pid = os::startProcess(program, args, environment(), standardError);
  children_[id] = Child{pid, std::nullopt};
  os::OpenResult watch = os::openPidFd(pid);
  if (!watch.fd.valid()) error::throwSystemError("Cannot watch sibling " + program, watch.error);
  messenger_->watchStartedChild(id, std::move(watch.fd));
  return pid;
}

std::optional<int> Family::pid(int id) const {
  const auto it = children_.find(id);
  if (it == children_.end()) return std::nullopt;
  return it->second.pid;
}

void Family::kill(int id, int signal) {
  const auto it = children_.find(id);
  if (it != children_.end() && !it->second.status) os::sendSignal(it->second.pid, signal);
}

os::ChildStatus Family::wait(int id) {
  Child& child = children_.at(id);
  if (!child.status) child.status = os::waitForExit(child.pid);
  return *child.status;
}

std::optional<os::ChildStatus> Family::poll(int id) {
  Child& child = children_.at(id);
  if (!child.status) child.status = os::reapIfEnded(child.pid);
  return child.status;
}

bool Family::grantPeer(int requested, int requester) {
  const auto running = children_.find(requested);
  if (running != children_.end() && !running->second.status) return true;
  const auto known = programs_.find(requested);
  if (known != programs_.end()) {
    start(requested, known->second.path, known->second.args);
    return true;
  }
  return options_.onRequestPeer && options_.onRequestPeer(requested, requester);
}

}  // namespace family
