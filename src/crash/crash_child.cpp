// Test-only program for crash_tests: installs the crash handler, then dies
// the way its first argument says. A second argument "custom" installs a
// reporting function that writes "Reported: " + text to standard error;
// otherwise the handler's own fallback (no reporting function) is used.
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "crash/crash_handler.h"
#include "error/check.h"
#include "os/signal_safe_io.h"
#include "os/signals.h"

namespace {

void reportToStderr(const char* text) {
  std::size_t n = 0;
  while (text[n] != '\0') ++n;
  int error = 0;
  if (!os::signalSafeWrite(os::kStandardError, "Reported: ", 10, error)) return;
  if (!os::signalSafeWrite(os::kStandardError, text, n, error)) return;
  (void)os::signalSafeWrite(os::kStandardError, "\n", 1, error);  // the last step either way
}

// Each frame keeps a buffer alive and uses the callee's result, so the
// recursion can be neither flattened nor turned into a loop.
int overflowStack(volatile char* previous, int depth) {
  volatile char frame[512];
  frame[0] = static_cast<char>(depth);
  frame[1] = previous != nullptr ? previous[0] : 0;
  if (depth < 0) return frame[1];
  return overflowStack(frame, depth + 1) + frame[1];
}

// Read at run time so that the compiler cannot see the bad write coming.
volatile std::uintptr_t faultAddress = 16;

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string_view how = argv[1];
  const bool custom = argc > 2 && std::string_view(argv[2]) == "custom";
  crash::installCrashHandler(custom ? reportToStderr : nullptr);
  if (how == "write") *reinterpret_cast<volatile int*>(faultAddress) = 1;
  if (how == "abort") std::abort();
  if (how == "check") HX_CHECK(argc < 0, "crash child check");
  if (how == "overflow") return overflowStack(nullptr, 0);
  if (how == "trap") __builtin_trap();
  if (how == "bus") os::raiseSignal(SIGBUS);
  if (how == "fpe") os::raiseSignal(SIGFPE);
  return 3;
}
