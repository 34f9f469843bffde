#include "io/process_watch.h"

#include "os/poll.h"
#include "os/process_fd.h"

namespace io {

ProcessWatch::ProcessWatch(os::OwnedFd pidfd, std::string what)
    : pidfd_(std::move(pidfd)), what_(std::move(what)) {}

OsHandle ProcessWatch::handle() const { return {pidfd_.get(), ended_ ? short{0} : os::kReadable}; }

void ProcessWatch::poll() {
  if (!ended_ && pidfd_.valid()) ended_ = os::pidFdEnded(pidfd_.get());
}

bool ProcessWatch::ignoreSignal() {
  poll();
  return !ended_;
}

}  // namespace io
