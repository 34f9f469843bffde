#pragma once
// Root of everything a selector can wait on: streams, timers and the fronts
// of stacked selectables. A selectable remembers the selectors it stands on,
// so destroying it takes it off every one of them.
#include <string>
#include <vector>

#include "time/usec_time.h"

namespace io {

class SelectorBase;

// The operating-system handle a selectable waits on: a file descriptor that
// poll() watches, or none.
struct OsHandle {
  int fd = -1;
  short events = 0;  // POLLIN / POLLOUT
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
  virtual std::string name() const = 0;
  virtual OsHandle handle() const { return {}; }
  // True when an operation on the selectable would not block.
  virtual bool isReady() = 0;
  // Called when the handle was signalled; true means the wait goes on.
  virtual bool ignoreSignal() { return false; }
  // Lets the selectable advance its own state (collect finished I/O) before
  // its readiness is asked.
  virtual void poll() {}
  // True, with the time, for a selectable that becomes ready at a deadline.
  virtual bool deadline(htime::usec_time& when) const {
    (void)when;
    return false;
  }
  virtual void addSelector(SelectorBase* selector);
  virtual void removeSelector(SelectorBase* selector);

  // Blocks until this selectable is ready (a private selector, one select).
  void waitReady();

 protected:
  const std::vector<SelectorBase*>& selectors() const { return selectors_; }

 private:
  std::vector<SelectorBase*> selectors_;
};

}  // namespace io
