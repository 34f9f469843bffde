#include "keepers/count_keeper.h"

#include <string>

#include "error/check.h"
#include "meter/log.h"
#include "tql/property_access.h"
#include "tql/schema.h"

namespace keepers {

struct CountKeeper::Links {
  IdSet dependencies;
  IdSet dependents;
  IdSet statusSources;
  IdSet statusWatchers;
  std::map<std::uint32_t, tql::id_t> gidMap;
};

namespace {

const IdSet kNoIds;

// Adds a signed delta to an unsigned counter; a counter that wraps is a
// bookkeeping error. Reports whether the counter crossed zero.
bool addCount(std::uint32_t& counter, std::int32_t delta) {
  const std::uint32_t before = counter;
  const std::uint32_t after = before + static_cast<std::uint32_t>(delta);
  HX_CHECK(!(delta >= 1 && after <= before), "Counting overflow");
  HX_CHECK(!(delta < 1 && after > before), "Counting underflow");
  counter = after;
  return (before == 0) != (after == 0);
}

}  // namespace

const tql::property_t* optionalProperty(const tql::object_t& object, std::uint32_t number) {
  const tql::property_t* p = tql::findProperty(object, number);
  return p == nullptr || p->isNull ? nullptr : p;
}

CountKeeper::CountKeeper(CountKeeper* parentKeeper, tql::object_ptr node)
    : Object(parentKeeper, std::move(node)),
      id_(tql::IncrementalSubscriber::indexId(*object)),
      plan_down_count_(parentKeeper == nullptr ? 0 : parentKeeper->plan_down_count_) {
  countKeepers.insert_or_assign(id_, this);
}

CountKeeper::~CountKeeper() {
  if (unknown_ != 0 || warn_ != 0 || alert_ != 0) {
    std::string text = "Non-zero counts upon destruction of CountKeeper[" + id_.toString() + "]";
    if (parent != nullptr) text += " parent[" + parentKeeper()->id_.toString() + "]";
    error::assertionFailed(text);
  }
  if (countKeepers.get(id_) == this) countKeepers.erase(id_);
  if (links_ == nullptr) return;
  // Withdraw from every set that names this keeper, so the relations stay
  // symmetric after it is gone.
  for (const tql::id_t& d : links_->dependencies) {
    if (CountKeeper* named = findKeeper(countKeepers, d); named != nullptr && named->links_)
      named->links_->dependents.erase(id_);
  }
  for (const tql::id_t& s : links_->statusSources) {
    if (CountKeeper* source = findKeeper(countKeepers, s); source != nullptr && source->links_)
      source->links_->statusWatchers.erase(id_);
  }
  for (const tql::id_t& w : links_->statusWatchers) {
    if (CountKeeper* watcher = findKeeper(countKeepers, w); watcher != nullptr && watcher->links_)
      watcher->links_->statusSources.erase(id_);
  }
}

void CountKeeper::update(bool /*top*/) { updateLinks(); }

CountKeeper::Links& CountKeeper::links() {
  if (links_ == nullptr) links_ = std::make_unique<Links>();
  return *links_;
}

const std::string& CountKeeper::downtimeComment() const {
  static const std::string kNone;
  return downtime_comment_ ? *downtime_comment_ : kNone;
}

const IdSet& CountKeeper::dependencies() const { return links_ ? links_->dependencies : kNoIds; }
const IdSet& CountKeeper::dependents() const { return links_ ? links_->dependents : kNoIds; }
const IdSet& CountKeeper::statusSources() const { return links_ ? links_->statusSources : kNoIds; }
const IdSet& CountKeeper::statusWatchers() const {
  return links_ ? links_->statusWatchers : kNoIds;
}

template <class F>
void CountKeeper::forEachChildKeeper(F&& f) {
  for (auto& entry : children) {
    if (auto* child = dynamic_cast<CountKeeper*>(entry.second.get())) f(*child);
  }
}

void CountKeeper::propagate(std::int32_t dUnknown, std::int32_t dWarn, std::int32_t dAlert) {
  for (CountKeeper* k = this; k != nullptr; k = k->parentKeeper()) {
    const bool alertCrossed = addCount(k->alert_, dAlert);
    const bool warnCrossed = addCount(k->warn_, dWarn);
    const bool unknownCrossed = addCount(k->unknown_, dUnknown);
    // Dependents care about the worst class present: a change hidden below
    // a worse class does not concern them.
    if (alertCrossed || (warnCrossed && k->alert_ == 0) ||
        (unknownCrossed && k->alert_ == 0 && k->warn_ == 0)) {
      count_queue.insert(k->id_);
    }
    HX_LOG_DEBUG(meter::kAlarmDebug, "Updated counts for " + k->id_.toString() + " becoming (" +
                                         std::to_string(k->unknown_) + ", " +
                                         std::to_string(k->warn_) + ", " +
                                         std::to_string(k->alert_) + ")");
  }
}

void CountKeeper::adjust(bool dec, const std::string& comment) {
  HX_LOG_DEBUG(meter::kAlarmDebug, "CountKeeper::adjust[" + id_.toString() + "] from " +
                                       std::to_string(static_cast<std::int32_t>(plan_down_count_)) +
                                       (dec ? " dec" : " inc"));
  if (!comment.empty() || downtime_comment_ != nullptr) {
    downtime_comment_ = comment.empty() ? nullptr : std::make_unique<std::string>(comment);
  }
  if (dec) {
    HX_CHECK(plan_down_count_ != 0, "plan_down_count below zero");
    --plan_down_count_;
  } else {
    ++plan_down_count_;
  }
  // Children first, so that a parent re-evaluates against settled counts.
  forEachChildKeeper([&](CountKeeper& child) { child.adjust(dec, comment); });
  adjustedForDowntime();
}

void CountKeeper::updateLinks() {
  if (const tql::property_t* p = optionalProperty(*object, tql::prop::dependsOn)) {
    setDependencies(
        tql::detail::expect<tql::property_object_set_t>(*p, "property_object_set_t").value);
  }
  const std::uint32_t inherited = parent == nullptr ? 0 : parentKeeper()->locale_;
  const std::uint32_t locale = localeFrom(inherited);
  if (locale == locale_) return;
  locale_ = locale;
  rebuildStatusSources();
  forEachChildKeeper([&](CountKeeper& child) { child.inheritLocale(locale_); });
}

void CountKeeper::setDependencies(const std::set<tql::id_t>& ids) {
  if (ids.empty() && links_ == nullptr) return;
  IdSet& deps = links().dependencies;
  if (deps == ids) return;
  // Only keepers that exist now learn of the link: one built later is not
  // told, and reaches this object only when it evaluates itself. Nothing
  // re-evaluates here; the subtree sees the new set at its own next turn.
  for (const tql::id_t& d : ids) {
    if (deps.contains(d)) continue;
    if (CountKeeper* named = findKeeper(countKeepers, d)) named->links().dependents.insert(id_);
  }
  for (const tql::id_t& d : deps) {
    if (ids.contains(d)) continue;
    if (CountKeeper* named = findKeeper(countKeepers, d); named != nullptr && named->links_)
      named->links_->dependents.erase(id_);
  }
  deps = ids;
}

std::uint32_t CountKeeper::localeFrom(std::uint32_t inherited) const {
  // An export is the station itself, not located at one.
  if (object->class_ == tql::cls::DomainExport) return 0;
  if (const tql::property_t* p = optionalProperty(*object, tql::prop::stationLocale)) {
    return tql::getUint(*p);
  }
  return inherited;
}

void CountKeeper::inheritLocale(std::uint32_t parentLocale) {
  const std::uint32_t locale = localeFrom(parentLocale);
  if (locale != locale_) {
    locale_ = locale;
    rebuildStatusSources();
    forEachChildKeeper([&](CountKeeper& child) { child.inheritLocale(locale_); });
  }
  adjustedForDowntime();
}

CountKeeper* CountKeeper::stationExport() const {
  // The nearest keeper up the tree that knows the station decides, even when
  // the export it names is gone.
  for (const CountKeeper* k = this; k != nullptr; k = k->parentKeeper()) {
    if (k->links_ == nullptr) continue;
    const auto it = k->links_->gidMap.find(locale_);
    if (it != k->links_->gidMap.end()) return findKeeper(countKeepers, it->second);
  }
  return nullptr;
}

void CountKeeper::linkStatusSource(CountKeeper& source) {
  links().statusSources.insert(source.id_);
  source.links().statusWatchers.insert(id_);
}

void CountKeeper::rebuildStatusSources() {
  if (links_ != nullptr) {
    for (const tql::id_t& s : links_->statusSources) {
      if (CountKeeper* source = findKeeper(countKeepers, s); source != nullptr && source->links_)
        source->links_->statusWatchers.erase(id_);
    }
    links_->statusSources.clear();
  }
  if (const CountKeeper* fixed = fixedStatusSource()) {
    if (CountKeeper* source = findKeeper(countKeepers, fixed->id_)) linkStatusSource(*source);
  }
  if (CountKeeper* exporter = stationExport()) linkStatusSource(*exporter);
}

void CountKeeper::registerGid(std::uint32_t oldGid, std::uint32_t newGid,
                              const tql::id_t& exportId) {
  if (links_ != nullptr) {
    // Only the export's own entry goes: another export may hold the station.
    const auto it = links_->gidMap.find(oldGid);
    if (it != links_->gidMap.end() && it->second == exportId) links_->gidMap.erase(it);
  }
  // Station 0 is "none": nothing is located there.
  if (newGid != 0) links().gidMap.emplace(newGid, exportId);
  rebuildSubtreeSources();
}

void CountKeeper::rebuildSubtreeSources() {
  forEachChildKeeper([](CountKeeper& child) { child.rebuildSubtreeSources(); });
  rebuildStatusSources();
  adjustedForDowntime();
}

}  // namespace keepers
