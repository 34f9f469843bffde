#pragma once
// Fatal signals for the crash handler: handlers that run on an alternate
// stack, so that even a stack overflow reaches them, and the means to end the
// process by the signal afterwards. The process has one thread; the
// alternate stack belongs to it.
#include <csignal>

namespace os {

struct SignalInfo {
  int signal = 0;
  // Why the signal came (si_code): positive when the kernel raised it for a
  // fault, zero or negative when a process sent it.
  int code = 0;
  // The faulting address, for faults of SIGSEGV, SIGBUS, SIGILL and SIGFPE.
  bool hasAddress = false;
  const void* address = nullptr;
};

// Runs inside the signal handler: only async-signal-safe work is allowed
// (no allocation, no locks, no stdio).
using FatalSignalHandler = void (*)(const SignalInfo& info);

// Gives the calling thread an alternate signal stack, so that a handler can
// still run when the thread's own stack has overflowed. Calling it again is
// harmless.
void useAlternateSignalStack();

// Routes `signal` to `handler`, run on the alternate stack. The default
// action is restored as the handler starts, so a second fault of the same
// kind inside the handler ends the process instead of looping.
void handleFatalSignal(int signal, FatalSignalHandler handler);

// The default action again for `signal` (for a fatal signal: ending the
// process). Safe inside a signal handler.
void restoreDefaultSignalAction(int signal) noexcept;

// Sends `signal` to the calling thread. Safe inside a signal handler.
void raiseSignal(int signal) noexcept;

}  // namespace os
