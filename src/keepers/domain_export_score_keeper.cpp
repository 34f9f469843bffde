#include "keepers/domain_export_score_keeper.h"

#include <string>

#include "error/exception.h"
#include "meter/log.h"
#include "tql/property_access.h"
#include "tql/schema.h"

namespace keepers {

DomainExportScoreKeeper::DomainExportScoreKeeper(CountKeeper* parentKeeper, tql::object_ptr node,
                                                 EventSink& sink)
    : NodeLikeScoreKeeper(parentKeeper, std::move(node), sink) {
  update(true);
}

DomainExportScoreKeeper::~DomainExportScoreKeeper() {
  if (gid_ != 0 && parentKeeper() != nullptr) parentKeeper()->registerGid(gid_, 0, id());
}

void DomainExportScoreKeeper::update(bool /*top*/) {
  freeze();
  updateNodeLike();
  setActive(true);
  const tql::object_t& o = *object;
  setAlertStrategy(tql::getEnum(o, tql::prop::alertStrategy, 0));
  setAcknowledgeRequired(tql::getBoolean(o, tql::prop::acknowledgeAlerts));
  setRates({tql::getInt(o, tql::prop::goodScore), tql::getInt(o, tql::prop::warnScore),
            tql::getInt(o, tql::prop::alertScore)});
  if (const tql::property_t* p = optionalProperty(o, tql::prop::gid)) {
    const std::uint32_t gid = tql::getUint(*p);
    if (gid != gid_) {
      const std::uint32_t old = gid_;
      gid_ = gid;
      if (parentKeeper() != nullptr) parentKeeper()->registerGid(old, gid, id());
    }
  } else {
    // Without a station number the export keeps serving the one it had:
    // dropping it would turn a data glitch into lost status sources.
    meter::log("DomainExport " + id().toString() + " has no gid; keeping station number " +
                   std::to_string(gid_),
               0);
  }
  unfreeze();
}

tql::IncrementalSubscriber::ObjectPtr DomainExportScoreKeeper::createChild(tql::object_ptr node) {
  throw error::EFatal("Got " + tql::className(node->class_) + " as child of DomainExport");
}

}  // namespace keepers
