#pragma once
// The calling thread's stack as text, for crash reports.

namespace os {

// Loads what the stack walker needs ahead of time: its first use may load a
// library and allocate, which a signal handler must not do.
void prepareBacktrace();

// Writes up to 64 frames of the calling thread's stack to `fd`, one line
// each (module, symbol when known, offset, address). Safe in a signal
// handler once prepareBacktrace has run.
void writeBacktrace(int fd) noexcept;

}  // namespace os
