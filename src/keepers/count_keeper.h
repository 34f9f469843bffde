#pragma once
// The base of every keeper in the mirrored object tree. A CountKeeper knows
// its parent keeper and counts the objects with an unknown, warn or alert
// status in its subtree (itself included); it carries the downtime count
// that plans push down the tree, and the links that tie objects across the
// tree:
//
// - dependencies: the ids the object's `dependsOn` names; `dependents` is
//   the reverse relation, held by the named keeper: only a keeper that
//   exists when the link is made learns of it, and a keeper built again
//   starts with none, so a dependency that appears later does not reach
//   back to its dependents until they evaluate themselves;
// - status sources: keepers whose failure makes this object UNKNOWN (the
//   domain export of the object's station, the node of an agent check), and
//   the reverse relation, status watchers.
//
// The status sources and watchers are kept symmetric by every operation here,
// destruction included; `dependents` only ever names objects whose
// dependencies contain this keeper. Other keepers are named by id and looked up in the
// registries when used; a missing keeper is skipped.
//
// Counts change only through ScoreKeeper::updateCounters in the subtree;
// each change walks from the keeper to the root once.
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "keepers/run_state.h"
#include "tql/id.h"
#include "tql/property.h"
#include "tql/subscription/incremental_subscriber.h"

namespace keepers {

class CountKeeper : public tql::IncrementalSubscriber::Object {
 public:
  // Registers in `countKeepers` and starts with the parent's downtime count.
  // Does not read the object: the concrete keeper runs its update.
  CountKeeper(CountKeeper* parentKeeper, tql::object_ptr node);
  ~CountKeeper() override;

  // Re-reads dependencies and station locale (see updateLinks).
  void update(bool top) override;
  // plan_down_count changed: re-evaluate. Nothing for a pure counter.
  virtual void adjustedForDowntime() {}
  // One of this keeper's boundary records came due.
  virtual void boundaryReached() {}
  // This keeper as a score keeper, or null. Null too while a score keeper's
  // bases are built or destroyed, before its ScoreKeeper part exists or after
  // it is gone: then it is not the score keeper of its id.
  virtual ScoreKeeper* asScoreKeeper() { return nullptr; }

  const tql::id_t& id() const { return id_; }
  // The parent object: always a CountKeeper, as only count keepers create
  // count keepers.
  CountKeeper* parentKeeper() const { return static_cast<CountKeeper*>(parent); }

  std::uint32_t unknownCount() const { return unknown_; }
  std::uint32_t warnCount() const { return warn_; }
  std::uint32_t alertCount() const { return alert_; }
  std::uint32_t planDownCount() const { return plan_down_count_; }
  const std::string& downtimeComment() const;

  const IdSet& dependencies() const;
  const IdSet& dependents() const;
  const IdSet& statusSources() const;
  const IdSet& statusWatchers() const;

  // A downtime starts (dec false) or ends (dec true) on this object: the
  // count moves on this keeper and its whole subtree, children first, and
  // each keeper re-evaluates after its children.
  void adjust(bool dec, const std::string& comment);
  // A domain export below this keeper moved from station oldGid to newGid
  // (0 meaning none): the station table changes and every keeper of the
  // subtree looks its station's export up again.
  void registerGid(std::uint32_t oldGid, std::uint32_t newGid, const tql::id_t& exportId);

  // Moves this keeper's and its ancestors' counters by the given deltas
  // (alert, warn, unknown at each level) and queues every level whose worst
  // non-zero class changed in `count_queue`.
  void propagate(std::int32_t dUnknown, std::int32_t dWarn, std::int32_t dAlert);

 protected:
  // The common update: `dependsOn` (when present) becomes the dependency
  // set; the station locale is recomputed and, when it changed, the status
  // sources are looked up again and the new locale is pushed to the
  // children.
  void updateLinks();
  // A source that stays whatever the station: the node of an agent check.
  virtual const CountKeeper* fixedStatusSource() const { return nullptr; }
  // Drops all status sources and links the current ones again.
  void rebuildStatusSources();

 private:
  struct Links;

  Links& links();
  std::uint32_t localeFrom(std::uint32_t inherited) const;
  void inheritLocale(std::uint32_t parentLocale);
  void setDependencies(const std::set<tql::id_t>& ids);
  void linkStatusSource(CountKeeper& source);
  CountKeeper* stationExport() const;
  void rebuildSubtreeSources();
  template <class F>
  void forEachChildKeeper(F&& f);

  // The pointers first and the 4-byte fields last: the room behind them
  // takes the first small field of a derived keeper (the agent-check flag).
  std::unique_ptr<std::string> downtime_comment_;  // none until a plan sets one
  // Most keepers link to nothing: the sets live apart, made on first use.
  std::unique_ptr<Links> links_;
  tql::id_t id_;
  std::uint32_t unknown_ = 0;
  std::uint32_t warn_ = 0;
  std::uint32_t alert_ = 0;
  std::uint32_t plan_down_count_;
  std::uint32_t locale_ = 0;
};

// The value of an optional property: null when absent or null.
const tql::property_t* optionalProperty(const tql::object_t& object, std::uint32_t number);

}  // namespace keepers
