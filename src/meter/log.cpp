#include "meter/log.h"

#include <cstdio>

namespace meter {
namespace {

struct LogState {
  LogSink* sink = nullptr;
  int indent = 0;
  std::string stop_on_log_match;
};

LogState& state() {
  static LogState s;
  return s;
}

void writeStandardError(std::string_view text) {
  std::string line;
  line.reserve(text.size() + 6);
  line.append("Log: ").append(text).push_back('\n');
  // One write, so the line does not interleave with other output.
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

}  // namespace

LogSink* setLogSink(LogSink* sink) {
  LogSink* previous = state().sink;
  state().sink = sink;
  return previous;
}

void log(std::string_view text, std::uint32_t level) {
  if (!logEnabled(level)) return;
  LogState& s = state();
  std::string indented;
  if (s.indent > 0) {
    indented.assign(static_cast<std::size_t>(s.indent) * 2, ' ');
    indented.append(text);
    text = indented;
  }
  if (s.sink != nullptr) {
    s.sink->writeLog(text, level);
    return;
  }
  writeStandardError(text);
}

LogIndent::LogIndent() { ++state().indent; }
LogIndent::~LogIndent() { --state().indent; }

void setStopOnLogMatch(std::string text) { state().stop_on_log_match = std::move(text); }
const std::string& stopOnLogMatch() { return state().stop_on_log_match; }

}  // namespace meter
