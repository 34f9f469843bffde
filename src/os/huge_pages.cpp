#include "os/huge_pages.h"

#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string_view>

#include "os/process_info.h"

namespace os {
namespace {

constexpr std::string_view kTunable = "glibc.malloc.hugetlb";

// Transparent huge pages for memory that asks for them: the kernel's mode
// is "always" or "madvise" (the file reads e.g. "always [madvise] never").
bool systemOffersHugePages() {
  std::ifstream in("/sys/kernel/mm/transparent_hugepage/enabled");
  std::string modes;
  std::getline(in, modes);
  return modes.find("[always]") != std::string::npos ||
         modes.find("[madvise]") != std::string::npos;
}

}  // namespace

std::optional<std::string> tunablesWithHugePageHeap(const char* current) {
  const std::string_view value = current == nullptr ? std::string_view() : current;
  // Tunables are name=value pairs separated by colons.
  for (std::size_t at = 0; at <= value.size();) {
    const std::size_t end = std::min(value.find(':', at), value.size());
    const std::string_view pair = value.substr(at, end - at);
    if (pair.substr(0, pair.find('=')) == kTunable) return std::nullopt;
    at = end + 1;
  }
  std::string tunables(value);
  if (!tunables.empty()) tunables += ':';
  tunables += kTunable;
  tunables += "=1";
  return tunables;
}

void restartWithHugePageHeap(char** argv) noexcept {
  try {
    const std::optional<std::string> tunables =
        tunablesWithHugePageHeap(std::getenv("GLIBC_TUNABLES"));
    if (!tunables || !systemOffersHugePages()) return;
    // The executable's own path, so that the process keeps its name.
    const std::string program = executablePath();
    if (program.empty()) return;
    if (::setenv("GLIBC_TUNABLES", tunables->c_str(), 1) != 0) return;
    ::execv(program.c_str(), argv);
  } catch (...) {
    // Out of memory before anything has happened: go on as it is.
  }
}

void growHeapInLargeSteps() noexcept {
  // Only a speed setting: should the library refuse it, the heap grows as
  // it did.
  ::mallopt(M_TOP_PAD, static_cast<int>(kHeapGrowthStep));
}

}  // namespace os
