#pragma once
// File descriptors: reading, writing, closing, pipes and the non-blocking
// flag. Reads and writes report their outcome instead of throwing, because
// the streams keep an error until the user next touches them; set-up calls
// throw error::ESystemError naming the call.
#include <cstddef>
#include <cstdint>

namespace os {

inline constexpr int kStandardInput = 0;
inline constexpr int kStandardOutput = 1;

struct IoResult {
  std::size_t bytes = 0;
  bool wouldBlock = false;  // a non-blocking descriptor had nothing / no room
  int error = 0;            // errno of a failed call, 0 otherwise
};

// One read(2) of up to `size` bytes, retried when a signal interrupts it.
// 0 bytes with no error and no wouldBlock: end of file.
[[nodiscard]] IoResult readSome(int fd, std::uint8_t* into, std::size_t size) noexcept;
// One write(2) of up to `size` bytes, retried when a signal interrupts it.
[[nodiscard]] IoResult writeSome(int fd, const std::uint8_t* from, std::size_t size) noexcept;

// Closes the descriptor; throws when the system reports an error (the
// descriptor is released either way).
void closeFd(int fd);
// Closes the descriptor and ignores errors: for destructors.
void closeFdQuietly(int fd) noexcept;

struct PipeEnds {
  int readEnd = -1;
  int writeEnd = -1;
};
// A new pipe; both ends close on exec unless `inheritable`.
[[nodiscard]] PipeEnds makePipe(bool inheritable = false);
// Asks the kernel for a pipe buffer of at least `bytes`; returns the size it
// gave. Larger buffers mean fewer wake-ups for a busy pipe.
int setPipeBufferSize(int fd, int bytes);

// The descriptor's status flags (fcntl F_GETFL) and setting them back.
[[nodiscard]] int statusFlags(int fd);
void setStatusFlags(int fd, int flags);
void setNonblocking(int fd, bool on);
[[nodiscard]] bool isNonblocking(int fd);

// A new non-blocking, close-on-exec descriptor of the pipe, FIFO or
// character device (a terminal, say) that `fd` refers to, with an open file
// description of its own: its flags are not those of `fd`, which other
// processes may share (a shell's terminal, or standard error with 2>&1).
// -1 for anything else (a regular file, a socket) or when it cannot be
// opened (a pipe without a reader, say).
int reopenPrivately(int fd, bool forWriting) noexcept;
// A regular file, where reads and writes never wait.
bool isRegularFile(int fd) noexcept;

// A write to a pipe whose reader is gone fails with EPIPE instead of killing
// the process with SIGPIPE. Idempotent; process-wide.
void ignoreBrokenPipeSignal();

}  // namespace os
