#include "os/backtrace.h"

#include <execinfo.h>

namespace os {

namespace {
constexpr int kMaxFrames = 64;
}

void prepareBacktrace() {
  void* frames[1];
  ::backtrace(frames, 1);
}

void writeBacktrace(int fd) noexcept {
  void* frames[kMaxFrames];
  const int count = ::backtrace(frames, kMaxFrames);
  ::backtrace_symbols_fd(frames, count, fd);
}

}  // namespace os
