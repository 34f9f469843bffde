#include "os/poll.h"

#include <cerrno>

namespace os {

PollResult pollFor(std::span<PollSlot> slots, int timeoutMs) {
  const int n = ::poll(slots.data(), static_cast<nfds_t>(slots.size()), timeoutMs);
  if (n > 0) return {PollResult::ready, 0};
  if (n == 0) return {PollResult::timedOut, 0};
  // A signal handler ran: report it, so that the caller re-reads the clock
  // instead of waiting again for the whole of a stale time-out.
  if (errno == EINTR) return {PollResult::interrupted, 0};
  return {PollResult::failed, errno};
}

int waitForFd(int fd, short events) noexcept {
  PollSlot slot{fd, events, 0};
  for (;;) {
    if (::poll(&slot, 1, kInfiniteTimeout) >= 0) return 0;
    if (errno != EINTR) return errno;
  }
}

}  // namespace os
