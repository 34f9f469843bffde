#pragma once
// Splitting this process in two, for tests that need a real sibling process
// sharing what this one has already set up (a pool, published pipes).

namespace os {

// fork(2): 0 in the new process, its pid in this one. Throws
// error::ESystemError when the system refuses.
[[nodiscard]] int forkProcess();

}  // namespace os
