#pragma once
// A selectable that becomes ready when the clock reaches its deadline. The
// owner re-arms it; a timer nobody re-arms stays ready.
#include "io/selectable.h"

namespace io {

class Timer : public virtual Selectable {
 public:
  explicit Timer(htime::usec_time when = htime::never) : deadline_(when) {}

  [[nodiscard]] std::string name() const override { return "Timer"; }
  // At or after the deadline by htime::now(): seconds first, then
  // microseconds.
  [[nodiscard]] bool isReady() override;
  [[nodiscard]] bool deadline(htime::usec_time& when) const override {
    when = deadline_;
    return true;
  }

  void setDeadline(htime::usec_time when) { deadline_ = when; }

 private:
  htime::usec_time deadline_;
};

}  // namespace io
