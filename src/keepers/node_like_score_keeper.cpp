#include "keepers/node_like_score_keeper.h"

#include "tql/property_access.h"
#include "tql/schema.h"

namespace keepers {

void NodeLikeScoreKeeper::updateNodeLike() {
  updateLinks();
  const tql::object_t& o = *object;
  levels_.warn = tql::getInt(o, tql::prop::warn);
  levels_.alert = tql::getInt(o, tql::prop::alert);
  levels_.warnCeiling = tql::getInt(o, tql::prop::warnCeiling);
  levels_.alertCeiling = tql::getInt(o, tql::prop::alertCeiling);
}

}  // namespace keepers
