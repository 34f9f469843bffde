#pragma once
// The alarm workload the end-to-end benchmarks share: nodes of 10 checks
// each, then one IMMEDIATE_STATE per result, result i going to check
// i mod N. Round r (results r*N to r*N+N-1) gives every check the state
// kRound[r mod 10]: alert, good, warn, good, unknown, good, alert, alert,
// good, good. From the second round on, 8 rounds in 10 change each check's
// status, and every change is notified (incident log, status store, status
// change notification). The steady workload sends unknown over and over,
// which keeps every check uninitialized: no status changes at all.
#include <algorithm>
#include <cstdint>
#include <string>

#include "testkit/tree.h"

namespace workload {

constexpr std::uint32_t kChecksPerNode = 10;
// Check states: 0 good, 1 unknown, 2 warning, 3 alert.
constexpr std::int32_t kRound[10] = {3, 0, 2, 0, 1, 0, 3, 3, 0, 0};
constexpr std::int32_t kSteadyState = 1;

enum class Results { none, changing, steady };

inline tql::id_t checkId(std::uint32_t c) { return {2, c}; }

// The root domain with checks / 10 nodes of 10 checks.
inline tql::object_ptr tree(std::uint32_t checks) {
  tql::object_ptr root = testkit::domain({0, 1});
  const std::uint32_t nodes = checks / kChecksPerNode;
  for (std::uint32_t n = 0; n < nodes; ++n) {
    tql::object_ptr nd = testkit::node({1, n});
    for (std::uint32_t i = 0; i < kChecksPerNode; ++i) {
      testkit::CheckSpec desc;
      desc.label = "check " + std::to_string(n * kChecksPerNode + i);
      nd->children.push_back(testkit::check(checkId(n * kChecksPerNode + i), desc));
    }
    root->children.push_back(std::move(nd));
  }
  return root;
}

// The state of result i.
inline std::int32_t stateOf(Results kind, std::uint32_t checks, std::uint64_t i) {
  return kind == Results::steady ? kSteadyState : kRound[(i / checks) % 10];
}

// Status changes the workload makes: every check's first state changes its
// status from uninitialized; later rounds change it when the state differs
// from the round before.
inline std::uint64_t expectedChanges(std::uint32_t checks, std::uint64_t count) {
  std::uint64_t changes = 0;
  for (std::uint64_t begin = 0, r = 0; begin < count; begin += checks, ++r) {
    const std::uint64_t inRound = std::min<std::uint64_t>(checks, count - begin);
    if (r == 0 || kRound[r % 10] != kRound[(r - 1) % 10]) changes += inRound;
  }
  return changes;
}

}  // namespace workload
