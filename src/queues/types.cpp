#include "queues/types.h"

#include <array>

namespace queues {

namespace {

constexpr std::array<const char*, INVALID_TAIL + 1> makeEventNames() {
  std::array<const char*, INVALID_TAIL + 1> names{};
  names[INVALID_HEAD] = "INVALID_HEAD";
#define HX_EVENT_NAME(number, name) names[number] = #name;
  HX_EVENT_TYPES(HX_EVENT_NAME)
#undef HX_EVENT_NAME
  names[INVALID_TAIL] = "INVALID_TAIL";
  return names;
}

constexpr std::array<const char*, INVALID_TAIL + 1> kEventNames = makeEventNames();

constexpr std::array<const char*, kQueueCount> kQueueNames = {
    "main", "schd", "dbms", "rmch", "skio", "alrm", "alrt", "snmp", "brdc", "bnch", "port", "keyg",
    "rept", "forc", "kngt", "nets", "grid", "ncup", "gmas", "gsat", "tsdb", "upln", "extra"};

}  // namespace

std::string eventName(event_t type) {
  if (type >= INVALID_HEAD && type <= INVALID_TAIL && kEventNames[type] != nullptr) {
    return kEventNames[type];
  }
  return "(event_t)" + std::to_string(static_cast<std::int32_t>(type));
}

std::string queueName(queue_t queue) {
  if (queue == QUEUE_NONE) return "none";
  if (queue >= 0 && static_cast<std::size_t>(queue) < kQueueCount) return kQueueNames[queue];
  std::string text = std::to_string(static_cast<std::uint32_t>(queue));
  if (text.size() < 4) text.insert(0, 4 - text.size(), 'x');
  return text;
}

}  // namespace queues
