#pragma once
// Log lines of the process. A line goes to the installed sink (the child
// queue, which forwards it to the main process) or, before there is one, to
// standard error after "Log: ".
//
// Level 0 lines are always written. Any other level is a set of debug bits
// (kAlarmDebug for the alarm driver and the keepers, 2 for the subscription
// code); such a line is written only when one of its bits is set in the log
// mask. Build
// debug lines with HX_LOG_DEBUG so that a disabled line costs one test of the
// mask and no formatting at all.
#include <cstdint>
#include <string>
#include <string_view>

namespace meter {

// The debug bit of the alarm driver and the keepers.
inline constexpr std::uint32_t kAlarmDebug = 32;

namespace detail {
inline std::uint32_t log_mask = 0;
}  // namespace detail

inline std::uint32_t logMask() { return detail::log_mask; }
inline void setLogMask(std::uint32_t mask) { detail::log_mask = mask; }
inline bool logEnabled(std::uint32_t level) {
  return level == 0 || (detail::log_mask & level) != 0;
}

// Where log lines go once the process can send them.
class LogSink {
 public:
  virtual ~LogSink() = default;
  virtual void writeLog(std::string_view text, std::uint32_t level) = 0;
};

// The sink is not owned; null goes back to standard error. Returns the
// previous sink.
LogSink* setLogSink(LogSink* sink);

// Writes the line (indented by two spaces per open LogIndent) when its level
// is enabled.
void log(std::string_view text, std::uint32_t level);

// Indents every line logged while it lives by two more spaces.
class LogIndent {
 public:
  LogIndent();
  ~LogIndent();
  LogIndent(const LogIndent&) = delete;
  LogIndent& operator=(const LogIndent&) = delete;
};

// The configured "stop on log match" text. It is kept for diagnostics and has
// no effect on logging.
void setStopOnLogMatch(std::string text);
const std::string& stopOnLogMatch();

}  // namespace meter

// HX_LOG_DEBUG(level, text-expression): evaluates the text only when the
// level is enabled.
#define HX_LOG_DEBUG(level, ...)                                          \
  do {                                                                    \
    if (::meter::logEnabled(level)) ::meter::log((__VA_ARGS__), (level)); \
  } while (false)
