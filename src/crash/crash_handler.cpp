#include "crash/crash_handler.h"

#include <csignal>
#include <cstdint>

#include "os/backtrace.h"
#include "os/process_info.h"
#include "os/signal_safe_io.h"
#include "os/signals.h"
#include "os/syslog.h"

namespace crash {

namespace {

constexpr const char* kDumpWritten =
    "An application error has been detected. Please report this error and submit the dump "
    "file in '%s' along with your error report";
constexpr const char* kCreateFailed = "Failed to create dump file '%s' (error %d)";
constexpr const char* kSaveFailed = "Failed to save dump file to '%s' (error %d)";
constexpr const char* kFallbackDumpPath = "quilbrem.dmp";

constexpr int kCrashSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};

const char* signalName(int signal) {
  switch (signal) {
    case SIGSEGV:
      return "SIGSEGV";
    case SIGBUS:
      return "SIGBUS";
    case SIGILL:
      return "SIGILL";
    case SIGFPE:
      return "SIGFPE";
    case SIGABRT:
      return "SIGABRT";
    default:
      return "signal";
  }
}

// Everything the signal handler uses is prepared at installation and lives
// here, so the handler needs no allocation. Process-wide, like the signal
// dispositions it serves.
struct CrashState {
  CrashReportFunction report = nullptr;
  char dumpPath[4096] = {};
  char text[kCrashTextSize] = {};
  volatile std::sig_atomic_t handling = 0;
};

CrashState& crashState() {
  static CrashState state;
  return state;
}

// Digits of `value` in `base`, most significant first, into `out` (at least
// 24 bytes); returns the count.
std::size_t formatNumber(char* out, std::uintmax_t value, unsigned base) {
  char reversed[24];
  std::size_t n = 0;
  do {
    reversed[n++] = "0123456789abcdef"[value % base];
    value /= base;
  } while (value != 0);
  for (std::size_t i = 0; i < n; ++i) out[i] = reversed[n - 1 - i];
  return n;
}

// A signed decimal into `out` (at least 25 bytes); returns the count.
std::size_t formatDecimal(char* out, long long value) {
  if (value >= 0) return formatNumber(out, static_cast<std::uintmax_t>(value), 10);
  out[0] = '-';
  return 1 + formatNumber(out + 1, 0 - static_cast<std::uintmax_t>(value), 10);
}

// Writes the report file piece by piece, remembering the first failure.
class ReportWriter {
 public:
  explicit ReportWriter(int fd) : fd_(fd) {}

  ReportWriter& text(const char* s) {
    std::size_t n = 0;
    while (s[n] != '\0') ++n;
    return bytes(s, n);
  }
  ReportWriter& decimal(long long value) {
    char digits[26];
    return bytes(digits, formatDecimal(digits, value));
  }
  ReportWriter& hex(std::uintptr_t value) {
    char digits[26] = {'0', 'x'};
    return bytes(digits, 2 + formatNumber(digits + 2, value, 16));
  }
  ReportWriter& copyOf(const char* path) {
    if (ok_) ok_ = os::signalSafeCopy(path, fd_, error_);
    return *this;
  }
  ReportWriter& backtrace() {
    if (ok_) os::writeBacktrace(fd_);
    return *this;
  }
  bool ok() const { return ok_; }
  int error() const { return error_; }

 private:
  ReportWriter& bytes(const char* data, std::size_t size) {
    if (ok_) ok_ = os::signalSafeWrite(fd_, data, size, error_);
    return *this;
  }

  int fd_;
  bool ok_ = true;
  int error_ = 0;
};

bool writeReport(int fd, const os::SignalInfo& info, int& error) {
  ReportWriter out(fd);
  out.text("Halcyx crash report\nSignal: ").text(signalName(info.signal)).text(" (");
  out.decimal(info.signal).text(")\nCode: ").decimal(info.code).text("\nAddress: ");
  if (info.hasAddress) {
    out.hex(reinterpret_cast<std::uintptr_t>(info.address));
  } else {
    out.text("none");
  }
  out.text("\nProcess: ").decimal(os::currentProcessId()).text("\nBacktrace:\n").backtrace();
  // The memory map turns the backtrace's addresses into module offsets.
  out.text("Memory map:\n").copyOf("/proc/self/maps");
  error = out.error();
  return out.ok();
}

void report(const char* text) {
  const CrashReportFunction function = crashState().report;
  if (function != nullptr) {
    function(text);
    return;
  }
  ReportWriter(os::kStandardError).text("Dump generated: ").text(text).text("\n");
}

void onCrash(const os::SignalInfo& info) {
  CrashState& state = crashState();
  if (state.handling != 0) {
    // A second crash signal while reporting the first: just die of it.
    os::restoreDefaultSignalAction(info.signal);
    os::raiseSignal(info.signal);
    return;
  }
  state.handling = 1;
  int error = 0;
  const int fd = os::signalSafeCreate(state.dumpPath, error);
  if (fd < 0) {
    formatCrashText(state.text, kCreateFailed, state.dumpPath, error);
  } else {
    const bool written = writeReport(fd, info, error);
    os::signalSafeClose(fd);
    formatCrashText(state.text, written ? kDumpWritten : kSaveFailed, state.dumpPath, error);
  }
  report(state.text);
  os::restoreDefaultSignalAction(info.signal);
  os::raiseSignal(info.signal);
}

}  // namespace

void reportCrashToSyslog(const char* text) noexcept { os::sendToSyslog("Halcyx", text); }

std::string crashDumpPath(std::string_view executablePath) {
  if (executablePath.empty()) return kFallbackDumpPath;
  const std::size_t slash = executablePath.rfind('/');
  const std::size_t nameStart = slash == std::string_view::npos ? 0 : slash + 1;
  const std::size_t dot = executablePath.rfind('.');
  if (dot != std::string_view::npos && dot > nameStart)
    executablePath = executablePath.substr(0, dot);
  return std::string(executablePath) + ".dmp";
}

void installCrashHandler(CrashReportFunction reportFunction) {
  CrashState& state = crashState();
  std::string path = crashDumpPath(os::executablePath());
  if (path.size() >= sizeof state.dumpPath) path = kFallbackDumpPath;
  path.copy(state.dumpPath, path.size());
  state.dumpPath[path.size()] = '\0';
  state.report = reportFunction;
  os::prepareBacktrace();
  os::useAlternateSignalStack();
  for (const int signal : kCrashSignals) os::handleFatalSignal(signal, onCrash);
}

void formatCrashText(std::span<char, kCrashTextSize> out, const char* pattern, const char* path,
                     int code) noexcept {
  std::size_t n = 0;
  const std::size_t limit = out.size() - 1;  // room for the NUL
  auto put = [&](char c) {
    if (n < limit) out[n++] = c;
  };
  for (const char* p = pattern; *p != '\0'; ++p) {
    if (p[0] == '%' && p[1] == 's') {
      for (const char* s = path; *s != '\0'; ++s) put(*s);
      ++p;
    } else if (p[0] == '%' && p[1] == 'd') {
      char digits[26];
      const std::size_t count = formatDecimal(digits, code);
      for (std::size_t i = 0; i < count; ++i) put(digits[i]);
      ++p;
    } else {
      put(*p);
    }
  }
  out[n] = '\0';
}

}  // namespace crash
