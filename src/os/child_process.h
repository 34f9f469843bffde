#pragma once
// How a child process ended.

namespace os {

struct ChildStatus {
  bool signalled = false;  // ended by a signal rather than by exiting
  int signal = 0;          // when signalled
  int exitCode = 0;        // when not signalled
};

}  // namespace os
