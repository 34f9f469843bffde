#pragma once
// The keeper of a DomainExport: a score-driven status of its own, and a
// station number (`gid`) registered with its domain, so that every object
// located at that station turns UNKNOWN while the export is in trouble.
// Its status changes are notified but not written to the incident log.
#include <cstdint>

#include "keepers/node_like_score_keeper.h"

namespace keepers {

class DomainExportScoreKeeper final : public NodeLikeScoreKeeper {
 public:
  // Reads the object at once.
  DomainExportScoreKeeper(CountKeeper* parentKeeper, tql::object_ptr node, EventSink& sink);
  // Takes the station back from the domain.
  ~DomainExportScoreKeeper() override;

  // An export has no children: always EFatal.
  tql::IncrementalSubscriber::ObjectPtr createChild(tql::object_ptr node) override;
  void update(bool top) override;
  bool writesIncidentLog() const override { return false; }

 private:
  std::uint32_t gid_ = 0;
};

}  // namespace keepers
