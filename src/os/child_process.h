#pragma once
// How a child process ended.

namespace os {

struct ChildStatus {
  bool signalled = false;  // ended by a signal rather than by exiting
  int signal = 0;          // when signalled
  int exitCode = 0;        // when not signalled
  // CPU time the child used (user plus system), as the kernel counted it
  // when the child was reaped.
  double cpuSeconds = 0;
};

}  // namespace os
