#pragma once
// The counting keepers that give the tree its shape: DomainKeeper (the root
// of the mirror and every domain below it) and NodeClassNoopKeeper (a node
// class and everything below it, counted but never scored).
#include "keepers/count_keeper.h"
#include "keepers/event_sink.h"

namespace keepers {

class DomainKeeper final : public CountKeeper {
 public:
  // parentKeeper is null for the root of the mirror. Every keeper created
  // below sends through `sink`. Reads the object at once.
  DomainKeeper(CountKeeper* parentKeeper, tql::object_ptr node, EventSink& sink);

  // Domain, Node, Plan, NodeClass and DomainExport children; anything else
  // is EFatal.
  tql::IncrementalSubscriber::ObjectPtr createChild(tql::object_ptr node) override;

 private:
  EventSink* sink_;
};

class NodeClassNoopKeeper final : public CountKeeper {
 public:
  NodeClassNoopKeeper(CountKeeper* parentKeeper, tql::object_ptr node);

  // A PlanKeeper for a Plan, another NodeClassNoopKeeper for anything else.
  tql::IncrementalSubscriber::ObjectPtr createChild(tql::object_ptr node) override;
};

}  // namespace keepers
