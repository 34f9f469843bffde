#include "sim/role_record.h"

#include <array>
#include <nlohmann/json.hpp>
#include <utility>

#include "error/exception.h"
#include "queues/devent.h"

namespace sim {

namespace {

using Json = nlohmann::json;

constexpr std::array<std::pair<RoleRecord::Kind, const char*>, 4> kKinds{{
    {RoleRecord::Kind::action, "action"},
    {RoleRecord::Kind::problem, "problem"},
    {RoleRecord::Kind::start, "start"},
    {RoleRecord::Kind::perform, "perform"},
}};

[[noreturn]] void refuse(const std::string& text, const std::string& why) {
  throw error::EFatal("not a role record (" + why + "): " + text);
}

const Json& member(const Json& j, const char* name, Json::value_t type, const std::string& text) {
  const auto it = j.find(name);
  if (it == j.end()) refuse(text, std::string("no \"") + name + "\"");
  const bool number = type == Json::value_t::number_float;
  if (number ? !it->is_number() : it->type() != type) {
    refuse(text, std::string("\"") + name + "\" is not a " + (number ? "number" : "text"));
  }
  return *it;
}

std::int32_t wholeNumber(const Json& j, const char* name, const std::string& text) {
  const Json& v = member(j, name, Json::value_t::number_float, text);
  if (!v.is_number_integer()) refuse(text, std::string("\"") + name + "\" is not whole");
  return v.get<std::int32_t>();
}

}  // namespace

std::string recordText(const RoleRecord& record) {
  Json j;
  for (const auto& [kind, name] : kKinds) {
    if (kind == record.kind) j["record"] = name;
  }
  switch (record.kind) {
    case RoleRecord::Kind::action:
    case RoleRecord::Kind::problem:
      j["t"] = record.t;
      j["text"] = record.text;
      break;
    case RoleRecord::Kind::start:
      j["sec"] = record.start.sec;
      j["usec"] = record.start.usec;
      break;
    case RoleRecord::Kind::perform:
      j["action"] = record.action;
      break;
  }
  // Texts that are not UTF-8 keep the record readable: bad bytes become U+FFFD.
  return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

RoleRecord parseRecord(const std::string& text) {
  const Json j = Json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (!j.is_object()) refuse(text, "not a JSON object");
  const std::string name = member(j, "record", Json::value_t::string, text).get<std::string>();
  RoleRecord record;
  bool known = false;
  for (const auto& [kind, kindName] : kKinds) {
    if (name == kindName) {
      record.kind = kind;
      known = true;
    }
  }
  if (!known) refuse(text, "unknown kind \"" + name + "\"");
  switch (record.kind) {
    case RoleRecord::Kind::action:
    case RoleRecord::Kind::problem:
      record.t = member(j, "t", Json::value_t::number_float, text).get<double>();
      record.text = member(j, "text", Json::value_t::string, text).get<std::string>();
      break;
    case RoleRecord::Kind::start: {
      const std::int32_t usec = wholeNumber(j, "usec", text);
      if (usec < 0 || usec > 999999) refuse(text, "\"usec\" out of range");
      record.start = htime::usec_time(wholeNumber(j, "sec", text), usec);
      break;
    }
    case RoleRecord::Kind::perform:
      record.action = member(j, "action", Json::value_t::string, text).get<std::string>();
      break;
  }
  return record;
}

queues::EventPtr recordEvent(const RoleRecord& record, queues::queue_t dest) {
  return std::make_unique<queues::devent_t<queues::SYSTEM_LOG_REQUEST>>(
      dest, 0, control::Log_Request_Data{recordText(record), 0});
}

bool isRecord(const queues::event& ev) { return ev.type == queues::SYSTEM_LOG_REQUEST; }

RoleRecord readRecord(const queues::event& ev) {
  const auto* log = dynamic_cast<const queues::devent_t<queues::SYSTEM_LOG_REQUEST>*>(&ev);
  if (log == nullptr) {
    throw error::EFatal("not a role record: a " + queues::eventName(ev.type) + " event");
  }
  return parseRecord(log->data.msg);
}

}  // namespace sim
