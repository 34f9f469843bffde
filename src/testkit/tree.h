#pragma once
// Test-only: builds mirrored object trees (domains, nodes, checks, exports,
// groups) with the properties the alarm logic reads, and the patches that
// change them, for unit tests, end-to-end tests, fuzz targets and
// benchmarks alike. Never include from library code.
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "keepers/status.h"
#include "queues/dbms.h"
#include "tql/object.h"
#include "tql/property.h"
#include "tql/schema.h"

namespace testkit {

using tql::id_t;
using tql::object_ptr;

inline object_ptr object(std::uint32_t cls, id_t id) {
  auto o = std::make_unique<tql::object_t>();
  o->class_ = cls;
  o->id = id;
  return o;
}

template <class P, class V>
void put(tql::object_t& o, std::uint32_t number, V value) {
  o.properties.insert_or_assign(std::make_unique<P>(number, std::move(value)));
}
inline void putInt(tql::object_t& o, std::uint32_t n, std::int32_t v) {
  put<tql::property_int_t>(o, n, v);
}
inline void putUint(tql::object_t& o, std::uint32_t n, std::uint32_t v) {
  put<tql::property_uint_t>(o, n, v);
}
inline void putBool(tql::object_t& o, std::uint32_t n, bool v) {
  put<tql::property_boolean_t>(o, n, v);
}
inline void putString(tql::object_t& o, std::uint32_t n, std::string v) {
  put<tql::property_string_t>(o, n, std::move(v));
}
inline void putEnum(tql::object_t& o, std::uint32_t n, std::uint32_t v) {
  o.properties.insert_or_assign(std::make_unique<tql::property_enum_t>(n, 0, v));
}
inline void putIds(tql::object_t& o, std::uint32_t n, std::set<id_t> ids) {
  put<tql::property_object_set_t>(o, n, std::move(ids));
}
// The property exists but holds no value.
inline void putNullUint(tql::object_t& o, std::uint32_t n) {
  putUint(o, n, 0);
  o.properties.at(n)->isNull = true;
}

inline void putLinks(tql::object_t& o, const std::optional<std::uint32_t>& locale,
                     const std::optional<std::set<id_t>>& dependsOn) {
  if (locale) putUint(o, tql::prop::stationLocale, *locale);
  if (dependsOn) putIds(o, tql::prop::dependsOn, *dependsOn);
}

struct CheckSpec {
  bool active = true;
  std::string label = "check";
  std::uint32_t strategy = keepers::kFollowState;
  bool ack = false;
  keepers::Rates rates;
  std::optional<std::uint32_t> checkType;
  std::optional<std::uint32_t> locale;
  std::optional<std::set<id_t>> dependsOn;
};

inline object_ptr check(id_t id, const CheckSpec& s = {}, std::uint32_t cls = tql::cls::Check) {
  auto o = object(cls, id);
  // Reserved exactly, as the event reader does, so that trees built here
  // take the memory of trees that arrive over the wire.
  o->properties.reserve(7 + (s.checkType ? 1 : 0) + (s.locale ? 1 : 0) + (s.dependsOn ? 1 : 0));
  putBool(*o, tql::prop::active, s.active);
  putString(*o, tql::prop::longLabel, s.label);
  putEnum(*o, tql::prop::alertStrategy, s.strategy);
  putBool(*o, tql::prop::acknowledgeAlerts, s.ack);
  putInt(*o, tql::prop::goodScore, s.rates.good);
  putInt(*o, tql::prop::warnScore, s.rates.warn);
  putInt(*o, tql::prop::alertScore, s.rates.alert);
  if (s.checkType) putUint(*o, tql::prop::checkType, *s.checkType);
  putLinks(*o, s.locale, s.dependsOn);
  return o;
}

inline object_ptr accumulation(id_t id, const CheckSpec& s = {}) {
  return check(id, s, tql::cls::CheckAccumulation);
}

struct NodeSpec {
  std::optional<std::uint32_t> frequency = 300;
  std::uint32_t strategy = keepers::kFollowState;
  bool ack = false;
  std::int32_t checkinScore = 0;
  std::int32_t missedCheckinScore = 0;
  keepers::Thresholds levels{100, 200, 1000, 1000};
  std::optional<std::uint32_t> locale;
  std::optional<std::set<id_t>> dependsOn;
};

inline void putLevels(tql::object_t& o, const keepers::Thresholds& t) {
  putInt(o, tql::prop::warn, t.warn);
  putInt(o, tql::prop::alert, t.alert);
  putInt(o, tql::prop::warnCeiling, t.warnCeiling);
  putInt(o, tql::prop::alertCeiling, t.alertCeiling);
}

inline object_ptr node(id_t id, const NodeSpec& s = {}) {
  auto o = object(tql::cls::Node, id);
  if (s.frequency) putUint(*o, tql::prop::checkinFrequency, *s.frequency);
  putEnum(*o, tql::prop::alertStrategy, s.strategy);
  putBool(*o, tql::prop::acknowledgeAlerts, s.ack);
  putInt(*o, tql::prop::checkinScore, s.checkinScore);
  putInt(*o, tql::prop::missedCheckinScore, s.missedCheckinScore);
  putLevels(*o, s.levels);
  putLinks(*o, s.locale, s.dependsOn);
  return o;
}

struct ExportSpec {
  std::optional<std::uint32_t> gid;
  std::uint32_t strategy = keepers::kFollowState;
  bool ack = false;
  keepers::Rates rates;
  keepers::Thresholds levels{100, 200, 1000, 1000};
};

inline object_ptr domainExport(id_t id, const ExportSpec& s = {}) {
  auto o = object(tql::cls::DomainExport, id);
  if (s.gid) putUint(*o, tql::prop::gid, *s.gid);
  putEnum(*o, tql::prop::alertStrategy, s.strategy);
  putBool(*o, tql::prop::acknowledgeAlerts, s.ack);
  putInt(*o, tql::prop::goodScore, s.rates.good);
  putInt(*o, tql::prop::warnScore, s.rates.warn);
  putInt(*o, tql::prop::alertScore, s.rates.alert);
  putLevels(*o, s.levels);
  return o;
}

inline object_ptr domain(id_t id, std::optional<std::uint32_t> locale = {},
                         std::optional<std::set<id_t>> dependsOn = {}) {
  auto o = object(tql::cls::Domain, id);
  putLinks(*o, locale, dependsOn);
  return o;
}

inline object_ptr group(id_t id, std::string siblingName) {
  auto o = object(tql::cls::CheckGroup, id);
  putString(*o, tql::prop::siblingName, std::move(siblingName));
  return o;
}

// `parent` with the children appended.
template <class... Children>
object_ptr with(object_ptr parent, Children&&... children) {
  (parent->children.push_back(std::forward<Children>(children)), ...);
  return parent;
}

// The patch that puts `target` (with its subtree) in place at the end of
// `path`, which runs from the root to the target's parent: a chain of bare
// objects, one per level, down to the target, as the DBMS sends it.
inline dbms::Return_Tql_Select_Patch_Data selectPatch(const std::vector<id_t>& path,
                                                      object_ptr target) {
  dbms::Return_Tql_Select_Patch_Data data;
  data.id = target->id;
  object_ptr chain = std::move(target);
  for (auto it = path.rbegin(); it != path.rend(); ++it)
    chain = with(object(0, *it), std::move(chain));
  data.patch = std::move(chain);
  return data;
}

}  // namespace testkit
