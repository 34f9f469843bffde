#include "os/signals.h"

#include <errno.h>
#include <signal.h>

#include <cstddef>

#include "error/system_error.h"

namespace os {

namespace {

// Enough for the crash handler's backtrace and file writes even in
// sanitizer builds, whose frames are larger.
constexpr std::size_t kAlternateStackSize = 256 * 1024;

// Signal dispositions are process-wide, and so is this table of the
// handlers behind them.
FatalSignalHandler handlers[NSIG] = {};

void dispatch(int signal, siginfo_t* info, void* /*context*/) {
  const FatalSignalHandler handler = signal > 0 && signal < NSIG ? handlers[signal] : nullptr;
  if (handler == nullptr) return;
  SignalInfo details;
  details.signal = signal;
  if (info != nullptr) {
    details.code = info->si_code;
    const bool isFault =
        signal == SIGSEGV || signal == SIGBUS || signal == SIGILL || signal == SIGFPE;
    if (isFault && info->si_code > 0) {
      details.hasAddress = true;
      details.address = info->si_addr;
    }
  }
  handler(details);
}

}  // namespace

void useAlternateSignalStack() {
  alignas(16) static char stack[kAlternateStackSize];
  stack_t current{};
  if (::sigaltstack(nullptr, &current) != 0) error::throwSystemError("sigaltstack", errno);
  // A stack set up by someone else (a sanitizer runtime, say) may be too
  // small for the crash handler: ours replaces it.
  if ((current.ss_flags & SS_DISABLE) == 0 && current.ss_sp == stack) return;
  stack_t wanted{};
  wanted.ss_sp = stack;
  wanted.ss_size = sizeof stack;
  if (::sigaltstack(&wanted, nullptr) != 0) error::throwSystemError("sigaltstack", errno);
}

void handleFatalSignal(int signal, FatalSignalHandler handler) {
  if (signal <= 0 || signal >= NSIG) error::throwSystemError("sigaction", EINVAL);
  handlers[signal] = handler;
  struct sigaction action {};
  action.sa_sigaction = dispatch;
  ::sigemptyset(&action.sa_mask);
  action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND | SA_NODEFER;
  if (::sigaction(signal, &action, nullptr) != 0) error::throwSystemError("sigaction", errno);
}

void restoreDefaultSignalAction(int signal) noexcept {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  ::sigemptyset(&action.sa_mask);
  ::sigaction(signal, &action, nullptr);
}

void raiseSignal(int signal) noexcept { ::raise(signal); }

}  // namespace os
