#pragma once
// Root of everything a selector can wait on: streams, timers and the fronts
// of stacked selectables. A selectable remembers the selectors it stands on,
// so destroying it takes it off every one of them.
#include <string>
#include <vector>

#include "htime/usec_time.h"

namespace io {

class SelectorBase;

// The operating-system handle a selectable waits on: a file descriptor and
// the poll events (os::kReadable / os::kWritable) it waits for, or none.
// Whether a selectable has a handle at all is decided when it is registered;
// the events are asked again before every wait, and a handle whose events
// are 0 (or whose fd has become -1) is left out of that wait.
struct OsHandle {
  int fd = -1;
  short events = 0;
  bool valid() const { return fd >= 0; }
};

class Selectable {
 public:
  Selectable() = default;
  Selectable(const Selectable&) = delete;
  Selectable& operator=(const Selectable&) = delete;

  // Takes itself off every selector it is still registered on.
  virtual ~Selectable();
  // Used in every diagnostic about this selectable.
  [[nodiscard]] virtual std::string name() const = 0;
  [[nodiscard]] virtual OsHandle handle() const { return {}; }
  // True when an operation on the selectable would not block.
  [[nodiscard]] virtual bool isReady() = 0;
  // Called when the handle was signalled; true means the wait goes on. A
  // descriptor-driven stream does its I/O here and goes on waiting unless
  // that made it ready.
  [[nodiscard]] virtual bool ignoreSignal() { return false; }
  // Lets the selectable advance its own state (collect finished I/O) before
  // its readiness is asked.
  virtual void poll() {}
  // True, with the time, for a selectable that becomes ready at a deadline.
  [[nodiscard]] virtual bool deadline(htime::usec_time& when) const {
    (void)when;
    return false;
  }
  // Called by a selector that registers this selectable: remembers it and,
  // when already ready, tells it so.
  virtual void addSelector(SelectorBase* selector);
  virtual void removeSelector(SelectorBase* selector);

  // Blocks until this selectable is ready (a private selector, one select).
  void waitReady();

  // Ready, or worth a look by the selector: it has a handle, or a deadline
  // that has come.
  [[nodiscard]] bool maybeReady(const htime::usec_time& now);

 protected:
  const std::vector<SelectorBase*>& selectors() const { return selectors_; }

 private:
  std::vector<SelectorBase*> selectors_;
};

}  // namespace io
