#include "keepers/domain_keeper.h"

#include "error/exception.h"
#include "keepers/domain_export_score_keeper.h"
#include "keepers/node_score_keeper.h"
#include "keepers/plan_keeper.h"
#include "tql/schema.h"

namespace keepers {

DomainKeeper::DomainKeeper(CountKeeper* parentKeeper, tql::object_ptr node, EventSink& sink)
    : CountKeeper(parentKeeper, std::move(node)), sink_(&sink) {
  update(true);
}

tql::IncrementalSubscriber::ObjectPtr DomainKeeper::createChild(tql::object_ptr node) {
  switch (node->class_) {
    case tql::cls::Domain:
      return std::make_unique<DomainKeeper>(this, std::move(node), *sink_);
    case tql::cls::Node:
      return std::make_unique<NodeScoreKeeper>(this, std::move(node), *sink_);
    case tql::cls::Plan:
      return std::make_unique<PlanKeeper>(this, std::move(node));
    case tql::cls::NodeClass:
      return std::make_unique<NodeClassNoopKeeper>(this, std::move(node));
    case tql::cls::DomainExport:
      return std::make_unique<DomainExportScoreKeeper>(this, std::move(node), *sink_);
    default:
      throw error::EFatal("Got " + tql::className(node->class_) + " as child of Domain");
  }
}

NodeClassNoopKeeper::NodeClassNoopKeeper(CountKeeper* parentKeeper, tql::object_ptr node)
    : CountKeeper(parentKeeper, std::move(node)) {
  update(true);
}

tql::IncrementalSubscriber::ObjectPtr NodeClassNoopKeeper::createChild(tql::object_ptr node) {
  if (node->class_ == tql::cls::Plan) return std::make_unique<PlanKeeper>(this, std::move(node));
  return std::make_unique<NodeClassNoopKeeper>(this, std::move(node));
}

}  // namespace keepers
