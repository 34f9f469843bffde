#pragma once
// The vocabulary the simulator shares with its users: the kinds of objects a
// scenario's tree holds (with their database classes and the names they go
// by in a scenario file), check states, and readable names for every status
// code, the downtime and explained variants included.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace sim {

enum class Kind {
  domain,
  node,
  group,
  check,
  accumulation,
  domainExport,
  plan,
  unexpectedEvent,
  expectedEvent,
  weekPlanner,
  dayPlanner,
  planEvent,
};

struct KindInfo {
  Kind kind;
  std::uint32_t classNumber;
  const char* key;     // singular, as in an "add" action: "check"
  const char* plural;  // the member that lists children of this kind: "checks"
  const char* title;   // for messages: "check"
};

const KindInfo& kindInfo(Kind kind);
std::span<const KindInfo> allKinds();
std::optional<Kind> kindByKey(std::string_view singular);
std::optional<Kind> kindByPlural(std::string_view plural);

// The kinds an object of `parent` kind may have as children, in the order
// their lists appear in a scenario file.
std::span<const Kind> childKinds(Kind parent);
bool mayContain(Kind parent, Kind child);

// Objects whose status the alarm process computes: nodes, checks, check
// accumulations and domain exports.
bool hasStatus(Kind kind);

// Check states: "good" 0, "unknown" 1, "warn" 2, "alert" 3.
std::optional<std::uint32_t> stateByName(std::string_view name);
std::string stateName(std::uint32_t state);

// A readable name for every status code: "GOOD", "WARN", "ALERT (downtime)",
// "UNKNOWN (explained)", "NA" for 0; "(other N)" outside 0 to 13.
std::string statusName(std::uint32_t status);
std::optional<std::uint32_t> statusByName(std::string_view name);

// How bad a status is, for colouring: 0 none/good, 1 unknown, 2 warn,
// 3 alert, whatever the downtime or explanation.
int statusSeverity(std::uint32_t status);

}  // namespace sim
