#include "sim/scenario.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>

#include "events/event_json.h"
#include "sim/object_tree.h"
#include "tql/schema.h"

namespace sim {

PropertySpec::PropertySpec(const PropertySpec& other)
    : dependsOn(other.dependsOn), relative(other.relative) {
  for (const auto& [number, p] : other.values) values.emplace(number, p->clone());
}

PropertySpec& PropertySpec::operator=(const PropertySpec& other) {
  if (this != &other) *this = PropertySpec(other);
  return *this;
}

namespace {

using events::childPointer;
using events::shortText;

[[noreturn]] void fail(const std::string& at, const std::string& problem) {
  throw EAtPlace(at, problem);
}

[[noreturn]] void expected(const std::string& at, const std::string& what, const Json& found) {
  fail(at, "expected " + what + ", found " + shortText(found));
}

// --- The properties each kind of object carries ---

enum class Form {
  boolean,       // true / false
  text,          // a string
  uinteger,      // an unsigned number, or null
  integer,       // a signed 32-bit number
  objects,       // a list of object paths (dependsOn)
  strategy,      // "state" (0), "score" (1) or a number: the alertStrategy enum
  relativeDate,  // seconds after the start: a date property
  relativeInt,   // seconds after the start: an int property holding an epoch time
  timeOfDay,     // seconds after midnight or "HH:MM[:SS]"
  weekday,       // "monday" ... "sunday"
};

// `defaultValue`: JSON text of the default; "=label" copies the object's
// label; nullptr makes the key required.
struct PropertyKey {
  Kind kind;
  const char* key;
  std::uint32_t property;
  Form form;
  const char* defaultValue;
};

constexpr std::uint32_t kStrategyEnumType = 0;  // enum type of alertStrategy

// clang-format off
constexpr PropertyKey kPropertyKeys[] = {
    {Kind::domain, "dependsOn", tql::prop::dependsOn, Form::objects, "[]"},
    {Kind::domain, "stationLocale", tql::prop::stationLocale, Form::uinteger, "null"},

    {Kind::node, "checkinFrequency", tql::prop::checkinFrequency, Form::uinteger, "300"},
    {Kind::node, "alertStrategy", tql::prop::alertStrategy, Form::strategy, "0"},
    {Kind::node, "acknowledgeAlerts", tql::prop::acknowledgeAlerts, Form::boolean, "false"},
    {Kind::node, "checkinScore", tql::prop::checkinScore, Form::integer, "-20"},
    {Kind::node, "missedCheckinScore", tql::prop::missedCheckinScore, Form::integer, "20"},
    {Kind::node, "warn", tql::prop::warn, Form::integer, "50"},
    {Kind::node, "alert", tql::prop::alert, Form::integer, "100"},
    {Kind::node, "warnCeiling", tql::prop::warnCeiling, Form::integer, "80"},
    {Kind::node, "alertCeiling", tql::prop::alertCeiling, Form::integer, "150"},
    {Kind::node, "dependsOn", tql::prop::dependsOn, Form::objects, "[]"},
    {Kind::node, "stationLocale", tql::prop::stationLocale, Form::uinteger, "null"},

    {Kind::group, "siblingName", tql::prop::siblingName, Form::text, "=label"},

    {Kind::check, "active", tql::prop::active, Form::boolean, "true"},
    {Kind::check, "longLabel", tql::prop::longLabel, Form::text, "=label"},
    {Kind::check, "alertStrategy", tql::prop::alertStrategy, Form::strategy, "0"},
    {Kind::check, "acknowledgeAlerts", tql::prop::acknowledgeAlerts, Form::boolean, "false"},
    {Kind::check, "goodScore", tql::prop::goodScore, Form::integer, "-20"},
    {Kind::check, "warnScore", tql::prop::warnScore, Form::integer, "10"},
    {Kind::check, "alertScore", tql::prop::alertScore, Form::integer, "20"},
    {Kind::check, "dependsOn", tql::prop::dependsOn, Form::objects, "[]"},
    {Kind::check, "stationLocale", tql::prop::stationLocale, Form::uinteger, "null"},
    {Kind::check, "checkType", tql::prop::checkType, Form::uinteger, "0"},

    {Kind::domainExport, "gid", tql::prop::gid, Form::uinteger, nullptr},
    {Kind::domainExport, "alertStrategy", tql::prop::alertStrategy, Form::strategy, "0"},
    {Kind::domainExport, "acknowledgeAlerts", tql::prop::acknowledgeAlerts, Form::boolean, "false"},
    {Kind::domainExport, "warn", tql::prop::warn, Form::integer, "50"},
    {Kind::domainExport, "alert", tql::prop::alert, Form::integer, "100"},
    {Kind::domainExport, "warnCeiling", tql::prop::warnCeiling, Form::integer, "80"},
    {Kind::domainExport, "alertCeiling", tql::prop::alertCeiling, Form::integer, "150"},
    {Kind::domainExport, "goodScore", tql::prop::goodScore, Form::integer, "-20"},
    {Kind::domainExport, "warnScore", tql::prop::warnScore, Form::integer, "10"},
    {Kind::domainExport, "alertScore", tql::prop::alertScore, Form::integer, "20"},

    {Kind::unexpectedEvent, "active", tql::prop::active, Form::boolean, "true"},
    {Kind::unexpectedEvent, "comment", tql::prop::comment, Form::text, "\"\""},
    {Kind::unexpectedEvent, "until", tql::prop::endTime, Form::relativeDate, nullptr},

    {Kind::expectedEvent, "active", tql::prop::active, Form::boolean, "true"},
    {Kind::expectedEvent, "comment", tql::prop::comment, Form::text, "\"\""},
    {Kind::expectedEvent, "from", tql::prop::startTime, Form::relativeInt, nullptr},
    {Kind::expectedEvent, "until", tql::prop::endTime, Form::relativeDate, nullptr},

    {Kind::dayPlanner, "day", tql::prop::name, Form::weekday, nullptr},

    {Kind::planEvent, "active", tql::prop::active, Form::boolean, "true"},
    {Kind::planEvent, "comment", tql::prop::comment, Form::text, "\"\""},
    {Kind::planEvent, "start", tql::prop::startTime, Form::timeOfDay, nullptr},
    {Kind::planEvent, "duration", tql::prop::duration, Form::integer, nullptr},
};
// clang-format on

constexpr const char* kWeekdays[] = {"sunday",   "monday", "tuesday", "wednesday",
                                     "thursday", "friday", "saturday"};

// Accumulations carry the same properties as checks.
Kind propertyKind(Kind kind) { return kind == Kind::accumulation ? Kind::check : kind; }

const PropertyKey* findKey(Kind kind, std::string_view key) {
  for (const PropertyKey& k : kPropertyKeys) {
    if (k.kind == propertyKind(kind) && key == k.key) return &k;
  }
  return nullptr;
}

template <class T>
T integerIn(const Json& j, const std::string& at) {
  using Limits = std::numeric_limits<T>;
  const std::string range = "a whole number from " + std::to_string(Limits::min()) + " to " +
                            std::to_string(Limits::max());
  if (j.is_number_unsigned()) {
    const auto v = j.get<std::uint64_t>();
    if (v > static_cast<std::uint64_t>(Limits::max())) expected(at, range, j);
    return static_cast<T>(v);
  }
  if (j.is_number_integer()) {
    const auto v = j.get<std::int64_t>();
    if (v < static_cast<std::int64_t>(Limits::min()) ||
        (v > 0 && static_cast<std::uint64_t>(v) > static_cast<std::uint64_t>(Limits::max()))) {
      expected(at, range, j);
    }
    return static_cast<T>(v);
  }
  expected(at, range, j);
}

double secondsIn(const Json& j, const std::string& at) {
  if (!j.is_number() || !std::isfinite(j.get<double>()) || std::fabs(j.get<double>()) > 1e8) {
    expected(at, "a number of seconds", j);
  }
  return j.get<double>();
}

std::string textIn(const Json& j, const std::string& at) {
  if (!j.is_string()) expected(at, "a string", j);
  return j.get<std::string>();
}

bool booleanIn(const Json& j, const std::string& at) {
  if (!j.is_boolean()) expected(at, "true or false", j);
  return j.get<bool>();
}

std::uint32_t stateIn(const Json& j, const std::string& at) {
  if (j.is_string()) {
    if (auto s = stateByName(j.get_ref<const std::string&>())) return *s;
  } else if (j.is_number_integer()) {
    const auto v = integerIn<std::int64_t>(j, at);
    if (v >= 0 && v <= 3) return static_cast<std::uint32_t>(v);
  }
  expected(at, "a check state: \"good\", \"unknown\", \"warn\" or \"alert\"", j);
}

// "HH:MM" or "HH:MM:SS" as seconds after midnight.
std::optional<std::int32_t> clockTime(const std::string& text) {
  int h = 0, m = 0, s = 0;
  char extra = 0;
  const int n = std::sscanf(text.c_str(), "%2d:%2d:%2d%c", &h, &m, &s, &extra);
  if (n != 2 && n != 3) return std::nullopt;
  if (n == 2 && text.size() != 5 && text.size() != 4) return std::nullopt;
  if (h < 0 || h > 23 || m < 0 || m > 59 || s < 0 || s > 59) return std::nullopt;
  return h * 3600 + m * 60 + s;
}

void setValue(PropertySpec& desc, const PropertyKey& key, const Json& j, const std::string& at,
              const std::string& label) {
  const std::uint32_t number = key.property;
  switch (key.form) {
    case Form::boolean:
      desc.values[number] = std::make_unique<tql::property_boolean_t>(number, booleanIn(j, at));
      return;
    case Form::text:
      desc.values[number] = std::make_unique<tql::property_string_t>(
          number,
          j.is_string() && j.get_ref<const std::string&>() == "=label" ? label : textIn(j, at));
      return;
    case Form::uinteger: {
      auto p = std::make_unique<tql::property_uint_t>(number, 0);
      if (j.is_null()) {
        p->isNull = true;
      } else {
        p->value = integerIn<std::uint32_t>(j, at);
      }
      desc.values[number] = std::move(p);
      return;
    }
    case Form::integer:
      desc.values[number] =
          std::make_unique<tql::property_int_t>(number, integerIn<std::int32_t>(j, at));
      return;
    case Form::objects: {
      if (!j.is_array()) expected(at, "a list of object paths", j);
      std::vector<std::string> paths;
      for (std::size_t i = 0; i < j.size(); ++i) paths.push_back(textIn(j[i], childPointer(at, i)));
      desc.dependsOn = std::move(paths);
      return;
    }
    case Form::strategy: {
      std::uint32_t value = 0;
      if (j.is_string() && j.get_ref<const std::string&>() == "state") {
        value = 0;
      } else if (j.is_string() && j.get_ref<const std::string&>() == "score") {
        value = 1;
      } else if (j.is_number_integer()) {
        value = integerIn<std::uint32_t>(j, at);
      } else {
        expected(
            at, "\"state\" (status follows the check state) or \"score\" (status from a score)", j);
      }
      desc.values[number] =
          std::make_unique<tql::property_enum_t>(number, kStrategyEnumType, value);
      return;
    }
    case Form::relativeDate:
    case Form::relativeInt:
      desc.relative[number] = secondsIn(j, at);
      return;
    case Form::timeOfDay: {
      std::int32_t seconds = 0;
      if (j.is_string()) {
        const auto t = clockTime(j.get_ref<const std::string&>());
        if (!t) expected(at, "a time of day \"HH:MM\" or seconds after midnight", j);
        seconds = *t;
      } else {
        seconds = integerIn<std::int32_t>(j, at);
      }
      desc.values[number] = std::make_unique<tql::property_int_t>(number, seconds);
      return;
    }
    case Form::weekday: {
      const std::string day = textIn(j, at);
      if (std::find(std::begin(kWeekdays), std::end(kWeekdays), day) == std::end(kWeekdays)) {
        expected(at, "a weekday in lower case (\"monday\" ... \"sunday\")", j);
      }
      desc.values[number] = std::make_unique<tql::property_string_t>(number, day);
      return;
    }
  }
}

// --- Objects ---

std::string allowedKeys(Kind kind) {
  std::string keys = "label, id";
  if (hasStatus(kind)) keys += ", state";
  if (kind == Kind::node) keys += ", initialCheckin, lateState";
  const std::string props = propertyKeys(kind);
  if (!props.empty()) keys += ", " + props;
  for (Kind child : childKinds(kind)) keys += std::string(", ") + kindInfo(child).plural;
  return keys;
}

bool labelledByDefault(Kind kind) {
  switch (kind) {
    case Kind::plan:
    case Kind::unexpectedEvent:
    case Kind::expectedEvent:
    case Kind::weekPlanner:
    case Kind::dayPlanner:
    case Kind::planEvent:
      return true;
    default:
      return false;
  }
}

ObjectSpec parseObject(Kind kind, const Json& j, const std::string& at, std::size_t sameKindBefore);

void parseChildren(ObjectSpec& desc, Kind childKind, const Json& list, const std::string& at) {
  if (!list.is_array())
    expected(at, "a list of " + std::string(kindInfo(childKind).title) + "s", list);
  std::size_t index = 0;
  for (const Json& entry : list) {
    desc.children.push_back(parseObject(childKind, entry, childPointer(at, index), index));
    ++index;
  }
}

ObjectSpec parseObject(Kind kind, const Json& j, const std::string& at,
                       std::size_t sameKindBefore) {
  const KindInfo& info = kindInfo(kind);
  if (!j.is_object()) expected(at, std::string("a ") + info.title + " (an object)", j);
  ObjectSpec desc;
  desc.kind = kind;
  desc.pointer = at;
  desc.initialCheckin = kind == Kind::node;
  if (kind == Kind::check || kind == Kind::accumulation || kind == Kind::domainExport)
    desc.state = 0;

  if (j.contains("label")) {
    desc.label = textIn(j["label"], childPointer(at, "label"));
    if (desc.label.empty() || desc.label.find('/') != std::string::npos ||
        desc.label.front() == ' ' || desc.label.back() == ' ') {
      fail(childPointer(at, "label"),
           "a label must be non-empty, must not contain \"/\" and must not begin or end with a "
           "blank");
    }
  } else if (labelledByDefault(kind)) {
    desc.label = info.title;
    if (kind == Kind::dayPlanner && j.contains("day") && j["day"].is_string()) {
      desc.label = j["day"].get<std::string>();
    }
    if (sameKindBefore > 0) desc.label += " " + std::to_string(sameKindBefore + 1);
  } else {
    fail(at, std::string("a ") + info.title + " needs a \"label\"");
  }

  for (const auto& [key, member] : j.items()) {
    const std::string here = childPointer(at, key);
    if (key == "label") continue;
    if (key == "id") {
      const std::string text = textIn(member, here);
      try {
        desc.id = tql::id_t::parse(text);
      } catch (const error::Exception&) {
        expected(here, "an object id such as \"1.17\"", member);
      }
    } else if (key == "state" && hasStatus(kind)) {
      desc.state = stateIn(member, here);
    } else if (key == "initialCheckin" && kind == Kind::node) {
      desc.initialCheckin = booleanIn(member, here);
    } else if (key == "lateState" && kind == Kind::node) {
      desc.lateState = stateIn(member, here);
    } else if (const PropertyKey* p = findKey(kind, key)) {
      setValue(desc.properties, *p, member, here, desc.label);
    } else if (auto child = kindByPlural(key); child && mayContain(kind, *child)) {
      parseChildren(desc, *child, member, here);
    } else {
      fail(here, "unknown member \"" + key + "\" of a " + info.title +
                     " (members: " + allowedKeys(kind) + ")");
    }
  }
  // Every property the alarm process reads gets a value.
  for (const PropertyKey& k : kPropertyKeys) {
    if (k.kind != propertyKind(kind) || j.contains(k.key)) continue;
    if (k.defaultValue == nullptr) {
      fail(at, std::string("a ") + info.title + " needs \"" + k.key + "\"");
    }
    setValue(desc.properties, k,
             Json::parse(k.defaultValue == std::string("=label") ? "\"=label\"" : k.defaultValue),
             at, desc.label);
  }
  return desc;
}

// --- Timeline ---

struct Members {
  const Json& j;
  std::string at;
  std::set<std::string> used;

  const Json& require(const std::string& key) {
    used.insert(key);
    if (!j.contains(key)) fail(at, "this action needs \"" + key + "\"");
    return j[key];
  }
  const Json* optional(const std::string& key) {
    used.insert(key);
    return j.contains(key) ? &j[key] : nullptr;
  }
  std::string here(const std::string& key) const { return childPointer(at, key); }
  void rejectOthers(const std::string& action) const {
    for (const auto& [key, member] : j.items()) {
      if (!used.contains(key)) {
        std::string list;
        for (const std::string& k : used) list += (list.empty() ? "" : ", ") + k;
        fail(childPointer(at, key), "unknown member \"" + key + "\" of a \"" + action +
                                        "\" action (members: " + list + ")");
      }
    }
  }
};

constexpr std::pair<const char*, ActionType> kActionNames[] = {
    {"state", ActionType::state},     {"states", ActionType::states},
    {"checkin", ActionType::checkin}, {"acknowledge", ActionType::acknowledge},
    {"reset", ActionType::reset},     {"set", ActionType::set},
    {"add", ActionType::add},         {"move", ActionType::move},
    {"delete", ActionType::remove},   {"note", ActionType::note},
    {"kill", ActionType::kill},       {"end", ActionType::end},
};

Action parseAction(const Json& j, const std::string& at) {
  if (!j.is_object()) expected(at, "an action {\"at\": seconds, \"do\": ...}", j);
  Members m{j, at, {}};
  Action a;
  a.pointer = at;
  a.at = secondsIn(m.require("at"), m.here("at"));
  if (a.at < 0) fail(m.here("at"), "an action cannot happen before the start (at < 0)");
  const Json& what = m.require("do");
  const std::string name = textIn(what, m.here("do"));
  bool known = false;
  for (const auto& [actionName, type] : kActionNames) {
    if (name == actionName) {
      a.type = type;
      known = true;
    }
  }
  if (!known) {
    fail(m.here("do"), "unknown action \"" + name +
                           "\" (state, states, checkin, acknowledge, reset, set, add, move, "
                           "delete, note, kill, end)");
  }
  switch (a.type) {
    case ActionType::state:
      a.object = textIn(m.require("object"), m.here("object"));
      a.state = stateIn(m.require("state"), m.here("state"));
      break;
    case ActionType::states: {
      const Json& states = m.require("states");
      if (!states.is_object() || states.empty()) {
        expected(m.here("states"), "an object of states by path ({\"web01/HTTP\": \"warn\"})",
                 states);
      }
      for (const auto& [path, state] : states.items()) {
        a.states.emplace_back(path, stateIn(state, childPointer(m.here("states"), path)));
      }
      break;
    }
    case ActionType::checkin:
      a.object = textIn(m.require("object"), m.here("object"));
      break;
    case ActionType::acknowledge:
    case ActionType::reset:
      a.object = textIn(m.require("object"), m.here("object"));
      a.user = textIn(m.require("user"), m.here("user"));
      if (a.user.empty()) fail(m.here("user"), "a user needs a name");
      if (const Json* c = m.optional("comment")) a.comment = textIn(*c, m.here("comment"));
      if (a.type == ActionType::reset) {
        if (const Json* r = m.optional("recursive"))
          a.recursive = booleanIn(*r, m.here("recursive"));
      }
      break;
    case ActionType::set:
      a.object = textIn(m.require("object"), m.here("object"));
      a.properties = m.require("properties");
      if (!a.properties.is_object() || a.properties.empty()) {
        expected(m.here("properties"), "an object of property values", a.properties);
      }
      break;
    case ActionType::add: {
      a.object = textIn(m.require("parent"), m.here("parent"));
      for (const auto& [key, member] : j.items()) {
        const auto kind = kindByKey(key);
        if (!kind) continue;
        if (a.added) fail(m.here(key), "an \"add\" action adds one object");
        m.used.insert(key);
        a.added = parseObject(*kind, member, m.here(key), 0);
      }
      if (!a.added) {
        fail(at,
             "an \"add\" action needs the object, under a member that names its kind "
             "(domain, node, export, plan, group, check, accumulation, unexpected, "
             "expected, weekly, day, event)");
      }
      break;
    }
    case ActionType::move:
      a.object = textIn(m.require("object"), m.here("object"));
      a.target = textIn(m.require("to"), m.here("to"));
      break;
    case ActionType::remove:
      a.object = textIn(m.require("object"), m.here("object"));
      break;
    case ActionType::note:
      a.text = textIn(m.require("text"), m.here("text"));
      break;
    case ActionType::kill: {
      const std::string who = textIn(m.require("sibling"), m.here("sibling"));
      const auto sibling = siblingNamed(who);
      if (!sibling) fail(m.here("sibling"), "no sibling \"" + who + "\" (dbms, alert, alarm)");
      a.sibling = *sibling;
      break;
    }
    case ActionType::end:
      break;
  }
  m.rejectOthers(name);
  return a;
}

// --- The whole document ---

void parseTop(Scenario& s, const Json& doc) {
  if (!doc.is_object()) expected("", "a scenario (an object with \"tree\" and \"timeline\")", doc);
  std::optional<double> duration;
  for (const auto& [key, member] : doc.items()) {
    const std::string at = childPointer("", key);
    if (key == "title") {
      s.title = textIn(member, at);
    } else if (key == "description") {
      s.description = textIn(member, at);
    } else if (key == "logMask") {
      s.logMask = integerIn<std::int32_t>(member, at);
    } else if (key == "duration") {
      duration = secondsIn(member, at);
      if (*duration <= 0) fail(at, "the duration must be positive");
    } else if (key == "tree") {
      s.root = parseObject(Kind::domain, member, at, 0);
      if (s.root.id && *s.root.id != tql::id_t({0, 1})) {
        fail(childPointer(at, "id"), "the root of the tree is always 0.1");
      }
      s.root.id = tql::id_t({0, 1});
    } else if (key == "timeline") {
      if (!member.is_array()) expected(at, "a list of actions", member);
      for (std::size_t i = 0; i < member.size(); ++i) {
        s.timeline.push_back(parseAction(member[i], childPointer(at, i)));
      }
    } else if (key == "expect") {
      if (!member.is_object()) expected(at, "an object of final statuses by path", member);
      for (const auto& [path, status] : member.items()) {
        const std::string here = childPointer(at, path);
        if (!status.is_string() || !statusByName(status.get_ref<const std::string&>())) {
          expected(here, "a status name such as \"GOOD\", \"ALERT\" or \"WARN (explained)\"",
                   status);
        }
        s.expect.push_back({path, *statusByName(status.get_ref<const std::string&>()), here});
      }
    } else {
      fail(at, "unknown member \"" + key +
                   "\" of a scenario (title, description, logMask, duration, tree, timeline, "
                   "expect)");
    }
  }
  if (!doc.contains("tree")) fail("", "a scenario needs a \"tree\"");
  std::stable_sort(s.timeline.begin(), s.timeline.end(),
                   [](const Action& a, const Action& b) { return a.at < b.at; });
  double last = 0;
  std::optional<double> endAction;
  for (const Action& a : s.timeline) {
    last = std::max(last, a.at);
    if (a.type == ActionType::end && !endAction) endAction = a.at;
  }
  s.endsAt = endAction ? *endAction : duration ? *duration : last + 2;
}

}  // namespace

std::string propertyKeys(Kind kind) {
  std::string keys;
  for (const PropertyKey& k : kPropertyKeys) {
    if (k.kind != propertyKind(kind)) continue;
    if (!keys.empty()) keys += ", ";
    keys += k.key;
  }
  return keys;
}

PropertySpec parsePropertyChanges(Kind kind, const Json& properties, const std::string& pointer) {
  PropertySpec desc;
  for (const auto& [key, member] : properties.items()) {
    const std::string here = childPointer(pointer, key);
    const PropertyKey* p = findKey(kind, key);
    if (p == nullptr) {
      const std::string keys = propertyKeys(kind);
      fail(here, "a " + std::string(kindInfo(kind).title) + " has no property \"" + key +
                     "\" to set" + (keys.empty() ? std::string() : " (properties: " + keys + ")"));
    }
    if (member.is_string() && member.get_ref<const std::string&>() == "=label") {
      fail(here, "\"=label\" only works in the tree");
    }
    setValue(desc, *p, member, here, "");
  }
  return desc;
}

Scenario parseScenario(const std::string& document, const std::string& fileName) {
  Scenario s;
  s.file = fileName;
  Json doc;
  try {
    doc = Json::parse(document);
  } catch (const Json::parse_error& e) {
    std::string text = e.what();
    if (const auto end = text.find("] "); text.starts_with("[json.") && end != std::string::npos) {
      text.erase(0, end + 2);
    }
    throw EScenario(fileName + ": " + text);
  }
  try {
    parseTop(s, doc);
    checkTimeline(s);
  } catch (const EAtPlace& e) {
    throw EScenario(fileName + ": " + e.text());
  }
  return s;
}

std::optional<Sibling> siblingNamed(const std::string& name) {
  if (name == "dbms") return Sibling::dbms;
  if (name == "alert") return Sibling::alert;
  if (name == "alarm") return Sibling::alarm;
  return std::nullopt;
}

std::string siblingName(Sibling sibling) {
  switch (sibling) {
    case Sibling::dbms:
      return "dbms";
    case Sibling::alert:
      return "alert";
    case Sibling::alarm:
      break;
  }
  return "alarm";
}

}  // namespace sim
