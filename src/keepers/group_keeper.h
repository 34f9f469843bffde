#pragma once
// The keeper of a CheckGroup: it only counts. Checks created below it take
// their levels from the group's node; a group named "agentchecks" (and
// every group inside it) makes its checks agent checks.
#include "keepers/score_keeper.h"

namespace keepers {

class GroupKeeper final : public CheckParent {
 public:
  // Reads the object once, here; later changes of the group are ignored.
  GroupKeeper(CountKeeper* parentKeeper, tql::object_ptr node, NodeScoreKeeper& nodeKeeper,
              bool agentCheck, EventSink& sink);

  // Check and CheckGroup children; anything else is EFatal.
  tql::IncrementalSubscriber::ObjectPtr createChild(tql::object_ptr node) override;
  void update(bool /*top*/) override {}

 private:
  EventSink* sink_;
  NodeScoreKeeper* node_;  // an ancestor: outlives the group
};

}  // namespace keepers
