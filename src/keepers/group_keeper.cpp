#include "keepers/group_keeper.h"

#include "error/exception.h"
#include "keepers/node_score_keeper.h"
#include "tql/schema.h"

namespace keepers {

GroupKeeper::GroupKeeper(CountKeeper* parentKeeper, tql::object_ptr node,
                         NodeScoreKeeper& nodeKeeper, bool agentCheck, EventSink& sink)
    : CheckParent(parentKeeper, std::move(node), agentCheck), sink_(&sink), node_(&nodeKeeper) {
  // The group sits at its node's station unless it names one, like any
  // other object: its checks inherit the locale through it.
  updateLinks();
}

tql::IncrementalSubscriber::ObjectPtr GroupKeeper::createChild(tql::object_ptr node) {
  switch (node->class_) {
    case tql::cls::Check:
      return std::make_unique<CheckScoreKeeper>(this, std::move(node), node_, agentCheck(), *sink_);
    case tql::cls::CheckGroup:
      return std::make_unique<GroupKeeper>(this, std::move(node), *node_, agentCheck(), *sink_);
    default:
      throw error::EFatal("Got " + tql::className(node->class_) + " as child of CheckGroup");
  }
}

}  // namespace keepers
