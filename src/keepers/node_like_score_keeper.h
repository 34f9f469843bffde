#pragma once
// The score keepers that are their own threshold source: nodes and domain
// exports. Their warn and alert levels and ceilings apply to their own score
// and, for a node, to the scores of all its checks.
#include "keepers/score_keeper.h"

namespace keepers {

class NodeLikeScoreKeeper : public ScoreKeeper {
 public:
  const Thresholds& levels() const { return levels_; }

 protected:
  NodeLikeScoreKeeper(CountKeeper* parentKeeper, tql::object_ptr node, EventSink& sink)
      : ScoreKeeper(parentKeeper, std::move(node), nullptr, false, sink) {
    setThresholdSource(this);
  }
  // The common update plus the four levels (`warn`, `alert`, `warnCeiling`,
  // `alertCeiling`).
  void updateNodeLike();

 private:
  Thresholds levels_;
};

}  // namespace keepers
