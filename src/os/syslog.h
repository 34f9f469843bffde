#pragma once
// The system log, reached in a way that is safe inside a signal handler.

namespace os {

// Sends one error-priority line "ident[pid]: text" (user facility) to the
// local system log socket. Nothing happens when there is no system log.
// Does not allocate; a line longer than 1023 bytes is cut.
void sendToSyslog(const char* ident, const char* text) noexcept;

}  // namespace os
