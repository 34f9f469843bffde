#pragma once
// File I/O that neither allocates nor throws, for use inside a signal
// handler (the crash handler). Failures hand back the errno value.
#include <cstddef>

namespace os {

inline constexpr int kStandardError = 2;

// Creates or truncates `path` for writing (mode 0644 before the umask).
// Returns the descriptor, or -1 with the errno value in `error`.
[[nodiscard]] int signalSafeCreate(const char* path, int& error) noexcept;

// Writes all `size` bytes, resuming after partial writes and interruptions.
// False with the errno value in `error` when the write fails (ENOSPC for a
// write that makes no progress).
[[nodiscard]] bool signalSafeWrite(int fd, const void* data, std::size_t size, int& error) noexcept;

// Copies the whole content of the file at `path` to `fd`; false with the
// errno value in `error` when either side fails.
[[nodiscard]] bool signalSafeCopy(const char* path, int fd, int& error) noexcept;

void signalSafeClose(int fd) noexcept;

}  // namespace os
