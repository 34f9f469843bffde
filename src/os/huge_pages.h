#pragma once
// The C library's heap in transparent huge pages. A mirror of a million
// checks is hundreds of megabytes of small heap objects; in 4 KiB pages,
// touching each new page for the first time (a page fault) and the address
// translation misses of the lookups that follow cost more than the work on
// the objects themselves. The C library backs its heap with huge pages when
// its tunable glibc.malloc.hugetlb is 1, which it reads from the
// environment variable GLIBC_TUNABLES at start-up only: a program that
// wants it restarts itself with the variable set.
#include <cstddef>
#include <optional>
#include <string>

namespace os {

// The tunable "glibc.malloc.hugetlb=1" added to `current`, the value of
// GLIBC_TUNABLES (null when unset); none when `current` already sets
// glibc.malloc.hugetlb, whatever to: the user's own choice stays.
[[nodiscard]] std::optional<std::string> tunablesWithHugePageHeap(const char* current);

// Runs this program again in the same process (the same executable,
// arguments and open descriptors; the environment plus the tunable) unless
// GLIBC_TUNABLES already sets glibc.malloc.hugetlb, the system offers no
// transparent huge pages, or the executable cannot be found. Call first
// thing in main, before anything else has happened. Returns when there was
// nothing to do or the restart failed: the program then goes on as it is.
void restartWithHugePageHeap(char** argv) noexcept;

// The C library grows its heap by this much beyond what an allocation
// needs (its own default is 128 KiB). Address space only: a page costs
// memory once it is touched.
inline constexpr std::size_t kHeapGrowthStep = 32 << 20;

// Makes the heap grow in steps of kHeapGrowthStep. Building a mirror of
// 100,000 checks (about 95 MB of small objects) took a fifth less time
// with 32 MiB steps than with the default, nearly all of it the kernel's
// work on fresh memory; the steady work afterwards does not change.
void growHeapInLargeSteps() noexcept;

}  // namespace os
