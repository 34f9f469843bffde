#include "sim/names.h"

#include <algorithm>
#include <array>

#include "error/check.h"
#include "tql/schema.h"

namespace sim {

namespace {

constexpr std::array<KindInfo, 12> kKinds = {{
    {Kind::domain, tql::cls::Domain, "domain", "domains", "domain"},
    {Kind::node, tql::cls::Node, "node", "nodes", "node"},
    {Kind::group, tql::cls::CheckGroup, "group", "groups", "check group"},
    {Kind::check, tql::cls::Check, "check", "checks", "check"},
    {Kind::accumulation, tql::cls::CheckAccumulation, "accumulation", "accumulations",
     "check accumulation"},
    {Kind::domainExport, tql::cls::DomainExport, "export", "exports", "domain export"},
    {Kind::plan, tql::cls::Plan, "plan", "plans", "plan"},
    {Kind::unexpectedEvent, tql::cls::UnexpectedEvent, "unexpected", "unexpected",
     "unexpected downtime event"},
    {Kind::expectedEvent, tql::cls::ExpectedEvent, "expected", "expected",
     "expected downtime event"},
    {Kind::weekPlanner, tql::cls::WeekPlanner, "weekly", "weekly", "week planner"},
    {Kind::dayPlanner, tql::cls::DayPlanner, "day", "days", "day planner"},
    {Kind::planEvent, tql::cls::Event, "event", "events", "planner entry"},
}};

constexpr Kind kDomainChildren[] = {Kind::domain, Kind::node, Kind::domainExport, Kind::plan};
constexpr Kind kNodeChildren[] = {Kind::group, Kind::check, Kind::plan};
constexpr Kind kGroupChildren[] = {Kind::group, Kind::check};
constexpr Kind kCheckChildren[] = {Kind::accumulation, Kind::plan};
constexpr Kind kPlanChildren[] = {Kind::unexpectedEvent, Kind::expectedEvent, Kind::weekPlanner};
constexpr Kind kWeekChildren[] = {Kind::dayPlanner};
constexpr Kind kDayChildren[] = {Kind::planEvent};

constexpr std::array<const char*, 14> kStatusNames = {
    "NA",
    "GOOD",
    "GOOD (downtime)",
    "GOOD (explained)",
    "UNKNOWN (downtime)",
    "UNKNOWN (explained)",
    "WARN (downtime)",
    "WARN (explained)",
    "ALERT (downtime)",
    "ALERT (explained)",
    "UNINITIALIZED",
    "UNKNOWN",
    "WARN",
    "ALERT",
};

constexpr std::array<const char*, 4> kStateNames = {"good", "unknown", "warn", "alert"};

}  // namespace

const KindInfo& kindInfo(Kind kind) {
  for (const KindInfo& info : kKinds) {
    if (info.kind == kind) return info;
  }
  error::assertionFailed("Kind without an entry in the kind table");
}

std::span<const KindInfo> allKinds() { return kKinds; }

std::optional<Kind> kindByKey(std::string_view singular) {
  for (const KindInfo& info : kKinds) {
    if (singular == info.key) return info.kind;
  }
  return std::nullopt;
}

std::optional<Kind> kindByPlural(std::string_view plural) {
  for (const KindInfo& info : kKinds) {
    if (plural == info.plural) return info.kind;
  }
  return std::nullopt;
}

std::span<const Kind> childKinds(Kind parent) {
  switch (parent) {
    case Kind::domain:
      return kDomainChildren;
    case Kind::node:
      return kNodeChildren;
    case Kind::group:
      return kGroupChildren;
    case Kind::check:
    case Kind::accumulation:
      return kCheckChildren;
    case Kind::plan:
      return kPlanChildren;
    case Kind::weekPlanner:
      return kWeekChildren;
    case Kind::dayPlanner:
      return kDayChildren;
    case Kind::domainExport:
    case Kind::unexpectedEvent:
    case Kind::expectedEvent:
    case Kind::planEvent:
      return {};
  }
  return {};
}

bool mayContain(Kind parent, Kind child) {
  const std::span<const Kind> kinds = childKinds(parent);
  return std::find(kinds.begin(), kinds.end(), child) != kinds.end();
}

bool hasStatus(Kind kind) {
  return kind == Kind::node || kind == Kind::check || kind == Kind::accumulation ||
         kind == Kind::domainExport;
}

std::optional<std::uint32_t> stateByName(std::string_view name) {
  for (std::uint32_t s = 0; s < kStateNames.size(); ++s) {
    if (name == kStateNames[s]) return s;
  }
  return std::nullopt;
}

std::string stateName(std::uint32_t state) {
  if (state < kStateNames.size()) return kStateNames[state];
  return "state " + std::to_string(state);
}

std::string statusName(std::uint32_t status) {
  if (status < kStatusNames.size()) return kStatusNames[status];
  return "(other " + std::to_string(status) + ")";
}

std::optional<std::uint32_t> statusByName(std::string_view name) {
  for (std::uint32_t s = 0; s < kStatusNames.size(); ++s) {
    if (name == kStatusNames[s]) return s;
  }
  return std::nullopt;
}

int statusSeverity(std::uint32_t status) {
  switch (status) {
    case 4:
    case 5:
    case 10:
    case 11:
      return 1;
    case 6:
    case 7:
    case 12:
      return 2;
    case 8:
    case 9:
    case 13:
      return 3;
    default:
      return 0;
  }
}

}  // namespace sim
