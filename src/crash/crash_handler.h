#pragma once
// The crash handler: when the process dies of a fault (SIGSEGV, SIGBUS,
// SIGILL, SIGFPE) or aborts (SIGABRT, which includes every failed HX_CHECK
// and std::terminate), it writes a report file beside the executable, tells
// someone where it is, and lets the process die of the same signal.
//
// The report file is named after the executable with its extension replaced
// by ".dmp" (".dmp" appended when the name has none): /opt/hx/bin/alarm gives
// /opt/hx/bin/alarm.dmp. It holds the signal, its code, the faulting
// address, the process id, a backtrace and the memory map.
#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace crash {

// Receives the one-line outcome: "An application error has been detected.
// Please report this error and submit the dump file in '<path>' along with
// your error report", or why the file could not be written. Runs inside the
// signal handler: it must be async-signal-safe (no allocation, no locks, no
// stdio).
using CrashReportFunction = void (*)(const char* text);

// Writes the text to the system log under the name "Halcyx".
void reportCrashToSyslog(const char* text) noexcept;

// Installs the handler; call it first thing in main. The report path is
// fixed here, not at the crash. Without a reporting function (nullptr) the
// outcome goes to standard error as "Dump generated: " + text. Throws
// error::ESystemError when the handler cannot be installed.
void installCrashHandler(CrashReportFunction report = reportCrashToSyslog);

// The report file's path for an executable's path: its extension (a "." in
// the file name, not at its start) replaced by ".dmp", or ".dmp" appended;
// "quilbrem.dmp" (in the current directory) when the path is empty.
std::string crashDumpPath(std::string_view executablePath);

// --- Exposed for tests. ---

inline constexpr std::size_t kCrashTextSize = 520;

// Formats `pattern` into `out`, replacing "%s" by `path` and "%d" by `code`
// in decimal, cut to fit with a terminating NUL. Signal-safe.
void formatCrashText(std::span<char, kCrashTextSize> out, const char* pattern, const char* path,
                     int code) noexcept;

}  // namespace crash
