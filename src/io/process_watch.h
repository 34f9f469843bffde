#pragma once
// Waits for another process to end, through its process descriptor: the
// descriptor becomes readable when the process exits, so a selector wakes
// for it like for any stream.
#include <string>

#include "io/selectable.h"
#include "os/owned_fd.h"

namespace io {

class ProcessWatch : public Selectable {
 public:
  ProcessWatch(os::OwnedFd pidfd, std::string what);

  [[nodiscard]] std::string name() const override { return "ProcessWatch(" + what_ + ")"; }
  // Readable until the process has ended.
  [[nodiscard]] OsHandle handle() const override;
  // The process has ended.
  [[nodiscard]] bool isReady() override { return ended_; }
  // Asks the system, without waiting, whether the process has ended.
  void poll() override;
  // The descriptor became readable: the process has ended.
  [[nodiscard]] bool ignoreSignal() override;

  [[nodiscard]] bool ended() const { return ended_; }

 private:
  os::OwnedFd pidfd_;
  std::string what_;
  bool ended_ = false;
};

}  // namespace io
