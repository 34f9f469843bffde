#pragma once
// Waiting for file descriptors: the one blocking call of the process's main
// loop. A wait ends when a descriptor is ready, when the time-out passes, or
// when a signal handler ran (the caller then looks at the world again and
// computes a fresh time-out).
#include <poll.h>

#include <span>

namespace os {

// One watched descriptor, passed to the system as it stands. A negative fd
// is skipped by the wait.
using PollSlot = ::pollfd;

inline constexpr short kReadable = POLLIN;
inline constexpr short kWritable = POLLOUT;
inline constexpr int kInfiniteTimeout = -1;

struct PollResult {
  enum Outcome { timedOut, ready, interrupted, failed };
  Outcome outcome = timedOut;
  int error = 0;  // errno when the wait failed
};

// Waits until one of the slots is ready (their revents are filled in), the
// time-out in milliseconds passes (kInfiniteTimeout: never), or a signal
// interrupts the wait. With no slots it is a plain sleep.
[[nodiscard]] PollResult pollFor(std::span<PollSlot> slots, int timeoutMs);

// Waits until one descriptor can take `events` (kReadable / kWritable), or
// reports trouble on it; interruptions by signals are waited through. The
// result is 0 or the errno of a failed wait.
[[nodiscard]] int waitForFd(int fd, short events) noexcept;

}  // namespace os
